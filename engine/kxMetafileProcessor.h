// The metafile processor: walks the records of one page recording in file
// order and turns them into document items of the engine's current lists.
//
// Each record type has its own handler, reached through ProcessRecord's
// dispatch on the record type; types without a handler are skipped. A
// processor serves one recording: the engine creates it, calls
// ProcessMetafile once and frees it.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/kxDocumentItems.h"
#include "platform/kxEmf.h"

namespace pw {

class TkxCustomDocumentEngine;

class TkxMetafileProcessor {
 public:
  // Reads the engine's lists and which kinds of content it accepts.
  explicit TkxMetafileProcessor(TkxCustomDocumentEngine& engine);
  virtual ~TkxMetafileProcessor() = default;
  TkxMetafileProcessor(const TkxMetafileProcessor&) = delete;
  TkxMetafileProcessor& operator=(const TkxMetafileProcessor&) = delete;

  // Stores the offsets (screen pixels added to every produced x and y) and
  // passes every record of the metafile, in file order, to ProcessRecord.
  void ProcessMetafile(const TkxMetafile& metafile, double offsetX, double offsetY);
  // Counts the record and hands it to the handler of its type.
  virtual void ProcessRecord(const TkxEmfRecord& record);

  // Set by the engine: text written with TA_UPDATECP follows the current
  // position.
  bool TrackCurrentPosition = false;

  double OffsetX() const { return offsetX_; }
  double OffsetY() const { return offsetY_; }
  uint32_t RecordCount() const { return recordCount_; }
  bool RenderText() const { return renderText_; }
  bool RenderImages() const { return renderImages_; }
  bool RenderShapes() const { return renderShapes_; }
  bool ClipActive() const { return clipActive_; }

 protected:
  TkxCustomDocumentEngine& Engine() const { return engine_; }
  // Text items go to the line-text list in line mode, else to the item list.
  void AppendText(std::unique_ptr<TkxTextItem> item);
  // Every other item goes to the current item list.
  void AppendItem(std::unique_ptr<TkxDocumentItem> item);

  // ---- Record handlers ----
  // EMR_EOF: the end of the recording.
  virtual void DoEOF(const TkxEmfRecord& record);

 private:
  TkxCustomDocumentEngine& engine_;
  double offsetX_ = 0;
  double offsetY_ = 0;
  uint32_t recordCount_ = 0;
  bool renderText_ = false;
  bool renderImages_ = false;
  bool renderShapes_ = false;
  bool clipActive_ = false;
  TkxItemList* items_ = nullptr;
  std::vector<std::unique_ptr<TkxTextItem>>* textItems_ = nullptr;
};

}  // namespace pw
