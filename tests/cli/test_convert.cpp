// The paperwright program converting PDF files, run as a process: exit codes,
// one message per failure, no partial targets, the ".rtf" rule and batches.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "pdf/pdf_builder.h"

namespace fs = std::filesystem;

namespace {

// The program is built beside the tests: <build>/cli/paperwright.
std::string Program() {
  std::error_code ec;
  auto self = fs::read_symlink("/proc/self/exe", ec);
  return (self.parent_path().parent_path() / "cli" / "paperwright").string();
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

struct RunResult {
  int code = -1;
  std::string err;  // standard error only
};

RunResult Exec(const std::string& args) {
  RunResult r;
  std::string cmd = Quote(Program()) + " " + args + " </dev/null 2>&1 >/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.err.append(buf.data(), n);
  int status = pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string Src(const std::string& rel) { return std::string(PW_SOURCE_DIR) + "/" + rel; }

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Occurrences of the control word `word` (not as the start of a longer one).
size_t CountControlWord(const std::string& rtf, const std::string& word) {
  size_t n = 0;
  for (size_t at = rtf.find(word); at != std::string::npos; at = rtf.find(word, at + 1)) {
    size_t end = at + word.size();
    if (end >= rtf.size() || !std::isalpha(static_cast<unsigned char>(rtf[end]))) ++n;
  }
  return n;
}

// Nothing in `dir` but `keep` (no target, no temporary copy of one).
std::vector<std::string> Entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class CliConvert : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(Program())) GTEST_SKIP() << "program not built: " << Program();
    dir_ = fs::temp_directory_path() / ("pw-convert-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  std::string P(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

}  // namespace

TEST_F(CliConvert, BadInputAndTargetsFailCleanly) {
  const std::string sample = Src("examples/sample.pdf");
  std::ofstream(P("text.pdf")) << "just some text, not a PDF\n";
  {
    std::string whole = ReadAll(sample);
    std::ofstream(P("cut.pdf"), std::ios::binary) << whole.substr(0, whole.size() / 3);
  }
  fs::create_directories(dir_ / "folder.pdf");
  fs::create_directories(dir_ / "taken.rtf");
  const std::string enc = Src("tests/pdf/data/rc4-128-objstm-user-secret.pdf");

  struct Case {
    std::string args;
    int code;
    std::vector<std::string> expected;  // substrings of the one message line
  } cases[] = {
      {Quote(P("missing.pdf")) + " " + Quote(P("a.rtf")),
       2,
       {"missing.pdf", "Impossible to read selected PDF file.", "No such file"}},
      {Quote(P("text.pdf")) + " " + Quote(P("a.rtf")), 2, {"text.pdf", "Invalid PDF Header"}},
      {Quote(P("cut.pdf")) + " " + Quote(P("a.rtf")), 2, {"cut.pdf", "Impossible to read selected PDF file."}},
      {Quote(P("folder.pdf")) + " " + Quote(P("a.rtf")), 2, {"folder.pdf", "Is a directory"}},
      {Quote(sample) + " " + Quote(P("no/such/folder/a.rtf")), 4, {"cannot write", "No such file"}},
      {Quote(sample) + " " + Quote(P("taken.rtf")), 4, {"cannot write", "taken.rtf", "Is a directory"}},
      {Quote(enc) + " " + Quote(P("a.rtf")), 3, {"give its password with --password"}},
      {"--password wrong " + Quote(enc) + " " + Quote(P("a.rtf")), 3, {"wrong password"}},
      {"--paper A6 " + Quote(sample), 1, {"--paper must be one of"}},
      {"--quality 0 " + Quote(sample), 1, {"--quality must be a whole number from 1 to 100"}},
      {"--mode fancy " + Quote(sample), 1, {"--mode must be one of"}},
      {Quote(sample) + " b.rtf c.rtf", 1, {"-o DIR"}},
  };
  for (const Case& c : cases) {
    RunResult r = Exec(c.args);
    EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.err;
    for (const std::string& e : c.expected)
      EXPECT_NE(r.err.find(e), std::string::npos) << c.args << ": " << e << "\n" << r.err;
    if (c.code != 1) {
      EXPECT_EQ(Count(r.err, "\n"), 1u) << c.args << "\n" << r.err;
    }
    EXPECT_EQ(r.err.find("terminate called"), std::string::npos) << c.args;
    // Nothing written besides the fixtures: no target, no half-copied file.
    EXPECT_EQ(Entries(dir_), (std::vector<std::string>{"cut.pdf", "folder.pdf", "taken.rtf", "text.pdf"})) << c.args;
    EXPECT_TRUE(fs::is_empty(dir_ / "taken.rtf")) << c.args;
  }
}

TEST_F(CliConvert, SampleBecomesRtfWithOneSectionPerPage) {
  struct Case {
    std::string options;
    std::string target;   // as given
    std::string written;  // after the ".rtf" rule
  } cases[] = {
      {"", "out.rtf", "out.rtf"},
      {"--layout exact --mode extended --paper Letter", "out.RTF", "out.RTF.rtf"},
      {"--quiet", "report", "report.rtf"},
  };
  for (const Case& c : cases) {
    RunResult r = Exec(c.options + " " + Quote(Src("examples/sample.pdf")) + " " + Quote(P(c.target)));
    ASSERT_EQ(r.code, 0) << c.options << "\n" << r.err;
    EXPECT_EQ(Count(r.err, "\n"), c.options == "--quiet" ? 0u : 1u) << r.err;
    std::string rtf = ReadAll(dir_ / c.written);
    EXPECT_EQ(rtf.rfind("{\\rtf1", 0), 0u) << c.written;
    EXPECT_EQ(CountControlWord(rtf, "\\sectd"), 4u) << c.written;
    for (const char* word : {"converter", "editable", "quick", "brown"})
      EXPECT_NE(rtf.find(word), std::string::npos) << c.written << ": " << word;
    EXPECT_FALSE(fs::exists(dir_ / c.target) && c.target != c.written) << c.target;
    fs::remove(dir_ / c.written);
    EXPECT_TRUE(fs::is_empty(dir_)) << c.options;
  }
}

// A page larger than the paper is drawn smaller to stay on it; in the exact
// layout a Letter page fills A4 down to its foot, its text the size it was;
// with --paper pdf every section takes its own PDF page's size and
// orientation.
TEST_F(CliConvert, PagesLargerThanThePaperAndPaperFromThePdf) {
  pwtest::PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.Object(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 8 0 R] /Count 3 /Resources << /Font << /F1 7 0 R >> >> >>");
  b.Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 850 1100] /Contents 5 0 R >>");
  b.Object(4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 842 595] /Contents 6 0 R >>");
  b.Stream(5, "", "BT /F1 12 Tf 760 30 Td (Corner) Tj ET");
  b.Stream(6, "", "BT /F1 12 Tf 72 500 Td (Wide) Tj ET");
  b.Object(7, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  b.Object(8, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 9 0 R >>");
  b.Stream(9, "", "BT /F1 12 Tf 500 40 Td (Foot) Tj ET");
  b.StartXRef(b.XRefTable("/Size 10 /Root 1 0 R"));
  std::ofstream(dir_ / "large.pdf", std::ios::binary) << b.bytes;

  auto number = [](const std::string& rtf, const std::string& word, size_t from) {
    const size_t at = rtf.find(word, from);
    return at == std::string::npos ? -1L : std::stol(rtf.substr(at + word.size()));
  };
  RunResult r = Exec("--quiet --layout exact " + Quote(P("large.pdf")) + " " + Quote(P("a4.rtf")));
  ASSERT_EQ(r.code, 0) << r.err;
  std::string rtf = ReadAll(dir_ / "a4.rtf");
  EXPECT_EQ(CountControlWord(rtf, "\\sectd"), 3u);
  // On A4 (11905 x 16838 twips) the corner text still lies on the paper.
  const size_t corner = rtf.rfind("\\posy", rtf.find("Corner"));
  ASSERT_NE(corner, std::string::npos) << rtf;
  EXPECT_LT(number(rtf, "\\posy", corner), 16838);
  EXPECT_GT(number(rtf, "\\posy", corner), 15000);
  EXPECT_LT(number(rtf, "\\posx", corner), 11905 - 700);
  // The Letter page's foot line: 752 pt down of 792 is 15990 twips down of
  // 16838 (unstretched it would be 15040), at 12 pt still.
  const size_t foot = rtf.rfind("\\posy", rtf.find("Foot"));
  ASSERT_NE(foot, std::string::npos) << rtf;
  EXPECT_NEAR(number(rtf, "\\posy", foot), 15990 - 240, 200);
  EXPECT_EQ(number(rtf, "\\fs", foot), 24);

  r = Exec("--quiet --paper pdf " + Quote(P("large.pdf")) + " " + Quote(P("pdf.rtf")));
  ASSERT_EQ(r.code, 0) << r.err;
  rtf = ReadAll(dir_ / "pdf.rtf");
  EXPECT_NE(rtf.find("\\paperw17000\\paperh22000"), std::string::npos) << rtf;
  const size_t first = rtf.find(" \\sectd\\"), second = rtf.find(" \\sectd\\", first + 1);
  EXPECT_EQ(rtf.find(" \\sectd\\pgwsxn17000\\pghsxn22000"), first) << rtf;
  EXPECT_EQ(rtf.find(" \\sectd\\lndscpsxn\\pgwsxn16840\\pghsxn11900"), second) << rtf;
}

// In the editing layout a Letter page on A4 keeps its size and sits in the
// middle of the taller paper, its foot having room enough: its first line
// comes half the extra height (25 pt, 500 twips) lower than on Letter paper.
TEST_F(CliConvert, LetterPageSitsInTheMiddleOfA4) {
  pwtest::PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 /Resources << /Font << /F1 5 0 R >> >> >>");
  b.Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>");
  b.Stream(4, "", "BT /F1 12 Tf 72 700 Td (Top) Tj 0 -640 Td (Foot) Tj ET");
  b.Object(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  b.StartXRef(b.XRefTable("/Size 6 /Root 1 0 R"));
  std::ofstream(dir_ / "letter.pdf", std::ios::binary) << b.bytes;

  // The space above the first line: the exact height of the paragraph before it.
  auto spaceAbove = [&](const std::string& paper) {
    RunResult r = Exec("--quiet --paper " + paper + " " + Quote(P("letter.pdf")) + " " + Quote(P("out.rtf")));
    EXPECT_EQ(r.code, 0) << r.err;
    const std::string rtf = ReadAll(dir_ / "out.rtf");
    const size_t at = rtf.rfind("\\sl-", rtf.find("Top"));
    if (at == std::string::npos || rtf.find("Foot") == std::string::npos) return -1L;
    EXPECT_EQ(CountControlWord(rtf, "\\sectd"), 1u);
    return std::stol(rtf.substr(rtf.rfind("\\sl-", at - 1) + 4));
  };
  const long onLetter = spaceAbove("Letter"), onA4 = spaceAbove("A4");
  ASSERT_GT(onLetter, 0);
  EXPECT_NEAR(onA4 - onLetter, 500, 20);
}

TEST_F(CliConvert, DefaultTargetAndPasswords) {
  fs::copy_file(Src("examples/sample.pdf"), dir_ / "in.pdf");
  RunResult r = Exec(Quote(P("in.pdf")));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir_ / "in.pdf.rtf"));

  // An encrypted file with its password; its first page is landscape.
  r = Exec("--password secret " + Quote(Src("tests/pdf/data/rc4-128-objstm-user-secret.pdf")) + " " +
           Quote(P("enc.rtf")));
  ASSERT_EQ(r.code, 0) << r.err;
  std::string rtf = ReadAll(dir_ / "enc.rtf");
  EXPECT_EQ(rtf.rfind("{\\rtf1", 0), 0u);
  EXPECT_NE(rtf.find("\\lndscpsxn"), std::string::npos);
}

TEST_F(CliConvert, SeveralFilesIntoFolderSequentialAndParallel) {
  const std::string sample = Src("examples/sample.pdf");
  fs::copy_file(sample, dir_ / "one.pdf");
  fs::copy_file(sample, dir_ / "two.pdf");
  std::ofstream(P("bad.pdf")) << "no\n";
  // -j 2: a worker takes more than one file.
  for (const char* jobs : {"", "-j 3", "-j 2"}) {
    fs::create_directories(dir_ / "out");
    RunResult r = Exec(std::string(jobs) + " --quiet -o " + Quote(P("out")) + " " + Quote(P("one.pdf")) + " " +
                       Quote(P("bad.pdf")) + " " + Quote(P("two.pdf")));
    // The worst outcome decides the code; the good files are still converted.
    EXPECT_EQ(r.code, 2) << jobs << "\n" << r.err;
    EXPECT_EQ(Count(r.err, "\n"), 1u) << r.err;
    EXPECT_EQ(Entries(dir_ / "out"), (std::vector<std::string>{"one.pdf.rtf", "two.pdf.rtf"})) << jobs;
    EXPECT_EQ(CountControlWord(ReadAll(dir_ / "out" / "two.pdf.rtf"), "\\sectd"), 4u);
    fs::remove_all(dir_ / "out");
  }
  // A folder that does not exist yet is made, parents included; a file in
  // its place cannot be written to.
  RunResult r = Exec("--quiet -o " + Quote(P("absent/deeper")) + " " + Quote(P("one.pdf")));
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Entries(dir_ / "absent" / "deeper"), (std::vector<std::string>{"one.pdf.rtf"}));
  r = Exec("-o " + Quote(P("bad.pdf")) + " " + Quote(P("one.pdf")));
  EXPECT_EQ(r.code, 4) << r.err;
  EXPECT_NE(r.err.find("cannot write to " + P("bad.pdf")), std::string::npos) << r.err;
  r = Exec("-o " + Quote(P("bad.pdf/sub")) + " " + Quote(P("one.pdf")));
  EXPECT_EQ(r.code, 4) << r.err;
  EXPECT_EQ(Count(r.err, "\n"), 1u) << r.err;
}

// --verbose lists what was worked around, one line per warning with its page,
// object and offset, repeats folded into one line; the summary counts them.
TEST_F(CliConvert, VerboseListsToleratedProblems) {
  const std::string broken = Src("tests/pdf/data/tolerate-broken-dict-key.pdf");
  RunResult r = Exec("--verbose " + Quote(broken) + " " + Quote(P("a.rtf")));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(
      r.err.find(": document, object 3, offset 182: Dictionary key is not a name; the entry is dropped (3 times)\n"),
      std::string::npos)
      << r.err;
  EXPECT_EQ(Count(r.err, "\n"), 2u) << r.err;
  EXPECT_NE(r.err.find("1 pages converted to " + P("a.rtf") + ", 3 warnings\n"), std::string::npos) << r.err;

  // Without --verbose only the count; with --quiet nothing.
  r = Exec(Quote(broken) + " " + Quote(P("a.rtf")));
  EXPECT_EQ(Count(r.err, "\n"), 1u) << r.err;
  EXPECT_NE(r.err.find(", 3 warnings"), std::string::npos) << r.err;
  EXPECT_TRUE(Exec("--quiet " + Quote(broken) + " " + Quote(P("a.rtf"))).err.empty());

  // A page drawing the same broken picture 40 times gives one line for it.
  std::string content;
  for (int i = 0; i < 40; ++i) content += "/X1 Do\n";
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  auto obj = [&](const std::string& body) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
  };
  obj("<< /Type /Catalog /Pages 2 0 R >>");
  obj("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  obj("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Resources << /XObject << /X1 5 0 R >> >> "
      "/Contents 4 0 R >>");
  obj("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
  obj("<< /Type /XObject /Subtype /Form /BBox [0 0 9 9] /Filter /FlateDecode /Length 5 >>\nstream\nabcde\nendstream");
  size_t xref = pdf.size();
  pdf += "xref\n0 6\n0000000000 65535 f \n";
  for (size_t off : offsets) {
    char line[24];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
    pdf += line;
  }
  pdf += "trailer\n<< /Size 6 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  std::ofstream(P("flood.pdf"), std::ios::binary) << pdf;
  r = Exec("-v " + Quote(P("flood.pdf")) + " " + Quote(P("b.rtf")));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Count(r.err, "\n"), 2u) << r.err;
  EXPECT_NE(r.err.find(": page 1, offset "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("(40 times)"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(", 40 warnings"), std::string::npos) << r.err;
}
