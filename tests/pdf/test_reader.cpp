#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "pdf/kxPDFCrypt.h"
#include "pdf/kxPDFStreamReader.h"

using namespace pw;
using namespace std::string_literals;

namespace {

// A reader over a string literal kept alive by the fixture holder.
struct Src {
  explicit Src(std::string s) : text(std::move(s)), r(Bytes(), text.size(), 7) {}
  const uint8_t* Bytes() const { return reinterpret_cast<const uint8_t*>(text.data()); }
  std::string text;
  TkxPDFStreamReader r;
};

// Compact rendering of an object tree for table comparisons.
std::string Show(const TkxPDFObject* o) {
  if (!o) return "-";
  std::ostringstream s;
  switch (o->Kind) {
    case okBoolean: return static_cast<const TkxPDFBooleanObject*>(o)->Value ? "true" : "false";
    case okInteger: return "i" + std::to_string(static_cast<const TkxPDFIntegerObject*>(o)->Value);
    case okInt64: return "L" + std::to_string(static_cast<const TkxPDFInt64Object*>(o)->Value);
    case okReal: s << "r" << static_cast<const TkxPDFRealObject*>(o)->Value; return s.str();
    case okString: {
      auto* str = static_cast<const TkxPDFStringObject*>(o);
      return (str->IsHex ? "h" : "s") + str->Text;
    }
    case okName: return static_cast<const TkxPDFNameObject*>(o)->Text;
    case okArray: {
      s << "[";
      for (auto& e : static_cast<const TkxPDFArrayObject*>(o)->Items)
        s << (&e == &AsArray(o)->Items[0] ? "" : " ") << Show(e.get());
      s << "]";
      return s.str();
    }
    case okDict: {
      auto* d = static_cast<const TkxPDFDictObject*>(o);
      s << "{";
      for (int i = 0; i < d->Count(); ++i) s << (i ? " " : "") << d->KeyAt(i)->Text << "=" << Show(d->ValueAt(i));
      s << "}";
      return s.str();
    }
    case okStream: return "stream" + Show(static_cast<const TkxPDFStreamObject*>(o)->Dict.get());
    case okNull: return "null";
    case okIndirectReference: {
      auto* r = static_cast<const TkxPDFIndirectReference*>(o);
      s << "ref(" << r->DocumentID << ":" << r->ObjectNumber << "," << r->Generation << ")";
      return s.str();
    }
    case okIndirectObject: {
      auto* r = static_cast<const TkxPDFIndirectObject*>(o);
      s << "obj(" << r->DocumentID << ":" << r->ObjectNumber << "," << r->Generation << ")=" << Show(r->Value.get());
      return s.str();
    }
  }
  return "?";
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return {};
  return std::string(std::istreambuf_iterator<char>(f), {});
}

std::string Corpus(const char* name) { return std::string(PW_SOURCE_DIR) + "/../shared/corpus/" + name; }

template <typename E>
bool Is(const std::exception& e) {
  return dynamic_cast<const E*>(&e) != nullptr;
}
using IsFn = bool (*)(const std::exception&);

}  // namespace

TEST(StreamReader, CharacterLevel) {
  Src s("ab");
  auto& r = s.r;
  EXPECT_EQ(r.PeekChar(), 'a');
  EXPECT_FALSE(r.AtEnd);
  EXPECT_EQ(r.Position(), 0);
  EXPECT_EQ(r.ReadChar(), 'a');
  EXPECT_EQ(r.PeekChar(), 'b');
  EXPECT_TRUE(r.AtEnd);  // the byte looked at is the last one
  EXPECT_EQ(r.ReadString(5), "b");
  EXPECT_EQ(r.ReadChar(), -1);
  EXPECT_EQ(r.PeekChar(), -1);
  EXPECT_EQ(r.Position(), 2);
  r.Unget();
  EXPECT_EQ(r.PeekString(9), "b");
  EXPECT_EQ(r.Position(), 1);
  r.Skip(100);
  EXPECT_EQ(r.Position(), 2);
  r.Seek(-5);
  EXPECT_EQ(r.Position(), 0);
  r.Seek(99);
  EXPECT_EQ(r.Position(), 2);
  EXPECT_THROW(r.Write("x", 1), EReadError);

  TkxPDFStreamReader empty(nullptr, 0, 1);
  EXPECT_EQ(empty.PeekChar(), -1);
  EXPECT_TRUE(empty.AtEnd);
  EXPECT_EQ(empty.ReadToken(), "");
  try {
    TkxPDFStreamReader bad(nullptr, 4, 1);
    FAIL() << "no exception";
  } catch (const EInvalidStream& e) {
    EXPECT_STREQ(e.what(), "Invalid Stream! Cannot create with null stream");
  }
}

TEST(StreamReader, TokensAndWhitespace) {
  // Comments run to the end of the line; NUL, TAB, LF, FF, CR and SPACE are white space.
  Src s("%c1\r\n \t\f\0%c2\n abc/def <</X 1>>"s);
  EXPECT_EQ(s.r.PeekToken(), "abc");
  EXPECT_EQ(s.r.PeekToken(), "abc");  // position unchanged
  EXPECT_EQ(s.r.ReadToken(), "abc");
  EXPECT_EQ(s.r.ReadToken(), "/def");  // the first byte is taken whatever it is
  EXPECT_EQ(s.r.ReadToken(), "<");
}

TEST(StreamReader, Header) {
  struct Case {
    std::string input;
    int version;  // -1: error
    int64_t offset;
    IsFn is;
    const char* message;
  };
  const std::string junk(1000, 'x');
  const std::vector<Case> cases = {
      {"%PDF-1.0\n", pvPDF10, 0, nullptr, ""},
      {"%PDF-1.6\r%\xE2\xE3", pvPDF16, 0, nullptr, ""},
      {"%PDF-1.7\n", pvPDF17, 0, nullptr, ""},
      {"%PDF-2.0\n", pvPDF20, 0, nullptr, ""},
      {"\n%PDF-1.4\n", pvPDF14, 1, nullptr, ""},
      {junk + "%PDF-1.3\n", pvPDF13, 1000, nullptr, ""},
      {junk + junk + "%PDF-1.3\n", -1, 0, Is<EInvalidHeader>, "Invalid PDF Header (xxxxxxx)"},
      {"hello world", -1, 0, Is<EInvalidHeader>, "Invalid PDF Header (hello)"},
      {"", -1, 0, Is<EInvalidHeader>, "Invalid PDF Header ()"},
      {"%PDF-x.4\n", -1, 0, Is<EInvalidHeader>, "Invalid PDF Header (%PDF-x.)"},
      {"%PDF-1.8\n", -1, 0, Is<EUnsupportedVersion>, "Unsupported PDF Version (%PDF-1.8)"},
      {"%PDF-2.1\n", -1, 0, Is<EUnsupportedVersion>, "Unsupported PDF Version (%PDF-2.1)"},
      {"%PDF-1.a\n", -1, 0, Is<Exception>, "'a' is not a valid integer value"},
      {"%PDF-1.\n", -1, 0, Is<Exception>, "'' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 20));
    Src s(c.input);
    if (c.version >= 0) {
      EXPECT_EQ(s.r.ReadHeader(), c.version);
      EXPECT_EQ(s.r.HeaderOffset(), c.offset);
      continue;
    }
    try {
      s.r.ReadHeader();
      ADD_FAILURE() << "no exception";
    } catch (const std::exception& e) {
      EXPECT_TRUE(c.is(e));
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

TEST(StreamReader, ParsesObjects) {
  struct Case {
    std::string input;
    std::string expected;
    std::string ahead;  // the token read after the object
  };
  const std::vector<Case> cases = {
      {"12 0 R", "ref(7:12,0)", ""},
      {"12 0 OBJ 5 endobj", "obj(7:12,0)=i5", "endobj"},
      {"12 0 r", "i12", "0"},  // only an upper-case R makes a reference
      {"4 0 obj\n<</Length 3>>\nstream\nabc", "obj(7:4,0)=stream{/Length=i3}", "stream"},
      {"4 0 obj ] endobj", "obj(7:4,0)=null", "]"},
      {"3.14", "r3.14", ""},
      {"-.5", "r-0.5", ""},
      {"+7", "i7", ""},
      {"-0", "i0", ""},
      {"1.2.3", "s1.2.3", ""},  // a malformed number becomes a string with its text
      {"2147483647", "i2147483647", ""},
      {"2147483648", "L2147483648", ""},
      {"-2147483649", "L-2147483649", ""},
      {"(a(b)c)", "s(a(b)c)", ""},
      {"(a\\)b)", "s(a)b)", ""},
      {"(\\101\\7)", "s(A\x07)", ""},
      {"(\\0053)",
       "s(\x05"
       "3)",
       ""},  // at most three octal digits
      {"(\\q)", "s(\\q)", ""},
      {"(a\\\r\nb\\\nc\\\rd)", "s(abcd)", ""},  // line continuations
      {"(\\n\\r\\t\\b\\f\\\\\\()", "s(\n\r\t\b\f\\()", ""},
      {"(\r\n)", "s(\r\n)", ""},
      {"<48656C6C6F>", "h<48656C6C6F>", ""},
      {"<4 8 6>", "h<4 8 6>", ""},
      {"<41<42>/X", "h<41<42>", "/X"},  // a hexadecimal string ends at its first ">"
      {"/A#20B", "/A B", ""},           // one name however it is spelled
      {"/A#2", "/A#2", ""},
      {"/A\0B/C"s, "/A\0B"s, "/C"},  // NUL belongs to a name
      {"/Name\fx", "/Name", "x"},
      {"[1 2 R]", "[ref(7:1,2)]", ""},
      {"[1 2 3]", "[i1 i2 i3]", ""},
      {"[1 2 R 3 4 R]", "[ref(7:1,2) ref(7:3,4)]", ""},
      {"[]", "[]", ""},
      {"[[/A true] (x) <41> null false]", "[[/A true] s(x) h<41> null false]", ""},
      {"<</A 1/A 2>>", "{/A=i1 /A=i2}", ""},  // duplicates are kept
      {"<</A>>", "{/A=-}", ""},
      {"<< /K [/X] /D <</E 1.5>> >> x", "{/K=[/X] /D={/E=r1.5}}", "x"},
      {"%comment\n  5 6", "i5", "6"},
      {"\f5", "i5", ""},
      {") 5", "-", ")"},
      {"] 5", "-", "]"},
      {">> 5", "-", ">"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    Src s(c.input);
    PDFObjectPtr o;
    ASSERT_NO_THROW(o = s.r.ParseObject());
    EXPECT_EQ(Show(o.get()), c.expected);
    s.r.SkipWhitespace();
    EXPECT_EQ(s.r.ReadToken(), c.ahead);
  }
}

TEST(StreamReader, IndirectObjectSetsCurrentNumbers) {
  Src s("15 3 obj (x) endobj");
  EXPECT_EQ(s.r.CurrentObjectNumber, -1);
  EXPECT_EQ(s.r.CurrentGeneration, -1);
  auto o = s.r.ParseObject();
  EXPECT_EQ(s.r.CurrentObjectNumber, 15);
  EXPECT_EQ(s.r.CurrentGeneration, 3);
}

// A key that is not a name drops that entry, as viewers do; the keys after
// it are kept.
TEST(StreamReader, BrokenDictionaryKeysAreDropped) {
  struct Case {
    std::string input;
    std::vector<std::string> keys;
  };
  const std::vector<Case> cases = {
      {"<< 1 2 >>", {}},
      {"<</A ] >>", {"/A"}},
      {"<< /Type /Page Contents 4 0 R /Rotate 90 >>", {"/Type", "/Rotate"}},
      {"<< /A 1 Rotate 0 12 (x) [1] <<>> ) /B 2 >>", {"/A", "/B"}},
      {"<< << 1 2 >> 3 /B 2 >>", {"/B"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    Src s(c.input);
    PDFObjectPtr o = s.r.ParseObject();
    const TkxPDFDictObject* d = AsDict(o.get());
    ASSERT_NE(d, nullptr);
    std::vector<std::string> keys;
    for (int i = 0; i < d->Count(); ++i) keys.push_back(d->KeyAt(i)->Text);
    EXPECT_EQ(keys, c.keys);
  }
}

// Bad keys nested in bad keys: every level would read all the levels below
// it again, twice over (2^200 reads of a few hundred bytes).
TEST(StreamReader, NestedBrokenKeysEndInAnError) {
  Src s("<< " + std::string(400, '<') + " ) >>");
  EXPECT_THROW(s.r.ParseObject(), ELimitExceeded);
}

TEST(StreamReader, SyntaxErrors) {
  struct Case {
    std::string input;
    IsFn is;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"(abc", Is<EStringReadError>, "Error reading PDF string (end of data)"},
      {"(abc\\", Is<EStringReadError>, "Error reading PDF string (end of data)"},
      {"((a)", Is<EStringReadError>, "Error reading PDF string (end of data)"},
      {"<414", Is<EStringReadError>, "Error reading PDF string (end of data)"},
      {"[1 2", Is<EArrayReadError>, "Error reading PDF array (end of data)"},
      {"[1 2 R", Is<EArrayReadError>, "Error reading PDF array (end of data)"},
      {"[", Is<EArrayReadError>, "Error reading PDF array (end of data)"},
      {"<</A 1", Is<EDictionaryReadError>, "Error reading PDF dictionary (end of data)"},
      {"<</A", Is<EDictionaryReadError>, "Error reading PDF dictionary (end of data)"},
      {"<</A 1 >", Is<EDictionaryReadError>, "Error reading PDF dictionary (end of data)"},
      {"<</A [1 2", Is<EArrayReadError>, "Error reading PDF array (end of data)"},
      {"tru", Is<EBooleanError>, "Expected boolean (true) object"},
      {"trap", Is<EBooleanError>, "Expected boolean (true) object"},
      {"fals", Is<EBooleanError>, "Expected boolean (false) object"},
      {"nul", Is<ENullObjectError>, "Expected PDF null object"},
      {"1e5", Is<Exception>, "'1e5' is not a valid integer value"},
      {"99999999999999999999", Is<Exception>, "'99999999999999999999' is not a valid integer value"},
      {"x 0 R", Is<Exception>, "'x' is not a valid integer value"},
      {"1 x obj 5", Is<Exception>, "'x' is not a valid integer value"},
      {"1 0 obj 5 stream", Is<EStreamReadError>, "Error reading PDF stream"},
      {"", Is<Exception>, "Unexpected end of PDF data"},
      {"  % only a comment", Is<Exception>, "Unexpected end of PDF data"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    Src s(c.input);
    try {
      s.r.ParseObject();
      ADD_FAILURE() << "no exception";
    } catch (const std::exception& e) {
      EXPECT_TRUE(c.is(e)) << e.what();
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
  // The typed entry points check their opening byte.
  Src s("5");
  EXPECT_THROW(s.r.ParseString(), EStringReadError);
  EXPECT_THROW(s.r.ParseName(), ENameReadError);
  EXPECT_THROW(s.r.ParseArray(), EArrayReadError);
  EXPECT_THROW(s.r.ParseDictionary(), EDictionaryReadError);
}

TEST(StreamReader, DeepNestingIsRefused) {
  const int limit = TkxPDFStreamReader::kMaxNestingDepth;
  {
    Src s(std::string(limit, '[') + std::string(limit, ']'));
    auto o = s.r.ParseObject();
    EXPECT_TRUE(IsArray(o.get()));
  }
  const std::vector<std::string> hostile = {
      std::string(limit + 1, '[') + std::string(limit + 1, ']'),
      std::string(200000, '['),
      [] {
        std::string t;
        for (int i = 0; i < 100000; ++i) t += "<</A ";
        return t;
      }(),
      [] {
        std::string t;
        for (int i = 0; i < 100000; ++i) t += "1 0 obj ";
        return t;
      }(),
  };
  for (const auto& h : hostile) {
    Src s(h);
    EXPECT_THROW(s.r.ParseObject(), ELimitExceeded);
  }
  // The depth count recovers after an error.
  Src s(std::string(limit + 1, '[') + " [[1]]");
  EXPECT_THROW(s.r.ParseObject(), ELimitExceeded);
  s.r.Seek(limit + 1);
  EXPECT_EQ(Show(s.r.ParseObject().get()), "[[i1]]");
}

TEST(StreamReader, StreamData) {
  struct Case {
    std::string input;  // starts at the stream keyword
    int64_t length;
    std::string data;  // expected; "!" + message for an error
  };
  const std::string twenty = "0123456789ABCDEFGHIJ";
  const std::vector<Case> cases = {
      {"stream\r\nabc\r\nendstream endobj", 3, "abc"},
      {"stream \t\nabc\nendstream endobj", 3, "abc"},
      {"stream\rabc\rendstream endobj", 3, "abc"},
      {"  stream\nendstream endobj", 0, ""},
      {"stream\n" + twenty + "\nendstream endobj", 10, twenty + "\n"},  // 10 short: found forwards
      {"stream\nabcdef\nendstream endobj", 8, "abcdef\n"},              // 2 too long: found backwards
      {"stream\nabc\nendstream endobj", 0, "abc\n"},                    // a wrong length of 0 is searched too
      {"stream\nabc\nendstream endobj", -5, "abc\n"},
      {"stream\nabc\nendstream endobj", INT64_MAX, "abc\n"},
      // "endstream" left out: the length holds when "endobj" follows it; a
      // wrong one gives way to the data up to "endobj".
      {"stream\nabc\nendobj 5 0 obj << >> stream\nxy\nendstream endobj", 3, "abc"},
      {"stream\nabcdef\r\nendobj", 2, "abcdef"},
      {"stream\nab", 2, "!Expected PDF endstream"},
      {"stream\nabc\nendstrea", 3, "!Expected PDF endstream"},
      {"stream\nabc", 1000, "!Expected PDF endstream"},
      {"steam\nabc\nendstream", 3, "!Error reading PDF stream"},
      {"", 3, "!Error reading PDF stream"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input + " / " + std::to_string(c.length));
    Src s(c.input);
    if (c.data[0] == '!') {
      try {
        s.r.ReadStreamData(c.length, 1, 0);
        ADD_FAILURE() << "no exception";
      } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), c.data.substr(1));
      }
      continue;
    }
    std::vector<uint8_t> got;
    ASSERT_NO_THROW(got = s.r.ReadStreamData(c.length, 1, 0));
    EXPECT_EQ(std::string(got.begin(), got.end()), c.data);
    EXPECT_EQ(s.r.PeekToken(), "endobj");  // positioned after endstream
  }
}

TEST(StreamReader, FindStartXRef) {
  struct Case {
    std::string input;
    int64_t offset;  // -1: error
    const char* message;
  };
  const std::vector<Case> cases = {
      {"startxref\n123\n%%EOF", 123, ""},
      {"startxref\n10\n%%EOF\nupdate\nstartxref\r\n2048\r\n%%EOF\r\n", 2048, ""},
      {"STARTXREF 77 %%EOF", 77, ""},
      {"startxref 5 nostartxref 9 startxrefs 8", 5, ""},  // whole words only
      {"xref trailer", -1, "Invalid PDF File"},
      {"", -1, "Invalid PDF File"},
      {"startxref\n%%EOF", -1, "Error reading document. Unable to read offset"},
      {"startxref 99999999999999999999999", -1, "Error reading document. Unable to read offset"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    Src s(c.input);
    if (c.offset >= 0) {
      EXPECT_EQ(s.r.FindStartXRef(), c.offset);
      continue;
    }
    try {
      s.r.FindStartXRef();
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
      if (c.message[0] == 'E') {
        EXPECT_NE(dynamic_cast<const EOffsetError*>(&e), nullptr);
      }
    }
  }
}

TEST(StreamReader, Trailer) {
  Src ok("xref\n0 2\n0000000000 65535 f \n0000000015 00000 n \ntrailer\n<</Size 2/Root 1 0 R>>\nstartxref");
  auto t = ok.r.ReadTrailer();
  ASSERT_TRUE(t);
  EXPECT_EQ(Show(t.get()), "{/Size=i2 /Root=ref(7:1,0)}");
  EXPECT_EQ(ok.r.PeekToken(), "startxref");

  for (const char* bad : {"xref trailor <<>>", "trailer 5", "trailer [1]", "no keyword here", ""}) {
    SCOPED_TRACE(bad);
    Src s(bad);
    try {
      s.r.ReadTrailer();
      ADD_FAILURE() << "no exception";
    } catch (const ETrailerError& e) {
      EXPECT_STREQ(e.what(), "Error reading PDF trailer");
    }
  }
}

namespace {

// Offsets of "n g obj" definitions found by a plain byte scan, keyed by object number.
std::map<int, size_t> ScanObjects(const std::string& pdf) {
  std::map<int, size_t> found;
  for (size_t p = pdf.find("obj"); p != std::string::npos; p = pdf.find("obj", p + 3)) {
    size_t q = p;
    auto back = [&](auto pred) {
      size_t n = 0;
      while (q > 0 && pred(pdf[q - 1])) {
        --q;
        ++n;
      }
      return n;
    };
    auto space = [](char c) { return c == ' ' || c == '\r' || c == '\n'; };
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (!back(space) || !back(digit) || !back(space)) continue;
    size_t numEnd = q;
    if (!back(digit)) continue;
    found[std::stoi(pdf.substr(q, numEnd - q))] = q;
  }
  return found;
}

}  // namespace

TEST(StreamReader, ParsesEveryObjectOfCorpusFiles) {
  int files = 0;
  for (const char* name :
       {"latex-geotopo-117-pages.pdf", "google-doc.pdf", "pdfkit.pdf", "im-lzw.pdf", "enc-rc4-40-empty-user.pdf"}) {
    const std::string pdf = ReadFile(Corpus(name));
    if (pdf.empty()) continue;
    ++files;
    SCOPED_TRACE(name);
    TkxPDFStreamReader r(reinterpret_cast<const uint8_t*>(pdf.data()), pdf.size(), 1);
    EXPECT_NO_THROW(r.ReadHeader());
    EXPECT_GT(r.FindStartXRef(), 0);
    auto offsets = ScanObjects(pdf);
    ASSERT_GT(offsets.size(), 10u);
    int streams = 0;
    for (const auto& [num, off] : offsets) {
      SCOPED_TRACE(num);
      r.Seek(static_cast<int64_t>(off));
      PDFObjectPtr o;
      ASSERT_NO_THROW(o = r.ParseObject());
      auto* ind = AsIndirect(o.get());
      ASSERT_NE(ind, nullptr);
      EXPECT_EQ(ind->ObjectNumber, num);
      if (auto* st = AsStream(ind->Value.get())) {
        const TkxPDFObject* len = st->Dict->Lookup("/Length");
        int64_t length = -1;
        if (auto* ref = AsReference(len)) {
          TkxPDFStreamReader lr(reinterpret_cast<const uint8_t*>(pdf.data()), pdf.size(), 1);
          lr.Seek(static_cast<int64_t>(offsets.at(ref->ObjectNumber)));
          auto lo = lr.ParseObject();
          length = IntValue(AsIndirect(lo.get())->Value.get());
        } else {
          length = IntValue(len);
        }
        std::vector<uint8_t> data;
        ASSERT_NO_THROW(data = r.ReadStreamData(length, num, ind->Generation));
        EXPECT_EQ(static_cast<int64_t>(data.size()), length);  // the lengths of these files are right
        EXPECT_EQ(r.PeekToken(), "endobj");
        ++streams;
      } else {
        EXPECT_EQ(r.PeekToken(), "endobj");
      }
    }
    EXPECT_GT(streams, 0);
  }
  if (files == 0) GTEST_SKIP() << "corpus not available";
}

// RC4 is its own inverse, so the decryptor of a real file also makes the
// encrypted fixtures: the reader must hand the right bytes and numbers over.
TEST(StreamReader, DecryptsStringsAndStreams) {
  const std::string pdf = ReadFile(Corpus("enc-rc4-40-empty-user.pdf"));
  if (pdf.empty()) GTEST_SKIP() << "corpus not available";
  TkxPDFStreamReader r(reinterpret_cast<const uint8_t*>(pdf.data()), pdf.size(), 1);
  r.Seek(static_cast<int64_t>(pdf.find("93 0 obj")));
  auto enc = r.ParseObject();
  r.Seek(static_cast<int64_t>(pdf.find("trailer")));
  auto trailer = r.ReadTrailer();
  auto* ids = AsArray(trailer->Lookup("/ID"));
  ASSERT_NE(ids, nullptr);
  TkxPDFDecrypt dec;
  dec.Setup(*AsDict(AsIndirect(enc.get())->Value.get()), AsString(ids->Get(0))->GetBytes());
  ASSERT_TRUE(dec.CheckPassword(""));

  const std::string plain = "Hello (world)\\";
  const std::string cipher = dec.DecryptString(plain, 12, 0);
  std::string hexCipher, escCipher;
  for (unsigned char c : cipher) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02x", c);
    hexCipher += buf;
    std::snprintf(buf, sizeof buf, "\\%03o", c);
    escCipher += buf;
  }
  const std::vector<uint8_t> streamPlain = {'q', ' ', '1', ' ', '0', ' ', 'Q'};
  const std::vector<uint8_t> streamCipher = dec.DecryptStream(streamPlain, 12, 0);
  const std::string text = "12 0 obj <</A (" + escCipher + ") /B <" + hexCipher + "> /Length 7>>\nstream\n" +
                           std::string(streamCipher.begin(), streamCipher.end()) + "\nendstream\nendobj";
  Src s(text);
  s.r.Decryptor = &dec;
  auto o = s.r.ParseObject();
  auto* st = AsStream(AsIndirect(o.get())->Value.get());
  ASSERT_NE(st, nullptr);
  for (const char* key : {"/A", "/B"}) {
    auto* str = AsString(st->Dict->Lookup(key));
    ASSERT_NE(str, nullptr);
    EXPECT_FALSE(str->IsHex);  // a decrypted hexadecimal string holds bytes
    EXPECT_EQ(str->GetText(), plain);
  }
  EXPECT_EQ(s.r.ReadStreamData(7, 12, 0), streamPlain);

  // Without an enclosing object there is no key to decrypt with.
  Src loose("(abc)");
  loose.r.Decryptor = &dec;
  EXPECT_THROW(loose.r.ParseObject(), EInvalidObjectNo);
}
