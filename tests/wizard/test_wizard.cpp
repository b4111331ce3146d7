// The wizard driven as a user would: real windows on the offscreen
// platform, modal prompts answered by a responder that watches for them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <deque>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/wizard/pwAbout.h"
#include "app/wizard/pwCpuPriority.h"
#include "app/wizard/pwMain.h"
#include "app/wizard/pwPassword.h"
#include "app/wizard/pwSave.h"
#include "pdf/pdf_builder.h"

using namespace pw;

QT_BEGIN_NAMESPACE
// Readable failures for the many QString comparisons.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

namespace {

constexpr int kLongWaitMs = 20000;

// A document of `pages` pages, each with a line "page N" of Helvetica text
// and `extraLines` more lines below it.
std::string TextPdf(int pages, int extraLines = 0) {
  pwtest::PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  std::string kids;
  for (int i = 0; i < pages; ++i) kids += std::to_string(10 + i) + " 0 R ";
  b.Object(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) +
                  " /MediaBox [0 0 612 792] /Resources << /Font << /F1 5 0 R >> >> >>");
  b.Object(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  for (int i = 0; i < pages; ++i) {
    b.Object(10 + i, "<< /Type /Page /Parent 2 0 R /Contents " + std::to_string(10 + pages + i) + " 0 R >>");
    std::string text = "BT /F1 12 Tf 72 720 Td (page " + std::to_string(i + 1) + ") Tj";
    for (int l = 0; l < extraLines; ++l) text += " 0 -14 Td (line " + std::to_string(l) + " of a long page) Tj";
    b.Stream(10 + pages + i, "", text + " ET");
  }
  size_t at = b.XRefTable("/Size " + std::to_string(10 + 2 * pages) + " /Root 1 0 R");
  b.StartXRef(at);
  return b.bytes;
}

void WriteFile(const QString& name, const std::string& bytes) {
  std::ofstream(name.toStdString(), std::ios::binary) << bytes;
}

std::string ReadFile(const QString& name) {
  std::ifstream in(name.toStdString(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs the window's events until `done` holds, checking every millisecond
// or two (QTest::qWaitFor sleeps between its looks, too long for a pause
// that must land mid-conversion).
bool WaitFor(const std::function<bool()>& done, int timeoutMs = kLongWaitMs) {
  if (done()) return true;
  QEventLoop loop;
  QTimer poll;
  poll.setInterval(1);
  QObject::connect(&poll, &QTimer::timeout, [&]() {
    if (done()) loop.quit();
  });
  QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
  poll.start();
  loop.exec();
  return done();
}

// Answers the modal windows as they come up and records what they said.
class ModalResponder {
 public:
  struct SaveAnswer {
    QString name;  // typed into the field before the button
    bool ok;
  };
  ModalResponder() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this]() { Poll(); });
    timer_.start();
  }

  std::deque<QString> passwords;  // typed in turn; none left: Cancel
  std::deque<SaveAnswer> saves;   // none left: Cancel
  bool confirm = true;
  std::vector<QString> seen;  // "<title>|<text>" of every window answered
  bool passwordCloseRefused = true;
  bool blankSaveRefused = true;

 private:
  void Poll() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || !w->isVisible()) return;
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      seen.push_back(box->windowTitle() + "|" + box->text());
      QAbstractButton* b = box->button(confirm ? QMessageBox::Yes : QMessageBox::No);
      if (!b) b = box->button(QMessageBox::Ok);
      b->click();
    } else if (auto* pass = qobject_cast<TfmPass*>(w)) {
      seen.push_back(pass->windowTitle() + "|" + pass->lblPassInfo->text());
      // Closing with the window's close command is refused.
      pass->close();
      passwordCloseRefused = passwordCloseRefused && pass->isVisible();
      if (passwords.empty()) {
        QTest::keyClick(pass, Qt::Key_Escape);
      } else {
        pass->edPass->setText(passwords.front());
        passwords.pop_front();
        pass->btnOkPass->click();
      }
    } else if (auto* save = qobject_cast<TfmSave*>(w)) {
      seen.push_back(save->windowTitle() + "|" + save->lblPassInfo->text() + "|" + save->edSaveNewRTF->Text());
      if (saves.empty()) {
        save->btnSaveCancel->click();
        return;
      }
      // OK with a blank name keeps the form up.
      save->edSaveNewRTF->SetText("  ");
      save->btnSaveOK->click();
      blankSaveRefused = blankSaveRefused && save->isVisible();
      SaveAnswer a = saves.front();
      saves.pop_front();
      save->edSaveNewRTF->SetText(a.name);
      (a.ok ? save->btnSaveOK : save->btnSaveCancel)->click();
    } else if (auto* about = qobject_cast<TfmAbout*>(w)) {
      // A click anywhere on it closes it.
      seen.push_back(about->windowTitle());
      QTest::mouseClick(about, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
    } else {
      seen.push_back("unexpected|" + QString(w->metaObject()->className()));
      w->close();
    }
  }
  QTimer timer_;
};

class WizardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    form = std::make_unique<TfmMain>();
    form->show();
  }
  void TearDown() override {
    // Whatever a failed test left running is wound down before the window goes.
    EXPECT_TRUE(WaitFor([this]() { return !form->WorkerBusy(); }, kLongWaitMs));
    form.reset();
  }
  QString Path(const QString& name) const { return dir.filePath(name); }
  QString SmallPdf(int pages = 2) {
    QString name = Path(QString("doc%1.pdf").arg(pages));
    WriteFile(name, TextPdf(pages));
    return name;
  }
  // From the pick through the options screen to the end of the conversion.
  void Convert(const QString& pdf, const QString& target = QString()) {
    form->PickPdf(pdf);
    if (!target.isNull()) form->docFileSaveEdit->SetText(target);
    form->btnNext->click();
    ASSERT_TRUE(form->pnlStart->isVisible());
    form->btnNext->click();
    WaitForRest();
  }
  // Until the conversion has ended (done screen or back at the start).
  void WaitForRest() {
    ASSERT_TRUE(
        WaitFor([this]() { return !form->WorkerBusy() && (form->pnlDone->isVisible() || form->pnlInit->isVisible()); },
                kLongWaitMs));
  }

  QTemporaryDir dir;
  std::unique_ptr<TfmMain> form;
};

TEST_F(WizardTest, PickingEnablesNextAndBackAndNextMoveBetweenScreens) {
  EXPECT_TRUE(form->pnlInit->isVisible());
  EXPECT_FALSE(form->btnNext->isEnabled());
  EXPECT_FALSE(form->btnBack->isEnabled());
  EXPECT_FALSE(form->btnSave->isEnabled());
  EXPECT_TRUE(form->btnPause->isHidden());
  EXPECT_TRUE(form->btnContinue->isHidden());
  EXPECT_TRUE(form->btnFinish->isHidden());

  QString pdf = SmallPdf();
  form->PickPdf(pdf);
  EXPECT_EQ(form->docFileSaveEdit->Text(), pdf + ".rtf");
  EXPECT_TRUE(form->btnNext->isEnabled());
  EXPECT_TRUE(form->btnSave->isEnabled());
  // Clearing either name disables Next; typing one in does not enable it.
  form->docFileSaveEdit->SetText("");
  EXPECT_FALSE(form->btnNext->isEnabled());
  form->docFileSaveEdit->SetText(pdf + ".rtf");
  EXPECT_FALSE(form->btnNext->isEnabled());
  form->PickPdf(pdf);
  form->pdfFileOpenEdit->SetText("");
  EXPECT_FALSE(form->btnNext->isEnabled());
  form->PickPdf(pdf);

  form->btnNext->click();
  EXPECT_TRUE(form->pnlStart->isVisible());
  EXPECT_FALSE(form->pnlInit->isVisible());
  EXPECT_EQ(form->btnNext->text(), "Start");
  EXPECT_TRUE(form->btnBack->isEnabled());
  form->btnBack->click();
  EXPECT_TRUE(form->pnlInit->isVisible());
  EXPECT_EQ(form->btnNext->text(), "Next");
  EXPECT_FALSE(form->btnBack->isEnabled());

  // A PDF dropped on the window counts as picked; its folder is remembered.
  QString other = Path("dropped.pdf");
  WriteFile(other, TextPdf(1));
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(other)});
  QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(form.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(form.get(), &drop);
  EXPECT_EQ(form->pdfFileOpenEdit->Text(), other);
  EXPECT_EQ(form->docFileSaveEdit->Text(), other + ".rtf");
  EXPECT_TRUE(form->btnNext->isEnabled());
  EXPECT_EQ(TpwFileNameEdit::LastFolder(), dir.path());

  // A name that names no file: a warning, and the start screen stays.
  ModalResponder responder;
  form->pdfFileOpenEdit->SetText(Path("gone.pdf"));
  form->docFileSaveEdit->SetText(Path("gone.pdf.rtf"));
  form->btnNext->setEnabled(true);
  form->btnNext->click();
  EXPECT_TRUE(form->pnlInit->isVisible());
  ASSERT_EQ(responder.seen.size(), 1u);
  EXPECT_EQ(responder.seen[0], "Warning...|File \"" + Path("gone.pdf") + "\" does not exist!");

  form->btnAbout->click();
  ASSERT_EQ(responder.seen.size(), 2u);
  EXPECT_EQ(responder.seen[1], " About");
}

TEST_F(WizardTest, ExtendedModeEnablesFormatAndQuality) {
  EXPECT_TRUE(form->rbStandardConversion->isChecked());
  EXPECT_EQ(form->cbPaperSize->currentText(), "A4");
  EXPECT_EQ(form->cbImageFormat->currentText(), "JPEG");
  EXPECT_EQ(form->seImagesQuality->value(), 100);
  EXPECT_FALSE(form->cbImageFormat->isEnabled());
  EXPECT_FALSE(form->seImagesQuality->isEnabled());

  form->rbExtendedConversion->click();
  EXPECT_TRUE(form->cbImageFormat->isEnabled());
  EXPECT_TRUE(form->seImagesQuality->isEnabled());
  form->seImagesQuality->setValue(40);
  form->cbImageFormat->setCurrentText("BMP");
  EXPECT_EQ(form->seImagesQuality->value(), 100);
  EXPECT_FALSE(form->seImagesQuality->isEnabled());
  form->cbImageFormat->setCurrentText("JPEG");
  EXPECT_TRUE(form->seImagesQuality->isEnabled());
  form->cbImageFormat->setCurrentText("PNG");
  form->rbStandardConversion->click();
  EXPECT_FALSE(form->cbImageFormat->isEnabled());
  EXPECT_FALSE(form->seImagesQuality->isEnabled());
  // Back to extended: both again, whatever the format.
  form->rbExtendedConversion->click();
  EXPECT_TRUE(form->cbImageFormat->isEnabled());
  EXPECT_TRUE(form->seImagesQuality->isEnabled());
}

TEST_F(WizardTest, ConvertsToTheDoneScreenAndAgain) {
  ModalResponder responder;
  QString pdf = SmallPdf(3);
  form->rbExtendedConversion->click();
  Convert(pdf, Path("report"));
  ASSERT_TRUE(form->pnlDone->isVisible());
  EXPECT_EQ(form->lblDoneCapt->text(), "CONGRATULATIONS!");
  EXPECT_EQ(form->lblDoneInfo->text(), "The PDF file was successfully converted and saved.");
  EXPECT_TRUE(form->imgDoneOK->isVisible());
  EXPECT_FALSE(form->imgDoneError->isVisible());
  EXPECT_EQ(form->lblPagesInfo->text(), "3 out of 3 pages converted.");
  // The ".rtf" rule shows in the target field.
  EXPECT_EQ(form->docFileSaveEdit->Text(), Path("report.rtf"));
  std::string rtf = ReadFile(Path("report.rtf"));
  EXPECT_EQ(rtf.rfind("{\\rtf", 0), 0u);
  EXPECT_NE(rtf.find("page 3"), std::string::npos);
  EXPECT_TRUE(form->btnFinish->isVisible());
  EXPECT_EQ(form->btnFinish->x(), form->btnNext->x());
  EXPECT_TRUE(form->btnNext->isHidden());
  EXPECT_TRUE(form->btnBack->isHidden());
  EXPECT_TRUE(responder.seen.empty());

  form->btnNewConv->click();
  EXPECT_TRUE(form->pnlInit->isVisible());
  EXPECT_TRUE(form->pdfFileOpenEdit->Text().isEmpty());
  EXPECT_FALSE(form->btnNext->isEnabled());
  Convert(SmallPdf(1));
  ASSERT_TRUE(form->pnlDone->isVisible());
  EXPECT_EQ(form->lblPagesInfo->text(), "1 out of 1 pages converted.");
  EXPECT_TRUE(QFile::exists(SmallPdf(1) + ".rtf"));
  // Finish closes the window.
  form->btnFinish->click();
  EXPECT_FALSE(form->isVisible());
}

class PauseTest : public WizardTest {
 protected:
  static constexpr int kPages = 150;
  void SetUp() override {
    WizardTest::SetUp();
    pdf = Path("long.pdf");
    WriteFile(pdf, TextPdf(kPages, 40));
    // Pause is clicked when the first page is counted, and the conversion
    // waits for the click, so the pause lands right after that page.
    form->Worker().SetPageObserver([this](int pagesDone) {
      if (pagesDone != 1 || !pauseNext) return;
      pauseNext = false;
      QMetaObject::invokeMethod(
          form.get(), [this]() { form->btnPause->click(); }, Qt::BlockingQueuedConnection);
    });
  }
  // Starts from the options screen and waits until the pause has landed.
  void StartAndPause() {
    ASSERT_TRUE(form->pnlStart->isVisible());
    pauseNext = true;
    form->btnNext->click();
    ASSERT_TRUE(WaitFor([&]() { return form->btnContinue->isVisible() && !form->WorkerBusy(); }))
        << form->lblPagesInfo->text().toStdString();
    EXPECT_TRUE(form->btnPause->isHidden());
    EXPECT_EQ(form->btnContinue->x(), form->btnNext->x());
    EXPECT_TRUE(form->btnBack->isEnabled());
  }

  QString pdf;
  std::atomic<bool> pauseNext{false};
};

TEST_F(PauseTest, ContinueFinishesTheFile) {
  ModalResponder responder;
  form->PickPdf(pdf);
  form->btnNext->click();
  StartAndPause();
  QString paused = form->lblPagesInfo->text();
  EXPECT_EQ(paused, QString("1 out of %1 pages converted.").arg(kPages));
  WaitFor([]() { return false; }, 100);
  EXPECT_EQ(form->lblPagesInfo->text(), paused);  // nothing moves while paused

  // Back answered No changes nothing.
  responder.confirm = false;
  form->btnBack->click();
  ASSERT_TRUE(WaitFor([&]() { return responder.seen.size() == 1 && !form->WorkerBusy(); }));
  EXPECT_EQ(responder.seen[0], "Confirmation...|Are you sure to stop converting and return to the previous screen?");
  EXPECT_TRUE(form->pnlConverting->isVisible());
  EXPECT_TRUE(form->btnContinue->isVisible());

  form->rbCPUPriHigh->click();
  EXPECT_TRUE(form->Priority().High());
  form->btnContinue->click();
  WaitForRest();
  ASSERT_TRUE(form->pnlDone->isVisible());
  EXPECT_EQ(form->lblDoneCapt->text(), "CONGRATULATIONS!");
  EXPECT_EQ(form->lblPagesInfo->text(), QString("%1 out of %1 pages converted.").arg(kPages));
  std::string rtf = ReadFile(pdf + ".rtf");
  EXPECT_NE(rtf.find("page 1"), std::string::npos);
  EXPECT_NE(rtf.find("page 150"), std::string::npos);
  EXPECT_EQ(responder.seen.size(), 1u);
}

TEST_F(PauseTest, BackLeadsToTheOptionsAndClosingWhilePausedIsAllowed) {
  ModalResponder responder;
  form->PickPdf(pdf);
  form->btnNext->click();
  StartAndPause();
  form->btnBack->click();
  ASSERT_TRUE(WaitFor([&]() { return form->pnlStart->isVisible() && !form->WorkerBusy(); }));
  EXPECT_EQ(form->btnNext->text(), "Start");
  EXPECT_TRUE(form->btnNext->isVisible());
  EXPECT_TRUE(form->btnContinue->isHidden());
  EXPECT_FALSE(QFile::exists(pdf + ".rtf"));

  // Again from the options screen; this time the window is closed while paused.
  StartAndPause();
  EXPECT_TRUE(form->close());
  EXPECT_FALSE(QFile::exists(pdf + ".rtf"));
}

TEST_F(WizardTest, PasswordFormThreeTriesThenTheRightOne) {
  const QString encrypted = PW_SOURCE_DIR "/tests/pdf/data/rc4-128-objstm-user-secret.pdf";
  ASSERT_TRUE(QFile::exists(encrypted));
  QString pdf = Path("locked.pdf");
  ASSERT_TRUE(QFile::copy(encrypted, pdf));

  ModalResponder responder;
  responder.passwords = {"one", "two", "three"};
  Convert(pdf);
  const std::vector<QString> expected = {
      " Password protection|Attempt 1 out of 3.",
      " Password protection|Wrong password.  Attempt 2 out of 3.",
      " Password protection|Wrong password.  Attempt 3 out of 3.",
      "Error...|Impossible to read selected PDF file.",
  };
  EXPECT_EQ(responder.seen, expected);
  EXPECT_TRUE(responder.passwordCloseRefused);
  EXPECT_TRUE(form->pnlInit->isVisible());
  EXPECT_TRUE(form->pdfFileOpenEdit->Text().isEmpty());
  EXPECT_TRUE(form->docFileSaveEdit->Text().isEmpty());

  // The next try starts counting afresh; the right word opens it.
  responder.seen.clear();
  responder.passwords = {"wrong", "secret"};
  Convert(pdf);
  ASSERT_TRUE(form->pnlDone->isVisible());
  EXPECT_EQ(form->lblDoneCapt->text(), "CONGRATULATIONS!");
  ASSERT_EQ(responder.seen.size(), 2u);
  EXPECT_EQ(responder.seen[0], " Password protection|Attempt 1 out of 3.");
  EXPECT_TRUE(QFile::exists(pdf + ".rtf"));

  // Escape cancels at once.
  form->btnNewConv->click();
  responder.seen.clear();
  Convert(pdf);
  ASSERT_EQ(responder.seen.size(), 2u);
  EXPECT_EQ(responder.seen[1], "Error...|Impossible to read selected PDF file.");
  EXPECT_TRUE(form->pnlInit->isVisible());
}

TEST_F(WizardTest, UnwritableTargetBringsUpTheSaveRetryForm) {
  ModalResponder responder;
  QString pdf = SmallPdf();
  // A folder that does not exist cannot take the file, whoever runs this.
  const QString bad = Path("no-such-folder/out.rtf");
  responder.saves = {{Path("retry"), true}};
  Convert(pdf, bad);
  ASSERT_TRUE(form->pnlDone->isVisible());
  ASSERT_EQ(responder.seen.size(), 1u);
  EXPECT_EQ(responder.seen[0], "Save result as...|Attempt 1 out of 3.|" + bad);
  EXPECT_TRUE(responder.blankSaveRefused);
  EXPECT_EQ(form->lblDoneCapt->text(), "CONGRATULATIONS!");
  EXPECT_TRUE(QFile::exists(Path("retry.rtf")));  // typed without extension, completed

  // Three failures in a row end in the error screen.
  form->btnNewConv->click();
  responder.seen.clear();
  responder.saves = {{bad, true}, {bad, true}, {bad, true}};
  Convert(pdf, bad);
  ASSERT_TRUE(form->pnlDone->isVisible());
  EXPECT_EQ(responder.seen.size(), 3u);
  EXPECT_EQ(form->lblDoneCapt->text(), "ERROR!");
  EXPECT_EQ(form->lblDoneInfo->text(), "Impossible to write selected RTF file.  It may be in use.");
  EXPECT_TRUE(form->imgDoneError->isVisible());
  EXPECT_FALSE(form->imgDoneOK->isVisible());
}

TEST_F(WizardTest, BadFilesGiveTheReadErrorAndTheNextFileConverts) {
  ModalResponder responder;
  const std::string good = TextPdf(2);
  struct Case {
    const char* name;
    std::string bytes;
    bool vanish;
  } cases[] = {
      {"text.pdf", "This is a plain text file, not a PDF.\n", false},
      {"damaged.pdf",
       "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n2 0 obj\n<< /Type /Pages /Kids [3 0 R] "
       "/Count 1 >>\nendobj\n3 0 obj\n<< /Type /Page /Parent 2 0 R /Conte",
       false},
      {"vanished.pdf", good, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    responder.seen.clear();
    QString pdf = Path(c.name);
    WriteFile(pdf, c.bytes);
    form->PickPdf(pdf);
    form->btnNext->click();
    ASSERT_TRUE(form->pnlStart->isVisible());
    if (c.vanish) QFile::remove(pdf);
    form->btnNext->click();
    WaitForRest();
    ASSERT_EQ(responder.seen.size(), 1u);
    EXPECT_EQ(responder.seen[0], "Error...|Impossible to read selected PDF file.");
    EXPECT_TRUE(form->pnlInit->isVisible());
    EXPECT_FALSE(form->btnNext->isEnabled());
    EXPECT_TRUE(form->btnAbout->isEnabled());
  }
  responder.seen.clear();
  Convert(SmallPdf());
  EXPECT_TRUE(form->pnlDone->isVisible());
  EXPECT_TRUE(responder.seen.empty());
}

TEST(CpuPriority, NormalLowersOnlyTheHelperAndHighKeepsTheStart) {
  TpwCpuPriority priority;
  const int start = TpwCpuPriority::CurrentNice();
  int seen = -100;
  priority.Run([&]() { seen = TpwCpuPriority::CurrentNice(); });
  // Lowering can fail only at the bottom of the range.
  if (start + TpwCpuPriority::kLowering <= 19) {
    EXPECT_EQ(seen, start + TpwCpuPriority::kLowering);
  }
  EXPECT_EQ(TpwCpuPriority::CurrentNice(), start);
  priority.SetHigh(true);
  priority.Run([&]() { seen = TpwCpuPriority::CurrentNice(); });
  EXPECT_EQ(seen, start);
  priority.SetHigh(false);
  EXPECT_THROW(priority.Run([]() { throw std::runtime_error("page failed"); }), std::runtime_error);
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setOrganizationName("Paperwright");
  QApplication::setApplicationName("paperwright-wizard-test");
  QTemporaryDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  return RUN_ALL_TESTS();
}
