#include "app/wizard/pwWizardWorker.h"

#include <QCoreApplication>
#include <exception>
#include <new>

#include "app/pwDocumentAdapter.h"
#include "app/pwEngineAdapter.h"

namespace pw {

TpwWizardWorker::TpwWizardWorker(QObject* window, IpwWizardScreens& screens) : window_(window), screens_(screens) {
  document_ = std::make_unique<TpwDocumentAdapter>();
  engine_ = std::make_unique<TpwEngineAdapter>(static_cast<TpwDriverView*>(this));
  priorityDocument_ = std::make_unique<TpwPriorityDocument>(*document_, priority_);
  priorityEngine_ = std::make_unique<TpwPriorityEngine>(*engine_, *document_, priority_);
  driver_ =
      std::make_unique<TpwConversionDriver>(*priorityDocument_, *priorityEngine_, static_cast<TpwDriverView&>(*this));
  thread_.setObjectName("conversion");
  moveToThread(&thread_);
}

TpwWizardWorker::~TpwWizardWorker() {
  Shutdown();
  if (driver_) driver_->Close();
  driver_.reset();
}

void TpwWizardWorker::StartThread() {
  thread_.start();
  Post([this]() { threadId_.store(QThread::currentThreadId()); });
}

void TpwWizardWorker::Shutdown() {
  if (!thread_.isRunning()) return;
  // Work in hand may still wait for the window (a prompt, a screen change),
  // so the window's events go on while the thread winds down.
  Post([this]() {
    // Back to the window's thread, so the worker can be deleted there.
    moveToThread(QCoreApplication::instance()->thread());
    thread_.quit();
  });
  while (!thread_.wait(20)) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void TpwWizardWorker::SetScreenResolution(int ppiX, int ppiY) {
  Post([this, ppiX, ppiY]() { driver_->SetScreenResolution(ppiX, ppiY); });
}

void TpwWizardWorker::Post(std::function<void()> action) {
  ++pending_;
  QMetaObject::invokeMethod(
      this,
      [this, action = std::move(action)]() {
        try {
          action();
        } catch (const std::bad_alloc&) {
          ShowMessage(TpwMessageKind::Error, "Out of memory.", "Paperwright");
        } catch (const std::exception& e) {
          // What the conversion could not get past outside the load: the
          // screen stays as it is and Back leads out.
          ShowMessage(TpwMessageKind::Error, e.what(), "Paperwright");
        } catch (...) {
          ShowMessage(TpwMessageKind::Error, "Unexpected error.", "Paperwright");
        }
        if (--pending_ == 0) ToWindow([this]() { screens_.WorkerIdle(); });
      },
      Qt::QueuedConnection);
}

void TpwWizardWorker::PostStart(const TpwJobSettings& job) {
  Post([this, job]() {
    driver_->Job() = job;
    driver_->Next();
  });
}
void TpwWizardWorker::PostPause() {
  Post([this]() { driver_->Pause(); });
}
void TpwWizardWorker::PostContinue() {
  Post([this]() { driver_->Continue(); });
}
void TpwWizardWorker::PostBack() {
  Post([this]() { driver_->Back(); });
}
void TpwWizardWorker::PostNewConversion() {
  Post([this]() { driver_->NewConversion(); });
}

template <class F>
void TpwWizardWorker::ToWindow(F f) {
  if (window_) QMetaObject::invokeMethod(window_, std::move(f), Qt::QueuedConnection);
}

template <class F>
void TpwWizardWorker::ToWindowAndWait(F f) {
  if (window_) QMetaObject::invokeMethod(window_, std::move(f), Qt::BlockingQueuedConnection);
}

void TpwWizardWorker::ProcessPendingEvents() {
  // Only the worker's own thread has the queued button actions; the
  // priority helpers have nothing to process.
  if (QThread::currentThreadId() == threadId_.load()) QCoreApplication::processEvents();
}

void TpwWizardWorker::ShowMessage(TpwMessageKind kind, const std::string& text, const std::string& title) {
  ToWindowAndWait([&]() { screens_.ShowMessage(kind, text, title); });
}

bool TpwWizardWorker::Confirm(const std::string& text, const std::string& title) {
  bool yes = false;
  ToWindowAndWait([&]() { yes = screens_.Confirm(text, title); });
  return yes;
}

void TpwWizardWorker::ScreenChanged(TpwDriverScreen screen) {
  ToWindow([this, screen]() { screens_.ScreenChanged(screen); });
}
void TpwWizardWorker::SetCaption(const std::string& caption) {
  ToWindow([this, caption]() { screens_.SetCaption(caption); });
}
void TpwWizardWorker::SetPagesLabel(const std::string& label) {
  ToWindow([this, label]() { screens_.SetPagesLabel(label); });
}
void TpwWizardWorker::SetProgress(int value, int maximum) {
  ToWindow([this, value, maximum]() { screens_.SetProgress(value, maximum); });
  if (value > 0 && pageObserver_) pageObserver_(value);
}

bool TpwWizardWorker::AskPassword(const std::string& label, std::string& password) {
  bool ok = false;
  ToWindowAndWait([&]() { ok = screens_.AskPassword(label, password); });
  return ok;
}

bool TpwWizardWorker::AskSaveName(const std::string& label, std::string& name) {
  bool ok = false;
  ToWindowAndWait([&]() { ok = screens_.AskSaveName(label, name); });
  return ok;
}

void TpwWizardWorker::TargetNameChanged(const std::string& name) {
  ToWindow([this, name]() { screens_.TargetNameChanged(name); });
}
void TpwWizardWorker::ShowDone(bool saved, const std::string& caption, const std::string& text) {
  ToWindow([this, saved, caption, text]() { screens_.ShowDone(saved, caption, text); });
}
void TpwWizardWorker::ResetWizard() {
  ToWindow([this]() { screens_.ResetWizard(); });
}

}  // namespace pw
