#include "formats/workbook/ExcelXLSBFile.h"

#include <tinyxml2.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "formats/workbook/ExcelValues.h"
#include "formats/workbook/ExcelXLSXFile.h"
#include "outside/utl/Exception.h"
#include "outside/utl/QmSystemInfo.h"
#include "platform/ByteOrder.h"
#include "platform/Translate.h"
#include "platform/Utf8.h"

using kelto::platform::LoadLE;
using namespace kelto::workbook;
using namespace kelto::workbook::xlsx;

namespace kelto::workbook::xlsb {

namespace {

constexpr std::size_t kBlock = 1 << 16;

}  // namespace

bool RecordReader::Fill(std::size_t wanted) {
    if (end_ - begin_ >= wanted) return true;
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (buffer_.size() < kBlock) buffer_.resize(kBlock);
    while (end_ < wanted && !atEnd_) {
        // The buffer grows with the bytes that really arrive, never to a size a record only
        // claims.
        if (end_ == buffer_.size()) buffer_.resize(std::min(wanted, 2 * buffer_.size()));
        std::ptrdiff_t got = source_.Read(buffer_.data() + end_, buffer_.size() - end_);
        if (got < 0) return false;
        if (got == 0) atEnd_ = true;
        end_ += static_cast<std::size_t>(got);
    }
    return end_ >= wanted;
}

RecordReader::Next RecordReader::Read(int& type, std::string_view& data) {
    // The header takes at most six bytes; near the end of the part fewer may remain.
    if (!Fill(6) && source_.status() != PartStatus::Ok) return Next::Corrupt;
    if (begin_ == end_) return Next::End;
    const auto* p = reinterpret_cast<const std::uint8_t*>(buffer_.data() + begin_);
    const std::size_t available = end_ - begin_;
    std::size_t at = 0;
    type = p[at] & 0x7F;
    if (p[at++] & 0x80) {
        if (at >= available) return Next::Corrupt;
        // [MS-XLSB 2.1.4] the second byte's high bit must be clear.
        if (p[at] & 0x80) return Next::Corrupt;
        type |= (p[at++] & 0x7F) << 7;
    }
    std::uint64_t size = 0;
    for (int i = 0;; ++i) {
        if (i == 4 || at >= available) return Next::Corrupt;
        size |= static_cast<std::uint64_t>(p[at] & 0x7F) << (7 * i);
        if (!(p[at++] & 0x80)) break;
    }
    // A record never claims more than the part can hold.
    if (size > source_.DeclaredSize()) return Next::Corrupt;
    begin_ += at;
    if (!Fill(static_cast<std::size_t>(size))) return Next::Corrupt;
    data = std::string_view(buffer_.data() + begin_, static_cast<std::size_t>(size));
    begin_ += static_cast<std::size_t>(size);
    return Next::Record;
}

bool ReadWideString(std::string_view data, std::size_t& at, std::string& out) {
    if (data.size() < at + 4) return false;
    const std::uint32_t count = LoadLE<std::uint32_t>(data.data() + at);
    if ((data.size() - at - 4) / 2 < count) return false;
    const char* units = data.data() + at + 4;
    for (std::uint32_t i = 0; i < count; ++i) {
        char32_t c = LoadLE<std::uint16_t>(units + 2 * i);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < count) {
            const char32_t low = LoadLE<std::uint16_t>(units + 2 * (i + 1));
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        // A lone surrogate cannot be written in UTF-8.
        if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;
        kelto::platform::AppendUtf8(out, c);
    }
    at += 4 + 2 * static_cast<std::size_t>(count);
    return true;
}

}  // namespace kelto::workbook::xlsb

using kelto::workbook::xlsb::ReadWideString;
using kelto::workbook::xlsb::RecordReader;

namespace {

// Record types [MS-XLSB 2.3] used here.
enum : int {
    kRowHdr = 0,
    kCellBlank = 1,
    kCellRk = 2,
    kCellError = 3,
    kCellBool = 4,
    kCellReal = 5,
    kCellSt = 6,
    kCellIsst = 7,
    kFmlaString = 8,
    kFmlaNum = 9,
    kFmlaBool = 10,
    kFmlaError = 11,
    // The short forms carry no column: they stand in the column after the previous cell.
    kShortBlank = 12,
    kShortRk = 13,
    kShortError = 14,
    kShortBool = 15,
    kShortReal = 16,
    kShortSt = 17,
    kShortIsst = 18,
    kSSTItem = 19,
    kFmt = 44,
    kXF = 47,
    kACBegin = 37,
    kACEnd = 38,
    kEndBundleShs = 144,  // 143 begins the list
    kBeginSheetData = 145,
    kEndSheetData = 146,
    kWsDim = 148,
    kWbProp = 153,
    kBundleSh = 156,
    kBeginSst = 159,
    kEndSst = 160,
    kBeginFmts = 615,
    kEndFmts = 616,
    kBeginCellXFs = 617,
    kEndCellXFs = 618,
    kIgnored = 427,
};

// The shortest cell record (a short blank) takes six bytes.
constexpr std::uint64_t kMinBytesPerCell = 6;
constexpr std::size_t kRelationshipsLimit = 16 << 20;

ExcelXLSBFileFactory g_excelXLSBFileFactory;

int CodeOf(PartStatus status) {
    switch (status) {
        case PartStatus::Ok: return 0;
        case PartStatus::Unsupported: return ExcelXLSXFile::kUnsupported;
        default: return ExcelXLSXFile::kCorrupt;
    }
}

bool IsCellRecord(int type) { return (type >= kCellBlank && type <= kShortIsst) && type != kSSTItem; }

}  // namespace

struct ExcelXLSBFile::Layout {
    bool stacked = false;
    int columnOffset = 0, rowOffset = 0;  // where this sheet's A1 lands, less one
    int widest = 0, tallest = 0;          // over the sheets before this one
    int announcedColumns = -1, announcedRows = -1;
};

int ExcelXLSBFile::EstablishSize() {
    numCols = numRows = 1;
    sizeKnown = true;
    return 0;
}

const char* ExcelXLSBFile::GetWarningMessage() { return warning_.empty() ? nullptr : warning_.c_str(); }

const char* ExcelXLSBFile::GetReadFile() const { return readFileShown_.c_str(); }

int ExcelXLSBFile::GetSheetOptions() {
    if (!status && !worksheets_.empty()) options_.ChooseDefault(allowMultipleSheets_);
    return status;
}

QmImportOpenOptions* ExcelXLSBFile::GetFileReadOptions(const char* path, bool allowMultipleSheets) {
    if (status) return nullptr;
    allowMultipleSheets_ = allowMultipleSheets;
    try {
        OpenFile(path, nullptr);
    } catch (const CancelException&) {
        throw;
    } catch (const std::bad_alloc&) {
        if (!status) Fail(ExcelXLSXFile::kOutOfMemory);
    } catch (const std::exception&) {
        if (!status) Fail(kBadOptions);
    }
    if (status == kSilentError) options_.ClearChoice();
    if (status) return nullptr;
    auto* record = new QmImportOpenOptions{0, nullptr};
    options_.WriteRecord(*record);
    return record;
}

int ExcelXLSBFile::Open(bool read, const char* path, QmImportOpenOptions* options) {
    if (status) return status;
    if (!read) return Fail(kWrongDirection);
    if (!path) return Fail(ExcelXLSXFile::kOpenFailed);
    try {
        return OpenFile(path, options);
    } catch (const CancelException&) {
        throw;
    } catch (const std::bad_alloc&) {
        if (!status) Fail(ExcelXLSXFile::kOutOfMemory);
    } catch (const std::exception&) {
        if (!status) Fail(ExcelXLSXFile::kOpenFailed);
    }
    return status;
}

int ExcelXLSBFile::OpenFile(const char* path, QmImportOpenOptions* options) {
    // An encrypted workbook is a compound file, not a zip package.
    if (!package_.OpenFile(path)) return Fail(ExcelXLSXFile::kProtected);
    if (int code = ReadWorkbook()) return Fail(code);
    open_ = true;
    return GetSheet(options);
}

int ExcelXLSBFile::ReadWorkbook() {
    const std::string workbookPart = package_.Find("xl/workbook.bin");
    if (workbookPart.empty()) return ExcelXLSXFile::kUnsupported;
    PartStatus partStatus;
    auto part = package_.Open(workbookPart, partStatus);
    if (!part) return CodeOf(partStatus);
    struct Named {
        std::string relationship, name;
    };
    std::vector<Named> bundles;
    RecordReader records(*part);
    int type;
    std::string_view data;
    for (;;) {
        const RecordReader::Next next = records.Read(type, data);
        if (next == RecordReader::Next::Corrupt) return CodeOf(part->status()) ? CodeOf(part->status()) : ExcelXLSXFile::kCorrupt;
        if (next == RecordReader::Next::End || type == kEndBundleShs) break;
        if (type == kWbProp && data.size() >= 4) {
            // [MS-XLSB 2.4.820] BrtWbProp: the first flag is the 1904 date system.
            date1904_ = LoadLE<std::uint32_t>(data.data()) & 1;
        } else if (type == kBundleSh) {
            Named b;
            std::size_t at = 8;  // after the sheet state and tab id
            if (!ReadWideString(data, at, b.relationship) || !ReadWideString(data, at, b.name))
                return ExcelXLSXFile::kCorrupt;
            bundles.push_back(std::move(b));
        }
    }
    // A sheet is a worksheet when its relationship points at a part under "worksheets".
    std::string rels;
    PartStatus relsStatus = package_.ReadAll(RelationshipsPartOf(workbookPart), rels, kRelationshipsLimit);
    if (relsStatus != PartStatus::Ok && relsStatus != PartStatus::Missing) return CodeOf(relsStatus);
    tinyxml2::XMLDocument doc;
    if (!rels.empty() && doc.Parse(rels.data(), rels.size()) != tinyxml2::XML_SUCCESS) return ExcelXLSXFile::kCorrupt;
    sheets_.clear();
    worksheets_.clear();
    for (const Named& b : bundles) {
        const tinyxml2::XMLElement* root = doc.FirstChildElement("Relationships");
        for (auto* r = root ? root->FirstChildElement("Relationship") : nullptr; r;
             r = r->NextSiblingElement("Relationship")) {
            const char* id = r->Attribute("Id");
            const char* target = r->Attribute("Target");
            if (!id || !target || b.relationship != id || !std::strstr(target, "worksheets")) continue;
            sheets_.push_back({b.name, ResolvePartName(workbookPart, target)});
            worksheets_.push_back(b.name);
            break;
        }
    }
    return 0;
}

int ExcelXLSBFile::GetSheet(QmImportOpenOptions* options) {
    if (worksheets_.empty()) return Fail(ExcelXLSXFile::kNoSheets);
    const bool empty = !options || options->size == 0 || !options->data;
    if (empty || !options_.ReadRecord(*options)) {
        if (GetSheetOptions() == kSilentError) return status;
        if (options && options->size == 0 && !options->data) options_.WriteRecord(*options);
    }
    std::vector<std::string> names = options_.ResolveSheetNames(worksheets_);
    if (names.empty()) options_.ClearChoice();
    readFileName_ = JoinSheetNames(names);
    readFileShown_ = ReadFileName(readFileName_);
    return 0;
}

int ExcelXLSBFile::LoadSharedStrings() {
    sharedStrings_.clear();
    const std::string name = package_.Find("xl/sharedStrings.bin");
    if (name.empty()) return 0;
    PartStatus partStatus;
    auto part = package_.Open(name, partStatus);
    if (!part) return CodeOf(partStatus);
    RecordReader records(*part);
    int type;
    std::string_view data;
    bool inside = false;
    for (;;) {
        const RecordReader::Next next = records.Read(type, data);
        if (next == RecordReader::Next::Corrupt) return ExcelXLSXFile::kCorrupt;
        if (next == RecordReader::Next::End || type == kEndSst) break;
        if (type == kBeginSst) {
            inside = true;
        } else if (inside) {
            // [MS-XLSB 2.4.726] BrtSSTItem: a RichStr, its flags byte then its text.
            std::string text;
            std::size_t at = 1;
            if (!ReadWideString(data, at, text)) text.clear();
            sharedStrings_.push_back(std::move(text));
        }
    }
    return 0;
}

int ExcelXLSBFile::LoadStyles() {
    dateStyles_.clear();
    const std::string name = package_.Find("xl/styles.bin");
    if (name.empty()) return 0;
    PartStatus partStatus;
    auto part = package_.Open(name, partStatus);
    if (!part) return CodeOf(partStatus);
    RecordReader records(*part);
    int type;
    std::string_view data;
    std::vector<std::pair<int, bool>> formats;  // custom number format id, is a date
    bool inFormats = false, inCellXfs = false;
    for (;;) {
        const RecordReader::Next next = records.Read(type, data);
        if (next == RecordReader::Next::Corrupt) return ExcelXLSXFile::kCorrupt;
        if (next == RecordReader::Next::End) break;
        switch (type) {
            case kBeginFmts: inFormats = true; break;
            case kEndFmts: inFormats = false; break;
            case kBeginCellXFs: inCellXfs = true; break;
            case kEndCellXFs: inCellXfs = false; break;
            case kFmt:
                if (inFormats && data.size() >= 2) {
                    std::string code;
                    std::size_t at = 2;
                    if (ReadWideString(data, at, code))
                        formats.emplace_back(LoadLE<std::uint16_t>(data.data()), IsDateFormatCode(code));
                }
                break;
            case kXF:
                if (inCellXfs) {
                    const int id = data.size() >= 4 ? LoadLE<std::uint16_t>(data.data() + 2) : 0;
                    auto custom = std::find_if(formats.begin(), formats.end(), [id](auto& f) { return f.first == id; });
                    dateStyles_.push_back(custom != formats.end() ? custom->second : IsBuiltInDateFormat(id));
                }
                break;
            default: break;
        }
    }
    return 0;
}

int ExcelXLSBFile::ReadSheet(const Sheet& sheet, ReadSpreadSheetData* data, Layout& layout, bool& empty) {
    empty = true;
    PartStatus partStatus;
    auto part = sheet.part.empty() ? nullptr : package_.Open(package_.Find(sheet.part), partStatus);
    // A sheet the workbook names but the package lacks has nothing to read.
    if (!part) return sheet.part.empty() || partStatus == PartStatus::Missing ? 0 : CodeOf(partStatus);
    RecordReader records(*part);
    int lastColumn = 0, lastRow = 0;  // this sheet's extent, from 1
    auto grow = [&](int column, int row) {
        lastColumn = std::max(lastColumn, column);
        lastRow = std::max(lastRow, row);
        const int columns = layout.stacked ? std::max(layout.widest, lastColumn) : layout.columnOffset + lastColumn;
        const int rows = layout.stacked ? layout.rowOffset + lastRow : std::max(layout.tallest, lastRow);
        if (columns != layout.announcedColumns || rows != layout.announcedRows) {
            data->SetDataSize(columns, rows);
            layout.announcedColumns = columns;
            layout.announcedRows = rows;
        }
    };
    int type;
    std::string_view rec;
    bool inData = false, inAlternate = false, anyRecord = false;
    int row = 0, previousColumn = -1;
    int unreadable = 0;
    std::string text;
    for (;;) {
        const RecordReader::Next next = records.Read(type, rec);
        if (next == RecordReader::Next::Corrupt) return CodeOf(part->status()) ? CodeOf(part->status()) : ExcelXLSXFile::kCorrupt;
        if (next == RecordReader::Next::End) break;
        if (!inData) {
            if (type == kWsDim && rec.size() >= 16) {
                // Believed only when the part could hold that many cells.
                const std::uint64_t rows = std::uint64_t{LoadLE<std::uint32_t>(rec.data() + 4)} + 1;
                const std::uint64_t columns = std::uint64_t{LoadLE<std::uint32_t>(rec.data() + 12)} + 1;
                if (rows <= std::uint64_t{kMaxRows} && columns <= std::uint64_t{kMaxColumns} &&
                    rows * columns * kMinBytesPerCell <= part->DeclaredSize())
                    grow(static_cast<int>(columns), static_cast<int>(rows));
            } else if (type == kBeginSheetData) {
                inData = true;
            }
            continue;
        }
        if (type == kEndSheetData) break;
        anyRecord = true;
        if (type == kRowHdr) {
            if (rec.size() < 4) return ExcelXLSXFile::kCorrupt;
            const std::uint32_t r = LoadLE<std::uint32_t>(rec.data());
            if (r >= std::uint32_t{kMaxRows}) return ExcelXLSXFile::kCorrupt;
            row = static_cast<int>(r);
            previousColumn = -1;
            continue;
        }
        if (type == kACBegin || type == kACEnd) {
            inAlternate = type == kACBegin;
            continue;
        }
        if (type == kIgnored) continue;
        if (!IsCellRecord(type)) {
            if (!inAlternate) ++unreadable;
            continue;
        }
        // Long cells: column u32, then the style (24 bits and flags); short ones: the style.
        const bool isShort = type >= kShortBlank;
        const std::size_t valueAt = isShort ? 4 : 8;
        if (rec.size() < valueAt) return ExcelXLSXFile::kCorrupt;
        const std::uint32_t column = isShort ? static_cast<std::uint32_t>(previousColumn + 1) : LoadLE<std::uint32_t>(rec.data());
        if (column >= std::uint32_t{kMaxColumns}) return ExcelXLSXFile::kCorrupt;
        previousColumn = static_cast<int>(column);
        const std::uint32_t style = LoadLE<std::uint32_t>(rec.data() + (isShort ? 0 : 4)) & 0xFFFFFF;
        const std::string_view value = rec.substr(valueAt);
        grow(static_cast<int>(column) + 1, row + 1);
        const int col = layout.columnOffset + static_cast<int>(column) + 1;
        const int at = layout.rowOffset + row + 1;
        auto number = [&](double v) {
            if (style < dateStyles_.size() && dateStyles_[style]) {
                if (auto shown = ExcelDateText(v, date1904_)) return data->Set(col, at, shown->c_str());
            }
            data->Set(col, at, v);
        };
        switch (type) {
            case kCellBlank:
            case kShortBlank: data->Set(col, at, ""); break;
            case kCellRk:
            case kShortRk:
                if (value.size() < 4) return ExcelXLSXFile::kCorrupt;
                number(ExcelRkValue(LoadLE<std::uint32_t>(value.data())));
                break;
            case kCellReal:
            case kShortReal:
            case kFmlaNum:
                if (value.size() < 8) return ExcelXLSXFile::kCorrupt;
                number(LoadLE<double>(value.data()));
                break;
            case kCellBool:
            case kShortBool:
            case kFmlaBool:
                if (value.empty()) return ExcelXLSXFile::kCorrupt;
                data->Set(col, at, ExcelBooleanText(value[0] != 0));
                break;
            case kCellError:
            case kShortError:
            case kFmlaError:
                if (value.empty()) return ExcelXLSXFile::kCorrupt;
                data->Set(col, at, ExcelErrorText(static_cast<std::uint8_t>(value[0])));
                break;
            case kCellIsst:
            case kShortIsst: {
                if (value.size() < 4) return ExcelXLSXFile::kCorrupt;
                const std::uint32_t index = LoadLE<std::uint32_t>(value.data());
                if (index >= sharedStrings_.size()) return ExcelXLSXFile::kCorrupt;
                data->Set(col, at, sharedStrings_[index].c_str());
                break;
            }
            case kCellSt:
            case kShortSt:
            case kFmlaString: {
                std::size_t pos = 0;
                text.clear();
                if (!ReadWideString(value, pos, text)) return ExcelXLSXFile::kCorrupt;
                data->Set(col, at, text.c_str());
                break;
            }
            default: break;
        }
    }
    if (!inData) return ExcelXLSXFile::kCorrupt;
    empty = !anyRecord;
    if (unreadable > 0) {
        warning_ = kelto::FormatMessage(
            kelto::Translate("%1% records was found that %2% doesn't know how to read.\nThese can be web-links, "
                             "drawings, formulas or other type of data that isn't\ninteresting for %2%.\n"),
            unreadable, QmSystemInfo::GetApplicationName());
    }
    if (!empty) {
        layout.widest = std::max(layout.widest, lastColumn);
        layout.tallest = std::max(layout.tallest, lastRow);
        if (layout.stacked) layout.rowOffset += lastRow;
        else layout.columnOffset += lastColumn;
    }
    return 0;
}

int ExcelXLSBFile::Read(ReadSpreadSheetData* data) {
    if (status) return status;
    if (!open_) return Fail(kWrongDirection);
    if (!data) return 0;
    const std::vector<std::string> names = options_.ResolveSheetNames(worksheets_);
    if (names.empty()) return Fail(ExcelXLSXFile::kNoSheetSelected);
    warning_.clear();
    try {
        if (int code = LoadSharedStrings()) return Fail(code);
        if (int code = LoadStyles()) return Fail(code);
        Layout layout;
        layout.stacked = options_.readOrder == 1;
        bool allEmpty = true;
        for (const std::string& name : names) {
            sheetBeingRead_ = name;
            // The first of equal names wins; unknown names are passed over.
            auto sheet = std::find_if(sheets_.begin(), sheets_.end(), [&](const Sheet& s) { return s.name == name; });
            if (sheet == sheets_.end()) continue;
            bool empty = true;
            if (int code = ReadSheet(*sheet, data, layout, empty)) return Fail(code);
            allEmpty = allEmpty && empty;
        }
        if (allEmpty) return Fail(ExcelXLSXFile::kSheetEmpty);
    } catch (const CancelException&) {
        throw;
    } catch (const std::bad_alloc&) {
        return Fail(ExcelXLSXFile::kOutOfMemory);
    }
    return 0;
}

void ExcelXLSBFile::GetErrorMessage(char* buffer, unsigned int size) {
    if (auto text = ExcelPackageMessage(status, sheetBeingRead_)) return CopyMessage(text->c_str(), buffer, size);
    SpreadsheetFile::GetErrorMessage(buffer, size);
}

ExcelXLSBFileFactory::ExcelXLSBFileFactory()
    : SprFileFactory("ExcelXLSB File", "Excel Binary Workbook (*.xlsb)", "Excel Binary Workbook (*.xlsb)", 1, ".xlsb", 0,
                     1, 0, 1, 0, 1) {}

SprFileFactory::MyKindOfFile ExcelXLSBFileFactory::IsMyKindOfFile(const char*) { return PossiblyMyKind; }

SpreadsheetFile* ExcelXLSBFileFactory::GetSpreadsheetFile() { return new ExcelXLSBFile; }
