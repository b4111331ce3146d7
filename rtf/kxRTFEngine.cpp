#include "rtf/kxRTFEngine.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "platform/kxBitmap.h"
#include "platform/kxFontManager.h"
#include "platform/kxScreen.h"
#include "rtf/kxRTFEncoding.h"
#include "rtf/kxRTFFontNames.h"
#include "rtf/kxRTFTableWriter.h"
#include "rtf/kxRTFTextWriter.h"

namespace pw {

namespace {

std::string Num(long long v) { return std::to_string(v); }

}  // namespace

std::string RTFFontTableEntry(int n, const std::string& name, int charset, int acp) {
  const std::string face = EncodeText(Utf8ToWide(name), ANSI_CHARSET);
  // Family, pitch, PANOSE number and an alternate of the same widths tell a
  // reader without the face what to take instead.
  const TkxFontTableFacts facts = FontTableFacts(name);
  std::string entry = "{\\f" + Num(n) + facts.FamilyWord;
  if (acp != 1252)
    entry += "\\fcharset" + Num(CharsetOfCodePage(acp));
  else if (charset != DEFAULT_CHARSET)
    entry += "\\fcharset" + Num(charset);
  if (facts.Pitch) entry += "\\fprq" + Num(facts.Pitch);
  if (!facts.Panose.empty()) entry += "{\\*\\panose " + facts.Panose + "}";
  entry += " " + face;
  if (!facts.Alternate.empty()) entry += "{\\*\\falt " + facts.Alternate + "}";
  return entry + ";}";
}

std::string RTFColorTableEntry(TColor color) {
  const TColor rgb = ColorToRGB(color);
  return "\\red" + Num(ColorRed(rgb)) + "\\green" + Num(ColorGreen(rgb)) + "\\blue" + Num(ColorBlue(rgb)) + ";";
}

TkxDoublePoint BackgroundImagePosition(TkxBackgroundDisplayType type, double pageWidth, double pageHeight, double width,
                                       double height) {
  const double centerX = (pageWidth - width) / 2, right = pageWidth - width;
  const double centerY = (pageHeight - height) / 2, bottom = pageHeight - height;
  switch (type) {
    case dtTopCenter: return {centerX, 0};
    case dtTopRight: return {right, 0};
    case dtCenterLeft: return {0, centerY};
    case dtCenter: return {centerX, centerY};
    case dtCenterRight: return {right, centerY};
    case dtBottomLeft: return {0, bottom};
    case dtBottomCenter: return {centerX, bottom};
    case dtBottomRight: return {right, bottom};
    default: return {0, 0};
  }
}

class TkxRTFEngine::TextHost : public TkxRTFTextHost {
  static constexpr int kMeasureScale = 3;
  static constexpr int kMaxMeasuredPoints = 1600;

 public:
  explicit TextHost(TkxRTFEngine& engine) : e_(engine) {}
  int FontNumber(const TFont& font) override { return e_.FontNumber(font); }
  int ColorNumber(TColor color) override { return e_.ColorNumber(color); }
  // Text is measured in the face the reader will draw it with.
  // The reader draws it at the whole point size the font words give
  // (not at the font's pixel height, which lies up to half a point off): it
  // is measured at three times that size, a whole number of pixels at 96
  // PPI, and scaled back.
  TkxTextSize MeasureText(std::u16string_view text, const TFont& font) override {
    TFont reader = font;
    reader.SetName(e_.ReaderFontName(font));
    const int points = std::abs(font.Size());
    if (points <= 0 || points > kMaxMeasuredPoints) {
      return e_.MeasureText(text, reader);
    }
    reader.SetSize(points * kMeasureScale);
    const TkxTextSize size = e_.MeasureText(text, reader);
    return {static_cast<int>(std::lround(size.Width / static_cast<double>(kMeasureScale))),
            static_cast<int>(std::lround(size.Height / static_cast<double>(kMeasureScale)))};
  }
  double TwipsPerPixel() const override { return e_.twipsPerPixel_; }
  int CurrentBand() const override { return e_.CurrentBand(); }
  void WriteToBand(std::string_view rtf) override { e_.Write(rtf); }
  void WriteToBody(std::string_view rtf) override { e_.body_.append(rtf); }
  bool RemoveDuplicates() const override { return e_.RemoveDuplicates; }
  bool ActiveHyperLinks() const override { return e_.Preferences().ActiveHyperLinks(); }
  bool CalculateVariables() const override { return e_.Preferences().CalculateVariables(); }
  std::u16string CalculateVariablesIn(const std::u16string& text, bool withPageVariables) override {
    return e_.CalculateVariablesIn(text, withPageVariables);
  }
  std::u16string ReplacePageVariables(const std::u16string& text) override { return e_.ReplacePageVariables(text); }
  const TFont& EngineFont() const override { return e_.Font(); }
  const TBrush& EngineBrush() const override { return e_.Brush(); }
  // The engine's page settings, in pixels.
  TkxDoubleRect PageMargins() const override {
    const TkxPageSettings& p = e_.Page();
    const double f = e_.UnitFactor();
    return {p.LeftMargin() * f, p.TopMargin() * f, p.RightMargin() * f, p.BottomMargin() * f};
  }
  double PageWidth() const override { return e_.Page().Width() * e_.UnitFactor(); }
  double PageHeight() const override { return e_.Page().Height() * e_.UnitFactor(); }

 private:
  TkxRTFEngine& e_;
};

TkxRTFEngine::TkxRTFEngine()
    : textHost_(std::make_unique<TextHost>(*this)), textWriter_(std::make_unique<TkxRTFTextWriter>(*textHost_)) {
  SetFileExtension("rtf");
  SetFileDescription("Rich Text Format");
  ImageSettings().SetOutputImageFormat(ifJPEG);
  SetOutputCapabilities(ocText | ocImages | ocShapes | ocHeaderOnce | ocFooterOnce | ocUnderlayOnce);
  RecreatePreferences();
}

TkxRTFEngine::~TkxRTFEngine() {
  if (spill_) std::fclose(spill_);
}

std::unique_ptr<TkxPreferences> TkxRTFEngine::PreferencesClass() const { return std::make_unique<TkxRTFPreferences>(); }

void TkxRTFEngine::SetBackgroundImageDisplayType(TkxBackgroundDisplayType type) {
  if (type == dtTile) {
    ShowErrorMessageBox(kMsgRTFTileNotSupported);
    return;
  }
  TkxCustomPlainsheetEngine::SetBackgroundImageDisplayType(type);
}

bool TkxRTFEngine::IsImageFormatSupported(TkxOutputImageFormat format, std::string& message) {
  switch (format) {
    case ifBMP:
    case ifJPEG:
    case ifPNG:
    case ifMetafile: message.clear(); return true;
    default: message = kMsgRTFFormatNotSupported; return false;
  }
}

const std::string& TkxRTFEngine::ReaderFontName(const TFont& font) {
  constexpr size_t kRecentNames = 8;
  const int pitch = static_cast<int>(font.Pitch()), charset = static_cast<int>(font.Charset());
  for (const RecentReaderName& r : recentReaderNames_)
    if (r.Pitch == pitch && r.Charset == charset && r.Name == font.Name()) return *r.Answer;
  // Asked once per text run: the key is built in one kept buffer.
  std::string& key = portableKey_;
  char num[24];
  key.assign(font.Name());
  key.push_back('\0');
  key.append(num, std::to_chars(num, num + sizeof num, static_cast<long long>(font.Pitch())).ptr);
  key.push_back('\0');
  key.append(num, std::to_chars(num, num + sizeof num, static_cast<long long>(font.Charset())).ptr);
  auto known = portableNames_.find(key);
  if (known == portableNames_.end())
    known = portableNames_
                .emplace(key, PortableFontName(font.Name(), font.Pitch(), font.Charset(),
                                               [](const std::string& name) {
                                                 return TkxFontManager::Instance().SystemFamily(name);
                                               }))
                .first;
  if (recentReaderNames_.size() == kRecentNames) recentReaderNames_.erase(recentReaderNames_.begin());
  recentReaderNames_.push_back({font.Name(), pitch, charset, &known->second});
  return known->second;
}

int TkxRTFEngine::FontNumber(const TFont& font) {
  const std::string& name = ReaderFontName(font);
  for (size_t i = 0; i < fontTable_.size(); ++i)
    if (fontTable_[i].first == name && fontTable_[i].second == font.Charset()) return static_cast<int>(i);
  fontTable_.emplace_back(name, font.Charset());
  return static_cast<int>(fontTable_.size()) - 1;
}

int TkxRTFEngine::ColorNumber(TColor color) {
  for (size_t i = 0; i < colorTable_.size(); ++i)
    if (colorTable_[i] == color) return static_cast<int>(i) + 1;
  colorTable_.push_back(color);
  return static_cast<int>(colorTable_.size());
}

long long TkxRTFEngine::Twips(double pixels) const {
  const double t = std::nearbyint(pixels * twipsPerPixel_);
  // Hostile sizes stay finite numbers in the file.
  constexpr double kLimit = 1e15;
  if (!std::isfinite(t)) return 0;
  return static_cast<long long>(std::fmax(-kLimit, std::fmin(kLimit, t)));
}

std::string& TkxRTFEngine::Out() {
  switch (CurrentBand()) {
    case bnHeader:
    case bnUnderlay: return header_;
    case bnFooter: return footer_;
    default: return body_;
  }
}

void TkxRTFEngine::BeginDocOutput() {
  defaultTabWidth_ = TkxScreen::PPI() * 0.5;
  lineHeight_ = MeasureText(u"W", LineMeasureFont()).Height;
  textWriter_->BeginDocument(lineHeight_);
  if (Preferences().OutputToUserStream()) {
    output_ = UserStream();
  } else {
    file_ = CreateOutputFile(OutputFileName());
    output_ = file_.get();
  }
  body_.clear();
  // Room for what waits before a spill and a page more, taken once: grown
  // by doubling, the body would pass through twice as much fresh memory.
  body_.reserve(kBodySpillSize + kBodySpillSize / 4);
  fontTable_.clear();
  colorTable_.clear();
  twipsPerPixel_ = 1.0 / UnitFactorOf(muTwips);
  shapeWriter_ = std::make_unique<TkxRTFShapeWriter>(twipsPerPixel_);
  pendingShapes_.clear();

  const TFontCharset charset = Font().Charset();
  const TkxDocInfo& info = DocInfo();
  std::string s = "{\\info";
  if (!info.Title().empty()) s += "{\\title " + EncodeText(info.Title(), charset) + "}";
  if (!info.Subject().empty()) s += "{\\subject " + EncodeText(info.Subject(), charset) + "}";
  s += "{\\author " + EncodeText(info.Author(), charset) + "}{\\keywords " + EncodeText(info.Keywords(), charset) + "}";
  s += "{\\doccomm }";
  const TkxDateTime now = Now();
  s += "{\\creatim\\yr" + Num(now.Year) + "\\mo" + Num(now.Month) + "\\dy" + Num(now.Day) + "\\hr" + Num(now.Hour) +
       "\\min" + Num(now.Minute) + "}}";
  s += "\\viewkind1";
  if (const TkxPageItem* first = PageItem(1)) {
    const TkxPageSettings& p = first->PageSettings;
    s += "\\paperw" + Num(Twips(p.Width())) + "\\paperh" + Num(Twips(p.Height())) + "\\margl" +
         Num(Twips(p.LeftMargin())) + "\\margr" + Num(Twips(p.RightMargin())) + "\\margt" + Num(Twips(p.TopMargin())) +
         "\\margb" + Num(Twips(p.BottomMargin())) + "\\headery" + Num(Twips(p.HeaderHeight())) + "\\footery" +
         Num(Twips(p.FooterHeight()));
  }
  body_ += s;
  header_.clear();
  footer_.clear();
  WriteBackgroundImage();
  SetLineMode(encodingType_ == etEaseOfEditing);
}

void TkxRTFEngine::WriteBackgroundImage() {
  const TPicture& picture = BackgroundImage();
  if (picture.Empty()) return;
  const TkxBitmap bitmap = RenderGraphic(picture);
  if (bitmap.Empty()) return;
  const double pageW = Page().Width() * UnitFactor(), pageH = Page().Height() * UnitFactor();
  const TkxDoublePoint at =
      BackgroundImagePosition(BackgroundImageDisplayType(), pageW, pageH, bitmap.Width(), bitmap.Height());
  // Through the header group, which RTF repeats on every page.
  const int band = CurrentBand();
  SetCurrentBand(bnHeader);
  WriteBitmapAt(bitmap, at.Y, at.X);
  SetCurrentBand(band);
}

std::string TkxRTFEngine::BorderDescription() {
  const TkxBorder& border = PageBorder();
  std::string d;
  switch (border.Style) {
    case psSolid:
    case psInsideFrame: d = "\\brdrs"; break;
    case psDash: d = "\\brdrdash"; break;
    case psDot: d = "\\brdrdot"; break;
    case psDashDot: d = "\\brdrdashd"; break;
    case psDashDotDot: d = "\\brdrdashdd"; break;
    default: break;
  }
  return d + "\\brdrw" + Num(Twips(border.Width)) + "\\brdrcf" + Num(ColorNumber(border.Color));
}

void TkxRTFEngine::BeginPageOutput() {
  textWriter_->BeginPage();
  const TkxPageSettings* page = CurrentPageSettings();
  if (!page) return;
  const TkxPageSettings& p = *page;
  std::string s = " \\sectd";
  if (p.Orientation() == poLandscape) s += "\\lndscpsxn";
  s += "\\pgwsxn" + Num(Twips(p.Width())) + "\\pghsxn" + Num(Twips(p.Height())) + "\\marglsxn" +
       Num(Twips(p.LeftMargin())) + "\\margrsxn" + Num(Twips(p.RightMargin())) + "\\margtsxn" +
       Num(Twips(p.TopMargin())) + "\\margbsxn" + Num(Twips(p.BottomMargin()));
  if (const int bin = Page().BinNumber(); bin != 0) s += "\\binfsxn" + Num(bin) + "\\binsxn" + Num(bin);
  s += "\\headery" + Num(Twips(p.HeaderHeight())) + "\\footery" + Num(Twips(p.FooterHeight())) + "\\sectdefaultcl";
  s += "\\pgbrdrhead\\pgbrdrfoot";
  const std::string border = BorderDescription();
  const TkxBorder& b = PageBorder();
  if (b.DrawLeft) s += "\\pgbrdrl" + border;
  if (b.DrawRight) s += "\\pgbrdrr" + border;
  if (b.DrawTop) s += "\\pgbrdrt" + border;
  if (b.DrawBottom) s += "\\pgbrdrb" + border;
  s += "\r\n{";
  body_ += s;
}

void TkxRTFEngine::EndPageOutput() {
  // Positioned line frames first, the page's shapes after them: readers
  // stack later anchors on top, so rules and boxes stay visible beside
  // and under the text.
  textWriter_->EndPage();
  FlushShapes();
  if (!header_.empty()) {
    body_ += "{\\header " + header_ + "}";
    header_.clear();
  }
  if (!footer_.empty()) {
    body_ += "{\\footer " + footer_ + "}";
    footer_.clear();
  }
  body_ += "}\\sect";
  // Finished pages wait in a temporary file, so that a document full of
  // pictures does not keep them all in memory until the end.
  // The body keeps its room for the next pages unless a large piece
  // stretched it far beyond what they need.
  if (body_.size() >= kBodySpillSize && SpillBody() && body_.capacity() > 4 * kBodySpillSize) body_.shrink_to_fit();
}

bool TkxRTFEngine::SpillBody() {
  if (!spill_) spill_ = std::tmpfile();
  if (!spill_) return false;
  if (body_.empty()) return true;
  // A short write is found at the end, where the file is not the size
  // counted here.
  if (std::fwrite(body_.data(), 1, body_.size(), spill_) != body_.size()) return false;
  spilled_ += body_.size();
  body_.clear();
  return true;
}

void TkxRTFEngine::Write(std::string_view rtf) {
  std::string& out = Out();
  if (&out == &body_) {
    // The body would grow to hold a large piece only to copy it out again.
    if (rtf.size() >= kDirectWriteSize && SpillBody()) {
      std::fwrite(rtf.data(), 1, rtf.size(), spill_);
      spilled_ += rtf.size();
      return;
    }
    // Nor does it grow for many small ones (a page of shapes): what it
    // holds goes out first.
    if (body_.size() + rtf.size() > body_.capacity() && body_.size() >= kBodySpillSize) SpillBody();
  }
  out.append(rtf);
}

void TkxRTFEngine::WriteText(TkxTextItem& item) { textWriter_->WriteText(item); }

void TkxRTFEngine::WriteTextList(TkxTextItemList& list) {
  // Flowing lines come after the shapes' paragraph, which then sits at the
  // page's top; a page of positioned frames has no line list and keeps its
  // shapes for the page's end.
  if (!list.empty()) FlushShapes();
  textWriter_->WriteTextList(list);
}

// ---- Shapes ----

void TkxRTFEngine::WriteLine(TkxShapeItem& item) {
  if (shapeWriter_) PendShape(shapeWriter_->Line(item));
}

void TkxRTFEngine::WriteRectangle(TkxShapeItem& item) {
  if (shapeWriter_) PendShape(shapeWriter_->Rectangle(item));
}

void TkxRTFEngine::WriteRoundRect(TkxShapeItem& item) {
  if (shapeWriter_) PendShape(shapeWriter_->RoundRect(item));
}

void TkxRTFEngine::WriteEllipse(TkxShapeItem& item) {
  if (shapeWriter_) PendShape(shapeWriter_->Ellipse(item));
}

void TkxRTFEngine::WritePolygon(const TkxPoints& points, int count, const TBrush* brush, const TPen& pen, bool closed) {
  if (shapeWriter_) PendShape(shapeWriter_->Polygon(points, count, brush, pen, closed, ShapeLineJoin(), ShapeEndCap()));
}

void TkxRTFEngine::PendShape(std::string&& rtf) {
  if (!rtf.empty()) pendingShapes_.push_back(std::move(rtf));
}

void TkxRTFEngine::FlushShapes() {
  if (pendingShapes_.empty()) return;
  // A paragraph one twip high carries them: it moves what flows after it
  // by no more than that, and the objects are placed on the page whatever
  // holds them. (A positioned frame would take no room at all, but readers
  // lose the frames that follow one holding a freeform shape.)
  Write("{\\pard \\sl-1 ");
  for (const std::string& shape : pendingShapes_) Write(shape);
  Write("\\par}");
  pendingShapes_.clear();
}

void TkxRTFEngine::SortTextList(TkxTextItemList& list) { pw::SortTextList(list); }

void TkxRTFEngine::WriteTextBox(TkxTextBoxItem& item) { textWriter_->WriteTextBox(item); }

void TkxRTFEngine::WriteParagraph(TkxParagraphItem& item) { textWriter_->WriteParagraph(item); }

void TkxRTFEngine::WriteOtherItem(TkxDocumentItem& item) { textWriter_->WriteOtherItem(item); }

void TkxRTFEngine::WriteTable(TkxTableItem& item) {
  auto onCell = [this](int row, int column, TkxRTFTableCell& cell) {
    if (OnCellDraw) OnCellDraw(this, row, column, cell.Pen, cell.Brush, cell.Font, cell.Frame, cell.Alignment);
  };
  auto picture = [this](TkxImageItem& image) -> std::string {
    TkxImageTable& table = ImageTable();
    if (image.ImageIndex < 0 || image.ImageIndex >= static_cast<int>(table.size())) return {};
    const TkxImageTableEntry& entry = table[image.ImageIndex];
    if (!entry.Picture) return {};
    const std::string data = RTFPictureData(*entry.Picture, std::max(1.0, image.Width), std::max(1.0, image.Height),
                                            PictureOptions(image.ImageSettings));
    return data.empty() ? std::string() : "{\\pict" + data + "}";
  };
  TkxRTFTableWriter writer(*textWriter_, *textHost_);
  const std::string rtf = writer.TableRTF(item, onCell, picture);
  if (!rtf.empty()) textHost_->WriteToBand(rtf);
}

std::u16string TkxRTFEngine::ReplacePageVariables(const std::u16string& text) {
  const int band = CurrentBand();
  if (band == bnHeader || band == bnFooter || band == bnUnderlay) return PageVariablesAsFields(text);
  return TkxCustomPlainsheetEngine::ReplacePageVariables(text);
}

void TkxRTFEngine::FreeWriterState() {
  if (file_) file_->close();
  file_.reset();
  output_ = nullptr;
  body_.clear();
  pendingShapes_.clear();
  body_.shrink_to_fit();
  if (spill_) std::fclose(spill_);
  spill_ = nullptr;
  spilled_ = 0;
  header_.clear();
  footer_.clear();
  fontTable_.clear();
  colorTable_.clear();
}

void TkxRTFEngine::EndDocOutput() {
  struct Cleanup {
    TkxRTFEngine& engine;
    ~Cleanup() { engine.FreeWriterState(); }
  } cleanup{*this};
  if (!output_) return;
  std::string head = "{\\rtf1\\ansi\\ansicpg" + Num(kAnsiCodePage) + "\\deff0\\deftab" +
                     Num(Twips(std::nearbyint(defaultTabWidth_))) + "{\\fonttbl";
  for (size_t i = 0; i < fontTable_.size(); ++i)
    head += RTFFontTableEntry(static_cast<int>(i), fontTable_[i].first, fontTable_[i].second, kAnsiCodePage);
  head += "}{\\colortbl;";
  for (TColor c : colorTable_) head += RTFColorTableEntry(c);
  head += "}";
  output_->write(head.data(), static_cast<std::streamsize>(head.size()));
  bool spillOk = true;
  if (spill_) {
    std::rewind(spill_);
    // Not zeroed: every byte written is one fread filled.
    constexpr size_t kChunk = size_t(64) << 10;
    std::unique_ptr<char[]> chunk(new char[kChunk]);
    size_t copied = 0;
    for (size_t n; (n = std::fread(chunk.get(), 1, kChunk, spill_)) > 0; copied += n)
      output_->write(chunk.get(), static_cast<std::streamsize>(n));
    spillOk = copied == spilled_;
  }
  output_->write(body_.data(), static_cast<std::streamsize>(body_.size()));
  output_->put('}');
  output_->flush();
  const bool ok = output_->good() && spillOk;
  if (file_) {
    file_->close();
    if (file_->fail()) throw EFileWriteError();
  }
  if (!ok) throw EFileWriteError();
}

}  // namespace pw

// ---- Pictures -------------------------------------------------------------------

namespace pw {

TkxRTFPictureOptions TkxRTFEngine::PictureOptions(const TkxImageSettings& settings) const {
  TkxRTFPictureOptions o;
  o.Format = settings.OutputImageFormat();
  o.Quality = settings.JPEGQuality();
  o.Binary = const_cast<TkxRTFEngine*>(this)->Preferences().GraphicDataInBinary();
  o.TwipsPerPixel = twipsPerPixel_;
  o.PPI = TkxScreen::PPI();
  o.SourceDPI = settings.SourceDPI;
  return o;
}

void TkxRTFEngine::WriteImage(TkxImageItem& item) {
  TkxImageTable& table = ImageTable();
  if (item.ImageIndex < 0 || item.ImageIndex >= static_cast<int>(table.size())) return;
  const TkxImageTableEntry& entry = table[item.ImageIndex];
  if (!entry.Picture) return;
  if (item.Width < 0) item.Width = 1;
  if (item.Height < 0) item.Height = 1;
  const std::string data = RTFPictureData(*entry.Picture, item.Width, item.Height, PictureOptions(item.ImageSettings));
  if (data.empty()) return;
  if (LineMode()) {
    // Among flowing lines a positioned paragraph would push the text aside:
    // the picture becomes a shape on the page, behind the text, that text
    // does not flow around.
    const long long x = Twips(item.X), y = Twips(item.Y);
    const long long id = 1024 + ++shapeCount_;
    // In pieces: the picture's data is not copied into a string of its own.
    Write("{\\shp{\\*\\shpinst\\shpleft" + Num(x) + "\\shptop" + Num(y) + "\\shpright" +
          Num(x + Twips(item.Bounds.Right - item.Bounds.Left)) + "\\shpbottom" +
          Num(y + Twips(item.Bounds.Bottom - item.Bounds.Top)) +
          "\\shpfhdr0\\shpbxpage\\shpbxignore\\shpbypage\\shpbyignore\\shpwr3\\shpwrk0\\shpfblwtxt1\\shpz" +
          Num(shapeCount_) + "\\shplid" + Num(id) +
          "{\\sp{\\sn shapeType}{\\sv 75}}{\\sp{\\sn fBehindDocument}{\\sv 1}}{\\sp{\\sn pib}{\\sv {\\pict");
    Write(data);
    Write("}}}}}");
    if (!Preferences().UseImagesAsResources()) table[item.ImageIndex].Picture.reset();
    return;
  }
  std::string s = "{\\pard\\pvpg\\phpg\\absw" + Num(Twips(item.Bounds.Right - item.Bounds.Left)) + "\\absh" +
                  Num(Twips(item.Bounds.Bottom - item.Bounds.Top)) + "\\posx" + Num(Twips(item.X)) + "\\posy" +
                  Num(Twips(item.Y)) + "\\overlay";
  if (item.ImageSettings.FrameImage && item.Pen.Style() != psClear) {
    TkxBorder border;
    border.Style = item.Pen.Style();
    border.Width = Pen().Width();
    border.Color = Pen().Color();
    s += textWriter_->BorderDescription(border);
    if (item.Frame.DrawTop) s += "\\brdrt";
    if (item.Frame.DrawRight) s += "\\brdrr";
    if (item.Frame.DrawBottom) s += "\\brdrb";
    if (item.Frame.DrawLeft) s += "\\brdrl";
  }
  s += textWriter_->ParagraphShading(item.Brush);
  s += "{\\pict";
  Write(s);
  Write(data);
  Write("}\\par}");
  // A picture written is a picture no longer needed.
  if (!Preferences().UseImagesAsResources()) table[item.ImageIndex].Picture.reset();
}

void TkxRTFEngine::WriteBitmapAt(const TkxBitmap& bitmap, double y, double x) {
  if (bitmap.Empty()) return;
  const std::string data =
      RTFPictureData(TGraphic(bitmap), bitmap.Width(), bitmap.Height(), PictureOptions(ImageSettings()));
  if (data.empty()) return;
  Write("{\\pard\\pvpg\\phpg\\posx" + Num(Twips(x)) + "\\posy" + Num(Twips(y)) + "\\overlay{\\pict" + data + "}\\par}");
}

void TkxRTFEngine::ProcessPageRecording(const TkxMetafile& metafile, double dy, double dx) {
  if (!Preferences().MetafileAsImage()) {
    TkxCustomPlainsheetEngine::ProcessPageRecording(metafile, dy, dx);
    return;
  }
  if (metafile.Empty() || !CurrentItemList()) return;
  const double x = ToPixelsX(dx) + ReferenceRect().Left, y = ToPixelsY(dy) + ReferenceRect().Top;
  auto item =
      std::make_unique<TkxImageItem>(TkxDoublePoint{x, y}, TkxDoublePoint{x + metafile.Width(), y + metafile.Height()});
  item->ImageSettings = ImageSettings();
  item->ImageSettings.SetOutputImageFormat(ifMetafile);
  TkxImageTableEntry entry;
  entry.Picture = std::make_unique<TGraphic>(metafile);
  ImageTable().push_back(std::move(entry));
  item->ImageIndex = static_cast<int>(ImageTable().size()) - 1;
  CurrentItemList()->push_back(std::move(item));
}

}  // namespace pw
