#pragma once
// Yes/no questions to the user. The library never opens a window itself: a reader that needs
// the user's decision asks through a process-wide hook that the host installs (a dialog in a
// desktop host, a command-line switch or a fixed policy elsewhere). Without a hook every
// question is answered Yes, so unattended use carries on; the asking reader records the
// question in its log.
//
// The hook is process-wide state of the shared library: a host that links the library sets it
// through these exported functions, and every reader of that library sees it.
#include <functional>
#include <string>

#include "plugin/Export.h"

namespace kelto::platform {

enum class PromptAnswer { Yes, No };

// Receives the question (UTF-8, already translated and filled in) and returns the user's answer.
using PromptHook = std::function<PromptAnswer(const std::string& question)>;

// Installs the host's hook; an empty function restores the default (always Yes). Returns the
// hook that was installed before, so a caller can put it back.
KELTO_API PromptHook SetPromptHook(PromptHook hook);

// Asks the question through the current hook. The hook runs without any lock held, so it may
// itself call SetPromptHook. A hook that throws counts as No: when the user could not be asked,
// nothing goes ahead on their behalf.
KELTO_API PromptAnswer AskYesNo(const std::string& question);

}  // namespace kelto::platform
