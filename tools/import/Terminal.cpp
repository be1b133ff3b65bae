#include "tools/import/Terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace kelto::cli {

bool Terminal::barShown_ = false;

std::mutex& Terminal::Mutex() {
    static std::mutex m;
    return m;
}

bool Terminal::StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

bool Terminal::StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

int Terminal::Columns() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

void Terminal::ClearBarLocked() {
    if (!barShown_) return;
    std::fputs("\r\033[K", stderr);
    barShown_ = false;
}

void Terminal::Line(const std::string& text) {
    std::lock_guard lock(Mutex());
    ClearBarLocked();
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void Terminal::DrawBar(const std::string& text) {
    std::lock_guard lock(Mutex());
    std::fputc('\r', stderr);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputs("\033[K", stderr);
    std::fflush(stderr);
    barShown_ = true;
}

void Terminal::ClearBar() {
    std::lock_guard lock(Mutex());
    ClearBarLocked();
    std::fflush(stderr);
}

bool Terminal::AskYesNo(const std::string& question, bool fallback) {
    // The lock is held through the answer: the bar must not redraw over the question.
    std::lock_guard lock(Mutex());
    ClearBarLocked();
    while (true) {
        std::fprintf(stderr, "%s [y/n] ", question.c_str());
        std::fflush(stderr);
        std::string answer;
        if (!std::getline(std::cin, answer)) {
            std::fputc('\n', stderr);
            return fallback;
        }
        std::size_t first = answer.find_first_not_of(" \t\r");
        char c = first == std::string::npos ? '\0' : answer[first];
        if (c == 'y' || c == 'Y') return true;
        if (c == 'n' || c == 'N') return false;
    }
}

std::string OneLine(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default: out += c;
        }
    }
    return out;
}

std::string Flatten(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    bool pendingBreak = false;
    for (char c : text) {
        if (c == '\n' || c == '\r') {
            pendingBreak = true;
            while (!out.empty() && (out.back() == ' ' || out.back() == '\t')) out.pop_back();
            continue;
        }
        if (pendingBreak) {
            if (c == ' ' || c == '\t') continue;
            if (!out.empty()) out += ' ';
            pendingBreak = false;
        }
        out += c;
    }
    return out;
}

}  // namespace kelto::cli
