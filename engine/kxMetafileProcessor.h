// The metafile processor the engine uses: the record walk over one page
// recording, reaching the engine through TkxEngineMetafileTarget. The engine
// creates a processor per recording (CreateMetafileProcessor), calls
// ProcessMetafile once and frees it.
#pragma once

#include "engine/kxMetafileRecordProcessor.h"

namespace pw {

class TkxCustomDocumentEngine;

// The parts of a document engine a metafile processor needs, read from the
// engine whenever they are asked for.
class TkxEngineMetafileTarget : public TkxMetafileTarget {
 public:
  explicit TkxEngineMetafileTarget(TkxCustomDocumentEngine& engine) : engine_(engine) {}

  // The resolution of the recording the processor is given. The engine
  // replays a recording made at another resolution onto a fresh one at the
  // screen's (unless the output takes recordings as they are), so that one
  // is already in engine pixels.
  int InputXRes() const override;
  int InputYRes() const override;
  int PPI() const override;
  bool LineMode() const override;
  TkxItemsToRender ItemsToRender() const override;
  uint16_t OutputCapabilities() const override;
  TkxItemList* ItemList() override;
  TkxTextItemList* LineTextList() override;
  TkxImageTable* ImageTable() override;
  const TkxImageSettings* ImageSettings() const override;

  TkxCustomDocumentEngine& Engine() const { return engine_; }

 private:
  // The engine replays the recording at the screen's resolution.
  bool Restretched() const;

  TkxCustomDocumentEngine& engine_;
};

namespace detail {
// Holds the target so that it exists before the record walk is built on it.
struct TkxEngineMetafileTargetHolder {
  explicit TkxEngineMetafileTargetHolder(TkxCustomDocumentEngine& engine) : EngineTarget(engine) {}
  TkxEngineMetafileTarget EngineTarget;
};
}  // namespace detail

class TkxMetafileProcessor : private detail::TkxEngineMetafileTargetHolder, public TkxMetafileRecordProcessor {
 public:
  explicit TkxMetafileProcessor(TkxCustomDocumentEngine& engine)
      : detail::TkxEngineMetafileTargetHolder(engine), TkxMetafileRecordProcessor(EngineTarget) {}

 protected:
  TkxCustomDocumentEngine& Engine() const { return EngineTarget.Engine(); }
};

}  // namespace pw
