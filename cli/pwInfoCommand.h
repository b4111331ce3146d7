// The --info command: what the program can tell about a PDF file without
// converting it.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "pdf/kxPDFStreamReader.h"

namespace pw::cli {

// "1.4", "1.7", "2.0".
std::string VersionText(TkxPDFVersion version);

// Loads the file and prints its summary to `out`; errors go to `err` as one
// line. Returns the exit code (TpwExitCode).
int RunInfo(const std::string& file, const std::optional<std::string>& password, std::FILE* out, std::FILE* err);

}  // namespace pw::cli
