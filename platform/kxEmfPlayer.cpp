#include "platform/kxEmfPlayer.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <numbers>
#include <optional>

#include "pdf/kxClasses.h"
#include "platform/kxBitmap.h"
#include "platform/kxFontManager.h"

namespace pw {

namespace {

bool FiniteM(const TkxMatrix& m) {
  return std::isfinite(m.M11) && std::isfinite(m.M12) && std::isfinite(m.M21) && std::isfinite(m.M22) &&
         std::isfinite(m.DX) && std::isfinite(m.DY);
}

int32_t Round32(double v) {
  if (!std::isfinite(v)) return 0;
  return static_cast<int32_t>(std::lrint(std::clamp(v, -double(1 << 28), double(1 << 28))));
}

TkxMatrix FromXForm(const TkxEmfXForm& x) { return {x.eM11, x.eM12, x.eM21, x.eM22, x.eDx, x.eDy}; }
TkxEmfXForm ToXForm(const TkxMatrix& m) {
  return {float(m.M11), float(m.M12), float(m.M21), float(m.M22), float(m.DX), float(m.DY)};
}

// How a device context turns logical coordinates into device pixels: the
// world transform, then the window-to-viewport mapping of the map mode.
struct DcTransform {
  TkxMatrix world;
  uint32_t mapMode = MM_TEXT;
  double wOrgX = 0, wOrgY = 0, wExtX = 1, wExtY = 1;
  double vOrgX = 0, vOrgY = 0, vExtX = 1, vExtY = 1;
  double pxPerMMX = 96 / 25.4, pxPerMMY = 96 / 25.4;

  TkxMatrix Full() const {
    double sx = 1, sy = 1;
    switch (mapMode) {
      case MM_LOMETRIC: sx = pxPerMMX / 10; sy = -pxPerMMY / 10; break;
      case MM_HIMETRIC: sx = pxPerMMX / 100; sy = -pxPerMMY / 100; break;
      case MM_LOENGLISH: sx = pxPerMMX * 0.254; sy = -pxPerMMY * 0.254; break;
      case MM_HIENGLISH: sx = pxPerMMX * 0.0254; sy = -pxPerMMY * 0.0254; break;
      case MM_TWIPS: sx = pxPerMMX * 25.4 / 1440; sy = -pxPerMMY * 25.4 / 1440; break;
      case MM_ISOTROPIC:
      case MM_ANISOTROPIC:
        if (wExtX != 0 && wExtY != 0) {
          sx = vExtX / wExtX;
          sy = vExtY / wExtY;
          if (mapMode == MM_ISOTROPIC) {
            const double s = std::min(std::abs(sx), std::abs(sy));
            sx = std::copysign(s, sx);
            sy = std::copysign(s, sy);
          }
        }
        break;
      default: break;
    }
    TkxMatrix page(sx, 0, 0, sy, vOrgX - wOrgX * sx, vOrgY - wOrgY * sy);
    return TkxMatrix::Product(world, page);
  }

  // Applies a transform-changing record; false for any other record.
  bool Apply(const TkxEmfRecord& r) {
    switch (r.Type()) {
      case EMR_SETWORLDTRANSFORM:
      case EMR_MODIFYWORLDTRANSFORM: {
        TkxEmfXForm x;
        uint32_t mode;
        if (!DecodeWorldTransform(r, x, mode)) return true;
        const TkxMatrix m = FromXForm(x);
        if (mode == MWT_IDENTITY) world = TkxMatrix();
        else if (mode == MWT_LEFTMULTIPLY) world = TkxMatrix::Product(m, world);
        else if (mode == MWT_RIGHTMULTIPLY) world = TkxMatrix::Product(world, m);
        else if (mode == MWT_SET) world = m;
        return true;
      }
      case EMR_SETMAPMODE:
        if (r.U32(8) >= MM_TEXT && r.U32(8) <= MM_ANISOTROPIC) mapMode = r.U32(8);
        return true;
      case EMR_SETWINDOWORGEX: wOrgX = r.I32(8); wOrgY = r.I32(12); return true;
      case EMR_SETWINDOWEXTEX: wExtX = r.I32(8); wExtY = r.I32(12); return true;
      case EMR_SETVIEWPORTORGEX: vOrgX = r.I32(8); vOrgY = r.I32(12); return true;
      case EMR_SETVIEWPORTEXTEX: vExtX = r.I32(8); vExtY = r.I32(12); return true;
      case EMR_SCALEVIEWPORTEXTEX:
      case EMR_SCALEWINDOWEXTEX: {
        const int32_t xn = r.I32(8), xd = r.I32(12), yn = r.I32(16), yd = r.I32(20);
        if (xd == 0 || yd == 0) return true;
        double& ex = r.Type() == EMR_SCALEVIEWPORTEXTEX ? vExtX : wExtX;
        double& ey = r.Type() == EMR_SCALEVIEWPORTEXTEX ? vExtY : wExtY;
        ex = ex * xn / xd;
        ey = ey * yn / yd;
        return true;
      }
      default:
        return false;
    }
  }
};

// Saved-state depth bookkeeping for EMR_RESTOREDC: the number of states a
// restore pops, or 0 when it cannot be honoured.
size_t RestoreCount(int32_t n, size_t depth) {
  if (n < 0) {
    const size_t k = static_cast<size_t>(-static_cast<int64_t>(n));
    return k <= depth ? k : 0;
  }
  if (n > 0 && static_cast<size_t>(n) <= depth) return depth - static_cast<size_t>(n) + 1;
  return 0;
}

// ---- Playback onto a recording -------------------------------------------------------

class Rerecorder {
 public:
  Rerecorder(const TkxMetafile& src, TkxEmfRecorder& dst, const TkxRectF& dest, TkxStretchedText text)
      : dst_(dst) {
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

  int32_t X(int32_t x) const { return Round32(x * ax_ + bx_); }
  int32_t Y(int32_t y) const { return Round32(y * ay_ + by_); }
  TkxEmfPointL P(const TkxEmfPointL& p) const { return {X(p.x), Y(p.y)}; }
  TkxEmfRectL R(const TkxEmfRectL& r) const { return {X(r.left), Y(r.top), X(r.right), Y(r.bottom)}; }

  // The destination world transform the next verbatim record needs.
  void EnsureWorld(const TkxMatrix& m) {
    if (curWorld_ == m) return;
    if (m.IsIdentity())
      Raw(TkxEmfRecordWriter(EMR_MODIFYWORLDTRANSFORM).XForm(TkxEmfXForm{}).U32(MWT_IDENTITY).Finish());
    else
      Raw(TkxEmfRecordWriter(EMR_SETWORLDTRANSFORM).XForm(ToXForm(m)).Finish());
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
      case EMR_CREATEPEN: case EMR_EXTCREATEPEN: case EMR_CREATEBRUSHINDIRECT:
      case EMR_EXTCREATEFONTINDIRECTW: case EMR_CREATEPALETTE: case EMR_CREATEMONOBRUSH:
      case EMR_CREATEDIBPATTERNBRUSHPT: case EMR_CREATECOLORSPACE: case EMR_CREATECOLORSPACEW: {
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
      case EMR_SELECTOBJECT: case EMR_SELECTPALETTE: case EMR_SETPALETTEENTRIES:
      case EMR_RESIZEPALETTE: case EMR_SETCOLORSPACE: case EMR_DELETECOLORSPACE:
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
      default:
        break;
    }
    if (type == EMR_FILLRGN || type == EMR_FRAMERGN) {
      if (!r.Has(28, 4) || !MapHandle(rec, 28)) return;
    }
    const TkxMatrix full = xf_.Full();
    if (full.IsIdentity()) {
      if (auto rewritten = Rewrite(r, rec)) {
        EnsureWorld(TkxMatrix());
        Raw(*rewritten);
        if (rewritten->capacity() > scratch_.capacity()) scratch_ = std::move(*rewritten);  // its buffer serves the next record
        return;
      }
    }
    if (!FiniteM(full)) return;
    EnsureWorld(TkxMatrix::Product(full, T_));
    Raw(rec);
  }

  static bool ValidObject(const TkxEmfRecord& r) {
    switch (r.Type()) {
      case EMR_CREATEPEN: { TkxEmrCreatePen x; return DecodeCreatePen(r, x); }
      case EMR_EXTCREATEPEN: { TkxEmrExtCreatePen x; return DecodeExtCreatePen(r, x); }
      case EMR_CREATEBRUSHINDIRECT: { TkxEmrCreateBrush x; return DecodeCreateBrush(r, x); }
      case EMR_EXTCREATEFONTINDIRECTW: { TkxEmrCreateFont x; return DecodeExtCreateFont(r, x); }
      case EMR_CREATEMONOBRUSH: case EMR_CREATEDIBPATTERNBRUSHPT:
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
          if (h != 0) PatchI(rec, 12, std::clamp(Round32(h * fontY_), h < 0 ? INT32_MIN : 1, h < 0 ? -1 : INT32_MAX));
          if (w != 0) PatchI(rec, 16, std::max(Round32(std::abs(w * ax_)), 1));
        }
        break;
      case EMR_CREATEPEN:
        if (r.Has(16, 4) && r.I32(16) > 0) PatchI(rec, 16, std::max(Round32(r.I32(16) * avg_), 1));
        break;
      case EMR_EXTCREATEPEN:
        if (r.Has(28, 24) && (r.U32(28) & PS_TYPE_MASK) == PS_GEOMETRIC) {
          if (r.U32(32) > 0) Patch(rec, 32, static_cast<uint32_t>(std::max(Round32(r.U32(32) * avg_), 1)));
          const uint32_t n = r.U32(48);
          for (uint32_t i = 0; i < n && r.Has(52 + i * 4, 4); ++i)
            Patch(rec, 52 + i * 4, static_cast<uint32_t>(std::max(Round32(r.U32(52 + i * 4) * avg_), 0)));
        }
        break;
      default:
        break;
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
    auto size = [&](size_t off, double k) { PatchI(rec, off, Round32(r.I32(off) * k)); };
    const uint32_t type = r.Type();
    switch (type) {
      // No coordinates.
      case EMR_SETBKMODE: case EMR_SETPOLYFILLMODE: case EMR_SETROP2: case EMR_SETSTRETCHBLTMODE:
      case EMR_SETTEXTALIGN: case EMR_SETTEXTCOLOR: case EMR_SETBKCOLOR: case EMR_SETMITERLIMIT:
      case EMR_BEGINPATH: case EMR_ENDPATH: case EMR_CLOSEFIGURE: case EMR_ABORTPATH:
      case EMR_SELECTCLIPPATH: case EMR_GDICOMMENT: case EMR_SETICMMODE: case EMR_SETMAPPERFLAGS:
      case EMR_SETARCDIRECTION: case EMR_SETLAYOUT: case EMR_FLATTENPATH: case EMR_WIDENPATH:
      case EMR_SETCOLORADJUSTMENT: case EMR_REALIZEPALETTE: case EMR_SETMETARGN:
        return std::move(rec);
      case EMR_POLYBEZIER: case EMR_POLYGON: case EMR_POLYLINE: case EMR_POLYBEZIERTO: case EMR_POLYLINETO:
      case EMR_POLYBEZIER16: case EMR_POLYGON16: case EMR_POLYLINE16: case EMR_POLYBEZIERTO16:
      case EMR_POLYLINETO16: {
        TkxEmrPoly p;
        if (!DecodePoly(r, p)) return std::vector<uint8_t>{};
        uint32_t t32 = type;
        if (IsPoly16(type)) t32 = type - EMR_POLYBEZIER16 + EMR_POLYBEZIER;
        TkxEmfRecordWriter w(t32);
        w.Rect(R(p.Bounds)).U32(static_cast<uint32_t>(p.Points.size()));
        for (const auto& q : p.Points) w.Point(P(q));
        return w.Finish();
      }
      case EMR_POLYPOLYLINE: case EMR_POLYPOLYGON: case EMR_POLYPOLYLINE16: case EMR_POLYPOLYGON16: {
        TkxEmrPolyPoly p;
        if (!DecodePolyPoly(r, p)) return std::vector<uint8_t>{};
        const uint32_t t32 = type == EMR_POLYPOLYLINE16 ? EMR_POLYPOLYLINE
                             : type == EMR_POLYPOLYGON16 ? EMR_POLYPOLYGON : type;
        TkxEmfRecordWriter w(t32);
        w.Rect(R(p.Bounds)).U32(static_cast<uint32_t>(p.Counts.size())).U32(static_cast<uint32_t>(p.Points.size()));
        for (uint32_t c : p.Counts) w.U32(c);
        for (const auto& q : p.Points) w.Point(P(q));
        return w.Finish();
      }
      case EMR_POLYDRAW: case EMR_POLYDRAW16: {
        TkxEmrPolyDraw p;
        if (!DecodePolyDraw(r, p)) return std::vector<uint8_t>{};
        TkxEmfRecordWriter w(EMR_POLYDRAW);
        w.Rect(R(p.Bounds)).U32(static_cast<uint32_t>(p.Points.size()));
        for (const auto& q : p.Points) w.Point(P(q));
        for (uint8_t t : p.Types) w.U8(t);
        return w.Finish();
      }
      case EMR_MOVETOEX: case EMR_LINETO: case EMR_SETPIXELV: case EMR_SETBRUSHORGEX:
        if (!r.Has(8, 8)) return std::vector<uint8_t>{};
        pt(8);
        return std::move(rec);
      case EMR_EXTFLOODFILL:
        if (!r.Has(8, 8)) return std::vector<uint8_t>{};
        pt(8);
        return std::move(rec);
      case EMR_RECTANGLE: case EMR_ELLIPSE: case EMR_INTERSECTCLIPRECT: case EMR_EXCLUDECLIPRECT:
      case EMR_FILLPATH: case EMR_STROKEPATH: case EMR_STROKEANDFILLPATH:
        if (!r.Has(8, 16)) return std::vector<uint8_t>{};
        rect(8);
        return std::move(rec);
      case EMR_ROUNDRECT:
        if (!r.Has(8, 24)) return std::vector<uint8_t>{};
        rect(8);
        size(24, ax_);
        size(28, ay_);
        return std::move(rec);
      case EMR_ARC: case EMR_CHORD: case EMR_PIE: case EMR_ARCTO:
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
      case EMR_EXTTEXTOUTA: case EMR_EXTTEXTOUTW: {
        TkxEmrExtTextOut t;
        if (!DecodeExtTextOut(r, t)) return std::vector<uint8_t>{};
        rect(8);
        pt(36);
        if (!(t.Rect == TkxEmfRectL{0, 0, -1, -1})) rect(56);
        const uint32_t offDx = r.U32(72);
        const bool pdy = (t.Options & ETO_PDY) != 0;
        for (size_t i = 0; i < t.Dx.size(); ++i) {
          const bool isY = pdy && (i % 2 == 1);
          PatchI(rec, offDx + i * 4, Round32(t.Dx[i] * (isY ? ay_ : ax_)));
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
        PatchI(out, 32, Round32(cx * ax_));
        PatchI(out, 36, Round32(cy * ay_));
        PatchI(out, 100, cx);
        PatchI(out, 104, cy);
        out.insert(out.end(), rec.begin() + 100, rec.end());
        if (offBmi >= 100) Patch(out, 84, offBmi + 8);
        if (offBits >= 100) Patch(out, 92, offBits + 8);
        Patch(out, 4, static_cast<uint32_t>(out.size()));
        return out;
      }
      case EMR_FILLRGN: case EMR_FRAMERGN: case EMR_INVERTRGN: case EMR_PAINTRGN: {
        const size_t regOff = type == EMR_FILLRGN ? 32 : type == EMR_FRAMERGN ? 40 : 28;
        TkxEmfRegion reg;
        if (!r.Has(8, 20) || !DecodeRegion(r, regOff, r.U32(24), reg)) return std::vector<uint8_t>{};
        rect(8);
        const uint32_t hdr = r.U32(regOff);
        for (int k = 0; k < 4; ++k) PatchI(rec, regOff + 16 + k * 4, k % 2 ? Y(r.I32(regOff + 16 + k * 4)) : X(r.I32(regOff + 16 + k * 4)));
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
      default:
        return std::nullopt;
    }
  }

  TkxEmfRecorder& dst_;
  double ax_, ay_, bx_, by_, avg_, fontY_;
  TkxMatrix T_;
  DcTransform xf_;
  std::vector<DcTransform> stack_;
  size_t depth_ = 0;
  std::optional<TkxMatrix> curWorld_ = TkxMatrix();
  std::map<uint32_t, uint32_t> handles_;
  std::vector<uint8_t> scratch_;  // each record's copy, one buffer for the whole run
};

}  // namespace

void PlayMetafile(const TkxMetafile& src, TkxEmfRecorder& dst, const TkxRectF& dest, TkxStretchedText text) {
  if (src.Empty()) return;
  TkxRectF d = dest;
  if (d.Width < 0) { d.X += d.Width; d.Width = -d.Width; }
  if (d.Height < 0) { d.Y += d.Height; d.Height = -d.Height; }
  Rerecorder(src, dst, d, text).Run(src);
  dst.AddBounds({Round32(std::floor(d.X)), Round32(std::floor(d.Y)), Round32(std::ceil(d.Right())) - 1,
                 Round32(std::ceil(d.Bottom())) - 1});
}

// ---- Playback onto a bitmap -------------------------------------------------------------

namespace {

struct PenObj {
  uint32_t style = PS_SOLID;  // whole PenStyle value
  double width = 1;           // logical units; 0 = one device pixel
  uint32_t color = 0;
  std::vector<double> dashes;  // user style, logical units
};

struct BrushObj {
  uint32_t style = BS_SOLID;
  uint32_t color = 0xFFFFFF;
  uint32_t hatch = 0;
  std::shared_ptr<TkxBitmap> pattern;
};

struct FontObj {
  TkxLogFontW lf;
};

struct GdiObject {
  enum Kind { None, Pen, Brush, Font, Other } kind = None;
  PenObj pen;
  BrushObj brush;
  FontObj font;
};

struct PathOp {
  enum Kind { Move, Line, Curve, Close } kind;
  TkxPointF p[3];
};

struct ClipStep {
  std::vector<PathOp> path;  // device pixels
  bool evenOdd = false;
  bool exclude = false;
};

struct DcState {
  DcTransform xf;
  PenObj pen;
  BrushObj brush;
  FontObj font;
  uint32_t textColor = 0, bkColor = 0xFFFFFF, bkMode = OPAQUE, textAlign = 0, polyFill = ALTERNATE;
  double miter = 10;
  TkxEmfPointL cur;
  std::vector<ClipStep> clip;
  bool clipAll = false;  // an empty clip region: nothing shows
};

void SetColor(cairo_t* cr, uint32_t colorRef) {
  cairo_set_source_rgb(cr, (colorRef & 0xFF) / 255.0, ((colorRef >> 8) & 0xFF) / 255.0,
                       ((colorRef >> 16) & 0xFF) / 255.0);
}

class BitmapPlayer {
 public:
  BitmapPlayer(const TkxMetafile& src, TkxBitmap& bmp, const TkxRectF& dest) : bmp_(bmp) {
    surface_ = cairo_image_surface_create_for_data(bmp.Bits(), bmp.HasAlpha() ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24,
                                                   bmp.Width(), bmp.Height(), bmp.Stride());
    cr_ = cairo_create(surface_);
    double l, t, r, b;
    src.FramePixels(l, t, r, b);
    const double ax = r > l ? dest.Width / (r - l) : 1, ay = b > t ? dest.Height / (b - t) : 1;
    cairo_matrix_init(&base_, ax, 0, 0, ay, dest.X - l * ax, dest.Y - t * ay);
    st_.xf.pxPerMMX = src.PixelsPerMMX();
    st_.xf.pxPerMMY = src.PixelsPerMMY();
    st_.pen = PenObj{};
    st_.brush = BrushObj{};
  }
  ~BitmapPlayer() {
    cairo_destroy(cr_);
    cairo_surface_flush(surface_);
    cairo_surface_destroy(surface_);
    if (!bmp_.HasAlpha()) bmp_.NormalizeOpaque();
  }

  void Run(const TkxMetafile& src) {
    src.EnumerateRecords([&](const TkxEmfRecord& r) {
      try {
        Record(r);
      } catch (const std::exception&) {
        // A record that cannot be drawn (a broken bitmap, say) is skipped.
      }
      // A context in an error state draws nothing more: start a fresh one
      // (the drawing state lives here, not in the context).
      if (cairo_status(cr_) != CAIRO_STATUS_SUCCESS) {
        cairo_destroy(cr_);
        cr_ = cairo_create(surface_);
      }
      return true;
    });
  }

 private:
  // ---- geometry ----
  TkxPointF Dev(double x, double y) const { return st_.xf.Full().Transform({x, y}); }
  TkxPointF Dev(const TkxEmfPointL& p) const { return Dev(p.x, p.y); }
  double DevScale() const { return std::sqrt(std::abs(st_.xf.Full().Determinant())); }

  void Emit(const PathOp& op) {
    if (inPath_) pathOps_.push_back(op);
    else drawOps_.push_back(op);
  }
  void MoveTo(const TkxPointF& p) { Emit({PathOp::Move, {p}}); }
  void LineTo(const TkxPointF& p) { Emit({PathOp::Line, {p}}); }
  void CurveTo(const TkxPointF& a, const TkxPointF& b, const TkxPointF& c) { Emit({PathOp::Curve, {a, b, c}}); }
  void Close() { Emit({PathOp::Close, {}}); }

  static void BuildPath(cairo_t* cr, const std::vector<PathOp>& ops) {
    cairo_new_path(cr);
    for (const auto& op : ops) {
      switch (op.kind) {
        case PathOp::Move: cairo_move_to(cr, op.p[0].X, op.p[0].Y); break;
        case PathOp::Line: cairo_line_to(cr, op.p[0].X, op.p[0].Y); break;
        case PathOp::Curve:
          cairo_curve_to(cr, op.p[0].X, op.p[0].Y, op.p[1].X, op.p[1].Y, op.p[2].X, op.p[2].Y);
          break;
        case PathOp::Close: cairo_close_path(cr); break;
      }
    }
  }

  // Ellipse quarter arcs as Béziers in logical space, then to the device.
  void EllipseOps(double l, double t, double r, double b, bool move = true) {
    const double cx = (l + r) / 2, cy = (t + b) / 2, rx = (r - l) / 2, ry = (b - t) / 2;
    ArcOps(cx, cy, rx, ry, 0, -2 * std::numbers::pi, move);
    Close();
  }
  // From angle a0 to a1 (radians, y down; decreasing angles run counter-clockwise on the device).
  void ArcOps(double cx, double cy, double rx, double ry, double a0, double a1, bool move) {
    const int n = std::max(1, static_cast<int>(std::ceil(std::abs(a1 - a0) / (std::numbers::pi / 2) - 1e-9)));
    const double step = (a1 - a0) / n;
    const double k = 4.0 / 3.0 * std::tan(step / 4);
    auto pt = [&](double a) { return TkxPointF{cx + rx * std::cos(a), cy + ry * std::sin(a)}; };
    if (move) MoveTo(Dev(pt(a0).X, pt(a0).Y));
    else LineTo(Dev(pt(a0).X, pt(a0).Y));
    for (int i = 0; i < n; ++i) {
      const double s = a0 + i * step, e = s + step;
      const TkxPointF p0 = pt(s), p3 = pt(e);
      const TkxPointF c1{p0.X - k * rx * std::sin(s), p0.Y + k * ry * std::cos(s)};
      const TkxPointF c2{p3.X + k * rx * std::sin(e), p3.Y - k * ry * std::cos(e)};
      CurveTo(Dev(c1.X, c1.Y), Dev(c2.X, c2.Y), Dev(p3.X, p3.Y));
    }
  }
  void ArcShape(const TkxEmfRecord& r, int kind /*0 arc,1 chord,2 pie,3 arcto*/) {
    const TkxEmfRectL b = r.RectL(8);
    const TkxEmfPointL s = r.PointL(24), e = r.PointL(32);
    const double l = b.left, t = b.top, r2 = b.right, b2 = b.bottom;  // record values may be extreme
    const double cx = (l + r2) / 2, cy = (t + b2) / 2, rx = (r2 - l) / 2, ry = (b2 - t) / 2;
    if (rx == 0 || ry == 0) return;
    const double a0 = std::atan2((s.y - cy) / ry, (s.x - cx) / rx);
    double a1 = std::atan2((e.y - cy) / ry, (e.x - cx) / rx);
    while (a1 >= a0) a1 -= 2 * std::numbers::pi;  // counter-clockwise on the device
    if (kind == 3) {
      // A line from the current position to the arc's start, then the arc.
      if (!inPath_ || pathOps_.empty()) MoveTo(Dev(st_.cur));
      ArcOps(cx, cy, rx, ry, a0, a1, false);
      const TkxPointF end{cx + rx * std::cos(a1), cy + ry * std::sin(a1)};
      st_.cur = {Round32(end.X), Round32(end.Y)};
      return;
    }
    if (kind == 2) {
      MoveTo(Dev(cx, cy));
      ArcOps(cx, cy, rx, ry, a0, a1, false);
    } else {
      ArcOps(cx, cy, rx, ry, a0, a1, true);
    }
    if (kind != 0) Close();
  }

  // ---- clipping, pens and brushes ----
  void ApplyClip() {
    cairo_reset_clip(cr_);
    cairo_set_matrix(cr_, &base_);
    if (st_.clipAll) {
      cairo_new_path(cr_);
      cairo_rectangle(cr_, 0, 0, 0, 0);
      cairo_clip(cr_);
      return;
    }
    for (const ClipStep& s : st_.clip) {
      BuildPath(cr_, s.path);
      if (s.exclude) {
        cairo_rectangle(cr_, -1e7, -1e7, 2e7, 2e7);
        cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_EVEN_ODD);
      } else {
        cairo_set_fill_rule(cr_, s.evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
      }
      cairo_clip(cr_);
    }
  }

  bool SetBrush(const BrushObj& b) {
    if (b.style == BS_NULL) return false;
    if (b.pattern && !b.pattern->Empty()) {
      cairo_surface_t* s = cairo_image_surface_create_for_data(
          b.pattern->Bits(), CAIRO_FORMAT_RGB24, b.pattern->Width(), b.pattern->Height(), b.pattern->Stride());
      cairo_pattern_t* p = cairo_pattern_create_for_surface(s);
      cairo_pattern_set_extend(p, CAIRO_EXTEND_REPEAT);
      cairo_set_source(cr_, p);
      cairo_pattern_destroy(p);
      cairo_surface_destroy(s);
      return true;
    }
    SetColor(cr_, b.color);
    return true;
  }

  bool SetPen() {
    const PenObj& p = st_.pen;
    const uint32_t kind = p.style & PS_STYLE_MASK;
    if (kind == PS_NULL) return false;
    const bool geometric = (p.style & PS_TYPE_MASK) == PS_GEOMETRIC;
    const double w = geometric && p.width > 0 ? p.width * DevScale() : 1.0;
    cairo_set_line_width(cr_, std::max(w, 1.0));
    if (geometric) {
      const uint32_t cap = p.style & PS_ENDCAP_MASK, join = p.style & PS_JOIN_MASK;
      cairo_set_line_cap(cr_, cap == PS_ENDCAP_FLAT ? CAIRO_LINE_CAP_BUTT
                              : cap == PS_ENDCAP_SQUARE ? CAIRO_LINE_CAP_SQUARE : CAIRO_LINE_CAP_ROUND);
      cairo_set_line_join(cr_, join == PS_JOIN_MITER ? CAIRO_LINE_JOIN_MITER
                               : join == PS_JOIN_BEVEL ? CAIRO_LINE_JOIN_BEVEL : CAIRO_LINE_JOIN_ROUND);
    } else {
      cairo_set_line_cap(cr_, CAIRO_LINE_CAP_BUTT);
      cairo_set_line_join(cr_, CAIRO_LINE_JOIN_MITER);
    }
    cairo_set_miter_limit(cr_, std::max(st_.miter, 1.0));
    std::vector<double> d;
    const double unit = std::max(w, 1.0);
    switch (kind) {
      case PS_DASH: d = geometric ? std::vector<double>{3 * unit, unit} : std::vector<double>{18, 6}; break;
      case PS_DOT: d = geometric ? std::vector<double>{unit, unit} : std::vector<double>{3, 3}; break;
      case PS_DASHDOT: d = geometric ? std::vector<double>{3 * unit, unit, unit, unit} : std::vector<double>{9, 6, 3, 6}; break;
      case PS_DASHDOTDOT:
        d = geometric ? std::vector<double>{3 * unit, unit, unit, unit, unit, unit} : std::vector<double>{9, 3, 3, 3, 3, 3};
        break;
      case PS_ALTERNATE: d = {1, 1}; break;
      case PS_USERSTYLE:
        for (double v : p.dashes) d.push_back(std::max(v * (geometric ? DevScale() : 1.0), 0.0));
        break;
      default: break;
    }
    double sum = 0;
    for (double v : d) sum += v;
    if (!d.empty() && sum > 0) cairo_set_dash(cr_, d.data(), static_cast<int>(d.size()), 0);
    else cairo_set_dash(cr_, nullptr, 0, 0);
    SetColor(cr_, p.color);
    return true;
  }

  // Fills and/or strokes the collected drawing ops.
  void Paint(bool fill, bool stroke, std::vector<PathOp>& ops) {
    if (ops.empty()) return;
    ApplyClip();
    if (fill && st_.brush.style != BS_NULL) {
      BuildPath(cr_, ops);
      cairo_set_fill_rule(cr_, st_.polyFill == ALTERNATE ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
      if (SetBrush(st_.brush)) cairo_fill(cr_);
    }
    if (stroke && SetPen()) {
      BuildPath(cr_, ops);
      cairo_stroke(cr_);
    }
    cairo_new_path(cr_);
    ops.clear();
  }
  void PaintDraw(bool fill, bool stroke) { Paint(fill, stroke, drawOps_); }

  // ---- records ----
  void Poly(const TkxEmfRecord& r) {
    TkxEmrPoly p;
    if (!DecodePoly(r, p) || p.Points.empty()) return;
    const uint32_t t = IsPoly16(r.Type()) ? r.Type() - EMR_POLYBEZIER16 + EMR_POLYBEZIER : r.Type();
    const auto& pts = p.Points;
    switch (t) {
      case EMR_POLYGON:
      case EMR_POLYLINE:
        MoveTo(Dev(pts[0]));
        for (size_t i = 1; i < pts.size(); ++i) LineTo(Dev(pts[i]));
        if (t == EMR_POLYGON) Close();
        if (!inPath_) PaintDraw(t == EMR_POLYGON, true);
        break;
      case EMR_POLYBEZIER:
        MoveTo(Dev(pts[0]));
        for (size_t i = 1; i + 2 < pts.size(); i += 3) CurveTo(Dev(pts[i]), Dev(pts[i + 1]), Dev(pts[i + 2]));
        if (!inPath_) PaintDraw(false, true);
        break;
      case EMR_POLYLINETO:
      case EMR_POLYBEZIERTO:
        if (!inPath_ || pathOps_.empty()) MoveTo(Dev(st_.cur));
        if (t == EMR_POLYLINETO) {
          for (const auto& q : pts) LineTo(Dev(q));
          st_.cur = pts.back();
        } else {
          size_t i = 0;
          for (; i + 2 < pts.size(); i += 3) CurveTo(Dev(pts[i]), Dev(pts[i + 1]), Dev(pts[i + 2]));
          if (i > 0) st_.cur = pts[i - 1];
        }
        if (!inPath_) PaintDraw(false, true);
        break;
      default:
        break;
    }
  }

  void PolyPoly(const TkxEmfRecord& r) {
    TkxEmrPolyPoly p;
    if (!DecodePolyPoly(r, p)) return;
    const bool polygon = r.Type() == EMR_POLYPOLYGON || r.Type() == EMR_POLYPOLYGON16;
    size_t k = 0;
    for (uint32_t c : p.Counts) {
      for (uint32_t i = 0; i < c; ++i, ++k) {
        if (i == 0) MoveTo(Dev(p.Points[k]));
        else LineTo(Dev(p.Points[k]));
      }
      if (polygon && c > 0) Close();
    }
    if (!inPath_) PaintDraw(polygon, true);
  }

  void PolyDraw(const TkxEmfRecord& r) {
    TkxEmrPolyDraw p;
    if (!DecodePolyDraw(r, p)) return;
    if (!inPath_ || pathOps_.empty()) MoveTo(Dev(st_.cur));
    for (size_t i = 0; i < p.Points.size(); ++i) {
      const uint8_t t = p.Types[i] & ~1u;
      if (t == 6) MoveTo(Dev(p.Points[i]));
      else if (t == 2) LineTo(Dev(p.Points[i]));
      else if (t == 4 && i + 2 < p.Points.size()) {
        CurveTo(Dev(p.Points[i]), Dev(p.Points[i + 1]), Dev(p.Points[i + 2]));
        i += 2;
      }
      if (p.Types[std::min(i, p.Points.size() - 1)] & 1) Close();
      st_.cur = p.Points[std::min(i, p.Points.size() - 1)];
    }
    if (!inPath_) PaintDraw(false, true);
  }

  void Dib(const TkxEmfDib& dib, double xDest, double yDest, double cxDest, double cyDest, double xSrc, double ySrc,
           double cxSrc, double cySrc, uint32_t rop) {
    if (!dib.Present()) {
      PatBlt(xDest, yDest, cxDest, cyDest, rop);
      return;
    }
    // JPEG bits (BI_JPEG) are a picture of their own, read from the top.
    const bool jpeg = dib.BmiSize >= 40 && dib.Bmi[16] == 4 && !dib.Bmi[17] && !dib.Bmi[18] && !dib.Bmi[19];
    TkxDIBInfo info;
    if (jpeg)
      info.TopDown = true;
    else
      info = TkxBitmap::ReadDIBInfo(dib.Bmi, dib.BmiSize);
    TkxBitmap pic = TkxBitmap::FromDIB(dib.Bmi, dib.BmiSize, dib.Bits, dib.BitsSize);
    pic.SetHasAlpha(false);
    if (rop == NOTSRCCOPY) {
      for (int y = 0; y < pic.Height(); ++y)
        for (uint32_t* p = pic.Scanline(y), *e = p + pic.Width(); p < e; ++p) *p = ~*p | 0xFF000000u;
    }
    // A bottom-up DIB's source rectangle is measured from its last row.
    if (!info.TopDown) ySrc = pic.Height() - ySrc - cySrc;
    const TkxMatrix full = st_.xf.Full();
    const double det = full.Determinant();
    if (cxSrc == 0 || cySrc == 0 || cxDest == 0 || cyDest == 0 || !FiniteM(full) || !std::isfinite(det) ||
        std::abs(det) < 1e-12)
      return;
    ApplyClip();
    cairo_matrix_t m;
    cairo_matrix_init(&m, full.M11, full.M12, full.M21, full.M22, full.DX, full.DY);
    cairo_transform(cr_, &m);
    cairo_rectangle(cr_, xDest, yDest, cxDest, cyDest);
    cairo_clip(cr_);
    cairo_translate(cr_, xDest, yDest);
    cairo_scale(cr_, cxDest / cxSrc, cyDest / cySrc);
    cairo_translate(cr_, -xSrc, -ySrc);
    cairo_surface_t* s =
        cairo_image_surface_create_for_data(pic.Bits(), CAIRO_FORMAT_RGB24, pic.Width(), pic.Height(), pic.Stride());
    cairo_set_source_surface(cr_, s, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_GOOD);
    cairo_pattern_set_extend(cairo_get_source(cr_), CAIRO_EXTEND_PAD);
    switch (rop) {
      case SRCAND: cairo_set_operator(cr_, CAIRO_OPERATOR_MULTIPLY); break;
      case SRCPAINT: cairo_set_operator(cr_, CAIRO_OPERATOR_LIGHTEN); break;
      case SRCINVERT: cairo_set_operator(cr_, CAIRO_OPERATOR_DIFFERENCE); break;
      default: break;
    }
    cairo_paint(cr_);
    cairo_set_operator(cr_, CAIRO_OPERATOR_OVER);
    cairo_surface_destroy(s);
    cairo_set_matrix(cr_, &base_);
  }

  void PatBlt(double x, double y, double cx, double cy, uint32_t rop) {
    const TkxPointF a = Dev(x, y), b = Dev(x + cx, y), c = Dev(x + cx, y + cy), d = Dev(x, y + cy);
    std::vector<PathOp> ops = {{PathOp::Move, {a}}, {PathOp::Line, {b}}, {PathOp::Line, {c}},
                               {PathOp::Line, {d}}, {PathOp::Close, {}}};
    ApplyClip();
    BuildPath(cr_, ops);
    if (rop == BLACKNESS) cairo_set_source_rgb(cr_, 0, 0, 0);
    else if (rop == WHITENESS) cairo_set_source_rgb(cr_, 1, 1, 1);
    else if (rop == DSTINVERT) {
      cairo_set_source_rgb(cr_, 1, 1, 1);
      cairo_set_operator(cr_, CAIRO_OPERATOR_DIFFERENCE);
    } else if (!SetBrush(st_.brush)) {
      cairo_new_path(cr_);
      return;
    }
    cairo_fill(cr_);
    cairo_set_operator(cr_, CAIRO_OPERATOR_OVER);
  }

  void FillRegion(const TkxEmfRegion& reg, const BrushObj& brush) {
    ApplyClip();
    cairo_new_path(cr_);
    for (const auto& q : reg.Rects)
      cairo_rectangle(cr_, q.left, q.top, double(q.right) - q.left, double(q.bottom) - q.top);
    if (SetBrush(brush)) cairo_fill(cr_);
    cairo_new_path(cr_);
  }

  void ClipWith(std::vector<PathOp> ops, bool evenOdd, uint32_t mode) {
    if (mode == RGN_COPY) {
      st_.clip.clear();
      st_.clipAll = false;
    }
    if (mode == RGN_AND || mode == RGN_COPY) st_.clip.push_back({std::move(ops), evenOdd, false});
    else if (mode == RGN_DIFF) st_.clip.push_back({std::move(ops), evenOdd, true});
    else if (mode == RGN_OR) {
      // A union cannot be kept as a list of intersections; showing more is
      // the safer error.
      st_.clip.clear();
      st_.clipAll = false;
    }
  }

  static std::vector<PathOp> RectOps(double l, double t, double r, double b) {
    return {{PathOp::Move, {{l, t}}}, {PathOp::Line, {{r, t}}}, {PathOp::Line, {{r, b}}}, {PathOp::Line, {{l, b}}},
            {PathOp::Close, {}}};
  }

  void Text(const TkxEmfRecord& r) {
    TkxEmrExtTextOut t;
    if (!DecodeExtTextOut(r, t)) return;
    const TkxLogFontW& lf = st_.font.lf;
    const int style = (lf.lfWeight >= 600 ? fsBold : 0) | (lf.lfItalic ? fsItalic : 0);
    const std::string family = lf.lfFaceName.empty() ? std::string("Arial") : WideToUtf8(lf.lfFaceName);
    TkxFontManager& fm = TkxFontManager::Instance();
    const TkxFontFacePtr face = fm.GetFace(family, style);
    if (!face) return;
    const TkxFaceDesignMetrics& dm = face->Design();
    const TkxMatrix full = st_.xf.Full();
    if (!FiniteM(full)) return;
    const double scale = DevScale();
    double emLogical = lf.lfHeight != 0 ? EmPixelsFor(dm, lf.lfHeight) : EmPixelsFor(dm, 0);
    const double em = emLogical * scale;
    if (!(em > 0) || em > 1e5) return;
    const double upm = dm.UnitsPerEm > 0 ? dm.UnitsPerEm : 1000;
    const double ascent = em * dm.WinAscent / upm, descent = em * dm.WinDescent / upm;

    // Baseline direction on the device from the escapement (counter-clockwise).
    const double theta = lf.lfEscapement * std::numbers::pi / 1800.0;
    const TkxPointF b{std::cos(theta), -std::sin(theta)};
    const TkxPointF d{-b.Y, b.X};
    const double xScale = std::hypot(full.M11, full.M12);

    // Advances along the baseline in device pixels.
    std::u16string text = t.Text;
    std::vector<double> adv(text.size(), 0);
    if (!t.Dx.empty()) {
      const size_t step = (t.Options & ETO_PDY) ? 2 : 1;
      for (size_t i = 0; i < text.size() && i * step < t.Dx.size(); ++i) adv[i] = t.Dx[i * step] * xScale;
    } else if (!(t.Options & ETO_GLYPH_INDEX)) {
      adv = fm.CharAdvances(family, style, em, text);
    }
    double width = 0;
    for (double a : adv) width += a;

    const bool updateCP = (st_.textAlign & TA_UPDATECP) != 0;
    TkxPointF ref = updateCP ? Dev(st_.cur) : Dev(t.Reference);
    const uint32_t halign = st_.textAlign & 6, valign = st_.textAlign & 24;
    double along = 0;
    if (halign == TA_CENTER) along = -width / 2;
    else if (halign == TA_RIGHT) along = -width;
    double down = ascent;  // TA_TOP: the baseline lies one ascent below the reference
    if (valign == TA_BASELINE) down = 0;
    else if (valign == TA_BOTTOM) down = -descent;
    TkxPointF origin{ref.X + b.X * along + d.X * down, ref.Y + b.Y * along + d.Y * down};
    if (updateCP) {
      const double advLogical = xScale > 0 ? width / xScale : 0;
      st_.cur.x = Round32(st_.cur.x + (halign == TA_RIGHT ? -advLogical : advLogical));
    }

    ApplyClip();
    if ((t.Options & ETO_OPAQUE) && !(t.Rect == TkxEmfRectL{0, 0, -1, -1})) {
      const TkxEmfRectL q = t.Rect;
      std::vector<PathOp> ops = {{PathOp::Move, {Dev(q.left, q.top)}}, {PathOp::Line, {Dev(q.right, q.top)}},
                                 {PathOp::Line, {Dev(q.right, q.bottom)}}, {PathOp::Line, {Dev(q.left, q.bottom)}},
                                 {PathOp::Close, {}}};
      BuildPath(cr_, ops);
      SetColor(cr_, st_.bkColor);
      cairo_fill(cr_);
    }
    if (t.Options & ETO_CLIPPED) {
      const TkxEmfRectL q = t.Rect;
      std::vector<PathOp> ops = {{PathOp::Move, {Dev(q.left, q.top)}}, {PathOp::Line, {Dev(q.right, q.top)}},
                                 {PathOp::Line, {Dev(q.right, q.bottom)}}, {PathOp::Line, {Dev(q.left, q.bottom)}},
                                 {PathOp::Close, {}}};
      BuildPath(cr_, ops);
      cairo_clip(cr_);
    }
    if (st_.bkMode == OPAQUE && !(t.Options & ETO_OPAQUE)) {
      const TkxPointF top{origin.X - d.X * ascent, origin.Y - d.Y * ascent};
      cairo_new_path(cr_);
      cairo_move_to(cr_, top.X, top.Y);
      cairo_rel_line_to(cr_, b.X * width, b.Y * width);
      cairo_rel_line_to(cr_, d.X * (ascent + descent), d.Y * (ascent + descent));
      cairo_rel_line_to(cr_, -b.X * width, -b.Y * width);
      cairo_close_path(cr_);
      SetColor(cr_, st_.bkColor);
      cairo_fill(cr_);
    }

    std::vector<cairo_glyph_t> glyphs;
    double pos = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      char32_t cp = text[i];
      double a = adv[i];
      if (!(t.Options & ETO_GLYPH_INDEX) && cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() &&
          text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        a += adv[i + 1];
        ++i;
      }
      const unsigned g = (t.Options & ETO_GLYPH_INDEX) ? static_cast<unsigned>(cp) : face->GlyphIndex(cp);
      glyphs.push_back({g, origin.X + b.X * pos, origin.Y + b.Y * pos});
      pos += a;
    }
    cairo_font_face_t* cf = face->CairoFace();
    if (cf) {
      cairo_set_font_face(cr_, cf);
      cairo_matrix_t fmx;
      cairo_matrix_init_scale(&fmx, em, em);
      cairo_matrix_rotate(&fmx, -theta);
      cairo_set_font_matrix(cr_, &fmx);
      SetColor(cr_, st_.textColor);
      cairo_show_glyphs(cr_, glyphs.data(), static_cast<int>(glyphs.size()));
      cairo_set_font_face(cr_, nullptr);
      cairo_font_face_destroy(cf);
    }
    // Underline and strike-out as bars along the baseline.
    auto bar = [&](double offsetDown, double thickness) {
      const TkxPointF s{origin.X + d.X * offsetDown, origin.Y + d.Y * offsetDown};
      cairo_new_path(cr_);
      cairo_move_to(cr_, s.X, s.Y);
      cairo_rel_line_to(cr_, b.X * width, b.Y * width);
      cairo_set_line_width(cr_, std::max(thickness, 1.0));
      cairo_set_dash(cr_, nullptr, 0, 0);
      cairo_set_line_cap(cr_, CAIRO_LINE_CAP_BUTT);
      SetColor(cr_, st_.textColor);
      cairo_stroke(cr_);
    };
    if (lf.lfUnderline)
      bar(-em * dm.UnderlinePosition / upm, em * std::max(dm.UnderlineThickness, 1) / upm);
    if (lf.lfStrikeOut)
      bar(-em * (dm.StrikeoutPosition ? dm.StrikeoutPosition : upm / 4) / upm,
          em * std::max(dm.StrikeoutSize, 1) / upm);
  }

  void Record(const TkxEmfRecord& r) {
    if (st_.xf.Apply(r)) return;
    const uint32_t type = r.Type();
    switch (type) {
      case EMR_SAVEDC: saved_.push_back(st_); break;
      case EMR_RESTOREDC: {
        const size_t k = RestoreCount(r.I32(8), saved_.size());
        if (k == 0) break;
        st_ = saved_[saved_.size() - k];
        saved_.resize(saved_.size() - k);
        break;
      }
      case EMR_SETTEXTCOLOR: st_.textColor = r.U32(8); break;
      case EMR_SETBKCOLOR: st_.bkColor = r.U32(8); break;
      case EMR_SETBKMODE: st_.bkMode = r.U32(8); break;
      case EMR_SETTEXTALIGN: st_.textAlign = r.U32(8); break;
      case EMR_SETPOLYFILLMODE: st_.polyFill = r.U32(8); break;
      case EMR_SETMITERLIMIT: {
        const float f = r.F32(8);
        st_.miter = std::isfinite(f) && f >= 1 && f < 1e6 ? f : 10.0;
        break;
      }
      case EMR_MOVETOEX:
        st_.cur = r.PointL(8);
        if (inPath_) MoveTo(Dev(st_.cur));
        break;
      case EMR_LINETO:
        if (!inPath_ || pathOps_.empty()) MoveTo(Dev(st_.cur));
        st_.cur = r.PointL(8);
        LineTo(Dev(st_.cur));
        if (!inPath_) PaintDraw(false, true);
        break;
      // Objects.
      case EMR_CREATEPEN: {
        TkxEmrCreatePen p;
        if (!DecodeCreatePen(r, p)) break;
        GdiObject& o = objects_[p.ihPen];
        o = GdiObject{};
        o.kind = GdiObject::Pen;
        o.pen.style = p.Style & PS_STYLE_MASK;
        if (p.Width.x > 0) o.pen.style |= PS_GEOMETRIC | PS_ENDCAP_ROUND | PS_JOIN_ROUND;
        o.pen.width = p.Width.x;
        o.pen.color = p.Color;
        break;
      }
      case EMR_EXTCREATEPEN: {
        TkxEmrExtCreatePen p;
        if (!DecodeExtCreatePen(r, p)) break;
        GdiObject& o = objects_[p.ihPen];
        o = GdiObject{};
        o.kind = GdiObject::Pen;
        o.pen.style = p.LogPen.PenStyle;
        o.pen.width = p.LogPen.Width;
        o.pen.color = p.LogPen.Color;
        if (p.LogPen.BrushStyle == BS_NULL) o.pen.style = (o.pen.style & ~PS_STYLE_MASK) | PS_NULL;
        for (uint32_t v : p.LogPen.StyleEntries) o.pen.dashes.push_back(v);
        break;
      }
      case EMR_CREATEBRUSHINDIRECT: {
        TkxEmrCreateBrush b;
        if (!DecodeCreateBrush(r, b)) break;
        GdiObject& o = objects_[b.ihBrush];
        o = GdiObject{};
        o.kind = GdiObject::Brush;
        o.brush.style = b.LogBrush.Style == BS_NULL ? BS_NULL : BS_SOLID;
        o.brush.color = b.LogBrush.Color;
        o.brush.hatch = b.LogBrush.Hatch;
        break;
      }
      case EMR_CREATEMONOBRUSH:
      case EMR_CREATEDIBPATTERNBRUSHPT: {
        if (!r.Has(0, 32)) break;
        TkxEmfDib dib;
        const uint32_t offBmi = r.U32(16), cbBmi = r.U32(20), offBits = r.U32(24), cbBits = r.U32(28);
        if (!r.Has(offBmi, cbBmi) || !r.Has(offBits, cbBits)) break;
        GdiObject& o = objects_[r.U32(8)];
        o = GdiObject{};
        o.kind = GdiObject::Brush;
        o.brush.pattern = std::make_shared<TkxBitmap>(
            TkxBitmap::FromDIB(r.Data() + offBmi, cbBmi, r.Data() + offBits, cbBits));
        o.brush.pattern->SetHasAlpha(false);
        break;
      }
      case EMR_EXTCREATEFONTINDIRECTW: {
        TkxEmrCreateFont f;
        if (!DecodeExtCreateFont(r, f)) break;
        GdiObject& o = objects_[f.ihFont];
        o = GdiObject{};
        o.kind = GdiObject::Font;
        o.font.lf = f.LogFont;
        break;
      }
      case EMR_CREATEPALETTE: case EMR_CREATECOLORSPACE: case EMR_CREATECOLORSPACEW:
        objects_[r.U32(8)] = GdiObject{GdiObject::Other, {}, {}, {}};
        break;
      case EMR_SELECTOBJECT: {
        const uint32_t h = r.U32(8);
        if (h & ENHMETA_STOCK_OBJECT) {
          const uint32_t i = h & ~ENHMETA_STOCK_OBJECT;
          static const uint32_t grays[] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040, 0x000000};
          if (i <= BLACK_BRUSH) st_.brush = BrushObj{BS_SOLID, grays[i], 0, nullptr};
          else if (i == NULL_BRUSH) st_.brush = BrushObj{BS_NULL, 0, 0, nullptr};
          else if (i == DC_BRUSH) st_.brush = BrushObj{};
          else if (i == WHITE_PEN) st_.pen = PenObj{PS_SOLID, 0, 0xFFFFFF, {}};
          else if (i == BLACK_PEN || i == DC_PEN) st_.pen = PenObj{PS_SOLID, 0, 0, {}};
          else if (i == NULL_PEN) st_.pen = PenObj{PS_NULL, 0, 0, {}};
          else if (i >= OEM_FIXED_FONT && i <= DEFAULT_GUI_FONT && i != DEFAULT_PALETTE) st_.font = FontObj{};
          break;
        }
        auto it = objects_.find(h);
        if (it == objects_.end()) break;
        if (it->second.kind == GdiObject::Pen) st_.pen = it->second.pen;
        else if (it->second.kind == GdiObject::Brush) st_.brush = it->second.brush;
        else if (it->second.kind == GdiObject::Font) st_.font = it->second.font;
        break;
      }
      case EMR_DELETEOBJECT: objects_.erase(r.U32(8)); break;
      // Drawing.
      case EMR_POLYBEZIER: case EMR_POLYGON: case EMR_POLYLINE: case EMR_POLYBEZIERTO: case EMR_POLYLINETO:
      case EMR_POLYBEZIER16: case EMR_POLYGON16: case EMR_POLYLINE16: case EMR_POLYBEZIERTO16:
      case EMR_POLYLINETO16:
        Poly(r);
        break;
      case EMR_POLYPOLYLINE: case EMR_POLYPOLYGON: case EMR_POLYPOLYLINE16: case EMR_POLYPOLYGON16:
        PolyPoly(r);
        break;
      case EMR_POLYDRAW: case EMR_POLYDRAW16: PolyDraw(r); break;
      case EMR_RECTANGLE: {
        if (!r.Has(8, 16)) break;
        const TkxEmfRectL q = r.RectL(8);
        MoveTo(Dev(q.left, q.top));
        LineTo(Dev(q.right, q.top));
        LineTo(Dev(q.right, q.bottom));
        LineTo(Dev(q.left, q.bottom));
        Close();
        if (!inPath_) PaintDraw(true, true);
        break;
      }
      case EMR_ROUNDRECT: {
        if (!r.Has(8, 24)) break;
        const TkxEmfRectL q = r.RectL(8);
        const double l = q.left, t = q.top, rr = q.right, bb = q.bottom;
        const double rx = std::min(std::abs(double(r.I32(24))) / 2, std::abs(rr - l) / 2);
        const double ry = std::min(std::abs(double(r.I32(28))) / 2, std::abs(bb - t) / 2);
        const double pi = std::numbers::pi;
        ArcOps(rr - rx, t + ry, rx, ry, 0, -pi / 2, true);
        ArcOps(l + rx, t + ry, rx, ry, -pi / 2, -pi, false);
        ArcOps(l + rx, bb - ry, rx, ry, -pi, -3 * pi / 2, false);
        ArcOps(rr - rx, bb - ry, rx, ry, -3 * pi / 2, -2 * pi, false);
        Close();
        if (!inPath_) PaintDraw(true, true);
        break;
      }
      case EMR_ELLIPSE: {
        if (!r.Has(8, 16)) break;
        const TkxEmfRectL q = r.RectL(8);
        EllipseOps(q.left, q.top, q.right, q.bottom);
        if (!inPath_) PaintDraw(true, true);
        break;
      }
      case EMR_ARC: case EMR_CHORD: case EMR_PIE: case EMR_ARCTO:
        if (!r.Has(8, 32)) break;
        ArcShape(r, type == EMR_ARC ? 0 : type == EMR_CHORD ? 1 : type == EMR_PIE ? 2 : 3);
        if (!inPath_) PaintDraw(type == EMR_CHORD || type == EMR_PIE, true);
        break;
      // Paths.
      case EMR_BEGINPATH:
        inPath_ = true;
        pathOps_.clear();
        break;
      case EMR_ENDPATH: inPath_ = false; break;
      case EMR_ABORTPATH:
        inPath_ = false;
        pathOps_.clear();
        break;
      case EMR_CLOSEFIGURE:
        if (inPath_) Close();
        break;
      case EMR_FILLPATH: case EMR_STROKEPATH: case EMR_STROKEANDFILLPATH:
        inPath_ = false;
        Paint(type != EMR_STROKEPATH, type != EMR_FILLPATH, pathOps_);
        break;
      case EMR_SELECTCLIPPATH:
        inPath_ = false;
        ClipWith(std::move(pathOps_), st_.polyFill == ALTERNATE, r.U32(8));
        pathOps_.clear();
        break;
      // Clipping.
      case EMR_EXTSELECTCLIPRGN: {
        TkxEmrExtSelectClipRgn c;
        if (!DecodeExtSelectClipRgn(r, c)) break;
        if (!c.HasRegion) {
          if (c.RegionMode == RGN_COPY) {
            st_.clip.clear();
            st_.clipAll = false;
          }
          break;
        }
        std::vector<PathOp> ops;
        for (const auto& q : c.Region.Rects) {
          auto rect = RectOps(q.left, q.top, q.right, q.bottom);
          ops.insert(ops.end(), rect.begin(), rect.end());
        }
        if (ops.empty() && (c.RegionMode == RGN_AND || c.RegionMode == RGN_COPY)) {
          st_.clip.clear();
          st_.clipAll = true;
          break;
        }
        ClipWith(std::move(ops), false, c.RegionMode);
        break;
      }
      case EMR_INTERSECTCLIPRECT:
      case EMR_EXCLUDECLIPRECT: {
        if (!r.Has(8, 16)) break;
        const TkxEmfRectL q = r.RectL(8);
        std::vector<PathOp> ops = {{PathOp::Move, {Dev(q.left, q.top)}}, {PathOp::Line, {Dev(q.right, q.top)}},
                                   {PathOp::Line, {Dev(q.right, q.bottom)}}, {PathOp::Line, {Dev(q.left, q.bottom)}},
                                   {PathOp::Close, {}}};
        ClipWith(std::move(ops), false, type == EMR_INTERSECTCLIPRECT ? RGN_AND : RGN_DIFF);
        break;
      }
      // Text and pictures.
      case EMR_EXTTEXTOUTW: case EMR_EXTTEXTOUTA: Text(r); break;
      case EMR_STRETCHDIBITS: {
        TkxEmrStretchDIBits s;
        if (!DecodeStretchDIBits(r, s)) break;
        Dib(s.Dib, s.xDest, s.yDest, s.cxDest, s.cyDest, s.xSrc, s.ySrc, s.cxSrc, s.cySrc, s.Rop);
        break;
      }
      case EMR_BITBLT: case EMR_STRETCHBLT: {
        TkxEmrBitBlt s;
        if (!DecodeBitBlt(r, s)) break;
        Dib(s.Dib, s.xDest, s.yDest, s.cxDest, s.cyDest, s.xSrc, s.ySrc, s.cxSrc, s.cySrc, s.Rop);
        break;
      }
      case EMR_SETDIBITSTODEVICE: {
        TkxEmrSetDIBitsToDevice s;
        if (!DecodeSetDIBitsToDevice(r, s) || !s.Dib.Present()) break;
        Dib(s.Dib, s.xDest, s.yDest, s.cxSrc, s.cySrc, s.xSrc, s.ySrc, s.cxSrc, s.cySrc, SRCCOPY);
        break;
      }
      case EMR_FILLRGN: case EMR_PAINTRGN: {
        const size_t regOff = type == EMR_FILLRGN ? 32 : 28;
        TkxEmfRegion reg;
        if (!r.Has(8, 20) || !DecodeRegion(r, regOff, r.U32(24), reg)) break;
        BrushObj brush = st_.brush;
        if (type == EMR_FILLRGN) {
          auto it = objects_.find(r.U32(28));
          if (it == objects_.end() || it->second.kind != GdiObject::Brush) break;
          brush = it->second.brush;
        }
        FillRegion(reg, brush);
        break;
      }
      default:
        break;
    }
  }

  TkxBitmap& bmp_;
  cairo_surface_t* surface_ = nullptr;
  cairo_t* cr_ = nullptr;
  cairo_matrix_t base_;
  DcState st_;
  std::vector<DcState> saved_;
  std::map<uint32_t, GdiObject> objects_;
  bool inPath_ = false;
  std::vector<PathOp> pathOps_, drawOps_;
};

}  // namespace

void PlayMetafile(const TkxMetafile& src, TkxBitmap& bitmap, const TkxRectF& dest) {
  if (src.Empty() || bitmap.Empty()) return;
  if (!(std::abs(dest.Width) > 0) || !(std::abs(dest.Height) > 0) || !std::isfinite(dest.X) ||
      !std::isfinite(dest.Y) || !std::isfinite(dest.Width) || !std::isfinite(dest.Height))
    return;
  BitmapPlayer player(src, bitmap, dest);
  player.Run(src);
}

}  // namespace pw
