// The CPU-priority choice of the converting screen, and the document and
// engine wrappers that run the heavy calls at the chosen priority.
//
// A process may lower its own priority but, without privileges, never raise
// it again. So "Normal" does not lower the program: each heavy call (load,
// page drawing, page and document ends) runs on a short-lived helper thread
// that lowers itself before it starts, while the calling thread keeps the
// priority the program started with. "High" runs the calls on the calling
// thread at that starting priority. A change takes effect with the next call.
#pragma once

#include <atomic>
#include <functional>

#include "app/pwConversionDriver.h"

namespace pw {

class TpwCpuPriority {
 public:
  // How many nice steps the "Normal" helper threads run below the start.
  static constexpr int kLowering = 5;

  TpwCpuPriority();
  void SetHigh(bool high) { high_.store(high); }
  bool High() const { return high_.load(); }
  int StartNice() const { return startNice_; }
  // Runs `work` at the chosen priority and returns when it is done;
  // exceptions from `work` reach the caller.
  void Run(const std::function<void()>& work) const;
  // The nice value of the calling thread.
  static int CurrentNice();

 private:
  int startNice_;
  std::atomic<bool> high_{false};
};

// The document with its load run at the chosen priority.
class TpwPriorityDocument : public IpwDocument {
 public:
  TpwPriorityDocument(IpwDocument& inner, const TpwCpuPriority& priority) : inner_(inner), priority_(priority) {}
  void SetPasswordHandler(PasswordHandler handler) override { inner_.SetPasswordHandler(std::move(handler)); }
  void SetStatusHandler(StatusHandler handler) override { inner_.SetStatusHandler(std::move(handler)); }
  bool LoadFromFile(const std::string& fileName) override;
  int PageCount() override { return inner_.PageCount(); }
  int GetPageRotation(int page) override { return inner_.GetPageRotation(page); }
  std::array<double, 4> GetPageMediaBox(int page) override { return inner_.GetPageMediaBox(page); }
  void DeletePages(const std::string& range) override { inner_.DeletePages(range); }

 private:
  IpwDocument& inner_;
  const TpwCpuPriority& priority_;
};

// The engine with page drawing and the page and document ends run at the
// chosen priority. Pages are drawn from `document`, the unwrapped document.
class TpwPriorityEngine : public IpwEngine {
 public:
  TpwPriorityEngine(IpwEngine& inner, IpwDocument& document, const TpwCpuPriority& priority)
      : inner_(inner), document_(document), priority_(priority) {}
  void SetInputRes(int x, int y) override { inner_.SetInputRes(x, y); }
  void SetItemsToRender(TkxItemsToRender items) override { inner_.SetItemsToRender(items); }
  void SetPaperSize(TkxPaperSize paper) override { inner_.SetPaperSize(paper); }
  void SetLandscape(bool landscape) override { inner_.SetLandscape(landscape); }
  void SetDrawnPageSize(double width, double height, bool paperFromPage) override {
    inner_.SetDrawnPageSize(width, height, paperFromPage);
  }
  void SetOutputImageFormat(TkxOutputImageFormat format) override { inner_.SetOutputImageFormat(format); }
  void SetJPEGQuality(int quality) override { inner_.SetJPEGQuality(quality); }
  void SetFileName(const std::string& fileName) override { inner_.SetFileName(fileName); }
  void BeginDoc() override;
  void NewPage() override;
  void SetActivePage(int page) override { inner_.SetActivePage(page); }
  int PageCount() override { return inner_.PageCount(); }
  void RenderPage(IpwDocument& document, int page) override;
  void EndDoc() override;

 private:
  IpwEngine& inner_;
  IpwDocument& document_;
  const TpwCpuPriority& priority_;
};

}  // namespace pw
