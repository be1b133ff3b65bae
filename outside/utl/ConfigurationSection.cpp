#include "outside/utl/ConfigurationSection.h"
#include "platform/Utf8.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include <tinyxml2.h>

#include "outside/utl/QmString.h"

namespace {

constexpr const char* kRoot = "Configuration";
constexpr const char* kSection = "Section";
constexpr const char* kKey = "Key";
constexpr const char* kName = "name";
constexpr const char* kValue = "value";
constexpr const char* kCount = "count";

// The document is handled with tinyxml2's entity processing off, so what is escaped here is
// exactly what is unescaped on reading: the five markup characters and every control
// character (CR included, which XML parsers would otherwise fold into LF).
std::string Escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += "&#" + std::to_string(c) + ";";
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

std::string Unescape(const char* text) {
    std::string out;
    if (!text) return out;
    static const struct {
        const char* name;
        char c;
    } named[] = {{"amp;", '&'}, {"lt;", '<'}, {"gt;", '>'}, {"quot;", '"'}, {"apos;", '\''}};
    for (const char* p = text; *p;) {
        if (*p != '&') {
            out += *p++;
            continue;
        }
        const char* q = p + 1;
        bool done = false;
        for (const auto& n : named) {
            std::size_t len = std::strlen(n.name);
            if (std::strncmp(q, n.name, len) == 0) {
                out += n.c;
                p = q + len;
                done = true;
                break;
            }
        }
        if (!done && *q == '#') {
            int base = (q[1] == 'x' || q[1] == 'X') ? 16 : 10;
            const char* digits = q + (base == 16 ? 2 : 1);
            char* end = nullptr;
            bool digit = base == 16 ? std::isxdigit(static_cast<unsigned char>(*digits)) != 0 : (*digits >= '0' && *digits <= '9');
            unsigned long cp = digit ? std::strtoul(digits, &end, base) : 0;
            if (digit && *end == ';' && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF)) {
                kelto::platform::AppendUtf8(out, static_cast<std::uint32_t>(cp));
                p = end + 1;
                done = true;
            }
        }
        if (!done) out += *p++;  // a lone "&" stays as it is
    }
    return out;
}

const char* Attribute(const tinyxml2::XMLElement* e, const char* name) { return e ? e->Attribute(name) : nullptr; }

bool NameIs(const tinyxml2::XMLElement* e, const std::string& name) {
    const char* raw = e->Attribute(kName);
    return raw && Unescape(raw) == name;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t at = 0;
    for (;;) {
        std::size_t next = text.find(separator, at);
        parts.push_back(text.substr(at, next == std::string::npos ? std::string::npos : next - at));
        if (next == std::string::npos) break;
        at = next + 1;
    }
    return parts;
}

std::string Trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return std::string();
    std::size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

bool ParseInt(const std::string& text, int& value) { return QmString::ToInt(text.c_str(), value); }

// Numbers are read exactly as written (std::from_chars: subnormals included, and floats
// straight as floats, since going through double could round twice); text written by hand
// in other forms ("+1", "0x10", "inf") goes through the C-locale parser.
template <typename T>
bool FromChars(const std::string& text, T& value) {
    std::string t = Trim(text);
    T v{};
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size()) return false;
    value = v;
    return true;
}

bool ParseDouble(const std::string& text, double& value) {
    if (FromChars(text, value)) return true;
    const char* s = text.c_str();
    char* end = nullptr;
    int saved = errno;
    errno = 0;
    double v = QmString::qmstrtod(s, &end);
    bool bad = errno != 0 || end == s;
    errno = saved;
    if (bad) return false;
    while (*end == ' ' || *end == '\t') ++end;
    if (*end) return false;
    value = v;
    return true;
}

bool ParseFloat(const std::string& text, float& value) {
    return FromChars(text, value) || QmString::ToFloat(text.c_str(), value);
}

template <typename T>
std::string Shortest(T value) {
    // The shortest text that reads back as the same value, in no locale's style.
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : std::string();
}

template <typename T, typename Parse>
bool ReadNumberList(const ConfigurationSection& section, const std::string& key, std::vector<T>& values,
                    char separator, Parse parse) {
    std::vector<std::string> texts;
    if (!section.ReadKey(key, texts, separator)) return false;
    std::vector<T> parsed;
    parsed.reserve(texts.size());
    for (const std::string& t : texts) {
        T v{};
        if (!parse(Trim(t), v)) return false;
        parsed.push_back(v);
    }
    values = std::move(parsed);
    return true;
}

template <typename T>
void WriteNumberList(ConfigurationSection& section, const std::string& key, const std::vector<T>& values,
                     char separator) {
    std::vector<std::string> texts;
    texts.reserve(values.size());
    for (T v : values) texts.push_back(Shortest(v));
    section.WriteKey(key, texts, separator);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Typed keys, on top of the text forms

ConfigurationSection::~ConfigurationSection() = default;

bool ConfigurationSection::ReadKey(const std::string& key, int& value) const {
    std::string text;
    return ReadKey(key, text) && ParseInt(text, value);
}

bool ConfigurationSection::ReadKey(const std::string& key, bool& value) const {
    std::string text;
    if (!ReadKey(key, text)) return false;
    std::string t = Trim(text);
    for (char& c : t)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (t == "true" || t == "1" || t == "yes") {
        value = true;
        return true;
    }
    if (t == "false" || t == "0" || t == "no") {
        value = false;
        return true;
    }
    return false;
}

bool ConfigurationSection::ReadKey(const std::string& key, float& value) const {
    std::string text;
    return ReadKey(key, text) && ParseFloat(text, value);
}

bool ConfigurationSection::ReadKey(const std::string& key, double& value) const {
    std::string text;
    return ReadKey(key, text) && ParseDouble(text, value);
}

bool ConfigurationSection::ReadKey(const std::string& key, std::vector<int>& values, char separator) const {
    return ReadNumberList(*this, key, values, separator, ParseInt);
}

bool ConfigurationSection::ReadKey(const std::string& key, std::vector<float>& values, char separator) const {
    return ReadNumberList(*this, key, values, separator, ParseFloat);
}

bool ConfigurationSection::ReadKey(const std::string& key, std::vector<double>& values, char separator) const {
    return ReadNumberList(*this, key, values, separator, ParseDouble);
}

void ConfigurationSection::WriteKey(const std::string& key, int value) { WriteKey(key, std::to_string(value)); }

void ConfigurationSection::WriteKey(const std::string& key, bool value) {
    WriteKey(key, std::string(value ? "true" : "false"));
}

void ConfigurationSection::WriteKey(const std::string& key, float value) { WriteKey(key, Shortest(value)); }

void ConfigurationSection::WriteKey(const std::string& key, double value) { WriteKey(key, Shortest(value)); }

void ConfigurationSection::WriteKey(const std::string& key, const std::vector<int>& values, char separator) {
    WriteNumberList(*this, key, values, separator);
}

void ConfigurationSection::WriteKey(const std::string& key, const std::vector<float>& values, char separator) {
    WriteNumberList(*this, key, values, separator);
}

void ConfigurationSection::WriteKey(const std::string& key, const std::vector<double>& values, char separator) {
    WriteNumberList(*this, key, values, separator);
}

// ---------------------------------------------------------------------------------------
// The tinyxml2 document

TinyXML2Section::TinyXML2Section()
    : document_(std::make_shared<tinyxml2::XMLDocument>(false, tinyxml2::PRESERVE_WHITESPACE)), element_(nullptr) {
    element_ = document_->NewElement(kRoot);
    document_->InsertEndChild(element_);
}

TinyXML2Section::TinyXML2Section(std::shared_ptr<tinyxml2::XMLDocument> document, tinyxml2::XMLElement* element)
    : document_(std::move(document)), element_(element) {}

namespace {

// Rewrites every attribute value and text of a parsed tree in this file's escaping, so that
// whatever quoting and entities the input used, Flush writes text that reads back the same.
void Canonicalize(tinyxml2::XMLElement* element) {
    for (const tinyxml2::XMLAttribute* a = element->FirstAttribute(); a; a = a->Next()) {
        std::string value = Escape(Unescape(a->Value()));
        if (value != a->Value()) const_cast<tinyxml2::XMLAttribute*>(a)->SetAttribute(value.c_str());
    }
    for (tinyxml2::XMLNode* child = element->FirstChild(); child; child = child->NextSibling()) {
        if (tinyxml2::XMLElement* e = child->ToElement()) {
            Canonicalize(e);
        } else if (tinyxml2::XMLText* t = child->ToText()) {
            std::string value = Escape(Unescape(t->Value()));
            if (value != t->Value()) t->SetValue(value.c_str());
        }
    }
}

}  // namespace

std::unique_ptr<TinyXML2Section> TinyXML2Section::CreateXMLSectionFromString(const char* text) {
    if (!text) return nullptr;
    auto document = std::make_shared<tinyxml2::XMLDocument>(false, tinyxml2::PRESERVE_WHITESPACE);
    if (document->Parse(text) != tinyxml2::XML_SUCCESS) return nullptr;
    // tinyxml2 is lenient: a well-formed document has exactly one top element and no text
    // beside it.
    int elements = 0;
    for (tinyxml2::XMLNode* n = document->FirstChild(); n; n = n->NextSibling()) {
        if (n->ToElement()) ++elements;
        else if (n->ToText()) return nullptr;
    }
    tinyxml2::XMLElement* root = document->RootElement();
    if (!root || elements != 1) return nullptr;
    Canonicalize(root);
    return std::unique_ptr<TinyXML2Section>(new TinyXML2Section(std::move(document), root));
}

std::string TinyXML2Section::GetName() const {
    const char* name = element_->Attribute(kName);
    return name ? Unescape(name) : std::string(element_->Name());
}

tinyxml2::XMLElement* TinyXML2Section::FindSection(const std::string& name) const {
    for (tinyxml2::XMLElement* e = element_->FirstChildElement(kSection); e; e = e->NextSiblingElement(kSection))
        if (NameIs(e, name)) return e;
    return nullptr;
}

tinyxml2::XMLElement* TinyXML2Section::FindKey(const std::string& key) const {
    for (tinyxml2::XMLElement* e = element_->FirstChildElement(kKey); e; e = e->NextSiblingElement(kKey))
        if (NameIs(e, key)) return e;
    return nullptr;
}

std::unique_ptr<ConfigurationSection> TinyXML2Section::GetSection(const std::string& name) {
    tinyxml2::XMLElement* e = FindSection(name);
    if (!e) return nullptr;
    return std::unique_ptr<ConfigurationSection>(new TinyXML2Section(document_, e));
}

std::unique_ptr<ConfigurationSection> TinyXML2Section::CreateSection(const std::string& name) {
    tinyxml2::XMLElement* e = FindSection(name);
    if (!e) {
        e = element_->InsertNewChildElement(kSection);
        e->SetAttribute(kName, Escape(name).c_str());
    }
    return std::unique_ptr<ConfigurationSection>(new TinyXML2Section(document_, e));
}

std::vector<std::string> TinyXML2Section::GetSectionNames() const {
    std::vector<std::string> names;
    for (const tinyxml2::XMLElement* e = element_->FirstChildElement(kSection); e; e = e->NextSiblingElement(kSection))
        names.push_back(Unescape(e->Attribute(kName)));
    return names;
}

bool TinyXML2Section::HasKey(const std::string& key) const { return FindKey(key) != nullptr; }

std::vector<std::string> TinyXML2Section::GetKeyNames() const {
    std::vector<std::string> names;
    for (const tinyxml2::XMLElement* e = element_->FirstChildElement(kKey); e; e = e->NextSiblingElement(kKey))
        names.push_back(Unescape(e->Attribute(kName)));
    return names;
}

bool TinyXML2Section::RemoveKey(const std::string& key) {
    tinyxml2::XMLElement* e = FindKey(key);
    if (!e) return false;
    element_->DeleteChild(e);
    return true;
}

bool TinyXML2Section::ReadKey(const std::string& key, std::string& value) const {
    tinyxml2::XMLElement* e = FindKey(key);
    if (!e) return false;
    value = Unescape(Attribute(e, kValue));
    return true;
}

bool TinyXML2Section::ReadKey(const std::string& key, std::vector<std::string>& values, char separator) const {
    tinyxml2::XMLElement* e = FindKey(key);
    if (!e) return false;
    std::string text = Unescape(Attribute(e, kValue));
    unsigned count = 0;
    bool counted = e->QueryUnsignedAttribute(kCount, &count) == tinyxml2::XML_SUCCESS;
    std::vector<std::string> parts;
    if (!text.empty() || (counted && count > 0)) parts = Split(text, separator);
    values = std::move(parts);
    return true;
}

void TinyXML2Section::WriteKey(const std::string& key, const std::string& value) {
    tinyxml2::XMLElement* e = FindKey(key);
    if (!e) {
        e = element_->InsertNewChildElement(kKey);
        e->SetAttribute(kName, Escape(key).c_str());
    }
    e->DeleteAttribute(kCount);
    e->SetAttribute(kValue, Escape(value).c_str());
}

void TinyXML2Section::WriteKey(const std::string& key, const std::vector<std::string>& values, char separator) {
    std::string joined;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i) joined += separator;
        joined += values[i];
    }
    WriteKey(key, joined);
    FindKey(key)->SetAttribute(kCount, static_cast<unsigned>(values.size()));
}

bool TinyXML2Section::Flush(std::string& text, bool compact) const {
    tinyxml2::XMLPrinter printer(nullptr, compact);
    document_->Print(&printer);
    text.assign(printer.CStr(), static_cast<std::size_t>(std::max(printer.CStrSize() - 1, 0)));
    return true;
}
