#include "platform/kxEmfRerecorder.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <vector>

#include "platform/kxEmfDeviceContext.h"

namespace pw {

namespace {

class Rerecorder {
 public:
  Rerecorder(const TkxMetafile& src, TkxEmfRecorder& dst, const TkxRectF& dest, TkxStretchedText text) : dst_(dst) {
    double l, t, r, b;
    src.FramePixels(l, t, r, b);
    ax_ = r > l ? dest.Width / (r - l) : 1;
    ay_ = b > t ? dest.Height / (b - t) : 1;
    bx_ = dest.X - l * ax_;
    by_ = dest.Y - t * ay_;
    T_ = TkxMatrix(ax_, 0, 0, ay_, bx_, by_);
    xf_.pxPerMMX = src.PixelsPerMMX();
    xf_.pxPerMMY = src.PixelsPerMMY();
    avg_ = std::sqrt(std::abs(ax_ * ay_));
    fontY_ = ay_;
    if (text == TkxStretchedText::KeepShape && std::abs(ay_) > 1 && std::abs(ay_) > std::abs(ax_))
      fontY_ = std::max(std::abs(ax_), 1.0) * (ay_ < 0 ? -1 : 1);
    identity_ = ax_ == 1 && ay_ == 1 && bx_ == 0 && by_ == 0 && fontY_ == 1;
  }

  void Run(const TkxMetafile& src) {
    dst_.SaveDC();
    src.EnumerateRecords([&](const TkxEmfRecord& r) {
      Record(r);
      return true;
    });
    if (depth_ > 0) Raw(TkxEmfRecordWriter(EMR_RESTOREDC).I32(-static_cast<int32_t>(depth_)).Finish());
    dst_.RestoreDC(-1);
    for (const auto& [from, to] : handles_) dst_.DeleteObject(to);
  }

 private:
  void Raw(const std::vector<uint8_t>& rec) { dst_.AppendRecord(rec); }

  // Whether rewriting the record for an identity stretch would give back the
  // very same bytes: each coordinate already a rounded destination value and
  // the layout the one the rewrite produces. Such records are copied as they
  // stand, without decoding (a page fitted to paper of its own size is the
  // common case).
  // Record kinds with no coordinates or sizes in them: kept as they are.
  static bool WithoutCoordinates(uint32_t type) {
    switch (type) {
      case EMR_SETBKMODE:
      case EMR_SETPOLYFILLMODE:
      case EMR_SETROP2:
      case EMR_SETSTRETCHBLTMODE:
      case EMR_SETTEXTALIGN:
      case EMR_SETTEXTCOLOR:
      case EMR_SETBKCOLOR:
      case EMR_SETMITERLIMIT:
      case EMR_BEGINPATH:
      case EMR_ENDPATH:
      case EMR_CLOSEFIGURE:
      case EMR_ABORTPATH:
      case EMR_SELECTCLIPPATH:
      case EMR_GDICOMMENT:
      case EMR_SETICMMODE:
      case EMR_SETMAPPERFLAGS:
      case EMR_SETARCDIRECTION:
      case EMR_SETLAYOUT:
      case EMR_FLATTENPATH:
      case EMR_WIDENPATH:
      case EMR_SETCOLORADJUSTMENT:
      case EMR_REALIZEPALETTE:
      case EMR_SETMETARGN: return true;
      default: return false;
    }
  }

  // Record kinds whose only coordinates are one rectangle after the size.
  static bool RectangleOnly(uint32_t type) {
    switch (type) {
      case EMR_RECTANGLE:
      case EMR_ELLIPSE:
      case EMR_INTERSECTCLIPRECT:
      case EMR_EXCLUDECLIPRECT:
      case EMR_FILLPATH:
      case EMR_STROKEPATH:
      case EMR_STROKEANDFILLPATH: return true;
      default: return false;
    }
  }

  static bool Kept(int32_t v) { return v >= -(1 << 28) && v <= (1 << 28); }
  static bool KeptRange(const TkxEmfRecord& r, size_t off, size_t count) {
    for (size_t i = 0; i < count; ++i)
      if (!Kept(r.I32(off + i * 4))) return false;
    return true;
  }
  static bool UnchangedByIdentity(const TkxEmfRecord& r) {
    const uint32_t type = r.Type();
    if (WithoutCoordinates(type)) return true;
    if (RectangleOnly(type)) return r.Has(8, 16) && KeptRange(r, 8, 4);
    switch (type) {
      case EMR_MOVETOEX:
      case EMR_LINETO:
      case EMR_SETPIXELV:
      case EMR_SETBRUSHORGEX:
      case EMR_EXTFLOODFILL:
      case EMR_OFFSETCLIPRGN: return r.Has(8, 8) && KeptRange(r, 8, 2);
      case EMR_ROUNDRECT: return r.Has(8, 24) && KeptRange(r, 8, 6);
      case EMR_ARC:
      case EMR_CHORD:
      case EMR_PIE:
      case EMR_ARCTO: return r.Has(8, 32) && KeptRange(r, 8, 8);
      case EMR_POLYBEZIER:
      case EMR_POLYGON:
      case EMR_POLYLINE:
      case EMR_POLYBEZIERTO:
      case EMR_POLYLINETO: {
        if (!r.Has(0, 28)) return false;
        const uint64_t n = r.U32(24);
        return n <= kEmfMaxCount && r.Size() == 28 + n * 8 && KeptRange(r, 8, 4) &&
               KeptRange(r, 28, static_cast<size_t>(n * 2));
      }
      case EMR_EXTTEXTOUTA:
      case EMR_EXTTEXTOUTW: {
        if (!r.Has(0, 76)) return false;
        const uint64_t nChars = r.U32(44);
        if (nChars > kEmfMaxCount) return false;
        if (nChars > 0 && !r.Has(r.U32(48), static_cast<size_t>(nChars * (type == EMR_EXTTEXTOUTW ? 2 : 1))))
          return false;
        if (!KeptRange(r, 8, 4) || !KeptRange(r, 36, 2)) return false;
        if (!(r.RectL(56) == TkxEmfRectL{0, 0, -1, -1}) && !KeptRange(r, 56, 4)) return false;
        const uint32_t offDx = r.U32(72);
        if (offDx == 0 || nChars == 0) return true;
        const uint64_t n = (r.U32(52) & ETO_PDY) ? nChars * 2 : nChars;
        return r.Has(offDx, static_cast<size_t>(n * 4)) && KeptRange(r, offDx, static_cast<size_t>(n));
      }
      default: return false;
    }
  }

  int32_t X(int32_t x) const { return RoundToEmfCoordinate(x * ax_ + bx_); }
  int32_t Y(int32_t y) const { return RoundToEmfCoordinate(y * ay_ + by_); }
  TkxEmfPointL P(const TkxEmfPointL& p) const { return {X(p.x), Y(p.y)}; }
  TkxEmfRectL R(const TkxEmfRectL& r) const { return {X(r.left), Y(r.top), X(r.right), Y(r.bottom)}; }

  // The destination world transform the next verbatim record needs.
  void EnsureWorld(const TkxMatrix& m) {
    if (curWorld_ == m) return;
    if (m.IsIdentity())
      Raw(TkxEmfRecordWriter(EMR_MODIFYWORLDTRANSFORM).XForm(TkxEmfXForm{}).U32(MWT_IDENTITY).Finish());
    else
      Raw(TkxEmfRecordWriter(EMR_SETWORLDTRANSFORM).XForm(XFormFromMatrix(m)).Finish());
    curWorld_ = m;
  }

  // Gives the record's object handle (at off) its number in the destination;
  // false when the source never created it.
  bool MapHandle(std::vector<uint8_t>& rec, size_t off) {
    uint32_t h = 0;
    for (int i = 0; i < 4; ++i) h |= static_cast<uint32_t>(rec[off + i]) << (8 * i);
    if (h & ENHMETA_STOCK_OBJECT) return true;
    auto it = handles_.find(h);
    if (it == handles_.end()) return false;
    Patch(rec, off, it->second);
    return true;
  }
  static void Patch(std::vector<uint8_t>& rec, size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) rec[off + i] = static_cast<uint8_t>(v >> (8 * i));
  }
  static void PatchI(std::vector<uint8_t>& rec, size_t off, int32_t v) { Patch(rec, off, static_cast<uint32_t>(v)); }

  void Record(const TkxEmfRecord& r) {
    const uint32_t type = r.Type();
    if (type == EMR_HEADER || type == EMR_EOF) return;
    if (xf_.Apply(r)) return;  // transforms are folded into the coordinates or the world transform
    if (identity_ && UnchangedByIdentity(r) && xf_.Full().IsIdentity()) {
      EnsureWorld(TkxMatrix());
      dst_.AppendRecord(r.Data(), r.Size());
      return;
    }
    std::vector<uint8_t>& rec = scratch_;
    rec.assign(r.Data(), r.Data() + r.Size());

    switch (type) {
      case EMR_SAVEDC:
        stack_.push_back(xf_);
        ++depth_;
        Raw(rec);
        return;
      case EMR_RESTOREDC: {
        const size_t k = RestoreCount(r.I32(8), depth_);
        if (k == 0) return;
        xf_ = stack_[stack_.size() - k];
        stack_.resize(stack_.size() - k);
        depth_ -= k;
        curWorld_ = std::nullopt;  // the destination's transform went back with the state
        Raw(TkxEmfRecordWriter(EMR_RESTOREDC).I32(-static_cast<int32_t>(k)).Finish());
        return;
      }
      case EMR_CREATEPEN:
      case EMR_EXTCREATEPEN:
      case EMR_CREATEBRUSHINDIRECT:
      case EMR_EXTCREATEFONTINDIRECTW:
      case EMR_CREATEPALETTE:
      case EMR_CREATEMONOBRUSH:
      case EMR_CREATEDIBPATTERNBRUSHPT:
      case EMR_CREATECOLORSPACE:
      case EMR_CREATECOLORSPACEW: {
        if (!r.Has(8, 4) || !ValidObject(r)) return;
        const uint32_t h = r.U32(8);
        if (auto it = handles_.find(h); it != handles_.end()) {
          dst_.DeleteObject(it->second);
          handles_.erase(it);
        }
        const uint32_t nh = dst_.AllocateHandle();
        handles_[h] = nh;
        Patch(rec, 8, nh);
        if (xf_.Full().IsIdentity()) ScaleObject(r, rec);
        Raw(rec);
        return;
      }
      case EMR_SELECTOBJECT:
      case EMR_SELECTPALETTE:
      case EMR_SETPALETTEENTRIES:
      case EMR_RESIZEPALETTE:
      case EMR_SETCOLORSPACE:
      case EMR_DELETECOLORSPACE:
        if (!r.Has(8, 4) || !MapHandle(rec, 8)) return;
        Raw(rec);
        return;
      case EMR_DELETEOBJECT: {
        if (!r.Has(8, 4)) return;
        auto it = handles_.find(r.U32(8));
        if (it == handles_.end()) return;
        dst_.DeleteObject(it->second);
        handles_.erase(it);
        return;
      }
      case EMR_EXTSELECTCLIPRGN: {
        // Regions are in device pixels whatever the source's transform.
        TkxEmrExtSelectClipRgn c;
        if (!DecodeExtSelectClipRgn(r, c)) return;
        if (!c.HasRegion) {
          Raw(rec);
          return;
        }
        std::vector<TkxEmfRectL> rects;
        for (const auto& q : c.Region.Rects) rects.push_back(R(q));
        TkxEmfRecordWriter w(EMR_EXTSELECTCLIPRGN);
        const uint32_t n = static_cast<uint32_t>(rects.size());
        w.U32(32 + n * 16).U32(c.RegionMode).U32(32).U32(1).U32(n).U32(n * 16).Rect(R(c.Region.Bounds));
        for (const auto& q : rects) w.Rect(q);
        Raw(w.Finish());
        return;
      }
      default: break;
    }
    if (type == EMR_FILLRGN || type == EMR_FRAMERGN) {
      if (!r.Has(28, 4) || !MapHandle(rec, 28)) return;
    }
    const TkxMatrix full = xf_.Full();
    if (full.IsIdentity()) {
      if (auto rewritten = Rewrite(r, rec)) {
        EnsureWorld(TkxMatrix());
        Raw(*rewritten);
        if (rewritten->capacity() > scratch_.capacity())
          scratch_ = std::move(*rewritten);  // its buffer serves the next record
        return;
      }
    }
    if (!IsFiniteMatrix(full)) return;
    EnsureWorld(TkxMatrix::Product(full, T_));
    Raw(rec);
  }

  static bool ValidObject(const TkxEmfRecord& r) {
    switch (r.Type()) {
      case EMR_CREATEPEN: {
        TkxEmrCreatePen x;
        return DecodeCreatePen(r, x);
      }
      case EMR_EXTCREATEPEN: {
        TkxEmrExtCreatePen x;
        return DecodeExtCreatePen(r, x);
      }
      case EMR_CREATEBRUSHINDIRECT: {
        TkxEmrCreateBrush x;
        return DecodeCreateBrush(r, x);
      }
      case EMR_EXTCREATEFONTINDIRECTW: {
        TkxEmrCreateFont x;
        return DecodeExtCreateFont(r, x);
      }
      case EMR_CREATEMONOBRUSH:
      case EMR_CREATEDIBPATTERNBRUSHPT:
        return r.Has(0, 32) && r.Has(r.U32(16), r.U32(20)) && r.Has(r.U32(24), r.U32(28));
      default: return true;
    }
  }

  // Logical sizes inside object definitions follow the scale.
  void ScaleObject(const TkxEmfRecord& r, std::vector<uint8_t>& rec) {
    switch (r.Type()) {
      case EMR_EXTCREATEFONTINDIRECTW:
        if (r.Has(12, 8)) {
          const int32_t h = r.I32(12), w = r.I32(16);
          if (h != 0)
            PatchI(rec, 12,
                   std::clamp(RoundToEmfCoordinate(h * fontY_), h < 0 ? INT32_MIN : 1, h < 0 ? -1 : INT32_MAX));
          if (w != 0) PatchI(rec, 16, std::max(RoundToEmfCoordinate(std::abs(w * ax_)), 1));
        }
        break;
      case EMR_CREATEPEN:
        if (r.Has(16, 4) && r.I32(16) > 0) PatchI(rec, 16, std::max(RoundToEmfCoordinate(r.I32(16) * avg_), 1));
        break;
      case EMR_EXTCREATEPEN:
        if (r.Has(28, 24) && (r.U32(28) & PS_TYPE_MASK) == PS_GEOMETRIC) {
          if (r.U32(32) > 0) Patch(rec, 32, static_cast<uint32_t>(std::max(RoundToEmfCoordinate(r.U32(32) * avg_), 1)));
          const uint32_t n = r.U32(48);
          for (uint32_t i = 0; i < n && r.Has(52 + i * 4, 4); ++i)
            Patch(rec, 52 + i * 4, static_cast<uint32_t>(std::max(RoundToEmfCoordinate(r.U32(52 + i * 4) * avg_), 0)));
        }
        break;
      default: break;
    }
  }

  // The record with its coordinates moved into the destination rectangle, or
  // nothing for a record kind kept verbatim under a world transform. A
  // record returned is moved out of rec (no copy per record); rec stays
  // whole when nothing is returned.
  std::optional<std::vector<uint8_t>> Rewrite(const TkxEmfRecord& r, std::vector<uint8_t>& rec) {
    auto pt = [&](size_t off) {
      const TkxEmfPointL p = P(r.PointL(off));
      PatchI(rec, off, p.x);
      PatchI(rec, off + 4, p.y);
    };
    auto rect = [&](size_t off) {
      const TkxEmfRectL q = R(r.RectL(off));
      PatchI(rec, off, q.left);
      PatchI(rec, off + 4, q.top);
      PatchI(rec, off + 8, q.right);
      PatchI(rec, off + 12, q.bottom);
    };
    auto size = [&](size_t off, double k) { PatchI(rec, off, RoundToEmfCoordinate(r.I32(off) * k)); };
    const uint32_t type = r.Type();
    if (WithoutCoordinates(type)) return std::move(rec);
    if (RectangleOnly(type)) {
      if (!r.Has(8, 16)) return std::vector<uint8_t>{};
      rect(8);
      return std::move(rec);
    }
    switch (type) {
      case EMR_POLYBEZIER:
      case EMR_POLYGON:
      case EMR_POLYLINE:
      case EMR_POLYBEZIERTO:
      case EMR_POLYLINETO:
      case EMR_POLYBEZIER16:
      case EMR_POLYGON16:
      case EMR_POLYLINE16:
      case EMR_POLYBEZIERTO16:
      case EMR_POLYLINETO16: {
        uint32_t t32 = type;
        if (IsPoly16(type)) t32 = type - EMR_POLYBEZIER16 + EMR_POLYBEZIER;
        if (identity_ && t32 != type) return Widened(r, t32);
        TkxEmrPoly p;
        if (!DecodePoly(r, p)) return std::vector<uint8_t>{};
        TkxEmfRecordWriter w(t32);
        w.Rect(R(p.Bounds)).U32(static_cast<uint32_t>(p.Points.size()));
        for (const auto& q : p.Points) w.Point(P(q));
        return w.Finish();
      }
      case EMR_POLYPOLYLINE:
      case EMR_POLYPOLYGON:
      case EMR_POLYPOLYLINE16:
      case EMR_POLYPOLYGON16: {
        TkxEmrPolyPoly p;
        if (!DecodePolyPoly(r, p)) return std::vector<uint8_t>{};
        const uint32_t t32 = type == EMR_POLYPOLYLINE16  ? EMR_POLYPOLYLINE
                             : type == EMR_POLYPOLYGON16 ? EMR_POLYPOLYGON
                                                         : type;
        TkxEmfRecordWriter w(t32);
        w.Rect(R(p.Bounds)).U32(static_cast<uint32_t>(p.Counts.size())).U32(static_cast<uint32_t>(p.Points.size()));
        for (uint32_t c : p.Counts) w.U32(c);
        for (const auto& q : p.Points) w.Point(P(q));
        return w.Finish();
      }
      case EMR_POLYDRAW:
      case EMR_POLYDRAW16: {
        TkxEmrPolyDraw p;
        if (!DecodePolyDraw(r, p)) return std::vector<uint8_t>{};
        TkxEmfRecordWriter w(EMR_POLYDRAW);
        w.Rect(R(p.Bounds)).U32(static_cast<uint32_t>(p.Points.size()));
        for (const auto& q : p.Points) w.Point(P(q));
        for (uint8_t t : p.Types) w.U8(t);
        return w.Finish();
      }
      case EMR_MOVETOEX:
      case EMR_LINETO:
      case EMR_SETPIXELV:
      case EMR_SETBRUSHORGEX:
        if (!r.Has(8, 8)) return std::vector<uint8_t>{};
        pt(8);
        return std::move(rec);
      case EMR_EXTFLOODFILL:
        if (!r.Has(8, 8)) return std::vector<uint8_t>{};
        pt(8);
        return std::move(rec);
      case EMR_ROUNDRECT:
        if (!r.Has(8, 24)) return std::vector<uint8_t>{};
        rect(8);
        size(24, ax_);
        size(28, ay_);
        return std::move(rec);
      case EMR_ARC:
      case EMR_CHORD:
      case EMR_PIE:
      case EMR_ARCTO:
        if (!r.Has(8, 32)) return std::vector<uint8_t>{};
        rect(8);
        pt(24);
        pt(32);
        return std::move(rec);
      case EMR_OFFSETCLIPRGN:
        if (!r.Has(8, 8)) return std::vector<uint8_t>{};
        size(8, ax_);
        size(12, ay_);
        return std::move(rec);
      case EMR_EXTTEXTOUTA:
      case EMR_EXTTEXTOUTW: {
        TkxEmrExtTextOut t;
        if (!DecodeExtTextOut(r, t)) return std::vector<uint8_t>{};
        rect(8);
        pt(36);
        if (!(t.Rect == TkxEmfRectL{0, 0, -1, -1})) rect(56);
        const uint32_t offDx = r.U32(72);
        const bool pdy = (t.Options & ETO_PDY) != 0;
        for (size_t i = 0; i < t.Dx.size(); ++i) {
          const bool isY = pdy && (i % 2 == 1);
          PatchI(rec, offDx + i * 4, RoundToEmfCoordinate(t.Dx[i] * (isY ? ay_ : ax_)));
        }
        return std::move(rec);
      }
      case EMR_STRETCHDIBITS: {
        TkxEmrStretchDIBits d;
        if (!DecodeStretchDIBits(r, d)) return std::vector<uint8_t>{};
        rect(8);
        pt(24);
        size(72, ax_);
        size(76, ay_);
        return std::move(rec);
      }
      case EMR_STRETCHBLT: {
        TkxEmrBitBlt d;
        if (!DecodeBitBlt(r, d)) return std::vector<uint8_t>{};
        rect(8);
        pt(24);
        size(32, ax_);
        size(36, ay_);
        return std::move(rec);
      }
      case EMR_BITBLT: {
        TkxEmrBitBlt d;
        if (!DecodeBitBlt(r, d)) return std::vector<uint8_t>{};
        rect(8);
        pt(24);
        if (r.U32(88) == 0) {  // a pattern blit: no source to keep the size of
          size(32, ax_);
          size(36, ay_);
          return std::move(rec);
        }
        // With a bitmap the source size must stay: the record becomes a stretch blit.
        const int32_t cx = r.I32(32), cy = r.I32(36);
        std::vector<uint8_t> out(rec.begin(), rec.begin() + 100);
        const uint32_t offBmi = r.U32(84), offBits = r.U32(92);
        out.resize(108);
        Patch(out, 0, EMR_STRETCHBLT);
        PatchI(out, 32, RoundToEmfCoordinate(cx * ax_));
        PatchI(out, 36, RoundToEmfCoordinate(cy * ay_));
        PatchI(out, 100, cx);
        PatchI(out, 104, cy);
        out.insert(out.end(), rec.begin() + 100, rec.end());
        if (offBmi >= 100) Patch(out, 84, offBmi + 8);
        if (offBits >= 100) Patch(out, 92, offBits + 8);
        Patch(out, 4, static_cast<uint32_t>(out.size()));
        return out;
      }
      case EMR_FILLRGN:
      case EMR_FRAMERGN:
      case EMR_INVERTRGN:
      case EMR_PAINTRGN: {
        const size_t regOff = type == EMR_FILLRGN ? 32 : type == EMR_FRAMERGN ? 40 : 28;
        TkxEmfRegion reg;
        if (!r.Has(8, 20) || !DecodeRegion(r, regOff, r.U32(24), reg)) return std::vector<uint8_t>{};
        rect(8);
        const uint32_t hdr = r.U32(regOff);
        for (int k = 0; k < 4; ++k)
          PatchI(rec, regOff + 16 + k * 4, k % 2 ? Y(r.I32(regOff + 16 + k * 4)) : X(r.I32(regOff + 16 + k * 4)));
        for (size_t i = 0; i < reg.Rects.size(); ++i) {
          const size_t off = regOff + hdr + i * 16;
          const TkxEmfRectL q = R(reg.Rects[i]);
          PatchI(rec, off, q.left);
          PatchI(rec, off + 4, q.top);
          PatchI(rec, off + 8, q.right);
          PatchI(rec, off + 12, q.bottom);
        }
        if (type == EMR_FRAMERGN) {
          size(32, ax_);
          size(36, ay_);
        }
        return std::move(rec);
      }
      default: return std::nullopt;
    }
  }

  // A 16-bit poly record at the same size: its points widened to 32 bits
  // straight from the record (they are in range as they stand).
  std::vector<uint8_t> Widened(const TkxEmfRecord& r, uint32_t t32) const {
    if (!r.Has(0, 28)) return {};
    const uint64_t n = r.U32(24);
    if (n > kEmfMaxCount || !r.Has(28, static_cast<size_t>(n * 4))) return {};
    std::vector<uint8_t> out(static_cast<size_t>(28 + n * 8));
    Patch(out, 0, t32);
    Patch(out, 4, static_cast<uint32_t>(out.size()));
    const TkxEmfRectL b = R(r.RectL(8));
    PatchI(out, 8, b.left);
    PatchI(out, 12, b.top);
    PatchI(out, 16, b.right);
    PatchI(out, 20, b.bottom);
    Patch(out, 24, static_cast<uint32_t>(n));
    for (size_t i = 0; i < n; ++i) {
      PatchI(out, 28 + i * 8, r.I16(28 + i * 4));
      PatchI(out, 32 + i * 8, r.I16(30 + i * 4));
    }
    return out;
  }

  TkxEmfRecorder& dst_;
  double ax_, ay_, bx_, by_, avg_, fontY_;
  bool identity_ = false;
  TkxMatrix T_;
  TkxEmfDcTransform xf_;
  std::vector<TkxEmfDcTransform> stack_;
  size_t depth_ = 0;
  std::optional<TkxMatrix> curWorld_ = TkxMatrix();
  std::map<uint32_t, uint32_t> handles_;
  std::vector<uint8_t> scratch_;  // each record's copy, one buffer for the whole run
};

}  // namespace

void PlayMetafile(const TkxMetafile& src, TkxEmfRecorder& dst, const TkxRectF& dest, TkxStretchedText text) {
  if (src.Empty()) return;
  TkxRectF d = dest;
  if (d.Width < 0) {
    d.X += d.Width;
    d.Width = -d.Width;
  }
  if (d.Height < 0) {
    d.Y += d.Height;
    d.Height = -d.Height;
  }
  Rerecorder(src, dst, d, text).Run(src);
  dst.AddBounds({RoundToEmfCoordinate(std::floor(d.X)), RoundToEmfCoordinate(std::floor(d.Y)),
                 RoundToEmfCoordinate(std::ceil(d.Right())) - 1, RoundToEmfCoordinate(std::ceil(d.Bottom())) - 1});
}

}  // namespace pw
