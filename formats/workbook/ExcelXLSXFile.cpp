#include "formats/workbook/ExcelXLSXFile.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <locale.h>
#include <new>

#include <sys/stat.h>
#include <unistd.h>

#include "formats/workbook/ExcelValues.h"
#include "outside/utl/Exception.h"
#include "platform/OleDate.h"
#include "platform/Translate.h"

using namespace kelto::workbook::xlsx;

namespace {

ExcelXLSXFileFactory g_excelXlsxFileFactory;

// Each cell costs at least this many bytes of sheet XML; a <dimension> claiming more cells
// than the part could hold at this rate is not believed.
constexpr std::uint64_t kMinBytesPerCell = 10;
constexpr int kMaxTextUnits = 32767;
constexpr std::int64_t kExactDoubleInteger = std::int64_t(1) << 53;

bool ParseDouble(std::string_view text, double& value) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n')) text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') return false;
    }
    if (text.empty()) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

// The cells of one sheet, from either sheet reader, into the table.
class SheetCells : public SheetEvents {
public:
    struct Layout {
        int columnOffset = 1, rowOffset = 1;
        int widest = 0, tallest = 0;  // over the sheets before this one
        bool stacked = false;         // read order 1
    };

    SheetCells(ReadSpreadSheetData* data, const Layout& layout, const SharedStrings& strings, const CellStyles& styles,
               bool date1904)
        : data_(data), layout_(layout), strings_(strings), styles_(styles), date1904_(date1904) {}

    int Code() const { return code_; }
    const std::string& BadReference() const { return badReference_; }
    bool Empty() const { return lastColumn_ == 0 || lastRow_ == 0; }
    int LastColumn() const { return lastColumn_; }
    int LastRow() const { return lastRow_; }
    int MissingSharedStrings() const { return missingStrings_; }

    void Restart() override {
        currentRow_ = 0;
        previousColumn_ = 0;
        missingStrings_ = 0;
    }

    bool Dimension(std::string_view ref) override {
        std::size_t colon = ref.find(':');
        dimensionValid_ = colon != std::string_view::npos &&
                          ParseCellReference(ref.substr(0, colon), dimFirstColumn_, dimFirstRow_) &&
                          ParseCellReference(ref.substr(colon + 1), dimLastColumn_, dimLastRow_) &&
                          dimLastColumn_ >= dimFirstColumn_ && dimLastRow_ >= dimFirstRow_;
        return true;
    }

    bool BeginCells(std::uint64_t partSize) override {
        if (dimensionValid_ && static_cast<std::uint64_t>(dimLastColumn_) * static_cast<std::uint64_t>(dimLastRow_) *
                                       kMinBytesPerCell <=
                                   partSize) {
            Grow(dimLastColumn_, dimLastRow_);
        }
        return true;
    }

    bool Row(std::string_view r, bool hasR) override {
        std::uint64_t row = 0;
        if (hasR) {
            if (!ParseIndex(r, kMaxRows, row) || row == 0) return Bad("row " + std::string(r));
        } else {
            row = static_cast<std::uint64_t>(currentRow_) + 1;
            if (row > static_cast<std::uint64_t>(kMaxRows)) return Bad("row " + std::to_string(row));
        }
        currentRow_ = static_cast<int>(row);
        previousColumn_ = 0;
        return true;
    }

    bool Cell(const CellEvent& cell) override {
        int column, row;
        if (cell.hasRef) {
            if (!ParseCellReference(cell.ref, column, row)) return Bad(std::string(cell.ref));
        } else {
            column = previousColumn_ + 1;
            row = std::max(currentRow_, 1);
            if (column > kMaxColumns) return Bad(CellName(column, row));
        }
        previousColumn_ = column;
        currentRow_ = row;
        if (column > lastColumn_ || row > lastRow_) Grow(std::max(column, lastColumn_), std::max(row, lastRow_));
        Deliver(layout_.columnOffset - 1 + column, layout_.rowOffset - 1 + row, cell);
        return true;
    }

private:
    bool Bad(std::string ref) {
        badReference_ = std::move(ref);
        code_ = ExcelXLSXFile::kBadCellReference;
        return false;
    }

    // The table grows to hold the sheet's cells up to (column, row) and the sheets before.
    void Grow(int column, int row) {
        lastColumn_ = column;
        lastRow_ = row;
        int columns, rows;
        if (layout_.stacked) {
            columns = std::max(layout_.widest, lastColumn_);
            rows = layout_.rowOffset - 1 + lastRow_;
        } else {
            columns = layout_.columnOffset - 1 + lastColumn_;
            rows = std::max(layout_.tallest, lastRow_);
        }
        if (columns != announcedColumns_ || rows != announcedRows_) {
            data_->SetDataSize(columns, rows);
            announcedColumns_ = columns;
            announcedRows_ = rows;
        }
    }

    void Text(int column, int row, std::string_view text) {
        scratch_.assign(text.data(), text.size());
        data_->Set(column, row, scratch_.c_str());
    }
    void EscapedText(int column, int row, std::string_view text) {
        scratch_.assign(text.data(), text.size());
        DecodeEscapes(scratch_);
        data_->Set(column, row, scratch_.c_str());
    }

    void Number(int column, int row, std::string_view text, bool date) {
        double value;
        if (!ParseDouble(text, value)) return Text(column, row, text);
        if (date && value <= 1'000'000) {
            if (auto shown = kelto::workbook::ExcelDateText(value, date1904_)) {
                data_->Set(column, row, shown->c_str());
                return;
            }
        }
        // -99 is the tables' missing value; a real -99 stays a number.
        if (value == -99.0) value = -99.0001;
        data_->Set(column, row, value);
    }

    void Deliver(int column, int row, const CellEvent& cell) {
        const std::string_view type = cell.type;
        const bool isInline = cell.hasType && type == "inlineStr";
        if (!cell.hasValue && !(isInline && cell.hasInline)) return data_->Set(column, row, "");
        if (!cell.hasType || type == "n") {
            // LibreOffice writes t="n" on every number, dates included: the style decides.
            std::uint64_t style = 0;
            const bool date = cell.hasStyle && ParseIndex(cell.style, UINT32_MAX, style) &&
                              styles_.IsDate(static_cast<std::size_t>(style));
            return Number(column, row, cell.value, date);
        }
        if (type == "s") {
            std::uint64_t index = 0;
            if (ParseIndex(cell.value, UINT64_MAX >> 1, index) && index < strings_.size())
                return data_->Set(column, row, strings_.Get(static_cast<std::size_t>(index)).data());
            ++missingStrings_;
            return data_->Set(column, row, "");
        }
        if (isInline) return EscapedText(column, row, cell.hasInline ? cell.inlineText : cell.value);
        if (type == "str") return EscapedText(column, row, cell.value);
        if (type == "b") return data_->Set(column, row, kelto::workbook::ExcelBooleanText(!cell.value.empty() && cell.value[0] == '1'));
        if (type == "e") return Text(column, row, cell.value);
        if (type == "d") {
            double serial;
            if (ParseIsoDate(cell.value, serial)) {
                if (auto shown = kelto::workbook::ExcelDateText(serial, false)) {
                    data_->Set(column, row, shown->c_str());
                    return;
                }
            }
            return Text(column, row, cell.value);
        }
        data_->Set(column, row, "");
    }

    ReadSpreadSheetData* data_;
    Layout layout_;
    const SharedStrings& strings_;
    const CellStyles& styles_;
    bool date1904_;

    bool dimensionValid_ = false;
    int dimFirstColumn_ = 0, dimFirstRow_ = 0, dimLastColumn_ = 0, dimLastRow_ = 0;
    int lastColumn_ = 0, lastRow_ = 0;
    int announcedColumns_ = -1, announcedRows_ = -1;
    int currentRow_ = 0, previousColumn_ = 0;
    int missingStrings_ = 0;
    int code_ = 0;
    std::string badReference_;
    std::string scratch_;
};

int CodeOf(LoadResult result) {
    switch (result) {
        case LoadResult::Ok: return 0;
        case LoadResult::NoWorkbook: return ExcelXLSXFile::kOpenFailed;
        case LoadResult::Unsupported: return ExcelXLSXFile::kUnsupported;
        case LoadResult::TooLarge: return ExcelXLSXFile::kOutOfMemory;
        case LoadResult::Corrupt: break;
    }
    return ExcelXLSXFile::kCorrupt;
}

// UTF-16 code units of a UTF-8 text: what Excel counts against its 32,767 limit.
std::size_t Utf16Length(const std::string& text) {
    std::size_t units = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) ++units;    // a character starts
        if ((c & 0xF8) == 0xF0) ++units;    // four-byte sequences need a surrogate pair
    }
    return units;
}

// Sets the C locale for the calling thread only and restores the thread's own on leaving.
class ThreadCLocale {
public:
    ThreadCLocale() : c_(newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0))) {
        if (c_) previous_ = uselocale(c_);
    }
    ~ThreadCLocale() {
        if (c_) {
            uselocale(previous_);
            freelocale(c_);
        }
    }
    ThreadCLocale(const ThreadCLocale&) = delete;
    ThreadCLocale& operator=(const ThreadCLocale&) = delete;

private:
    locale_t c_;
    locale_t previous_ = static_cast<locale_t>(0);
};

}  // namespace

namespace kelto::workbook::xlsx {

bool ParseCellReference(std::string_view ref, int& column, int& row) {
    std::size_t i = 0;
    long long c = 0;
    while (i < ref.size() && i < 4) {
        char ch = ref[i];
        int letter;
        if (ch >= 'A' && ch <= 'Z') letter = ch - 'A' + 1;
        else if (ch >= 'a' && ch <= 'z') letter = ch - 'a' + 1;
        else break;
        c = c * 26 + letter;
        ++i;
    }
    if (i == 0 || c > kMaxColumns) return false;
    if (i == ref.size() || ref.size() - i > 7) return false;
    long long r = 0;
    for (std::size_t j = i; j < ref.size(); ++j) {
        if (ref[j] < '0' || ref[j] > '9') return false;
        r = r * 10 + (ref[j] - '0');
    }
    if (r < 1 || r > kMaxRows) return false;
    column = static_cast<int>(c);
    row = static_cast<int>(r);
    return true;
}

std::string CellName(int column, int row) {
    std::string letters;
    for (long long c = column; c > 0; c = (c - 1) / 26) letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
    return letters + std::to_string(row);
}

bool ParseIsoDate(std::string_view text, double& serial) {
    std::size_t i = 0;
    auto digits = [&](int count, int& value) {
        if (i + static_cast<std::size_t>(count) > text.size()) return false;
        value = 0;
        for (int k = 0; k < count; ++k) {
            char c = text[i + static_cast<std::size_t>(k)];
            if (c < '0' || c > '9') return false;
            value = value * 10 + (c - '0');
        }
        i += static_cast<std::size_t>(count);
        return true;
    };
    auto expect = [&](char c) {
        if (i < text.size() && text[i] == c) {
            ++i;
            return true;
        }
        return false;
    };
    int year = 1899, month = 12, day = 30, hour = 0, minute = 0;
    double second = 0;
    bool haveDate = false;
    if (text.size() >= 10 && text[4] == '-') {
        if (!digits(4, year) || !expect('-') || !digits(2, month) || !expect('-') || !digits(2, day)) return false;
        haveDate = true;
        if (i == text.size()) goto done;
        if (!expect('T') && !expect(' ')) return false;
    }
    {
        int whole = 0;
        if (!digits(2, hour) || !expect(':') || !digits(2, minute)) return false;
        if (expect(':')) {
            if (!digits(2, whole)) return false;
            second = whole;
            if (expect('.') || expect(',')) {
                double scale = 0.1;
                std::size_t start = i;
                while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
                    second += scale * (text[i] - '0');
                    scale /= 10;
                    ++i;
                }
                if (i == start) return false;
            }
        }
        // A zone designator: the wall-clock time stands, as Excel keeps no zone.
        if (expect('Z')) {
        } else if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            ++i;
            int zh, zm;
            if (!digits(2, zh)) return false;
            expect(':');
            if (!digits(2, zm)) return false;
        }
        if (i != text.size()) return false;
    }
done:
    if (!haveDate) {
        if (hour > 23 || minute > 59 || second >= 60) return false;
        serial = (hour * 3600 + minute * 60 + second) / 86400.0;
        return true;
    }
    std::optional<double> ole = kelto::platform::MakeOleDate(year, month, day, hour, minute, second);
    if (!ole) return false;
    // Serial and OLE date agree from 1 March 1900; before it Excel counts one day less (it
    // has a 29 February 1900).
    serial = *ole < 61 ? *ole - 1 : *ole;
    return true;
}

}  // namespace kelto::workbook::xlsx

ExcelXLSXFile::ExcelXLSXFile() = default;

ExcelXLSXFile::~ExcelXLSXFile() {
    // A writer that was opened but never given a table still completes its (empty) file.
    if (writer_) workbook_close(writer_);
}

void ExcelXLSXFile::DiscardWriter() {
    if (writer_) lxw_workbook_free(writer_);
    writer_ = nullptr;
    sheet_ = nullptr;
}

int ExcelXLSXFile::EstablishSize() {
    numCols = numRows = 1;
    sizeKnown = true;
    return 0;
}

const char* ExcelXLSXFile::GetWarningMessage() { return warning_.empty() ? nullptr : warning_.c_str(); }

const char* ExcelXLSXFile::GetReadFile() const { return readFileShown_.c_str(); }

int ExcelXLSXFile::GetSheetOptions() {
    if (!status && !worksheets_.empty()) options_.ChooseDefault(allowMultipleSheets_);
    return status;
}

QmImportOpenOptions* ExcelXLSXFile::GetFileReadOptions(const char* path, bool allowMultipleSheets) {
    if (status) return nullptr;
    allowMultipleSheets_ = allowMultipleSheets;
    try {
        mode_ = 1;
        OpenFile(path, nullptr);
    } catch (const CancelException&) {
        throw;
    } catch (const std::bad_alloc&) {
        if (!status) Fail(kOutOfMemory);
    } catch (const std::exception&) {
        if (!status) Fail(kBadOptions);
    }
    if (status == kSilentError) options_.ClearChoice();
    if (status) return nullptr;
    auto* record = new QmImportOpenOptions{0, nullptr};
    options_.WriteRecord(*record);
    return record;
}

int ExcelXLSXFile::Open(bool read, const char* path, QmImportOpenOptions* options) {
    if (status) return status;
    if (!path) return Fail(read ? kOpenFailed : kOpenFailed);
    if (read) {
        mode_ = 1;
        try {
            return OpenFile(path, options);
        } catch (const CancelException&) {
            throw;
        } catch (const std::bad_alloc&) {
            if (!status) Fail(kOutOfMemory);
        } catch (const std::exception&) {
            if (!status) Fail(kOpenFailed);
        }
        return status;
    }
    mode_ = 2;
    DiscardWriter();
    // libxlsxwriter opens the file only when the workbook is closed: find out now whether it
    // can be created, and leave nothing behind.
    struct stat st;
    const bool existed = ::stat(path, &st) == 0;
    std::FILE* probe = std::fopen(path, "ab");
    if (!probe) return Fail(kOpenFailed);
    std::fclose(probe);
    if (!existed) std::remove(path);
    lxw_workbook_options settings = {};
    settings.constant_memory = LXW_TRUE;
    settings.use_zip64 = LXW_TRUE;
    writer_ = workbook_new_opt(path, &settings);
    if (writer_) sheet_ = workbook_add_worksheet(writer_, "VANTU");
    if (!writer_ || !sheet_) {
        DiscardWriter();
        return Fail(kOpenFailed);
    }
    return 0;
}

int ExcelXLSXFile::OpenFile(const char* path, QmImportOpenOptions* options) {
    if (!package_.OpenFile(path)) return Fail(LooksLikeCompoundFile(path) ? kProtected : kOpenFailed);
    if (int code = CodeOf(LoadWorkbook(package_, workbook_))) return Fail(code);
    worksheets_.clear();
    for (const SheetEntry& sheet : workbook_.sheets) worksheets_.push_back(sheet.name);
    cellPartsLoaded_ = false;
    return GetSheet(options);
}

int ExcelXLSXFile::GetSheet(QmImportOpenOptions* options) {
    if (worksheets_.empty()) return Fail(kNoSheets);
    const bool empty = !options || options->size == 0 || !options->data;
    // Options that cannot be read leave the default choice, so the open still reads something.
    if (empty || !options_.ReadRecord(*options)) {
        if (GetSheetOptions() == kSilentError) return status;
        if (options && options->size == 0 && !options->data) options_.WriteRecord(*options);
    }
    std::vector<std::string> names = options_.ResolveSheetNames(worksheets_);
    if (names.empty()) options_.ClearChoice();
    readFileName_ = kelto::workbook::JoinSheetNames(names);
    readFileShown_ = kelto::workbook::ReadFileName(readFileName_);
    return 0;
}

int ExcelXLSXFile::LoadCellParts() {
    if (cellPartsLoaded_) return 0;
    if (int code = CodeOf(LoadStyles(package_, workbook_.stylesPart, styles_))) return code;
    if (int code = CodeOf(LoadSharedStrings(package_, workbook_.sharedStringsPart, sharedStrings_))) return code;
    cellPartsLoaded_ = true;
    return 0;
}

int ExcelXLSXFile::Read(ReadSpreadSheetData* data) {
    if (status) return status;
    if (mode_ != 1 || !package_.IsOpen()) return Fail(kWrongDirection);
    if (!data) return 0;
    const std::vector<std::string> names = options_.ResolveSheetNames(worksheets_);
    if (names.empty()) return Fail(kNoSheetSelected);
    warning_.clear();
    usedExpat_ = false;
    try {
        if (int code = LoadCellParts()) return Fail(code);
        SheetCells::Layout layout;
        layout.stacked = options_.readOrder == 1;
        bool allEmpty = true;
        int missingStrings = 0;
        for (const std::string& name : names) {
            sheetBeingRead_ = name;
            auto entry = std::find_if(workbook_.sheets.begin(), workbook_.sheets.end(),
                                      [&](const SheetEntry& s) { return s.name == name; });
            if (entry == workbook_.sheets.end()) continue;
            SheetCells cells(data, layout, sharedStrings_, styles_, workbook_.date1904);
            SheetReadOutcome outcome = ReadSheet(package_, entry->part, cells, sheetReader_);
            usedExpat_ = usedExpat_ || outcome.usedExpat;
            missingStrings += cells.MissingSharedStrings();
            switch (outcome.result) {
                case SheetResult::Ok: break;
                case SheetResult::Stopped:
                    badReference_ = cells.BadReference();
                    return Fail(cells.Code());
                case SheetResult::PartError:
                    // A sheet the workbook names but the package lacks has nothing to read.
                    if (outcome.partStatus == PartStatus::Missing) continue;
                    return Fail(outcome.partStatus == PartStatus::Unsupported ? kUnsupported : kCorrupt);
                case SheetResult::XmlError:
                case SheetResult::Fallback: return Fail(kCorrupt);
            }
            if (cells.Empty()) continue;
            allEmpty = false;
            layout.widest = std::max(layout.widest, cells.LastColumn());
            layout.tallest = std::max(layout.tallest, cells.LastRow());
            if (layout.stacked) layout.rowOffset += cells.LastRow();
            else layout.columnOffset += cells.LastColumn();
        }
        if (missingStrings > 0)
            warning_ = kelto::TranslateFormat(
                "%1% cells refer to shared strings that the workbook does not hold; they were read as empty.",
                missingStrings);
        if (allEmpty) return Fail(kSheetEmpty);
    } catch (const CancelException&) {
        throw;
    } catch (const std::bad_alloc&) {
        return Fail(kOutOfMemory);
    }
    return 0;
}

int ExcelXLSXFile::Write(const WriteSpreadSheetData* data) {
    if (status) return status;
    if (mode_ != 2 || !writer_) return Fail(kWrongDirection);
    int code = 0;
    {
        ThreadCLocale cLocale;
        try {
            code = data ? WriteCells(data) : 0;
        } catch (const std::bad_alloc&) {
            code = kOutOfMemory;
        }
        if (code) {
            DiscardWriter();
        } else {
            lxw_error closed = workbook_close(writer_);
            writer_ = nullptr;
            sheet_ = nullptr;
            if (closed != LXW_NO_ERROR) {
                writeProblem_ = lxw_strerror(closed);
                code = kWriteFailed;
            }
        }
    }
    mode_ = 0;
    return code ? Fail(code) : 0;
}

int ExcelXLSXFile::WriteCells(const WriteSpreadSheetData* data) {
    const int rows = data->GetNumberOfRows();
    const int columns = data->GetNumberOfColumns();
    if (rows < 1 || columns < 1) return 0;
    // Refused before anything is written: a table that does not fit is not cut short.
    if (columns > kMaxColumns) {
        writeProblem_ = CellName(kMaxColumns + 1, 1);
        return kWriteOutsideGrid;
    }
    if (rows > kMaxRows) {
        writeProblem_ = CellName(1, kMaxRows + 1);
        return kWriteOutsideGrid;
    }
    std::string text;
    for (int row = 1; row <= rows; ++row) {
        for (int column = 1; column <= columns; ++column) {
            const lxw_row_t r = static_cast<lxw_row_t>(row - 1);
            const lxw_col_t c = static_cast<lxw_col_t>(column - 1);
            lxw_error error = LXW_NO_ERROR;
            if (data->IsMisVal(column, row)) {
                continue;
            } else if (data->IsString(column, row)) {
                text = data->GetStringValue(column, row);
                text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
                if (Utf16Length(text) > static_cast<std::size_t>(kMaxTextUnits)) {
                    writeProblem_ = CellName(column, row);
                    return kWriteTextTooLong;
                }
                error = worksheet_write_string(sheet_, r, c, text.c_str(), nullptr);
            } else if (data->IsInt64(column, row)) {
                const std::int64_t v = data->GetInt64(column, row);
                // Excel's numbers are doubles: integers beyond 2^53 keep their digits as text.
                if (v >= -kExactDoubleInteger && v <= kExactDoubleInteger) {
                    error = worksheet_write_number(sheet_, r, c, static_cast<double>(v), nullptr);
                } else {
                    text = std::to_string(v);
                    error = worksheet_write_string(sheet_, r, c, text.c_str(), nullptr);
                }
            } else {
                // The double nearest to the float's shortest text, so the file shows 394.38293
                // and not the float's exact binary value 394.3829345703125.
                const float f = data->GetFloatData(column, row);
                char digits[32];
                auto printed = std::to_chars(digits, digits + sizeof digits, f);
                double value = static_cast<double>(f);
                std::from_chars(digits, printed.ptr, value);
                error = worksheet_write_number(sheet_, r, c, value, nullptr);
            }
            if (error != LXW_NO_ERROR) {
                writeProblem_ = CellName(column, row) + ": " + lxw_strerror(error);
                return kWriteFailed;
            }
        }
    }
    return 0;
}

void ExcelXLSXFile::GetErrorMessage(char* buffer, unsigned int size) {
    std::string text;
    switch (status) {
        case kSheetEmpty: text = kelto::TranslateFormat("The sheet \"%1%\" contains no data.", sheetBeingRead_); break;
        case kNoSheets: text = kelto::Translate("The file contains no sheets."); break;
        case kOpenFailed: text = kelto::Translate("Unable to open Excel file."); break;
        case kCorrupt: text = kelto::Translate("The file is corrupt."); break;
        case kBadSize: text = kelto::Translate("At least one of the sheets do not have a correct size."); break;
        case kUnsupported: text = kelto::Translate("The file contains an unsupported format."); break;
        case kOutOfMemory: text = kelto::Translate("Out of memory while parsing XML, try using a binary format."); break;
        case kProtected:
            text = kelto::Translate(
                "The file could not be opened. It might be password protected or not a valid Excel file.\n\n"
                "Currently we cannot handle password protected Excel files.");
            break;
        case kNoSheetSelected: text = kelto::Translate("No sheet is selected from file."); break;
        case kInstanceTaken:
            text = kelto::Translate("Unable to open Excel file due to internal (XLSX I/O) memory protection.");
            break;
        case kBadCellReference:
            text = kelto::TranslateFormat(
                "The sheet \"%1%\" refers to the cell \"%2%\", which is not a cell of a worksheet (columns A to XFD, "
                "rows 1 to 1048576).",
                sheetBeingRead_, badReference_);
            break;
        case kWriteOutsideGrid:
            text = kelto::TranslateFormat(
                "The table does not fit on a worksheet: cell %1% lies beyond its last row (1048576) or column (16384).",
                writeProblem_);
            break;
        case kWriteTextTooLong:
            text = kelto::TranslateFormat(
                "The text of cell %1% is longer than the 32767 characters a worksheet cell can hold.", writeProblem_);
            break;
        case kWriteFailed: text = kelto::TranslateFormat("The workbook could not be written: %1%.", writeProblem_); break;
        default: SpreadsheetFile::GetErrorMessage(buffer, size); return;
    }
    CopyMessage(text.c_str(), buffer, size);
}

ExcelXLSXFileFactory::ExcelXLSXFileFactory()
    : SprFileFactory("ExcelXSLX File", "Excel Workbook (*.xlsx)", "Excel Workbook (*.xlsx)", 1, ".xlsx", 1, 1, 0, 1, 0,
                     1) {}

SprFileFactory::MyKindOfFile ExcelXLSXFileFactory::IsMyKindOfFile(const char*) { return PossiblyMyKind; }

SpreadsheetFile* ExcelXLSXFileFactory::GetSpreadsheetFile() { return new ExcelXLSXFile; }
