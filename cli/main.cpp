// paperwright: the command-line face of the converter.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/dump.h"
#include "cli/pwCommandLine.h"
#include "cli/pwConvertCommand.h"
#include "cli/pwInfoCommand.h"
#include "platform/kxMemoryManager.h"

int main(int argc, char** argv) {
  using namespace pw::cli;
  pw::TkxMemoryManager::KeepFreedMemory();
  std::vector<std::string> args(argv + 1, argv + argc);
  TpwCliOptions options;
  try {
    options = ParseCommandLine(args);
  } catch (const TpwUsageError& e) {
    std::fprintf(stderr, "paperwright: %s\n%s", e.what(), UsageText().c_str());
    return ecUsage;
  }
  if (options.ShowHelp) {
    std::fputs(UsageText().c_str(), stdout);
    return ecOk;
  }
  if (options.ShowVersion) {
    std::printf("paperwright %s\n", PW_VERSION);
    return ecOk;
  }
  if (options.Info) {
    if (options.Positionals.size() != 1) {
      std::fprintf(stderr, "paperwright: --info needs exactly one PDF file\n%s", UsageText().c_str());
      return ecUsage;
    }
    return RunInfo(options.Positionals[0], options.Password, stdout, stderr);
  }
  if (options.DumpEmfDir || options.DumpText) {
    if (options.Positionals.size() != 1) {
      std::fprintf(stderr, "paperwright: --dump-emf and --dump-text need exactly one PDF file\n%s",
                   UsageText().c_str());
      return ecUsage;
    }
    if (options.DumpEmfDir)
      return RunDumpEmf(*options.DumpEmfDir, options.Positionals[0], options.Password, stdout, stderr);
    return RunDumpText(options.Positionals[0], options.Password, stdout, stderr);
  }
  return RunConvert(options);
}
