#include "render/kxContentParser.h"

#include <algorithm>
#include <cmath>

#include "pdf/kxCstPDFDoc.h"
#include "pdf/kxWarnings.h"
#include "render/kxShadingDrawing.h"

namespace pw {

// ---------------------------------------------------------------------------
// Page session

TkxPageRenderContext::TkxPageRenderContext(TkxCustomPDFDocument& doc, TkxGraphics& g, int page)
    : doc_(doc), g_(g), page_(page) {}

TkxPageRenderContext::~TkxPageRenderContext() {
  if (DocumentFonts) DocumentFonts->EndPage();
}

TkxTextFont* TkxPageRenderContext::DefaultFont() {
  if (!defaultFont_) defaultFont_ = std::make_unique<TkxSimpleTextFont>("Arial", fsRegular);
  return defaultFont_.get();
}

TkxTextFont* TkxPageRenderContext::FontFor(TkxPDFDictObject* fontDict, const std::string& resourceName,
                                           const TkxPDFObject* source) {
  if (!fontDict) return DefaultFont();
  auto it = fonts_.find(fontDict);
  if (it != fonts_.end()) return it->second;
  const auto* ref = source && source->Kind == okIndirectReference && DocumentFonts
                        ? static_cast<const TkxPDFIndirectReference*>(source)
                        : nullptr;
  if (ref) {
    DocumentFonts->UseFor(doc_.DocumentID());
    if (TkxTextFont* kept = DocumentFonts->Use(ref->ObjectNumber, ref->Generation)) {
      fonts_.emplace(fontDict, kept);
      return kept;
    }
  }
  std::unique_ptr<TkxTextFont> font;
  std::unique_ptr<TkxPDFFontObject> obj;
  try {
    obj = LoadFontObject(doc_, resourceName, fontDict, &pageFonts_);
    if (obj) font = std::make_unique<TkxPDFTextFont>(*obj);
  } catch (const Exception& e) {
    ReportWarning("Font " + resourceName + " cannot be loaded: " + e.what());
    font.reset();
    obj.reset();
  }
  if (!font) font = std::make_unique<TkxSimpleTextFont>("Arial", fsRegular);
  TkxTextFont* raw = nullptr;
  if (ref && obj) {  // a font that cannot be read is retried on the next page that names it
    raw = DocumentFonts->Keep(ref->ObjectNumber, ref->Generation, std::move(font), std::move(obj));
  } else {
    raw = font.get();
    if (obj) pageFonts_.Add(std::move(obj));
    ownFonts_.push_back(std::move(font));
  }
  fonts_.emplace(fontDict, raw);
  return raw;
}

std::shared_ptr<const std::vector<uint8_t>> TkxPageRenderContext::FormContent(const TkxPDFStreamObject& form) {
  auto it = forms_.find(&form);
  if (it != forms_.end()) return it->second;
  auto data = std::make_shared<const std::vector<uint8_t>>(doc_.DecodeStream(form));
  if (formBytes_ + data->size() <= kMaxFormCacheBytes) {
    formBytes_ += data->size();
    forms_.emplace(&form, data);
  }
  return data;
}

bool TkxPageRenderContext::EnterForm(const TkxPDFStreamObject* form) {
  if (static_cast<int>(activeForms_.size()) >= kMaxFormDepth || formRuns_ >= kMaxFormRuns) return false;
  if (std::find(activeForms_.begin(), activeForms_.end(), form) != activeForms_.end()) return false;
  activeForms_.push_back(form);
  ++formRuns_;
  return true;
}

void TkxPageRenderContext::LeaveForm(const TkxPDFStreamObject* form) {
  if (!activeForms_.empty() && activeForms_.back() == form) activeForms_.pop_back();
}

namespace {

bool SameLinear(const TkxMatrix& a, const TkxMatrix& b) {
  const double scale = std::max({std::abs(a.M11), std::abs(a.M12), std::abs(a.M21), std::abs(a.M22), 1e-12});
  const double eps = 1e-6 * scale;
  return std::abs(a.M11 - b.M11) <= eps && std::abs(a.M12 - b.M12) <= eps && std::abs(a.M21 - b.M21) <= eps &&
         std::abs(a.M22 - b.M22) <= eps;
}

bool IsBlankChar(char16_t c) { return c == u' ' || c == u'\t' || c == 0xA0; }

// Letters of the scripts written right to left (Hebrew, Arabic, Syriac,
// Thaana, N'Ko and their presentation forms), digits, and letters of any
// other script.
bool IsRightToLeftChar(char16_t c) {
  return (c >= 0x05D0 && c <= 0x05F4) ||
         (c >= 0x0600 && c <= 0x07FF && !(c >= 0x0660 && c <= 0x0669) && !(c >= 0x06F0 && c <= 0x06F9)) ||
         (c >= 0x0860 && c <= 0x08FF) || (c >= 0xFB1D && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFF);
}
bool IsDigitChar(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= 0x0660 && c <= 0x0669) || (c >= 0x06F0 && c <= 0x06F9);
}
bool IsLeftToRightChar(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') ||
         (c >= 0x00C0 && c < 0x0590 && c != 0x00D7 && c != 0x00F7) ||
         (c >= 0x0900 && c < 0xFB1D && c != 0x2212 && !(c >= 0x2000 && c <= 0x2BFF) && !(c >= 0x3000 && c <= 0x303F));
}

bool HasRightToLeft(std::u16string_view text) {
  for (char16_t c : text)
    if (IsRightToLeftChar(c)) return true;
  return false;
}

// The strong direction of a glyph's text: 1 right to left, -1 left to
// right, 0 neither (spaces, punctuation, digits).
int GlyphDirection(const std::u16string& glyph) {
  for (char16_t c : glyph) {
    if (IsRightToLeftChar(c)) return 1;
    if (IsLeftToRightChar(c)) return -1;
  }
  return 0;
}

bool IsNumberGlyph(const std::u16string& glyph) {
  for (char16_t c : glyph)
    if (!IsDigitChar(c) && c != u'.' && c != u',' && c != 0x066B && c != 0x066C) return false;
  return !glyph.empty();
}

char16_t Mirrored(char16_t c) {
  switch (c) {
    case u'(': return u')';
    case u')': return u'(';
    case u'[': return u']';
    case u']': return u'[';
    case u'{': return u'}';
    case u'}': return u'{';
    case u'<': return u'>';
    case u'>': return u'<';
    case 0x00AB: return 0x00BB;
    case 0x00BB: return 0x00AB;
    default: return c;
  }
}

// The glyphs of a string, drawn left to right, in reading order: each
// stretch from one right-to-left glyph to the last before the next
// left-to-right one, with the numbers next to it, is turned round (numbers
// inside it keep their own order, brackets face the other way); the rest
// stays as it is.
std::u16string ReadingOrder(std::vector<std::u16string> glyphs) {
  const size_t n = glyphs.size();
  auto numberOrNeutral = [&](size_t k) { return GlyphDirection(glyphs[k]) == 0; };
  for (size_t i = 0; i < n;) {
    if (GlyphDirection(glyphs[i]) != 1) {
      ++i;
      continue;
    }
    size_t last = i;  // the stretch's last right-to-left glyph
    for (size_t j = i + 1; j < n; ++j) {
      const int d = GlyphDirection(glyphs[j]);
      if (d == -1) break;
      if (d == 1) last = j;
    }
    // Numbers read with the right-to-left text they stand next to.
    size_t from = i, to = last;
    while (from > 0 && numberOrNeutral(from - 1)) --from;
    while (from < i && !IsNumberGlyph(glyphs[from])) ++from;
    while (to + 1 < n && numberOrNeutral(to + 1)) ++to;
    while (to > last && !IsNumberGlyph(glyphs[to])) --to;
    i = from;
    last = to;
    std::reverse(glyphs.begin() + static_cast<long>(i), glyphs.begin() + static_cast<long>(last) + 1);
    for (size_t k = i; k <= last;) {
      if (!IsNumberGlyph(glyphs[k])) {
        for (char16_t& c : glyphs[k]) c = Mirrored(c);
        ++k;
        continue;
      }
      size_t e = k;
      while (e + 1 <= last && IsNumberGlyph(glyphs[e + 1])) ++e;
      std::reverse(glyphs.begin() + static_cast<long>(k), glyphs.begin() + static_cast<long>(e) + 1);
      k = e + 1;
    }
    i = last + 1;
  }
  std::u16string out;
  for (const std::u16string& g : glyphs) out += g;
  return out;
}

constexpr size_t kMaxJoinedText = 4096;

}  // namespace

void TkxPageRenderContext::QueueRun(TkxTextFont& font, TkxTextRun run, const TkxMatrix& end) {
  if (TextBounds) {
    // A line whose baseline lies less than an ascent beyond the box still
    // shows part of its glyphs.
    const double em = std::abs(run.FontSize) * std::sqrt(std::abs(run.Origin.Determinant())) * 0.9;
    const double x = run.Origin.DX, y = run.Origin.DY;
    if (!(x >= TextBounds->X - em && x <= TextBounds->Right() + em && y >= TextBounds->Y - em &&
          y <= TextBounds->Bottom() + em))
      return;
  }
  if (pendingFont_ && JoinRuns && SameLinear(pending_.Origin, run.Origin) && !pending_.Text.empty() &&
      !run.Text.empty()) {
    // Where the new run starts, seen from the end of the held one, in text
    // space units along (u) and across (v) the baseline.
    const TkxMatrix& m = pendingEnd_;
    const double det = m.M11 * m.M22 - m.M12 * m.M21;
    const double dx = run.Origin.DX - m.DX, dy = run.Origin.DY - m.DY;
    const double em = std::abs(pending_.FontSize);
    if (std::abs(det) > 1e-12 && em > 0) {
      const double u = (dx * m.M22 - dy * m.M21) / det;
      const double v = (dy * m.M11 - dx * m.M12) / det;
      if (std::abs(v) <= 0.02 * em && u >= -0.25 * em && u <= 1.0 * em) {
        // A gap wider than a tenth of an em is a word space, also where
        // the colour or the font changes with the word.
        if (u > 0.1 * em && !IsBlankChar(pending_.Text.back()) && !IsBlankChar(run.Text.front())) pending_.Text += u' ';
        if (pendingFont_ == &font && pending_.FontSize == run.FontSize && pending_.Argb == run.Argb &&
            pending_.Text.size() + run.Text.size() < kMaxJoinedText) {
          pending_.Text += run.Text;
          pendingEnd_ = end;
          return;
        }
      }
    }
  }
  FlushText();
  pendingFont_ = &font;
  pending_ = std::move(run);
  pendingEnd_ = end;
}

void TkxPageRenderContext::FlushText() {
  if (!pendingFont_) return;
  TkxTextFont* font = pendingFont_;
  pendingFont_ = nullptr;
  DrawTextRun(g_, *font, pending_);
  pending_.Text.clear();
}

// ---------------------------------------------------------------------------
// Parser

namespace {

constexpr uint32_t Op(std::string_view s) {
  uint32_t v = 0;
  for (char c : s) v = (v << 8) | static_cast<uint8_t>(c);
  return v;
}

bool FiniteAll(const double* v, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

// Coordinates beyond this are treated as garbage and clamped.
constexpr double kMaxCoord = 1e7;
double Clamp(double v) { return std::clamp(v, -kMaxCoord, kMaxCoord); }

}  // namespace

TkxPDFContentStreamParser::TkxPDFContentStreamParser(TkxPageRenderContext& ctx, const TkxPDFDictObject* resources,
                                                     const TkxGraphicalState& initial)
    : ctx_(ctx), resources_(resources), st_(initial), path_(fmWinding) {}

TkxPDFContentStreamParser::~TkxPDFContentStreamParser() = default;

TkxOperand& TkxPDFContentStreamParser::NextOperandSlot() {
  if (operandCount_ == operands_.size()) operands_.emplace_back();
  return operands_[operandCount_];
}

void TkxPDFContentStreamParser::KeepOperand() {
  if (++operandCount_ < TkxPageRenderContext::kMaxOperands) return;
  // Only the operands nearest an operator matter; drop the older half.
  const size_t dropped = operandCount_ / 2;
  std::rotate(operands_.begin(), operands_.begin() + static_cast<long>(dropped),
              operands_.begin() + static_cast<long>(operandCount_));
  operandCount_ -= dropped;
}

const TkxOperand* TkxPDFContentStreamParser::Last(size_t back) const {
  return back < operandCount_ ? &operands_[operandCount_ - 1 - back] : nullptr;
}

bool TkxPDFContentStreamParser::Numbers(size_t n, double* out) const {
  if (operandCount_ < n) return false;
  const size_t base = operandCount_ - n;
  for (size_t i = 0; i < n; ++i) {
    const TkxOperand& o = operands_[base + i];
    if (!o.IsNumber()) return false;
    out[i] = o.Number;
  }
  return FiniteAll(out, n);
}

void TkxPDFContentStreamParser::Interpret(const uint8_t* data, size_t size) {
  TkxOperandReader reader(data, size);
  TkxOperandReader* outer = reader_;
  reader_ = &reader;
  std::string op;
  bool isOperator = false;
  while (reader.Next(NextOperandSlot(), op, isOperator)) {
    if (!isOperator) {
      KeepOperand();
      continue;
    }
    try {
      Dispatch(op);
    } catch (const Exception& e) {
      // A resource that cannot be read (a broken stream, a bad font) costs
      // only the operator that needed it.
      ReportWarning("Operator " + op + ": " + e.what(), -1, static_cast<int64_t>(reader.Lexer().Position()));
    }
    operandCount_ = 0;
  }
  operandCount_ = 0;
  ctx_.FlushText();
  reader_ = outer;
}

void TkxPDFContentStreamParser::Dispatch(const std::string& op) {
  if (op.empty() || op.size() > 3) return;  // not an operator of content streams
  double v[6];
  switch (Op(op)) {
    // ---- graphics state ----
    case Op("q"): SaveState(); break;
    case Op("Q"): RestoreState(); break;
    case Op("cm"):
      if (Numbers(6, v)) ConcatMatrix(TkxMatrix(v[0], v[1], v[2], v[3], v[4], v[5]));
      break;
    case Op("w"):
      if (Numbers(1, v)) st_.LineWidth = std::min(std::abs(v[0]), kMaxCoord);
      break;
    case Op("J"):
      if (Numbers(1, v) && v[0] >= 0 && v[0] <= 2) st_.LineCap = static_cast<int>(v[0]);
      break;
    case Op("j"):
      if (Numbers(1, v) && v[0] >= 0 && v[0] <= 2) st_.LineJoin = static_cast<int>(v[0]);
      break;
    case Op("M"):
      if (Numbers(1, v)) st_.MiterLimit = std::clamp(v[0], 1.0, 1e4);
      break;
    case Op("d"):
      if (operandCount_ >= 2 && Last(1)->IsArray() && Last(0)->IsNumber()) SetDash(*Last(1), Last(0)->Number);
      break;
    case Op("ri"):
    case Op("i"): break;
    case Op("gs"):
      if (Last() && Last()->IsName()) ApplyExtGState(Last()->Text);
      break;

    // ---- paths ----
    case Op("m"):
      if (Numbers(2, v)) MoveTo(v[0], v[1]);
      break;
    case Op("l"):
      if (Numbers(2, v)) LineTo(v[0], v[1]);
      break;
    case Op("c"):
      if (Numbers(6, v)) CurveTo({Clamp(v[0]), Clamp(v[1])}, {Clamp(v[2]), Clamp(v[3])}, {Clamp(v[4]), Clamp(v[5])});
      break;
    case Op("v"):
      if (Numbers(4, v)) CurveTo(current_, {Clamp(v[0]), Clamp(v[1])}, {Clamp(v[2]), Clamp(v[3])});
      break;
    case Op("y"):
      if (Numbers(4, v)) CurveTo({Clamp(v[0]), Clamp(v[1])}, {Clamp(v[2]), Clamp(v[3])}, {Clamp(v[2]), Clamp(v[3])});
      break;
    case Op("h"): ClosePath(); break;
    case Op("re"):
      if (Numbers(4, v)) Rectangle(v[0], v[1], v[2], v[3]);
      break;
    case Op("S"): PaintPath(false, false, false, true); break;
    case Op("s"): PaintPath(true, false, false, true); break;
    case Op("f"):
    case Op("F"): PaintPath(false, true, false, false); break;
    case Op("f*"): PaintPath(false, true, true, false); break;
    case Op("B"): PaintPath(false, true, false, true); break;
    case Op("B*"): PaintPath(false, true, true, true); break;
    case Op("b"): PaintPath(true, true, false, true); break;
    case Op("b*"): PaintPath(true, true, true, true); break;
    case Op("n"): PaintPath(false, false, false, false); break;
    case Op("W"): pendingClip_ = 1; break;
    case Op("W*"): pendingClip_ = 2; break;

    // ---- colour ----
    case Op("g"):
      if (Numbers(1, v)) SetDeviceColor(true, csDeviceGray, v, 1);
      break;
    case Op("G"):
      if (Numbers(1, v)) SetDeviceColor(false, csDeviceGray, v, 1);
      break;
    case Op("rg"):
      if (Numbers(3, v)) SetDeviceColor(true, csDeviceRGB, v, 3);
      break;
    case Op("RG"):
      if (Numbers(3, v)) SetDeviceColor(false, csDeviceRGB, v, 3);
      break;
    case Op("k"):
      if (Numbers(4, v)) SetDeviceColor(true, csDeviceCMYK, v, 4);
      break;
    case Op("K"):
      if (Numbers(4, v)) SetDeviceColor(false, csDeviceCMYK, v, 4);
      break;
    case Op("cs"):
      if (Last() && Last()->IsName()) SetColorSpace(true, std::string(Last()->Name()));
      break;
    case Op("CS"):
      if (Last() && Last()->IsName()) SetColorSpace(false, std::string(Last()->Name()));
      break;
    case Op("sc"):
    case Op("scn"): SetColorInSpace(true); break;
    case Op("SC"):
    case Op("SCN"): SetColorInSpace(false); break;
    case Op("sh"):
      if (Last() && Last()->IsName()) PaintShadingResource(Last()->Text);
      break;

    // ---- text ----
    case Op("BT"): BeginText(); break;
    case Op("ET"): inText_ = false; break;
    case Op("Tc"):
      if (Numbers(1, v)) st_.CharSpacing = Clamp(v[0]);
      break;
    case Op("Tw"):
      if (Numbers(1, v)) st_.WordSpacing = Clamp(v[0]);
      break;
    case Op("Tz"):
      if (Numbers(1, v)) st_.HorizScale = Clamp(v[0]) / 100.0;
      break;
    case Op("TL"):
      if (Numbers(1, v)) st_.Leading = Clamp(v[0]);
      break;
    case Op("Ts"):
      if (Numbers(1, v)) st_.Rise = Clamp(v[0]);
      break;
    case Op("Tr"):
      if (Numbers(1, v) && v[0] >= 0 && v[0] <= 7) st_.RenderMode = static_cast<int>(v[0]);
      break;
    case Op("Tf"):
      if (operandCount_ >= 2 && Last(1)->IsName() && Last(0)->IsNumber() && std::isfinite(Last(0)->Number))
        SetFont(Last(1)->Text, Clamp(Last(0)->Number));
      break;
    case Op("Td"):
      if (Numbers(2, v)) MoveText(Clamp(v[0]), Clamp(v[1]));
      break;
    case Op("TD"):
      if (Numbers(2, v)) {
        st_.Leading = -Clamp(v[1]);
        MoveText(Clamp(v[0]), Clamp(v[1]));
      }
      break;
    case Op("Tm"):
      if (Numbers(6, v)) {
        for (double& x : v) x = Clamp(x);
        tm_ = tlm_ = TkxMatrix(v[0], v[1], v[2], v[3], v[4], v[5]);
      }
      break;
    case Op("T*"): NextLine(); break;
    case Op("Tj"):
      if (Last() && Last()->IsString()) ShowText(*Last());
      break;
    case Op("TJ"):
      if (Last() && Last()->IsArray()) ShowText(*Last());
      break;
    case Op("'"):
      if (Last() && Last()->IsString()) {
        NextLine();
        ShowText(*Last());
      }
      break;
    case Op("\""):
      if (operandCount_ >= 3 && Last(0)->IsString() && Last(1)->IsNumber() && Last(2)->IsNumber()) {
        st_.WordSpacing = Clamp(Last(2)->Number);
        st_.CharSpacing = Clamp(Last(1)->Number);
        NextLine();
        ShowText(*Last(0));
      }
      break;
    case Op("d0"):
    case Op("d1"):
      break;  // glyph procedures are not run

    // ---- XObjects, inline images ----
    case Op("Do"):
      if (Last() && Last()->IsName()) DoXObject(Last()->Text);
      break;
    case Op("BI"): InlineImage(); break;

    default:
      // Marked content, compatibility sections and unknown operators have no effect.
      break;
  }
}

// ---- graphics state --------------------------------------------------------

void TkxPDFContentStreamParser::SaveState() {
  ctx_.FlushText();  // held text keeps the clip it was shown under
  if (stack_.size() >= TkxPageRenderContext::kMaxStateDepth) {
    ++overflowSaves_;
    return;
  }
  stack_.push_back({st_, ctx_.Graphics().Save()});
}

void TkxPDFContentStreamParser::RestoreState() {
  ctx_.FlushText();
  if (overflowSaves_ > 0) {
    --overflowSaves_;
    return;
  }
  if (stack_.empty()) return;  // an unbalanced Q changes nothing
  st_ = std::move(stack_.back().State);
  ctx_.Graphics().Restore(stack_.back().Token);
  stack_.pop_back();
}

void TkxPDFContentStreamParser::ConcatMatrix(const TkxMatrix& m) {
  const TkxMatrix next = TkxMatrix::Product(m, st_.Ctm);
  const double e[6] = {next.M11, next.M12, next.M21, next.M22, next.DX, next.DY};
  if (!FiniteAll(e, 6)) return;
  st_.Ctm = next;
}

void TkxPDFContentStreamParser::SetDash(const TkxOperand& array, double phase) {
  std::vector<double> dashes;
  bool any = false;
  for (const TkxOperand& item : array.Items) {
    if (!item.IsNumber() || !std::isfinite(item.Number) || item.Number < 0) return;  // not a dash pattern
    dashes.push_back(std::min(item.Number, kMaxCoord));
    any = any || item.Number > 0;
  }
  if (!any) dashes.clear();  // all zero: a solid line
  st_.DashArray = std::move(dashes);
  st_.DashPhase = std::isfinite(phase) ? Clamp(phase) : 0;
}

void TkxPDFContentStreamParser::ApplyExtGState(const std::string& name) {
  TkxCustomPDFDocument& doc = ctx_.Document();
  if (!resources_) return;
  const TkxPDFDictObject* states = AsDict(doc.Resolve(resources_->Lookup("/ExtGState")));
  if (!states) return;
  const TkxPDFDictObject* gs = AsDict(doc.Resolve(states->Lookup(name)));
  if (!gs) return;
  auto num = [&](const char* key, double& out) {
    const TkxPDFObject* o = doc.Resolve(gs->Lookup(key));
    if (!IsNumber(o)) return false;
    const double v = NumberValue(o);
    if (!std::isfinite(v)) return false;
    out = v;
    return true;
  };
  double v = 0;
  if (num("/LW", v)) st_.LineWidth = std::min(std::abs(v), kMaxCoord);
  if (num("/LC", v) && v >= 0 && v <= 2) st_.LineCap = static_cast<int>(v);
  if (num("/LJ", v) && v >= 0 && v <= 2) st_.LineJoin = static_cast<int>(v);
  if (num("/ML", v)) st_.MiterLimit = std::clamp(v, 1.0, 1e4);
  if (num("/CA", v)) st_.StrokeAlpha = std::clamp(v, 0.0, 1.0);
  if (num("/ca", v)) st_.FillAlpha = std::clamp(v, 0.0, 1.0);
  if (const TkxPDFArrayObject* d = AsArray(doc.Resolve(gs->Lookup("/D")))) {
    const TkxPDFArrayObject* arr = AsArray(doc.Resolve(d->Get(0)));
    if (arr) {
      TkxOperand a;
      a.Kind = okArrayOperand;
      for (int i = 0; i < arr->Count() && i < 64; ++i) {
        TkxOperand n;
        const TkxPDFObject* e = doc.Resolve(arr->Get(i));
        if (!IsNumber(e)) return;
        n.Kind = okNumberOperand;
        n.Number = NumberValue(e);
        a.Items.push_back(n);
      }
      SetDash(a, NumberValue(doc.Resolve(d->Get(1))));
    }
  }
  if (const TkxPDFArrayObject* f = AsArray(doc.Resolve(gs->Lookup("/Font")))) {
    if (TkxPDFDictObject* fontDict = AsDict(doc.Resolve(f->Get(0)))) {
      st_.Font = ctx_.FontFor(fontDict, std::string(), f->Get(0));
      st_.FontSize = Clamp(NumberValue(doc.Resolve(f->Get(1))));
      st_.HasFontSize = true;
    }
  }
}

void TkxPDFContentStreamParser::SetDeviceColor(bool fill, TkxColorSpaceKind kind, const double* comps, size_t n) {
  // The components go into the state's own vector: colours change often.
  std::vector<double>& c = fill ? st_.FillColor : st_.StrokeColor;
  c.assign(comps, comps + n);
  TkxColorSpace& space = fill ? st_.FillSpace : st_.StrokeSpace;
  space = TkxColorSpace::Device(kind);
  uint32_t rgb = 0;
  space.ToRGB(c, rgb);
  (fill ? st_.FillRGB : st_.StrokeRGB) = rgb;
}

void TkxPDFContentStreamParser::SetColorSpace(bool fill, const std::string& name) {
  TkxColorSpace cs = ResolveColorSpace(ctx_.Document(), resources_, name);
  std::vector<double> initial = cs.InitialColor();
  uint32_t rgb = 0;
  const bool known = cs.ToRGB(initial, rgb);
  TkxColorSpace& space = fill ? st_.FillSpace : st_.StrokeSpace;
  space = std::move(cs);
  if (!known) return;  // patterns and unknown spaces keep the colour that was set before
  (fill ? st_.FillColor : st_.StrokeColor) = std::move(initial);
  (fill ? st_.FillRGB : st_.StrokeRGB) = rgb;
}

void TkxPDFContentStreamParser::SetColorInSpace(bool fill) {
  const TkxColorSpace& cs = fill ? st_.FillSpace : st_.StrokeSpace;
  if (cs.Kind == csPattern && fill) st_.FillPattern = Last() && Last()->IsName() ? Last()->Text : std::string();
  // The components before an uncoloured pattern's name are a colour of the
  // pattern space's base.
  const TkxColorSpace& space = cs.Kind == csPattern && cs.Alternate ? *cs.Alternate : cs;
  if (space.Kind == csPattern || space.Kind == csUnsupported) return;
  // A pattern name after the components (uncoloured patterns) is skipped.
  size_t end = operandCount_;
  if (end > 0 && operands_[end - 1].IsName()) --end;
  const size_t n = static_cast<size_t>(std::max(space.Components, 1));
  if (end < n) return;
  std::vector<double> comps(n);
  for (size_t i = 0; i < n; ++i) {
    const TkxOperand& o = operands_[end - n + i];
    if (!o.IsNumber() || !std::isfinite(o.Number)) return;
    comps[i] = o.Number;
  }
  uint32_t rgb = 0;
  if (!space.ToRGB(comps, rgb)) return;
  (fill ? st_.FillColor : st_.StrokeColor) = std::move(comps);
  (fill ? st_.FillRGB : st_.StrokeRGB) = rgb;
}

// ---- paths -----------------------------------------------------------------

void TkxPDFContentStreamParser::MoveTo(double x, double y) {
  current_ = start_ = {Clamp(x), Clamp(y)};
  hasCurrent_ = true;
  path_.StartFigure();
}

void TkxPDFContentStreamParser::LineTo(double x, double y) {
  const TkxPointF p{Clamp(x), Clamp(y)};
  if (!hasCurrent_) {
    MoveTo(p.X, p.Y);
    return;
  }
  path_.AddLine(current_.X, current_.Y, p.X, p.Y);
  current_ = p;
}

void TkxPDFContentStreamParser::CurveTo(const TkxPointF& c1, const TkxPointF& c2, const TkxPointF& p) {
  if (!hasCurrent_) {
    MoveTo(p.X, p.Y);
    return;
  }
  path_.AddBezier(current_, c1, c2, p);
  current_ = p;
}

void TkxPDFContentStreamParser::Rectangle(double x, double y, double w, double h) {
  x = Clamp(x);
  y = Clamp(y);
  w = Clamp(w);
  h = Clamp(h);
  // Drawn as four lines so that the winding of a negative width or height
  // counts for the nonzero fill rule.
  path_.StartFigure();
  path_.AddLines({{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}});
  path_.CloseFigure();
  current_ = start_ = {x, y};
  hasCurrent_ = true;
}

void TkxPDFContentStreamParser::ClosePath() {
  if (!hasCurrent_) return;
  path_.CloseFigure();
  current_ = start_;
}

void TkxPDFContentStreamParser::UseCtm() {
  ctx_.Graphics().SetTransform(TkxMatrix::Product(st_.Ctm, ctx_.PageTransform));
}

void TkxPDFContentStreamParser::PaintPath(bool close, bool fill, bool evenOdd, bool stroke) {
  if (close) ClosePath();
  ctx_.FlushText();  // drawing order is kept
  TkxGraphics& g = ctx_.Graphics();
  if (path_.PointCount() > 0) {
    if (fill || stroke || pendingClip_) UseCtm();
    if (fill) {
      path_.SetFillMode(evenOdd ? fmAlternate : fmWinding);
      if (!(st_.FillSpace.Kind == csPattern && FillWithPattern())) g.FillPath(TkxSolidBrush(st_.FillARGB()), path_);
    }
    if (stroke) g.DrawPath(st_.MakePen(), path_);
    // The clip takes effect after the path has been painted.
    if (pendingClip_) {
      path_.SetFillMode(pendingClip_ == 2 ? fmAlternate : fmWinding);
      g.SetClip(path_, cmIntersect);
    }
  }
  pendingClip_ = 0;
  path_.Reset();
  hasCurrent_ = false;
}

// ---- shadings and patterns ----------------------------------------------------

const TkxPDFObject* TkxPDFContentStreamParser::Resource(const char* category, const std::string& name) {
  if (!resources_) return nullptr;
  TkxCustomPDFDocument& doc = ctx_.Document();
  const TkxPDFDictObject* dict = AsDict(doc.Resolve(resources_->Lookup(category)));
  if (!dict) return nullptr;
  return doc.Resolve(dict->Lookup(name));
}

void TkxPDFContentStreamParser::PaintShadingResource(const std::string& name) {
  const TkxPDFObject* shading = Resource("/Shading", name);
  if (!shading) return;
  ctx_.FlushText();
  UseCtm();
  if (!ctx_.PaintShadings) return;
  PaintShading(ctx_.Document(), shading, ctx_.Graphics(), TkxMatrix::Product(st_.Ctm, ctx_.PageTransform));
}

bool TkxPDFContentStreamParser::FillWithPattern() {
  if (st_.FillPattern.empty()) return false;
  TkxCustomPDFDocument& doc = ctx_.Document();
  const TkxPDFObject* pattern = Resource("/Pattern", st_.FillPattern);
  const TkxPDFDictObject* dict = AsDict(pattern);
  if (!dict && AsStream(pattern)) dict = AsStream(pattern)->Dict.get();
  if (!dict) return false;
  TkxGraphics& g = ctx_.Graphics();
  const int64_t type = IntValue(doc.Resolve(dict->Lookup("/PatternType")), 0);
  if (type == 2) {
    if (!ctx_.PaintShadings) return true;
    // The shading painted within the path; the pattern's matrix places it
    // on the page.
    TkxMatrix m;
    if (const TkxPDFArrayObject* a = AsArray(doc.Resolve(dict->Lookup("/Matrix"))); a && a->Count() == 6) {
      double v[6];
      for (int i = 0; i < 6; ++i) v[i] = NumberValue(doc.Resolve(a->Get(i)), i == 0 || i == 3 ? 1 : 0);
      m.SetElements(v[0], v[1], v[2], v[3], v[4], v[5]);
    }
    const TkxGraphicsSaveToken saved = g.Save();
    g.SetClip(path_, cmIntersect);
    PaintShading(doc, dict->Lookup("/Shading"), g, TkxMatrix::Product(m, ctx_.PageTransform));
    g.Restore(saved);
    return true;
  }
  if (type == 1) {
    // A tiling pattern fills with the colour its cell paints on average; an
    // uncoloured one paints the colour given with it.
    uint32_t rgb = 0;
    const int64_t paintType = IntValue(doc.Resolve(dict->Lookup("/PaintType")), 1);
    const uint32_t given = st_.FillARGB() & 0xFFFFFFu;
    if ((paintType == 1 || paintType == 2) && AsStream(pattern) &&
        TilingPatternColor(doc, *AsStream(pattern), rgb, paintType == 2 ? &given : nullptr)) {
      g.FillPath(TkxSolidBrush(TkxGraphicalState::ArgbWith(rgb, st_.FillAlpha)), path_);
      return true;
    }
  }
  return false;
}

// ---- text --------------------------------------------------------------------

void TkxPDFContentStreamParser::BeginText() {
  inText_ = true;
  tm_ = tlm_ = TkxMatrix();
}

void TkxPDFContentStreamParser::SetFont(const std::string& name, double size) {
  TkxCustomPDFDocument& doc = ctx_.Document();
  const TkxPDFDictObject* fonts = resources_ ? AsDict(doc.Resolve(resources_->Lookup("/Font"))) : nullptr;
  TkxPDFObject* entry = fonts ? fonts->Lookup(name) : nullptr;
  TkxPDFDictObject* font = entry ? AsDict(doc.Resolve(entry)) : nullptr;
  // A font the resources do not have leaves the current font selected.
  if (font) st_.Font = ctx_.FontFor(font, name, entry);
  st_.FontSize = size;
  st_.HasFontSize = true;
}

void TkxPDFContentStreamParser::MoveText(double tx, double ty) {
  tlm_ = TkxMatrix::Product(TkxMatrix(1, 0, 0, 1, tx, ty), tlm_);
  tm_ = tlm_;
}

void TkxPDFContentStreamParser::NextLine() { MoveText(0, -st_.Leading); }

void TkxPDFContentStreamParser::ShowText(const TkxOperand& operand) {
  TkxTextFont* font = st_.Font ? st_.Font : ctx_.DefaultFont();
  // The storage of the last text is reused; a text shown while this one is
  // (a glyph procedure's) gets its own.
  TkxDecodedText text = std::move(spareDecoded_);
  text.Clear();
  if (operand.IsString()) {
    font->Decode(operand.Text, text);
  } else {
    for (const TkxOperand& item : operand.Items) {
      if (item.IsString())
        font->Decode(item.Text, text);
      else if (item.IsNumber() && std::isfinite(item.Number))
        text.AddAdjustment(Clamp(item.Number));
    }
  }
  ShowDecoded(text);
  spareDecoded_ = std::move(text);
}

namespace {
bool IsBlank(std::u16string_view s) {
  for (char16_t c : s)
    if (c != u' ' && c != u'\t' && c != u'\n' && c != u'\r' && c != 0xA0) return false;
  return true;
}
}  // namespace

void TkxPDFContentStreamParser::ShowDecoded(const TkxDecodedText& decoded) {
  TkxTextFont* font = st_.Font ? st_.Font : ctx_.DefaultFont();
  const double fs = st_.HasFontSize ? st_.FontSize : 10.0;
  const double th = st_.HorizScale;
  std::u16string text;
  text.reserve(decoded.Text.size() + 8);
  bool prevSolid = false;  // the last character drawn was not blank
  double gap = 0;          // space since that character beyond its width, thousandths of an em (negative: wider)
  // Character and word spacing in the units of the TJ numbers.
  const double spacingUnits = fs != 0 && !decoded.Vertical ? 1000.0 / std::abs(fs) : 0.0;
  // Right-to-left script comes drawn in the order it is seen; readers want
  // the order it is read in. Such strings are put together glyph by glyph
  // and turned round (ReadingOrder); any other string goes straight in.
  const bool rightToLeft = !decoded.Vertical && HasRightToLeft(decoded.Text);
  // A gap of more than an em inside one string (a TJ number or word spacing
  // that reaches the next column) parts it into runs of their own, as if
  // the producer had placed each with its own operator: a reader's font
  // that is narrower or wider must not close or widen the gap.
  const bool mayPart = !decoded.Vertical && !rightToLeft;
  const TkxMatrix toWorld = TkxMatrix::Product(st_.Ctm, ctx_.PageTransform);
  const TkxMatrix tm0 = tm_;
  TkxMatrix local(th, 0, 0, 1, 0, st_.Rise);
  auto at = [&](double pos) {
    return pos == 0 ? tm0 : TkxMatrix::Product(TkxMatrix(1, 0, 0, 1, Clamp(pos * th), 0), tm0);
  };
  auto queue = [&](std::u16string&& s, const TkxMatrix& start, const TkxMatrix& end) {
    TkxTextRun run;
    run.Text = std::move(s);
    run.FontSize = fs;
    run.Argb = st_.FillARGB();
    run.Origin = TkxMatrix::Product(local, TkxMatrix::Product(start, toWorld));
    ctx_.QueueRun(*font, std::move(run), TkxMatrix::Product(local, TkxMatrix::Product(end, toWorld)));
  };
  double pos = -decoded.LeadingAdjustment / 1000.0 * fs;  // this code's origin, text space before scaling
  // The run starts where its first glyph does: TJ numbers before it (a word
  // space after a colour change, "[()-338(Word)] TJ") move it.
  double partStart = pos;
  double solidEnd = 0;    // where its last solid glyph ends
  double sinceSolid = 0;  // like gap, but blanks do not end it
  std::vector<std::u16string> glyphs;
  for (const TkxDecodedChar& c : decoded.Chars) {
    std::u16string_view piece;
    if (c.TextStart <= decoded.Text.size()) piece = std::u16string_view(decoded.Text).substr(c.TextStart, c.TextLength);
    if (!piece.empty()) {
      const bool solid = !IsBlank(piece);
      if (mayPart && solid && sinceSolid < -1000 && std::isfinite(pos) && std::isfinite(solidEnd)) {
        while (!text.empty() && IsBlankChar(text.back())) text.pop_back();
        if (!text.empty()) {
          queue(std::move(text), at(partStart), at(solidEnd));
          text.clear();
          partStart = pos;
          prevSolid = false;
        }
      }
      // A gap wider than a tenth of an em between two characters (TJ
      // numbers, or character spacing that producers use to reach a tab
      // stop) is a word space the producer did not write as a character.
      const bool space = gap < -100 && prevSolid && solid;
      if (rightToLeft) {
        if (space) glyphs.emplace_back(u" ");
        glyphs.emplace_back(piece);
      } else {
        if (space) text += u' ';
        text += piece;
      }
      prevSolid = solid;
      gap = 0;
      if (solid) {
        sinceSolid = 0;
        solidEnd = pos + c.Width / 1000.0 * fs;
      }
    }
    const double step = c.Adjustment - (st_.CharSpacing + (c.WordSpace ? st_.WordSpacing : 0)) * spacingUnits;
    gap += step;
    sinceSolid += step;
    pos += c.Width / 1000.0 * fs + st_.CharSpacing + (c.WordSpace ? st_.WordSpacing : 0) - c.Adjustment / 1000.0 * fs;
  }
  if (rightToLeft) text = ReadingOrder(std::move(glyphs));
  TkxMatrix start = at(partStart);
  TkxMatrix end;  // where a run that continues this one would start
  if (!decoded.Vertical) {
    const double tx = decoded.Advance(fs, st_.CharSpacing, st_.WordSpacing, th);
    if (std::isfinite(tx)) tm_ = TkxMatrix::Product(TkxMatrix(1, 0, 0, 1, Clamp(tx), 0), tm_);
    // The last glyph ends before the spacing that follows it: a run that
    // starts there continues this one.
    double trailing = 0;
    if (!decoded.Chars.empty())
      trailing = (st_.CharSpacing + (decoded.Chars.back().WordSpace ? st_.WordSpacing : 0)) * th;
    end = std::isfinite(trailing) ? TkxMatrix::Product(TkxMatrix(1, 0, 0, 1, -Clamp(trailing), 0), tm_) : tm_;
  } else {
    // Vertical writing: the codes advance down the column. The run is still
    // drawn as one horizontal string, its baseline at the column's current
    // point and its first glyph centred on the column (half the glyph's
    // width to the left); a run that continues it sideways (glyphs laid out
    // left to right, one Tj each, as some producers write) starts where the
    // glyphs drawn end.
    local = TkxMatrix(1, 0, 0, 1, 0, st_.Rise);
    const double ty = decoded.VerticalAdvance(fs, st_.CharSpacing, st_.WordSpacing);
    const double vx = decoded.Chars.empty() ? 0 : decoded.Chars.front().Vx / 1000.0 * fs;
    const double across = decoded.Advance(fs, st_.CharSpacing, st_.WordSpacing, 1.0, false);
    if (std::isfinite(ty)) tm_ = TkxMatrix::Product(TkxMatrix(1, 0, 0, 1, 0, Clamp(ty)), tm_);
    if (std::isfinite(vx)) start = TkxMatrix::Product(TkxMatrix(1, 0, 0, 1, -Clamp(vx), 0), start);
    end = std::isfinite(across) ? TkxMatrix::Product(TkxMatrix(1, 0, 0, 1, Clamp(across), 0), start) : start;
  }
  // Invisible text (render modes 3 and 7) is drawn all the same: it is the
  // text layer that OCR tools lay over a scanned page, and often the only
  // text the page has.
  if (!text.empty()) queue(std::move(text), start, end);
}

// ---- XObjects ----------------------------------------------------------------

void TkxPDFContentStreamParser::DoXObject(const std::string& name) {
  TkxCustomPDFDocument& doc = ctx_.Document();
  if (!resources_) return;
  const TkxPDFDictObject* xobjects = AsDict(doc.Resolve(resources_->Lookup("/XObject")));
  if (!xobjects) return;
  const TkxPDFStreamObject* xobj = AsStream(doc.Resolve(xobjects->Lookup(name)));
  if (!xobj) return;
  const std::string subtype = NameValue(doc.Resolve(xobj->Dict->Lookup("/Subtype")));
  ctx_.FlushText();
  if (subtype == "Form") {
    RunForm(*xobj);
  } else if (subtype == "Image") {
    if (ctx_.OnImage) ctx_.OnImage(*xobj, name, resources_, st_);
  }
}

void TkxPDFContentStreamParser::RunForm(const TkxPDFStreamObject& form) {
  if (!ctx_.EnterForm(&form)) return;  // drawing itself, or nested too deep
  struct Leave {
    TkxPageRenderContext& ctx;
    const TkxPDFStreamObject* form;
    ~Leave() { ctx.LeaveForm(form); }
  } leave{ctx_, &form};

  TkxCustomPDFDocument& doc = ctx_.Document();
  const std::shared_ptr<const std::vector<uint8_t>> content = ctx_.FormContent(form);

  TkxMatrix matrix;
  if (const TkxPDFArrayObject* m = AsArray(doc.Resolve(form.Dict->Lookup("/Matrix"))); m && m->Count() >= 6) {
    double e[6];
    for (int i = 0; i < 6; ++i) e[i] = NumberValue(doc.Resolve(m->Get(i)));
    if (FiniteAll(e, 6)) matrix = TkxMatrix(e[0], e[1], e[2], e[3], e[4], e[5]);
  }
  // A form without resources of its own uses those of the content that draws it.
  const TkxPDFDictObject* resources = AsDict(doc.Resolve(form.Dict->Lookup("/Resources")));
  if (!resources) resources = resources_;

  TkxGraphicalState initial = st_;
  initial.Ctm = TkxMatrix::Product(matrix, st_.Ctm);
  TkxGraphics& g = ctx_.Graphics();
  const TkxMatrix savedWorld = g.Transform();
  const TkxGraphicsSaveToken token = g.Save();

  if (const TkxPDFArrayObject* b = AsArray(doc.Resolve(form.Dict->Lookup("/BBox"))); b && b->Count() >= 4) {
    double e[4];
    for (int i = 0; i < 4; ++i) e[i] = Clamp(NumberValue(doc.Resolve(b->Get(i))));
    if (FiniteAll(e, 4)) {
      TkxGraphicsPath box(fmWinding);
      box.AddLines({{e[0], e[1]}, {e[2], e[1]}, {e[2], e[3]}, {e[0], e[3]}});
      box.CloseFigure();
      g.SetTransform(TkxMatrix::Product(initial.Ctm, ctx_.PageTransform));
      g.SetClip(box, cmIntersect);
    }
  }
  TkxPDFContentStreamParser child(ctx_, resources, initial);
  child.Interpret(content->data(), content->size());
  g.Restore(token);
  g.SetTransform(savedWorld);
}

// ---- inline images ---------------------------------------------------------------

namespace {

int64_t InlineInt(const TkxOperand* o, int64_t def) {
  if (!o || !o->IsNumber() || !std::isfinite(o->Number)) return def;
  return static_cast<int64_t>(std::clamp(o->Number, -1e12, 1e12));
}

bool IsEIEnd(const uint8_t* p, size_t n, size_t at) {
  // "EI" at `at`, followed by white space, a delimiter or the end.
  if (at + 2 > n || p[at] != 'E' || p[at + 1] != 'I') return false;
  return at + 2 == n || IsPDFWordEnd(p[at + 2]);
}

}  // namespace

void TkxPDFContentStreamParser::InlineImage() {
  TkxPDFLexer& lex = reader_->Lexer();
  // The image dictionary: keys and values up to "ID".
  TkxOperand dict;
  dict.Kind = okDictOperand;
  TkxOperand operand;
  std::string op;
  bool isOperator = false;
  bool sawID = false;
  while (reader_->Next(operand, op, isOperator)) {
    if (isOperator) {
      if (op == "ID") {
        sawID = true;
        break;
      }
      if (op == "EI") return;  // an image without data
      continue;
    }
    if (dict.Items.size() < 256) dict.Items.push_back(std::move(operand));
  }
  if (!sawID) return;

  const uint8_t* p = lex.Data();
  const size_t n = lex.Size();
  size_t pos = lex.Position();
  if (pos < n && IsPDFWhite(p[pos])) ++pos;  // the one white-space byte after ID
  const size_t dataStart = pos;

  auto value = [&](const char* a, const char* b) {
    const TkxOperand* v = dict.DictValue(a);
    return v ? v : dict.DictValue(b);
  };
  // The data length, when the dictionary tells it.
  int64_t length = InlineInt(value("L", "Length"), -1);
  const TkxOperand* filter = value("F", "Filter");
  const bool filtered = filter && !(filter->IsArray() && filter->Items.empty());
  if (length < 0 && !filtered) {
    const int64_t w = InlineInt(value("W", "Width"), 0), h = InlineInt(value("H", "Height"), 0);
    const TkxOperand* imageMask = value("IM", "ImageMask");
    const bool mask = imageMask && imageMask->Kind == okBoolOperand && imageMask->Bool;
    int64_t bpc = mask ? 1 : InlineInt(value("BPC", "BitsPerComponent"), 8);
    int comps = 1;
    if (!mask) {
      const TkxOperand* cs = value("CS", "ColorSpace");
      if (cs && cs->IsName()) {
        const std::string nm(cs->Name());
        if (nm == "RGB" || nm == "DeviceRGB" || nm == "CalRGB")
          comps = 3;
        else if (nm == "CMYK" || nm == "DeviceCMYK")
          comps = 4;
        else if (nm == "G" || nm == "DeviceGray" || nm == "CalGray" || nm == "I" || nm == "Indexed")
          comps = 1;
        else
          comps = std::max(1, ResolveColorSpace(ctx_.Document(), resources_, nm).Components);
      }
    }
    if (w > 0 && h > 0 && w < (1 << 24) && h < (1 << 24) && bpc > 0 && bpc <= 16) {
      const int64_t rowBytes = (w * comps * bpc + 7) / 8;
      length = rowBytes * h;
    }
  }
  size_t end = n;  // where the data ends
  bool found = false;
  if (length >= 0 && static_cast<uint64_t>(length) <= n - dataStart) {
    size_t after = dataStart + static_cast<size_t>(length);
    size_t q = after;
    while (q < n && IsPDFWhite(p[q])) ++q;
    if (IsEIEnd(p, n, q)) {
      end = after;
      pos = q + 2;
      found = true;
    }
  }
  if (!found) {
    // Search for "EI" standing alone after white space.
    for (size_t q = dataStart; q + 1 < n; ++q) {
      if (IsEIEnd(p, n, q) && q > dataStart && IsPDFWhite(p[q - 1])) {
        end = q - 1;
        pos = q + 2;
        found = true;
        break;
      }
    }
  }
  if (!found) {
    end = n;
    pos = n;
  }
  lex.Seek(pos);
  ctx_.FlushText();
  if (ctx_.OnInlineImage)
    ctx_.OnInlineImage(dict, std::string_view(reinterpret_cast<const char*>(p + dataStart), end - dataStart),
                       resources_, st_);
}

}  // namespace pw
