// Object parser on arbitrary bytes: every entry point must end in an object
// or a pw::Exception, never a crash, hang or read outside the data.
#include <cstddef>
#include <cstdint>

#include "pdf/kxPDFStreamReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pw::TkxPDFStreamReader r(data, size, 1);
  try {
    r.ReadHeader();
  } catch (const pw::Exception&) {
  }
  try {
    r.FindStartXRef();
  } catch (const pw::Exception&) {
  }
  r.Seek(0);
  try {
    r.ReadTrailer();
  } catch (const pw::Exception&) {
  }
  r.Seek(0);
  for (int i = 0; i < 64 && r.Position() < r.Size(); ++i) {
    const int64_t before = r.Position();
    try {
      pw::PDFObjectPtr o = r.ParseObject();
      if (auto* ind = pw::AsIndirect(o.get()); ind && pw::IsStream(ind->Value.get()))
        r.ReadStreamData(pw::IntValue(pw::AsStream(ind->Value.get())->Dict->Lookup("/Length"), -1), 1, 0);
    } catch (const pw::Exception&) {
    }
    if (r.Position() == before) r.Skip(1);
  }
  return 0;
}
