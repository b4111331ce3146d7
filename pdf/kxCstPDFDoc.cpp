#include "pdf/kxCstPDFDoc.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>

#include "pdf/kxFilters.h"
#include "pdf/kxWarnings.h"

namespace pw {

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

constexpr const char* kCorrupted = "File is corrupted";
constexpr const char* kXRefError = "Error reading cross-referenece table";
constexpr const char* kTraversing = "Traversing Pages...";
// Bounds for hostile input: nesting of resolved copies, their total size, the
// number of chained cross-reference sections, hops through references.
constexpr int kMaxResolveDepth = 256;
// Dictionaries that steer decoding and decryption are small.
constexpr size_t kMaxControlObjects = 4096;
constexpr size_t kMaxSections = 100000;
constexpr int kMaxReferenceHops = 32;

constexpr std::string_view kEndStream = "endstream";

bool IsWhite(uint8_t c) { return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32; }
bool IsDigitByte(uint8_t c) { return c >= '0' && c <= '9'; }
bool IsAlphaByte(uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDelimiter(uint8_t c) {
  return IsWhite(c) || c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' ||
         c == '}' || c == '/' || c == '%';
}

const uint8_t* FindBytes(const uint8_t* begin, const uint8_t* end, std::string_view needle) {
  if (begin >= end || static_cast<size_t>(end - begin) < needle.size()) return nullptr;
  const void* hit = memmem(begin, static_cast<size_t>(end - begin), needle.data(), needle.size());
  return static_cast<const uint8_t*>(hit);
}

bool StartsWith(const std::vector<uint8_t>& d, size_t pos, std::string_view s) {
  return pos <= d.size() && d.size() - pos >= s.size() && std::memcmp(d.data() + pos, s.data(), s.size()) == 0;
}

// Unsigned decimal digits at pos (at most maxDigits); false when none.
bool ReadDigits(const std::vector<uint8_t>& d, size_t& pos, int64_t& value, int maxDigits = 18) {
  size_t start = pos;
  value = 0;
  while (pos < d.size() && IsDigitByte(d[pos]) && static_cast<int>(pos - start) < maxDigits) {
    value = value * 10 + (d[pos] - '0');
    ++pos;
  }
  return pos > start && (pos >= d.size() || !IsDigitByte(d[pos]));
}

void SkipWhite(const std::vector<uint8_t>& d, size_t& pos) {
  while (pos < d.size() && IsWhite(d[pos])) ++pos;
}

// A whole token that is a decimal integer with an optional sign.
bool ParseInteger(std::string_view s, int64_t& value) {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  return ec == std::errc() && ptr == s.data() + s.size();
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return std::string(s.substr(b, e - b));
}

bool IsIntegral(const TkxPDFObject* o) { return IsInteger(o) || IsInt64(o); }

}  // namespace

struct TkxCustomPDFDocument::ResolveContext {
  std::vector<int32_t> path;  // object numbers being resolved, to cut cycles
  size_t nodes = 0;
  size_t maxNodes = 0;
};

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

// ---------------------------------------------------------------------------
// Cross-reference data

int64_t TkxCustomPDFDocument::LookupOffset(int32_t objectNumber) const {
  auto it = xref_.find(objectNumber);
  if (it != xref_.end()) return it->second.Offset;
  auto st = xrefStm_.find(objectNumber);
  if (st != xrefStm_.end() && st->second.Type == 1) return st->second.Field2;
  return 0;
}

bool TkxCustomPDFDocument::ObjectHeaderAt(int64_t absPos, int32_t& num, int32_t& gen) const {
  if (absPos < 0 || static_cast<uint64_t>(absPos) >= data_.size()) return false;
  size_t p = static_cast<size_t>(absPos);
  SkipWhite(data_, p);
  int64_t n = 0, g = 0;
  if (!ReadDigits(data_, p, n, 10) || n > INT32_MAX) return false;
  size_t before = p;
  SkipWhite(data_, p);
  if (p == before || !ReadDigits(data_, p, g, 10) || g > INT32_MAX) return false;
  SkipWhite(data_, p);
  if (!StartsWith(data_, p, "obj")) return false;
  num = static_cast<int32_t>(n);
  gen = static_cast<int32_t>(g);
  return true;
}

TkxCustomPDFDocument::SectionKind TkxCustomPDFDocument::SectionAt(int64_t absPos) const {
  if (absPos < 0 || static_cast<uint64_t>(absPos) >= data_.size()) return SectionKind::None;
  size_t p = static_cast<size_t>(absPos);
  SkipWhite(data_, p);
  if (StartsWith(data_, p, "xref")) return SectionKind::Table;
  int32_t n = 0, g = 0;
  if (ObjectHeaderAt(absPos, n, g)) return SectionKind::Stream;
  return SectionKind::None;
}

void TkxCustomPDFDocument::TakeTrailerValues(const TkxPDFDictObject& dict) {
  if (trailer_.RootObjectNumber < 0) {
    if (const TkxPDFIndirectReference* r = AsReference(dict.Lookup("/Root"))) {
      trailer_.RootObjectNumber = r->ObjectNumber;
      trailer_.RootGeneration = r->Generation;
    }
  }
  auto take = [&dict](PDFObjectPtr& slot, const char* key) {
    if (slot) return;
    const TkxPDFObject* v = dict.Lookup(key);
    if (v) slot = v->Clone();
  };
  take(trailer_.ID, "/ID");
  take(trailer_.Encrypt, "/Encrypt");
  take(trailer_.Info, "/Info");
}

void TkxCustomPDFDocument::SetEntry(int32_t num, const TkxXRefItem& item) {
  xref_[num] = item;
  xrefStm_.erase(num);
}

void TkxCustomPDFDocument::SetStreamEntry(int32_t num, const TkxXRefStmItem& item) {
  xrefStm_[num] = item;
  xref_.erase(num);
}

void TkxCustomPDFDocument::ReadCrossReference(int64_t startOffset) {
  // A header behind junk: the offsets may count from the header instead of
  // from the start of the file.
  offsetShift_ = 0;
  if (SectionAt(startOffset) == SectionKind::None) {
    int64_t h = reader_->HeaderOffset();
    if (h > 0 && SectionAt(startOffset + h) != SectionKind::None)
      offsetShift_ = h;
    else
      throw EPDFFileCorruptedError(kCorrupted);
  }

  // Newest section first: its trailer values win. Entries are applied
  // afterwards from the oldest section on, so that newer entries replace
  // older ones.
  struct Section {
    SectionKind kind;
    int64_t pos;
    std::unique_ptr<TkxPDFIndirectObject> stream;     // cross-reference stream
    std::unique_ptr<TkxPDFIndirectObject> hybrid;     // a table's /XRefStm stream
  };
  std::vector<Section> chain;
  std::set<int64_t> seen;
  int64_t pos = Abs(startOffset);
  while (chain.size() < kMaxSections && seen.insert(pos).second) {
    SectionKind kind = SectionAt(pos);
    if (kind == SectionKind::None) break;  // an older section that is not there is skipped
    Section sec{kind, pos, nullptr, nullptr};
    std::unique_ptr<TkxPDFDictObject> tableTrailer;
    const TkxPDFDictObject* dict = nullptr;
    if (kind == SectionKind::Table) {
      Status("Reading Cross-Reference Table");
      reader_->Seek(pos);
      tableTrailer = reader_->ReadTrailer();
      dict = tableTrailer.get();
    } else {
      Status("Reading Cross-Reference Stream Table");
      sec.stream = ReadIndirectObjectAt(pos, false);
      const TkxPDFStreamObject* s = sec.stream ? AsStream(sec.stream->Value.get()) : nullptr;
      if (!s) throw ECrossReferenceError(kXRefError);
      dict = s->Dict.get();
    }
    TakeTrailerValues(*dict);
    if (kind == SectionKind::Table) {
      const TkxPDFObject* x = dict->Lookup("/XRefStm");
      if (IsIntegral(x)) {
        int64_t xpos = Abs(IntValue(x));
        if (SectionAt(xpos) == SectionKind::Stream && seen.insert(xpos).second) {
          sec.hybrid = ReadIndirectObjectAt(xpos, false);
          if (!sec.hybrid || !IsStream(sec.hybrid->Value.get())) throw ECrossReferenceError(kXRefError);
        }
      }
    }
    const TkxPDFObject* prev = dict->Lookup("/Prev");
    chain.push_back(std::move(sec));
    if (!IsIntegral(prev)) break;
    pos = Abs(IntValue(prev));
  }
  if (chain.empty()) throw EPDFFileCorruptedError(kCorrupted);

  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (it->kind == SectionKind::Table) {
      if (it->hybrid) ApplyStreamEntries(*AsStream(it->hybrid->Value.get()));
      ApplyTableEntries(it->pos);
    } else {
      ApplyStreamEntries(*AsStream(it->stream->Value.get()));
    }
  }
  int32_t highest = -1;
  if (!xref_.empty()) highest = std::max(highest, xref_.rbegin()->first);
  if (!xrefStm_.empty()) highest = std::max(highest, xrefStm_.rbegin()->first);
  store_.ObjectNumberCounter = highest == INT32_MAX ? INT32_MAX : highest + 1;
}

void TkxCustomPDFDocument::ApplyTableEntries(int64_t absPos) {
  const std::vector<uint8_t>& d = data_;
  size_t p = static_cast<size_t>(absPos);
  SkipWhite(d, p);
  if (!StartsWith(d, p, "xref")) throw ECrossReferenceError(kXRefError);
  p += 4;
  for (;;) {
    SkipWhite(d, p);
    if (p >= d.size() || !IsDigitByte(d[p])) break;  // "trailer" or the end
    int64_t start = 0, count = 0;
    if (!ReadDigits(d, p, start)) throw ECrossReferenceError(kXRefError);
    SkipWhite(d, p);
    if (!ReadDigits(d, p, count)) throw ECrossReferenceError(kXRefError);
    if (count == 0) break;
    // Every entry takes at least 18 bytes; a count beyond the data is a lie.
    if (count > static_cast<int64_t>((d.size() - p) / 18 + 1)) throw ECrossReferenceError(kXRefError);
    for (int64_t i = 0; i < count; ++i) {
      int64_t offset = 0, gen = 0;
      SkipWhite(d, p);
      if (!ReadDigits(d, p, offset)) throw ECrossReferenceError(kXRefError);
      SkipWhite(d, p);
      // Some writers leave the generation out; it is 0 then.
      if (p < d.size() && d[p] != 'n' && d[p] != 'f' && !ReadDigits(d, p, gen)) throw ECrossReferenceError(kXRefError);
      SkipWhite(d, p);
      if (p >= d.size() || (d[p] != 'n' && d[p] != 'f')) throw ECrossReferenceError(kXRefError);
      char type = static_cast<char>(d[p++]);
      int64_t num = start + i;
      // Free entries leave what an older section said in place.
      if (type == 'n' && num <= INT32_MAX)
        SetEntry(static_cast<int32_t>(num),
                 TkxXRefItem{offset, static_cast<int32_t>(std::min<int64_t>(gen, INT32_MAX)), 'n',
                             static_cast<int32_t>(num)});
    }
  }
}

void TkxCustomPDFDocument::ApplyStreamEntries(const TkxPDFStreamObject& stream) {
  PDFObjectPtr resolved = DeepResolve(stream.Dict.get(), kMaxControlObjects);
  const TkxPDFDictObject* dict = AsDict(resolved.get());
  if (!dict || !stream.HasData) throw ECrossReferenceError(kXRefError);
  const TkxPDFObject* filter = dict->Lookup("/Filter");
  std::vector<uint8_t> decoded;
  if (filter && !IsNull(filter))
    decoded = ApplyDecodeFilters(stream.Data, filter, dict->Lookup("/DecodeParms"));
  else
    decoded = stream.Data;

  const TkxPDFArrayObject* w = AsArray(dict->Lookup("/W"));
  if (!w || w->Count() < 3) throw ECrossReferenceError(kXRefError);
  int widths[3];
  int total = 0;
  for (int i = 0; i < 3; ++i) {
    const TkxPDFObject* v = w->Get(i);
    if (!IsIntegral(v) || IntValue(v) < 0 || IntValue(v) > 8) throw ECrossReferenceError(kXRefError);
    widths[i] = static_cast<int>(IntValue(v));
    total += widths[i];
  }
  if (total == 0) throw ECrossReferenceError(kXRefError);

  std::vector<std::pair<int64_t, int64_t>> ranges;
  if (const TkxPDFArrayObject* index = AsArray(dict->Lookup("/Index"))) {
    for (int i = 0; i + 1 < index->Count(); i += 2)
      ranges.emplace_back(IntValue(index->Get(i), -1), IntValue(index->Get(i + 1), -1));
  } else {
    ranges.emplace_back(0, IntValue(dict->Lookup("/Size"), 0));
  }

  size_t pos = 0;
  auto field = [&decoded, &pos](int width) {
    uint64_t v = 0;
    for (int i = 0; i < width; ++i) v = (v << 8) | decoded[pos++];
    return v;
  };
  for (const auto& [first, count] : ranges) {
    if (count <= 0 || first < 0) return;  // a pair with count 0 ends this stream
    for (int64_t i = 0; i < count; ++i) {
      if (decoded.size() - pos < static_cast<size_t>(total)) return;
      // A type field of width 0 means every entry is in use at an offset.
      uint64_t type = widths[0] ? field(widths[0]) : 1;
      uint64_t f2 = field(widths[1]);
      uint64_t f3 = field(widths[2]);
      int64_t num = first + i;
      if (num > INT32_MAX) return;
      if (type == 1 || type == 2)
        SetStreamEntry(static_cast<int32_t>(num),
                       TkxXRefStmItem{static_cast<int32_t>(type), static_cast<int64_t>(f2 & INT64_MAX),
                                      static_cast<int32_t>(f3 & INT32_MAX)});
    }
  }
}

bool TkxCustomPDFDocument::CrossReferenceLooksRight() const {
  int32_t root = trailer_.RootObjectNumber;
  if (root <= 0) return false;
  auto st = xrefStm_.find(root);
  if (st != xrefStm_.end() && st->second.Type == 2) return true;
  int64_t off = LookupOffset(root);
  int32_t num = 0, gen = 0;
  return off > 0 && ObjectHeaderAt(Abs(off), num, gen) && num == root;
}

// ---------------------------------------------------------------------------
// Rebuilding damaged cross-reference data

void TkxCustomPDFDocument::EnsureScanned() {
  if (scanned_) return;
  scanned_ = true;
  const std::vector<uint8_t>& d = data_;
  const size_t n = d.size();
  for (size_t i = 0; i < n;) {
    const uint8_t c = d[i];
    if (c == 'o' && i + 3 <= n && d[i + 1] == 'b' && d[i + 2] == 'j' && (i + 3 == n || IsDelimiter(d[i + 3]))) {
      // "<num> <gen> obj": walk back over the generation and the number.
      size_t j = i;
      while (j > 0 && IsWhite(d[j - 1])) --j;
      size_t genEnd = j;
      while (j > 0 && IsDigitByte(d[j - 1]) && genEnd - j < 10) --j;
      size_t genStart = j;
      while (j > 0 && IsWhite(d[j - 1])) --j;
      size_t numEnd = j;
      while (j > 0 && IsDigitByte(d[j - 1]) && numEnd - j < 10) --j;
      if (genStart < genEnd && numEnd < genStart && j < numEnd && (j == 0 || IsDelimiter(d[j - 1]))) {
        int64_t num = 0, gen = 0;
        size_t p = j;
        ReadDigits(d, p, num, 10);
        p = genStart;
        ReadDigits(d, p, gen, 10);
        if (num > 0 && num <= INT32_MAX && gen <= INT32_MAX)
          scanIndex_[static_cast<int32_t>(num)] = ScanEntry{static_cast<int64_t>(j), static_cast<int32_t>(gen)};
      }
      i += 3;
      continue;
    }
    if (c == 's' && StartsWith(d, i, "stream") && (i == 0 || !IsAlphaByte(d[i - 1])) && i + 6 < n &&
        (d[i + 6] == '\r' || d[i + 6] == '\n')) {
      // Stream data may hold anything: continue after its "endstream".
      const uint8_t* hit = FindBytes(d.data() + i + 6, d.data() + n, kEndStream);
      if (hit) {
        i = static_cast<size_t>(hit - d.data()) + kEndStream.size();
        continue;
      }
    }
    if (c == 't' && StartsWith(d, i, "trailer") && (i == 0 || !IsAlphaByte(d[i - 1])))
      scannedTrailers_.push_back(static_cast<int64_t>(i));
    ++i;
  }
}

void TkxCustomPDFDocument::RebuildCrossReference() {
  Warning("The cross-reference data is damaged; it was rebuilt by scanning the file");
  repaired_ = true;
  xref_.clear();
  xrefStm_.clear();
  trailer_.Clear();
  offsetShift_ = 0;
  EnsureScanned();
  int32_t highest = -1;
  for (const auto& [num, e] : scanIndex_) {
    xref_[num] = TkxXRefItem{e.offset, e.generation, 'n', num};
    highest = std::max(highest, num);
  }
  store_.ObjectNumberCounter = highest == INT32_MAX ? INT32_MAX : highest + 1;

  // Trailer dictionaries and cross-reference stream dictionaries, newest first.
  std::vector<std::pair<int64_t, std::unique_ptr<TkxPDFDictObject>>> trailers;
  for (int64_t t : scannedTrailers_) {
    try {
      reader_->Seek(t);
      trailers.emplace_back(t, reader_->ReadTrailer());
    } catch (const Exception&) {
    }
  }
  std::vector<std::pair<int64_t, int32_t>> catalogs;
  for (const auto& [num, e] : scanIndex_) {
    // Only the object's opening (up to its stream data) can name its type.
    const uint8_t* begin = data_.data() + e.offset;
    const uint8_t* end = data_.data() + std::min<size_t>(data_.size(), static_cast<size_t>(e.offset) + 4096);
    if (const uint8_t* s = FindBytes(begin, end, "stream")) end = s;
    if (const uint8_t* s = FindBytes(begin, end, "endobj")) end = s;
    bool xrefStream = false, objStm = false, catalog = false;
    for (const uint8_t* p = begin; (p = FindBytes(p, end, "/XRef")) != nullptr; p += 5)
      if (p + 5 >= end || IsDelimiter(p[5])) xrefStream = true;
    objStm = FindBytes(begin, end, "/ObjStm") != nullptr;
    catalog = FindBytes(begin, end, "/Catalog") != nullptr;
    if (!xrefStream && !objStm && !catalog) continue;
    PDFObjectPtr parsed;
    try {
      reader_->Seek(e.offset);
      parsed = reader_->ParseObject();
    } catch (const Exception&) {
      continue;
    }
    TkxPDFIndirectObject* ind = AsIndirect(parsed.get());
    if (!ind) continue;
    TkxPDFDictObject* dict = AsDict(ind->Value.get());
    if (TkxPDFStreamObject* s = AsStream(ind->Value.get())) dict = s->Dict.get();
    if (!dict) continue;
    std::string type = NameValue(dict->Lookup("/Type"));
    if (type == "XRef" && IsStream(ind->Value.get()))
      trailers.emplace_back(e.offset, std::unique_ptr<TkxPDFDictObject>(
                                          static_cast<TkxPDFDictObject*>(dict->Clone().release())));
    else if (type == "ObjStm" && IsStream(ind->Value.get()))
      scannedObjStms_.emplace_back(e.offset, num);
    else if (type == "Catalog")
      catalogs.emplace_back(e.offset, num);
  }
  std::sort(trailers.begin(), trailers.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  for (const auto& t : trailers) TakeTrailerValues(*t.second);
  std::sort(scannedObjStms_.begin(), scannedObjStms_.end());
  if (trailer_.RootObjectNumber <= 0 && !catalogs.empty()) {
    auto last = std::max_element(catalogs.begin(), catalogs.end());
    trailer_.RootObjectNumber = last->second;
    trailer_.RootGeneration = scanIndex_[last->second].generation;
  }
}

void TkxCustomPDFDocument::FindCatalogAfterRepair() {
  int32_t root = trailer_.RootObjectNumber;
  if (root > 0 && (xref_.count(root) || store_.IndexOfObject(documentId_, root, 0) >= 0)) return;
  if (!objectStreamsRead_) return;  // an encrypted file must name its catalog
  for (int i = store_.Count() - 1; i >= 0; --i) {
    TkxPDFIndirectObject* o = store_.Get(i);
    if (NameValue(AsDict(o->Value.get()) ? AsDict(o->Value.get())->Lookup("/Type") : nullptr) == "Catalog") {
      trailer_.RootObjectNumber = o->ObjectNumber;
      trailer_.RootGeneration = o->Generation;
      return;
    }
  }
}

// ---------------------------------------------------------------------------
// Objects

int64_t TkxCustomPDFDocument::CheckedStreamLength(int64_t afterDict, int64_t declared) const {
  const std::vector<uint8_t>& d = data_;
  size_t p = static_cast<size_t>(std::max<int64_t>(afterDict, 0));
  SkipWhite(d, p);
  if (!StartsWith(d, p, "stream")) return declared;
  p += 6;
  while (p < d.size() && (d[p] == ' ' || d[p] == '\t')) ++p;
  if (p < d.size() && d[p] == 13) ++p;
  if (p < d.size() && d[p] == 10) ++p;
  const size_t start = p;
  if (declared >= 0 && static_cast<uint64_t>(declared) <= d.size() - start) {
    size_t q = start + static_cast<size_t>(declared);
    SkipWhite(d, q);
    // "endobj" right after the data: only the "endstream" keyword is missing.
    if (StartsWith(d, q, kEndStream) || StartsWith(d, q, "endobj")) return declared;
  }
  // The declared length is wrong or missing: the data ends before the first
  // "endstream", without the end of line that precedes the keyword.
  const uint8_t* hit = FindBytes(d.data() + start, d.data() + d.size(), kEndStream);
  if (!hit) return declared;
  size_t len = static_cast<size_t>(hit - (d.data() + start));
  if (len > 0 && d[start + len - 1] == '\n') --len;
  if (len > 0 && d[start + len - 1] == '\r') --len;
  return static_cast<int64_t>(len);
}

int64_t TkxCustomPDFDocument::StreamLength(TkxPDFObject* lengthObj, bool mayStore) {
  if (IsIntegral(lengthObj)) return IntValue(lengthObj);
  const TkxPDFIndirectReference* r = AsReference(lengthObj);
  if (!r) return -1;
  if (TkxPDFIndirectObject* stored = store_.Find(*r))
    return IsIntegral(stored->Value.get()) ? IntValue(stored->Value.get()) : -1;
  // Read the length object alone: it must not pull in further streams.
  int64_t off = LookupOffset(r->ObjectNumber);
  int64_t abs = off > 0 ? Abs(off) : 0;
  int32_t num = 0, gen = 0;
  if (!(abs > 0 && ObjectHeaderAt(abs, num, gen) && num == r->ObjectNumber)) {
    if (!scanned_) return -1;
    auto it = scanIndex_.find(r->ObjectNumber);
    if (it == scanIndex_.end()) return -1;
    abs = it->second.offset;
  }
  reader_->Seek(abs);
  PDFObjectPtr parsed = reader_->ParseObject();
  TkxPDFIndirectObject* ind = AsIndirect(parsed.get());
  if (!ind || !IsIntegral(ind->Value.get())) return -1;
  int64_t value = IntValue(ind->Value.get());
  if (mayStore && ind->ObjectNumber == r->ObjectNumber && attempted_.insert(ind->ObjectNumber).second) {
    parsed.release();
    store_.Add(std::unique_ptr<TkxPDFIndirectObject>(ind));
    store_.SetLoaded(store_.Count() - 1);
  }
  return value;
}

std::unique_ptr<TkxPDFIndirectObject> TkxCustomPDFDocument::ReadIndirectObjectAt(int64_t absPos, bool mayStore) {
  if (absPos <= 0 || static_cast<uint64_t>(absPos) >= data_.size()) return nullptr;
  reader_->Seek(absPos);
  PDFObjectPtr parsed = reader_->ParseObject();
  if (!IsIndirect(parsed.get())) throw Exception("Invalid class typecast");
  std::unique_ptr<TkxPDFIndirectObject> ind(static_cast<TkxPDFIndirectObject*>(parsed.release()));
  TkxPDFStreamObject* stream = AsStream(ind->Value.get());
  if (!stream) return ind;

  const int64_t afterDict = reader_->Position();
  const int64_t declared = StreamLength(stream->Dict->Lookup("/Length"), mayStore);
  const int64_t length = CheckedStreamLength(afterDict, declared);
  // Cross-reference streams are never encrypted, and metadata only when the
  // handler says so.
  const std::string type = NameValue(stream->Dict->Lookup("/Type"));
  TkxPDFDecrypt* const decryptor = reader_->Decryptor;
  if (type == "XRef" || (type == "Metadata" && decryptor && !decryptor->EncryptMetadata()))
    reader_->Decryptor = nullptr;
  reader_->Seek(afterDict);
  try {
    stream->SetData(reader_->ReadStreamData(length, ind->ObjectNumber, ind->Generation));
  } catch (const ELimitExceeded&) {
    reader_->Decryptor = decryptor;
    throw;
  } catch (const Exception& e) {
    // No "endstream" anywhere after it: the stream stays without data.
    Warning(e.what(), ind->ObjectNumber);
  }
  reader_->Decryptor = decryptor;
  return ind;
}

std::unique_ptr<TkxPDFIndirectObject> TkxCustomPDFDocument::ReadObjectByNumber(int32_t num, bool mayStore) {
  if (num <= 0) return nullptr;
  auto st = xrefStm_.find(num);
  if (st != xrefStm_.end() && st->second.Type == 2) return nullptr;  // comes from its object stream
  const int64_t off = LookupOffset(num);
  const int64_t abs = off > 0 ? Abs(off) : 0;
  int32_t n = 0, g = 0;
  if (abs > 0 && ObjectHeaderAt(abs, n, g) && n == num) return ReadIndirectObjectAt(abs, mayStore);
  // The cross-reference data does not lead to the object: look where the
  // file defines it.
  EnsureScanned();
  auto it = scanIndex_.find(num);
  if (it == scanIndex_.end() || it->second.offset == abs) return nullptr;
  if (off > 0 && !fallbackWarned_) {
    fallbackWarned_ = true;
    Warning(FormatMsg("Object %d is not where the cross-reference data says; found by scanning the file", num));
  }
  return ReadIndirectObjectAt(it->second.offset, mayStore);
}

TkxPDFIndirectObject* TkxCustomPDFDocument::FetchObject(int32_t num, int32_t gen,
                                                        std::unique_ptr<TkxPDFIndirectObject>* temp) {
  if (TkxPDFIndirectObject* stored = store_.Find(documentId_, num, gen)) return stored;
  if (!reader_) return nullptr;
  if (storeAllowed_) {
    if (!attempted_.insert(num).second) return nullptr;
    std::unique_ptr<TkxPDFIndirectObject> fresh = ReadObjectByNumber(num, true);
    if (!fresh) return nullptr;
    fresh->AddRef();
    return store_.Add(std::move(fresh));
  }
  if (!temp) return nullptr;
  *temp = ReadObjectByNumber(num, false);
  return temp->get();
}

TkxPDFObject* TkxCustomPDFDocument::ResolveOnDemand(TkxPDFObject* obj) {
  for (int hop = 0; obj && hop <= kMaxReferenceHops; ++hop) {
    if (const TkxPDFIndirectReference* r = AsReference(obj)) {
      TkxPDFIndirectObject* target = FetchObject(r->ObjectNumber, r->Generation, nullptr);
      if (!target) return nullptr;
      obj = target->Value.get();
    } else if (TkxPDFIndirectObject* ind = AsIndirect(obj)) {
      obj = ind->Value.get();
    } else {
      return obj;
    }
  }
  return nullptr;
}

TkxPDFObject* TkxCustomPDFDocument::Resolve(TkxPDFObject* obj) { return ResolveOnDemand(obj); }

PDFObjectPtr TkxCustomPDFDocument::DeepResolve(const TkxPDFObject* obj, size_t maxObjects) {
  ResolveContext ctx;
  ctx.maxNodes = maxObjects;
  return DeepResolveImpl(obj, ctx, 0);
}

PDFObjectPtr TkxCustomPDFDocument::DeepResolveImpl(const TkxPDFObject* obj, ResolveContext& ctx, int depth) {
  if (!obj) return nullptr;
  if (depth > kMaxResolveDepth) throw ELimitExceeded("Objects are nested too deeply");
  if (++ctx.nodes > ctx.maxNodes) throw ELimitExceeded("Resolved object is too large");
  switch (obj->Kind) {
    case okArray: {
      auto out = std::make_unique<TkxPDFArrayObject>();
      for (const PDFObjectPtr& item : static_cast<const TkxPDFArrayObject*>(obj)->Items)
        out->Add(item ? DeepResolveImpl(item.get(), ctx, depth + 1) : std::make_unique<TkxPDFNullObject>());
      return out;
    }
    case okDict: {
      const auto* d = static_cast<const TkxPDFDictObject*>(obj);
      auto out = std::make_unique<TkxPDFDictObject>();
      for (int i = 0; i < d->Count(); ++i) {
        const TkxPDFObject* v = d->ValueAt(i);
        out->Add(std::make_unique<TkxPDFNameObject>(d->KeyAt(i)->Text),
                 v ? DeepResolveImpl(v, ctx, depth + 1) : std::make_unique<TkxPDFNullObject>());
      }
      return out;
    }
    case okStream: {
      const auto* s = static_cast<const TkxPDFStreamObject*>(obj);
      PDFObjectPtr dict = DeepResolveImpl(s->Dict.get(), ctx, depth + 1);
      std::unique_ptr<TkxPDFDictObject> d(static_cast<TkxPDFDictObject*>(dict.release()));
      if (!d) d = std::make_unique<TkxPDFDictObject>();
      if (!s->HasData) return std::make_unique<TkxPDFStreamObject>(std::move(d));
      return std::make_unique<TkxPDFStreamObject>(std::move(d), s->Data);
    }
    case okIndirectObject:
      return DeepResolveImpl(static_cast<const TkxPDFIndirectObject*>(obj)->Value.get(), ctx, depth + 1);
    case okIndirectReference: {
      const auto* r = static_cast<const TkxPDFIndirectReference*>(obj);
      if (std::find(ctx.path.begin(), ctx.path.end(), r->ObjectNumber) != ctx.path.end())
        return std::make_unique<TkxPDFNullObject>();
      std::unique_ptr<TkxPDFIndirectObject> temp;
      TkxPDFIndirectObject* target = FetchObject(r->ObjectNumber, r->Generation, &temp);
      if (!target || !target->Value) return std::make_unique<TkxPDFNullObject>();
      ctx.path.push_back(r->ObjectNumber);
      PDFObjectPtr out = DeepResolveImpl(target->Value.get(), ctx, depth + 1);
      ctx.path.pop_back();
      return out;
    }
    default:
      return obj->Clone();
  }
}

void TkxCustomPDFDocument::LoadObject(TkxPDFObject* root) {
  // An explicit work list: long chains of references must not use the stack.
  std::vector<TkxPDFObject*> work{root};
  while (!work.empty()) {
    TkxPDFObject* o = work.back();
    work.pop_back();
    if (!o) continue;
    switch (o->Kind) {
      case okArray:
        for (const PDFObjectPtr& item : static_cast<TkxPDFArrayObject*>(o)->Items) {
          if (IsStream(item.get()))
            Warning("Stream Object found inside Array!");
          else if (IsArray(item.get()) || IsDict(item.get()) || IsReference(item.get()))
            work.push_back(item.get());
        }
        break;
      case okDict:
        for (const PDFObjectPtr& v : static_cast<TkxPDFDictObject*>(o)->Values)
          if (IsArray(v.get()) || IsDict(v.get()) || IsReference(v.get()) || IsStream(v.get())) work.push_back(v.get());
        break;
      case okStream:
        work.push_back(static_cast<TkxPDFStreamObject*>(o)->Dict.get());
        break;
      case okIndirectObject:
        work.push_back(static_cast<TkxPDFIndirectObject*>(o)->Value.get());
        break;
      case okIndirectReference: {
        const auto* r = static_cast<TkxPDFIndirectReference*>(o);
        const int32_t num = r->ObjectNumber;
        if (num <= 0) {
          Warning(FormatMsg("Invalid Object number in PDF (%d)", num));
          break;
        }
        // What holds the object (pages are held by the page list alone).
        if (!pageNumbers_.count(num)) ++holders_[TkxObjectKey{documentId_, num, r->Generation}];
        int idx = store_.IndexOfObject(documentId_, num, r->Generation);
        if (idx >= 0) {
          TkxPDFIndirectObject* stored = store_.Get(idx);
          stored->AddRef();
          if (!store_.IsLoaded(idx)) {
            store_.SetLoaded(idx);
            work.push_back(stored->Value.get());
          }
          break;
        }
        if (r->Generation != 0 && store_.IndexOfObject(documentId_, num, 0) >= 0) break;
        if (!reader_ || !attempted_.insert(num).second) break;
        std::unique_ptr<TkxPDFIndirectObject> fresh;
        try {
          fresh = ReadObjectByNumber(num, true);
        } catch (const ELimitExceeded&) {
          throw;
        } catch (const Exception& e) {
          // One unreadable object does not cost the whole document.
          Warning(FormatMsg("Object %s cannot be read: %s", {std::to_string(num), e.what()}), num);
          break;
        }
        if (!fresh) break;
        fresh->AddRef();
        TkxPDFIndirectObject* added = store_.Add(std::move(fresh));
        store_.SetLoaded(store_.Count() - 1);
        work.push_back(added->Value.get());
        break;
      }
      default:
        break;
    }
  }
}

std::vector<uint8_t> TkxCustomPDFDocument::DecodeStream(const TkxPDFStreamObject& stream) {
  if (!stream.HasData) return {};
  PDFObjectPtr filter = DeepResolve(stream.Dict->Lookup("/Filter"), kMaxControlObjects);
  if (!filter || IsNull(filter.get())) return stream.Data;
  PDFObjectPtr parms = DeepResolve(stream.Dict->Lookup("/DecodeParms"), kMaxControlObjects);
  return ApplyDecodeFilters(stream.Data, filter.get(), parms.get());
}

// ---------------------------------------------------------------------------
// Object streams

void TkxCustomPDFDocument::ReadObjectStreams() {
  if (objectStreamsRead_) return;
  objectStreamsRead_ = true;
  if (repaired_) {
    // Newest first: the last definition of an object wins.
    for (auto it = scannedObjStms_.rbegin(); it != scannedObjStms_.rend(); ++it)
      UnpackObjectStream(it->second, it->first);
    return;
  }
  std::set<int32_t> streams;
  for (const auto& [num, item] : xrefStm_)
    if (item.Type == 2 && item.Field2 > 0 && item.Field2 <= INT32_MAX) streams.insert(static_cast<int32_t>(item.Field2));
  for (int32_t k : streams) UnpackObjectStream(k, 0);
}

void TkxCustomPDFDocument::UnpackObjectStream(int32_t streamNumber, int64_t streamAbsOffset) {
  std::unique_ptr<TkxPDFIndirectObject> holder;
  std::vector<uint8_t> decoded;
  int64_t count = 0, first = 0;
  try {
    holder = streamAbsOffset > 0 ? ReadIndirectObjectAt(streamAbsOffset, false)
                                 : ReadObjectByNumber(streamNumber, false);
    TkxPDFStreamObject* stream = holder ? AsStream(holder->Value.get()) : nullptr;
    if (!stream || !stream->HasData || NameValue(stream->Dict->Lookup("/Type")) != "ObjStm") return;
    // Whatever its filters: none, LZW, Flate or a chain.
    decoded = DecodeStream(*stream);
    PDFObjectPtr n = DeepResolve(stream->Dict->Lookup("/N"), kMaxControlObjects);
    PDFObjectPtr f = DeepResolve(stream->Dict->Lookup("/First"), kMaxControlObjects);
    count = IntValue(n.get(), -1);
    first = IntValue(f.get(), -1);
  } catch (const ELimitExceeded&) {
    throw;
  } catch (const Exception& e) {
    Warning(FormatMsg("Object stream %s cannot be read: %s", {std::to_string(streamNumber), e.what()}), streamNumber);
    return;
  }
  if (count < 0 || first < 0 || static_cast<uint64_t>(first) > decoded.size()) return;

  // The objects inside were decrypted with the stream's data.
  TkxPDFStreamReader sub(decoded.data(), decoded.size(), documentId_);
  int64_t pairPos = 0;
  for (int64_t i = 0; i < count; ++i) {
    int64_t num = 0, rel = 0;
    sub.Seek(pairPos);
    sub.SkipWhitespace();
    if (!ParseInteger(sub.ReadToken(), num) || !ParseInteger(sub.ReadToken(), rel)) break;
    pairPos = sub.Position();
    if (num <= 0 || num > INT32_MAX || rel < 0 || static_cast<uint64_t>(first + rel) >= decoded.size()) continue;
    const int32_t m = static_cast<int32_t>(num);
    if (store_.IndexOfObject(documentId_, m, 0) >= 0) continue;
    if (repaired_) {
      // A direct definition later in the file replaces this one.
      auto direct = xref_.find(m);
      if (direct != xref_.end() && direct->second.Offset > streamAbsOffset) continue;
    } else {
      auto entry = xrefStm_.find(m);
      if (entry == xrefStm_.end() || entry->second.Type != 2 || entry->second.Field2 != streamNumber) continue;
    }
    PDFObjectPtr value;
    try {
      sub.Seek(first + rel);
      sub.CurrentObjectNumber = m;
      sub.CurrentGeneration = 0;
      value = sub.ParseObject();
    } catch (const ELimitExceeded&) {
      throw;
    } catch (const Exception& e) {
      Warning(FormatMsg("Object %s cannot be read: %s", {std::to_string(m), e.what()}), m);
      continue;
    }
    if (!value) value = std::make_unique<TkxPDFNullObject>();
    store_.Add(std::make_unique<TkxPDFIndirectObject>(documentId_, m, 0, std::move(value)));
  }
}

// ---------------------------------------------------------------------------
// Structure

TkxPDFDictObject* TkxCustomPDFDocument::CatalogDict() const {
  return catalogObj_ ? AsDict(catalogObj_->Value.get()) : nullptr;
}

void TkxCustomPDFDocument::ReadStructure() {
  if (OnBeginRead) OnBeginRead(this);
  ReadObjectStreams();
  storeAllowed_ = true;
  if (trailer_.RootObjectNumber <= 0) throw EPDFFileCorruptedError(kCorrupted);
  catalogObj_ = FetchObject(trailer_.RootObjectNumber, trailer_.RootGeneration, nullptr);
  TkxPDFDictObject* cat = CatalogDict();
  if (!cat) throw EPDFFileCorruptedError(kCorrupted);
  catalogObj_->AddRef();

  if (const TkxPDFNameObject* m = AsName(ResolveOnDemand(cat->Lookup("/PageMode")))) pageMode_ = PageModeFromName(m->Text);
  if (const TkxPDFNameObject* l = AsName(ResolveOnDemand(cat->Lookup("/PageLayout"))))
    pageLayout_ = PageLayoutFromName(l->Text);
  catalog_.ViewerPreferences.Assign(AsDict(ResolveOnDemand(cat->Lookup("/ViewerPreferences"))));
  if (const TkxPDFObject* md = cat->Lookup("/Metadata")) catalog_.Metadata = md->Clone();

  Progress(10);
  Status(kTraversing);
  WalkPageTree(cat->Lookup("/Pages"));
  Progress(75);
  Progress(30);
  // What the pages' form fields and annotations need.
  Status("Processing Annotations...");
  // A page's annotations are read in with the page.
  for (size_t i = 0; i < pages_.size(); ++i) Status("Processing Annotations...");
  Progress(90);
  if (TkxPDFObject* acro = cat->Lookup("/AcroForm")) {
    catalog_.AcroForm = acro->Clone();
    LoadObject(acro);
    Status("AcroForms Processed");
  }
  if (const TkxPDFObject* v = cat->Lookup("/OpenAction")) catalog_.OpenAction = v->Clone();
  if (const TkxPDFObject* v = cat->Lookup("/AA")) catalog_.AA = v->Clone();
  if (const TkxPDFObject* v = cat->Lookup("/Names")) catalog_.Names = v->Clone();
  Progress(60);
  Progress(100);
  if (trailer_.Info) {
    try {
      PDFObjectPtr info = DeepResolve(trailer_.Info.get(), kMaxControlObjects);
      info_.Assign(AsDict(info.get()));
    } catch (const Exception&) {
      // The information dictionary is not needed to read the pages.
    }
  }
  isLoaded_ = true;
  Status(FormatMsg("Document read complete. Pages read = %d", PageCount()));
  if (OnEndRead) OnEndRead(this);
}

void TkxCustomPDFDocument::WalkPageTree(TkxPDFObject* rootRef) {
  static constexpr const char* kInherited[] = {"/Rotate", "/MediaBox", "/Resources", "/CropBox"};
  struct Frame {
    std::shared_ptr<TkxPDFDictObject> attrs;  // inherited attributes for the kids
    TkxPDFArrayObject* kids;
    int next;
  };
  std::vector<Frame> stack;
  std::unordered_set<int32_t> visited;

  auto visit = [&](TkxPDFObject* ref, const std::shared_ptr<TkxPDFDictObject>& inherited) {
    const TkxPDFIndirectReference* r = AsReference(ref);
    if (!r) throw Exception("Invalid class typecast");
    // A node listed twice, or a cycle through /Kids, is walked once.
    if (!visited.insert(r->ObjectNumber).second) {
      Warning(FormatMsg("Page tree node %d is listed more than once", r->ObjectNumber), r->ObjectNumber);
      return;
    }
    TkxPDFIndirectObject* node = FetchObject(r->ObjectNumber, r->Generation, nullptr);
    if (!node) {
      Warning(FormatMsg("Page tree node %d is missing", r->ObjectNumber), r->ObjectNumber);
      return;
    }
    TkxPDFDictObject* dict = AsDict(node->Value.get());
    if (!dict) throw EUnexpectedError("Unexpected Error");
    const TkxPDFNameObject* type = AsName(ResolveOnDemand(dict->Lookup("/Type")));
    if (!type) throw EUnexpectedError("Unexpected Error");
    if (type->Text == "/Pages") {
      Frame f{nullptr, nullptr, 0};
      if (inherited) f.attrs.reset(static_cast<TkxPDFDictObject*>(inherited->Clone().release()));
      for (const char* key : kInherited) {
        if (const TkxPDFObject* v = dict->Lookup(key)) {
          if (!f.attrs) f.attrs = std::make_shared<TkxPDFDictObject>();
          f.attrs->SetValue(key, v->Clone());
        }
      }
      f.kids = AsArray(ResolveOnDemand(dict->Lookup("/Kids")));
      stack.push_back(std::move(f));
    } else if (type->Text == "/Page") {
      // The page, and what it uses, is read in when it is first asked for;
      // a page that cannot be read from the file again is kept as it is.
      PageSlot slot{node->ObjectNumber, node->Generation, inherited, false};
      pageNumbers_.insert(node->ObjectNumber);
      if (Rereadable(node->ObjectNumber)) {
        store_.Free(store_.IndexOfObject(documentId_, slot.ObjectNumber, slot.Generation));
        attempted_.erase(slot.ObjectNumber);
        node = nullptr;
      } else {
        PreparePage(node, inherited.get());
      }
      Status(kTraversing);
      pages_.push_back(node);
      pageSlots_.push_back(std::move(slot));
    } else {
      throw EUnexpectedError("Unexpected Error");
    }
  };

  visit(rootRef, nullptr);
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (!top.kids || top.next >= top.kids->Count()) {
      stack.pop_back();
      continue;
    }
    TkxPDFObject* kid = top.kids->Get(top.next++);
    const std::shared_ptr<TkxPDFDictObject> attrs = top.attrs;
    visit(kid, attrs);  // may grow the stack: `top` is not used afterwards
    Status(kTraversing);
  }
}

// ---------------------------------------------------------------------------
// Pages

TkxPDFIndirectObject* TkxCustomPDFDocument::GetPage(int page) const {
  if (page < 1 || page > PageCount()) throw EInvalidPageError(FormatMsg("Invalid page number (%d)", page));
  const size_t index = static_cast<size_t>(page - 1);
  // Reading the page in changes the store, not what the document says.
  if (!pageSlots_[index].Loaded) const_cast<TkxCustomPDFDocument*>(this)->LoadPage(index);
  return pages_[index];
}

void TkxCustomPDFDocument::PreparePage(TkxPDFIndirectObject* node, const TkxPDFDictObject* inherited) {
  node->AddRef();
  TkxPDFDictObject* dict = AsDict(node->Value.get());
  if (!dict) return;
  dict->Remove("/Parent");
  dict->Remove("/B");
  if (inherited) {
    for (int i = 0; i < inherited->Count(); ++i) {
      const std::string& key = inherited->KeyAt(i)->Text;
      if (dict->IndexOf(key) < 0 && inherited->ValueAt(i)) dict->AddObject(key, inherited->ValueAt(i)->Clone());
    }
  }
}

void TkxCustomPDFDocument::LoadPage(size_t index) {
  PageSlot& slot = pageSlots_[index];
  slot.Loaded = true;
  if (!pages_[index]) {
    // Read as when the page tree was walked; should the file no longer give
    // it, the page is an empty one rather than a hole in the list.
    attempted_.erase(slot.ObjectNumber);
    TkxPDFIndirectObject* node = nullptr;
    try {
      node = FetchObject(slot.ObjectNumber, slot.Generation, nullptr);
    } catch (const ELimitExceeded&) {
      throw;
    } catch (const Exception& e) {
      Warning(e.what(), slot.ObjectNumber);
    }
    if (!node || !AsDict(node->Value.get()))
      node = store_.Add(std::make_unique<TkxPDFIndirectObject>(documentId_, slot.ObjectNumber,
                                                               static_cast<uint16_t>(slot.Generation),
                                                               std::make_unique<TkxPDFDictObject>()));
    PreparePage(node, slot.Inherited.get());
    pages_[index] = node;
  }
  TkxPDFDictObject* dict = AsDict(pages_[index]->Value.get());
  if (dict && reader_)
    for (int i = 0; i < dict->Count(); ++i)
      if (dict->KeyAt(i)->Text != "/B") LoadObject(dict->ValueAt(i));
  // Only now are the objects of deleted pages freed: what this page uses
  // again (fonts shared by consecutive pages) is held once more and stays.
  FreeUnheld(unheld_);
}

bool TkxCustomPDFDocument::Rereadable(int32_t num) const {
  // Objects of object streams, and anything of a rebuilt file, are read once.
  if (!reader_ || repaired_) return false;
  auto st = xrefStm_.find(num);
  if (st != xrefStm_.end() && st->second.Type == 2) return false;
  return LookupOffset(num) > 0;
}

void TkxCustomPDFDocument::DropReferences(const TkxPDFObject* root, std::vector<TkxObjectKey>& unheld) {
  // The same walk as LoadObject's, counting down.
  std::vector<const TkxPDFObject*> work{root};
  while (!work.empty()) {
    const TkxPDFObject* o = work.back();
    work.pop_back();
    if (!o) continue;
    switch (o->Kind) {
      case okArray:
        for (const PDFObjectPtr& item : static_cast<const TkxPDFArrayObject*>(o)->Items)
          if (IsArray(item.get()) || IsDict(item.get()) || IsReference(item.get())) work.push_back(item.get());
        break;
      case okDict:
        for (const PDFObjectPtr& v : static_cast<const TkxPDFDictObject*>(o)->Values)
          if (IsArray(v.get()) || IsDict(v.get()) || IsReference(v.get()) || IsStream(v.get())) work.push_back(v.get());
        break;
      case okStream:
        work.push_back(static_cast<const TkxPDFStreamObject*>(o)->Dict.get());
        break;
      case okIndirectObject:
        work.push_back(static_cast<const TkxPDFIndirectObject*>(o)->Value.get());
        break;
      case okIndirectReference: {
        const auto* r = static_cast<const TkxPDFIndirectReference*>(o);
        if (r->ObjectNumber <= 0 || pageNumbers_.count(r->ObjectNumber)) break;
        auto it = holders_.find(TkxObjectKey{documentId_, r->ObjectNumber, r->Generation});
        if (it == holders_.end()) break;
        if (--it->second <= 0) {
          unheld.push_back(it->first);
          holders_.erase(it);
        }
        break;
      }
      default:
        break;
    }
  }
}

void TkxCustomPDFDocument::FreeUnheld(std::vector<TkxObjectKey>& unheld) {
  while (!unheld.empty()) {
    const TkxObjectKey key = unheld.back();
    unheld.pop_back();
    if (key.ObjectNumber == trailer_.RootObjectNumber || !Rereadable(key.ObjectNumber)) continue;
    if (auto held = holders_.find(key); held != holders_.end() && held->second > 0) continue;
    // A dictionary or array freed once and needed again serves pages far
    // apart (the widths of a font of every heading): reading it is costlier
    // than keeping it. Streams, which carry the bulk, are always freed.
    const int idx = store_.IndexOfObject(key.DocumentID, key.ObjectNumber, key.Generation);
    if (idx < 0) continue;
    const bool stream = IsStream(store_.Get(idx)->Value.get());
    if (!stream && !freedOnce_.insert(key.ObjectNumber).second) continue;
    if (store_.IsLoaded(idx)) DropReferences(store_.Get(idx)->Value.get(), unheld);
    store_.Free(idx);
    attempted_.erase(key.ObjectNumber);  // may be read again for a later page
  }
}

TkxPDFDictObject* TkxCustomPDFDocument::GetPageDict(int page) const { return AsDict(GetPage(page)->Value.get()); }

int TkxCustomPDFDocument::GetPageRotation(int page) const {
  TkxPDFDictObject* dict = GetPageDict(page);
  const TkxPDFObject* v = store_.ResolveAny(dict ? dict->Lookup("/Rotate") : nullptr);
  if (!IsNumber(v)) return 0;
  int64_t r = IntValue(v) % 360;
  if (r < 0) r += 360;
  // Only quarter turns exist; anything else is ignored as viewers do.
  return r % 90 == 0 ? static_cast<int>(r) : 0;
}

std::array<double, 4> TkxCustomPDFDocument::GetPageMediaBox(int page) const {
  TkxPDFDictObject* dict = GetPageDict(page);
  std::array<double, 4> box{0, 0, 612, 792};
  const TkxPDFArrayObject* a = AsArray(store_.ResolveAny(dict ? dict->Lookup("/MediaBox") : nullptr));
  if (!a || a->Count() < 4) return box;
  std::array<double, 4> out{};
  for (int i = 0; i < 4; ++i) {
    const TkxPDFObject* v = store_.ResolveAny(a->Get(i));
    if (!IsNumber(v)) return box;
    out[static_cast<size_t>(i)] = NumberValue(v);
  }
  return out;
}

std::vector<int> TkxCustomPDFDocument::ParsePageRange(const std::string& text, int pageCount) {
  std::vector<std::string> items;
  {
    std::string cur;
    bool quoted = false, any = false;
    for (char c : text) {
      if (c == '"') {
        quoted = !quoted;
        any = true;
      } else if (!quoted && (c == ',' || c == ' ' || c == '\t')) {
        if (any) items.push_back(cur);
        cur.clear();
        any = false;
      } else {
        cur += c;
        any = true;
      }
    }
    if (any) items.push_back(cur);
  }
  if (Trim(text).empty()) items = {"1-" + std::to_string(pageCount)};

  std::vector<int> pages;
  for (const std::string& item : items) {
    auto rangeError = [&item]() { return EInvalidPageError(FormatMsg("Invalid page range (%s)", item)); };
    size_t dash = item.find('-');
    if (dash != std::string::npos) {
      std::string a = Trim(std::string_view(item).substr(0, dash));
      std::string b = Trim(std::string_view(item).substr(dash + 1));
      int64_t first = 1, last = pageCount;
      if (!a.empty() && !ParseInteger(a, first)) throw rangeError();
      if (!b.empty() && !ParseInteger(b, last)) throw rangeError();
      if (first < 1 || last < first || last > pageCount) throw rangeError();
      for (int64_t p = first; p <= last; ++p) pages.push_back(static_cast<int>(p));
    } else {
      int64_t n = 0;
      if (!ParseInteger(Trim(item), n)) throw rangeError();
      if (n < 1 || n > pageCount) throw EInvalidPageError(FormatMsg("Invalid page number (%d)", n));
      pages.push_back(static_cast<int>(n));
    }
  }
  return pages;
}

void TkxCustomPDFDocument::ReleasePage(TkxPDFIndirectObject* page,
                                       const std::unordered_set<const TkxPDFIndirectObject*>& pages) {
  page->RefCount = 1;
  page->Release();
  // Lower the count of everything the page uses, once each, without
  // descending into other pages.
  std::unordered_set<const TkxPDFIndirectObject*> seen{page};
  std::vector<const TkxPDFObject*> work{page->Value.get()};
  while (!work.empty()) {
    const TkxPDFObject* o = work.back();
    work.pop_back();
    if (!o) continue;
    switch (o->Kind) {
      case okArray:
        for (const PDFObjectPtr& item : static_cast<const TkxPDFArrayObject*>(o)->Items) work.push_back(item.get());
        break;
      case okDict:
        for (const PDFObjectPtr& v : static_cast<const TkxPDFDictObject*>(o)->Values) work.push_back(v.get());
        break;
      case okStream:
        work.push_back(static_cast<const TkxPDFStreamObject*>(o)->Dict.get());
        break;
      case okIndirectReference: {
        TkxPDFIndirectObject* t = store_.Find(*static_cast<const TkxPDFIndirectReference*>(o));
        if (!t || pages.count(t) || !seen.insert(t).second) break;
        t->Release();
        work.push_back(t->Value.get());
        break;
      }
      default:
        break;
    }
  }
}

void TkxCustomPDFDocument::DeletePages(const std::string& range) {
  std::vector<int> numbers = ParsePageRange(range, PageCount());
  std::vector<bool> named(pages_.size(), false);
  for (int n : numbers) {
    if (named[static_cast<size_t>(n - 1)]) throw EInvalidPageError(FormatMsg("Invalid page range (%s)", range));
    named[static_cast<size_t>(n - 1)] = true;
  }
  std::unordered_set<const TkxPDFIndirectObject*> all;
  for (TkxPDFIndirectObject* page : pages_)
    if (page) all.insert(page);
  // Objects left unheld by an earlier deletion that no page read in since.
  FreeUnheld(unheld_);
  for (int n : numbers) {
    const size_t index = static_cast<size_t>(n - 1);
    TkxPDFIndirectObject* page = pages_[index];
    if (!page) continue;  // never read in: nothing to release
    ReleasePage(page, all);
    // The page and what nothing else holds are freed; shared objects stay.
    if (pageSlots_[index].Loaded) {
      const TkxPDFDictObject* dict = AsDict(page->Value.get());
      for (int i = 0; dict && i < dict->Count(); ++i)
        if (dict->KeyAt(i)->Text != "/B") DropReferences(dict->ValueAt(i), unheld_);
    }
    store_.Free(store_.IndexOfObject(page->DocumentID, page->ObjectNumber, page->Generation));
  }
  std::vector<TkxPDFIndirectObject*> keptPages;
  std::vector<PageSlot> keptSlots;
  for (size_t i = 0; i < pages_.size(); ++i) {
    if (named[i]) continue;
    keptPages.push_back(pages_[i]);
    keptSlots.push_back(std::move(pageSlots_[i]));
  }
  pages_ = std::move(keptPages);
  pageSlots_ = std::move(keptSlots);
  Status(FormatMsg("%d pages deleted", static_cast<long long>(numbers.size())));
}

}  // namespace pw
