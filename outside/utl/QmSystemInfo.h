#pragma once
// Facts about the running program.
#include <string>

#include "plugin/Export.h"

class KELTO_API QmSystemInfo {
public:
    // The host application's name, for messages that name it.
    static std::string GetApplicationName();
};
