#include "app/wizard/pwMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

#include "app/wizard/pwAbout.h"
#include "app/wizard/pwArtwork.h"
#include "app/wizard/pwGuardedDialog.h"
#include "app/wizard/pwPassword.h"
#include "app/wizard/pwSave.h"

namespace pw {

namespace {

const char* const kTitle = "Paperwright";

// Measures of the button bar, in the window's design pixels.
constexpr int kButtonTop = 9;
constexpr int kButtonWidth = 105;
constexpr int kButtonHeight = 30;
constexpr int kNextLeft = 458;

class TpwHeaderBand : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    art::PaintHeader(p, rect(), font());
  }
};

// The button bar, with its grey line along the top.
class TpwButtonBar : public QWidget {
 public:
  TpwButtonBar(qreal scale, QWidget* parent) : QWidget(parent), scale_(scale) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), QColor(248, 248, 248));
    p.fillRect(QRect(0, 0, width(), art::Scaled(scale_, 5)), QColor(192, 192, 192));
  }

 private:
  qreal scale_;
};

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

}  // namespace

TfmMain::TfmMain(QWidget* parent) : QWidget(parent) {
  // FormCreate.
  setObjectName("fmMain");
  setWindowTitle(kTitle);
  QApplication::setApplicationDisplayName(kTitle);
  setWindowIcon(art::ProgramIcon());
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  setPalette(pal);
  setAcceptDrops(true);
  scale_ = art::UiScale(font());

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  auto* header = new TpwHeaderBand(this);
  header->setFixedHeight(art::Scaled(scale_, 81));
  column->addWidget(header);
  screenArea_ = new QWidget(this);
  screenArea_->setFixedHeight(art::Scaled(scale_, 282));
  auto* screens = new QGridLayout(screenArea_);
  screens->setContentsMargins(0, 0, 0, 0);
  column->addWidget(screenArea_);
  buttonBar_ = new TpwButtonBar(scale_, this);
  buttonBar_->setFixedHeight(art::Scaled(scale_, 44));
  column->addWidget(buttonBar_);

  BuildHeaderAndBar();
  BuildInit();
  BuildStart();
  BuildConverting();
  BuildDone();
  for (QWidget* screen : {pnlInit, pnlStart, pnlConverting, pnlDone}) screens->addWidget(screen, 0, 0);
  setFixedSize(art::Scaled(scale_, 568), art::Scaled(scale_, 407));
  if (QScreen* screen = QGuiApplication::primaryScreen()) move(screen->availableGeometry().center() - rect().center());

  worker_ = std::make_unique<TpwWizardWorker>(this, *this);
  worker_->StartThread();
  FormActivate();
}

TfmMain::~TfmMain() { worker_.reset(); }

void TfmMain::BuildHeaderAndBar() {
  auto make = [this](const char* name, const QString& caption, int left, QStyle::StandardPixmap icon) {
    QPushButton* b = FaceButton(name, icon, caption, buttonBar_);
    b->setGeometry(art::Scaled(scale_, left), art::Scaled(scale_, kButtonTop), art::Scaled(scale_, kButtonWidth),
                   art::Scaled(scale_, kButtonHeight));
    return b;
  };
  btnAbout = make("btnAbout", "About...", 8, QStyle::SP_MessageBoxInformation);
  btnFinish = make("btnFinish", "Finish", 79, QStyle::SP_DialogApplyButton);
  btnPause = make("btnPause", "Pause", 162, QStyle::SP_MediaPause);
  btnContinue = make("btnContinue", "Continue", 249, QStyle::SP_MediaPlay);
  btnBack = make("btnBack", "Back", 352, QStyle::SP_ArrowBack);
  btnNext = make("btnNext", "Next", kNextLeft, QStyle::SP_ArrowForward);
  // The arrow of Next stands at its right.
  btnNext->setLayoutDirection(Qt::RightToLeft);
  btnFinish->hide();

  connect(btnAbout, &QPushButton::clicked, this, &TfmMain::btnAboutClick);
  connect(btnFinish, &QPushButton::clicked, this, &TfmMain::btnFinishClick);
  connect(btnPause, &QPushButton::clicked, this, &TfmMain::btnPauseClick);
  connect(btnContinue, &QPushButton::clicked, this, &TfmMain::btnContinueClick);
  connect(btnBack, &QPushButton::clicked, this, &TfmMain::btnBackClick);
  connect(btnNext, &QPushButton::clicked, this, &TfmMain::btnNextClick);
}

// Each screen has the small program image at its top right.
static QHBoxLayout* TopRow(QLabel* first, QWidget* second, qreal scale, QWidget* screen) {
  auto* row = new QHBoxLayout;
  row->addWidget(first);
  if (second) row->addWidget(second);
  row->addStretch(1);
  auto* logo = new QLabel(screen);
  const int size = art::Scaled(scale, 28);
  logo->setPixmap(art::ProgramImage(size, screen->devicePixelRatioF()));
  logo->setFixedSize(size, size);
  row->addWidget(logo, 0, Qt::AlignTop);
  return row;
}

void TfmMain::BuildInit() {
  pnlInit = new QWidget(screenArea_);
  pnlInit->setObjectName("pnlInit");
  auto* col = new QVBoxLayout(pnlInit);
  const int m = art::Scaled(scale_, 20);
  col->setContentsMargins(m, art::Scaled(scale_, 8), m, art::Scaled(scale_, 8));
  col->setSpacing(art::Scaled(scale_, 4));

  pdfFileOpenEdit = new TpwFileNameEdit(TpwFileNameEdit::TpwMode::Open, "PDF files (*.pdf)", "pdf", pnlInit);
  pdfFileOpenEdit->setObjectName("pdfFileOpenEdit");
  docFileSaveEdit = new TpwFileNameEdit(TpwFileNameEdit::TpwMode::Save, "RTF files (*.rtf)", ".rtf", pnlInit);
  docFileSaveEdit->setObjectName("docFileSaveEdit");
  btnOpen = FaceButton("btnOpen", QStyle::SP_DirOpenIcon, "Open...", pnlInit);
  btnSave = FaceButton("btnSave", QStyle::SP_DialogSaveButton, "Save as...", pnlInit);
  for (QPushButton* b : {btnOpen, btnSave})
    b->setFixedSize(art::Scaled(scale_, kButtonWidth), art::Scaled(scale_, kButtonHeight));

  col->addLayout(TopRow(BoldLabel("Step 1:", pnlInit), nullptr, scale_, pnlInit));
  col->addWidget(new QLabel("Click \"Open...\" to select the PDF file you want to convert:", pnlInit));
  auto* openRow = new QHBoxLayout;
  openRow->addWidget(pdfFileOpenEdit, 1);
  openRow->addWidget(btnOpen);
  col->addLayout(openRow);
  col->addSpacing(art::Scaled(scale_, 8));
  col->addWidget(BoldLabel("Step 2:", pnlInit));
  col->addWidget(
      new QLabel("Click \"Save as...\" to change the default name and location of a converted RTF file:", pnlInit));
  auto* saveRow = new QHBoxLayout;
  saveRow->addWidget(docFileSaveEdit, 1);
  saveRow->addWidget(btnSave);
  col->addLayout(saveRow);
  col->addSpacing(art::Scaled(scale_, 8));
  col->addWidget(BoldLabel("Step 3:", pnlInit));
  col->addWidget(new QLabel("Click \"Next\" after you have completed the steps above", pnlInit));
  col->addStretch(1);

  connect(btnOpen, &QPushButton::clicked, this, &TfmMain::btnOpenClick);
  connect(btnSave, &QPushButton::clicked, this, &TfmMain::btnSaveClick);
  connect(pdfFileOpenEdit, &TpwFileNameEdit::DlgChange, this, &TfmMain::pdfFileOpenEditDlgChange);
  connect(pdfFileOpenEdit, &TpwFileNameEdit::Changed, this, &TfmMain::pdfFileOpenEditChange);
  connect(docFileSaveEdit, &TpwFileNameEdit::Changed, this, &TfmMain::pdfFileOpenEditChange);
}

void TfmMain::BuildStart() {
  pnlStart = new QWidget(screenArea_);
  pnlStart->setObjectName("pnlStart");
  auto* col = new QVBoxLayout(pnlStart);
  const int m = art::Scaled(scale_, 20);
  col->setContentsMargins(m, art::Scaled(scale_, 8), m, art::Scaled(scale_, 8));
  col->setSpacing(art::Scaled(scale_, 3));

  cbPaperSize = new QComboBox(pnlStart);
  cbPaperSize->setObjectName("cbPaperSize");
  cbPaperSize->addItems({"A3", "A4", "Letter", "A5", "B4", "B5", "ISO-B4"});
  cbPaperSize->setCurrentText("A4");
  rbStandardConversion = new QRadioButton("Standard conversion", pnlStart);
  rbStandardConversion->setObjectName("rbStandardConversion");
  rbStandardConversion->setChecked(true);
  rbExtendedConversion = new QRadioButton("Extended conversion", pnlStart);
  rbExtendedConversion->setObjectName("rbExtendedConversion");
  cbImageFormat = new QComboBox(pnlStart);
  cbImageFormat->setObjectName("cbImageFormat");
  cbImageFormat->addItems({"JPEG", "BMP", "PNG", "Metafile"});
  cbImageFormat->setCurrentText("JPEG");
  cbImageFormat->setEnabled(false);
  seImagesQuality = new QSpinBox(pnlStart);
  seImagesQuality->setObjectName("seImagesQuality");
  seImagesQuality->setRange(1, 100);
  seImagesQuality->setValue(100);
  seImagesQuality->setEnabled(false);
  // Only the arrows change the value.
  if (auto* edit = seImagesQuality->findChild<QLineEdit*>()) edit->setReadOnly(true);
  const int field = art::Scaled(scale_, 110);
  cbPaperSize->setFixedWidth(field);
  cbImageFormat->setFixedWidth(field);
  seImagesQuality->setFixedWidth(art::Scaled(scale_, 64));

  auto* step4 = new QLabel("Select your converting options:", pnlStart);
  col->addLayout(TopRow(BoldLabel("Step 4:", pnlStart), step4, scale_, pnlStart));

  auto* grid = new QGridLayout;
  grid->setContentsMargins(art::Scaled(scale_, 16), 0, 0, 0);
  grid->setHorizontalSpacing(art::Scaled(scale_, 8));
  grid->setVerticalSpacing(art::Scaled(scale_, 3));
  grid->addWidget(new QLabel("Document paper size:", pnlStart), 0, 0);
  grid->addWidget(cbPaperSize, 0, 1, Qt::AlignLeft);
  grid->addWidget(new QLabel("PDF conversion mode:", pnlStart), 1, 0);
  grid->addWidget(rbStandardConversion, 2, 0, 1, 3);
  auto* extRow = new QHBoxLayout;
  extRow->addWidget(rbExtendedConversion);
  extRow->addWidget(SmallLabel("(with image support)", pnlStart));
  extRow->addStretch(1);
  grid->addLayout(extRow, 3, 0, 1, 3);
  auto* imageBox = new QGridLayout;
  imageBox->setContentsMargins(art::Scaled(scale_, 22), 0, 0, 0);
  imageBox->setHorizontalSpacing(art::Scaled(scale_, 8));
  imageBox->addWidget(new QLabel("Image format:", pnlStart), 0, 0);
  imageBox->addWidget(cbImageFormat, 0, 1, Qt::AlignLeft);
  imageBox->addWidget(new QLabel("Image quality:", pnlStart), 1, 0);
  auto* qualityRow = new QHBoxLayout;
  qualityRow->addWidget(seImagesQuality);
  qualityRow->addWidget(new QLabel("%", pnlStart));
  qualityRow->addStretch(1);
  imageBox->addLayout(qualityRow, 1, 1);
  imageBox->addWidget(SmallLabel("(Lower quality makes RTF file size smaller)", pnlStart), 2, 0, 1, 3);
  imageBox->setColumnStretch(2, 1);
  grid->addLayout(imageBox, 4, 0, 1, 3);
  grid->setColumnStretch(2, 1);
  col->addLayout(grid);
  col->addStretch(1);
  auto* step5 = new QHBoxLayout;
  step5->addWidget(BoldLabel("Step 5:", pnlStart));
  step5->addWidget(new QLabel("Click \"Start\" button to convert selected PDF file", pnlStart));
  step5->addStretch(1);
  col->addLayout(step5);

  connect(cbImageFormat, &QComboBox::currentTextChanged, this, &TfmMain::cbImageFormatChange);
  connect(rbStandardConversion, &QRadioButton::clicked, this, &TfmMain::rbStandardConversionClick);
  connect(rbExtendedConversion, &QRadioButton::clicked, this, &TfmMain::rbExtendedConversionClick);
}

void TfmMain::BuildConverting() {
  pnlConverting = new QWidget(screenArea_);
  pnlConverting->setObjectName("pnlConverting");
  pnlConverting->setAutoFillBackground(true);
  QPalette pal = pnlConverting->palette();
  pal.setColor(QPalette::Window, art::kConvertingBackground);
  pnlConverting->setPalette(pal);
  auto* col = new QVBoxLayout(pnlConverting);
  const int m = art::Scaled(scale_, 9);
  col->setContentsMargins(m, art::Scaled(scale_, 8), m, art::Scaled(scale_, 8));
  col->setSpacing(art::Scaled(scale_, 8));

  lblConvertingCaption = BoldLabel("Please wait while converting is in progress:", pnlConverting);
  lblConvertingCaption->setObjectName("lblConvertingCaption");
  pbConverting = new QProgressBar(pnlConverting);
  pbConverting->setObjectName("pbConverting");
  pbConverting->setTextVisible(false);
  pbConverting->setRange(0, 1);
  pbConverting->setValue(0);
  pbConverting->setFixedHeight(art::Scaled(scale_, 21));
  pbConverting->setStyleSheet(
      "QProgressBar { border: 1px solid rgb(120,140,175); border-radius: 3px; background: white; }"
      "QProgressBar::chunk { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 rgb(150,195,245),"
      " stop:0.5 rgb(60,130,215), stop:1 rgb(30,90,180)); border-radius: 2px; }");
  aniBusy = new TpwBusyAnimation(pnlConverting);
  aniBusy->setObjectName("aniBusy");
  aniBusy->setFixedHeight(art::Scaled(scale_, 21));
  aniBusy->hide();
  rbCPUPriNormal = new QRadioButton("Normal", pnlConverting);
  rbCPUPriNormal->setObjectName("rbCPUPriNormal");
  rbCPUPriNormal->setChecked(true);
  rbCPUPriHigh = new QRadioButton("High", pnlConverting);
  rbCPUPriHigh->setObjectName("rbCPUPriHigh");
  lblPagesInfo = new QLabel(pnlConverting);
  lblPagesInfo->setObjectName("lblPagesInfo");

  col->addLayout(TopRow(lblConvertingCaption, nullptr, scale_, pnlConverting));
  col->addWidget(pbConverting);
  col->addWidget(aniBusy);
  auto* cpu = new QHBoxLayout;
  cpu->addWidget(new QLabel("Set CPU priority:", pnlConverting));
  cpu->addWidget(rbCPUPriNormal);
  cpu->addWidget(rbCPUPriHigh);
  cpu->addStretch(1);
  col->addLayout(cpu);
  col->addWidget(lblPagesInfo);
  col->addStretch(1);

  connect(rbCPUPriNormal, &QRadioButton::clicked, this, &TfmMain::rbCPUPriNormalClick);
  connect(rbCPUPriHigh, &QRadioButton::clicked, this, &TfmMain::rbCPUPriHighClick);
}

void TfmMain::BuildDone() {
  pnlDone = new QWidget(screenArea_);
  pnlDone->setObjectName("pnlDone");
  lblDoneCapt = BoldLabel("CONGRATULATIONS!", pnlDone);
  lblDoneCapt->setObjectName("lblDoneCapt");
  QFont big = lblDoneCapt->font();
  big.setPointSizeF(big.pointSizeF() * 1.5);
  lblDoneCapt->setFont(big);
  lblDoneCapt->setAlignment(Qt::AlignCenter);
  const int image = art::Scaled(scale_, 32);
  imgDoneOK = new QLabel(pnlDone);
  imgDoneOK->setObjectName("imgDoneOK");
  imgDoneOK->setPixmap(art::ResultImage(true, image, devicePixelRatioF()));
  imgDoneError = new QLabel(pnlDone);
  imgDoneError->setObjectName("imgDoneError");
  imgDoneError->setPixmap(art::ResultImage(false, image, devicePixelRatioF()));
  lblDoneInfo = new QLabel(pnlDone);
  lblDoneInfo->setObjectName("lblDoneInfo");
  lblDoneInfo->setWordWrap(true);
  btnNewConv = FaceButton("btnNewConv", QStyle::SP_FileIcon, "Click here to convert another PDF file...", pnlDone);

  // Fixed places: the result image stands at 175 from the left.
  const int w = art::Scaled(scale_, 568);
  auto* logo = new QLabel(pnlDone);
  const int logoSize = art::Scaled(scale_, 28);
  logo->setPixmap(art::ProgramImage(logoSize, devicePixelRatioF()));
  logo->setGeometry(w - art::Scaled(scale_, 20) - logoSize, art::Scaled(scale_, 8), logoSize, logoSize);
  lblDoneCapt->setGeometry(0, art::Scaled(scale_, 40), w, art::Scaled(scale_, 34));
  imgDoneOK->setGeometry(art::Scaled(scale_, 175), art::Scaled(scale_, 100), image, image);
  imgDoneError->setGeometry(imgDoneOK->geometry());
  const int infoLeft = art::Scaled(scale_, 175 + 32 + 12);
  lblDoneInfo->setGeometry(infoLeft, art::Scaled(scale_, 92), w - infoLeft - art::Scaled(scale_, 20),
                           art::Scaled(scale_, 48));
  btnNewConv->setGeometry((w - art::Scaled(scale_, 310)) / 2, art::Scaled(scale_, 190), art::Scaled(scale_, 310),
                          art::Scaled(scale_, 30));
  imgDoneOK->hide();
  imgDoneError->hide();

  connect(btnNewConv, &QPushButton::clicked, this, &TfmMain::btnNewConvClick);
}

void TfmMain::ShowScreen(QWidget* screen) {
  for (QWidget* s : {pnlInit, pnlStart, pnlConverting, pnlDone})
    if (s != screen) s->hide();
  screen->show();
}

void TfmMain::MoveToNext(QPushButton* button) { button->move(btnNext->x(), button->y()); }

// ---- handlers of the wizard ----

void TfmMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  FormActivate();
}

void TfmMain::FormActivate() {
  if (!FirstActivation) return;
  btnPause->hide();
  btnContinue->hide();
  btnBack->setEnabled(false);
  btnNext->setEnabled(false);
  btnSave->setEnabled(false);
  docFileSaveEdit->setEnabled(false);
  ShowScreen(pnlInit);
  FirstActivation = false;
  PasswordAccepted = false;
}

void TfmMain::PickPdf(const QString& fileName) {
  if (converting_ || pnlConverting->isVisible()) return;
  if (pnlDone->isVisible()) btnNewConvClick();
  pdfFileOpenEdit->Choose(fileName);
}

void TfmMain::btnOpenClick() { pdfFileOpenEdit->Browse(); }
void TfmMain::btnSaveClick() { docFileSaveEdit->Browse(); }

void TfmMain::pdfFileOpenEditDlgChange(const QString& fileName) {
  docFileSaveEdit->SetText(fileName + docFileSaveEdit->DefaultExt());
  docFileSaveEdit->setEnabled(true);
  btnSave->setEnabled(true);
  btnNext->setEnabled(true);
}

// Either name emptied: Next waits for a new pick.
void TfmMain::pdfFileOpenEditChange() {
  if (pdfFileOpenEdit->Text().isEmpty() || docFileSaveEdit->Text().isEmpty()) btnNext->setEnabled(false);
}

void TfmMain::btnNextClick() {
  if (pnlInit->isVisible()) {
    const QString name = pdfFileOpenEdit->Text();
    if (!QFileInfo(name).isFile()) {
      QMessageBox::warning(this, "Warning...", "File \"" + name + "\" does not exist!");
      pdfFileOpenEdit->setFocus();
      return;
    }
    ShowScreen(pnlStart);
    btnNext->setText("Start");
    btnBack->setEnabled(true);
    btnPause->hide();
    btnContinue->hide();
    btnFinish->hide();
    return;
  }
  if (pnlStart->isVisible()) StartConversion();
}

void TfmMain::StartConversion() {
  if (converting_) return;
  TpwJobSettings job;
  job.SourceFile = S(pdfFileOpenEdit->Text());
  job.TargetFile = S(docFileSaveEdit->Text());
  job.PaperSize = S(cbPaperSize->currentText());
  job.ExtendedConversion = rbExtendedConversion->isChecked();
  job.ImageFormat = S(cbImageFormat->currentText());
  job.ImagesQuality = seImagesQuality->value();
  if (QScreen* screen = this->screen())
    worker_->SetScreenResolution(qRound(screen->logicalDotsPerInchX()), qRound(screen->logicalDotsPerInchY()));
  // The loading screen goes up at once; the worker confirms it.
  ScreenChanged(TpwDriverScreen::Loading);
  lblConvertingCaption->setText("Please wait while parsing PDF file...");
  worker_->PostStart(job);
}

void TfmMain::btnBackClick() {
  if (pnlStart->isVisible() && !converting_) {
    ShowScreen(pnlInit);
    btnNext->setText("Next");
    btnBack->setEnabled(false);
    btnPause->hide();
    btnContinue->hide();
    btnFinish->hide();
    return;
  }
  if (pnlConverting->isVisible()) worker_->PostBack();
}

// Pause takes effect when the page in hand is done; the button goes grey
// until then.
void TfmMain::btnPauseClick() {
  btnPause->setEnabled(false);
  worker_->PostPause();
}

void TfmMain::btnContinueClick() {
  btnContinue->setEnabled(false);
  worker_->PostContinue();
}

void TfmMain::btnNewConvClick() {
  btnPause->hide();
  btnContinue->hide();
  btnFinish->hide();
  btnNext->setText("Next");
  btnNext->show();
  btnNext->setEnabled(false);
  btnBack->setText("Back");
  btnBack->setEnabled(false);
  btnBack->show();
  pnlConverting->hide();
  pnlDone->hide();
  pnlStart->hide();
  pdfFileOpenEdit->SetText(QString());
  docFileSaveEdit->SetText(QString());
  btnSave->setEnabled(false);
  PasswordAccepted = false;
  worker_->PostNewConversion();
  pnlInit->show();
}

void TfmMain::btnFinishClick() {
  if (pnlDone->isVisible()) close();
}

void TfmMain::btnAboutClick() {
  if (!fmAbout_) fmAbout_ = new TfmAbout(this);
  fmAbout_->exec();
}

void TfmMain::cbImageFormatChange() {
  if (cbImageFormat->currentText() == "JPEG") {
    seImagesQuality->setEnabled(true);
  } else {
    seImagesQuality->setValue(100);
    seImagesQuality->setEnabled(false);
  }
}

void TfmMain::rbExtendedConversionClick() {
  cbImageFormat->setEnabled(true);
  seImagesQuality->setEnabled(true);
}

void TfmMain::rbStandardConversionClick() {
  cbImageFormat->setEnabled(false);
  seImagesQuality->setEnabled(false);
}

void TfmMain::rbCPUPriNormalClick() { worker_->Priority().SetHigh(false); }
void TfmMain::rbCPUPriHighClick() { worker_->Priority().SetHigh(true); }

// FormCloseQuery and FormClose: a running conversion keeps the window open;
// the worker removes the temporary file when it goes.
void TfmMain::closeEvent(QCloseEvent* event) {
  if (converting_ || WorkerBusy()) {
    event->ignore();
    return;
  }
  event->accept();
}

QString TfmMain::DroppedPdf(const QMimeData* data) const {
  if (!data || !data->hasUrls()) return QString();
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) continue;
    QString file = url.toLocalFile();
    if (file.endsWith(".pdf", Qt::CaseInsensitive)) return file;
  }
  return QString();
}

void TfmMain::dragEnterEvent(QDragEnterEvent* event) {
  if (!converting_ && !pnlConverting->isVisible() && !DroppedPdf(event->mimeData()).isEmpty())
    event->acceptProposedAction();
}

void TfmMain::dropEvent(QDropEvent* event) {
  QString file = DroppedPdf(event->mimeData());
  if (file.isEmpty()) return;
  event->acceptProposedAction();
  PickPdf(file);
}

// ---- the driver's view ----

void TfmMain::ShowMessage(TpwMessageKind kind, const std::string& text, const std::string& title) {
  aniBusy->Stop();
  QMessageBox::Icon icon = kind == TpwMessageKind::Error     ? QMessageBox::Critical
                           : kind == TpwMessageKind::Warning ? QMessageBox::Warning
                                                             : QMessageBox::Information;
  QMessageBox box(icon, Q(title), Q(text), QMessageBox::Ok, this);
  box.exec();
}

bool TfmMain::Confirm(const std::string& text, const std::string& title) {
  QMessageBox box(QMessageBox::Question, Q(title), Q(text), QMessageBox::Yes | QMessageBox::No, this);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

bool TfmMain::AskPassword(const std::string& label, std::string& password) {
  if (!fmPass_) {
    fmPass_ = new TfmPass(this);
    connect(fmPass_, &TfmPass::Opened, aniBusy, &TpwBusyAnimation::Stop);
    connect(fmPass_, &TfmPass::Closed, aniBusy, &TpwBusyAnimation::Start);
  }
  fmPass_->lblPassInfo->setText(Q(label));
  fmPass_->exec();
  PasswordAccepted = fmPass_->PasswordAccepted;
  if (PasswordAccepted) password = S(fmPass_->edPass->text());
  return PasswordAccepted;
}

bool TfmMain::AskSaveName(const std::string& label, std::string& name) {
  if (!fmSave_) fmSave_ = new TfmSave(this);
  fmSave_->lblPassInfo->setText(Q(label));
  fmSave_->edSaveNewRTF->SetText(Q(name));
  fmSave_->SaveRetryAllowed = false;
  fmSave_->exec();
  name = S(fmSave_->edSaveNewRTF->Text());
  return fmSave_->SaveRetryAllowed;
}

void TfmMain::ScreenChanged(TpwDriverScreen screen) {
  switch (screen) {
    case TpwDriverScreen::Loading:
      converting_ = true;
      btnNext->hide();
      btnContinue->hide();
      MoveToNext(btnPause);
      MoveToNext(btnContinue);
      btnPause->setText("Pause");
      btnPause->setEnabled(false);
      btnPause->show();
      btnAbout->setEnabled(false);
      btnBack->setEnabled(false);
      ShowScreen(pnlConverting);
      pbConverting->setValue(0);
      pbConverting->hide();
      aniBusy->show();
      aniBusy->Start();
      lblPagesInfo->clear();
      break;
    case TpwDriverScreen::Converting:
      converting_ = true;
      pbConverting->show();
      aniBusy->show();
      aniBusy->Start();
      btnBack->setEnabled(true);
      btnAbout->setEnabled(true);
      btnContinue->hide();
      btnPause->setEnabled(true);
      btnPause->show();
      break;
    case TpwDriverScreen::Paused:
      converting_ = false;
      aniBusy->Stop();
      btnPause->hide();
      btnContinue->setEnabled(true);
      btnContinue->show();
      break;
    case TpwDriverScreen::Options:
      converting_ = false;
      aniBusy->Stop();
      ShowScreen(pnlStart);
      btnPause->hide();
      btnContinue->hide();
      btnFinish->hide();
      btnNext->setText("Start");
      btnNext->setEnabled(true);
      btnNext->show();
      btnBack->setEnabled(true);
      btnAbout->setEnabled(true);
      break;
    case TpwDriverScreen::Files:
      converting_ = false;
      aniBusy->Stop();
      aniBusy->hide();
      btnBack->setEnabled(true);
      btnPause->setEnabled(true);
      btnAbout->setEnabled(true);
      break;
    case TpwDriverScreen::Done:
      converting_ = false;
      aniBusy->Stop();
      break;
  }
}

void TfmMain::SetCaption(const std::string& caption) { lblConvertingCaption->setText(Q(caption)); }
void TfmMain::SetPagesLabel(const std::string& label) { lblPagesInfo->setText(Q(label)); }

void TfmMain::SetProgress(int value, int maximum) {
  pbConverting->setRange(0, qMax(1, maximum));
  pbConverting->setValue(qBound(0, value, qMax(1, maximum)));
}

void TfmMain::TargetNameChanged(const std::string& name) { docFileSaveEdit->SetText(Q(name)); }

void TfmMain::ShowDone(bool saved, const std::string& caption, const std::string& text) {
  converting_ = false;
  aniBusy->Stop();
  lblDoneCapt->setText(Q(caption));
  QPalette pal = lblDoneCapt->palette();
  pal.setColor(QPalette::WindowText, saved ? art::kSuccessColor : art::kErrorColor);
  lblDoneCapt->setPalette(pal);
  lblDoneInfo->setText(Q(text));
  imgDoneOK->setVisible(saved);
  imgDoneError->setVisible(!saved);
  ShowScreen(pnlDone);
  btnNext->setText("Next");
  btnNext->hide();
  btnPause->hide();
  btnContinue->hide();
  btnBack->hide();
  MoveToNext(btnFinish);
  btnFinish->show();
  btnAbout->setEnabled(true);
}

void TfmMain::ResetWizard() { btnNewConvClick(); }

void TfmMain::WorkerIdle() {}

}  // namespace pw
