#include <gtest/gtest.h>

#include <string>

#include "rtf/kxRTFEncoding.h"

using namespace pw;

TEST(RTFEncoding, EscapeOnlyTheThreeSpecialCharacters) {
  EXPECT_EQ(EscapeRTF("a\\b{c}"), "a\\\\b\\{c\\}");
  EXPECT_EQ(EscapeRTF("\xE9\t?"), "\xE9\t?");
  EXPECT_EQ(EscapeRTF(""), "");
}

TEST(RTFEncoding, NoCharacterIsLost) {
  struct Case {
    const char16_t* text;
    TFontCharset charset;
    const char* rtf;
  };
  const Case cases[] = {
      // ANSI and default character sets: code page 1252 bytes, "\u" for the rest.
      {u"a\\b{c}", ANSI_CHARSET, "a\\\\b\\{c\\}"},
      {u"caf\u00E9 \u20AC", DEFAULT_CHARSET, "caf\xE9 \x80"},
      {u"\u0416", ANSI_CHARSET, "\\u1046?"},
      {u"\u0100", DEFAULT_CHARSET, "\\u256?"},
      // Above 32767 the number is negative; a character above U+FFFF is its
      // surrogate pair.
      {u"\uFFFD", ANSI_CHARSET, "\\u-3?"},
      {u"\U0001F600", ANSI_CHARSET, "\\u-10179?\\u-8704?"},
      // Unicode handling: below 257 still the 1252 byte; anything else with
      // the byte of the font's own code page as fallback.
      {u"\u0416\u00E9", RUSSIAN_CHARSET, "\\u1046\\'C6\xE9"},
      {u"\u20AC", RUSSIAN_CHARSET, "\\u8364\\'88"},
      {u"\u03A9", GREEK_CHARSET, "\\u937\\'D9"},
      {u"\u05D0", HEBREW_CHARSET, "\\u1488\\'E0"},
      {u"\u0E01", THAI_CHARSET, "\\u3585\\'A1"},
      {u"\u0150", EASTEUROPE_CHARSET, "\\u336\\'D5"},
      // Double-byte code pages and characters the font's code page lacks:
      // a one-character fallback.
      {u"\u3042", SHIFTJIS_CHARSET, "\\u12354?"},
      {u"\u0416", GREEK_CHARSET, "\\u1046?"},
      {u"\u0416", SYMBOL_CHARSET, "\\u1046?"},
      {u"{\u0416}", RUSSIAN_CHARSET, "\\{\\u1046\\'C6\\}"},
  };
  for (const Case& c : cases) EXPECT_EQ(EncodeText(c.text, c.charset), c.rtf) << static_cast<int>(c.charset);
}

TEST(RTFEncoding, UnicodeHandlingAndCodePages) {
  EXPECT_FALSE(NeedsUnicodeHandling(ANSI_CHARSET));
  EXPECT_FALSE(NeedsUnicodeHandling(DEFAULT_CHARSET));
  EXPECT_TRUE(NeedsUnicodeHandling(SYMBOL_CHARSET));
  EXPECT_TRUE(NeedsUnicodeHandling(RUSSIAN_CHARSET));
  struct Case {
    int charset, codePage;
  };
  const Case cases[] = {{0, 1252},   {1, 1252},   {2, 0},      {128, 932},  {129, 949},  {130, 1361},
                        {134, 936},  {136, 950},  {161, 1253}, {162, 1254}, {163, 1258}, {177, 1255},
                        {178, 1256}, {186, 1257}, {204, 1251}, {222, 874},  {238, 1250}, {77, 10000}};
  for (const Case& c : cases) {
    EXPECT_EQ(CodePageOfCharset(c.charset), c.codePage) << c.charset;
    if (c.codePage != 1252 && c.codePage != 0 && c.codePage != 10000) {
      EXPECT_EQ(CharsetOfCodePage(c.codePage), c.charset) << c.codePage;
    }
  }
  EXPECT_EQ(CharsetOfCodePage(1252), 0);
  EXPECT_EQ(CharsetOfCodePage(1200), 0);
  EXPECT_EQ(CodePageBytes(u'\u0416', 1251), "\xC6");
  EXPECT_EQ(CodePageBytes(u'\u3042', 932), "\x82\xA0");
  EXPECT_EQ(CodePageBytes(u'\u0416', 1253), "");
  EXPECT_EQ(CodePageBytes(u'\xD83D', 1251), "");  // a lone surrogate
}
