// The PDF document component: reads a whole PDF file into memory, finds its
// objects through the cross-reference data (rebuilding that data by scanning
// the file when it is damaged), asks for a password when the file is
// encrypted, and builds the page list with the inherited page attributes.
// What a page uses (resources, contents, annotations) is read in when the
// page is first asked for, and deleting a page frees what no remaining page
// or the catalog holds, so that memory stays flat over long documents.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "pdf/kxClasses.h"
#include "pdf/kxPDFCrypt.h"
#include "pdf/kxPDFObjectStore.h"
#include "pdf/kxPDFObjects.h"
#include "pdf/kxPDFStreamReader.h"
#include "pdf/kxPDFTypes.h"

namespace pw {

// Events receive the sending component first; an unassigned event is not called.
using TkxPasswordEvent = std::function<void(TkxComponent* sender, std::string& password, bool& cont, int tries)>;
using TkxStatusMessageEvent = std::function<void(TkxComponent* sender, const std::string& message)>;
using TkxWarningEvent = std::function<void(TkxComponent* sender, const std::string& warning)>;
using TkxProgressEvent = std::function<void(TkxComponent* sender, int percentage)>;
using TkxNotifyEvent = std::function<void(TkxComponent* sender)>;

// Raised when an encrypted file cannot be opened: the password handler gave
// up, or (without a handler) the empty password was not accepted.
inline constexpr const char* kPasswordErrorMessage = "The password is wrong or missing";

class TkxCustomPDFDocument : public TkxComponent {
 public:
  TkxCustomPDFDocument();
  ~TkxCustomPDFDocument() override;
  TkxCustomPDFDocument(const TkxCustomPDFDocument&) = delete;
  TkxCustomPDFDocument& operator=(const TkxCustomPDFDocument&) = delete;

  // ---- loading ----
  // Reads the file (".pdf" is appended to a name without extension) and
  // closes it again. Raises EFileNotFound for a missing file, EPasswordError
  // when no password is accepted, and the reader's or loader's error for a
  // file that cannot be read. Returns IsLoaded().
  bool LoadFromFile(const std::string& fileName);
  // The same from bytes already in memory.
  bool LoadFromMemory(std::vector<uint8_t> data);
  bool LoadFromMemory(const uint8_t* data, size_t size) {
    return LoadFromMemory(std::vector<uint8_t>(data, data + size));
  }
  // Destroys everything loaded; the document is empty with a new DocumentID.
  void ClosePDFDocument();
  // Checks a password against the encryption dictionary of the file being
  // loaded; an accepted password makes the decryptor decrypt what is read next.
  bool Authenticate(const std::string& password);

  // ---- properties ----
  bool IsLoaded() const { return isLoaded_; }
  bool IsEncrypted() const { return isEncrypted_; }
  TkxPDFVersion PDFVersion() const { return pdfVersion_; }
  int PageCount() const { return static_cast<int>(pages_.size()); }
  TkxPageMode PageMode() const { return pageMode_; }
  TkxPageLayout PageLayout() const { return pageLayout_; }
  std::string Filename;
  const std::string& WorkFileName() const { return workFileName_; }
  int32_t DocumentID() const { return documentId_; }
  const TkxPDFEncryptionSettings& Encryption() const { return encryption_; }
  // "RC4 40-bit", "RC4 128-bit", "AES-128", "AES-256" after a password was
  // accepted, "attachments only" when only embedded files are encrypted
  // (opened without a password); empty for a file that is not encrypted.
  std::string EncryptionDescription() const { return encryptionDescription_; }
  // The cross-reference data was rebuilt by scanning the file.
  bool Repaired() const { return repaired_; }

  // ---- pages (numbers are 1-based) ----
  // /Rotate as 0, 90, 180 or 270; raises EInvalidPageError for a bad number.
  int GetPageRotation(int page) const;
  // The page object (its dictionary holds the inherited attributes).
  TkxPDFIndirectObject* GetPage(int page) const;
  TkxPDFDictObject* GetPageDict(int page) const;
  // /MediaBox as llx, lly, urx, ury; US Letter when absent or malformed.
  std::array<double, 4> GetPageMediaBox(int page) const;
  // Deletes the pages named by a range text such as "1,3,5-12"; naming a page
  // twice raises "Invalid page range (%s)". The deleted page objects, and the
  // objects only they held, leave the store (those that can be read from the
  // file again; objects of object streams stay).
  void DeletePages(const std::string& range);
  static std::vector<int> ParsePageRange(const std::string& text, int pageCount);

  // ---- objects ----
  TkxPDFObjectStore& Store() { return store_; }
  const TkxPDFObjectStore& Store() const { return store_; }
  // The catalog dictionary; nullptr when nothing is loaded.
  TkxPDFDictObject* CatalogDict() const;
  const TkxPDFTrailer& Trailer() const { return trailer_; }
  const TkxPDFCatalog& Catalog() const { return catalog_; }
  const TkxPDFInfo& Info() const { return info_; }
  // Follows references through the store (and, while loading, the file).
  TkxPDFObject* Resolve(TkxPDFObject* obj);
  // A copy of obj with every reference replaced by what it names; cycles
  // become null objects. Nesting beyond a fixed depth, or a copy of more than
  // maxObjects objects (shared references multiply), raises ELimitExceeded.
  static constexpr size_t kMaxResolvedObjects = 1000000;
  PDFObjectPtr DeepResolve(const TkxPDFObject* obj, size_t maxObjects = kMaxResolvedObjects);
  // The decoded data of a stream: /Filter and /DecodeParms are resolved and
  // applied; output above 256 MiB raises ELimitExceeded.
  std::vector<uint8_t> DecodeStream(const TkxPDFStreamObject& stream);

  // ---- cross-reference data (kept after loading) ----
  const std::map<int32_t, TkxXRefItem>& XRefList() const { return xref_; }
  const std::map<int32_t, TkxXRefStmItem>& XRefStmList() const { return xrefStm_; }
  // File offset of an in-use object as the cross-reference data gives it; 0 when none.
  int64_t LookupOffset(int32_t objectNumber) const;

  // ---- events ----
  TkxPasswordEvent OnPassword;
  TkxStatusMessageEvent OnStatusMessage;
  TkxProgressEvent OnIOProgress;
  TkxWarningEvent OnWarning;
  TkxNotifyEvent OnBeginRead;
  TkxNotifyEvent OnEndRead;

 protected:
  // Loading steps, in the order LoadFromMemory runs them.
  void ReadDocument();
  void ReadCrossReference(int64_t startOffset);
  void ReadObjectStreams();
  void ReadStructure();
  void RebuildCrossReference();

 private:
  enum class SectionKind { None, Table, Stream };

  bool LoadData();
  // The encryption dictionary leaves strings and streams in clear.
  bool OnlyAttachmentsEncrypted() const;
  void ResetState();
  void Status(const std::string& msg);
  // To OnWarning and to the thread's warning sink (pdf/kxWarnings.h).
  void Warning(const std::string& msg, int32_t object = -1);
  void Progress(int pct);

  // Cross-reference reading.
  int64_t Abs(int64_t rawOffset) const { return rawOffset + offsetShift_; }
  SectionKind SectionAt(int64_t absPos) const;
  void TakeTrailerValues(const TkxPDFDictObject& dict);
  void ApplyTableEntries(int64_t absPos);
  void ApplyStreamEntries(const TkxPDFStreamObject& stream);
  void SetEntry(int32_t num, const TkxXRefItem& item);
  void SetStreamEntry(int32_t num, const TkxXRefStmItem& item);
  bool CrossReferenceLooksRight() const;

  // Object reading.
  bool ObjectHeaderAt(int64_t absPos, int32_t& num, int32_t& gen) const;
  std::unique_ptr<TkxPDFIndirectObject> ReadIndirectObjectAt(int64_t absPos, bool mayStore);
  std::unique_ptr<TkxPDFIndirectObject> ReadObjectByNumber(int32_t num, bool mayStore);
  int64_t StreamLength(TkxPDFObject* lengthObj, bool mayStore);
  int64_t CheckedStreamLength(int64_t afterDict, int64_t declared) const;
  void EnsureScanned();
  // The stored object, or (while loading) the object read from the file:
  // entered into the store once the structure is being read, else handed to
  // *temp (nullptr temp: store only).
  TkxPDFIndirectObject* FetchObject(int32_t num, int32_t gen, std::unique_ptr<TkxPDFIndirectObject>* temp);
  TkxPDFObject* ResolveOnDemand(TkxPDFObject* obj);
  struct ResolveContext;
  PDFObjectPtr DeepResolveImpl(const TkxPDFObject* obj, ResolveContext& ctx, int depth);
  void LoadObject(TkxPDFObject* obj);
  void UnpackObjectStream(int32_t streamNumber, int64_t streamAbsOffset);
  void FindCatalogAfterRepair();

  // Structure.
  void WalkPageTree(TkxPDFObject* rootRef);
  // Reads in the page and everything it uses (once, when the page is first
  // asked for).
  void LoadPage(size_t index);
  // The page dictionary as the page list holds it: /Parent and /B removed,
  // the inherited attributes it lacks copied in.
  void PreparePage(TkxPDFIndirectObject* node, const TkxPDFDictObject* inherited);
  // Whether a freed object can be read from the file again.
  bool Rereadable(int32_t num) const;
  // Lowers the holder counts of what `root` refers to; keys that reach 0 are
  // appended to `unheld`.
  void DropReferences(const TkxPDFObject* root, std::vector<TkxObjectKey>& unheld);
  // Frees the unheld objects that can be read again and are still unheld,
  // and what only they held.
  void FreeUnheld(std::vector<TkxObjectKey>& unheld);
  void ReleasePage(TkxPDFIndirectObject* page, const std::unordered_set<const TkxPDFIndirectObject*>& pages);

  // Contents.
  int32_t documentId_ = 0;
  bool isLoaded_ = false;
  bool isEncrypted_ = false;
  TkxPDFVersion pdfVersion_ = pvPDF14;
  TkxPageMode pageMode_ = pmUseNone;
  TkxPageLayout pageLayout_ = plSinglePage;
  std::string workFileName_;
  TkxPDFEncryptionSettings encryption_;
  std::string encryptionDescription_;
  bool repaired_ = false;

  std::map<int32_t, TkxXRefItem> xref_;
  std::map<int32_t, TkxXRefStmItem> xrefStm_;
  TkxPDFTrailer trailer_;
  TkxPDFCatalog catalog_;
  TkxPDFInfo info_;
  TkxPDFObjectStore store_;
  TkxPDFIndirectObject* catalogObj_ = nullptr;
  // Per page: the page object, nullptr until the page is first asked for.
  std::vector<TkxPDFIndirectObject*> pages_;
  struct PageSlot {
    int32_t ObjectNumber;
    int32_t Generation;
    std::shared_ptr<TkxPDFDictObject> Inherited;  // attributes from the page tree
    bool Loaded;                                  // the page and what it uses were read in
  };
  std::vector<PageSlot> pageSlots_;
  std::unordered_set<int32_t> pageNumbers_;  // object numbers of the pages
  // How many references in read-in objects (pages' own dictionaries among
  // them) hold each object; references to pages do not count.
  std::unordered_map<TkxObjectKey, int32_t, TkxObjectKeyHash> holders_;
  // Objects deleted pages no longer hold, freed when the next page has been
  // read in unless it holds them again.
  std::vector<TkxObjectKey> unheld_;
  std::unordered_set<int32_t> freedOnce_;  // dictionaries and arrays freed before
  std::unordered_set<int32_t> kept_;       // of those, the ones kept when needed again
  static constexpr size_t kMaxKeptObjects = 256;

  // The file, kept while the document is loaded: pages are read in when
  // first asked for, and what only deleted pages used is freed.
  std::vector<uint8_t> data_;
  std::unique_ptr<TkxPDFStreamReader> reader_;
  std::unique_ptr<TkxPDFDecrypt> decryptor_;
  int64_t offsetShift_ = 0;
  bool objectStreamsRead_ = false;
  bool storeAllowed_ = false;  // objects read on demand may enter the store
  bool scanned_ = false;
  bool fallbackWarned_ = false;
  struct ScanEntry {
    int64_t offset;
    int32_t generation;
  };
  std::unordered_map<int32_t, ScanEntry> scanIndex_;
  std::vector<int64_t> scannedTrailers_;                     // offsets of "trailer" keywords
  std::vector<std::pair<int64_t, int32_t>> scannedObjStms_;  // (offset, number) in file order
  std::unordered_set<int32_t> attempted_;                    // object numbers already read by number
};

}  // namespace pw
