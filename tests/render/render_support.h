// Test helpers for page drawing: a one-page document around a handwritten
// content stream, drawn on a recording canvas at 72 pixels per inch (one
// pixel per point), and the recording read back as text runs and shapes.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/kxEmf.h"

namespace pwtest {

struct TestPage {
  std::string Content;
  // Entries of the page's /Resources dictionary (without << >>). Object 5 is
  // a Helvetica font, object 6 a Times-Roman font.
  std::string Resources = "/Font << /F1 5 0 R /F2 6 0 R >>";
  // Further entries of the page dictionary (/Rotate, /CropBox, ...).
  std::string PageExtra;
  std::string MediaBox = "[0 0 612 792]";
  // Further entries of the catalog (/AcroForm, ...).
  std::string CatalogExtra;
  // Further objects (number, body); numbers from 20 up are free.
  std::vector<std::pair<int, std::string>> Objects;
  // Further stream objects (number, dictionary entries, data).
  struct Stream {
    int Number;
    std::string Dict;
    std::string Data;
  };
  std::vector<Stream> Streams;
};

std::vector<uint8_t> MakePdf(const TestPage& page);

struct RecordedText {
  std::u16string Text;
  pw::TkxEmfPointL Reference;  // top-left of the run, pixels
  int32_t Height = 0;          // lfHeight (negative: em size in pixels)
  int32_t Escapement = 0;      // tenths of a degree
  std::u16string Face;
  int32_t Weight = 0;
  bool Italic = false;
  uint32_t Color = 0;  // COLORREF
  std::vector<int32_t> Dx;
};

// A drawing record with whether it fills (a brush other than the null
// brush) and strokes (a pen other than the null pen).
struct RecordedShape {
  uint32_t Type = 0;
  bool Filled = false;
  bool Stroked = false;
};

struct Recording {
  std::vector<RecordedShape> Shapes;
  std::vector<RecordedText> Texts;
  std::vector<uint32_t> Types;                          // every record type in order
  std::vector<uint32_t> BrushColors;                    // COLORREF of brushes created, in order
  std::vector<uint32_t> PenColors;                      // COLORREF of pens created, in order
  std::vector<std::vector<pw::TkxEmfPointL>> Polygons;  // EMR_POLYGON(16) points
  std::vector<pw::TkxEmfRectL> IntersectRects;          // EMR_INTERSECTCLIPRECT
  pw::TkxMetafile Metafile;
  size_t Count(uint32_t type) const;
  size_t Filled() const;
  size_t Stroked() const;
  std::string JoinedText(const char* sep = "|") const;  // UTF-8
};

Recording ReadRecording(const pw::TkxMetafile& mf);

// Draws page 1 of the document on a canvas of widthPx x heightPx at 72 PPI.
Recording RenderPdf(const std::vector<uint8_t>& pdf, int widthPx = 612, int heightPx = 792, int page = 1);
inline Recording RenderTestPage(const TestPage& page, int widthPx = 612, int heightPx = 792) {
  return RenderPdf(MakePdf(page), widthPx, heightPx);
}
inline Recording RenderContent(const std::string& content) {
  TestPage p;
  p.Content = content;
  return RenderTestPage(p);
}

std::string Utf8(const std::u16string& s);

}  // namespace pwtest
