// The conversion command: PDF files to RTF documents through the conversion
// driver, with the terminal as its view.
#pragma once

#include <string>
#include <vector>

#include "cli/pwCommandLine.h"

namespace pw::cli {

// Where INPUT goes: OUTPUT when given, else INPUT with ".rtf" appended (or
// DIR/<INPUT's name>.rtf with -o DIR).
std::string DefaultTarget(const std::string& input, const std::string* outputDir);

// Converts one file; messages go to standard error. Returns the exit code.
int ConvertOne(const std::string& input, const std::string& target, const TpwCliOptions& options, bool progress);

// The whole command for the parsed options (positionals are the files).
int RunConvert(const TpwCliOptions& options);

}  // namespace pw::cli
