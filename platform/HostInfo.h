#pragma once
// The host application's name, used where a message names the application. A host sets it
// once at start; until then it is "VANTU".
#include <string>

#include "plugin/Export.h"

namespace kelto::platform {

KELTO_API std::string HostApplicationName();
KELTO_API void SetHostApplicationName(const std::string& name);

}  // namespace kelto::platform
