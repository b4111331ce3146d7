// Pictures in the RTF file: the PNG writer, the metafile wrapper, and image
// items from a page recording written in every picture format, as hex or
// binary data, and a whole page as one picture.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "pdf/kxFilters.h"
#include "platform/kxEmfRecorder.h"
#include "platform/kxJPEG.h"
#include "rtf/kxRTFEngine.h"
#include "rtf/kxRTFPictureWriter.h"
#include "tests/rtf/rtf_engine_support.h"

using namespace pw;

namespace {

uint32_t BE32(const std::vector<uint8_t>& d, size_t at) {
  return (uint32_t(d[at]) << 24) | (d[at + 1] << 16) | (d[at + 2] << 8) | d[at + 3];
}

struct PngChunk {
  std::string Type;
  std::vector<uint8_t> Data;
};
std::vector<PngChunk> Chunks(const std::vector<uint8_t>& png) {
  std::vector<PngChunk> out;
  for (size_t at = 8; at + 12 <= png.size();) {
    const uint32_t n = BE32(png, at);
    out.push_back({std::string(png.begin() + at + 4, png.begin() + at + 8),
                   std::vector<uint8_t>(png.begin() + at + 8, png.begin() + at + 8 + n)});
    at += 12 + n;
  }
  return out;
}

TkxBitmap Sample(int w, int h) {
  TkxBitmap b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetPixel(x, y, 0xFF000000u | uint32_t(x * 7) << 16 | uint32_t(y * 5) << 8 | 0x40);
  return b;
}

// A one-page document whose page canvas holds one 100 x 50 pixel picture.
std::string Convert(TkxOutputImageFormat format, bool binary, bool pageAsPicture = false, int quality = 100,
                    TkxRTFEncodingType layout = etPositionalAccuracy) {
  TkxRTFEngine e;
  std::ostringstream out;
  test::WriteToStream(e, out);
  e.Preferences().SetGraphicDataInBinary(binary);
  e.Preferences().SetMetafileAsImage(pageAsPicture);
  e.SetDocumentEncodingType(layout);
  e.SetMeasurementUnit(muPixels);
  e.ImageSettings().SetOutputImageFormat(format);
  e.ImageSettings().SetJPEGQuality(quality);
  e.BeginDoc();
  const TkxBitmap b = Sample(64, 32);
  e.PageCanvas()->StretchDIBits(96, 48, 100, 50, 0, 0, 64, 32, b.ToDIBHeader(24), b.ToDIBBits(24));
  e.EndDoc();
  return out.str();
}

}  // namespace

TEST(RTFPictures, PngOfOneWhitePixelHasOneIdatAndMarksWhiteTransparent) {
  const std::vector<uint8_t> png = WritePNG(TkxBitmap(1, 1), clWhite);
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(std::vector<uint8_t>(png.begin(), png.begin() + 8),
            (std::vector<uint8_t>{137, 80, 78, 71, 13, 10, 26, 10}));
  const auto chunks = Chunks(png);
  std::vector<std::string> types;
  for (const auto& c : chunks) types.push_back(c.Type);
  EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "tRNS", "IDAT", "IEND"}));
  EXPECT_EQ(chunks[1].Data, (std::vector<uint8_t>{0, 255, 0, 255, 0, 255}));
  TkxFlateFilter flate;
  EXPECT_EQ(flate.DecodeStream(chunks[2].Data), (std::vector<uint8_t>{0, 255, 255, 255}));
}

TEST(RTFPictures, PngRowsRoundTripAndLongDataIsCutIntoChunks) {
  // Noise does not compress: many IDAT chunks of 10240 bytes.
  TkxBitmap b(300, 100);
  uint32_t seed = 1;
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 300; ++x) b.SetPixel(x, y, 0xFF000000u | ((seed = seed * 1103515245u + 12345u) >> 8));
  const auto chunks = Chunks(WritePNG(b, clWhite));
  std::vector<uint8_t> z;
  size_t idat = 0;
  for (const auto& c : chunks)
    if (c.Type == "IDAT") {
      ++idat;
      EXPECT_LE(c.Data.size(), 10240u);
      z.insert(z.end(), c.Data.begin(), c.Data.end());
    }
  EXPECT_GT(idat, 2u);
  TkxFlateFilter flate;
  const std::vector<uint8_t> rows = flate.DecodeStream(z);
  ASSERT_EQ(rows.size(), 100u * 901u);
  const uint32_t p = b.Pixel(7, 3);
  EXPECT_EQ(rows[3 * 901 + 1 + 7 * 3], uint8_t(p >> 16));
  EXPECT_EQ(rows[3 * 901 + 1 + 7 * 3 + 2], uint8_t(p));
}

TEST(RTFPictures, WmfWrapperHeaderCarriesTheSizes) {
  std::vector<uint8_t> dib;
  const std::string header = WrapBitmapInWMF(Sample(3, 2), dib);
  EXPECT_EQ(header.substr(0, 12), "010009000003");
  EXPECT_EQ(dib.size(), 40u + 2 * 12);
  const uint32_t r = uint32_t(dib.size() + 14) / 2 + 7;
  char expect[16];
  std::snprintf(expect, sizeof expect, "%02X%02X0000", (r + 36) & 0xFF, ((r + 36) >> 8) & 0xFF);
  EXPECT_EQ(header.substr(12, 8), expect);
  EXPECT_NE(header.find("0c0202000300"), std::string::npos);  // SetWindowExt(height 2, width 3)
  EXPECT_EQ(header.substr(header.size() - 2), "\r\n");
}

TEST(RTFPictures, EveryFormatWritesItsOwnPictureKindInAPositionedFrame) {
  struct Case {
    TkxOutputImageFormat Format;
    bool Binary;
    const char* Blip;
  };
  for (const Case& c :
       {Case{ifJPEG, true, "\\jpegblip"}, Case{ifPNG, true, "\\pngblip"}, Case{ifMetafile, true, "\\emfblip"},
        Case{ifBMP, true, "\\wmetafile8"}, Case{ifPNG, false, "\\pngblip"}}) {
    const std::string rtf = Convert(c.Format, c.Binary);
    const size_t pict = rtf.find("{\\pict");
    ASSERT_NE(pict, std::string::npos) << c.Blip;
    EXPECT_NE(rtf.find("{\\pard\\pvpg\\phpg\\absw1500\\absh750\\posx1440\\posy720\\overlay\\shading10000\\cfpat"),
              std::string::npos)
        << c.Blip;
    EXPECT_EQ(rtf.compare(pict + 6, std::string(c.Blip).size(), c.Blip), 0) << c.Blip;
    EXPECT_NE(rtf.find("\\picwgoal1500\\pichgoal750", pict), std::string::npos) << c.Blip;
    const bool bin = rtf.find("\\bin", pict) != std::string::npos;
    EXPECT_EQ(bin, c.Binary && c.Format != ifBMP) << c.Blip;
    if (c.Format == ifBMP) {
      EXPECT_NE(rtf.find("\\picbpp4 010009000003", pict), std::string::npos);
    }
    if (!c.Binary) {
      EXPECT_NE(rtf.find("\\picbpp4 89504E47", pict), std::string::npos);
    }
  }
}

TEST(RTFPictures, QualityChangesTheJpegSize) {
  const std::string best = Convert(ifJPEG, true, false, 100), small = Convert(ifJPEG, true, false, 20);
  EXPECT_LT(small.size() + 200, best.size());
}

TEST(RTFPictures, PageAsPictureWritesOneMetafilePerPageAndNoText) {
  const std::string rtf = Convert(ifJPEG, true, true);
  size_t count = 0;
  for (size_t at = rtf.find("\\emfblip"); at != std::string::npos; at = rtf.find("\\emfblip", at + 1)) ++count;
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(rtf.find("\\jpegblip"), std::string::npos);
}

TEST(RTFPictures, AmongFlowingLinesAPictureIsAShapeTextDoesNotFlowAround) {
  const std::string rtf = Convert(ifPNG, true, false, 100, etEaseOfEditing);
  EXPECT_EQ(rtf.find("\\absw"), std::string::npos);
  const size_t shape = rtf.find("{\\shp{\\*\\shpinst\\shpleft1440\\shptop720\\shpright2940\\shpbottom1470");
  ASSERT_NE(shape, std::string::npos);
  EXPECT_NE(rtf.find("\\shpwr3", shape), std::string::npos);  // no wrapping
  EXPECT_NE(rtf.find("{\\sp{\\sn pib}{\\sv {\\pict\\pngblip", shape), std::string::npos);
}
