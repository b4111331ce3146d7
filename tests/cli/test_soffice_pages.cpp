// Converted documents opened by LibreOffice: as many pages as the PDF, each
// of the chosen paper, turned where the PDF page is turned. Skips without
// the corpus or without soffice and pdfinfo.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::string Program() {
  std::error_code ec;
  auto self = fs::read_symlink("/proc/self/exe", ec);
  return (self.parent_path().parent_path() / "cli" / "paperwright").string();
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Standard output of a shell command and its exit code.
std::pair<int, std::string> Shell(const std::string& cmd) {
  std::string out;
  std::string line = cmd;
  line.append(" </dev/null 2>/dev/null");
  FILE* p = popen(line.c_str(), "r");
  if (!p) return {-1, out};
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  int status = pclose(p);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

bool Have(const char* tool) { return Shell(std::string("command -v ") + tool).first == 0; }

struct PageInfo {
  double width = 0, height = 0;
  int rotation = 0;
};

// Every page's size and rotation as pdfinfo reports them.
std::vector<PageInfo> Pages(const std::string& pdf, const std::string& password) {
  std::string cmd = "pdfinfo -f 1 -l 100000 ";
  if (!password.empty()) cmd.append("-upw ").append(Quote(password)).append(" ");
  std::string out = Shell(cmd.append(Quote(pdf))).second;
  std::vector<PageInfo> pages;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    unsigned n = 0;
    double w = 0, h = 0;
    int rot = 0;
    if (std::sscanf(line.c_str(), "Page %u size: %lf x %lf", &n, &w, &h) == 3 && n > 0) {
      if (pages.size() < n) pages.resize(n);
      pages[n - 1].width = w;
      pages[n - 1].height = h;
    } else if (std::sscanf(line.c_str(), "Page %u rot: %d", &n, &rot) == 2 && n > 0) {
      if (pages.size() < n) pages.resize(n);
      pages[n - 1].rotation = rot;
    }
  }
  return pages;
}

}  // namespace

TEST(SofficePages, PageCountPaperAndOrientation) {
  const std::string corpus = std::string(PW_SOURCE_DIR) + "/../shared/corpus/";
  if (!fs::exists(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
  if (!Have("soffice") || !Have("pdfinfo")) GTEST_SKIP() << "soffice or pdfinfo missing";
  if (!fs::exists(Program())) GTEST_SKIP() << "program not built";

  struct Case {
    std::string pdf, password, paper, layout;
    double width, height;  // portrait paper in points
  } cases[] = {
      {corpus + "latex-4-pages.pdf", "", "A4", "editing", 595.3, 841.9},
      {corpus + "latex-multicolumn.pdf", "", "Letter", "exact", 612, 792},
      {corpus + "pm-jo.pdf", "", "A4", "editing", 595.3, 841.9},  // a wide media box, not turned: landscape
      {std::string(PW_SOURCE_DIR) + "/tests/pdf/data/rc4-128-objstm-user-secret.pdf", "secret", "A4", "exact", 595.3,
       841.9},
  };
  fs::path dir = fs::temp_directory_path() / ("pw-soffice-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "pdf");
  std::string rtfs;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    std::string rtf = (dir / ("doc" + std::to_string(i) + ".rtf")).string();
    std::string cmd = Quote(Program()) + " --quiet --paper " + c.paper + " --layout " + c.layout;
    if (!c.password.empty()) cmd.append(" --password ").append(Quote(c.password));
    ASSERT_EQ(Shell(cmd + " " + Quote(c.pdf) + " " + Quote(rtf)).first, 0) << c.pdf;
    rtfs.append(" ").append(Quote(rtf));
  }
  // One LibreOffice start for all documents, with a private profile.
  std::string soffice = "timeout 300 soffice -env:UserInstallation=file://";
  soffice.append((dir / "profile").string()).append(" --headless --convert-to pdf --outdir ");
  soffice.append(Quote((dir / "pdf").string())).append(rtfs);
  auto [code, out] = Shell(soffice);
  ASSERT_EQ(code, 0) << out;

  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    std::vector<PageInfo> source = Pages(c.pdf, c.password);
    std::vector<PageInfo> result = Pages((dir / "pdf" / ("doc" + std::to_string(i) + ".pdf")).string(), "");
    ASSERT_FALSE(source.empty()) << c.pdf;
    ASSERT_EQ(result.size(), source.size()) << c.pdf;
    for (size_t p = 0; p < source.size(); ++p) {
      // Landscape sheets for pages shown wider than high: turned portrait
      // boxes and unturned wide ones.
      const bool turned = source[p].rotation == 90 || source[p].rotation == 270 || source[p].rotation == -90;
      const bool landscape = turned != (source[p].width > source[p].height);
      double w = landscape ? c.height : c.width, h = landscape ? c.width : c.height;
      EXPECT_NEAR(result[p].width, w, 2.0) << c.pdf << " page " << p + 1;
      EXPECT_NEAR(result[p].height, h, 2.0) << c.pdf << " page " << p + 1;
    }
  }
  fs::remove_all(dir);
}
