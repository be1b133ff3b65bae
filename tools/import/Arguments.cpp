#include "tools/import/Arguments.h"

#include <algorithm>
#include <charconv>
#include <map>

namespace kelto::cli {

namespace {

enum class Flag { Json, Format, Options, Set, MaxRows, MaxColumns, To, Output, Help };

struct OptionName {
    const char* name;
    Flag flag;
    bool takesValue;
};

constexpr OptionName kOptions[] = {
    {"--json", Flag::Json, false},        {"--format", Flag::Format, true},   {"--options", Flag::Options, true},
    {"--set", Flag::Set, true},           {"--max-rows", Flag::MaxRows, true}, {"--max-columns", Flag::MaxColumns, true},
    {"--to", Flag::To, true},             {"--output", Flag::Output, true},   {"-o", Flag::Output, true},
    {"--help", Flag::Help, false},        {"-h", Flag::Help, false},
};

// The options each command takes (--help goes with all of them).
const std::map<std::string, std::vector<Flag>>& Commands() {
    static const std::map<std::string, std::vector<Flag>> commands = {
        {"formats", {Flag::Json}},
        {"detect", {}},
        {"options", {Flag::Format, Flag::Options, Flag::Set}},
        {"show", {Flag::Format, Flag::Options, Flag::Set, Flag::MaxRows, Flag::MaxColumns, Flag::Json}},
        {"convert", {Flag::Format, Flag::Options, Flag::Set, Flag::To, Flag::Output}},
    };
    return commands;
}

long long Count(const std::string& option, const std::string& value) {
    long long n = 0;
    auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (ec != std::errc() || end != value.data() + value.size() || n < 0)
        throw UsageError(option + " wants a whole number of 0 or more, not '" + value + "'");
    return n;
}

}  // namespace

Arguments ParseArguments(int argc, const char* const* argv) {
    Arguments a;
    int i = 1;
    // Options of the program itself, before the command.
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            a.help = true;
        } else if (arg == "--version") {
            a.version = true;
        } else if (arg == "--verbose" || arg == "-v") {
            a.verbose = true;
        } else if (arg == "--plugin-dir" || arg.rfind("--plugin-dir=", 0) == 0) {
            if (arg.size() > 12) {
                a.pluginDirectory = arg.substr(13);
            } else {
                if (i + 1 >= argc) throw UsageError("--plugin-dir wants a directory");
                a.pluginDirectory = argv[++i];
            }
        } else if (!arg.empty() && arg[0] == '-') {
            throw UsageError("unknown option '" + arg + "'");
        } else {
            break;
        }
    }
    if (i >= argc) return a;
    a.command = argv[i++];
    auto command = Commands().find(a.command);
    if (command == Commands().end()) throw UsageError("unknown command '" + a.command + "'");
    const std::vector<Flag>& allowed = command->second;

    bool filesOnly = false;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (filesOnly || arg == "-" || arg.empty() || arg[0] != '-') {
            a.files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            filesOnly = true;
            continue;
        }
        std::string name = arg;
        std::optional<std::string> value;
        if (std::size_t equals = arg.find('='); arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        }
        const OptionName* option = std::find_if(std::begin(kOptions), std::end(kOptions),
                                                [&](const OptionName& o) { return name == o.name; });
        if (option == std::end(kOptions) ||
            (option->flag != Flag::Help && std::find(allowed.begin(), allowed.end(), option->flag) == allowed.end()))
            throw UsageError(a.command + ": unknown option '" + name + "'");
        if (option->takesValue && !value) {
            if (i + 1 >= argc) throw UsageError(a.command + ": " + name + " wants a value");
            value = argv[++i];
        } else if (!option->takesValue && value) {
            throw UsageError(a.command + ": " + name + " takes no value");
        }
        switch (option->flag) {
            case Flag::Json: a.json = true; break;
            case Flag::Help: a.help = true; break;
            case Flag::Format: a.format = *value; break;
            case Flag::Options: a.optionsFile = *value; break;
            case Flag::To: a.to = *value; break;
            case Flag::Output: a.output = *value; break;
            case Flag::MaxRows: a.maxRows = Count(name, *value); break;
            case Flag::MaxColumns: a.maxColumns = Count(name, *value); break;
            case Flag::Set: {
                Setting s;
                if (!ParseSetting(*value, s)) throw UsageError(a.command + ": --set wants KEY=VALUE, not '" + *value + "'");
                a.settings.push_back(std::move(s));
                break;
            }
        }
    }
    if (a.help) return a;
    if (a.command != "formats" && a.files.empty()) throw UsageError(a.command + ": no file given");
    if (a.command == "formats" && !a.files.empty()) throw UsageError("formats: takes no file");
    if (a.command == "convert" && a.output.empty()) throw UsageError("convert: no output file given (-o OUT)");
    return a;
}

std::string CommandIn(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i)
        if (Commands().count(argv[i])) return argv[i];
    return std::string();
}

std::string HelpText(const std::string& command) {
    if (command == "formats")
        return R"(Usage: kelto-import formats [--json]

Lists every format of every import plug-in found: this library, the *sprfile* libraries
beside the program and those of --plugin-dir. A later library's format replaces an earlier
one of the same name.

  --json   one JSON array: name, filter, save_filter, extensions, read, write, multi_file
)";
    if (command == "detect")
        return R"(Usage: kelto-import detect FILE...

Prints the format each file would be read with ("FILE: FORMAT").
Exit status 1 when a file is missing or of no known format.
)";
    if (command == "options")
        return R"(Usage: kelto-import options [--format F] [--options XML] [--set KEY=VALUE]... FILE...

Prints the format's default open options for the file(s): an XML document whose "Settings"
section holds the keys. Save it, edit it and give it back with --options. A format that
gives no document of its own says so; for CSV files the defaults this program starts
--set from are printed instead. With --options or --set it prints the document that show
and convert would pass to the reader.

  --format F         the format: its name ("CSV File"), filter text or a pattern ("*.csv");
                     detected from the first file when not given
  --options, --set   as for show
)";
    if (command == "show")
        return R"(Usage: kelto-import show [--format F] [--options XML] [--set KEY=VALUE]...
                          [--max-rows N] [--max-columns N] [--json] FILE...

Reads the file(s) into one table and prints it. Several files are read together, in one
multi-file read, where the format reads them so (multi_file 2); text, CSV and DIF files
(multi_file 1) are read one by one and their tables stacked in the order given.

  --format F         the format: name, filter text or pattern; detected when not given
  --options XML      open options: a document as `options` prints it ("-": standard input)
  --set KEY=VALUE    changes one key of the "Settings" section, starting from --options,
                     else from the format's default options. "Delimiter" takes "\t" for a
                     tab; "Sheets" takes names separated by ";" ("\;" inside a name).
                     Without --options and --set each format uses its own defaults.
  --max-rows N       rows to print (default 20, with --json all); 0: only the size line
  --max-columns N    columns to print as text (default 20; --json prints all)
  --json             one JSON object: {"format", "read_name", "columns", "rows", "cells",
                     "warnings"}; "rows" and "columns" give the table's size, "cells" the
                     printed rows. A cell is a number (single precision, shortest form),
                     an integer, a string (texts stay texts: "007"), or null (missing).

Exit status: 0 success, 1 the read failed, 2 usage error.
)";
    if (command == "convert")
        return R"(Usage: kelto-import convert [--format F] [--options XML] [--set KEY=VALUE]...
                             [--to F] -o OUT FILE...

Reads the file(s) as `show` does and writes the table to OUT.

  --to F       the output format: name, filter text or pattern ("*.dif"); without it the
               first writable format with OUT's extension
  -o, --output OUT   the file to write
  (--format, --options and --set as for show)

Exit status: 0 success, 1 the read or the write failed, 2 usage error.
)";
    return R"(Usage: kelto-import [--plugin-dir DIR] [--verbose] COMMAND [OPTIONS] FILE...

Reads data files of many formats into tables through the import plug-in libraries.

Commands:
  formats   list the formats
  detect    tell the format of files
  options   print a format's default open options for a file
  show      read files and print the table (as text or JSON)
  convert   read files and write the table in another format

  --plugin-dir DIR   also load every plug-in library in DIR
  -v, --verbose      copy the library's log to stderr
  --version          print the version
  -h, --help         this text; COMMAND --help for a command's

Errors and warnings go to stderr. When stderr is a terminal a read that takes longer than
about a second shows a progress bar there (KELTO_IMPORT_PROGRESS_DELAY_MS sets the delay).
A reader's yes/no question is asked on the terminal; without one the default (yes) is taken
and said on stderr.
)";
}

}  // namespace kelto::cli
