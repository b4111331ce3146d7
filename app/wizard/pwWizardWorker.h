// Runs the conversion driver on a thread of its own so that the window stays
// responsive. The worker object lives in that thread: the window posts the
// button actions to it, and the driver's calls on its view come back to the
// window's thread (queued for screen changes, waited for by modal prompts).
#pragma once

#include <QObject>
#include <QPointer>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "app/pwConversionDriver.h"
#include "app/wizard/pwCpuPriority.h"

namespace pw {

class TpwDocumentAdapter;
class TpwEngineAdapter;

// The window as the worker sees it; every call arrives in the window's thread.
class IpwWizardScreens {
 public:
  virtual ~IpwWizardScreens() = default;
  virtual void ShowMessage(TpwMessageKind kind, const std::string& text, const std::string& title) = 0;
  virtual bool Confirm(const std::string& text, const std::string& title) = 0;
  virtual bool AskPassword(const std::string& label, std::string& password) = 0;
  virtual bool AskSaveName(const std::string& label, std::string& name) = 0;
  virtual void ScreenChanged(TpwDriverScreen screen) = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  virtual void SetPagesLabel(const std::string& label) = 0;
  virtual void SetProgress(int value, int maximum) = 0;
  virtual void TargetNameChanged(const std::string& name) = 0;
  virtual void ShowDone(bool saved, const std::string& caption, const std::string& text) = 0;
  virtual void ResetWizard() = 0;
  // The worker finished everything it was asked to do.
  virtual void WorkerIdle() = 0;
};

class TpwWizardWorker : public QObject, private TpwDriverView {
 public:
  // `window` is the QObject of `screens`, living in the window's thread.
  TpwWizardWorker(QObject* window, IpwWizardScreens& screens);
  ~TpwWizardWorker() override;

  // Starts the worker's thread; Shutdown ends it after the work in hand.
  void StartThread();
  void Shutdown();

  // Button actions, callable from the window's thread.
  void PostStart(const TpwJobSettings& job);
  void PostPause();
  void PostContinue();
  void PostBack();
  void PostNewConversion();

  // No action is queued or running.
  bool Idle() const { return pending_.load() == 0; }
  TpwCpuPriority& Priority() { return priority_; }
  // Called in the worker's thread after each page is counted, before the
  // queued actions are looked at; set it while the worker is idle. For tests
  // that need an action to land after a given page.
  void SetPageObserver(std::function<void(int pagesDone)> observer) { pageObserver_ = std::move(observer); }
  void SetScreenResolution(int ppiX, int ppiY);

 private:
  void Post(std::function<void()> action);
  template <class F>
  void ToWindow(F f);
  template <class F>
  void ToWindowAndWait(F f);

  // TpwDriverView, called in the worker's thread (or a priority helper).
  void ProcessPendingEvents() override;
  void ShowMessage(TpwMessageKind kind, const std::string& text, const std::string& title) override;
  bool Confirm(const std::string& text, const std::string& title) override;
  void ScreenChanged(TpwDriverScreen screen) override;
  void SetCaption(const std::string& caption) override;
  void SetPagesLabel(const std::string& label) override;
  void SetProgress(int value, int maximum) override;
  bool AskPassword(const std::string& label, std::string& password) override;
  bool AskSaveName(const std::string& label, std::string& name) override;
  void TargetNameChanged(const std::string& name) override;
  void ShowDone(bool saved, const std::string& caption, const std::string& text) override;
  void ResetWizard() override;

  QPointer<QObject> window_;
  IpwWizardScreens& screens_;
  QThread thread_;
  TpwCpuPriority priority_;
  std::unique_ptr<TpwDocumentAdapter> document_;
  std::unique_ptr<TpwEngineAdapter> engine_;
  std::unique_ptr<TpwPriorityDocument> priorityDocument_;
  std::unique_ptr<TpwPriorityEngine> priorityEngine_;
  std::unique_ptr<TpwConversionDriver> driver_;
  std::function<void(int)> pageObserver_;
  std::atomic<int> pending_{0};
  std::atomic<Qt::HANDLE> threadId_{nullptr};
};

}  // namespace pw
