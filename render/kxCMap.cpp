#include "render/kxCMap.h"

#include "pdf/kxClasses.h"
#include "pdf/kxPDFLexer.h"

#include <algorithm>
#include <mutex>

#include "render/kxGlyphList.h"
#include "resources/kxResources.h"

namespace pw {
namespace {

// ---------------------------------------------------------------------------
// Tokens of CMap text (a small part of PostScript), read with the PDF lexer.

struct Tok {
  TkxPDFTokenKind kind = tkEnd;
  std::string text;  // hex: the bytes; string: the text; name: without "/"; number/keyword: as written
};

class Lexer {
 public:
  explicit Lexer(std::string_view s) : lex_(s) {}

  bool Next(Tok& t) {
    lex_.Next(tok_);
    t.kind = tok_.Kind;
    switch (tok_.Kind) {
      case tkEnd: t.text.clear(); return false;
      case tkHexString:
      case tkString: t.text.swap(tok_.Text); break;
      case tkName:
        t.text.assign(tok_.Text, 1);  // without "/"
        break;
      case tkNumber: {
        // Only a whole number is one; "1x" is a word like any other.
        bool whole = false;
        ParsePDFNumber(tok_.Raw, &whole);
        if (!whole) t.kind = tkKeyword;
        t.text.assign(tok_.Raw);
        break;
      }
      case tkKeyword: t.text.assign(tok_.Raw); break;
      case tkDictBegin:
      case tkDictEnd:
        t.kind = tkOther;
        t.text.clear();
        break;
      default: t.text.clear(); break;
    }
    return true;
  }

 private:
  TkxPDFLexer lex_;
  TkxPDFToken tok_;
};

// Operands of one section entry.
struct Operand {
  TkxPDFTokenKind kind = tkEnd;
  std::string text;
  std::vector<std::string> items;  // array elements (hex bytes)
};

bool NumberValue(const std::string& text, uint32_t& out) {
  // Non-negative integers only; anything else does not make a CID.
  if (text.empty() || text.size() > 10) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > UINT32_MAX) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

TkxCMapCode CodeOf(const std::string& bytes) {
  TkxCMapCode c;
  if (bytes.empty() || bytes.size() > 4) return c;
  for (unsigned char b : bytes) c.Value = (c.Value << 8) | b;
  c.Length = static_cast<uint8_t>(bytes.size());
  return c;
}

// UTF-16 units of a destination string (big-endian pairs; a lone final byte
// is a unit of its own).
std::u16string Utf16Of(const std::string& bytes) {
  std::u16string out;
  size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2)
    out.push_back(
        static_cast<char16_t>((static_cast<unsigned char>(bytes[i]) << 8) | static_cast<unsigned char>(bytes[i + 1])));
  if (i < bytes.size()) out.push_back(static_cast<unsigned char>(bytes[i]));
  return out;
}

bool Destination(const Operand& o, std::u16string& out) {
  if (o.kind == tkHexString) {
    out = Utf16Of(o.text);
    return true;
  }
  if (o.kind == tkName) return GlyphNameToUnicode(o.text, out);
  if (o.kind == tkNumber) {
    uint32_t v;
    out.clear();
    return NumberValue(o.text, v) && AppendCodePoint(v, out);
  }
  return false;
}

enum SectionKind { skCodeSpace, skCidRange, skCidChar, skNotdefRange, skNotdefChar, skBfChar, skBfRange };

void HandleSection(SectionKind kind, const std::vector<Operand>& ops, TkxCMapHandler& h) {
  size_t i = 0;
  auto is = [&](size_t k, TkxPDFTokenKind t) { return i + k < ops.size() && ops[i + k].kind == t; };
  while (i < ops.size() && !h.Full()) {
    switch (kind) {
      case skCodeSpace:
        if (is(0, tkHexString) && is(1, tkHexString)) {
          h.CodeSpace(ops[i].text, ops[i + 1].text);
          i += 2;
          continue;
        }
        break;
      case skCidRange:
      case skNotdefRange:
        if (is(0, tkHexString) && is(1, tkHexString) && is(2, tkNumber)) {
          TkxCMapCode lo = CodeOf(ops[i].text), hi = CodeOf(ops[i + 1].text);
          uint32_t cid;
          if (lo.Length && hi.Length == lo.Length && NumberValue(ops[i + 2].text, cid)) {
            if (kind == skCidRange)
              h.CidRange(lo, hi, cid);
            else
              h.NotdefRange(lo, hi, cid);
          }
          i += 3;
          continue;
        }
        break;
      case skCidChar:
      case skNotdefChar:
        if (is(0, tkHexString) && is(1, tkNumber)) {
          TkxCMapCode c = CodeOf(ops[i].text);
          uint32_t cid;
          if (c.Length && NumberValue(ops[i + 1].text, cid)) {
            if (kind == skCidChar)
              h.CidRange(c, c, cid);
            else
              h.NotdefRange(c, c, cid);
          }
          i += 2;
          continue;
        }
        break;
      case skBfChar:
        if (is(0, tkHexString) && i + 1 < ops.size()) {
          TkxCMapCode c = CodeOf(ops[i].text);
          std::u16string dst;
          if (c.Length && Destination(ops[i + 1], dst)) h.BfRange(c, c, dst);
          i += 2;
          continue;
        }
        break;
      case skBfRange:
        if (is(0, tkHexString) && is(1, tkHexString) && i + 2 < ops.size()) {
          TkxCMapCode lo = CodeOf(ops[i].text), hi = CodeOf(ops[i + 1].text);
          const Operand& d = ops[i + 2];
          if (lo.Length && hi.Length) {
            if (d.kind == tkArrayBegin) {
              std::vector<std::u16string> dst;
              dst.reserve(d.items.size());
              for (const std::string& item : d.items) dst.push_back(Utf16Of(item));
              h.BfArray(lo, hi, dst);
            } else {
              std::u16string dst;
              if (Destination(d, dst)) h.BfRange(lo, hi, dst);
            }
          }
          i += 3;
          continue;
        }
        break;
    }
    ++i;  // an operand out of place: step over it and try again
  }
}

bool SectionStart(const std::string& kw, SectionKind& kind) {
  static const struct {
    const char* kw;
    SectionKind kind;
  } kSections[] = {{"begincodespacerange", skCodeSpace}, {"begincidrange", skCidRange},     {"begincidchar", skCidChar},
                   {"beginnotdefrange", skNotdefRange},  {"beginnotdefchar", skNotdefChar}, {"beginbfchar", skBfChar},
                   {"beginbfrange", skBfRange}};
  for (const auto& s : kSections)
    if (kw == s.kw) {
      kind = s.kind;
      return true;
    }
  return false;
}

constexpr size_t kMaxArrayItems = 1u << 16;

}  // namespace

void ParseCMapText(std::string_view text, TkxCMapHandler& handler) {
  Lexer lex(text);
  Tok t;
  std::vector<Tok> recent;  // operands before the current keyword
  while (!handler.Full() && lex.Next(t)) {
    if (t.kind != tkKeyword) {
      if (recent.size() >= 8) recent.erase(recent.begin());
      recent.push_back(t);
      continue;
    }
    SectionKind kind;
    if (SectionStart(t.text, kind)) {
      // Entries run to the next keyword (the section's end, or anything else
      // when the end is missing). Sections are read in slices so that a huge
      // one never sits in memory as a whole.
      std::vector<Operand> ops;
      bool more = true;
      while (more && !handler.Full()) {
        if (!lex.Next(t) || t.kind == tkKeyword) more = false;
        if (more) {
          Operand o;
          o.kind = t.kind;
          if (t.kind == tkArrayBegin) {
            Tok e;
            while (lex.Next(e) && e.kind != tkArrayEnd && e.kind != tkKeyword)
              if (e.kind == tkHexString && o.items.size() < kMaxArrayItems) o.items.push_back(std::move(e.text));
          } else {
            o.text = std::move(t.text);
          }
          ops.push_back(std::move(o));
        }
        // Hand over complete entries in slices (3 operands make the longest entry).
        if (ops.size() >= 3 * 1024 || !more) {
          size_t keep = 0;
          if (more) {
            const size_t per =
                (kind == skCodeSpace || kind == skCidChar || kind == skNotdefChar || kind == skBfChar) ? 2 : 3;
            keep = ops.size() % per;
          }
          std::vector<Operand> rest(ops.end() - static_cast<std::ptrdiff_t>(keep), ops.end());
          ops.resize(ops.size() - keep);
          HandleSection(kind, ops, handler);
          ops = std::move(rest);
        }
      }
      recent.clear();
      continue;
    }
    if (t.text == "usecmap") {
      if (!recent.empty() && recent.back().kind == tkName) handler.UseCMap(recent.back().text);
    } else if (t.text == "def") {
      if (recent.size() >= 2 && recent[recent.size() - 2].kind == tkName) {
        const Tok& v = recent.back();
        if (v.kind == tkName || v.kind == tkString || v.kind == tkNumber)
          handler.Def(recent[recent.size() - 2].text, v.text);
      }
    }
    recent.clear();
  }
}

// ---------------------------------------------------------------------------
// Code-to-CID maps.

class TkxCMapBuilder : public TkxCMapHandler {
 public:
  TkxCMapBuilder(TkxCMap& map, int depth) : m_(map), depth_(depth) {}
  void CodeSpace(const std::string& lo, const std::string& hi) override {
    if (lo.empty() || lo.size() > 4 || hi.size() != lo.size() || m_.codeSpace_.size() >= 256) return;
    TkxCMap::CodeSpaceRange r;
    r.Length = static_cast<uint8_t>(lo.size());
    for (size_t i = 0; i < lo.size(); ++i) {
      r.Lo[i] = static_cast<uint8_t>(lo[i]);
      r.Hi[i] = static_cast<uint8_t>(hi[i]);
    }
    m_.codeSpace_.push_back(r);
  }
  void CidRange(TkxCMapCode lo, TkxCMapCode hi, uint32_t cid) override {
    ++m_.entries_;
    m_.cids_.Insert(KeyOf(lo), KeyOf(hi), cid);
  }
  void NotdefRange(TkxCMapCode lo, TkxCMapCode hi, uint32_t cid) override {
    ++m_.entries_;
    m_.notdefs_.Insert(KeyOf(lo), KeyOf(hi), cid);
  }
  void UseCMap(const std::string& name) override {
    if (depth_ >= TkxCMap::kMaxUseDepth) return;
    if (auto parent = TkxCMap::Predefined(name, depth_ + 1)) m_.Inherit(*parent);
  }
  void Def(const std::string& key, const std::string& value) override {
    if (key == "WMode")
      m_.wmode_ = value == "1" ? 1 : 0;
    else if (key == "CMapName")
      m_.name_ = value;
    else if (key == "Registry")
      m_.registry_ = value;
    else if (key == "Ordering")
      m_.ordering_ = value;
  }
  bool Full() const override { return m_.entries_ >= TkxCMap::kMaxEntries; }

 private:
  TkxCMap& m_;
  int depth_;
};

void TkxCMap::Inherit(const TkxCMap& parent) {
  if (parent.identity_ && codeSpace_.empty() && cids_.Count() == 0) identity_ = true;
  for (const auto& r : parent.codeSpace_)
    if (codeSpace_.size() < 256) codeSpace_.push_back(r);
  for (const auto& [lo, r] : parent.cids_.Ranges()) {
    // Keep each range's values as the parent computes them.
    uint64_t shift = r.Lo - r.Origin;
    cids_.Insert(r.Lo, r.Hi, static_cast<uint32_t>(r.Value + shift));
  }
  for (const auto& [lo, r] : parent.notdefs_.Ranges()) notdefs_.Insert(r.Lo, r.Hi, r.Value);
  entries_ += parent.cids_.Count() + parent.notdefs_.Count();
  if (registry_.empty()) registry_ = parent.registry_;
  if (ordering_.empty()) ordering_ = parent.ordering_;
  if (parent.wmode_) wmode_ = parent.wmode_;
}

std::shared_ptr<const TkxCMap> TkxCMap::Identity(bool vertical) {
  static const std::shared_ptr<const TkxCMap> h = [] {
    auto m = std::make_shared<TkxCMap>();
    m->name_ = "Identity-H";
    m->registry_ = "Adobe";
    m->ordering_ = "Identity";
    m->identity_ = true;
    CodeSpaceRange r;
    r.Length = 2;
    r.Hi[0] = r.Hi[1] = 0xFF;
    m->codeSpace_.push_back(r);
    return m;
  }();
  static const std::shared_ptr<const TkxCMap> v = [] {
    auto m = std::make_shared<TkxCMap>(*h);
    m->name_ = "Identity-V";
    m->wmode_ = 1;
    return m;
  }();
  return vertical ? v : h;
}

std::shared_ptr<const TkxCMap> TkxCMap::Predefined(std::string_view name, int depth) {
  if (!name.empty() && name[0] == '/') name.remove_prefix(1);
  if (name == "Identity-H") return Identity(false);
  if (name == "Identity-V") return Identity(true);
  if (name.empty() || name.size() > 64 || depth > kMaxUseDepth) return nullptr;
  const std::string key = "CMap/" + std::string(name);
  static std::mutex mu;
  static std::map<std::string, std::shared_ptr<const TkxCMap>> cache;
  {
    std::lock_guard<std::mutex> lock(mu);
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
  }
  // Read without the lock: a usecmap chain comes back here for its parent.
  std::optional<std::string> text = LoadResource(key);
  if (!text) return nullptr;  // unknown names are not cached: the cache only holds bundled CMaps
  std::shared_ptr<const TkxCMap> map = FromText(*text, nullptr, depth);
  std::lock_guard<std::mutex> lock(mu);
  auto [it, inserted] = cache.emplace(key, map);
  return it->second;
}

std::shared_ptr<TkxCMap> TkxCMap::FromText(std::string_view text, const TkxCMap* parent, int depth) {
  auto m = std::make_shared<TkxCMap>();
  if (parent) m->Inherit(*parent);
  TkxCMapBuilder b(*m, depth);
  ParseCMapText(text, b);
  return m;
}

size_t TkxCMap::NextCode(const uint8_t* p, size_t n, TkxCMapCode& code) const {
  code = TkxCMapCode();
  if (n == 0) return 0;
  const size_t maxLen = std::min<size_t>(n, 4);
  for (size_t len = 1; len <= maxLen; ++len) {
    for (const auto& r : codeSpace_) {
      if (r.Length != len) continue;
      bool ok = true;
      for (size_t i = 0; i < len && ok; ++i) ok = p[i] >= r.Lo[i] && p[i] <= r.Hi[i];
      if (ok) {
        for (size_t i = 0; i < len; ++i) code.Value = (code.Value << 8) | p[i];
        code.Length = static_cast<uint8_t>(len);
        return len;
      }
    }
  }
  // No range matches: take as many bytes as the shortest range whose first
  // byte fits (two when the CMap declares no ranges at all).
  size_t take = 0, shortest = 0;
  for (const auto& r : codeSpace_) {
    if (shortest == 0 || r.Length < shortest) shortest = r.Length;
    if (p[0] >= r.Lo[0] && p[0] <= r.Hi[0] && (take == 0 || r.Length < take)) take = r.Length;
  }
  if (take == 0) take = shortest ? shortest : 2;
  take = std::min(take, maxLen);
  for (size_t i = 0; i < take; ++i) code.Value = (code.Value << 8) | p[i];
  code.Length = static_cast<uint8_t>(take);
  return take;
}

uint32_t TkxCMap::CIDOf(TkxCMapCode code) const {
  if (identity_ && cids_.Count() == 0) return code.Value;
  const uint64_t key = KeyOf(code);
  if (const auto* r = cids_.Find(key)) {
    uint64_t cid = uint64_t(r->Value) + (key - r->Origin);
    return cid > UINT32_MAX ? 0 : static_cast<uint32_t>(cid);
  }
  if (const auto* r = notdefs_.Find(key)) return r->Value;
  return identity_ ? code.Value : 0;  // what an identity parent leaves unmapped keeps its value
}

bool TkxCMap::HasMapping(TkxCMapCode code) const { return identity_ || cids_.Find(KeyOf(code)) != nullptr; }

// ---------------------------------------------------------------------------
// CID-to-Unicode data of the character collections.

// Code points that stand for an ideograph only as a radical or a
// compatibility duplicate: the Unicode CMaps map them to the same CIDs as
// the unified ideographs, which are what text means.
static bool RadicalOrCompatibility(char32_t cp) {
  return (cp >= 0x2E80 && cp <= 0x2FDF) || (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0x2F800 && cp <= 0x2FA1F);
}

class TkxCIDToUnicodeBuilder : public TkxCMapHandler {
 public:
  static constexpr uint32_t kMaxCID = 1u << 17;
  explicit TkxCIDToUnicodeBuilder(TkxCIDToUnicode& t) : t_(t) {}
  // First pass: the lowest code point wins (radicals and compatibility
  // ideographs only when nothing else reaches the CID); later passes only
  // fill gaps.
  bool FillGapsOnly = false;
  void CidRange(TkxCMapCode lo, TkxCMapCode hi, uint32_t cid) override {
    if (hi.Value < lo.Value || hi.Value - lo.Value > 0xFFFF) return;
    for (uint32_t k = 0; k <= hi.Value - lo.Value; ++k) {
      const uint32_t code = lo.Value + k;
      char32_t cp = 0;
      if (lo.Length == 2) {
        if (code >= 0xD800 && code <= 0xDFFF) continue;
        cp = code;
      } else if (lo.Length == 4) {
        uint32_t h = code >> 16, l = code & 0xFFFF;
        if (h < 0xD800 || h > 0xDBFF || l < 0xDC00 || l > 0xDFFF) continue;
        cp = 0x10000 + ((h - 0xD800) << 10) + (l - 0xDC00);
      } else {
        continue;
      }
      const uint64_t c = uint64_t(cid) + k;
      if (c >= kMaxCID) return;
      if (t_.map_.size() <= c) t_.map_.resize(c + 1, 0);
      char32_t& slot = t_.map_[c];
      if (slot == 0 || (!FillGapsOnly && Better(cp, slot))) slot = cp;
    }
  }

 private:
  static bool Better(char32_t cp, char32_t than) {
    const bool a = RadicalOrCompatibility(cp), b = RadicalOrCompatibility(than);
    return a != b ? !a : cp < than;
  }
  TkxCIDToUnicode& t_;
};

std::shared_ptr<const TkxCIDToUnicode> TkxCIDToUnicode::ForOrdering(std::string_view ordering) {
  // The horizontal Unicode CMap first, then what only the vertical (and for
  // Japan1 the half-width) forms reach.
  static const struct {
    const char* ordering;
    const char* cmaps[3];
  } kCollections[] = {{"Japan1", {"UniJIS-UTF16-H", "UniJIS-UTF16-V", "UniJIS-UCS2-HW-H"}},
                      {"GB1", {"UniGB-UTF16-H", "UniGB-UTF16-V", nullptr}},
                      {"CNS1", {"UniCNS-UTF16-H", "UniCNS-UTF16-V", nullptr}},
                      {"Korea1", {"UniKS-UTF16-H", "UniKS-UTF16-V", nullptr}}};
  static std::mutex mu;
  static std::map<std::string, std::shared_ptr<const TkxCIDToUnicode>> cache;
  for (const auto& c : kCollections) {
    if (ordering != c.ordering) continue;
    std::lock_guard<std::mutex> lock(mu);
    auto it = cache.find(c.ordering);
    if (it != cache.end()) return it->second;
    auto t = std::make_shared<TkxCIDToUnicode>();
    TkxCIDToUnicodeBuilder b(*t);
    for (const char* name : c.cmaps) {
      if (!name) continue;
      if (auto text = LoadResource(std::string("CMap/") + name)) ParseCMapText(*text, b);
      b.FillGapsOnly = true;
    }
    cache.emplace(c.ordering, t);
    return t;
  }
  return nullptr;
}

}  // namespace pw
