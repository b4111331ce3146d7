// Text placement of the RTF writer: frames, lines with tab stops, links,
// encoding of text runs, text boxes, paragraphs, bookmarks and tab items,
// driven through a fake engine at 96 pixels per inch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "platform/kxFontManager.h"
#include "rtf/kxRTFHyperlinks.h"
#include "rtf/kxRTFTextWriter.h"

using namespace pw;

namespace {

std::u16string Substitute(const std::u16string& text, std::u16string_view from, std::u16string_view to) {
  std::u16string out;
  size_t pos = 0;
  for (size_t at; (at = text.find(from, pos)) != std::u16string::npos; pos = at + from.size()) {
    out.append(text, pos, at - pos);
    out.append(to);
  }
  out.append(text, pos, std::u16string::npos);
  return out;
}

// Tables and streams as the RTF engine keeps them; text measured with the
// font manager (Arial resolves to Liberation Sans) or, for exact layouts,
// with fixed metrics: |font height| high and 7 pixels per character.
class FakeHost : public TkxRTFTextHost {
 public:
  std::vector<std::pair<std::string, int>> fonts;
  std::vector<TColor> colors;
  std::string body, header, footer;
  int band = 0;
  bool removeDuplicates = false, activeLinks = true, calcVariables = true, fixedMetrics = false;
  TkxDoubleRect margins;  // Left, Top, Right, Bottom margins
  double pageWidth = 794;
  double pageHeight = 0;  // unknown
  TFont engineFont;
  TBrush engineBrush;

  FakeHost() {
    // The page border colour takes number 1 at every page start.
    ColorNumber(clBlack);
  }

  int FontNumber(const TFont& font) override {
    for (size_t i = 0; i < fonts.size(); ++i)
      if (fonts[i].first == font.Name() && fonts[i].second == font.Charset()) return static_cast<int>(i);
    fonts.emplace_back(font.Name(), font.Charset());
    return static_cast<int>(fonts.size()) - 1;
  }
  int ColorNumber(TColor color) override {
    auto it = std::find(colors.begin(), colors.end(), color);
    if (it != colors.end()) return static_cast<int>(it - colors.begin()) + 1;
    colors.push_back(color);
    return static_cast<int>(colors.size());
  }
  TkxTextSize MeasureText(std::u16string_view text, const TFont& font) override {
    if (fixedMetrics) return {static_cast<int>(text.empty() ? 1 : 7 * text.size()), std::abs(font.Height())};
    const bool empty = text.empty();
    const TkxTextSize size =
        TkxFontManager::Instance().TextExtent(font.Name(), font.Style(), font.Height(), empty ? u" " : text);
    return {empty ? 1 : size.Width, size.Height};
  }
  double TwipsPerPixel() const override { return 15; }
  int CurrentBand() const override { return band; }
  void WriteToBand(std::string_view rtf) override {
    (band == 1 || band == 3 ? header : band == 2 ? footer : body).append(rtf);
  }
  void WriteToBody(std::string_view rtf) override { body.append(rtf); }
  bool RemoveDuplicates() const override { return removeDuplicates; }
  bool ActiveHyperLinks() const override { return activeLinks; }
  bool CalculateVariables() const override { return calcVariables; }
  std::u16string CalculateVariablesIn(const std::u16string& text, bool withPageVariables) override {
    return Substitute(withPageVariables ? ReplacePageVariables(text) : text, u"<%Title%>", u"{T}");
  }
  std::u16string ReplacePageVariables(const std::u16string& text) override {
    if (band >= 1 && band <= 3) return PageVariablesAsFields(text);
    return Substitute(Substitute(text, u"<%Pg#%>", u"3"), u"<%PgCnt%>", u"5");
  }
  const TFont& EngineFont() const override { return engineFont; }
  const TBrush& EngineBrush() const override { return engineBrush; }
  TkxDoubleRect PageMargins() const override { return margins; }
  double PageWidth() const override { return pageWidth; }
  double PageHeight() const override { return pageHeight; }
};

TFont MakeFont(const std::string& name = "Arial", int points = 12, TFontCharset charset = ANSI_CHARSET) {
  TFont f;
  f.SetPixelsPerInch(96);
  f.SetName(name);
  f.SetSize(points);
  f.SetColor(clBlack);
  f.SetCharset(charset);
  return f;
}

std::unique_ptr<TkxTextItem> MakeText(const std::u16string& text, double x, double y, const TFont& font = MakeFont()) {
  auto item = std::make_unique<TkxTextItem>();
  item->Lines = {text};
  item->X = x;
  item->Y = y;
  item->Font = font;
  return item;
}

using TextList = std::vector<std::unique_ptr<TkxTextItem>>;

// The text of a frame: after the font words of its run up to the run's end
// (a line frame) or up to "\par}" (a frame of its own, in a band).
std::string FrameText(const std::string& frame) {
  size_t end = frame.rfind("}\\par}");
  size_t start = frame.find("\\overlay {");
  if (end != std::string::npos && start != std::string::npos) {
    start = frame.find(' ', start + 10);
    return frame.substr(start + 1, end - start - 1);
  }
  start = frame.find(' ');
  end = frame.rfind("\\par}");
  return start == std::string::npos || end == std::string::npos ? frame : frame.substr(start + 1, end - start - 1);
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

bool BracesBalanced(const std::string& rtf) {
  int depth = 0;
  for (size_t i = 0; i < rtf.size(); ++i) {
    if (rtf[i] == '\\') {
      ++i;
      continue;
    }
    if (rtf[i] == '{') ++depth;
    if (rtf[i] == '}' && --depth < 0) return false;
  }
  return depth == 0;
}

}  // namespace

TEST(RTFText, HelloInBothEncodingTypes) {
  // Arial 12 pt, black on white, top-left corner at (96, 96) pixels.
  FakeHost frameHost;
  TkxRTFTextWriter frames(frameHost);
  frames.BeginDocument(15);
  frames.BeginPage();
  auto hello = MakeText(u"Hello", 96, 96);
  frames.WriteText(*hello);
  // The page's lines are written as it ends, each a frame reaching to the
  // page's right edge (794 - 96 pixels).
  EXPECT_EQ(frameHost.body, "");
  frames.EndPage();
  EXPECT_EQ(frameHost.body, "{\\pard\\pvpg\\phpg\\posy1440\\posx1440\\absw956\\overlay {\\f0\\cf1\\fs24 Hello}\\par}");

  FakeHost lineHost;
  TkxRTFTextWriter lines(lineHost);
  lines.BeginDocument(lineHost.MeasureText(u"W", TFont()).Height);
  lines.BeginPage();
  TextList list;
  list.push_back(MakeText(u"Hello", 96, 96));
  SortTextList(list);
  lines.WriteTextList(list);
  EXPECT_EQ(lineHost.body, "{\\pard \\sl-1448\\par}{\\pard \\sl-0\\ri-1440\\tx1455{\\tab\\f0\\cf1\\fs24 Hello}\\par }");
  EXPECT_EQ(lineHost.fonts, (std::vector<std::pair<std::string, int>>{{"Arial", 0}}));
}

TEST(RTFText, TextRunsAreEscapedAndEncodedForTheirFont) {
  struct Case {
    std::u16string text;
    TFontCharset charset;
    std::string rtf;
  };
  const Case cases[] = {
      {u"a\\b{c}", ANSI_CHARSET, "a\\\\b\\{c\\}"},
      // Cyrillic in a Russian font: the escape and the 1251 byte.
      {u"\u0416", RUSSIAN_CHARSET, "\\u1046\\'C6"},
      {u"\u20AC", RUSSIAN_CHARSET, "\\u8364\\'88"},
      // A byte would be read in 1251 here: Latin letters get escapes too.
      {u"\u00E9", RUSSIAN_CHARSET, "\\u233?"},
      {u"\u00E9", ANSI_CHARSET, "\xE9"},
      {u"\u00E9", DEFAULT_CHARSET, "\xE9"},
      // Nothing outside 1252 is lost in an ANSI font.
      {u"\u4E2D", ANSI_CHARSET, "\\u20013?"},
      {u"\uFFFF", ANSI_CHARSET, "\\u-1?"},
      {u"\U0001F600", ANSI_CHARSET, "\\u-10179?\\u-8704?"},
      {u"\u0416\u00E9", DEFAULT_CHARSET, "\\u1046?\xE9"},
      // Control characters: a tab is the tab word, the others are left out.
      {u"a\tb\x01\x0C", ANSI_CHARSET, "a\\tab b"},
      // Ligatures are written as their letters.
      {u"\uFB01nd o\uFB00\uFB03ce", ANSI_CHARSET, "find offffice"},
  };
  for (const Case& c : cases) {
    FakeHost host;
    TkxRTFTextWriter w(host);
    w.BeginDocument(15);
    w.BeginPage();
    auto item = MakeText(c.text, 10, 10, MakeFont("Arial", 12, c.charset));
    w.WriteText(*item);
    w.EndPage();
    EXPECT_EQ(FrameText(host.body), c.rtf) << static_cast<int>(c.charset);

    // Line mode writes the same run.
    FakeHost lineHost;
    TkxRTFTextWriter lw(lineHost);
    lw.BeginDocument(15);
    TextList list;
    list.push_back(MakeText(c.text, 10, 10, MakeFont("Arial", 12, c.charset)));
    lw.WriteTextList(list);
    EXPECT_NE(lineHost.body.find(" " + c.rtf + "}\\par }"), std::string::npos) << lineHost.body;
  }
}

TEST(RTFText, LinksBecomeHyperlinkFields) {
  const std::string www =
      "{\\field{\\*\\fldinst {HYPERLINK \"http://www.example.com\"}}{\\fldrslt {\\ul\\cf7 "
      "www.example.com}}}";
  struct Case {
    std::string text;
    std::string rtf;
  };
  const Case cases[] = {
      {"see www.example.com now", "see " + www + " now"},
      // Every occurrence, whatever its case, becomes the field of the first.
      {"www.example.com and WWW.EXAMPLE.COM", www + " and " + www},
      {"mail bob.smith@example.org",
       "mail {\\field{\\*\\fldinst {HYPERLINK \"mailto:bob.smith@example.org\"}}{\\fldrslt "
       "{\\ul\\cf7 "
       "bob.smith@example.org}}}"},
      {"at http://a.b/c?d=1.",
       "at {\\field{\\*\\fldinst {HYPERLINK \"http://a.b/c?d=1.\"}}{\\fldrslt {\\ul\\cf7 "
       "http://a.b/c?d=1.}}}"},
      // No dot after the "@": no link at all in this text.
      {"bob@localhost www.example.com", "bob@localhost www.example.com"},
      // An escaped file path: backslashes doubled once more in the
      // instruction only.
      {"open C:\\\\dir\\\\file.txt now",
       "open {\\field{\\*\\fldinst {HYPERLINK \"C:\\\\\\\\dir\\\\\\\\file.txt\"}}{\\fldrslt "
       "{\\ul\\cf7 "
       "C:\\\\dir\\\\file.txt}}} now"},
      // A later link inside an earlier one leaves that field intact.
      {"www.example.com/x www.example.com",
       "{\\field{\\*\\fldinst {HYPERLINK \"http://www.example.com/x\"}}{\\fldrslt {\\ul\\cf7 "
       "www.example.com/x}}} " +
           www},
      {"no link here", "no link here"},
      {"dots, w.w. and ww.x but no link", "dots, w.w. and ww.x but no link"},
  };
  for (const Case& c : cases) {
    int asked = 0;
    EXPECT_EQ(AddHyperlinks(c.text, [&] { return ++asked, 7; }), c.rtf) << c.text;
    EXPECT_LE(asked, 1);
  }

  size_t pos = 0;
  EXPECT_EQ(FindNextLink("x ftp://h.org/f y", pos), "ftp://h.org/f");
  EXPECT_EQ(pos, 3u);
  pos = 0;
  EXPECT_EQ(FindNextLink("nothing", pos), "");
  EXPECT_EQ(pos, 0u);
}

TEST(RTFText, LinkColourEntersTheTableOnlyWithALinkAndLinksCanBeOff) {
  FakeHost host;
  TkxRTFTextWriter w(host);
  w.BeginDocument(15);
  w.BeginPage();
  auto plain = MakeText(u"plain", 10, 10);
  w.WriteText(*plain);
  EXPECT_EQ(host.colors, std::vector<TColor>{clBlack});
  auto link = MakeText(u"go www.a.org", 10, 30);
  w.WriteText(*link);
  w.EndPage();
  EXPECT_EQ(host.colors, (std::vector<TColor>{clBlack, clBlue}));
  EXPECT_NE(host.body.find("{\\ul\\cf2 www.a.org}"), std::string::npos);

  FakeHost off;
  off.activeLinks = false;
  TkxRTFTextWriter w2(off);
  w2.BeginDocument(15);
  auto link2 = MakeText(u"go www.a.org", 10, 30);
  w2.WriteText(*link2);
  w2.EndPage();
  EXPECT_EQ(FrameText(off.body), "go www.a.org");
}

TEST(RTFText, FontWordsAndShading) {
  FakeHost host;
  TkxRTFTextWriter w(host);
  TFont f = MakeFont("Times", 10);
  f.SetStyle(fsBold | fsItalic | fsUnderline | fsStrikeout);
  f.SetColor(clRed);
  EXPECT_EQ(w.FontControls(f), "\\f0\\cf2\\fs20 \\b \\i \\strike \\ul");
  // A font given by its cell height still gets a positive size.
  TFont cell = MakeFont("Times");
  cell.SetHeight(16);
  EXPECT_EQ(w.FontControls(cell), "\\f0\\cf1\\fs24");

  struct Case {
    TBrushStyle style;
    TColor color;
    std::string rtf;
  };
  const Case cases[] = {
      {bsSolid, clWhite, ""},
      {bsSolid, clYellow, "\\chshdng10000\\chcfpat3"},
      {bsHorizontal, clYellow, "\\chbgdkhoriz\\chcfpat3"},
      {bsVertical, clYellow, "\\chbgdkvert\\chcfpat3"},
      {bsFDiagonal, clYellow, "\\chbgdkbdiag\\chcfpat3"},
      {bsBDiagonal, clYellow, "\\chbgdkfdiag\\chcfpat3"},
      {bsCross, clYellow, "\\chbgdkcross\\chcfpat3"},
      {bsDiagCross, clYellow, "\\chbgdkdcross\\chcfpat3"},
      {bsClear, clWhite, ""},
  };
  for (const Case& c : cases) {
    TBrush b;
    b.SetStyle(c.style);
    if (c.style != bsClear) b.SetColor(c.color);
    EXPECT_EQ(w.CharShading(b), c.rtf) << static_cast<int>(c.style);
  }
}

TEST(RTFText, ClippedFrames) {
  FakeHost host;
  host.fixedMetrics = true;  // 7 pixels a character
  TkxRTFTextWriter w(host);
  w.BeginDocument(15);
  w.BeginPage();
  // Starts 20 pixels left of its clip rectangle: moved to its left edge, cut
  // after the character that crosses the 30-pixel width.
  auto item = MakeText(u"abcdefghij", 80, 100);
  item->SetHasClipRect(true);
  item->SetClipRect({100, 95, 130, 120});
  w.WriteText(*item);
  EXPECT_EQ(item->X, 100);
  EXPECT_EQ(host.body,
            "{\\pard\\pvpg\\phpg\\posy1500\\posx1500\\overlay\\f0\\cf1\\fs24 \\absh-375\\absw600 "
            "abcde\\par}");

  // A pixel or less to the left, or a top below the rectangle's middle,
  // keeps X.
  struct Case {
    double x, y;
  };
  for (const Case& c : {Case{99.5, 100}, Case{80, 113}}) {
    auto kept = MakeText(u"x", c.x, c.y);
    kept->SetHasClipRect(true);
    kept->SetClipRect({100, 95, 130, 120});
    w.AdjustClippedX(*kept);
    EXPECT_EQ(kept->X, c.x);
  }
}

TEST(RTFText, RepeatedTextInFrameMode) {
  FakeHost host;
  TkxRTFTextWriter w(host);
  w.BeginDocument(15);
  w.BeginPage();
  // A bold effect drawn twice: written once.
  auto a = MakeText(u"Bold", 10, 10), b = MakeText(u"Bold", 10, 10);
  w.WriteText(*a);
  w.WriteText(*b);
  w.EndPage();
  EXPECT_EQ(host.body.find("Bold", host.body.find("Bold") + 1), std::string::npos);

  // The next page writes the same text at the same place again.
  w.BeginPage();
  auto c = MakeText(u"Bold", 10, 10);
  w.WriteText(*c);
  w.EndPage();
  size_t count = 0;
  for (size_t at = 0; (at = host.body.find("Bold", at)) != std::string::npos; ++at) ++count;
  EXPECT_EQ(count, 2u);

  // With RemoveDuplicates a repeat anywhere on the page is dropped, not
  // only right after the first.
  FakeHost dupHost;
  dupHost.removeDuplicates = true;
  TkxRTFTextWriter d(dupHost);
  d.BeginDocument(15);
  d.BeginPage();
  auto x1 = MakeText(u"X", 10, 10), y1 = MakeText(u"Y", 50, 10), x2 = MakeText(u"X", 10, 10),
       x3 = MakeText(u"X", 11, 10);
  for (auto* it : {x1.get(), y1.get(), x2.get(), x3.get()}) d.WriteText(*it);
  d.EndPage();
  // X, X one pixel on and Y: pieces of one line in one font, each in a
  // frame of its own, in the order of the line.
  EXPECT_EQ(dupHost.body,
            "{\\pard\\pvpg\\phpg\\posy150\\posx150\\absw490\\overlay {\\f0\\cf1\\fs24 X}\\par}"
            "{\\pard\\pvpg\\phpg\\posy150\\posx165\\absw490\\overlay {\\f0\\cf1\\fs24 X}\\par}"
            "{\\pard\\pvpg\\phpg\\posy150\\posx750\\absw490\\overlay {\\f0\\cf1\\fs24 Y}\\par}");
}

// A frame standing on a coloured box is painted in the box's colour and
// ends with the box; on white or the paper it gets no colour words.
TEST(RTFText, FramesOnColouredBoxesTakeTheirColour) {
  FakeHost host;
  TkxRTFTextWriter w(host);
  w.BeginDocument(15);
  w.BeginPage();
  auto cell = MakeText(u"Cell", 10, 10), plain = MakeText(u"Plain", 10, 100), white = MakeText(u"White", 10, 200);
  cell->Backdrop = clRed;
  cell->BackdropRight = 60;
  white->Backdrop = clWhite;
  white->BackdropRight = 300;
  for (auto* it : {cell.get(), plain.get(), white.get()}) w.WriteText(*it);
  w.EndPage();
  EXPECT_NE(host.body.find("\\posx150\\absw750\\overlay\\cbpat2 {\\f0\\cf1\\fs24 Cell}"), std::string::npos)
      << host.body;
  EXPECT_EQ(host.body.find("\\cbpat", host.body.find("Cell")), std::string::npos) << host.body;
}

TEST(RTFText, PageVariables) {
  FakeHost host;
  TkxRTFTextWriter w(host);
  w.BeginDocument(15);
  w.BeginPage();
  // In the header the variables become page fields, written as RTF; the
  // other variables' values are escaped.
  host.band = 1;
  auto head = MakeText(u"Page <%pg#%> of <%PgCnt%> <%Title%>", 10, 10);
  w.WriteText(*head);
  EXPECT_EQ(FrameText(host.header),
            "Page {\\field{\\*\\fldinst { PAGE }}} of {\\field{\\*\\fldinst { NUMPAGES }}} \\{T\\}");
  EXPECT_TRUE(host.body.empty());
  // In the body they are numbers.
  host.band = 0;
  auto body = MakeText(u"Page <%Pg#%> of <%PgCnt%>", 10, 30);
  w.WriteText(*body);
  w.EndPage();
  EXPECT_EQ(FrameText(host.body), "Page 3 of 5");
  // Switched off: as written.
  host.calcVariables = false;
  host.body.clear();
  w.BeginPage();
  auto off = MakeText(u"<%Pg#%>", 10, 50);
  w.WriteText(*off);
  w.EndPage();
  EXPECT_EQ(FrameText(host.body), "<%Pg#%>");

  EXPECT_EQ(PageVariablesAsFields(u"<%PGCNT%>"), u"{\\field{\\*\\fldinst { NUMPAGES }}}");
}

TEST(RTFText, LineGrouping) {
  // Font heights 10: a line's threshold is 7 below its top.
  struct Case {
    std::vector<std::pair<double, double>> xy;  // in list order
    std::vector<std::pair<double, double>> sorted;
    std::vector<int> heights = {};  // 10 for every item when empty
  };
  const Case cases[] = {
      // A line opened by a superscript: a smaller piece that ends within
      // the line (a subscript) stays on it; one of the line's own height
      // there is the next line and takes the line's bottom.
      {{{10, 98}, {20, 100}, {30, 104}}, {{10, 98}, {20, 98}, {30, 98}}, {6, 10, 6}},
      {{{10, 98}, {20, 100}, {30, 104}}, {{10, 98}, {20, 98}, {30, 108}}, {6, 10, 10}},
      // Within the threshold: the line's top; below it but above the line's
      // bottom: the line's bottom; further down: a line of its own.
      {{{50, 106}, {10, 100}, {30, 108}, {20, 130}}, {{10, 100}, {50, 100}, {30, 110}, {20, 130}}},
      // Equal Y sorted by X, keeping the order of equal X.
      {{{30, 5}, {10, 5}, {20, 5}}, {{10, 5}, {20, 5}, {30, 5}}},
      // Exactly on the line's bottom: left alone.
      {{{10, 100}, {5, 110}}, {{10, 100}, {5, 110}}},
  };
  for (const Case& c : cases) {
    TextList list;
    TFont font = MakeFont();
    font.SetHeight(-10);
    for (size_t k = 0; k < c.xy.size(); ++k) {
      font.SetHeight(c.heights.empty() ? -10 : -c.heights[k]);
      list.push_back(MakeText(u"t", c.xy[k].first, c.xy[k].second, font));
    }
    list.insert(list.begin() + 1, nullptr);
    SortTextList(list);
    std::vector<std::pair<double, double>> got;
    for (auto& item : list) got.emplace_back(item->X, item->Y);
    EXPECT_EQ(got, c.sorted);
  }
}

TEST(RTFText, LineOutput) {
  FakeHost host;
  host.fixedMetrics = true;  // heights |font height|, 7 pixels a character
  TkxRTFTextWriter w(host);
  w.BeginDocument(14);
  const TFont f14 = MakeFont("Arial", 12);
  TFont font = f14;
  font.SetHeight(-14);  // 14 pixels high; 11 points
  struct Case {
    const char* name;
    std::vector<std::tuple<std::u16string, double, double>> items;
    double leftMargin;
    std::string rtf;
  };
  const std::string piece = "\\f0\\cf1\\fs22 ", tightPiece = "\\f0\\cf1\\fs22\\expndtw-16 ";
  const Case cases[] = {
      // Pieces at 100 and 100.5: the second stop right after as little of
      // the first piece as its letters can be drawn closer together into
      // (14 pixels less 0.08 em a letter), with a little room to spare;
      // the first piece is drawn that narrow.
      {"stops",
       {{u"ab", 100, 0}, {u"cd", 100.5, 0}},
       0,
       "{\\pard \\sl-0\\tx1515\\tx1738{\\tab" + tightPiece + "ab}{\\tab" + piece + "cd}\\par }"},
      // The same text less than 8 pixels away on one line: written once.
      {"duplicate",
       {{u"ab", 100, 0}, {u"ab", 105, 0}, {u"ab", 120, 0}},
       0,
       "{\\pard \\sl-0\\tx1515\\tx1815{\\tab" + piece + "ab}{\\tab" + piece + "ab}\\par }"},
      // ... also with a left margin.
      {"duplicate with margin",
       {{u"ab", 100, 0}, {u"ab", 101, 0}},
       72,
       "{\\pard \\sl-0\\tx435{\\tab" + piece + "ab}\\par }"},
      // A line 30 pixels below a 14-pixel line at the top margin: a spacer
      // of 16 pixels + 8 twips.
      {"spacer",
       {{u"a", 10, 0}, {u"b", 10, 30}},
       0,
       "{\\pard \\sl-0\\tx165{\\tab" + piece + "a}\\par}{\\pard \\sl-248\\par}{\\pard \\sl-0\\tx165{\\tab" + piece +
           "b}\\par }"},
      // The first line's spacer is measured from the top margin; the 8 twips
      // it adds are taken off the next spacer, so lines keep their places.
      {"spacers keep lines in place",
       {{u"a", 10, 100}, {u"b", 10, 130}},
       0,
       "{\\pard \\sl-1508\\par}{\\pard \\sl-0\\tx165{\\tab" + piece +
           "a}\\par}{\\pard \\sl-240\\par}{\\pard "
           "\\sl-0\\tx165{\\tab" +
           piece + "b}\\par }"},
      // A line that starts within the one before (a subscript 10 pixels
      // below a 14-pixel line) is as high as its distance from that line's
      // end plus its own height, 10 pixels: with its text at the bottom it
      // stands where the PDF has it, and c stays 60 pixels below a.
      {"overlapping lines",
       {{u"a", 10, 0}, {u"b", 10, 10}, {u"c", 10, 60}},
       0,
       "{\\pard \\sl-0\\tx165{\\tab" + piece + "a}\\par}{\\pard \\sl-150\\tx165{\\tab" + piece +
           "b}\\par}{\\pard \\sl-548\\par}{\\pard \\sl-0\\tx165{\\tab" + piece + "c}\\par }"},
      // A gap too small for a spacer (2 pixels) goes into the line's height,
      // so that such gaps do not add up.
      {"small gaps",
       {{u"a", 10, 0}, {u"b", 10, 16}, {u"c", 10, 32}},
       0,
       "{\\pard \\sl-0\\tx165{\\tab" + piece + "a}\\par}{\\pard \\sl-240\\tx165{\\tab" + piece +
           "b}\\par}{\\pard \\sl-240\\tx165{\\tab" + piece + "c}\\par }"},
      // Two pieces at the left margin: only the first goes without a tab
      // (and a stop).
      {"at the margin",
       {{u"ab", 0, 0}, {u"cd", 0, 0}},
       0,
       "{\\pard \\sl-0\\tx223{" + tightPiece + "ab}{\\tab" + piece + "cd}\\par }"},
  };
  for (const Case& c : cases) {
    host.margins = {c.leftMargin, 0, 0, 0};
    TextList list;
    list.push_back(nullptr);  // empty entries are passed over
    for (auto& [text, x, y] : c.items) list.push_back(MakeText(text, x, y, font));
    // The 11-point lines give their paragraphs their own size, after the tab stops.
    std::string expected = c.rtf;
    for (size_t i = expected.find("\\sl-"); i != std::string::npos; i = expected.find("\\sl-", i + 1)) {
      size_t k = i + 4;
      while (k < expected.size() && isdigit(static_cast<unsigned char>(expected[k]))) ++k;
      if (expected.compare(k, 3, "\\tx") != 0) continue;  // a spacer
      while (expected.compare(k, 3, "\\tx") == 0) {
        k += 3;
        while (k < expected.size() && isdigit(static_cast<unsigned char>(expected[k]))) ++k;
      }
      expected.insert(k, "\\fs22");
    }
    // Line paragraphs may run an inch past the page's edge.
    for (size_t i = expected.find("\\sl-"); i != std::string::npos; i = expected.find("\\sl-", i + 1)) {
      size_t k = i + 4;
      while (k < expected.size() && isdigit(static_cast<unsigned char>(expected[k]))) ++k;
      if (expected.compare(k, 3, "\\tx") == 0 || expected.compare(k, 2, "{") == 0) expected.insert(k, "\\ri-1440");
    }
    EXPECT_EQ(w.LineOutput(list), expected) << c.name;
  }
  EXPECT_EQ(w.LineOutput({}), "");

  // The paragraph's size comes from the pieces' fonts, not from text that
  // looks like a size word.
  TextList list;
  list.push_back(MakeText(u"\\fs90 x", 10, 0, font));
  const std::string rtf = w.LineOutput(list);
  EXPECT_NE(rtf.find("\\fs22{"), std::string::npos) << rtf;
  EXPECT_EQ(rtf.find("\\fs90{"), std::string::npos) << rtf;
}

// Letters and symbols of a formula come in fonts of their own; where one
// starts at the end of the previous piece it continues that piece's tab
// cell (with a space for a word gap) instead of taking a tab stop.
TEST(RTFText, PiecesInAnotherFontContinueTheirCell) {
  FakeHost host;
  host.fixedMetrics = true;  // 7 pixels a character
  TkxRTFTextWriter w(host);
  w.BeginDocument(14);
  TFont text = MakeFont("Arial", 12);
  text.SetHeight(-14);
  TFont math = text;
  math.SetStyle(fsItalic);
  const std::string plain = "\\f0\\cf1\\fs22 ", italic = "\\f0\\cf1\\fs22 \\i ";
  TextList list;
  list.push_back(MakeText(u"Sei", 100, 0, text));  // ends at 121
  list.push_back(MakeText(u"x", 121, 0, math));    // touching: no space
  list.push_back(MakeText(u"der", 132, 0, text));  // 4 pixels on: a word space
  list.push_back(MakeText(u"y", 153, 0, text));    // same font again: a cell of its own
  list.push_back(MakeText(u"z", 300, 0, math));    // far away: a cell of its own
  // The joined cell (56 pixels) is drawn closer together to end before y.
  const std::string tight = "\\expndtw-12";
  EXPECT_EQ(w.LineOutput(list), "{\\pard \\sl-0\\ri-1440\\tx1515\\tx2310\\tx4515\\fs22{\\tab" + plain.substr(0, 12) +
                                    tight + " Sei}{" + italic.substr(0, 15) + tight + " x}{" + plain.substr(0, 12) +
                                    tight + "  der}{\\tab" + plain + "y}{\\tab" + italic + "z}\\par }");
}

// The plan of a line, on its model: stops where the PDF has the cells
// (moved right only past what the cell before needs), characters closer
// where the reader's face is wider than the PDF's (at most 0.08 em), further
// apart where it is narrower and the PDF's widths are known (half way to
// the PDF's width, at most 0.06 em, never past the next cell), and nothing
// where they are not known.
TEST(RTFText, LinePlan) {
  FakeHost host;  // 15 twips a pixel
  TkxRTFTextWriter w(host);
  using Run = TkxRTFTextWriter::LineRun;
  using Cell = TkxRTFTextWriter::LineCell;
  auto run = [](double width, double pdfWidth, size_t chars) {
    Run r;
    r.Width = width;
    r.PdfWidth = pdfWidth;
    r.Chars = chars;
    r.Em = 20;
    return r;
  };
  struct Case {
    const char* name;
    std::vector<Cell> cells;
    std::vector<bool> tabbed;
    std::vector<int> stops, spacing;  // spacing of each cell's first run
  };
  const Case cases[] = {
      {"wider face", {{100, {run(110, 100, 10)}}}, {true}, {1515}, {-15}},
      {"much wider face: at most 0.08 em", {{100, {run(150, 100, 10)}}}, {true}, {1515}, {-24}},
      {"narrower face, PDF widths known: half way", {{100, {run(100, 110, 10)}}}, {true}, {1515}, {7}},
      {"much narrower: at most 0.06 em", {{100, {run(100, 200, 10)}}}, {true}, {1515}, {18}},
      {"narrower, widths unknown", {{100, {run(100, 0, 10)}}}, {true}, {1515}, {0}},
      {"narrower, but the next cell is close",
       {{100, {run(100, 110, 10)}}, {205, {run(20, 20, 2)}}},
       {true, true},
       {1515, 3090},
       {2, 0}},
      {"at the left edge: no stop", {{0, {run(50, 50, 5)}}}, {false}, {0}, {0}},
  };
  for (const Case& c : cases) {
    const auto plan = w.PlanLine(c.cells, 0, 600);
    ASSERT_EQ(plan.size(), c.cells.size()) << c.name;
    for (size_t i = 0; i < plan.size(); ++i) {
      EXPECT_EQ(plan[i].Tabbed, c.tabbed[i]) << c.name << " " << i;
      if (plan[i].Tabbed) {
        EXPECT_EQ(plan[i].Stop, c.stops[i]) << c.name << " " << i;
      }
      ASSERT_FALSE(plan[i].RunSpacing.empty());
      EXPECT_EQ(plan[i].RunSpacing[0], c.spacing[i]) << c.name << " " << i;
    }
  }
}

// A line at the foot of the page (a footer) must not go onto a page of its
// own where the reader's face is a little taller than measured: the gaps
// above it give up what the page lacks (4 pixels are kept free), at most
// half of each.
TEST(RTFText, LinesAtThePageFootKeepToThePage) {
  FakeHost host;
  host.fixedMetrics = true;  // heights |font height|
  TkxRTFTextWriter w(host);
  w.BeginDocument(14);
  TFont font = MakeFont("Arial", 12);
  font.SetHeight(-14);
  struct Case {
    double pageHeight, footY;
    int spacer;  // twips of the spacer before the footer line
  } cases[] = {
      {0, 186, (186 - 14) * 15 + 8},          // page height unknown: as planned
      {400, 186, (186 - 14) * 15 + 8},        // room enough
      {200, 186, (186 - 14) * 15 + 8 - 68},   // ends at the foot: 4 pixels and the spacer's 8 twips
      {200, 400, ((400 - 14) * 15 + 8) / 2},  // far past it: half the gap at most
  };
  for (const Case& c : cases) {
    host.body.clear();
    host.pageHeight = c.pageHeight;
    TextList list;
    list.push_back(MakeText(u"a", 10, 0, font));
    list.push_back(MakeText(u"b", 10, c.footY, font));
    w.WriteTextList(list);
    EXPECT_NE(host.body.find("{\\pard \\sl-" + std::to_string(c.spacer) + "\\par}"), std::string::npos)
        << c.pageHeight << " " << c.footY << ": " << host.body;
  }
}

// Frames of the exact layout on a 400-pixel page, measured 7 pixels a
// character and |font height| high, with an 11-point (14-pixel) font.
class RTFFrames : public ::testing::Test {
 protected:
  RTFFrames() {
    host.fixedMetrics = true;
    host.pageWidth = 400;
    w.BeginDocument(14);
    w.BeginPage();
    text.SetHeight(-14);
  }
  FakeHost host;
  TkxRTFTextWriter w{host};
  TFont text = MakeFont("Arial", 12);
};

// In the exact layout the lines of a column block share a frame: one exact
// line height (the smallest step), space before where the step is larger,
// the frame raised by most of what that height adds to the line's own. A
// line at another left edge, in another size or too far below starts a
// frame of its own.
TEST_F(RTFFrames, LinesShareAFramePerColumnBlock) {
  TFont big = text;
  big.SetHeight(-20);
  std::vector<std::unique_ptr<TkxTextItem>> items;
  items.push_back(MakeText(u"one", 100, 50, text));
  items.push_back(MakeText(u"two", 100, 66, text));    // 16 on: the block's line height
  items.push_back(MakeText(u"three", 100, 90, text));  // 24 on: 8 pixels of space before
  items.push_back(MakeText(u"side", 250, 75, text));   // another left edge
  items.push_back(MakeText(u"big", 100, 110, big));    // another size
  items.push_back(MakeText(u"far", 100, 300, text));   // too far below
  for (auto& item : items) w.WriteText(*item);
  w.EndPage();
  const std::string frame = "{\\pard\\pvpg\\phpg\\posy726\\posx1500\\absw";
  const std::string body = host.body;
  // (16 - 14) pixels added, 0.8 of them above: 750 - 24 twips.
  EXPECT_EQ(body.substr(0, frame.size()), frame);
  EXPECT_EQ(Count(body, "\\posy726\\posx1500"), 3u);
  EXPECT_EQ(Count(body, "\\sl-240\\slmult0"), 3u);
  EXPECT_EQ(Count(body, "\\sb120"), 1u);
  EXPECT_EQ(Count(body, "\\pvpg"), 6u);
  EXPECT_LT(body.find(" three}"), body.find(" side}"));
  EXPECT_TRUE(BracesBalanced(body));

  // Table rows keep a frame per cell, read along the row; but a page of
  // more rows than the frame budget allows shares frames down its columns.
  for (int rows : {3, 60}) {
    host.body.clear();
    w.BeginPage();
    items.clear();
    for (int r = 0; r < rows; ++r) {
      items.push_back(MakeText(u"a", 100, 50 + 16 * r, text));
      items.push_back(MakeText(u"b", 300, 50 + 16 * r, text));
    }
    for (auto& item : items) w.WriteText(*item);
    w.EndPage();
    EXPECT_EQ(Count(host.body, "\\pvpg"), static_cast<size_t>(2 * rows));
    EXPECT_EQ(Count(host.body, "\\slmult0"), rows == 3 ? 0u : static_cast<size_t>(2 * rows)) << rows;
  }
}

// In the exact layout the pieces of a line share a frame: a piece in
// another font that continues the line is a run of it, a piece after a gap
// a cell on a tab stop; a piece in the same font that starts back within
// the one before (or after a gap: another column) starts a frame of its
// own, and the frame before is drawn closer together to end before it.
TEST_F(RTFFrames, PiecesOfALineKeepTogether) {
  TFont math = text;
  math.SetStyle(fsItalic);
  auto sei = MakeText(u"Sei", 100, 50, text);     // ends at 121
  auto x = MakeText(u"x", 121, 51, math);         // one pixel lower: the same line
  auto col = MakeText(u"abcdef", 150, 50, text);  // 42 pixels, but z starts at 180
  auto next = MakeText(u"z", 180, 50, text);
  auto below = MakeText(u"low", 100, 120, text);  // far below: a frame of its own
  for (auto* item : {col.get(), sei.get(), next.get(), x.get(), below.get()}) w.WriteText(*item);
  EXPECT_EQ(host.body, "");
  w.EndPage();
  const std::string plain = "\\f0\\cf1\\fs22", italic = "\\f0\\cf1\\fs22 \\i";
  EXPECT_EQ(host.body, "{\\pard\\pvpg\\phpg\\posy750\\posx1500\\absw1887\\overlay\\tx765\\fs22 {" + plain + " Sei}{" +
                           italic + " x}{\\tab" + plain +
                           "\\expndtw-16 abcdef}\\par}"
                           "{\\pard\\pvpg\\phpg\\posy750\\posx2700\\absw421\\overlay\\fs22 {" +
                           plain +
                           " z}\\par}"
                           "{\\pard\\pvpg\\phpg\\posy1800\\posx1500\\absw662\\overlay\\fs22 {" +
                           plain + " low}\\par}");
  EXPECT_TRUE(BracesBalanced(host.body));

  // Places and widths from a hostile file still give well-formed frames.
  host.body.clear();
  w.BeginPage();
  auto lost = MakeText(u"nan", std::nan(""), 1e300, text);
  auto wide = MakeText(u"ab", -1e300, 10, text);
  wide->CharAdvances = {1e308, 1e308};
  auto turned = MakeText(u"t", std::nan(""), std::nan(""), text);
  turned->Angle = 90;
  for (auto* item : {lost.get(), wide.get(), turned.get()}) w.WriteText(*item);
  w.EndPage();
  EXPECT_TRUE(BracesBalanced(host.body)) << host.body;
  EXPECT_NE(host.body.find(" nan}"), std::string::npos);
}

// Readers paint frames opaque: the room a frame keeps beyond its text stops
// where the text of a frame beside it on the same height starts (a later
// frame would hide its first letters), but never short of its own text.
TEST_F(RTFFrames, FramesStopShortOfTheTextBesideThem) {
  struct Case {
    const char* name;
    double besideX, besideY;
    int width;  // of the frame of "abcdefghij" at 100 (70 pixels of text)
  } cases[] = {
      {"beside, a line higher", 180, 50, 1200},
      {"beside, further than the room", 260, 50, 1508},
      {"starting within the text", 150, 50, 1508},
      {"on lines of its own", 180, 90, 1508},
  };
  for (const Case& c : cases) {
    host.body.clear();
    w.BeginPage();
    auto beside = MakeText(u"zz", c.besideX, c.besideY, text);
    auto left = MakeText(u"abcdefghij", 100, 60, text);
    for (auto* item : {beside.get(), left.get()}) w.WriteText(*item);
    w.EndPage();
    EXPECT_NE(host.body.find("\\posx1500\\absw" + std::to_string(c.width) + "\\"), std::string::npos)
        << c.name << ": " << host.body;
  }
}

// Text turned by a quarter turn becomes a text box whose text runs up (90
// degrees) or down (270) from where the PDF starts it; at other angles it
// stands upright across the middle of the turned text's box. In line mode
// turned text stands apart from the lines in the same way.
TEST(RTFText, TurnedText) {
  FakeHost host;
  host.fixedMetrics = true;
  TkxRTFTextWriter w(host);
  w.BeginDocument(14);
  w.BeginPage();
  TFont font = MakeFont("Arial", 12);
  font.SetHeight(-10);
  auto up = MakeText(u"Up", 100, 200, font);  // 14 wide, 10 high
  up->Angle = 90;
  w.WriteText(*up);
  // Across: 10 * 1.3 pixels from X; along: 14 * 1.3 + 10 pixels up from Y.
  EXPECT_EQ(host.body.rfind("{\\shp{\\*\\shpinst\\shpleft1500\\shptop2577\\shpright1695\\shpbottom3000", 0), 0u)
      << host.body;
  EXPECT_NE(host.body.find("{\\sp{\\sn txflTextFlow}{\\sv 2}}"), std::string::npos);
  EXPECT_NE(host.body.find("\\f0\\cf1\\fs16 Up\\par}}}"), std::string::npos);
  EXPECT_TRUE(BracesBalanced(host.body));

  host.body.clear();
  auto down = MakeText(u"Dn", 100, 200, font);
  down->Angle = 270;
  w.WriteText(*down);
  EXPECT_EQ(host.body.rfind("{\\shp{\\*\\shpinst\\shpleft1305\\shptop3000\\shpright1500\\shpbottom3423", 0), 0u)
      << host.body;
  EXPECT_NE(host.body.find("{\\sp{\\sn txflTextFlow}{\\sv 1}}"), std::string::npos);

  host.body.clear();
  auto slanted = MakeText(u"Slant", 100, 200, font);  // 35 wide
  slanted->Angle = 30;
  w.WriteText(*slanted);
  EXPECT_EQ(host.body.find("\\shp"), std::string::npos);
  EXPECT_EQ(host.body.rfind("{\\pard\\pvpg\\phpg\\posy", 0), 0u) << host.body;
  EXPECT_NE(host.body.find(" Slant\\par}"), std::string::npos);
  w.EndPage();

  FakeHost lineHost;
  lineHost.fixedMetrics = true;
  TkxRTFTextWriter lw(lineHost);
  lw.BeginDocument(14);
  TextList list;
  list.push_back(MakeText(u"Up", 100, 200, font));
  list.back()->Angle = 90;
  list.push_back(MakeText(u"flat", 10, 10, font));
  lw.WriteTextList(list);
  EXPECT_EQ(lineHost.body.rfind("{\\shp{", 0), 0u) << lineHost.body;
  EXPECT_EQ(lineHost.body.find("Up}"), std::string::npos);
  EXPECT_NE(lineHost.body.find(" flat}\\par }"), std::string::npos);
}

TEST(RTFText, TextListInABandIsWrittenAsFrames) {
  FakeHost host;
  TkxRTFTextWriter w(host);
  w.BeginDocument(15);
  w.BeginPage();
  host.band = 2;
  TextList list;
  list.push_back(MakeText(u"foot", 96, 1000));
  w.WriteTextList(list);
  EXPECT_EQ(host.footer, "{\\pard\\pvpg\\phpg\\posy15000\\posx1440\\overlay\\f0\\cf1\\fs24 foot\\par}");
  EXPECT_TRUE(host.body.empty());
}

TEST(RTFText, TextBoxesParagraphsBookmarksAndTabItems) {
  FakeHost host;
  host.fixedMetrics = true;
  TkxRTFTextWriter w(host);
  w.BeginDocument(15);

  TkxTextBoxItem box;
  box.Lines = {u"one", u"two"};
  box.Font = MakeFont();
  box.X = 10;
  box.Y = 20;
  box.Width = 100;
  box.Height = 64;  // two 16-pixel lines, 32 free
  box.TextAlignment = haCenter;
  box.VerticalAlignment = 2;
  const std::string drawing = w.TextBoxRTF(box);
  EXPECT_EQ(drawing,
            "{\\lang1024 "
            "{\\*\\do\\dobxpage\\dobypage\\dptxbx\\dptxbxmar0\\dpx150\\dpy300\\dpxsize1500\\dpysize960"
            "{\\dptxbxtext\\pard\\qc\\f0\\cf1\\fs24 \\par \\par one\r\n\\par two\\par}"
            "\\dplinesolid\\dplinecor0\\dplinecog0\\dplinecob0\\dplinew15 "
            "\\dpfillfgcr255\\dpfillfgcg255\\dpfillfgcb255\\dpfillbgcr255\\dpfillbgcg255\\dpfillbgcb255\\"
            "dpfillpat1 }}");
  box.Font = MakeFont("Arial", 12, RUSSIAN_CHARSET);
  const std::string shape = w.TextBoxRTF(box);
  EXPECT_EQ(shape.rfind("{\\lang1024 {\\shp{\\*\\shpinst\\shpleft150\\shptop300\\shpright1650\\shpbottom1260", 0), 0u);
  EXPECT_TRUE(BracesBalanced(drawing));
  EXPECT_TRUE(BracesBalanced(shape)) << shape;

  TkxParagraphItem para;
  para.Lines = {u"One", u"<%Pg#%>"};
  para.Font = MakeFont();
  EXPECT_EQ(w.ParagraphRTF(para),
            "{\\pard\\ql\\fi0\\li0\\ri0\\sb0\\sl-240\\slmult0\\f0\\cf1\\fs24 One\r\n\\par 3\\par}");
  para.Lines = {u""};
  EXPECT_EQ(w.ParagraphRTF(para), "");

  TkxBookmarkItem mark("a}b", 20, 10);
  EXPECT_EQ(w.BookmarkRTF(mark),
            "{\\*\\bkmkstart "
            "a\\}b}\\plain\\pvpg\\phpg\\posy150\\posx300\\absw0\\absh0{\\*\\bkmkend a\\}b}");

  TkxTabItem tab;
  tab.Y = 10;
  tab.Font = MakeFont();
  tab.TabPositions = {10, 20};
  tab.DefaultTabWidth = 30;
  tab.Cells = {"a{", "b"};
  host.pageWidth = 100;
  host.margins = {0, 0, 10, 0};
  host.engineFont = MakeFont("Arial", 8);  // "W" 11 pixels high
  EXPECT_EQ(w.TabItemRTF(tab),
            "{\\pard\\keep\\keepn\\sb150\\sl165\\slmult0\\f0\\cf1\\fs24\\shading10000\\cfpat2"
            "\\tqr\\tx150\\tx300\\tx750\\tx1200\r\na\\{\\tab b\\par}");
  EXPECT_FALSE(w.WriteOtherItem(para));
  EXPECT_TRUE(w.WriteOtherItem(mark));
}

TEST(RTFText, RotatedTextLayout) {
  struct Case {
    int angle;
    TkxRotatedTextLayout layout;
  };
  // Text 40 wide, 10 high.
  const Case cases[] = {
      {90, {10, 40, 0, 40}},
      {180, {40, 10, 40, 10}},
      {270, {10, 40, 10, 0}},
      {45, {35, 35, 0, 28}},
  };
  for (const Case& c : cases) {
    const TkxRotatedTextLayout r = RotatedTextLayout(c.angle, 40, 10);
    EXPECT_EQ(r.Width, c.layout.Width) << c.angle;
    EXPECT_EQ(r.Height, c.layout.Height) << c.angle;
    EXPECT_EQ(r.OriginX, c.layout.OriginX) << c.angle;
    EXPECT_EQ(r.OriginY, c.layout.OriginY) << c.angle;
  }
}
