// Text records of a page recording (EMR_EXTTEXTOUTA/W and EMR_POLYTEXTOUTA/W)
// turned into text items: the characters as the selected font reads them,
// the position moved from the alignment anchor to the top-left of the run,
// rotation from the font's escapement, the clip rectangle, colours, the
// advances the recording gave, and text that follows the current position.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/kxMetafileState.h"
#include "platform/kxEmf.h"

namespace pw {

// One text output: the EmrText part of a text record, read.
struct TkxMetaTextRun {
  TkxEmfPointL Reference;
  uint32_t Options = 0;
  TkxEmfRectL Rect;
  // The characters as the font reads them, zeros dropped.
  std::u16string Text;
  // The record held a character above 255 for an ordinary font.
  bool HasWideChars = false;
  // Horizontal advance of every recorded character (logical units); empty
  // when the record gave none.
  std::vector<int32_t> Dx;
  // nChars of the record (characters before zeros were dropped).
  uint32_t CharCount = 0;
};

// Reads the EmrText at offset off of record r (its string and advance
// offsets count from the start of r). wide: 16-bit characters. fontKind as
// TkxMetafileState::FontKind. False when a count or offset points outside
// the record.
bool ReadTextRun(const TkxEmfRecord& r, size_t off, bool wide, int32_t fontKind, TkxMetaTextRun& out);

// Turns a text record into items; false for records of other types. Does
// nothing unless st.RenderText; records whose arrays lie outside them are
// skipped.
bool ProcessTextRecord(TkxMetafileState& st, const TkxEmfRecord& r);

// One run: the opaque background, then the text item.
void DrawTextRun(TkxMetafileState& st, TkxMetaTextRun&& run);  // the run's text moves into the item

// Width and height in engine pixels of a text in a font, as the screen
// measures it.
TkxTextSize MeasureTextRun(const TFont& font, std::u16string_view text);

// Metrics of a font (points), from the platform's text and outline metrics.
TkxFontInfo GetFontMetrics(const TFont& font);

// Moves a run's anchor point to its top-left corner. angle: degrees,
// counter-clockwise; width and height: the run's extent; ascent: distance
// from the top of the run to its baseline (pixels).
TkxDoublePoint AnchorTextPosition(double x, double y, TextAlignSet align, double angle, double width, double height,
                                  double ascent);

}  // namespace pw
