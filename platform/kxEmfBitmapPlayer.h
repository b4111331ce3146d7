// Playback of an enhanced metafile onto a bitmap, drawn with cairo, the
// source's frame mapped onto a destination rectangle, as the platform's
// metafile playback does.
#pragma once

#include "platform/kxEmf.h"
#include "platform/kxGraphics.h"

namespace pw {

class TkxBitmap;

// Draws src onto bitmap, its frame stretched onto dest (bitmap pixels):
// paths, polygons and the shape records, pens with caps, joins and dashes,
// solid and pattern brushes, clipping (regions, rectangles, paths), text
// through the font manager's faces, and device-independent bitmaps.
void PlayMetafile(const TkxMetafile& src, TkxBitmap& bitmap, const TkxRectF& dest);

}  // namespace pw
