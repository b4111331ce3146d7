// Fuzz target: the input is the content stream of a fixed page (and of a
// form the page may draw) with a few fonts, colour spaces, graphics states
// and forms among its resources; the page is drawn on a recording canvas.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "pdf/kxPDFDoc.h"
#include "platform/kxEmfRecorder.h"
#include "render/kxPageRenderer.h"
#include "tests/fuzz/fuzz_fontconfig.h"
#include "tests/pdf/pdf_builder.h"

namespace {

std::unique_ptr<pw::TkxPDFDocument> MakeDocument() {
  pwtest::PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 /MediaBox [0 0 612 792] >>");
  b.Object(3,
           "<< /Type /Page /Parent 2 0 R /Contents 4 0 R /Resources << "
           "/Font << /F1 5 0 R /F2 6 0 R /F3 7 0 R /F4 12 0 R >> "
           "/XObject << /Fm1 10 0 R /Fm2 11 0 R >> "
           "/ExtGState << /GS1 << /ca 0.5 /CA 0.25 /LW 3 /D [[2 1] 0] /Font [5 0 R 14] >> >> "
           "/ColorSpace << /CS1 [/Separation /Spot /DeviceCMYK << /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] "
           "/C1 [1 0 0 0] /N 1 >>] /CS2 [/Indexed /DeviceRGB 2 <FF000000FF000000FF>] /CS3 /DeviceN >> >> >>");
  b.Stream(4, "", "");
  b.Object(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
  b.Object(6,
           "<< /Type /Font /Subtype /TrueType /BaseFont /ABCDEF+Arial,Bold /FirstChar 32 /LastChar 40 "
           "/Widths [250 300 400 500 600 700 800 900 1000] /Encoding << /Differences [33 /bullet /fi /A] >> >>");
  b.Object(7,
           "<< /Type /Font /Subtype /Type0 /BaseFont /XYZ /Encoding /Identity-H /DescendantFonts [8 0 R] "
           "/ToUnicode 9 0 R >>");
  b.Object(8,
           "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /XYZ /CIDSystemInfo << /Registry (Adobe) "
           "/Ordering (Identity) /Supplement 0 >> /DW 500 /W [1 [600 700] 10 20 300] >>");
  b.Stream(9, "",
           "/CIDInit /ProcSet findresource begin 12 dict begin begincmap 1 begincodespacerange <0000> <FFFF> "
           "endcodespacerange 2 beginbfchar <0001> <0041> <0002> <00660069> endbfchar 1 beginbfrange <0010> "
           "<0020> <0061> endbfrange endcmap end end");
  b.Stream(10, "/Type /XObject /Subtype /Form /BBox [0 0 300 300] /Resources 13 0 R", "");
  b.Stream(11, "/Type /XObject /Subtype /Form /BBox [0 0 50 50] /Matrix [0 1 -1 0 100 100]",
           "BT /F1 9 Tf (form two) Tj ET /Fm2 Do 0 0 10 10 re f");
  b.Object(12,
           "<< /Type /Font /Subtype /Type3 /FontMatrix [0.01 0 0 0.01 0 0] /FirstChar 65 /LastChar 66 "
           "/Widths [50 60] /CharProcs << >> /Encoding << /Differences [65 /A /B] >> >>");
  b.Object(13, "<< /Font << /F1 6 0 R >> /XObject << /Fm1 10 0 R /Fm2 11 0 R >> >>");
  b.StartXRef(b.XRefTable("/Size 14 /Root 1 0 R"));
  auto doc = std::make_unique<pw::TkxPDFDocument>();
  doc->LoadFromMemory(b.Data());
  return doc;
}

pw::TkxPDFStreamObject* StreamOf(pw::TkxPDFDocument& doc, pw::TkxPDFObject* obj) {
  return pw::AsStream(doc.Resolve(obj));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  LoadFontConfigurations();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::unique_ptr<pw::TkxPDFDocument> doc = MakeDocument();
  pw::TkxPDFDictObject* page = doc->GetPageDict(1);
  pw::TkxPDFStreamObject* content = StreamOf(*doc, page->Lookup("/Contents"));
  const pw::TkxPDFDictObject* resources = pw::AsDict(doc->Resolve(page->Lookup("/Resources")));
  const pw::TkxPDFDictObject* xobjects = pw::AsDict(doc->Resolve(resources->Lookup("/XObject")));
  pw::TkxPDFStreamObject* form = StreamOf(*doc, xobjects->Lookup("/Fm1"));
  std::vector<uint8_t> bytes(data, data + size);
  content->SetData(bytes);
  form->SetData(std::move(bytes));
  try {
    pw::TkxEmfRecorder canvas(612, 792, 72);
    pw::RenderPage(*doc, 1, canvas);
    canvas.Close();
  } catch (const pw::Exception&) {
    // Errors of the document layer are reported, not crashes.
  }
  return 0;
}
