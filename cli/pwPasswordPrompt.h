// Asking for a password on the terminal without echoing what is typed.
#pragma once

#include <optional>
#include <string>

namespace pw::cli {

// True when standard input is a terminal.
bool StdinIsTerminal();

// Writes `prompt` to standard error and reads one line from standard input
// with echo switched off. Nothing (std::nullopt) at end of input.
std::optional<std::string> ReadHiddenLine(const std::string& prompt);

}  // namespace pw::cli
