// How the RTF engine writes text.
#include "rtf/kxRTFTextWriter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "pdf/kxClasses.h"
#include "rtf/kxRTFEncoding.h"
#include "rtf/kxRTFHyperlinks.h"
#include "rtf/kxRTFShapeWriter.h"

namespace pw {

namespace {

constexpr char16_t kPageVariable[] = u"<%Pg#%>";
constexpr char16_t kPageCountVariable[] = u"<%PgCnt%>";

// Pieces of one line closer than this (pixels) with the same text are one
// piece drawn twice (a bold effect).
constexpr double kDuplicateDistance = 8;
// The size (half points) a paragraph has unless told otherwise.
constexpr int kDefaultHalfPoints = 24;
// Vertical gaps of this many twips or less get no spacer paragraph.
constexpr int kMinSpacerTwips = 45;
// Added to every spacer's exact line height.
constexpr int kSpacerExtraTwips = 8;
// Room kept free above the foot of a page of lines (pixels).
constexpr double kFootSlackPixels = 4;
// A piece starting within this many ems after the end of the previous one,
// or overlapping it by up to the second figure, continues its cell; a gap
// wider than the third figure is a word space. Where a piece ends is known
// only to a few percent of its width: the share widens the figures by that.
constexpr double kJoinGapEm = 0.3;
constexpr double kJoinOverlapEm = 0.2;
constexpr double kWordSpaceEm = 0.15;
constexpr double kSmallWordSpaceEm = 0.2;
constexpr double kWidthShare = 0.03;
// The reader's width of a piece whose PDF width is not known is off from the
// PDF's by up to this share: the reader's face is another, and its size is
// whole pixels.
constexpr double kMeasuredWidthShare = 0.1;
// The reader may draw a run's characters closer together by at most this
// share of an em each, and does so when the run is wider than the PDF has
// it by more than the second share.
constexpr double kMaxCondenseEm = 0.08;
constexpr double kCondenseShare = 0.02;
// A face narrower than the PDF's by more than this share is spread, by at
// most the second figure of an em a letter, over the third figure's part of
// the difference: spread all the way, justified columns would end so close
// to the next that readers and text tools run them together.
constexpr double kSpreadShare = 0.03;
constexpr double kMaxSpreadEm = 0.06;
constexpr double kSpreadPart = 0.5;
// In the exact layout, pieces whose tops differ by at most this share of
// their height are one line; a gap wider than the second figure (ems)
// after a piece in the same font, or than the third after any piece,
// starts another frame; no frame is narrower than the fourth (pixels).
constexpr double kSameLineShare = 0.35;
// A piece smaller than this share of its line's height that ends within
// the line (give or take kSameLineShare of its own height) is raised or
// lowered within the line rather than a line of its own.
constexpr double kLoweredShare = 0.8;
constexpr double kFrameGapEm = 0.5;
constexpr double kWideGapEm = 3;
constexpr double kMinFramePixels = 20;
// Lines of one column share a frame while the step from one to the next is
// between these shares of the line's height; a frame holds at most the
// third figure of lines.
constexpr double kMinPitchShare = 0.8;
constexpr double kMaxPitchShare = 3;
constexpr size_t kMaxBlockLines = 200;
// A line joins a block whose left edges it lies within this many ems of
// (indented first lines, list items), in a size within the second share of
// the block's.
constexpr double kBlockIndentEm = 4;
constexpr double kBlockSizeShare = 0.2;
// Of a line cut into several frames, only frames at least this many ems
// wide (columns of text rather than table cells) join blocks.
constexpr double kColumnFrameEm = 20;
// A block stops growing where more than this many frames lie between its
// last line and the next.
constexpr size_t kMaxOverlapChecks = 5000;
// Frames beside one frame looked at for its neighbours' left edges.
constexpr size_t kMaxNeighbourChecks = 1000;
// Frames a page may have before table rows share frames down their columns.
constexpr size_t kPageFrameBudget = 40;
// Share of what an exact line height adds to a line that a reader puts
// above its text.
constexpr double kAscentShare = 0.8;
// How much wider than its measured text a line frame is made.
constexpr double kFrameSlack = 0.15;
// A line paragraph may run an inch past the page's right edge: a line the
// reader draws wider than measured is cut at the edge instead of breaking
// into two lines that push the rest of the page down.
constexpr int kRunPastEdgeTwips = 1440;
constexpr double kRoundingPixels = 2;
// A cell keeps up to this many ems of the PDF's gap to the next cell.
constexpr double kCellGapEm = 0.25;
constexpr double kRoundingPixelsPerChar = 0.05;
// Recorded widths further than this share from the reader's are not used.
constexpr double kTrustedWidthShare = 0.35;

// Width of a piece for finding where it ends: the advances the recording
// holds, which are the drawn face's own (kerning left out), unless they
// stray too far from the width in the reader's face. They do for subset
// fonts whose character maps point at other glyphs.
double PieceWidth(const TkxTextItem& item, double measured) {
  if (item.CharAdvances.empty() || item.CharAdvances.size() != item.FirstLine().size()) return measured;
  double width = 0;
  for (double a : item.CharAdvances) width += a;
  if (!std::isfinite(width) || std::abs(width - measured) > kTrustedWidthShare * measured) return measured;
  return width;
}

// Pieces at different heights of one slot that overlap horizontally by more
// than this (pixels) stand one over the other: they are two lines.
constexpr double kStackSlackPixels = 2;
// A line that starts within the one before keeps at least this share of its
// height.
constexpr double kMinOverlapShare = 0.25;
// Bounds for counts that come from item values.
constexpr int kMaxTabStops = 1000;
constexpr int kMaxAlignmentBreaks = 1000;

// A key for sorting that puts NaN after every number, so that the order is
// strict and weak whatever the items hold.
double SortKey(double v) { return std::isnan(v) ? std::numeric_limits<double>::infinity() : v; }

std::u16string ReplaceNoCase16(const std::u16string& text, std::u16string_view name, std::u16string_view value) {
  auto lower = [](char16_t c) -> char16_t { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; };
  std::u16string out;
  size_t from = 0;
  while (from <= text.size()) {
    size_t hit = std::u16string::npos;
    for (size_t i = from; i + name.size() <= text.size(); ++i) {
      size_t k = 0;
      while (k < name.size() && lower(text[i + k]) == lower(name[k])) ++k;
      if (k == name.size()) {
        hit = i;
        break;
      }
    }
    if (hit == std::u16string::npos) break;
    out.append(text, from, hit - from);
    out.append(value);
    from = hit + name.size();
  }
  if (from < text.size()) out.append(text, from, std::u16string::npos);
  return out;
}

// Nearest integer, halves to the even neighbour; saturates at the 32-bit
// range, NaN gives 0.
int RoundHalfEven(double value) {
  if (std::isnan(value)) return 0;
  if (value >= std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (value <= std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(std::nearbyint(value));  // halves to even in the default rounding mode
}

// A text run for a font of the given character set. Readers take raw bytes
// in the code page of the font's character set, so in a font of another
// character set than 1252 (symbol fonts aside, whose bytes are glyph codes)
// the upper half of 1252 is written as escapes too.
std::string EncodeRunPart(std::u16string_view text, TFontCharset charset);

// The letters a Latin ligature stands for (U+FB00..U+FB06), or nothing.
std::u16string_view LigatureLetters(char16_t c) {
  static constexpr std::u16string_view kLetters[] = {u"ff", u"fi", u"fl", u"ffi", u"ffl", u"st", u"st"};
  return (c >= 0xFB00 && c <= 0xFB06) ? kLetters[c - 0xFB00] : std::u16string_view();
}

// Control characters are not text to an RTF reader: a tab becomes the tab
// control word, the others (a PDF's stray line breaks, form feeds and codes
// of glyphs without a character) are left out. Ligatures, which typesetters
// draw for f followed by i, l or f, are written as their letters, so that
// the words can be searched, spell-checked and edited.
std::string EncodeRun(std::u16string_view text, TFontCharset charset) {
  if (std::none_of(text.begin(), text.end(), [](char16_t c) { return c < 0x20 || !LigatureLetters(c).empty(); }))
    return EncodeRunPart(text, charset);
  std::string out;
  size_t from = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] >= 0x20 && LigatureLetters(text[i]).empty()) continue;
    out += EncodeRunPart(text.substr(from, i - from), charset);
    if (i < text.size()) {
      if (text[i] == u'\t') out += "\\tab ";
      if (const std::u16string_view letters = LigatureLetters(text[i]); !letters.empty())
        out += EncodeRunPart(letters, charset);
    }
    from = i + 1;
  }
  return out;
}

std::string EncodeRunPart(std::u16string_view text, TFontCharset charset) {
  if (!NeedsUnicodeHandling(charset) || charset == SYMBOL_CHARSET) return EncodeText(text, charset);
  const int codePage = CodePageOfCharset(charset);
  std::string out;
  size_t from = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && (text[i] < 0x80 || text[i] > 0xFF)) continue;
    out += EncodeText(text.substr(from, i - from), charset);
    if (i == text.size()) break;
    std::string fallback = "?";
    const std::string bytes = codePage ? CodePageBytes(text[i], codePage) : std::string();
    if (bytes.size() == 1) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      const auto b = static_cast<uint8_t>(bytes[0]);
      fallback = {'\\', '\'', kHex[b >> 4], kHex[b & 15]};
    }
    out += UnicodeEscape(text[i], fallback);
    from = i + 1;
  }
  return out;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

// ---- Free functions ---------------------------------------------------------

TkxRotatedTextLayout RotatedTextLayout(int angle, double textWidth, double textHeight) {
  angle = ((angle % 360) + 360) % 360;
  double degrees;
  if (angle < 90) {
    degrees = 90 - angle;
  } else if (angle < 180) {
    degrees = angle - 90;
  } else if (angle < 270) {
    degrees = 270 - angle;
  } else {
    degrees = angle - 270;
  }
  const double c = degrees * std::numbers::pi / 180.0;
  const int a = RoundHalfEven(std::sin(c) * textWidth);
  const int b = RoundHalfEven(std::cos(c) * textHeight);
  const int d = RoundHalfEven(textWidth * std::cos(c));
  const int e = RoundHalfEven(textHeight * std::sin(c));
  TkxRotatedTextLayout r;
  r.Width = a + b;
  r.Height = d + e;
  if (angle < 90) {
    r.OriginX = 0;
    r.OriginY = d;
  } else if (angle < 180) {
    r.OriginX = a;
    r.OriginY = d + e;
  } else if (angle < 270) {
    r.OriginX = a + b;
    r.OriginY = e;
  } else {
    r.OriginX = b;
    r.OriginY = 0;
  }
  return r;
}

std::u16string PageVariablesAsFields(const std::u16string& text) {
  std::u16string out = ReplaceNoCase16(text, kPageVariable, u"{\\field{\\*\\fldinst { PAGE }}}");
  return ReplaceNoCase16(out, kPageCountVariable, u"{\\field{\\*\\fldinst { NUMPAGES }}}");
}

void SortTextList(std::vector<std::unique_ptr<TkxTextItem>>& list) {
  std::erase(list, nullptr);
  std::stable_sort(list.begin(), list.end(),
                   [](const auto& a, const auto& b) { return SortKey(a->Y) < SortKey(b->Y); });

  bool lineOpen = false;
  double lineTop = 0, lineMax = 0, threshold = 0, lineBottom = 0;
  for (auto& item : list) {
    const double a = std::abs(static_cast<double>(item->Font.Height()));
    if (!lineOpen || item->Y > lineBottom) {
      // This item opens a line, never above the previous line's bottom.
      lineTop = lineOpen ? std::max(item->Y, lineBottom) : std::max(item->Y, 0.0);
      lineMax = a;
      threshold = std::abs(0.7 * lineMax + lineTop);
      lineBottom = lineTop + lineMax;
      lineOpen = true;
      continue;
    }
    if (item->Y <= threshold) {
      item->Y = lineTop;
      if (a > lineMax) {
        lineMax = a;
        lineBottom = lineTop + a;
      }
    } else if (item->Y < lineBottom && a < kLoweredShare * lineMax && item->Y + a <= lineBottom + kSameLineShare * a) {
      // A smaller piece that ends about where the line ends is lowered
      // within it (a subscript, an index): it stays on its line instead of
      // opening a line of its own below.
      item->Y = lineTop;
    } else if (item->Y < lineBottom) {
      if (a > lineMax) {
        lineMax = a;
        lineBottom = lineTop + a;
      }
      item->Y = lineBottom;
    }
    // Y equal to the line's bottom: the item stays where it is.
  }

  std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) {
    const double ya = SortKey(a->Y), yb = SortKey(b->Y);
    if (ya != yb) return ya < yb;
    return SortKey(a->X) < SortKey(b->X);
  });
}

// ---- Writer state -------------------------------------------------------------

void TkxRTFTextWriter::BeginDocument(double lineHeight) {
  lineHeight_ = lineHeight;
  lastWrittenText_.clear();
  lastWrittenX_ = 0;
  lastWrittenY_ = 0;
  pageTextMemory_.clear();
  pageTextCount_ = 1;
  recentFontControls_.clear();
}

void TkxRTFTextWriter::BeginPage() {
  pageFrames_.clear();
  pageTextMemory_.clear();
  pageTextCount_ = 1;
  lastWrittenText_.clear();
  lastWrittenX_ = 0;
  lastWrittenY_ = 0;
}

void TkxRTFTextWriter::EndPage() {
  if (!pageFrames_.empty()) {
    const std::string rtf = LineFrames();
    pageFrames_.clear();
    if (!rtf.empty()) host_.WriteToBody(rtf);
  }
  pageTextMemory_.clear();
  pageTextCount_ = 1;
}

TkxTextSize TkxRTFTextWriter::MeasureItem(const TkxTextItem& item) {
  auto [it, added] = measuredItems_.try_emplace(&item);
  if (added) it->second = host_.MeasureText(item.FirstLine(), item.Font);
  return it->second;
}

int TkxRTFTextWriter::Twips(double pixels) const { return RoundHalfEven(pixels * host_.TwipsPerPixel()); }

// ---- Control words ----------------------------------------------------------

std::string TkxRTFTextWriter::FontControls(const TFont& font) {
  constexpr size_t kRecentFonts = 8;
  auto& recent = recentFontControls_;
  for (size_t i = recent.size(); i-- > 0;)
    if (recent[i].first == font) {
      if (i + 1 != recent.size()) std::swap(recent[i], recent.back());
      return recent.back().second;
    }
  if (recent.size() == kRecentFonts) recent.erase(recent.begin());
  recent.emplace_back(font, FontControlWords(font));
  return recent.back().second;
}

std::string TkxRTFTextWriter::FontControlWords(const TFont& font) {
  std::string out = "\\f" + std::to_string(host_.FontNumber(font));
  out += "\\cf" + std::to_string(host_.ColorNumber(font.Color()));
  // A font given by its cell height reports a negative size; RTF wants the
  // magnitude.
  out += "\\fs" + std::to_string(std::abs(font.Size()) * 2);
  if (font.HasStyle(fsBold)) out += " \\b";
  if (font.HasStyle(fsItalic)) out += " \\i";
  if (font.HasStyle(fsStrikeout)) out += " \\strike";
  if (font.HasStyle(fsUnderline)) out += " \\ul";
  return out;
}

std::string TkxRTFTextWriter::CharShading(const TBrush& brush) {
  if (brush.Color() == clWhite) return {};
  const char* word = nullptr;
  switch (brush.Style()) {
    case bsSolid: word = "\\chshdng10000"; break;
    case bsHorizontal: word = "\\chbgdkhoriz"; break;
    case bsVertical: word = "\\chbgdkvert"; break;
    case bsFDiagonal: word = "\\chbgdkbdiag"; break;
    case bsBDiagonal: word = "\\chbgdkfdiag"; break;
    case bsCross: word = "\\chbgdkcross"; break;
    case bsDiagCross: word = "\\chbgdkdcross"; break;
    default: return {};
  }
  return std::string(word) + "\\chcfpat" + std::to_string(host_.ColorNumber(brush.Color()));
}

std::string TkxRTFTextWriter::ParagraphShading(const TBrush& brush) {
  const char* word = nullptr;
  switch (brush.Style()) {
    case bsSolid: word = "\\shading10000"; break;
    case bsHorizontal: word = "\\bghoriz"; break;
    case bsVertical: word = "\\bgvert"; break;
    case bsFDiagonal: word = "\\bgfdiag"; break;
    case bsBDiagonal: word = "\\bgbdiag"; break;
    case bsCross: word = "\\bgcross"; break;
    case bsDiagCross: word = "\\bgdcross"; break;
    default: return {};
  }
  return std::string(word) + "\\cfpat" + std::to_string(host_.ColorNumber(brush.Color()));
}

std::string TkxRTFTextWriter::BorderDescription(const TkxBorder& border) {
  std::string out;
  switch (border.Style) {
    case psDash: out = "\\brdrdash"; break;
    case psDot: out = "\\brdrdot"; break;
    case psDashDot: out = "\\brdrdashd"; break;
    case psDashDotDot: out = "\\brdrdashdd"; break;
    case psClear: break;
    default: out = "\\brdrs"; break;
  }
  out += "\\brdrw" + std::to_string(Twips(border.Width));
  out += "\\brdrcf" + std::to_string(host_.ColorNumber(border.Color));
  return out;
}

std::string TkxRTFTextWriter::LineStyle(const TPen& pen) const { return RTFLineStyle(pen, host_.TwipsPerPixel()); }

std::string TkxRTFTextWriter::FillStyle(const TBrush& brush) const { return RTFFillStyle(brush); }

// ---- Text pieces --------------------------------------------------------------

std::string TkxRTFTextWriter::Hyperlinks(std::string&& rtf) {
  // Most text holds no link and is handed back as it came.
  if (!host_.ActiveHyperLinks() || !MayHoldLink(rtf)) return std::move(rtf);
  return AddHyperlinks(rtf, [this] { return host_.ColorNumber(clBlue); });
}

std::string TkxRTFTextWriter::Hyperlinks(std::string_view rtf) { return Hyperlinks(std::string(rtf)); }

std::string TkxRTFTextWriter::ApplyPageVariables(std::string rtf) {
  if (!host_.CalculateVariables() || rtf.find("<%") == std::string::npos) return rtf;
  for (std::u16string_view name : {std::u16string_view(kPageVariable), std::u16string_view(kPageCountVariable)}) {
    const std::string ansiName = WideToAnsi(name);
    std::string replaced = ReplaceNoCase(rtf, ansiName, "");
    if (replaced.size() == rtf.size()) continue;  // not present
    rtf = ReplaceNoCase(rtf, ansiName, WideToAnsi(host_.ReplacePageVariables(std::u16string(name))));
  }
  return rtf;
}

std::string TkxRTFTextWriter::EncodeWithVariables(const std::u16string& text, TFontCharset charset) {
  const std::u16string plain = host_.CalculateVariables() ? host_.CalculateVariablesIn(text, false) : text;
  return ApplyPageVariables(EncodeRun(plain, charset));
}

std::string TkxRTFTextWriter::JoinLines(const std::vector<std::string>& lines) {
  std::string joined;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) joined += "\r\n";
    joined += lines[i];
  }
  if (joined.size() >= 2 && joined.compare(joined.size() - 2, 2, "\r\n") == 0) joined.resize(joined.size() - 2);
  if (lines.size() > 1) {
    std::string out;
    size_t from = 0;
    while (true) {
      size_t hit = joined.find("\r\n", from);
      if (hit == std::string::npos) break;
      out.append(joined, from, hit - from);
      out += "\r\n\\par ";
      from = hit + 2;
    }
    out.append(joined, from, std::string::npos);
    joined = std::move(out);
  }
  return joined;
}

// ---- Frames -----------------------------------------------------------------

void TkxRTFTextWriter::AdjustClippedX(TkxTextItem& item) {
  if (!item.HasClipRect()) return;
  const TkxDoubleRect& clip = item.ClipRect();
  const double halfHeight = host_.MeasureText(item.FirstLine(), item.Font).Height / 2.0;
  if (clip.Top <= item.Y && item.Y <= clip.Bottom - halfHeight && item.X < clip.Right && clip.Left - item.X > 1)
    item.X = clip.Left;
}

bool TkxRTFTextWriter::SeenOnPage(const TkxTextItem& item) {
  if (!host_.RemoveDuplicates()) return false;
  // The same first line at exactly the same place is one text drawn twice.
  auto key = std::make_tuple(item.FirstLine(), item.X, item.Y);
  const bool comparable = !std::isnan(item.X) && !std::isnan(item.Y);
  const bool seen = comparable && pageTextMemory_.count(key) != 0;
  ++pageTextCount_;
  if (!seen && comparable) pageTextMemory_.insert(std::move(key));
  return seen;
}

std::string TkxRTFTextWriter::TextFrame(TkxTextItem& item) {
  const std::u16string line = item.FirstLine();
  if (SeenOnPage(item)) return {};

  AdjustClippedX(item);
  if (line == lastWrittenText_ && item.X == lastWrittenX_ && item.Y == lastWrittenY_) return {};

  std::string out = "{\\pard\\pvpg\\phpg\\posy" + std::to_string(Twips(item.Y)) + "\\posx" +
                    std::to_string(Twips(item.X)) + "\\overlay";
  out += FontControls(item.Font);
  out += CharShading(item.Brush);
  out += " ";
  if (item.HasClipRect()) {
    const TkxDoubleRect& clip = item.ClipRect();
    out += "\\absh-" + std::to_string(Twips(clip.Bottom - clip.Top)) + "\\absw" +
           std::to_string(Twips(clip.Right - clip.Left + 10)) + " ";
  }

  std::u16string text = host_.CalculateVariables() ? host_.CalculateVariablesIn(line, false) : line;
  if (item.HasClipRect() && !NeedsUnicodeHandling(item.Font.Charset()) && !text.empty()) {
    // Characters are taken while what was taken so far fits the clip width,
    // so the last one may cross the edge. Widths grow with the prefix.
    const double clipWidth = item.ClipRect().Right - item.ClipRect().Left;
    auto widthOf = [&](size_t n) { return host_.MeasureText(std::u16string_view(text).substr(0, n), item.Font).Width; };
    size_t taken = 0;
    if (widthOf(0) <= clipWidth) {
      size_t lo = 0, hi = text.size() - 1;  // the largest prefix length in [lo, hi] that fits
      while (lo < hi) {
        size_t mid = lo + (hi - lo + 1) / 2;
        if (widthOf(mid) <= clipWidth) {
          lo = mid;
        } else {
          hi = mid - 1;
        }
      }
      taken = lo + 1;
      if (taken < text.size() && IsHighSurrogate(text[taken - 1]) && IsLowSurrogate(text[taken])) ++taken;
    }
    text.resize(taken);
  }
  out += Hyperlinks(ApplyPageVariables(EncodeRun(text, item.Font.Charset())));
  out += "\\par}";

  lastWrittenText_ = line;
  lastWrittenX_ = item.X;
  lastWrittenY_ = item.Y;
  return out;
}

void TkxRTFTextWriter::WriteText(TkxTextItem& item) {
  const int band = host_.CurrentBand();
  if ((band == 0 || band == 4) && !item.HasClipRect()) {
    const std::u16string line = item.FirstLine();
    if (SeenOnPage(item)) return;
    if (line == lastWrittenText_ && item.X == lastWrittenX_ && item.Y == lastWrittenY_) return;
    lastWrittenText_ = line;
    lastWrittenX_ = item.X;
    lastWrittenY_ = item.Y;
    if (item.Angle % 360 != 0) {
      host_.WriteToBand(RotatedTextRTF(item));
      return;
    }
    // (Items are not copyable as such: the fields a line frame uses.)
    auto kept = std::make_unique<TkxTextItem>();
    kept->X = item.X;
    kept->Y = item.Y;
    kept->Lines = item.Lines;
    kept->Font = item.Font;
    kept->Brush = item.Brush;
    kept->CharAdvances = item.CharAdvances;
    kept->Backdrop = item.Backdrop;
    kept->BackdropRight = item.BackdropRight;
    if (host_.CalculateVariables() && !kept->Lines.empty())
      kept->Lines[0] = host_.CalculateVariablesIn(kept->Lines[0], true);
    pageFrames_.push_back(std::move(kept));
    return;
  }
  const std::string rtf = item.Angle % 360 != 0 ? RotatedTextRTF(item) : TextFrame(item);
  if (!rtf.empty()) host_.WriteToBand(rtf);
}

// ---- Lines ------------------------------------------------------------------

void TkxRTFTextWriter::WriteTextList(std::vector<std::unique_ptr<TkxTextItem>>& list) {
  if (host_.CurrentBand() != 0) {
    for (auto& item : list)
      if (item) WriteText(*item);
    return;
  }
  const std::string rtf = LineOutput(list);
  if (!rtf.empty()) host_.WriteToBand(rtf);
}

// A line paragraph takes the document's default size (12 points) unless told
// otherwise, and LibreOffice makes the line at least that tall whatever the
// size of its text: lines of smaller text grow and push the page's last lines
// onto a page of their own. The paragraph gets the largest size of the line's
// pieces when that is not the default.
std::string TkxRTFTextWriter::ParagraphSize(const std::vector<LineCell>& cells) {
  int largest = 0;
  for (const LineCell& cell : cells)
    for (const LineRun& run : cell.Runs) largest = std::max(largest, run.HalfPoints);
  if (largest == 0 || largest == kDefaultHalfPoints) return {};
  return "\\fs" + std::to_string(largest);
}

std::vector<TkxRTFTextWriter::LineCell> TkxRTFTextWriter::LineCells(const std::vector<const TkxTextItem*>& items,
                                                                    double* height) {
  std::vector<LineCell> cells;
  double prevX = 0, prevY = 0;
  bool havePrev = false;
  std::string prevText;
  // Where the previous piece ends and in which font it is.
  double prevEnd = 0, prevPieceWidth = 0;
  bool prevEndsBlank = false;
  TFont prevFont;
  for (const TkxTextItem* itemPtr : items) {
    const TkxTextItem& item = *itemPtr;
    const std::u16string& line = item.FirstLine();
    // Blanks drawn on their own carry nothing that tab stops do not already
    // give, and in a large size they would make the line tall.
    if (line.find_first_not_of(u" \u00A0") == std::u16string::npos) continue;
    const std::string source = Hyperlinks(EncodeRun(line, item.Font.Charset()));

    // A piece drawn twice at (nearly) the same place is written once.
    if (havePrev && std::abs(prevX - item.X) < kDuplicateDistance && prevY == item.Y && prevText == source) continue;

    const TkxTextSize extent = MeasureItem(item);
    if (height && extent.Height > *height) *height = extent.Height;

    // A piece in another font that starts where the previous one ended (a
    // formula's letters and symbols, a word in another style) continues
    // that piece's cell instead of taking a tab stop of its own: the line
    // stays text a user can edit, and small differences between the PDF's
    // widths and the reader's cannot push the later stops off the line.
    // Pieces in one font that continue each other were joined when the page
    // was drawn; the same font again after a gap is another column or cell.
    const double em = std::max(std::abs(static_cast<double>(prevFont.Height())), 1.0);
    const bool otherFont = !(item.Font == prevFont);
    const double slack = kWidthShare * prevPieceWidth;
    const bool joins = !cells.empty() && otherFont && item.X >= prevEnd - kJoinOverlapEm * em - slack &&
                       item.X <= prevEnd + kJoinGapEm * em + slack;
    LineRun run;
    run.Head = CharShading(item.Brush) + FontControls(item.Font);
    run.HalfPoints = std::abs(item.Font.Size()) * 2;
    run.Em = std::max(std::abs(static_cast<double>(item.Font.Height())), 1.0);
    run.Text = source;
    run.Width = extent.Width;
    run.Chars = line.size();
    run.Measured =
        std::all_of(line.begin(), line.end(), [](char16_t c) { return c < 0x250 || (c >= 0x2010 && c <= 0x2027); });
    const double pdfWidth = PieceWidth(item, extent.Width);
    run.PdfWidth = pdfWidth == extent.Width ? 0 : pdfWidth;
    if (joins) {
      const bool blankAtJoint = (!line.empty() && line.front() == u' ') || prevEndsBlank;
      // (Places and measured widths are whole pixels, each a half pixel off:
      // a gap is a word space from a share of an em plus a pixel, or, in
      // small sizes where that is most of a space, a little more of an em.)
      const double wordSpace = std::min(kWordSpaceEm * em + 1, kSmallWordSpaceEm * em + 0.5);
      if (item.X > prevEnd + wordSpace && !blankAtJoint) {
        run.Text = " " + run.Text;
        run.Width += host_.MeasureText(u" ", item.Font).Width;
        ++run.Chars;
        // The space stands for the gap the PDF leaves.
        if (run.PdfWidth > 0) run.PdfWidth += item.X - prevEnd;
      }
      cells.back().Runs.push_back(std::move(run));
    } else {
      LineCell cell;
      cell.X = item.X;
      cell.Runs.push_back(std::move(run));
      cells.push_back(std::move(cell));
    }

    prevPieceWidth = pdfWidth;
    prevEnd = item.X + prevPieceWidth;
    prevEndsBlank = !line.empty() && line.back() == u' ';
    prevFont = item.Font;
    prevX = item.X;
    prevY = item.Y;
    prevText = source;
    havePrev = true;
  }
  return cells;
}

std::vector<TkxRTFTextWriter::CellPlan> TkxRTFTextWriter::PlanLine(const std::vector<LineCell>& cells, double left,
                                                                   double right) const {
  const double twipsPerPixel = host_.TwipsPerPixel();
  const size_t n = cells.size();
  std::vector<CellPlan> plan(n);
  // The figures of each cell, in one allocation per line.
  struct Figures {
    // What the cell needs in the reader's face, the least it can be drawn
    // in, and the width the PDF gives it.
    double need = 0, least = 0, pdf = 0, start = 0;
    // Readers keep character spacing in units of their own, so a long run
    // may come out a little wider than asked for: some room is kept spare.
    double spare = kRoundingPixels;
    double clear = 0;
    bool tabbed = true, measured = true, known = false;
  };
  std::vector<Figures> f(n);
  for (size_t i = 0; i < n; ++i) {
    bool pdfKnown = true;
    for (const LineRun& r : cells[i].Runs) {
      f[i].spare += kRoundingPixelsPerChar * static_cast<double>(r.Chars);
      f[i].measured = f[i].measured && r.Measured;
      f[i].need += r.Width;
      f[i].least += std::max(0.0, r.Width - static_cast<double>(r.Chars) * kMaxCondenseEm * r.Em);
      if (r.PdfWidth > 0)
        f[i].pdf += r.PdfWidth;
      else
        pdfKnown = false;
    }
    if (!pdfKnown) f[i].pdf = f[i].need;
    f[i].known = pdfKnown;
    f[i].clear = f[i].spare;
  }
  // What is kept clear after a cell: the spare room, and as much of the
  // PDF's own gap to the next cell as a word space takes, so that cells
  // drawn closer together do not run into each other.
  for (size_t i = 0; i + 1 < n; ++i) {
    const double gap = cells[i + 1].X - (cells[i].X + f[i].pdf);
    const double wordSpace = kCellGapEm * cells[i].Runs.back().Em;
    if (gap > 0) f[i].clear = std::max(f[i].clear, std::min(gap, wordSpace));
  }
  // Tab stops where the PDF has the cells, moved right only where the cell
  // before cannot be drawn narrow enough to end before it.
  double prevStop = 0;
  for (size_t i = 0; i < n; ++i) {
    double t = cells[i].X - left + 1;
    if (i == 0) {
      f[i].tabbed = cells[i].X > left;
    } else {
      // The cell before is planned as narrow as it can be drawn when its
      // text is in letters whose widths the reader's face is known to
      // have; symbols and formulas may come from a fallback face, and a
      // cell of them is planned as wide as the PDF has it (a pixel more),
      // or as measured.
      const Figures& b = f[i - 1];
      const double planned = b.measured ? b.least : std::clamp(b.pdf + 1, b.least, b.need);
      const double previousEnd = b.start + planned + b.clear + 1;
      if (t < previousEnd) t = previousEnd;
      if (t <= prevStop) t = prevStop + 1;
    }
    f[i].start = f[i].tabbed ? t : 0;
    plan[i].Tabbed = f[i].tabbed;
    if (f[i].tabbed) {
      plan[i].Stop = Twips(t);
      prevStop = t;
    }
  }
  for (size_t i = 0; i < n; ++i) {
    const Figures& c = f[i];
    // Room up to the next stop (a pixel less, so that its tab is not
    // passed) or to the line's end.
    size_t chars = 0;
    for (const LineRun& r : cells[i].Runs) chars += r.Chars;
    const double room = (i + 1 < n ? f[i + 1].start - 1 : right - left - 1) - c.start - c.clear;
    // The cell is drawn as narrow as the PDF has it when the reader's face
    // is wider by more than a small share. A narrower face (Times for
    // Palatino) is spread towards the PDF's width, a little a letter, where
    // the PDF's widths of the cell are known and its letters are ones the
    // reader's face surely has; never past its room, so the gap to the next
    // cell keeps its word space.
    double target = c.need;
    if (c.pdf < c.need * (1 - kCondenseShare)) target = c.pdf;
    if (c.known && c.measured && c.pdf > c.need * (1 + kSpreadShare))
      target = std::min(c.need + kSpreadPart * (c.pdf - c.need), room);
    // (A cell that starts at or past the line's end is left as it is.)
    if (room < target && room > 0) target = room;
    // Twips given to (positive) or taken from (negative) every character.
    int spacing = 0;
    if (chars > 0 && target != c.need) {
      // (Bounded before the conversion: the widths come from the file.)
      const double each = (target - c.need) * twipsPerPixel / static_cast<double>(chars);
      if (std::isfinite(each)) spacing = static_cast<int>(std::clamp(std::floor(each), -1e6, 1e6));
    }
    plan[i].RunSpacing.reserve(cells[i].Runs.size());
    for (const LineRun& r : cells[i].Runs) {
      const int condenseLimit = static_cast<int>(std::floor(kMaxCondenseEm * r.Em * twipsPerPixel));
      const int spreadLimit = static_cast<int>(std::floor(kMaxSpreadEm * r.Em * twipsPerPixel));
      plan[i].RunSpacing.push_back(std::clamp(spacing, -condenseLimit, spreadLimit));
    }
  }
  return plan;
}

void TkxRTFTextWriter::PrintLine(const std::vector<LineCell>& cells, const std::vector<CellPlan>& plan,
                                 std::string& tabs, std::string& content) {
  for (const CellPlan& cell : plan)
    if (cell.Tabbed) {
      tabs += "\\tx";
      tabs += std::to_string(cell.Stop);
    }
  for (size_t i = 0; i < cells.size() && i < plan.size(); ++i) {
    for (size_t k = 0; k < cells[i].Runs.size() && k < plan[i].RunSpacing.size(); ++k) {
      const LineRun& r = cells[i].Runs[k];
      content += '{';
      if (k == 0 && plan[i].Tabbed) content += "\\tab";
      content += r.Head;
      if (plan[i].RunSpacing[k] != 0) {
        content += "\\expndtw";
        content += std::to_string(plan[i].RunSpacing[k]);
      }
      content += ' ';
      content += r.Text;
      content += '}';
    }
  }
}

void TkxRTFTextWriter::LineRTF(const std::vector<LineCell>& cells, double left, double right, std::string& tabs,
                               std::string& content) const {
  PrintLine(cells, PlanLine(cells, left, right), tabs, content);
}

std::vector<std::vector<const TkxTextItem*>> TkxRTFTextWriter::SplitStackedPieces(
    const std::vector<std::vector<const TkxTextItem*>>& slots) {
  // Pieces of one slot that stand at different heights are one line only
  // while none of them stands over another: two columns of different line
  // pitch put a line of one column and the next line of the other in one
  // slot, and written as one line the second would land right of the first
  // and the columns would read across each other. The pieces at each height
  // (in the order of their heights) go to the current line unless one of
  // them overlaps a piece already there, which starts the next line.
  std::vector<std::vector<const TkxTextItem*>> lines;
  for (const auto& slot : slots) {
    struct Span {
      double Left, Right;
    };
    std::vector<Span> spans;  // of the current line
    size_t from = 0;
    bool open = false;
    while (from < slot.size()) {
      size_t to = from + 1;
      while (to < slot.size() && slot[to]->Y == slot[from]->Y) ++to;
      std::vector<Span> group;
      for (size_t k = from; k < to; ++k) {
        const TkxTextItem& item = *slot[k];
        const double width = PieceWidth(item, MeasureItem(item).Width);
        group.push_back({item.X, item.X + width});
      }
      bool overlaps = false;
      for (const Span& a : group)
        for (const Span& b : spans)
          overlaps = overlaps || (a.Left < b.Right - kStackSlackPixels && b.Left < a.Right - kStackSlackPixels);
      if (!open || overlaps) {
        lines.emplace_back();
        spans.clear();
        open = true;
      }
      lines.back().insert(lines.back().end(), slot.begin() + static_cast<std::ptrdiff_t>(from),
                          slot.begin() + static_cast<std::ptrdiff_t>(to));
      spans.insert(spans.end(), group.begin(), group.end());
      from = to;
    }
  }
  for (auto& line : lines)
    std::stable_sort(line.begin(), line.end(),
                     [](const TkxTextItem* a, const TkxTextItem* b) { return SortKey(a->X) < SortKey(b->X); });
  return lines;
}

std::string TkxRTFTextWriter::LineOutput(const std::vector<std::unique_ptr<TkxTextItem>>& list) {
  measuredItems_.clear();
  const TkxDoubleRect margins = host_.PageMargins();
  const double leftMargin = margins.Left;
  const double lineRight = host_.PageWidth() - margins.Right;
  const double twipsPerPixel = host_.TwipsPerPixel();

  // Turned text does not belong to a line: it stands where the PDF has it.
  std::string out;
  std::vector<const TkxTextItem*> upright;
  for (const auto& itemPtr : list) {
    if (!itemPtr) continue;
    if (itemPtr->Angle % 360 != 0)
      out += RotatedTextRTF(*itemPtr);
    else
      upright.push_back(itemPtr.get());
  }
  if (upright.empty()) return out;

  // Lines: a piece below the slot of the line before opens the next one.
  std::vector<std::vector<const TkxTextItem*>> lines;
  double slotBottom = 0;
  for (const TkxTextItem* item : upright) {
    if (lines.empty() || item->Y > slotBottom) {
      lines.emplace_back();
      slotBottom = lineHeight_ > 0 ? std::ceil(item->Y / lineHeight_) * lineHeight_ : item->Y;
    }
    lines.back().push_back(item);
  }
  lines = SplitStackedPieces(lines);

  // Where the reader will start the next paragraph, in pixels from the page
  // top. Spacers are measured from here rather than from the previous line
  // alone, so that lines that stand closer in the PDF than a paragraph can
  // (a subscript just below its line) and spacers too small to write are
  // made up by the following spacers instead of piling up into an
  // overflowing page.
  struct PlannedLine {
    int Spacer = 0;  // twips of the spacer paragraph before the line, 0 for none
    std::string Paragraph;
  };
  std::vector<PlannedLine> planned;
  planned.reserve(lines.size());
  double cursor = margins.Top;
  for (size_t li = 0; li < lines.size(); ++li) {
    double lineY = lines[li].front()->Y;
    for (const TkxTextItem* item : lines[li]) lineY = std::min(lineY, item->Y);
    double lineHeight = 0;
    const std::vector<LineCell> cells = LineCells(lines[li], &lineHeight);
    if (cells.empty()) continue;
    std::string tabs, content;
    LineRTF(cells, leftMargin, lineRight, tabs, content);

    PlannedLine plan;
    const int m = Twips(lineY - cursor);
    if (m > kMinSpacerTwips) {
      plan.Spacer = m + kSpacerExtraTwips;
      cursor += plan.Spacer / twipsPerPixel;
    }
    // What is left between where the reader is and where the line starts
    // (a gap too small for a spacer, or a line that starts within the one
    // before: sub- and superscripts, stacked formulas) goes into the line's
    // own height. A reader puts the text at the bottom of a line of exact
    // height, so the text lands where the PDF has it and the lines that
    // follow keep their places; a full-height paragraph for each such line
    // would push the page's end onto a page of its own, and gaps left out
    // would add up into uneven line pitch.
    std::string spacing = "\\sl-0";
    const int rest = Twips(lineY - cursor);
    if (std::abs(rest) > kSpacerExtraTwips) {
      const int exact = std::max({Twips(lineY - cursor + lineHeight), Twips(lineHeight * kMinOverlapShare), 1});
      spacing = "\\sl-" + std::to_string(exact);
      cursor += exact / twipsPerPixel;
    } else {
      cursor += lineHeight;
    }
    // The line may run past the page's right edge by an inch, or as far as
    // its last piece starts.
    double past = 0;
    for (const LineCell& cell : cells) past = std::max(past, cell.X + kMinFramePixels - lineRight);
    const int runPast = std::max(kRunPastEdgeTwips, Twips(past) + kRunPastEdgeTwips);
    plan.Paragraph = "{\\pard " + spacing + "\\ri-" + std::to_string(runPast) + tabs + ParagraphSize(cells) + content;
    planned.push_back(std::move(plan));
  }
  // A line that ends at the paper's foot (a page footer) goes onto a page
  // of its own in the reader when its face is a little taller there than
  // measured: the gaps above it give up what the page lacks, the nearest
  // first and at most half of each, so the page keeps its lines.
  const double pageHeight = host_.PageHeight();
  if (pageHeight > 0) {
    int excess = Twips(cursor - (pageHeight - margins.Bottom - kFootSlackPixels));
    for (size_t i = planned.size(); i-- > 0 && excess > 0;) {
      const int take = std::min(excess, planned[i].Spacer / 2);
      planned[i].Spacer -= take;
      excess -= take;
    }
  }
  for (size_t i = 0; i < planned.size(); ++i) {
    if (planned[i].Spacer > 0) out += "{\\pard \\sl-" + std::to_string(planned[i].Spacer) + "\\par}";
    out += planned[i].Paragraph;
    out += i + 1 == planned.size() ? "\\par }" : "\\par}";
  }
  return out;
}

std::string TkxRTFTextWriter::LineFrames() {
  measuredItems_.clear();
  // Lines: pieces whose tops lie within a small share of their height of
  // each other (a raised or lowered piece gets a frame of its own, at its
  // own place), ordered by X.
  std::vector<TkxTextItem*> items;
  for (auto& item : pageFrames_)
    if (item) items.push_back(item.get());
  std::stable_sort(items.begin(), items.end(),
                   [](const TkxTextItem* a, const TkxTextItem* b) { return SortKey(a->Y) < SortKey(b->Y); });
  // A smaller piece that ends within the line (a subscript, or a line
  // opened by a superscript that the line's text then joins) belongs to it.
  std::vector<std::vector<const TkxTextItem*>> lines;
  double lineY = 0, lineHeight = 0, lineBottom = 0;
  for (const TkxTextItem* item : items) {
    const double height = std::max(std::abs(static_cast<double>(item->Font.Height())), 1.0);
    const bool near = item->Y - lineY <= kSameLineShare * std::max(height, lineHeight);
    const bool within = height < kLoweredShare * lineHeight && item->Y + height <= lineBottom + kSameLineShare * height;
    if (lines.empty() || !(near || within)) {
      lines.emplace_back();
      lineY = item->Y;
      lineHeight = 0;
      lineBottom = item->Y;
    }
    lineHeight = std::max(lineHeight, height);
    lineBottom = std::max(lineBottom, item->Y + height);
    lines.back().push_back(item);
  }

  const double pageWidth = host_.PageWidth();
  std::vector<PlacedLine> placedLines;
  for (size_t li = 0; li < lines.size(); ++li) {
    auto& line = lines[li];
    std::stable_sort(line.begin(), line.end(),
                     [](const TkxTextItem* a, const TkxTextItem* b) { return SortKey(a->X) < SortKey(b->X); });
    // Another column or table cell, a wide gap or a piece that starts back
    // within the one before ends a frame: each column keeps frames of its
    // own and reads on in its own order.
    std::vector<std::vector<const TkxTextItem*>> frames;
    std::vector<double> frameEnds;  // where the reader's face ends each frame's text
    double prevEnd = 0, prevEm = 0, prevOverlap = 0;
    for (const TkxTextItem* item : line) {
      const double em = std::max(std::abs(static_cast<double>(item->Font.Height())), 1.0);
      // A piece may start a little before where the previous one was found
      // to end (a superscript after a word), by a share of the larger em and
      // by as much as that end is uncertain.
      const double overlap = kJoinOverlapEm * std::max(em, prevEm) + prevOverlap;
      // Pieces in one font that continue each other were joined when the
      // page was drawn: the same font again after a gap is another column
      // or cell.
      const bool sameFont = !frames.empty() && item->Font == frames.back().back()->Font;
      const double gap = item->X - prevEnd;
      if (frames.empty() || (sameFont && gap > kFrameGapEm * em) || gap > kWideGapEm * em || gap < -overlap) {
        frames.emplace_back();
        frameEnds.push_back(0);
      }
      frames.back().push_back(item);
      const double measured = MeasureItem(*item).Width;
      const double width = PieceWidth(*item, measured);
      prevEnd = std::max(frames.back().size() == 1 ? 0.0 : prevEnd, item->X + width);
      prevEm = em;
      prevOverlap = (width == measured ? kMeasuredWidthShare : kWidthShare) * width;
      frameEnds.back() = std::max(frameEnds.back(), item->X + width);
    }
    for (size_t f = 0; f < frames.size(); ++f) {
      double height = 0;
      const std::vector<LineCell> cells = LineCells(frames[f], &height);
      if (cells.empty()) continue;
      // The text is condensed where a reader's wider face needs it to end
      // before the next frame of the line or the page's right edge; the
      // frame itself is a good deal wider than the text, so that what a
      // reader draws wider still runs on instead of breaking the line, but
      // not wider than that: readers paint a frame over the rules and boxes
      // beside its text.
      const double left = cells.front().X;
      double room = f + 1 < frames.size() ? frames[f + 1].front()->X : pageWidth;
      // (A piece at or past the page's edge is left as it is, in a frame
      // as wide as the reader makes it.)
      const bool pastEdge = pageWidth - left < kMinFramePixels;
      if (room < left + kMinFramePixels) room = std::numeric_limits<double>::max();
      PlacedLine placed;
      placed.Line = li;
      placed.Top = frames[f].front()->Y;
      for (const TkxTextItem* item : frames[f]) {
        placed.Top = std::min(placed.Top, item->Y);
        placed.FontHeight = std::max(placed.FontHeight, std::abs(item->Font.Height()));
      }
      placed.Left = left;
      if (!pastEdge) {
        const double slack = (frameEnds[f] - left) * kFrameSlack + kMinFramePixels;
        placed.Width = Twips(std::min(pageWidth - left, frameEnds[f] - left + slack));
      }
      placed.Height = height;
      placed.TextEnd = frameEnds[f];
      // A line cut into frames is a table row or a line of columns: only
      // column text (wide frames) reads on down its column; table cells
      // read along their row.
      placed.Joinable = frames.size() == 1 || frameEnds[f] - left >= kColumnFrameEm * placed.FontHeight;
      placed.Right = room;
      placed.Backdrop = frames[f].front()->Backdrop;
      double backdropRight = frames[f].front()->BackdropRight;
      for (const TkxTextItem* item : frames[f]) {
        if (item->Backdrop != placed.Backdrop) placed.Backdrop = clNone;
        backdropRight = std::min(backdropRight, item->BackdropRight);
      }
      // A frame painted in its box's colour ends with the box where its
      // text allows.
      if (placed.Backdrop != clNone && placed.Width >= 0 && backdropRight > frameEnds[f])
        placed.Width = std::min(placed.Width, Twips(backdropRight - left));
      placed.Cells = cells;
      placedLines.push_back(std::move(placed));
    }
  }
  return FrameBlocks(placedLines);
}

std::string TkxRTFTextWriter::FrameBlocks(const std::vector<PlacedLine>& placed) {
  // Lines that follow each other in one column (the same left edge, the
  // same size, a pitch of about a line) share one frame: a frame holds the
  // lines as paragraphs of one exact line height, each further apart than
  // that by space before it. A page then has a frame per column block
  // rather than per line; readers lay out thousands of frames slowly, and
  // read a column's lines in their order.
  struct Block {
    std::vector<size_t> Members;
    double Left = 0, MaxLeft = 0, Right = 0;
    int FontHeight = 0;
    double LastTop = 0;
    double Height = 0;
    size_t LastLine = 0;
  };
  std::vector<Block> blocks;
  std::vector<size_t> owner(placed.size(), 0);  // block of each line
  // A page of many frames is slow for readers to lay out: past a budget,
  // lines cut into frames (table rows) join blocks too.
  auto build = [&](bool rowsJoin) {
    blocks.clear();
    const double twipsPerPixel = host_.TwipsPerPixel();
    auto rightOf = [&](const PlacedLine& p) {
      return p.Width >= 0 ? p.Left + p.Width / twipsPerPixel : std::numeric_limits<double>::infinity();
    };
    // Readers paint a frame over what lies under it: a block may not grow
    // over another frame between its lines [from, to).
    auto clearOfOthers = [&](size_t block, size_t from, size_t to, double left, double right) {
      if (to - from > kMaxOverlapChecks) return false;
      for (size_t q = from; q < to; ++q)
        if (owner[q] != block && placed[q].Left < right && left < rightOf(placed[q])) return false;
      return true;
    };
    for (size_t k = 0; k < placed.size(); ++k) {
      const PlacedLine& p = placed[k];
      size_t joined = blocks.size();
      if (p.Width >= 0 && (p.Joinable || rowsJoin) && std::isfinite(p.Top)) {
        for (size_t bi = 0; bi < blocks.size(); ++bi) {
          const Block& b = blocks[bi];
          const PlacedLine& last = placed[b.Members.back()];
          const double pitch = p.Top - b.LastTop;
          const double height = std::max(b.Height, p.Height);
          const double indent = kBlockIndentEm * std::max(b.FontHeight, p.FontHeight);
          const bool sameSize = std::abs(b.FontHeight - p.FontHeight) <= kBlockSizeShare * b.FontHeight;
          if (!(last.Width >= 0 && (last.Joinable || rowsJoin) && p.Left >= b.Left - indent &&
                p.Left <= b.MaxLeft + indent && sameSize && b.LastLine < p.Line && pitch >= kMinPitchShare * height &&
                pitch <= kMaxPitchShare * height && b.Members.size() < kMaxBlockLines))
            continue;
          const double left = std::min(b.Left, p.Left), right = std::max(b.Right, rightOf(p));
          const bool grows = left < b.Left || right > b.Right;
          if (clearOfOthers(bi, (grows ? b.Members.front() : b.Members.back()) + 1, k, left, right)) joined = bi;
        }
      }
      if (joined == blocks.size()) {
        blocks.emplace_back();
        blocks.back().Left = blocks.back().MaxLeft = p.Left;
        blocks.back().Right = rightOf(p);
        blocks.back().FontHeight = p.FontHeight;
      }
      Block& b = blocks[joined];
      owner[k] = joined;
      b.Left = std::min(b.Left, p.Left);
      b.MaxLeft = std::max(b.MaxLeft, p.Left);
      b.Right = std::max(b.Right, rightOf(p));
      b.Members.push_back(k);
      b.LastTop = p.Top;
      b.Height = std::max(b.Height, p.Height);
      b.LastLine = p.Line;
    }
  };
  build(false);
  if (blocks.size() > kPageFrameBudget) build(true);

  // A line's tab stops count from its block's left edge.
  auto body = [this](const PlacedLine& p, double left) {
    std::string tabs, content;
    LineRTF(p.Cells, left, p.Right, tabs, content);
    return tabs + ParagraphSize(p.Cells) + " " + content;
  };
  // Each block's frame: its width (twips, -1 for none), the width its
  // text needs, and its top and bottom.
  struct Frame {
    int Width = -1;
    double Needed = 0, Top = 0, Bottom = 0;
  };
  const double twipsPerPixel = host_.TwipsPerPixel();
  std::vector<Frame> frames(blocks.size());
  for (size_t bi = 0; bi < blocks.size(); ++bi) {
    const Block& b = blocks[bi];
    Frame& f = frames[bi];
    f.Top = placed[b.Members.front()].Top;
    f.Bottom = f.Top;
    if (b.Members.size() > 1) f.Width = 0;
    for (size_t m : b.Members) {
      const PlacedLine& p = placed[m];
      f.Width = b.Members.size() > 1 ? std::max(f.Width, Twips(p.Left - b.Left) + p.Width) : p.Width;
      f.Needed = std::max(f.Needed, p.TextEnd - b.Left + kMinFramePixels / 4);
      f.Bottom = std::max(f.Bottom, p.Top + p.Height);
    }
  }
  // Readers paint a frame opaque over what lies under it, so the room a
  // frame keeps beyond its text must not reach over the text of a frame to
  // its right that shares some of its height (a heading beside the lines
  // of an address, the next cell of a row of another size): whichever comes
  // later would hide the first letters of the other. The frame still keeps
  // its text and a little more.
  std::vector<size_t> byTop(blocks.size());
  for (size_t i = 0; i < byTop.size(); ++i) byTop[i] = i;
  std::stable_sort(byTop.begin(), byTop.end(), [&](size_t a, size_t c) { return frames[a].Top < frames[c].Top; });
  double tallest = 0;
  for (const Frame& f : frames)
    if (std::isfinite(f.Bottom - f.Top)) tallest = std::max(tallest, f.Bottom - f.Top);
  for (size_t oi = 0; oi < byTop.size(); ++oi) {
    Frame& f = frames[byTop[oi]];
    const double left = blocks[byTop[oi]].Left;
    if (f.Width < 0 || !std::isfinite(f.Top) || !std::isfinite(f.Bottom)) continue;
    double limit = left + f.Width / twipsPerPixel;
    const double textEnd = left + f.Needed - kMinFramePixels / 4;
    // From the first frame that starts less than the tallest frame's height
    // above this one.
    const size_t from =
        static_cast<size_t>(std::partition_point(byTop.begin(), byTop.begin() + static_cast<long>(oi),
                                                 [&](size_t k) { return !(frames[k].Top > f.Top - tallest); }) -
                            byTop.begin());
    for (size_t oj = from, checks = 0; oj < byTop.size() && checks < kMaxNeighbourChecks; ++oj, ++checks) {
      const Frame& g = frames[byTop[oj]];
      if (g.Top >= f.Bottom - kRoundingPixels) break;
      if (oj == oi || g.Bottom <= f.Top + kRoundingPixels) continue;
      // (One that starts within this text overlaps it whatever the width.)
      const double gLeft = blocks[byTop[oj]].Left;
      if (gLeft >= textEnd - kRoundingPixels && gLeft < limit) limit = gLeft;
    }
    f.Width = std::min(f.Width, std::max(Twips(limit - left), Twips(f.Needed)));
  }

  std::string out;
  for (size_t bi = 0; bi < blocks.size(); ++bi) {
    const Block& b = blocks[bi];
    const PlacedLine& first = placed[b.Members.front()];
    const int width = frames[bi].Width;
    if (b.Members.size() == 1) {
      out += "{\\pard\\pvpg\\phpg\\posy" + std::to_string(Twips(first.Top)) + "\\posx" + std::to_string(Twips(b.Left));
      if (width >= 0) out += "\\absw" + std::to_string(width);
      out += "\\overlay" + FrameBackdrop(first.Backdrop) + body(first, b.Left) + "\\par}";
      continue;
    }
    // One exact line height, the smallest step between the lines; larger
    // steps get the difference as space before. A reader puts most of what
    // an exact line height adds to the face's own height above the text
    // (about its ascent's share), so the frame starts that much higher.
    int pitch = std::numeric_limits<int>::max();
    for (size_t m = 1; m < b.Members.size(); ++m)
      pitch = std::min(pitch, Twips(placed[b.Members[m]].Top) - Twips(placed[b.Members[m - 1]].Top));
    const double added = pitch / twipsPerPixel - b.Height;
    const std::string frame = "{\\pard\\pvpg\\phpg\\posy" + std::to_string(Twips(first.Top - kAscentShare * added)) +
                              "\\posx" + std::to_string(Twips(b.Left)) + "\\absw" + std::to_string(width) +
                              "\\overlay\\sl-" + std::to_string(pitch) + "\\slmult0";
    for (size_t m = 0; m < b.Members.size(); ++m) {
      const PlacedLine& p = placed[b.Members[m]];
      out += frame;
      out += FrameBackdrop(p.Backdrop);
      if (m) {
        const int before = Twips(p.Top) - Twips(placed[b.Members[m - 1]].Top) - pitch;
        if (before > 0) out += "\\sb" + std::to_string(before);
      }
      out += body(p, b.Left) + "\\par}";
    }
  }
  return out;
}

std::string TkxRTFTextWriter::FrameBackdrop(TColor color) {
  // A white box needs no words; the paragraph background colour alone is
  // what both LibreOffice and Word paint a frame with (LibreOffice ignores
  // a full shading's pattern colour).
  if (color == clNone || color == clWhite) return {};
  return "\\cbpat" + std::to_string(host_.ColorNumber(color));
}

std::string TkxRTFTextWriter::RotatedTextRTF(const TkxTextItem& item) {
  const std::u16string& line = item.FirstLine();
  const TkxTextSize extent = host_.MeasureText(line, item.Font);
  const double w = extent.Width, h = extent.Height;
  const int angle = ((item.Angle % 360) + 360) % 360;
  const double t = angle * std::numbers::pi / 180.0;
  // The run goes along (ux, uy) from (X, Y), its height across (vx, vy).
  const double ux = std::cos(t), uy = -std::sin(t), vx = std::sin(t), vy = std::cos(t);
  const double xs[] = {item.X, item.X + w * ux, item.X + h * vx, item.X + w * ux + h * vx};
  const double ys[] = {item.Y, item.Y + w * uy, item.Y + h * vy, item.Y + w * uy + h * vy};
  const double boxLeft = *std::min_element(std::begin(xs), std::end(xs));
  const double boxTop = *std::min_element(std::begin(ys), std::end(ys));
  const double boxBottom = *std::max_element(std::begin(ys), std::end(ys));
  const std::string text = Hyperlinks(EncodeRun(line, item.Font.Charset()));
  const std::string runs = CharShading(item.Brush) + FontControls(item.Font);
  if (angle == 90 || angle == 270) {
    // A text box without border, fill or inner margins whose text runs
    // bottom to top (a quarter turn left) or top to bottom: Word and
    // LibreOffice both show it turned and keep it editable. It is given
    // room along the run, so that a wider face does not break it, on the
    // side away from where the text starts.
    const double across = h * 1.3, along = w * 1.3 + h;
    double left, top;
    if (angle == 90) {
      left = item.X;
      top = item.Y - along;
    } else {
      left = item.X - across;
      top = item.Y;
    }
    std::string out = "{\\shp{\\*\\shpinst\\shpleft" + std::to_string(Twips(left)) + "\\shptop" +
                      std::to_string(Twips(top)) + "\\shpright" + std::to_string(Twips(left + across)) + "\\shpbottom" +
                      std::to_string(Twips(top + along)) +
                      "\\shpfhdr0\\shpbxpage\\shpbxignore\\shpbypage\\shpbyignore\\shpwr3\\shpwrk0\\shpfblwtxt0"
                      "{\\sp{\\sn shapeType}{\\sv 202}}{\\sp{\\sn txflTextFlow}{\\sv " +
                      std::string(angle == 90 ? "2" : "1") +
                      "}}{\\sp{\\sn fLine}{\\sv 0}}{\\sp{\\sn fFilled}{\\sv 0}}"
                      "{\\sp{\\sn dxTextLeft}{\\sv 0}}{\\sp{\\sn dxTextRight}{\\sv 0}}"
                      "{\\sp{\\sn dyTextTop}{\\sv 0}}{\\sp{\\sn dyTextBottom}{\\sv 0}}"
                      "{\\shptxt \\pard\\plain\\ql" +
                      runs + " " + text + "\\par}}}";
    return out;
  }
  // Other angles: upright, at the left of the turned text's box, across
  // its middle.
  const double y = (boxTop + boxBottom - h) / 2;
  return "{\\pard\\pvpg\\phpg\\posy" + std::to_string(Twips(y)) + "\\posx" + std::to_string(Twips(boxLeft)) +
         "\\overlay" + runs + " " + text + "\\par}";
}

// ---- Text boxes and paragraphs ------------------------------------------------

std::string TkxRTFTextWriter::TextBoxRTF(const TkxTextBoxItem& item) {
  std::vector<std::string> lines;
  double linesHeight = 0;
  double firstLineHeight = 0;
  for (const std::u16string& line : item.Lines) {
    lines.push_back(Hyperlinks(EncodeRun(line, item.Font.Charset())));
    const double h = host_.MeasureText(line, item.Font).Height;
    if (lines.size() == 1) firstLineHeight = h;
    linesHeight += h;
  }
  std::string text = JoinLines(lines);

  if ((item.VerticalAlignment == 1 || item.VerticalAlignment == 2) && firstLineHeight > 0) {
    double free = item.Height - linesHeight;
    if (item.VerticalAlignment == 1) free /= 2;
    if (free > 0) {
      const int breaks = static_cast<int>(std::min<double>(std::floor(free / firstLineHeight), kMaxAlignmentBreaks));
      std::string prefix;
      for (int i = 0; i < breaks; ++i) prefix += "\\par ";
      text = prefix + text;
    }
  }

  std::string out = "{\\lang1024 ";
  if (NeedsUnicodeHandling(item.Font.Charset())) {
    out += "{\\shp{\\*\\shpinst\\shpleft" + std::to_string(Twips(item.X)) + "\\shptop" + std::to_string(Twips(item.Y)) +
           "\\shpright" + std::to_string(Twips(item.X + item.Width)) + "\\shpbottom" +
           std::to_string(Twips(item.Y + item.Height)) +
           "\\shpfhdr0\\shpbxcolumn\\shpbxignore\\shpbypara\\shpwr3\\shpwrk0\\shpfblwtxt0"
           "{\\sp{\\sn shapeType}{\\sv 1}}{\\sp{\\sn fLayoutInCell}{\\sv 1}}"
           "{\\shptxt \\ltrpar \\pard\\plain{\\pard\\ql" +
           FontControls(item.Font) + " " + text + "\\par}}}\\par}";
    // The outline and fill words belong to drawing objects; the shape group
    // is complete, so only the wrapper is closed.
    out += "}";
  } else {
    out += "{\\*\\do\\dobxpage\\dobypage\\dptxbx\\dptxbxmar" + std::to_string(Twips(item.Frame.StoredPadding().Left)) +
           "\\dpx" + std::to_string(Twips(item.X)) + "\\dpy" + std::to_string(Twips(item.Y)) + "\\dpxsize" +
           std::to_string(Twips(item.Width)) + "\\dpysize" + std::to_string(Twips(item.Height)) +
           "{\\dptxbxtext\\pard" + AlignmentWord(item.TextAlignment) + FontControls(item.Font) + " " + text + "\\par}";
    out += LineStyle(item.Pen);
    out += FillStyle(item.Brush);
    out += "}}";
  }
  return out;
}

void TkxRTFTextWriter::WriteTextBox(TkxTextBoxItem& item) { host_.WriteToBody(TextBoxRTF(item)); }

std::string TkxRTFTextWriter::ParagraphRTF(const TkxParagraphItem& item) {
  std::vector<std::string> lines;
  for (const std::u16string& line : item.Lines) lines.push_back(EncodeWithVariables(line, item.Font.Charset()));
  const std::string text = JoinLines(lines);
  if (text.empty()) return {};

  const TkxTextFormatting& f = item.Formatting;
  const double unit = f.UnitFactor();
  std::string out = "{\\pard";
  out += AlignmentWord(f.Alignment);
  out += "\\fi" + std::to_string(Twips(f.FirstIndent() * unit));
  out += "\\li" + std::to_string(Twips(f.LeftIndent() * unit));
  out += "\\ri" + std::to_string(Twips(f.RightIndent() * unit));
  out += "\\sb" + std::to_string(Twips(f.SpaceBefore() * unit));
  out += "\\sl-" + std::to_string(Twips(host_.MeasureText(u"W", item.Font).Height * f.LineSpacing));
  out += "\\slmult0";
  const TkxParaBorder& border = f.Border;
  if (border.AnySide()) {
    const std::string description = BorderDescription(border);
    const std::string spacing = "\\brsp" + std::to_string(Twips(border.Spacing));
    if (border.DrawLeft) out += "\\brdrl" + description + spacing;
    if (border.DrawRight) out += "\\brdrr" + description + spacing;
    if (border.DrawTop) out += "\\brdrt" + description + spacing;
    if (border.DrawBottom) out += "\\brdrb" + description + spacing;
    if (border.DrawTop || border.DrawBottom) out += "\\brdrbtw" + description + spacing;
  }
  out += CharShading(item.Brush);
  out += FontControls(item.Font);
  out += " " + Hyperlinks(text) + "\\par}";
  return out;
}

void TkxRTFTextWriter::WriteParagraph(TkxParagraphItem& item) {
  const std::string rtf = ParagraphRTF(item);
  if (!rtf.empty()) host_.WriteToBand(rtf);
}

// ---- Bookmarks and tab items --------------------------------------------------

std::string TkxRTFTextWriter::BookmarkRTF(const TkxBookmarkItem& item) const {
  const std::string name = EscapeRTF(item.Name);
  return "{\\*\\bkmkstart " + name + "}\\plain\\pvpg\\phpg\\posy" + std::to_string(Twips(item.Y)) + "\\posx" +
         std::to_string(Twips(item.X)) + "\\absw0\\absh0{\\*\\bkmkend " + name + "}";
}

std::string TkxRTFTextWriter::TabItemRTF(const TkxTabItem& item) {
  std::string out = "{\\pard\\keep\\keepn\\sb" + std::to_string(Twips(item.Y));
  out += "\\sl" + std::to_string(Twips(host_.MeasureText(u"W", host_.EngineFont()).Height * item.LineSpacing));
  out += "\\slmult0";
  out += FontControls(item.Font);
  out += ParagraphShading(host_.EngineBrush());

  std::string body = "\\tqr";
  double last = 0;
  int stops = 0;
  for (int pos : item.TabPositions) {
    if (stops++ >= kMaxTabStops) break;
    body += "\\tx" + std::to_string(Twips(pos));
    last = pos;
  }
  const double step = item.DefaultTabWidth;
  const double limit = host_.PageWidth() - host_.PageMargins().Right;
  if (step > 0 && std::isfinite(step)) {
    for (double pos = last + step; pos <= limit && stops < kMaxTabStops; pos += step, ++stops)
      body += "\\tx" + std::to_string(Twips(pos));
  }
  body += "\r\n";
  for (size_t i = 0; i < item.Cells.size(); ++i) {
    if (i) body += "\\tab ";
    body += EscapeRTF(item.Cells[i]);
  }
  out += Hyperlinks(body);
  out += "\\par}";
  return out;
}

bool TkxRTFTextWriter::WriteOtherItem(TkxDocumentItem& item) {
  if (auto* bookmark = dynamic_cast<TkxBookmarkItem*>(&item)) {
    host_.WriteToBand(BookmarkRTF(*bookmark));
    return true;
  }
  if (auto* tab = dynamic_cast<TkxTabItem*>(&item)) {
    host_.WriteToBand(TabItemRTF(*tab));
    return true;
  }
  return false;
}

}  // namespace pw
