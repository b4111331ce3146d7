#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>

#include "platform/kxBitmap.h"
#include "platform/kxRasterOps.h"

using namespace pw;

namespace {

void Put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
  Put16(v, x & 0xFFFF);
  Put16(v, x >> 16);
}

// A BITMAPINFOHEADER; masks or colour entries are appended by the caller.
std::vector<uint8_t> InfoHeader(int32_t w, int32_t h, int bpp, uint32_t compression = 0, uint32_t clrUsed = 0,
                                uint32_t size = 40) {
  std::vector<uint8_t> v;
  Put32(v, size);
  Put32(v, static_cast<uint32_t>(w));
  Put32(v, static_cast<uint32_t>(h));
  Put16(v, 1);
  Put16(v, static_cast<uint32_t>(bpp));
  Put32(v, compression);
  for (int i = 0; i < 3; ++i) Put32(v, 0);
  Put32(v, clrUsed);
  Put32(v, 0);
  v.resize(size, 0);
  return v;
}

TkxBitmap FromDIB(const std::vector<uint8_t>& bmi, const std::vector<uint8_t>& bits) {
  return TkxBitmap::FromDIB(bmi.data(), bmi.size(), bits.data(), bits.size());
}

}  // namespace

TEST(Bitmap, NewBitmapsAndPixelAccess) {
  TkxBitmap opaque(3, 2);
  EXPECT_EQ(opaque.Pixel(2, 1), 0xFFFFFFFFu);
  EXPECT_EQ(opaque.Stride(), 12);
  TkxBitmap clear(3, 2, true);
  EXPECT_EQ(clear.Pixel(0, 0), 0u);

  clear.SetPixel(1, 1, 0x80FF0000);  // half-transparent red, stored premultiplied
  EXPECT_EQ(clear.Scanline(1)[1], 0x80800000u);
  EXPECT_EQ(clear.Pixel(1, 1), 0x80FF0000u);
  opaque.SetPixel(0, 0, 0x00123456);  // alpha ignored without an alpha channel
  EXPECT_EQ(opaque.Pixel(0, 0), 0xFF123456u);
  EXPECT_EQ(opaque.Pixel(-1, 0), 0u);  // outside: nothing read, nothing written
  opaque.SetPixel(3, 0, 0);

  clear.SetHasAlpha(false);  // flattened over white
  EXPECT_EQ(clear.Pixel(1, 1), 0xFFFF7F7Fu);
  EXPECT_EQ(clear.Pixel(0, 0), 0xFFFFFFFFu);

  opaque.SetSize(4, 3);  // keeps the top-left part, new pixels white
  EXPECT_EQ(opaque.Pixel(0, 0), 0xFF123456u);
  EXPECT_EQ(opaque.Pixel(3, 2), 0xFFFFFFFFu);
}

TEST(Bitmap, SizeLimits) {
  EXPECT_THROW(TkxBitmap(kMaxBitmapDimension + 1, 1), ELimitExceeded);
  EXPECT_THROW(TkxBitmap(20000, 20000), ELimitExceeded);  // 400 Mpx
  EXPECT_THROW(TkxBitmap(-1, 5), EInvalidGraphic);
  TkxBitmap b(2, 2);
  EXPECT_THROW(b.SetSize(100000, 1), ELimitExceeded);
  EXPECT_EQ(b.Width(), 2);
}

// Every depth round-trips through a BMP file and through a DIB, bottom-up and top-down, on a width that needs
// row padding; the colours are ones each depth holds exactly.
TEST(Bitmap, DIBRoundTripPerDepth) {
  struct Case {
    int bpp;
    std::vector<uint32_t> colours;
  };
  const std::vector<Case> cases = {
      {1, {0xFF000000, 0xFFFFFFFF}},
      {4, {0xFF000000, 0xFFFF0000, 0xFF008080, 0xFFC0C0C0, 0xFFFFFFFF}},
      {8, {0xFF000000, 0xFF3366CC, 0xFFFF0000, 0xFFFFFFFF, 0xFF999999}},
      {16, {0xFF000000, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF}},
      {24, {0xFF000000, 0xFF123456, 0xFFFEDCBA, 0xFFFFFFFF}},
      {32, {0xFF000000, 0xFF123456, 0xFFFEDCBA, 0xFFFFFFFF}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("bits " + std::to_string(c.bpp));
    TkxBitmap src(13, 5);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 13; ++x) src.SetPixel(x, y, c.colours[(x * 3 + y) % c.colours.size()]);

    std::vector<uint8_t> file = src.SaveToBMP(c.bpp);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file.size(), static_cast<size_t>(file[2] | file[3] << 8 | file[4] << 16));
    EXPECT_EQ(TkxBitmap::LoadFromBMP(file), src);

    std::vector<uint8_t> header = src.ToDIBHeader(c.bpp), bits = src.ToDIBBits(c.bpp);
    EXPECT_EQ(bits.size(), ((13 * c.bpp + 31) / 32 * 4) * 5u);
    EXPECT_EQ(FromDIB(header, bits), src);

    // The same picture stored top-down: negative height, rows reversed.
    std::vector<uint8_t> topDown(bits.size());
    size_t row = bits.size() / 5;
    for (int y = 0; y < 5; ++y) std::memcpy(&topDown[row * y], &bits[row * (4 - y)], row);
    int32_t negative = -5;
    std::memcpy(&header[8], &negative, 4);
    EXPECT_EQ(FromDIB(header, topDown), src);
  }
}

TEST(Bitmap, ThirtyTwoBitAlpha) {
  TkxBitmap src(2, 1, true);
  src.SetPixel(0, 0, 0x80FF0000);
  src.SetPixel(1, 0, 0xFF00FF00);
  TkxBitmap back = TkxBitmap::LoadFromBMP(src.SaveToBMP(32));
  ASSERT_TRUE(back.HasAlpha());
  EXPECT_EQ(back.Pixel(0, 0), 0x80FF0000u);
  EXPECT_EQ(back.Pixel(1, 0), 0xFF00FF00u);
  // Lower depths flatten over white.
  EXPECT_EQ(TkxBitmap::LoadFromBMP(src.SaveToBMP(24)).Pixel(0, 0), 0xFFFF7F7Fu);

  // A 32-bit DIB whose fourth bytes are all zero is opaque (the byte is unused there).
  std::vector<uint8_t> bits = {0x56, 0x34, 0x12, 0x00};
  TkxBitmap opaque = FromDIB(InfoHeader(1, 1, 32), bits);
  EXPECT_FALSE(opaque.HasAlpha());
  EXPECT_EQ(opaque.Pixel(0, 0), 0xFF123456u);
}

// Handwritten DIBs in the forms other producers write.
TEST(Bitmap, ForeignDIBForms) {
  {  // 16-bit 5-6-5 bit fields
    std::vector<uint8_t> bmi = InfoHeader(2, 1, 16, kBI_BITFIELDS);
    Put32(bmi, 0xF800), Put32(bmi, 0x07E0), Put32(bmi, 0x001F);
    std::vector<uint8_t> bits = {0x00, 0xF8, 0xE0, 0x07};  // red, green
    TkxBitmap b = FromDIB(bmi, bits);
    EXPECT_EQ(b.Pixel(0, 0), 0xFFFF0000u);
    EXPECT_EQ(b.Pixel(1, 0), 0xFF00FF00u);
  }
  {  // 32-bit bit fields in RGBA order with the masks inside a V5 header, alpha taken from its mask
    std::vector<uint8_t> bmi = InfoHeader(2, 1, 32, kBI_BITFIELDS, 0, 124);
    uint32_t masks[4] = {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000};
    std::memcpy(&bmi[40], masks, 16);
    std::vector<uint8_t> bits = {0x10, 0x20, 0x30, 0xFF, 0xFF, 0x00, 0x00, 0x00};
    TkxBitmap b = FromDIB(bmi, bits);
    ASSERT_TRUE(b.HasAlpha());
    EXPECT_EQ(b.Pixel(0, 0), 0xFF102030u);
    EXPECT_EQ(b.Pixel(1, 0), 0x00000000u);
  }
  {  // 8-bit with a two-entry colour table (ClrUsed 2); an index beyond it is black
    std::vector<uint8_t> bmi = InfoHeader(3, 1, 8, 0, 2);
    Put32(bmi, 0x00FF0000), Put32(bmi, 0x000000FF);
    std::vector<uint8_t> bits = {1, 0, 200, 0};
    TkxBitmap b = FromDIB(bmi, bits);
    EXPECT_EQ(b.Pixel(0, 0), 0xFF0000FFu);
    EXPECT_EQ(b.Pixel(1, 0), 0xFFFF0000u);
    EXPECT_EQ(b.Pixel(2, 0), 0xFF000000u);
  }
  {  // core header (12 bytes) with three-byte colour entries, 1 bit
    std::vector<uint8_t> bmi;
    Put32(bmi, 12), Put16(bmi, 9), Put16(bmi, 1), Put16(bmi, 1), Put16(bmi, 1);
    bmi.insert(bmi.end(), {0, 0, 255, 255, 0, 0});   // red, blue
    std::vector<uint8_t> bits = {0x80, 0x80, 0, 0};  // pixels 0 and 8 set
    TkxBitmap b = FromDIB(bmi, bits);
    EXPECT_EQ(b.Pixel(0, 0), 0xFF0000FFu);
    EXPECT_EQ(b.Pixel(1, 0), 0xFFFF0000u);
    EXPECT_EQ(b.Pixel(8, 0), 0xFF0000FFu);
  }
}

TEST(Bitmap, HostileDIBHeadersAreRefused) {
  std::vector<uint8_t> bits(64, 0);
  struct Case {
    const char* what;
    std::vector<uint8_t> bmi;
    size_t bitsSize;
    bool limit;  // ELimitExceeded rather than EInvalidGraphic
  };
  std::vector<uint8_t> fieldsNoMasks = InfoHeader(2, 2, 32, kBI_BITFIELDS);
  std::vector<uint8_t> bigHeaderSize = InfoHeader(2, 2, 24);
  bigHeaderSize[0] = 200;
  const std::vector<Case> cases = {
      {"100000 x 100000", InfoHeader(100000, 100000, 24), 64, true},
      {"huge top-down", InfoHeader(40000, -40000, 1), 64, true},
      {"zero width", InfoHeader(0, 2, 24), 64, false},
      {"negative width", InfoHeader(-2, 2, 24), 64, false},
      {"zero height", InfoHeader(2, 0, 24), 64, false},
      {"INT_MIN height", InfoHeader(2, INT_MIN, 24), 64, true},
      {"7 bits", InfoHeader(2, 2, 7), 64, false},
      {"0 bits (embedded JPEG)", InfoHeader(2, 2, 0, 4), 64, false},
      {"RLE8", InfoHeader(2, 2, 8, 1), 64, false},
      {"bit fields on 24 bits", InfoHeader(2, 2, 24, kBI_BITFIELDS), 64, false},
      {"bit fields without masks", fieldsNoMasks, 64, false},
      {"header size beyond the data", bigHeaderSize, 64, false},
      {"header size 20", InfoHeader(2, 2, 24, 0, 0, 20), 64, false},
      {"short header", std::vector<uint8_t>(8, 0), 64, false},
      {"bits too short", InfoHeader(5, 5, 24), 5 * 16 - 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      TkxBitmap::FromDIB(c.bmi.data(), c.bmi.size(), bits.data(), std::min(bits.size(), c.bitsSize));
      ADD_FAILURE() << "accepted";
    } catch (const ELimitExceeded&) {
      EXPECT_TRUE(c.limit);
    } catch (const EInvalidGraphic&) {
      EXPECT_FALSE(c.limit);
    }
  }
  // 5 x 5 at 24 bits needs 4 padded rows plus 15 bytes: exactly that is enough.
  std::vector<uint8_t> exact(16 * 4 + 15, 0);
  EXPECT_NO_THROW(FromDIB(InfoHeader(5, 5, 24), exact));
  EXPECT_THROW(TkxBitmap::FromDIB(nullptr, 0, nullptr, 0), EInvalidGraphic);
}

TEST(Bitmap, HostileBMPFilesAreRefused) {
  std::vector<uint8_t> good = TkxBitmap(3, 3).SaveToBMP(24);
  auto patched = [&](size_t at, uint32_t v) {
    std::vector<uint8_t> f = good;
    std::memcpy(&f[at], &v, 4);
    return f;
  };
  const std::vector<std::vector<uint8_t>> bad = {
      {},
      {'B', 'M'},
      std::vector<uint8_t>(good.begin(), good.begin() + 30),  // cut inside the header
      std::vector<uint8_t>(good.begin(), good.end() - 10),    // bits cut short
      patched(10, 0xFFFFFFF0),                                // bits offset beyond the file
      patched(10, 20),                                        // bits offset inside the header
      patched(14, 0x7FFFFFFF),                                // header size beyond the file
  };
  std::vector<uint8_t> notBM = good;
  notBM[0] = 'X';
  EXPECT_THROW(TkxBitmap::LoadFromBMP(notBM), EInvalidGraphic);
  for (size_t i = 0; i < bad.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_THROW(TkxBitmap::LoadFromBMP(bad[i]), EInvalidGraphic);
  }
}

// ---- raster operations ----

TEST(RasterOps, NamedOperationsOnPixels) {
  using F = std::function<uint32_t(uint32_t, uint32_t, uint32_t)>;  // (P, S, D)
  struct Case {
    uint32_t rop;
    F expect;
  };
  const std::vector<Case> cases = {
      {rop::SRCCOPY, [](uint32_t, uint32_t s, uint32_t) { return s; }},
      {rop::SRCPAINT, [](uint32_t, uint32_t s, uint32_t d) { return s | d; }},
      {rop::SRCAND, [](uint32_t, uint32_t s, uint32_t d) { return s & d; }},
      {rop::SRCINVERT, [](uint32_t, uint32_t s, uint32_t d) { return s ^ d; }},
      {rop::SRCERASE, [](uint32_t, uint32_t s, uint32_t d) { return s & ~d; }},
      {rop::NOTSRCCOPY, [](uint32_t, uint32_t s, uint32_t) { return ~s; }},
      {rop::NOTSRCERASE, [](uint32_t, uint32_t s, uint32_t d) { return ~(s | d); }},
      {rop::MERGECOPY, [](uint32_t p, uint32_t s, uint32_t) { return p & s; }},
      {rop::MERGEPAINT, [](uint32_t, uint32_t s, uint32_t d) { return ~s | d; }},
      {rop::PATCOPY, [](uint32_t p, uint32_t, uint32_t) { return p; }},
      {rop::PATPAINT, [](uint32_t p, uint32_t s, uint32_t d) { return p | ~s | d; }},
      {rop::PATINVERT, [](uint32_t p, uint32_t, uint32_t d) { return p ^ d; }},
      {rop::DSTINVERT, [](uint32_t, uint32_t, uint32_t d) { return ~d; }},
      {rop::BLACKNESS, [](uint32_t, uint32_t, uint32_t) { return 0u; }},
      {rop::WHITENESS, [](uint32_t, uint32_t, uint32_t) { return ~0u; }},
  };
  const uint32_t srcs[] = {0x000000, 0xFFFFFF, 0xCC33A5, 0x12F00F};
  const uint32_t dsts[] = {0xFFFFFF, 0x000000, 0xAA55F0, 0x5A5A5A};
  const uint32_t pattern = 0xF0C30F;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.rop);
    EXPECT_TRUE(IsNamedRop(c.rop));
    TkxBitmap src(4, 1), dst(4, 1);
    for (int x = 0; x < 4; ++x) src.SetPixel(x, 0, srcs[x]), dst.SetPixel(x, 0, dsts[x]);
    CopyRect(dst, 0, 0, src, c.rop, pattern);
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(dst.Pixel(x, 0), 0xFF000000u | (c.expect(pattern, srcs[x], dsts[x]) & 0xFFFFFF)) << x;
  }
  EXPECT_FALSE(IsNamedRop(0x00CC0000));  // right index, wrong low word
  EXPECT_TRUE(RopUsesSource(rop::SRCAND));
  EXPECT_FALSE(RopUsesSource(rop::PATINVERT));
  EXPECT_TRUE(RopUsesPattern(rop::MERGECOPY));
  EXPECT_FALSE(RopUsesPattern(rop::SRCPAINT));
  // An unnamed code is still carried out by its index byte: 0xE2 is D ^ (S & (P ^ D)).
  EXPECT_EQ(ApplyRop3(0x00E20746, 0xF0F0F0, 0xCCCCCC, 0xAAAAAA), 0xE2E2E2u);
}

// A mask blitted with SRCAND and the picture with SRCPAINT at the same place give the picture on the background.
TEST(RasterOps, MaskThenPictureMerge) {
  TkxBitmap mask(3, 1), picture(3, 1, false), dst(3, 1);
  dst.Fill(0xFF00FF00);
  const uint32_t maskPx[] = {0xFFFFFF, 0x000000, 0x000000};  // white keeps the background
  const uint32_t picPx[] = {0x000000, 0xFF0000, 0x123456};   // black where the background shows
  for (int x = 0; x < 3; ++x) mask.SetPixel(x, 0, maskPx[x]), picture.SetPixel(x, 0, picPx[x]);
  CopyRect(dst, 0, 0, mask, rop::SRCAND);
  CopyRect(dst, 0, 0, picture, rop::SRCPAINT);
  EXPECT_EQ(dst.Pixel(0, 0), 0xFF00FF00u);
  EXPECT_EQ(dst.Pixel(1, 0), 0xFFFF0000u);
  EXPECT_EQ(dst.Pixel(2, 0), 0xFF123456u);
}

TEST(RasterOps, StretchMirrorAndClip) {
  TkxBitmap src(2, 2);
  src.SetPixel(0, 0, 0xFFFF0000), src.SetPixel(1, 0, 0xFF00FF00);
  src.SetPixel(0, 1, 0xFF0000FF), src.SetPixel(1, 1, 0xFF000000);

  TkxBitmap big = StretchBitmap(src, 0, 0, 2, 2, 4, 4, TkxStretchFilter::sfNearest);
  ASSERT_EQ(big.Width(), 4);
  EXPECT_EQ(big.Pixel(1, 1), 0xFFFF0000u);
  EXPECT_EQ(big.Pixel(2, 1), 0xFF00FF00u);
  EXPECT_EQ(big.Pixel(3, 3), 0xFF000000u);

  TkxBitmap mirrored = StretchBitmap(src, 0, 0, 2, 2, -2, 2, TkxStretchFilter::sfNearest);
  EXPECT_EQ(mirrored.Pixel(0, 0), 0xFF00FF00u);
  EXPECT_EQ(mirrored.Pixel(1, 1), 0xFF0000FFu);

  // Smooth scaling of a flat picture stays flat up to the edges.
  TkxBitmap flat(3, 3);
  flat.Fill(0xFF336699);
  TkxBitmap up = StretchBitmap(flat, 0, 0, 3, 3, 17, 11);
  TkxBitmap down = StretchBitmap(flat, 0, 0, 3, 3, 2, 1);
  EXPECT_EQ(up.Pixel(0, 0), 0xFF336699u);
  EXPECT_EQ(up.Pixel(16, 10), 0xFF336699u);
  EXPECT_EQ(down.Pixel(1, 0), 0xFF336699u);

  // Destination partly outside: only the inside changes; unstretched source beyond src leaves pixels alone.
  TkxBitmap dst(3, 3);
  CopyRect(dst, 2, 2, 2, 2, src, 0, 0, 2, 2, rop::SRCCOPY);
  EXPECT_EQ(dst.Pixel(2, 2), 0xFFFF0000u);
  EXPECT_EQ(dst.Pixel(1, 1), 0xFFFFFFFFu);
  TkxBitmap dst2(3, 1);
  CopyRect(dst2, 0, 0, 3, 1, src, 0, 0, 3, 1, rop::SRCCOPY);
  EXPECT_EQ(dst2.Pixel(1, 0), 0xFF00FF00u);
  EXPECT_EQ(dst2.Pixel(2, 0), 0xFFFFFFFFu);

  // Within one bitmap, overlapping areas copy as if from a snapshot.
  TkxBitmap row(4, 1);
  for (int x = 0; x < 4; ++x) row.SetPixel(x, 0, 0xFF000000u | static_cast<uint32_t>(x));
  CopyRect(row, 1, 0, 3, 1, row, 0, 0, 3, 1, rop::SRCCOPY);
  EXPECT_EQ(row.Pixel(3, 0), 0xFF000002u);

  // A stretch far beyond the size limits renders only the visible window.
  TkxBitmap small(4, 4);
  CopyRect(small, -50000, -50000, 100000, 100000, flat, 0, 0, 3, 3, rop::SRCCOPY);
  EXPECT_EQ(small.Pixel(3, 3), 0xFF336699u);
}

TEST(RasterOps, AlphaSources) {
  TkxBitmap src(1, 1, true), opaque(1, 1), clear(1, 1, true);
  src.SetPixel(0, 0, 0x800000FF);
  CopyRect(clear, 0, 0, src, rop::SRCCOPY);  // alpha copied with SRCCOPY
  EXPECT_EQ(clear.Pixel(0, 0), 0x800000FFu);
  opaque.Fill(0xFF000000);
  CopyRect(opaque, 0, 0, src, rop::SRCPAINT);  // other codes see the source over white
  EXPECT_EQ(opaque.Pixel(0, 0), 0xFF7F7FFFu);
}
