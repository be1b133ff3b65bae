#include "formats/workbook/XlsxSheet.h"

#include <expat.h>

#include <iterator>
#include <cstring>
#include <memory>
#include <vector>

#include "formats/workbook/XlsxParts.h"

namespace kelto::workbook::xlsx {

namespace {

constexpr std::string_view kXmlNamespace = "http://www.w3.org/XML/1998/namespace";
constexpr std::string_view kXmlnsNamespace = "http://www.w3.org/2000/xmlns/";
constexpr std::size_t kBlock = 1u << 18;

// ---------------------------------------------------------------------------------------
// The reference reader: expat with namespace processing.

class ExpatSheet {
public:
    ExpatSheet(SheetEvents& events, std::uint64_t partSize) : events_(events), partSize_(partSize) {}

    SheetResult Run(ByteSource& part) {
        struct Free {
            void operator()(XML_ParserStruct* p) const { XML_ParserFree(p); }
        };
        std::unique_ptr<XML_ParserStruct, Free> parser(XML_ParserCreateNS(nullptr, kNameSeparator));
        if (!parser) return SheetResult::XmlError;
        parser_ = parser.get();
        XML_SetUserData(parser_, this);
        XML_SetElementHandler(parser_, &Start, &End);
        XML_SetCharacterDataHandler(parser_, &Text);
        // Our own block rather than expat's: a source that hands out less than asked would
        // make expat grow and copy its buffer on every call.
        std::vector<char> block(kBlock);
        for (;;) {
            std::ptrdiff_t got = part.Read(block.data(), block.size());
            if (got < 0) return SheetResult::PartError;
            if (XML_Parse(parser_, block.data(), static_cast<int>(got), got == 0) == XML_STATUS_ERROR) {
                if (XML_GetErrorCode(parser_) == XML_ERROR_ABORTED)
                    return stopped_ ? SheetResult::Stopped : SheetResult::Ok;
                return SheetResult::XmlError;
            }
            if (got == 0) return SheetResult::Ok;
        }
    }

private:
    void Stop(bool byHandler) {
        stopped_ = byHandler;
        XML_StopParser(parser_, XML_FALSE);
    }

    static const char* Attribute(const char** attributes, std::string_view name) {
        for (const char** a = attributes; *a; a += 2)
            if (name == a[0]) return a[1];
        return nullptr;
    }

    static void Start(void* user, const XML_Char* name, const XML_Char** attributes) {
        auto* self = static_cast<ExpatSheet*>(user);
        self->OnStart(name, attributes);
    }
    void OnStart(const char* name, const char** attributes) {
        const int depth = ++depth_;
        std::string_view local = MainLocalName(name);
        if (depth == 1) {
            // A chart sheet or anything else than a worksheet has no cells.
            if (local != "worksheet") Stop(false);
        } else if (depth == 2) {
            if (local == "dimension") {
                if (const char* ref = Attribute(attributes, "ref"))
                    if (!events_.Dimension(ref)) Stop(true);
            } else if (local == "sheetData") {
                inSheetData_ = true;
                if (!events_.BeginCells(partSize_)) Stop(true);
            }
        } else if (!inSheetData_) {
            return;
        } else if (depth == 3) {
            if (local == "row") {
                inRow_ = true;
                const char* r = Attribute(attributes, "r");
                if (!events_.Row(r ? r : "", r != nullptr)) Stop(true);
            }
        } else if (depth == 4) {
            if (inRow_ && local == "c") {
                inCell_ = true;
                cell_ = CellEvent();
                value_.clear();
                inline_.clear();
                ref_.clear();
                style_.clear();
                type_.clear();
                if (const char* v = Attribute(attributes, "r")) ref_ = v, cell_.hasRef = true;
                if (const char* v = Attribute(attributes, "s")) style_ = v, cell_.hasStyle = true;
                if (const char* v = Attribute(attributes, "t")) type_ = v, cell_.hasType = true;
            }
        } else if (inCell_ && depth == 5) {
            if (local == "v") inValue_ = true, cell_.hasValue = true;
            if (local == "is") inInline_ = true, cell_.hasInline = true;
        } else if (inInline_ && depth == 6) {
            if (local == "t") textDepth_ = 6;
            if (local == "r") inRun_ = true;
        } else if (inRun_ && depth == 7) {
            if (local == "t") textDepth_ = 7;
        }
    }

    static void End(void* user, const XML_Char*) { static_cast<ExpatSheet*>(user)->OnEnd(); }
    void OnEnd() {
        const int depth = depth_--;
        if (depth == textDepth_) textDepth_ = 0;
        switch (depth) {
            case 6: inRun_ = false; break;
            case 5:
                inValue_ = false;
                inInline_ = false;
                break;
            case 4:
                if (inCell_) {
                    inCell_ = false;
                    cell_.ref = ref_;
                    cell_.style = style_;
                    cell_.type = type_;
                    cell_.value = value_;
                    cell_.inlineText = inline_;
                    if (!events_.Cell(cell_)) Stop(true);
                }
                break;
            case 3: inRow_ = false; break;
            case 2:
                if (inSheetData_) Stop(false);
                break;
            default: break;
        }
    }

    static void Text(void* user, const XML_Char* text, int length) {
        auto* self = static_cast<ExpatSheet*>(user);
        if (self->inValue_ && self->depth_ == 5) self->value_.append(text, static_cast<std::size_t>(length));
        if (self->textDepth_ != 0 && self->depth_ == self->textDepth_)
            self->inline_.append(text, static_cast<std::size_t>(length));
    }

    SheetEvents& events_;
    std::uint64_t partSize_;
    XML_Parser parser_ = nullptr;
    bool stopped_ = false;
    int depth_ = 0;
    bool inSheetData_ = false, inRow_ = false, inCell_ = false, inValue_ = false, inInline_ = false, inRun_ = false;
    int textDepth_ = 0;
    CellEvent cell_;
    std::string ref_, style_, type_, value_, inline_;
};

// ---------------------------------------------------------------------------------------
// The scanner. It works on whole units (a tag of the prelude, a <row> tag, a whole <c>
// element, a run of white space): a unit cut by the end of the buffer is parsed again once
// more bytes are in, so events are only given for complete units.

enum class Step { Ok, More, Fallback, Stop, Done };

inline bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
inline bool IsNameStart(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
inline bool IsNameChar(unsigned char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// Left uninitialised on purpose: a tag is parsed for every cell, and only `count` entries
// are ever looked at.
struct Attr {
    const char* namePtr;
    std::size_t nameSize;
    const char* valuePtr;
    std::size_t valueSize;
    std::string_view name() const { return std::string_view(namePtr, nameSize); }
    std::string_view value() const { return std::string_view(valuePtr, valueSize); }
};

struct Tag {
    std::string_view name;
    bool prefixed = false;
    bool selfClosing = false;
    std::size_t count = 0;
    Attr attrs[16];
    const Attr* Find(std::string_view n) const {
        for (std::size_t i = 0; i < count; ++i)
            if (attrs[i].name() == n) return &attrs[i];
        return nullptr;
    }
};

// One well-formed UTF-8 sequence at p that is an XML character (no U+FFFE, U+FFFF):
// its length, 0 when more bytes are needed, -1 when it is not acceptable.
int Utf8Char(const unsigned char* p, const unsigned char* end) {
    unsigned char c = p[0];
    int n;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else return -1;
    if (end - p < n) {
        // Judge what is there already, so a bad sequence is not waited on forever.
        for (const unsigned char* q = p + 1; q < end; ++q)
            if ((*q & 0xC0) != 0x80 || (q == p + 1 && (*q < lo || *q > hi))) return -1;
        return 0;
    }
    if (p[1] < lo || p[1] > hi) return -1;
    for (int i = 2; i < n; ++i)
        if ((p[i] & 0xC0) != 0x80) return -1;
    if (c == 0xEF && p[1] == 0xBF && (p[2] == 0xBE || p[2] == 0xBF)) return -1;
    return n;
}

bool IsXmlChar(std::uint32_t v) {
    return v == 0x9 || v == 0xA || v == 0xD || (v >= 0x20 && v <= 0xD7FF) || (v >= 0xE000 && v <= 0xFFFD) ||
           (v >= 0x10000 && v <= 0x10FFFF);
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

class Scanner {
public:
    Scanner(ByteSource& part, SheetEvents& events) : part_(part), events_(events) { buffer_.resize(kBlock); }

    SheetResult Run() {
        if (!Fill()) return SheetResult::PartError;
        for (;;) {
            switch (Unit()) {
                case Step::Ok: break;
                case Step::Done: return SheetResult::Ok;
                case Step::Stop: return SheetResult::Stopped;
                case Step::Fallback: return SheetResult::Fallback;
                case Step::More:
                    if (eof_) return SheetResult::Fallback;
                    if (!Fill()) return SheetResult::PartError;
                    break;
            }
        }
    }

private:
    bool Fill() {
        if (begin_ > 0) {
            std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
            end_ -= begin_;
            offset_ += begin_;
            begin_ = 0;
        }
        if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
        std::ptrdiff_t got = part_.Read(buffer_.data() + end_, buffer_.size() - end_);
        if (got < 0) return false;
        if (got == 0) eof_ = true;
        end_ += static_cast<std::size_t>(got);
        return true;
    }

    // --- lexical pieces; each leaves `p` after what it read -------------------------------

    // A name of ASCII letters, digits, '_', '-', '.', with at most one inner ':'.
    Step Name(const char*& p, const char* end, std::string_view& name, bool& prefixed) {
        const char* start = p;
        if (p == end) return Step::More;
        if (!IsNameStart(static_cast<unsigned char>(*p))) return Step::Fallback;
        ++p;
        int colons = 0;
        while (p < end && (IsNameChar(static_cast<unsigned char>(*p)) || *p == ':')) {
            if (*p == ':') {
                if (++colons > 1) return Step::Fallback;
                if (p + 1 < end && !IsNameStart(static_cast<unsigned char>(p[1]))) return Step::Fallback;
            }
            ++p;
        }
        if (p == end) return Step::More;
        if (static_cast<unsigned char>(*p) >= 0x80 || p[-1] == ':') return Step::Fallback;
        name = std::string_view(start, static_cast<std::size_t>(p - start));
        prefixed = colons > 0;
        return Step::Ok;
    }

    static void SkipSpace(const char*& p, const char* end) {
        while (p < end && IsSpace(*p)) ++p;
    }

    // An attribute's prefix must be bound on the root element (or be "xml"); namespace
    // declarations anywhere but on the root change what names mean: expat's business.
    bool AttributeNameOk(std::string_view name, bool onRoot) const {
        if (name == "xmlns") return onRoot;
        std::size_t colon = name.find(':');
        if (colon == std::string_view::npos) return true;
        std::string_view prefix = name.substr(0, colon);
        if (prefix == "xmlns") return onRoot;
        if (prefix == "xml") return true;
        for (const std::string& bound : prefixes_)
            if (bound == prefix) return true;
        return false;
    }

    // A start tag from its '<'. Attribute values with references or white space other
    // than blanks are left to expat.
    Step StartTag(const char*& p, const char* end, Tag& tag, bool onRoot = false) {
        ++p;
        if (Step s = Name(p, end, tag.name, tag.prefixed); s != Step::Ok) return s;
        tag.count = 0;
        for (;;) {
            const char* before = p;
            SkipSpace(p, end);
            if (p == end) return Step::More;
            if (*p == '>') {
                ++p;
                tag.selfClosing = false;
                return Step::Ok;
            }
            if (*p == '/') {
                if (p + 1 == end) return Step::More;
                if (p[1] != '>') return Step::Fallback;
                p += 2;
                tag.selfClosing = true;
                return Step::Ok;
            }
            if (p == before) return Step::Fallback;
            std::string_view attrName;
            bool prefixed;
            if (Step s = Name(p, end, attrName, prefixed); s != Step::Ok) return s;
            if (!onRoot && !AttributeNameOk(attrName, false)) return Step::Fallback;
            SkipSpace(p, end);
            if (p == end) return Step::More;
            if (*p != '=') return Step::Fallback;
            ++p;
            SkipSpace(p, end);
            if (p == end) return Step::More;
            const char quote = *p;
            if (quote != '"' && quote != '\'') return Step::Fallback;
            const char* v = ++p;
            for (;;) {
                if (p == end) return Step::More;
                unsigned char c = static_cast<unsigned char>(*p);
                if (c == static_cast<unsigned char>(quote)) break;
                if (c == '<' || c == '&' || c < 0x20) return Step::Fallback;
                if (c >= 0x80) {
                    int n = Utf8Char(reinterpret_cast<const unsigned char*>(p), reinterpret_cast<const unsigned char*>(end));
                    if (n < 0) return Step::Fallback;
                    if (n == 0) return Step::More;
                    p += n;
                } else {
                    ++p;
                }
            }
            const std::size_t valueSize = static_cast<std::size_t>(p - v);
            ++p;
            if (p == end) return Step::More;
            if (!IsSpace(*p) && *p != '>' && *p != '/') return Step::Fallback;
            if (tag.count == std::size(tag.attrs)) return Step::Fallback;
            for (std::size_t i = 0; i < tag.count; ++i) {
                std::string_view other = tag.attrs[i].name();
                if (other == attrName) return Step::Fallback;
                // Two prefixes may name one namespace: a possible duplicate is expat's to judge.
                std::size_t c1 = other.find(':'), c2 = attrName.find(':');
                if (c1 != std::string_view::npos && c2 != std::string_view::npos &&
                    other.substr(c1) == attrName.substr(c2))
                    return Step::Fallback;
            }
            tag.attrs[tag.count++] = Attr{attrName.data(), attrName.size(), v, valueSize};
        }
    }

    // An end tag "</name S?>" from its '<'.
    Step EndTag(const char*& p, const char* end, std::string_view& name) {
        p += 2;
        bool prefixed;
        if (Step s = Name(p, end, name, prefixed); s != Step::Ok) return s;
        if (prefixed) return Step::Fallback;
        SkipSpace(p, end);
        if (p == end) return Step::More;
        if (*p != '>') return Step::Fallback;
        ++p;
        return Step::Ok;
    }

    // Character data up to the next '<', as its decoded text: a view of the buffer when it
    // holds no reference, else decoded into `scratch`.
    Step Content(const char*& p, const char* end, std::string_view& text, std::string& scratch) {
        const char* start = p;
        bool decoded = false;
        for (;;) {
            if (p == end) return Step::More;
            unsigned char c = static_cast<unsigned char>(*p);
            if (c == '<') break;
            if (c >= 0x80) {
                int n = Utf8Char(reinterpret_cast<const unsigned char*>(p), reinterpret_cast<const unsigned char*>(end));
                if (n < 0) return Step::Fallback;
                if (n == 0) return Step::More;
                if (decoded) scratch.append(p, static_cast<std::size_t>(n));
                p += n;
                continue;
            }
            if (c < 0x20 && c != '\t' && c != '\n') return Step::Fallback;  // CR: line-end handling
            if (c == ']') {
                if (end - p < 3) return Step::More;
                if (p[1] == ']' && p[2] == '>') return Step::Fallback;
            }
            if (c == '&') {
                if (!decoded) {
                    scratch.assign(start, static_cast<std::size_t>(p - start));
                    decoded = true;
                }
                if (Step s = Reference(p, end, scratch); s != Step::Ok) return s;
                continue;
            }
            if (decoded) scratch += static_cast<char>(c);
            ++p;
        }
        text = decoded ? std::string_view(scratch) : std::string_view(start, static_cast<std::size_t>(p - start));
        return Step::Ok;
    }

    // "&name;" for the five predefined entities or a character reference, from its '&'.
    static Step Reference(const char*& p, const char* end, std::string& out) {
        const char* semicolon = nullptr;
        for (const char* q = p + 1; q < end && q - p <= 12; ++q)
            if (*q == ';') {
                semicolon = q;
                break;
            }
        if (!semicolon) return end - p <= 12 ? Step::More : Step::Fallback;
        std::string_view name(p + 1, static_cast<std::size_t>(semicolon - p - 1));
        if (name == "lt") out += '<';
        else if (name == "gt") out += '>';
        else if (name == "amp") out += '&';
        else if (name == "apos") out += '\'';
        else if (name == "quot") out += '"';
        else if (name.size() >= 2 && name[0] == '#') {
            std::uint32_t v = 0;
            const bool hex = name[1] == 'x';
            std::string_view digits = name.substr(hex ? 2 : 1);
            if (digits.empty() || digits.size() > 8) return Step::Fallback;
            for (char c : digits) {
                int d;
                if (c >= '0' && c <= '9') d = c - '0';
                else if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
                else if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
                else return Step::Fallback;
                v = v * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
            }
            if (!IsXmlChar(v)) return Step::Fallback;
            AppendUtf8(out, v);
        } else {
            return Step::Fallback;
        }
        p = semicolon + 1;
        return Step::Ok;
    }

    // White space only, up to the next '<'.
    static Step Space(const char*& p, const char* end) {
        SkipSpace(p, end);
        if (p == end) return Step::More;
        return *p == '<' ? Step::Ok : Step::Fallback;
    }

    // --- units ----------------------------------------------------------------------------

    Step Unit() {
        const char* base = buffer_.data();
        const char* p = base + begin_;
        const char* end = base + end_;
        Step s = where_ == Where::Prelude ? PreludeUnit(p, end) : CellsUnit(p, end);
        if (s == Step::Ok || s == Step::Done) begin_ = static_cast<std::size_t>(p - base);
        return s;
    }

    Step XmlDeclaration(const char*& p, const char* end) {
        // <?xml version="1.0" [encoding="UTF-8"] [standalone="yes"|"no"] ?>, nothing else.
        const char* close = nullptr;
        for (const char* q = p; q + 1 < end; ++q)
            if (q[0] == '?' && q[1] == '>') {
                close = q;
                break;
            }
        if (!close) return end - p < 512 ? Step::More : Step::Fallback;
        const char* q = p + 5;
        auto pseudo = [&](std::string_view name, std::string_view& value) {
            const char* save = q;
            if (q == close || !IsSpace(*q)) return false;
            SkipSpace(q, close);
            if (static_cast<std::size_t>(close - q) < name.size() || std::string_view(q, name.size()) != name) {
                q = save;
                return false;
            }
            q += name.size();
            SkipSpace(q, close);
            if (q == close || *q != '=') return false;
            ++q;
            SkipSpace(q, close);
            if (q == close || (*q != '"' && *q != '\'')) return false;
            char quote = *q++;
            const char* v = q;
            while (q < close && *q != quote) ++q;
            if (q == close) return false;
            value = std::string_view(v, static_cast<std::size_t>(q - v));
            ++q;
            return true;
        };
        std::string_view value;
        if (!pseudo("version", value) || value != "1.0") return Step::Fallback;
        if (pseudo("encoding", value)) {
            if (value != "UTF-8" && value != "utf-8" && value != "Utf-8") return Step::Fallback;
        }
        if (pseudo("standalone", value)) {
            if (value != "yes" && value != "no") return Step::Fallback;
        }
        SkipSpace(q, close);
        if (q != close) return Step::Fallback;
        p = close + 2;
        return Step::Ok;
    }

    Step PreludeUnit(const char*& p, const char* end) {
        if (offset_ + static_cast<std::size_t>(p - buffer_.data()) == 0) {
            if (end - p < 6 && !eof_) return Step::More;
            if (end - p >= 3 && static_cast<unsigned char>(p[0]) == 0xEF && static_cast<unsigned char>(p[1]) == 0xBB &&
                static_cast<unsigned char>(p[2]) == 0xBF)
                p += 3;
            if (end - p >= 6 && std::string_view(p, 5) == "<?xml" && IsSpace(p[5])) return XmlDeclaration(p, end);
        }
        if (p == end) return Step::More;
        if (*p != '<') return Space(p, end);
        if (end - p < 4) return Step::More;
        if (p[1] == '!') {
            if (p[2] != '-' || p[3] != '-') return Step::Fallback;
            // A comment; "--" may not occur inside one.
            for (const char* q = p + 4; q + 1 < end; ++q) {
                if (q[0] == '-' && q[1] == '-') {
                    if (q + 2 == end) return Step::More;
                    if (q[2] != '>') return Step::Fallback;
                    std::string_view body(p + 4, static_cast<std::size_t>(q - p - 4));
                    for (std::size_t i = 0; i < body.size();) {
                        unsigned char c = static_cast<unsigned char>(body[i]);
                        if (c < 0x20 && c != '\t' && c != '\n') return Step::Fallback;
                        if (c >= 0x80) {
                            int n = Utf8Char(reinterpret_cast<const unsigned char*>(body.data() + i),
                                             reinterpret_cast<const unsigned char*>(body.data() + body.size()));
                            if (n <= 0) return Step::Fallback;
                            i += static_cast<std::size_t>(n);
                        } else {
                            ++i;
                        }
                    }
                    p = q + 3;
                    return Step::Ok;
                }
            }
            return Step::More;
        }
        if (p[1] == '?') return Step::Fallback;
        if (p[1] == '/') {
            std::string_view name;
            if (Step s = EndTag(p, end, name); s != Step::Ok) return s;
            if (stack_.empty() || stack_.back() != name) return Step::Fallback;
            stack_.pop_back();
            // The document ended without cells: what may follow is expat's to judge.
            return stack_.empty() ? Step::Fallback : Step::Ok;
        }
        Tag tag;
        const bool root = stack_.empty();
        if (root && rootSeen_) return Step::Fallback;
        if (Step s = StartTag(p, end, tag, root); s != Step::Ok) return s;
        if (tag.prefixed) return Step::Fallback;
        if (root) {
            if (tag.name != "worksheet" || tag.selfClosing) return Step::Fallback;
            bool mainDefault = false;
            for (std::size_t i = 0; i < tag.count; ++i) {
                const std::string_view name = tag.attrs[i].name(), value = tag.attrs[i].value();
                if (name == "xmlns") {
                    if (!IsMainNamespace(value)) return Step::Fallback;
                    mainDefault = true;
                } else if (name.substr(0, 6) == "xmlns:") {
                    std::string_view prefix = name.substr(6);
                    if (prefix == "xml" || prefix == "xmlns" || value.empty() || value == kXmlNamespace ||
                        value == kXmlnsNamespace)
                        return Step::Fallback;
                    prefixes_.emplace_back(prefix);
                }
            }
            for (std::size_t i = 0; i < tag.count; ++i)
                if (!AttributeNameOk(tag.attrs[i].name(), true)) return Step::Fallback;
            if (!mainDefault) return Step::Fallback;
            rootSeen_ = true;
            stack_.emplace_back(tag.name);
            return Step::Ok;
        }
        if (stack_.size() == 1 && tag.name == "sheetData") {
            if (!events_.BeginCells(part_.DeclaredSize())) return Step::Stop;
            if (tag.selfClosing) return Step::Done;
            where_ = Where::Cells;
            return Step::Ok;
        }
        if (stack_.size() == 1 && tag.name == "dimension") {
            if (const Attr* ref = tag.Find("ref"))
                if (!events_.Dimension(ref->value())) return Step::Stop;
        }
        if (!tag.selfClosing) stack_.emplace_back(tag.name);
        return Step::Ok;
    }

    Step CellsUnit(const char*& p, const char* end) {
        if (p == end) return Step::More;
        if (*p != '<') return Space(p, end);
        if (end - p < 2) return Step::More;
        if (p[1] == '/') {
            std::string_view name;
            if (Step s = EndTag(p, end, name); s != Step::Ok) return s;
            if (where_ == Where::InRow && name == "row") {
                where_ = Where::Cells;
                return Step::Ok;
            }
            if (where_ == Where::Cells && name == "sheetData") return Step::Done;
            return Step::Fallback;
        }
        Tag tag;
        if (Step s = StartTag(p, end, tag); s != Step::Ok) return s;
        if (tag.prefixed) return Step::Fallback;
        if (where_ == Where::Cells && tag.name == "row") {
            const Attr* r = tag.Find("r");
            if (!events_.Row(r ? r->value() : std::string_view(), r != nullptr)) return Step::Stop;
            if (!tag.selfClosing) where_ = Where::InRow;
            return Step::Ok;
        }
        if (where_ == Where::InRow && tag.name == "c") return Cell(p, end, tag);
        return Step::Fallback;
    }

    // The rest of a <c> element after its start tag, then the event.
    Step Cell(const char*& p, const char* end, const Tag& tag) {
        CellEvent cell;
        if (const Attr* a = tag.Find("r")) cell.ref = a->value(), cell.hasRef = true;
        if (const Attr* a = tag.Find("s")) cell.style = a->value(), cell.hasStyle = true;
        if (const Attr* a = tag.Find("t")) cell.type = a->value(), cell.hasType = true;
        if (!tag.selfClosing) {
            for (;;) {
                if (Step s = Space(p, end); s != Step::Ok) return s;
                if (end - p < 2) return Step::More;
                std::string_view name;
                if (p[1] == '/') {
                    if (Step s = EndTag(p, end, name); s != Step::Ok) return s;
                    if (name != "c") return Step::Fallback;
                    break;
                }
                Tag child;
                if (Step s = StartTag(p, end, child); s != Step::Ok) return s;
                if (child.prefixed) return Step::Fallback;
                if (child.name == "v") {
                    if (cell.hasValue) return Step::Fallback;
                    cell.hasValue = true;
                    if (!child.selfClosing) {
                        if (Step s = TextElement(p, end, "v", cell.value, valueScratch_); s != Step::Ok) return s;
                    }
                } else if (child.name == "f") {
                    if (!child.selfClosing) {
                        std::string_view ignored;
                        if (Step s = TextElement(p, end, "f", ignored, formulaScratch_); s != Step::Ok) return s;
                    }
                } else if (child.name == "is") {
                    if (cell.hasInline) return Step::Fallback;
                    cell.hasInline = true;
                    if (!child.selfClosing) {
                        if (Step s = InlineString(p, end, cell.inlineText); s != Step::Ok) return s;
                    }
                } else {
                    return Step::Fallback;
                }
            }
        }
        return events_.Cell(cell) ? Step::Ok : Step::Stop;
    }

    // Text and the end tag "</name>" of an element whose start tag was read.
    Step TextElement(const char*& p, const char* end, std::string_view name, std::string_view& text,
                     std::string& scratch) {
        if (Step s = Content(p, end, text, scratch); s != Step::Ok) return s;
        if (end - p < 2) return Step::More;
        if (p[1] != '/') return Step::Fallback;
        std::string_view closing;
        if (Step s = EndTag(p, end, closing); s != Step::Ok) return s;
        return closing == name ? Step::Ok : Step::Fallback;
    }

    // <is> content: one <t>, nothing else.
    Step InlineString(const char*& p, const char* end, std::string_view& text) {
        bool haveText = false;
        for (;;) {
            if (Step s = Space(p, end); s != Step::Ok) return s;
            if (end - p < 2) return Step::More;
            if (p[1] == '/') {
                std::string_view name;
                if (Step s = EndTag(p, end, name); s != Step::Ok) return s;
                return name == "is" ? Step::Ok : Step::Fallback;
            }
            Tag child;
            if (Step s = StartTag(p, end, child); s != Step::Ok) return s;
            if (child.prefixed || child.name != "t" || haveText) return Step::Fallback;
            haveText = true;
            if (!child.selfClosing) {
                if (Step s = TextElement(p, end, "t", text, inlineScratch_); s != Step::Ok) return s;
            }
        }
    }

    enum class Where { Prelude, Cells, InRow };

    ByteSource& part_;
    SheetEvents& events_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0, end_ = 0;
    std::uint64_t offset_ = 0;  // of buffer_[0] in the part
    bool eof_ = false;
    Where where_ = Where::Prelude;
    bool rootSeen_ = false;
    std::vector<std::string> stack_;
    std::vector<std::string> prefixes_;
    std::string valueScratch_, inlineScratch_, formulaScratch_;
};

}  // namespace

SheetReadOutcome ReadSheet(const SourceOpener& open, SheetEvents& events, SheetReader reader) {
    SheetReadOutcome outcome;
    std::unique_ptr<ByteSource> part = open(outcome.partStatus);
    if (!part) {
        outcome.result = SheetResult::PartError;
        return outcome;
    }
    if (reader != SheetReader::ExpatOnly) {
        outcome.result = Scanner(*part, events).Run();
        if (outcome.result == SheetResult::PartError) outcome.partStatus = part->status();
        if (outcome.result != SheetResult::Fallback || reader == SheetReader::ScannerOnly) return outcome;
        events.Restart();
        part = open(outcome.partStatus);
        if (!part) {
            outcome.result = SheetResult::PartError;
            return outcome;
        }
    }
    outcome.usedExpat = true;
    outcome.result = ExpatSheet(events, part->DeclaredSize()).Run(*part);
    if (outcome.result == SheetResult::PartError) outcome.partStatus = part->status();
    return outcome;
}

SheetReadOutcome ReadSheet(const Package& package, const std::string& name, SheetEvents& events, SheetReader reader) {
    return ReadSheet([&](PartStatus& status) -> std::unique_ptr<ByteSource> { return package.Open(name, status); },
                     events, reader);
}

}  // namespace kelto::workbook::xlsx
