// CCITT fax decoding (ITU-T T.4 one- and two-dimensional coding, T.6 Group 4)
// of /CCITTFaxDecode picture data into rows of one bit per pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pw {

struct TkxFaxParams {
  int K = 0;  // < 0: Group 4; 0: one-dimensional; > 0: mixed one- and two-dimensional
  int Columns = 1728;
  int Rows = 0;  // 0: as many as the data holds
  bool EncodedByteAlign = false;
  bool BlackIs1 = false;
};

// The decoded rows as PDF samples: each row padded to whole bytes, most
// significant bit first, 1 for white and 0 for black (the other way round
// with BlackIs1). Decoding stops at the end of the data, after Rows rows or
// maxRows rows, or at a code that cannot be read (the rows decoded so far
// are kept; a row cut short is completed in white). rowsDecoded tells how
// many rows came from the data.
std::vector<uint8_t> DecodeFax(const uint8_t* data, size_t size, const TkxFaxParams& params, int maxRows,
                               int* rowsDecoded = nullptr);

// The same for two-dimensional Group 4 data (params.K is taken as -1) and
// for Group 3 data (one-dimensional, or mixed when params.K > 0).
inline std::vector<uint8_t> DecodeFaxGroup4(const uint8_t* data, size_t size, TkxFaxParams params, int maxRows,
                                            int* rowsDecoded = nullptr) {
  params.K = -1;
  return DecodeFax(data, size, params, maxRows, rowsDecoded);
}
inline std::vector<uint8_t> DecodeFaxGroup3(const uint8_t* data, size_t size, TkxFaxParams params, int maxRows,
                                            int* rowsDecoded = nullptr) {
  if (params.K < 0) params.K = 0;
  return DecodeFax(data, size, params, maxRows, rowsDecoded);
}

}  // namespace pw
