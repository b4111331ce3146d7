#include "platform/kxMemoryManager.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace pw {

bool TkxMemoryManager::KeepFreedMemory() {
#if defined(__GLIBC__)
  // Setting either threshold also stops glibc from moving them on its own,
  // so both are set: a fixed trim threshold alone would leave the mapping
  // threshold at 128 KB, and every larger block would be mapped and
  // unmapped each time.
  const bool mapped = mallopt(M_MMAP_THRESHOLD, static_cast<int>(kMapThreshold)) == 1;
  const bool trimmed = mallopt(M_TRIM_THRESHOLD, static_cast<int>(kTrimThreshold)) == 1;
  return mapped && trimmed;
#else
  return false;
#endif
}

}  // namespace pw
