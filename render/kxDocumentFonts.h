// The fonts of a document kept from page to page: a font dictionary that
// several pages name (as almost every document does) is read, its program
// inflated and registered, and its tables built once for the whole document
// instead of once per page. A kept font's program is visible in the font
// manager only while a page that uses it is drawn, as if it were registered
// for that page alone: the text measured after the page (by the metafile
// side) is measured with the fonts a reader of the output has.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "render/kxPDFFontObject.h"

namespace pw {

class TkxTextFont;

class TkxDocumentFonts {
 public:
  TkxDocumentFonts();
  ~TkxDocumentFonts();
  TkxDocumentFonts(const TkxDocumentFonts&) = delete;
  TkxDocumentFonts& operator=(const TkxDocumentFonts&) = delete;

  // Forgets every font when the document is not the one they were loaded
  // from (closed, or another file loaded since).
  void UseFor(int32_t documentId);

  // The font kept for indirect object (number, generation), its program put
  // back in the font manager for the page being drawn; nullptr when none.
  TkxTextFont* Use(int32_t number, uint16_t generation);
  // Keeps font, loaded from object for the page being drawn. object joins
  // the list that later loads share programs with.
  TkxTextFont* Keep(int32_t number, uint16_t generation, std::unique_ptr<TkxTextFont> font,
                    std::unique_ptr<TkxPDFFontObject> object);
  // The page is drawn: the programs its fonts registered are set aside.
  void EndPage();
  // The font objects loaded so far, in load order.
  const TkxPDFFontList& Objects() const { return objects_; }
  void Clear();

 private:
  int32_t documentId_ = 0;
  TkxPDFFontList objects_;
  struct Entry {
    std::unique_ptr<TkxTextFont> font;
    int registration = 0;
  };
  std::map<std::pair<int32_t, uint16_t>, Entry> fonts_;
  std::vector<int> inUse_;  // registrations visible for the page being drawn
};

}  // namespace pw
