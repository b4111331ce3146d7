// fontconfig leaves a few hundred bytes unreachable while it reads its
// configuration, once per process: the converter's own font manager loads
// one configuration and cairo's fallback font another. Both are loaded here,
// before the first input and unseen by the leak checker, so that the
// checker's per-input reports stay about the code under test.
#pragma once

#include <fontconfig/fontconfig.h>
#include <sanitizer/lsan_interface.h>

#include "platform/kxFontManager.h"

inline void LoadFontConfigurations() {
  __lsan_disable();
  FcInit();
  pw::TkxFontManager::Instance();
  __lsan_enable();
}
