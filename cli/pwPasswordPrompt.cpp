#include "cli/pwPasswordPrompt.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>

namespace pw::cli {

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

std::optional<std::string> ReadHiddenLine(const std::string& prompt) {
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  termios saved{};
  bool restore = false;
  if (tcgetattr(STDIN_FILENO, &saved) == 0) {
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    quiet.c_lflag |= ECHONL;
    restore = tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
  }
  std::string line;
  bool gotAny = false;
  for (;;) {
    char c = 0;
    ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n <= 0) break;
    gotAny = true;
    if (c == '\n') break;
    line += c;
  }
  if (restore) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  if (!gotAny) {
    std::fputc('\n', stderr);
    return std::nullopt;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace pw::cli
