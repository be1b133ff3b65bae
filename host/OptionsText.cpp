#include "host/OptionsText.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "outside/utl/BinaryIO.h"
#include "outside/utl/ConfigurationSection.h"
#include "outside/utl/HtmlUtilities.h"

namespace kelto::host {

namespace {

constexpr const char* kSettings = "Settings";

// "\t" is a tab and "\\" a backslash; any other backslash stays as it is.
std::string UnescapeDelimiter(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size() && (value[i + 1] == 't' || value[i + 1] == '\\')) {
            out += value[i + 1] == 't' ? '\t' : '\\';
            ++i;
        } else {
            out += value[i];
        }
    }
    return out;
}

// Names separated by ";"; "\;" is a ";" inside a name and "\\" a backslash. An empty value is
// an empty list.
std::vector<std::string> SplitSheets(const std::string& value) {
    std::vector<std::string> names;
    if (value.empty()) return names;
    std::string name;
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == '\\' && i + 1 < value.size() && (value[i + 1] == ';' || value[i + 1] == '\\')) {
            name += value[++i];
        } else if (c == ';') {
            names.push_back(std::move(name));
            name.clear();
        } else {
            name += c;
        }
    }
    names.push_back(std::move(name));
    return names;
}

}  // namespace

std::optional<std::string> RecordText(const QmImportOpenOptions& record) {
    if (!record.data || record.size < 1) return std::nullopt;
    std::istringstream in(std::string(record.data, static_cast<std::size_t>(record.size)));
    std::string text;
    if (!ReadBinaryString(in, text)) return std::nullopt;
    // The text must be the whole record: a binary record may start like a short string.
    if (in.peek() != std::char_traits<char>::eof()) return std::nullopt;
    if (!IsOptionsDocument(text)) return std::nullopt;
    return text;
}

bool IsOptionsDocument(const std::string& text) {
    std::unique_ptr<TinyXML2Section> document = TinyXML2Section::CreateXMLSectionFromString(text.c_str());
    return document && document->GetSection(kSettings) != nullptr;
}

bool IsBrukerFormat(const std::string& formatName) {
    return formatName == "Bruker OPUS File" || formatName == "Bruker OPUS Interpolated File";
}

BatchImportSettings::BrukerOptions BrukerOptionsFromText(const std::string& text) {
    std::unique_ptr<TinyXML2Section> document = TinyXML2Section::CreateXMLSectionFromString(text.c_str());
    std::unique_ptr<ConfigurationSection> section = document ? document->GetSection(kSettings) : nullptr;
    if (!section) throw std::invalid_argument("not an options document (no \"Settings\" section)");
    BatchImportSettings::BrukerOptions options;
    if (section->HasKey("Points") && !section->ReadKey("Points", options.points))
        throw std::invalid_argument("\"Points\" must be a whole number");
    if (section->HasKey("FirstX") && !section->ReadKey("FirstX", options.firstX))
        throw std::invalid_argument("\"FirstX\" must be a number");
    if (section->HasKey("LastX") && !section->ReadKey("LastX", options.lastX))
        throw std::invalid_argument("\"LastX\" must be a number");
    return options;
}

std::string BrukerDefaultsDocument() {
    TinyXML2Section document;
    std::unique_ptr<ConfigurationSection> settings = document.CreateSection(kSettings);
    settings->WriteKey("Points", 0);
    settings->WriteKey("FirstX", 0.0);
    settings->WriteKey("LastX", 0.0);
    std::string text;
    document.Flush(text, false);
    return text;
}

std::string EmptyOptionsDocument() {
    TinyXML2Section document;
    document.CreateSection(kSettings);
    std::string text;
    document.Flush(text, false);
    return text;
}

bool ParseSetting(const std::string& argument, Setting& setting) {
    std::size_t equals = argument.find('=');
    if (equals == std::string::npos || equals == 0) return false;
    setting.key = argument.substr(0, equals);
    setting.value = argument.substr(equals + 1);
    return true;
}

std::string ApplySettings(const std::string& text, const std::vector<Setting>& settings,
                          std::vector<std::string>& newKeys) {
    std::unique_ptr<TinyXML2Section> document = TinyXML2Section::CreateXMLSectionFromString(text.c_str());
    std::unique_ptr<ConfigurationSection> section = document ? document->GetSection(kSettings) : nullptr;
    if (!section) throw std::invalid_argument("not an options document (no \"Settings\" section)");
    for (const Setting& s : settings) {
        if (!section->HasKey(s.key) && std::find(newKeys.begin(), newKeys.end(), s.key) == newKeys.end())
            newKeys.push_back(s.key);
        if (s.key == "Delimiter") {
            std::string encoded = UnescapeDelimiter(s.value);
            HtmlUtilities::URIEncode(encoded);
            section->WriteKey(s.key, encoded);
        } else if (s.key == "Sheets") {
            std::vector<std::string> names = SplitSheets(s.value);
            for (std::string& name : names) HtmlUtilities::URIEncode(name);
            section->WriteKey(s.key, names, ';');
        } else {
            section->WriteKey(s.key, s.value);
        }
    }
    std::string out;
    document->Flush(out, false);
    return out;
}

}  // namespace kelto::host
