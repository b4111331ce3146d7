// Cross-reference reading, repair of damaged data, object streams and the
// object store.
#include <gtest/gtest.h>

#include <fstream>

#include "pdf/kxCstPDFDoc.h"
#include "pdf_builder.h"

using namespace pw;
using pwtest::AddSimplePages;
using pwtest::PdfBuilder;

namespace {

struct Loaded {
  std::unique_ptr<TkxCustomPDFDocument> doc = std::make_unique<TkxCustomPDFDocument>();
  std::vector<std::string> warnings;
};

std::unique_ptr<Loaded> Load(const std::string& bytes) {
  auto l = std::make_unique<Loaded>();
  Loaded* raw = l.get();
  l->doc->OnWarning = [raw](TkxComponent*, const std::string& w) { raw->warnings.push_back(w); };
  l->doc->LoadFromMemory(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  return l;
}

// The decoded content of a page's /Contents stream.
std::string PageText(TkxCustomPDFDocument& doc, int page) {
  TkxPDFStreamObject* s = doc.Store().ResolveStream(doc.GetPageDict(page)->Lookup("/Contents"));
  if (!s) return "<no stream>";
  std::vector<uint8_t> data = doc.DecodeStream(*s);
  return std::string(data.begin(), data.end());
}

std::string ClassicFile(int pages) {
  PdfBuilder b;
  AddSimplePages(b, pages);
  b.StartXRef(b.XRefTable("/Size 200 /Root 1 0 R"));
  return b.bytes;
}

}  // namespace

TEST(XRef, IncrementalUpdatesTakeNewestObjectsAndTrailer) {
  PdfBuilder b;
  AddSimplePages(b, 2);
  b.Object(50, "<< /Type /Catalog /Pages 2 0 R /Old true >>");
  b.XRefTable("/Size 200 /Root 50 0 R /Info 60 0 R");
  b.Stream(100, "", "first update");
  b.XRefTable("/Size 200 /Root 50 0 R");
  b.Stream(101, "", "second update");
  b.Object(60, "<< /Title (newest info) >>");
  b.StartXRef(b.XRefTable("/Size 200 /Root 1 0 R"));

  auto l = Load(b.bytes);
  TkxCustomPDFDocument& doc = *l->doc;
  EXPECT_EQ(doc.Trailer().RootObjectNumber, 1);  // from the newest trailer
  EXPECT_FALSE(doc.Repaired());
  ASSERT_EQ(doc.PageCount(), 2);
  EXPECT_EQ(PageText(doc, 1), "first update");
  EXPECT_EQ(PageText(doc, 2), "second update");
  EXPECT_EQ(doc.Info().Title, u"newest info");  // /Info only in the oldest trailer
  EXPECT_EQ(doc.LookupOffset(101), static_cast<int64_t>(b.Offset(101)));
  EXPECT_TRUE(l->warnings.empty());
}

TEST(XRef, StreamIndexWidthsAndPredictor) {
  // /W [1 2 1] with /Index [0 5 10 3]: entries for 0-4 and 10-12.
  PdfBuilder b;
  AddSimplePages(b, 1);
  std::string rows;
  auto row = [&rows](int type, int off, int gen) {
    rows += static_cast<char>(type);
    rows += static_cast<char>(off >> 8);
    rows += static_cast<char>(off & 255);
    rows += static_cast<char>(gen);
  };
  row(0, 0, 255);
  row(1, static_cast<int>(b.Offset(1)), 0);
  row(1, static_cast<int>(b.Offset(2)), 0);
  row(0, 0, 0);
  row(0, 0, 0);
  row(1, static_cast<int>(b.Offset(10)), 0);
  row(1, 0, 0);
  row(1, 0, 0);
  size_t at = b.bytes.size();
  b.Raw("90 0 obj\n<< /Type /XRef /W [1 2 1] /Index [0 5 10 3] /Size 13 /Root 1 0 R /Length " +
        std::to_string(rows.size()) + " >>\nstream\n" + rows + "\nendstream\nendobj\n");
  b.StartXRef(at);
  auto l = Load(b.bytes);
  std::vector<int> numbers;
  for (const auto& [n, item] : l->doc->XRefStmList()) numbers.push_back(n);
  EXPECT_EQ(numbers, (std::vector<int>{1, 2, 10, 11, 12}));  // free entries are not kept
  EXPECT_EQ(l->doc->LookupOffset(10), static_cast<int64_t>(b.Offset(10)));
  EXPECT_EQ(l->doc->PageCount(), 1);
  EXPECT_FALSE(l->doc->Repaired());

  // The same kind of data with PNG-Up rows and Flate, written by the builder.
  for (bool predictor : {false, true}) {
    PdfBuilder p("%PDF-1.5\n");
    AddSimplePages(p, 3);
    p.StartXRef(p.XRefStream(90, "/Root 1 0 R", true, predictor));
    auto lp = Load(p.bytes);
    EXPECT_EQ(lp->doc->PageCount(), 3) << predictor;
    EXPECT_FALSE(lp->doc->Repaired()) << predictor;
    EXPECT_EQ(lp->doc->LookupOffset(11), static_cast<int64_t>(p.Offset(11))) << predictor;
  }
}

TEST(XRef, TypeFieldOfWidthZeroMeansInUse) {
  PdfBuilder b;
  AddSimplePages(b, 1);
  std::string rows;
  for (int n : {1, 2, 10, 100}) {
    size_t off = b.Offset(n);
    rows += static_cast<char>(off >> 8);
    rows += static_cast<char>(off & 255);
  }
  size_t at = b.bytes.size();
  b.Raw("90 0 obj\n<< /Type /XRef /W [0 2 0] /Index [1 2 10 1 100 1] /Size 101 /Root 1 0 R /Length " +
        std::to_string(rows.size()) + " >>\nstream\n" + rows + "\nendstream\nendobj\n");
  b.StartXRef(at);
  auto l = Load(b.bytes);
  EXPECT_FALSE(l->doc->Repaired());
  ASSERT_EQ(l->doc->PageCount(), 1);
  EXPECT_EQ(PageText(*l->doc, 1), "BT /F1 12 Tf (page 1) Tj ET");
}

TEST(XRef, ObjectStreamsWhateverTheirFilters) {
  for (std::string filter : {"", "/FlateDecode", "[/ASCIIHexDecode /FlateDecode]"}) {
    PdfBuilder b("%PDF-1.5\n");
    b.ObjectStream(5,
                   {{1, "<< /Type /Catalog /Pages 2 0 R >>"},
                    {2, "<< /Type /Pages /Kids [10 0 R] /Count 1 /MediaBox [0 0 200 300] >>"},
                    {10, "<< /Type /Page /Parent 2 0 R /Contents 100 0 R /Rotate 90 >>"},
                    {60, "<< /Title (packed) >>"}},
                   filter);
    b.Stream(100, "", "content");
    b.StartXRef(b.XRefStream(90, "/Root 1 0 R /Info 60 0 R"));
    auto l = Load(b.bytes);
    TkxCustomPDFDocument& doc = *l->doc;
    ASSERT_EQ(doc.PageCount(), 1) << filter;
    EXPECT_EQ(doc.GetPageRotation(1), 90) << filter;
    EXPECT_EQ(doc.GetPageMediaBox(1), (std::array<double, 4>{0, 0, 200, 300})) << filter;
    EXPECT_EQ(PageText(doc, 1), "content") << filter;
    // The catalog is found in the store by its number with generation 0.
    ASSERT_NE(doc.Store().Find(doc.DocumentID(), 1, 0), nullptr) << filter;
    EXPECT_EQ(doc.CatalogDict(), AsDict(doc.Store().Find(doc.DocumentID(), 1, 0)->Value.get()));
    EXPECT_EQ(doc.Info().Title, u"packed") << filter;
  }
}

TEST(XRef, HybridFileAndUpdateOverCompressedObject) {
  // A classic table whose /XRefStm names the compressed objects, then an
  // update that replaces one of them by a direct object.
  PdfBuilder b("%PDF-1.5\n");
  b.ObjectStream(5, {{1, "<< /Type /Catalog /Pages 2 0 R >>"},
                     {2, "<< /Type /Pages /Kids [10 0 R] /Count 1 >>"},
                     {10, "<< /Type /Page /Contents 100 0 R >>"}});
  b.Stream(100, "", "old");
  size_t xs = b.XRefStream(90, "/Size 101");
  b.Object(3, "<< >>");
  size_t table = b.XRefTable("/Size 101 /Root 1 0 R /XRefStm " + std::to_string(xs));
  (void)table;
  b.Object(10, "<< /Type /Page /Contents 101 0 R /Rotate 270 >>");
  b.Stream(101, "", "new");
  b.StartXRef(b.XRefTable("/Size 102 /Root 1 0 R"));
  auto l = Load(b.bytes);
  ASSERT_EQ(l->doc->PageCount(), 1);
  EXPECT_EQ(l->doc->GetPageRotation(1), 270);
  EXPECT_EQ(PageText(*l->doc, 1), "new");
  EXPECT_FALSE(l->doc->Repaired());
}

TEST(XRef, OffsetsAndHeaderPositions) {
  struct Case {
    const char* name;
    std::string bytes;
  };
  std::vector<Case> cases;
  {
    // startxref pointing at the line break before "xref".
    PdfBuilder b;
    AddSimplePages(b, 2);
    size_t at = b.XRefTable("/Size 200 /Root 1 0 R");
    b.StartXRef(at - 1);
    cases.push_back({"one byte early", b.bytes});
  }
  {
    // Junk before the header; offsets count from the header.
    PdfBuilder b;
    AddSimplePages(b, 2);
    b.StartXRef(b.XRefTable("/Size 200 /Root 1 0 R"));
    cases.push_back({"offsets from the header", "GARBAGE BEFORE\n" + b.bytes});
  }
  {
    // Junk before the header; offsets count from the start of the file.
    PdfBuilder b("JUNK\n%PDF-1.4\n");
    AddSimplePages(b, 2);
    b.StartXRef(b.XRefTable("/Size 200 /Root 1 0 R"));
    cases.push_back({"offsets from the file start", b.bytes});
  }
  {
    PdfBuilder b("%PDF-2.0\n");
    AddSimplePages(b, 2);
    b.StartXRef(b.XRefTable("/Size 200 /Root 1 0 R"));
    cases.push_back({"version 2.0", b.bytes});
  }
  for (const Case& c : cases) {
    auto l = Load(c.bytes);
    EXPECT_EQ(l->doc->PageCount(), 2) << c.name;
    EXPECT_FALSE(l->doc->Repaired()) << c.name;
    EXPECT_EQ(PageText(*l->doc, 2), "BT /F1 12 Tf (page 2) Tj ET") << c.name;
  }
}

TEST(XRef, DamagedDataIsRebuiltByScanning) {
  const std::string good = ClassicFile(3);
  auto replace = [](std::string s, const std::string& from, const std::string& to) {
    size_t at = s.rfind(from);
    return at == std::string::npos ? s : s.replace(at, from.size(), to);
  };
  size_t sx = good.rfind("startxref\n") + 10;
  std::string badOffset = good.substr(0, sx) + "12\n%%EOF\n";
  std::string noStartxref = good.substr(0, good.rfind("startxref"));
  // Every entry shifted: the offsets point into other objects.
  std::string shifted = good;
  for (size_t p = shifted.find(" 00000 n"); p != std::string::npos; p = shifted.find(" 00000 n", p + 1))
    shifted[p - 1] = static_cast<char>(shifted[p - 1] == '9' ? '0' : shifted[p - 1] + 1);
  std::string noTrailer = replace(good, "trailer", "garbage");
  PdfBuilder xs("%PDF-1.5\n");
  AddSimplePages(xs, 3);
  xs.StartXRef(xs.XRefStream(90, "/Root 1 0 R"));
  std::string brokenStream = xs.bytes;
  size_t data = brokenStream.find("stream\n", brokenStream.find("/Type /XRef")) + 7;
  for (size_t i = 0; i < 8; ++i) brokenStream[data + i] = 'x';

  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {{"bad startxref", badOffset},
               {"no startxref", noStartxref},
               {"shifted offsets", shifted},
               {"no trailer keyword", noTrailer},
               {"broken cross-reference stream", brokenStream}};
  for (const Case& c : cases) {
    std::unique_ptr<Loaded> l;
    ASSERT_NO_THROW(l = Load(c.bytes)) << c.name;
    ASSERT_EQ(l->doc->PageCount(), 3) << c.name;
    EXPECT_EQ(PageText(*l->doc, 3), "BT /F1 12 Tf (page 3) Tj ET") << c.name;
    EXPECT_FALSE(l->warnings.empty()) << c.name;
  }
}

TEST(XRef, RepairFindsTheLastDefinitionAndTheCatalog) {
  // No cross-reference data and no trailer at all; object 100 is defined
  // twice and the later one counts.
  PdfBuilder b;
  AddSimplePages(b, 1);
  b.Stream(100, "", "redefined");
  auto l = Load(b.bytes);
  EXPECT_TRUE(l->doc->Repaired());
  ASSERT_EQ(l->doc->PageCount(), 1);
  EXPECT_EQ(PageText(*l->doc, 1), "redefined");

  // Nothing that looks like a catalog: the file is corrupted.
  PdfBuilder none;
  none.Object(1, "<< /Type /Pages /Kids [] /Count 0 >>");
  try {
    Load(none.bytes);
    FAIL() << "loaded without a catalog";
  } catch (const EPDFFileCorruptedError& e) {
    EXPECT_STREQ(e.what(), "File is corrupted");
  }
}

TEST(XRef, StreamLengths) {
  const std::string data = "0123456789abcdef";
  struct Case {
    const char* name;
    std::string length;
  } cases[] = {{"right", "16"},
               {"10 short", "6"},
               {"2 long", "18"},
               {"far too long", "999999999"},
               {"missing", ""},
               {"indirect", "7 0 R"},
               {"indirect to nothing", "8 0 R"},
               {"negative", "-5"}};
  for (const Case& c : cases) {
    PdfBuilder b;
    AddSimplePages(b, 1);
    b.Object(100, "<< " + (c.length.empty() ? std::string() : "/Length " + c.length) + " >>\nstream\n" + data +
                      "\nendstream");
    b.Object(7, "16");
    b.StartXRef(b.XRefTable("/Size 200 /Root 1 0 R"));
    auto l = Load(b.bytes);
    EXPECT_EQ(PageText(*l->doc, 1), data) << c.name;
  }
}

TEST(XRef, CyclesAndLongChainsLoad) {
  PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R /Loop 3 0 R >>");
  b.Object(2, "<< /Type /Pages /Kids [10 0 R] /Count 1 >>");
  // Resources that refer to each other, and a long chain of references.
  const int chain = 100000;
  b.Object(10, "<< /Type /Page /Resources 3 0 R /Contents 100 0 R /Chain 1000 0 R >>");
  b.Object(3, "<< /Next 4 0 R /Self 3 0 R >>");
  b.Object(4, "[3 0 R 4 0 R]");
  // Shared references that double at every level: 2^40 objects if copied out.
  for (int i = 0; i < 40; ++i) {
    const std::string next = std::to_string(201 + i);
    std::string body = "[";
    body += next;
    body += " 0 R ";
    body += next;
    body += " 0 R]";
    b.Object(200 + i, body);
  }
  b.Stream(100, "/Filter /ASCIIHexDecode /DecodeParms 200 0 R", "78>");
  for (int i = 0; i < chain; ++i) {
    std::string link = std::to_string(1001 + i);
    b.Object(1000 + i, link.insert(0, 1, '[').append(" 0 R]"));
  }
  b.StartXRef(b.XRefTable("/Size 200 /Root 1 0 R"));
  auto l = Load(b.bytes);
  TkxCustomPDFDocument& doc = *l->doc;
  ASSERT_EQ(doc.PageCount(), 1);
  ASSERT_NE(doc.GetPageDict(1), nullptr);  // what the page uses is read in now
  EXPECT_NE(doc.Store().Find(doc.DocumentID(), 1000 + chain - 1, 0), nullptr);
  // A resolved copy cuts the cycle with a null object.
  PDFObjectPtr copy = doc.DeepResolve(doc.GetPageDict(1)->Lookup("/Resources"));
  const TkxPDFDictObject* res = AsDict(copy.get());
  ASSERT_NE(res, nullptr);
  EXPECT_TRUE(IsNull(res->Lookup("/Self")));
  EXPECT_TRUE(IsNull(AsArray(res->Lookup("/Next"))->Get(0)));
  // Nesting beyond the limit, and copies that multiply, are errors, not a
  // stack overflow or an endless copy.
  EXPECT_THROW(doc.DeepResolve(doc.GetPageDict(1)->Lookup("/Chain")), ELimitExceeded);
  TkxPDFStreamObject* content = doc.Store().ResolveStream(doc.GetPageDict(1)->Lookup("/Contents"));
  ASSERT_NE(content, nullptr);
  EXPECT_THROW(doc.DecodeStream(*content), ELimitExceeded);
  EXPECT_THROW(doc.DeepResolve(content->Dict->Lookup("/DecodeParms")), ELimitExceeded);
}

TEST(XRef, OversizedStreamIsRefused) {
  // 300 MiB of zeros, deflated twice: 635 bytes in the file.
  std::ifstream in(std::string(PW_SOURCE_DIR) + "/tests/pdf/data/zeros-300mib.flate2", std::ios::binary);
  ASSERT_TRUE(in);
  std::string bomb((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  PdfBuilder b;
  AddSimplePages(b, 1);
  b.Stream(100, "/Filter [/FlateDecode /FlateDecode]", bomb);
  b.StartXRef(b.XRefTable("/Size 200 /Root 1 0 R"));
  auto l = Load(b.bytes);
  TkxPDFStreamObject* s = l->doc->Store().ResolveStream(l->doc->GetPageDict(1)->Lookup("/Contents"));
  ASSERT_NE(s, nullptr);
  EXPECT_THROW(l->doc->DecodeStream(*s), ELimitExceeded);
}

TEST(ObjectStore, KeysNeverCollide) {
  TkxPDFObjectStore store;
  // Pairs that the decimal concatenation of the numbers would confuse.
  struct Key {
    int32_t doc, num, gen;
  } keys[] = {{1, 1, 10}, {1, 11, 0}, {3, 25, 0}, {32, 5, 0}, {1, 12, 0}, {11, 2, 0}, {2147483647, 2147483647, 65535}};
  for (const Key& k : keys)
    store.Add(std::make_unique<TkxPDFIndirectObject>(k.doc, k.num, k.gen,
                                                     std::make_unique<TkxPDFInt64Object>(int64_t{k.num} * 7 + k.gen)));
  for (size_t i = 0; i < std::size(keys); ++i) {
    const Key& k = keys[i];
    TkxPDFIndirectObject* o = store.Find(k.doc, k.num, k.gen);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(store.IndexOfObject(k.doc, k.num, k.gen), static_cast<int>(i));
    EXPECT_EQ(IntValue(o->Value.get()), int64_t{k.num} * 7 + k.gen);
  }
  EXPECT_EQ(store.IndexOfObject(1, 1, 0), -1);
  // A second object under a taken key does not hide the first.
  store.Add(std::make_unique<TkxPDFIndirectObject>(1, 12, 0, std::make_unique<TkxPDFNullObject>()));
  EXPECT_TRUE(IsInt64(store.Find(1, 12, 0)->Value.get()));
  EXPECT_EQ(store.Count(), 8);
  try {
    store.Add(nullptr);
    FAIL();
  } catch (const ENullObjectError& e) {
    EXPECT_STREQ(e.what(), "Expected PDF null object");
  }
}

TEST(ObjectStore, Resolution) {
  TkxPDFObjectStore store;
  auto add = [&store](int num, PDFObjectPtr v) {
    store.Add(std::make_unique<TkxPDFIndirectObject>(1, num, 0, std::move(v)));
  };
  add(1, std::make_unique<TkxPDFIntegerObject>(42));
  add(2, std::make_unique<TkxPDFIndirectReference>(1, 1, 0));  // a reference to a reference
  add(3, std::make_unique<TkxPDFIndirectReference>(1, 4, 0));  // 3 -> 4 -> 3
  add(4, std::make_unique<TkxPDFIndirectReference>(1, 3, 0));
  add(5, std::make_unique<TkxPDFNameObject>("/FlateDecode"));
  TkxPDFIndirectReference to1(1, 1, 0), to2(1, 2, 0), to3(1, 3, 0), to5(1, 5, 0), missing(1, 9, 0);
  TkxPDFNullObject null;
  EXPECT_EQ(IntValue(store.ResolveInteger(&to2)), 42);
  EXPECT_EQ(store.ResolveAny(&to3), nullptr);
  EXPECT_EQ(store.ResolveAny(&missing), nullptr);
  EXPECT_EQ(store.ResolveDict(nullptr), nullptr);
  EXPECT_EQ(store.ResolveDict(&null), nullptr);
  try {
    store.ResolveDict(&to1);
    FAIL();
  } catch (const EUnexpectedObjectError& e) {
    EXPECT_STREQ(e.what(), "Unexpected PDF object encountered");
  }
  std::unique_ptr<TkxPDFArrayObject> wrapped;
  TkxPDFArrayObject* filters = store.ResolveArray(&to5, &wrapped);
  ASSERT_NE(filters, nullptr);
  ASSERT_EQ(filters->Count(), 1);
  EXPECT_EQ(NameValue(filters->Get(0)), "FlateDecode");
}
