// Stream filters: turning the raw bytes of a PDF stream into decoded bytes
// through the chain named by its /Filter entry, and zlib compression for the
// pictures the RTF writer produces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/kxClasses.h"
#include "pdf/kxPDFObjects.h"
#include "pdf/kxPredictors.h"

namespace pw {

enum TkxDecodeFilter {
  ftASCIIHexDecode = 0,
  ftASCII85Decode,
  ftFlateDecode,
  ftRunLengthDecode,
  ftLZWDecode,
  ftCCITTFaxDecode,
  ftDCTDecode
};
using TkxDecodeFilters = std::vector<TkxDecodeFilter>;

// Largest decoded stream accepted by default; larger output raises
// ELimitExceeded while decoding (a small compressed stream can expand
// without bound).
inline constexpr size_t kDefaultMaxDecodedSize = size_t(256) << 20;
// Longest filter chain accepted; real files use one to three stages.
inline constexpr size_t kMaxFilterChainLength = 32;

// zlib refused the data before anything could be decoded; what() is zlib's text.
class EDecompressionError : public Exception {
 public:
  explicit EDecompressionError(const std::string& msg) : Exception(msg) {}
};

// Base of the filters. A filter object serves one decoding call. The decoders
// never produce more than MaxOutput bytes: they raise ELimitExceeded instead.
class TkxFilter {
 public:
  explicit TkxFilter(size_t maxOutput = kDefaultMaxDecodedSize) : MaxOutput(maxOutput) {}
  virtual ~TkxFilter() = default;

  // Only the Flate filter compresses, and only the text filters and RunLength
  // encode; the others raise EUnsupportedFilterError("Unsupported filter").
  virtual std::vector<uint8_t> CompressStream(const std::vector<uint8_t>& source, int level);
  virtual std::string CompressString(std::string_view source, int level);
  virtual std::vector<uint8_t> EncodeStream(const std::vector<uint8_t>& source);
  virtual std::string EncodeString(std::string_view source);
  virtual std::vector<uint8_t> DecodeStream(const std::vector<uint8_t>& source) = 0;
  virtual std::string DecodeString(std::string_view source) = 0;

  size_t MaxOutput;
};

class TkxFlateFilter : public TkxFilter {
 public:
  using TkxFilter::TkxFilter;
  // level 0 stored, 1 fastest, 2 zlib's default, 3 best; other values are clamped.
  std::vector<uint8_t> CompressStream(const std::vector<uint8_t>& source, int level) override;
  std::string CompressString(std::string_view source, int level) override;
  std::vector<uint8_t> DecodeStream(const std::vector<uint8_t>& source) override;
  std::string DecodeString(std::string_view source) override;
};

class TkxAscii85Filter : public TkxFilter {
 public:
  using TkxFilter::TkxFilter;
  std::vector<uint8_t> EncodeStream(const std::vector<uint8_t>& source) override;
  std::string EncodeString(std::string_view source) override;
  std::vector<uint8_t> DecodeStream(const std::vector<uint8_t>& source) override;
  std::string DecodeString(std::string_view source) override;
};

class TkxAsciiHexFilter : public TkxFilter {
 public:
  using TkxFilter::TkxFilter;
  std::vector<uint8_t> EncodeStream(const std::vector<uint8_t>& source) override;
  std::string EncodeString(std::string_view source) override;
  std::vector<uint8_t> DecodeStream(const std::vector<uint8_t>& source) override;
  std::string DecodeString(std::string_view source) override;
};

class TkxRLEFilter : public TkxFilter {
 public:
  using TkxFilter::TkxFilter;
  std::vector<uint8_t> EncodeStream(const std::vector<uint8_t>& source) override;
  std::string EncodeString(std::string_view source) override;
  std::vector<uint8_t> DecodeStream(const std::vector<uint8_t>& source) override;
  std::string DecodeString(std::string_view source) override;
};

class TkxLZWFilter : public TkxFilter {
 public:
  explicit TkxLZWFilter(size_t maxOutput = kDefaultMaxDecodedSize, int earlyChange = 1);
  std::vector<uint8_t> DecodeStream(const std::vector<uint8_t>& source) override;
  std::string DecodeString(std::string_view source) override;

  int EarlyChange;  // 1: the code width grows one entry early (the usual case)

 private:
  void ResetTable();
  void Decode(const uint8_t* data, size_t size, std::vector<uint8_t>& out);
  // Entry n >= 258 is a run of already decoded output: (offset, length).
  // Codes below 256 stand for themselves; 256 and 257 are control codes.
  struct Entry {
    size_t offset = 0;
    uint32_t length = 0;
  };
  std::vector<Entry> table_;
};

// "/FlateDecode" -> ftFlateDecode; the name includes its slash and compares
// case-sensitively. "/A85" is the one abbreviation accepted. Anything else
// raises EUnsupportedFilterError "Unsupported filter (<name>)".
TkxDecodeFilter FilterFromName(std::string_view nameWithSlash);

// A name gives a one-stage chain, an array one stage per name in order;
// absent (nullptr) or a null object gives an empty chain. Anything else, or a
// non-name array item, raises EUnexpectedFilterObject. The value must already
// be resolved.
TkxDecodeFilters GetDecodeFilters(const TkxPDFObject* filter);

// Decodes raw stream data through its whole chain. decodeParms is one
// dictionary (used for every stage) or an array parallel to the chain (null
// entries allowed); it may be absent. Predictors and EarlyChange apply to the
// Flate and LZW stages. DCT and CCITT data pass through unchanged. Output of
// any stage above maxOutput bytes raises ELimitExceeded.
std::vector<uint8_t> ApplyDecodeFilters(const std::vector<uint8_t>& raw, const TkxPDFObject* filter,
                                        const TkxPDFObject* decodeParms = nullptr,
                                        size_t maxOutput = kDefaultMaxDecodedSize);

// One stage of the chain. Text-encoded and RunLength data lose their trailing
// CR/LF bytes first (the end of line before "endstream" is often counted in
// /Length); ASCIIHex data gets its missing ">". CCITT and DCT data pass
// through unchanged.
std::vector<uint8_t> DecodeWithFilter(TkxDecodeFilter kind, const std::vector<uint8_t>& data,
                                      const TkxDecodeParams& params = {}, size_t maxOutput = kDefaultMaxDecodedSize);

// The same stage on a byte string; DCT data is returned as it is and CCITT
// raises EUnsupportedFilterError "Unsupported filter".
std::string DecodeStringWithFilter(TkxDecodeFilter kind, std::string_view data,
                                   size_t maxOutput = kDefaultMaxDecodedSize);

}  // namespace pw
