#include "platform/kxRasterOps.h"

#include <cairo.h>

#include <algorithm>
#include <cstdlib>

#include "platform/kxBitmapCanvas.h"

namespace pw {

namespace {

constexpr uint32_t kNamed[] = {rop::SRCCOPY,    rop::SRCPAINT,    rop::SRCAND,    rop::SRCINVERT,  rop::SRCERASE,
                               rop::NOTSRCCOPY, rop::NOTSRCERASE, rop::MERGECOPY, rop::MERGEPAINT, rop::PATCOPY,
                               rop::PATPAINT,   rop::PATINVERT,   rop::DSTINVERT, rop::BLACKNESS,  rop::WHITENESS};

uint8_t Index(uint32_t code) { return static_cast<uint8_t>(code >> 16); }

// Each set bit i of the index byte selects the minterm (P if i&4) (S if i&2) (D if i&1).
uint32_t Ternary(uint8_t index, uint32_t p, uint32_t s, uint32_t d) {
  switch (index) {  // the common ones directly
    case 0xCC: return s;
    case 0xEE: return s | d;
    case 0x88: return s & d;
    case 0x66: return s ^ d;
    case 0x44: return s & ~d;
    case 0x33: return ~s;
    case 0x11: return ~(s | d);
    case 0xBB: return ~s | d;
    case 0x55: return ~d;
    case 0x00: return 0;
    case 0xFF: return ~0u;
    default: break;
  }
  uint32_t r = 0;
  for (int i = 0; i < 8; ++i) {
    if (!((index >> i) & 1)) continue;
    r |= ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
  }
  return r;
}

uint32_t ColourOverWhite(uint32_t premul, bool alpha) {
  if (!alpha) return premul & 0xFFFFFF;
  uint32_t a = premul >> 24, add = 255 - a;
  auto ch = [&](int shift) { return std::min(255u, ((premul >> shift) & 0xFF) + add) << shift; };
  return ch(16) | ch(8) | ch(0);
}

}  // namespace

bool IsNamedRop(uint32_t code) { return std::find(std::begin(kNamed), std::end(kNamed), code) != std::end(kNamed); }

bool RopUsesSource(uint32_t code) {
  uint8_t i = Index(code);
  return ((i >> 2) & 0x33) != (i & 0x33);
}

bool RopUsesPattern(uint32_t code) {
  uint8_t i = Index(code);
  return ((i >> 4) & 0x0F) != (i & 0x0F);
}

uint32_t ApplyRop3(uint32_t code, uint32_t pattern, uint32_t source, uint32_t dest) {
  return Ternary(Index(code), pattern, source, dest) & 0xFFFFFF;
}

namespace {

// The window (vx, vy, vw, vh) of the picture that results from scaling the part (sx, sy, sw, sh) of src to
// width x height (signs as in StretchBitmap), so that a huge stretch is never made whole.
TkxBitmap RenderStretched(const TkxBitmap& src, int sx, int sy, int sw, int sh, int64_t width, int64_t height,
                          int64_t vx, int64_t vy, int64_t vw, int64_t vh, TkxStretchFilter filter) {
  TkxBitmap::CheckSize(vw, vh);
  TkxBitmap out(static_cast<int>(vw), static_cast<int>(vh), src.HasAlpha());
  int64_t aw = std::llabs(width), ah = std::llabs(height);
  if (vw == 0 || vh == 0 || aw == 0 || ah == 0 || sw == 0 || sh == 0 || src.Empty()) return out;
  bool mirrorX = (sw < 0) != (width < 0), mirrorY = (sh < 0) != (height < 0);
  double sl = sw < 0 ? double(sx) + sw : sx, st = sh < 0 ? double(sy) + sh : sy;
  double asw = std::abs(double(sw)), ash = std::abs(double(sh));

  TkxCairoSurface srcSurface(const_cast<TkxBitmap&>(src));  // only read from
  TkxCairoSurface dstSurface(out);
  cairo_t* cr = cairo_create(dstSurface.Get());
  cairo_translate(cr, -double(vx), -double(vy));
  if (mirrorX) {
    cairo_translate(cr, double(aw), 0);
    cairo_scale(cr, -1, 1);
  }
  if (mirrorY) {
    cairo_translate(cr, 0, double(ah));
    cairo_scale(cr, 1, -1);
  }
  cairo_scale(cr, double(aw) / asw, double(ah) / ash);
  // (An erring context would hand out a source pattern nobody frees.)
  if (cairo_status(cr) == CAIRO_STATUS_SUCCESS) {
    cairo_set_source_surface(cr, srcSurface.Get(), -sl, -st);
    cairo_pattern_t* pat = cairo_get_source(cr);
    cairo_pattern_set_extend(pat, CAIRO_EXTEND_PAD);
    cairo_pattern_set_filter(pat, filter == TkxStretchFilter::sfNearest    ? CAIRO_FILTER_NEAREST
                                  : filter == TkxStretchFilter::sfBilinear ? CAIRO_FILTER_BILINEAR
                                                                           : CAIRO_FILTER_GOOD);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
  }
  cairo_status_t status = cairo_status(cr);
  cairo_destroy(cr);
  dstSurface.Finish();
  if (status != CAIRO_STATUS_SUCCESS)
    throw Exception(std::string("Stretching failed: ") + cairo_status_to_string(status));
  out.NormalizeOpaque();
  return out;
}

}  // namespace

TkxBitmap StretchBitmap(const TkxBitmap& src, int sx, int sy, int sw, int sh, int width, int height,
                        TkxStretchFilter filter) {
  return RenderStretched(src, sx, sy, sw, sh, width, height, 0, 0, std::llabs(width), std::llabs(height), filter);
}

void CopyRect(TkxBitmap& dst, int dx, int dy, int dw, int dh, const TkxBitmap& src, int sx, int sy, int sw, int sh,
              uint32_t code, uint32_t pattern, TkxStretchFilter filter) {
  if (dw == 0 || dh == 0) return;
  if (&src == &dst) {  // overlapping copies within one bitmap read from a snapshot
    TkxBitmap copy = src;
    CopyRect(dst, dx, dy, dw, dh, copy, sx, sy, sw, sh, code, pattern, filter);
    return;
  }
  bool usesSource = RopUsesSource(code);
  // Normalise to a destination rectangle with positive size and a source picture of that size.
  int64_t left = dw < 0 ? int64_t{dx} + dw : dx, top = dh < 0 ? int64_t{dy} + dh : dy;
  int64_t w = std::llabs(dw), h = std::llabs(dh);
  const TkxBitmap* pic = &src;
  TkxBitmap stretched;
  int64_t ox = sx, oy = sy;  // source pixel of the rectangle's top-left
  if (usesSource) {
    bool same = std::llabs(sw) == w && std::llabs(sh) == h && (sw < 0) == (dw < 0) && (sh < 0) == (dh < 0);
    if (!same) {
      // Only the visible part of the destination is rendered.
      int64_t vl = std::max<int64_t>(left, 0), vt = std::max<int64_t>(top, 0);
      int64_t vr = std::min<int64_t>(left + w, dst.Width()), vb = std::min<int64_t>(top + h, dst.Height());
      if (vl >= vr || vt >= vb) return;
      stretched = RenderStretched(src, sx, sy, sw, sh, dw, dh, vl - left, vt - top, vr - vl, vb - vt, filter);
      pic = &stretched;
      ox = left - vl, oy = top - vt;  // pic starts at the visible corner
    } else {
      if (sw < 0) ox = int64_t{sx} + sw;
      if (sh < 0) oy = int64_t{sy} + sh;
    }
  }
  bool srcAlpha = pic->HasAlpha(), dstAlpha = dst.HasAlpha();
  bool plainCopy = Index(code) == 0xCC;
  uint32_t p = pattern & 0xFFFFFF;
  int64_t y0 = std::max<int64_t>(top, 0), y1 = std::min<int64_t>(top + h, dst.Height());
  int64_t x0 = std::max<int64_t>(left, 0), x1 = std::min<int64_t>(left + w, dst.Width());
  for (int64_t y = y0; y < y1; ++y) {
    uint32_t* drow = dst.Scanline(static_cast<int>(y));
    const uint32_t* srow = nullptr;
    int64_t syy = oy + (y - top);
    if (usesSource) {
      if (syy < 0 || syy >= pic->Height()) continue;
      srow = pic->Scanline(static_cast<int>(syy));
    }
    for (int64_t x = x0; x < x1; ++x) {
      uint32_t s = 0, sp = 0;
      if (usesSource) {
        int64_t sxx = ox + (x - left);
        if (sxx < 0 || sxx >= pic->Width()) continue;
        sp = srow[sxx];
        s = ColourOverWhite(sp, srcAlpha);
      }
      uint32_t& d = drow[x];
      if (plainCopy) {
        if (dstAlpha)
          d = srcAlpha ? sp : (sp | 0xFF000000u);
        else
          d = 0xFF000000u | s;
        continue;
      }
      uint32_t dc = ColourOverWhite(d, dstAlpha);
      d = 0xFF000000u | (Ternary(Index(code), p, s, dc) & 0xFFFFFF);
    }
  }
}

void CopyRect(TkxBitmap& dst, int dx, int dy, const TkxBitmap& src, uint32_t code, uint32_t pattern) {
  CopyRect(dst, dx, dy, src.Width(), src.Height(), src, 0, 0, src.Width(), src.Height(), code, pattern);
}

}  // namespace pw
