// The paperwright program's --dump-text and --dump-emf debugging aids, run
// as a process on a handwritten two-page document.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "pdf/pdf_builder.h"
#include "platform/kxEmf.h"

namespace {

std::string Program() {
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return (self.parent_path().parent_path() / "cli" / "paperwright").string();
}

struct RunResult {
  int code = -1;
  std::string out;
};

RunResult Exec(const std::string& args) {
  RunResult r;
  std::string cmd(1, '\'');
  cmd.append(Program()).append("' ").append(args).append(" </dev/null 2>&1");
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  const int status = pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string TwoPages() {
  pwtest::PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.Object(2,
           "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /MediaBox [0 0 612 792] "
           "/Resources << /Font << /F1 7 0 R >> >> >>");
  b.Object(3, "<< /Type /Page /Parent 2 0 R /Contents 5 0 R >>");
  b.Object(4, "<< /Type /Page /Parent 2 0 R /Contents 6 0 R /Rotate 90 >>");
  b.Stream(5, "", "BT /F1 12 Tf 72 700 Td (Hello) Tj ET");
  b.Stream(6, "", "BT /F1 12 Tf 72 700 Td (World\\001) Tj 0 -20 Td (Again) Tj ET");
  b.Object(7, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  b.StartXRef(b.XRefTable("/Size 8 /Root 1 0 R"));
  const std::string file = (std::filesystem::temp_directory_path() / "pw-dump-two-pages.pdf").string();
  std::ofstream(file, std::ios::binary) << b.bytes;
  return file;
}

// One page whose text changes colour inside a word, then at a wide gap, then
// on the next line.
std::string ColourRuns() {
  pwtest::PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.Object(2,
           "<< /Type /Pages /Kids [3 0 R] /Count 1 /MediaBox [0 0 612 792] /Resources << /Font << /F1 5 0 R >> >> >>");
  b.Object(3, "<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>");
  b.Stream(4, "",
           "BT /F1 12 Tf 72 700 Td (Hel) Tj 1 0 0 rg (lo) Tj 0 0 1 rg 100 0 Td (Far) Tj "
           "0 g -100 -20 Td (Next) Tj 1 0 0 rg (Line) Tj ET");
  b.Object(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  b.StartXRef(b.XRefTable("/Size 6 /Root 1 0 R"));
  const std::string file = (std::filesystem::temp_directory_path() / "pw-dump-colour-runs.pdf").string();
  std::ofstream(file, std::ios::binary) << b.bytes;
  return file;
}

}  // namespace

TEST(CliDump, TextRecordsPerPage) {
  if (!std::filesystem::exists(Program())) GTEST_SKIP() << "program not built: " << Program();
  const std::string file = TwoPages();
  RunResult r = Exec(std::string("--dump-text '").append(file).append("'"));
  EXPECT_EQ(r.code, 0);
  // One line per record here, control characters as spaces, a form feed after each page.
  EXPECT_EQ(r.out, "Hello\n\fWorld \nAgain\n\f");

  EXPECT_EQ(Exec("--dump-text").code, 1);
  EXPECT_EQ(Exec("--dump-text a.pdf b.pdf").code, 1);
  EXPECT_EQ(Exec("--dump-text /nonexistent/file.pdf").code, 2);
}

TEST(CliDump, RecordsThatCarryOnAWordShareALine) {
  if (!std::filesystem::exists(Program())) GTEST_SKIP() << "program not built: " << Program();
  const std::string file = ColourRuns();
  RunResult r = Exec(std::string("--dump-text '").append(file).append("'"));
  EXPECT_EQ(r.code, 0);
  // A colour change splits the records but not the words; a gap or a new
  // baseline still starts a line of its own.
  EXPECT_EQ(r.out, "Hello\nFar\nNextLine\n\f");
}

TEST(CliDump, RecordingsAsFiles) {
  if (!std::filesystem::exists(Program())) GTEST_SKIP() << "program not built: " << Program();
  const std::string file = TwoPages();
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "pw-dump-emf";
  std::filesystem::remove_all(dir);
  RunResult r = Exec(std::string("--dump-emf '").append(dir.string()).append("' '").append(file).append("'"));
  EXPECT_EQ(r.code, 0) << r.out;
  for (int page = 1; page <= 2; ++page) {
    const auto path = dir / std::string("page-").append(std::to_string(page)).append(".emf");
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    const pw::TkxMetafile mf = pw::TkxMetafile::LoadFromFile(path.string());
    size_t texts = 0;
    mf.EnumerateRecords([&](const pw::TkxEmfRecord& rec) {
      texts += rec.Type() == pw::EMR_EXTTEXTOUTW;
      return true;
    });
    EXPECT_EQ(texts, page == 1 ? 1u : 2u);
    // The second page is turned: the recording is landscape.
    if (page == 2) {
      EXPECT_GT(mf.Header().Frame.right, mf.Header().Frame.bottom);
    }
  }
  std::filesystem::remove_all(dir);
}
