#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "pdf/kxFilters.h"

using namespace pw;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }
std::string S(const Bytes& b) { return std::string(b.begin(), b.end()); }

PDFObjectPtr Name(std::string n) { return std::make_unique<TkxPDFNameObject>(std::move(n)); }

PDFObjectPtr NameArray(std::initializer_list<const char*> names) {
  auto a = std::make_unique<TkxPDFArrayObject>();
  for (const char* n : names) a->Add(Name(n));
  return a;
}

using ParmList = std::vector<std::pair<const char*, int>>;

PDFObjectPtr Parms(const ParmList& entries) {
  auto d = std::make_unique<TkxPDFDictObject>();
  for (auto& [k, v] : entries) d->AddInteger(k, v);
  return d;
}

Bytes Deflate(const Bytes& b) { return TkxFlateFilter().CompressStream(b, 3); }

// Message of the pw::Exception the call raises, or "" when it returns.
template <typename F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.what();
  }
  return "";
}

// An LZW encoder written independently of the decoder: it tracks the
// decoder's entry count to know the width of every code it writes.
struct LzwEncoder {
  int early = 1;
  bool clearAtStart = true;
  bool clearWhenFull = true;  // false: the table stays full, no clear code
  bool endCode = true;

  Bytes out;
  uint64_t acc = 0;
  int nbits = 0;
  unsigned width = 9, decCount = 258;
  bool first = true;

  void Put(unsigned code) {
    acc = acc << width | code;
    nbits += static_cast<int>(width);
    while (nbits >= 8) {
      nbits -= 8;
      out.push_back(static_cast<uint8_t>(acc >> nbits));
    }
    if (code == 256) {
      width = 9;
      decCount = 258;
      first = true;
      return;
    }
    if (!first && decCount < 4096) {
      ++decCount;
      if (width < 12 && decCount + static_cast<unsigned>(early) >= (1u << width)) ++width;
    }
    first = false;
  }

  Bytes Encode(const Bytes& in) {
    std::map<uint32_t, unsigned> dict;
    unsigned next = 258;
    if (clearAtStart) Put(256);
    int w = -1;
    for (uint8_t c : in) {
      if (w < 0) {
        w = c;
        continue;
      }
      uint32_t key = static_cast<uint32_t>(w) << 8 | c;
      auto it = dict.find(key);
      if (it != dict.end()) {
        w = static_cast<int>(it->second);
        continue;
      }
      Put(static_cast<unsigned>(w));
      if (next < 4096) {
        dict[key] = next++;
        if (next == 4096 && clearWhenFull) {
          Put(256);
          dict.clear();
          next = 258;
        }
      }
      w = c;
    }
    if (w >= 0) Put(static_cast<unsigned>(w));
    if (endCode) Put(257);
    if (nbits > 0) out.push_back(static_cast<uint8_t>(acc << (8 - nbits)));
    return out;
  }
};

// Text with enough repetition to fill the LZW table several times.
Bytes SampleText(size_t n, unsigned seed = 7) {
  std::mt19937 rng(seed);
  static const char* words[] = {"BT ",   "/F1 12 Tf ", "72 712 Td ", "(Hello, world) Tj ", "ET\n", "q 1 0 0 1 ",
                                "re f ", "0.5 g ",     "Q\n"};
  Bytes out;
  while (out.size() < n) {
    const char* w = words[rng() % 9];
    out.insert(out.end(), w, w + std::strlen(w));
    if (rng() % 5 == 0) out.push_back(static_cast<uint8_t>(rng()));
  }
  out.resize(n);
  return out;
}

}  // namespace

TEST(Filters, FilterNames) {
  const std::pair<const char*, TkxDecodeFilter> known[] = {{"/ASCIIHexDecode", ftASCIIHexDecode},
                                                           {"/ASCII85Decode", ftASCII85Decode},
                                                           {"/A85", ftASCII85Decode},
                                                           {"/FlateDecode", ftFlateDecode},
                                                           {"/RunLengthDecode", ftRunLengthDecode},
                                                           {"/LZWDecode", ftLZWDecode},
                                                           {"/CCITTFaxDecode", ftCCITTFaxDecode},
                                                           {"/DCTDecode", ftDCTDecode},
                                                           {"/AHx", ftASCIIHexDecode},
                                                           {"/Fl", ftFlateDecode},
                                                           {"/RL", ftRunLengthDecode},
                                                           {"/LZW", ftLZWDecode},
                                                           {"/CCF", ftCCITTFaxDecode},
                                                           {"/DCT", ftDCTDecode}};
  for (auto& [name, kind] : known) EXPECT_EQ(FilterFromName(name), kind) << name;
  for (const char* bad : {"/JBIG2Decode", "/JPXDecode", "/Crypt", "/flatedecode", "FlateDecode", ""}) {
    try {
      FilterFromName(bad);
      ADD_FAILURE() << bad;
    } catch (const EUnsupportedFilterError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("Unsupported filter (") + bad + ")");
    }
  }
}

TEST(Filters, FilterChains) {
  EXPECT_EQ(GetDecodeFilters(Name("/A85").get()), TkxDecodeFilters{ftASCII85Decode});
  EXPECT_EQ(GetDecodeFilters(NameArray({"/ASCII85Decode", "/FlateDecode", "/DCTDecode"}).get()),
            (TkxDecodeFilters{ftASCII85Decode, ftFlateDecode, ftDCTDecode}));
  EXPECT_TRUE(GetDecodeFilters(nullptr).empty());
  TkxPDFNullObject null;
  EXPECT_TRUE(GetDecodeFilters(&null).empty());

  TkxPDFIntegerObject num(3);
  try {
    GetDecodeFilters(&num);
    ADD_FAILURE();
  } catch (const EUnexpectedFilterObject& e) {
    EXPECT_STREQ(e.what(), "Unexpected filter object, found (Integer Object)");
  }
  auto mixed = NameArray({"/FlateDecode"});
  AsArray(mixed.get())->Add(std::make_unique<TkxPDFStringObject>("(x)"));
  EXPECT_EQ(ErrorOf([&] { GetDecodeFilters(mixed.get()); }), "Unexpected filter object, found (String Object)");
  EXPECT_EQ(ErrorOf([&] {
              GetDecodeFilters(NameArray({"/FlateDecode", "/JBIG2Decode"}).get());
            }),
            "Unsupported filter (/JBIG2Decode)");
}

// Each text/RunLength decoder against a table of inputs: decoded bytes, or
// the exact message raised.
struct DecodeCase {
  TkxDecodeFilter kind;
  std::string in;
  std::string out;  // expected bytes when err is empty
  std::string err;
};

TEST(Filters, TextAndRunLengthDecoders) {
  using namespace std::string_literals;
  const DecodeCase cases[] = {
      // ASCIIHex: white space does not break pairs, lower case accepted, lone digit padded with 0.
      {ftASCIIHexDecode, "41 42\n43>", "ABC", ""},
      {ftASCIIHexDecode, "414>", "A@", ""},
      {ftASCIIHexDecode, "6a6B\t\f\r>", "jk", ""},
      {ftASCIIHexDecode, ">", "", ""},
      {ftASCIIHexDecode, "41>4243>", "A", ""},   // an earlier '>' ends the data
      {ftASCIIHexDecode, "4142\r\n", "AB", ""},  // the missing marker is supplied
      {ftASCIIHexDecode, "41G2>", "", "Illeagal character within stream"},
      // ASCII85: z, full groups, partial final groups (also ending in 0x00).
      {ftASCII85Decode, "z~>", "\0\0\0\0"s, ""},
      {ftASCII85Decode, "87cURD]j7BEbo80~>", "Hello world!", ""},
      {ftASCII85Decode, "87cU\nRD]j 7BEbo7~>\r\n", "Hello world", ""},
      {ftASCII85Decode, "87cURD]j7BEbo7d~>", "Hello world\0"s, ""},
      {ftASCII85Decode, "!!~>", "\0"s, ""},
      {ftASCII85Decode, "~>", "", ""},
      {ftASCII85Decode, "s8W-!~>", "\xff\xff\xff\xff", ""},
      {ftASCII85Decode, "s8W-\"~>", "", "Invalid ASCII85 group (value above 4 bytes)"},
      {ftASCII85Decode, "!z!!!!~>", "", "\"z\" found at inappropriate position"},
      {ftASCII85Decode, "87cURD]j7BEbo80!~>", "", "Single Final Character"},
      {ftASCII85Decode, "87cUR~", "", "EndOfData marker is wrong"},
      {ftASCII85Decode, "87c{UR~>", "", "Illeagal character within stream"},
      // RunLength.
      {ftRunLengthDecode,
       "\x02"
       "abc\xfe"
       "x\x80\r\n",
       "abcxxx", ""},
      {ftRunLengthDecode, "\x80", "", ""},
      {ftRunLengthDecode,
       "\x81"
       "q\x80",
       std::string(128, 'q'), ""},
      {ftRunLengthDecode,
       "\x00"
       "a\x80\x00"
       "b\x80"s,
       "", "Premature EndOfData Marker found"},
      {ftRunLengthDecode,
       "\x05"
       "ab\x80",
       "", "Unexpected EndOfFile found"},
      {ftRunLengthDecode,
       "\x02"
       "abc",
       "", "EndOfData Marker is wrong"},
      {ftRunLengthDecode, "\xfe\x80", "", "Unexpected EndOfFile found"},  // the repeated byte would be the marker
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.in);
    std::string got;
    std::string err = ErrorOf([&] { got = DecodeStringWithFilter(c.kind, c.in); });
    EXPECT_EQ(err, c.err);
    if (c.err.empty()) {
      EXPECT_EQ(got, c.out);
    }
  }
}

TEST(Filters, FilterObjectsRequireTheirEndMarkers) {
  EXPECT_EQ(ErrorOf([] { TkxAsciiHexFilter().DecodeString("4142"); }), "EndOfData marker is wrong");
  EXPECT_EQ(ErrorOf([] { TkxAscii85Filter().DecodeString("87cUR~>\n"); }), "EndOfData marker is wrong");
  EXPECT_EQ(TkxAsciiHexFilter().DecodeStream(B("4142>")), B("AB"));
  EXPECT_EQ(DecodeStringWithFilter(ftDCTDecode, "\xff\xd8\n"), "\xff\xd8\n");
  EXPECT_EQ(ErrorOf([] { DecodeStringWithFilter(ftCCITTFaxDecode, "x"); }), "Unsupported filter");
  EXPECT_EQ(ErrorOf([] { DecodeWithFilter(static_cast<TkxDecodeFilter>(9), B("x")); }), "Unsupported filter");
  // Only the Flate filter compresses; only the text filters and RunLength encode.
  EXPECT_THROW(TkxLZWFilter().EncodeString("x"), EUnsupportedFilterError);
  EXPECT_THROW(TkxAscii85Filter().CompressString("x", 3), EUnsupportedFilterError);
}

TEST(Filters, EncodersRoundTrip) {
  EXPECT_EQ(TkxAsciiHexFilter().EncodeString("\x01\xab"), "01AB>");
  EXPECT_EQ(TkxAscii85Filter().EncodeString(std::string("\0\0\0\0Hello world\0", 16)), "z87cURD]j7BEbo7d~>");
  EXPECT_EQ(TkxRLEFilter().EncodeString("abbbbc"), std::string("\x00"
                                                               "a\xfd"
                                                               "b\x00"
                                                               "c\x80",
                                                               7));

  std::mt19937 rng(1);
  for (size_t n : {0u, 1u, 2u, 3u, 5u, 127u, 128u, 129u, 300u, 1000u}) {
    Bytes data(n);
    for (auto& b : data) b = static_cast<uint8_t>(rng() % 3 == 0 ? 0 : rng() % 4);  // runs and zero groups
    SCOPED_TRACE(n);
    EXPECT_EQ(TkxAsciiHexFilter().DecodeStream(TkxAsciiHexFilter().EncodeStream(data)), data);
    EXPECT_EQ(TkxAscii85Filter().DecodeStream(TkxAscii85Filter().EncodeStream(data)), data);
    EXPECT_EQ(TkxRLEFilter().DecodeStream(TkxRLEFilter().EncodeStream(data)), data);
    for (int level = 0; level <= 3; ++level)
      EXPECT_EQ(TkxFlateFilter().DecodeStream(TkxFlateFilter().CompressStream(data, level)), data);
  }
}

TEST(Filters, LZWKnownStream) {
  // "-----A---B": clear, 45, 258, 258, 65, 259, 66, end; the last data code
  // and the end code share the final byte.
  const Bytes enc = {0x80, 0x0B, 0x60, 0x50, 0x22, 0x0C, 0x0C, 0x85, 0x01};
  EXPECT_EQ(S(TkxLZWFilter().DecodeStream(enc)), "-----A---B");
  // Without the end code the complete codes still decode.
  EXPECT_EQ(S(TkxLZWFilter().DecodeStream(Bytes(enc.begin(), enc.end() - 2))), "-----A---");
  EXPECT_TRUE(TkxLZWFilter().DecodeStream({}).empty());
}

TEST(Filters, LZWRoundTripsThroughTableGrowthAndResets) {
  const Bytes text = SampleText(200000);
  struct Variant {
    int early;
    bool clearAtStart, clearWhenFull, endCode;
  };
  const Variant variants[] = {
      {1, true, true, true},   // usual encoder
      {1, false, true, true},  // no clear code at the start
      {1, true, false, true},  // table left full, no clear code
      {0, true, true, true},   // EarlyChange 0
      {1, true, true, false},  // no end code
  };
  for (const Variant& v : variants) {
    LzwEncoder e;
    e.early = v.early;
    e.clearAtStart = v.clearAtStart;
    e.clearWhenFull = v.clearWhenFull;
    e.endCode = v.endCode;
    const Bytes enc = e.Encode(text);
    SCOPED_TRACE(testing::Message() << v.early << v.clearAtStart << v.clearWhenFull << v.endCode);
    ASSERT_LT(enc.size(), text.size() / 2);  // the table really filled up
    TkxLZWFilter f(kDefaultMaxDecodedSize, v.early);
    EXPECT_EQ(f.DecodeStream(enc), text);
    // The same filter object decodes a second time from a fresh table.
    EXPECT_EQ(f.DecodeStream(enc), text);
  }
}

TEST(Filters, FlateDamagedData) {
  const Bytes text = SampleText(100000, 3);
  const Bytes z = Deflate(text);
  TkxFlateFilter f;
  // Trailing garbage after the zlib stream is ignored.
  Bytes garbage = z;
  garbage.insert(garbage.end(), {'\r', '\n', 'x', 'y'});
  EXPECT_EQ(f.DecodeStream(garbage), text);
  // Missing or wrong Adler-32 trailer: the data is all there.
  EXPECT_EQ(f.DecodeStream(Bytes(z.begin(), z.end() - 4)), text);
  Bytes badSum = z;
  badSum.back() ^= 0xFF;
  EXPECT_EQ(f.DecodeStream(badSum), text);
  // Cut in half: a true prefix of the text comes back.
  Bytes half = f.DecodeStream(Bytes(z.begin(), z.begin() + static_cast<ptrdiff_t>(z.size() / 2)));
  ASSERT_GT(half.size(), 1000u);
  ASSERT_LT(half.size(), text.size());
  EXPECT_TRUE(std::equal(half.begin(), half.end(), text.begin()));
  // Damage in the middle: what came before it is kept.
  Bytes broken = z;
  for (size_t i = z.size() / 2; i < z.size() / 2 + 64; ++i) broken[i] = 0xFF;
  EXPECT_NO_THROW(EXPECT_GT(f.DecodeStream(broken).size(), 1000u));
  // Nothing decodable: zlib's own message.
  EXPECT_EQ(ErrorOf([&] { f.DecodeString("not zlib data"); }), "incorrect header check");
  EXPECT_THROW(f.DecodeString(std::string("\x78\x9c\xff\xff", 4)), EDecompressionError);
  EXPECT_TRUE(f.DecodeStream({}).empty());
  EXPECT_TRUE(f.DecodeStream({0x78, 0x9c}).empty());
}

TEST(Filters, OutputLimit) {
  const Bytes zeros(4 << 20, 0);
  const size_t limit = 1 << 20;
  const std::string msg = "Decoded stream data exceeds the limit of 1048576 bytes";
  EXPECT_EQ(ErrorOf([&] { TkxFlateFilter(limit).DecodeStream(Deflate(zeros)); }), msg);
  EXPECT_THROW(ApplyDecodeFilters(Deflate(zeros), Name("/FlateDecode").get(), nullptr, limit), ELimitExceeded);
  EXPECT_EQ(TkxFlateFilter(4 << 20).DecodeStream(Deflate(zeros)), zeros);  // exactly at the limit is fine
  EXPECT_THROW(TkxLZWFilter(limit).DecodeStream(LzwEncoder().Encode(zeros)), ELimitExceeded);
  EXPECT_THROW(TkxRLEFilter(limit).DecodeStream(TkxRLEFilter().EncodeStream(zeros)), ELimitExceeded);
  EXPECT_THROW(TkxAscii85Filter(limit).DecodeString(std::string(300000, 'z') + "~>"), ELimitExceeded);
  // A chain of nested bombs stops at the first stage that passes the limit.
  Bytes nested = Deflate(Deflate(zeros));
  EXPECT_THROW(ApplyDecodeFilters(nested, NameArray({"/FlateDecode", "/FlateDecode"}).get(), nullptr, limit),
               ELimitExceeded);
  auto longChain = std::make_unique<TkxPDFArrayObject>();
  for (int i = 0; i < 40; ++i) longChain->Add(Name("/ASCIIHexDecode"));
  EXPECT_THROW(ApplyDecodeFilters(B(">"), longChain.get()), ELimitExceeded);
}

TEST(Filters, PNGPredictorRows) {
  // Columns 3: rows tagged None, Sub, Up, Average; then a Paeth row over
  // 4 columns that picks left, up and upper-left in turn.
  const Bytes rows = {0, 10, 20, 30, 1, 1, 2, 3, 2, 5, 5, 5, 3, 4, 4, 4};
  EXPECT_EQ(DecodePNGPredictor(rows, 3), (Bytes{10, 20, 30, 1, 3, 6, 6, 8, 11, 7, 11, 15}));
  const Bytes paeth = {0, 20, 20, 10, 0, 4, 246, 10, 10, 89};
  EXPECT_EQ(DecodePNGPredictor(paeth, 4), (Bytes{20, 20, 10, 0, 10, 20, 20, 99}));
  // Values wrap modulo 256; a short final row decodes as far as it goes.
  EXPECT_EQ(DecodePNGPredictor({2, 200, 100, 2, 100, 200, 2, 1}, 2), (Bytes{200, 100, 44, 44, 45}));
  EXPECT_EQ(DecodePNGPredictor({0, 1, 2, 7}, 2), (Bytes{1, 2}));  // a lone trailing tag byte carries nothing
  EXPECT_TRUE(DecodePNGPredictor({}, 5).empty());
  try {
    DecodePNGPredictor({0, 1, 2, 5, 1, 2}, 2);
    ADD_FAILURE();
  } catch (const EImproperPNGAlgorithm& e) {
    EXPECT_STREQ(e.what(), "Improper PNG algorithm tag in stream");
  }
  EXPECT_THROW(DecodePNGPredictor({0, 1}, 0), Exception);
}

TEST(Filters, PredictorsThroughDecodeParms) {
  struct Case {
    ParmList parms;
    Bytes predicted, plain;
  };
  const Case cases[] = {
      // PNG Sub with 3 colors: the left neighbour is one pixel (3 bytes) back.
      {{{"/Predictor", 11}, {"/Colors", 3}, {"/Columns", 2}}, {1, 1, 2, 3, 1, 1, 1}, {1, 2, 3, 2, 3, 4}},
      // PNG Up with 16-bit samples, 2 columns = 4 bytes a row.
      {{{"/Predictor", 15}, {"/BitsPerComponent", 16}, {"/Columns", 2}},
       {0, 1, 2, 3, 4, 2, 1, 1, 1, 1},
       {1, 2, 3, 4, 2, 3, 4, 5}},
      // TIFF, 2 colors of 8 bits, 3 columns; a partial second row.
      {{{"/Predictor", 2}, {"/Colors", 2}, {"/Columns", 3}}, {1, 2, 1, 1, 1, 1, 5, 5, 1}, {1, 2, 2, 3, 3, 4, 5, 5, 6}},
      // TIFF, 16-bit samples carry into the high byte.
      {{{"/Predictor", 2}, {"/BitsPerComponent", 16}, {"/Columns", 2}}, {0, 0xFF, 0, 2}, {0, 0xFF, 1, 1}},
      // TIFF, 1-bit: each row is a running XOR; rows are independent.
      {{{"/Predictor", 2}, {"/BitsPerComponent", 1}, {"/Columns", 8}}, {0x80, 0x90}, {0xFF, 0xE0}},
      // TIFF, 4-bit, 3 columns: the padding nibble is left alone.
      {{{"/Predictor", 2}, {"/BitsPerComponent", 4}, {"/Columns", 3}}, {0x11, 0x1F}, {0x12, 0x3F}},
      // Predictor 1 and a dictionary without one change nothing.
      {{{"/Predictor", 1}, {"/Colors", 99}}, {9, 8, 7}, {9, 8, 7}},
      {{}, {9, 8, 7}, {9, 8, 7}},
  };
  for (const Case& c : cases) {
    auto parms = Parms(c.parms);
    SCOPED_TRACE(testing::PrintToString(c.predicted));
    EXPECT_EQ(ApplyDecodeFilters(Deflate(c.predicted), Name("/FlateDecode").get(), parms.get()), c.plain);
    LzwEncoder e;
    EXPECT_EQ(ApplyDecodeFilters(e.Encode(c.predicted), Name("/LZWDecode").get(), parms.get()), c.plain);
  }
  // Bad parameters are named, not decoded into garbage.
  const std::pair<ParmList, const char*> bad[] = {
      {{{"/Predictor", 5}}, "Unsupported predictor (5)"},
      {{{"/Predictor", 12}, {"/Colors", 0}}, "Invalid /Colors in decode parameters (0)"},
      {{{"/Predictor", 12}, {"/BitsPerComponent", 3}}, "Invalid /BitsPerComponent in decode parameters (3)"},
      {{{"/Predictor", 2}, {"/Columns", -4}}, "Invalid /Columns in decode parameters (-4)"},
  };
  for (auto& [parms, msg] : bad)
    EXPECT_EQ(ErrorOf([&] {
                ApplyDecodeFilters(Deflate({0, 1}), Name("/FlateDecode").get(), Parms(parms).get());
              }),
              msg);
  // A huge /Columns with little data allocates nothing row-sized.
  EXPECT_EQ(ApplyDecodeFilters(Deflate({1, 5, 5}), Name("/FlateDecode").get(),
                               Parms({{"/Predictor", 12}, {"/Columns", 2147483647}}).get()),
            (Bytes{5, 10}));
}

TEST(Filters, LZWEarlyChangeFromDecodeParms) {
  const Bytes text = SampleText(20000, 9);
  LzwEncoder e;
  e.early = 0;
  const Bytes enc = e.Encode(text);
  EXPECT_EQ(ApplyDecodeFilters(enc, Name("/LZWDecode").get(), Parms({{"/EarlyChange", 0}}).get()), text);
  EXPECT_NE(ApplyDecodeFilters(enc, Name("/LZWDecode").get()), text);
}

TEST(Filters, ApplyDecodeFiltersChains) {
  const Bytes text = SampleText(5000, 4);
  const Bytes raw = B("raw \r\n");
  EXPECT_EQ(ApplyDecodeFilters(raw, nullptr), raw);
  EXPECT_EQ(ApplyDecodeFilters(raw, NameArray({}).get()), raw);

  // [/ASCII85Decode /FlateDecode] decodes in array order; CR LF before endstream is harmless.
  Bytes a85 = TkxAscii85Filter().EncodeStream(Deflate(text));
  a85.insert(a85.end(), {'\r', '\n'});
  EXPECT_EQ(ApplyDecodeFilters(a85, NameArray({"/A85", "/FlateDecode"}).get()), text);
  // [/FlateDecode /DCTDecode]: inflated, still JPEG data.
  const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x0A, 0x0D};
  EXPECT_EQ(ApplyDecodeFilters(Deflate(jpeg), NameArray({"/FlateDecode", "/DCTDecode"}).get()), jpeg);
  EXPECT_EQ(ApplyDecodeFilters(jpeg, Name("/CCITTFaxDecode").get()), jpeg);
  // ASCIIHex without its end marker.
  EXPECT_EQ(ApplyDecodeFilters(B("48 69\n"), Name("/ASCIIHexDecode").get()), B("Hi"));

  // LZW data ending in byte 10 keeps it: clear and seven 9-bit codes fill
  // exactly 9 bytes, the last being the low bits of the code for "\n".
  LzwEncoder e;
  e.endCode = false;
  const Bytes lf = e.Encode(B("abcdef\n"));
  ASSERT_EQ(lf.size(), 9u);
  ASSERT_EQ(lf.back(), 0x0A);
  EXPECT_EQ(ApplyDecodeFilters(lf, Name("/LZWDecode").get()), B("abcdef\n"));

  // DecodeParms as an array parallel to the chain, null entries allowed.
  const Bytes predicted = {2, 1, 2, 2, 1, 1};  // PNG Up, 2 columns
  auto parms = std::make_unique<TkxPDFArrayObject>();
  parms->Add(std::make_unique<TkxPDFNullObject>());
  parms->Add(Parms({{"/Predictor", 12}, {"/Columns", 2}}));
  Bytes hexOfZ = TkxAsciiHexFilter().EncodeStream(Deflate(predicted));
  EXPECT_EQ(ApplyDecodeFilters(hexOfZ, NameArray({"/ASCIIHexDecode", "/FlateDecode"}).get(), parms.get()),
            (Bytes{1, 2, 2, 3}));
  // A single dictionary applies to the Flate stage of a longer chain.
  EXPECT_EQ(ApplyDecodeFilters(hexOfZ, NameArray({"/ASCIIHexDecode", "/FlateDecode"}).get(),
                               Parms({{"/Predictor", 12}, {"/Columns", 2}}).get()),
            (Bytes{1, 2, 2, 3}));
}

TEST(Filters, HostileInputNeverCrashes) {
  std::mt19937 rng(42);
  const Bytes seedText = SampleText(3000, 5);
  const Bytes valid[] = {Deflate(seedText), LzwEncoder().Encode(seedText), TkxRLEFilter().EncodeStream(seedText),
                         TkxAscii85Filter().EncodeStream(seedText), TkxAsciiHexFilter().EncodeStream(seedText)};
  const TkxDecodeFilter kinds[] = {ftFlateDecode, ftLZWDecode, ftRunLengthDecode, ftASCII85Decode, ftASCIIHexDecode};
  for (int round = 0; round < 400; ++round) {
    const size_t k = round % 5;
    Bytes data;
    if (round % 2) {  // random bytes
      data.resize(rng() % 2000);
      for (auto& b : data) b = static_cast<uint8_t>(rng());
    } else {  // a valid stream with a few bytes changed and maybe cut short
      data = valid[k];
      for (int i = 0; i < 4; ++i) data[rng() % data.size()] = static_cast<uint8_t>(rng());
      if (rng() % 2) data.resize(rng() % data.size());
    }
    TkxDecodeParams parms;
    if (round % 3 == 0) {
      parms.Predictor = 10 + static_cast<int>(rng() % 6);
      parms.Columns = 1 + static_cast<int>(rng() % 50);
      parms.Colors = 1 + static_cast<int>(rng() % 4);
    }
    try {
      Bytes out = DecodeWithFilter(kinds[k], data, parms, 1 << 20);
      EXPECT_LE(out.size(), 1u << 20);
    } catch (const Exception&) {
    }
  }
}
