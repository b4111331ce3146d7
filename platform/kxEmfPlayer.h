// Playback of enhanced metafiles: onto another recording (the records are
// recorded again, fitted into a destination rectangle) or onto a bitmap
// (drawn with cairo). In both cases the source's frame is mapped onto the
// destination rectangle, as the platform's metafile playback does.
#pragma once

#include "platform/kxEmf.h"
#include "platform/kxEmfRecorder.h"
#include "platform/kxGraphics.h"

namespace pw {

class TkxBitmap;

// Records src again on dst, its frame stretched onto dest (device pixels of
// dst). Coordinates are rewritten in the records themselves wherever the
// source draws with an identity transform (the page canvas always does); a
// source with its own world transform or mapping mode gets the combined
// transform as world-transform records instead. Object handles are given new
// numbers in dst; the playback is bracketed by EMR_SAVEDC/EMR_RESTOREDC so
// dst's drawing state is unchanged afterwards, and the objects src leaves
// behind are deleted. Malformed records are skipped.
//
// With KeepShape, a recording stretched more down than across has its fonts
// made no taller than the stretch across allows (and never smaller than
// they were): text on a page that is only made taller stays the size it was,
// rather than growing wider than the room it had on its line.
enum class TkxStretchedText { FollowHeight, KeepShape };
void PlayMetafile(const TkxMetafile& src, TkxEmfRecorder& dst, const TkxRectF& dest,
                  TkxStretchedText text = TkxStretchedText::FollowHeight);

// Draws src onto bitmap, its frame stretched onto dest (bitmap pixels):
// paths, polygons and the shape records, pens with caps, joins and dashes,
// solid and pattern brushes, clipping (regions, rectangles, paths), text
// through the font manager's faces, and device-independent bitmaps.
void PlayMetafile(const TkxMetafile& src, TkxBitmap& bitmap, const TkxRectF& dest);

}  // namespace pw
