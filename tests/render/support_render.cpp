#include <map>

#include "pdf/kxClasses.h"
#include "pdf/kxPDFDoc.h"
#include "pdf/pdf_builder.h"
#include "platform/kxEmfRecorder.h"
#include "render/kxPageRenderer.h"
#include "render/render_support.h"

namespace pwtest {

std::vector<uint8_t> MakePdf(const TestPage& page) {
  PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 /MediaBox " + page.MediaBox + " >>");
  b.Object(3, "<< /Type /Page /Parent 2 0 R /Resources << " + page.Resources + " >> /Contents 4 0 R " +
                  page.PageExtra + " >>");
  b.Stream(4, "", page.Content);
  b.Object(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
  b.Object(6, "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman /Encoding /WinAnsiEncoding >>");
  for (const auto& [num, body] : page.Objects) b.Object(num, body);
  for (const auto& s : page.Streams) b.Stream(s.Number, s.Dict, s.Data);
  b.StartXRef(b.XRefTable("/Size 200 /Root 1 0 R"));
  return b.Data();
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
  TkxLogFontW selected;
  uint32_t textColor = 0;
  rec.Metafile.EnumerateRecords([&](const TkxEmfRecord& r) {
    rec.Types.push_back(r.Type());
    switch (r.Type()) {
      case EMR_EXTCREATEFONTINDIRECTW: {
        TkxEmrCreateFont f;
        if (DecodeExtCreateFont(r, f)) fonts[f.ihFont] = f.LogFont;
        break;
      }
      case EMR_SELECTOBJECT: {
        auto it = fonts.find(r.U32(8));
        if (it != fonts.end()) selected = it->second;
        break;
      }
      case EMR_SETTEXTCOLOR:
        textColor = r.U32(8);
        break;
      case EMR_EXTCREATEPEN: {
        TkxEmrExtCreatePen p;
        if (DecodeExtCreatePen(r, p)) rec.PenColors.push_back(p.LogPen.Color);
        break;
      }
      case EMR_CREATEBRUSHINDIRECT: {
        TkxEmrCreateBrush b;
        if (DecodeCreateBrush(r, b)) rec.BrushColors.push_back(b.LogBrush.Color);
        break;
      }
      case EMR_POLYGON:
      case EMR_POLYGON16: {
        TkxEmrPoly p;
        if (DecodePoly(r, p)) rec.Polygons.push_back(p.Points);
        break;
      }
      case EMR_INTERSECTCLIPRECT:
        rec.IntersectRects.push_back(r.RectL(8));
        break;
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
      default:
        break;
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
