// Tables made through the drawing API as RTF table rows: each row of the
// page's part of a table with its cell borders and backgrounds, the cells'
// text and pictures, the row's first paragraph placed on the page.
#pragma once

#include <functional>
#include <string>

#include "engine/kxDocumentItems.h"
#include "engine/kxFormatSettings.h"
#include "platform/kxGraphicsObjects.h"
#include "rtf/kxRTFTextWriter.h"

namespace pw {

// How one cell is drawn; the caller's cell handler may change any of it.
struct TkxRTFTableCell {
  TPen Pen;
  TBrush Brush;
  TFont Font;
  TkxFrame Frame;  // all four sides drawn unless the handler says otherwise
  TkxHAlignment Alignment = haLeft;
};

class TkxRTFTableWriter {
 public:
  // Called once per cell before it is written (row and column from 0).
  using CellHandler = std::function<void(int row, int column, TkxRTFTableCell& cell)>;
  // The picture group ("{\pict ...}") of a picture in a cell, or nothing.
  using PictureGroup = std::function<std::string(TkxImageItem& item)>;

  TkxRTFTableWriter(TkxRTFTextWriter& text, TkxRTFTextHost& host) : text_(text), host_(host) {}

  // The whole table as one group; nothing for a table without rows.
  std::string TableRTF(TkxTableItem& table, const CellHandler& onCell, const PictureGroup& picture);

 private:
  int Twips(double pixels) const;
  std::string CellDefinition(const TkxRTFTableCell& cell, double rightEdge);

  TkxRTFTextWriter& text_;
  TkxRTFTextHost& host_;
};

}  // namespace pw
