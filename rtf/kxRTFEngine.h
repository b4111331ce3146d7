// The RTF engine (unit kxRTFEng): writes the document items as an RTF file,
// one section per page with the page's size, margins and orientation.
//
// The body is collected in memory while pages are written; EndDoc writes
// the file whole: header, font table and colour table (fonts and colours
// are numbered in order of first use over the whole document), then the
// body. What a piece of RTF goes to depends on the band being written:
// header and underlay content to the header group of the page, footer
// content to its footer group, body and overlay content to the body.
#pragma once

#include <cstdio>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/kxCustomPlainsheetEngine.h"
#include "rtf/kxRTFPictureWriter.h"
#include "rtf/kxRTFPreferences.h"
#include "rtf/kxRTFShapeWriter.h"
#include "rtf/kxRTFTextWriter.h"

namespace pw {

enum TkxRTFEncodingType : int {
  // Every text item as an absolutely positioned frame.
  etPositionalAccuracy = 0,
  // Text as ordinary paragraphs with tab stops, line by line.
  etEaseOfEditing
};

inline constexpr char kMsgRTFFormatNotSupported[] = "The RTF Engine does not support this format";
inline constexpr char kMsgRTFTileNotSupported[] = "The RTF Engine does not support Tile display type";

// The font table entry of font number n (name, character set) under the
// system code page acp.
std::string RTFFontTableEntry(int n, const std::string& name, int charset, int acp);
// The colour table entry of a colour (system colours resolved).
std::string RTFColorTableEntry(TColor color);
// The top-left corner of a background picture of width x height on a page of
// pageWidth x pageHeight pixels (dtTile: the top-left corner of the page).
TkxDoublePoint BackgroundImagePosition(TkxBackgroundDisplayType type, double pageWidth, double pageHeight, double width,
                                       double height);

class TkxRTFEngine : public TkxCustomPlainsheetEngine {
 public:
  // FileExtension "rtf", FileDescription "Rich Text Format", JPEG pictures,
  // output capabilities 63 (text, images, shapes; header, footer and
  // underlay bands written with page 1 only).
  TkxRTFEngine();
  ~TkxRTFEngine() override;

  TkxRTFEncodingType DocumentEncodingType() const { return encodingType_; }
  void SetDocumentEncodingType(TkxRTFEncodingType type) { encodingType_ = type; }
  // Drop repeated text items within a page.
  bool RemoveDuplicates = false;

  TkxRTFPreferences& Preferences() override {
    return static_cast<TkxRTFPreferences&>(TkxCustomPlainsheetEngine::Preferences());
  }
  // dtTile is refused with a message; the previous value stays.
  void SetBackgroundImageDisplayType(TkxBackgroundDisplayType type) override;
  // ifBMP, ifJPEG, ifPNG and ifMetafile.
  bool IsImageFormatSupported(TkxOutputImageFormat format, std::string& message) override;

  // 0-based number of the font (name and character set) in the font table,
  // appending it when new. The name written is the one a reader of the file
  // can be expected to have (PortableFontName).
  int FontNumber(const TFont& font);
  // The family name the file gives a font.
  const std::string& ReaderFontName(const TFont& font);
  // 1-based number of the colour (as given) in the colour table, appending
  // it when new; 0 is the table's "auto" entry.
  int ColorNumber(TColor color);

  // ---- Writer state (between BeginDocOutput and the end of EndDocOutput) ----
  const std::vector<std::pair<std::string, int>>& FontTable() const { return fontTable_; }
  const std::vector<TColor>& ColorTable() const { return colorTable_; }
  // The body written since the last page that went to the temporary file
  // (finished pages move there once the body reaches kBodySpillSize).
  const std::string& BodyStream() const { return body_; }
  static constexpr size_t kBodySpillSize = size_t(256) << 10;
  // A piece of the body this large (a picture, a page's shapes) goes to the
  // temporary file at once, after what the body holds.
  static constexpr size_t kDirectWriteSize = size_t(64) << 10;
  const std::string& HeaderStream() const { return header_; }
  const std::string& FooterStream() const { return footer_; }
  // 1440 / PPI.
  double TwipsPerPixel() const { return twipsPerPixel_; }
  // Half an inch in pixels.
  double DefaultTabWidth() const { return defaultTabWidth_; }
  // Height in pixels of "W" in LineMeasureFont, for line-mode layout.
  double LineHeight() const { return lineHeight_; }
  // A length in pixels as whole twips (halves to even).
  long long Twips(double pixels) const;

 protected:
  std::unique_ptr<TkxPreferences> PreferencesClass() const override;
  // The RTF setup dialog is not part of the converter: accepted at once.
  int ShowDefaultSetupDialog() override { return kModalOK; }

  void BeginDocOutput() override;
  void BeginPageOutput() override;
  void EndPageOutput() override;
  void EndDocOutput() override;
  // Page borders are section properties.
  void WritePageBorder() override {}

  // Pictures: a positioned paragraph holding the picture group.
  void WriteImage(TkxImageItem& item) override;
  void WriteBitmapAt(const TkxBitmap& bitmap, double y, double x) override;
  // Shapes: drawing objects placed on the page (kxRTFShapeWriter), held
  // until the end of the page (or, for flowing lines, until the lines) and
  // then written together in one paragraph, so that each page's shapes stay
  // on that page.
  void WriteLine(TkxShapeItem& item) override;
  void WriteRectangle(TkxShapeItem& item) override;
  void WriteRoundRect(TkxShapeItem& item) override;
  void WriteEllipse(TkxShapeItem& item) override;
  void WritePolygon(const TkxPoints& points, int count, const TBrush* brush, const TPen& pen, bool closed) override;
  // Writes the shapes held so far.
  void FlushShapes();
  void PendShape(std::string&& rtf);

  // The stream of the band being written: header and underlay to the
  // header stream, footer to the footer stream, body and overlay to the body.
  std::string& Out();
  void Write(std::string_view rtf);
  // Text: frames, or tab-stop lines in the body in line mode; page
  // variables become page fields in the header, footer and underlay bands.
  void WriteText(TkxTextItem& item) override;
  void WriteTextList(TkxTextItemList& list) override;
  void SortTextList(TkxTextItemList& list) override;
  void WriteTextBox(TkxTextBoxItem& item) override;
  void WriteParagraph(TkxParagraphItem& item) override;
  void WriteTable(TkxTableItem& item) override;
  void WriteOtherItem(TkxDocumentItem& item) override;

 public:
  std::u16string ReplacePageVariables(const std::u16string& text) override;
  // With Preferences().MetafileAsImage() the whole recording becomes one
  // picture item (an enhanced metafile) instead of items of its records.
  void ProcessPageRecording(const TkxMetafile& metafile, double dy, double dx) override;
  // The recording as a picture shows its pictures too.
  bool RecordingPicturesUsed() override {
    return TkxCustomPlainsheetEngine::RecordingPicturesUsed() || Preferences().MetafileAsImage();
  }

 protected:
  // Border description of PageBorder: style word, width and colour number.
  std::string BorderDescription();

 private:
  void WriteBackgroundImage();
  TkxRTFPictureOptions PictureOptions(const TkxImageSettings& settings) const;
  // What the text writer takes from the engine.
  class TextHost;
  void FreeWriterState();

  TkxRTFEncodingType encodingType_ = etPositionalAccuracy;
  std::unique_ptr<std::ofstream> file_;
  std::ostream* output_ = nullptr;
  std::string body_;
  std::FILE* spill_ = nullptr;  // finished pages, when the body grew large
  size_t spilled_ = 0;
  // Moves what the body holds to the temporary file (made on first use);
  // false when that cannot be done, the body then keeping it.
  bool SpillBody();
  int shapeCount_ = 0;  // pictures written as shapes (their z-order and id)
  std::string header_;
  std::string footer_;
  std::vector<std::pair<std::string, int>> fontTable_;
  std::unordered_map<std::string, std::string> portableNames_;  // by font name and pitch
  std::string portableKey_;                                     // the key being looked up (one buffer)
  // The names asked for last: runs of a line come in a few fonts, and the
  // answers in portableNames_ stay where they are.
  struct RecentReaderName {
    std::string Name;
    int Pitch = 0;
    int Charset = 0;
    const std::string* Answer = nullptr;
  };
  std::vector<RecentReaderName> recentReaderNames_;
  std::vector<TColor> colorTable_;
  double twipsPerPixel_ = 15;
  double defaultTabWidth_ = 48;
  double lineHeight_ = 0;
  std::unique_ptr<TextHost> textHost_;
  std::unique_ptr<TkxRTFTextWriter> textWriter_;
  std::unique_ptr<TkxRTFShapeWriter> shapeWriter_;
  // The page's shapes, each its own piece: a page of thousands is not
  // gathered into one growing string.
  std::vector<std::string> pendingShapes_;
};

}  // namespace pw
