#include "host/FileGuesses.h"

#include <algorithm>
#include <cctype>

#include "formats/text/CsvFile.h"
#include "formats/text/TextEncodingName.h"
#include "outside/utl/ConfigurationSection.h"
#include "outside/utl/HtmlUtilities.h"
#include "outside/utl/QmFile.h"

namespace kelto::host {

const char* FormatForExtension(const std::string& path) {
    std::string extension = QmGetFileExtension(path);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == "tsv" || extension == "tab" ? "Text File" : nullptr;
}

CsvGuess GuessCsvOptions(const std::string& path) {
    CsvGuess guess;
    guess.encoding = kelto::text::DetectedEncoding(path);
    CsvFile file;
    if (file.Open(true, path.c_str(), nullptr) == 0) guess.delimiter = std::string(1, file.GetDelimiter());
    return guess;
}

std::string CsvOptionsDocument(const CsvGuess& guess) {
    TinyXML2Section document;
    std::unique_ptr<ConfigurationSection> settings = document.CreateSection("Settings");
    std::string delimiter = guess.delimiter;
    HtmlUtilities::URIEncode(delimiter);
    settings->WriteKey("Delimiter", delimiter);
    settings->WriteKey("Encoding", guess.encoding);
    std::string text;
    document.Flush(text, false);
    return text;
}

}  // namespace kelto::host
