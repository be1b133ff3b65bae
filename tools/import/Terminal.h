#pragma once
// The program's side of the terminal: every line written to stderr goes through here, so that
// a progress bar drawn on the last line is wiped before a message takes its place.
#include <mutex>
#include <string>

namespace kelto::cli {

class Terminal {
public:
    static bool StderrIsTerminal();
    static bool StdinIsTerminal();
    // Width of the terminal on stderr; 80 when it cannot be told.
    static int Columns();

    // One line (a newline is added) on stderr.
    static void Line(const std::string& text);
    // Replaces the bar line with `text` (nothing else is on that line while a bar is shown).
    static void DrawBar(const std::string& text);
    // Wipes the bar line if one is shown.
    static void ClearBar();
    // Asks a yes/no question on the terminal; true for yes. End of input answers `fallback`.
    static bool AskYesNo(const std::string& question, bool fallback);

private:
    static std::mutex& Mutex();
    static void ClearBarLocked();
    static bool barShown_;
};

// Puts a table text on one line: line breaks and tabs become visible escapes.
std::string OneLine(const std::string& text);
// Puts a message on one line: each run of line breaks (with the blanks around it) becomes
// one space.
std::string Flatten(const std::string& text);

}  // namespace kelto::cli
