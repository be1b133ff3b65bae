#include "outside/utl/QmSystemInfo.h"

#include "platform/HostInfo.h"

std::string QmSystemInfo::GetApplicationName() { return kelto::platform::HostApplicationName(); }
