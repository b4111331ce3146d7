#include "cli/pwCommandLine.h"

#include <cerrno>
#include <cstdlib>

namespace pw::cli {

namespace {
// One of `choices` ({given, stored} pairs), exactly as written.
std::string Choice(const char* option, const std::string& value,
                   std::initializer_list<std::pair<const char*, const char*>> choices) {
  std::string names;
  for (const auto& [given, stored] : choices) {
    if (value == given) return stored;
    names += names.empty() ? "" : "|";
    names += given;
  }
  throw TpwUsageError(std::string("--") + option + " must be one of " + names + ", not '" + value + "'");
}

int Number(const char* option, const std::string& value, int low, int high) {
  errno = 0;
  char* end = nullptr;
  long n = std::strtol(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || errno != 0 || n < low || n > high)
    throw TpwUsageError(std::string("--") + option + " must be a whole number from " + std::to_string(low) + " to " +
                        std::to_string(high) + ", not '" + value + "'");
  return static_cast<int>(n);
}
}  // namespace

const std::vector<TpwOptionSpec>& OptionTable() {
  static const std::vector<TpwOptionSpec> table = {
      {"info", 0, nullptr, "print the PDF version, encryption, page count and each page's rotation and media box",
       [](TpwCliOptions& o, const std::string&) { o.Info = true; }},
      {"dump-emf", 0, "DIR", "write each page's drawing as DIR/page-N.emf",
       [](TpwCliOptions& o, const std::string& v) { o.DumpEmfDir = v; }},
      {"dump-text", 0, nullptr,
       "print the text records of each page's drawing, a line per record or run of records that carry on one another",
       [](TpwCliOptions& o, const std::string&) { o.DumpText = true; }},
      {"paper", 0, "SIZE",
       "paper of the RTF pages: A3, A4 (default), Letter, A5, B4, B5, ISO-B4, or pdf: each page the size "
       "and orientation of its PDF page; a PDF page larger than the paper is drawn smaller to fit it",
       [](TpwCliOptions& o, const std::string& v) {
         o.PaperSize = Choice("paper", v,
                              {{"A3", "A3"},
                               {"A4", "A4"},
                               {"Letter", "Letter"},
                               {"A5", "A5"},
                               {"B4", "B4"},
                               {"B5", "B5"},
                               {"ISO-B4", "ISO-B4"},
                               {"pdf", "PDF"}});
       }},
      {"mode", 0, "MODE", "standard (text only, default) or extended (text, pictures and shapes)",
       [](TpwCliOptions& o, const std::string& v) {
         o.ExtendedConversion = Choice("mode", v, {{"standard", "0"}, {"extended", "1"}}) == "1";
       }},
      {"image-format", 0, "FMT", "pictures in extended mode: jpeg (default), bmp, png or metafile",
       [](TpwCliOptions& o, const std::string& v) {
         o.ImageFormat =
             Choice("image-format", v, {{"jpeg", "JPEG"}, {"bmp", "BMP"}, {"png", "PNG"}, {"metafile", "Metafile"}});
       }},
      {"quality", 0, "N", "JPEG picture quality, 1..100 (default 100: JPEG pictures of the PDF are kept as they are)",
       [](TpwCliOptions& o, const std::string& v) { o.Quality = Number("quality", v, 1, 100); }},
      {"page-as-picture", 0, nullptr,
       "each page becomes one picture (an EMF) that looks like the page, instead of text",
       [](TpwCliOptions& o, const std::string&) { o.PageAsPicture = true; }},
      {"layout", 0, "KIND", "editing (paragraphs and tabs, default) or exact (positioned frames)",
       [](TpwCliOptions& o, const std::string& v) {
         o.PositionalLayout = Choice("layout", v, {{"editing", "0"}, {"exact", "1"}}) == "1";
       }},
      {"output-dir", 'o', "DIR", "convert every INPUT to DIR/<name>.rtf (DIR is made when missing)",
       [](TpwCliOptions& o, const std::string& v) { o.OutputDir = v; }},
      {"jobs", 'j', "N", "with -o, convert up to N files at the same time (default 1)",
       [](TpwCliOptions& o, const std::string& v) { o.Jobs = Number("jobs", v, 1, 64); }},
      {"quiet", 'q', nullptr, "no progress line and no summary",
       [](TpwCliOptions& o, const std::string&) { o.Quiet = true; }},
      {"verbose", 'v', nullptr, "list the problems of the file that were worked around, at most 20 per page",
       [](TpwCliOptions& o, const std::string&) { o.Verbose = true; }},
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
      "usage: paperwright [options] INPUT.pdf [OUTPUT.rtf]\n"
      "       paperwright [options] -o DIR [-j N] INPUT.pdf...\n"
      "       paperwright --info FILE.pdf [--password PW]\n"
      "       paperwright --dump-emf DIR FILE.pdf [--password PW]\n"
      "       paperwright --dump-text FILE.pdf [--password PW]\n"
      "       paperwright --version | --help\n"
      "\noptions:\n";
  for (const TpwOptionSpec& spec : OptionTable()) {
    std::string left = "  ";
    if (spec.ShortName) left += std::string("-") + spec.ShortName + ", ";
    left += std::string("--") + spec.LongName;
    if (spec.ValueName) left += std::string(" ") + spec.ValueName;
    if (left.size() < 22)
      left.resize(22, ' ');
    else
      left += "  ";
    text += left + spec.Help + "\n";
  }
  text +=
      "\nexit status: 0 success, 1 usage error, 2 the file cannot be read, "
      "3 wrong or missing password,\n"
      "4 the target cannot be written\n"
      "\nOUTPUT defaults to INPUT with \".rtf\" appended; a name that does not end in \".rtf\"\n"
      "gets \".rtf\" appended. A target is written whole or not at all.\n";
  return text;
}

}  // namespace pw::cli
