// Playback of an enhanced metafile onto another recording: the records are
// recorded again, the source's frame mapped onto a destination rectangle, as
// the platform's metafile playback does.
#pragma once

#include "platform/kxEmf.h"
#include "platform/kxEmfRecorder.h"
#include "platform/kxGraphics.h"

namespace pw {

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

}  // namespace pw
