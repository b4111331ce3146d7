// The abstract document engine (unit kxCstDocEng): collects a multi-page
// document page by page as document items and hands them, one by one, to
// writer hooks that a concrete engine overrides to produce its file format.
//
// Content reaches a page through its page canvas (an EMF recording that the
// metafile processor turns into items when the page ends) or through the
// drawing API below, which creates items directly from the engine's current
// font, pen, brush and settings. Coordinates given to the engine are in its
// MeasurementUnit; items and everything inside the engine are screen pixels
// at the screen resolution (PPI).
#pragma once

#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/kxDocInfo.h"
#include "engine/kxDocSettings.h"
#include "engine/kxDocumentItems.h"
#include "engine/kxFormatSettings.h"
#include "engine/kxGraphic.h"
#include "engine/kxImageSettings.h"
#include "engine/kxItemsToRender.h"
#include "engine/kxPageSettings.h"
#include "engine/kxPreferences.h"
#include "pdf/kxClasses.h"
#include "platform/kxEmfRecorder.h"
#include "platform/kxGraphicsObjects.h"

namespace pw {

class TkxBitmap;
class TkxMetafileProcessor;

// ---- Errors of the engine ---------------------------------------------------
inline constexpr char kMsgInvalidPageNumber[] = "Invalid Page Number";
inline constexpr char kMsgInvalidEngineState[] = "Not a valid Engine State identifier";
inline constexpr char kMsgUnknownGraphicsFormat[] = "Unknown Graphics format";
inline constexpr char kMsgFileCreateError[] =
    "File could not be created!\r\n\r\nPossible cause: It could be in use by some other application";
inline constexpr char kMsgFileWriteError[] = "The output file could not be written";

class EInvalidPageNumber : public Exception {
 public:
  explicit EInvalidPageNumber(const std::string& msg = kMsgInvalidPageNumber) : Exception(msg) {}
};
class EInvalidEngineState : public Exception {
 public:
  explicit EInvalidEngineState(const std::string& msg = kMsgInvalidEngineState) : Exception(msg) {}
};
class EUnsupportedGraphics : public Exception {
 public:
  explicit EUnsupportedGraphics(const std::string& msg = kMsgUnknownGraphicsFormat) : Exception(msg) {}
};
class EFileCreateError : public Exception {
 public:
  explicit EFileCreateError(const std::string& msg = kMsgFileCreateError) : Exception(msg) {}
};
// Writing the finished document to its file failed (disk full, I/O error).
class EFileWriteError : public Exception {
 public:
  explicit EFileWriteError(const std::string& msg = kMsgFileWriteError) : Exception(msg) {}
};

// ---- Small types ---------------------------------------------------------------

// Origin and clipping area of new drawing.
enum TkxReferencePoint : int { rpPage = 0, rpMargin, rpBand };

// CurrentBand values.
enum TkxBand : int { bnBody = 0, bnHeader = 1, bnFooter = 2, bnUnderlay = 3, bnOverlay = 4 };

// EngineStatus values.
enum TkxEngineStatus : int { esNeverBegun = 0, esBegun = 1, esEnded = 2, esSetupCancelled = 3, esFileCreateFailed = 4 };

// Modal results of a setup dialog.
constexpr int kModalOK = 1;
constexpr int kModalCancel = 2;

// A local date and time (month and day 1-based).
struct TkxDateTime {
  int Year = 0, Month = 1, Day = 1, Hour = 0, Minute = 0, Second = 0;
};
using TkxClock = std::function<TkxDateTime()>;
// The current local time.
TkxDateTime LocalNow();

using TkxColumnList = std::vector<std::unique_ptr<TkxColumn>>;

// ---- Events (an unassigned event is not called; Sender is the engine) ------
using TkxNotifyEvent = std::function<void(TkxComponent* sender)>;
// Receives engine errors instead of their being raised.
using TkxErrorMessageEvent = std::function<void(TkxComponent* sender, const Exception& error)>;
using TkxOnCellDrawEvent = std::function<void(TkxComponent* sender, int row, int column, TPen& pen, TBrush& brush,
                                              TFont& font, TkxFrame& frame, TkxHAlignment& align)>;
// Value starts empty; the handler fills it for the variable (name without
// the "<%" and "%>" brackets).
using TkxOnCalcVariablesEvent =
    std::function<void(TkxComponent* sender, const std::u16string& variable, std::u16string& value)>;
// A message the desktop program shows in an error message box with an OK
// button; the core library has no user interface of its own.
using TkxMessageBoxEvent = std::function<void(TkxComponent* sender, const std::string& message)>;
// A setup dialog shown modally; returns its modal result (kModalCancel cancels).
using TkxSetupDialogEvent = std::function<int(TkxComponent* sender)>;

class TkxCustomDocumentEngine : public TkxComponent, public TkxImageSettingsOwner, public TkxDocSettingsClient {
 public:
  TkxCustomDocumentEngine();
  ~TkxCustomDocumentEngine() override;
  TkxCustomDocumentEngine(const TkxCustomDocumentEngine&) = delete;
  TkxCustomDocumentEngine& operator=(const TkxCustomDocumentEngine&) = delete;

  // ---- Published properties ----
  const std::string& FileExtension() const { return fileExtension_; }
  void SetFileExtension(const std::string& ext) { fileExtension_ = ext; }
  const std::string& FileDescription() const { return fileDescription_; }
  void SetFileDescription(const std::string& d) { fileDescription_ = d; }
  // Resolution (dots per inch) in which muPixels coordinates and the page
  // canvas drawing are meant. Values below 1 are ignored.
  int InputXRes() const { return inputXRes_; }
  void SetInputXRes(int res);
  int InputYRes() const { return inputYRes_; }
  // Factors by which the drawing of the current page is scaled across and
  // down when its recording is processed, so that a page drawn for other
  // paper fills this one; 1 (the default) leaves it as drawn. Factors
  // outside (0, 4] count as 1.
  double ContentScaleX() const { return contentScaleX_; }
  double ContentScaleY() const { return contentScaleY_; }
  void SetContentScale(double x, double y) {
    contentScaleX_ = (x > 0 && x <= 4) ? x : 1;
    contentScaleY_ = (y > 0 && y <= 4) ? y : 1;
  }
  // How far (pixels) the drawing of the current page is moved down, at
  // most, into the middle of taller paper: a page's recording moves by no
  // more than half the room it leaves under what it draws. 0 by default;
  // anything but a finite positive value counts as 0.
  double ContentOffsetY() const { return contentOffsetY_; }
  void SetContentOffsetY(double dy) { contentOffsetY_ = std::isfinite(dy) && dy > 0 && dy < 1e5 ? dy : 0; }
  void SetInputYRes(int res);
  TkxItemsToRender ItemsToRender() const { return itemsToRender_; }
  void SetItemsToRender(TkxItemsToRender items) { itemsToRender_ = items; }
  // Page selection for output ("2,4-5"); empty selects every page.
  const std::string& PagesToRender() const { return pagesToRender_; }
  void SetPagesToRender(const std::string& pages) { pagesToRender_ = pages; }
  TkxUnitType MeasurementUnit() const override { return measurementUnit_; }
  // Recomputes UnitFactor and gives it to Page, the paragraph formatting,
  // the table settings and the frame.
  void SetMeasurementUnit(TkxUnitType unit) override;
  TkxReferencePoint ReferencePoint() const { return referencePoint_; }
  void SetReferencePoint(TkxReferencePoint rp);
  // Shared settings: attaching copies their values into the engine, which
  // then follows their changes; nullptr detaches.
  TkxDocSettings* Settings() const { return settings_; }
  void SetSettings(TkxDocSettings* settings);
  // Paragraphs that overflow the page continue on new pages.
  bool AutoPaginate = true;

  TkxSetupDialogEvent SetupDialog;
  TkxNotifyEvent OnBeforeBeginDoc, OnAfterBeginDoc, OnBeforeEndDoc, OnAfterEndDoc;
  TkxNotifyEvent OnBeforeBeginPage, OnAfterBeginPage, OnBeforeEndPage, OnAfterEndPage;
  TkxErrorMessageEvent OnErrorMessage;
  TkxOnCellDrawEvent OnCellDraw;
  TkxOnCalcVariablesEvent OnCalcVariables;
  // Default: nothing is shown (the setting that caused the message keeps
  // its old value either way).
  TkxMessageBoxEvent OnMessageBox;

  // ---- Settings objects (setting one copies the values) ----
  TFont& Font() { return font_; }
  void SetFont(const TFont& f) { font_.Assign(f); }
  TPen& Pen() { return pen_; }
  void SetPen(const TPen& p) { pen_.Assign(p); }
  TBrush& Brush() { return brush_; }
  void SetBrush(const TBrush& b) { brush_.Assign(b); }
  TkxTextEffects& TextEffects() { return textEffects_; }
  TkxFrame& Frame() { return frame_; }
  TkxPageSettings& Page() override { return page_; }
  const TkxPageSettings& Page() const { return page_; }
  void SetPage(const TkxPageSettings& p) { page_.Assign(p); }
  TkxBorder& PageBorder() { return pageBorder_; }
  TkxImageSettings& ImageSettings() { return imageSettings_; }
  void SetImageSettings(const TkxImageSettings& s) { imageSettings_.Assign(s); }
  TkxTextFormatting& TextFormatting() { return textFormatting_; }
  TkxTableSettings& TableSettings() { return tableSettings_; }
  TkxDocInfo& DocInfo() override { return docInfo_; }
  const TkxDocInfo& DocInfo() const { return docInfo_; }
  void SetDocInfo(const TkxDocInfo& d) { docInfo_.Assign(d); }
  TkxPreferences& Preferences() override { return *preferences_; }
  void SetPreferences(const TkxPreferences& p) { preferences_->Assign(p); }
  const TPicture& BackgroundImage() const { return backgroundImage_; }
  void SetBackgroundImage(const TPicture& picture) { backgroundImage_ = picture; }
  TColor BackgroundColor() const override { return backgroundColor_; }
  void SetBackgroundColor(TColor color) override { backgroundColor_ = color; }
  TkxBackgroundDisplayType BackgroundImageDisplayType() const override { return backgroundDisplayType_; }
  void SetBackgroundImageDisplayType(TkxBackgroundDisplayType type) override { backgroundDisplayType_ = type; }
  // Measures only the line height of line-mode layout.
  TFont& LineMeasureFont() { return lineMeasureFont_; }

  // ---- Working state ----
  bool DocumentOpen() const { return documentOpen_; }
  // A TkxEngineStatus value; kept after the document closes.
  int EngineStatus() const { return engineStatus_; }
  uint16_t OutputCapabilities() const { return outputCapabilities_; }
  // 1-based number of the page that receives drawing; 0 before the first.
  int CurrentPageNumber() const { return currentPage_; }
  int PageCount() const { return pageCount_; }
  // The record of page n while it exists (pages are freed once written).
  TkxPageItem* PageItem(int n) const;
  // The page's graphics target: the EMF recording canvas of the current
  // page, sized to the page in screen pixels; nullptr outside a document and
  // once the page's recording has been processed.
  TkxEmfRecorder* PageCanvas() const { return canvas_.get(); }
  // Whether pictures drawn on the page canvas reach the output: without
  // them a page need not decode its pictures at all (a text-only conversion
  // throws them away while reading the recording back).
  virtual bool RecordingPicturesUsed() { return CanImages(); }
  // Where new items go: the current page's lists, or an open band's.
  TkxItemList* CurrentItemList() const { return itemList_; }
  TkxTextItemList* CurrentLineTextList() const { return lineTextList_; }
  double FlowPosition() const { return flowPosition_; }
  // A document-wide band (bnHeader .. bnOverlay); nullptr outside a document.
  TkxBandItem* Band(int band) const;
  int CurrentBand() const { return currentBand_; }
  // Screen pixels; see RecomputeReferenceRect.
  const TkxDoubleRect& ReferenceRect() const { return referenceRect_; }
  // Screen pixels per measurement unit.
  double UnitFactor() const { return unitFactor_; }
  TkxImageTable& ImageTable() { return imageTable_; }
  int EngineStateCount() const { return static_cast<int>(engineStates_.size()); }
  int InitialStateIndex() const { return initialStateIndex_; }
  const std::vector<std::string>& OutputFiles() const { return outputFiles_; }
  bool AbortRequested() const { return abortRequested_; }
  // Plain text items go to the LineTextList.
  bool LineMode() const { return lineMode_; }
  void SetLineMode(bool on) { lineMode_ = on; }
  int TextAngle() const { return textAngle_; }
  uint8_t TextFlag() const { return textFlag_; }
  // Written instead of a file when Preferences().OutputToUserStream() is
  // set; the engine does not own it.
  std::ostream* UserStream() const { return userStream_; }
  void SetUserStream(std::ostream* stream) { userStream_ = stream; }
  // The clock of dates written into documents and date variables.
  void SetClock(TkxClock clock) { clock_ = std::move(clock); }
  TkxDateTime Now() const { return clock_ ? clock_() : LocalNow(); }
  // Line join and end cap of the shape being written (copied from the item).
  uint8_t ShapeLineJoin() const { return shapeLineJoin_; }
  uint8_t ShapeEndCap() const { return shapeEndCap_; }

  // ---- Lifecycle ----
  // Opens a document and creates page 1.
  virtual void BeginDoc();
  // Writes every remaining page and the document, and closes it.
  virtual void EndDoc();
  // Finishes the current page and appends a new one with the current Page.
  virtual void NewPage();
  // Makes page n current (only when pages are kept until the end).
  virtual void SetActivePage(int n);
  // The next NewPage ends the document and deletes its files.
  void Abort() { abortRequested_ = true; }

  // ---- Units ----
  // A coordinate in the measurement unit as screen pixels; with a unit
  // factor of exactly 1 the value is taken as pixels at InputXRes/InputYRes.
  double ToPixelsX(double value) const;
  double ToPixelsY(double value) const;

  // ---- Drawing API (does nothing unless a document is open and the kind is
  // accepted; anchors outside the ReferenceRect create nothing). A
  // conversion draws only on the page canvas; these operations are for other
  // users of an engine. ----
  virtual void FormattedTextOut(double x, double y, const std::u16string& text);
  virtual void TextOutByCharacter(const std::u16string& text, bool forward, double x, double y);
  virtual void TextOut(double x, double y, const std::u16string& text);
  virtual void TableCellText(int column, const std::u16string& text);
  // Returns the height left on the page below the paragraph (unit).
  virtual double ParagraphText(const std::u16string& text);
  virtual void ClippedTextOut(const TkxDoubleRect& rect, const std::u16string& text, double x, double y);
  // Option bytes: horizontal alignment (TkxHAlignment) and vertical alignment
  // (0 top, 1 centre, 2 bottom) of the lines in the box.
  virtual void TextBox(const TkxDoubleRect& rect, const std::u16string& text, uint8_t alignment,
                       uint8_t verticalAlignment);
  virtual void SetTextAngle(int angle);
  virtual void SetTextFlag(uint8_t value) { textFlag_ = value; }
  // A picture given as encoded data of width x height pixels.
  virtual void DrawImageStream(const TkxDoubleRect& rect, int width, const std::vector<uint8_t>& stream, int height);
  virtual void DrawGraphicAsStream(const TkxDoubleRect& rect, const TGraphic& graphic);
  // Sized from the graphic: pixels x PPI / 96.
  virtual void DrawImage(double x, double y, const TGraphic& graphic);
  virtual void StretchDrawImage(const TkxDoubleRect& rect, const TGraphic& graphic);
  virtual void DrawImageByIndex(const TkxDoubleRect& rect, int imageIndex);
  virtual void TableCellImage(int column, const TGraphic& graphic, double x, double y);
  // A copy of the picture in the ImageTable; its index, or -1 (no document,
  // or a picture kind the engine cannot take: "Unknown Graphics format").
  virtual int AddImage(const TGraphic& graphic);
  virtual int AddImageEx(const TGraphic& graphic, bool asResource);
  virtual void Line(double x1, double y1, double x2, double y2);
  virtual void Rectangle(double x1, double y1, double x2, double y2, bool filled = true);
  // (cornerWidth, cornerHeight): the corner ellipse.
  virtual void RoundRect(double x1, double y1, double x2, double y2, double cornerWidth, double cornerHeight,
                         bool filled = true);
  virtual void Ellipse(double x1, double y1, double x2, double y2, bool filled = true);
  virtual void Polygon(const TkxPoints& points, bool filled = true);
  virtual void Polyline(const TkxPoints& points);
  // Bounding box corners, then start and end points.
  virtual void Arc(double x1, double y1, double x2, double y2, double x3, double y3, double x4, double y4);
  virtual void Pie(double x1, double y1, double x2, double y2, double x3, double y3, double x4, double y4,
                   bool filled = true);
  virtual void Chord(double x1, double y1, double x2, double y2, double x3, double y3, double x4, double y4,
                     bool filled = true);
  virtual void PolyBezier(const TkxPoints& points);
  virtual void BeginParagraph();
  virtual void EndParagraph();
  // Opens a table at (x, y) and returns its columns (set their widths).
  virtual TkxColumnList* BeginTable(int columns, double x, double y);
  virtual void NewTableRow(double height);
  virtual void NewTableRow();
  virtual void EndTable();
  virtual void PlayMetafile(const TkxMetafile& metafile);
  // Stretch-draws a picture onto the current page canvas.
  virtual void DrawOnCanvas(const TkxDoubleRect& rect, const TGraphic& graphic);
  virtual void PlayMetafileAt(const TkxMetafile& metafile, double x, double y);
  virtual void BeginHeader();
  virtual void EndHeader();
  virtual void ClearHeader();
  virtual void BeginFooter();
  virtual void EndFooter();
  virtual void ClearFooter();
  virtual void BeginUnderlay();
  virtual void EndUnderlay();
  virtual void ClearUnderlay();
  virtual void BeginOverlay();
  virtual void EndOverlay();
  virtual void ClearOverlay();

  // ---- Engine states ----
  // Saves Font, Pen, Brush, ImageSettings, formatting, table settings, Page
  // and text effects; returns the index, or -1 when no document is open.
  virtual int SaveEngineState();
  // -1 restores the last saved state; an unknown index reports
  // "Not a valid Engine State identifier".
  virtual void RestoreEngineState(int index);
  virtual void ClearEngineStates();

  // ---- Texts ----
  virtual std::u16string CalculateVariablesIn(const std::u16string& text, bool withPageVariables);
  // "<%Pg#%>" and "<%PgCnt%>" as the current page number and page count.
  virtual std::u16string ReplacePageVariables(const std::u16string& text);
  // Whole pixels on the screen, the text taken in the ANSI code page; an
  // empty text is measured as a space and reported 1 pixel wide; a trailing
  // CR LF is left out.
  TkxTextSize MeasureText(std::u16string_view text, const TFont& font) const;

  // ---- Recordings and output ----
  // Turns a recording into items of the current lists (dy, dx: offsets in
  // screen pixels added to the ReferenceRect origin).
  virtual void ProcessPageRecording(const TkxMetafile& metafile, double dy, double dx);
  // Hands every item of the list to the hook of its class.
  void DispatchItems(TkxItemList& list);

  // ---- TkxImageSettingsOwner ----
  // True in the base.
  bool IsImageFormatSupported(TkxOutputImageFormat format, std::string& message) override;
  // Goes to OnMessageBox.
  void ShowErrorMessageBox(const std::string& message) override;

  // ---- TkxDocSettingsClient ----
  void SettingsFreed(TkxDocSettings& settings) override;

 protected:
  // ---- Writer hooks ----
  virtual void BeginPageOutput() {}
  virtual void EndPageOutput() {}
  virtual void BeginDocOutput() {}
  virtual void EndDocOutput() {}
  // The base moves a clipped item that starts left of its clip rectangle to
  // the rectangle's left edge, and changes nothing else.
  virtual void WriteText(TkxTextItem& item);
  virtual void WriteTextBox(TkxTextBoxItem& item) { (void)item; }
  virtual void WriteParagraph(TkxParagraphItem& item) { (void)item; }
  virtual void WriteImage(TkxImageItem& item) { (void)item; }
  virtual void WriteImageStream(TkxImageStream& item) { (void)item; }
  virtual void WriteTable(TkxTableItem& item) { (void)item; }
  virtual void WriteOtherItem(TkxDocumentItem& item) { (void)item; }
  virtual void WriteClip(TkxClipItem& item) { (void)item; }
  virtual void WritePath(TkxPathItem& item) { (void)item; }
  // The base shape hooks draw the shape with its pen and brush on a bitmap
  // just large enough for it and call WriteBitmapAt.
  virtual void WritePolyPolygon(TkxPolyPolygonItem& item);
  virtual void WriteEndOfRecording(TkxEOFItem& item) { (void)item; }
  virtual void WritePolyDraw(TkxPolyDrawItem& item) { (void)item; }
  virtual void WriteLine(TkxShapeItem& item);
  virtual void WriteRectangle(TkxShapeItem& item);
  virtual void WriteRoundRect(TkxShapeItem& item);
  virtual void WriteEllipse(TkxShapeItem& item);
  // brush: nullptr for an unfilled shape.
  virtual void WritePolygon(const TkxPoints& points, int count, const TBrush* brush, const TPen& pen, bool closed);
  virtual void WritePolyShape(TkxPolyShapeItem& item, bool closed);
  virtual void WriteArc(TkxShapeItem& item);
  virtual void WritePie(TkxShapeItem& item);
  virtual void WriteChord(TkxShapeItem& item);
  virtual void WritePolyBezier(TkxShapeItem& item);
  // A bitmap whose top-left corner goes to page position (x, y) in pixels.
  virtual void WriteBitmapAt(const TkxBitmap& bitmap, double y, double x) { (void)bitmap, (void)y, (void)x; }
  // The base writes the PageBorder sides as lines along the margins.
  virtual void WritePageBorder();
  // The base hands every text item to WriteText.
  virtual void WriteTextList(TkxTextItemList& list);
  // Orders a LineTextList before output (nothing in the base).
  virtual void SortTextList(TkxTextItemList& list) { (void)list; }
  // Modal result of the engine's own setup dialog (1 in the base).
  virtual int ShowDefaultSetupDialog() { return kModalOK; }
  // A new object of the engine's preferences class.
  virtual std::unique_ptr<TkxPreferences> PreferencesClass() const;
  // Opens a finished output file with the desktop's default application.
  virtual void OpenOutputFile(const std::string& fileName);
  // The processor that turns one recording into items of the current lists.
  virtual std::unique_ptr<TkxMetafileProcessor> CreateMetafileProcessor();

  // ---- For concrete engines ----
  // Replaces Preferences by a new object of PreferencesClass() carrying the
  // current values (called by the constructors of derived engines).
  void RecreatePreferences();
  void SetOutputCapabilities(uint16_t caps) { outputCapabilities_ = caps; }
  void SetCurrentBand(int band) { currentBand_ = band; }
  // Creates (or replaces) the file for writing and records it in
  // OutputFiles. On failure: EngineStatus 4, the document's files are
  // deleted, the document is closed and EFileCreateError is raised.
  std::unique_ptr<std::ofstream> CreateOutputFile(const std::string& name);
  // Reports an engine error: to OnErrorMessage when assigned, else raised.
  template <class E>
  void ReportError(const std::string& message) {
    if (OnErrorMessage) {
      OnErrorMessage(this, E(message));
      return;
    }
    throw E(message);
  }
  // The current page's own settings (pixels), or nullptr.
  const TkxPageSettings* CurrentPageSettings() const;

 private:
  class ItemWriter;
  bool CanText() const;
  bool CanImages() const;
  bool CanShapes() const;
  bool Inside(double y, double x) const;
  double X(double v) const { return ToPixelsX(v) + referenceRect_.Left; }
  double Y(double v) const { return ToPixelsY(v) + referenceRect_.Top; }
  void RecomputeReferenceRect();
  void AppendItem(std::unique_ptr<TkxDocumentItem> item);
  void AppendText(std::unique_ptr<TkxTextItem> item);
  std::unique_ptr<TkxTextItem> NewTextItem(double x, double y, const std::u16string& text) const;
  void InitImageItem(TkxImageItem& item) const;
  void AddShape(uint8_t type, const TkxPoints& points, bool filled);
  void StartRecording(const TkxPageSettings& pixelsPage);
  // Closes the page canvas and keeps its recording in pageRecording_.
  bool ClosePageCanvas();
  void OutputPage(int n);
  void FreePageItems(TkxPageItem& page);
  void CloseDocument();
  void ApplyState(const TkxEngineState& state);
  void MakeCurrent(TkxBandItem& lists);
  void BeginBand(int band);
  void EndBand(int band);
  void ClearBand(int band);
  void DrawShapeBitmap(const TkxShapeItem& item);

  std::string fileExtension_;
  std::string fileDescription_;
  int inputXRes_;
  int inputYRes_;
  double contentScaleX_ = 1, contentScaleY_ = 1;
  double contentOffsetY_ = 0;
  TkxItemsToRender itemsToRender_ = TkxItemsToRender::All();
  std::string pagesToRender_;
  TkxUnitType measurementUnit_ = muInches;
  TkxReferencePoint referencePoint_ = rpBand;
  TkxDocSettings* settings_ = nullptr;

  TFont font_;
  TPen pen_;
  TBrush brush_;
  TkxTextEffects textEffects_;
  TkxFrame frame_;
  TkxPageSettings page_;
  TkxBorder pageBorder_;
  TkxImageSettings imageSettings_;
  TkxTextFormatting textFormatting_;
  TkxTableSettings tableSettings_;
  TkxDocInfo docInfo_;
  std::unique_ptr<TkxPreferences> preferences_;
  TPicture backgroundImage_;
  TColor backgroundColor_ = clWhite;
  TkxBackgroundDisplayType backgroundDisplayType_ = dtCenter;
  TFont lineMeasureFont_;

  bool documentOpen_ = false;
  int engineStatus_ = esNeverBegun;
  uint16_t outputCapabilities_ = ocText | ocImages | ocShapes;
  std::vector<std::unique_ptr<TkxPageItem>> pages_;
  int currentPage_ = 0;
  int pageCount_ = 0;
  TkxMetafile pageRecording_;
  // The recording before pageRecording_, done with: the next page records
  // into its room instead of growing a buffer from nothing.
  std::vector<uint8_t> spareRecording_;
  std::unique_ptr<TkxEmfRecorder> canvas_;
  TkxItemList* itemList_ = nullptr;
  TkxTextItemList* lineTextList_ = nullptr;
  double flowPosition_ = 0;
  std::unique_ptr<TkxBandItem> bands_[5];  // index bnHeader..bnOverlay
  int currentBand_ = bnBody;
  TkxDoubleRect referenceRect_;
  double unitFactor_ = 1;
  TkxImageTable imageTable_;
  std::vector<std::unique_ptr<TkxEngineState>> engineStates_;
  int initialStateIndex_ = -1;
  std::vector<std::string> outputFiles_;
  bool abortRequested_ = false;
  bool lineMode_ = false;
  int textAngle_ = 0;
  uint8_t textFlag_ = 0;
  std::ostream* userStream_ = nullptr;
  TkxClock clock_;
  uint8_t shapeLineJoin_ = 0;
  uint8_t shapeEndCap_ = 0;

  // Drawing API state.
  std::unique_ptr<TkxParagraphItem> paragraph_;
  TkxTableItem* openTable_ = nullptr;
  std::unique_ptr<TkxDocumentItem> carriedTable_;  // an open table waiting for the next page
};

}  // namespace pw
