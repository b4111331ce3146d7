// The RTF items are plain records; this unit gives them a home in the
// library.
#include "rtf/kxRTFItems.h"
