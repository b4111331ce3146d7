#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <cstring>

#include <jpeglib.h>

#include "platform/kxJPEG.h"

using namespace pw;

namespace {

// Smooth gradients, the kind of picture JPEG is made for (hard colour edges lose to chroma subsampling).
TkxBitmap TestPicture(int w, int h) {
  TkxBitmap b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t r = static_cast<uint32_t>(x * 255 / (w - 1)), g = static_cast<uint32_t>(y * 255 / (h - 1));
      uint32_t bl = static_cast<uint32_t>(40 + (x + y) * 160 / (w + h));
      b.SetPixel(x, y, 0xFF000000u | r << 16 | g << 8 | bl);
    }
  return b;
}

double PSNR(const TkxBitmap& a, const TkxBitmap& b) {
  double se = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x) {
      uint32_t p = a.Pixel(x, y), q = b.Pixel(x, y);
      for (int s = 0; s < 24; s += 8) {
        double d = double((p >> s) & 0xFF) - double((q >> s) & 0xFF);
        se += d * d;
      }
    }
  double mse = se / (3.0 * a.Width() * a.Height());
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// A JPEG written directly with libjpeg: a flat w x h picture of one sample tuple in the given colour space.
std::vector<uint8_t> RawJPEG(J_COLOR_SPACE in, J_COLOR_SPACE stored, bool adobe, std::vector<uint8_t> sample,
                             int w = 16, int h = 16, bool progressive = false) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* buf = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &buf, &size);
  c.image_width = w;
  c.image_height = h;
  c.input_components = static_cast<int>(sample.size());
  c.in_color_space = in;
  jpeg_set_defaults(&c);
  jpeg_set_colorspace(&c, stored);
  c.write_Adobe_marker = adobe;
  jpeg_set_quality(&c, 95, TRUE);
  if (progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  std::vector<uint8_t> row;
  for (int x = 0; x < w; ++x) row.insert(row.end(), sample.begin(), sample.end());
  for (int y = 0; y < h; ++y) {
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::vector<uint8_t> out(buf, buf + size);
  std::free(buf);
  return out;
}

bool Near(uint32_t a, uint32_t b, int tol) {
  for (int s = 0; s < 32; s += 8)
    if (std::abs(int((a >> s) & 0xFF) - int((b >> s) & 0xFF)) > tol) return false;
  return true;
}

}  // namespace

TEST(JPEG, EncodeDecodeQuality) {
  const TkxBitmap pic = TestPicture(96, 64);
  struct Case {
    int quality;
    double minPSNR;
  };
  size_t previousSize = SIZE_MAX;
  for (Case c : {Case{100, 48}, Case{75, 40}, Case{20, 32}, Case{1, 18}}) {
    SCOPED_TRACE(c.quality);
    std::vector<uint8_t> data = EncodeJPEG(pic, c.quality);
    ASSERT_GE(data.size(), 4u);
    EXPECT_EQ(data[0], 0xFF);
    EXPECT_EQ(data[1], 0xD8);
    EXPECT_LT(data.size(), previousSize);  // lower quality, smaller file
    previousSize = data.size();
    TkxBitmap back = DecodeJPEG(data);
    ASSERT_EQ(back.Width(), 96);
    ASSERT_EQ(back.Height(), 64);
    EXPECT_FALSE(back.HasAlpha());
    EXPECT_GT(PSNR(pic, back), c.minPSNR);
  }
  // Out-of-range qualities are clamped, not refused.
  EXPECT_EQ(EncodeJPEG(pic, 0), EncodeJPEG(pic, 1));
  EXPECT_EQ(EncodeJPEG(pic, 250), EncodeJPEG(pic, 100));
  // A picture with alpha is encoded as if over white.
  TkxBitmap clear(8, 8, true);
  EXPECT_TRUE(Near(DecodeJPEG(EncodeJPEG(clear, 90)).Pixel(4, 4), 0xFFFFFFFF, 2));
  EXPECT_THROW(EncodeJPEG(TkxBitmap(), 90), EJPEGError);
}

TEST(JPEG, ColourSpacesDecodeToRGB) {
  struct Case {
    const char* what;
    J_COLOR_SPACE in, stored;
    bool adobe;
    std::vector<uint8_t> sample;
    uint32_t expect;
    TkxJPEGColorSpace space;
  };
  const std::vector<Case> cases = {
      {"gray", JCS_GRAYSCALE, JCS_GRAYSCALE, false, {90}, 0xFF5A5A5A, TkxJPEGColorSpace::jcsGray},
      {"YCbCr", JCS_RGB, JCS_YCbCr, false, {200, 30, 60}, 0xFFC81E3C, TkxJPEGColorSpace::jcsYCbCr},
      {"RGB stored as RGB", JCS_RGB, JCS_RGB, true, {10, 120, 250}, 0xFF0A78FA, TkxJPEGColorSpace::jcsRGB},
      // Plain CMYK: samples are ink. 100% cyan -> (0, 255, 255); 50% black halves everything.
      {"CMYK cyan", JCS_CMYK, JCS_CMYK, false, {255, 0, 0, 0}, 0xFF00FFFF, TkxJPEGColorSpace::jcsCMYK},
      {"CMYK half black", JCS_CMYK, JCS_CMYK, false, {0, 0, 0, 128}, 0xFF7F7F7F, TkxJPEGColorSpace::jcsCMYK},
      // With Adobe's marker the samples hold 255 - ink: the same colours from inverted samples.
      {"Adobe CMYK cyan", JCS_CMYK, JCS_CMYK, true, {0, 255, 255, 255}, 0xFF00FFFF, TkxJPEGColorSpace::jcsCMYK},
      {"Adobe CMYK red", JCS_CMYK, JCS_CMYK, true, {255, 0, 0, 255}, 0xFFFF0000, TkxJPEGColorSpace::jcsCMYK},
      {"Adobe YCCK magenta+black",
       JCS_CMYK,
       JCS_YCCK,
       true,
       {255, 0, 255, 128},
       0xFF7F007F,
       TkxJPEGColorSpace::jcsYCCK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> data = RawJPEG(c.in, c.stored, c.adobe, c.sample);
    TkxJPEGInfo info = ReadJPEGInfo(data.data(), data.size());
    EXPECT_EQ(info.ColorSpace, c.space);
    EXPECT_EQ(info.AdobeMarker, c.adobe);
    TkxBitmap b = DecodeJPEG(data);
    EXPECT_TRUE(Near(b.Pixel(8, 8), c.expect, 3)) << std::hex << b.Pixel(8, 8) << " vs " << c.expect;
  }
}

TEST(JPEG, CorruptDataRaises) {
  std::vector<uint8_t> good = RawJPEG(JCS_RGB, JCS_YCbCr, false, {1, 2, 3});
  std::vector<uint8_t> badPrecision = good;  // 12-bit samples, which this decoder does not take
  size_t sof = good.size();
  for (size_t i = 2; i + 4 < good.size(); ++i)
    if (good[i] == 0xFF && good[i + 1] == 0xC0) {
      sof = i;
      break;
    }
  ASSERT_LT(sof, good.size());
  badPrecision[sof + 4] = 12;
  std::vector<uint8_t> badTables = good;
  for (size_t i = 20; i < 200 && i < badTables.size(); ++i) badTables[i] = 0xFF;
  const std::vector<std::vector<uint8_t>> bad = {
      {},
      {0xFF, 0xD8},
      {'G', 'I', 'F', '8', '9', 'a', 0, 0},
      std::vector<uint8_t>(good.begin(), good.begin() + 40),  // cut inside the headers
      badPrecision,
      badTables,
  };
  for (size_t i = 0; i < bad.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_THROW(DecodeJPEG(bad[i]), EJPEGError);
  }
  // A picture whose entropy-coded data stops early still decodes (libjpeg fills the rest).
  TkxBitmap pic = TestPicture(64, 64);
  std::vector<uint8_t> full = EncodeJPEG(pic, 90);
  std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<long>(full.size() * 2 / 3));
  TkxBitmap partial = DecodeJPEG(cut);
  EXPECT_EQ(partial.Width(), 64);
  EXPECT_TRUE(Near(partial.Pixel(1, 1), pic.Pixel(1, 1), 12));
}

TEST(JPEG, HostilePicturesAreRefused) {
  // Frame header patched to 60000 x 60000: beyond the bitmap limit, refused before any pixel memory.
  std::vector<uint8_t> data = RawJPEG(JCS_RGB, JCS_YCbCr, false, {1, 2, 3}, 8, 8);
  size_t sof = 2;
  while (sof + 9 < data.size() && !(data[sof] == 0xFF && data[sof + 1] == 0xC0)) ++sof;
  ASSERT_LT(sof + 9, data.size());
  data[sof + 5] = 0xEA, data[sof + 6] = 0x60, data[sof + 7] = 0xEA, data[sof + 8] = 0x60;
  EXPECT_EQ(ReadJPEGInfo(data.data(), data.size()).Width, 60000);
  EXPECT_THROW(DecodeJPEG(data), ELimitExceeded);
  // 16000 x 16000 is within the bitmap limit, but 256 megapixels cannot come out of a few hundred bytes.
  data[sof + 5] = 0x3E, data[sof + 6] = 0x80, data[sof + 7] = 0x3E, data[sof + 8] = 0x80;
  EXPECT_THROW(DecodeJPEG(data), ELimitExceeded);
  // A flat 3000 x 3000 picture is small data too, and real: it decodes.
  EXPECT_EQ(DecodeJPEG(RawJPEG(JCS_RGB, JCS_YCbCr, false, {250, 250, 250}, 3000, 3000)).Width(), 3000);

  // A progressive file whose last scan is repeated hundreds of times: stopped at the scan limit.
  std::vector<uint8_t> prog = RawJPEG(JCS_RGB, JCS_YCbCr, false, {9, 99, 199}, 16, 16, true);
  size_t lastSos = 0;
  for (size_t i = 0; i + 1 < prog.size(); ++i)
    if (prog[i] == 0xFF && prog[i + 1] == 0xDA) lastSos = i;
  ASSERT_GT(lastSos, 0u);
  std::vector<uint8_t> scan(prog.begin() + static_cast<long>(lastSos), prog.end() - 2);
  std::vector<uint8_t> many(prog.begin(), prog.end() - 2);
  for (int i = 0; i < 600; ++i) many.insert(many.end(), scan.begin(), scan.end());
  many.push_back(0xFF), many.push_back(0xD9);
  EXPECT_NO_THROW(DecodeJPEG(prog));
  EXPECT_THROW(DecodeJPEG(many), ELimitExceeded);
}

TEST(JPEG, ImageKeepsItsDataUnchanged) {
  std::vector<uint8_t> data = RawJPEG(JCS_CMYK, JCS_CMYK, true, {0, 255, 255, 255}, 5, 3);
  TkxJPEGImage img;
  img.LoadFromData(data);
  EXPECT_TRUE(img.Valid());
  EXPECT_EQ(img.Data(), data);
  EXPECT_EQ(img.Width(), 5);
  EXPECT_EQ(img.Height(), 3);
  EXPECT_TRUE(Near(img.Bitmap().Pixel(2, 1), 0xFF00FFFF, 3));

  TkxJPEGImage junk;
  junk.LoadFromData({1, 2, 3, 4, 5});
  EXPECT_FALSE(junk.Valid());
  EXPECT_EQ(junk.Data().size(), 5u);
  EXPECT_THROW(junk.Bitmap(), EJPEGError);

  junk.Assign(TestPicture(10, 4), 80);
  EXPECT_TRUE(junk.Valid());
  EXPECT_EQ(junk.Bitmap().Width(), 10);
}

// The DCT pictures of a real document decode to the size their dictionaries give.
TEST(JPEG, CorpusPictures) {
  std::string path = std::string(PW_SOURCE_DIR) + "/../shared/corpus/latex-jpeg-image.pdf";
  std::ifstream f(path, std::ios::binary);
  if (!f) GTEST_SKIP() << "corpus not present";
  std::string pdf((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  auto number = [&](size_t from, size_t to, const char* key) {
    size_t at = pdf.find(key, from);
    return at < to ? std::stoi(pdf.substr(at + std::strlen(key), 12)) : -1;
  };
  int seen = 0;
  for (size_t at = pdf.find("/Filter /DCTDecode"); at != std::string::npos;
       at = pdf.find("/Filter /DCTDecode", at + 1)) {
    size_t dict = pdf.rfind("<<", at);
    ASSERT_NE(dict, std::string::npos);
    size_t start = pdf.find("stream", at);
    ASSERT_NE(start, std::string::npos);
    start += 6;
    while (pdf[start] == '\r' || pdf[start] == '\n') ++start;
    size_t end = pdf.find("endstream", start);
    TkxBitmap b = DecodeJPEG(reinterpret_cast<const uint8_t*>(pdf.data() + start), end - start);
    EXPECT_EQ(b.Width(), number(dict, at, "/Width "));
    EXPECT_EQ(b.Height(), number(dict, at, "/Height "));
    ++seen;
  }
  EXPECT_GT(seen, 0);
}
