#include "render/kxPageRenderer.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "pdf/kxWarnings.h"
#include "render/kxContentParser.h"
#include "render/kxFormFields.h"
#include "render/kxImageDrawing.h"

namespace pw {

std::vector<uint8_t> GetPageContent(TkxCustomPDFDocument& doc, int page) {
  TkxPDFDictObject* dict = doc.GetPageDict(page);
  std::vector<uint8_t> out;
  if (!dict) return out;
  TkxPDFObject* contents = doc.Resolve(dict->Lookup("/Contents"));
  if (const TkxPDFStreamObject* s = AsStream(contents)) return doc.DecodeStream(*s);
  const TkxPDFArrayObject* parts = AsArray(contents);
  if (!parts) return out;
  for (int i = 0; i < parts->Count(); ++i) {
    const TkxPDFStreamObject* s = AsStream(doc.Resolve(parts->Get(i)));
    if (!s) continue;
    try {
      const std::vector<uint8_t> data = doc.DecodeStream(*s);
      out.insert(out.end(), data.begin(), data.end());
      out.push_back('\r');
      out.push_back('\n');
    } catch (const Exception&) {
      // A damaged part costs only itself.
    }
  }
  return out;
}

namespace {

bool ReadBox(const TkxCustomPDFDocument& doc, const TkxPDFDictObject* page, const char* key,
             std::array<double, 4>& box) {
  const TkxPDFArrayObject* a = AsArray(doc.Store().ResolveAny(page ? page->Lookup(key) : nullptr));
  if (!a || a->Count() < 4) return false;
  std::array<double, 4> v{};
  for (int i = 0; i < 4; ++i) {
    const TkxPDFObject* e = doc.Store().ResolveAny(a->Get(i));
    if (!IsNumber(e) || !std::isfinite(NumberValue(e))) return false;
    v[static_cast<size_t>(i)] = NumberValue(e);
  }
  box = {std::min(v[0], v[2]), std::min(v[1], v[3]), std::max(v[0], v[2]), std::max(v[1], v[3])};
  const double w = box[2] - box[0], h = box[3] - box[1];
  return w >= 1 && h >= 1 && w < 1e6 && h < 1e6;
}

}  // namespace

TkxPageGeometry GetPageGeometry(const TkxCustomPDFDocument& doc, int page) {
  TkxPageGeometry geo;
  const int rotation = doc.GetPageRotation(page);  // validates the number
  const TkxPDFDictObject* dict = doc.GetPageDict(page);
  std::array<double, 4> box;
  if (ReadBox(doc, dict, "/CropBox", box) || ReadBox(doc, dict, "/MediaBox", box)) geo.Box = box;
  geo.Rotation = rotation;
  const double w = geo.Box[2] - geo.Box[0], h = geo.Box[3] - geo.Box[1];
  // The box's lower-left corner goes to the canvas's lower-left, y turned down.
  const TkxMatrix flip(1, 0, 0, -1, -geo.Box[0], h + geo.Box[1]);
  TkxMatrix turn;
  switch (rotation) {
    case 90: turn = TkxMatrix(0, 1, -1, 0, h, 0); break;
    case 180: turn = TkxMatrix(-1, 0, 0, -1, w, h); break;
    case 270: turn = TkxMatrix(0, -1, 1, 0, 0, w); break;
    default: break;
  }
  geo.Transform = TkxMatrix::Product(flip, turn);
  const bool sideways = rotation == 90 || rotation == 270;
  geo.Width = sideways ? h : w;
  geo.Height = sideways ? w : h;
  return geo;
}

void RenderPage(TkxCustomPDFDocument& doc, int page, TkxGraphics& g, TkxDocumentFonts* fonts, bool pictures) {
  const TkxPageGeometry geo = GetPageGeometry(doc, page);
  TkxPDFDictObject* dict = doc.GetPageDict(page);
  const std::vector<uint8_t> content = GetPageContent(doc, page);

  const TkxGraphicsSaveToken outer = g.Save();
  g.SetPageUnit(unPoint);
  g.SetPageScale(1.0);
  g.SetSmoothingMode(smAntiAlias);
  g.SetTextRenderingHint(trhAntiAlias);
  g.SetTextContrast(4);
  g.SetPixelOffsetMode(pomHalf);
  g.SetTransform(geo.Transform);

  TkxPageRenderContext ctx(doc, g, page);
  ctx.PageTransform = geo.Transform;
  ctx.DocumentFonts = fonts;
  // Pictures: what went wrong with one goes to the warnings (which keep
  // each distinct one once per page).
  auto draw = [&](TkxPDFImageItem item, const TkxMatrix& toDevice, double alpha) {
    if (!item.Problem.empty()) ReportWarning(item.Problem);
    DrawPDFImage(g, item, toDevice, alpha);
  };
  ctx.PaintShadings = pictures;
  if (pictures) {
    ctx.OnImage = [&](const TkxPDFStreamObject& image, const std::string& name, const TkxPDFDictObject* res,
                      const TkxGraphicalState& st) {
      const TkxMatrix toDevice = TkxMatrix::Product(st.Ctm, ctx.PageTransform);
      TkxImageLoader loader(doc, res);
      draw(loader.LoadXObject(image, name, st.FillRGB, IsUprightPlacement(toDevice)), toDevice, st.FillAlpha);
    };
    ctx.OnInlineImage = [&](const TkxOperand& dict, std::string_view data, const TkxPDFDictObject* res,
                            const TkxGraphicalState& st) {
      const TkxMatrix toDevice = TkxMatrix::Product(st.Ctm, ctx.PageTransform);
      TkxImageLoader loader(doc, res);
      draw(loader.LoadInline(dict, data, st.FillRGB, IsUprightPlacement(toDevice)), toDevice, st.FillAlpha);
    };
  }
  const TkxPDFDictObject* resources = dict ? AsDict(doc.Resolve(dict->Lookup("/Resources"))) : nullptr;
  {
    // The fields are drawn in default page space whatever state the
    // content left behind.
    const TkxGraphicsSaveToken contentStart = g.Save();
    TkxPDFContentStreamParser parser(ctx, resources, TkxGraphicalState());
    parser.Interpret(content.data(), content.size());
    g.Restore(contentStart);
    g.SetTransform(geo.Transform);
  }
  TkxFormFieldDrawer(ctx, resources).DrawFormFields();
  g.Restore(outer);
}

void RenderPage(TkxCustomPDFDocument& doc, int page, TkxEmfRecorder& canvas, TkxDocumentFonts* fonts, bool pictures) {
  TkxGraphics g(canvas);
  RenderPage(doc, page, g, fonts, pictures);
}

}  // namespace pw
