#include "platform/kxBitmapCanvas.h"

#include <cairo.h>

#include "platform/kxFontManager.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace pw {

namespace {

void SetColor(cairo_t* cr, uint32_t argb) {
  cairo_set_source_rgba(cr, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0, (argb & 0xFF) / 255.0,
                        (argb >> 24) / 255.0);
}

// One 8x8 cell of a hatch brush: lines in the brush colour over the background.
bool HatchBit(TkxBrushStyle style, int x, int y) {
  switch (style) {
    case TkxBrushStyle::Horizontal: return y == 7;
    case TkxBrushStyle::Vertical: return x == 7;
    case TkxBrushStyle::FDiagonal: return x == y;
    case TkxBrushStyle::BDiagonal: return x + y == 7;
    case TkxBrushStyle::Cross: return x == 7 || y == 7;
    case TkxBrushStyle::DiagCross: return x == y || x + y == 7;
    default: return true;
  }
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD, NUL is dropped (cairo stops at it).
std::string ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c) AppendUtf8(out, c);
  }
  return out;
}

}  // namespace

// ---- TkxCairoSurface ----

TkxCairoSurface::TkxCairoSurface(TkxBitmap& bitmap) {
  // A zero-sized bitmap still gets a (1x1, unused) surface so that drawing calls stay harmless.
  if (bitmap.Empty()) {
    surface_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    return;
  }
  surface_ =
      cairo_image_surface_create_for_data(bitmap.Bits(), bitmap.HasAlpha() ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24,
                                          bitmap.Width(), bitmap.Height(), bitmap.Stride());
  if (cairo_surface_status(surface_) != CAIRO_STATUS_SUCCESS) {
    std::string msg = cairo_status_to_string(cairo_surface_status(surface_));
    cairo_surface_destroy(surface_);
    surface_ = nullptr;
    throw Exception("Cannot draw on the bitmap: " + msg);
  }
}

TkxCairoSurface::~TkxCairoSurface() {
  if (surface_) {
    cairo_surface_flush(surface_);
    cairo_surface_destroy(surface_);
  }
}

void TkxCairoSurface::Finish() {
  if (surface_) cairo_surface_flush(surface_);
}

// ---- TkxBitmapCanvas ----

TkxBitmapCanvas::TkxBitmapCanvas(TkxBitmap& target) : target_(target), surface_(target) {
  cr_ = cairo_create(surface_.Get());
}

TkxBitmapCanvas::~TkxBitmapCanvas() {
  cairo_destroy(cr_);
  surface_.Finish();
  target_.NormalizeOpaque();
}

void TkxBitmapCanvas::SetOrigin(double x, double y) {
  cairo_identity_matrix(cr_);
  cairo_translate(cr_, x, y);
}

void TkxBitmapCanvas::ApplyPen() {
  double w = Pen.Width > 0 ? Pen.Width : 1;
  cairo_set_line_width(cr_, w);
  cairo_set_line_cap(cr_, Pen.Cap == TkxLineCap::Round    ? CAIRO_LINE_CAP_ROUND
                          : Pen.Cap == TkxLineCap::Square ? CAIRO_LINE_CAP_SQUARE
                                                          : CAIRO_LINE_CAP_BUTT);
  cairo_set_line_join(cr_, Pen.Join == TkxLineJoin::Round   ? CAIRO_LINE_JOIN_ROUND
                           : Pen.Join == TkxLineJoin::Bevel ? CAIRO_LINE_JOIN_BEVEL
                                                            : CAIRO_LINE_JOIN_MITER);
  cairo_set_miter_limit(cr_, Pen.MiterLimit);
  // Dash lengths: fixed pixel patterns for thin pens, multiples of the width for wide ones.
  std::vector<double> dashes;
  double u = w <= 1 ? 1 : w;
  switch (Pen.Style) {
    case TkxPenStyle::Dash: dashes = w <= 1 ? std::vector<double>{18, 6} : std::vector<double>{3 * u, u}; break;
    case TkxPenStyle::Dot: dashes = w <= 1 ? std::vector<double>{3, 3} : std::vector<double>{u, u}; break;
    case TkxPenStyle::DashDot:
      dashes = w <= 1 ? std::vector<double>{9, 6, 3, 6} : std::vector<double>{3 * u, u, u, u};
      break;
    case TkxPenStyle::DashDotDot:
      dashes = w <= 1 ? std::vector<double>{9, 3, 3, 3, 3, 3} : std::vector<double>{3 * u, u, u, u, u, u};
      break;
    default: break;
  }
  cairo_set_dash(cr_, dashes.data(), static_cast<int>(dashes.size()), 0);
  if (!dashes.empty()) cairo_set_line_cap(cr_, CAIRO_LINE_CAP_BUTT);  // keep the gaps open
  SetColor(cr_, Pen.Color);
}

bool TkxBitmapCanvas::SetBrushSource() {
  if (Brush.Pattern && !Brush.Pattern->Empty()) {
    auto* pic = const_cast<TkxBitmap*>(Brush.Pattern.get());  // only read from
    cairo_surface_t* s =
        cairo_image_surface_create_for_data(pic->Bits(), pic->HasAlpha() ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24,
                                            pic->Width(), pic->Height(), pic->Stride());
    cairo_pattern_t* p = cairo_pattern_create_for_surface(s);
    cairo_surface_destroy(s);  // the pattern holds it
    cairo_pattern_set_extend(p, CAIRO_EXTEND_REPEAT);
    cairo_pattern_set_filter(p, CAIRO_FILTER_NEAREST);
    // Tiles are anchored to the bitmap, not to the current origin.
    cairo_matrix_t m;
    cairo_get_matrix(cr_, &m);
    cairo_pattern_set_matrix(p, &m);
    cairo_set_source(cr_, p);
    cairo_pattern_destroy(p);
    return true;
  }
  if (Brush.Style == TkxBrushStyle::Clear) return false;
  if (Brush.Style == TkxBrushStyle::Solid) {
    SetColor(cr_, Brush.Color);
    return true;
  }
  TkxBitmap cell(8, 8, true);
  cell.Fill(HatchBackground);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      if (HatchBit(Brush.Style, x, y)) cell.SetPixel(x, y, Brush.Color);
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 8, 8);
  cairo_surface_flush(s);
  uint8_t* data = cairo_image_surface_get_data(s);
  int stride = cairo_image_surface_get_stride(s);
  for (int y = 0; y < 8; ++y) std::copy_n(cell.Scanline(y), 8, reinterpret_cast<uint32_t*>(data + y * stride));
  cairo_surface_mark_dirty(s);
  cairo_pattern_t* p = cairo_pattern_create_for_surface(s);
  cairo_surface_destroy(s);
  cairo_pattern_set_extend(p, CAIRO_EXTEND_REPEAT);
  cairo_pattern_set_filter(p, CAIRO_FILTER_NEAREST);
  cairo_matrix_t m;
  cairo_get_matrix(cr_, &m);
  cairo_pattern_set_matrix(p, &m);
  cairo_set_source(cr_, p);
  cairo_pattern_destroy(p);
  return true;
}

void TkxBitmapCanvas::FillAndStroke(bool fill, bool stroke) {
  cairo_set_antialias(cr_, Antialias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
  cairo_set_fill_rule(cr_, FillMode == TkxFillMode::Alternate ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
  if (fill && SetBrushSource()) cairo_fill_preserve(cr_);
  if (stroke && Pen.Style != TkxPenStyle::Clear) {
    ApplyPen();
    cairo_stroke_preserve(cr_);
  }
  cairo_new_path(cr_);
  cairo_set_source_rgb(cr_, 0, 0, 0);  // drop any pattern that points into a brush bitmap
}

void TkxBitmapCanvas::Rectangle(double left, double top, double right, double bottom) {
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  cairo_rectangle(cr_, left, top, right - left, bottom - top);
  FillAndStroke(true, false);
  cairo_rectangle(cr_, left + 0.5, top + 0.5, std::max(0.0, right - left - 1), std::max(0.0, bottom - top - 1));
  FillAndStroke(false, true);
}

void TkxBitmapCanvas::FillRect(double left, double top, double right, double bottom) {
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  cairo_rectangle(cr_, left, top, right - left, bottom - top);
  FillAndStroke(true, false);
}

void TkxBitmapCanvas::EllipsePath(double cx, double cy, double rx, double ry) {
  if (rx <= 0 || ry <= 0) {  // flat: a line through the centre
    cairo_move_to(cr_, cx - rx, cy - ry);
    cairo_line_to(cr_, cx + rx, cy + ry);
    return;
  }
  cairo_save(cr_);
  cairo_translate(cr_, cx, cy);
  cairo_scale(cr_, rx, ry);
  cairo_new_sub_path(cr_);
  cairo_arc(cr_, 0, 0, 1, 0, 2 * std::numbers::pi);
  cairo_close_path(cr_);
  cairo_restore(cr_);
}

void TkxBitmapCanvas::Ellipse(double left, double top, double right, double bottom) {
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  double cx = (left + right) / 2, cy = (top + bottom) / 2;
  EllipsePath(cx, cy, (right - left) / 2, (bottom - top) / 2);
  FillAndStroke(true, false);
  EllipsePath(cx, cy, std::max(0.0, (right - left - 1) / 2), std::max(0.0, (bottom - top - 1) / 2));
  FillAndStroke(false, true);
}

void TkxBitmapCanvas::RoundRectPath(double l, double t, double r, double b, double rx, double ry) {
  rx = std::min(rx, (r - l) / 2), ry = std::min(ry, (b - t) / 2);
  if (rx <= 0 || ry <= 0) {
    cairo_rectangle(cr_, l, t, r - l, b - t);
    return;
  }
  auto corner = [&](double cx, double cy, double a1) {
    cairo_save(cr_);
    cairo_translate(cr_, cx, cy);
    cairo_scale(cr_, rx, ry);
    cairo_arc(cr_, 0, 0, 1, a1, a1 + std::numbers::pi / 2);
    cairo_restore(cr_);
  };
  cairo_new_sub_path(cr_);
  corner(r - rx, t + ry, -std::numbers::pi / 2);
  corner(r - rx, b - ry, 0);
  corner(l + rx, b - ry, std::numbers::pi / 2);
  corner(l + rx, t + ry, std::numbers::pi);
  cairo_close_path(cr_);
}

void TkxBitmapCanvas::RoundRect(double left, double top, double right, double bottom, double cw, double ch) {
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  double rx = std::abs(cw) / 2, ry = std::abs(ch) / 2;
  RoundRectPath(left, top, right, bottom, rx, ry);
  FillAndStroke(true, false);
  RoundRectPath(left + 0.5, top + 0.5, std::max(left + 0.5, right - 0.5), std::max(top + 0.5, bottom - 0.5),
                std::max(0.0, rx - 0.5), std::max(0.0, ry - 0.5));
  FillAndStroke(false, true);
}

// kind: 0 arc, 1 chord, 2 pie. inset 0 gives the brush's outline, 0.5 the pen's.
void TkxBitmapCanvas::ArcPath(double left, double top, double right, double bottom, double xs, double ys, double xe,
                              double ye, int kind, double inset) {
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  double cx = (left + right) / 2, cy = (top + bottom) / 2;
  double rx = (right - left) / 2 - inset, ry = (bottom - top) / 2 - inset;
  if (rx <= 0 || ry <= 0) return;
  // Angles of the radials in the ellipse's unit circle (cairo angles grow clockwise on screen).
  double a1 = std::atan2((ys + 0.5 - cy) / ry, (xs + 0.5 - cx) / rx);
  double a2 = std::atan2((ye + 0.5 - cy) / ry, (xe + 0.5 - cx) / rx);
  bool whole = xs == xe && ys == ye;
  cairo_save(cr_);
  cairo_translate(cr_, cx, cy);
  cairo_scale(cr_, rx, ry);
  if (kind == 2)
    cairo_move_to(cr_, 0, 0);
  else
    cairo_new_sub_path(cr_);
  if (ArcClockwise) {
    if (whole) a2 = a1 + 2 * std::numbers::pi;
    cairo_arc(cr_, 0, 0, 1, a1, a2);
  } else {
    if (whole) a2 = a1 - 2 * std::numbers::pi;
    cairo_arc_negative(cr_, 0, 0, 1, a1, a2);
  }
  if (kind != 0) cairo_close_path(cr_);
  cairo_restore(cr_);
}

void TkxBitmapCanvas::Arc(double left, double top, double right, double bottom, double xs, double ys, double xe,
                          double ye) {
  ArcPath(left, top, right, bottom, xs, ys, xe, ye, 0, 0.5);
  FillAndStroke(false, true);
}

void TkxBitmapCanvas::Chord(double left, double top, double right, double bottom, double xs, double ys, double xe,
                            double ye) {
  ArcPath(left, top, right, bottom, xs, ys, xe, ye, 1, 0);
  FillAndStroke(true, false);
  ArcPath(left, top, right, bottom, xs, ys, xe, ye, 1, 0.5);
  FillAndStroke(false, true);
}

void TkxBitmapCanvas::Pie(double left, double top, double right, double bottom, double xs, double ys, double xe,
                          double ye) {
  ArcPath(left, top, right, bottom, xs, ys, xe, ye, 2, 0);
  FillAndStroke(true, false);
  ArcPath(left, top, right, bottom, xs, ys, xe, ye, 2, 0.5);
  FillAndStroke(false, true);
}

void TkxBitmapCanvas::Line(double x1, double y1, double x2, double y2) {
  cairo_move_to(cr_, x1 + 0.5, y1 + 0.5);
  cairo_line_to(cr_, x2 + 0.5, y2 + 0.5);
  FillAndStroke(false, true);
}

void TkxBitmapCanvas::Polyline(const std::vector<TkxCanvasPoint>& points) {
  if (points.size() < 2) return;
  cairo_move_to(cr_, points[0].x + 0.5, points[0].y + 0.5);
  for (size_t i = 1; i < points.size(); ++i) cairo_line_to(cr_, points[i].x + 0.5, points[i].y + 0.5);
  FillAndStroke(false, true);
}

void TkxBitmapCanvas::Polygon(const std::vector<TkxCanvasPoint>& points) {
  if (points.size() < 2) return;
  cairo_move_to(cr_, points[0].x + 0.5, points[0].y + 0.5);
  for (size_t i = 1; i < points.size(); ++i) cairo_line_to(cr_, points[i].x + 0.5, points[i].y + 0.5);
  cairo_close_path(cr_);
  FillAndStroke(true, true);
}

void TkxBitmapCanvas::PolyBezier(const std::vector<TkxCanvasPoint>& points) {
  if (points.size() < 4) return;
  cairo_move_to(cr_, points[0].x + 0.5, points[0].y + 0.5);
  for (size_t i = 1; i + 2 < points.size(); i += 3)
    cairo_curve_to(cr_, points[i].x + 0.5, points[i].y + 0.5, points[i + 1].x + 0.5, points[i + 1].y + 0.5,
                   points[i + 2].x + 0.5, points[i + 2].y + 0.5);
  FillAndStroke(false, true);
}

void TkxBitmapCanvas::PolyPolygon(const std::vector<TkxCanvasPoint>& points, const std::vector<int>& counts) {
  size_t at = 0;
  for (int c : counts) {
    if (c <= 0) continue;
    size_t n = std::min(static_cast<size_t>(c), points.size() - at);
    if (n == 0) break;
    cairo_move_to(cr_, points[at].x + 0.5, points[at].y + 0.5);
    for (size_t i = 1; i < n; ++i) cairo_line_to(cr_, points[at + i].x + 0.5, points[at + i].y + 0.5);
    cairo_close_path(cr_);
    at += n;
  }
  FillAndStroke(true, true);
}

void TkxBitmapCanvas::DrawBitmap(const TkxBitmap& picture, double x, double y, double width, double height,
                                 TkxStretchFilter filter, double opacity) {
  if (picture.Empty() || width == 0 || height == 0 || !std::isfinite(x) || !std::isfinite(y)) return;
  // A placement cairo cannot invert would leave the canvas in error for
  // good (and hand out a source pattern nobody frees): it draws nothing.
  cairo_matrix_t m;
  cairo_get_matrix(cr_, &m);
  cairo_matrix_translate(&m, x, y);
  cairo_matrix_scale(&m, width / picture.Width(), height / picture.Height());
  const double det = m.xx * m.yy - m.yx * m.xy;
  if (!std::isfinite(det) || det == 0) return;
  TkxCairoSurface src(const_cast<TkxBitmap&>(picture));  // only read from
  cairo_save(cr_);
  cairo_translate(cr_, x, y);
  cairo_scale(cr_, width / picture.Width(), height / picture.Height());
  cairo_set_source_surface(cr_, src.Get(), 0, 0);
  cairo_pattern_t* p = cairo_get_source(cr_);
  cairo_pattern_set_extend(p, CAIRO_EXTEND_PAD);
  cairo_pattern_set_filter(p, filter == TkxStretchFilter::sfNearest    ? CAIRO_FILTER_NEAREST
                              : filter == TkxStretchFilter::sfBilinear ? CAIRO_FILTER_BILINEAR
                                                                       : CAIRO_FILTER_GOOD);
  cairo_rectangle(cr_, 0, 0, picture.Width(), picture.Height());
  cairo_clip(cr_);
  cairo_paint_with_alpha(cr_, std::clamp(opacity, 0.0, 1.0));
  cairo_restore(cr_);
}

// The face for a font: a FreeType face from the font manager (installed, substituted or registered family),
// sized to the em height, with the cell metrics GDI reports for it.
struct TkxBitmapCanvas::FontSetup {
  TkxFontFacePtr face;  // null when no font at all is available (cairo's own fallback then)
  double scale = 0;     // pixels per design unit
  TkxTextExtent metrics;
  double underlinePos = 0, underlineSize = 0, strikePos = 0, strikeSize = 0;  // below/above the baseline
};

TkxBitmapCanvas::FontSetup TkxBitmapCanvas::SelectFont(const TkxCanvasFont& font) {
  FontSetup fs;
  double em = font.EmSize > 0 ? font.EmSize : 1;
  fs.face = TkxFontManager::Instance().GetFace(font.Family, font.Style & fsBoldItalic);
  cairo_font_face_t* cf = fs.face ? fs.face->CairoFace() : nullptr;
  if (cf) {
    cairo_set_font_face(cr_, cf);
    cairo_font_face_destroy(cf);  // the context holds its own reference
    const TkxFaceDesignMetrics& d = fs.face->Design();
    fs.scale = em / (d.UnitsPerEm > 0 ? d.UnitsPerEm : 1000);
    fs.metrics.Ascent = d.WinAscent * fs.scale;
    fs.metrics.Descent = d.WinDescent * fs.scale;
    fs.underlinePos = -d.UnderlinePosition * fs.scale;
    fs.underlineSize = d.UnderlineThickness * fs.scale;
    fs.strikePos = d.StrikeoutPosition * fs.scale;
    fs.strikeSize = d.StrikeoutSize * fs.scale;
  } else {
    fs.face.reset();
    cairo_select_font_face(cr_, "sans-serif",
                           (font.Style & fsItalic) ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                           (font.Style & fsBold) ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  }
  cairo_set_font_size(cr_, em);
  cairo_font_options_t* opts = cairo_font_options_create();
  cairo_font_options_set_hint_metrics(opts, CAIRO_HINT_METRICS_OFF);  // advances as measured, unhinted
  cairo_font_options_set_antialias(opts, Antialias ? CAIRO_ANTIALIAS_GRAY : CAIRO_ANTIALIAS_NONE);
  cairo_set_font_options(cr_, opts);
  cairo_font_options_destroy(opts);
  if (!fs.face) {
    cairo_font_extents_t fe;
    cairo_font_extents(cr_, &fe);
    fs.metrics.Ascent = fe.ascent;
    fs.metrics.Descent = fe.descent;
  }
  if (fs.underlineSize <= 0) fs.underlinePos = em * 0.1, fs.underlineSize = em / 14;
  if (fs.strikeSize <= 0) fs.strikePos = em * 0.28, fs.strikeSize = em / 14;
  fs.underlineSize = std::max(1.0, fs.underlineSize);
  fs.strikeSize = std::max(1.0, fs.strikeSize);
  return fs;
}

// Glyphs along the baseline from x = 0 with the font manager's advances (those the layout measured with).
std::vector<cairo_glyph_t> TkxBitmapCanvas::LayOut(const FontSetup& fs, const TkxCanvasFont& font,
                                                   std::u16string_view text, double* width) {
  std::vector<cairo_glyph_t> glyphs;
  *width = 0;
  if (!fs.face) {
    std::string utf8 = ToUtf8(text);
    cairo_glyph_t* list = nullptr;
    int count = 0;
    cairo_scaled_font_t* sf = cairo_get_scaled_font(cr_);
    if (cairo_scaled_font_text_to_glyphs(sf, 0, 0, utf8.c_str(), static_cast<int>(utf8.size()), &list, &count, nullptr,
                                         nullptr, nullptr) == CAIRO_STATUS_SUCCESS) {
      glyphs.assign(list, list + count);
      cairo_glyph_free(list);
    }
    cairo_text_extents_t te;
    cairo_text_extents(cr_, utf8.c_str(), &te);
    *width = te.x_advance;
    return glyphs;
  }
  std::vector<double> adv = TkxFontManager::Instance().CharAdvances(fs.face->FamilyName(), font.Style & fsBoldItalic,
                                                                    font.EmSize > 0 ? font.EmSize : 1, text);
  double x = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    size_t at = i;
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    if (cp != 0) glyphs.push_back(cairo_glyph_t{fs.face->GlyphIndex(cp), x, 0});
    for (size_t k = at; k <= i && k < adv.size(); ++k) x += adv[k];
  }
  *width = x;
  return glyphs;
}

TkxTextExtent TkxBitmapCanvas::MeasureText(std::u16string_view text, const TkxCanvasFont& font) {
  FontSetup fs = SelectFont(font);
  TkxTextExtent ext = fs.metrics;
  LayOut(fs, font, text, &ext.Width);
  return ext;
}

void TkxBitmapCanvas::TextOut(double x, double y, std::u16string_view text, const TkxCanvasFont& font, uint32_t color,
                              double angle) {
  cairo_save(cr_);
  FontSetup fs = SelectFont(font);
  double width = 0;
  std::vector<cairo_glyph_t> glyphs = LayOut(fs, font, text, &width);
  cairo_translate(cr_, x, y);
  cairo_rotate(cr_, -angle * std::numbers::pi / 180);  // counter-clockwise on screen
  cairo_translate(cr_, 0, fs.metrics.Ascent);          // to the baseline
  SetColor(cr_, color);
  cairo_show_glyphs(cr_, glyphs.data(), static_cast<int>(glyphs.size()));
  if (font.Style & (fsUnderline | fsStrikeout)) {
    cairo_set_antialias(cr_, Antialias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
    if (font.Style & fsUnderline) cairo_rectangle(cr_, 0, fs.underlinePos, width, fs.underlineSize);
    if (font.Style & fsStrikeout) cairo_rectangle(cr_, 0, -fs.strikePos, width, fs.strikeSize);
    cairo_fill(cr_);
  }
  cairo_restore(cr_);
}

}  // namespace pw
