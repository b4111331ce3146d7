// Data types of the cross-reference reader and the document: entries of the
// two cross-reference lists, the trailer and catalog values, the document
// information, and the structured key under which stored objects are found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "pdf/kxPDFObjects.h"

namespace pw {

// One in-use entry of a classic cross-reference table.
struct TkxXRefItem {
  int64_t Offset = 0;
  int32_t Generation = 0;
  char Type = 'n';
  int32_t ObjectNumber = 0;
};

// One entry of a cross-reference stream: type 0 free, 1 at a byte offset
// (Field2) with a generation (Field3), 2 compressed in object stream Field2 at
// index Field3.
struct TkxXRefStmItem {
  int32_t Type = 0;
  int64_t Field2 = 0;
  int32_t Field3 = 0;
};

// The trailer values that count; each comes from the newest section having it.
struct TkxPDFTrailer {
  int32_t RootObjectNumber = -1;
  int32_t RootGeneration = 0;
  PDFObjectPtr Encrypt;  // after loading: fully resolved copy (no references)
  PDFObjectPtr Info;     // the /Info reference as written
  PDFObjectPtr ID;       // the /ID array, resolved
  void Clear() {
    RootObjectNumber = -1;
    RootGeneration = 0;
    Encrypt.reset();
    Info.reset();
    ID.reset();
  }
};

struct TkxPDFViewerPreferences {
  bool CenterWindow = false;
  bool DisplayDocTitle = false;
  bool FitWindow = false;
  bool HideMenubar = false;
  bool HideToolbar = false;
  bool HideWindowUI = false;
  // Reads the six flags from a resolved dictionary (absent or non-boolean: false).
  void Assign(const TkxPDFDictObject* dict);
};

// What the document keeps from the catalog (used by authoring features only).
struct TkxPDFCatalog {
  TkxPDFViewerPreferences ViewerPreferences;
  PDFObjectPtr Metadata;  // the /Metadata reference
  PDFObjectPtr AcroForm;
  PDFObjectPtr OpenAction;
  PDFObjectPtr AA;
  PDFObjectPtr Names;
  void Clear() { *this = TkxPDFCatalog(); }
};

enum TkxPageMode { pmUseNone = 0, pmUseOutlines, pmUseThumbs, pmFullScreen, pmUseOC, pmUseAttachments };
enum TkxPageLayout { plSinglePage = 0, plOneColumn, plTwoColumnLeft, plTwoColumnRight, plTwoPageLeft, plTwoPageRight };
TkxPageMode PageModeFromName(std::string_view nameWithSlash);
TkxPageLayout PageLayoutFromName(std::string_view nameWithSlash);

// Document information dictionary values, decoded to UTF-16.
struct TkxPDFInfo {
  std::u16string Title, Author, Subject, Keywords, Creator, Producer, CreationDate, ModDate;
  // Takes the text entries of a dictionary whose values are direct.
  void Assign(const TkxPDFDictObject* dict);
  void Clear() { *this = TkxPDFInfo(); }
};

// Decodes a PDF text string: UTF-16BE with a byte-order mark, otherwise the
// ANSI code page.
std::u16string PDFTextToWide(const TkxPDFStringObject& s);

// Identity of a stored object. Equal numbers always find the same object,
// whatever their decimal lengths.
struct TkxObjectKey {
  int32_t DocumentID = 0;
  int32_t ObjectNumber = 0;
  int32_t Generation = 0;
  bool operator==(const TkxObjectKey&) const = default;
};

struct TkxObjectKeyHash {
  size_t operator()(const TkxObjectKey& k) const noexcept {
    uint64_t h = static_cast<uint32_t>(k.DocumentID);
    h = h * 0x9E3779B97F4A7C15ull ^ static_cast<uint32_t>(k.ObjectNumber);
    h = h * 0x9E3779B97F4A7C15ull ^ static_cast<uint32_t>(k.Generation);
    return static_cast<size_t>(h ^ (h >> 29));
  }
};

}  // namespace pw
