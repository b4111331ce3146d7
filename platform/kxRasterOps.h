// Bitmap copies with GDI ternary raster operations (how a mask blitted with
// SRCAND and a picture blitted with SRCPAINT at the same place combine), and
// stretching through cairo.
#pragma once

#include <cstdint>

#include "platform/kxBitmap.h"

namespace pw {

// Raster operation codes as EMF blit records carry them (dwRop).
namespace rop {
constexpr uint32_t SRCCOPY = 0x00CC0020;      // S
constexpr uint32_t SRCPAINT = 0x00EE0086;     // S | D
constexpr uint32_t SRCAND = 0x008800C6;       // S & D
constexpr uint32_t SRCINVERT = 0x00660046;    // S ^ D
constexpr uint32_t SRCERASE = 0x00440328;     // S & ~D
constexpr uint32_t NOTSRCCOPY = 0x00330008;   // ~S
constexpr uint32_t NOTSRCERASE = 0x001100A6;  // ~(S | D)
constexpr uint32_t MERGECOPY = 0x00C000CA;    // P & S
constexpr uint32_t MERGEPAINT = 0x00BB0226;   // ~S | D
constexpr uint32_t PATCOPY = 0x00F00021;      // P
constexpr uint32_t PATPAINT = 0x00FB0A09;     // P | ~S | D
constexpr uint32_t PATINVERT = 0x005A0049;    // P ^ D
constexpr uint32_t DSTINVERT = 0x00550009;    // ~D
constexpr uint32_t BLACKNESS = 0x00000042;    // 0
constexpr uint32_t WHITENESS = 0x00FF0062;    // 1
}  // namespace rop

// One of the fifteen named codes above (the whole 32-bit value compared).
bool IsNamedRop(uint32_t rop);
// The operation reads the source / the pattern (brush).
bool RopUsesSource(uint32_t rop);
bool RopUsesPattern(uint32_t rop);
// The result of the operation (its index byte, bits 16-23 of the code) on 24-bit colours.
uint32_t ApplyRop3(uint32_t rop, uint32_t pattern, uint32_t source, uint32_t dest);

enum class TkxStretchFilter : uint8_t {
  sfNearest,   // pixel replication (COLORONCOLOR)
  sfBilinear,  // bilinear interpolation
  sfSmooth     // bilinear when enlarging, area-averaging when reducing (HALFTONE)
};

// Scales the part (sx, sy, sw, sh) of src to width x height through cairo. Negative sw/sh or width/height
// mirror the picture (as StretchBlt does when the signs of source and destination sizes differ); the
// result is |width| x |height|. Source pixels beyond the bitmap repeat its edge.
TkxBitmap StretchBitmap(const TkxBitmap& src, int sx, int sy, int sw, int sh, int width, int height,
                        TkxStretchFilter filter = TkxStretchFilter::sfSmooth);

// Draws the part (sx, sy, sw, sh) of src onto (dx, dy, dw, dh) of dst with raster operation rop; sizes that
// differ stretch (StretchBitmap), signs that differ mirror. pattern is the brush colour (0xRRGGBB) for the
// codes that use one. The operation works on colours: a source with alpha counts as composited over white and
// touched pixels of a destination with alpha become opaque, except for SRCCOPY, which copies alpha as well.
// Destination pixels outside dst, or whose source lies outside src (unstretched copies), are left alone.
// Any of the 256 ternary codes is carried out; the caller decides which codes it accepts (IsNamedRop).
void CopyRect(TkxBitmap& dst, int dx, int dy, int dw, int dh, const TkxBitmap& src, int sx, int sy, int sw, int sh,
              uint32_t rop, uint32_t pattern = 0xFFFFFF, TkxStretchFilter filter = TkxStretchFilter::sfSmooth);
// The whole of src at (dx, dy), unstretched.
void CopyRect(TkxBitmap& dst, int dx, int dy, const TkxBitmap& src, uint32_t rop, uint32_t pattern = 0xFFFFFF);

}  // namespace pw
