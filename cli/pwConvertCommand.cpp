#include "cli/pwConvertCommand.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <new>
#include <optional>
#include <vector>

#include "app/pwConversionDriver.h"
#include "app/pwDocumentAdapter.h"
#include "app/pwEngineAdapter.h"
#include "cli/pwPasswordPrompt.h"
#include "pdf/kxWarnings.h"
#include "platform/kxFontManager.h"
#include "render/kxGlyphList.h"

namespace pw::cli {

namespace {

// Error texts may quote bytes of the file: control characters become '?'.
std::string Printable(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return text;
}

// The terminal as the driver's screens: a progress line, hidden password
// prompts, and no second chance for the target name.
class TpwCliView : public TpwDriverView {
 public:
  TpwCliView(const std::optional<std::string>& password, bool progress, TkxWarningSink& warnings)
      : password_(password), progress_(progress), warnings_(warnings) {}

  // The driver reports progress before each page: warnings from now on
  // belong to the page being drawn (none while loading or writing).
  void SetProgress(int value, int maximum) override { warnings_.SetPage(value < maximum ? value + 1 : 0); }

  void ShowMessage(TpwMessageKind kind, const std::string& text, const std::string&) override {
    if (kind == TpwMessageKind::Error)
      errorText_ = text;
    else
      std::fprintf(stderr, "paperwright: %s\n", text.c_str());
  }
  bool Confirm(const std::string&, const std::string&) override { return false; }
  void SetPagesLabel(const std::string& label) override {
    if (!progress_ || label.empty()) return;
    std::fprintf(stderr, "\r%s", label.c_str());
    std::fflush(stderr);
    progressShown_ = true;
  }
  bool AskPassword(const std::string& label, std::string& password) override {
    asked_ = true;
    if (password_) {
      // A password from the command line is tried once.
      if (givenUsed_) return false;
      givenUsed_ = true;
      password = *password_;
      return true;
    }
    if (!StdinIsTerminal()) return false;
    std::string prompt = label.rfind("Wrong", 0) == 0 ? "" : "This PDF file has a password protection.\n";
    prompt += label + " Password: ";
    std::optional<std::string> line = ReadHiddenLine(prompt);
    if (!line) return false;
    password = *line;
    return true;
  }
  bool AskSaveName(const std::string&, std::string&) override { return false; }
  void ShowDone(bool saved, const std::string&, const std::string&) override {
    EndProgressLine();
    saved_ = saved;
  }
  void EndProgressLine() {
    if (progressShown_) std::fputc('\n', stderr);
    progressShown_ = false;
  }

  const std::string& ErrorText() const { return errorText_; }
  bool PasswordAsked() const { return asked_; }
  bool Saved() const { return saved_; }

 private:
  std::optional<std::string> password_;
  bool progress_;
  TkxWarningSink& warnings_;
  bool progressShown_ = false;
  bool givenUsed_ = false;
  bool asked_ = false;
  bool saved_ = false;
  std::string errorText_;
};

// Why `target` cannot be written, as far as the file system tells.
std::string WriteFailureReason(const std::string& target) {
  struct stat st {};
  if (stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  if (stat(folder.c_str(), &st) != 0) return std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return std::strerror(ENOTDIR);
  if (access(folder.c_str(), W_OK) != 0) return std::strerror(errno);
  return "it may be in use";
}

// A reason the input cannot be read that is plain before loading it.
std::optional<std::string> InputProblem(const std::string& input) {
  struct stat st {};
  if (stat(input.c_str(), &st) != 0) return std::string(std::strerror(errno));
  if (S_ISDIR(st.st_mode)) return std::string(std::strerror(EISDIR));
  if (!S_ISREG(st.st_mode)) return std::string("not a regular file");
  return std::nullopt;
}

// One line per kept warning, then one per page whose warnings were capped.
void PrintWarnings(const std::string& input, const TkxWarningSink& sink) {
  std::map<int, bool> pages;
  for (const TkxWarning& w : sink.Warnings()) {
    std::string where = w.Page > 0 ? "page " + std::to_string(w.Page) : "document";
    if (w.Object >= 0) where += ", object " + std::to_string(w.Object);
    if (w.Offset >= 0) where += ", offset " + std::to_string(w.Offset);
    std::string times = w.Repeats > 1 ? " (" + std::to_string(w.Repeats) + " times)" : "";
    std::fprintf(stderr, "paperwright: %s: %s: %s%s\n", input.c_str(), where.c_str(), Printable(w.Text).c_str(),
                 times.c_str());
    pages[w.Page] = true;
  }
  for (const auto& [page, any] : pages) {
    if (size_t dropped = sink.Dropped(page))
      std::fprintf(stderr, "paperwright: %s: %s: %zu more warnings not shown\n", input.c_str(),
                   page > 0 ? ("page " + std::to_string(page)).c_str() : "document", dropped);
  }
}

std::string WarningCount(const TkxWarningSink& sink) {
  size_t n = sink.Count();
  return n == 0 ? "" : n == 1 ? ", 1 warning" : ", " + std::to_string(n) + " warnings";
}

}  // namespace

std::string DefaultTarget(const std::string& input, const std::string* outputDir) {
  if (!outputDir) return input + ".rtf";
  size_t slash = input.rfind('/');
  std::string name = slash == std::string::npos ? input : input.substr(slash + 1);
  std::string dir = *outputDir;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir + name + ".rtf";
}

int ConvertOne(const std::string& input, const std::string& target, const TpwCliOptions& options, bool progress) {
  const char* readError = "Impossible to read selected PDF file.";
  if (std::optional<std::string> problem = InputProblem(input)) {
    std::fprintf(stderr, "paperwright: %s: %s %s\n", input.c_str(), readError, problem->c_str());
    return ecCannotRead;
  }
  // Each conversion has its own sink (a batch with -j runs each file in its
  // own process).
  TkxWarningSink warnings;
  TkxWarningScope warningScope(warnings);
  auto listWarnings = [&]() {
    if (options.Verbose) PrintWarnings(input, warnings);
  };
  try {
    TpwCliView view(options.Password, progress, warnings);
    TpwDocumentAdapter document;
    TpwEngineAdapter engine(&view);
    engine.Engine().SetDocumentEncodingType(options.PositionalLayout ? etPositionalAccuracy : etEaseOfEditing);
    engine.Engine().Preferences().SetMetafileAsImage(options.PageAsPicture);
    TpwConversionDriver driver(document, engine, view);
    driver.SetScreenResolution(96, 96);
    TpwJobSettings& job = driver.Job();
    job.SourceFile = input;
    job.TargetFile = target;
    job.PaperSize = options.PaperSize;
    job.ExtendedConversion = options.ExtendedConversion;
    job.ImageFormat = options.ImageFormat;
    job.ImagesQuality = options.Quality;
    driver.Next();
    view.EndProgressLine();

    listWarnings();
    if (!driver.DocumentLoaded()) {
      if (document.PasswordRejected()) {
        std::fprintf(stderr, "paperwright: %s: %s\n", input.c_str(),
                     view.PasswordAsked() && (options.Password || StdinIsTerminal())
                         ? "wrong password"
                         : "the file is encrypted; give its password with --password");
        return ecPassword;
      }
      std::string cause;
      if (!document.LastError().empty()) cause.append(" ").append(Printable(document.LastError()));
      std::fprintf(stderr, "paperwright: %s: %s%s\n", input.c_str(),
                   view.ErrorText().empty() ? readError : view.ErrorText().c_str(), cause.c_str());
      return ecCannotRead;
    }
    if (!driver.Saved()) {
      std::fprintf(stderr, "paperwright: cannot write %s: %s\n", driver.Job().TargetFile.c_str(),
                   WriteFailureReason(driver.Job().TargetFile).c_str());
      return ecCannotWrite;
    }
    if (!options.Quiet)
      std::fprintf(stderr, "paperwright: %s: %d pages converted to %s%s\n", input.c_str(), driver.PagesConverted(),
                   driver.Job().TargetFile.c_str(), WarningCount(warnings).c_str());
    return ecOk;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "paperwright: %s: out of memory\n", input.c_str());
  } catch (const std::exception& e) {
    listWarnings();
    std::fprintf(stderr, "paperwright: %s: %s\n", input.c_str(), Printable(e.what()).c_str());
  }
  return ecCannotWrite;
}

namespace {

// What the workers of a batch share: the next file to take, and per file its
// exit code (kNotDone until converted) and per worker the file it is on.
struct TpwBatchBoard {
  static constexpr int kNotDone = -1;
  std::atomic<size_t> Next{0};
  const size_t* Order = nullptr;         // the files in the order they are taken
  std::atomic<int>* Codes = nullptr;     // one per file
  std::atomic<long>* Current = nullptr;  // one per worker: file index, or -1
};

// Takes files off the board until none are left.
void WorkOff(TpwBatchBoard& board, int worker, const std::vector<std::string>& files, const TpwCliOptions& options) {
  for (;;) {
    const size_t k = board.Next.fetch_add(1);
    if (k >= files.size()) break;
    const size_t i = board.Order ? board.Order[k] : k;
    board.Current[worker].store(static_cast<long>(i));
    const int code = ConvertOne(files[i], DefaultTarget(files[i], &*options.OutputDir), options, false);
    std::fflush(nullptr);
    board.Codes[i].store(code);
    board.Current[worker].store(-1);
  }
}

// Up to Jobs worker processes, each converting file after file: a worker
// keeps what it learnt about fonts (fontconfig's answers, faces opened) from
// one file to the next, as a single process does, instead of a fresh process
// per file finding it all out again. A worker that dies costs the file it was
// on (reported) and is replaced while files remain.
int ConvertInWorkers(const std::vector<std::string>& files, const TpwCliOptions& options) {
  // The font configuration and the glyph list are read here, once, before
  // the first worker: every worker would otherwise repeat them.
  TkxFontManager::Instance();
  GlyphListLookup("space");
  std::fflush(nullptr);
  const int jobs = static_cast<int>(std::min<size_t>(static_cast<size_t>(options.Jobs), files.size()));
  const size_t bytes =
      sizeof(TpwBatchBoard) + files.size() * sizeof(std::atomic<int>) + jobs * sizeof(std::atomic<long>) + 64;
  void* shared = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) {
    int result = ecOk;
    for (const std::string& f : files)
      result = std::max(result, ConvertOne(f, DefaultTarget(f, &*options.OutputDir), options, false));
    return result;
  }
  auto* board = new (shared) TpwBatchBoard;
  auto* codes = reinterpret_cast<std::atomic<int>*>(static_cast<char*>(shared) + sizeof(TpwBatchBoard));
  for (size_t i = 0; i < files.size(); ++i) new (&codes[i]) std::atomic<int>(TpwBatchBoard::kNotDone);
  auto* current = reinterpret_cast<std::atomic<long>*>(
      (reinterpret_cast<uintptr_t>(codes + files.size()) + alignof(std::atomic<long>) - 1) &
      ~(uintptr_t(alignof(std::atomic<long>)) - 1));
  for (int w = 0; w < jobs; ++w) new (&current[w]) std::atomic<long>(-1);
  board->Codes = codes;
  board->Current = current;
  // The largest files first: a large file taken last would keep one worker
  // busy long after the others ran out of files. (Read by the workers
  // after the fork, from their own copy.)
  std::vector<size_t> order(files.size());
  std::vector<off_t> sizes(files.size(), 0);
  for (size_t i = 0; i < files.size(); ++i) {
    order[i] = i;
    struct stat st {};
    if (stat(files[i].c_str(), &st) == 0) sizes[i] = st.st_size;
  }
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return sizes[a] > sizes[b]; });
  board->Order = order.data();

  std::map<pid_t, int> workers;  // pid -> worker slot
  auto start = [&](int slot) {
    current[slot].store(-1);
    pid_t pid = fork();
    if (pid == 0) {
      WorkOff(*board, slot, files, options);
      _exit(0);
    }
    if (pid > 0) workers[pid] = slot;
    return pid > 0;
  };
  for (int w = 0; w < jobs; ++w)
    if (!start(w)) break;
  // No worker at all: the files are done here.
  if (workers.empty()) WorkOff(*board, 0, files, options);
  int result = ecOk;
  while (!workers.empty()) {
    int status = 0;
    pid_t pid = waitpid(-1, &status, 0);
    if (pid <= 0) break;
    auto it = workers.find(pid);
    if (it == workers.end()) continue;
    const int slot = it->second;
    workers.erase(it);
    const bool clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    const long on = current[slot].load();
    if (!clean && on >= 0 && codes[on].load() == TpwBatchBoard::kNotDone) {
      std::fprintf(stderr, "paperwright: %s: the conversion ended abnormally\n", files[on].c_str());
      codes[on].store(ecCannotRead);
    }
    if (!clean && board->Next.load() < files.size() && !start(slot)) WorkOff(*board, slot, files, options);
  }
  // Anything a lost worker left behind (no more processes) is done here.
  WorkOff(*board, 0, files, options);
  for (size_t i = 0; i < files.size(); ++i) {
    const int code = codes[i].load();
    result = std::max(result, code == TpwBatchBoard::kNotDone ? static_cast<int>(ecCannotRead) : code);
  }
  munmap(shared, bytes);
  return result;
}

}  // namespace

int RunConvert(const TpwCliOptions& options) {
  const std::vector<std::string>& files = options.Positionals;
  bool progress = !options.Quiet && isatty(STDERR_FILENO) == 1;
  if (!options.OutputDir) {
    if (files.empty() || files.size() > 2) {
      std::fprintf(stderr, "paperwright: give INPUT.pdf [OUTPUT.rtf], or -o DIR for several files\n%s",
                   UsageText().c_str());
      return ecUsage;
    }
    std::string target = files.size() == 2 ? files[1] : DefaultTarget(files[0], nullptr);
    return ConvertOne(files[0], target, options, progress);
  }
  if (files.empty()) {
    std::fprintf(stderr, "paperwright: no input files\n%s", UsageText().c_str());
    return ecUsage;
  }
  // The folder is made when it does not exist yet, parents included.
  std::error_code made;
  std::filesystem::create_directories(*options.OutputDir, made);
  struct stat st {};
  if (stat(options.OutputDir->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    std::string reason = made ? made.message() : std::strerror(ENOTDIR);
    std::fprintf(stderr, "paperwright: cannot write to %s: %s\n", options.OutputDir->c_str(), reason.c_str());
    return ecCannotWrite;
  }
  // Several files: the worst outcome decides the exit code.
  int result = ecOk;
  bool single = files.size() == 1;
  if (options.Jobs <= 1 || single) {
    for (const std::string& f : files)
      result = std::max(result, ConvertOne(f, DefaultTarget(f, &*options.OutputDir), options, progress && single));
    return result;
  }
  return ConvertInWorkers(files, options);
  return result;
}

}  // namespace pw::cli
