#include "app/pwConversionDriver.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace pw {

namespace {
const char* const kReadError = "Impossible to read selected PDF file.";
const char* const kReadErrorTitle = "Error...";
}  // namespace

bool PaperSizeFromText(const std::string& text, TkxPaperSize& paper) {
  using P = TkxPaperSize;
  static const struct {
    const char* text;
    TkxPaperSize paper;
  } kTable[] = {{"A3", P::A3}, {"A4", P::A4},        {"A5", P::A5},        {"B4", P::B4},
                {"B5", P::B5}, {"ISO-B4", P::ISOB4}, {"Letter", P::Letter}};
  for (const auto& row : kTable) {
    if (text == row.text) {
      paper = row.paper;
      return true;
    }
  }
  return false;
}

bool ImageFormatFromText(const std::string& text, TkxOutputImageFormat& format) {
  static const struct {
    const char* text;
    TkxOutputImageFormat format;
  } kTable[] = {{"JPEG", ifJPEG}, {"BMP", ifBMP}, {"GIF", ifGIF}, {"PNG", ifPNG}, {"Metafile", ifMetafile}};
  for (const auto& row : kTable) {
    if (text == row.text) {
      format = row.format;
      return true;
    }
  }
  return false;
}

bool IsLandscapeRotation(int rotation) { return rotation == 90 || rotation == 270 || rotation == -90; }

bool IsLandscapePage(int rotation, const std::array<double, 4>& mediaBox) {
  const bool wide = std::abs(mediaBox[2] - mediaBox[0]) > std::abs(mediaBox[3] - mediaBox[1]);
  return IsLandscapeRotation(rotation) != wide;
}

std::string TargetWithRtfExtension(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && name.compare(dot, std::string::npos, ".rtf") == 0) return name;
  return name + ".rtf";
}

void InputResolutionFor(int ppiX, int ppiY, int& inputX, int& inputY) {
  inputX = ppiX;
  inputY = ppiY == 120 ? 101 : ppiY;
}

// Gives freed heap memory back to the system after a page, as the working
// set should not grow with the page count. Trimming walks and advises every
// free page of the heap, which costs more than converting a simple page, so
// it is done only when there is a worthwhile amount to give back. Even
// counting the free memory walks every free block, so it is counted only
// once the heap has grown by that amount since the last count: a heap that
// has not grown has reused what its pages freed. (Under jemalloc the heap's
// end does not move, and jemalloc gives unused pages back by itself.)
void TrimWorkingSet() {
  constexpr uintptr_t kWorthTrimming = 8u << 20;
  static std::atomic<uintptr_t> countedAt{0};  // the heap's end at the last count
  const auto end = reinterpret_cast<uintptr_t>(sbrk(0));
  const uintptr_t last = countedAt.load(std::memory_order_relaxed);
  if (end >= last && end - last < kWorthTrimming) return;
  // (A heap that shrank is only measured from anew.)
  if (end > last && mallinfo2().fordblks >= kWorthTrimming) malloc_trim(0);
  countedAt.store(reinterpret_cast<uintptr_t>(sbrk(0)), std::memory_order_relaxed);
}

// ---- temporary area ----

TpwTempArea::TpwTempArea() {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = (tmp && *tmp) ? tmp : "/tmp";
  std::vector<char> templ(base.begin(), base.end());
  const char suffix[] = "/paperwright-XXXXXX";
  templ.insert(templ.end(), suffix, suffix + sizeof(suffix));
  if (mkdtemp(templ.data()) == nullptr)
    throw std::runtime_error("Cannot create a temporary folder in " + base + ": " + std::strerror(errno));
  folder_ = templ.data();
}

TpwTempArea::~TpwTempArea() {
  DeleteTempFile();
  rmdir(folder_.c_str());
}

void TpwTempArea::DeleteTempFile() const { unlink(TempFile().c_str()); }

bool CopyFileAtomically(const std::string& source, const std::string& target, std::string* error) {
  auto fail = [&](const std::string& what) {
    if (error) *error = what + ": " + std::strerror(errno);
    return false;
  };
  int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return fail("Cannot read " + source);
  std::vector<char> tmpName(target.begin(), target.end());
  const char suffix[] = ".pwtmp-XXXXXX";
  tmpName.insert(tmpName.end(), suffix, suffix + sizeof(suffix));
  int out = mkstemp(tmpName.data());
  if (out < 0) {
    int e = errno;
    close(in);
    errno = e;
    return fail("Cannot write " + target);
  }
  mode_t mask = umask(0);
  umask(mask);
  fchmod(out, 0666 & ~mask);
  bool ok = true;
  // The kernel copies without the bytes passing through here; where it
  // cannot (another file system, an old kernel) before the first byte, the
  // copy goes through a buffer.
  bool copied = false;
  for (;;) {
    const ssize_t n = copy_file_range(in, nullptr, out, nullptr, size_t(1) << 30, 0);
    if (n > 0) {
      copied = true;
      continue;
    }
    if (n == 0) {
      copied = true;
      break;
    }
    if (errno == EINTR) continue;
    if (copied || (errno != ENOSYS && errno != EXDEV && errno != EINVAL && errno != EOPNOTSUPP && errno != EPERM))
      ok = false;
    break;
  }
  std::vector<char> buf(copied || !ok ? 0 : 1 << 16);
  while (ok && !copied) {
    ssize_t n = read(in, buf.data(), buf.size());
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    for (ssize_t off = 0; off < n;) {
      ssize_t w = write(out, buf.data() + off, static_cast<size_t>(n - off));
      if (w < 0) {
        if (errno == EINTR) continue;
        ok = false;
        break;
      }
      off += w;
    }
    if (!ok) break;
  }
  int e = errno;
  close(in);
  if (ok && fsync(out) != 0) ok = false;
  if (close(out) != 0) ok = false;
  if (ok && rename(tmpName.data(), target.c_str()) != 0) ok = false;
  if (!ok) {
    e = errno;
    unlink(tmpName.data());
    errno = e;
    return fail("Cannot write " + target);
  }
  return true;
}

bool MoveFileAtomically(const std::string& source, const std::string& target, std::string* error) {
  const int fd = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    mode_t mask = umask(0);
    umask(mask);
    const bool ready = fchmod(fd, 0666 & ~mask) == 0 && fsync(fd) == 0;
    close(fd);
    if (ready && rename(source.c_str(), target.c_str()) == 0) return true;
  }
  return CopyFileAtomically(source, target, error);
}

// ---- driver ----

TpwConversionDriver::TpwConversionDriver(IpwDocument& document, IpwEngine& engine, TpwDriverView& view)
    : document_(document), engine_(engine), view_(view) {
  document_.SetPasswordHandler([this](std::string& password, bool& cont, int) { OnPassword(password, cont); });
  document_.SetStatusHandler([this](const std::string&) { OnStatus(); });
}

TpwConversionDriver::~TpwConversionDriver() {
  document_.SetPasswordHandler(nullptr);
  document_.SetStatusHandler(nullptr);
}

void TpwConversionDriver::SetScreen(TpwDriverScreen s) {
  screen_ = s;
  view_.ScreenChanged(s);
}

std::string TpwConversionDriver::PagesLabel(int k) const {
  return std::to_string(k) + " out of " + std::to_string(pageTotal_) + " pages converted.";
}

void TpwConversionDriver::ApplyOrientation() {
  const std::array<double, 4> box = document_.GetPageMediaBox(1);
  engine_.SetLandscape(IsLandscapePage(document_.GetPageRotation(1), box));
  // The page is drawn unrotated, as large as its media box.
  engine_.SetDrawnPageSize(box[2] - box[0], box[3] - box[1], job_.PaperSize == "PDF");
}

void TpwConversionDriver::Next() {
  if (inSteps_) return;
  switch (screen_) {
    case TpwDriverScreen::Options:
    case TpwDriverScreen::Files: Start(); break;
    case TpwDriverScreen::Converting:
    case TpwDriverScreen::Paused: RunPageSteps(); break;
    default: break;
  }
}

void TpwConversionDriver::FailLoad() {
  converting_ = false;
  view_.ShowMessage(TpwMessageKind::Error, kReadError, kReadErrorTitle);
  view_.SetProgress(0, 0);
  SetScreen(TpwDriverScreen::Files);
  view_.ResetWizard();
}

void TpwConversionDriver::Start() {
  SetScreen(TpwDriverScreen::Loading);
  view_.SetCaption("Please wait while parsing PDF file...");
  view_.SetPagesLabel("");
  view_.SetProgress(0, 0);
  view_.ProcessPendingEvents();

  passwordTries_ = 0;
  paused_ = false;
  converting_ = true;
  saved_ = false;

  int inX = 0, inY = 0;
  InputResolutionFor(ppiX_, ppiY_, inX, inY);
  engine_.SetInputRes(inX, inY);
  using K = TkxItemsToRenderKind;
  engine_.SetItemsToRender(job_.ExtendedConversion ? TkxItemsToRender{K::irText, K::irImage, K::irShape}
                                                   : TkxItemsToRender{K::irText});
  TkxPaperSize paper = TkxPaperSize::A4;
  if (PaperSizeFromText(job_.PaperSize, paper)) engine_.SetPaperSize(paper);
  TkxOutputImageFormat format = ifJPEG;
  if (ImageFormatFromText(job_.ImageFormat, format)) engine_.SetOutputImageFormat(format);
  engine_.SetJPEGQuality(job_.ImagesQuality);

  try {
    documentLoaded_ = document_.LoadFromFile(job_.SourceFile);
    TrimWorkingSet();
  } catch (...) {
    documentLoaded_ = false;
    FailLoad();
    return;
  }
  if (!documentLoaded_) {
    FailLoad();
    return;
  }
  TrimWorkingSet();

  SetScreen(TpwDriverScreen::Converting);
  view_.SetCaption("Please wait while converting is in progress:");
  pagesConverted_ = 0;
  pageTotal_ = document_.PageCount();
  view_.SetPagesLabel(PagesLabel(0));
  view_.SetProgress(0, pageTotal_);

  temp_.DeleteTempFile();
  engine_.SetFileName(temp_.TempFile());
  ApplyOrientation();
  engine_.BeginDoc();
  RunPageSteps();
}

void TpwConversionDriver::RunPageSteps() {
  inSteps_ = true;
  try {
    while (PageStep()) {
    }
  } catch (...) {
    inSteps_ = false;
    throw;
  }
  inSteps_ = false;
}

bool TpwConversionDriver::PageStep() {
  if (pagesConverted_ == 0) pageTotal_ = document_.PageCount();
  // A document without pages still yields a (one-section) document.
  if (document_.PageCount() > 0) {
    ApplyOrientation();
    if (pagesConverted_ > 0) engine_.NewPage();
    engine_.SetActivePage(engine_.PageCount());
    try {
      engine_.RenderPage(document_, 1);
    } catch (...) {
      // A page that fails to draw keeps what was drawn before the failure.
    }
    document_.DeletePages("1");
    TrimWorkingSet();
    ++pagesConverted_;
    view_.SetPagesLabel(PagesLabel(pagesConverted_));
    view_.SetProgress(pagesConverted_, pageTotal_);
  }
  view_.ProcessPendingEvents();

  if (converting_ && document_.PageCount() > 0) return true;
  if (converting_) {
    Finish();
    return false;
  }
  if (!paused_) engine_.EndDoc();
  return false;
}

void TpwConversionDriver::Finish() {
  engine_.EndDoc();
  converting_ = false;

  std::string name = TargetWithRtfExtension(job_.TargetFile);
  if (name != job_.TargetFile) {
    job_.TargetFile = name;
    view_.TargetNameChanged(name);
  }
  saveAttempts_ = 0;
  saveRetryAllowed_ = true;
  saved_ = false;
  for (;;) {
    if (MoveFileAtomically(temp_.TempFile(), name)) {
      saved_ = true;
      break;
    }
    if (!saveRetryAllowed_ || saveAttempts_ > 3) break;
    saveRetryAllowed_ = false;
    ++saveAttempts_;
    std::string field = name;
    bool ok = view_.AskSaveName("Attempt " + std::to_string(saveAttempts_) + " out of 3.", field);
    if (ok && field.find_first_not_of(" \t") != std::string::npos) saveRetryAllowed_ = true;
    name = field;
    if (saveAttempts_ >= 3) saveRetryAllowed_ = false;
  }
  job_.TargetFile = name;

  SetScreen(TpwDriverScreen::Done);
  if (saved_)
    view_.ShowDone(true, "CONGRATULATIONS!", "The PDF file was successfully converted and saved.");
  else
    view_.ShowDone(false, "ERROR!", "Impossible to write selected RTF file.  It may be in use.");
}

void TpwConversionDriver::Pause() {
  if (!converting_) return;
  paused_ = true;
  converting_ = false;
  SetScreen(TpwDriverScreen::Paused);
  view_.ProcessPendingEvents();
}

void TpwConversionDriver::Continue() {
  if (!paused_) return;
  paused_ = false;
  converting_ = true;
  SetScreen(TpwDriverScreen::Converting);
  view_.ProcessPendingEvents();
  // Resumed from inside a running step: that step goes on by itself.
  if (!inSteps_) RunPageSteps();
}

void TpwConversionDriver::Back() {
  if (screen_ != TpwDriverScreen::Converting && screen_ != TpwDriverScreen::Paused) return;
  if (!view_.Confirm("Are you sure to stop converting and return to the previous screen?", "Confirmation...")) return;
  converting_ = false;
  // While paused no step will end the document; a running step that sees
  // both flags false ends it itself.
  if (paused_) engine_.EndDoc();
  SetScreen(TpwDriverScreen::Options);
  temp_.DeleteTempFile();
}

void TpwConversionDriver::NewConversion() {
  if (converting_ || inSteps_) return;
  passwordTries_ = 0;
  documentLoaded_ = false;
  SetScreen(TpwDriverScreen::Files);
}

void TpwConversionDriver::Close() { temp_.DeleteTempFile(); }

void TpwConversionDriver::OnPassword(std::string& password, bool& cont) {
  ++passwordTries_;
  if (passwordTries_ == 1) {
    password.clear();
    cont = true;
  } else if (passwordTries_ <= 4) {
    std::string label = (passwordTries_ == 2 ? "Attempt " : "Wrong password.  Attempt ") +
                        std::to_string(passwordTries_ - 1) + " out of 3.";
    std::string typed;
    if (view_.AskPassword(label, typed)) {
      password = typed;
      cont = true;
    } else {
      passwordTries_ = 6;
      cont = false;
    }
  } else {
    password.clear();
    cont = false;
  }
}

void TpwConversionDriver::OnStatus() {
  view_.ProcessPendingEvents();
  TrimWorkingSet();
}

}  // namespace pw
