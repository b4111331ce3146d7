// Fuzz target: an embedded font program loaded the way the converter loads
// one. The first byte chooses the font around the program:
//   bits 0-2: 0 TrueType (/FontFile2), 1 Type 1 (/FontFile), 2 Type 1C
//     (/FontFile3), 3 OpenType (/FontFile3), 4 Type 0 over a CIDFontType2,
//     5 Type 0 over a CIDFontType0C, 6 Type 0 over OpenType, 7 Type 1 with
//     the program's own encoding (no /Encoding, symbolic);
//   bit 3: symbolic flag; bit 4: page drawn onto a bitmap (glyph rendering)
//   as well as recorded.
// The rest is the program. The font is loaded, strings are decoded, a page
// showing text in it is drawn, and text is measured in the family the
// program is registered under.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "pdf/kxPDFDoc.h"
#include "platform/kxBitmap.h"
#include "platform/kxBitmapCanvas.h"
#include "platform/kxEmfRecorder.h"
#include "platform/kxFontManager.h"
#include "render/kxFontProgram.h"
#include "render/kxPDFFontObject.h"
#include "render/kxPageRenderer.h"
#include "render/kxTextDrawing.h"
#include "tests/fuzz/fuzz_fontconfig.h"
#include "tests/pdf/pdf_builder.h"

namespace {

struct Kind {
  const char* key;
  const char* subtype;  // of the program stream, or ""
  bool composite;
  const char* fontSubtype;
};

const Kind kKinds[8] = {
    {"/FontFile2", "", false, "/TrueType"},
    {"/FontFile", "", false, "/Type1"},
    {"/FontFile3", "/Subtype /Type1C", false, "/Type1"},
    {"/FontFile3", "/Subtype /OpenType", false, "/TrueType"},
    {"/FontFile2", "", true, "/CIDFontType2"},
    {"/FontFile3", "/Subtype /CIDFontType0C", true, "/CIDFontType0"},
    {"/FontFile3", "/Subtype /OpenType", true, "/CIDFontType0"},
    {"/FontFile", "", false, "/Type1"},
};

std::string AllBytes() {
  std::string s;
  for (int c = 0; c < 256; ++c) {
    if (c == '(' || c == ')' || c == '\\') s += '\\';
    s += char(c);
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  LoadFontConfigurations();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t sel = data[0];
  const Kind& k = kKinds[sel & 7];
  const bool symbolic = (sel & 8) || (sel & 7) == 7;
  const bool bitmap = sel & 16;
  const std::string program(reinterpret_cast<const char*>(data + 1), size - 1);

  pwtest::PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 /MediaBox [0 0 200 200] >>");
  b.Object(3, "<< /Type /Page /Parent 2 0 R /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>");
  const std::string desc = std::string("<< /Type /FontDescriptor /FontName /ABCDEF+Fuzz /Flags ") +
                           (symbolic ? "4" : "32") +
                           " /FontBBox [0 -200 1000 800] /ItalicAngle 0 /Ascent 800 "
                           "/Descent -200 /CapHeight 700 /StemV 80 " +
                           k.key + " 7 0 R >>";
  if (k.composite) {
    b.Stream(4, "", "BT /F1 10 Tf 10 100 Td <00010002000300410042FFFF> Tj [<0003> -200 <0024>] TJ ET");
    b.Object(5,
             "<< /Type /Font /Subtype /Type0 /BaseFont /ABCDEF+Fuzz /Encoding /Identity-H "
             "/DescendantFonts [8 0 R] >>");
    b.Object(8, std::string("<< /Type /Font /Subtype ") + k.fontSubtype +
                    " /BaseFont /ABCDEF+Fuzz /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) "
                    "/Supplement 0 >> /FontDescriptor 6 0 R /DW 500 /W [1 [600 700] 36 40 550] >>");
  } else {
    b.Stream(4, "", "BT /F1 10 Tf 10 100 Td (" + AllBytes() + ") Tj ET");
    std::string font = std::string("<< /Type /Font /Subtype ") + k.fontSubtype +
                       " /BaseFont /ABCDEF+Fuzz /FirstChar 32 /LastChar 40 /Widths [250 300 400 500 600 700 800 "
                       "900 1000] /FontDescriptor 6 0 R";
    if ((sel & 7) != 7) font += " /Encoding << /BaseEncoding /WinAnsiEncoding /Differences [33 /bullet /fi /A /g3] >>";
    b.Object(5, font + " >>");
  }
  b.Object(6, desc);
  b.Stream(7, k.subtype, program);
  b.StartXRef(b.XRefTable("/Size 9 /Root 1 0 R"));

  try {
    pw::TkxPDFDocument doc;
    doc.LoadFromMemory(b.Data());

    // The font alone: decoding and widths, and the program's own view of its glyphs.
    pw::TkxPDFDictObject* page = doc.GetPageDict(1);
    pw::TkxPDFDictObject* resources = pw::AsDict(doc.Resolve(page->Lookup("/Resources")));
    pw::TkxPDFDictObject* fonts = pw::AsDict(doc.Resolve(resources->Lookup("/Font")));
    if (std::unique_ptr<pw::TkxPDFFontObject> font = pw::LoadFontObject(doc, "/F1", fonts->Lookup("/F1"))) {
      font->Decode(std::string("\0\1\0A AB\xff\xfe", 9));
      font->CodeWidth(0x41);
      font->CodeWidth(0xFFFFFFFF);
      pw::TkxPDFTextFont text(*font);
      text.AscentRatio();
      const std::u16string sample = u"Ag fi \u00e9\u4e00\U0001F600";
      const std::string& family = text.FamilyFor(sample);
      pw::TkxFontManager& fm = pw::TkxFontManager::Instance();
      fm.TextWidth(family, text.Style(), 13.5, sample);
      fm.TextExtent(family, text.Style(), -17, sample);
      fm.OutlineTextMetrics(family, text.Style(), -12);
      fm.Charsets(family, text.Style());
      if (pw::TkxFontFacePtr face = fm.GetFace(family, text.Style())) {
        face->GlyphIndex(U'A');
        face->GlyphIndex(0xF041);
      }
      if (bitmap) {
        pw::TkxBitmap bmp(64, 32);
        pw::TkxBitmapCanvas canvas(bmp);
        pw::TkxCanvasFont cf;
        cf.Family = family;
        cf.EmSize = 20;
        canvas.MeasureText(sample, cf);
        canvas.TextOut(2, 2, sample, cf, 0xFF000000u, 30);
      }
    }
    const std::vector<uint8_t> bytes(data + 1, data + size);
    pw::TkxFontProgram info(bytes);
    if (info.Opened()) {
      info.SymbolGlyph('A');
      info.NameKeyed();
      info.AllGlyphTexts();
    }

    // The font as a page uses it.
    pw::TkxEmfRecorder canvas(200, 200, 72);
    pw::RenderPage(doc, 1, canvas);
    canvas.Close();
  } catch (const pw::Exception&) {
  }
  return 0;
}
