#include "outside/utl/Log.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace {

std::mutex& LogMutex() {
    static std::mutex m;
    return m;
}

Log::Sink& CurrentSink() {
    static Log::Sink sink;
    return sink;
}

const char* ImportanceName(int importance) {
    static const char* const names[] = {"trace", "debug", "info", "warning", "error", "critical"};
    return importance >= 0 && importance <= 5 ? names[importance] : "info";
}

// The default destination: the file KELTO_LOG_FILE names, looked up at each entry so that a
// program may set it after start; one line per entry, with the local time.
void WriteToFile(const Log::Entry& e) {
    const char* path = std::getenv("KELTO_LOG_FILE");
    if (!path || !*path) return;
    std::FILE* f = std::fopen(path, "a");
    if (!f) return;
    std::time_t now = std::time(nullptr);
    std::tm local{};
    char stamp[32] = "";
    if (localtime_r(&now, &local)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::string text = e.text;
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    std::fprintf(f, "%s [%s] %s/%s: %s\n", stamp, ImportanceName(e.importance), e.source.c_str(), e.tag.c_str(),
                 text.c_str());
    std::fclose(f);
}

}  // namespace

void Log::WriteMessage(const std::string& source, const std::string& tag, const std::string& text, int importance,
                       bool flush) {
    try {
        Entry e{source, tag, text, importance, flush};
        // The sink runs outside the lock, so a sink that logs itself cannot deadlock.
        Sink sink;
        {
            std::lock_guard lock(LogMutex());
            sink = CurrentSink();
        }
        if (sink) {
            sink(e);
        } else {
            WriteToFile(e);
        }
    } catch (...) {
        // Logging never disturbs the caller.
    }
}

Log::Sink Log::SetSink(Sink sink) {
    std::lock_guard lock(LogMutex());
    Sink previous = std::move(CurrentSink());
    CurrentSink() = std::move(sink);
    return previous;
}
