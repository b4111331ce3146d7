// The document component: its life cycle, loading and the password.
#include "pdf/kxCstPDFDoc.h"

#include <filesystem>
#include <fstream>
#include <mutex>

#include "pdf/kxCstPDFDocInternal.h"
#include "pdf/kxWarnings.h"

namespace pw {

using namespace cstpdfdoc;

namespace {

std::mutex gDocumentCounterLock;
int32_t gDocumentCounter = 0;

// Every reset of a document takes a new identity, so keys of old and new
// contents never meet.
int32_t NextDocumentID() {
  std::lock_guard<std::mutex> lock(gDocumentCounterLock);
  if (gDocumentCounter == INT32_MAX) gDocumentCounter = 0;
  return ++gDocumentCounter;
}

}  // namespace

// ---------------------------------------------------------------------------
// Life cycle

TkxCustomPDFDocument::TkxCustomPDFDocument() { ResetState(); }

TkxCustomPDFDocument::~TkxCustomPDFDocument() = default;

void TkxCustomPDFDocument::ResetState() {
  pages_.clear();
  catalogObj_ = nullptr;
  store_.Clear();
  xref_.clear();
  xrefStm_.clear();
  trailer_.Clear();
  catalog_.Clear();
  info_.Clear();
  encryption_ = TkxPDFEncryptionSettings();
  encryption_.SetLevel(el40bit);
  encryptionDescription_.clear();
  reader_.reset();
  decryptor_.reset();
  data_.clear();
  data_.shrink_to_fit();
  offsetShift_ = 0;
  objectStreamsRead_ = false;
  storeAllowed_ = false;
  scanned_ = false;
  fallbackWarned_ = false;
  scanIndex_.clear();
  scannedTrailers_.clear();
  scannedObjStms_.clear();
  attempted_.clear();
  pageSlots_.clear();
  pageNumbers_.clear();
  holders_.clear();
  unheld_.clear();
  freedOnce_.clear();
  kept_.clear();
  repaired_ = false;
  pdfVersion_ = pvPDF14;
  pageMode_ = pmUseNone;
  pageLayout_ = plSinglePage;
  isLoaded_ = false;
  isEncrypted_ = false;
  workFileName_.clear();
  documentId_ = NextDocumentID();
}

void TkxCustomPDFDocument::ClosePDFDocument() { ResetState(); }

void TkxCustomPDFDocument::Status(const std::string& msg) {
  if (OnStatusMessage) OnStatusMessage(this, msg);
}

void TkxCustomPDFDocument::Warning(const std::string& msg, int32_t object) {
  ReportWarning(msg, object);
  if (OnWarning) OnWarning(this, msg);
}

void TkxCustomPDFDocument::Progress(int pct) {
  if (OnIOProgress) OnIOProgress(this, pct);
}

// ---------------------------------------------------------------------------
// Loading

bool TkxCustomPDFDocument::LoadFromFile(const std::string& fileName) {
  ClosePDFDocument();
  std::string work = fileName;
  if (!std::filesystem::path(fileName).has_extension()) work += ".pdf";
  std::error_code ec;
  if (!std::filesystem::exists(work, ec)) throw EFileNotFound(FormatMsg("%s ", work) + "File Not Found");
  if (Filename.empty()) Filename = work;
  std::vector<uint8_t> bytes;
  {
    std::ifstream in(work, std::ios::binary);
    if (!in || std::filesystem::is_directory(work, ec)) throw Exception(FormatMsg("Cannot read file (%s)", work));
    in.seekg(0, std::ios::end);
    std::streamoff size = in.tellg();
    if (size < 0) throw Exception(FormatMsg("Cannot read file (%s)", work));
    in.seekg(0, std::ios::beg);
    bytes.resize(static_cast<size_t>(size));
    if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size))
      throw Exception(FormatMsg("Cannot read file (%s)", work));
  }
  workFileName_ = work;
  data_ = std::move(bytes);
  return LoadData();
}

bool TkxCustomPDFDocument::LoadFromMemory(std::vector<uint8_t> data) {
  ClosePDFDocument();
  data_ = std::move(data);
  return LoadData();
}

bool TkxCustomPDFDocument::LoadData() {
  auto finish = [this]() {
    // A document that failed to load keeps nothing of the file.
    reader_.reset();
    data_.clear();
    data_.shrink_to_fit();
    scanIndex_.clear();
    scannedTrailers_.clear();
    scannedObjStms_.clear();
    attempted_.clear();
  };
  try {
    ReadDocument();
    if (!isEncrypted_) {
      ReadStructure();
    } else if (OnlyAttachmentsEncrypted()) {
      // Nothing the pages use is encrypted: no password is asked and no
      // decryptor is attached.
      encryptionDescription_ = "attachments only";
      ReadStructure();
    } else if (OnPassword) {
      bool cont = true, accepted = false;
      int tries = 0;
      while (cont && !accepted) {
        std::string password;
        OnPassword(this, password, cont, tries);
        if (cont && Authenticate(password)) {
          accepted = true;
          ReadStructure();
        }
        ++tries;
      }
      // Nothing is ever read with a key that was not accepted.
      if (!accepted) {
        ClosePDFDocument();
        throw EPasswordError(kPasswordErrorMessage);
      }
    } else {
      if (!Authenticate("")) {
        ClosePDFDocument();
        throw EPasswordError(kPasswordErrorMessage);
      }
      ReadStructure();
    }
  } catch (...) {
    finish();
    isLoaded_ = false;
    throw;
  }
  // The file stays in memory: pages are read in when first asked for.
  scannedTrailers_.clear();
  scannedObjStms_.clear();
  return isLoaded_;
}

void TkxCustomPDFDocument::ReadDocument() {
  reader_ = std::make_unique<TkxPDFStreamReader>(data_.data(), data_.size(), documentId_);
  pdfVersion_ = reader_->ReadHeader();

  bool ok = false;
  try {
    ReadCrossReference(reader_->FindStartXRef());
    ok = CrossReferenceLooksRight();
  } catch (const Exception&) {
    ok = false;
  }
  if (!ok) RebuildCrossReference();

  if (IsReference(trailer_.ID.get())) trailer_.ID = DeepResolve(trailer_.ID.get(), kMaxControlObjects);
  TkxPDFObject* enc = trailer_.Encrypt.get();
  isEncrypted_ = enc && !IsNull(enc);
  if (isEncrypted_) trailer_.Encrypt = DeepResolve(enc, kMaxControlObjects);

  // Object streams of an encrypted file wait for the key.
  if (!isEncrypted_) ReadObjectStreams();
  if (repaired_) FindCatalogAfterRepair();
  if (trailer_.RootObjectNumber <= 0) throw EPDFFileCorruptedError(kCorrupted);
  isLoaded_ = true;
}

bool TkxCustomPDFDocument::Authenticate(const std::string& password) {
  if (!reader_ || !isEncrypted_) return false;
  const TkxPDFDictObject* enc = AsDict(trailer_.Encrypt.get());
  if (!enc) throw EPDFException("Invalid encryption dictionary");
  if (!IsIntegral(enc->Lookup("/P"))) throw EInvalidPermission("Invalid permission in encryption dictionary");
  std::string fileId;
  if (const TkxPDFArrayObject* ids = AsArray(trailer_.ID.get()))
    if (const TkxPDFStringObject* first = AsString(ids->Get(0))) fileId = first->GetBytes();

  reader_->Decryptor = nullptr;
  decryptor_ = std::make_unique<TkxPDFDecrypt>();
  decryptor_->Setup(*enc, fileId);
  TkxPDFEncryptionSettings settings;
  if (!decryptor_->CheckPassword(settings, password)) return false;
  encryption_ = settings;
  encryptionDescription_ = decryptor_->HandlerDescription();
  reader_->Decryptor = decryptor_.get();
  return true;
}

bool TkxCustomPDFDocument::OnlyAttachmentsEncrypted() const {
  const TkxPDFDictObject* enc = AsDict(trailer_.Encrypt.get());
  if (!enc) return false;
  TkxPDFDecrypt probe;
  try {
    probe.Setup(*enc, "");
  } catch (const Exception&) {
    return false;
  }
  return probe.NeedsNoKey();
}

}  // namespace pw
