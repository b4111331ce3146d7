// The conversion driver: loads a PDF into the document, drives the engine page
// by page, and saves the result to the user's target. It knows nothing of
// Qt or the terminal; the wizard and the CLI implement TpwDriverView.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "engine/kxImageSettings.h"
#include "engine/kxItemsToRender.h"
#include "engine/kxPageSettings.h"

namespace pw {

// What the driver needs of the PDF document.
class IpwDocument {
 public:
  // Called before the first authentication attempt and after every failed
  // one for as long as it sets `cont`.
  using PasswordHandler = std::function<void(std::string& password, bool& cont, int tries)>;
  using StatusHandler = std::function<void(const std::string& message)>;

  virtual ~IpwDocument() = default;
  virtual void SetPasswordHandler(PasswordHandler handler) = 0;
  virtual void SetStatusHandler(StatusHandler handler) = 0;
  // True when loaded; raises for a missing or unreadable file.
  virtual bool LoadFromFile(const std::string& fileName) = 0;
  virtual int PageCount() = 0;
  virtual int GetPageRotation(int page) = 0;
  // /MediaBox as llx, lly, urx, ury.
  virtual std::array<double, 4> GetPageMediaBox(int page) = 0;
  virtual void DeletePages(const std::string& range) = 0;
};

// What the driver needs of the document engine.
class IpwEngine {
 public:
  virtual ~IpwEngine() = default;
  virtual void SetInputRes(int x, int y) = 0;
  virtual void SetItemsToRender(TkxItemsToRender items) = 0;
  virtual void SetPaperSize(TkxPaperSize paper) = 0;
  virtual void SetLandscape(bool landscape) = 0;
  // The PDF page about to be drawn is width x height points as drawn. With
  // paperFromPage its RTF page takes that size; otherwise a page larger
  // than the paper is drawn smaller to fit it. Takes effect for the page
  // that the next BeginDoc or NewPage starts.
  virtual void SetDrawnPageSize(double width, double height, bool paperFromPage) {
    (void)width, (void)height, (void)paperFromPage;
  }
  virtual void SetOutputImageFormat(TkxOutputImageFormat format) = 0;
  virtual void SetJPEGQuality(int quality) = 0;
  virtual void SetFileName(const std::string& fileName) = 0;
  virtual void BeginDoc() = 0;
  virtual void NewPage() = 0;
  virtual void SetActivePage(int page) = 0;
  virtual int PageCount() = 0;
  // Draws `page` of the document onto the current page canvas.
  virtual void RenderPage(IpwDocument& document, int page) = 0;
  virtual void EndDoc() = 0;
};

enum class TpwMessageKind { Error, Warning, Information };

enum class TpwDriverScreen { Files, Options, Loading, Converting, Paused, Done };

// The screens and dialogs, as the driver sees them.
class TpwDriverView {
 public:
  virtual ~TpwDriverView() = default;
  // Lets queued user actions (Pause, Continue, Back) run; they call back into the driver.
  virtual void ProcessPendingEvents() {}
  virtual void ShowMessage(TpwMessageKind kind, const std::string& text, const std::string& title) = 0;
  // Yes/No question; true for Yes.
  virtual bool Confirm(const std::string& text, const std::string& title) = 0;
  virtual void ScreenChanged(TpwDriverScreen screen) { (void)screen; }
  virtual void SetCaption(const std::string& caption) { (void)caption; }
  virtual void SetPagesLabel(const std::string& label) { (void)label; }
  virtual void SetProgress(int value, int maximum) {
    (void)value;
    (void)maximum;
  }
  // Modal password prompt; true for OK with `password` filled.
  virtual bool AskPassword(const std::string& label, std::string& password) = 0;
  // Modal save-retry prompt: `name` holds the current name and receives the
  // field's text whichever button closed it; true for OK.
  virtual bool AskSaveName(const std::string& label, std::string& name) = 0;
  // The target name after the ".rtf" rule was applied.
  virtual void TargetNameChanged(const std::string& name) { (void)name; }
  virtual void ShowDone(bool saved, const std::string& caption, const std::string& text) = 0;
  // Back to the start screen with both names cleared.
  virtual void ResetWizard() {}
};

// The job as the wizard (or the command line) collects it.
struct TpwJobSettings {
  std::string SourceFile;
  std::string TargetFile;
  std::string PaperSize = "A4";      // "A3", "A4", "Letter", "A5", "B4", "B5", "ISO-B4", or "PDF": each
                                     // page the size of its PDF page
  bool ExtendedConversion = false;   // text, pictures and shapes instead of text only
  std::string ImageFormat = "JPEG";  // "JPEG", "BMP", "PNG", "Metafile" ("GIF" recognised)
  int ImagesQuality = 100;           // 1..100
};

// Exact, case-sensitive mapping of the job's strings; false for no match
// (the engine setting then stays as it was).
bool PaperSizeFromText(const std::string& text, TkxPaperSize& paper);
bool ImageFormatFromText(const std::string& text, TkxOutputImageFormat& format);
// Orientation rule: 90, 270 and -90 are landscape.
bool IsLandscapeRotation(int rotation);
// A page is shown landscape when it is wider than high once turned: a turned
// page of a portrait box, or an unturned page of a landscape box (slides).
bool IsLandscapePage(int rotation, const std::array<double, 4>& mediaBox);
// The ".rtf" rule: report.RTF -> report.RTF.rtf, report -> report.rtf.
std::string TargetWithRtfExtension(const std::string& name);
// Resolution the engine works in for a screen of `ppiX` x `ppiY`.
void InputResolutionFor(int ppiX, int ppiY, int& inputX, int& inputY);

// Private folder for the engine's temporary file, unique per process, removed
// with the object.
class TpwTempArea {
 public:
  TpwTempArea();
  ~TpwTempArea();
  TpwTempArea(const TpwTempArea&) = delete;
  TpwTempArea& operator=(const TpwTempArea&) = delete;
  const std::string& Folder() const { return folder_; }
  std::string TempFile() const { return folder_ + "/Paperwright.tmp"; }
  void DeleteTempFile() const;

 private:
  std::string folder_;
};

// Copies `source` to `target` through a temporary name in the target's
// folder and a rename, so the target is written whole or not at all.
bool CopyFileAtomically(const std::string& source, const std::string& target, std::string* error = nullptr);
// Moves `source` to `target`: renamed where both lie on one file system
// (the bytes are not written again), else copied as above. The target is
// written whole or not at all; `source` stays where it could not be.
bool MoveFileAtomically(const std::string& source, const std::string& target, std::string* error = nullptr);

// Gives freed heap memory back to the system (after load, pages and status messages).
void TrimWorkingSet();

class TpwConversionDriver {
 public:
  TpwConversionDriver(IpwDocument& document, IpwEngine& engine, TpwDriverView& view);
  ~TpwConversionDriver();

  // Screen resolution in dots per inch (the platform's LOGPIXELSX/Y).
  void SetScreenResolution(int ppiX, int ppiY) {
    ppiX_ = ppiX;
    ppiY_ = ppiY;
  }
  TpwJobSettings& Job() { return job_; }

  // The buttons.
  void Next();  // Start on the options screen, page steps while converting
  void Pause();
  void Continue();
  void Back();
  // "Convert another file": the next Next starts afresh, whatever screen
  // the last conversion ended on.
  void NewConversion();
  bool CanClose() const { return !converting_; }
  void Close();  // the window closes: the temporary file goes

  // Observable state.
  bool Converting() const { return converting_; }
  bool Paused() const { return paused_; }
  bool DocumentLoaded() const { return documentLoaded_; }
  bool Saved() const { return saved_; }
  int PagesConverted() const { return pagesConverted_; }
  int PasswordTries() const { return passwordTries_; }
  int SaveAttempts() const { return saveAttempts_; }
  TpwDriverScreen Screen() const { return screen_; }
  std::string TempFile() const { return temp_.TempFile(); }

 private:
  void Start();
  void RunPageSteps();
  bool PageStep();  // false when the handler returns
  void Finish();
  void OnPassword(std::string& password, bool& cont);
  void OnStatus();
  void SetScreen(TpwDriverScreen s);
  void FailLoad();
  std::string PagesLabel(int k) const;
  void ApplyOrientation();

  IpwDocument& document_;
  IpwEngine& engine_;
  TpwDriverView& view_;
  TpwJobSettings job_;
  TpwTempArea temp_;
  int ppiX_ = 96, ppiY_ = 96;

  bool converting_ = false;
  bool paused_ = false;
  int pagesConverted_ = 0;
  int pageTotal_ = 0;  // pages of the document when the conversion began
  bool documentLoaded_ = false;
  int passwordTries_ = 0;
  int saveAttempts_ = 0;
  bool saveRetryAllowed_ = true;
  bool saved_ = false;
  bool inSteps_ = false;
  TpwDriverScreen screen_ = TpwDriverScreen::Options;
};

}  // namespace pw
