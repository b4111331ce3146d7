// Picture records of a page recording (EMR_BITBLT, EMR_STRETCHBLT,
// EMR_MASKBLT, EMR_STRETCHDIBITS, EMR_SETDIBITSTODEVICE) turned into image
// items: the bitmap the record carries goes into the engine's picture table,
// the item takes the record's destination rectangle. A mask and its picture
// blitted to one place become one picture; a bitmap sent in bands becomes
// one picture. A blit without a bitmap paints a bar (a filled rectangle).
#pragma once

#include <cstdint>
#include <vector>

#include "engine/kxGraphic.h"
#include "engine/kxMetafileState.h"
#include "platform/kxEmf.h"

namespace pw {

// DIB compression value of bits that are a whole JPEG file.
constexpr uint32_t kBI_JPEG = 4;

// Turns a picture record into items; false for records of other types.
// Records whose header or bits lie outside them take the bitmap-less path.
bool ProcessPictureRecord(TkxMetafileState& st, const TkxEmfRecord& r);

// The picture a record's DIB carries: a bitmap, or JPEG data kept as it is
// (BI_JPEG); an empty graphic when the data cannot be read. A header height of scanLines > 0 stands for that many
// rows (a band of a taller bitmap).
TGraphic PictureFromDib(const TkxEmfDib& dib, uint32_t scanLines = 0);

// Draws source onto target (same size; the overlapping part otherwise) with
// a raster operation as the copy mode. False for an operation that has no
// meaning without a pattern or is not one of the known ones.
bool MergeIntoImage(TkxBitmap& target, const TkxBitmap& source, uint32_t rop);

// Appends a band of scan lines below target; the result takes the band's
// width.
void AppendImageBand(TkxBitmap& target, const TkxBitmap& band);

// Paints a pending bar as a rectangle (or a line when it is flat) with the
// current brush and pen.
void FlushPendingBar(TkxMetafileState& st);

}  // namespace pw
