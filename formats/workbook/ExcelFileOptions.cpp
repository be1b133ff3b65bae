#include "formats/workbook/ExcelFileOptions.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "outside/utl/BinaryIO.h"
#include "outside/utl/ConfigurationSection.h"
#include "outside/utl/HtmlUtilities.h"
#include "outside/utl/QmString.h"

namespace {

constexpr const char* kSettings = "Settings";
constexpr const char* kSheets = "Sheets";
constexpr const char* kReadOrder = "ReadOrder";
constexpr const char* kAllSheets = "AllSheets";
constexpr const char* kUseIndexes = "UseIndexes";
constexpr char kSeparator = ';';

}  // namespace

std::string ExcelFileOptions::ToText() const {
    TinyXML2Section document;
    std::unique_ptr<ConfigurationSection> settings = document.CreateSection(kSettings);
    std::vector<std::string> entries;
    if (!sheetIndexes.empty()) {
        for (int index : sheetIndexes) entries.push_back(std::to_string(index));
    } else {
        entries = sheetNames;
        for (std::string& name : entries) HtmlUtilities::URIEncode(name);
    }
    settings->WriteKey(kSheets, entries, kSeparator);
    settings->WriteKey(kReadOrder, readOrder);
    settings->WriteKey(kAllSheets, allSheets);
    settings->WriteKey(kUseIndexes, !sheetIndexes.empty());
    std::string text;
    document.Flush(text, false);
    return text;
}

bool ExcelFileOptions::FromText(const std::string& text) {
    std::unique_ptr<TinyXML2Section> document = TinyXML2Section::CreateXMLSectionFromString(text.c_str());
    if (!document) return false;
    std::unique_ptr<ConfigurationSection> settings = document->GetSection(kSettings);
    if (!settings) return false;
    std::vector<std::string> entries;
    settings->ReadKey(kSheets, entries, kSeparator);
    for (std::string& entry : entries) entry = HtmlUtilities::URIDecode(entry);
    settings->ReadKey(kReadOrder, readOrder);
    settings->ReadKey(kAllSheets, allSheets);
    bool useIndexes = false;
    settings->ReadKey(kUseIndexes, useIndexes);
    sheetIndexes.clear();
    sheetNames.clear();
    if (useIndexes) {
        for (const std::string& entry : entries) {
            int index = 0;
            if (!QmString::ToInt(entry.c_str(), index) || index < 0) continue;
            if (std::find(sheetIndexes.begin(), sheetIndexes.end(), index) != sheetIndexes.end()) continue;
            sheetIndexes.push_back(index);
        }
    } else {
        sheetNames = std::move(entries);
    }
    return true;
}

void ExcelFileOptions::WriteRecord(QmImportOpenOptions& record) const {
    std::ostringstream out;
    WriteBinaryString(out, ToText());
    const std::string bytes = out.str();
    char* buffer = nullptr;
    if (!bytes.empty()) {
        buffer = new char[bytes.size()];
        std::memcpy(buffer, bytes.data(), bytes.size());
    }
    delete[] record.data;
    record.data = buffer;
    record.size = static_cast<int>(bytes.size());
}

bool ExcelFileOptions::ReadRecord(const QmImportOpenOptions& record) {
    if (!record.data || record.size < 1) return false;
    std::istringstream in(std::string(record.data, static_cast<std::size_t>(record.size)));
    std::string text;
    if (!ReadBinaryString(in, text)) return false;
    return FromText(text);
}

std::vector<std::string> ExcelFileOptions::ResolveSheetNames(const std::vector<std::string>& worksheets) const {
    if (worksheets.empty()) return {std::string()};
    if (allSheets) return worksheets;
    if (!sheetIndexes.empty()) {
        std::vector<std::string> names;
        for (int index : sheetIndexes)
            if (index >= 0 && static_cast<std::size_t>(index) < worksheets.size())
                names.push_back(worksheets[static_cast<std::size_t>(index)]);
        return names;
    }
    return sheetNames;
}

bool ExcelFileOptions::ChooseByName(const std::vector<std::string>& names, const std::vector<std::string>& worksheets) {
    const std::vector<std::string> unnamed{std::string()};
    const std::vector<std::string>& list = worksheets.empty() ? unnamed : worksheets;
    std::vector<int> indexes;
    for (const std::string& name : names) {
        auto found = std::find(list.begin(), list.end(), name);
        if (found == list.end()) return false;
        indexes.push_back(static_cast<int>(found - list.begin()));
    }
    sheetIndexes = std::move(indexes);
    sheetNames.clear();
    allSheets = false;
    return true;
}

void ExcelFileOptions::ChooseDefault(bool allowMultipleSheets) {
    sheetIndexes.assign(1, 0);
    sheetNames.clear();
    allSheets = false;
    readOrder = allowMultipleSheets ? 3 : 1;
}

void ExcelFileOptions::ClearChoice() {
    sheetIndexes.clear();
    sheetNames.clear();
    allSheets = false;
}

namespace kelto::workbook {

std::string JoinSheetNames(const std::vector<std::string>& names) {
    std::string joined;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i) joined += '_';
        joined += names[i];
    }
    return joined;
}

std::string ReadFileName(const std::string& name) {
    if (name.empty()) return std::string();
    // The names Excel gives new sheets in English, Dutch, German, French and Spanish.
    for (const char* prefix : {"Sheet", "Blad", "Tabelle", "Feuil", "Hoja"}) {
        const std::size_t n = std::strlen(prefix);
        int number = 0;
        if (name.compare(0, n, prefix) == 0 && QmString::ToInt(name.c_str() + n, number)) return std::string();
    }
    return name;
}

}  // namespace kelto::workbook
