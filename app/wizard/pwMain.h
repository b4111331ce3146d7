// The main window: a wizard of four screens (pick the files, choose the
// options, converting, done) under a header band and above a button bar.
// The conversion itself runs in a TpwWizardWorker; the window is its view.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QWidget>
#include <memory>

#include "app/wizard/pwBusyAnimation.h"
#include "app/wizard/pwFileNameEdit.h"
#include "app/wizard/pwWizardWorker.h"

namespace pw {

class TfmPass;
class TfmSave;
class TfmAbout;

class TfmMain : public QWidget, public IpwWizardScreens {
  Q_OBJECT
 public:
  explicit TfmMain(QWidget* parent = nullptr);
  ~TfmMain() override;

  // A PDF named on the command line or dropped on the window counts as one
  // picked in the browse dialog.
  void PickPdf(const QString& fileName);

  // The worker has no action queued or running.
  bool WorkerBusy() const { return !worker_->Idle(); }
  TpwCpuPriority& Priority() { return worker_->Priority(); }
  TpwWizardWorker& Worker() { return *worker_; }
  // The forms, once they have been used.
  TfmPass* PasswordForm() const { return fmPass_; }
  TfmSave* SaveForm() const { return fmSave_; }

  bool FirstActivation = true;
  bool PasswordAccepted = false;

  // Screens.
  QWidget* pnlInit;
  QWidget* pnlStart;
  QWidget* pnlConverting;
  QWidget* pnlDone;
  // Button bar.
  QPushButton* btnAbout;
  QPushButton* btnFinish;
  QPushButton* btnPause;
  QPushButton* btnContinue;
  QPushButton* btnBack;
  QPushButton* btnNext;
  // Files.
  TpwFileNameEdit* pdfFileOpenEdit;
  QPushButton* btnOpen;
  TpwFileNameEdit* docFileSaveEdit;
  QPushButton* btnSave;
  // Options.
  QComboBox* cbPaperSize;
  QRadioButton* rbStandardConversion;
  QRadioButton* rbExtendedConversion;
  QComboBox* cbImageFormat;
  QSpinBox* seImagesQuality;
  // Converting.
  QLabel* lblConvertingCaption;
  QProgressBar* pbConverting;
  QRadioButton* rbCPUPriNormal;
  QRadioButton* rbCPUPriHigh;
  TpwBusyAnimation* aniBusy;
  QLabel* lblPagesInfo;
  // Done.
  QLabel* lblDoneCapt;
  QLabel* imgDoneOK;
  QLabel* imgDoneError;
  QLabel* lblDoneInfo;
  QPushButton* btnNewConv;

  // IpwWizardScreens.
  void ShowMessage(TpwMessageKind kind, const std::string& text, const std::string& title) override;
  bool Confirm(const std::string& text, const std::string& title) override;
  bool AskPassword(const std::string& label, std::string& password) override;
  bool AskSaveName(const std::string& label, std::string& name) override;
  void ScreenChanged(TpwDriverScreen screen) override;
  void SetCaption(const std::string& caption) override;
  void SetPagesLabel(const std::string& label) override;
  void SetProgress(int value, int maximum) override;
  void TargetNameChanged(const std::string& name) override;
  void ShowDone(bool saved, const std::string& caption, const std::string& text) override;
  void ResetWizard() override;
  void WorkerIdle() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildHeaderAndBar();
  void BuildInit();
  void BuildStart();
  void BuildConverting();
  void BuildDone();
  void ShowScreen(QWidget* screen);
  void MoveToNext(QPushButton* button);
  QString DroppedPdf(const QMimeData* data) const;

  void FormActivate();
  void btnOpenClick();
  void btnSaveClick();
  void pdfFileOpenEditDlgChange(const QString& fileName);
  void pdfFileOpenEditChange();
  void btnNextClick();
  void btnBackClick();
  void btnPauseClick();
  void btnContinueClick();
  void btnNewConvClick();
  void btnFinishClick();
  void btnAboutClick();
  void cbImageFormatChange();
  void rbStandardConversionClick();
  void rbExtendedConversionClick();
  void rbCPUPriNormalClick();
  void rbCPUPriHighClick();
  void StartConversion();

  qreal scale_;
  QWidget* buttonBar_ = nullptr;
  QWidget* screenArea_ = nullptr;
  TfmPass* fmPass_ = nullptr;
  TfmSave* fmSave_ = nullptr;
  TfmAbout* fmAbout_ = nullptr;
  bool converting_ = false;  // the worker's screen is Loading or Converting
  std::unique_ptr<TpwWizardWorker> worker_;
};

}  // namespace pw
