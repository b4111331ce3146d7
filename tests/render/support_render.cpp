#include <map>
#include <set>

#include "pdf/kxClasses.h"
#include "pdf/kxPDFDoc.h"
#include "pdf/pdf_builder.h"
#include "platform/kxEmfRecorder.h"
#include "render/kxPageRenderer.h"
#include "render/render_support.h"

namespace pwtest {

std::vector<uint8_t> MakePdf(const TestPage& page) {
  PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R " + page.CatalogExtra + " >>");
  b.Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 /MediaBox " + page.MediaBox + " >>");
  const std::string contents = page.PageExtra.find("/Contents") == std::string::npos ? "/Contents 4 0 R " : "";
  b.Object(3,
           "<< /Type /Page /Parent 2 0 R /Resources << " + page.Resources + " >> " + contents + page.PageExtra + " >>");
  b.Stream(4, "", page.Content);
  b.Object(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
  b.Object(6, "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman /Encoding /WinAnsiEncoding >>");
  for (const auto& [num, body] : page.Objects) b.Object(num, body);
  for (const auto& s : page.Streams) b.Stream(s.Number, s.Dict, s.Data);
  b.StartXRef(b.XRefTable("/Size 200 /Root 1 0 R"));
  return b.Data();
}

size_t Recording::Filled() const {
  size_t n = 0;
  for (const RecordedShape& s : Shapes) n += s.Filled;
  return n;
}

size_t Recording::Stroked() const {
  size_t n = 0;
  for (const RecordedShape& s : Shapes) n += s.Stroked;
  return n;
}

size_t Recording::Count(uint32_t type) const {
  size_t n = 0;
  for (uint32_t t : Types) n += t == type;
  return n;
}

std::string Utf8(const std::u16string& s) { return pw::WideToUtf8(s); }

std::string Recording::JoinedText(const char* sep) const {
  std::string out;
  for (size_t i = 0; i < Texts.size(); ++i) {
    if (i) out += sep;
    out += Utf8(Texts[i].Text);
  }
  return out;
}

Recording ReadRecording(const pw::TkxMetafile& mf) {
  using namespace pw;
  Recording rec;
  rec.Metafile = mf;
  std::map<uint32_t, TkxLogFontW> fonts;
  std::set<uint32_t> pens, brushes;
  TkxLogFontW selected;
  uint32_t textColor = 0;
  bool nullPen = false, nullBrush = false;  // the stock selection is black pen, white brush
  rec.Metafile.EnumerateRecords([&](const TkxEmfRecord& r) {
    rec.Types.push_back(r.Type());
    switch (r.Type()) {
      case EMR_POLYGON:
      case EMR_POLYGON16:
      case EMR_POLYPOLYGON:
      case EMR_POLYPOLYGON16:
      case EMR_RECTANGLE: rec.Shapes.push_back({r.Type(), !nullBrush, !nullPen}); break;
      case EMR_POLYLINE:
      case EMR_POLYLINE16:
      case EMR_POLYPOLYLINE:
      case EMR_POLYPOLYLINE16:
      case EMR_STROKEPATH: rec.Shapes.push_back({r.Type(), false, !nullPen}); break;
      case EMR_FILLPATH: rec.Shapes.push_back({r.Type(), !nullBrush, false}); break;
      case EMR_STROKEANDFILLPATH: rec.Shapes.push_back({r.Type(), !nullBrush, !nullPen}); break;
      default: break;
    }
    switch (r.Type()) {
      case EMR_EXTCREATEFONTINDIRECTW: {
        TkxEmrCreateFont f;
        if (DecodeExtCreateFont(r, f)) fonts[f.ihFont] = f.LogFont;
        break;
      }
      case EMR_SELECTOBJECT: {
        const uint32_t h = r.U32(8);
        auto it = fonts.find(h);
        if (it != fonts.end()) selected = it->second;
        if (h == (ENHMETA_STOCK_OBJECT | NULL_PEN)) nullPen = true;
        if (h == (ENHMETA_STOCK_OBJECT | NULL_BRUSH)) nullBrush = true;
        if (h == (ENHMETA_STOCK_OBJECT | BLACK_PEN) || h == (ENHMETA_STOCK_OBJECT | WHITE_PEN) || pens.count(h))
          nullPen = false;
        if ((h & ENHMETA_STOCK_OBJECT) ? (h & 0xFF) <= BLACK_BRUSH : brushes.count(h)) nullBrush = false;
        break;
      }
      case EMR_SETTEXTCOLOR: textColor = r.U32(8); break;
      case EMR_EXTCREATEPEN: {
        TkxEmrExtCreatePen p;
        if (DecodeExtCreatePen(r, p)) {
          rec.PenColors.push_back(p.LogPen.Color);
          pens.insert(p.ihPen);
        }
        break;
      }
      case EMR_CREATEBRUSHINDIRECT: {
        TkxEmrCreateBrush b;
        if (DecodeCreateBrush(r, b)) {
          rec.BrushColors.push_back(b.LogBrush.Color);
          brushes.insert(b.ihBrush);
        }
        break;
      }
      case EMR_POLYGON:
      case EMR_POLYGON16: {
        TkxEmrPoly p;
        if (DecodePoly(r, p)) rec.Polygons.push_back(p.Points);
        break;
      }
      case EMR_INTERSECTCLIPRECT: rec.IntersectRects.push_back(r.RectL(8)); break;
      case EMR_EXTTEXTOUTW: {
        TkxEmrExtTextOut t;
        if (DecodeExtTextOut(r, t)) {
          RecordedText rt;
          rt.Text = t.Text;
          rt.Reference = t.Reference;
          rt.Height = selected.lfHeight;
          rt.Escapement = selected.lfEscapement;
          rt.Face = selected.lfFaceName;
          rt.Weight = selected.lfWeight;
          rt.Italic = selected.lfItalic != 0;
          rt.Color = textColor;
          rt.Dx = t.Dx;
          rec.Texts.push_back(std::move(rt));
        }
        break;
      }
      default: break;
    }
    return true;
  });
  return rec;
}

Recording RenderPdf(const std::vector<uint8_t>& pdf, int widthPx, int heightPx, int page) {
  pw::TkxPDFDocument doc;
  doc.LoadFromMemory(pdf);
  pw::TkxEmfRecorder canvas(widthPx, heightPx, 72);
  pw::RenderPage(doc, page, canvas);
  return ReadRecording(canvas.Close());
}

}  // namespace pwtest
