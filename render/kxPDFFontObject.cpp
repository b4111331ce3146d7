#include "render/kxPDFFontObject.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <exception>

#include "pdf/kxCstPDFDoc.h"
#include "pdf/kxFilters.h"
#include "pdf/kxPDFLexer.h"
#include "platform/kxFontManager.h"
#include "render/kxFontDecoder.h"
#include "render/kxFontProgram.h"
#include "render/kxGlyphList.h"
#include "render/kxStandardFonts.h"

namespace pw {
namespace {

// Decoded sizes above these are not taken from a font (real ones are far smaller).
constexpr size_t kMaxCMapStream = size_t(16) << 20;
constexpr size_t kMaxFontProgram = size_t(64) << 20;
constexpr size_t kMaxWidthEntries = size_t(1) << 20;
constexpr uint32_t kMaxWidthTableCID = 0xFFFF;

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

bool ContainsNoCase(std::string_view hay, std::string_view needle) {
  if (needle.size() > hay.size()) return false;
  for (size_t i = 0; i + needle.size() <= hay.size(); ++i)
    if (EqualsNoCase(hay.substr(i, needle.size()), needle)) return true;
  return false;
}

// "/" followed by the text (built by appending: GCC 12 warns wrongly about "/" + string).
std::string WithSlash(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 1);
  out.push_back('/');
  out.append(s);
  return out;
}

// "/F1", "F1", "/F#31" -> "/F1".
std::string NormalizedResourceName(std::string_view name) {
  std::string n = DecodeNameEscapes(name);
  return n.empty() || n[0] != '/' ? WithSlash(n) : n;
}

// The text of a name or string object (names without "/").
std::string TextOf(const TkxPDFObject* o) {
  if (const TkxPDFNameObject* n = AsName(o)) return n->GetName();
  if (const TkxPDFStringObject* s = AsString(o)) return s->GetBytes();
  return {};
}

int32_t ClampInt(double v) {
  if (!(v == v)) return 0;
  if (v > 2147483647.0) return INT32_MAX;
  if (v < -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(std::lround(v));
}

}  // namespace

// ---------------------------------------------------------------------------
// Decoded text

void TkxDecodedText::AddAdjustment(double value) {
  if (Chars.empty())
    LeadingAdjustment += value;
  else
    Chars.back().Adjustment += value;
}

double TkxDecodedText::WidthSum() const {
  double s = 0;
  for (const auto& c : Chars) s += c.Width;
  return s;
}

double TkxDecodedText::VerticalAdvance(double fontSize, double charSpacing, double wordSpacing) const {
  double s = -LeadingAdjustment / 1000.0 * fontSize;
  for (const auto& c : Chars) {
    s += (c.W1 - c.Adjustment) / 1000.0 * fontSize + charSpacing;
    if (c.WordSpace) s += wordSpacing;
  }
  return s;
}

double TkxDecodedText::Advance(double fontSize, double charSpacing, double wordSpacing, double horizontalScale,
                               bool applyAdjustments) const {
  double s = applyAdjustments ? -LeadingAdjustment / 1000.0 * fontSize : 0.0;
  for (const auto& c : Chars) {
    s += c.Width / 1000.0 * fontSize + charSpacing;
    if (c.WordSpace) s += wordSpacing;
    if (applyAdjustments) s -= c.Adjustment / 1000.0 * fontSize;
  }
  return s * horizontalScale;
}

// ---------------------------------------------------------------------------
// Decoder

double TkxFontDecoder::Width(uint32_t codeOrCID) const {
  if (!Composite) return codeOrCID < 256 ? SimpleWidth[codeOrCID] : 0.0;
  if (const auto* r = W.Find(codeOrCID)) return r->Value;
  return DW;
}

void TkxFontDecoder::CompositeText(TkxCMapCode code, uint32_t cid, std::u16string& out) const {
  out.clear();
  if (ToUnicode && ToUnicode->Lookup(code.Value, out)) return;
  if (UnicodeCodes) {
    if (code.Length == 2) {
      if (code.Value < 0xD800 || code.Value > 0xDFFF) out.push_back(static_cast<char16_t>(code.Value));
    } else if (code.Length == 4) {
      uint32_t h = code.Value >> 16, l = code.Value & 0xFFFF;
      if (h >= 0xD800 && h <= 0xDBFF && l >= 0xDC00 && l <= 0xDFFF) {
        out.push_back(static_cast<char16_t>(h));
        out.push_back(static_cast<char16_t>(l));
      }
    } else if (code.Length == 1) {
      out.push_back(static_cast<char16_t>(code.Value));
    }
    if (!out.empty()) return;
  }
  if (Collection) {
    if (char32_t cp = Collection->Lookup(cid)) {
      AppendCodePoint(cp, out);
    } else if (code.Length == 1 && code.Value >= 0x20 && code.Value < 0x7F) {
      // Single bytes of the legacy CJK encodings are ASCII; their proportional
      // CIDs are reached by no Unicode CMap.
      out.push_back(static_cast<char16_t>(code.Value));
    }
    return;
  }
  if (!GIDToUnicode.empty()) {
    uint32_t gid = cid;
    if (!CIDToGIDIdentity) gid = cid < CIDToGID.size() ? CIDToGID[cid] : 0;
    if (auto it = GIDToUnicode.find(gid); it != GIDToUnicode.end()) {
      out = it->second;
      return;
    }
  }
  // Nothing tells what the code means: it stands for itself.
  if (code.Value <= 0xFFFF) out.push_back(static_cast<char16_t>(code.Value));
}

TkxSimpleTexts::TkxSimpleTexts() {
  for (size_t c = 0; c < 256; ++c) unit_[c] = static_cast<char16_t>(c);
  length_.fill(1);
}

void TkxSimpleTexts::Set(uint8_t code, std::u16string_view text) {
  std::erase_if(other_, [code](const auto& e) { return e.first == code; });
  if (text.size() == 1) {
    unit_[code] = text[0];
    length_[code] = 1;
    return;
  }
  length_[code] = 0;
  if (!text.empty()) other_.emplace_back(code, std::u16string(text));
}

std::u16string_view TkxSimpleTexts::Other(uint8_t code) const {
  for (const auto& [c, text] : other_)
    if (c == code) return text;
  return {};
}

void TkxFontDecoder::Append(std::string_view bytes, TkxDecodedText& out) const {
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  size_t n = bytes.size();
  std::u16string text;
  while (n > 0) {
    TkxDecodedChar ch;
    if (!Composite) {
      ch.Code = ch.CID = p[0];
      ch.CodeLength = 1;
      ch.TextStart = static_cast<uint32_t>(out.Text.size());
      const std::u16string_view text = SimpleText[p[0]];
      ch.TextLength = static_cast<uint32_t>(text.size());
      out.Text += text;
      ch.Width = SimpleWidth[p[0]];
      ++p;
      --n;
    } else {
      TkxCMapCode code;
      size_t take = CMap->NextCode(p, n, code);
      if (take == 0) break;
      ch.Code = code.Value;
      ch.CodeLength = code.Length;
      ch.CID = CMap->CIDOf(code);
      CompositeText(code, ch.CID, text);
      ch.TextStart = static_cast<uint32_t>(out.Text.size());
      ch.TextLength = static_cast<uint32_t>(text.size());
      out.Text += text;
      ch.Width = Width(ch.CID);
      if (Vertical) {
        const TkxVerticalMetrics* m = &DW2;
        if (const auto* r = W2.Find(ch.CID)) m = &r->Value;
        ch.W1 = m->W1;
        ch.Vx = m->HasVx ? m->Vx : ch.Width / 2;
        ch.Vy = m->Vy;
      }
      p += take;
      n -= take;
    }
    ch.WordSpace = ch.CodeLength == 1 && ch.Code == 32;
    out.Chars.push_back(ch);
  }
}

// ---------------------------------------------------------------------------
// Font object

TkxPDFFontObject::TkxPDFFontObject() : decoder_(std::make_unique<TkxFontDecoder>()) {}

TkxPDFFontObject::~TkxPDFFontObject() {
  if (registration_ > 0) TkxFontManager::Instance().UnregisterFont(registration_);
}

bool TkxPDFFontObject::Vertical() const { return decoder_->Composite && decoder_->CMap && decoder_->CMap->Vertical(); }

bool TkxPDFFontObject::StandardFont() const {
  TkxStandardFamily f;
  return EmbedState == esNotEmbedded && !Composite() && !Type3() && StandardFamilyFromName(BaseFontName, f);
}

double TkxPDFFontObject::CodeWidth(uint32_t codeOrCID) const { return decoder_->Width(codeOrCID); }

TkxDecodedText TkxPDFFontObject::Decode(std::string_view bytes) const {
  TkxDecodedText t;
  AppendDecoded(bytes, t);
  return t;
}

void TkxPDFFontObject::AppendDecoded(std::string_view bytes, TkxDecodedText& out) const {
  out.Vertical = decoder_->Vertical;
  decoder_->Append(bytes, out);
}

TkxDecodedText TkxPDFFontObject::DecodeShownString(std::string_view token) const {
  TkxDecodedText t;
  TkxPDFLexer lex(token);
  TkxPDFToken tok;
  lex.Next(tok);
  if (tok.Kind == tkString || tok.Kind == tkHexString) {
    AppendDecoded(tok.Text, t);
  } else if (tok.Kind == tkArrayBegin) {
    for (lex.Next(tok); tok.Kind != tkEnd && tok.Kind != tkArrayEnd; lex.Next(tok)) {
      if (tok.Kind == tkString || tok.Kind == tkHexString)
        AppendDecoded(tok.Text, t);
      else if (tok.Kind == tkNumber)
        t.AddAdjustment(tok.Number);
    }
  }
  return t;
}

TkxDecodedText TkxPDFFontObject::DecodeObject(const TkxPDFObject* operand) const {
  TkxDecodedText t;
  if (const TkxPDFStringObject* s = AsString(operand)) {
    AppendDecoded(s->GetBytes(), t);
  } else if (const TkxPDFArrayObject* a = AsArray(operand)) {
    for (const auto& item : a->Items) {
      if (const TkxPDFStringObject* s = AsString(item.get()))
        AppendDecoded(s->GetBytes(), t);
      else if (IsNumber(item.get()))
        t.AddAdjustment(NumberValue(item.get()));
    }
  }
  return t;
}

std::u16string TkxPDFFontObject::ToUnicode(std::string_view bytes) const { return Decode(bytes).Text; }

// ---------------------------------------------------------------------------
// Font list

TkxPDFFontObject* TkxPDFFontList::Get(int index) const {
  return index >= 0 && index < Count() ? items_[static_cast<size_t>(index)].get() : nullptr;
}

void TkxPDFFontList::Add(std::unique_ptr<TkxPDFFontObject> font) {
  if (font) items_.push_back(std::move(font));
}

TkxPDFFontObject* TkxPDFFontList::Find(std::string_view name) const {
  for (const auto& f : items_)
    if (f->ResourceName == name) return f.get();
  const std::string n = NormalizedResourceName(name);
  for (const auto& f : items_)
    if (NormalizedResourceName(f->ResourceName) == n) return f.get();
  return nullptr;
}

void TkxPDFFontList::Clear() { items_.clear(); }

// ---------------------------------------------------------------------------
// Names

std::string StripSubsetPrefix(std::string_view name) {
  size_t plus = name.find('+');
  return std::string(plus == std::string_view::npos ? name : name.substr(plus + 1));
}

std::string FamilyFromFontName(std::string_view name) {
  size_t cut = name.find(',');
  if (cut == std::string_view::npos) cut = name.find('-');
  std::string out(name.substr(0, cut));
  out.erase(std::remove(out.begin(), out.end(), '/'), out.end());
  return out;
}

namespace {
// TeX's font names carry the style in a few letters after the family prefix
// (cm: Computer Modern, sf: cm-super, ec/tc: EC): CMBX12 bold extended,
// CMTI10 text italic, CMMI10 math italic, CMSL10 slanted, SFBI1095 bold
// italic, SFSX1440 sans bold.
int StyleFromTeXName(std::string_view name) {
  std::string n;
  for (char c : name) n += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (n.size() < 3) return fsRegular;
  const std::string_view prefix = std::string_view(n).substr(0, 2);
  if (prefix != "cm" && prefix != "sf" && prefix != "ec" && prefix != "tc") return fsRegular;
  std::string_view shape = std::string_view(n).substr(2);
  while (!shape.empty() && std::isdigit(static_cast<unsigned char>(shape.back()))) shape.remove_suffix(1);
  if (shape.empty() || !std::all_of(shape.begin(), shape.end(), [](char c) { return c >= 'a' && c <= 'z'; }))
    return fsRegular;
  const auto has = [&](std::string_view part) { return shape.find(part) != std::string_view::npos; };
  const bool bold = has("bx") || shape.front() == 'b' || shape == "sx" || shape == "xi" || shape == "mib";
  const bool italic = has("ti") || has("sl") || has("it") || has("mi") || shape == "bi" || shape == "si" ||
                      shape == "xi" || shape == "so";
  return (bold ? fsBold : fsRegular) | (italic ? fsItalic : fsRegular);
}
}  // namespace

int StyleFromFontName(std::string_view name) {
  if (const int tex = StyleFromTeXName(name); tex != fsRegular) return tex;
  const bool bold = ContainsNoCase(name, "Bold"), italic = ContainsNoCase(name, "Italic");
  if (bold && italic) return fsBoldItalic;
  if (ContainsNoCase(name, "BoldObl")) return fsBoldItalic;
  if (italic) return fsItalic;
  if (bold) return fsBold;
  if (ContainsNoCase(name, "Oblique")) return fsItalic;
  return fsRegular;
}

// ---------------------------------------------------------------------------
// Loading

class TkxFontLoader {
 public:
  TkxFontLoader(TkxCustomPDFDocument& doc, TkxPDFFontObject& font) : doc_(doc), f_(font), d_(*font.decoder_) {}

  void Load(TkxPDFDictObject& dict, const TkxPDFFontList* list, bool registerProgram);

 private:
  TkxPDFObject* R(TkxPDFObject* o) { return o ? doc_.Resolve(o) : nullptr; }
  TkxPDFObject* Get(const TkxPDFDictObject* d, std::string_view key) { return d ? R(d->Lookup(key)) : nullptr; }
  std::vector<uint8_t> StreamBytes(const TkxPDFStreamObject& s, size_t limit);
  void ReadNames(TkxPDFDictObject& dict);
  void ReadDescriptor(TkxPDFDictObject* descriptor);
  void ReadSimpleWidths(TkxPDFDictObject& dict);
  void ReadCompositeWidths(TkxPDFDictObject* descendant);
  void ReadVerticalMetrics(TkxPDFDictObject& descendant);
  void SetUpSimpleEncoding(TkxPDFDictObject& dict);
  bool ApplyProgramEncoding();
  void SetUpComposite(TkxPDFDictObject& dict, TkxPDFDictObject* descendant);
  std::shared_ptr<const TkxCMap> EncodingCMap(TkxPDFObject* enc, int depth);
  void ReadToUnicode(TkxPDFDictObject& dict);
  void FillSimpleTables();
  void TakeProgram(TkxPDFDictObject* descendant, const TkxPDFFontList* list, bool registerProgram);
  // The embedded program's decoded bytes, decoded once however many steps
  // of the load read them.
  const std::vector<uint8_t>& ProgramBytes();
  std::vector<uint8_t> TakeProgramBytes();
  // The embedded program opened through FreeType (nullptr when the font has
  // none); opened once however many steps ask.
  const TkxFontProgram* Program();
  // The program is a TrueType or OpenType one (its codes select glyphs
  // through its cmap).
  bool TrueTypeProgram();

  TkxCustomPDFDocument& doc_;
  TkxPDFFontObject& f_;
  TkxFontDecoder& d_;
  // The simple font's code names, needed only while its texts are worked out.
  TkxSimpleEncoding encoding_;
  TkxPDFStreamObject* program_ = nullptr;
  bool subset_ = false;
  bool symbolic_ = false, nonSymbolic_ = false;
  bool symbolCodes_ = false;  // a symbolic font: its codes select the program's glyphs directly
  bool dingbats_ = false;     // a dingbat font: its glyph names are the dingbat list's
  std::vector<double> simpleWidths_;
  bool hasWidths_ = false;
  std::vector<uint8_t> programBytes_;
  bool programDecoded_ = false;
  std::unique_ptr<TkxFontProgram> programInfo_;
  bool programOpened_ = false;
  std::string programKey_;  // the descriptor key the program came under ("/FontFile2", ...)
};

const std::vector<uint8_t>& TkxFontLoader::ProgramBytes() {
  if (!programDecoded_ && program_) {
    programDecoded_ = true;  // a program that fails to decode is not tried again
    programBytes_ = StreamBytes(*program_, kMaxFontProgram);
  }
  return programBytes_;
}

std::vector<uint8_t> TkxFontLoader::TakeProgramBytes() {
  ProgramBytes();
  programInfo_.reset();  // it reads the bytes that leave here
  programOpened_ = false;
  programDecoded_ = false;
  return std::move(programBytes_);
}

const TkxFontProgram* TkxFontLoader::Program() {
  if (!programOpened_ && program_) {
    programOpened_ = true;
    const std::vector<uint8_t>& bytes = ProgramBytes();
    if (!bytes.empty()) {
      auto p = std::make_unique<TkxFontProgram>(bytes);
      if (p->Opened()) programInfo_ = std::move(p);
    }
  }
  return programInfo_.get();
}

bool TkxFontLoader::TrueTypeProgram() {
  if (!program_) return false;
  return programKey_ == "/FontFile2" ||
         (programKey_ == "/FontFile3" && NameValue(Get(program_->Dict.get(), "/Subtype")) == "OpenType");
}

std::vector<uint8_t> TkxFontLoader::StreamBytes(const TkxPDFStreamObject& s, size_t limit) {
  if (!s.HasData) return {};
  PDFObjectPtr filter = doc_.DeepResolve(s.Dict->Lookup("/Filter"));
  if (!filter || IsNull(filter.get())) {
    if (s.Data.size() > limit) throw ELimitExceeded("Font data is too large");
    return s.Data;
  }
  PDFObjectPtr parms = doc_.DeepResolve(s.Dict->Lookup("/DecodeParms"));
  return ApplyDecodeFilters(s.Data, filter.get(), parms.get(), limit);
}

void TkxFontLoader::ReadNames(TkxPDFDictObject& dict) {
  if (const TkxPDFNameObject* st = AsName(Get(&dict, "/Subtype"))) f_.Subtype = st->Text;
  if (TkxPDFObject* o = Get(&dict, "/FirstChar"); IsNumber(o)) f_.FirstChar = ClampInt(NumberValue(o));
  if (TkxPDFObject* o = Get(&dict, "/LastChar"); IsNumber(o)) f_.LastChar = ClampInt(NumberValue(o));
  std::string base = TextOf(Get(&dict, "/BaseFont"));
  if (base.empty() && f_.Type3()) base = TextOf(Get(&dict, "/Name"));
  if (base.empty()) return;
  subset_ = base.find('+') != std::string::npos;
  f_.FontName = StripSubsetPrefix(base);
  f_.FontName.erase(std::remove(f_.FontName.begin(), f_.FontName.end(), '/'), f_.FontName.end());
  f_.BaseFontName = FamilyFromFontName(f_.FontName);
  const int style = StyleFromFontName(f_.FontName);
  f_.Bold = style & fsBold;
  f_.Italic = style & fsItalic;
}

void TkxFontLoader::ReadDescriptor(TkxPDFDictObject* fd) {
  if (!fd) {
    f_.EmbedState = esNotEmbedded;
    return;
  }
  if (TkxPDFObject* o = Get(fd, "/MissingWidth"); IsNumber(o)) f_.MissingWidth = ClampInt(NumberValue(o));
  const int64_t flags = IntValue(Get(fd, "/Flags"), 0);
  symbolic_ = flags & 4;
  nonSymbolic_ = flags & 32;
  if (flags & 64) f_.Italic = true;
  if (flags & (int64_t(1) << 18)) f_.Bold = true;
  if (NumberValue(Get(fd, "/FontWeight"), 400) >= 600) f_.Bold = true;
  for (const char* key : {"/FontFile", "/FontFile2", "/FontFile3"}) {
    if (TkxPDFStreamObject* s = AsStream(Get(fd, key))) {
      f_.EmbedState = subset_ ? esEmbeddedSubset : esEmbedded;
      program_ = s;
      programKey_ = key;
      return;
    }
  }
  f_.EmbedState = esNotEmbedded;
}

void TkxFontLoader::ReadSimpleWidths(TkxPDFDictObject& dict) {
  const TkxPDFArrayObject* w = AsArray(Get(&dict, "/Widths"));
  if (!w) return;
  hasWidths_ = true;
  const size_t n = std::min<size_t>(w->Items.size(), 256 + 65536);
  simpleWidths_.reserve(n);
  f_.Widths.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    double v = NumberValue(R(w->Items[i].get()), 0);
    simpleWidths_.push_back(v);
    f_.Widths.push_back(ClampInt(v));
  }
}

void TkxFontLoader::ReadCompositeWidths(TkxPDFDictObject* desc) {
  if (!desc) return;
  if (TkxPDFObject* dw = Get(desc, "/DW"); IsNumber(dw)) d_.DW = NumberValue(dw);
  if (d_.Vertical) ReadVerticalMetrics(*desc);
  const TkxPDFArrayObject* w = AsArray(Get(desc, "/W"));
  if (!w) return;
  size_t entries = 0;
  bool first = true;
  uint64_t highest = 0;
  const size_t n = w->Items.size();
  for (size_t i = 0; i < n && entries < kMaxWidthEntries;) {
    TkxPDFObject* a = R(w->Items[i].get());
    if (!IsNumber(a)) {
      ++i;
      continue;
    }
    const double c = NumberValue(a);
    TkxPDFObject* b = i + 1 < n ? R(w->Items[i + 1].get()) : nullptr;
    if (first) {
      f_.FirstWidthIndex = ClampInt(c);
      first = false;
    }
    const bool cidOk = c >= 0 && c <= double(UINT32_MAX);
    if (const TkxPDFArrayObject* list = AsArray(b)) {
      for (size_t k = 0; k < list->Items.size() && cidOk && entries < kMaxWidthEntries; ++k) {
        const uint64_t cid = static_cast<uint64_t>(c) + k;
        if (cid > UINT32_MAX) break;
        d_.W.Insert(cid, cid, NumberValue(R(list->Items[k].get()), 0));
        highest = std::max(highest, cid);
        ++entries;
      }
      i += 2;
    } else if (IsNumber(b) && i + 2 < n) {
      const double c2 = NumberValue(b);
      const double width = NumberValue(R(w->Items[i + 2].get()), 0);
      if (cidOk && c2 >= c && c2 <= double(UINT32_MAX)) {
        d_.W.Insert(static_cast<uint64_t>(c), static_cast<uint64_t>(c2), width);
        highest = std::max(highest, static_cast<uint64_t>(c2));
        ++entries;
      }
      i += 3;
    } else {
      break;  // a dangling start: nothing more to read
    }
  }
  // The table by CID as the font object publishes it (bounded).
  if (d_.W.Count() > 0) {
    const uint64_t size = std::min<uint64_t>(highest, kMaxWidthTableCID) + 1;
    f_.Widths.assign(static_cast<size_t>(size), 0);
    for (const auto& [lo, r] : d_.W.Ranges()) {
      if (r.Lo >= size) break;
      const uint64_t hi = std::min<uint64_t>(r.Hi, size - 1);
      for (uint64_t cid = r.Lo; cid <= hi; ++cid) f_.Widths[static_cast<size_t>(cid)] = ClampInt(r.Value);
    }
  }
}

void TkxFontLoader::ReadVerticalMetrics(TkxPDFDictObject& desc) {
  const auto finite = [](double v, double def) { return std::isfinite(v) && std::abs(v) < 1e6 ? v : def; };
  if (const TkxPDFArrayObject* dw2 = AsArray(Get(&desc, "/DW2")); dw2 && dw2->Count() >= 2) {
    d_.DW2.Vy = finite(NumberValue(R(dw2->Items[0].get()), 880), 880);
    d_.DW2.W1 = finite(NumberValue(R(dw2->Items[1].get()), -1000), -1000);
  }
  const TkxPDFArrayObject* w2 = AsArray(Get(&desc, "/W2"));
  if (!w2) return;
  const size_t n = w2->Items.size();
  size_t entries = 0;
  const auto metric = [&](const TkxPDFArrayObject& from, size_t at) {
    TkxFontDecoder::TkxVerticalMetrics m;
    m.W1 = finite(NumberValue(R(from.Items[at].get()), -1000), -1000);
    m.Vx = finite(NumberValue(R(from.Items[at + 1].get()), 0), 0);
    m.Vy = finite(NumberValue(R(from.Items[at + 2].get()), 880), 880);
    m.HasVx = true;
    return m;
  };
  for (size_t i = 0; i + 1 < n && entries < kMaxWidthEntries;) {
    TkxPDFObject* a = R(w2->Items[i].get());
    const double c = NumberValue(a, -1);
    if (!IsNumber(a) || !(c >= 0 && c <= double(UINT32_MAX))) break;
    if (const TkxPDFArrayObject* list = AsArray(R(w2->Items[i + 1].get()))) {
      // c [w1 vx vy  w1 vx vy ...]
      for (size_t k = 0; k + 2 < list->Items.size() && entries < kMaxWidthEntries; k += 3, ++entries) {
        const uint64_t cid = static_cast<uint64_t>(c) + k / 3;
        if (cid > UINT32_MAX) break;
        d_.W2.Insert(cid, cid, metric(*list, k));
      }
      i += 2;
    } else if (i + 4 < n) {
      // c1 c2 w1 vx vy
      const double c2 = NumberValue(R(w2->Items[i + 1].get()), -1);
      if (c2 >= c && c2 <= double(UINT32_MAX)) {
        d_.W2.Insert(static_cast<uint64_t>(c), static_cast<uint64_t>(c2), metric(*w2, i + 2));
        ++entries;
      }
      i += 5;
    } else {
      break;
    }
  }
}

void TkxFontLoader::SetUpSimpleEncoding(TkxPDFDictObject& dict) {
  TkxPDFObject* enc = Get(&dict, "/Encoding");
  TkxBaseEncoding base = beStandard;
  bool haveBase = false;
  if (const TkxPDFNameObject* n = AsName(enc)) {
    haveBase = BaseEncodingFromName(n->GetName(), base);
  } else if (TkxPDFDictObject* e = AsDict(enc)) {
    if (const TkxPDFNameObject* n = AsName(Get(e, "/BaseEncoding")))
      haveBase = BaseEncodingFromName(n->GetName(), base);
  }
  TkxStandardFamily family;
  const bool standard = StandardFamilyFromName(f_.BaseFontName, family);
  dingbats_ = (standard && family == sfZapfDingbats) || ContainsNoCase(f_.FontName, "Dingbat") ||
              (haveBase && base == beZapfDingbats);
  bool noNames = false;
  bool programNames = false;
  if (!haveBase && (f_.Subtype == "/Type1" || f_.Subtype == "/MMType1")) {
    try {
      programNames = ApplyProgramEncoding();
    } catch (const std::exception&) {
      programNames = false;
    }
  }
  if (programNames) {
    // The embedded program's own encoding stands; /Differences still apply on top.
  } else if (!haveBase) {
    if (standard && (family == sfSymbol || family == sfZapfDingbats)) {
      base = StandardFamilyEncoding(family);
    } else if (symbolic_ && !nonSymbolic_ && !standard) {
      noNames = true;  // the program's own encoding decides; its codes stand for themselves
    } else if (f_.Subtype == "/TrueType") {
      base = beWinAnsi;
    } else {
      base = beStandard;
    }
  }
  if (!programNames) encoding_.SetBase(base);
  if (noNames) {
    for (int c = 0; c < 256; ++c) encoding_.SetName(static_cast<uint8_t>(c), std::string());
    symbolCodes_ = true;
  }
  if (TkxPDFDictObject* e = AsDict(enc)) {
    if (TkxPDFArrayObject* diff = AsArray(Get(e, "/Differences"))) {
      // Elements may be references (rare); resolve them into a private copy.
      TkxPDFArrayObject copy;
      for (const auto& item : diff->Items) {
        TkxPDFObject* o = R(item.get());
        if (IsNumber(o))
          copy.Add(std::make_unique<TkxPDFRealObject>(NumberValue(o)));
        else if (const TkxPDFNameObject* nm = AsName(o))
          copy.Add(std::make_unique<TkxPDFNameObject>(nm->Text));
      }
      encoding_.ApplyDifferences(copy);
    }
  }
}

// An embedded Type 1 or CFF program without an encoding named in the PDF
// draws its codes through its own built-in encoding; TeX's math and symbol
// fonts rely on it, so reading them as StandardEncoding garbles the text.
// Fills the encoding's names from the program and answers whether it had a
// custom encoding (a program that declares StandardEncoding answers false).
bool TkxFontLoader::ApplyProgramEncoding() {
  if (!program_) return false;
  const std::vector<uint8_t>& bytes = ProgramBytes();
  if (bytes.empty()) return false;
  FT_Library lib = nullptr;
  if (FT_Init_FreeType(&lib) != 0) return false;
  FT_Face face = nullptr;
  bool applied = false;
  if (FT_New_Memory_Face(lib, bytes.data(), static_cast<FT_Long>(bytes.size()), 0, &face) == 0) {
    FT_CharMap custom = nullptr;
    for (int i = 0; i < face->num_charmaps; ++i)
      if (face->charmaps[i]->encoding == FT_ENCODING_ADOBE_CUSTOM) custom = face->charmaps[i];
    if (custom && FT_HAS_GLYPH_NAMES(face) && FT_Set_Charmap(face, custom) == 0) {
      TkxSimpleEncoding enc(beStandard);
      for (int c = 0; c < 256; ++c) enc.SetName(static_cast<uint8_t>(c), std::string());
      int named = 0;
      for (FT_ULong c = 0; c < 256; ++c) {
        const FT_UInt gid = FT_Get_Char_Index(face, c);
        if (gid == 0) continue;
        char name[128] = {0};
        if (FT_Get_Glyph_Name(face, gid, name, sizeof name) != 0 || !name[0]) continue;
        if (std::string_view(name) == ".notdef") continue;
        enc.SetName(static_cast<uint8_t>(c), name);
        ++named;
      }
      if (named > 0) {
        encoding_ = enc;
        applied = true;
      }
    }
    FT_Done_Face(face);
  }
  FT_Done_FreeType(lib);
  return applied;
}

std::shared_ptr<const TkxCMap> TkxFontLoader::EncodingCMap(TkxPDFObject* enc, int depth) {
  if (const TkxPDFNameObject* n = AsName(enc)) {
    if (auto m = TkxCMap::Predefined(n->GetName())) return m;
    return nullptr;
  }
  if (TkxPDFStreamObject* s = AsStream(enc)) {
    std::shared_ptr<const TkxCMap> parent;
    if (depth < TkxCMap::kMaxUseDepth) {
      TkxPDFObject* use = Get(s->Dict.get(), "/UseCMap");
      if (use && use != enc) parent = EncodingCMap(use, depth + 1);
    }
    std::vector<uint8_t> bytes = StreamBytes(*s, kMaxCMapStream);
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::shared_ptr<TkxCMap> m = TkxCMap::FromText(text, parent.get(), depth);
    return m;
  }
  return nullptr;
}

void TkxFontLoader::SetUpComposite(TkxPDFDictObject& dict, TkxPDFDictObject* desc) {
  d_.Composite = true;
  std::string encName;
  try {
    TkxPDFObject* enc = Get(&dict, "/Encoding");
    if (const TkxPDFNameObject* n = AsName(enc)) encName = n->GetName();
    d_.CMap = EncodingCMap(enc, 0);
  } catch (const std::exception&) {
    d_.CMap = nullptr;
  }
  if (!d_.CMap) d_.CMap = TkxCMap::Identity(false);
  d_.Vertical = d_.CMap->Vertical();
  if (encName.empty()) encName = d_.CMap->Name();
  d_.UnicodeCodes = encName.compare(0, 3, "Uni") == 0 &&
                    (encName.find("UCS2") != std::string::npos || encName.find("UTF16") != std::string::npos);
  std::string ordering = d_.CMap->Ordering();
  if (TkxPDFDictObject* info = AsDict(Get(desc, "/CIDSystemInfo"))) {
    std::string o = TextOf(Get(info, "/Ordering"));
    if (!o.empty()) ordering = o;
  }
  d_.Collection = TkxCIDToUnicode::ForOrdering(ordering);
}

void TkxFontLoader::ReadToUnicode(TkxPDFDictObject& dict) {
  TkxPDFStreamObject* s = AsStream(Get(&dict, "/ToUnicode"));
  if (!s) return;
  std::vector<uint8_t> bytes = StreamBytes(*s, kMaxCMapStream);
  auto map = std::make_unique<TkxToUnicodeMap>();
  map->Parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  if (!map->Empty()) d_.ToUnicode = std::move(map);
}

void TkxFontLoader::FillSimpleTables() {
  TkxStandardFamily family = sfHelvetica;
  StandardFamilyFromName(f_.BaseFontName, family);  // other names take Helvetica's metrics
  const double scale = f_.Type3() ? f_.FontMatrix[0] * 1000.0 : 1.0;
  std::u16string text;
  const bool trueType = !f_.Type3() && TrueTypeProgram();
  for (int c = 0; c < 256; ++c) {
    const std::string& name = encoding_.Name(static_cast<uint8_t>(c));
    text.clear();
    if (!(d_.ToUnicode && d_.ToUnicode->Lookup(static_cast<uint32_t>(c), text))) {
      if (name.empty() || !GlyphNameToUnicode(name, text, dingbats_)) {
        text.assign(1, static_cast<char16_t>(c));
        // A code the encoding gives no name (every code of a symbolic font)
        // selects a TrueType glyph through the program's cmap; what the
        // glyph is, its name or the program's Unicode cmap tells.
        std::u16string fromProgram;
        if (name.empty() && trueType && Program() &&
            Program()->GlyphText(Program()->SymbolGlyph(static_cast<uint8_t>(c)), fromProgram) && fromProgram != text) {
          text = fromProgram;
          if (symbolCodes_) d_.ProgramTexts += fromProgram;
        }
      }
    }
    d_.SimpleText.Set(static_cast<uint8_t>(c), text);

    double w = f_.MissingWidth;
    if (hasWidths_) {
      const int64_t i = int64_t(c) - f_.FirstChar;
      if (i >= 0 && i < static_cast<int64_t>(simpleWidths_.size())) w = simpleWidths_[static_cast<size_t>(i)];
    } else if (!f_.Type3() && !name.empty()) {
      const int sw = StandardGlyphWidth(family, f_.Style(), name);
      if (sw >= 0) w = sw;
    }
    d_.SimpleWidth[c] = w * scale;
  }
}

void TkxFontLoader::TakeProgram(TkxPDFDictObject* desc, const TkxPDFFontList* list, bool registerProgram) {
  if (!program_) return;
  const std::string cidType = desc ? NameValue(Get(desc, "/Subtype")) : std::string();
  const bool identityGlyphs = d_.Composite && !d_.ToUnicode && !d_.Collection && !d_.UnicodeCodes &&
                              (cidType == "CIDFontType2" || cidType == "CIDFontType0");
  // A program another font of the page already registered is shared.
  const TkxPDFFontObject* twin = nullptr;
  if (list)
    for (int i = 0; i < list->Count(); ++i)
      if (list->Get(i)->programKey_ == program_ && list->Get(i)->Installed) twin = list->Get(i);
  f_.programKey_ = program_;
  const bool wantRegistration = registerProgram && !twin && !f_.BaseFontName.empty();
  if (twin) {
    f_.Installed = twin->Installed && twin->InstalledName == f_.BaseFontName;
    if (f_.Installed) f_.InstalledName = twin->InstalledName;
  }
  if (!wantRegistration && !identityGlyphs) return;

  const TkxFontProgram* program = Program();
  if (!program) return;
  // Without a ToUnicode map the codes of an identity-mapped CID font select
  // glyphs; the program tells what they are. A CID-keyed CFF program's glyph
  // indices are not the CIDs, so it cannot answer.
  if (identityGlyphs && (cidType == "CIDFontType2" || program->NameKeyed())) {
    d_.GIDToUnicode = program->AllGlyphTexts();
    TkxPDFObject* map = cidType == "CIDFontType2" ? Get(desc, "/CIDToGIDMap") : nullptr;
    if (TkxPDFStreamObject* s = AsStream(map); s && !d_.GIDToUnicode.empty()) {
      std::vector<uint8_t> m = StreamBytes(*s, size_t(2) * 0x10000);
      d_.CIDToGIDIdentity = false;
      d_.CIDToGID.resize(m.size() / 2);
      for (size_t i = 0; i + 1 < m.size(); i += 2) d_.CIDToGID[i / 2] = static_cast<uint16_t>(m[i] << 8 | m[i + 1]);
    }
  }
  if (wantRegistration && program->Drawable()) {
    int handle = TkxFontManager::Instance().RegisterFont(f_.BaseFontName, f_.Style(), TakeProgramBytes());
    if (handle > 0) {
      f_.registration_ = handle;
      f_.Installed = true;
      f_.InstalledName = f_.BaseFontName;
    }
  }
}

void TkxFontLoader::Load(TkxPDFDictObject& dict, const TkxPDFFontList* list, bool registerProgram) {
  ReadNames(dict);
  TkxPDFDictObject* desc = nullptr;
  if (f_.Composite()) {
    if (const TkxPDFArrayObject* dfs = AsArray(Get(&dict, "/DescendantFonts")); dfs && dfs->Count() > 0)
      desc = AsDict(R(dfs->Items[0].get()));
  }
  ReadDescriptor(AsDict(Get(desc ? desc : &dict, "/FontDescriptor")));
  if (EqualsNoCase(f_.BaseFontName, "Monotype Corsiva")) {
    f_.Italic = true;
    f_.Bold = false;
  }

  if (f_.Type3()) {
    if (const TkxPDFArrayObject* m = AsArray(Get(&dict, "/FontMatrix")); m && m->Count() == 6)
      for (int i = 0; i < 6; ++i)
        f_.FontMatrix[static_cast<size_t>(i)] = NumberValue(R(m->Items[static_cast<size_t>(i)].get()), 0);
  }

  // Each part on its own: a damaged one is left out, the font still loads.
  try {
    ReadToUnicode(dict);
  } catch (const std::exception&) {
    d_.ToUnicode.reset();
  }
  if (f_.Composite()) {
    SetUpComposite(dict, desc);
    try {
      ReadCompositeWidths(desc);
    } catch (const std::exception&) {
    }
  } else {
    try {
      ReadSimpleWidths(dict);
    } catch (const std::exception&) {
      hasWidths_ = false;
    }
    try {
      SetUpSimpleEncoding(dict);
    } catch (const std::exception&) {
      encoding_.SetBase(beWinAnsi);
    }
    FillSimpleTables();
  }
  try {
    TakeProgram(desc, list, registerProgram);
  } catch (const std::exception&) {
  }
}

std::unique_ptr<TkxPDFFontObject> LoadFontObject(TkxCustomPDFDocument& doc, std::string_view resourceName,
                                                 TkxPDFObject* fontDict, const TkxPDFFontList* list,
                                                 bool registerProgram) {
  TkxPDFDictObject* dict = AsDict(fontDict ? doc.Resolve(fontDict) : nullptr);
  if (!dict) return nullptr;
  auto font = std::make_unique<TkxPDFFontObject>();
  font->ResourceName =
      resourceName.empty() || resourceName[0] == '/' ? std::string(resourceName) : WithSlash(resourceName);
  TkxFontLoader(doc, *font).Load(*dict, list, registerProgram);
  return font;
}

void LoadPageFonts(TkxCustomPDFDocument& doc, TkxPDFObject* fontResources, TkxPDFFontList& list) {
  TkxPDFDictObject* fonts = AsDict(fontResources ? doc.Resolve(fontResources) : nullptr);
  if (!fonts) return;
  for (int i = 0; i < fonts->Count(); ++i) {
    const TkxPDFNameObject* key = fonts->KeyAt(i);
    if (!key) continue;
    list.Add(LoadFontObject(doc, key->Text, fonts->ValueAt(i), &list, true));
  }
}

}  // namespace pw
