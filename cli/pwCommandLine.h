// Command-line options of the paperwright program. Options are described by
// a table, so that new ones only add a row and a field.
#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pw::cli {

// Exit codes of the program.
enum TpwExitCode : int { ecOk = 0, ecUsage = 1, ecCannotRead = 2, ecPassword = 3, ecCannotWrite = 4 };

struct TpwCliOptions {
  bool ShowHelp = false;
  bool ShowVersion = false;
  bool Info = false;
  std::optional<std::string> DumpEmfDir;  // --dump-emf DIR
  bool DumpText = false;                  // --dump-text
  std::optional<std::string> Password;
  // Conversion settings, already checked and in the driver's words.
  std::string PaperSize = "A4";
  bool ExtendedConversion = false;
  std::string ImageFormat = "JPEG";
  int Quality = 100;
  bool PageAsPicture = false;
  bool PositionalLayout = false;  // --layout exact
  bool Quiet = false;
  bool Verbose = false;                  // --verbose: list what was tolerated
  std::optional<std::string> OutputDir;  // -o DIR
  int Jobs = 1;                          // -j N
  std::vector<std::string> Positionals;  // INPUT.pdf [OUTPUT.rtf]
};

// A malformed command line; what() says what is wrong.
class TpwUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TpwOptionSpec {
  const char* LongName;   // without "--"
  char ShortName;         // 0: none
  const char* ValueName;  // nullptr: the option takes no value
  const char* Help;
  std::function<void(TpwCliOptions&, const std::string& value)> Apply;
};

const std::vector<TpwOptionSpec>& OptionTable();

// Accepts "--name value", "--name=value", "-x value" and "--" before
// positional arguments that begin with "-". Raises TpwUsageError.
TpwCliOptions ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText();

}  // namespace pw::cli
