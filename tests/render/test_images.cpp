// Pictures of a page: the fax decoders, PDF functions, and images drawn
// from their dictionaries (placement, sample depths, colour spaces, Decode
// arrays, masks, JPEG data, inline images) and damaged pictures, which are
// reported and left out while the rest of the page is drawn.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pdf/kxPDFDoc.h"
#include "pdf/kxWarnings.h"
#include "platform/kxBitmap.h"
#include "platform/kxEmfRecorder.h"
#include "platform/kxJPEG.h"
#include "render/kxFaxDecoder.h"
#include "render/kxImageCodecs.h"
#include "render/kxImageDrawing.h"
#include "render/kxPDFFunction.h"
#include "render/kxPageRenderer.h"
#include "pdf/pdf_builder.h"
#include "render_support.h"

using namespace pw;
using pwtest::TestPage;

namespace {

// A 37 x 9 picture coded three ways (by libtiff), and its rows as the coder
// saw them: it coded the 1 bits as black runs, so 1 here reads as 0 (black).
const std::vector<uint8_t> kG4 = {
    0x2f, 0x91, 0xe2, 0x3e, 0x5f, 0x23, 0xc4, 0x7c, 0xbe, 0x47, 0x88, 0xf8, 0x4a, 0x10, 0x48, 0x20, 0x85,
    0x04, 0x12, 0x08, 0x21, 0x41, 0x04, 0x82, 0x08, 0x50, 0x4b, 0x41, 0x04, 0x82, 0x08, 0x50, 0x41, 0x20,
    0x82, 0x88, 0x88, 0xe2, 0x82, 0x09, 0x04, 0x10, 0xa0, 0x82, 0x5c, 0x20, 0x85, 0x04, 0x12, 0x08, 0x21,
    0x41, 0x04, 0x5f, 0x23, 0xc4, 0x7c, 0xbe, 0x12, 0xb0, 0x82, 0x14, 0x10, 0x48, 0x20, 0x85, 0x04, 0x12,
    0x08, 0x21, 0x41, 0x04, 0xb4, 0x12, 0x08, 0x21, 0x41, 0x04, 0x82, 0x08, 0x50, 0x41, 0x20, 0x82, 0x14,
    0x10, 0x56, 0x12, 0x08, 0x21, 0x41, 0x04, 0x82, 0x08, 0x50, 0x41, 0x20, 0x82, 0x14, 0x09, 0x52, 0x08,
    0x24, 0x10, 0x42, 0x82, 0x09, 0x04, 0x10, 0xa0, 0x82, 0x41, 0x04, 0x2a, 0x00, 0x20, 0x02};
const std::vector<uint8_t> kG31D = {
    0x00, 0x17, 0xc7, 0x87, 0xdf, 0x1e, 0x1f, 0x7c, 0x78, 0x7d, 0xd0, 0xe0, 0x02, 0x6b, 0xbe, 0x3c, 0x3e,
    0xf8, 0xf0, 0xfb, 0xe3, 0xc3, 0xee, 0x00, 0x26, 0xa8, 0x7d, 0xf1, 0xe1, 0xf7, 0xc7, 0x55, 0x00, 0x09,
    0xac, 0x3e, 0xf8, 0xf0, 0xfb, 0xf5, 0x00, 0x09, 0xaa, 0x1e, 0x1f, 0x7c, 0x78, 0x7d, 0xf1, 0xe1, 0xf7,
    0xc7, 0x43, 0x80, 0x08, 0xf8, 0xf0, 0xfb, 0xe3, 0xc3, 0xef, 0x8f, 0x0f, 0xbe, 0x38, 0x00, 0x9a, 0xa7,
    0xc7, 0x87, 0xdf, 0x1e, 0x1f, 0x7c, 0x78, 0x7e, 0x00, 0x04, 0x7d, 0xf1, 0xe1, 0xf7, 0xc7, 0x87, 0xdf,
    0x1e, 0x1f, 0x1c, 0x00, 0x4d, 0x71, 0xf7, 0xc7, 0x87, 0xdf, 0x1e, 0x1f, 0x7c, 0x79, 0xc0};
const std::vector<uint8_t> kG32D = {
    0x00, 0x1b, 0xe3, 0xc3, 0xef, 0x8f, 0x0f, 0xbe, 0x3c, 0x3e, 0xe8, 0x70, 0x01, 0x04, 0x12, 0x08, 0x21, 0x41, 0x04,
    0x82, 0x08, 0x50, 0x41, 0x20, 0x82, 0x14, 0x12, 0x80, 0x0c, 0xd5, 0x0f, 0xbe, 0x3c, 0x3e, 0xf8, 0xea, 0xa0, 0x01,
    0x45, 0x04, 0x12, 0x08, 0x21, 0x41, 0x04, 0xb0, 0x01, 0x9a, 0xa1, 0xe1, 0xf7, 0xc7, 0x87, 0xdf, 0x1e, 0x1f, 0x7c,
    0x74, 0x38, 0x00, 0x98, 0x41, 0x0a, 0x08, 0x24, 0x10, 0x42, 0x82, 0x09, 0x04, 0x10, 0xa0, 0x82, 0x58, 0x00, 0xcd,
    0x53, 0xe3, 0xc3, 0xef, 0x8f, 0x0f, 0xbe, 0x3c, 0x3f, 0x00, 0x02, 0x61, 0x20, 0x82, 0x14, 0x10, 0x48, 0x20, 0x85,
    0x04, 0x12, 0x08, 0x21, 0x40, 0x94, 0x00, 0x66, 0xb8, 0xfb, 0xe3, 0xc3, 0xef, 0x8f, 0x0f, 0xbe, 0x3c, 0xe0};
const char* kRows[] = {"0011011101100110111011001101110110010", "1100110111011001101110110011011101100",
                       "1011001101110110011010000000000000000", "1110110011011101100110000000000000000",
                       "1011101100110111011001101110110011010", "0110111011001101110110011011101100110",
                       "1001101110110011011101100110111011000", "0110011011101100110111011001101110110",
                       "1101100110111011001101110110011011100"};

std::string Rows(const std::vector<uint8_t>& packed, int w, int h) {
  std::string s;
  const size_t rb = (size_t(w) + 7) / 8;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      s += (y * rb + x / 8 < packed.size() && (packed[y * rb + x / 8] >> (7 - x % 8)) & 1) ? '1' : '0';
  return s;
}

std::string Expected() {
  std::string s;
  for (const char* r : kRows) s += r;
  for (char& c : s) c = c == '1' ? '0' : '1';
  return s;
}

// A page drawn at 72 PPI, its pictures read back and its warnings.
struct Drawn {
  struct Picture {
    TkxEmfRectL Box;  // destination, device pixels (right and bottom exclusive)
    TkxBitmap Pixels;
    bool Jpeg = false;
  };
  std::vector<Picture> Pictures;
  std::vector<std::string> Warnings;
  pwtest::Recording Rec;
};

Drawn Draw(const TestPage& page, bool pictures = true) {
  TkxPDFDocument doc;
  Drawn out;
  TkxWarningSink sink;
  TkxWarningScope scope(sink);
  doc.LoadFromMemory(pwtest::MakePdf(page));
  TkxEmfRecorder canvas(612, 792, 72);
  RenderPage(doc, 1, canvas, nullptr, pictures);
  const TkxMetafile& mf = canvas.Close();
  mf.EnumerateRecords([&](const TkxEmfRecord& r) {
    TkxEmrStretchDIBits d;
    if (r.Type() == EMR_STRETCHDIBITS && DecodeStretchDIBits(r, d) && d.Dib.Present()) {
      Drawn::Picture p;
      p.Box = {d.xDest, d.yDest, d.xDest + d.cxDest, d.yDest + d.cyDest};
      p.Jpeg = d.Dib.BmiSize >= 40 && d.Dib.Bmi[16] == 4;
      p.Pixels = TkxBitmap::FromDIB(d.Dib.Bmi, d.Dib.BmiSize, d.Dib.Bits, d.Dib.BitsSize);
      out.Pictures.push_back(std::move(p));
    }
    return true;
  });
  out.Rec = pwtest::ReadRecording(mf);
  for (const TkxWarning& w : sink.Warnings()) out.Warnings.push_back(w.Text);
  return out;
}

// One image XObject /Im1 drawn into a 100 x 100 point square.
TestPage ImagePage(const std::string& dict, const std::string& data, const std::string& content = "") {
  TestPage p;
  p.Resources = "/Font << /F1 5 0 R >> /XObject << /Im1 20 0 R >>";
  p.Content = content.empty() ? "q 100 0 0 100 100 500 cm /Im1 Do Q BT /F1 12 Tf 72 72 Td (after) Tj ET" : content;
  p.Streams.push_back({20, "/Type /XObject /Subtype /Image " + dict, data});
  return p;
}

uint32_t Rgb(const TkxBitmap& b, int x, int y) { return b.Pixel(x, y) & 0xFFFFFF; }

}  // namespace

TEST(FaxDecoder, Group4AndGroup3OneAndTwoDimensionalGiveThePicture) {
  struct Case {
    const char* Name;
    const std::vector<uint8_t>* Data;
    int K;
  };
  for (const Case& c : {Case{"G4", &kG4, -1}, Case{"G3 1-D", &kG31D, 0}, Case{"G3 2-D", &kG32D, 1}}) {
    TkxFaxParams p;
    p.K = c.K;
    p.Columns = 37;
    int rows = 0;
    const std::vector<uint8_t> out = DecodeFax(c.Data->data(), c.Data->size(), p, 9, &rows);
    EXPECT_EQ(rows, 9) << c.Name;
    EXPECT_EQ(Rows(out, 37, 9), Expected()) << c.Name;
  }
  // BlackIs1 turns the samples round.
  TkxFaxParams p;
  p.K = -1, p.Columns = 37, p.BlackIs1 = true;
  std::string inverted = Expected();
  for (char& ch : inverted) ch = ch == '1' ? '0' : '1';
  EXPECT_EQ(Rows(DecodeFax(kG4.data(), kG4.size(), p, 9), 37, 9), inverted);
}

TEST(FaxDecoder, DataEndingEarlyKeepsTheRowsDecodedAndGarbageStops) {
  TkxFaxParams p;
  p.K = -1, p.Columns = 37;
  int rows = 0;
  const std::vector<uint8_t> out = DecodeFax(kG4.data(), kG4.size() / 2, p, 9, &rows);
  EXPECT_LT(rows, 9);
  EXPECT_EQ(Rows(out, 37, rows), Expected().substr(0, size_t(rows) * 37));
  const std::vector<uint8_t> junk(64, 0x00);
  EXPECT_NO_THROW(DecodeFax(junk.data(), junk.size(), p, 100000, &rows));
  const std::vector<uint8_t> ones(64, 0xFF);
  p.K = 0;
  EXPECT_NO_THROW(DecodeFax(ones.data(), ones.size(), p, 100000, &rows));
}

// An embedded JBIG2 page holding the same picture as a generic region coded
// with MMR (which is Group 4 coding).
std::string Jbig2Page() {
  auto be32 = [](uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; };
  auto segment = [&](uint32_t number, uint8_t type, const std::string& data) {
    return be32(number) + char(type) + char(0) + char(1) + be32(uint32_t(data.size())) + data;
  };
  const std::string pageInfo = be32(37) + be32(9) + be32(0) + be32(0) + char(0) + std::string(2, '\0');
  const std::string region =
      be32(37) + be32(9) + be32(0) + be32(0) + char(0) + char(1) + std::string(kG4.begin(), kG4.end());
  return segment(0, 48, pageInfo) + segment(1, 39, region) + segment(2, 49, "");
}

TEST(ImageCodecs, Jbig2PageDrawsAndLacksNothing) {
  const std::string page = Jbig2Page();
  const TkxDecodedImage d =
      DecodeJBIG2(reinterpret_cast<const uint8_t*>(page.data()), page.size(), {}, int64_t{1} << 20);
  ASSERT_EQ(d.Width, 37);
  ASSERT_EQ(d.Height, 9);
  std::string rows;
  for (uint8_t v : d.Samples) rows += v ? '0' : '1';  // JBIG2 marks black with 1
  EXPECT_EQ(rows, Expected());
  // Through a page: black where the picture is black.
  const Drawn drawn =
      Draw(ImagePage("/Width 37 /Height 9 /BitsPerComponent 1 /ColorSpace /DeviceGray "
                     "/Filter /JBIG2Decode",
                     page));
  ASSERT_EQ(drawn.Pictures.size(), 1u);
  EXPECT_EQ(Rgb(drawn.Pictures[0].Pixels, 0, 0), Expected()[0] == '1' ? 0xFFFFFFu : 0x000000u);
  EXPECT_TRUE(drawn.Warnings.empty());
}

TEST(PDFFunctions, CalculatorProgramsAndTheirErrors) {
  struct Case {
    const char* Program;
    std::vector<double> In, Out;
    bool Ok;
  };
  const Case cases[] = {
      {"{ 2 mul 1 exch sub }", {0.25}, {0.5}, true},
      {"{ dup 0.5 gt { pop 1 } { pop 0 } ifelse }", {0.7}, {1}, true},
      {"{ dup 0.5 gt { pop 1 } if }", {0.2}, {0.2}, true},
      {"{ 3 1 roll }", {1, 2, 3}, {3, 1, 2}, true},
      {"{ 2 copy add 2 index }", {1, 2}, {1, 2, 3, 1}, true},
      {"{ 90 sin 0 cos 4 sqrt 7 3 idiv 7 3 mod }", {}, {1, 1, 2, 2, 1}, true},
      {"{ 1 0 div }", {}, {0}, true},
      {"{ +1.5e1 -.5 %comment\n add }", {}, {14.5}, true},
      {"{ pop pop }", {1}, {}, false},
      {"{ 1 { 2 }", {}, {}, false},
      {"{ 1 frob }", {}, {}, false},
  };
  for (const Case& c : cases) {
    std::vector<double> stack = c.In;
    EXPECT_EQ(RunCalculator(c.Program, stack), c.Ok) << c.Program;
    if (c.Ok) {
      EXPECT_EQ(stack, c.Out) << c.Program;
    }
  }
}

TEST(ImageDrawing, RgbImageFillsItsPlaceWithTheFirstRowAtTheTop) {
  // 2 x 2: red green / blue white.
  const std::string data("\xFF\x00\x00\x00\xFF\x00\x00\x00\xFF\xFF\xFF\xFF", 12);
  const Drawn d = Draw(ImagePage("/Width 2 /Height 2 /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /FlateDecode",
                                 pwtest::Deflate(data), "q 200 0 0 100 50 600 cm /Im1 Do Q"));
  ASSERT_EQ(d.Pictures.size(), 1u);
  EXPECT_EQ(d.Pictures[0].Box, (TkxEmfRectL{50, 92, 250, 192}));
  const TkxBitmap& b = d.Pictures[0].Pixels;
  EXPECT_EQ(Rgb(b, 0, 0), 0xFF0000u);
  EXPECT_EQ(Rgb(b, 1, 0), 0x00FF00u);
  EXPECT_EQ(Rgb(b, 0, 1), 0x0000FFu);
  EXPECT_TRUE(d.Warnings.empty());
}

TEST(ImageDrawing, AClipCutsThePictureToWhatShows) {
  const std::string data("\xFF\x00\x00\x00\xFF\x00\x00\x00\xFF\xFF\xFF\xFF", 12);
  const std::string dict = "/Width 2 /Height 2 /ColorSpace /DeviceRGB /BitsPerComponent 8";
  Drawn d = Draw(ImagePage(dict, data, "q 100 500 50 100 re W n 100 0 0 100 100 500 cm /Im1 Do Q"));
  ASSERT_EQ(d.Pictures.size(), 1u);
  EXPECT_EQ(d.Pictures[0].Box, (TkxEmfRectL{100, 192, 150, 292}));
  EXPECT_EQ(d.Pictures[0].Pixels.Width(), 1);
  EXPECT_EQ(Rgb(d.Pictures[0].Pixels, 0, 1), 0x0000FFu);
  // Clipped away completely: nothing.
  d = Draw(ImagePage(dict, data, "q 0 0 10 10 re W n 100 0 0 100 100 500 cm /Im1 Do Q"));
  EXPECT_TRUE(d.Pictures.empty());
}

TEST(ImageDrawing, SampleDepthsColourSpacesAndDecodeArrays) {
  struct Case {
    const char* Name;
    std::string Dict;
    std::string Data;
    std::vector<uint32_t> Pixels;  // the first row's first pixels
    std::vector<std::pair<int, std::string>> Objects = {};
  };
  const Case cases[] = {
      {"gray 8",
       "/Width 2 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8",
       std::string("\x00\x80", 2),
       {0x000000, 0x808080}},
      {"ICC one component reads gray",
       "/Width 2 /Height 1 /ColorSpace [/ICCBased 21 0 R] /BitsPerComponent 8",
       std::string("\x00\xFF", 2),
       {0x000000, 0xFFFFFF},
       {{21, "<< /N 1 /Length 0 >>\nstream\n\nendstream"}}},
      {"gray 1, rows padded to bytes",
       "/Width 10 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 1",
       std::string("\xFF\xC0\x00\x00", 4),
       {0xFFFFFF, 0xFFFFFF}},
      {"gray 2",
       "/Width 4 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 2",
       std::string("\x1B", 1),
       {0x000000, 0x555555, 0xAAAAAA, 0xFFFFFF}},
      {"gray 4 inverted",
       "/Width 2 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 4 /Decode [1 0]",
       std::string("\x0F", 1),
       {0xFFFFFF, 0x000000}},
      {"rgb 16",
       "/Width 1 /Height 1 /ColorSpace /DeviceRGB /BitsPerComponent 16",
       std::string("\xFF\xFF\x00\x00\x80\x00", 6),
       {0xFF0080}},
      {"cmyk",
       "/Width 2 /Height 1 /ColorSpace /DeviceCMYK /BitsPerComponent 8",
       std::string("\xFF\x00\x00\x00\x00\x00\x00\xFF", 8),
       {0x00FFFF, 0x000000}},
      {"indexed 1 bit, hex palette",
       "/Width 2 /Height 1 /ColorSpace [/Indexed /DeviceRGB 1 <FF0000 0000FF>] "
       "/BitsPerComponent 1",
       std::string("\x40", 1),
       {0xFF0000, 0x0000FF}},
      {"indexed 4 bit over gray",
       "/Width 2 /Height 1 /ColorSpace [/Indexed /DeviceGray 15 <00112233445566778899AABBCCDDEEFF>] "
       "/BitsPerComponent 4",
       std::string("\x2F", 1),
       {0x222222, 0xFFFFFF}},
      {"separation, exponential tint",
       "/Width 2 /Height 1 /ColorSpace [/Separation /Spot /DeviceRGB "
       "<< /FunctionType 2 /Domain [0 1] /C0 [1 1 1] /C1 [1 0 0] /N 1 >>] /BitsPerComponent 8",
       std::string("\x00\xFF", 2),
       {0xFFFFFF, 0xFF0000}},
      {"deviceN, calculator tint",
       "/Width 1 /Height 1 /ColorSpace [/DeviceN [/A /B] /DeviceGray 21 0 R] "
       "/BitsPerComponent 8",
       std::string("\xFF\x00", 2),
       {0x000000},
       {{21,
         "<< /FunctionType 4 /Domain [0 1 0 1] /Range [0 1] /Length 22 >>\nstream\n{ add 1 exch sub }\nendstream"}}},
      {"named space from the resources",
       "/Width 1 /Height 1 /ColorSpace /CS0 /BitsPerComponent 8",
       std::string("\x00\xFF\x00", 3),
       {0x00FF00}},
  };
  for (const Case& c : cases) {
    TestPage p = ImagePage(c.Dict, c.Data);
    p.Resources += " /ColorSpace << /CS0 /DeviceRGB >>";
    p.Objects = c.Objects;
    const Drawn d = Draw(p);
    ASSERT_EQ(d.Pictures.size(), 1u) << c.Name;
    for (size_t i = 0; i < c.Pixels.size(); ++i)
      EXPECT_EQ(Rgb(d.Pictures[0].Pixels, int(i), 0), c.Pixels[i]) << c.Name << " pixel " << i;
  }
}

TEST(ImageDrawing, MasksPaintThroughOrHidePixels) {
  // An image mask paints the fill colour where its samples are 0.
  Drawn d = Draw(ImagePage("/Width 2 /Height 1 /ImageMask true", std::string("\x40", 1),
                           "q 0 0 1 rg 100 0 0 100 100 500 cm /Im1 Do Q"));
  ASSERT_EQ(d.Pictures.size(), 1u);
  EXPECT_EQ(Rgb(d.Pictures[0].Pixels, 0, 0), 0x0000FFu);
  // Only the painted part is drawn: what the mask hides must not cover the page.
  EXPECT_EQ(d.Pictures[0].Pixels.Width(), 1);
  EXPECT_EQ(d.Pictures[0].Box, (TkxEmfRectL{100, 192, 150, 292}));

  // A soft mask of half coverage, and a colour key that hides black.
  TestPage soft = ImagePage("/Width 1 /Height 1 /ColorSpace /DeviceRGB /BitsPerComponent 8 /SMask 21 0 R",
                            std::string("\x00\x00\x00", 3));
  soft.Streams.push_back({21,
                          "/Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray "
                          "/BitsPerComponent 8",
                          std::string("\x80", 1)});
  d = Draw(soft);
  ASSERT_EQ(d.Pictures.size(), 1u);
  EXPECT_NEAR(double(d.Pictures[0].Pixels.Pixel(0, 0) & 0xFF), 127, 2);

  d = Draw(ImagePage("/Width 2 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8 /Mask [0 10]",
                     std::string("\x05\x40", 2)));
  ASSERT_EQ(d.Pictures.size(), 1u);
  EXPECT_EQ(d.Pictures[0].Box.left, 150);
  EXPECT_EQ(Rgb(d.Pictures[0].Pixels, 0, 0), 0x404040u);

  // A stencil mask stream hides where its samples are 1.
  TestPage stencil = ImagePage("/Width 2 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8 /Mask 21 0 R",
                               std::string("\x00\x00", 2));
  stencil.Streams.push_back(
      {21, "/Type /XObject /Subtype /Image /Width 2 /Height 1 /ImageMask true", std::string("\x40", 1)});
  d = Draw(stencil);
  ASSERT_EQ(d.Pictures.size(), 1u);
  EXPECT_EQ(Rgb(d.Pictures[0].Pixels, 0, 0), 0x000000u);
  EXPECT_EQ(d.Pictures[0].Box.right, 150);

  // A picture its mask hides completely draws nothing.
  TestPage hidden = ImagePage("/Width 2 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8 /SMask 21 0 R",
                              std::string("\x00\x00", 2));
  hidden.Streams.push_back({21,
                            "/Type /XObject /Subtype /Image /Width 2 /Height 1 /ColorSpace /DeviceGray "
                            "/BitsPerComponent 8",
                            std::string("\x00\x00", 2)});
  EXPECT_TRUE(Draw(hidden).Pictures.empty());
}

TEST(ImageDrawing, JpegDataIsRecordedUnchangedUnlessTurned) {
  TkxBitmap b(8, 8);
  b.Fill(0xFF3060C0);
  const std::vector<uint8_t> jpeg = EncodeJPEG(b, 90);
  const std::string data(jpeg.begin(), jpeg.end());
  const std::string dict = "/Width 8 /Height 8 /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode";
  Drawn d = Draw(ImagePage(dict, data));
  ASSERT_EQ(d.Pictures.size(), 1u);
  EXPECT_TRUE(d.Pictures[0].Jpeg);
  EXPECT_NEAR(double(Rgb(d.Pictures[0].Pixels, 4, 4) & 0xFF), 0xC0, 8);
  // A quarter turn draws the decoded pixels.
  d = Draw(ImagePage(dict, data, "q 0 100 -100 0 300 300 cm /Im1 Do Q"));
  ASSERT_EQ(d.Pictures.size(), 1u);
  EXPECT_FALSE(d.Pictures[0].Jpeg);
  // Flate over JPEG.
  d = Draw(ImagePage("/Width 8 /Height 8 /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter [/FlateDecode /DCTDecode]",
                     pwtest::Deflate(data)));
  ASSERT_EQ(d.Pictures.size(), 1u);
  EXPECT_TRUE(d.Pictures[0].Jpeg);
}

TEST(ImageDrawing, InlineImagesAreDrawnLikeXObjects) {
  TestPage p;
  p.Content = "q 50 0 0 50 10 10 cm BI /W 2 /H 1 /CS /RGB /BPC 8 ID " + std::string("\xFF\0\0\0\0\xFF", 6) +
              " EI Q q 50 0 0 50 100 10 cm BI /W 2 /H 1 /CS /G /BPC 8 /F /AHx ID 00FF> EI Q";
  const Drawn d = Draw(p);
  ASSERT_EQ(d.Pictures.size(), 2u);
  EXPECT_EQ(Rgb(d.Pictures[0].Pixels, 0, 0), 0xFF0000u);
  EXPECT_EQ(Rgb(d.Pictures[0].Pixels, 1, 0), 0x0000FFu);
  EXPECT_EQ(Rgb(d.Pictures[1].Pixels, 1, 0), 0xFFFFFFu);
}

// For a reader that keeps only the text: images (XObject and inline) are not
// decoded, so a damaged one gives no warning, and shadings are not painted;
// the text around them is drawn as before.
TEST(ImageDrawing, WithoutPicturesNothingIsDecodedAndTheTextStays) {
  TestPage p = ImagePage("/Width 4 /Height 4 /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /FlateDecode",
                         "not deflate data");
  p.Resources += " /Shading << /Sh1 21 0 R >> /Pattern << /P1 22 0 R >>";
  p.Objects = {{21,
                "<< /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 0 100 0] "
                "/Function << /FunctionType 2 /Domain [0 1] /C0 [1 0 0] /C1 [0 0 1] /N 1 >> >>"},
               {22, "<< /PatternType 2 /Shading 21 0 R >>"}};
  p.Content =
      "BT /F1 12 Tf 72 700 Td (before) Tj ET q 100 0 0 100 100 500 cm /Im1 Do Q "
      "q 50 0 0 50 10 10 cm BI /W 2 /H 1 /CS /RGB /BPC 8 ID " +
      std::string("\xFF\0\0\0\0\xFF", 6) +
      " EI Q /Sh1 sh /Pattern cs /P1 scn 0 0 50 50 re f BT /F1 12 Tf 72 72 Td (after) Tj ET";
  const Drawn with = Draw(p);
  EXPECT_EQ(with.Pictures.size(), 3u);  // the inline image and the two shadings
  EXPECT_FALSE(with.Warnings.empty());
  const Drawn without = Draw(p, false);
  EXPECT_TRUE(without.Pictures.empty());
  EXPECT_TRUE(without.Warnings.empty());
  EXPECT_EQ(without.Rec.JoinedText(), with.Rec.JoinedText());
  EXPECT_EQ(without.Rec.JoinedText(), "before|after");
}

TEST(ImageDrawing, DamagedPicturesAreReportedOnceAndThePageGoesOn) {
  struct Case {
    const char* Name;
    std::string Dict;
    std::string Data;
    size_t Pictures;
  };
  const Case cases[] = {
      {"truncated samples", "/Width 4 /Height 4 /ColorSpace /DeviceGray /BitsPerComponent 8", std::string(6, '\x20'),
       1},
      {"lying width", "/Width 2000000000 /Height 2000000000 /ColorSpace /DeviceRGB /BitsPerComponent 8",
       std::string(12, '\0'), 0},
      {"broken JPEG", "/Width 8 /Height 8 /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode",
       std::string("\xFF\xD8\xFF\xE0garbage", 11), 0},
      {"JBIG2 without its globals",
       "/Width 8 /Height 8 /BitsPerComponent 1 /ColorSpace /DeviceGray "
       "/Filter /JBIG2Decode /DecodeParms << /JBIG2Globals 99 0 R >>",
       std::string(20, '\x01'), 0},
      {"JPEG 2000 garbage", "/Width 8 /Height 8 /Filter /JPXDecode", std::string(40, '\x07'), 0},
      {"unknown filter", "/Width 8 /Height 8 /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /Foo",
       std::string(64, '\0'), 0},
      {"bad bits", "/Width 8 /Height 8 /ColorSpace /DeviceGray /BitsPerComponent 3", std::string(64, '\0'), 0},
  };
  for (const Case& c : cases) {
    // The same image twice: one warning.
    const Drawn d = Draw(ImagePage(c.Dict, c.Data,
                                   "q 100 0 0 100 100 500 cm /Im1 Do Q q 10 0 0 10 0 0 cm /Im1 Do Q "
                                   "BT /F1 12 Tf 72 72 Td (after) Tj ET"));
    EXPECT_EQ(d.Pictures.size(), c.Pictures * 2) << c.Name;
    EXPECT_EQ(d.Warnings.size(), 1u) << c.Name;
    EXPECT_EQ(d.Rec.JoinedText(), "after") << c.Name;
  }
}
