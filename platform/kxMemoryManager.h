// The process's memory manager, set up for converting: freed memory is kept
// for the next page instead of being handed back to the system at once.
//
// A page's recording, its decoded content streams and its layout are freed
// when the page is done and the same amounts are asked for again a moment
// later. With glibc's defaults the heap top shrinks after every page and
// grows again on the next, and every page it grows by is faulted in and
// zeroed by the kernel anew: about a tenth of a text document's conversion
// time. Programs (not the library) call this once, before they convert. It
// shapes glibc's allocator; a program linked with jemalloc keeps freed
// memory for reuse on its own, and the call changes nothing there.
#pragma once

#include <cstddef>

namespace pw {

class TkxMemoryManager {
 public:
  // Blocks smaller than this come from the heap, larger ones are mapped on
  // their own and returned when freed (a scan's page bitmap).
  static constexpr size_t kMapThreshold = size_t(32) << 20;
  // The heap gives memory back only when this much lies free at its top.
  static constexpr size_t kTrimThreshold = size_t(64) << 20;

  // Applies both thresholds; true when the C library took them (false on
  // a C library without these settings, where nothing changes).
  static bool KeepFreedMemory();
};

}  // namespace pw
