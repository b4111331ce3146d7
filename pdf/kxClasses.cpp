#include "pdf/kxClasses.h"

#include <array>

namespace pw {

std::string FormatMsg(std::string_view fmt, std::initializer_list<std::string> args) {
  std::string out;
  auto it = args.begin();
  for (size_t i = 0; i < fmt.size(); ++i) {
    if (fmt[i] == '%' && i + 1 < fmt.size() && (fmt[i + 1] == 's' || fmt[i + 1] == 'd')) {
      if (it != args.end()) out += *it++;
      ++i;
    } else {
      out += fmt[i];
    }
  }
  return out;
}

std::string FormatMsg(std::string_view fmt, long long value) { return FormatMsg(fmt, {std::to_string(value)}); }

// ---- TkxObjectList ----

void TkxObjectList::Insert(int index, int32_t key, TkxPDFObject* obj) {
  if (key < 0) throw EInvalidID(FormatMsg("Invalid unique ID (%d)", key));
  if (index < 0 || index > count_) throw Exception(FormatMsg("List index out of bounds (%d)", index));
  if (count_ == Capacity()) {
    int cap = Capacity();
    int delta = cap > 64 ? cap / 4 : (cap > 8 ? 16 : 4);
    entries_.resize(static_cast<size_t>(cap + delta));
  }
  for (int i = count_; i > index; --i) entries_[i] = entries_[i - 1];
  entries_[index] = Entry{key, obj};
  ++count_;
}

int TkxObjectList::Add(int32_t key, TkxPDFObject* obj) {
  Insert(count_, key, obj);
  return count_ - 1;
}

TkxPDFObject* TkxObjectList::Get(int index) const {
  if (index < 0 || index >= count_) throw Exception(FormatMsg("List index out of bounds (%d)", index));
  return entries_[index].obj;
}

int32_t TkxObjectList::KeyAt(int index) const {
  if (index < 0 || index >= count_) throw Exception(FormatMsg("List index out of bounds (%d)", index));
  return entries_[index].key;
}

int TkxObjectList::IndexOfKey(int32_t key) const {
  for (int i = 0; i < count_; ++i)
    if (entries_[i].key == key) return i;
  return -1;
}

void TkxObjectList::Clear() {
  entries_.clear();
  entries_.shrink_to_fit();
  count_ = 0;
}

std::string TkxComponent::Version() const {
#ifdef PW_VERSION
  return PW_VERSION;
#else
  return "0.1.0";
#endif
}

// ---- TkxExtMemStream ----

uint8_t TkxExtMemStream::ReadByte() {
  if (pos_ >= data_.size()) throw EReadError("Stream read error");
  return data_[pos_++];
}

uint16_t TkxExtMemStream::ReadWord() {
  uint16_t hi = ReadByte();
  return static_cast<uint16_t>((hi << 8) | ReadByte());
}

uint32_t TkxExtMemStream::ReadDWord() {
  uint32_t hi = ReadWord();
  return (hi << 16) | ReadWord();
}

std::string TkxExtMemStream::ReadString(size_t n) {
  if (n > data_.size() - pos_) throw EReadError("Stream read error");
  std::string s(reinterpret_cast<const char*>(data_.data() + pos_), n);
  pos_ += n;
  return s;
}

int64_t TkxExtMemStream::Skip(int64_t delta) {
  int64_t target = static_cast<int64_t>(pos_) + delta;
  if (target < 0) target = 0;
  if (target > static_cast<int64_t>(data_.size())) target = static_cast<int64_t>(data_.size());
  int64_t moved = target - static_cast<int64_t>(pos_);
  pos_ = static_cast<size_t>(target);
  return moved;
}

void TkxExtMemStream::Put(const uint8_t* p, size_t n) {
  if (pos_ + n > data_.size()) data_.resize(pos_ + n);
  for (size_t i = 0; i < n; ++i) data_[pos_ + i] = p[i];
  pos_ += n;
}

void TkxExtMemStream::WriteByte(uint8_t b) { Put(&b, 1); }
void TkxExtMemStream::WriteString(std::string_view s) { Put(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }
void TkxExtMemStream::WriteWord(uint16_t v) {
  uint8_t b[2] = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  Put(b, 2);
}
void TkxExtMemStream::WriteDWord(uint32_t v) {
  uint8_t b[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                  static_cast<uint8_t>(v)};
  Put(b, 4);
}
void TkxExtMemStream::WriteWords(const std::vector<uint16_t>& v) {
  for (auto w : v) WriteWord(w);
}
void TkxExtMemStream::WriteDWords(const std::vector<uint32_t>& v) {
  for (auto w : v) WriteDWord(w);
}
void TkxExtMemStream::Align4() {
  pad_count_ = static_cast<uint32_t>((4 - data_.size() % 4) % 4);
  data_.resize(data_.size() + pad_count_, 0);
}

// ---- TWideStrings ----

int TWideStrings::Add(const std::u16string& s) {
  items_.push_back(s);
  return Count() - 1;
}
std::u16string TWideStrings::Get(int index) const {
  if (index < 0 || index >= Count()) return {};
  return items_[index];
}
void TWideStrings::Put(int index, const std::u16string& s) {
  if (index == Count())
    items_.push_back(s);
  else if (index >= 0 && index < Count())
    items_[index] = s;
}
void TWideStrings::Insert(int index, const std::u16string& s) {
  if (index < 0 || index > Count()) return;
  items_.insert(items_.begin() + index, s);
}
void TWideStrings::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  items_.erase(items_.begin() + index);
}

// ---- Code page 1252 ----

namespace {
// 0x80..0x9F of Windows-1252; the five undefined positions map to themselves.
constexpr std::array<char16_t, 32> kCp1252High = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
}  // namespace

char16_t AnsiCharToWide(uint8_t b) {
  if (b >= 0x80 && b <= 0x9F) return kCp1252High[b - 0x80];
  return b;
}

std::u16string AnsiToWide(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (char c : bytes) out.push_back(AnsiCharToWide(static_cast<uint8_t>(c)));
  return out;
}

bool WideCharToAnsi(char16_t c, uint8_t& out) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
    out = static_cast<uint8_t>(c);
    return true;
  }
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] == c) {
      out = static_cast<uint8_t>(0x80 + i);
      return true;
    }
  }
  return false;
}

std::string WideToAnsi(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    uint8_t b;
    out.push_back(WideCharToAnsi(c, b) ? static_cast<char>(b) : '?');
  }
  return out;
}

std::string WideToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::u16string Utf8ToWide(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    uint8_t c = static_cast<uint8_t>(s[i]);
    uint32_t cp;
    size_t len;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if ((c >> 5) == 6) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c >> 4) == 14) {
      cp = c & 0x0F;
      len = 3;
    } else if ((c >> 3) == 30) {
      cp = c & 0x07;
      len = 4;
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    if (i + len > s.size()) {
      out.push_back(0xFFFD);
      break;
    }
    bool ok = true;
    for (size_t k = 1; k < len; ++k) {
      uint8_t cc = static_cast<uint8_t>(s[i + k]);
      if ((cc >> 6) != 2) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (!ok) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

}  // namespace pw
