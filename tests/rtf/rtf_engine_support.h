// Setting up an RTF engine for tests: the document goes to a stream in
// memory, with no dialog and nothing opened afterwards.
#pragma once

#include <ostream>

#include "rtf/kxRTFEngine.h"

namespace pw::test {

inline void WriteToStream(TkxRTFEngine& engine, std::ostream& out) {
  engine.Preferences().SetOpenAfterCreate(false);
  engine.Preferences().SetShowSetupDialog(false);
  engine.Preferences().SetOutputToUserStream(true);
  engine.SetUserStream(&out);
}

// The creation time every test document carries.
inline TkxDateTime FixedTime() { return TkxDateTime{2009, 3, 3, 14, 5, 0}; }

}  // namespace pw::test
