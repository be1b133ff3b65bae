#include "outside/utl/IniFileSection.h"

#include <istream>

#include <unicode/ucnv.h>

#include "outside/utl/TextEncoding.h"

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string Trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return std::string();
    std::size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

// The stream's text as UTF-8, its byte-order mark removed.
std::string ReadText(std::istream& in) {
    constexpr std::size_t kLimit = 16u << 20;
    std::string bytes;
    char chunk[8192];
    while (bytes.size() < kLimit) {
        in.read(chunk, sizeof chunk);
        std::streamsize got = in.gcount();
        if (got <= 0) break;
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
    if (bytes.size() > kLimit) bytes.resize(kLimit);
    const kelto::utl::ByteOrderMark* mark = kelto::utl::FindByteOrderMark(bytes.data(), bytes.size());
    if (!mark) return bytes;
    if (mark->kind == 1) return bytes.substr(mark->length);
    std::string text(bytes.size() * 2 + 16, '\0');
    UErrorCode err = U_ZERO_ERROR;
    int32_t n = ucnv_convert("UTF-8", mark->encoding, text.data(), static_cast<int32_t>(text.size()),
                             bytes.data() + mark->length, static_cast<int32_t>(bytes.size() - mark->length), &err);
    if (U_FAILURE(err)) return std::string();
    text.resize(static_cast<std::size_t>(n));
    return text;
}

}  // namespace

IniFileSection::IniFileSection(std::istream& in, const std::string& section) {
    std::string text = ReadText(in);
    std::string wanted = Lower(Trim(section));
    bool inside = false;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = Trim(text.substr(at, end - at));
        at = end + 1;
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            if (found_ && inside) break;  // the first section of that name only
            std::size_t close = line.find(']');
            inside = close != std::string::npos && Lower(Trim(line.substr(1, close - 1))) == wanted;
            if (inside) found_ = true;
            continue;
        }
        if (!inside) continue;
        std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string name = Lower(Trim(line.substr(0, eq)));
        std::string value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        if (name.empty()) continue;
        keys_.emplace(name, value);  // the first of repeated keys counts
        lines_.emplace_back(std::move(name), std::move(value));
    }
}

bool IniFileSection::ReadKey(const std::string& name, std::string& value) const {
    auto it = keys_.find(Lower(Trim(name)));
    if (it == keys_.end()) return false;
    value = it->second;
    return true;
}

std::vector<std::string> IniFileSection::ReadKeys(const std::string& name) const {
    const std::string wanted = Lower(Trim(name));
    std::vector<std::string> values;
    for (const auto& [key, value] : lines_)
        if (key == wanted) values.push_back(value);
    return values;
}
