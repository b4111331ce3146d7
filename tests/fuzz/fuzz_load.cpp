// Loads a document from arbitrary bytes, then reads its pages the way the
// converter does. Only the library's own errors may leave the loader.
#include <cstddef>
#include <cstdint>

#include "pdf/kxPDFDoc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pw::TkxPDFDocument doc;
  // The empty password, then a guess, as the application would try them.
  doc.OnPassword = [](pw::TkxComponent*, std::string& password, bool& cont, int tries) {
    password = tries == 0 ? "" : "user";
    cont = tries < 2;
  };
  try {
    doc.LoadFromMemory(data, size);
    for (int page = 1; page <= doc.PageCount(); ++page) {
      doc.GetPageRotation(page);
      doc.GetPageMediaBox(page);
      pw::TkxPDFObject* contents = doc.Resolve(doc.GetPageDict(page)->Lookup("/Contents"));
      if (pw::TkxPDFStreamObject* s = pw::AsStream(contents)) doc.DecodeStream(*s);
    }
    if (doc.PageCount() > 0) doc.DeletePages("1");
  } catch (const pw::Exception&) {
  }
  return 0;
}
