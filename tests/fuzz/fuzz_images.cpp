// Fuzz target: the picture decoders. The first byte chooses the decoder:
//   0: CCITT fax (the second byte gives K and the byte alignment), 1: JPEG
//   2000, 2: JBIG2 (the second byte tells how many of the following bytes
//   are the global segments), 3: an image XObject drawn on a page: its
//   dictionary entries up to the first line break (at most 256 bytes), its
//   data after it.
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "pdf/kxPDFDoc.h"
#include "platform/kxEmfRecorder.h"
#include "render/kxFaxDecoder.h"
#include "render/kxImageCodecs.h"
#include "render/kxPageRenderer.h"
#include "tests/pdf/pdf_builder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t kind = data[0] % 4, arg = data[1];
  const uint8_t* body = data + 2;
  const size_t n = size - 2;
  try {
    switch (kind) {
      case 0: {
        pw::TkxFaxParams p;
        p.K = (arg & 3) == 0 ? -1 : (arg & 3) == 1 ? 0 : 2;
        p.EncodedByteAlign = arg & 4;
        p.BlackIs1 = arg & 8;
        p.Columns = 1 + (arg >> 4) * 97;
        pw::DecodeFax(body, n, p, 2000);
        break;
      }
      case 1: pw::DecodeJPX(body, n, int64_t{1} << 22); break;
      case 2: {
        const size_t g = std::min<size_t>(arg, n);
        pw::DecodeJBIG2(body + g, n - g, std::vector<uint8_t>(body, body + g), int64_t{1} << 22);
        break;
      }
      default: {
        const std::string text(reinterpret_cast<const char*>(body), n);
        const size_t cut = text.find('\n');
        // A short dictionary: the object parser around it is another target's.
        const std::string dict = text.substr(0, std::min<size_t>(cut, 256));
        const std::string stream = cut == std::string::npos ? std::string() : text.substr(cut + 1);
        // The dictionary stays a dictionary: balanced, and its stream keeps
        // the length given here.
        auto count = [&](const char* s) {
          size_t n = 0;
          for (size_t at = dict.find(s); at != std::string::npos; at = dict.find(s, at + 2)) ++n;
          return n;
        };
        if (count("<<") != count(">>") || dict.find("Length") != std::string::npos ||
            dict.find("stream") != std::string::npos || dict.find("obj") != std::string::npos)
          return 0;
        pwtest::PdfBuilder b;
        b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
        b.Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 /MediaBox [0 0 200 200] >>");
        b.Object(3, "<< /Type /Page /Parent 2 0 R /Contents 4 0 R /Resources << /XObject << /Im1 5 0 R >> >> >>");
        b.Stream(4, "", "q 100 0 0 100 50 50 cm /Im1 Do Q q 0 80 -80 0 150 20 cm /Im1 Do Q");
        b.Stream(5, "/Type /XObject /Subtype /Image " + dict, stream);
        b.StartXRef(b.XRefTable("/Size 6 /Root 1 0 R"));
        pw::TkxPDFDocument doc;
        doc.LoadFromMemory(b.Data());
        pw::TkxEmfRecorder canvas(200, 200, 72);
        pw::RenderPage(doc, 1, canvas);
        break;
      }
    }
  } catch (const pw::Exception&) {
  }
  return 0;
}
