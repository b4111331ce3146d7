#include "cli/dump.h"

#include <cmath>
#include <filesystem>
#include <functional>
#include <new>

#include "cli/pwCommandLine.h"
#include "pdf/kxClasses.h"
#include "platform/kxEmf.h"
#include "platform/kxEmfRecorder.h"
#include "platform/kxScreen.h"
#include "render/kxPageRenderer.h"

namespace pw::cli {

namespace {

// Loads the document: a given password is tried once, otherwise only the
// empty one (these are debugging aids; they never prompt).
int Load(TkxPDFDocument& doc, const std::string& file, const std::optional<std::string>& password, std::FILE* err) {
  doc.OnPassword = [password, calls = 0](TkxComponent*, std::string& pw, bool& cont, int) mutable {
    pw = password.value_or(std::string());
    cont = ++calls == 1;
  };
  try {
    doc.LoadFromFile(file);
  } catch (const EPasswordError&) {
    std::fprintf(err, "paperwright: %s: %s\n", file.c_str(),
                 password ? "wrong password" : "the file is encrypted; give its password with --password");
    return ecPassword;
  } catch (const std::bad_alloc&) {
    std::fprintf(err, "paperwright: cannot read %s: out of memory\n", file.c_str());
    return ecCannotRead;
  } catch (const std::exception& e) {
    std::fprintf(err, "paperwright: cannot read %s: %s\n", file.c_str(), e.what());
    return ecCannotRead;
  }
  return ecOk;
}

// Draws every page on a canvas of the page's size at the screen resolution
// and hands the closed recording to fn. Returns false when a page failed.
bool ForEachPage(TkxPDFDocument& doc, std::FILE* err, const std::function<void(int page, const TkxMetafile& mf)>& fn) {
  bool ok = true;
  const int ppi = TkxScreen::PPI();
  for (int page = 1; page <= doc.PageCount(); ++page) {
    try {
      const TkxPageGeometry geo = GetPageGeometry(doc, page);
      const int w = static_cast<int>(std::lround(geo.Width * ppi / 72.0));
      const int h = static_cast<int>(std::lround(geo.Height * ppi / 72.0));
      TkxEmfRecorder canvas(w, h, ppi);
      RenderPage(doc, page, canvas);
      fn(page, canvas.Close());
    } catch (const std::exception& e) {
      std::fprintf(err, "paperwright: page %d: %s\n", page, e.what());
      ok = false;
    }
  }
  return ok;
}

}  // namespace

int RunDumpEmf(const std::string& dir, const std::string& file, const std::optional<std::string>& password,
               std::FILE* out, std::FILE* err) {
  TkxPDFDocument doc;
  if (int rc = Load(doc, file, password, err)) return rc;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  bool written = true;
  const bool ok = ForEachPage(doc, err, [&](int page, const TkxMetafile& mf) {
    const std::string name = (std::filesystem::path(dir) / ("page-" + std::to_string(page) + ".emf")).string();
    try {
      mf.SaveToFile(name);
      std::fprintf(out, "%s\n", name.c_str());
    } catch (const std::exception& e) {
      std::fprintf(err, "paperwright: cannot write %s: %s\n", name.c_str(), e.what());
      written = false;
    }
  });
  return ok && written ? ecOk : ecCannotRead;
}

int RunDumpText(const std::string& file, const std::optional<std::string>& password, std::FILE* out, std::FILE* err) {
  TkxPDFDocument doc;
  if (int rc = Load(doc, file, password, err)) return rc;
  const bool ok = ForEachPage(doc, err, [&](int, const TkxMetafile& mf) {
    mf.EnumerateRecords([&](const TkxEmfRecord& r) {
      if (r.Type() != EMR_EXTTEXTOUTW) return true;
      TkxEmrExtTextOut t;
      if (!DecodeExtTextOut(r, t)) return true;
      for (char16_t& c : t.Text)
        if (c < 0x20 || c == 0x7F) c = u' ';
      std::fprintf(out, "%s\n", WideToUtf8(t.Text).c_str());
      return true;
    });
    std::fputc('\f', out);
  });
  return ok ? ecOk : ecCannotRead;
}

}  // namespace pw::cli
