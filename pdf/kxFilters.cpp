#include "pdf/kxFilters.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "pdf/kxPDFLexer.h"

namespace pw {

namespace {

[[noreturn]] void ThrowLimit(size_t maxOutput) {
  throw ELimitExceeded(
      FormatMsg("Decoded stream data exceeds the limit of %d bytes", static_cast<long long>(maxOutput)));
}

inline void CheckGrowth(size_t have, size_t more, size_t maxOutput) {
  if (more > maxOutput || have > maxOutput - more) ThrowLimit(maxOutput);
}

const uint8_t* Bytes(std::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }
std::string ToString(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }
std::vector<uint8_t> ToBytes(std::string_view s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// Size of the data once trailing CR and LF bytes are left off.
size_t WithoutTrailingEol(const uint8_t* p, size_t n) {
  while (n > 0 && (p[n - 1] == '\n' || p[n - 1] == '\r')) --n;
  return n;
}

// ---- ASCIIHex ----

// markerPresent: the data ends with ">" (required by the filter's own entry
// points; the chain supplies a missing one).
std::vector<uint8_t> HexDecode(const uint8_t* p, size_t n, bool markerPresent, size_t maxOutput) {
  if (markerPresent) {
    if (n == 0 || p[n - 1] != '>') throw Exception("EndOfData marker is wrong");
    --n;
  }
  // Only white space may stand between the digits; an earlier ">" ends the data.
  size_t end = 0;
  for (; end < n && p[end] != '>'; ++end)
    if (!IsPDFWhite(p[end]) && HexDigitValue(p[end]) < 0) throw Exception("Illeagal character within stream");
  std::string bytes;
  bytes.reserve(std::min(end / 2 + 1, maxOutput + 1));
  AppendHexBytes(std::string_view(reinterpret_cast<const char*>(p), end), bytes);
  if (bytes.size() > maxOutput) ThrowLimit(maxOutput);
  return ToBytes(bytes);
}

// ---- ASCII85 ----

void PutGroup(std::vector<uint8_t>& out, uint64_t value, size_t count) {
  // Five digits can reach 85^5 - 1 > 2^32 - 1; such a group encodes no bytes.
  if (value > 0xFFFFFFFFull) throw Exception("Invalid ASCII85 group (value above 4 bytes)");
  for (size_t k = 0; k < count; ++k) out.push_back(static_cast<uint8_t>(value >> (24 - 8 * k)));
}

std::vector<uint8_t> A85Decode(const uint8_t* p, size_t n, size_t maxOutput) {
  if (n < 2 || p[n - 2] != '~' || p[n - 1] != '>') throw Exception("EndOfData marker is wrong");
  n -= 2;
  std::vector<uint8_t> out;
  out.reserve(n / 5 * 4 + 4);
  uint64_t group = 0;
  int count = 0;
  for (size_t i = 0; i < n; ++i) {
    uint8_t c = p[i];
    if (IsPDFWhite(c)) continue;
    if (c == 'z') {
      if (count != 0) throw Exception("\"z\" found at inappropriate position");
      CheckGrowth(out.size(), 4, maxOutput);
      out.insert(out.end(), 4, 0);
    } else if (c >= '!' && c <= 'u') {
      group = group * 85 + (c - '!');
      if (++count == 5) {
        CheckGrowth(out.size(), 4, maxOutput);
        PutGroup(out, group, 4);
        group = 0;
        count = 0;
      }
    } else {
      throw Exception("Illeagal character within stream");
    }
  }
  if (count == 1) throw Exception("Single Final Character");
  if (count > 1) {
    // The encoder dropped the digits of the zero fill; completing with the
    // highest digit rounds the kept bytes back to their values.
    for (int k = count; k < 5; ++k) group = group * 85 + 84;
    CheckGrowth(out.size(), static_cast<size_t>(count - 1), maxOutput);
    PutGroup(out, group, static_cast<size_t>(count - 1));
  }
  return out;
}

std::string A85Encode(const uint8_t* p, size_t n) {
  std::string out;
  out.reserve(n / 4 * 5 + 7);
  size_t i = 0;
  auto digits = [&out](uint32_t v, size_t keep) {
    char d[5];
    for (int k = 4; k >= 0; --k) {
      d[k] = static_cast<char>('!' + v % 85);
      v /= 85;
    }
    out.append(d, keep);
  };
  for (; i + 4 <= n; i += 4) {
    uint32_t v = uint32_t(p[i]) << 24 | uint32_t(p[i + 1]) << 16 | uint32_t(p[i + 2]) << 8 | p[i + 3];
    if (v == 0)
      out += 'z';
    else
      digits(v, 5);
  }
  if (i < n) {
    size_t k = n - i;
    uint32_t v = 0;
    for (size_t j = 0; j < 4; ++j) v = v << 8 | (j < k ? p[i + j] : 0u);
    digits(v, k + 1);
  }
  out += "~>";
  return out;
}

// ---- RunLength ----

std::vector<uint8_t> RLEDecode(const uint8_t* p, size_t n, size_t maxOutput) {
  if (n == 0 || p[n - 1] != 128) throw Exception("EndOfData Marker is wrong");
  const size_t last = n - 1;  // index of the end marker
  std::vector<uint8_t> out;
  out.reserve(n);
  size_t pos = 0;
  while (pos < last) {
    uint8_t len = p[pos];
    if (len < 128) {
      size_t count = size_t(len) + 1;
      // The literal bytes and one byte after them (at least the marker) must be there.
      if (count + 1 > last - pos) throw Exception("Unexpected EndOfFile found");
      CheckGrowth(out.size(), count, maxOutput);
      out.insert(out.end(), p + pos + 1, p + pos + 1 + count);
      pos += count + 1;
    } else if (len > 128) {
      if (2 > last - pos) throw Exception("Unexpected EndOfFile found");
      size_t count = 257 - size_t(len);
      CheckGrowth(out.size(), count, maxOutput);
      out.insert(out.end(), count, p[pos + 1]);
      pos += 2;
    } else {
      throw Exception("Premature EndOfData Marker found");
    }
  }
  return out;
}

std::string RLEEncode(const uint8_t* p, size_t n) {
  std::string out;
  out.reserve(n + n / 128 + 2);
  size_t litStart = 0, litLen = 0;
  auto flush = [&]() {
    if (litLen == 0) return;
    out += static_cast<char>(litLen - 1);
    out.append(reinterpret_cast<const char*>(p + litStart), litLen);
    litLen = 0;
  };
  size_t i = 0;
  while (i < n) {
    size_t run = 1;
    while (i + run < n && run < 128 && p[i + run] == p[i]) ++run;
    if (run >= 3) {
      flush();
      out += static_cast<char>(257 - run);
      out += static_cast<char>(p[i]);
      i += run;
    } else {
      if (litLen == 0) litStart = i;
      ++litLen;
      ++i;
      if (litLen == 128) flush();
    }
  }
  flush();
  out += static_cast<char>(128);
  return out;
}

// ---- Flate ----

// Inflates zlib data straight into the output buffer, which grows by
// doubling but never beyond maxOutput + 1 bytes, so a decompression bomb is
// stopped as soon as it passes the limit.
//
// Damaged data: real files often carry streams that are cut short, lack the
// Adler-32 trailer, have a wrong checksum or end in garbage. Whatever could
// be decoded before the damage is returned, since a partly drawn page beats a
// failed one. Only when zlib refuses the data before producing a single byte
// (a bad header, for instance) is EDecompressionError raised with zlib's text.
constexpr size_t kKeptInflateBuffer = size_t(4) << 20;

std::vector<uint8_t> Inflate(const uint8_t* p, size_t n, size_t maxOutput) {
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  // Behind a plain zlib header the data is inflated raw: its check sum
  // would only be computed to be ignored, as data that fails it is kept
  // like any other data that breaks off.
  const bool plainHeader = n >= 2 && (p[0] & 0x0F) == Z_DEFLATED && (p[0] >> 4) <= 7 &&
                           ((unsigned{p[0]} << 8) | p[1]) % 31 == 0 && (p[1] & 0x20) == 0;
  if ((plainHeader ? inflateInit2(&zs, -MAX_WBITS) : inflateInit(&zs)) != Z_OK) throw std::bad_alloc();
  if (plainHeader) {
    p += 2;
    n -= 2;
  }
  struct Guard {
    z_stream* z;
    ~Guard() { inflateEnd(z); }
  } guard{&zs};

  const size_t cap = maxOutput == SIZE_MAX ? SIZE_MAX : maxOutput + 1;
  // The data goes into a buffer of the thread that outlives the call, so
  // that the many small streams of a document do not each pay for clearing
  // a fresh buffer; the result is copied out at its exact size.
  thread_local std::vector<uint8_t> scratch;
  std::vector<uint8_t>& out = scratch;
  struct Trim {
    std::vector<uint8_t>& b;
    ~Trim() {
      if (b.capacity() > kKeptInflateBuffer) std::vector<uint8_t>().swap(b);
    }
  } trim{out};
  // A first guess of three times the input fits most content streams and
  // images; the buffer doubles from there.
  const size_t guess = std::min(cap, std::max<size_t>(n / 2 * 6, 64 * 1024));
  if (out.size() < guess) out.resize(guess);
  size_t have = 0, used = 0;
  for (;;) {
    if (have == out.size()) {
      if (out.size() >= cap) ThrowLimit(maxOutput);
      out.resize(out.size() > cap / 2 ? cap : out.size() * 2);
    }
    if (zs.avail_in == 0 && used < n) {
      zs.next_in = const_cast<Bytef*>(p + used);
      zs.avail_in = static_cast<uInt>(std::min<size_t>(n - used, UINT_MAX));
      used += zs.avail_in;
    }
    const size_t room = std::min<size_t>(out.size() - have, UINT_MAX);
    zs.next_out = out.data() + have;
    zs.avail_out = static_cast<uInt>(room);
    int rc = inflate(&zs, Z_NO_FLUSH);
    have += room - zs.avail_out;
    if (have > maxOutput) ThrowLimit(maxOutput);
    if (rc == Z_STREAM_END) break;  // bytes after the end of the zlib stream are ignored
    if (rc == Z_OK) continue;
    if (rc == Z_BUF_ERROR) {
      // No progress possible: either the output is full (grow and go on) or
      // the input ran out before the end of the stream (truncated data).
      if (zs.avail_out == 0 || (zs.avail_in == 0 && used < n)) continue;
      break;
    }
    if (rc == Z_MEM_ERROR) throw std::bad_alloc();
    // Z_DATA_ERROR, Z_NEED_DICT, Z_STREAM_ERROR
    if (have > 0) break;
    throw EDecompressionError(zs.msg ? zs.msg : zError(rc));
  }
  return std::vector<uint8_t>(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(have));
}

int ZlibLevel(int level) {
  switch (std::clamp(level, 0, 3)) {
    case 0: return Z_NO_COMPRESSION;
    case 1: return Z_BEST_SPEED;
    case 2: return Z_DEFAULT_COMPRESSION;
    default: return Z_BEST_COMPRESSION;
  }
}

std::vector<uint8_t> Deflate(const uint8_t* p, size_t n, int level) {
  uLongf size = compressBound(static_cast<uLong>(n));
  std::vector<uint8_t> out(size);
  int rc = compress2(out.data(), &size, p, static_cast<uLong>(n), ZlibLevel(level));
  if (rc == Z_MEM_ERROR) throw std::bad_alloc();
  if (rc != Z_OK) throw Exception(zError(rc));
  out.resize(size);
  return out;
}

}  // namespace

// ---- TkxFilter ----

std::vector<uint8_t> TkxFilter::CompressStream(const std::vector<uint8_t>&, int) {
  throw EUnsupportedFilterError("Unsupported filter");
}
std::string TkxFilter::CompressString(std::string_view, int) { throw EUnsupportedFilterError("Unsupported filter"); }
std::vector<uint8_t> TkxFilter::EncodeStream(const std::vector<uint8_t>&) {
  throw EUnsupportedFilterError("Unsupported filter");
}
std::string TkxFilter::EncodeString(std::string_view) { throw EUnsupportedFilterError("Unsupported filter"); }

// ---- TkxFlateFilter ----

std::vector<uint8_t> TkxFlateFilter::CompressStream(const std::vector<uint8_t>& source, int level) {
  return Deflate(source.data(), source.size(), level);
}
std::string TkxFlateFilter::CompressString(std::string_view source, int level) {
  return ToString(Deflate(Bytes(source), source.size(), level));
}
std::vector<uint8_t> TkxFlateFilter::DecodeStream(const std::vector<uint8_t>& source) {
  return Inflate(source.data(), source.size(), MaxOutput);
}
std::string TkxFlateFilter::DecodeString(std::string_view source) {
  return ToString(Inflate(Bytes(source), source.size(), MaxOutput));
}

// ---- TkxAscii85Filter ----

std::vector<uint8_t> TkxAscii85Filter::EncodeStream(const std::vector<uint8_t>& source) {
  return ToBytes(A85Encode(source.data(), source.size()));
}
std::string TkxAscii85Filter::EncodeString(std::string_view source) { return A85Encode(Bytes(source), source.size()); }
std::vector<uint8_t> TkxAscii85Filter::DecodeStream(const std::vector<uint8_t>& source) {
  return A85Decode(source.data(), source.size(), MaxOutput);
}
std::string TkxAscii85Filter::DecodeString(std::string_view source) {
  return ToString(A85Decode(Bytes(source), source.size(), MaxOutput));
}

// ---- TkxAsciiHexFilter ----

std::string TkxAsciiHexFilter::EncodeString(std::string_view source) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(source.size() * 2 + 1);
  for (unsigned char c : source) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  out += '>';
  return out;
}
std::vector<uint8_t> TkxAsciiHexFilter::EncodeStream(const std::vector<uint8_t>& source) {
  return ToBytes(EncodeString(std::string_view(reinterpret_cast<const char*>(source.data()), source.size())));
}
std::vector<uint8_t> TkxAsciiHexFilter::DecodeStream(const std::vector<uint8_t>& source) {
  return HexDecode(source.data(), source.size(), true, MaxOutput);
}
std::string TkxAsciiHexFilter::DecodeString(std::string_view source) {
  return ToString(HexDecode(Bytes(source), source.size(), true, MaxOutput));
}

// ---- TkxRLEFilter ----

std::vector<uint8_t> TkxRLEFilter::EncodeStream(const std::vector<uint8_t>& source) {
  return ToBytes(RLEEncode(source.data(), source.size()));
}
std::string TkxRLEFilter::EncodeString(std::string_view source) { return RLEEncode(Bytes(source), source.size()); }
std::vector<uint8_t> TkxRLEFilter::DecodeStream(const std::vector<uint8_t>& source) {
  return RLEDecode(source.data(), source.size(), MaxOutput);
}
std::string TkxRLEFilter::DecodeString(std::string_view source) {
  return ToString(RLEDecode(Bytes(source), source.size(), MaxOutput));
}

// ---- TkxLZWFilter ----

namespace {
constexpr unsigned kClearCode = 256;
constexpr unsigned kEndCode = 257;
constexpr unsigned kFirstFreeCode = 258;
constexpr unsigned kMaxCodes = 4096;  // 12-bit codes
}  // namespace

TkxLZWFilter::TkxLZWFilter(size_t maxOutput, int earlyChange)
    : TkxFilter(maxOutput), EarlyChange(earlyChange), table_(kMaxCodes) {
  ResetTable();
}

void TkxLZWFilter::ResetTable() { std::fill(table_.begin(), table_.end(), Entry{}); }

// Every table entry is an earlier output string followed by the first byte
// of the string decoded after it, so it is always a run of the output
// decoded so far and is kept as (offset, length) into it.
//
// Once all 4096 codes are assigned the table stays as it is until the next
// clear code. Codes beyond the entries assigned so far (only the newest one is
// legitimate) decode as the previous string plus its first byte, so hostile
// data yields bytes, never a read outside the table or the output.
void TkxLZWFilter::Decode(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  ResetTable();
  const unsigned early = EarlyChange ? 1 : 0;
  unsigned width = 9;
  unsigned count = kFirstFreeCode;
  bool havePrev = false;
  size_t prevOff = 0;
  uint32_t prevLen = 0;
  uint8_t lastFirst = 'A';  // only used by a bad code before any output
  uint64_t bitBuf = 0;
  unsigned bits = 0;
  size_t pos = 0;
  for (;;) {
    while (bits < width && pos < size) {
      bitBuf = bitBuf << 8 | data[pos++];
      bits += 8;
    }
    if (bits < width) break;  // leftover bits at the end are padding
    bits -= width;
    const unsigned code = static_cast<unsigned>(bitBuf >> bits) & ((1u << width) - 1);
    bitBuf &= (uint64_t(1) << bits) - 1;

    if (code == kClearCode) {
      count = kFirstFreeCode;
      width = 9;
      havePrev = false;
      continue;
    }
    if (code == kEndCode) break;

    const size_t off = out.size();
    uint32_t len;
    if (code < 256) {
      len = 1;
      CheckGrowth(off, len, MaxOutput);
      out.push_back(static_cast<uint8_t>(code));
    } else if (code < count) {
      const Entry e = table_[code];
      len = e.length;
      CheckGrowth(off, len, MaxOutput);
      out.resize(off + len);
      std::memcpy(out.data() + off, out.data() + e.offset, len);
    } else if (havePrev) {
      len = prevLen + 1;
      CheckGrowth(off, len, MaxOutput);
      out.resize(off + len);
      std::memcpy(out.data() + off, out.data() + prevOff, prevLen);
      out[off + prevLen] = out[prevOff];
    } else {
      len = 1;
      CheckGrowth(off, len, MaxOutput);
      out.push_back(lastFirst);
    }
    lastFirst = out[off];

    if (havePrev && count < kMaxCodes) {
      table_[count++] = Entry{prevOff, prevLen + 1};
      if (width < 12 && count + early >= (1u << width)) ++width;
    }
    havePrev = true;
    prevOff = off;
    prevLen = len;
  }
}

std::vector<uint8_t> TkxLZWFilter::DecodeStream(const std::vector<uint8_t>& source) {
  std::vector<uint8_t> out;
  out.reserve(std::min(MaxOutput, source.size() * 3));
  Decode(source.data(), source.size(), out);
  return out;
}

std::string TkxLZWFilter::DecodeString(std::string_view source) {
  std::vector<uint8_t> out;
  Decode(Bytes(source), source.size(), out);
  return ToString(out);
}

// ---- Names and chains ----

TkxDecodeFilter FilterFromName(std::string_view name) {
  struct Known {
    std::string_view name;
    TkxDecodeFilter kind;
  };
  static constexpr Known kKnown[] = {
      {"/ASCIIHexDecode", ftASCIIHexDecode},
      {"/ASCII85Decode", ftASCII85Decode},
      {"/A85", ftASCII85Decode},
      {"/FlateDecode", ftFlateDecode},
      {"/RunLengthDecode", ftRunLengthDecode},
      {"/LZWDecode", ftLZWDecode},
      {"/CCITTFaxDecode", ftCCITTFaxDecode},
      {"/DCTDecode", ftDCTDecode},
      // The short names belong to inline images, but producers write them on
      // streams too and every common reader accepts them there; refusing one
      // would lose a whole page.
      {"/AHx", ftASCIIHexDecode},
      {"/Fl", ftFlateDecode},
      {"/RL", ftRunLengthDecode},
      {"/LZW", ftLZWDecode},
      {"/CCF", ftCCITTFaxDecode},
      {"/DCT", ftDCTDecode},
  };
  for (const Known& k : kKnown)
    if (k.name == name) return k.kind;
  throw EUnsupportedFilterError(FormatMsg("Unsupported filter (%s)", name));
}

TkxDecodeFilters GetDecodeFilters(const TkxPDFObject* filter) {
  TkxDecodeFilters chain;
  if (!filter || IsNull(filter)) return chain;
  if (const TkxPDFNameObject* n = AsName(filter)) {
    chain.push_back(FilterFromName(n->Text));
    return chain;
  }
  const TkxPDFArrayObject* a = AsArray(filter);
  if (!a)
    throw EUnexpectedFilterObject(FormatMsg("Unexpected filter object, found (%s)", KindDisplayName(filter->Kind)));
  for (const PDFObjectPtr& item : a->Items) {
    const TkxPDFNameObject* n = AsName(item.get());
    if (!n)
      throw EUnexpectedFilterObject(
          FormatMsg("Unexpected filter object, found (%s)", item ? KindDisplayName(item->Kind) : "nothing"));
    chain.push_back(FilterFromName(n->Text));
  }
  return chain;
}

std::vector<uint8_t> DecodeWithFilter(TkxDecodeFilter kind, const std::vector<uint8_t>& data,
                                      const TkxDecodeParams& params, size_t maxOutput) {
  // Binary encodings (Flate, LZW) keep their trailing bytes: they carry their
  // own end, and a last byte that happens to be 10 or 13 is real data.
  switch (kind) {
    case ftASCIIHexDecode: {
      size_t n = WithoutTrailingEol(data.data(), data.size());
      return HexDecode(data.data(), n, n > 0 && data[n - 1] == '>', maxOutput);
    }
    case ftASCII85Decode: return A85Decode(data.data(), WithoutTrailingEol(data.data(), data.size()), maxOutput);
    case ftRunLengthDecode: return RLEDecode(data.data(), WithoutTrailingEol(data.data(), data.size()), maxOutput);
    case ftFlateDecode: return ApplyPredictor(Inflate(data.data(), data.size(), maxOutput), params);
    case ftLZWDecode: {
      TkxLZWFilter lzw(maxOutput, params.EarlyChange);
      return ApplyPredictor(lzw.DecodeStream(data), params);
    }
    case ftCCITTFaxDecode:
    case ftDCTDecode: return data;
  }
  throw EUnsupportedFilterError("Unsupported filter");
}

std::string DecodeStringWithFilter(TkxDecodeFilter kind, std::string_view data, size_t maxOutput) {
  switch (kind) {
    case ftASCIIHexDecode: {
      size_t n = WithoutTrailingEol(Bytes(data), data.size());
      return ToString(HexDecode(Bytes(data), n, n > 0 && data[n - 1] == '>', maxOutput));
    }
    case ftASCII85Decode:
      return ToString(A85Decode(Bytes(data), WithoutTrailingEol(Bytes(data), data.size()), maxOutput));
    case ftRunLengthDecode:
      return ToString(RLEDecode(Bytes(data), WithoutTrailingEol(Bytes(data), data.size()), maxOutput));
    case ftFlateDecode: return TkxFlateFilter(maxOutput).DecodeString(data);
    case ftLZWDecode: return TkxLZWFilter(maxOutput).DecodeString(data);
    case ftDCTDecode: return std::string(data);
    default: break;
  }
  throw EUnsupportedFilterError("Unsupported filter");
}

std::vector<uint8_t> ApplyDecodeFilters(const std::vector<uint8_t>& raw, const TkxPDFObject* filter,
                                        const TkxPDFObject* decodeParms, size_t maxOutput) {
  const TkxDecodeFilters chain = GetDecodeFilters(filter);
  if (chain.size() > kMaxFilterChainLength)
    throw ELimitExceeded(FormatMsg("Filter chain too long (%d filters)", static_cast<long long>(chain.size())));
  const TkxPDFArrayObject* parmsArray = AsArray(decodeParms);
  std::vector<uint8_t> work;
  const std::vector<uint8_t>* current = &raw;
  for (size_t i = 0; i < chain.size(); ++i) {
    if (chain[i] == ftDCTDecode || chain[i] == ftCCITTFaxDecode) continue;
    const TkxPDFObject* parms = parmsArray ? parmsArray->Get(static_cast<int>(i)) : decodeParms;
    work = DecodeWithFilter(chain[i], *current, ReadDecodeParams(parms), maxOutput);
    current = &work;
  }
  if (current == &raw) return raw;
  return work;
}

}  // namespace pw
