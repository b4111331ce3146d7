// The paperwright program's --info command, run as a process: output and
// exit codes (0 ok, 1 usage, 2 unreadable file, 3 wrong or missing password).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

// The program is built beside the tests: <build>/cli/paperwright.
std::string Program() {
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return (self.parent_path().parent_path() / "cli" / "paperwright").string();
}

// Single-quoted for the shell.
std::string Quote(const std::string& s) {
  std::string q = "'";
  q += s;
  q += "'";
  return q;
}

struct RunResult {
  int code = -1;
  std::string out;
};

// Runs the program with stdin from /dev/null and stdout/stderr captured.
RunResult Exec(const std::string& args) {
  RunResult r;
  std::string cmd = Quote(Program());
  cmd += " " + args + " </dev/null 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int status = pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string Src(const std::string& rel) { return Quote(std::string(PW_SOURCE_DIR) + "/" + rel); }

}  // namespace

TEST(CliInfo, ExitCodesAndOutput) {
  if (!std::filesystem::exists(Program())) GTEST_SKIP() << "program not built: " << Program();
  const std::string junk = (std::filesystem::temp_directory_path() / "pw-cli-junk.pdf").string();
  std::ofstream(junk) << "%PDF-1.4\nnothing here\n";
  const std::string enc = Src("tests/pdf/data/rc4-128-objstm-user-secret.pdf");

  struct Case {
    std::string args;
    int code;
    std::vector<std::string> expected;  // substrings of the output
  } cases[] = {
      {"--version", 0, {"paperwright "}},
      {"--help", 0, {"--info", "--password"}},
      {"", 1, {"usage:"}},
      {"--bogus x.pdf", 1, {"unknown option '--bogus'"}},
      {"--info", 1, {"--info needs exactly one PDF file"}},
      {"--info a.pdf --password", 1, {"needs a value"}},
      {"--info /nonexistent/x.pdf", 2, {"cannot read /nonexistent/x.pdf", "File Not Found"}},
      {"--info " + junk, 2, {"cannot read", "File is corrupted"}},
      {"--info " + Src("examples/sample.pdf"),
       0,
       {"PDF version: 1.6", "Encrypted:   no", "Pages:       4", "Page 4: rotation 0, media box [0 0 595.304 841.89]"}},
      {"--info " + enc + " --password secret",
       0,
       {"Encrypted:   yes (RC4 128-bit)", "Pages:       2", "Page 1: rotation 90, media box [0 0 300 400]"}},
      {"--info " + enc + " --password=wrong", 3, {"wrong password"}},
      {"--info " + enc, 3, {"give its password with --password"}},
  };
  for (const Case& c : cases) {
    RunResult r = Exec(c.args);
    EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.out;
    for (const std::string& e : c.expected)
      EXPECT_NE(r.out.find(e), std::string::npos) << c.args << ": " << e << "\n" << r.out;
    EXPECT_EQ(r.out.find("terminate called"), std::string::npos) << c.args;
  }
  std::filesystem::remove(junk);
}
