#include "plugin/LibraryInfo.h"

const char* KeltoLibraryVersion() { return KELTO_VERSION; }
