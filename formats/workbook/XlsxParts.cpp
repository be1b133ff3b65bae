#include "formats/workbook/XlsxParts.h"

#include <expat.h>

#include <cstring>
#include <map>
#include <memory>
#include <set>

namespace kelto::workbook::xlsx {

namespace {

constexpr std::string_view kMainTransitional = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view kMainStrict = "http://purl.oclc.org/ooxml/spreadsheetml/main";
constexpr std::string_view kRelationshipsTransitional =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr std::string_view kRelationshipsStrict = "http://purl.oclc.org/ooxml/officeDocument/relationships";
constexpr std::string_view kPackageRelationships = "http://schemas.openxmlformats.org/package/2006/relationships";

// Relationship parts are small; anything larger is not one.
constexpr std::size_t kRelationshipsLimit = 16u << 20;
constexpr std::size_t kBlock = 1u << 16;

struct ParserDeleter {
    void operator()(XML_ParserStruct* p) const { XML_ParserFree(p); }
};
using Parser = std::unique_ptr<XML_ParserStruct, ParserDeleter>;

Parser MakeParser() { return Parser(XML_ParserCreateNS(nullptr, kNameSeparator)); }

LoadResult FromPartStatus(PartStatus status) {
    switch (status) {
        case PartStatus::Ok: return LoadResult::Ok;
        case PartStatus::Unsupported: return LoadResult::Unsupported;
        default: return LoadResult::Corrupt;
    }
}

// Streams a part through `parser`. A handler that stops the parser ends the feed early
// with success.
LoadResult Feed(const Package& package, const std::string& part, XML_Parser parser) {
    PartStatus status;
    std::unique_ptr<PartStream> stream = package.Open(part, status);
    if (!stream) return FromPartStatus(status);
    for (;;) {
        void* buffer = XML_GetBuffer(parser, static_cast<int>(kBlock));
        if (!buffer) return LoadResult::Corrupt;
        std::ptrdiff_t got = stream->Read(static_cast<char*>(buffer), kBlock);
        if (got < 0) return FromPartStatus(stream->status());
        if (XML_ParseBuffer(parser, static_cast<int>(got), got == 0) == XML_STATUS_ERROR) {
            if (XML_GetErrorCode(parser) == XML_ERROR_ABORTED) return LoadResult::Ok;
            return LoadResult::Corrupt;
        }
        XML_ParsingStatus parsing;
        XML_GetParsingStatus(parser, &parsing);
        if (parsing.parsing == XML_FINISHED || got == 0) return LoadResult::Ok;
    }
}

// Parses an in-memory text (the relationship parts).
bool ParseText(XML_Parser parser, const std::string& text) {
    return XML_Parse(parser, text.data(), static_cast<int>(text.size()), 1) != XML_STATUS_ERROR;
}

const char* Attribute(const char** attributes, std::string_view local, std::string_view uri = {}) {
    for (const char** a = attributes; *a; a += 2) {
        const char* name = a[0];
        if (uri.empty()) {
            if (std::strchr(name, kNameSeparator) == nullptr && local == name) return a[1];
        } else if (LocalNameIn(name, uri) == local) {
            return a[1];
        }
    }
    return nullptr;
}

// The last path segment of a relationship type, which names the kind of target.
std::string_view TypeName(std::string_view type) {
    std::size_t slash = type.rfind('/');
    return slash == std::string_view::npos ? type : type.substr(slash + 1);
}

struct Relationship {
    std::string type;
    std::string target;  // resolved part name; empty for external targets
};

// Relationships of `source`, by id.
LoadResult LoadRelationships(const Package& package, const std::string& source,
                             std::map<std::string, Relationship>& out) {
    out.clear();
    std::string text;
    PartStatus status = package.ReadAll(RelationshipsPartOf(source), text, kRelationshipsLimit);
    if (status == PartStatus::Missing) return LoadResult::Ok;
    if (status != PartStatus::Ok) return FromPartStatus(status);
    struct State {
        const std::string* source;
        std::map<std::string, Relationship>* out;
    } state{&source, &out};
    Parser parser = MakeParser();
    XML_SetUserData(parser.get(), &state);
    XML_SetStartElementHandler(parser.get(), [](void* user, const XML_Char* name, const XML_Char** attributes) {
        auto* s = static_cast<State*>(user);
        if (LocalNameIn(name, kPackageRelationships) != "Relationship") return;
        const char* id = Attribute(attributes, "Id");
        const char* type = Attribute(attributes, "Type");
        const char* target = Attribute(attributes, "Target");
        const char* mode = Attribute(attributes, "TargetMode");
        if (!id || !type || !target) return;
        Relationship r;
        r.type = type;
        if (!mode || std::string_view(mode) != "External") r.target = ResolvePartName(*s->source, target);
        s->out->emplace(id, std::move(r));
    });
    return ParseText(parser.get(), text) ? LoadResult::Ok : LoadResult::Corrupt;
}

bool ParseBoolean(const char* text) {
    if (!text) return false;
    std::string_view v(text);
    return v == "1" || v == "true";
}

}  // namespace

bool IsMainNamespace(std::string_view uri) { return uri == kMainTransitional || uri == kMainStrict; }

std::string_view LocalNameIn(const char* name, std::string_view uri) {
    std::string_view n(name);
    std::size_t sep = n.rfind(kNameSeparator);
    if (sep == std::string_view::npos) return {};
    if (n.substr(0, sep) != uri) return {};
    return n.substr(sep + 1);
}

std::string_view MainLocalName(const char* name) {
    std::string_view n(name);
    std::size_t sep = n.rfind(kNameSeparator);
    if (sep == std::string_view::npos) return n;
    if (!IsMainNamespace(n.substr(0, sep))) return {};
    return n.substr(sep + 1);
}

LoadResult LoadWorkbook(const Package& package, WorkbookInfo& info) {
    info = WorkbookInfo();
    std::map<std::string, Relationship> root;
    if (LoadResult r = LoadRelationships(package, "", root); r != LoadResult::Ok) return r;
    for (const auto& [id, rel] : root)
        if (TypeName(rel.type) == "officeDocument" && !rel.target.empty()) info.workbookPart = rel.target;
    if (info.workbookPart.empty() || package.Find(info.workbookPart).empty()) info.workbookPart = "xl/workbook.xml";
    info.workbookPart = package.Find(info.workbookPart);
    if (info.workbookPart.empty()) return LoadResult::NoWorkbook;

    std::map<std::string, Relationship> rels;
    if (LoadResult r = LoadRelationships(package, info.workbookPart, rels); r != LoadResult::Ok) return r;

    struct State {
        WorkbookInfo* info;
        const std::map<std::string, Relationship>* rels;
        int depth = 0;
    } state{&info, &rels};
    Parser parser = MakeParser();
    XML_SetUserData(parser.get(), &state);
    XML_SetElementHandler(
        parser.get(),
        [](void* user, const XML_Char* name, const XML_Char** attributes) {
            auto* s = static_cast<State*>(user);
            ++s->depth;
            std::string_view local = MainLocalName(name);
            if (local == "workbookPr" && s->depth == 2) {
                s->info->date1904 = ParseBoolean(Attribute(attributes, "date1904"));
            } else if (local == "sheet" && s->depth == 3) {
                const char* sheetName = Attribute(attributes, "name");
                const char* id = Attribute(attributes, "id", kRelationshipsTransitional);
                if (!id) id = Attribute(attributes, "id", kRelationshipsStrict);
                if (!sheetName || !id) return;
                auto it = s->rels->find(id);
                // Chart sheets, dialog sheets and macro sheets hold no cells of their own.
                if (it == s->rels->end() || TypeName(it->second.type) != "worksheet") return;
                s->info->sheets.push_back(SheetEntry{sheetName, it->second.target});
            }
        },
        [](void* user, const XML_Char*) { --static_cast<State*>(user)->depth; });
    if (LoadResult r = Feed(package, info.workbookPart, parser.get()); r != LoadResult::Ok) return r;

    for (const auto& [id, rel] : rels) {
        std::string_view type = TypeName(rel.type);
        if (type == "sharedStrings") info.sharedStringsPart = package.Find(rel.target);
        if (type == "styles") info.stylesPart = package.Find(rel.target);
    }
    // Writers that leave out the relationship still use the usual names.
    if (info.sharedStringsPart.empty()) info.sharedStringsPart = package.Find("xl/sharedStrings.xml");
    if (info.stylesPart.empty()) info.stylesPart = package.Find("xl/styles.xml");
    return LoadResult::Ok;
}

class SharedStringsLoader {
public:
    explicit SharedStringsLoader(SharedStrings& strings) : strings_(strings) {}

    LoadResult Load(const Package& package, const std::string& part) {
        strings_.Clear();
        if (part.empty()) return LoadResult::Ok;
        Parser parser = MakeParser();
        XML_SetUserData(parser.get(), this);
        XML_SetElementHandler(parser.get(), &Start, &End);
        XML_SetCharacterDataHandler(parser.get(), &Text);
        LoadResult r = Feed(package, part, parser.get());
        if (r != LoadResult::Ok) strings_.Clear();
        return r;
    }

private:
    // Where the parser is: only <t> of an item or of a rich-text run carries text; phonetic
    // runs (<rPh>) are hints for reading, not part of the string.
    static void Start(void* user, const XML_Char* name, const XML_Char**) {
        auto* self = static_cast<SharedStringsLoader*>(user);
        std::string_view local = MainLocalName(name);
        ++self->depth_;
        if (self->depth_ == 2 && local == "si") {
            self->inItem_ = true;
            self->item_.clear();
        } else if (self->inItem_ && local == "rPh" && self->rPhDepth_ == 0) {
            self->rPhDepth_ = self->depth_;
        } else if (self->inItem_ && local == "t" && self->rPhDepth_ == 0 &&
                   (self->depth_ == 3 || (self->depth_ == 4 && self->parentIsRun_))) {
            self->inText_ = true;
        }
        if (self->inItem_ && self->depth_ == 3) self->parentIsRun_ = local == "r";
    }
    static void End(void* user, const XML_Char* name) {
        auto* self = static_cast<SharedStringsLoader*>(user);
        std::string_view local = MainLocalName(name);
        if (self->inText_ && local == "t") self->inText_ = false;
        if (self->rPhDepth_ == self->depth_) self->rPhDepth_ = 0;
        if (self->depth_ == 3) self->parentIsRun_ = false;
        if (self->depth_ == 2 && self->inItem_) {
            self->inItem_ = false;
            DecodeEscapes(self->item_);
            self->strings_.chars_ += self->item_;
            self->strings_.chars_ += '\0';
            self->strings_.ends_.push_back(self->strings_.chars_.size());
        }
        --self->depth_;
    }
    static void Text(void* user, const XML_Char* text, int length) {
        auto* self = static_cast<SharedStringsLoader*>(user);
        if (self->inText_) self->item_.append(text, static_cast<std::size_t>(length));
    }

    SharedStrings& strings_;
    int depth_ = 0;
    int rPhDepth_ = 0;
    bool inItem_ = false;
    bool inText_ = false;
    bool parentIsRun_ = false;
    std::string item_;
};

LoadResult LoadSharedStrings(const Package& package, const std::string& part, SharedStrings& strings) {
    return SharedStringsLoader(strings).Load(package, part);
}

class StylesLoader {
public:
    explicit StylesLoader(CellStyles& styles) : styles_(styles) {}

    LoadResult Load(const Package& package, const std::string& part) {
        styles_.dateStyle_.clear();
        if (part.empty()) return LoadResult::Ok;
        Parser parser = MakeParser();
        XML_SetUserData(parser.get(), this);
        XML_SetElementHandler(parser.get(), &Start, &End);
        LoadResult r = Feed(package, part, parser.get());
        if (r != LoadResult::Ok) return r;
        styles_.dateStyle_.reserve(xfFormats_.size());
        for (int id : xfFormats_) styles_.dateStyle_.push_back(IsBuiltInDateFormat(id) || customDates_.count(id) > 0);
        return LoadResult::Ok;
    }

private:
    static int ParseId(const char* text) {
        std::uint64_t v = 0;
        if (!text || !ParseIndex(text, 0x7fffffff, v)) return 0;
        return static_cast<int>(v);
    }
    static void Start(void* user, const XML_Char* name, const XML_Char** attributes) {
        auto* self = static_cast<StylesLoader*>(user);
        std::string_view local = MainLocalName(name);
        ++self->depth_;
        if (self->depth_ == 2) self->section_ = std::string(local);
        if (self->depth_ != 3) return;
        if (self->section_ == "numFmts" && local == "numFmt") {
            const char* id = Attribute(attributes, "numFmtId");
            const char* code = Attribute(attributes, "formatCode");
            if (id && code && IsDateFormatCode(code)) self->customDates_.insert(ParseId(id));
        } else if (self->section_ == "cellXfs" && local == "xf") {
            self->xfFormats_.push_back(ParseId(Attribute(attributes, "numFmtId")));
        }
    }
    static void End(void* user, const XML_Char*) {
        auto* self = static_cast<StylesLoader*>(user);
        if (self->depth_ == 2) self->section_.clear();
        --self->depth_;
    }

    CellStyles& styles_;
    int depth_ = 0;
    std::string section_;
    std::vector<int> xfFormats_;
    std::set<int> customDates_;
};

LoadResult LoadStyles(const Package& package, const std::string& part, CellStyles& styles) {
    return StylesLoader(styles).Load(package, part);
}

bool IsBuiltInDateFormat(int id) { return (id >= 14 && id <= 22) || (id >= 45 && id <= 47); }

bool IsDateFormatCode(std::string format) {
    std::size_t red = format.find("Red");
    if (red != std::string::npos) format.replace(red, 3, "   ");
    return format.find_first_of("ymdhs") != std::string::npos;
}

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The code unit of an escape "_xHHHH_" at `text[at]`, or -1.
int EscapeAt(const std::string& text, std::size_t at) {
    if (at + 7 > text.size() || text[at] != '_' || text[at + 1] != 'x' || text[at + 6] != '_') return -1;
    int value = 0;
    for (std::size_t i = at + 2; i < at + 6; ++i) {
        int h = HexValue(text[i]);
        if (h < 0) return -1;
        value = value * 16 + h;
    }
    return value;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

void DecodeEscapes(std::string& text) {
    std::size_t at = text.find("_x");
    if (at == std::string::npos) return;
    std::string out = text.substr(0, at);
    while (at < text.size()) {
        int unit = EscapeAt(text, at);
        if (unit > 0 && (unit < 0xD800 || unit > 0xDFFF)) {
            AppendUtf8(out, static_cast<std::uint32_t>(unit));
            at += 7;
            continue;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            int low = EscapeAt(text, at + 7);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000u + ((static_cast<std::uint32_t>(unit) - 0xD800u) << 10) +
                                    (static_cast<std::uint32_t>(low) - 0xDC00u));
                at += 14;
                continue;
            }
        }
        out += text[at++];
        std::size_t next = text.find("_x", at);
        if (next == std::string::npos) next = text.size();
        out.append(text, at, next - at);
        at = next;
    }
    text.swap(out);
}

bool ParseIndex(std::string_view text, std::uint64_t max, std::uint64_t& value) {
    if (text.empty() || text.size() > 19) return false;
    std::uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (v > max) return false;
    value = v;
    return true;
}

}  // namespace kelto::workbook::xlsx
