#include "render/kxFormFields.h"

#include <algorithm>
#include <cmath>

#include "pdf/kxClasses.h"
#include "pdf/kxCstPDFDoc.h"
#include "pdf/kxPDFTypes.h"
#include "pdf/kxWarnings.h"
#include "platform/kxFontManager.h"
#include "render/kxContentLexer.h"
#include "render/kxContentParser.h"
#include "render/kxEncodings.h"
#include "render/kxGlyphList.h"
#include "render/kxGraphicsState.h"
#include "render/kxTextDrawing.h"

namespace pw {

namespace {

// Field flags.
constexpr int64_t kFfMultiline = 1 << 12;
constexpr int64_t kFfPassword = 1 << 13;
constexpr int64_t kFfRadio = 1 << 15;
constexpr int64_t kFfPushButton = 1 << 16;
constexpr int64_t kFfCombo = 1 << 17;
constexpr int64_t kFfComb = 1 << 24;
// Annotation flags.
constexpr int64_t kAfHidden = 1 << 1;
constexpr int64_t kAfNoView = 1 << 5;

// Coordinates beyond this are not a rectangle on any page.
constexpr double kMaxCoord = 1e6;
constexpr int kMaxLines = 2000;
constexpr int kMaxOptions = 2000;

// The text of a string, a name (without "/"), or nothing.
std::u16string TextOf(const TkxPDFObject* o) {
  if (const TkxPDFStringObject* s = AsString(o)) {
    const std::string bytes = s->GetBytes();
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return Utf8ToWide(bytes.substr(3));
    return PDFTextToWide(*s);
  }
  if (const TkxPDFNameObject* n = AsName(o)) return AnsiToWide(n->GetName());
  return {};
}

bool ReadNumbers(TkxCustomPDFDocument& doc, TkxPDFObject* obj, double* out, int n) {
  const TkxPDFArrayObject* a = AsArray(doc.Resolve(obj));
  if (!a || a->Count() < n) return false;
  for (int i = 0; i < n; ++i) {
    const TkxPDFObject* e = doc.Resolve(a->Get(i));
    if (!IsNumber(e)) return false;
    out[i] = NumberValue(e);
    if (!std::isfinite(out[i])) return false;
  }
  return true;
}

std::string ToLower(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

// A base font name without its subset prefix ("ABCDEF+").
std::string WithoutSubset(const std::string& name) {
  if (name.size() > 7 && name[6] == '+' &&
      std::all_of(name.begin(), name.begin() + 6, [](char c) { return c >= 'A' && c <= 'Z'; }))
    return name.substr(7);
  return name;
}

int StyleFromName(const std::string& name) {
  const std::string l = ToLower(name);
  int style = 0;
  if (l.find("bold") != std::string::npos || l.find("black") != std::string::npos ||
      l.find("heavy") != std::string::npos)
    style |= fsBold;
  if (l.find("italic") != std::string::npos || l.find("oblique") != std::string::npos) style |= fsItalic;
  return style;
}

// The standard resource names form producers give the base fonts in /DR.
const char* StandardResourceFont(const std::string& resourceName) {
  struct Entry {
    const char* Resource;
    const char* BaseFont;
  };
  static const Entry kEntries[] = {
      {"Helv", "Helvetica"},
      {"HeBo", "Helvetica-Bold"},
      {"HeOb", "Helvetica-Oblique"},
      {"HeBO", "Helvetica-BoldOblique"},
      {"TiRo", "Times-Roman"},
      {"TiBo", "Times-Bold"},
      {"TiIt", "Times-Italic"},
      {"TiBI", "Times-BoldItalic"},
      {"Cour", "Courier"},
      {"CoBo", "Courier-Bold"},
      {"CoOb", "Courier-Oblique"},
      {"CoBO", "Courier-BoldOblique"},
      {"Symb", "Symbol"},
      {"ZaDb", "ZapfDingbats"},
  };
  for (const Entry& e : kEntries)
    if (resourceName == e.Resource) return e.BaseFont;
  return nullptr;
}

// The text of a ZapfDingbats character code (a check-box caption).
std::u16string DingbatText(uint8_t code) {
  std::u16string out;
  if (const char* glyph = BaseEncodingGlyph(beZapfDingbats, code)) GlyphNameToUnicode(glyph, out, /*dingbatFont=*/true);
  return out;
}

struct TkxMetrics {
  double Ascent = 0.9, Descent = 0.21, LineSpacing = 1.15;  // fractions of the em
};

TkxMetrics MetricsOf(const std::string& family, int style) {
  TkxMetrics m;
  const TkxFamilyMetrics fm = TkxFontFamily(family).Metrics(style);
  if (fm.EmHeight > 0) {
    if (fm.CellAscent > 0) m.Ascent = static_cast<double>(fm.CellAscent) / fm.EmHeight;
    if (fm.CellDescent >= 0) m.Descent = static_cast<double>(fm.CellDescent) / fm.EmHeight;
    if (fm.LineSpacing > 0) m.LineSpacing = static_cast<double>(fm.LineSpacing) / fm.EmHeight;
  }
  return m;
}

double WidthOf(const std::string& family, int style, double size, std::u16string_view text) {
  if (text.empty()) return 0;
  const double w = TkxFontManager::Instance().TextWidth(family, style, size, text);
  return std::isfinite(w) ? w : 0;
}

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t'; }

// Cuts text into lines no wider than width: paragraphs at line breaks, then
// greedily at spaces; a word wider than the line is cut between characters.
std::vector<std::u16string> WrapText(const std::u16string& text, const std::string& family, int style, double size,
                                     double width) {
  std::vector<std::u16string> lines;
  std::vector<std::u16string> paragraphs(1);
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\r' || c == u'\n') {
      if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
      paragraphs.emplace_back();
    } else {
      paragraphs.back() += c;
    }
  }
  for (const std::u16string& para : paragraphs) {
    if (static_cast<int>(lines.size()) >= kMaxLines) break;
    if (para.empty()) {
      lines.emplace_back();
      continue;
    }
    const std::vector<double> adv = TkxFontManager::Instance().CharAdvances(family, style, size, para);
    size_t start = 0;
    while (start < para.size() && static_cast<int>(lines.size()) < kMaxLines) {
      double w = 0;
      size_t end = start, lastBreak = std::u16string::npos;
      while (end < para.size()) {
        const double a = end < adv.size() && std::isfinite(adv[end]) ? adv[end] : 0;
        if (w + a > width && end > start && !IsSpace(para[end])) break;
        if (IsSpace(para[end])) lastBreak = end;
        w += a;
        ++end;
      }
      if (end < para.size() && lastBreak != std::u16string::npos && lastBreak > start) end = lastBreak;
      std::u16string line = para.substr(start, end - start);
      while (!line.empty() && IsSpace(line.back())) line.pop_back();
      lines.push_back(std::move(line));
      start = end;
      while (start < para.size() && IsSpace(para[start])) ++start;
    }
  }
  return lines;
}

// Saves the drawing state (transform and clip) and puts it back on leaving
// the scope, errors included.
class TkxSavedDrawing {
 public:
  explicit TkxSavedDrawing(TkxGraphics& g) : g_(g), token_(g.Save()), world_(g.Transform()) {}
  ~TkxSavedDrawing() {
    g_.Restore(token_);
    g_.SetTransform(world_);
  }
  TkxSavedDrawing(const TkxSavedDrawing&) = delete;
  TkxSavedDrawing& operator=(const TkxSavedDrawing&) = delete;

 private:
  TkxGraphics& g_;
  TkxGraphicsSaveToken token_;
  TkxMatrix world_;
};

// The bounding box of a rectangle (x1 y1 x2 y2) under a transform.
TkxRectF TransformedBounds(const TkxMatrix& m, double x1, double y1, double x2, double y2) {
  double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
  for (const TkxPointF& corner : {TkxPointF{x1, y1}, TkxPointF{x2, y1}, TkxPointF{x2, y2}, TkxPointF{x1, y2}}) {
    const TkxPointF p = m.Transform(corner);
    minX = std::min(minX, p.X);
    minY = std::min(minY, p.Y);
    maxX = std::max(maxX, p.X);
    maxY = std::max(maxY, p.Y);
  }
  return {minX, minY, maxX - minX, maxY - minY};
}

TkxGraphicsPath BoxPath(double x, double y, double w, double h) {
  TkxGraphicsPath p(fmWinding);
  p.AddLines({{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}});
  p.CloseFigure();
  return p;
}

}  // namespace

bool ShowsAppearance(std::string_view subtype) {
  // Annotations that put text or marks on the page as a viewer shows it
  // (typewriter text, stamps, drawn shapes). Notes, links, pop-ups and text
  // markup are left out: they are icons or tints over the page's own text.
  static const std::string_view kShown[] = {"FreeText", "Stamp",    "Square", "Circle",   "Line",
                                            "Polygon",  "PolyLine", "Ink",    "Watermark"};
  return std::find(std::begin(kShown), std::end(kShown), subtype) != std::end(kShown);
}

TkxFieldKind FieldKind(std::string_view fieldType, int64_t flags) {
  if (!fieldType.empty() && fieldType.front() == '/') fieldType.remove_prefix(1);
  if (fieldType == "Btn") {
    if (flags == -1) return fkCheckBox;
    if (flags & kFfPushButton) return fkPushButton;
    if (flags & kFfRadio) return fkRadioButton;
    return fkCheckBox;
  }
  if (fieldType == "Tx") return fkText;
  if (fieldType == "Sig") return fkSignature;
  return fkOther;
}

std::string MapFieldFontName(const std::string& name) {
  struct Entry {
    const char* Name;
    const char* Family;
  };
  static const Entry kEntries[] = {
      {"Times-Roman", "Times New Roman"},
      {"TimesNewRomanPS", "Times New Roman"},
      {"TimesNewRomanPSMT", "Times New Roman"},
      {"Helvetica", "Arial"},
      {"HelveticaNeue", "Arial"},
      {"Courier", "Courier New"},
      {"CourierNewPS", "Courier New"},
      {"CourierNewPSMT", "Courier New"},
      {"SymbolPS", "Symbol"},
      {"SymbolPSMT", "Symbol"},
  };
  const std::string base = WithoutSubset(name);
  for (const Entry& e : kEntries)
    if (base == e.Name) return e.Family;
  // Style suffixes ("Times-Bold", "Arial,Bold") are carried by the style;
  // the family comes from the name before them.
  const std::string stem = base.substr(0, base.find_first_of(",-"));
  for (const Entry& e : kEntries)
    if (stem == e.Name) return e.Family;
  if (stem == "Times") return "Times New Roman";
  return SubstituteFamily(stem.empty() ? base : stem);
}

bool ColorFromArray(TkxCustomPDFDocument& doc, TkxPDFObject* array, uint32_t& argb) {
  argb = 0xFF000000u;
  const TkxPDFArrayObject* a = AsArray(doc.Resolve(array));
  if (!a) return true;
  if (a->Count() == 0) return false;
  double v[4] = {0, 0, 0, 0};
  const int n = a->Count();
  if (n != 1 && n != 3 && n != 4) return true;
  for (int i = 0; i < n; ++i) {
    v[i] = std::clamp(NumberValue(doc.Resolve(a->Get(i))), 0.0, 1.0);
    if (!std::isfinite(v[i])) v[i] = 0;
  }
  uint32_t rgb = 0;
  if (n == 1) {
    const uint32_t g = ColorByte(v[0]);
    rgb = (g << 16) | (g << 8) | g;
  } else if (n == 3) {
    rgb = (uint32_t{ColorByte(v[0])} << 16) | (uint32_t{ColorByte(v[1])} << 8) | ColorByte(v[2]);
  } else {
    rgb = CmykToRgb(v[0], v[1], v[2], v[3]);
  }
  argb = 0xFF000000u | rgb;
  return true;
}

// ---------------------------------------------------------------------------

TkxFormFieldDrawer::TkxFormFieldDrawer(TkxPageRenderContext& ctx, const TkxPDFDictObject* pageResources)
    : ctx_(ctx), doc_(ctx.Document()), pageResources_(pageResources) {
  if (TkxPDFDictObject* catalog = doc_.CatalogDict()) acroForm_ = AsDict(doc_.Resolve(catalog->Lookup("/AcroForm")));
  if (acroForm_) {
    const TkxPDFObject* need = doc_.Resolve(acroForm_->Lookup("/NeedAppearances"));
    needAppearances_ = IsBoolean(need) && static_cast<const TkxPDFBooleanObject*>(need)->Value;
  }
}

void TkxFormFieldDrawer::DrawFormFields() {
  TkxPDFDictObject* page = doc_.GetPageDict(ctx_.PageNumber());
  if (!page) return;
  const TkxPDFArrayObject* annots = AsArray(doc_.Resolve(page->Lookup("/Annots")));
  if (!annots) return;
  ctx_.FlushText();
  for (int i = 0; i < annots->Count() && widgets_ < kMaxWidgets; ++i) {
    try {
      DrawAnnotation(annots->Get(i), 0);
    } catch (const Exception& e) {
      // A field that cannot be read costs only itself.
      const TkxPDFIndirectReference* ref = AsReference(annots->Get(i));
      ReportWarning(std::string("Annotation cannot be drawn: ") + e.what(), ref ? ref->ObjectNumber : -1);
    }
  }
}

void TkxFormFieldDrawer::DrawAnnotation(TkxPDFObject* entry, int depth) {
  TkxPDFDictObject* annot = AsDict(doc_.Resolve(entry));
  if (!annot || depth > kMaxFieldDepth || !drawn_.insert(annot).second) return;
  const std::string subtype = NameValue(doc_.Resolve(annot->Lookup("/Subtype")));
  if (subtype != "Widget") {
    if (depth == 0 && ShowsAppearance(subtype)) {
      ++widgets_;
      DrawMarkup(annot);
    }
    return;
  }
  // A field and its widget merged in the page's list, with further widgets
  // as kids: the kids are the widgets drawn.
  if (const TkxPDFArrayObject* kids = AsArray(doc_.Resolve(annot->Lookup("/Kids")))) {
    for (int i = 0; i < kids->Count() && widgets_ < kMaxWidgets; ++i) DrawAnnotation(kids->Get(i), depth + 1);
    if (!annot->Lookup("/Rect")) return;
  }
  ++widgets_;
  DrawWidget(annot);
}

void TkxFormFieldDrawer::DrawMarkup(TkxPDFDictObject* annot) {
  const TkxPDFObject* flags = doc_.Resolve(annot->Lookup("/F"));
  if (IsNumber(flags) && (IntValue(flags) & (kAfHidden | kAfNoView))) return;
  double rect[4];
  if (!ReadRect(annot, rect)) return;
  TkxWidgetField none;
  none.State = NameValue(doc_.Resolve(annot->Lookup("/AS")));
  DrawAppearance(annot, none, rect);
}

bool TkxFormFieldDrawer::ReadRect(TkxPDFDictObject* annot, double rect[4]) {
  double r[4];
  if (!ReadNumbers(doc_, annot->Lookup("/Rect"), r, 4)) return false;
  rect[0] = std::min(r[0], r[2]);
  rect[1] = std::min(r[1], r[3]);
  rect[2] = std::max(r[0], r[2]);
  rect[3] = std::max(r[1], r[3]);
  for (int i = 0; i < 4; ++i)
    if (std::abs(rect[i]) > kMaxCoord) return false;
  return true;
}

TkxPDFObject* TkxFormFieldDrawer::Inherited(TkxPDFDictObject* widget, std::string_view key) {
  std::unordered_set<const TkxPDFDictObject*> seen;
  TkxPDFDictObject* node = widget;
  for (int depth = 0; node && depth <= kMaxFieldDepth && seen.insert(node).second; ++depth) {
    if (TkxPDFObject* v = node->Lookup(key)) {
      TkxPDFObject* r = doc_.Resolve(v);
      if (r && !IsNull(r)) return r;
    }
    node = AsDict(doc_.Resolve(node->Lookup("/Parent")));
  }
  return nullptr;
}

TkxFormFieldDrawer::TkxWidgetField TkxFormFieldDrawer::ReadField(TkxPDFDictObject* widget) {
  TkxWidgetField f;
  const std::string type = NameValue(Inherited(widget, "/FT"));
  const TkxPDFObject* ff = Inherited(widget, "/Ff");
  f.Flags = IsNumber(ff) ? IntValue(ff) : 0;
  f.Kind = FieldKind(type, f.Flags);
  TkxPDFObject* v = Inherited(widget, "/V");
  if (const TkxPDFArrayObject* many = AsArray(v)) {
    for (int i = 0; i < many->Count() && i < kMaxOptions; ++i) {
      std::u16string t = TextOf(doc_.Resolve(many->Get(i)));
      if (!t.empty()) f.Values.push_back(std::move(t));
    }
    if (!f.Values.empty()) f.Value = f.Values.front();
  } else {
    f.Value = TextOf(v);
    if (!f.Value.empty()) f.Values.push_back(f.Value);
  }
  if (f.Value.size() > kMaxValueChars) f.Value.resize(kMaxValueChars);
  f.State = NameValue(doc_.Resolve(widget->Lookup("/AS")));
  if (const TkxPDFStringObject* da = AsString(Inherited(widget, "/DA"))) {
    f.DA = da->GetBytes();
  } else if (acroForm_) {
    if (const TkxPDFStringObject* formDa = AsString(doc_.Resolve(acroForm_->Lookup("/DA")))) f.DA = formDa->GetBytes();
  }
  const TkxPDFObject* q = Inherited(widget, "/Q");
  if (!q && acroForm_) q = doc_.Resolve(acroForm_->Lookup("/Q"));
  f.Quadding = IsNumber(q) ? static_cast<int>(std::clamp<int64_t>(IntValue(q), -1, 3)) : 0;
  const TkxPDFObject* maxLen = Inherited(widget, "/MaxLen");
  f.MaxLen = IsNumber(maxLen) ? static_cast<int>(std::clamp<int64_t>(IntValue(maxLen), 0, 10000)) : 0;
  f.Opt = Inherited(widget, "/Opt");
  f.Indices = Inherited(widget, "/I");
  const TkxPDFObject* ti = Inherited(widget, "/TI");
  f.TopIndex = IsNumber(ti) ? static_cast<int>(std::clamp<int64_t>(IntValue(ti), 0, kMaxOptions)) : 0;
  return f;
}

void TkxFormFieldDrawer::DrawWidget(TkxPDFDictObject* widget) {
  const TkxPDFObject* flags = doc_.Resolve(widget->Lookup("/F"));
  if (IsNumber(flags) && (IntValue(flags) & (kAfHidden | kAfNoView))) return;
  double rect[4];
  if (!ReadRect(widget, rect)) return;
  const TkxWidgetField field = ReadField(widget);
  // A form that asks for its appearances to be rebuilt gets text and choice
  // fields drawn from their values: their stored appearances are often
  // empty or stale.
  const bool rebuild = needAppearances_ && (field.Kind == fkText || field.Kind == fkOther);
  if (!rebuild && DrawAppearance(widget, field, rect)) return;
  DrawFieldDirect(widget, field, rect);
}

bool TkxFormFieldDrawer::DrawAppearance(TkxPDFDictObject* widget, const TkxWidgetField& field, const double rect[4]) {
  const TkxPDFDictObject* ap = AsDict(doc_.Resolve(widget->Lookup("/AP")));
  if (!ap) return false;
  TkxPDFObject* normal = doc_.Resolve(ap->Lookup("/N"));
  if (!normal) return false;
  const TkxPDFStreamObject* form = AsStream(normal);
  if (!form) {
    const TkxPDFDictObject* states = AsDict(normal);
    if (!states) return false;
    // The state the widget is in; without /AS a box is on when its field's
    // value names one of its states.
    std::string state = field.State;
    if (state.empty() && (field.Kind == fkCheckBox || field.Kind == fkRadioButton)) state = WideToUtf8(field.Value);
    if (state.empty() && states->Count() == 1) state = states->KeyAt(0)->GetName();
    std::string key("/");
    key.append(state.empty() ? std::string_view("Off") : std::string_view(state));
    form = AsStream(doc_.Resolve(states->Lookup(key)));
    // A state without an appearance shows nothing (a box that is off).
    if (!form) return true;
  }
  if (!IsStream(form) || NameValue(doc_.Resolve(form->Dict->Lookup("/Subtype"))) == "Image") return true;

  // The appearance's box, transformed by its matrix, is fitted onto the
  // widget's rectangle.
  double m[6] = {1, 0, 0, 1, 0, 0};
  if (!ReadNumbers(doc_, form->Dict->Lookup("/Matrix"), m, 6)) {
    m[0] = m[3] = 1;
    m[1] = m[2] = m[4] = m[5] = 0;
  }
  double b[4];
  if (!ReadNumbers(doc_, form->Dict->Lookup("/BBox"), b, 4)) {
    b[0] = b[1] = 0;
    b[2] = rect[2] - rect[0];
    b[3] = rect[3] - rect[1];
  }
  const TkxRectF box = TransformedBounds(TkxMatrix(m[0], m[1], m[2], m[3], m[4], m[5]), b[0], b[1], b[2], b[3]);
  if (!std::isfinite(box.X) || !std::isfinite(box.Y) || !std::isfinite(box.Width) || !std::isfinite(box.Height))
    return true;
  const double sx = box.Width > 1e-9 ? (rect[2] - rect[0]) / box.Width : 1;
  const double sy = box.Height > 1e-9 ? (rect[3] - rect[1]) / box.Height : 1;
  TkxGraphicalState initial;
  initial.Ctm = TkxMatrix::Product(TkxMatrix(1, 0, 0, 1, -box.X, -box.Y), TkxMatrix(sx, 0, 0, sy, rect[0], rect[1]));

  const TkxSavedDrawing saved(ctx_.Graphics());
  struct ClearBounds {
    TkxPageRenderContext& ctx;
    ~ClearBounds() { ctx.TextBounds.reset(); }
  } clearBounds{ctx_};
  // Lines scrolled out of the rectangle are not shown.
  ctx_.TextBounds = TransformedBounds(ctx_.PageTransform, rect[0], rect[1], rect[2], rect[3]);
  // An appearance without resources of its own names the form's fonts.
  const TkxPDFDictObject* resources = acroForm_ ? AsDict(doc_.Resolve(acroForm_->Lookup("/DR"))) : nullptr;
  TkxPDFContentStreamParser parser(ctx_, resources ? resources : pageResources_, initial);
  parser.RunForm(*form);
  ctx_.FlushText();
  return true;
}

TkxFormFieldDrawer::TkxFieldFont TkxFormFieldDrawer::FontFromDA(TkxPDFDictObject* widget, const std::string& da) {
  TkxFieldFont font;
  std::string resource;
  TkxOperandReader reader(reinterpret_cast<const uint8_t*>(da.data()), da.size());
  std::vector<TkxOperand> operands;
  TkxOperand operand;
  std::string op;
  bool isOperator = false;
  auto number = [&](size_t back) {
    const TkxOperand& o = operands[operands.size() - 1 - back];
    return o.IsNumber() && std::isfinite(o.Number) ? o.Number : 0.0;
  };
  while (reader.Next(operand, op, isOperator)) {
    if (!isOperator) {
      if (operands.size() < 16) operands.push_back(std::move(operand));
      continue;
    }
    const size_t n = operands.size();
    if (op == "Tf" && n >= 2 && operands[n - 2].IsName()) {
      resource = operands[n - 2].Name();
      font.Size = std::max(0.0, number(0));
    } else if (op == "g" && n >= 1) {
      const uint32_t v = ColorByte(std::clamp(number(0), 0.0, 1.0));
      font.Argb = 0xFF000000u | (v << 16) | (v << 8) | v;
    } else if (op == "rg" && n >= 3) {
      font.Argb = 0xFF000000u | (uint32_t{ColorByte(std::clamp(number(2), 0.0, 1.0))} << 16) |
                  (uint32_t{ColorByte(std::clamp(number(1), 0.0, 1.0))} << 8) |
                  ColorByte(std::clamp(number(0), 0.0, 1.0));
    } else if (op == "k" && n >= 4) {
      font.Argb = 0xFF000000u | CmykToRgb(std::clamp(number(3), 0.0, 1.0), std::clamp(number(2), 0.0, 1.0),
                                          std::clamp(number(1), 0.0, 1.0), std::clamp(number(0), 0.0, 1.0));
    }
    operands.clear();
  }
  if (font.Size > 1000) font.Size = 1000;
  if (resource.empty()) return font;

  // The font resource: the widget's own resources, the form's, the page's.
  std::string baseFont;
  const TkxPDFDictObject* holders[] = {
      AsDict(doc_.Resolve(widget->Lookup("/DR"))),
      acroForm_ ? AsDict(doc_.Resolve(acroForm_->Lookup("/DR"))) : nullptr,
      pageResources_,
  };
  for (const TkxPDFDictObject* holder : holders) {
    const TkxPDFDictObject* fonts = holder ? AsDict(doc_.Resolve(holder->Lookup("/Font"))) : nullptr;
    const TkxPDFDictObject* dict = fonts ? AsDict(doc_.Resolve(fonts->Lookup("/" + resource))) : nullptr;
    if (dict) {
      baseFont = NameValue(doc_.Resolve(dict->Lookup("/BaseFont")));
      if (!baseFont.empty()) break;
    }
  }
  if (baseFont.empty())
    if (const char* standard = StandardResourceFont(resource)) baseFont = standard;
  if (baseFont.empty()) return font;
  baseFont = WithoutSubset(baseFont);
  font.Family = MapFieldFontName(baseFont);
  font.Style = StyleFromName(baseFont);
  return font;
}

void TkxFormFieldDrawer::FillBox(const TkxMatrix& toPage, double x, double y, double w, double h, uint32_t argb) {
  if (w <= 0 || h <= 0) return;
  TkxGraphics& g = ctx_.Graphics();
  g.SetTransform(TkxMatrix::Product(toPage, ctx_.PageTransform));
  g.FillPath(TkxSolidBrush(argb), BoxPath(x, y, w, h));
}

void TkxFormFieldDrawer::DrawLineText(const TkxMatrix& toPage, const TkxFieldFont& font, double size, double x,
                                      double baseline, const std::u16string& text) {
  if (text.empty() || !(size > 0)) return;
  TkxSimpleTextFont drawing(font.Family, font.Style);
  TkxTextRun run;
  run.Text = text;
  run.FontSize = size;
  run.Argb = font.Argb;
  run.Origin = TkxMatrix::Product(TkxMatrix(1, 0, 0, 1, x, baseline), TkxMatrix::Product(toPage, ctx_.PageTransform));
  DrawTextRun(ctx_.Graphics(), drawing, run);
}

void TkxFormFieldDrawer::DrawFieldDirect(TkxPDFDictObject* widget, const TkxWidgetField& field, const double rect[4]) {
  // Only forms carry what the direct drawing needs (a field without a form
  // is an annotation a viewer draws from its appearance alone).
  if (!acroForm_ || field.Kind == fkSignature) return;
  const TkxPDFDictObject* mk = AsDict(doc_.Resolve(widget->Lookup("/MK")));

  // The widget's box in its own space: turned by /MK /R, origin lower-left.
  const double rw = rect[2] - rect[0], rh = rect[3] - rect[1];
  int rotation = mk ? static_cast<int>(IntValue(doc_.Resolve(mk->Lookup("/R"))) % 360) : 0;
  if (rotation < 0) rotation += 360;
  TkxMatrix toPage(1, 0, 0, 1, rect[0], rect[1]);
  double w = rw, h = rh;
  switch (rotation) {
    case 90:
      toPage = TkxMatrix(0, 1, -1, 0, rect[2], rect[1]);
      std::swap(w, h);
      break;
    case 180: toPage = TkxMatrix(-1, 0, 0, -1, rect[2], rect[3]); break;
    case 270:
      toPage = TkxMatrix(0, -1, 1, 0, rect[0], rect[3]);
      std::swap(w, h);
      break;
    default: break;
  }
  if (w <= 0 || h <= 0) return;

  TkxGraphics& g = ctx_.Graphics();
  const TkxSavedDrawing saved(g);
  g.SetTransform(TkxMatrix::Product(toPage, ctx_.PageTransform));
  g.SetClip(BoxPath(0, 0, w, h), cmIntersect);

  // Background and border.
  uint32_t background = 0, border = 0;
  const bool hasBackground = mk && mk->Lookup("/BG") && ColorFromArray(doc_, mk->Lookup("/BG"), background);
  const bool hasBorder = mk && mk->Lookup("/BC") && ColorFromArray(doc_, mk->Lookup("/BC"), border);
  double borderWidth = 1;
  std::string borderStyle = "S";
  if (const TkxPDFDictObject* bs = AsDict(doc_.Resolve(widget->Lookup("/BS")))) {
    if (const TkxPDFObject* bw = doc_.Resolve(bs->Lookup("/W")); IsNumber(bw)) borderWidth = NumberValue(bw);
    const std::string s = NameValue(doc_.Resolve(bs->Lookup("/S")));
    if (!s.empty()) borderStyle = s;
  } else if (double border3[3]; ReadNumbers(doc_, widget->Lookup("/Border"), border3, 3)) {
    borderWidth = border3[2];
  }
  if (!std::isfinite(borderWidth) || borderWidth < 0) borderWidth = 0;
  borderWidth = std::min({borderWidth, w / 2, h / 2});
  if (hasBackground) FillBox(toPage, 0, 0, w, h, background);
  if (hasBorder && borderWidth > 0) {
    TkxPen pen(border, borderWidth);
    if (borderStyle == "D") pen.SetDashPattern({3, 3});
    g.SetTransform(TkxMatrix::Product(toPage, ctx_.PageTransform));
    const double half = borderWidth / 2;
    if (borderStyle == "U") {
      TkxGraphicsPath line(fmWinding);
      line.AddLine(0, half, w, half);
      g.DrawPath(pen, line);
    } else {
      g.DrawPath(pen, BoxPath(half, half, w - borderWidth, h - borderWidth));
    }
  }
  const double inset = (hasBorder ? borderWidth : 0);
  const double pad = inset + 2;

  TkxFieldFont font = FontFromDA(widget, field.DA);
  const TkxMetrics metrics = MetricsOf(font.Family, font.Style);
  const double lineHeight = metrics.Ascent + metrics.Descent;  // in ems

  // The automatic size of a one-line value: as high as the box allows.
  const double fitHeight = std::clamp((h - 2 * inset) / std::max(lineHeight, 0.5) * 0.9, 1.0, 1000.0);
  // One line placed by the field's alignment, its baseline centred in the box.
  auto drawSingle = [&](const std::u16string& text, double size, int quadding) {
    if (text.empty()) return;
    if (size <= 0) {
      size = fitHeight;
      const double width = WidthOf(font.Family, font.Style, size, text);
      if (width > w - 2 * pad && width > 0) size = std::max(1.0, size * (w - 2 * pad) / width);
    }
    const double width = WidthOf(font.Family, font.Style, size, text);
    double x = pad;
    if (quadding == 1)
      x = (w - width) / 2;
    else if (quadding == 2)
      x = w - pad - width;
    const double baseline = (h - lineHeight * size) / 2 + metrics.Descent * size;
    DrawLineText(toPage, font, size, x, baseline, text);
  };

  switch (field.Kind) {
    case fkText: {
      std::u16string value = field.Value;
      if (field.Flags & kFfPassword) value.assign(value.size(), u'*');
      if (value.empty()) break;
      if (field.Flags & kFfMultiline) {
        double size = font.Size;
        std::vector<std::u16string> lines;
        const double avail = std::max(1.0, w - 2 * pad);
        if (size > 0) {
          lines = WrapText(value, font.Family, font.Style, size, avail);
        } else {
          // Automatic size: the largest up to 12 points at which the text fits.
          for (size = 12;; size *= 0.9) {
            lines = WrapText(value, font.Family, font.Style, size, avail);
            if (size < 4 || lines.size() * size * metrics.LineSpacing <= h - 2 * pad) break;
          }
        }
        const double step = size * metrics.LineSpacing;
        double baseline = h - pad - metrics.Ascent * size;
        for (const std::u16string& line : lines) {
          if (baseline + metrics.Ascent * size < 0) break;  // below the box
          const double width = WidthOf(font.Family, font.Style, size, line);
          double x = pad;
          if (field.Quadding == 1)
            x = (w - width) / 2;
          else if (field.Quadding == 2)
            x = w - pad - width;
          DrawLineText(toPage, font, size, x, baseline, line);
          baseline -= step;
        }
      } else if ((field.Flags & kFfComb) && field.MaxLen > 0) {
        // One character per cell, each centred in it.
        const double cell = w / field.MaxLen;
        const double size = font.Size > 0 ? font.Size : fitHeight;
        const double baseline = (h - lineHeight * size) / 2 + metrics.Descent * size;
        const size_t count = std::min(value.size(), static_cast<size_t>(field.MaxLen));
        std::u16string line;
        double x0 = 0;
        // Characters are drawn as one run spaced to the cells, so that the
        // value stays one word for whoever reads the text.
        for (size_t i = 0; i < count; ++i) {
          const std::u16string ch(1, value[i]);
          const double cw = WidthOf(font.Family, font.Style, size, ch);
          if (i == 0) x0 = (cell - cw) / 2;
          line += ch;
        }
        DrawLineText(toPage, font, size, x0, baseline, line);
      } else {
        std::u16string line = value;
        for (char16_t& c : line)
          if (c == u'\r' || c == u'\n') c = u' ';
        drawSingle(line, font.Size, field.Quadding);
      }
      break;
    }
    case fkOther: {
      // Choice fields: the display text of each option (an option is a
      // string, or an export value with its display text).
      const TkxPDFArrayObject* opt = AsArray(field.Opt);
      auto optionText = [&](int i, std::u16string* exportValue) {
        TkxPDFObject* o = opt ? doc_.Resolve(opt->Get(i)) : nullptr;
        if (const TkxPDFArrayObject* pair = AsArray(o); pair && pair->Count() >= 2) {
          if (exportValue) *exportValue = TextOf(doc_.Resolve(pair->Get(0)));
          return TextOf(doc_.Resolve(pair->Get(1)));
        }
        std::u16string t = TextOf(o);
        if (exportValue) *exportValue = t;
        return t;
      };
      const int options = opt ? std::min(opt->Count(), kMaxOptions) : 0;
      if ((field.Flags & kFfCombo) || options == 0) {
        std::u16string shown = field.Value;
        for (int i = 0; i < options; ++i) {
          std::u16string exportValue;
          std::u16string display = optionText(i, &exportValue);
          if (exportValue == field.Value) {
            shown = std::move(display);
            break;
          }
        }
        if (shown.empty() && options > 0) {
          // A value given only by its index.
          if (const TkxPDFArrayObject* idx = AsArray(field.Indices); idx && idx->Count() > 0) {
            const int64_t i = IntValue(doc_.Resolve(idx->Get(0)), -1);
            if (i >= 0 && i < options) shown = optionText(static_cast<int>(i), nullptr);
          }
        }
        if (shown.size() > kMaxValueChars) shown.resize(kMaxValueChars);
        drawSingle(shown, font.Size, field.Quadding);
        break;
      }
      // A list box shows its options from the top index down, the selected
      // ones highlighted.
      const double size = font.Size > 0 ? font.Size : 12;
      const double step = size * metrics.LineSpacing;
      std::unordered_set<int> selected;
      if (const TkxPDFArrayObject* idx = AsArray(field.Indices)) {
        for (int k = 0; k < idx->Count() && k < kMaxOptions; ++k) {
          const int64_t i = IntValue(doc_.Resolve(idx->Get(k)), -1);
          if (i >= 0 && i < options) selected.insert(static_cast<int>(i));
        }
      }
      double top = h - inset - 1;
      for (int i = std::min(field.TopIndex, options); i < options && top > 0; ++i) {
        std::u16string exportValue;
        const std::u16string display = optionText(i, &exportValue);
        const bool isSelected =
            selected.count(i) > 0 ||
            std::find(field.Values.begin(), field.Values.end(), exportValue) != field.Values.end() ||
            std::find(field.Values.begin(), field.Values.end(), display) != field.Values.end();
        if (isSelected) FillBox(toPage, inset, top - step, w - 2 * inset, step, 0xFF99C1DAu);
        const double baseline = top - (step - lineHeight * size) / 2 - metrics.Ascent * size;
        DrawLineText(toPage, font, size, pad, baseline, display.substr(0, kMaxValueChars));
        top -= step;
      }
      break;
    }
    case fkCheckBox:
    case fkRadioButton: {
      // A radio button is on only by its own state: the field's value
      // names the one button of the group that is.
      const std::u16string state = !field.State.empty()       ? AnsiToWide(field.State)
                                   : field.Kind == fkCheckBox ? field.Value
                                                              : std::u16string();
      if (state.empty() || state == u"Off") break;
      // The caption is a ZapfDingbats character: a check by default for
      // boxes, a dot for radio buttons.
      uint8_t code = field.Kind == fkCheckBox ? '4' : 'l';
      if (mk)
        if (const TkxPDFStringObject* ca = AsString(doc_.Resolve(mk->Lookup("/CA")))) {
          const std::string bytes = ca->GetBytes();
          if (!bytes.empty()) code = static_cast<uint8_t>(bytes[0]);
        }
      TkxFieldFont mark = font;
      mark.Family = SubstituteFamily("ZapfDingbats");
      mark.Style = 0;
      double size = font.Size > 0 ? font.Size : std::min(w, h) * 0.8;
      const std::u16string text = DingbatText(code);
      if (text.empty()) break;
      const TkxMetrics mm = MetricsOf(mark.Family, 0);
      const double width = WidthOf(mark.Family, 0, size, text);
      const double baseline = (h - (mm.Ascent + mm.Descent) * size) / 2 + mm.Descent * size;
      DrawLineText(toPage, mark, size, (w - width) / 2, baseline, text);
      break;
    }
    case fkPushButton: {
      if (!mk) break;
      const std::u16string caption = TextOf(doc_.Resolve(mk->Lookup("/CA")));
      drawSingle(caption.substr(0, kMaxValueChars), font.Size, 1);
      break;
    }
    case fkSignature: break;
  }
}

}  // namespace pw
