#include "engine/kxMetafilePictureRecords.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>

#include "engine/kxImageSettings.h"
#include "platform/kxJPEG.h"
#include "platform/kxRasterOps.h"

namespace pw {

namespace {

uint32_t Get32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
void Put32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v >> 16), p[3] = uint8_t(v >> 24);
}

// The part of a bitmap from (x, y) of size w x h, mirrored as asked. The
// whole bitmap when the part covers it and nothing is mirrored.
TkxBitmap SourcePart(const TkxBitmap& b, int64_t x, int64_t y, int64_t w, int64_t h, bool flipX, bool flipY) {
  const int64_t x0 = std::clamp<int64_t>(std::min(x, x + w), 0, b.Width());
  const int64_t x1 = std::clamp<int64_t>(std::max(x, x + w), 0, b.Width());
  const int64_t y0 = std::clamp<int64_t>(std::min(y, y + h), 0, b.Height());
  const int64_t y1 = std::clamp<int64_t>(std::max(y, y + h), 0, b.Height());
  const int sw = int(x1 - x0), sh = int(y1 - y0);
  if (sw <= 0 || sh <= 0) return b;  // a source outside the bitmap: take it whole
  if (sw == b.Width() && sh == b.Height() && !flipX && !flipY) return b;
  TkxBitmap out(sw, sh, b.HasAlpha());
  for (int r = 0; r < sh; ++r) {
    const uint32_t* from = b.Scanline(int(y0) + (flipY ? sh - 1 - r : r)) + x0;
    uint32_t* to = out.Scanline(r);
    for (int c = 0; c < sw; ++c) to[c] = from[flipX ? sw - 1 - c : c];
  }
  return out;
}

// The image item of the page list's last item, or nullptr.
TkxImageItem* LastImageItem(TkxMetafileState& st) {
  TkxItemList* list = st.Target().ItemList();
  if (!list || list->empty() || !list->back()) return nullptr;
  return dynamic_cast<TkxImageItem*>(list->back().get());
}

TkxImageTableEntry* EntryOf(TkxMetafileState& st, const TkxImageItem& item) {
  TkxImageTable* table = st.Target().ImageTable();
  if (!table || item.ImageIndex < 0 || item.ImageIndex >= static_cast<int>(table->size())) return nullptr;
  return &(*table)[item.ImageIndex];
}

// A new image item over the device rectangle a-b (engine pixels, offsets
// not yet added); every item the recording makes is fitted to its box.
std::unique_ptr<TkxImageItem> NewImageItem(TkxMetafileState& st, TkxDoublePoint a, TkxDoublePoint b) {
  a.X += st.OffsetX, a.Y += st.OffsetY, b.X += st.OffsetX, b.Y += st.OffsetY;
  auto item = std::make_unique<TkxImageItem>(a, b);
  if (const TkxImageSettings* s = st.Target().ImageSettings()) item->ImageSettings = *s;
  item->ImageSettings.ScaleToFit = true;
  return item;
}

// Stores the picture in a new slot of the picture table and appends the item.
void AppendPicture(TkxMetafileState& st, std::unique_ptr<TkxImageItem> item, TGraphic picture) {
  TkxImageTable* table = st.Target().ImageTable();
  if (!table || picture.Empty() || !st.Target().ItemList()) return;
  TkxImageTableEntry entry;
  entry.Picture = std::make_unique<TGraphic>(std::move(picture));
  table->push_back(std::move(entry));
  item->ImageIndex = static_cast<int>(table->size()) - 1;
  st.AppendItem(std::move(item));
}

// A blit with a picture at the device rectangle a-b: merged into the last
// image when that one covers the same place, else a picture of its own.
void PlacePicture(TkxMetafileState& st, TkxDoublePoint a, TkxDoublePoint b, TGraphic picture, uint32_t rop) {
  if (picture.Empty()) return;
  auto item = NewImageItem(st, a, b);
  if (item->Width <= 0 || item->Height <= 0) return;
  if (TkxImageItem* last = LastImageItem(st); last && rop != SRCCOPY && last->X == item->X && last->Y == item->Y &&
                                              last->Width == item->Width && last->Height == item->Height) {
    if (TkxImageTableEntry* entry = EntryOf(st, *last); entry && entry->Picture) {
      const TkxBitmap* dst = entry->Picture->Pixels();
      const TkxBitmap* src = picture.Pixels();
      if (dst && src) {
        TkxBitmap merged = *dst;
        merged.SetHasAlpha(false);
        if (MergeIntoImage(merged, *src, rop)) *entry->Picture = TGraphic(std::move(merged));
        return;
      }
    }
  }
  if (rop != SRCCOPY && rop != SRCAND && rop != SRCPAINT && rop != SRCINVERT && rop != pw::rop::SRCERASE) {
    // A blit onto nothing: the operation is applied against white paper.
    const TkxBitmap* src = picture.Pixels();
    if (!src) return;
    TkxBitmap paper(src->Width(), src->Height());
    if (!MergeIntoImage(paper, *src, rop)) return;
    picture = TGraphic(std::move(paper));
  }
  AppendPicture(st, std::move(item), std::move(picture));
}

// The pending bar of a blit without a picture.
void BarFromBlit(TkxMetafileState& st, const TkxDoubleRect& bounds) {
  if (!(st.RenderText || st.RenderImages || st.RenderShapes)) return;
  if (st.RenderText && st.HasTextItems()) {
    st.PendingBar = bounds;
    if (st.DecorationCountdown > 0) --st.DecorationCountdown;
    st.BarPending = true;
  } else if (st.RenderShapes) {
    st.PendingBar = bounds;
    st.BarPending = true;
  }
  FlushPendingBar(st);
}

TkxDoubleRect Converted(const TkxMetafileState& st, const TkxEmfRectL& r) {
  // Bounds are inclusive: the far edges lie one pixel further out.
  return st.ConvertRect(TkxEmfRectL{r.left, r.top, r.right + 1, r.bottom + 1});
}

// The destination corners of a blit and whether the picture is mirrored.
struct TkxBlitBox {
  TkxDoublePoint A, B;
  bool FlipX = false, FlipY = false;
};
TkxBlitBox BlitBox(const TkxMetafileState& st, int32_t x, int32_t y, int32_t cx, int32_t cy, int32_t cxSrc,
                   int32_t cySrc) {
  TkxBlitBox box;
  box.A = st.ConvertPoint(x, y);
  box.B = st.ConvertPoint(double(x) + cx, double(y) + cy);
  box.FlipX = (box.B.X < box.A.X) != (cxSrc < 0);
  box.FlipY = (box.B.Y < box.A.Y) != (cySrc < 0);
  return box;
}

TGraphic Oriented(TGraphic picture, int32_t xSrc, int32_t ySrc, int32_t cxSrc, int32_t cySrc, const TkxBlitBox& box) {
  const TkxBitmap* pixels = picture.Kind() == gkBitmap ? picture.Bitmap() : nullptr;
  if (!pixels) {
    // JPEG data stays as it is unless it is mirrored or cropped.
    if (picture.Kind() != gkJPEG) return picture;
    const bool whole = xSrc == 0 && ySrc == 0 && cxSrc == picture.Width() && cySrc == picture.Height();
    if (whole && !box.FlipX && !box.FlipY) return picture;
    pixels = picture.Pixels();
    if (!pixels) return TGraphic();
  }
  TkxBitmap part = SourcePart(*pixels, xSrc, ySrc, cxSrc, cySrc, box.FlipX, box.FlipY);
  return TGraphic(std::move(part));
}

void StretchDIBits(TkxMetafileState& st, const TkxEmfRecord& r) {
  TkxEmrStretchDIBits d;
  if (!DecodeStretchDIBits(r, d)) return;
  if (!d.Dib.Present()) {
    BarFromBlit(st, Converted(st, d.Bounds));
    return;
  }
  if (!st.RenderImages) return;
  const TkxBlitBox box = BlitBox(st, d.xDest, d.yDest, d.cxDest, d.cyDest, d.cxSrc, d.cySrc);
  TGraphic picture = Oriented(PictureFromDib(d.Dib), d.xSrc, d.ySrc, d.cxSrc, d.cySrc, box);
  PlacePicture(st, box.A, box.B, std::move(picture), d.Rop);
}

void BitBlt(TkxMetafileState& st, const TkxEmfRecord& r) {
  TkxEmrBitBlt d;
  if (!DecodeBitBlt(r, d)) return;
  if (!d.Dib.Present()) {
    BarFromBlit(st, Converted(st, d.Bounds));
    return;
  }
  if (!st.RenderImages) return;
  const int32_t cxSrc = r.Type() == EMR_BITBLT ? d.cxDest : d.cxSrc;
  const int32_t cySrc = r.Type() == EMR_BITBLT ? d.cyDest : d.cySrc;
  const TkxBlitBox box = BlitBox(st, d.xDest, d.yDest, d.cxDest, d.cyDest, cxSrc, cySrc);
  TGraphic picture = Oriented(PictureFromDib(d.Dib), d.xSrc, d.ySrc, cxSrc, cySrc, box);
  PlacePicture(st, box.A, box.B, std::move(picture), d.Rop);
}

// EMR_MASKBLT: the source drawn through its mask (mask bits 1 keep the
// source, 0 keep what lies below, white paper here).
void MaskBlt(TkxMetafileState& st, const TkxEmfRecord& r) {
  if (!r.Has(0, 128)) return;
  const TkxEmfRectL bounds = r.RectL(8);
  const int32_t x = r.I32(24), y = r.I32(28), cx = r.I32(32), cy = r.I32(36);
  const uint32_t offBmi = r.U32(84), cbBmi = r.U32(88), offBits = r.U32(92), cbBits = r.U32(96);
  if (cbBmi == 0 || cbBits == 0 || !r.Has(offBmi, cbBmi) || !r.Has(offBits, cbBits)) {
    BarFromBlit(st, Converted(st, bounds));
    return;
  }
  if (!st.RenderImages) return;
  const TkxEmfDib dib{r.Data() + offBmi, cbBmi, r.Data() + offBits, cbBits};
  const TkxBlitBox box = BlitBox(st, x, y, cx, cy, cx, cy);
  TGraphic picture = Oriented(PictureFromDib(dib), r.I32(44), r.I32(48), cx, cy, box);
  const TkxBitmap* src = picture.Pixels();
  const uint32_t offMaskBmi = r.U32(112), cbMaskBmi = r.U32(116), offMaskBits = r.U32(120), cbMaskBits = r.U32(124);
  if (src && cbMaskBmi && cbMaskBits && r.Has(offMaskBmi, cbMaskBmi) && r.Has(offMaskBits, cbMaskBits)) {
    const TkxEmfDib maskDib{r.Data() + offMaskBmi, cbMaskBmi, r.Data() + offMaskBits, cbMaskBits};
    TGraphic mask = PictureFromDib(maskDib);
    if (const TkxBitmap* m = mask.Pixels()) {
      TkxBitmap out = *src;
      out.SetHasAlpha(false);
      const int mx = r.I32(100), my = r.I32(104);
      for (int row = 0; row < out.Height(); ++row)
        for (int col = 0; col < out.Width(); ++col)
          if ((m->Pixel(mx + col, my + row) & 0xFFFFFF) == 0) out.SetPixel(col, row, 0xFFFFFFFF);
      picture = TGraphic(std::move(out));
    }
  }
  PlacePicture(st, box.A, box.B, std::move(picture), SRCCOPY);
}

void SetDIBitsToDevice(TkxMetafileState& st, const TkxEmfRecord& r) {
  TkxEmrSetDIBitsToDevice d;
  if (!DecodeSetDIBitsToDevice(r, d)) return;
  if (!d.Dib.Present()) {
    BarFromBlit(st, Converted(st, d.Bounds));
    return;
  }
  if (!st.RenderImages) return;
  TGraphic band = PictureFromDib(d.Dib, d.cScans);
  const TkxBitmap* pixels = band.Pixels();
  if (!pixels) return;
  if (d.iStartScan == 0) {
    const TkxDoubleRect box = Converted(st, d.Bounds);
    auto item = NewImageItem(st, {box.Left, box.Top}, {box.Right, box.Bottom});
    AppendPicture(st, std::move(item), TGraphic(*pixels));
    return;
  }
  TkxImageItem* last = LastImageItem(st);
  if (!last) return;  // a band with no picture before it
  TkxImageTableEntry* entry = EntryOf(st, *last);
  if (!entry || !entry->Picture || !entry->Picture->Pixels()) return;
  TkxBitmap grown = *entry->Picture->Pixels();
  try {
    AppendImageBand(grown, *pixels);
  } catch (const Exception&) {
    return;  // a picture beyond the size limits keeps what it had
  }
  const double scale =
      grown.Height() > 0 && entry->Picture->Height() > 0 ? last->Height / entry->Picture->Height() : 1.0;
  last->Height = grown.Height() * scale;
  last->Bounds.Bottom = last->Y + last->Height;
  *entry->Picture = TGraphic(std::move(grown));
}

}  // namespace

TGraphic PictureFromDib(const TkxEmfDib& dib, uint32_t scanLines) {
  if (!dib.Present()) return TGraphic();
  try {
    if (dib.BmiSize >= 40 && Get32(dib.Bmi) >= 40 && Get32(dib.Bmi + 16) == kBI_JPEG) {
      TkxJPEGImage jpeg;
      jpeg.LoadFromData(std::vector<uint8_t>(dib.Bits, dib.Bits + dib.BitsSize));
      if (!jpeg.Valid()) return TGraphic();
      return TGraphic(std::move(jpeg));
    }
    if (scanLines > 0 && dib.BmiSize >= 40 && Get32(dib.Bmi) >= 40) {
      const int32_t h = static_cast<int32_t>(Get32(dib.Bmi + 8));
      const int64_t rows = h < 0 ? -int64_t(h) : h;
      if (rows != scanLines) {
        std::vector<uint8_t> header(dib.Bmi, dib.Bmi + dib.BmiSize);
        Put32(header.data() + 8, static_cast<uint32_t>(h < 0 ? -int64_t(scanLines) : int64_t(scanLines)));
        return TGraphic(TkxBitmap::FromDIB(header.data(), header.size(), dib.Bits, dib.BitsSize));
      }
    }
    return TGraphic(TkxBitmap::FromDIB(dib.Bmi, dib.BmiSize, dib.Bits, dib.BitsSize));
  } catch (const Exception&) {
    return TGraphic();
  }
}

bool MergeIntoImage(TkxBitmap& target, const TkxBitmap& source, uint32_t rop) {
  if (!IsNamedRop(rop) || RopUsesPattern(rop)) return false;
  CopyRect(target, 0, 0, target.Width(), target.Height(), source, 0, 0, source.Width(), source.Height(), rop);
  return true;
}

void AppendImageBand(TkxBitmap& target, const TkxBitmap& band) {
  const int oldHeight = target.Height();
  TkxBitmap::CheckSize(band.Width(), int64_t(oldHeight) + band.Height());
  target.SetSize(band.Width(), oldHeight + band.Height());
  for (int y = 0; y < band.Height(); ++y)
    for (int x = 0; x < band.Width(); ++x) target.SetPixel(x, oldHeight + y, band.Pixel(x, y));
}

void FlushPendingBar(TkxMetafileState& st) {
  if (st.DecorationCountdown > 0) --st.DecorationCountdown;
  if (!st.BarPending || !st.RenderShapes) return;
  const TkxDoubleRect& bar = st.PendingBar;
  const TkxDoublePoint a{bar.Left + st.OffsetX, bar.Top + st.OffsetY};
  const TkxDoublePoint b{bar.Right + st.OffsetX, bar.Bottom + st.OffsetY};
  const TkxDoublePoint pts[] = {a, b};
  std::unique_ptr<TkxShapeItem> shape;
  if (bar.Width() != 0 && bar.Height() != 0) {
    shape = std::make_unique<TkxShapeItem>(shRectangle);
    shape->Pen = st.Pen;
    shape->SetBrush(st.Brush);
    if (st.BkMode == OPAQUE) {
      shape->Pen.SetColor(st.BkColor);
    } else {
      shape->Pen.SetStyle(psClear);
    }
    if (st.Rop2 == 13) shape->Pen.SetColor(st.Brush.Color());  // R2_COPYPEN
  } else {
    shape = std::make_unique<TkxShapeItem>(shLine);
    shape->Pen = st.Pen;
    shape->Pen.SetColor(st.Brush.Color());
  }
  shape->SetPoints(pts);
  st.AppendItem(std::move(shape));
  st.BarPending = false;
}

bool ProcessPictureRecord(TkxMetafileState& st, const TkxEmfRecord& r) {
  switch (r.Type()) {
    case EMR_STRETCHDIBITS: StretchDIBits(st, r); return true;
    case EMR_BITBLT:
    case EMR_STRETCHBLT: BitBlt(st, r); return true;
    case EMR_MASKBLT: MaskBlt(st, r); return true;
    case EMR_SETDIBITSTODEVICE: SetDIBitsToDevice(st, r); return true;
    default: return false;
  }
}

}  // namespace pw
