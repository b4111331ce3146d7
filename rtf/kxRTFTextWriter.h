// How the RTF engine writes text: text items as absolutely positioned frames
// (positional accuracy) or, in line mode (ease of editing), a page's text
// items grouped into lines written as paragraphs with one tab stop per piece
// and blank spacer paragraphs for the vertical gaps; plus text boxes,
// paragraphs, bookmarks and tab items.
//
// The writer takes what it needs of the engine through TkxRTFTextHost, so it
// can be driven without one.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "engine/kxDocumentItems.h"
#include "engine/kxFormatSettings.h"
#include "platform/kxGraphicsObjects.h"
#include "rtf/kxRTFItems.h"

namespace pw {

// Width and height of a measured text in whole pixels.
struct TkxPixelExtent {
  int Width = 0;
  int Height = 0;
};

// What the text writer needs of the RTF engine.
class TkxRTFTextHost {
 public:
  virtual ~TkxRTFTextHost() = default;

  // Numbers in the font and colour tables (appended on first use).
  virtual int FontNumber(const TFont& font) = 0;
  virtual int ColorNumber(TColor color) = 0;
  // Extent of a text in a font on the screen, whole pixels.
  virtual TkxPixelExtent MeasureText(std::u16string_view text, const TFont& font) = 0;
  // 1440 / PPI.
  virtual double TwipsPerPixel() const = 0;
  // 0 body, 1 header, 2 footer, 3 underlay, 4 overlay.
  virtual int CurrentBand() const = 0;
  // Appends to the stream of the current band, or to the body stream.
  virtual void WriteToBand(std::string_view rtf) = 0;
  virtual void WriteToBody(std::string_view rtf) = 0;

  virtual bool RemoveDuplicates() const = 0;
  virtual bool ActiveHyperLinks() const = 0;
  virtual bool CalculateVariables() const = 0;
  // The engine's variable replacement; the writer asks for it without page
  // variables and replaces those itself, after encoding, through
  // ReplacePageVariables (whose result may be RTF).
  virtual std::u16string CalculateVariablesIn(const std::u16string& text,
                                              bool withPageVariables) = 0;
  virtual std::u16string ReplacePageVariables(const std::u16string& text) = 0;

  // The engine's current font and brush.
  virtual const TFont& EngineFont() const = 0;
  virtual const TBrush& EngineBrush() const = 0;
  // The current page in pixels: its margins and its width.
  virtual TkxDoubleRect PageMargins() const = 0;
  virtual double PageWidth() const = 0;
};

// Size of the bitmap a rotated text is drawn on, and where the text starts in
// it, for a text W wide and H high turned by angle degrees.
struct TkxRotatedTextLayout {
  int Width = 0;
  int Height = 0;
  int OriginX = 0;
  int OriginY = 0;
};
TkxRotatedTextLayout RotatedTextLayout(int angle, double textWidth, double textHeight);

// Page variables as RTF page fields, for text in the header, footer and
// underlay bands ("<%Pg#%>" PAGE, "<%PgCnt%>" NUMPAGES; any letter case).
std::u16string PageVariablesAsFields(const std::u16string& text);

// Orders a page's line-text list into lines: by Y, items of one line get the
// line's Y, then by X within equal Y.
void SortTextList(std::vector<std::unique_ptr<TkxTextItem>>& list);

class TkxRTFTextWriter {
 public:
  explicit TkxRTFTextWriter(TkxRTFTextHost& host) : host_(host) {}

  // A new document; lineHeight is the height of "W" in the line-measuring
  // font, the slot height of line mode.
  void BeginDocument(double lineHeight);
  // Page start and end: the duplicate list lives in between. The last
  // written text is forgotten at every page and document start, so text that
  // repeats at the same place on the next page is written again.
  void BeginPage();
  void EndPage();
  double LineHeight() const { return lineHeight_; }

  // Control words of a font: number, colour, size and styles.
  std::string FontControls(const TFont& font);
  // Background of a text run; nothing for white or a clear brush.
  std::string CharShading(const TBrush& brush);
  // Background of a paragraph (no exception for white).
  std::string ParagraphShading(const TBrush& brush);
  // Border style word, width and colour.
  std::string BorderDescription(const TkxBorder& border);
  // Outline and fill words of a drawing object.
  std::string LineStyle(const TPen& pen) const;
  std::string FillStyle(const TBrush& brush) const;

  // A text item as a positioned frame, to the current band.
  void WriteText(TkxTextItem& item);
  // A line-text list: as lines in the body band, item by item as frames in
  // any other band.
  void WriteTextList(std::vector<std::unique_ptr<TkxTextItem>>& list);
  // The lines of a body line-text list (already sorted) as RTF.
  std::string LineOutput(const std::vector<std::unique_ptr<TkxTextItem>>& list);
  void WriteTextBox(TkxTextBoxItem& item);
  void WriteParagraph(TkxParagraphItem& item);
  // Bookmark and tab items; false for an item of any other class.
  bool WriteOtherItem(TkxDocumentItem& item);

  // A clipped text that starts left of its clip rectangle (more than a
  // pixel, its top within the rectangle) is moved to the rectangle's left.
  void AdjustClippedX(TkxTextItem& item);

  // The words and text each writer produces, without writing them.
  std::string TextFrame(TkxTextItem& item);
  std::string TextBoxRTF(const TkxTextBoxItem& item);
  std::string ParagraphRTF(const TkxParagraphItem& item);
  std::string BookmarkRTF(const TkxBookmarkItem& item) const;
  std::string TabItemRTF(const TkxTabItem& item);

 private:
  int Twips(double pixels) const;
  std::string Hyperlinks(std::string_view rtf);
  // Variables other than page variables, then encoding, then page
  // variables (which may become RTF fields).
  std::string EncodeWithVariables(const std::u16string& text, TFontCharset charset);
  std::string ApplyPageVariables(std::string rtf);
  // Lines of a text box or paragraph joined with "\par ".
  static std::string JoinLines(const std::vector<std::string>& lines);

  TkxRTFTextHost& host_;
  double lineHeight_ = 0;
  std::u16string lastWrittenText_;
  double lastWrittenX_ = 0;
  double lastWrittenY_ = 0;
  // Text items met on the current page (first line, X, Y).
  std::set<std::tuple<std::u16string, double, double>> pageTextMemory_;
  int pageTextCount_ = 1;
};

}  // namespace pw
