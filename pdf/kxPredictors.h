// Row predictors that Flate and LZW data may carry (/DecodeParms):
// TIFF predictor 2 and the PNG row filters (predictors 10 to 15).
#pragma once

#include <cstdint>
#include <vector>

#include "pdf/kxPDFObjects.h"

namespace pw {

// The entries of one /DecodeParms dictionary that the decoders use.
struct TkxDecodeParams {
  int Predictor = 1;         // 1 none, 2 TIFF, 10-15 PNG (the row tags decide)
  int Colors = 1;            // samples per pixel, 1..32
  int BitsPerComponent = 8;  // 1, 2, 4, 8 or 16
  int Columns = 1;           // pixels per row, >= 1
  int EarlyChange = 1;       // LZW: code width grows one code early (1) or not (0)
};

// Reads a /DecodeParms dictionary; anything that is not a dictionary (absent,
// null) gives the defaults. Values are taken as they stand (clamped to int);
// ApplyPredictor checks them when a predictor is actually used.
TkxDecodeParams ReadDecodeParams(const TkxPDFObject* parms);

// Undoes the predictor named by params: Predictor 1 or below is none, 2 is
// TIFF, 10 and above is PNG (each row names its own filter). Predictors 3-9
// and Colors, BitsPerComponent or Columns out of range raise pw::Exception
// naming the entry. A final row shorter than a full row is decoded as far as
// it goes. Raises EImproperPNGAlgorithm for a PNG row tag above 4.
std::vector<uint8_t> ApplyPredictor(const std::vector<uint8_t>& data, const TkxDecodeParams& params);

// PNG row decoding with one byte per sample and `columns` bytes per row, as
// cross-reference streams use it. columns < 1 raises pw::Exception.
std::vector<uint8_t> DecodePNGPredictor(const std::vector<uint8_t>& data, int columns);

}  // namespace pw
