#include "formats/spectral/JCAMPFile.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>

#include "formats/spectral/JcampValues.h"
#include "formats/spectral/RelativeCompare.h"
#include "outside/utl/BinaryIO.h"
#include "outside/utl/ConfigurationSection.h"
#include "outside/utl/Exception.h"
#include "outside/utl/QmFile.h"
#include "platform/Translate.h"

using kelto::jcamp::DecodedValue;
using kelto::jcamp::DecodeError;
using kelto::jcamp::ValueDecoder;

namespace {

JCAMPFileFactory g_jcampFileFactory;

constexpr float kMissing = -99.0f;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Label names (and some values) compare without blanks, "-", "/", "\" and "_", in upper case,
// so that "##DATA TYPE=", "##DATATYPE=" and "##Data_Type=" are one label.
std::string Normalise(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (IsBlank(c) || c == '-' || c == '/' || c == '\\' || c == '_') continue;
        out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    return out;
}

double ParseNumber(std::string_view value) {
    std::string text(value);
    return std::strtod(text.c_str(), nullptr);
}

// "t %g" of x (a large spectrum has a heading per point, so not through printf).
const char* Heading(double x, char (&buffer)[64]) {
    buffer[0] = 't';
    buffer[1] = ' ';
    *kelto::jcamp::FormatG6(x, buffer + 2) = '\0';
    return buffer;
}

}  // namespace

// The lines of one file's text from a position: a line ends at CR or LF (a CR LF or LF CR pair
// is one end), and "$$" starts a comment that is cut off.
class JCAMPFile::Lines {
public:
    enum Result { kLine, kEnd, kTooLong };
    Lines(const std::string& text, std::size_t from, int& counter) : text_(text), pos_(from), counter_(counter) {}

    Result Next(std::string_view& line) {
        const std::size_t n = text_.size();
        if (pos_ >= n) return kEnd;
        const char* base = text_.data();
        std::size_t end = pos_;
        while (end < n && base[end] != '\n' && base[end] != '\r') ++end;
        if (end - pos_ > kMaxLineLength) return kTooLong;
        line = std::string_view(base + pos_, end - pos_);
        if (end < n) {
            char first = base[end++];
            if (end < n && (base[end] == '\n' || base[end] == '\r') && base[end] != first) ++end;
        }
        pos_ = end;
        ++counter_;
        if (const void* dollar = std::memchr(line.data(), '$', line.size())) {
            for (std::size_t i = static_cast<const char*>(dollar) - line.data(); i + 1 < line.size(); ++i) {
                if (line[i] == '$' && line[i + 1] == '$') {
                    line = line.substr(0, i);
                    break;
                }
            }
        }
        return kLine;
    }
    std::size_t Position() const { return pos_; }

private:
    const std::string& text_;
    std::size_t pos_;
    int& counter_;
};

// One page decoded: its y values (kMissing where none) in file order, and their x positions:
// listed for a table, first + k * step for XY data.
struct JCAMPFile::PageValues {
    std::vector<double> x;
    std::vector<float> y;
    bool spaced = false;
    double first = 0, step = 0;
    void clear() {
        x.clear();
        y.clear();
        spaced = false;
    }
    std::size_t size() const { return y.size(); }
    double X(std::size_t k) const { return spaced ? first + static_cast<double>(k) * step : x[k]; }
};

JCAMPData::JCAMPData()
    : firstX(std::numeric_limits<double>::quiet_NaN()), lastX(std::numeric_limits<double>::quiet_NaN()) {}

JCAMPFile::JCAMPFile() = default;

JCAMPFile::~JCAMPFile() { delete[] optionsBuffer; }

void JCAMPFile::Close() {
    text.clear();
    text.shrink_to_fit();
    loadedFile = static_cast<std::size_t>(-1);
    SpreadsheetFile::Close();
}

int JCAMPFile::FailAt(int code) {
    errorLine = lineNumber;
    return Fail(code);
}

int JCAMPFile::LoadFile(std::size_t fileIndex) {
    if (loadedFile == fileIndex) return 0;
    loadedFile = static_cast<std::size_t>(-1);
    text.clear();
    std::ifstream in(paths[fileIndex], std::ios::binary);
    if (!in) return kOpenFailed;
    in.seekg(0, std::ios::end);
    std::streamoff size = in.tellg();
    if (size < 0) return kOpenFailed;
    in.seekg(0, std::ios::beg);
    text.resize(static_cast<std::size_t>(size));
    if (size > 0 && !in.read(text.data(), size)) return kOpenFailed;
    loadedFile = fileIndex;
    return 0;
}

int JCAMPFile::Open(bool read, const char* path, QmImportOpenOptions* options) {
    if (status) return status;
    if (!read) return Fail(kWrongDirection);
    try {
        paths.clear();
        blocks.clear();
        if (!path || !QmFile::GetFileNames(path, paths) || paths.empty()) return Fail(kOpenFailed);
        multiFile = paths.size() > 1;
        for (std::size_t i = 0; i < paths.size(); ++i) {
            scanPath = paths[i];
            scanFileName = QmGetFileName(paths[i]);
            if (LoadFile(i) != 0) return Fail(kOpenFailed);
            if (int code = ScanHeader(i)) return code;
            if (!blocks.empty()) blocks.back().dataPosition = text.size();
        }
        return ApplyOptions(options);
    } catch (const CancelException&) {
        throw;
    } catch (const std::bad_alloc&) {
        return Fail(kReadError);
    }
}

int JCAMPFile::ScanHeader(std::size_t fileIndex) {
    lineNumber = 0;
    openTitles = 0;
    endSeen = false;
    // A UTF-8 byte-order mark before the first label is not part of it.
    const std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    Lines in(text, start, lineNumber);
    bool seenTitle = false;
    std::string_view line;
    for (;;) {
        Lines::Result got = in.Next(line);
        if (got == Lines::kEnd) break;
        if (got == Lines::kTooLong) return FailAt(kLineTooLong);
        line = Trim(line);
        if (!seenTitle && line.empty()) continue;
        if (line.size() < 2 || line[0] != '#' || line[1] != '#') {
            if (!seenTitle) return FailAt(kNotJcamp);
            continue;
        }
        std::size_t eq = line.find('=');
        std::string name = Normalise(line.substr(2, eq == std::string_view::npos ? std::string_view::npos : eq - 2));
        if (!seenTitle) {
            if (name != "TITLE" || eq == std::string_view::npos) return FailAt(kNotJcamp);
            seenTitle = true;
        }
        std::string_view value = eq == std::string_view::npos ? std::string_view() : Trim(line.substr(eq + 1));
        if (eq == std::string_view::npos) {
            // Several writers end a block with a bare "##END"; it closes the block as "##END="
            // would. Any other label needs its "=".
            if (name != "END") return FailAt(kNoTerminator);
        }
        if (int code = HandleLabel(name, value, fileIndex, in.Position())) return code;
    }
    if (openTitles > 0) return FailAt(kTitleMismatch);
    return 0;
}

int JCAMPFile::HandleLabel(std::string_view name, std::string_view value, std::size_t fileIndex, std::size_t after) {
    if (name == "TITLE") {
        const bool sameFile = !blocks.empty() && blocks.back().fileIndex == fileIndex;
        if (openTitles > 0 && !endSeen && sameFile) {
            // The first block of a LINK block shares the record of its enclosing header.
            blocks.back().title = std::string(value);
        } else {
            JCAMPData block;
            block.fileName = scanFileName;
            block.path = scanPath;
            block.fileIndex = fileIndex;
            block.title = std::string(value);
            blocks.push_back(std::move(block));
        }
        currentBlock = static_cast<int>(blocks.size()) - 1;
        ++openTitles;
        return 0;
    }
    JCAMPData& b = blocks.back();
    auto number = [&](double& target) {
        if (value.empty()) return FailAt(kMissingValue);
        target = ParseNumber(value);
        return 0;
    };
    if (name == "JCAMPDX") return 0;
    if (name == "DATATYPE") {
        std::string v(value);
        std::string upper = v;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (upper == "LINK") {
            b.dataType = "LINK";
            b.dataClass = 0;
        } else {
            for (std::size_t i = 0; i < v.size(); ++i) {
                unsigned char c = static_cast<unsigned char>(v[i]);
                v[i] = static_cast<char>(i == 0 ? std::toupper(c) : std::tolower(c));
            }
            b.dataType = std::move(v);
        }
        return 0;
    }
    if (name == "DATACLASS") {
        const std::string v = Normalise(value);
        b.dataClass = v == "XYDATA"        ? 1
                      : v == "RADATA"      ? 3
                      : v == "XYPOINTS"    ? 4
                      : v == "PEAKTABLE"   ? 5
                      : v == "ASSIGNMENTS" ? 6
                      : v == "NTUPLES"     ? 7
                                           : 8;
        return 0;
    }
    if (name == "BLOCKS") {
        if (value.empty()) return FailAt(kNoTerminator);
        if (b.dataClass != 0) {
            storedText = kelto::Translate("Found an illegal label ##BLOCKS within a LINK-block");
            return FailAt(kStoredText);
        }
        b.blockCount = static_cast<std::int32_t>(std::clamp(ParseNumber(value), -1.0, 2147483647.0));
        return 0;
    }
    if (name == "BLOCKID") {
        if (b.dataType) b.blockId = std::string(value);
        return 0;
    }
    if (name == "XUNITS") return b.xUnits = std::string(value), 0;
    if (name == "YUNITS") return b.yUnits = std::string(value), 0;
    if (name == "FIRSTX") return number(b.firstX);
    if (name == "LASTX") return number(b.lastX);
    if (name == "DELTAX") return number(b.deltaX);
    if (name == "XFACTOR" || name == "YFACTOR") {
        double& target = name == "XFACTOR" ? b.xFactor : b.yFactor;
        if (int code = number(target)) return code;
        return target == 0 ? FailAt(kIllegalValue) : 0;
    }
    if (name == "NPOINTS") {
        if (value.empty()) return FailAt(kMissingValue);
        // Read wide: a count such as 2^31 must be judged, not wrapped.
        const double v = ParseNumber(value);
        if (!(v >= 1) || std::fabs(v - std::trunc(v)) > 1e-30) return FailAt(kBadNpoints);
        if (v > static_cast<double>(kMaxPoints)) return FailAt(kTooManyPoints);
        b.points = static_cast<std::int32_t>(v);
        return 0;
    }
    if (name == "BINARY") return FailAt(kBinaryData);
    if (name == "END") {
        endSeen = true;
        if (--openTitles < 0) return FailAt(kTitleMismatch);
        return 0;
    }
    auto addPage = [&](std::string title) {
        JCAMPPage page;
        page.position = after;
        page.line = lineNumber;
        page.title = std::move(title);
        page.points = b.points;
        b.pages.push_back(std::move(page));
        ++b.pageCount;
    };
    if (name == "XYDATA" || name == "DATATABLE" || name == "PEAKTABLE" || name == "XYPOINTS") {
        addPage(scanFileName);
        const std::string v = Normalise(value);
        if (v == "(X++(Y..Y))" || v == "XYDATA") b.dataClass = 1;
        else if (v == "(XY..XY)") b.dataClass = 5;
        else if (v == "(XA)" || v == "(XYA)" || v == "(XYMA)") return FailAt(kAssignments);
        if (b.dataClass == 3) return FailAt(kRaData);
        if (b.dataClass == 7) return FailAt(kNtuples);
        return 0;
    }
    if (name == "PAGE") {
        addPage(std::string(value));
        return 0;
    }
    if (name == "RADATA") return FailAt(kRaData);
    if (name == "XYPAIRS") return FailAt(kXyPairs);
    if (name == "ASSIGNMENTS" || name == "PEAKASSIGNMENTS") return FailAt(kAssignments);
    if (name == "DATE") {
        if (!b.date) b.date = std::string(value);
        return 0;
    }
    if (name == "TIME") {
        if (!b.date) b.date = std::string(value);
        else if (b.date->size() < 12) *b.date += " " + std::string(value);
        return 0;
    }
    return 0;
}

int JCAMPFile::ApplyOptions(QmImportOpenOptions* options) {
    std::vector<int> selection;
    const int n = static_cast<int>(blocks.size());
    // A record that arrives holding bytes owns them, and whatever replaces them must be owned
    // by the record too; an empty record is pointed at our buffer, which the host copies.
    const bool given = options && options->size > 0 && options->data;
    if (n < 2) {
        selection = {0};
    } else if (options && options->size > 0 && options->data) {
        try {
            std::string xml;
            std::istringstream in(std::string(options->data, static_cast<std::size_t>(options->size)));
            if (ReadBinaryString(in, xml)) {
                // A text that does not parse, or has no "Settings", selects nothing.
                std::unique_ptr<TinyXML2Section> document = TinyXML2Section::CreateXMLSectionFromString(xml.c_str());
                std::unique_ptr<ConfigurationSection> settings = document ? document->GetSection("Settings") : nullptr;
                if (settings) {
                    if (!settings->ReadKey("DataBlocks", selection)) return Fail(kInvalidReadOption);
                    settings->ReadKey("InterPolationFile", referenceBlock);
                    settings->ReadKey("InterPolationSerie", referencePage);
                }
            }
        } catch (const CancelException&) {
            throw;
        } catch (const std::exception&) {
            return Fail(kInvalidReadOption);
        }
    } else {
        selection = GetSelectedJCAMPDataBlocks();
        if (rangesDiffer || pointsDiffer) {
            int block = -1, page = -1;
            if (!GetInterPolationIndeces(block, page)) return status;
            referenceBlock = block;
            referencePage = page;
        }
    }
    if (options) {
        bool every = true;
        for (int i = 0; i < n && every; ++i) every = std::find(selection.begin(), selection.end(), i) != selection.end();
        if (!every) {
            TinyXML2Section document;
            std::unique_ptr<ConfigurationSection> settings = document.CreateSection("Settings");
            settings->WriteKey("DataBlocks", selection);
            settings->WriteKey("InterPolationFile", referenceBlock);
            settings->WriteKey("InterPolationSerie", referencePage);
            std::string xml;
            document.Flush(xml, false);
            std::ostringstream out;
            WriteBinaryString(out, xml);
            const std::string bytes = out.str();
            auto copy = std::make_unique<char[]>(bytes.size());
            std::memcpy(copy.get(), bytes.data(), bytes.size());
            if (given) {
                delete[] options->data;
            } else {
                delete[] optionsBuffer;
                optionsBuffer = copy.get();
            }
            options->size = static_cast<int>(bytes.size());
            options->data = copy.release();
        }
    }
    selectionList = selection;
    SelectJCAMPBlock(selection);
    return status;
}

bool JCAMPFile::GetInterPolationIndeces(int& block, int& page) {
    block = 0;
    page = 0;
    return true;
}

std::vector<int> JCAMPFile::GetSelectedJCAMPDataBlocks() {
    std::vector<int> all(blocks.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
    return all;
}

int JCAMPFile::SelectJCAMPBlock(int index) {
    if (index < 0 || blocks.empty()) return -1;
    if (static_cast<std::size_t>(index) < blocks.size() && blocks[index].dataClass != 0) blocks[index].selected = true;
    return 0;
}

int JCAMPFile::SelectJCAMPBlock(const std::vector<int>& indices) {
    if (blocks.empty()) return -1;
    for (JCAMPData& b : blocks) b.selected = false;
    for (int i : indices)
        if (i >= 0 && static_cast<std::size_t>(i) < blocks.size() && blocks[i].dataClass != 0) blocks[i].selected = true;
    return 0;
}

int JCAMPFile::GetJCAMPBlockList(std::vector<std::string>& out) {
    if (status) return status;
    for (const JCAMPData& b : blocks) {
        if (b.dataClass == 0) continue;
        const std::string type = b.dataType.value_or("");
        if (multiFile)
            out.push_back(kelto::TranslateFormat("%1%%2%, %3%x%4% obs, %5%", b.fileName, type, b.pageCount, b.points, b.title));
        else
            out.push_back(kelto::TranslateFormat("%1%, %2%x%3% obs, %4%", type, b.pageCount, b.points, b.title));
    }
    return 0;
}

std::string JCAMPFile::GetTitle() const {
    if (multiFile) return kelto::Translate("File, data type, size of dataset, title.");
    if (blocks.size() == 1) return blocks.front().title;
    return kelto::Translate("Data type, size of dataset, title.");
}

const char* JCAMPFile::GetDateCreated(kelto::platform::OleDateResult& out) {
    out = kelto::platform::OleDateResult();
    dateText.clear();
    if (currentBlock < 0 || static_cast<std::size_t>(currentBlock) >= blocks.size()) return dateText.c_str();
    const std::optional<std::string>& date = blocks[currentBlock].date;
    if (!date) return dateText.c_str();
    out = kelto::platform::ParseOleDate(*date);
    if (!out.ok()) {
        out.value = out.status == kelto::platform::OleDateStatus::TypeMismatch ? 0.0 : -1.0;
        return dateText.c_str();
    }
    dateText = *date;
    return dateText.c_str();
}

int JCAMPFile::EstablishSize() { return kEstablishSizeUnused; }

int JCAMPFile::GetNumCols() {
    if (status || blocks.empty()) return -1;
    bool any = false;
    std::int32_t most = 0;
    for (const JCAMPData& b : blocks) {
        if (!b.selected) continue;
        any = true;
        for (const JCAMPPage& p : b.pages) {
            if (p.points < 1) {
                currentBlock = static_cast<int>(&b - blocks.data());
                Fail(kNoSize);
                return -1;
            }
            most = std::max(most, p.points);
        }
    }
    if (!any) return Fail(kNoneSelected), -1;
    if (most == 0) return Fail(kNoSize), -1;
    return most + 2;
}

int JCAMPFile::GetNumRows() {
    if (status || blocks.empty()) return -1;
    bool any = false;
    std::int64_t pages = 0;
    for (const JCAMPData& b : blocks) {
        if (!b.selected) continue;
        any = true;
        if (b.points < 1) {
            currentBlock = static_cast<int>(&b - blocks.data());
            Fail(kNoSize);
            return -1;
        }
        pages += b.pageCount;
    }
    if (!any) return Fail(kNoneSelected), -1;
    if (pages == 0) return Fail(kNoSize), -1;
    return static_cast<int>(std::min<std::int64_t>(pages + 2, std::numeric_limits<int>::max()));
}

// The y values of one XY page, (X++(Y..Y)): each line an abscissa, then ordinates; the x of
// each point follows from the first x and the spacing.
int JCAMPFile::DecodeXYPage(const JCAMPData& block, const JCAMPPage& page, PageValues& values) {
    values.clear();
    const std::int32_t expected = page.points;
    // Without a first or last x the spacing is undefined and every heading would be NaN.
    if (std::isnan(block.firstX) || std::isnan(block.lastX)) return FailAt(kNoSpacing);
    double dx = expected > 1 ? (block.lastX - block.firstX) / (expected - 1) : 0.0;
    if (dx == 0) {
        if (block.deltaX == 0) return FailAt(kNoSpacing);
        dx = block.deltaX;
    }
    pointsExpected = expected;
    pointsRead = 0;
    // Room for the points the block declares, but never more than the bytes left could spell
    // without repeats; a DUP run past that grows the lists as it goes.
    const std::size_t room = std::min<std::size_t>(expected, text.size() - std::min(text.size(), page.position));
    values.y.reserve(room);
    values.spaced = true;
    values.first = block.firstX;
    values.step = dx;
    lineNumber = page.line;
    Lines in(text, page.position, lineNumber);
    ValueDecoder decoder(false);
    DecodedValue v;
    double lastY = 0;
    bool previousDif = false;
    bool yCheckFailed = false;
    bool stop = false;
    std::string_view line;
    auto mapError = [this](DecodeError e) {
        switch (e) {
            case DecodeError::IllegalCharacter: return FailAt(kIllegalCharacter);
            case DecodeError::InvalidStrictCharacter: return FailAt(kInvalidCharacter);
            case DecodeError::DoubleDup: return FailAt(kDoubleDup);
            case DecodeError::None: break;
        }
        return 0;
    };
    while (!stop) {
        Lines::Result got = in.Next(line);
        if (got == Lines::kEnd) return FailAt(kUnexpectedEnd);
        if (got == Lines::kTooLong) return FailAt(kLineTooLong);
        std::size_t pos = 0;
        while (pos < line.size() && IsBlank(line[pos])) ++pos;
        if (pos == line.size()) continue;
        if (line[pos] == '#') break;
        if (DecodeError e = decoder.Next(line, pos, false, v); e != DecodeError::None) return mapError(e);
        if (v.count != 1) return FailAt(kAbscissaDup);
        bool firstOrdinate = true;
        bool lineDif = previousDif;
        for (;;) {
            if (DecodeError e = decoder.Next(line, pos, false, v); e != DecodeError::None) return mapError(e);
            if (!v.found) break;
            std::int64_t copies = v.count;
            if (firstOrdinate) {
                firstOrdinate = false;
                if (v.dif) return FailAt(kDifOrdinate);
                if (previousDif) {
                    // The y check: a DIF line is followed by one that repeats its last value.
                    if (v.missing || v.value != lastY) {
                        if (pointsRead < expected) {
                            warning = kYCheckFailed;
                            warningLine = lineNumber;
                            yCheckFailed = true;
                        }
                        stop = true;
                        break;
                    }
                    --copies;
                }
            }
            lineDif = v.dif;
            for (; copies > 0; --copies) {
                float y;
                if (v.missing) {
                    y = kMissing;
                } else {
                    lastY = v.dif ? lastY + v.value : v.value;
                    y = static_cast<float>(lastY * block.yFactor);
                }
                if (pointsRead >= expected) {
                    warning = kExtraPoints;
                    stop = true;
                    break;
                }
                ++pointsRead;
                values.y.push_back(y);
            }
            if (stop) break;
        }
        previousDif = lineDif;
    }
    if (pointsRead < expected && !yCheckFailed) {
        warning = kMissingPoints;
        warningRead = pointsRead;
        warningExpected = expected;
    }
    return 0;
}

// The pairs of one table page, (XY..XY): x and y on each line, as many pairs as it holds.
int JCAMPFile::DecodeTablePage(const JCAMPData& block, const JCAMPPage& page, PageValues& values) {
    values.clear();
    const std::int32_t expected = page.points;
    pointsExpected = expected;
    pointsRead = 0;
    lineNumber = page.line;
    Lines in(text, page.position, lineNumber);
    ValueDecoder decoder(block.dataClass == 5);
    DecodedValue vx, vy;
    std::string_view line;
    bool full = false;
    while (!full) {
        Lines::Result got = in.Next(line);
        if (got == Lines::kEnd) return FailAt(kUnexpectedEnd);
        if (got == Lines::kTooLong) return FailAt(kLineTooLong);
        std::size_t pos = 0;
        while (pos < line.size() && IsBlank(line[pos])) ++pos;
        if (pos == line.size()) continue;
        if (line[pos] == '#') break;
        for (;;) {
            DecodeError e = decoder.Next(line, pos, true, vx);
            if (e == DecodeError::InvalidStrictCharacter) return FailAt(kInvalidCharacter);
            if (e != DecodeError::None) return FailAt(e == DecodeError::DoubleDup ? kDoubleDup : kIllegalCharacter);
            if (!vx.found) break;
            e = decoder.Next(line, pos, false, vy);
            if (e != DecodeError::None) return FailAt(e == DecodeError::DoubleDup ? kDoubleDup : kIllegalCharacter);
            if (pointsRead >= expected) {
                // More pairs than the page announced end it quietly.
                full = true;
                break;
            }
            ++pointsRead;
            values.x.push_back(vx.missing ? kMissing : vx.value * block.xFactor);
            values.y.push_back(!vy.found || vy.missing ? kMissing : static_cast<float>(vy.value * block.yFactor));
            if (!vy.found) break;
        }
    }
    if (pointsRead < expected) {
        warning = kMissingPoints;
        warningRead = pointsRead;
        warningExpected = expected;
    }
    return 0;
}

int JCAMPFile::BuildCommonAxis(const std::vector<int>& selection) {
    (void)selection;
    if (referenceBlock < 0 || static_cast<std::size_t>(referenceBlock) >= blocks.size()) return Fail(kBadSeries);
    const JCAMPData& ref = blocks[referenceBlock];
    if (referencePage < 0 || referencePage >= static_cast<int>(ref.pages.size())) return Fail(kBadSeries);
    const JCAMPPage& page = ref.pages[referencePage];
    commonX.clear();
    currentBlock = referenceBlock;
    scanFileName = ref.fileName;
    if (ref.dataClass == 1) {
        if (page.points < 1) return Fail(kNoSize);
        if (std::isnan(ref.firstX) || std::isnan(ref.lastX)) return Fail(kNoSpacing);
        double dx = page.points > 1 ? (ref.lastX - ref.firstX) / (page.points - 1) : 0.0;
        if (dx == 0) {
            if (ref.deltaX == 0) return Fail(kNoSpacing);
            dx = ref.deltaX;
        }
        commonX.reserve(static_cast<std::size_t>(page.points));
        for (std::int32_t k = 0; k < page.points; ++k) commonX.push_back(static_cast<float>(ref.firstX + k * dx));
    } else {
        if (int code = LoadFile(ref.fileIndex)) return Fail(code);
        PageValues values;
        const int savedWarning = warning;
        if (int code = DecodeTablePage(ref, page, values)) return code;
        warning = savedWarning;
        for (std::size_t k = 0; k < values.size(); ++k) commonX.push_back(static_cast<float>(values.X(k)));
    }
    // A reference page without values, or a table with unsorted or repeated x, gives no axis
    // to read other spectra off.
    if (commonX.empty()) return Fail(kNoData);
    if (!NCDataVectorUtilities::IsStrictlyMonotonic(commonX)) return Fail(kUnsortedAxis);
    commonLength = commonX.size();
    return 0;
}

int JCAMPFile::ReadPage(ReadSpreadSheetData* data, const JCAMPData& block, const JCAMPPage& page, int row, bool first,
                        PageValues& values) {
    const bool table = block.dataClass != 1;
    if (int code = table ? DecodeTablePage(block, page, values) : DecodeXYPage(block, page, values)) return code;
    const bool interpolate = commonLength > 0;
    NCDataVector<float> y;
    if (interpolate) {
        NCDataVector<float> px, py;
        px.reserve(values.size());
        py.reserve(values.size());
        for (std::size_t k = 0; k < values.size(); ++k) px.push_back(static_cast<float>(values.X(k)));
        for (float v : values.y) py.push_back(v);
        if (!NCDataVectorUtilities::IsStrictlyMonotonic(px)) return FailAt(kUnsortedAxis);
        y = NCDataVectorUtilities::InterPolateVec(commonX, px, py);
    }
    const int dataRow = first ? row + 2 : row;
    int wanted = data->GetNextRow(row - 1);
    if (first) {
        // Rows 1 and 2: the x positions as "t <x>" headings and as numbers.
        const std::size_t count = interpolate ? commonX.size() : values.size();
        auto xAt = [&](std::size_t k) { return interpolate ? static_cast<double>(commonX[k]) : values.X(k); };
        if (wanted == row) {
            char heading[64];
            for (std::size_t k = 0; k < count; ++k) data->Set(static_cast<int>(k + 3), row, Heading(xAt(k), heading));
            wanted = data->GetNextRow(row);
        }
        if (wanted == row + 1) {
            if (table) data->Set(1, row + 1, static_cast<std::int64_t>(row));
            data->Set(2, row + 1, block.xUnits.empty() ? "X" : block.xUnits.c_str());
            for (std::size_t k = 0; k < count; ++k) data->Set(static_cast<int>(k + 3), row + 1, xAt(k));
            wanted = data->GetNextRow(row + 1);
        }
    }
    if (wanted != dataRow) return 0;
    data->Set(1, dataRow, static_cast<std::int64_t>(table ? dataRow - 1 : dataRow - 2));
    std::string name = multiFile ? kelto::FormatMessage("%1%, ", block.fileName) : std::string();
    const bool haveType = block.dataType && !block.dataType->empty();
    const bool haveTitle = !block.title.empty();
    if (haveType && haveTitle) name = kelto::FormatMessage("%1%%2% : %3%", name, *block.dataType, block.title);
    else if (haveType) name = kelto::FormatMessage("%1%%2%", name, *block.dataType);
    else if (haveTitle) name = kelto::FormatMessage("%1%%2%", name, block.title);
    else name = "Y";
    data->Set(2, dataRow, name.c_str());
    const float* ys = interpolate ? y.data() : values.y.data();
    const std::size_t count = interpolate ? y.size() : values.y.size();
    for (std::size_t k = 0; k < count; ++k) {
        if (ys[k] == kMissing) data->Set(static_cast<int>(k + 3), dataRow, "");
        else data->Set(static_cast<int>(k + 3), dataRow, ys[k]);
    }
    return 0;
}

int JCAMPFile::Read(ReadSpreadSheetData* data) {
    if (status) return status;
    if (blocks.empty()) return Fail(kReadError);
    if (!data) return 0;
    try {
        std::vector<int> selection;
        for (std::size_t i = 0; i < blocks.size(); ++i)
            if (blocks[i].selected) selection.push_back(static_cast<int>(i));
        if (selection.empty()) return Fail(kNoneSelected);
        const JCAMPData& lead = blocks[selection.front()];
        pointsDiffer = rangesDiffer = false;
        const std::int32_t leadPoints = lead.pages.empty() ? lead.points : lead.pages.front().points;
        for (int i : selection) {
            const JCAMPData& b = blocks[i];
            if (b.dataClass != lead.dataClass) {
                currentBlock = i;
                return Fail(kMixedClasses);
            }
            for (const JCAMPPage& p : b.pages)
                if (p.points != leadPoints) pointsDiffer = true;
            if (!kelto::spectral::RelativelyEqual(b.firstX, lead.firstX) ||
                !kelto::spectral::RelativelyEqual(b.lastX, lead.lastX))
                rangesDiffer = true;
        }
        commonX.clear();
        commonLength = 0;
        if (rangesDiffer || pointsDiffer) {
            if (referenceBlock == -1) {
                int block = -1, page = -1;
                if (!GetInterPolationIndeces(block, page)) return status;
                referenceBlock = block;
                referencePage = page;
            }
            if (int code = BuildCommonAxis(selection)) return code;
            const int rows = GetNumRows();
            if (rows < 0) return status;
            data->SetDataSize(static_cast<int>(commonLength) + 2, rows);
        }
        PageValues values;
        int row = 1;
        bool first = true;
        for (int i : selection) {
            const JCAMPData& b = blocks[i];
            currentBlock = i;
            scanFileName = b.fileName;
            switch (b.dataClass) {
                case 0: continue;
                case 1:
                case 4:
                case 5: break;
                case 3: return Fail(kRaData);
                case 6: return Fail(kAssignments);
                case 7: return Fail(kNtuples);
                default: return Fail(kUnknownClass);
            }
            if (b.points < 1) return Fail(kNoSize);
            if (b.pages.empty()) return Fail(kNoData);
            if (int code = LoadFile(b.fileIndex)) return Fail(code);
            for (const JCAMPPage& page : b.pages) {
                if (page.points < 1) return Fail(kNoSize);
                if (int code = ReadPage(data, b, page, row, first, values)) return code;
                if (first) {
                    first = false;
                    row = 4;
                } else {
                    ++row;
                }
            }
        }
        status = 0;
        return 0;
    } catch (const CancelException&) {
        throw;
    } catch (const std::bad_alloc&) {
        return Fail(kReadError);
    }
}

std::string JCAMPFile::Prefix(bool withLine) const {
    if (!multiFile) return std::string();
    if (withLine) return kelto::TranslateFormat("Error in file '%1%', line %2%: ", scanFileName, errorLine);
    return kelto::TranslateFormat("Error in file '%1%': ", scanFileName);
}

void JCAMPFile::GetErrorMessage(char* buffer, unsigned int size) {
    std::string message;
    auto withPrefix = [&](const char* text, bool line) { message = kelto::TranslateFormat(text, Prefix(line)); };
    switch (status) {
        case kOpenFailed: message = kelto::Translate("Unable to open file."); break;
        case kNotJcamp:
            message = multiFile ? kelto::Translate("One of the files does not appear to be a valid JCAMP-DX file.")
                                : kelto::Translate("The file does not appear to be a valid JCAMP-DX file.");
            break;
        case kBinaryData: withPrefix("%1%The data is stored in an unsupported (binary) form.", false); break;
        case kNoTerminator: withPrefix("%1%Found a label with the data label terminator ('=') missing.", true); break;
        case kMissingValue: withPrefix("%1%A label with a missing value was found in the file.", true); break;
        case kTitleMismatch:
            withPrefix("%1%Mismatching '##TITLE=' and '##END=' labels were found in the file.", false);
            break;
        case kStoredText: message = storedText; break;
        case kIllegalValue:
            message = kelto::TranslateFormat("%1%The label on line %2% has an illegal value.", Prefix(false), errorLine);
            break;
        case kBadNpoints:
            withPrefix("%1%Invalid value of '##NPOINTS=' label in the file. The value of '##NPOINTS=' must be a "
                       "positive integer.",
                       true);
            break;
        case kNoneSelected: message = kelto::Translate("No data blocks were selected."); break;
        case kReadError: withPrefix("%1%Error occurred while reading the file.", true); break;
        case kNoSize:
            withPrefix("%1%The size of the data block could not be established. The '##NPOINTS'-label could not be "
                       "found or had an illegal value.",
                       false);
            break;
        case kNoData: withPrefix("%1%Couldn't find valid data to import.", false); break;
        case kUnknownClass:
            withPrefix("%1%Does not recognize the value of the '##DATACLASS=' label as a valid JCAMP-DX 5.0 dataclass",
                       true);
            break;
        case kAssignments: withPrefix("%1% can currently not read assignments.", false); break;
        case kRaData: withPrefix("%1% can currently not read RA-data.", false); break;
        case kNtuples: withPrefix("%1% Can currently not read n-tuples.", false); break;
        case kLineTooLong:
            message = kelto::TranslateFormat("%1%Line %2% is longer than %3% characters.", Prefix(false), errorLine,
                                             kMaxLineLength);
            break;
        case kTooManyPoints:
            message = kelto::TranslateFormat(
                "%1%The value of '##NPOINTS=' on line %2% is larger than %3%, the most points a data block may hold.",
                Prefix(false), errorLine, kMaxPoints);
            break;
        case kXyPairs: withPrefix("%1% can currently not read XY pairs.", false); break;
        case kBadSeries: withPrefix("%1%The selected series is invalid", false); break;
        case kNoSpacing:
            withPrefix("%1%Couldn't establish dx, either the '##FIRSTX=' and/or '##LASTX=' labels are missing in the "
                       "file, or the '##DELTAX=' label.",
                       false);
            break;
        case kAbscissaDup: withPrefix("%1%Duplicate suppression count (DUP) should be 1 for abscissa.", true); break;
        case kDifOrdinate: withPrefix("%1%A DUP-value is not allowed as first ordinate.", true); break;
        case kUnexpectedEnd: withPrefix("%1%Found unexpected End-of-file while reading data from file.", false); break;
        case kIllegalCharacter:
            message = kelto::TranslateFormat("%1%Found an illegal character on line %2% while reading data from the file.",
                                             Prefix(false), errorLine);
            break;
        case kInvalidCharacter:
            withPrefix("%1%Found an invalid character while reading data from the dataset", true);
            break;
        case kDoubleDup: withPrefix("%1%Two consecutive DUP-values is not allowed.", true); break;
        case kUnsortedAxis:
            withPrefix("%1%The x values of a spectrum to interpolate are not strictly increasing or decreasing.",
                       false);
            break;
        case kMixedClasses:
            message = kelto::Translate("Only files with dataclass='XYDATA' are supported by multi-selection.");
            multiFile = false;
            break;
        case kInvalidReadOption: message = kelto::Translate("Invalid file read option."); break;
        default: SpreadsheetFile::GetErrorMessage(buffer, size); return;
    }
    CopyMessage(message.c_str(), buffer, size);
}

const char* JCAMPFile::GetWarningMessage() {
    warningText.clear();
    if (status == kOpenFailed) return warningText.c_str();
    switch (warning) {
        case kNoWarning: break;
        case kMissingPoints:
            warningText = kelto::TranslateFormat(
                "%1%Data seem to be missing in the file. Could only read %2% y-values, but expected to read %3%. "
                "Continue with the import will cause incorrectly computed x-values, since the nominal spacing "
                "between the x-values is calculated from the number of y-values.",
                Prefix(false), warningRead, warningExpected);
            break;
        case kExtraPoints:
            warningText = kelto::TranslateFormat(
                "%1%There seem to be more y-values in the file than specified by the '##NPOINTS'-label. Continue "
                "with the import will cause incorrectly computed x-values, since the nominal spacing between the "
                "x-values is calculated from the number of y-values.",
                Prefix(false));
            break;
        case kYCheckFailed:
            warningText = kelto::TranslateFormat(
                "%1%Y-value check failed on line %2%. The remaining part of the dataset will be ignored.",
                Prefix(false), warningLine);
            break;
        default: warningText = kelto::Translate("Internal error."); break;
    }
    return warningText.empty() ? nullptr : warningText.c_str();
}

JCAMPFileFactory::JCAMPFileFactory()
    : SprFileFactory("JCAMP-DX File", "JCAMP-DX Files (*.jcm; *.dx; *.jdx)", nullptr, 3, ".jcm\0.dx\0.jdx", 0, 1, 2, 1,
                     0, 1) {}

SprFileFactory::MyKindOfFile JCAMPFileFactory::IsMyKindOfFile(const char*) { return PossiblyMyKind; }

SpreadsheetFile* JCAMPFileFactory::GetSpreadsheetFile() { return new JCAMPFile; }
