// Every PDF of the shared corpus: page count and rotations as pdfinfo
// reports them, and for encrypted files the passwords, a wrong password, and
// content streams that decrypt and inflate.
#include <gtest/gtest.h>

#include <filesystem>

#include "pdf/kxPDFDoc.h"

using namespace pw;

namespace {

std::string CorpusDir() { return std::string(PW_SOURCE_DIR) + "/../shared/corpus"; }

struct CorpusFile {
  const char* name;
  int pages;     // pdfinfo's page count
  int rotation;  // pdfinfo reports this rotation for every page
  // Passwords that open the file; empty for a file that is not encrypted.
  std::vector<std::string> passwords;
};

// Computed once with `pdfinfo -f 1 -l <pages>` (poppler).
const std::vector<CorpusFile> kCorpus = {
    {"annotations.pdf", 1, 0, {}},
    {"arabic.pdf", 1, 0, {}},
    {"cmyk-image.pdf", 1, 0, {}},
    {"enc-aes-128-empty-user.pdf", 30, 0, {""}},
    {"enc-aes-256-r5-user-baz-owner-foo.pdf", 1, 0, {"baz", "foo"}},
    {"enc-aes-256-r6-user-view-owner-master.pdf", 30, 0, {"view", "master"}},
    {"enc-rc4-128-images.pdf", 2, 0, {""}},
    {"enc-rc4-128-user-view-owner-master.pdf", 30, 0, {"view", "master"}},
    {"enc-rc4-40-empty-user.pdf", 30, 0, {""}},
    {"enc-rc4-40-user-baz-owner-foo.pdf", 1, 0, {"baz", "foo"}},
    {"google-doc.pdf", 1, 0, {}},
    {"grayscale-image.pdf", 1, 0, {}},
    {"im-ascii85.pdf", 1, 0, {}},
    {"im-ccitt.pdf", 1, 0, {}},
    {"im-images.pdf", 6, 0, {}},
    {"im-lzw.pdf", 1, 0, {}},
    {"latex-4-pages.pdf", 4, 0, {}},
    {"latex-forms.pdf", 1, 0, {}},
    {"latex-geotopo-117-pages.pdf", 117, 0, {}},
    {"latex-jpeg-image.pdf", 1, 0, {}},
    {"latex-minimal.pdf", 1, 0, {}},
    {"latex-multicolumn.pdf", 3, 0, {}},
    {"latex-outline.pdf", 4, 0, {}},
    {"pdfa.pdf", 1, 0, {}},
    {"pdfkit.pdf", 1, 0, {}},
    {"pm-font-size-test.pdf", 3, 0, {}},
    {"pm-identity-cmap.pdf", 2, 0, {""}},
    {"pm-jo.pdf", 1, 0, {}},
    {"pm-matplotlib-type3.pdf", 1, 0, {}},
    {"pm-simple1.pdf", 1, 0, {}},
    {"pm-simple2.pdf", 1, 0, {}},
    {"pm-simple3.pdf", 1, 0, {}},
    {"pm-simple4.pdf", 1, 0, {}},
    {"pm-simple5.pdf", 1, 0, {}},
    {"reportlab-inline-image.pdf", 1, 0, {}},
    {"reportlab-overlay.pdf", 1, 0, {}},
    {"writer-form.pdf", 1, 0, {}},
    {"writer-link.pdf", 1, 0, {}},
    {"writer-password.pdf", 1, 0, {"openpassword"}},
    {"writer-trivial.pdf", 1, 0, {}},
};

// Loads with one password offered once.
void LoadWith(TkxPDFDocument& doc, const std::string& path, const std::string& password) {
  doc.OnPassword = [password](TkxComponent*, std::string& pw, bool& cont, int tries) {
    pw = password;
    cont = tries == 0;
  };
  doc.LoadFromFile(path);
}

// Decodes every content stream of every page; returns the total size.
size_t InflateContents(TkxPDFDocument& doc) {
  size_t total = 0;
  for (int page = 1; page <= doc.PageCount(); ++page) {
    TkxPDFObject* contents = doc.Store().ResolveAny(doc.GetPageDict(page)->Lookup("/Contents"));
    std::vector<TkxPDFObject*> parts;
    if (TkxPDFArrayObject* a = AsArray(contents))
      for (auto& item : a->Items) parts.push_back(item.get());
    else
      parts.push_back(contents);
    for (TkxPDFObject* part : parts)
      if (TkxPDFStreamObject* s = doc.Store().ResolveStream(part)) total += doc.DecodeStream(*s).size();
  }
  return total;
}

}  // namespace

TEST(Corpus, EveryFileLoadsLikePdfinfoSaysAndDecrypts) {
  if (!std::filesystem::is_directory(CorpusDir())) GTEST_SKIP() << "no corpus at " << CorpusDir();
  // Every file of the corpus is in the table.
  size_t onDisk = 0;
  for (const auto& entry : std::filesystem::directory_iterator(CorpusDir()))
    if (entry.path().extension() == ".pdf") ++onDisk;
  EXPECT_EQ(onDisk, kCorpus.size());

  for (const CorpusFile& f : kCorpus) {
    SCOPED_TRACE(f.name);
    const std::string path = CorpusDir() + "/" + f.name;
    for (const std::string& password : f.passwords.empty() ? std::vector<std::string>{""} : f.passwords) {
      SCOPED_TRACE("password '" + password + "'");
      TkxPDFDocument doc;
      ASSERT_NO_THROW(LoadWith(doc, path, password));
      EXPECT_EQ(doc.IsEncrypted(), !f.passwords.empty());
      ASSERT_EQ(doc.PageCount(), f.pages);
      for (int page = 1; page <= f.pages; ++page) EXPECT_EQ(doc.GetPageRotation(page), f.rotation) << page;
      if (doc.IsEncrypted()) {
        size_t inflated = 0;
        ASSERT_NO_THROW(inflated = InflateContents(doc));
        EXPECT_GT(inflated, 0u);
      }
    }
    if (!f.passwords.empty()) {
      TkxPDFDocument doc;
      EXPECT_THROW(LoadWith(doc, path, "not-the-password"), EPasswordError);
      EXPECT_FALSE(doc.IsLoaded());
    }
  }
}
