// Document loading: files and names, passwords, the page tree with its
// inherited attributes, page rotation, page ranges and page deletion.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "pdf/kxPDFDoc.h"
#include "pdf/kxWarnings.h"
#include "pdf_builder.h"

using namespace pw;
using pwtest::AddSimplePages;
using pwtest::PdfBuilder;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::string SimpleFile(int pages, const std::string& rootExtra = "") {
  PdfBuilder b;
  AddSimplePages(b, pages, rootExtra);
  b.StartXRef(b.XRefTable("/Size 200 /Root 1 0 R"));
  return b.bytes;
}

std::string Fixture(const char* name) { return std::string(PW_SOURCE_DIR) + "/tests/pdf/data/" + name; }

std::string ContentOf(TkxPDFDocument& doc, int page) {
  TkxPDFStreamObject* s = doc.Store().ResolveStream(doc.GetPageDict(page)->Lookup("/Contents"));
  if (!s) return "<none>";
  std::vector<uint8_t> d = doc.DecodeStream(*s);
  return std::string(d.begin(), d.end());
}

}  // namespace

TEST(Document, FileNamesAndMissingFiles) {
  auto dir = std::filesystem::temp_directory_path() / ("pw-doc-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  { std::ofstream(dir / "report.pdf", std::ios::binary) << SimpleFile(2); }
  TkxPDFDocument doc;
  EXPECT_TRUE(doc.LoadFromFile((dir / "report").string()));  // ".pdf" appended
  EXPECT_EQ(doc.WorkFileName(), (dir / "report.pdf").string());
  EXPECT_EQ(doc.Filename, (dir / "report.pdf").string());
  EXPECT_EQ(doc.PageCount(), 2);

  const std::string missing = (dir / "absent.pdf").string();
  try {
    doc.LoadFromFile(missing);
    FAIL();
  } catch (const EFileNotFound& e) {
    EXPECT_EQ(std::string(e.what()), missing + " File Not Found");
  }
  EXPECT_FALSE(doc.IsLoaded());
  EXPECT_EQ(doc.PageCount(), 0);
  std::filesystem::remove_all(dir);
}

TEST(Document, IdentityEventsAndClose) {
  TkxPDFDocument doc;
  std::vector<std::string> status;
  std::vector<int> progress;
  int begins = 0, ends = 0;
  doc.OnStatusMessage = [&](TkxComponent* sender, const std::string& m) {
    EXPECT_EQ(sender, &doc);
    status.push_back(m);
  };
  doc.OnIOProgress = [&](TkxComponent*, int p) { progress.push_back(p); };
  doc.OnBeginRead = [&](TkxComponent*) { ++begins; };
  doc.OnEndRead = [&](TkxComponent*) { ++ends; };
  const int32_t fresh = doc.DocumentID();
  EXPECT_EQ(doc.PDFVersion(), pvPDF14);
  EXPECT_TRUE(doc.LoadFromMemory(Bytes(SimpleFile(3))));
  EXPECT_GT(doc.DocumentID(), fresh);  // every load is a new identity
  EXPECT_EQ(progress, (std::vector<int>{10, 75, 30, 90, 60, 100}));
  EXPECT_EQ(begins, 1);
  EXPECT_EQ(ends, 1);
  ASSERT_FALSE(status.empty());
  EXPECT_EQ(status.back(), "Document read complete. Pages read = 3");
  EXPECT_NE(std::find(status.begin(), status.end(), "Traversing Pages..."), status.end());

  const int32_t loaded = doc.DocumentID();
  doc.ClosePDFDocument();
  EXPECT_GT(doc.DocumentID(), loaded);
  EXPECT_FALSE(doc.IsLoaded());
  EXPECT_EQ(doc.PageCount(), 0);
  EXPECT_EQ(doc.Store().Count(), 0);
}

TEST(Document, InheritedAttributesAndRotation) {
  PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.Object(2,
           "<< /Type /Pages /Kids [10 0 R 3 0 R] /Count 3 /Rotate 90 /MediaBox [0 0 612 792] "
           "/Resources << /Font << >> >> >>");
  b.Object(3, "<< /Type /Pages /Parent 2 0 R /Kids [11 0 R 12 0 R] /Count 2 /Rotate 180 >>");
  b.Object(10, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 200] /B [5 0 R] >>");
  b.Object(11, "<< /Type /Page /Parent 3 0 R /Rotate -90 >>");
  b.Object(12, "<< /Type /Page /Parent 3 0 R /Rotate 7 0 R /CropBox [1 2 3 4] >>");
  b.Object(7, "450");
  b.StartXRef(b.XRefTable("/Size 20 /Root 1 0 R"));
  TkxPDFDocument doc;
  doc.LoadFromMemory(Bytes(b.bytes));
  ASSERT_EQ(doc.PageCount(), 3);
  const TkxPDFDictObject* p1 = doc.GetPageDict(1);
  EXPECT_EQ(doc.GetPageRotation(1), 90);
  EXPECT_EQ(doc.GetPageMediaBox(1), (std::array<double, 4>{0, 0, 100, 200}));  // its own box stays
  EXPECT_EQ(p1->Lookup("/Parent"), nullptr);
  EXPECT_EQ(p1->Lookup("/B"), nullptr);
  EXPECT_NE(p1->Lookup("/Resources"), nullptr);
  EXPECT_EQ(doc.GetPageRotation(2), 270);  // -90 as a quarter turn
  EXPECT_EQ(doc.GetPageRotation(3), 90);   // 450 through a reference
  EXPECT_EQ(doc.GetPageMediaBox(3), (std::array<double, 4>{0, 0, 612, 792}));
  EXPECT_NE(doc.GetPageDict(3)->Lookup("/CropBox"), nullptr);
  for (int bad : {0, 4}) {
    try {
      doc.GetPageRotation(bad);
      FAIL() << bad;
    } catch (const EInvalidPageError& e) {
      EXPECT_EQ(std::string(e.what()), "Invalid page number (" + std::to_string(bad) + ")");
    }
  }
}

TEST(Document, MalformedPageTrees) {
  struct Case {
    const char* name;
    std::string pages;  // objects 2.. as "num|body;" pairs
    int expectPages;    // -1: "Unexpected Error"
  } cases[] = {
      {"kids cycle", "2|<< /Type /Pages /Kids [3 0 R 10 0 R] >>;3|<< /Type /Pages /Kids [2 0 R 3 0 R] >>", 1},
      {"page listed twice", "2|<< /Type /Pages /Kids [10 0 R 10 0 R 11 0 R] >>;11|<< /Type /Page >>", 2},
      {"missing kid", "2|<< /Type /Pages /Kids [10 0 R 99 0 R] >>", 1},
      {"node without type", "2|<< /Type /Pages /Kids [10 0 R 11 0 R] >>;11|<< /Kids [] >>", -1},
      {"node of another type", "2|<< /Type /Pages /Kids [11 0 R] >>;11|<< /Type /Font >>", -1},
  };
  for (const Case& c : cases) {
    PdfBuilder b;
    b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.Object(10, "<< /Type /Page >>");
    std::string spec = c.pages;
    for (size_t start = 0; start < spec.size();) {
      size_t end = spec.find(';', start);
      if (end == std::string::npos) end = spec.size();
      std::string item = spec.substr(start, end - start);
      size_t bar = item.find('|');
      b.Object(std::stoi(item.substr(0, bar)), item.substr(bar + 1));
      start = end + 1;
    }
    b.StartXRef(b.XRefTable("/Size 100 /Root 1 0 R"));
    TkxPDFDocument doc;
    if (c.expectPages < 0) {
      try {
        doc.LoadFromMemory(Bytes(b.bytes));
        ADD_FAILURE() << c.name;
      } catch (const EUnexpectedError& e) {
        EXPECT_STREQ(e.what(), "Unexpected Error") << c.name;
      }
      EXPECT_FALSE(doc.IsLoaded()) << c.name;
    } else {
      doc.LoadFromMemory(Bytes(b.bytes));
      EXPECT_EQ(doc.PageCount(), c.expectPages) << c.name;
    }
  }
}

TEST(Document, ParsePageRange) {
  struct Case {
    const char* text;
    int count;
    std::vector<int> pages;
    const char* error;  // nullptr when valid
  } cases[] = {
      {"1,3,5-12", 20, {1, 3, 5, 6, 7, 8, 9, 10, 11, 12}, nullptr},
      {"18-", 20, {18, 19, 20}, nullptr},
      {"-2", 20, {1, 2}, nullptr},
      {"", 3, {1, 2, 3}, nullptr},
      {"2 1, \"3\"", 3, {2, 1, 3}, nullptr},
      {"2 - 3", 3, {2, 1, 2, 3, 3}, nullptr},  // spaces split items; "-" alone is every page
      {"0", 5, {}, "Invalid page number (0)"},
      {"6", 5, {}, "Invalid page number (6)"},
      {"3-2", 5, {}, "Invalid page range (3-2)"},
      {"a", 5, {}, "Invalid page range (a)"},
      {"1-x", 5, {}, "Invalid page range (1-x)"},
      {"2-9", 5, {}, "Invalid page range (2-9)"},
      {"1-2000000000", 5, {}, "Invalid page range (1-2000000000)"},
  };
  for (const Case& c : cases) {
    if (!c.error) {
      EXPECT_EQ(TkxCustomPDFDocument::ParsePageRange(c.text, c.count), c.pages) << c.text;
      continue;
    }
    try {
      TkxCustomPDFDocument::ParsePageRange(c.text, c.count);
      ADD_FAILURE() << c.text;
    } catch (const EInvalidPageError& e) {
      EXPECT_STREQ(e.what(), c.error) << c.text;
    }
  }
}

TEST(Document, DeletePages) {
  struct Case {
    int pages;
    const char* range;
    std::vector<std::string> left;  // contents of the pages that remain
    const char* error;
  } cases[] = {
      {3, "1", {"(page 2)", "(page 3)"}, nullptr},
      {1, "1", {}, nullptr},
      {5, "2-", {"(page 1)"}, nullptr},
      {4, "4,2", {"(page 1)", "(page 3)"}, nullptr},
      {5, "0", {}, "Invalid page number (0)"},
      {5, "3-2", {}, "Invalid page range (3-2)"},
      {5, "a", {}, "Invalid page range (a)"},
      {5, "2,1-3", {}, "Invalid page range (2,1-3)"},  // page 2 named twice
  };
  for (const Case& c : cases) {
    TkxPDFDocument doc;
    std::string last;
    doc.OnStatusMessage = [&last](TkxComponent*, const std::string& m) { last = m; };
    doc.LoadFromMemory(Bytes(SimpleFile(c.pages)));
    if (c.error) {
      try {
        doc.DeletePages(c.range);
        ADD_FAILURE() << c.range;
      } catch (const EInvalidPageError& e) {
        EXPECT_STREQ(e.what(), c.error) << c.range;
      }
      EXPECT_EQ(doc.PageCount(), c.pages) << c.range;
      continue;
    }
    const int before = doc.PageCount();
    doc.DeletePages(c.range);
    ASSERT_EQ(doc.PageCount(), static_cast<int>(c.left.size())) << c.range;
    for (int i = 0; i < doc.PageCount(); ++i)
      EXPECT_NE(ContentOf(doc, i + 1).find(c.left[static_cast<size_t>(i)]), std::string::npos) << c.range;
    EXPECT_EQ(last, std::to_string(before - doc.PageCount()) + " pages deleted");
  }
}

TEST(Document, PasswordsAndObjectStreamsInEncryptedFiles) {
  for (const char* name : {"rc4-128-objstm-user-secret.pdf", "aes-256-objstm-user-secret.pdf"}) {
    std::ifstream in(Fixture(name), std::ios::binary);
    ASSERT_TRUE(in) << name;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    // The handler is asked until it gives up or a password is accepted.
    TkxPDFDocument doc;
    std::vector<int> tries;
    const std::vector<std::string> answers = {"", "wrong", "secret"};
    doc.OnPassword = [&](TkxComponent*, std::string& pw, bool& cont, int t) {
      tries.push_back(t);
      pw = answers[static_cast<size_t>(t)];
      cont = true;
    };
    ASSERT_TRUE(doc.LoadFromMemory(bytes)) << name;
    EXPECT_EQ(tries, (std::vector<int>{0, 1, 2})) << name;
    EXPECT_TRUE(doc.IsEncrypted());
    ASSERT_EQ(doc.PageCount(), 2) << name;
    EXPECT_EQ(doc.GetPageRotation(1), 90);  // page objects come from the decrypted object stream
    EXPECT_EQ(ContentOf(doc, 2).substr(0, 18), "BT (page two) Tj E") << name;
    EXPECT_EQ(doc.Info().Title, u"secret title") << name;
    EXPECT_FALSE(doc.EncryptionDescription().empty());

    // A handler that gives up, and a file opened without a handler, fail
    // with the password error and leave the document empty.
    tries.clear();
    doc.OnPassword = [&](TkxComponent*, std::string& pw, bool& cont, int t) {
      tries.push_back(t);
      pw = "nope";
      cont = t < 2;
    };
    EXPECT_THROW(doc.LoadFromMemory(bytes), EPasswordError) << name;
    EXPECT_EQ(tries, (std::vector<int>{0, 1, 2}));
    EXPECT_FALSE(doc.IsLoaded());
    EXPECT_EQ(doc.Store().Count(), 0);
    doc.OnPassword = nullptr;
    EXPECT_THROW(doc.LoadFromMemory(bytes), EPasswordError) << name;
  }
}

TEST(Document, BadInputGivesErrors) {
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"no header", "hello world"},
      {"header only", "%PDF-1.4\n"},
      {"unsupported version", "%PDF-1.9\n1 0 obj << /Type /Catalog >> endobj"},
      {"catalog without pages", "%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\ntrailer << /Root 1 0 R >>"},
      {"deep nesting", "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages " + std::string(5000, '[') + " >> endobj"},
  };
  for (const Case& c : cases) {
    TkxPDFDocument doc;
    EXPECT_THROW(doc.LoadFromMemory(Bytes(c.bytes)), Exception) << c.name;
    EXPECT_FALSE(doc.IsLoaded()) << c.name;
  }
}

// Damage and protection quirks that other readers tolerate: each file opens,
// shows its text, and leaves a trace in the warning sink where something was
// repaired on the way.
TEST(Document, ToleratedDamageAndProtection) {
  struct Case {
    const char* file;
    const char* text;
    bool warns;
  };
  const Case cases[] = {
      {"tolerate-attachment-only-encrypted.pdf", "Only the attachment is protected", false},
      {"tolerate-empty-user-v4-cf-40bit.pdf", "Empty user password", false},
      {"tolerate-broken-dict-key.pdf", "Broken dictionary key", true},
      {"tolerate-missing-endstream.pdf", "Missing endstream", true},
      {"tolerate-xref-entry-without-generation.pdf", "Entry without generation", false},
  };
  for (const Case& c : cases) {
    std::ifstream in(Fixture(c.file), std::ios::binary);
    ASSERT_TRUE(in) << c.file;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    TkxWarningSink sink;
    TkxWarningScope scope(sink);
    TkxPDFDocument doc;
    int asked = 0;
    doc.OnPassword = [&](TkxComponent*, std::string& pw, bool& cont, int) {
      ++asked;
      pw.clear();
      cont = asked == 1;
    };
    ASSERT_TRUE(doc.LoadFromMemory(bytes)) << c.file;
    ASSERT_EQ(doc.PageCount(), 1) << c.file;
    // Exactly the stream's data: nothing of the objects after it.
    EXPECT_EQ(ContentOf(doc, 1), "BT /F1 12 Tf 20 100 Td (" + std::string(c.text) + ") Tj ET") << c.file;
    EXPECT_FALSE(doc.Repaired()) << c.file;
    EXPECT_EQ(sink.Count() > 0, c.warns) << c.file;
  }

  // No password is asked where only attachments are encrypted.
  std::ifstream in(Fixture("tolerate-attachment-only-encrypted.pdf"), std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  TkxPDFDocument doc;
  doc.OnPassword = [](TkxComponent*, std::string&, bool& cont, int) {
    ADD_FAILURE() << "asked for a password";
    cont = false;
  };
  ASSERT_TRUE(doc.LoadFromMemory(bytes));
  EXPECT_EQ(doc.EncryptionDescription(), "attachments only");
  // The page dictionary keeps the entries after the broken key.
  std::ifstream in2(Fixture("tolerate-broken-dict-key.pdf"), std::ios::binary);
  ASSERT_TRUE(doc.LoadFromMemory(
      std::vector<uint8_t>((std::istreambuf_iterator<char>(in2)), std::istreambuf_iterator<char>())));
  EXPECT_NE(doc.GetPageDict(1)->Lookup("/CropBox"), nullptr);
  EXPECT_NE(doc.GetPageDict(1)->Lookup("/Contents"), nullptr);
}

// The other key length is tried only as far as /U confirms it: a wrong
// password still opens nothing.
TEST(Document, KeyLengthFallbackKeepsWrongPasswordsOut) {
  std::ifstream in(Fixture("tolerate-empty-user-v4-cf-40bit.pdf"), std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  TkxPDFDocument doc;
  doc.OnPassword = [](TkxComponent*, std::string& pw, bool& cont, int tries) {
    pw = "wrong";
    cont = tries == 0;
  };
  EXPECT_THROW(doc.LoadFromMemory(bytes), EPasswordError);
  doc.OnPassword = [](TkxComponent*, std::string& pw, bool& cont, int tries) {
    pw = "owner";
    cont = tries == 0;
  };
  ASSERT_TRUE(doc.LoadFromMemory(bytes));
  EXPECT_EQ(doc.EncryptionDescription(), "RC4 40-bit");
  EXPECT_EQ(doc.Encryption().Level(), el40bit);
}

// Pages are read in when first asked for; deleting a page frees it and what
// only it held once the next page has been read in. Objects of object streams
// cannot be read again and stay.
TEST(Document, DeletedPagesFreeWhatOnlyTheyHeld) {
  PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.Object(2, "<< /Type /Pages /Kids [10 0 R 11 0 R 12 0 R 13 0 R] /Count 4 /MediaBox [0 0 612 792] >>");
  for (int i = 0; i < 4; ++i) {
    std::string font = i % 2 ? "" : "/Resources << /Font << /F1 50 0 R >> >> ";
    b.Object(10 + i, "<< /Type /Page /Parent 2 0 R " + font + "/Contents " + std::to_string(100 + i) + " 0 R >>");
    b.Stream(100 + i, "", "BT (page " + std::to_string(i + 1) + ") Tj ET");
  }
  b.Object(50, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /FontDescriptor 51 0 R >>");
  b.Object(51, "<< /Type /FontDescriptor /FontName /Helvetica >>");
  b.ObjectStream(60, {{70, "<< /Kept true >>"}});
  b.Object(14, "<< /Uses 70 0 R >>");
  b.StartXRef(b.XRefStream(99, "/Root 1 0 R"));
  TkxPDFDocument doc;
  ASSERT_TRUE(doc.LoadFromMemory(Bytes(b.bytes)));
  const int32_t id = doc.DocumentID();
  auto stored = [&](int num) { return doc.Store().Find(id, num, 0) != nullptr; };
  EXPECT_FALSE(stored(100));  // not read before the page is asked for
  EXPECT_EQ(ContentOf(doc, 1), "BT (page 1) Tj ET");
  EXPECT_TRUE(stored(100) && stored(50) && stored(51));

  doc.DeletePages("1");
  EXPECT_FALSE(stored(10));  // the page itself goes at once
  EXPECT_EQ(ContentOf(doc, 1), "BT (page 2) Tj ET");
  EXPECT_FALSE(stored(100));
  EXPECT_FALSE(stored(50));  // page 2 does not use the font
  EXPECT_FALSE(stored(51));

  doc.DeletePages("1");
  EXPECT_EQ(ContentOf(doc, 1), "BT (page 3) Tj ET");
  // Freed objects are read again when a later page needs them.
  ASSERT_TRUE(stored(50));
  EXPECT_EQ(NameValue(AsDict(doc.Store().Find(id, 50, 0)->Value.get())->Lookup("/BaseFont")), "Helvetica");
  EXPECT_TRUE(stored(1));   // the catalog stays
  EXPECT_TRUE(stored(70));  // from an object stream: stays
  // Needed again after it was freed: a dictionary now stays, a stream not.
  doc.DeletePages("1");
  EXPECT_EQ(ContentOf(doc, 1), "BT (page 4) Tj ET");
  EXPECT_TRUE(stored(50));
  EXPECT_FALSE(stored(102));
  doc.DeletePages("1");
  EXPECT_EQ(doc.PageCount(), 0);
  EXPECT_TRUE(stored(1));
}

// Dictionaries needed again after they were freed stay, but only so many:
// a long document does not come to keep every font of every part of it.
TEST(Document, ObjectsKeptForLaterPagesAreBounded) {
  // Each font is used by a page, freed by the next, used again by the one
  // after and freed again: three pages per font.
  const int fonts = 300;
  PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  std::string kids;
  for (int i = 0; i < 3 * fonts; ++i) {
    const int page = 1000 + i, font = 5000 + i / 3;
    kids += std::to_string(page) + " 0 R ";
    const std::string res = i % 3 == 1 ? "" : "/Resources << /Font << /F1 " + std::to_string(font) + " 0 R >> >> ";
    b.Object(page, "<< /Type /Page /Parent 2 0 R " + res + ">>");
  }
  for (int f = 0; f < fonts; ++f)
    b.Object(5000 + f, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Widths [" + std::to_string(f) + "] >>");
  b.Object(2,
           "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(3 * fonts) + " /MediaBox [0 0 612 792] >>");
  b.StartXRef(b.XRefTable("/Root 1 0 R"));
  TkxPDFDocument doc;
  ASSERT_TRUE(doc.LoadFromMemory(Bytes(b.bytes)));
  const int32_t id = doc.DocumentID();
  for (int i = 0; i < 3 * fonts; ++i) {
    ContentOf(doc, 1);
    doc.DeletePages("1");
  }
  int kept = 0;
  for (int f = 0; f < fonts; ++f) kept += doc.Store().Find(id, 5000 + f, 0) != nullptr;
  EXPECT_GT(kept, 0);
  EXPECT_LE(kept, 256 + 1);  // (the last page's is still held)
}
