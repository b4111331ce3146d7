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
#include <memory_resource>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/kxDocumentItems.h"
#include "engine/kxFormatSettings.h"
#include "platform/kxGraphicsObjects.h"
#include "rtf/kxRTFItems.h"

namespace pw {

// What the text writer needs of the RTF engine.
class TkxRTFTextHost {
 public:
  virtual ~TkxRTFTextHost() = default;

  // Numbers in the font and colour tables (appended on first use).
  virtual int FontNumber(const TFont& font) = 0;
  virtual int ColorNumber(TColor color) = 0;
  // Extent of a text in a font on the screen, whole pixels.
  virtual TkxTextSize MeasureText(std::u16string_view text, const TFont& font) = 0;
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
  virtual std::u16string CalculateVariablesIn(const std::u16string& text, bool withPageVariables) = 0;
  virtual std::u16string ReplacePageVariables(const std::u16string& text) = 0;

  // The engine's current font and brush.
  virtual const TFont& EngineFont() const = 0;
  virtual const TBrush& EngineBrush() const = 0;
  // The current page in pixels: its margins, its width and its height
  // (0 when unknown).
  virtual TkxDoubleRect PageMargins() const = 0;
  virtual double PageWidth() const = 0;
  virtual double PageHeight() const { return 0; }
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

  // A text item as a positioned frame, to the current band. Plain text of
  // the body is kept until the page ends and written one frame per line,
  // its pieces on tab stops, so that pieces of a line cannot overlap in a
  // reader whose face is wider than the PDF's, and a page has no more
  // frames than lines. Text turned by a quarter turn becomes a text box
  // whose text runs up or down; text at other angles stands upright where
  // the turned text's box is.
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
  // A turned text item: a text box turned by the quarter turn, or an
  // upright frame where the turned text stands.
  std::string RotatedTextRTF(const TkxTextItem& item);
  // The body text kept for the page, as one frame per line.
  std::string LineFrames();
  std::string TextBoxRTF(const TkxTextBoxItem& item);
  std::string ParagraphRTF(const TkxParagraphItem& item);
  std::string BookmarkRTF(const TkxBookmarkItem& item) const;
  std::string TabItemRTF(const TkxTabItem& item);

  // The model of a line: its cells and runs, and how they are set.
  // A piece of a line as the reader gets it: control words, text, the
  // width the reader draws it (pixels), the width the PDF gives it (0 when
  // unknown), its character count and its em (pixels).
  struct LineRun {
    std::string Head;
    std::string Text;
    double Width = 0;
    double PdfWidth = 0;
    size_t Chars = 0;
    double Em = 0;
    // The size the font words give it (half points).
    int HalfPoints = 0;
    // Only letters and punctuation that the reader's face surely has.
    bool Measured = true;
  };
  // Runs that share one tab stop (pieces that continue each other), X
  // where the PDF starts them.
  struct LineCell {
    double X = 0;
    std::vector<LineRun> Runs;
  };
  // How a line's cells are set: whether a cell starts at a tab stop, the
  // stop (twips from the paragraph's left), and the spacing each run's
  // characters get (twips, negative for closer).
  struct CellPlan {
    bool Tabbed = true;
    int Stop = 0;
    std::vector<int> RunSpacing;
  };
  // The plan of a line whose paragraph starts at left and may reach right
  // (pixels on the page). A cell that the reader draws wider than its room
  // up to the next cell (or the line's end), or wider than the PDF has it,
  // gets its characters drawn closer together; one drawn narrower than the
  // PDF has it, further apart.
  std::vector<CellPlan> PlanLine(const std::vector<LineCell>& cells, double left, double right) const;

 private:
  // The pieces of one line, sorted by X, as cells; pieces drawn twice at
  // about the same place are taken once.
  std::vector<LineCell> LineCells(const std::vector<const TkxTextItem*>& items, double* height);
  // The size word of a line's paragraph: the largest of its runs, unless
  // that is the default.
  static std::string ParagraphSize(const std::vector<LineCell>& cells);
  // A line of the exact layout, to be written as a frame's paragraph: its
  // line's index, top, left and how far it may reach (pixels), frame width
  // (twips, -1 for none), largest font height, measured height, whether it
  // may share a frame with the lines above and below, and its cells.
  struct PlacedLine {
    size_t Line = 0;
    double Top = 0;
    double Left = 0;
    double Right = 0;
    int Width = -1;
    int FontHeight = 0;
    double Height = 0;
    double TextEnd = 0;  // where the reader's face ends the line's text (pixels)
    bool Joinable = true;
    // The colour every piece of the line stands on, or clNone.
    TColor Backdrop = clNone;
    std::vector<LineCell> Cells;
  };
  // Background words of a frame's paragraph standing on a coloured box:
  // readers paint text frames opaque, white unless told this colour.
  std::string FrameBackdrop(TColor color);
  // The lines as frames, lines of one column block sharing a frame.
  std::string FrameBlocks(const std::vector<PlacedLine>& placed);
  // The slots of line mode cut into lines whose pieces do not stand over
  // one another, each ordered by X.
  std::vector<std::vector<const TkxTextItem*>> SplitStackedPieces(
      const std::vector<std::vector<const TkxTextItem*>>& slots);
  // The tab stops and runs of a planned line.
  static void PrintLine(const std::vector<LineCell>& cells, const std::vector<CellPlan>& plan, std::string& tabs,
                        std::string& content);
  // Planned and printed.
  void LineRTF(const std::vector<LineCell>& cells, double left, double right, std::string& tabs,
               std::string& content) const;

  // With RemoveDuplicates: whether the page already had this text at this
  // place (and remembers it otherwise).
  bool SeenOnPage(const TkxTextItem& item);

  int Twips(double pixels) const;
  std::string FontControlWords(const TFont& font);
  // An item's first line measured in the reader's face: once per item
  // while a page's lines are laid out, which measures each piece more than
  // once.
  TkxTextSize MeasureItem(const TkxTextItem& item);
  std::string Hyperlinks(std::string_view rtf);
  std::string Hyperlinks(std::string&& rtf);
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
  // Body text of the current page waiting for its line frames.
  std::vector<std::unique_ptr<TkxTextItem>> pageFrames_;
  // Measured first lines of the items being laid out; emptied whenever a
  // layout starts, as items of a page are freed and their places reused.
  // Its nodes come from a pool that keeps them from page to page.
  std::pmr::unsynchronized_pool_resource measuredPool_;
  std::pmr::unordered_map<const TkxTextItem*, TkxTextSize> measuredItems_{&measuredPool_};
  // The control words of the fonts used last, most recent at the back: a
  // line switches between a few fonts, and the words hold numbers of the
  // document's font and colour tables, so they are forgotten with them.
  std::vector<std::pair<TFont, std::string>> recentFontControls_;
};

}  // namespace pw
