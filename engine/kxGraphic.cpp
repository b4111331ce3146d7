#include "engine/kxGraphic.h"

#include <cmath>

#include "platform/kxEmfBitmapPlayer.h"
#include "platform/kxEmfRecorder.h"
#include "platform/kxEmfRerecorder.h"

namespace pw {

TGraphic TGraphic::Unknown(std::string typeName, std::vector<uint8_t> data) {
  TGraphic g;
  g.data_ = Other{std::move(typeName), std::move(data)};
  return g;
}

TkxGraphicKind TGraphic::Kind() const {
  switch (data_.index()) {
    case 1: return gkBitmap;
    case 2: return gkJPEG;
    case 3: return gkMetafile;
    case 4: return gkOther;
    default: return gkNone;
  }
}

bool TGraphic::Empty() const {
  if (const TkxBitmap* b = Bitmap()) return b->Empty();
  if (const TkxJPEGImage* j = JPEG()) return j->Empty();
  if (const TkxMetafile* m = Metafile()) return m->Empty();
  if (const Other* o = std::get_if<Other>(&data_)) return o->Data.empty();
  return true;
}

int TGraphic::Width() const {
  if (const TkxBitmap* b = Bitmap()) return b->Width();
  if (const TkxJPEGImage* j = JPEG()) return j->Width();
  if (const TkxMetafile* m = Metafile()) return m->Empty() ? 0 : m->Width();
  return 0;
}

int TGraphic::Height() const {
  if (const TkxBitmap* b = Bitmap()) return b->Height();
  if (const TkxJPEGImage* j = JPEG()) return j->Height();
  if (const TkxMetafile* m = Metafile()) return m->Empty() ? 0 : m->Height();
  return 0;
}

const std::string& TGraphic::TypeName() const {
  static const std::string kNames[] = {"", "Bitmap", "JPEG", "Metafile"};
  if (const Other* o = std::get_if<Other>(&data_)) return o->TypeName;
  return kNames[data_.index() < 4 ? data_.index() : 0];
}

const TkxBitmap* TGraphic::Pixels() const {
  if (const TkxBitmap* b = Bitmap()) return b->Empty() ? nullptr : b;
  if (const TkxJPEGImage* j = JPEG()) {
    if (!j->Valid()) return nullptr;
    try {
      return &j->Bitmap();
    } catch (const Exception&) {
      return nullptr;
    }
  }
  return nullptr;
}

std::vector<uint8_t> TGraphic::SaveToStream() const {
  if (const TkxBitmap* b = Bitmap()) return b->Empty() ? std::vector<uint8_t>{} : b->SaveToBMP(b->HasAlpha() ? 32 : 24);
  if (const TkxJPEGImage* j = JPEG()) return j->Data();
  if (const TkxMetafile* m = Metafile()) return m->Bytes();
  if (const Other* o = std::get_if<Other>(&data_)) return o->Data;
  return {};
}

TkxBitmap RenderGraphic(const TGraphic& graphic) {
  if (const TkxBitmap* pixels = graphic.Pixels()) {
    TkxBitmap copy = *pixels;
    copy.SetHasAlpha(true);
    return copy;
  }
  if (const TkxMetafile* mf = graphic.Metafile()) {
    const int w = graphic.Width(), h = graphic.Height();
    if (w <= 0 || h <= 0) return {};
    TkxBitmap bitmap(w, h, true);
    PlayMetafile(*mf, bitmap, TkxRectF{0, 0, static_cast<double>(w), static_cast<double>(h)});
    return bitmap;
  }
  return {};
}

void DrawGraphicOn(TkxEmfRecorder& canvas, const TGraphic& graphic, double x, double y, double width, double height) {
  if (const TkxMetafile* mf = graphic.Metafile()) {
    if (!mf->Empty()) PlayMetafile(*mf, canvas, TkxRectF{x, y, width, height});
    return;
  }
  const TkxBitmap* pixels = graphic.Pixels();
  if (!pixels) return;
  auto px = [](double v) { return static_cast<int32_t>(std::lround(v)); };
  canvas.StretchDIBits(px(x), px(y), px(width), px(height), 0, 0, pixels->Width(), pixels->Height(),
                       pixels->ToDIBHeader(24), pixels->ToDIBBits(24));
}

TkxMetafile StretchRecording(const TkxMetafile& metafile, int width, int height) {
  TkxEmfRecorder fresh(width, height);
  PlayMetafile(metafile, fresh, TkxRectF{0, 0, static_cast<double>(width), static_cast<double>(height)},
               TkxStretchedText::KeepShape);
  return fresh.TakeMetafile();
}

}  // namespace pw
