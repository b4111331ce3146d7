#include "app/wizard/pwCpuPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <thread>

namespace pw {

namespace {
// On Linux the nice value belongs to a thread: PRIO_PROCESS with a thread id.
int ThreadId() { return static_cast<int>(syscall(SYS_gettid)); }
}  // namespace

int TpwCpuPriority::CurrentNice() {
  errno = 0;
  int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(ThreadId()));
  return errno == 0 ? nice : 0;
}

TpwCpuPriority::TpwCpuPriority() : startNice_(CurrentNice()) {}

void TpwCpuPriority::Run(const std::function<void()>& work) const {
  if (High()) {
    work();
    return;
  }
  std::exception_ptr failure;
  const int nice = startNice_ + kLowering;
  std::thread helper([&]() {
    // Lowering needs no privileges; should it fail, the work still runs.
    setpriority(PRIO_PROCESS, static_cast<id_t>(ThreadId()), nice);
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
  });
  helper.join();
  if (failure) std::rethrow_exception(failure);
}

bool TpwPriorityDocument::LoadFromFile(const std::string& fileName) {
  bool loaded = false;
  priority_.Run([&]() { loaded = inner_.LoadFromFile(fileName); });
  return loaded;
}

void TpwPriorityEngine::BeginDoc() {
  priority_.Run([this]() { inner_.BeginDoc(); });
}
void TpwPriorityEngine::NewPage() {
  priority_.Run([this]() { inner_.NewPage(); });
}
void TpwPriorityEngine::EndDoc() {
  priority_.Run([this]() { inner_.EndDoc(); });
}

void TpwPriorityEngine::RenderPage(IpwDocument&, int page) {
  priority_.Run([this, page]() { inner_.RenderPage(document_, page); });
}

}  // namespace pw
