// The walk over one page recording: every record, in file order, goes to
// the handler of its kind (state and object records, text records, and the
// drawing, path, clipping and picture records) with the drawing state the
// walk keeps. Records without a handler, and records whose fields point
// outside them, are skipped; the walk always continues to EMR_EOF.
#pragma once

#include <cstddef>
#include <cstdint>

#include <memory>

#include "engine/kxMetafileDrawingRecords.h"
#include "engine/kxMetafileState.h"
#include "platform/kxEmf.h"

namespace pw {

class TkxMetafileRecordProcessor : public TkxMetafileState {
 public:
  explicit TkxMetafileRecordProcessor(TkxMetafileTarget& target) : TkxMetafileState(target), drawing_(*this) {}

  // Stores the offsets (engine pixels added to every produced x and y) and
  // passes every record to ProcessRecord.
  void ProcessMetafile(const TkxMetafile& metafile, double offsetX, double offsetY);
  // The same over the bytes of a recording.
  void ProcessRecords(const uint8_t* data, size_t size, double offsetX, double offsetY);
  // Counts the record and hands it to the handler of its type.
  virtual void ProcessRecord(const TkxEmfRecord& record);

  // The records ProcessDrawingRecord receives.
  static bool IsDrawingRecord(uint32_t type);

 protected:
  // EMR_EXTTEXTOUTA/W and EMR_POLYTEXTOUTA/W.
  virtual void ProcessTextRecord(const TkxEmfRecord& record);
  // Shapes, paths, clipping regions and pictures.
  virtual void ProcessDrawingRecord(const TkxEmfRecord& record);

  TkxMetafileDrawing& Drawing() { return drawing_; }

 private:
  TkxMetafileDrawing drawing_;
};

}  // namespace pw
