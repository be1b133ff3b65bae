#pragma once
// The command line: a command, its options and its files.
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/OptionsText.h"

namespace kelto::cli {

using kelto::host::Setting;

// A mistake in the command line: reported in one line, exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Arguments {
    // Before the command.
    std::string pluginDirectory;
    bool verbose = false;
    bool version = false;

    std::string command;  // empty: none given
    bool help = false;
    bool json = false;
    std::string format;  // --format; empty: detect
    std::string optionsFile;  // --options; "-": standard input
    std::vector<Setting> settings;
    std::optional<long long> maxRows;
    std::optional<long long> maxColumns;
    std::string to;
    std::string output;
    std::vector<std::string> files;
};

// Throws UsageError for an unknown command or option, a missing or bad value.
Arguments ParseArguments(int argc, const char* const* argv);

// The command named in `argv`, for pointing to its help after a mistake; "" when none is.
std::string CommandIn(int argc, const char* const* argv);

// The help text of a command ("" for the program's own).
std::string HelpText(const std::string& command);

}  // namespace kelto::cli
