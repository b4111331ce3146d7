// Picture records of a page recording becoming image items: placement,
// mirrored and cropped sources, a mask and its picture merged, bitmaps sent
// in bands, JPEG data carried through, blits without a bitmap, and damaged
// records.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "engine/kxGraphic.h"
#include "engine/kxMetafilePictureRecords.h"
#include "engine/kxMetafileRecordProcessor.h"
#include "platform/kxEmfRecorder.h"
#include "platform/kxJPEG.h"
#include "tests/engine/metafile_target.h"

using namespace pw;

namespace {

using Target = test::TestMetafileTarget;

// A bitmap whose left half is red and right half blue, top row green.
TkxBitmap Sample(int w, int h) {
  TkxBitmap b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetPixel(x, y, y == 0 ? 0xFF00FF00 : x < w / 2 ? 0xFFFF0000 : 0xFF0000FF);
  return b;
}

void Process(TkxEmfRecorder& rec, Target& t, double offX = 0, double offY = 0) {
  const TkxMetafile& mf = rec.Close();
  TkxMetafileRecordProcessor p(t);
  p.ProcessMetafile(mf, offX, offY);
}

void Blit(TkxEmfRecorder& rec, const TkxBitmap& b, int x, int y, int w, int h, uint32_t rop = SRCCOPY) {
  rec.StretchDIBits(x, y, w, h, 0, 0, b.Width(), b.Height(), b.ToDIBHeader(24), b.ToDIBBits(24), rop);
}

}  // namespace

TEST(MetafilePictures, StretchDIBitsBecomesAnImageAtItsPlaceWithItsPixels) {
  TkxEmfRecorder rec(800, 1000, 96);
  const TkxBitmap b = Sample(40, 20);
  Blit(rec, b, 50, 60, 200, 100);
  Target t;
  Process(rec, t, 5, 7);
  const auto images = t.Images();
  ASSERT_EQ(images.size(), 1u);
  const TkxImageItem& item = *images[0];
  EXPECT_DOUBLE_EQ(item.X, 55);
  EXPECT_DOUBLE_EQ(item.Y, 67);
  EXPECT_DOUBLE_EQ(item.Width, 200);
  EXPECT_DOUBLE_EQ(item.Height, 100);
  EXPECT_EQ(item.Bounds, (TkxDoubleRect{55, 67, 255, 167}));
  EXPECT_TRUE(item.ImageSettings.ScaleToFit);
  const TkxBitmap* pixels = t.Picture(item).Pixels();
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ(*pixels, b);  // the picture keeps its own pixels, not the box's
}

TEST(MetafilePictures, NothingInTextOnlyModeAndDamagedBitmapsAreSkipped) {
  TkxEmfRecorder rec(800, 1000, 96);
  const TkxBitmap b = Sample(4, 4);
  Blit(rec, b, 0, 0, 10, 10);
  // A header claiming more bits than the record holds.
  std::vector<uint8_t> header = b.ToDIBHeader(24);
  header[4] = 200;  // width 200
  rec.StretchDIBits(0, 0, 10, 10, 0, 0, 4, 4, header, b.ToDIBBits(24));
  const TkxMetafile& mf = rec.Close();
  Target text;
  text.Wanted = {TkxItemsToRenderKind::irText};
  TkxMetafileRecordProcessor(text).ProcessMetafile(mf, 0, 0);
  EXPECT_TRUE(text.Images().empty());
  Target all;
  TkxMetafileRecordProcessor(all).ProcessMetafile(mf, 0, 0);
  EXPECT_EQ(all.Images().size(), 1u);  // the damaged one is dropped
}

TEST(MetafilePictures, MaskWithSrcAndAndPictureWithSrcPaintMergeIntoOneImage) {
  TkxEmfRecorder rec(800, 1000, 96);
  TkxBitmap mask(2, 1), picture(2, 1);
  mask.SetPixel(0, 0, 0xFF000000);  // black: shows the picture
  mask.SetPixel(1, 0, 0xFFFFFFFF);  // white: paper
  picture.SetPixel(0, 0, 0xFFFF0000);
  picture.SetPixel(1, 0, 0xFF000000);
  Blit(rec, mask, 10, 10, 20, 10, SRCAND);
  Blit(rec, picture, 10, 10, 20, 10, SRCPAINT);
  Target t;
  Process(rec, t);
  const auto images = t.Images();
  ASSERT_EQ(images.size(), 1u);
  const TkxBitmap* pixels = t.Picture(*images[0]).Pixels();
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ(pixels->Pixel(0, 0), 0xFFFF0000u);
  EXPECT_EQ(pixels->Pixel(1, 0), 0xFFFFFFFFu);
}

TEST(MetafilePictures, MirroredDestinationFlipsThePixels) {
  TkxEmfRecorder rec(800, 1000, 96);
  const TkxBitmap b = Sample(4, 2);
  rec.StretchDIBits(100, 10, -40, 20, 0, 0, 4, 2, b.ToDIBHeader(24), b.ToDIBBits(24), SRCCOPY);
  Target t;
  Process(rec, t);
  const auto images = t.Images();
  ASSERT_EQ(images.size(), 1u);
  EXPECT_DOUBLE_EQ(images[0]->X, 60);
  EXPECT_DOUBLE_EQ(images[0]->Width, 40);
  const TkxBitmap* pixels = t.Picture(*images[0]).Pixels();
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ(pixels->Pixel(0, 1), 0xFF0000FFu);  // blue now on the left
  EXPECT_EQ(pixels->Pixel(3, 1), 0xFFFF0000u);
}

TEST(MetafilePictures, JpegBitsAreKeptAsJpegData) {
  const std::vector<uint8_t> jpeg = EncodeJPEG(Sample(16, 8), 90);
  std::vector<uint8_t> header(40, 0);
  auto put = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) header[at + i] = uint8_t(v >> (8 * i));
  };
  put(0, 40), put(4, 16), put(8, 8), header[12] = 1, put(16, kBI_JPEG), put(20, uint32_t(jpeg.size()));
  TkxEmfRecorder rec(800, 1000, 96);
  rec.StretchDIBits(0, 0, 160, 80, 0, 0, 16, 8, header, jpeg, SRCCOPY);
  Target t;
  Process(rec, t);
  const auto images = t.Images();
  ASSERT_EQ(images.size(), 1u);
  const TkxJPEGImage* kept = t.Picture(*images[0]).JPEG();
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->Data(), jpeg);
}

TEST(MetafilePictures, BandsOfSetDIBitsToDeviceMakeOnePicture) {
  TkxEmfRecorder rec(800, 1000, 96);
  int start = 0;
  for (int band = 0; band < 3; ++band) {
    const TkxBitmap b = Sample(8, 2);
    const std::vector<uint8_t> bmi = b.ToDIBHeader(24), bits = b.ToDIBBits(24);
    TkxEmfRecordWriter w(EMR_SETDIBITSTODEVICE);
    const uint32_t offBmi = 76, offBits = offBmi + uint32_t(bmi.size());
    w.Rect(TkxEmfRectL{10, 20 + start, 17, 21 + start}).I32(10).I32(20 + start).I32(0).I32(0).I32(8).I32(2);
    w.U32(offBmi).U32(uint32_t(bmi.size())).U32(offBits).U32(uint32_t(bits.size())).U32(DIB_RGB_COLORS);
    w.U32(uint32_t(start)).U32(2);
    w.Bytes(bmi.data(), bmi.size()).Bytes(bits.data(), bits.size());
    rec.AppendRecord(w.Finish());
    start += 2;
  }
  Target t;
  Process(rec, t);
  const auto images = t.Images();
  ASSERT_EQ(images.size(), 1u);
  const TkxBitmap* pixels = t.Picture(*images[0]).Pixels();
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ(pixels->Height(), 6);
  EXPECT_DOUBLE_EQ(images[0]->Height, 6);
}

TEST(MetafilePictures, BlitWithoutBitmapPaintsABarOnlyWhenShapesAreWanted) {
  for (int wanted : {7, 1}) {
    TkxEmfRecorder rec(800, 1000, 96);
    TkxEmfRecordWriter w(EMR_STRETCHDIBITS);
    w.Rect(TkxEmfRectL{10, 10, 109, 14}).I32(10).I32(10).I32(0).I32(0).I32(0).I32(0);
    w.U32(0).U32(0).U32(0).U32(0).U32(DIB_RGB_COLORS).U32(PATCOPY).I32(100).I32(5);
    rec.AppendRecord(w.Finish());
    Target t;
    t.Wanted = TkxItemsToRender::FromMask(wanted);
    Process(rec, t);
    int shapes = 0;
    for (const auto& i : t.Items) shapes += dynamic_cast<TkxShapeItem*>(i.get()) != nullptr;
    EXPECT_EQ(shapes, wanted == 7 ? 1 : 0);
  }
}
