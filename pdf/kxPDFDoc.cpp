#include "pdf/kxPDFDoc.h"
