#pragma once
// What a host can tell about a file before reading it, for the choices a user did not make:
// the format its extension stands for where detection would pick another, and the options
// of a CSV file (its delimiter and its encoding). Kept apart from the command line so that
// any host (a scripting binding too) can make the same guesses.
#include <string>

#include "plugin/Export.h"

namespace kelto::host {

// The format to read a file with by its extension alone, or null: tab-separated files
// (".tsv", ".tab") are read by "Text File", whose delimiter is the tab.
KELTO_API const char* FormatForExtension(const std::string& path);

// A CSV file's options as guessed from the file: the delimiter the CSV reader guesses from
// the first line (";" or ","), and the encoding its bytes evidently have (empty: the
// legacy code page, when nothing is sure enough).
struct KELTO_API CsvGuess {
    std::string delimiter = ",";
    std::string encoding;
};
KELTO_API CsvGuess GuessCsvOptions(const std::string& path);

// The options document of a guess, as the CSV reader reads it.
KELTO_API std::string CsvOptionsDocument(const CsvGuess& guess);

}  // namespace kelto::host
