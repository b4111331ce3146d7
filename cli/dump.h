// Debugging aids of the page renderer: each page's recording written as an
// enhanced metafile, or the strings of its text records printed.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace pw::cli {

// Writes page N of the file as DIR/page-N.emf (DIR is created when missing).
// Returns the exit code (TpwExitCode).
int RunDumpEmf(const std::string& dir, const std::string& file, const std::optional<std::string>& password,
               std::FILE* out, std::FILE* err);

// Prints the text of every EMR_EXTTEXTOUTW record of each page's recording,
// one line per record in record order; a form feed ends each page. Control
// characters inside a record are printed as spaces.
int RunDumpText(const std::string& file, const std::optional<std::string>& password, std::FILE* out, std::FILE* err);

}  // namespace pw::cli
