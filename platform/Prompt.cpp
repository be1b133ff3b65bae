#include "platform/Prompt.h"

#include <mutex>
#include <utility>

namespace kelto::platform {
namespace {

std::mutex& HookMutex() {
    static std::mutex m;
    return m;
}

PromptHook& Hook() {
    static PromptHook hook;
    return hook;
}

}  // namespace

PromptHook SetPromptHook(PromptHook hook) {
    std::lock_guard lock(HookMutex());
    return std::exchange(Hook(), std::move(hook));
}

PromptAnswer AskYesNo(const std::string& question) {
    PromptHook hook;
    {
        std::lock_guard lock(HookMutex());
        hook = Hook();
    }
    if (!hook) return PromptAnswer::Yes;
    try {
        return hook(question);
    } catch (...) {
        return PromptAnswer::No;
    }
}

}  // namespace kelto::platform
