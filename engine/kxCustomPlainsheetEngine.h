// The plain-sheet layer (unit kxCstPlnEng) between the abstract engine and
// the engines that write a page-oriented file: the output file name, the
// preferences class with the hyperlink switch, and a table-of-contents list
// kept while a document is open.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/kxCustomDocumentEngine.h"
#include "engine/kxPreferences.h"

namespace pw {

// One table-of-contents entry. Nothing in the converter reads the two
// position values; they are kept for the writer that wants them.
struct TkxTOCItem {
  std::u16string Title;
  int PageNumber = 0;    // 0 for a link entry
  int ParentIndex = -1;  // -1 for a top-level entry
  int Value1 = 0;
  int Value2 = 0;
  std::string Link;
};

class TkxCustomPlainsheetEngine : public TkxCustomDocumentEngine {
 public:
  TkxCustomPlainsheetEngine();

  // Output file name without extension. Setting it is ignored while a
  // document is open; otherwise the last "." of the file-name part and what
  // follows it are removed.
  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& name);
  // The file a concrete engine writes: FileName + "." + FileExtension.
  std::string OutputFileName() const { return fileName_ + "." + FileExtension(); }

  TkxPlainSheetPreferences& Preferences() override {
    return static_cast<TkxPlainSheetPreferences&>(TkxCustomDocumentEngine::Preferences());
  }

  // Creates the empty table-of-contents list, then opens the document.
  void BeginDoc() override;
  // Ends the document, then frees the table-of-contents list.
  void EndDoc() override;

  // Appends an entry and returns its index; -1 when no document is open,
  // parentIndex is below -1 or not below the number of entries, or
  // pageNumber is not a page of the document.
  virtual int AddTOCEntry(const std::u16string& title, int parentIndex, int value1, int value2, int pageNumber);
  // Appends an entry with a link and no page; -1 as above.
  virtual int AddTOCLink(const std::u16string& title, int parentIndex, const std::string& link);
  // The list while it exists, else nullptr.
  const std::vector<TkxTOCItem>* TOC() const { return toc_.get(); }

 protected:
  std::unique_ptr<TkxPreferences> PreferencesClass() const override;

 private:
  bool ParentOk(int parentIndex) const;

  std::string fileName_;
  std::unique_ptr<std::vector<TkxTOCItem>> toc_;
};

// A file name with the extension of its file-name part removed.
std::string StripExtension(const std::string& name);

}  // namespace pw
