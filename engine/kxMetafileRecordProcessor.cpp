#include "engine/kxMetafileRecordProcessor.h"

#include "engine/kxMetafilePictureRecords.h"
#include "engine/kxMetafileTextRecords.h"

namespace pw {

void TkxMetafileRecordProcessor::ProcessMetafile(const TkxMetafile& metafile, double offsetX, double offsetY) {
  OffsetX = offsetX;
  OffsetY = offsetY;
  drawing_.ChooseCopying(metafile.Bytes().data(), metafile.Bytes().size());
  metafile.EnumerateRecords([this](const TkxEmfRecord& record) {
    ProcessRecord(record);
    return true;
  });
  drawing_.FinishCopy();
}

void TkxMetafileRecordProcessor::ProcessRecords(const uint8_t* data, size_t size, double offsetX, double offsetY) {
  OffsetX = offsetX;
  OffsetY = offsetY;
  drawing_.ChooseCopying(data, size);
  EnumerateEmfRecords(data, size, [this](const TkxEmfRecord& record) {
    ProcessRecord(record);
    return true;
  });
  drawing_.FinishCopy();
}

bool TkxMetafileRecordProcessor::IsDrawingRecord(uint32_t type) {
  switch (type) {
    case EMR_POLYBEZIER:
    case EMR_POLYGON:
    case EMR_POLYLINE:
    case EMR_POLYBEZIERTO:
    case EMR_POLYLINETO:
    case EMR_POLYPOLYLINE:
    case EMR_POLYPOLYGON:
    case EMR_POLYBEZIER16:
    case EMR_POLYGON16:
    case EMR_POLYLINE16:
    case EMR_POLYBEZIERTO16:
    case EMR_POLYLINETO16:
    case EMR_POLYPOLYLINE16:
    case EMR_POLYPOLYGON16:
    case EMR_POLYDRAW16:
    case EMR_LINETO:
    case EMR_RECTANGLE:
    case EMR_ROUNDRECT:
    case EMR_ELLIPSE:
    case EMR_ARC:
    case EMR_CHORD:
    case EMR_PIE:
    case EMR_FILLRGN:
    case EMR_BEGINPATH:
    case EMR_ENDPATH:
    case EMR_CLOSEFIGURE:
    case EMR_ABORTPATH:
    case EMR_FILLPATH:
    case EMR_STROKEANDFILLPATH:
    case EMR_STROKEPATH:
    case EMR_SELECTCLIPPATH:
    case EMR_EXTSELECTCLIPRGN:
    case EMR_BITBLT:
    case EMR_STRETCHBLT:
    case EMR_MASKBLT:
    case EMR_STRETCHDIBITS:
    case EMR_SETDIBITSTODEVICE: return true;
    default: return false;
  }
}

void TkxMetafileRecordProcessor::ProcessRecord(const TkxEmfRecord& record) {
  ++RecordCount;
  const uint32_t type = record.Type();
  if (IsDrawingRecord(type)) {
    ProcessDrawingRecord(record);
    return;
  }
  switch (type) {
    case EMR_EXTTEXTOUTA:
    case EMR_EXTTEXTOUTW:
    case EMR_POLYTEXTOUTA:
    case EMR_POLYTEXTOUTW: ProcessTextRecord(record); return;
    default:
      ProcessStateRecord(record);  // false: a type without a handler, skipped
      drawing_.TrackStateRecord(record);
      return;
  }
}

void TkxMetafileRecordProcessor::ProcessDrawingRecord(const TkxEmfRecord& record) {
  if (drawing_.ProcessRecord(record)) return;
  ProcessPictureRecord(*this, record);
}

void TkxMetafileRecordProcessor::ProcessTextRecord(const TkxEmfRecord& record) { pw::ProcessTextRecord(*this, record); }

}  // namespace pw
