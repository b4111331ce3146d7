// Fuzz target: the input is a run of page-recording records (type, size,
// fields) placed between a valid header of an 800 x 1000 pixel page and the
// end record (repeated many times over when it starts with 0xC5). The
// metafile processor turns them into items with every kind of content
// wanted, and the shapes are written as RTF drawing objects.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/kxGraphic.h"
#include "engine/kxMetafileRecordProcessor.h"
#include "platform/kxEmfRecorder.h"
#include "rtf/kxRTFShapeWriter.h"
#include "tests/engine/metafile_target.h"
#include "tests/fuzz/fuzz_fontconfig.h"

namespace {

using Target = pw::test::TestMetafileTarget;

std::vector<uint8_t> Header() {
  pw::TkxEmfRecorder rec(800, 1000, 96);
  std::vector<uint8_t> bytes = rec.Close().Bytes();
  // Everything up to the end record, which closes the input later.
  const uint32_t headerSize = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | uint32_t(bytes[7]) << 24;
  bytes.resize(headerSize);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  LoadFontConfigurations();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<uint8_t> header = Header();
  std::vector<uint8_t> emf = header;
  // An input that starts with 0xC5 has the rest repeated, so that pages
  // crowded enough to be kept as recorded are reached too.
  if (size > 1 && data[0] == 0xC5) {
    for (int i = 0; i < 4000 && emf.size() < (size_t(1) << 18); ++i) emf.insert(emf.end(), data + 1, data + size);
  } else {
    emf.insert(emf.end(), data, data + size);
  }
  const uint8_t eof[20] = {14, 0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0, 0, 20, 0, 0, 0};
  emf.insert(emf.end(), eof, eof + sizeof eof);
  // The header's byte count bounds the walk: it must take in the input.
  const uint32_t total = static_cast<uint32_t>(emf.size());
  for (int i = 0; i < 4; ++i) emf[48 + i] = static_cast<uint8_t>(total >> (8 * i));

  Target target;
  {
    pw::TkxMetafileRecordProcessor processor(target);
    processor.ProcessRecords(emf.data(), emf.size(), 0, 0);
  }
  const pw::TkxRTFShapeWriter writer(15);
  for (const auto& item : target.Items) {
    auto* shape = dynamic_cast<const pw::TkxShapeItem*>(item.get());
    if (!shape) continue;
    writer.Line(*shape);
    writer.Rectangle(*shape);
    writer.Polygon(shape->Points, shape->PointCount(), shape->Brush.get(), shape->Pen, true, shape->LineJoin,
                   shape->EndCap);
  }
  return 0;
}
