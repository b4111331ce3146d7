#include "cli/pwInfoCommand.h"

#include <cinttypes>
#include <new>

#include "cli/pwCommandLine.h"
#include "cli/pwPasswordPrompt.h"
#include "pdf/kxPDFDoc.h"

namespace pw::cli {

std::string VersionText(TkxPDFVersion version) {
  if (version == pvPDF20) return "2.0";
  return "1." + std::to_string(static_cast<int>(version));
}

namespace {

// Numbers as a person writes them: no trailing zeros, at most 3 decimals.
std::string Num(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3f", v);
  std::string s = buf;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  if (s == "-0") s = "0";
  return s;
}

// The password policy of the command line: a password given as an option is
// tried once; otherwise the empty password is tried first (files with an
// empty user password open without asking) and, on a terminal, the user is
// asked at most three times.
TkxPasswordEvent MakePasswordHandler(const std::optional<std::string>& given, bool& asked) {
  return [given, &asked, calls = 0](TkxComponent*, std::string& password, bool& cont, int) mutable {
    ++calls;
    if (given) {
      password = *given;
      cont = calls == 1;
      return;
    }
    if (calls == 1) {
      password.clear();
      cont = true;
      return;
    }
    if (calls > 4 || !StdinIsTerminal()) {
      cont = false;
      return;
    }
    asked = true;
    std::string prompt = calls == 2 ? "This PDF file has a password protection.\n" : "Wrong password. ";
    prompt += "Password (attempt " + std::to_string(calls - 1) + " of 3): ";
    std::optional<std::string> line = ReadHiddenLine(prompt);
    cont = line.has_value();
    if (line) password = *line;
  };
}

// Error texts may quote bytes of the file: anything that is not printable
// text (or well-formed UTF-8) is shown as '?'.
std::string Printable(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    bool ok = len > 0 && i + len <= text.size();
    for (size_t k = 1; ok && k < len; ++k) ok = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    if (ok && len == 1 && (c < 0x20 || c == 0x7F)) ok = false;
    if (!ok) {
      out += '?';
      ++i;
      continue;
    }
    out.append(text, i, len);
    i += len;
  }
  return out;
}

}  // namespace

int RunInfo(const std::string& file, const std::optional<std::string>& password, std::FILE* out, std::FILE* err) {
  TkxPDFDocument doc;
  bool asked = false;
  doc.OnPassword = MakePasswordHandler(password, asked);
  try {
    doc.LoadFromFile(file);
  } catch (const EPasswordError&) {
    std::fprintf(err, "paperwright: %s: %s\n", file.c_str(),
                 password || asked ? "wrong password" : "the file is encrypted; give its password with --password");
    return ecPassword;
  } catch (const std::bad_alloc&) {
    std::fprintf(err, "paperwright: cannot read %s: out of memory\n", file.c_str());
    return ecCannotRead;
  } catch (const std::exception& e) {
    std::fprintf(err, "paperwright: cannot read %s: %s\n", file.c_str(), Printable(e.what()).c_str());
    return ecCannotRead;
  }

  std::fprintf(out, "File:        %s\n", doc.WorkFileName().c_str());
  std::fprintf(out, "PDF version: %s\n", VersionText(doc.PDFVersion()).c_str());
  if (doc.IsEncrypted())
    std::fprintf(out, "Encrypted:   yes (%s)\n", doc.EncryptionDescription().c_str());
  else
    std::fprintf(out, "Encrypted:   no\n");
  if (doc.Repaired()) std::fprintf(out, "Repaired:    yes (damaged cross-reference data was rebuilt)\n");
  std::fprintf(out, "Pages:       %d\n", doc.PageCount());
  for (int page = 1; page <= doc.PageCount(); ++page) {
    std::array<double, 4> box = doc.GetPageMediaBox(page);
    std::fprintf(out, "Page %d: rotation %d, media box [%s %s %s %s]\n", page, doc.GetPageRotation(page),
                 Num(box[0]).c_str(), Num(box[1]).c_str(), Num(box[2]).c_str(), Num(box[3]).c_str());
  }
  return ecOk;
}

}  // namespace pw::cli
