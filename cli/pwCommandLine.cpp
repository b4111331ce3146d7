#include "cli/pwCommandLine.h"

namespace pw::cli {

const std::vector<TpwOptionSpec>& OptionTable() {
  static const std::vector<TpwOptionSpec> table = {
      {"info", 0, nullptr, "print the PDF version, encryption, page count and each page's rotation and media box",
       [](TpwCliOptions& o, const std::string&) { o.Info = true; }},
      {"dump-emf", 0, "DIR", "write each page's drawing as DIR/page-N.emf",
       [](TpwCliOptions& o, const std::string& v) { o.DumpEmfDir = v; }},
      {"dump-text", 0, nullptr, "print the text records of each page's drawing, one line per record",
       [](TpwCliOptions& o, const std::string&) { o.DumpText = true; }},
      {"password", 0, "PW", "password of an encrypted file (otherwise asked for on a terminal)",
       [](TpwCliOptions& o, const std::string& v) { o.Password = v; }},
      {"version", 0, nullptr, "print the program version",
       [](TpwCliOptions& o, const std::string&) { o.ShowVersion = true; }},
      {"help", 'h', nullptr, "print this help", [](TpwCliOptions& o, const std::string&) { o.ShowHelp = true; }},
  };
  return table;
}

namespace {
const TpwOptionSpec* FindLong(const std::string& name) {
  for (const TpwOptionSpec& spec : OptionTable())
    if (name == spec.LongName) return &spec;
  return nullptr;
}

const TpwOptionSpec* FindShort(char c) {
  for (const TpwOptionSpec& spec : OptionTable())
    if (spec.ShortName != 0 && spec.ShortName == c) return &spec;
  return nullptr;
}
}  // namespace

TpwCliOptions ParseCommandLine(const std::vector<std::string>& args) {
  TpwCliOptions options;
  bool onlyPositionals = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (onlyPositionals || arg.size() < 2 || arg[0] != '-') {
      options.Positionals.push_back(arg);
      continue;
    }
    if (arg == "--") {
      onlyPositionals = true;
      continue;
    }
    const TpwOptionSpec* spec = nullptr;
    std::string value;
    bool inlineValue = false;
    if (arg[1] == '-') {
      std::string name = arg.substr(2);
      size_t eq = name.find('=');
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name.resize(eq);
        inlineValue = true;
      }
      spec = FindLong(name);
    } else if (arg.size() == 2) {
      spec = FindShort(arg[1]);
    }
    if (!spec) throw TpwUsageError("unknown option '" + arg + "'");
    if (spec->ValueName) {
      if (!inlineValue) {
        if (i + 1 >= args.size()) throw TpwUsageError("option '" + arg + "' needs a value");
        value = args[++i];
      }
    } else if (inlineValue) {
      throw TpwUsageError("option '--" + std::string(spec->LongName) + "' takes no value");
    }
    spec->Apply(options, value);
  }
  return options;
}

std::string UsageText() {
  std::string text =
      "usage: paperwright --info FILE.pdf [--password PW]\n"
      "       paperwright --dump-emf DIR FILE.pdf [--password PW]\n"
      "       paperwright --dump-text FILE.pdf [--password PW]\n"
      "       paperwright --version | --help\n"
      "\noptions:\n";
  for (const TpwOptionSpec& spec : OptionTable()) {
    std::string left = "  ";
    if (spec.ShortName) left += std::string("-") + spec.ShortName + ", ";
    left += std::string("--") + spec.LongName;
    if (spec.ValueName) left += std::string(" ") + spec.ValueName;
    if (left.size() < 22) left.resize(22, ' ');
    else left += "  ";
    text += left + spec.Help + "\n";
  }
  text +=
      "\nexit status: 0 success, 1 usage error, 2 the file cannot be read, "
      "3 wrong or missing password\n";
  return text;
}

}  // namespace pw::cli
