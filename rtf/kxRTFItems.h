// Items of the RTF engine's own kinds, written when met in a page's list.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "engine/kxDocumentItems.h"

namespace pw {

// A named position in the document.
class TkxBookmarkItem : public TkxDocumentItem {
 public:
  TkxBookmarkItem() = default;
  TkxBookmarkItem(std::string name, double x, double y) : Name(std::move(name)), X(x), Y(y) {}
  std::string Name;
  double X = 0;
  double Y = 0;
};

// A line of cells aligned on tab stops.
class TkxTabItem : public TkxDocumentItem {
 public:
  double Y = 0;                // vertical position, pixels
  double LineSpacing = 1.0;    // multiple of the line height
  double DefaultTabWidth = 0;  // spacing of the stops after the given ones, pixels
  std::vector<std::string> Cells;
  std::vector<int> TabPositions;  // pixels
  TFont Font;
};

}  // namespace pw
