#include "engine/kxCustomDocumentEngine.h"

#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <limits>
#include <thread>

#include "engine/kxMetafileDrawingRecords.h"
#include "engine/kxMetafileProcessor.h"
#include "engine/kxPagesToRender.h"
#include "platform/kxBitmap.h"
#include "platform/kxBitmapCanvas.h"
#include "platform/kxFontManager.h"
#include "platform/kxScreen.h"

extern char** environ;

namespace pw {

namespace {

using K = TkxItemsToRenderKind;

// Halves to the even neighbour, as everywhere in the engine.
double RoundEven(double v) { return std::nearbyint(v); }

// A page dimension in whole pixels for a recording; hostile sizes are kept
// within what a canvas can take.
int PagePixels(double v) {
  if (!std::isfinite(v) || v < 0) return 0;
  constexpr double kMax = 1 << 24;
  return static_cast<int>(RoundEven(std::min(v, kMax)));
}

char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

// Position of needle in text at or after from, ignoring ASCII letter case.
size_t FindNoCase(const std::u16string& text, std::u16string_view needle, size_t from = 0) {
  if (needle.empty() || text.size() < needle.size()) return std::u16string::npos;
  for (size_t i = from; i + needle.size() <= text.size(); ++i) {
    size_t k = 0;
    while (k < needle.size() && AsciiUpper(text[i + k]) == AsciiUpper(needle[k])) ++k;
    if (k == needle.size()) return i;
  }
  return std::u16string::npos;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

// Every occurrence of needle (any letter case) replaced by value.
std::u16string ReplaceAllNoCase(const std::u16string& text, std::u16string_view needle, std::u16string_view value) {
  std::u16string out;
  size_t pos = 0;
  for (size_t hit; (hit = FindNoCase(text, needle, pos)) != std::u16string::npos; pos = hit + needle.size()) {
    out.append(text, pos, hit - pos);
    out.append(value);
  }
  out.append(text, pos, std::u16string::npos);
  return out;
}

std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }
std::u16string Number(long long v) { return Ascii(std::to_string(v)); }
std::u16string TwoDigits(int v) {
  std::u16string s = Number(v);
  if (s.size() < 2) s.insert(s.begin(), u'0');
  return s;
}

// The date and time formats of the English (United States) locale.
std::u16string ShortDate(const TkxDateTime& t) {
  return Number(t.Month) + u"/" + Number(t.Day) + u"/" + Number(t.Year);
}
std::u16string Hour12(const TkxDateTime& t) { return Number(t.Hour % 12 == 0 ? 12 : t.Hour % 12); }
std::u16string AmPm(const TkxDateTime& t) { return t.Hour < 12 ? u" AM" : u" PM"; }
std::u16string ShortTime(const TkxDateTime& t) { return Hour12(t) + u":" + TwoDigits(t.Minute) + AmPm(t); }
std::u16string LongTime(const TkxDateTime& t) {
  return Hour12(t) + u":" + TwoDigits(t.Minute) + u":" + TwoDigits(t.Second) + AmPm(t);
}
std::u16string LongDate(const TkxDateTime& t) {
  static const char* const kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
  static const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                        "July",    "August",   "September", "October", "November", "December"};
  using namespace std::chrono;
  const year_month_day ymd{year{t.Year}, month{static_cast<unsigned>(t.Month)}, day{static_cast<unsigned>(t.Day)}};
  if (!ymd.ok()) return ShortDate(t);
  const weekday wd{sys_days{ymd}};
  return Ascii(kDays[wd.c_encoding()]) + u", " + Ascii(kMonths[t.Month - 1]) + u" " + Number(t.Day) + u", " +
         Number(t.Year);
}

// Lines of a text broken at CR LF or LF.
std::vector<std::u16string> SplitLines(const std::u16string& text) {
  std::vector<std::u16string> lines;
  std::u16string line;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') continue;
    if (c == u'\n') {
      lines.push_back(std::move(line));
      line.clear();
    } else {
      line.push_back(c);
    }
  }
  lines.push_back(std::move(line));
  return lines;
}

// The box of a shape, and a bitmap that holds it.
struct ShapeBox {
  double Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool Valid = false;

  void Add(double x, double y) {
    if (!Valid) {
      Left = Right = x;
      Top = Bottom = y;
      Valid = true;
      return;
    }
    Left = std::min(Left, x);
    Right = std::max(Right, x);
    Top = std::min(Top, y);
    Bottom = std::max(Bottom, y);
  }
  void Add(const TkxDoublePoint& p) { Add(p.X, p.Y); }
  // The bitmap for the box (grown by extra pixels); empty when the box is
  // not finite or larger than a bitmap may be (such a shape is not drawn).
  TkxBitmap MakeBitmap(double extra) const {
    if (!Valid || !std::isfinite(Left) || !std::isfinite(Top) || !std::isfinite(Right) || !std::isfinite(Bottom))
      return {};
    const double w = std::ceil(Right - Left + extra), h = std::ceil(Bottom - Top + extra);
    if (w > kMaxBitmapDimension || h > kMaxBitmapDimension) return {};
    const int iw = std::max(1, static_cast<int>(w)), ih = std::max(1, static_cast<int>(h));
    if (static_cast<int64_t>(iw) * ih > kMaxBitmapPixels) return {};
    return TkxBitmap(iw, ih, true);
  }
};

}  // namespace

TkxDateTime LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

// ---- Construction and properties ---------------------------------------------

TkxCustomDocumentEngine::TkxCustomDocumentEngine()
    : inputXRes_(TkxScreen::PPI()),
      inputYRes_(TkxScreen::PPI()),
      imageSettings_(this),
      preferences_(std::make_unique<TkxPreferences>()) {
  SetMeasurementUnit(muInches);
}

TkxCustomDocumentEngine::~TkxCustomDocumentEngine() {
  if (settings_) settings_->Detach(*this);
  imageSettings_.SetOwner(nullptr);
}

void TkxCustomDocumentEngine::SetInputXRes(int res) {
  if (res >= 1) inputXRes_ = res;
}

void TkxCustomDocumentEngine::SetInputYRes(int res) {
  if (res >= 1) inputYRes_ = res;
}

void TkxCustomDocumentEngine::SetMeasurementUnit(TkxUnitType unit) {
  measurementUnit_ = unit;
  unitFactor_ = UnitFactorOf(unit);
  page_.SetUnitFactor(unitFactor_);
  textFormatting_.SetUnitFactor(unitFactor_);
  tableSettings_.SetUnitFactor(unitFactor_);
  frame_.SetUnitFactor(unitFactor_);
}

void TkxCustomDocumentEngine::SetReferencePoint(TkxReferencePoint rp) {
  referencePoint_ = rp;
  if (documentOpen_) RecomputeReferenceRect();
}

void TkxCustomDocumentEngine::SetSettings(TkxDocSettings* settings) {
  if (settings == settings_) return;
  if (settings_) settings_->Detach(*this);
  settings_ = settings;
  if (settings_) settings_->Attach(*this);
}

void TkxCustomDocumentEngine::SettingsFreed(TkxDocSettings& settings) {
  if (&settings == settings_) settings_ = nullptr;
}

TkxPageItem* TkxCustomDocumentEngine::PageItem(int n) const {
  if (n < 1 || n > static_cast<int>(pages_.size())) return nullptr;
  return pages_[n - 1].get();
}

TkxBandItem* TkxCustomDocumentEngine::Band(int band) const {
  if (band < bnHeader || band > bnOverlay) return nullptr;
  return bands_[band].get();
}

const TkxPageSettings* TkxCustomDocumentEngine::CurrentPageSettings() const {
  const TkxPageItem* page = PageItem(currentPage_);
  return page ? &page->PageSettings : nullptr;
}

std::unique_ptr<TkxPreferences> TkxCustomDocumentEngine::PreferencesClass() const {
  return std::make_unique<TkxPreferences>();
}

void TkxCustomDocumentEngine::RecreatePreferences() {
  std::unique_ptr<TkxPreferences> fresh = PreferencesClass();
  fresh->Assign(*preferences_);
  preferences_ = std::move(fresh);
}

bool TkxCustomDocumentEngine::IsImageFormatSupported(TkxOutputImageFormat, std::string& message) {
  message.clear();
  return true;
}

void TkxCustomDocumentEngine::ShowErrorMessageBox(const std::string& message) {
  if (OnMessageBox) OnMessageBox(this, message);
}

// ---- Units and the reference rectangle ---------------------------------------

double TkxCustomDocumentEngine::ToPixelsX(double value) const {
  if (unitFactor_ != 1.0) return value * unitFactor_;
  return value * TkxScreen::PPI() / inputXRes_;
}

double TkxCustomDocumentEngine::ToPixelsY(double value) const {
  if (unitFactor_ != 1.0) return value * unitFactor_;
  return value * TkxScreen::PPI() / inputYRes_;
}

void TkxCustomDocumentEngine::RecomputeReferenceRect() {
  const TkxPageSettings* p = CurrentPageSettings();
  if (!p) {
    referenceRect_ = {};
    return;
  }
  const double w = p->Width(), h = p->Height();
  const double l = p->LeftMargin(), r = p->RightMargin(), t = p->TopMargin(), b = p->BottomMargin();
  const double hh = p->HeaderHeight(), fh = p->FooterHeight();
  TkxDoubleRect rr;
  if (referencePoint_ == rpPage) {
    rr = {0, 0, w, h};
  } else if (referencePoint_ == rpMargin) {
    rr = {l, t, w - r, h - b};
  } else {
    switch (currentBand_) {
      case bnHeader: rr = {l, t, w - r, t + hh}; break;
      case bnFooter: rr = {l, h - fh - b, w - r, h - fh - b + fh}; break;
      case bnUnderlay:
      case bnOverlay: rr = {l, t, w - r, h - b}; break;
      default: rr = {l, t + hh, w - r, h - fh - b}; break;
    }
  }
  referenceRect_ = rr;
}

bool TkxCustomDocumentEngine::Inside(double y, double x) const {
  const TkxDoubleRect& r = referenceRect_;
  return r.Top <= y && y < r.Bottom && r.Left <= x && x < r.Right;
}

bool TkxCustomDocumentEngine::CanText() const {
  return documentOpen_ && RendersKind(itemsToRender_, outputCapabilities_, K::irText);
}
bool TkxCustomDocumentEngine::CanImages() const {
  return documentOpen_ && RendersKind(itemsToRender_, outputCapabilities_, K::irImage);
}
bool TkxCustomDocumentEngine::CanShapes() const {
  return documentOpen_ && RendersKind(itemsToRender_, outputCapabilities_, K::irShape);
}

// ---- Lifecycle -------------------------------------------------------------------

void TkxCustomDocumentEngine::BeginDoc() {
  if (documentOpen_) return;
  if (OnBeforeBeginDoc) OnBeforeBeginDoc(this);
  int result = kModalOK;
  if (preferences_->ShowSetupDialog()) result = SetupDialog ? SetupDialog(this) : ShowDefaultSetupDialog();
  if (result == kModalCancel) {
    engineStatus_ = esSetupCancelled;
    return;
  }
  documentOpen_ = true;
  pages_.clear();
  pageRecording_ = TkxMetafile();
  for (int b = bnHeader; b <= bnOverlay; ++b) bands_[b] = std::make_unique<TkxBandItem>();
  imageTable_.clear();
  engineStates_.clear();
  initialStateIndex_ = SaveEngineState();
  outputFiles_.clear();
  currentPage_ = 0;
  pageCount_ = 0;
  currentBand_ = bnBody;
  NewPage();
  // An abort requested before the document began ends it in that NewPage.
  if (!documentOpen_) return;
  BeginDocOutput();
  engineStatus_ = esBegun;
  if (OnAfterBeginDoc) OnAfterBeginDoc(this);
}

void TkxCustomDocumentEngine::StartRecording(const TkxPageSettings& pixelsPage) {
  canvas_ = std::make_unique<TkxEmfRecorder>(PagePixels(pixelsPage.Width()), PagePixels(pixelsPage.Height()),
                                             std::move(spareRecording_));
  spareRecording_ = {};
}

bool TkxCustomDocumentEngine::ClosePageCanvas() {
  if (!canvas_) return false;
  // A page full of pictures is not worth keeping room for.
  constexpr size_t kWorthKeeping = size_t(4) << 20;
  spareRecording_ = pageRecording_.TakeBytes();
  if (spareRecording_.capacity() > kWorthKeeping) spareRecording_ = {};
  pageRecording_ = canvas_->TakeMetafile();
  canvas_.reset();
  return true;
}

void TkxCustomDocumentEngine::MakeCurrent(TkxBandItem& lists) {
  itemList_ = &lists.ItemList;
  lineTextList_ = &lists.LineTextList;
  flowPosition_ = lists.FlowPosition;
}

void TkxCustomDocumentEngine::NewPage() {
  if (!documentOpen_) return;
  if (abortRequested_) {
    preferences_->SetOpenAfterCreate(false);
    EndDoc();
    abortRequested_ = false;
    return;
  }
  const bool eachPage = preferences_->ProcessAfterEachPage();
  if (TkxPageItem* current = PageItem(currentPage_)) {
    current->FlowPosition = flowPosition_;
    if (!eachPage && ClosePageCanvas()) ProcessPageRecording(pageRecording_, 0, 0);
    if (eachPage) OutputPage(currentPage_);
  }
  ++pageCount_;
  currentPage_ = pageCount_;
  auto page = std::make_unique<TkxPageItem>(this, page_);
  MakeCurrent(*page);
  StartRecording(page->PageSettings);
  pages_.push_back(std::move(page));
  currentBand_ = bnBody;
  RecomputeReferenceRect();
  if (carriedTable_) {
    // A table still open when its page was written continues at the top of
    // this one with the rows that follow.
    auto* table = static_cast<TkxTableItem*>(carriedTable_.get());
    table->Rows.clear();
    table->RowHeights.clear();
    table->CurrentRow = -1;
    table->CurrentRowTop = referenceRect_.Top;
    table->TotalHeight = 0;
    table->Y = referenceRect_.Top;
    itemList_->push_back(std::move(carriedTable_));
  }
}

void TkxCustomDocumentEngine::SetActivePage(int n) {
  if (!documentOpen_ || preferences_->ProcessAfterEachPage()) return;
  if (n < 1 || n > pageCount_ || !PageItem(n)) {
    ReportError<EInvalidPageNumber>(kMsgInvalidPageNumber);
    return;
  }
  if (TkxPageItem* current = PageItem(currentPage_)) {
    current->FlowPosition = flowPosition_;
    if (ClosePageCanvas()) ProcessPageRecording(pageRecording_, 0, 0);
  }
  TkxPageItem& page = *PageItem(n);
  StartRecording(page.PageSettings);
  currentPage_ = n;
  MakeCurrent(page);
  currentBand_ = bnBody;
  RecomputeReferenceRect();
}

void TkxCustomDocumentEngine::EndDoc() {
  if (!documentOpen_) return;
  try {
    const bool eachPage = preferences_->ProcessAfterEachPage();
    if (!eachPage && ClosePageCanvas()) ProcessPageRecording(pageRecording_, 0, 0);
    if (eachPage) {
      if (PageItem(currentPage_)) OutputPage(currentPage_);
    } else {
      for (int n = 1; n <= pageCount_; ++n) {
        currentPage_ = n;
        if (TkxPageItem* page = PageItem(n)) MakeCurrent(*page);
        OutputPage(n);
      }
    }
    if (OnBeforeEndDoc) OnBeforeEndDoc(this);
    pages_.clear();
    itemList_ = nullptr;
    lineTextList_ = nullptr;
    EndDocOutput();
    if (OnAfterEndDoc) OnAfterEndDoc(this);
    if (preferences_->OpenAfterCreate() && !outputFiles_.empty()) OpenOutputFile(outputFiles_.front());
  } catch (...) {
    // Whatever failed, the document does not stay half open.
    if (documentOpen_) CloseDocument();
    throw;
  }
  CloseDocument();
  engineStatus_ = esEnded;
}

void TkxCustomDocumentEngine::OutputPage(int n) {
  TkxPageItem* page = PageItem(n);
  if (!page) return;
  const bool eachPage = preferences_->ProcessAfterEachPage();
  if (IsPageSelected(pagesToRender_, n)) {
    if (OnBeforeBeginPage) OnBeforeBeginPage(this);
    if (eachPage && ClosePageCanvas()) ProcessPageRecording(pageRecording_, 0, 0);
    currentBand_ = bnBody;
    BeginPageOutput();
    if (OnAfterBeginPage) OnAfterBeginPage(this);
    WritePageBorder();
    if (lineMode_ && n == 1) {
      SortTextList(bands_[bnHeader]->LineTextList);
      SortTextList(bands_[bnFooter]->LineTextList);
    }
    if (!(outputCapabilities_ & ocHeaderOnce) || n == 1) {
      currentBand_ = bnHeader;
      DispatchItems(bands_[bnHeader]->ItemList);
      WriteTextList(bands_[bnHeader]->LineTextList);
    }
    if (!(outputCapabilities_ & ocUnderlayOnce) || n == 1) {
      currentBand_ = bnUnderlay;
      SortTextList(bands_[bnUnderlay]->LineTextList);
      DispatchItems(bands_[bnUnderlay]->ItemList);
      WriteTextList(bands_[bnUnderlay]->LineTextList);
    }
    currentBand_ = bnBody;
    SortTextList(page->LineTextList);
    DispatchItems(page->ItemList);
    WriteTextList(page->LineTextList);
    if (!(outputCapabilities_ & ocFooterOnce) || n == 1) {
      currentBand_ = bnFooter;
      DispatchItems(bands_[bnFooter]->ItemList);
      WriteTextList(bands_[bnFooter]->LineTextList);
    }
    if (!(outputCapabilities_ & ocOverlayOnce) || n == 1) {
      currentBand_ = bnOverlay;
      SortTextList(bands_[bnOverlay]->LineTextList);
      DispatchItems(bands_[bnOverlay]->ItemList);
      WriteTextList(bands_[bnOverlay]->LineTextList);
    }
    currentBand_ = bnBody;
    if (OnBeforeEndPage) OnBeforeEndPage(this);
    EndPageOutput();
    if (OnAfterEndPage) OnAfterEndPage(this);
  } else if (eachPage && n == currentPage_) {
    // Not selected: the recording is dropped unprocessed.
    canvas_.reset();
  }
  FreePageItems(*page);
  if (!preferences_->UseImagesAsResources() && eachPage) {
    for (TkxImageTableEntry& entry : imageTable_) entry.Picture.reset();
  }
  if (itemList_ == &page->ItemList) {
    itemList_ = nullptr;
    lineTextList_ = nullptr;
  }
  pages_[n - 1].reset();
}

void TkxCustomDocumentEngine::FreePageItems(TkxPageItem& page) {
  page.LineTextList.clear();
  for (TkxImageTableEntry& entry : imageTable_) entry.Stream = nullptr;
  for (TkxDocumentItemPtr& item : page.ItemList) {
    if (item && item.get() == openTable_) carriedTable_ = std::move(item);
  }
  page.ItemList.clear();
}

void TkxCustomDocumentEngine::CloseDocument() {
  if (initialStateIndex_ >= 0 && initialStateIndex_ < static_cast<int>(engineStates_.size()))
    ApplyState(*engineStates_[initialStateIndex_]);
  paragraph_.reset();
  openTable_ = nullptr;
  carriedTable_.reset();
  for (auto& band : bands_) band.reset();
  canvas_.reset();
  pageRecording_ = TkxMetafile();
  spareRecording_ = {};
  imageTable_.clear();
  if (abortRequested_) {
    std::error_code ec;
    for (const std::string& file : outputFiles_) std::filesystem::remove(file, ec);
  }
  outputFiles_.clear();
  ClearEngineStates();
  initialStateIndex_ = -1;
  pages_.clear();
  itemList_ = nullptr;
  lineTextList_ = nullptr;
  flowPosition_ = 0;
  currentBand_ = bnBody;
  referenceRect_ = {};
  currentPage_ = 0;
  pageCount_ = 0;
  textAngle_ = 0;
  textFlag_ = 0;
  documentOpen_ = false;
}

std::unique_ptr<std::ofstream> TkxCustomDocumentEngine::CreateOutputFile(const std::string& name) {
  auto file = std::make_unique<std::ofstream>(name, std::ios::binary | std::ios::out | std::ios::trunc);
  if (!file->is_open()) {
    engineStatus_ = esFileCreateFailed;
    std::error_code ec;
    for (const std::string& f : outputFiles_) std::filesystem::remove(f, ec);
    CloseDocument();
    throw EFileCreateError(kMsgFileCreateError);
  }
  outputFiles_.push_back(name);
  return file;
}

void TkxCustomDocumentEngine::OpenOutputFile(const std::string& fileName) {
  // The desktop's opener, started on its own; its exit is collected by a
  // detached waiter so that no zombie stays behind.
  std::string program = "xdg-open";
  std::string arg = fileName;
  char* argv[] = {program.data(), arg.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0) return;
  std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
}

// ---- Recordings and dispatch -------------------------------------------------------

std::unique_ptr<TkxMetafileProcessor> TkxCustomDocumentEngine::CreateMetafileProcessor() {
  return std::make_unique<TkxMetafileProcessor>(*this);
}

void TkxCustomDocumentEngine::ProcessPageRecording(const TkxMetafile& metafile, double dy, double dx) {
  if (metafile.Empty()) return;
  std::unique_ptr<TkxMetafileProcessor> owned = CreateMetafileProcessor();
  TkxMetafileProcessor& processor = *owned;
  processor.TrackCurrentPosition = true;
  // On taller paper the middle of what the page draws keeps its share of
  // the page's height (a block at the head stays at the head, a full page
  // is centred); the page moves down by no more than half the room it
  // leaves under what it draws, as lines of the editing layout often take a
  // little more height than the page gave them and a page full to its foot
  // must not run onto another.
  double shift = contentOffsetY_;
  if (shift > 0) {
    double left = 0, top = 0, right = 0, bottom = 0;
    metafile.FramePixels(left, top, right, bottom);
    const double foot = bottom - 2 * shift;  // the drawn page's foot on the paper-sized recording
    const TkxEmfRectL& drawn = metafile.Header().Bounds;
    if (foot > 0 && drawn.bottom >= drawn.top) {
      const double middle = (drawn.top + drawn.bottom + 1.0) / 2;
      shift = std::min({shift, middle * (bottom / foot - 1), (foot - drawn.bottom - 1.0) / 2});
      shift = std::max(shift, 0.0);
    }
  }
  const double offX = dx + referenceRect_.Left, offY = dy + referenceRect_.Top + shift;
  const int ppi = TkxScreen::PPI();
  const bool fit = contentScaleX_ != 1 || contentScaleY_ != 1;
  if (!(outputCapabilities_ & ocRecordingAsIs) && (fit || inputXRes_ != ppi || inputYRes_ != ppi)) {
    // The size of the page the recording belongs to: the settings for the
    // next page may already differ (another orientation).
    // (A page item keeps its lengths in stored pixels; they are read in the
    // engine's unit as the page settings are.)
    const TkxPageItem* item = PageItem(currentPage_);
    const double unit = UnitFactor();
    const double width = ToPixelsX(item ? item->PageSettings.Width() / unit : page_.Width());
    const double height = ToPixelsY(item ? item->PageSettings.Height() / unit : page_.Height());
    const int w = PagePixels(width * contentScaleX_), h = PagePixels(height * contentScaleY_);
    // A page fitted to paper of its own size within a pixel is played as
    // it was recorded: stretching it would only copy every record.
    if (inputXRes_ == ppi && inputYRes_ == ppi && w == metafile.Width() && h == metafile.Height()) {
      processor.ProcessMetafile(metafile, offX, offY);
    } else {
      processor.ProcessMetafile(StretchRecording(metafile, w, h), offX, offY);
    }
  } else {
    processor.ProcessMetafile(metafile, offX, offY);
  }
}

// Hands each item to the engine's writer hook for its class.
class TkxCustomDocumentEngine::ItemWriter : public TkxDocumentItemVisitor {
 public:
  explicit ItemWriter(TkxCustomDocumentEngine& engine) : e_(engine) {}
  void Visit(TkxTextItem& item) override { e_.WriteText(item); }
  void Visit(TkxTextBoxItem& item) override { e_.WriteTextBox(item); }
  void Visit(TkxImageItem& item) override { e_.WriteImage(item); }
  void Visit(TkxImageStream& item) override { e_.WriteImageStream(item); }
  void Visit(TkxShapeItem& shape) override {
    e_.shapeLineJoin_ = shape.LineJoin;
    e_.shapeEndCap_ = shape.EndCap;
    if (shape.PointCount() == 0) return;
    switch (shape.ShapeType) {
      case shLine: e_.WriteLine(shape); break;
      case shRectangle: e_.WriteRectangle(shape); break;
      case shRoundRect: e_.WriteRoundRect(shape); break;
      case shEllipse: e_.WriteEllipse(shape); break;
      case shPolygon: e_.WritePolygon(shape.Points, shape.PointCount(), shape.Brush.get(), shape.Pen, true); break;
      case shPolyline: e_.WritePolygon(shape.Points, shape.PointCount(), shape.Brush.get(), shape.Pen, false); break;
      case shArc: e_.WriteArc(shape); break;
      case shChord: e_.WriteChord(shape); break;
      case shPie: e_.WritePie(shape); break;
      case shPolyBezier: e_.WritePolyBezier(shape); break;
      default: break;
    }
  }
  void Visit(TkxPolyShapeItem& poly) override {
    if (poly.Parts.empty() || !poly.Parts.front()) return;
    if (poly.Parts.front()->ShapeType == shPolygon)
      e_.WritePolyShape(poly, true);
    else if (poly.Parts.front()->ShapeType == shPolyline)
      e_.WritePolyShape(poly, false);
  }
  void Visit(TkxPolyPolygonItem& item) override { e_.WritePolyPolygon(item); }
  void Visit(TkxPolyDrawItem& item) override { e_.WritePolyDraw(item); }
  void Visit(TkxClipItem& item) override { e_.WriteClip(item); }
  void Visit(TkxPathItem& item) override { e_.WritePath(item); }
  void Visit(TkxEOFItem& item) override { e_.WriteEndOfRecording(item); }
  void Visit(TkxParagraphItem& item) override { e_.WriteParagraph(item); }
  void Visit(TkxTableItem& item) override { e_.WriteTable(item); }
  void VisitOther(TkxDocumentItem& item) override { e_.WriteOtherItem(item); }

 private:
  TkxCustomDocumentEngine& e_;
};

void TkxCustomDocumentEngine::DispatchItems(TkxItemList& list) {
  ItemWriter writer(*this);
  for (size_t i = 0; i < list.size(); ++i)
    if (TkxDocumentItem* item = list[i].get()) item->Accept(writer);
}

void TkxCustomDocumentEngine::WriteTextList(TkxTextItemList& list) {
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i]) WriteText(*list[i]);
}

void TkxCustomDocumentEngine::WriteText(TkxTextItem& item) {
  if (!item.HasClipRect()) return;
  const TkxDoubleRect& clip = item.ClipRect();
  const double halfHeight = MeasureText(item.FirstLine(), item.Font).Height / 2.0;
  if (clip.Top <= item.Y && item.Y <= clip.Bottom - halfHeight && item.X < clip.Right && clip.Left - item.X > 1)
    item.X = clip.Left;
}

// ---- Shapes drawn as pictures ------------------------------------------------------

void TkxCustomDocumentEngine::DrawShapeBitmap(const TkxShapeItem& item) {
  const TkxPoints& pts = item.Points;
  ShapeBox box;
  double extra = 0;
  const uint8_t type = item.ShapeType;
  const bool boxShape = type == shRectangle || type == shRoundRect || type == shEllipse || type == shArc ||
                        type == shChord || type == shPie;
  if (boxShape) {
    const size_t need = (type == shArc || type == shChord || type == shPie) ? 4 : (type == shRoundRect ? 3 : 2);
    if (pts.size() < need) return;
    box.Add(pts[0]);
    box.Add(pts[1]);
  } else {
    for (const TkxDoublePoint& p : pts) box.Add(p);
    extra = 2;
  }
  TkxBitmap bitmap = box.MakeBitmap(extra);
  if (bitmap.Empty()) return;
  {
    TkxBitmapCanvas canvas(bitmap);
    canvas.SetOrigin(-box.Left, -box.Top);
    DrawShapeOnCanvas(canvas, item);
  }
  WriteBitmapAt(bitmap, box.Top, box.Left);
}

void TkxCustomDocumentEngine::WriteLine(TkxShapeItem& item) { DrawShapeBitmap(item); }
void TkxCustomDocumentEngine::WriteRectangle(TkxShapeItem& item) { DrawShapeBitmap(item); }
void TkxCustomDocumentEngine::WriteRoundRect(TkxShapeItem& item) { DrawShapeBitmap(item); }
void TkxCustomDocumentEngine::WriteEllipse(TkxShapeItem& item) { DrawShapeBitmap(item); }
void TkxCustomDocumentEngine::WriteArc(TkxShapeItem& item) { DrawShapeBitmap(item); }
void TkxCustomDocumentEngine::WritePie(TkxShapeItem& item) { DrawShapeBitmap(item); }
void TkxCustomDocumentEngine::WriteChord(TkxShapeItem& item) { DrawShapeBitmap(item); }
void TkxCustomDocumentEngine::WritePolyBezier(TkxShapeItem& item) { DrawShapeBitmap(item); }

void TkxCustomDocumentEngine::WritePolygon(const TkxPoints& points, int count, const TBrush* brush, const TPen& pen,
                                           bool closed) {
  if (count <= 0) return;
  const size_t n = std::min(static_cast<size_t>(count), points.size());
  ShapeBox box;
  for (size_t i = 0; i < n; ++i) box.Add(points[i]);
  TkxBitmap bitmap = box.MakeBitmap(2);
  if (bitmap.Empty()) return;
  {
    TkxBitmapCanvas canvas(bitmap);
    canvas.Pen = CanvasPenOf(pen);
    canvas.Brush = CanvasBrushOf(brush);
    canvas.SetOrigin(-box.Left, -box.Top);
    if (closed)
      canvas.Polygon(CanvasPointsOf(points, n));
    else
      canvas.Polyline(CanvasPointsOf(points, n));
  }
  WriteBitmapAt(bitmap, box.Top, box.Left);
}

void TkxCustomDocumentEngine::WritePolyShape(TkxPolyShapeItem& item, bool closed) {
  ShapeBox box;
  for (const auto& part : item.Parts)
    if (part)
      for (const TkxDoublePoint& p : part->Points) box.Add(p);
  TkxBitmap bitmap = box.MakeBitmap(2);
  if (bitmap.Empty()) return;
  {
    TkxBitmapCanvas canvas(bitmap);
    canvas.SetOrigin(-box.Left, -box.Top);
    for (const auto& part : item.Parts) {
      if (!part || part->Points.empty()) continue;
      canvas.Pen = CanvasPenOf(part->Pen);
      canvas.Brush = CanvasBrushOf(part->Brush.get());
      if (closed)
        canvas.Polygon(CanvasPointsOf(part->Points, part->Points.size()));
      else
        canvas.Polyline(CanvasPointsOf(part->Points, part->Points.size()));
    }
  }
  WriteBitmapAt(bitmap, box.Top, box.Left);
}

void TkxCustomDocumentEngine::WritePolyPolygon(TkxPolyPolygonItem& item) {
  ShapeBox box;
  for (const TkxDoublePoint& p : item.Points) box.Add(p);
  TkxBitmap bitmap = box.MakeBitmap(2);
  if (bitmap.Empty()) return;
  {
    TkxBitmapCanvas canvas(bitmap);
    canvas.SetOrigin(-box.Left, -box.Top);
    DrawShapeOnCanvas(canvas, item);
  }
  WriteBitmapAt(bitmap, box.Top, box.Left);
}

void TkxCustomDocumentEngine::WritePageBorder() {
  if (!pageBorder_.AnySide()) return;
  const TkxPageSettings* p = CurrentPageSettings();
  if (!p) return;
  TPen pen;
  pen.SetWidth(pageBorder_.Width);
  pen.SetColor(pageBorder_.Color);
  pen.SetStyle(pageBorder_.Style);
  const double l = p->LeftMargin(), t = p->TopMargin();
  const double r = p->Width() - p->RightMargin(), b = p->Height() - p->BottomMargin();
  auto side = [&](bool draw, double x1, double y1, double x2, double y2) {
    if (!draw) return;
    TkxShapeItem line(shLine);
    line.Pen = pen;
    line.Points = {{x1, y1}, {x2, y2}};
    WriteLine(line);
  };
  side(pageBorder_.DrawLeft, l, t, l, b);
  side(pageBorder_.DrawRight, r, t, r, b);
  side(pageBorder_.DrawTop, l, t, r, t);
  side(pageBorder_.DrawBottom, l, b, r, b);
}

// ---- Texts -----------------------------------------------------------------------------

std::u16string TkxCustomDocumentEngine::ReplacePageVariables(const std::u16string& text) {
  std::u16string out = ReplaceAllNoCase(text, u"<%Pg#%>", Number(currentPage_));
  return ReplaceAllNoCase(out, u"<%PgCnt%>", Number(pageCount_));
}

std::u16string TkxCustomDocumentEngine::CalculateVariablesIn(const std::u16string& text, bool withPageVariables) {
  if (!preferences_->CalculateVariables() || text.empty()) return text;
  std::u16string out = withPageVariables ? ReplacePageVariables(text) : text;
  const TkxDateTime now = Now();
  out = ReplaceAllNoCase(out, u"<%ShortDate%>", ShortDate(now));
  out = ReplaceAllNoCase(out, u"<%ShortTime%>", ShortTime(now));
  out = ReplaceAllNoCase(out, u"<%LongDate%>", LongDate(now));
  out = ReplaceAllNoCase(out, u"<%LongTime%>", LongTime(now));
  out = ReplaceAllNoCase(out, u"<%Author%>", docInfo_.Author());
  out = ReplaceAllNoCase(out, u"<%Creator%>", docInfo_.Creator());
  out = ReplaceAllNoCase(out, u"<%Subject%>", docInfo_.Subject());
  out = ReplaceAllNoCase(out, u"<%Title%>", docInfo_.Title());
  if (!OnCalcVariables) return out;
  size_t pos = 0;
  while (pos < out.size()) {
    const size_t start = out.find(u"<%", pos);
    if (start == std::u16string::npos) break;
    const size_t end = out.find(u"%>", start + 2);
    if (end == std::u16string::npos) break;
    const std::u16string name = out.substr(start + 2, end - start - 2);
    if (name.empty() || name.find(u"<%") != std::u16string::npos) {
      pos = start + 2;
      continue;
    }
    if (EqualsNoCase(name, u"Pg#") || EqualsNoCase(name, u"PgCnt")) {
      pos = end + 2;
      continue;
    }
    std::u16string value;
    OnCalcVariables(this, name, value);
    out = ReplaceAllNoCase(out, u"<%" + name + u"%>", value);
    // Go on after the value, so that a value holding its own variable does
    // not loop.
    pos = start + value.size();
  }
  return out;
}

TkxTextSize TkxCustomDocumentEngine::MeasureText(std::u16string_view text, const TFont& font) const {
  const bool empty = text.empty();
  if (empty) text = u" ";
  if (text.size() >= 2 && text.substr(text.size() - 2) == u"\r\n") text.remove_suffix(2);
  // Measured as the text comes out of the ANSI code page: what it lacks is
  // a question mark.
  std::u16string measured(text);
  for (char16_t& c : measured) {
    uint8_t b;
    if (c >= 0x80 && !WideCharToAnsi(c, b)) c = u'?';
  }
  int height = font.Height();
  const int ppi = TkxScreen::PPI();
  if (font.PixelsPerInch() != ppi) height = MulDiv(height, ppi, font.PixelsPerInch());
  const TkxTextSize ext = TkxFontManager::Instance().TextExtent(font.Name(), font.Style(), height, measured);
  return {empty ? 1 : ext.Width, ext.Height};
}

// ---- Engine states ---------------------------------------------------------------------

int TkxCustomDocumentEngine::SaveEngineState() {
  if (!documentOpen_) return -1;
  auto state = std::make_unique<TkxEngineState>();
  state->Font = font_;
  state->Pen = pen_;
  state->Brush = brush_;
  state->ImageSettings = imageSettings_;
  state->TextFormatting = textFormatting_;
  state->TableSettings = tableSettings_;
  state->PageSettings = page_;
  state->TextEffects = textEffects_;
  engineStates_.push_back(std::move(state));
  return static_cast<int>(engineStates_.size()) - 1;
}

void TkxCustomDocumentEngine::ApplyState(const TkxEngineState& state) {
  font_.Assign(state.Font);
  pen_.Assign(state.Pen);
  brush_.Assign(state.Brush);
  imageSettings_.Assign(state.ImageSettings);
  textFormatting_.Assign(state.TextFormatting);
  tableSettings_.Assign(state.TableSettings);
  page_.Assign(state.PageSettings);
  textEffects_.Assign(state.TextEffects);
}

void TkxCustomDocumentEngine::RestoreEngineState(int index) {
  if (!documentOpen_) return;
  const int count = static_cast<int>(engineStates_.size());
  if (index == -1) index = count - 1;
  if (index < 0 || index >= count) {
    ReportError<EInvalidEngineState>(kMsgInvalidEngineState);
    return;
  }
  ApplyState(*engineStates_[index]);
}

void TkxCustomDocumentEngine::ClearEngineStates() { engineStates_.clear(); }

// ---- Drawing API: items ----------------------------------------------------------------

void TkxCustomDocumentEngine::AppendItem(std::unique_ptr<TkxDocumentItem> item) {
  if (itemList_) itemList_->push_back(std::move(item));
}

void TkxCustomDocumentEngine::AppendText(std::unique_ptr<TkxTextItem> item) {
  if (lineMode_ && lineTextList_)
    lineTextList_->push_back(std::move(item));
  else
    AppendItem(std::move(item));
}

std::unique_ptr<TkxTextItem> TkxCustomDocumentEngine::NewTextItem(double x, double y,
                                                                  const std::u16string& text) const {
  auto item = std::make_unique<TkxTextItem>();
  item->X = x;
  item->Y = y;
  item->Lines = {text};
  item->Angle = textAngle_;
  item->Font = font_;
  item->Brush = brush_;
  item->Effects = textEffects_;
  item->TextFlag = textFlag_;
  return item;
}

void TkxCustomDocumentEngine::InitImageItem(TkxImageItem& item) const {
  item.ImageSettings = imageSettings_;
  item.Brush = brush_;
  if (imageSettings_.FrameImage) {
    item.Frame = frame_;
    item.Pen = pen_;
  }
}

void TkxCustomDocumentEngine::TextOut(double x, double y, const std::u16string& text) {
  if (!CanText()) return;
  const double px = X(x), py = Y(y);
  if (!Inside(py, px)) return;
  AppendText(NewTextItem(px, py, text));
}

void TkxCustomDocumentEngine::ClippedTextOut(const TkxDoubleRect& rect, const std::u16string& text, double x,
                                             double y) {
  if (!CanText()) return;
  const double px = X(x), py = Y(y);
  if (!Inside(py, px)) return;
  auto item = NewTextItem(px, py, text);
  item->SetHasClipRect(true);
  item->SetClipRect({X(rect.Left), Y(rect.Top), X(rect.Right), Y(rect.Bottom)});
  AppendText(std::move(item));
}

void TkxCustomDocumentEngine::FormattedTextOut(double x, double y, const std::u16string& text) {
  if (!CanText()) return;
  const double px = X(x), py = Y(y);
  if (!Inside(py, px)) return;
  struct Tag {
    std::u16string_view Name;
    TkxFontStyle Style;
    bool On;
  };
  static constexpr Tag kTags[] = {{u"<B>", fsBold, true},     {u"<U>", fsUnderline, true},
                                  {u"<I>", fsItalic, true},   {u"<S>", fsStrikeout, true},
                                  {u"</B>", fsBold, false},   {u"</U>", fsUnderline, false},
                                  {u"</I>", fsItalic, false}, {u"</S>", fsStrikeout, false}};
  int switchedOn = 0;  // styles a tag switched on and no tag switched off
  double cx = px;
  std::u16string run;
  auto flush = [&] {
    if (run.empty()) return;
    const int width = MeasureText(run, font_).Width;
    AppendText(NewTextItem(cx, py, run));
    cx += width;
    run.clear();
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'/') {
      if (i + 1 < text.size() && (text[i + 1] == u'/' || text[i + 1] == u'<' || text[i + 1] == u'>')) {
        run.push_back(text[++i]);
      }
      continue;  // a single "/" is dropped
    }
    if (c == u'<') {
      size_t j = i + 1;
      while (j < text.size() && text[j] != u'>' && text[j] != u' ') ++j;
      if (j < text.size() && text[j] == u'>') {
        const std::u16string_view candidate(text.data() + i, j - i + 1);
        const Tag* tag = nullptr;
        for (const Tag& t : kTags)
          if (EqualsNoCase(candidate, t.Name)) tag = &t;
        if (tag) {
          flush();
          if (tag->On) {
            font_.IncludeStyle(tag->Style);
            switchedOn |= tag->Style;
          } else {
            font_.ExcludeStyle(tag->Style);
            switchedOn &= ~static_cast<int>(tag->Style);
          }
          i = j;
          continue;
        }
      }
    }
    run.push_back(c);
  }
  flush();
  for (TkxFontStyle s : {fsBold, fsUnderline, fsItalic, fsStrikeout})
    if (switchedOn & s) font_.ExcludeStyle(s);
}

void TkxCustomDocumentEngine::TextOutByCharacter(const std::u16string& text, bool forward, double x, double y) {
  if (!CanText()) return;
  double px = X(x), py = Y(y);
  if (!Inside(py, px)) return;
  const double a = textAngle_ * M_PI / 180.0;
  const double dirX = std::cos(a), dirY = -std::sin(a);
  for (size_t k = 0; k < text.size(); ++k) {
    const char16_t c = text[forward ? k : text.size() - 1 - k];
    const std::u16string one(1, c);
    const double w = MeasureText(one, font_).Width;
    if (!forward) {
      px -= w * dirX;
      py -= w * dirY;
    }
    AppendText(NewTextItem(px, py, one));
    if (forward) {
      px += w * dirX;
      py += w * dirY;
    }
  }
}

void TkxCustomDocumentEngine::TextBox(const TkxDoubleRect& rect, const std::u16string& text, uint8_t alignment,
                                      uint8_t verticalAlignment) {
  if (!CanText()) return;
  const double l = X(rect.Left), t = Y(rect.Top);
  if (!Inside(t, l)) return;
  auto item = std::make_unique<TkxTextBoxItem>();
  item->X = l;
  item->Y = t;
  item->Width = X(rect.Right) - l;
  item->Height = Y(rect.Bottom) - t;
  item->Lines = SplitLines(text);
  item->Angle = textAngle_;
  item->Font = font_;
  item->Brush = brush_;
  item->Effects = textEffects_;
  item->TextFlag = textFlag_;
  item->Frame = frame_;
  item->Pen = pen_;
  item->TextAlignment = alignment;
  item->VerticalAlignment = verticalAlignment;
  AppendItem(std::move(item));
}

void TkxCustomDocumentEngine::SetTextAngle(int angle) {
  angle %= 360;
  textAngle_ = angle < 0 ? angle + 360 : angle;
}

// ---- Paragraphs --------------------------------------------------------------------------

void TkxCustomDocumentEngine::BeginParagraph() {
  if (!CanText() || paragraph_) return;
  paragraph_ = std::make_unique<TkxParagraphItem>();
  TkxParagraphItem& p = *paragraph_;
  const double left = textFormatting_.LeftIndent() * unitFactor_;
  const double right = textFormatting_.RightIndent() * unitFactor_;
  p.X = referenceRect_.Left + left;
  p.Y = referenceRect_.Top + flowPosition_ + textFormatting_.SpaceBefore() * unitFactor_;
  p.Width = std::max(0.0, referenceRect_.Width() - left - right);
  p.Font = font_;
  p.Brush = brush_;
  p.Formatting = textFormatting_;
  p.Effects = textEffects_;
}

double TkxCustomDocumentEngine::ParagraphText(const std::u16string& text) {
  if (!paragraph_ || !documentOpen_) return 0;
  const double lineHeight =
      std::max(1.0, MeasureText(u"W", paragraph_->Font).Height * paragraph_->Formatting.LineSpacing);
  // Lines broken at line feeds, and at spaces where wider than the paragraph.
  std::vector<std::u16string> lines;
  for (const std::u16string& source : SplitLines(text)) {
    std::u16string line;
    size_t pos = 0;
    while (pos <= source.size()) {
      size_t space = source.find(u' ', pos);
      if (space == std::u16string::npos) space = source.size();
      std::u16string word = source.substr(pos, space - pos);
      std::u16string candidate = line.empty() ? word : line + u" " + word;
      if (!line.empty() && MeasureText(candidate, paragraph_->Font).Width > paragraph_->Width) {
        lines.push_back(std::move(line));
        line = std::move(word);
      } else {
        line = std::move(candidate);
      }
      pos = space + 1;
    }
    lines.push_back(std::move(line));
  }
  for (std::u16string& line : lines) {
    if (AutoPaginate && !paragraph_->Lines.empty() &&
        paragraph_->Y + paragraph_->Height + lineHeight > referenceRect_.Bottom) {
      // Continue on a new page with the same formatting.
      auto rest = std::make_unique<TkxParagraphItem>();
      rest->Font = paragraph_->Font;
      rest->Brush = paragraph_->Brush;
      rest->Formatting = paragraph_->Formatting;
      rest->Effects = paragraph_->Effects;
      rest->Width = paragraph_->Width;
      const double indent = paragraph_->X - referenceRect_.Left;
      EndParagraph();
      NewPage();
      if (!documentOpen_) return 0;
      rest->X = referenceRect_.Left + indent;
      rest->Y = referenceRect_.Top + flowPosition_;
      paragraph_ = std::move(rest);
    }
    paragraph_->Lines.push_back(std::move(line));
    paragraph_->Height += lineHeight;
  }
  return (referenceRect_.Bottom - (paragraph_->Y + paragraph_->Height)) / unitFactor_;
}

void TkxCustomDocumentEngine::EndParagraph() {
  if (!paragraph_) return;
  std::unique_ptr<TkxParagraphItem> p = std::move(paragraph_);
  if (p->Lines.empty() || !documentOpen_) return;
  flowPosition_ = p->Y + p->Height - referenceRect_.Top;
  AppendItem(std::move(p));
}

// ---- Tables --------------------------------------------------------------------------------

TkxColumnList* TkxCustomDocumentEngine::BeginTable(int columns, double x, double y) {
  if (!CanText() || openTable_ || columns < 1 || columns > 1024) return nullptr;
  const double px = X(x), py = Y(y);
  if (!Inside(py, px)) return nullptr;
  auto table = std::make_unique<TkxTableItem>(this, columns, px, py);
  table->Font = font_;
  table->Brush = brush_;
  table->Pen = pen_;
  table->Settings = tableSettings_;
  table->Effects = textEffects_;
  table->CurrentRowTop = py;
  double width = tableSettings_.DefaultColumnWidth() * unitFactor_;
  if (width <= 0) width = std::max(1.0, (referenceRect_.Right - px) / columns);
  for (auto& column : table->Columns) column->Width = width;
  openTable_ = table.get();
  AppendItem(std::move(table));
  return &openTable_->Columns;
}

void TkxCustomDocumentEngine::NewTableRow(double height) {
  if (!openTable_ || !documentOpen_) return;
  TkxTableItem& t = *openTable_;
  const double h = std::max(0.0, ToPixelsY(height));
  t.CurrentRowTop = t.Y + t.TotalHeight;
  t.TotalHeight += h;
  t.RowHeights.push_back(h);
  t.Rows.emplace_back();
  ++t.CurrentRow;
}

void TkxCustomDocumentEngine::NewTableRow() {
  if (!openTable_ || !documentOpen_) return;
  const TkxDoubleRect& pad = tableSettings_.StoredCellPadding();
  double h = tableSettings_.DefaultRowHeight() * unitFactor_;
  if (h <= 0) h = MeasureText(u"W", openTable_->Font).Height + pad.Top + pad.Bottom;
  NewTableRow(unitFactor_ != 1.0 ? h / unitFactor_ : h * inputYRes_ / TkxScreen::PPI());
}

void TkxCustomDocumentEngine::TableCellText(int column, const std::u16string& text) {
  if (!CanText() || !openTable_) return;
  TkxTableItem& t = *openTable_;
  if (t.CurrentRow < 0 || column < 0 || column >= t.ColumnCount()) return;
  TPen pen = t.Pen;
  TBrush brush = t.Brush;
  TFont font = font_;
  TkxFrame frame = frame_;
  TkxHAlignment align = textFormatting_.Alignment;
  if (OnCellDraw) OnCellDraw(this, t.CurrentRow, column, pen, brush, font, frame, align);
  double left = t.X;
  for (int c = 0; c < column; ++c) left += t.Columns[c]->Width;
  const TkxDoubleRect& pad = tableSettings_.StoredCellPadding();
  auto item = NewTextItem(left + pad.Left, t.CurrentRowTop + pad.Top, text);
  item->Font = font;
  item->Brush = brush;
  t.Rows[t.CurrentRow].push_back(std::move(item));
}

void TkxCustomDocumentEngine::TableCellImage(int column, const TGraphic& graphic, double x, double y) {
  if (!CanImages() || !openTable_) return;
  TkxTableItem& t = *openTable_;
  if (t.CurrentRow < 0 || column < 0 || column >= t.ColumnCount()) return;
  const int index = AddImage(graphic);
  if (index < 0) return;
  double left = t.X;
  for (int c = 0; c < column; ++c) left += t.Columns[c]->Width;
  const double px = left + ToPixelsX(x), py = t.CurrentRowTop + ToPixelsY(y);
  const double w = graphic.Width() * TkxScreen::PPI() / 96.0, h = graphic.Height() * TkxScreen::PPI() / 96.0;
  auto item = std::make_unique<TkxImageItem>(TkxDoublePoint{px, py}, TkxDoublePoint{px + w, py + h});
  InitImageItem(*item);
  item->ImageIndex = index;
  t.Rows[t.CurrentRow].push_back(std::move(item));
}

void TkxCustomDocumentEngine::EndTable() {
  if (!openTable_) return;
  if (documentOpen_) flowPosition_ = openTable_->Y + openTable_->TotalHeight - referenceRect_.Top;
  openTable_ = nullptr;
}

// ---- Pictures ------------------------------------------------------------------------------

int TkxCustomDocumentEngine::AddImage(const TGraphic& graphic) {
  if (!documentOpen_) return -1;
  const TkxGraphicKind kind = graphic.Kind();
  if (kind != gkBitmap && kind != gkJPEG && kind != gkMetafile) {
    ReportError<EUnsupportedGraphics>(kMsgUnknownGraphicsFormat);
    return -1;
  }
  TkxImageTableEntry entry;
  entry.Picture = std::make_unique<TGraphic>(graphic);
  imageTable_.push_back(std::move(entry));
  return static_cast<int>(imageTable_.size()) - 1;
}

int TkxCustomDocumentEngine::AddImageEx(const TGraphic& graphic, bool asResource) {
  preferences_->SetUseImagesAsResources(asResource);
  return AddImage(graphic);
}

void TkxCustomDocumentEngine::StretchDrawImage(const TkxDoubleRect& rect, const TGraphic& graphic) {
  if (!CanImages()) return;
  const TkxDoublePoint a{X(rect.Left), Y(rect.Top)}, b{X(rect.Right), Y(rect.Bottom)};
  if (!Inside(std::min(a.Y, b.Y), std::min(a.X, b.X))) return;
  const int index = AddImage(graphic);
  if (index < 0) return;
  auto item = std::make_unique<TkxImageItem>(a, b);
  InitImageItem(*item);
  item->ImageIndex = index;
  AppendItem(std::move(item));
}

void TkxCustomDocumentEngine::DrawImage(double x, double y, const TGraphic& graphic) {
  if (!CanImages()) return;
  const double px = X(x), py = Y(y);
  if (!Inside(py, px)) return;
  const int index = AddImage(graphic);
  if (index < 0) return;
  const double w = graphic.Width() * TkxScreen::PPI() / 96.0, h = graphic.Height() * TkxScreen::PPI() / 96.0;
  auto item = std::make_unique<TkxImageItem>(TkxDoublePoint{px, py}, TkxDoublePoint{px + w, py + h});
  InitImageItem(*item);
  item->ImageIndex = index;
  AppendItem(std::move(item));
}

void TkxCustomDocumentEngine::DrawImageByIndex(const TkxDoubleRect& rect, int imageIndex) {
  if (!CanImages() || imageIndex < 0 || imageIndex >= static_cast<int>(imageTable_.size())) return;
  const TkxDoublePoint a{X(rect.Left), Y(rect.Top)}, b{X(rect.Right), Y(rect.Bottom)};
  if (!Inside(std::min(a.Y, b.Y), std::min(a.X, b.X))) return;
  auto item = std::make_unique<TkxImageItem>(a, b);
  InitImageItem(*item);
  item->ImageIndex = imageIndex;
  AppendItem(std::move(item));
}

void TkxCustomDocumentEngine::DrawImageStream(const TkxDoubleRect& rect, int width, const std::vector<uint8_t>& stream,
                                              int height) {
  if (!CanImages()) return;
  const TkxDoublePoint a{X(rect.Left), Y(rect.Top)}, b{X(rect.Right), Y(rect.Bottom)};
  if (!Inside(std::min(a.Y, b.Y), std::min(a.X, b.X))) return;
  auto item = std::make_unique<TkxImageStream>(a, b);
  InitImageItem(*item);
  item->Stream = stream;
  item->PixelWidth = width;
  item->PixelHeight = height;
  TkxImageTableEntry entry;
  entry.Stream = &item->Stream;
  imageTable_.push_back(std::move(entry));
  item->ImageIndex = static_cast<int>(imageTable_.size()) - 1;
  AppendItem(std::move(item));
}

void TkxCustomDocumentEngine::DrawGraphicAsStream(const TkxDoubleRect& rect, const TGraphic& graphic) {
  DrawImageStream(rect, graphic.Width(), graphic.SaveToStream(), graphic.Height());
}

void TkxCustomDocumentEngine::DrawOnCanvas(const TkxDoubleRect& rect, const TGraphic& graphic) {
  if (!documentOpen_ || !canvas_) return;
  const double l = X(rect.Left), t = Y(rect.Top);
  DrawGraphicOn(*canvas_, graphic, l, t, X(rect.Right) - l, Y(rect.Bottom) - t);
}

void TkxCustomDocumentEngine::PlayMetafile(const TkxMetafile& metafile) {
  if (documentOpen_) ProcessPageRecording(metafile, 0, 0);
}

void TkxCustomDocumentEngine::PlayMetafileAt(const TkxMetafile& metafile, double x, double y) {
  if (documentOpen_) ProcessPageRecording(metafile, ToPixelsY(y), ToPixelsX(x));
}

// ---- Shapes -------------------------------------------------------------------------------

void TkxCustomDocumentEngine::AddShape(uint8_t type, const TkxPoints& points, bool filled) {
  if (!CanShapes() || points.empty()) return;
  if (!Inside(points.front().Y, points.front().X)) return;
  auto item = std::make_unique<TkxShapeItem>(type);
  item->Pen = pen_;
  if (filled) item->SetBrush(brush_);
  item->Points = points;
  AppendItem(std::move(item));
}

void TkxCustomDocumentEngine::Line(double x1, double y1, double x2, double y2) {
  AddShape(shLine, {{X(x1), Y(y1)}, {X(x2), Y(y2)}}, false);
}

void TkxCustomDocumentEngine::Rectangle(double x1, double y1, double x2, double y2, bool filled) {
  AddShape(shRectangle, {{X(x1), Y(y1)}, {X(x2), Y(y2)}}, filled);
}

void TkxCustomDocumentEngine::RoundRect(double x1, double y1, double x2, double y2, double cornerWidth,
                                        double cornerHeight, bool filled) {
  AddShape(shRoundRect, {{X(x1), Y(y1)}, {X(x2), Y(y2)}, {ToPixelsX(cornerWidth), ToPixelsY(cornerHeight)}}, filled);
}

void TkxCustomDocumentEngine::Ellipse(double x1, double y1, double x2, double y2, bool filled) {
  AddShape(shEllipse, {{X(x1), Y(y1)}, {X(x2), Y(y2)}}, filled);
}

void TkxCustomDocumentEngine::Polygon(const TkxPoints& points, bool filled) {
  TkxPoints px;
  for (const TkxDoublePoint& p : points) px.push_back({X(p.X), Y(p.Y)});
  AddShape(shPolygon, px, filled);
}

void TkxCustomDocumentEngine::Polyline(const TkxPoints& points) {
  TkxPoints px;
  for (const TkxDoublePoint& p : points) px.push_back({X(p.X), Y(p.Y)});
  AddShape(shPolyline, px, false);
}

void TkxCustomDocumentEngine::PolyBezier(const TkxPoints& points) {
  TkxPoints px;
  for (const TkxDoublePoint& p : points) px.push_back({X(p.X), Y(p.Y)});
  AddShape(shPolyBezier, px, false);
}

void TkxCustomDocumentEngine::Arc(double x1, double y1, double x2, double y2, double x3, double y3, double x4,
                                  double y4) {
  AddShape(shArc, {{X(x1), Y(y1)}, {X(x2), Y(y2)}, {X(x3), Y(y3)}, {X(x4), Y(y4)}}, false);
}

void TkxCustomDocumentEngine::Pie(double x1, double y1, double x2, double y2, double x3, double y3, double x4,
                                  double y4, bool filled) {
  AddShape(shPie, {{X(x1), Y(y1)}, {X(x2), Y(y2)}, {X(x3), Y(y3)}, {X(x4), Y(y4)}}, filled);
}

void TkxCustomDocumentEngine::Chord(double x1, double y1, double x2, double y2, double x3, double y3, double x4,
                                    double y4, bool filled) {
  AddShape(shChord, {{X(x1), Y(y1)}, {X(x2), Y(y2)}, {X(x3), Y(y3)}, {X(x4), Y(y4)}}, filled);
}

// ---- Bands ---------------------------------------------------------------------------------

void TkxCustomDocumentEngine::BeginBand(int band) {
  if (!documentOpen_ || !bands_[band]) return;
  if (currentBand_ == bnBody) {
    if (TkxPageItem* page = PageItem(currentPage_)) page->FlowPosition = flowPosition_;
  } else if (TkxBandItem* open = Band(currentBand_)) {
    open->FlowPosition = flowPosition_;
  }
  currentBand_ = band;
  MakeCurrent(*bands_[band]);
  RecomputeReferenceRect();
}

void TkxCustomDocumentEngine::EndBand(int band) {
  if (!documentOpen_ || currentBand_ != band) return;
  bands_[band]->FlowPosition = flowPosition_;
  currentBand_ = bnBody;
  if (TkxPageItem* page = PageItem(currentPage_)) {
    MakeCurrent(*page);
  } else {
    itemList_ = nullptr;
    lineTextList_ = nullptr;
  }
  RecomputeReferenceRect();
}

void TkxCustomDocumentEngine::ClearBand(int band) {
  if (!documentOpen_ || !bands_[band]) return;
  TkxBandItem& b = *bands_[band];
  for (const TkxDocumentItemPtr& item : b.ItemList)
    if (item.get() == openTable_) openTable_ = nullptr;
  b.ItemList.clear();
  b.LineTextList.clear();
  b.FlowPosition = 0;
  if (currentBand_ == band) flowPosition_ = 0;
}

void TkxCustomDocumentEngine::BeginHeader() { BeginBand(bnHeader); }
void TkxCustomDocumentEngine::EndHeader() { EndBand(bnHeader); }
void TkxCustomDocumentEngine::ClearHeader() { ClearBand(bnHeader); }
void TkxCustomDocumentEngine::BeginFooter() { BeginBand(bnFooter); }
void TkxCustomDocumentEngine::EndFooter() { EndBand(bnFooter); }
void TkxCustomDocumentEngine::ClearFooter() { ClearBand(bnFooter); }
void TkxCustomDocumentEngine::BeginUnderlay() { BeginBand(bnUnderlay); }
void TkxCustomDocumentEngine::EndUnderlay() { EndBand(bnUnderlay); }
void TkxCustomDocumentEngine::ClearUnderlay() { ClearBand(bnUnderlay); }
void TkxCustomDocumentEngine::BeginOverlay() { BeginBand(bnOverlay); }
void TkxCustomDocumentEngine::EndOverlay() { EndBand(bnOverlay); }
void TkxCustomDocumentEngine::ClearOverlay() { ClearBand(bnOverlay); }

}  // namespace pw
