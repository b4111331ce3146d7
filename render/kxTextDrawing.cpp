#include "render/kxTextDrawing.h"

#include <algorithm>
#include <cmath>

#include "pdf/kxClasses.h"
#include "platform/kxFontManager.h"
#include "render/kxFontDecoder.h"

namespace pw {

double TkxTextFont::AscentRatio() const {
  if (ascent_ < 0) {
    const TkxFamilyMetrics m = TkxFontFamily(family_).Metrics(style_);
    ascent_ = m.EmHeight > 0 && m.CellAscent > 0 ? static_cast<double>(m.CellAscent) / m.EmHeight : 0.9;
  }
  return ascent_;
}

void TkxTextFont::SetDrawing(std::string family, int style) {
  family_ = family.empty() ? std::string("Arial") : std::move(family);
  style_ = style & fsBoldItalic;
  ascent_ = -1;
}

TkxSimpleTextFont::TkxSimpleTextFont(std::string family, int style, std::vector<double> widths, int firstChar,
                                     double missingWidth)
    : widths_(std::move(widths)), firstChar_(firstChar), missingWidth_(missingWidth) {
  SetDrawing(std::move(family), style);
}

void TkxSimpleTextFont::Decode(std::string_view bytes, TkxDecodedText& out) {
  for (const char ch : bytes) {
    const uint8_t c = static_cast<uint8_t>(ch);
    TkxDecodedChar g;
    g.Code = g.CID = c;
    g.CodeLength = 1;
    g.WordSpace = c == 32;
    g.TextStart = static_cast<uint32_t>(out.Text.size());
    g.TextLength = 1;
    out.Text.push_back(AnsiCharToWide(c));
    const long i = static_cast<long>(c) - firstChar_;
    if (i >= 0 && static_cast<size_t>(i) < widths_.size()) {
      g.Width = widths_[static_cast<size_t>(i)];
    } else if (!widths_.empty()) {
      g.Width = missingWidth_;
    } else {
      if (familyWidths_.empty()) {
        std::u16string all(256, u' ');
        for (int k = 0; k < 256; ++k) all[static_cast<size_t>(k)] = AnsiCharToWide(static_cast<uint8_t>(k));
        familyWidths_ = TkxFontManager::Instance().CharAdvances(Family(), Style(), 1000.0, all);
        familyWidths_.resize(256, 0.0);
      }
      g.Width = familyWidths_[c];
    }
    out.Chars.push_back(g);
  }
}

TkxPDFTextFont::TkxPDFTextFont(const TkxPDFFontObject& font) : font_(font) {
  std::string family = SubstituteFamily(font.BaseFontName, font.Type3());
  if (const TkxFontDecoder* d = font.Decoder(); d && !d->ProgramTexts.empty()) {
    programTexts_ = true;
    family = FamilyWithCharacters(u"", font.Style());
  }
  SetDrawing(std::move(family), font.Style());
}

const std::string& TkxPDFTextFont::FamilyFor(std::u16string_view text) const {
  if (!programTexts_) return Family();
  return FamilyWithCharacters(text, Style());
}

void TkxPDFTextFont::Decode(std::string_view bytes, TkxDecodedText& out) { font_.AppendDecoded(bytes, out); }

namespace {

std::string WithoutSpaces(std::string_view s) {
  std::string r;
  for (char c : s)
    if (c != ' ') r += c;
  return r;
}

// Families a Windows system always has; the platform draws them with
// metric-compatible substitutes.
const char* const kCoreFamilies[] = {
    "Arial",
    "Arial Black",
    "Arial Narrow",
    "Times New Roman",
    "Courier New",
    "Verdana",
    "Georgia",
    "Tahoma",
    "Trebuchet MS",
    "Comic Sans MS",
    "Impact",
    "Calibri",
    "Cambria",
    "Candara",
    "Consolas",
    "Constantia",
    "Corbel",
    "Segoe UI",
    "Symbol",
    "Wingdings",
    "Wingdings 2",
    "Webdings",
    "Lucida Console",
    "Palatino Linotype",
    "Book Antiqua",
    "Century Gothic",
    "Garamond",
    "Monotype Corsiva",
    "Microsoft Sans Serif",
    "Franklin Gothic Medium",
};

struct TkxFixedFamily {
  const char* Name;
  const char* Family;
};
const TkxFixedFamily kFixedFamilies[] = {
    {"Times-Roman", "Times New Roman"},
    {"Times", "Times New Roman"},
    {"Helvetica", "Arial"},
    {"HelveticaNeue", "Arial"},
    {"Courier", "Courier New"},
    {"TimesNewRomanPS", "Times New Roman"},
    {"TimesNewRomanPSMT", "Times New Roman"},
    {"CourierNewPS", "Courier New"},
    {"CourierNewPSMT", "Courier New"},
    {"SymbolPS", "Symbol"},
    {"SymbolMT", "Symbol"},
    {"SymbolPSMT", "Symbol"},
    {"ArialPS", "Arial"},
    {"ArialPSMT", "Arial"},
    {"ArialMT", "Arial"},
    {"ZapfDingbats", "Wingdings 2"},
};

}  // namespace

std::string SubstituteFamily(const std::string& baseName, bool type3) {
  std::string name = baseName;
  if (!type3 && !baseName.empty()) {
    bool found = false;
    for (const std::string& fam : TkxFontManager::Instance().Families()) {
      if (WithoutSpaces(fam) == baseName) {
        name = fam;
        found = true;
        break;
      }
    }
    if (!found) {
      for (const char* fam : kCoreFamilies) {
        if (WithoutSpaces(fam) == baseName) {
          name = fam;
          found = true;
          break;
        }
      }
    }
    if (found) {
      for (const TkxFixedFamily& f : kFixedFamilies)
        if (name == f.Name) return f.Family;
      return name;
    }
  }
  for (const TkxFixedFamily& f : kFixedFamilies)
    if (name == f.Name) return f.Family;
  return "Arial";
}

const std::string& FamilyWithCharacters(std::u16string_view text, int style) {
  static const std::string kFamilies[] = {"Arial", "Segoe UI Symbol"};
  TkxFontManager& fm = TkxFontManager::Instance();
  for (const std::string& family : kFamilies) {
    const TkxFontFacePtr face = fm.GetFace(family, style);
    if (!face) continue;
    bool all = true;
    for (size_t i = 0; i < text.size() && all; ++i) {
      char32_t cp = text[i];
      if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        ++i;
      }
      if (cp > 0x20) all = face->GlyphIndex(cp) != 0;
    }
    if (all) return family;
  }
  return kFamilies[1];
}

void DrawTextRun(TkxGraphics& g, const TkxTextFont& font, const TkxTextRun& run) {
  if (run.Text.empty() || !(std::abs(run.FontSize) > 0) || !std::isfinite(run.FontSize)) return;
  const double size = std::abs(run.FontSize);
  // Glyphs are laid out y-down from the baseline; a negative size turns them round.
  TkxMatrix local(1, 0, 0, -1, 0, 0);
  if (run.FontSize < 0) local = TkxMatrix(-1, 0, 0, 1, 0, 0);
  const TkxMatrix saved = g.Transform();
  g.SetTransform(TkxMatrix::Product(local, run.Origin));
  const std::string& family = font.FamilyFor(run.Text);
  double ascent = font.AscentRatio();
  if (family != font.Family()) {
    const TkxFamilyMetrics m = TkxFontFamily(family).Metrics(font.Style());
    if (m.EmHeight > 0 && m.CellAscent > 0) ascent = static_cast<double>(m.CellAscent) / m.EmHeight;
  }
  const TkxFont gf(TkxFontFamily(family), size, font.Style(), unWorld);
  static const TkxStringFormat kFormat = TkxStringFormat::GenericTypographic();
  g.DrawString(run.Text, gf, TkxPointF{0, -ascent * size}, kFormat, TkxSolidBrush(run.Argb));
  g.SetTransform(saved);
}

}  // namespace pw
