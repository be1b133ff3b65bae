#pragma once
// The log of the host. Messages go to a sink the host installs; without one they go to the
// file named by the environment variable KELTO_LOG_FILE (appended to), and without that
// nowhere.
#include <functional>
#include <string>

#include "plugin/Export.h"

class KELTO_API Log {
public:
    enum Importance : int { Trace = 0, Debug = 1, Info = 2, Warning = 3, Error = 4, Critical = 5 };

    struct Entry {
        std::string source;  // who writes ("ImportHelper")
        std::string tag;     // what kind of entry ("PutMsgMB")
        std::string text;
        int importance = Info;
        bool flush = false;  // the writer asks for the entry to reach its destination now
    };
    using Sink = std::function<void(const Entry&)>;

    // One entry. Never throws; a failing sink is ignored.
    static void WriteMessage(const std::string& source, const std::string& tag, const std::string& text,
                             int importance, bool flush = false);
    // Installs the host's sink and returns the previous one; an empty sink restores the
    // default (the KELTO_LOG_FILE file, or silence).
    static Sink SetSink(Sink sink);
};
