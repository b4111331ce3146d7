// Fontconfig's answers kept between runs: the lines of the file hold
// together or are refused, answers written under one configuration are
// found again under it and dropped under another, and a damaged file costs
// nothing but the answers.
#include "platform/kxFontAnswerCache.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace pw {
namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct TempDir {
  std::string Path;
  TempDir() {
    char tmpl[] = "/tmp/pwanswers-XXXXXX";
    Path = mkdtemp(tmpl);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(Path, ec);
  }
};

}  // namespace

TEST(FontAnswers, LinesRoundTripAndDamageIsRefused) {
  TkxFontAnswer a;
  a.Path = "/fonts/odd\tname\\with\nbreaks.ttf";
  a.Index = 2;
  a.Family = "Odd Family";
  a.Weight = 200;
  a.Slant = 100;
  a.Embolden = true;
  const std::string line = TkxFontAnswerCache::Line("Tab\tFamily", 3, a);
  EXPECT_EQ(line.find('\n'), line.size() - 1);  // one line whatever the names hold
  const auto back = TkxFontAnswerCache::ParseLine(line);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->first, std::string("Tab\tFamily") + '\0' + "3");
  EXPECT_EQ(back->second.Path, a.Path);
  EXPECT_EQ(back->second.Index, 2);
  EXPECT_EQ(back->second.Family, "Odd Family");
  EXPECT_EQ(back->second.Weight, 200);
  EXPECT_EQ(back->second.Slant, 100);
  EXPECT_TRUE(back->second.Embolden);
  // A changed character, a cut line, a style out of range: refused.
  std::string changed = line;
  changed[20] ^= 1;
  EXPECT_FALSE(TkxFontAnswerCache::ParseLine(changed));
  EXPECT_FALSE(TkxFontAnswerCache::ParseLine(line.substr(0, line.size() / 2)));
  EXPECT_FALSE(TkxFontAnswerCache::ParseLine(TkxFontAnswerCache::Line("X", 7, a)));
  EXPECT_FALSE(TkxFontAnswerCache::ParseLine(""));
}

TEST(FontAnswers, KeptUnderTheirConfigurationOnly) {
  TempDir dir;
  const std::string path = dir.Path + "/deeper/font-answers";
  const TkxFontAnswer a{"/fonts/a.ttf", 0, "Family A", 0, 0, false};
  TkxFontAnswer none;  // fontconfig had nothing
  {
    TkxFontAnswerCache cache;
    cache.Open(path, "one");  // made, folders and all
    EXPECT_EQ(cache.Find("A", 0), nullptr);
    cache.Add("A", 0, a);
    cache.Add("Nothing", 1, none);
    ASSERT_NE(cache.Find("A", 0), nullptr);
  }
  {
    TkxFontAnswerCache cache;
    cache.Open(path, "one");
    ASSERT_NE(cache.Find("A", 0), nullptr);
    EXPECT_EQ(cache.Find("A", 0)->Path, "/fonts/a.ttf");
    EXPECT_EQ(cache.Find("A", 1), nullptr);
    ASSERT_NE(cache.Find("Nothing", 1), nullptr);
    EXPECT_TRUE(cache.Find("Nothing", 1)->Path.empty());
  }
  // A damaged line among good ones costs only itself.
  std::ofstream(path, std::ios::app) << "0123456789abcdef garbage\n" << TkxFontAnswerCache::Line("B", 2, a);
  {
    TkxFontAnswerCache cache;
    cache.Open(path, "one");
    EXPECT_NE(cache.Find("A", 0), nullptr);
    EXPECT_NE(cache.Find("B", 2), nullptr);
  }
  // Another configuration: nothing is taken, and the file starts again.
  {
    TkxFontAnswerCache cache;
    cache.Open(path, "two");
    EXPECT_EQ(cache.Find("A", 0), nullptr);
  }
  const std::string restarted = Read(path);
  EXPECT_EQ(restarted.rfind("paperwright font answers 2 two\n", 0), 0u);
  EXPECT_EQ(std::count(restarted.begin(), restarted.end(), '\n'), 2);  // the header and the watched paths
  // No place to keep them: answers last for the process.
  {
    const std::string file = dir.Path + "/a-file";
    std::ofstream(file) << "x";
    const std::string blocked = file + "/font-answers";
    TkxFontAnswerCache cache;
    cache.Open(blocked, "one");
    cache.Add("A", 0, a);
    EXPECT_NE(cache.Find("A", 0), nullptr);
  }
}

// The file is checked against the paths it notes without loading the
// configuration; the installed families are kept with the answers.
TEST(FontAnswers, CheckedByTheirWatchedPathsWithFamilies) {
  TempDir dir;
  const std::string path = dir.Path + "/font-answers";
  const std::string conf = dir.Path + "/fonts.conf";
  std::ofstream(conf) << "one";
  // A stand-in for the real fingerprint: the paths and what they hold.
  const TkxFontAnswerCache::TkxFingerprintOf fingerprintOf = [](const std::vector<std::string>& paths) {
    std::string f;
    for (const std::string& p : paths) f += p + '=' + Read(p) + ';';
    return f;
  };
  const std::vector<std::string> watched{conf, dir.Path + "/not-there.conf"};
  const TkxFontAnswer a{"/fonts/a.ttf", 0, "Family A", 0, 0, false};
  {
    TkxFontAnswerCache cache;
    EXPECT_FALSE(cache.OpenIfCurrent(path, fingerprintOf));  // no file yet
    cache.Open(path, fingerprintOf(watched), watched);
    EXPECT_EQ(cache.Families(), nullptr);
    cache.Add("A", 0, a);
    cache.SetFamilies({"Zeta", "Tab\tFamily", ""});
  }
  {
    TkxFontAnswerCache cache;
    ASSERT_TRUE(cache.OpenIfCurrent(path, fingerprintOf));
    EXPECT_NE(cache.Find("A", 0), nullptr);
    ASSERT_NE(cache.Families(), nullptr);
    EXPECT_EQ(*cache.Families(), (std::vector<std::string>{"Zeta", "Tab\tFamily", ""}));
  }
  // A watched path changes: nothing is taken.
  std::ofstream(conf) << "two";
  {
    TkxFontAnswerCache cache;
    EXPECT_FALSE(cache.OpenIfCurrent(path, fingerprintOf));
    EXPECT_EQ(cache.Find("A", 0), nullptr);
    EXPECT_EQ(cache.Families(), nullptr);
  }
  // A damaged list of watched paths: nothing is taken either.
  std::ofstream(conf) << "one";
  std::string text = Read(path);
  text[text.find('\n') + 3] ^= 1;
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  TkxFontAnswerCache cache;
  EXPECT_FALSE(cache.OpenIfCurrent(path, fingerprintOf));
  // Opened with the configuration loaded, the file is started again and
  // can be checked without it once more.
  cache.Open(path, fingerprintOf(watched), watched);
  EXPECT_EQ(cache.Find("A", 0), nullptr);
  EXPECT_TRUE(TkxFontAnswerCache().OpenIfCurrent(path, fingerprintOf));
}

}  // namespace pw
