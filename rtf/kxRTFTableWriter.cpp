#include "rtf/kxRTFTableWriter.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "rtf/kxRTFEncoding.h"

namespace pw {

namespace {

const char* CellBackgroundWord(TBrushStyle style) {
  switch (style) {
    case bsSolid: return "\\clshdng10000";
    case bsClear: return "\\clshdng0";
    case bsHorizontal: return "\\clbghoriz";
    case bsVertical: return "\\clbgvert";
    case bsFDiagonal: return "\\clbgfdiag";
    case bsBDiagonal: return "\\clbgbdiag";
    case bsCross: return "\\clbgcross";
    case bsDiagCross: return "\\clbgdcross";
  }
  return "\\clshdng0";
}

}  // namespace

int TkxRTFTableWriter::Twips(double pixels) const {
  const double t = std::nearbyint(pixels * host_.TwipsPerPixel());
  return static_cast<int>(std::clamp(t, -1e9, 1e9));
}

std::string TkxRTFTableWriter::CellDefinition(const TkxRTFTableCell& cell, double rightEdge) {
  std::string out;
  if (cell.Pen.Style() != psClear) {
    TkxBorder border;
    border.Style = cell.Pen.Style();
    border.Width = cell.Pen.Width();
    border.Color = cell.Pen.Color();
    const std::string description = text_.BorderDescription(border);
    if (cell.Frame.DrawLeft) out += "\\clbrdrl" + description;
    if (cell.Frame.DrawTop) out += "\\clbrdrt" + description;
    if (cell.Frame.DrawRight) out += "\\clbrdrr" + description;
    if (cell.Frame.DrawBottom) out += "\\clbrdrb" + description;
  }
  const int color = host_.ColorNumber(cell.Brush.Color());
  if (cell.Brush.Style() == bsSolid) {
    // A solid cell is its background colour: LibreOffice paints full shading
    // black whatever its pattern colour, Word shows either form alike.
    out += "\\clcbpat" + std::to_string(color);
  } else {
    out += CellBackgroundWord(cell.Brush.Style());
    out += "\\clcfpat" + std::to_string(color);
    out += "\\clcbpat" + std::to_string(host_.ColorNumber(clWhite));
  }
  out += "\\clvertalc\\cellx" + std::to_string(Twips(rightEdge));
  return out;
}

std::string TkxRTFTableWriter::TableRTF(TkxTableItem& table, const CellHandler& onCell, const PictureGroup& picture) {
  const int columns = table.ColumnCount();
  if (table.Rows.empty() || columns == 0) return {};
  // Left edges of the columns on the page: a cell's items are found by where
  // they start.
  std::vector<double> lefts(columns);
  double edge = table.X;
  for (int c = 0; c < columns; ++c) {
    lefts[c] = edge;
    edge += std::max(0.0, table.Columns[c]->Width);
  }
  auto columnOf = [&](double x) {
    const auto at = std::upper_bound(lefts.begin(), lefts.end(), x + 0.5);
    return at == lefts.begin() ? 0 : static_cast<int>(at - lefts.begin()) - 1;
  };

  std::string out = "{";
  double top = table.Y;
  for (size_t r = 0; r < table.Rows.size(); ++r) {
    const double height = r < table.RowHeights.size() ? table.RowHeights[r] : 0;
    std::vector<TkxRTFTableCell> cells(columns);
    // The row is placed on the page twice over: by the frame words of its
    // first paragraph, and by the row's own position words, which newer
    // readers go by.
    std::string row = "\\pard\\trowd\\trgaph50\\trqc\\trrh" + std::to_string(Twips(height)) +
                      "\\trql\\trkeep\\tphpg\\tposx" + std::to_string(Twips(table.X)) + "\\tpvpg\\tposy" +
                      std::to_string(Twips(top));
    double right = 0;
    for (int c = 0; c < columns; ++c) {
      TkxRTFTableCell& cell = cells[c];
      cell.Pen = table.Pen;
      cell.Brush = table.Brush;
      cell.Font = table.Font;
      if (onCell) onCell(static_cast<int>(r), c, cell);
      right += std::max(0.0, table.Columns[c]->Width);
      row += CellDefinition(cell, right);
    }
    // The contents of each cell, in the order they were added.
    std::vector<std::vector<std::string>> contents(columns);
    for (const std::unique_ptr<TkxDocumentItem>& owned : table.Rows[r]) {
      if (auto* text = dynamic_cast<TkxTextItem*>(owned.get())) {
        std::vector<std::string> lines;
        for (const std::u16string& line : text->Lines) lines.push_back(EncodeText(line, text->Font.Charset()));
        std::string joined;
        for (size_t i = 0; i < lines.size(); ++i) {
          if (i) joined += "\\par ";
          joined += lines[i];
        }
        std::string run = "{";
        run += text_.FontControls(text->Font);
        run += ' ';
        run += joined;
        run += '}';
        contents[columnOf(text->X)].push_back(std::move(run));
      } else if (auto* image = dynamic_cast<TkxImageItem*>(owned.get())) {
        if (picture) {
          std::string group = picture(*image);
          if (!group.empty()) contents[columnOf(image->X)].push_back(std::move(group));
        }
      }
    }
    row += "{";
    for (int c = 0; c < columns; ++c) {
      row += "\\pard\\intbl";
      if (c == 0) row += "\\pvpg\\phpg\\posx" + std::to_string(Twips(table.X)) + "\\posy" + std::to_string(Twips(top));
      row += AlignmentWord(cells[c].Alignment);
      row += text_.FontControls(cells[c].Font) + " ";
      for (size_t i = 0; i < contents[c].size(); ++i) {
        if (i) row += "\\par ";
        row += contents[c][i];
      }
      row += "\\cell";
    }
    row += "} \\pard\\intbl{\\row}";
    out += row;
    top += height;
  }
  out += "\\pard}";
  return out;
}

}  // namespace pw
