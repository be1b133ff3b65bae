#include "platform/HostInfo.h"

#include <mutex>

namespace kelto::platform {
namespace {

std::mutex& NameMutex() {
    static std::mutex m;
    return m;
}

std::string& Name() {
    static std::string name = "VANTU";
    return name;
}

}  // namespace

std::string HostApplicationName() {
    std::lock_guard lock(NameMutex());
    return Name();
}

void SetHostApplicationName(const std::string& name) {
    std::lock_guard lock(NameMutex());
    Name() = name;
}

}  // namespace kelto::platform
