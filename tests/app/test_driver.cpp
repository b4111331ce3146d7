#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <stdexcept>
#include <vector>

#include "app/pwConversionDriver.h"

using namespace pw;

namespace {

struct FakeDocument : IpwDocument {
  std::vector<int> rotations;                // remaining pages
  std::vector<std::array<double, 4>> boxes;  // of the remaining pages; US Letter beyond
  bool encrypted = false;
  std::string password;
  bool raiseOnLoad = false;
  PasswordHandler onPassword;
  StatusHandler onStatus;

  void SetPasswordHandler(PasswordHandler h) override { onPassword = std::move(h); }
  void SetStatusHandler(StatusHandler h) override { onStatus = std::move(h); }
  bool LoadFromFile(const std::string&) override {
    if (raiseOnLoad) throw std::runtime_error("damaged");
    if (!encrypted) return true;
    for (int tries = 0;; ++tries) {
      std::string pw;
      bool cont = false;
      onPassword(pw, cont, tries);
      if (!cont) return false;
      if (pw == password) return true;
    }
  }
  int PageCount() override { return static_cast<int>(rotations.size()); }
  int GetPageRotation(int page) override { return rotations.at(page - 1); }
  std::array<double, 4> GetPageMediaBox(int page) override {
    return static_cast<size_t>(page - 1) < boxes.size() ? boxes[page - 1] : std::array<double, 4>{0, 0, 612, 792};
  }
  void DeletePages(const std::string& range) override {
    EXPECT_EQ(range, "1");
    rotations.erase(rotations.begin());
    if (!boxes.empty()) boxes.erase(boxes.begin());
    if (onStatus) onStatus("1 pages deleted");
  }
};

struct FakeEngine : IpwEngine {
  int inX = 0, inY = 0, quality = 0;
  TkxItemsToRender items;
  TkxPaperSize paper = TkxPaperSize::Custom;
  TkxOutputImageFormat format = ifCCITT4;
  bool landscape = false;
  std::string fileName;
  int beginDocs = 0, newPages = 0, endDocs = 0, rendered = 0;
  std::vector<bool> pageLandscape;
  bool renderThrows = false;

  void SetInputRes(int x, int y) override { inX = x, inY = y; }
  void SetItemsToRender(TkxItemsToRender i) override { items = i; }
  void SetPaperSize(TkxPaperSize p) override { paper = p; }
  void SetLandscape(bool l) override { landscape = l; }
  void SetOutputImageFormat(TkxOutputImageFormat f) override { format = f; }
  void SetJPEGQuality(int q) override { quality = q; }
  void SetFileName(const std::string& f) override { fileName = f; }
  void BeginDoc() override {
    ++beginDocs;
    pageLandscape.push_back(landscape);
  }
  void NewPage() override {
    ++newPages;
    pageLandscape.push_back(landscape);
  }
  void SetActivePage(int page) override { EXPECT_EQ(page, PageCount()); }
  int PageCount() override { return static_cast<int>(pageLandscape.size()); }
  void RenderPage(IpwDocument&, int page) override {
    EXPECT_EQ(page, 1);
    ++rendered;
    if (renderThrows) throw std::runtime_error("bad page");
  }
  void EndDoc() override {
    ++endDocs;
    std::ofstream(fileName) << "{\\rtf1}";
  }
};

struct FakeView : TpwDriverView {
  std::vector<std::string> messages, passwordLabels, saveLabels, pageLabels;
  std::vector<std::string> typedPasswords;  // answers, in order; empty list = Cancel
  std::vector<std::string> saveNames;       // answers to the save dialog
  bool saveOk = true;
  std::string doneCaption;
  bool confirmAnswer = true;
  std::function<void()> onEvents;  // what the user does at event points

  void ProcessPendingEvents() override {
    if (onEvents) onEvents();
  }
  void ShowMessage(TpwMessageKind, const std::string& text, const std::string& title) override {
    messages.push_back(title + " " + text);
  }
  bool Confirm(const std::string&, const std::string&) override { return confirmAnswer; }
  void SetPagesLabel(const std::string& l) override { pageLabels.push_back(l); }
  bool AskPassword(const std::string& label, std::string& password) override {
    passwordLabels.push_back(label);
    if (typedPasswords.empty()) return false;
    password = typedPasswords.front();
    typedPasswords.erase(typedPasswords.begin());
    return true;
  }
  bool AskSaveName(const std::string& label, std::string& name) override {
    saveLabels.push_back(label);
    if (!saveNames.empty()) {
      name = saveNames.front();
      saveNames.erase(saveNames.begin());
    }
    return saveOk;
  }
  void ShowDone(bool, const std::string& caption, const std::string&) override { doneCaption = caption; }
};

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/pwdriver-XXXXXX";
    dir = mkdtemp(tmpl);
  }
  void TearDown() override { std::system(("rm -rf " + dir).c_str()); }
  TpwConversionDriver& Make() {
    driver = std::make_unique<TpwConversionDriver>(doc, engine, view);
    driver->Job().SourceFile = "in.pdf";
    driver->Job().TargetFile = dir + "/out.rtf";
    return *driver;
  }
  std::string dir;
  FakeDocument doc;
  FakeEngine engine;
  FakeView view;
  std::unique_ptr<TpwConversionDriver> driver;
};

bool Exists(const std::string& f) { return access(f.c_str(), F_OK) == 0; }

}  // namespace

TEST_F(DriverTest, OnePageDocument) {
  doc.rotations = {0};
  auto& d = Make();
  d.Next();
  EXPECT_EQ(engine.beginDocs, 1);
  EXPECT_EQ(engine.newPages, 0);
  EXPECT_EQ(engine.endDocs, 1);
  EXPECT_EQ(view.pageLabels.back(), "1 out of 1 pages converted.");
  EXPECT_TRUE(d.Saved());
  EXPECT_EQ(view.doneCaption, "CONGRATULATIONS!");
  EXPECT_TRUE(Exists(dir + "/out.rtf"));
  EXPECT_EQ(engine.items, TkxItemsToRender{TkxItemsToRenderKind::irText});
  EXPECT_EQ(engine.paper, TkxPaperSize::A4);
  EXPECT_EQ(engine.format, ifJPEG);
  EXPECT_EQ(engine.quality, 100);
}

TEST_F(DriverTest, NewConversionAfterDoneStartsAfresh) {
  doc.rotations = {0};
  doc.encrypted = true;
  doc.password = "";
  auto& d = Make();
  d.Next();
  ASSERT_EQ(d.Screen(), TpwDriverScreen::Done);
  EXPECT_EQ(d.PasswordTries(), 1);
  d.Next();  // nothing to do on the done screen
  EXPECT_EQ(engine.beginDocs, 1);
  d.NewConversion();
  EXPECT_EQ(d.Screen(), TpwDriverScreen::Files);
  EXPECT_FALSE(d.DocumentLoaded());
  EXPECT_EQ(d.PasswordTries(), 0);
  doc.rotations = {0, 0};
  d.Next();
  EXPECT_EQ(engine.beginDocs, 2);
  EXPECT_EQ(d.PagesConverted(), 2);
  EXPECT_TRUE(d.Saved());
}

TEST_F(DriverTest, OrientationFollowsEachPageRotation) {
  doc.rotations = {90, 0, -90, 180, -270, 270};
  Make().Next();
  EXPECT_EQ(engine.pageLandscape, (std::vector<bool>{true, false, true, false, false, true}));
  EXPECT_EQ(engine.newPages, 5);
  EXPECT_EQ(engine.rendered, 6);
}

// A landscape box (a slide) is a landscape page; turned, it stands upright.
TEST_F(DriverTest, OrientationFollowsTheShapeOfThePage) {
  doc.rotations = {0, 90, 0};
  doc.boxes = {{0, 0, 960, 540}, {0, 0, 960, 540}, {0, 0, 540, 540}};
  Make().Next();
  EXPECT_EQ(engine.pageLandscape, (std::vector<bool>{true, false, false}));
}

TEST_F(DriverTest, InputResolutionAndJobMapping) {
  struct Case {
    int ppi, x, y;
  } cases[] = {{96, 96, 96}, {120, 120, 101}, {144, 144, 144}};
  for (const auto& c : cases) {
    int x, y;
    InputResolutionFor(c.ppi, c.ppi, x, y);
    EXPECT_EQ(x, c.x);
    EXPECT_EQ(y, c.y);
  }
  TkxPaperSize paper = TkxPaperSize::Custom;
  EXPECT_TRUE(PaperSizeFromText("ISO-B4", paper));
  EXPECT_EQ(paper, TkxPaperSize::ISOB4);
  EXPECT_FALSE(PaperSizeFromText("a4", paper));  // exact, case-sensitive
  TkxOutputImageFormat format = ifBMP;
  EXPECT_TRUE(ImageFormatFromText("GIF", format));
  EXPECT_EQ(format, ifGIF);
  EXPECT_EQ(TargetWithRtfExtension("out.RTF"), "out.RTF.rtf");
  EXPECT_EQ(TargetWithRtfExtension("out"), "out.rtf");
  EXPECT_EQ(TargetWithRtfExtension("a.rtf"), "a.rtf");
}

TEST_F(DriverTest, TargetGetsRtfExtension) {
  doc.rotations = {0};
  auto& d = Make();
  d.Job().TargetFile = dir + "/out.RTF";
  d.Job().ExtendedConversion = true;
  d.Next();
  EXPECT_TRUE(Exists(dir + "/out.RTF.rtf"));
  EXPECT_EQ(engine.items, TkxItemsToRender::All());
}

TEST_F(DriverTest, PauseAfterThreeThenContinue) {
  doc.rotations.assign(10, 0);
  auto& d = Make();
  view.onEvents = [&] {
    if (d.PagesConverted() == 3 && d.Converting()) d.Pause();
  };
  d.Next();
  EXPECT_TRUE(d.Paused());
  EXPECT_EQ(d.PagesConverted(), 3);
  EXPECT_EQ(engine.endDocs, 0);
  EXPECT_EQ(doc.PageCount(), 7);
  view.onEvents = nullptr;
  d.Continue();
  EXPECT_EQ(d.PagesConverted(), 10);
  EXPECT_EQ(view.pageLabels[5], "4 out of 10 pages converted.");  // after "", 0..3
  EXPECT_EQ(view.pageLabels.back(), "10 out of 10 pages converted.");
  EXPECT_EQ(engine.endDocs, 1);
  EXPECT_TRUE(d.Saved());
}

TEST_F(DriverTest, BackWhilePausedEndsDocumentOnce) {
  doc.rotations.assign(4, 0);
  auto& d = Make();
  view.onEvents = [&] {
    if (d.PagesConverted() == 1 && d.Converting()) d.Pause();
  };
  d.Next();
  ASSERT_TRUE(d.Paused());
  EXPECT_TRUE(d.CanClose());
  d.Back();
  EXPECT_EQ(engine.endDocs, 1);
  EXPECT_FALSE(Exists(d.TempFile()));
  EXPECT_EQ(d.Screen(), TpwDriverScreen::Options);
  EXPECT_FALSE(Exists(dir + "/out.rtf"));
}

TEST_F(DriverTest, BackDuringStepEndsDocumentOnce) {
  doc.rotations.assign(4, 0);
  auto& d = Make();
  view.onEvents = [&] {
    if (d.PagesConverted() != 1 || !d.Converting()) return;
    EXPECT_FALSE(d.CanClose());
    d.Back();
  };
  d.Next();
  EXPECT_EQ(engine.endDocs, 1);
  EXPECT_EQ(d.PagesConverted(), 1);
  EXPECT_FALSE(Exists(dir + "/out.rtf"));
}

TEST_F(DriverTest, BackNotConfirmedChangesNothing) {
  doc.rotations.assign(3, 0);
  auto& d = Make();
  view.confirmAnswer = false;
  view.onEvents = [&] {
    if (d.PagesConverted() == 1) d.Back();
  };
  d.Next();
  EXPECT_EQ(d.PagesConverted(), 3);
  EXPECT_TRUE(d.Saved());
}

TEST_F(DriverTest, SaveRetries) {
  const std::string locked = "/nonexistent-folder/out.rtf";
  struct Case {
    bool ok;
    std::vector<std::string> names;
    int dialogs;
    bool saved;
  } cases[] = {
      {true, {locked, locked, locked}, 3, false},  // three dialogs, then ERROR!
      {false, {}, 1, false},                       // Cancel: one more try with the same name
      {true, {"@DIR/second.rtf"}, 1, true},        // a good name on the first retry
  };
  for (const auto& c : cases) {
    FakeDocument d1;
    d1.rotations = {0};
    FakeEngine e1;
    FakeView v1;
    v1.saveOk = c.ok;
    for (auto n : c.names) v1.saveNames.push_back(n == "@DIR/second.rtf" ? dir + "/second.rtf" : n);
    TpwConversionDriver drv(d1, e1, v1);
    drv.Job().TargetFile = locked;
    drv.Next();
    EXPECT_EQ(static_cast<int>(v1.saveLabels.size()), c.dialogs);
    EXPECT_EQ(v1.saveLabels.front(), "Attempt 1 out of 3.");
    EXPECT_EQ(drv.Saved(), c.saved);
    EXPECT_EQ(v1.doneCaption, c.saved ? "CONGRATULATIONS!" : "ERROR!");
  }
}

TEST_F(DriverTest, PasswordPolicy) {
  struct Case {
    std::string password;
    std::vector<std::string> typed;
    bool cancelAfter;
    std::vector<std::string> labels;
    bool loaded;
  } cases[] = {
      {"", {}, false, {}, true},  // empty user password: no prompt
      {"pw", {"pw"}, false, {"Attempt 1 out of 3."}, true},
      {"pw",
       {"a", "b", "c"},
       false,
       {"Attempt 1 out of 3.", "Wrong password.  Attempt 2 out of 3.", "Wrong password.  Attempt 3 out of 3."},
       false},
      {"pw", {"a"}, true, {"Attempt 1 out of 3.", "Wrong password.  Attempt 2 out of 3."}, false},
  };
  for (const auto& c : cases) {
    FakeDocument d1;
    d1.rotations = {0};
    d1.encrypted = true;
    d1.password = c.password;
    FakeEngine e1;
    FakeView v1;
    v1.typedPasswords = c.typed;
    TpwConversionDriver drv(d1, e1, v1);
    drv.Job().TargetFile = dir + "/p.rtf";
    drv.Next();
    EXPECT_EQ(v1.passwordLabels, c.labels);
    EXPECT_EQ(drv.DocumentLoaded(), c.loaded);
    if (!c.loaded) {
      ASSERT_EQ(v1.messages.size(), 1u);
      EXPECT_EQ(v1.messages[0], "Error... Impossible to read selected PDF file.");
      EXPECT_EQ(e1.beginDocs, 0);
    }
  }
}

TEST_F(DriverTest, LoadFailureAndRenderFailure) {
  doc.raiseOnLoad = true;
  auto& d = Make();
  d.Next();
  EXPECT_EQ(view.messages, (std::vector<std::string>{"Error... Impossible to read selected PDF file."}));
  EXPECT_FALSE(d.Converting());
  EXPECT_EQ(d.Screen(), TpwDriverScreen::Files);

  // A page that fails to draw is still counted.
  doc.raiseOnLoad = false;
  doc.rotations = {0, 0};
  engine.renderThrows = true;
  d.Next();
  EXPECT_EQ(d.PagesConverted(), 2);
  EXPECT_TRUE(d.Saved());
}

TEST(CopyFileAtomically, WritesWholeOrNothing) {
  char tmpl[] = "/tmp/pwcopy-XXXXXX";
  std::string dir = mkdtemp(tmpl);
  std::ofstream(dir + "/src") << "data";
  EXPECT_TRUE(CopyFileAtomically(dir + "/src", dir + "/dst"));
  std::ifstream in(dir + "/dst");
  std::string s;
  in >> s;
  EXPECT_EQ(s, "data");
  std::string err;
  EXPECT_FALSE(CopyFileAtomically(dir + "/missing", dir + "/dst2", &err));
  EXPECT_FALSE(err.empty());
  mkdir((dir + "/adir").c_str(), 0755);
  EXPECT_FALSE(CopyFileAtomically(dir + "/src", dir + "/adir", &err));
  // No stray temporary names are left behind.
  EXPECT_EQ(std::system(("test $(ls " + dir + " | wc -l) -eq 3").c_str()), 0);
  // A move renames: the source is gone, the target readable by others as
  // a new file would be; onto a folder it fails and the source stays.
  const mode_t mask = umask(022);
  std::ofstream(dir + "/moved") << "more";
  chmod((dir + "/moved").c_str(), 0600);
  EXPECT_TRUE(MoveFileAtomically(dir + "/moved", dir + "/dst"));
  EXPECT_NE(access((dir + "/moved").c_str(), F_OK), 0);
  std::ifstream again(dir + "/dst");
  again >> s;
  EXPECT_EQ(s, "more");
  struct stat st {};
  ASSERT_EQ(stat((dir + "/dst").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_FALSE(MoveFileAtomically(dir + "/src", dir + "/adir", &err));
  EXPECT_EQ(access((dir + "/src").c_str(), F_OK), 0);
  umask(mask);
  std::system(("rm -rf " + dir).c_str());
}
