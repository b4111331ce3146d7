// emf2png: renders an enhanced metafile to PNG through the platform's own
// metafile playback.
//
//   emf2png IN.emf OUT.png [SCALE]   render at SCALE times the frame size (default 1)
//   emf2png --sample OUT.emf         write a sample drawing made through the graphics
//                                    interface (text, a path with a hole, a dashed
//                                    line, a clipped picture, rotated text)
//   emf2png --dump IN.emf            list the records
#include <cairo.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/kxBitmap.h"
#include "platform/kxEmf.h"
#include "platform/kxEmfBitmapPlayer.h"
#include "platform/kxEmfRecorder.h"
#include "platform/kxGraphics.h"

using namespace pw;

namespace {

int Render(const std::string& in, const std::string& out, double scale) {
  const TkxMetafile mf = TkxMetafile::LoadFromFile(in);
  const int w = std::max(1, static_cast<int>(std::lrint(mf.Width() * scale)));
  const int h = std::max(1, static_cast<int>(std::lrint(mf.Height() * scale)));
  TkxBitmap bmp(w, h, false);
  PlayMetafile(mf, bmp, TkxRectF{0, 0, double(w), double(h)});
  cairo_surface_t* s = cairo_image_surface_create_for_data(bmp.Bits(), CAIRO_FORMAT_RGB24, w, h, bmp.Stride());
  const cairo_status_t st = cairo_surface_write_to_png(s, out.c_str());
  cairo_surface_destroy(s);
  if (st != CAIRO_STATUS_SUCCESS) {
    std::fprintf(stderr, "emf2png: cannot write %s: %s\n", out.c_str(), cairo_status_to_string(st));
    return 1;
  }
  return 0;
}

int Dump(const std::string& in) {
  const TkxMetafile mf = TkxMetafile::LoadFromFile(in);
  const TkxEmrHeader& h = mf.Header();
  std::printf("frame %d,%d-%d,%d (.01 mm), bounds %d,%d-%d,%d, %u bytes, %u records, %u handles, %dx%d px\n",
              h.Frame.left, h.Frame.top, h.Frame.right, h.Frame.bottom, h.Bounds.left, h.Bounds.top, h.Bounds.right,
              h.Bounds.bottom, h.Bytes, h.Records, h.Handles, mf.Width(), mf.Height());
  mf.EnumerateRecords([](const TkxEmfRecord& r) {
    std::printf("%8zu %-28s %u\n", r.Offset(), EmfRecordName(r.Type()).c_str(), r.Size());
    return true;
  });
  return 0;
}

int Sample(const std::string& out) {
  // A 5 x 3.75 inch page drawn the way the page renderer draws: page unit
  // points, PDF coordinates with y up under the page flip.
  const double pageW = 360, pageH = 270;
  TkxEmfRecorder canvas(static_cast<int>(std::lrint(pageW * 96 / 72)), static_cast<int>(std::lrint(pageH * 96 / 72)),
                        96, std::u16string(u"Paperwright\0sample\0", 19));
  TkxGraphics g(canvas);
  g.SetPageUnit(unPoint);
  g.SetTransform(TkxMatrix(1, 0, 0, -1, 0, pageH));  // PDF space: y up

  // Text drawn with an un-flip so the glyphs stand upright.
  auto text = [&](const std::u16string& s, const char* family, double size, int style, double x, double y, double angle,
                  uint32_t color) {
    const TkxGraphicsSaveToken st = g.Save();
    g.TranslateTransform(x, y);
    g.RotateTransform(angle);
    g.ScaleTransform(1, -1);
    TkxFont font(TkxFontFamily(family), size, style, unPoint);
    const TkxFamilyMetrics m = font.Family().Metrics(style);
    const double ascent = m.EmHeight ? size * m.CellAscent / m.EmHeight : size * 0.9;
    g.DrawString(s, font, TkxPointF{0, -ascent}, TkxStringFormat::GenericTypographic(), TkxSolidBrush(color));
    g.Restore(st);
  };
  text(u"Paperwright EMF \u00C4\u00D6\u00DC \u20AC 123", "Arial", 18, fsRegular, 20, 235, 0, 0xFF000000);

  // A filled square with a square hole (alternate fill), outlined.
  TkxGraphicsPath hole(fmAlternate);
  hole.AddRectangle({20, 40, 120, 120});
  hole.AddRectangle({50, 70, 60, 60});
  g.FillPath(TkxSolidBrush(0xFF2060C0), hole);
  TkxPen outline(0xFF000000, 1.5);
  g.DrawPath(outline, hole);

  // A dashed line with round caps.
  TkxPen dashed(0xFFD02020, 4);
  dashed.SetDashPattern({3, 2});
  dashed.SetLineCap(lcRound, lcRound, lcRound);
  g.DrawLine(dashed, 160, 20, 340, 60);

  // A picture clipped by a circle.
  TkxBitmap pic(64, 64, false);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x)
      pic.SetPixel(
          x, y, 0xFF000000u | (uint32_t(x * 4) << 16) | (uint32_t(y * 4) << 8) | ((x / 8 + y / 8) % 2 ? 0xC0u : 0x40u));
  const TkxGraphicsSaveToken st = g.Save();
  TkxGraphicsPath circle(fmWinding);
  const double cx = 230, cy = 140, r = 55, k = 0.5523 * r;
  circle.AddBezier({cx + r, cy}, {cx + r, cy + k}, {cx + k, cy + r}, {cx, cy + r});
  circle.AddBezier({cx, cy + r}, {cx - k, cy + r}, {cx - r, cy + k}, {cx - r, cy});
  circle.AddBezier({cx - r, cy}, {cx - r, cy - k}, {cx - k, cy - r}, {cx, cy - r});
  circle.AddBezier({cx, cy - r}, {cx + k, cy - r}, {cx + r, cy - k}, {cx + r, cy});
  circle.CloseFigure();
  g.SetClip(circle);
  // The unit square of an image placed by a matrix (as the renderer does).
  g.MultiplyTransform(TkxMatrix(130, 0, 0, 130, 165, 75));
  g.TranslateTransform(0, 1, moPrepend);
  g.ScaleTransform(1, -1);
  g.DrawImage(pic, {0, 0, 1, 1}, {0, 0, 64, 64});
  g.Restore(st);

  // Rotated text.
  text(u"Rotated 30\u00B0 bold italic", "Times New Roman", 16, fsBoldItalic, 160, 180, 30, 0xFF008000);
  text(u"Vertical", "Courier New", 12, fsRegular, 345, 70, 90, 0xFF800080);

  canvas.Close().SaveToFile(out);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 3 && std::string(argv[1]) == "--sample") return Sample(argv[2]);
    if (argc == 3 && std::string(argv[1]) == "--dump") return Dump(argv[2]);
    if (argc == 3 || argc == 4) return Render(argv[1], argv[2], argc == 4 ? std::atof(argv[3]) : 1.0);
    std::fprintf(stderr, "usage: emf2png IN.emf OUT.png [SCALE] | --sample OUT.emf | --dump IN.emf\n");
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "emf2png: %s\n", e.what());
    return 1;
  }
}
