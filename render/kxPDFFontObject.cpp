#include "render/kxPDFFontObject.h"

#include "pdf/kxCstPDFDoc.h"
#include "render/kxFontDecoder.h"

namespace pw {

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

TkxPDFFontObject::TkxPDFFontObject() = default;
TkxPDFFontObject::~TkxPDFFontObject() = default;

bool TkxPDFFontObject::Vertical() const { return false; }
bool TkxPDFFontObject::StandardFont() const { return false; }
double TkxPDFFontObject::CodeWidth(uint32_t) const { return MissingWidth; }

TkxDecodedText TkxPDFFontObject::Decode(std::string_view bytes) const {
  TkxDecodedText t;
  AppendDecoded(bytes, t);
  return t;
}

void TkxPDFFontObject::AppendDecoded(std::string_view bytes, TkxDecodedText& out) const {
  for (unsigned char b : bytes) {
    TkxDecodedChar c;
    c.Code = c.CID = b;
    c.TextStart = static_cast<uint32_t>(out.Text.size());
    c.TextLength = 1;
    c.Width = CodeWidth(b);
    c.WordSpace = b == 32;
    out.Text.push_back(static_cast<char16_t>(b));
    out.Chars.push_back(c);
  }
}

TkxDecodedText TkxPDFFontObject::DecodeShownString(std::string_view) const { return {}; }
TkxDecodedText TkxPDFFontObject::DecodeObject(const TkxPDFObject*) const { return {}; }
std::u16string TkxPDFFontObject::ToUnicode(std::string_view bytes) const { return Decode(bytes).Text; }

TkxPDFFontObject* TkxPDFFontList::Get(int index) const {
  return index >= 0 && index < Count() ? items_[index].get() : nullptr;
}
void TkxPDFFontList::Add(std::unique_ptr<TkxPDFFontObject> font) {
  if (font) items_.push_back(std::move(font));
}
TkxPDFFontObject* TkxPDFFontList::Find(std::string_view name) const {
  for (const auto& f : items_)
    if (f->ResourceName == name) return f.get();
  return nullptr;
}
void TkxPDFFontList::Clear() { items_.clear(); }

void LoadPageFonts(TkxCustomPDFDocument&, TkxPDFObject*, TkxPDFFontList&) {}
std::unique_ptr<TkxPDFFontObject> LoadFontObject(TkxCustomPDFDocument&, std::string_view, TkxPDFObject*,
                                                 const TkxPDFFontList*, bool) {
  return nullptr;
}
std::string StripSubsetPrefix(std::string_view name) { return std::string(name); }
std::string FamilyFromFontName(std::string_view name) { return std::string(name); }
int StyleFromFontName(std::string_view) { return 0; }

}  // namespace pw
