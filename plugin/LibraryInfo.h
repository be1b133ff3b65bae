#pragma once
#include "plugin/Export.h"

// The library's version text ("major.minor.patch").
KELTO_API const char* KeltoLibraryVersion();
