#include "cli/dump.h"

#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <numbers>
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

// Decides whether a text record carries on the line of the one before it:
// a run split where its colour or font changes ("Hello" in black, "World"
// in red right after it) is still one word on the page, and printing the
// pieces on lines of their own would break it in two. The recorded advances
// are a substitute face's, a little off the page's own: only a record that
// starts within a twentieth of an em of the previous one's end (or overlaps
// it a little) is taken to carry on the word.
class TkxTextLineJoiner {
 public:
  // True when t starts where the previous record ended, on its baseline and
  // with no visible gap; remembers t's end either way.
  bool Continues(const TkxEmrExtTextOut& t, const TkxLogFontW& font) {
    const double em = std::abs(static_cast<double>(font.lfHeight));
    const double angle = font.lfEscapement * std::numbers::pi / 1800.0;
    const double bx = std::cos(angle), by = -std::sin(angle);  // baseline direction, y down
    double width = 0;
    const bool pdy = (t.Options & ETO_PDY) != 0;
    for (size_t i = 0; i < t.Dx.size(); i += pdy ? 2 : 1) width += t.Dx[i];
    bool joins = false;
    if (has_ && !pdy && em > 0 && font.lfEscapement == escapement_ && std::abs(em - em_) <= 0.1 * em) {
      const double dx = t.Reference.x - endX_, dy = t.Reference.y - endY_;
      const double along = dx * bx + dy * by, across = dy * bx - dx * by;
      joins = std::abs(across) <= 0.15 * em && along >= -0.25 * em && along <= 0.05 * em;
    }
    has_ = !pdy && em > 0 && !t.Dx.empty();
    em_ = em;
    escapement_ = font.lfEscapement;
    endX_ = t.Reference.x + bx * width;
    endY_ = t.Reference.y + by * width;
    return joins;
  }

 private:
  bool has_ = false;
  double em_ = 0, endX_ = 0, endY_ = 0;
  int32_t escapement_ = 0;
};

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
    TkxTextLineJoiner lines;
    std::map<uint32_t, TkxLogFontW> fonts;
    TkxLogFontW font;
    bool first = true;
    mf.EnumerateRecords([&](const TkxEmfRecord& r) {
      switch (r.Type()) {
        case EMR_EXTCREATEFONTINDIRECTW: {
          TkxEmrCreateFont f;
          if (DecodeExtCreateFont(r, f)) fonts[f.ihFont] = f.LogFont;
          return true;
        }
        case EMR_SELECTOBJECT:
          if (auto it = fonts.find(r.U32(8)); it != fonts.end()) font = it->second;
          return true;
        case EMR_EXTTEXTOUTW: break;
        default: return true;
      }
      TkxEmrExtTextOut t;
      if (!DecodeExtTextOut(r, t)) return true;
      for (char16_t& c : t.Text)
        if (c < 0x20 || c == 0x7F) c = u' ';
      if (!lines.Continues(t, font) && !first) std::fputc('\n', out);
      first = false;
      std::fputs(WideToUtf8(t.Text).c_str(), out);
      return true;
    });
    if (!first) std::fputc('\n', out);
    std::fputc('\f', out);
  });
  return ok ? ecOk : ecCannotRead;
}

}  // namespace pw::cli
