#include "formats/workbook/MatFile.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include <fmt/format.h>

#include "outside/utl/Exception.h"
#include "platform/ByteOrder.h"
#include "platform/Translate.h"

using kelto::platform::LoadBE;
using kelto::platform::LoadLE;
using kelto::platform::StoreLE;

namespace {

MatFileFactory g_matFileFactory;

// Level 5 data types [MAT-File Format, table 1-1].
enum : std::uint32_t {
    miINT8 = 1, miUINT8 = 2, miINT16 = 3, miUINT16 = 4, miINT32 = 5, miUINT32 = 6, miSINGLE = 7,
    miDOUBLE = 9, miINT64 = 12, miUINT64 = 13, miMATRIX = 14, miCOMPRESSED = 15, miUTF8 = 16,
    miUTF16 = 17, miUTF32 = 18,
};
// Array classes [table 1-3].
enum : std::uint32_t {
    mxCELL = 1, mxSTRUCT = 2, mxOBJECT = 3, mxCHAR = 4, mxSPARSE = 5, mxDOUBLE = 6, mxINT64 = 14, mxUINT64 = 15,
};
constexpr std::uint32_t kComplexFlag = 0x0800;

// A decompressed element is held in memory whole; no MATLAB array we can show in a table is
// larger than this, and it keeps a hostile length from taking all memory.
constexpr std::uint64_t kMaxElementBytes = std::uint64_t{1} << 31;
// deflate never packs more than 1032 output bytes into one input byte (a length-258 match
// costs at least two bits), so a compressed element cannot honestly claim more than this.
constexpr std::uint64_t kDeflateMaxRatio = 1032;
// Sparse matrices are delivered with their zeros; their area is not bounded by the data the
// file holds, so it is bounded here (a few million cells beyond what the values cover).
constexpr std::uint64_t kSparseCellsFree = std::uint64_t{1} << 22;
// The largest table a level 5 file may announce (16 bytes a cell make 2 GB in memory).
constexpr std::int64_t kMaxTableCells = std::int64_t{1} << 27;
struct TableTooLarge {};

// Rows delivered together: the values are read down their columns but delivered row by row,
// so the host sees progress and neither side is walked with a long stride.
constexpr int kRowBlock = 64;

int DataTypeSize(std::uint32_t type) {
    switch (type) {
        case miINT8: case miUINT8: case miUTF8: return 1;
        case miINT16: case miUINT16: case miUTF16: return 2;
        case miINT32: case miUINT32: case miSINGLE: case miUTF32: return 4;
        case miDOUBLE: case miINT64: case miUINT64: return 8;
        default: return 0;
    }
}

bool IsNumericType(std::uint32_t type) {
    switch (type) {
        case miINT8: case miUINT8: case miINT16: case miUINT16: case miINT32: case miUINT32:
        case miSINGLE: case miDOUBLE: case miINT64: case miUINT64: return true;
        default: return false;
    }
}

template <typename T>
T Load(const std::uint8_t* p, bool swap) {
    return swap ? LoadBE<T>(p) : LoadLE<T>(p);
}

// One value of a level 5 numeric type, as a double (64-bit integers are handled apart).
double LoadNumber(const std::uint8_t* p, std::uint32_t type, bool swap) {
    switch (type) {
        case miINT8: return static_cast<std::int8_t>(*p);
        case miUINT8: return *p;
        case miINT16: return Load<std::int16_t>(p, swap);
        case miUINT16: return Load<std::uint16_t>(p, swap);
        case miINT32: return Load<std::int32_t>(p, swap);
        case miUINT32: return Load<std::uint32_t>(p, swap);
        case miSINGLE: return Load<float>(p, swap);
        case miDOUBLE: return Load<double>(p, swap);
        case miINT64: return static_cast<double>(Load<std::int64_t>(p, swap));
        case miUINT64: return static_cast<double>(Load<std::uint64_t>(p, swap));
        default: return 0;
    }
}

// An integer storage type's value, exactly (for 64-bit classes); floating types truncate.
std::int64_t LoadInteger(const std::uint8_t* p, std::uint32_t type, bool swap) {
    switch (type) {
        case miINT64: return Load<std::int64_t>(p, swap);
        case miUINT64: return static_cast<std::int64_t>(Load<std::uint64_t>(p, swap));
        case miSINGLE:
        case miDOUBLE: {
            const double v = LoadNumber(p, type, swap);
            return std::isfinite(v) && std::fabs(v) < 9.2e18 ? static_cast<std::int64_t>(v) : 0;
        }
        default: return static_cast<std::int64_t>(LoadNumber(p, type, swap));
    }
}

void SetNumber(ReadSpreadSheetData* data, int col, int row, double v) {
    // Infinite and NaN values have no cell form: they go out as empty (missing) texts.
    if (!std::isfinite(v)) data->Set(col, row, "");
    else data->Set(col, row, v);
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
        if (cp > 0x10FFFF) cp = 0xFFFD;
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// A level 5 sub-element inside a matrix: its type and bytes, the cursor moved past it and
// its padding. False when the tag or the data do not lie inside [pos, end).
struct SubElement {
    std::uint32_t type = 0;
    std::uint64_t offset = 0;  // of the data
    std::uint64_t bytes = 0;
};

bool NextSubElement(const std::vector<std::uint8_t>& b, std::uint64_t& pos, std::uint64_t end, bool swap,
                    SubElement& out) {
    if (end > b.size() || pos > end || end - pos < 8) return false;
    std::uint32_t first = Load<std::uint32_t>(b.data() + pos, swap);
    if (first >> 16) {
        // Small element form: type and count in one word, data in the next four bytes.
        out.type = first & 0xFFFF;
        out.bytes = first >> 16;
        if (out.bytes > 4) return false;
        out.offset = pos + 4;
        pos += 8;
        return true;
    }
    out.type = first;
    out.bytes = Load<std::uint32_t>(b.data() + pos + 4, swap);
    out.offset = pos + 8;
    if (out.bytes > end - out.offset) return false;
    const std::uint64_t padded = (out.bytes + 7) / 8 * 8;
    pos = out.offset + std::min(padded, end - out.offset);
    return true;
}

bool NameIs(const char* name, const char* prefix, std::size_t length) { return std::strncmp(name, prefix, length) == 0; }

bool IsIdentifierName(const char* name) {
    return NameIs(name, "VARNAM", 6) || NameIs(name, "VARNUM", 6) || NameIs(name, "OBSNAM", 6) ||
           NameIs(name, "OBSNUM", 6);
}

// "PREFIXk" with k a decimal number from 1 to `limit`: k; otherwise 0.
int IdentifierNumber(const std::string& name, const char* prefix, int limit) {
    const std::size_t n = std::strlen(prefix);
    if (name.size() <= n || name.compare(0, n, prefix) != 0 || name.size() - n > 9) return 0;
    int k = 0;
    for (std::size_t i = n; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        k = k * 10 + (name[i] - '0');
    }
    return k >= 1 && k <= limit ? k : 0;
}

}  // namespace

MatFile::MatFile() = default;
MatFile::~MatFile() = default;

// ---------------------------------------------------------------------------------------------
// Opening

int MatFile::Open(bool read, const char* name, QmImportOpenOptions*) {
    if (status) return status;
    if (!name) return Fail(kOpenFailed);
    path = name;
    if (!read) {
        mode = 2;
        const std::size_t slash = path.find_last_of("\\/");
        title = slash == std::string::npos ? path : path.substr(slash + 1);
        output.reset(std::fopen(name, "wb"));
        if (!output) return Fail(kOpenFailed);
        return 0;
    }
    mode = 1;
    if (!input.Open(path)) return Fail(kOpenFailed);
    std::uint8_t head[20];
    if (!input.ReadExact(head, sizeof head)) return Fail(kNotMatFile);
    // A level 5 header starts with text: "MATLAB 5.0 MAT-file, ...". The word after the
    // first space is the version. Only texts that start with "MATLAB" are taken as text, so
    // that a level 4 header whose binary fields hold a space byte is not misread.
    int version = 0;
    if (std::memcmp(head, "MATLAB ", 7) == 0) {
        // Any version above 5 is refused alike, so the number saturates instead of growing.
        for (std::size_t i = 7; i < sizeof head && head[i] >= '0' && head[i] <= '9' && version < 100; ++i)
            version = version * 10 + (head[i] - '0');
    }
    if (version > 5) return Fail(kUnsupportedVersion);
    if (version == 5) {
        level5 = true;
        return Fail(OpenMatlab5());
    }
    return Fail(OpenLevel4());
}

int MatFile::BytesPerElement(int precision) {
    static constexpr int sizes[6] = {8, 4, 4, 2, 2, 1};
    return precision >= 0 && precision < 6 ? sizes[precision] : 0;
}

int MatFile::OpenLevel4() {
    // The type word M*1000 + O*100 + P*10 + T decides the byte order: read little-endian it
    // lies in 0..52 for a little-endian file (M = 0); a big-endian file (M = 1) reads as
    // 1000..1052 once swapped. Read little-endian, a big-endian file's word is negative or
    // huge, which is why the test is a range and not "below 53".
    std::uint8_t head[20];
    if (!input.Rewind() || !input.ReadExact(head, 4)) return kNotMatFile;
    const std::int32_t asRead = LoadLE<std::int32_t>(head);
    const std::int32_t swapped = LoadBE<std::int32_t>(head);
    if (asRead >= 0 && asRead < 53) bigEndian = false;
    else if (swapped >= 1000 && swapped - 1000 < 53) bigEndian = true;
    else return kNotMatFile;

    if (!input.Rewind()) return kNotMatFile;
    level4.clear();
    while (static_cast<int>(level4.size()) < kMaxLevel4Matrices) {
        const std::int64_t headerAt = static_cast<std::int64_t>(input.Position());
        const std::size_t got = input.Read(head, sizeof head);
        if (got == 0) break;
        if (got < sizeof head) return kBadHeader;
        auto field = [&](int i) {
            return bigEndian ? LoadBE<std::int32_t>(head + 4 * i) : LoadLE<std::int32_t>(head + 4 * i);
        };
        Level4Matrix m;
        const std::int32_t type = field(0);
        if (type < 0 || type >= 10000 || type % 10000 / 1000 != (bigEndian ? 1 : 0) || type % 1000 / 100 != 0) return kBadHeader;
        m.precision = type / 10 % 10;
        m.type = type % 10;
        if (m.precision >= 6 || m.type >= 3) return kBadHeader;
        m.rows = field(1);
        m.columns = field(2);
        m.complex = field(3) != 0;
        m.nameLength = field(4);
        if (m.rows < 0 || m.columns < 0 || m.nameLength < 1 || m.nameLength > 4096) return kBadHeader;
        if (m.type == 2) m.complex = m.columns == 4;
        std::string name(static_cast<std::size_t>(m.nameLength), '\0');
        if (!input.ReadExact(name.data(), name.size())) return kBadHeader;
        m.name = name.substr(0, name.find('\0'));
        m.dataPosition = headerAt + 20 + m.nameLength;
        // rows * columns * size, twice for a complex full matrix: checked against the file
        // before anything is read or allocated for it.
        std::uint64_t bytes = std::uint64_t(m.rows) * std::uint64_t(m.columns);
        if (__builtin_mul_overflow(bytes, std::uint64_t(BytesPerElement(m.precision)), &bytes)) return kBadMatrix;
        if (m.complex && m.type != 2 && __builtin_mul_overflow(bytes, std::uint64_t{2}, &bytes)) return kBadMatrix;
        if (bytes > input.Remaining()) return kBadMatrix;
        if (m.type == 2) {
            // The last storage row holds the area: rows, columns, 0.
            if (m.rows < 1 || m.columns < 3) return kBadMatrix;
            const int size = BytesPerElement(m.precision);
            if (!input.Skip(std::uint64_t(m.rows - 1) * size)) return kBadMatrix;
            std::uint8_t one[8];
            if (!input.ReadExact(one, size)) return kBadMatrix;
            const double r = Level4Element(one, m.precision);
            if (!input.Skip(std::uint64_t(m.rows - 1) * size) || !input.ReadExact(one, size)) return kBadMatrix;
            const double c = Level4Element(one, m.precision);
            if (!(r >= 0 && r <= std::numeric_limits<int>::max() && c >= 0 && c <= std::numeric_limits<int>::max()))
                return kBadMatrix;
            m.sparseRows = static_cast<int>(r);
            m.sparseColumns = static_cast<int>(c);
            if (std::uint64_t(m.sparseRows) * std::uint64_t(m.sparseColumns) > kSparseCellsFree + 64 * bytes)
                return kBadMatrix;
            if (!input.Rewind() || !input.Skip(static_cast<std::uint64_t>(m.dataPosition))) return kBadMatrix;
        }
        if (!input.Skip(bytes)) return kBadMatrix;
        level4.push_back(std::move(m));
    }
    matrixCount = static_cast<int>(level4.size());
    currentMatrix = matrixCount > 0 ? 0 : -1;
    PlaceMatrices();
    if (SetOptions()) {
        if (status == kSilentError) input.Close();
        return status;
    }
    return 0;
}

void MatFile::PlaceMatrices() {
    placement.assign(static_cast<std::size_t>(matrixCount) + 1, -1);
    identifierColumns = identifierRows = 0;
    foundObsnumLayout = foundIdentifierLayout = false;
    auto rowsOf = [&](int slot) { return level4[static_cast<std::size_t>(placement[slot])].rows; };

    // "OBSNUM" layout: four or five matrices named exactly.
    if (matrixCount == 4 || matrixCount == 5) {
        for (int i = 0; i < matrixCount; ++i) {
            const std::string& n = level4[static_cast<std::size_t>(i)].name;
            const int slot = n == "OBSNUM" ? 1 : n == "OBSNAM" ? 2 : n == "VARNUM" ? 3 : n == "VARNAM" ? 4 : 0;
            placement[static_cast<std::size_t>(slot)] = i;
        }
        if (placement[0] >= 0 && placement[1] >= 0 && placement[2] >= 0 && placement[4] >= 0) {
            const Level4Matrix& d = level4[static_cast<std::size_t>(placement[0])];
            if (d.type == 0 && d.rows == rowsOf(1) && d.rows == rowsOf(2) && d.columns == rowsOf(4)) {
                foundObsnumLayout = true;
                return;
            }
        }
        placement.assign(placement.size(), -1);
    }

    // Identifier-matrix layout: "DATA" with numbered identifier columns and rows. A number
    // beyond the count of such matrices cannot be a slot and is left out.
    for (const Level4Matrix& m : level4) {
        if (IdentifierNumber(m.name, "COLUMNID", matrixCount) || IdentifierNumber(m.name, "OBSID", matrixCount))
            ++identifierColumns;
        else if (IdentifierNumber(m.name, "ROWID", matrixCount) || IdentifierNumber(m.name, "VARID", matrixCount))
            ++identifierRows;
    }
    bool columnId = false, rowId = false, obsId = false, varId = false;
    for (int i = 0; i < matrixCount; ++i) {
        const std::string& n = level4[static_cast<std::size_t>(i)].name;
        int k;
        if (n == "DATA") {
            placement[0] = i;
        } else if ((k = IdentifierNumber(n, "COLUMNID", identifierColumns)) ||
                   (k = IdentifierNumber(n, "OBSID", identifierColumns))) {
            placement[static_cast<std::size_t>(k)] = i;
            (n[0] == 'C' ? columnId : obsId) = true;
        } else if ((k = IdentifierNumber(n, "ROWID", identifierRows)) ||
                   (k = IdentifierNumber(n, "VARID", identifierRows))) {
            placement[static_cast<std::size_t>(identifierColumns + k)] = i;
            (n[0] == 'R' ? rowId : varId) = true;
        }
    }
    foundIdentifierLayout = placement[0] >= 0 && ((columnId && rowId) || (obsId && varId));
    if (!foundIdentifierLayout) identifierColumns = identifierRows = 0;
}

bool MatFile::SetOptions() {
    obsnumLayout = identifierLayout = false;
    currentMatrix = matrixCount > 0 ? 0 : -1;
    return status != 0;
}

void MatFile::SetCurMatrix(int index) { currentMatrix = index >= 0 && index < matrixCount ? index : -1; }

bool MatFile::IsComplex() const {
    return currentMatrix >= 0 && currentMatrix < static_cast<int>(level4.size()) &&
           level4[static_cast<std::size_t>(currentMatrix)].complex;
}

void MatFile::GetMatrixList(std::vector<std::string>& descriptions) const {
    static const char* kinds[] = {"numeric", "string", "sparse"};
    for (const Level4Matrix& m : level4) {
        const char* pattern = m.complex ? "%1$.20s  %2%x%3%  %4% matrix (complex)" : "%1$.20s  %2%x%3%  %4% matrix";
        const bool sparse = m.type == 2;
        descriptions.push_back(kelto::TranslateFormat(pattern, m.name, sparse ? m.sparseRows : m.rows,
                                                      sparse ? m.sparseColumns : m.columns,
                                                      kelto::Translate(kinds[m.type])));
    }
}

// ---------------------------------------------------------------------------------------------
// Level 4 size and reading

int MatFile::TableColumns() {
    if (status || currentMatrix < 0) return -1;
    if (obsnumLayout || identifierLayout) currentMatrix = placement[0];
    const Level4Matrix& m = level4[static_cast<std::size_t>(currentMatrix)];
    // A matrix without elements is empty whatever its other dimension says: nothing in the
    // file backs a million rows of nothing.
    const bool empty = m.type != 2 && (m.rows == 0 || m.columns == 0);
    int columns = empty ? 0 : m.type == 2 ? m.sparseColumns : m.type == 1 ? 1 : m.columns;
    if (identifierLayout) columns += identifierColumns;
    if (obsnumLayout) columns += 2;
    return columns;
}

int MatFile::TableRows() {
    if (status || currentMatrix < 0) return -1;
    if (obsnumLayout || identifierLayout) currentMatrix = placement[0];
    const Level4Matrix& m = level4[static_cast<std::size_t>(currentMatrix)];
    const bool empty = m.type != 2 && (m.rows == 0 || m.columns == 0);
    int rows = empty ? 0 : m.type == 2 ? m.sparseRows : m.rows;
    if (identifierLayout) rows += identifierRows;
    if (obsnumLayout) rows += 1;
    return rows;
}

int MatFile::GetNumCols() {
    if (level5) return SpreadsheetFile::GetNumCols();
    return TableColumns();
}

int MatFile::GetNumRows() {
    if (level5) return SpreadsheetFile::GetNumRows();
    return TableRows();
}

double MatFile::Level4Element(const std::uint8_t* p, int precision) const {
    switch (precision) {
        case 0: return bigEndian ? LoadBE<double>(p) : LoadLE<double>(p);
        case 1: return bigEndian ? LoadBE<float>(p) : LoadLE<float>(p);
        case 2: return bigEndian ? LoadBE<std::int32_t>(p) : LoadLE<std::int32_t>(p);
        case 3: return bigEndian ? LoadBE<std::int16_t>(p) : LoadLE<std::int16_t>(p);
        case 4: return bigEndian ? LoadBE<std::uint16_t>(p) : LoadLE<std::uint16_t>(p);
        default: return *p;
    }
}

int MatFile::ReadLevel4Bytes(const Level4Matrix& m, std::uint64_t count, std::vector<std::uint8_t>& out) {
    // The scan checked that the data lie inside the file.
    out.resize(count);
    if (!input.Rewind() || !input.Skip(static_cast<std::uint64_t>(m.dataPosition))) return kCorrupt;
    if (!input.ReadExact(out.data(), out.size())) return kCorrupt;
    return 0;
}

int MatFile::ReadFull(ReadSpreadSheetData* data, const Level4Matrix& m, const Placement& at) {
    const int across = at.transposed ? m.rows : m.columns;
    const int down = at.transposed ? m.columns : m.rows;
    if (across > TableColumns() - at.columnOffset || down > TableRows() - at.rowOffset) return kBadMatrix;
    const int size = BytesPerElement(m.precision);
    std::vector<std::uint8_t> bytes;
    if (int code = ReadLevel4Bytes(m, std::uint64_t(m.rows) * std::uint64_t(m.columns) * size, bytes)) return code;
    const std::uint8_t* base = bytes.data();
    const std::size_t stride = static_cast<std::size_t>(m.rows) * size;
    if (at.transposed) {
        for (int i = 0; i < m.rows; ++i)
            for (int j = 0; j < m.columns; ++j)
                SetNumber(data, at.columnOffset + 1 + i, at.rowOffset + 1 + j,
                          Level4Element(base + j * stride + std::size_t(i) * size, m.precision));
        return 0;
    }
    for (int block = 0; block < m.rows; block += kRowBlock) {
        const int end = std::min(m.rows, block + kRowBlock);
        for (int i = block; i < end; ++i)
            for (int j = 0; j < m.columns; ++j)
                SetNumber(data, at.columnOffset + 1 + j, at.rowOffset + 1 + i,
                          Level4Element(base + j * stride + std::size_t(i) * size, m.precision));
    }
    return 0;
}

int MatFile::ReadText(ReadSpreadSheetData* data, const Level4Matrix& m, const Placement& at) {
    if (m.rows > (at.transposed ? TableColumns() - at.columnOffset : TableRows() - at.rowOffset)) return kBadMatrix;
    // Each character is one element of the stored precision (8-byte doubles in MATLAB's own
    // files, single bytes in some others), its value the character code.
    const int size = BytesPerElement(m.precision);
    std::vector<std::uint8_t> bytes;
    if (int code = ReadLevel4Bytes(m, std::uint64_t(m.rows) * std::uint64_t(m.columns) * size, bytes)) return code;
    std::string text;
    for (int i = 0; i < m.rows; ++i) {
        text.clear();
        for (int j = 0; j < m.columns; ++j) {
            const double v = Level4Element(bytes.data() + (std::size_t(j) * m.rows + i) * size, m.precision);
            // Only the low byte of a character code counts; a value no integer can hold is 0.
            const std::int64_t code = std::isfinite(v) && std::fabs(v) < 1e18 ? static_cast<std::int64_t>(v) : 0;
            text += static_cast<char>(static_cast<std::uint8_t>(code));
        }
        if (at.transposed) data->Set(at.columnOffset + 1 + i, at.rowOffset + 1, text.c_str());
        else data->Set(at.columnOffset + 1, at.rowOffset + 1 + i, text.c_str());
    }
    return 0;
}

int MatFile::ReadSparse(ReadSpreadSheetData* data, const Level4Matrix& m, const Placement& at) {
    const int size = BytesPerElement(m.precision);
    std::vector<std::uint8_t> bytes;
    if (ReadLevel4Bytes(m, std::uint64_t(m.rows) * std::uint64_t(m.columns) * size, bytes) != 0) return kBadMatrix;
    auto cell = [&](int row, int column) {
        return Level4Element(bytes.data() + (std::size_t(column) * m.rows + row) * size, m.precision);
    };
    for (int r = 1; r <= m.sparseRows; ++r)
        for (int c = 1; c <= m.sparseColumns; ++c) data->Set(at.columnOffset + c, at.rowOffset + r, 0.0f);
    for (int k = 0; k + 1 < m.rows; ++k) {
        const double r = cell(k, 0), c = cell(k, 1);
        // Indexes are 1-based; one outside the area is not delivered.
        if (!(r >= 1 && r <= m.sparseRows && c >= 1 && c <= m.sparseColumns)) continue;
        SetNumber(data, at.columnOffset + static_cast<int>(c), at.rowOffset + static_cast<int>(r), cell(k, 2));
    }
    return 0;
}

int MatFile::ReadMatrix(ReadSpreadSheetData* data, int index, const Placement& at) {
    const Level4Matrix& m = level4[static_cast<std::size_t>(index)];
    if (m.type != 2 && (m.rows == 0 || m.columns == 0)) return 0;
    // Only the real part could be shown; a complex matrix is refused rather than halved.
    if (m.complex) return kComplex;
    switch (m.type) {
        case 0: return ReadFull(data, m, at);
        case 1: return ReadText(data, m, at);
        default: return ReadSparse(data, m, at);
    }
}

int MatFile::Read(ReadSpreadSheetData* data) {
    if (status) return status;
    if (mode != 1) return Fail(kWrongDirection);
    if (!data) return 0;
    if (level5) return Fail(ReadMatlab5(data));
    if (!input.IsOpen() || currentMatrix < 0) return Fail(kNotMatFile);
    if (obsnumLayout) {
        if (int code = ReadMatrix(data, placement[0], {2, 1, false})) return Fail(code);
        if (int code = ReadMatrix(data, placement[1], {0, 1, false})) return Fail(code);
        if (int code = ReadMatrix(data, placement[2], {1, 1, false})) return Fail(code);
        if (int code = ReadMatrix(data, placement[4], {2, 0, true})) return Fail(code);
        return 0;
    }
    if (identifierLayout) {
        for (int slot = 0; slot < matrixCount; ++slot) {
            const int index = placement[static_cast<std::size_t>(slot)];
            if (index < 0) continue;
            Placement at;
            if (slot == 0) at = {identifierColumns, identifierRows, false};
            else if (slot <= identifierColumns) at = {slot - 1, identifierRows, false};
            else at = {identifierColumns, slot - identifierColumns - 1, true};
            if (int code = ReadMatrix(data, index, at)) return Fail(code);
        }
        return 0;
    }
    return Fail(ReadMatrix(data, currentMatrix, {0, 0, false}));
}

// ---------------------------------------------------------------------------------------------
// Level 5

int MatFile::OpenMatlab5() {
    std::uint8_t header[128];
    if (!input.Rewind() || !input.ReadExact(header, sizeof header)) return kNotMatFile;
    // The endian indicator is "MI" written as a 16-bit number: it reads "IM" when the file's
    // byte order is ours.
    if (header[126] == 'I' && header[127] == 'M') swap5 = false;
    else if (header[126] == 'M' && header[127] == 'I') swap5 = true;
    else return kNotMatFile;
    // The subsystem data (function handles, objects) is an element of its own that holds no
    // variable; its offset is 0 or all spaces when there is none.
    const std::uint64_t subsystem = Load<std::uint64_t>(header + 116, false);
    if (subsystem != 0 && subsystem != 0x2020202020202020ull) subsystemOffset = Load<std::uint64_t>(header + 116, swap5);
    std::uint8_t tag[8];
    if (input.ReadExact(tag, sizeof tag)) {
        const std::uint32_t type = Load<std::uint32_t>(tag, swap5);
        firstIsMatrix = type == miMATRIX;
        firstIsCompressed = type == miCOMPRESSED;
    }
    return 0;
}

// Inflates one compressed element: the inner tag first, then exactly the bytes it declares,
// after checking them against what the compressed bytes can hold. The rest of the zlib
// stream is run through to verify its checksum.
static int Inflate(const std::vector<std::uint8_t>& in, bool swap, std::vector<std::uint8_t>& out) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return MatFile::kCorrupt;
    struct End {
        z_stream* z;
        ~End() { inflateEnd(z); }
    } end{&z};
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    std::uint8_t tag[8];
    z.next_out = tag;
    z.avail_out = sizeof tag;
    int rc = inflate(&z, Z_NO_FLUSH);
    while (rc == Z_OK && z.avail_out > 0) rc = inflate(&z, Z_NO_FLUSH);
    if (z.avail_out > 0) return MatFile::kCorrupt;
    std::uint64_t declared = Load<std::uint32_t>(tag + 4, swap);
    if (Load<std::uint32_t>(tag, swap) >> 16) declared = 0;  // small element: nothing beyond the tag
    if (declared > kMaxElementBytes || declared > kDeflateMaxRatio * in.size() + 64) return MatFile::kBadMatrix;
    out.resize(8 + declared);
    std::memcpy(out.data(), tag, 8);
    z.next_out = out.data() + 8;
    z.avail_out = static_cast<uInt>(declared);
    while (rc == Z_OK && z.avail_out > 0) rc = inflate(&z, Z_NO_FLUSH);
    if (z.avail_out > 0) return rc == Z_DATA_ERROR ? MatFile::kCorrupt : MatFile::kBadMatrix;
    // What follows the element is at most padding; a stream that goes on inflating is not
    // one element (and is not followed further).
    std::uint8_t scratch[4096];
    std::uint64_t beyond = 0;
    while (rc == Z_OK) {
        z.next_out = scratch;
        z.avail_out = sizeof scratch;
        rc = inflate(&z, Z_NO_FLUSH);
        beyond += sizeof scratch - z.avail_out;
        if (beyond > 64) return MatFile::kCorrupt;
        if (rc == Z_BUF_ERROR && z.avail_in == 0) break;  // stream cut short after the data
    }
    if (rc == Z_DATA_ERROR || rc == Z_MEM_ERROR || rc == Z_NEED_DICT) return MatFile::kCorrupt;
    return 0;
}

int MatFile::ReadLevel5Element(std::uint32_t type, std::uint64_t bytes, std::vector<msMatrix>& matrices) {
    if (bytes > input.Remaining()) return kBadMatrix;
    std::vector<std::uint8_t> element;
    if (type == miCOMPRESSED) {
        std::vector<std::uint8_t> raw(bytes);
        if (!input.ReadExact(raw.data(), raw.size())) return kCorrupt;
        if (int code = Inflate(raw, swap5, element)) return code;
        // Only matrices are of use; the element inside may be anything.
        if (element.size() < 8 || Load<std::uint32_t>(element.data(), swap5) != miMATRIX) return 0;
    } else {
        // Read behind room for the tag, so both forms parse alike.
        element.resize(8 + bytes);
        if (!input.ReadExact(element.data() + 8, bytes)) return kCorrupt;
    }
    elements.push_back(std::move(element));
    return ParseMatrix(static_cast<int>(elements.size()) - 1, matrices);
}

int MatFile::ParseMatrix(int index, std::vector<msMatrix>& matrices) {
    const std::vector<std::uint8_t>& b = elements[static_cast<std::size_t>(index)];
    const std::uint64_t end = b.size();
    std::uint64_t pos = 8;
    SubElement flags, dims, name;
    if (end == 8) return 0;  // an empty matrix element: nothing to show
    if (!NextSubElement(b, pos, end, swap5, flags) || flags.type != miUINT32 || flags.bytes < 8) return kBadMatrix;
    const std::uint32_t flagWord = Load<std::uint32_t>(b.data() + flags.offset, swap5);
    const std::uint32_t arrayClass = flagWord & 0xFF;
    if (!NextSubElement(b, pos, end, swap5, dims) || (dims.type != miINT32 && dims.type != miUINT32) || dims.bytes < 8 || dims.bytes % 4)
        return kBadMatrix;
    if (!NextSubElement(b, pos, end, swap5, name)) return kBadMatrix;

    msMatrix m;
    m.buffer = index;
    m.arrayClass = arrayClass;
    const std::size_t nameLength = std::min<std::size_t>(name.bytes, sizeof m.name - 1);
    std::memcpy(m.name, b.data() + name.offset, nameLength);
    const int dimCount = static_cast<int>(dims.bytes / 4);
    std::uint64_t rows = 0, columns = 1;
    for (int d = 0; d < dimCount; ++d) {
        const std::int32_t v = Load<std::int32_t>(b.data() + dims.offset + 4 * d, swap5);
        if (v < 0) return kBadMatrix;
        if (d == 0) rows = static_cast<std::uint64_t>(v);
        else columns = std::min<std::uint64_t>(columns * static_cast<std::uint64_t>(v), std::uint64_t{1} << 40);
    }
    // Cells, structures, objects and functions have no place in a table of cells.
    if (arrayClass == mxCELL || arrayClass == mxSTRUCT || arrayClass == mxOBJECT || arrayClass > mxUINT64 ||
        arrayClass == 0) {
        warning = kelto::TranslateFormat(
            "The variable \"%1%\" was skipped: cell arrays, structures, objects and functions cannot be read.", m.name);
        return 0;
    }
    if (flagWord & kComplexFlag) return kComplex;
    if (rows > static_cast<std::uint64_t>(std::numeric_limits<int>::max()) ||
        columns > static_cast<std::uint64_t>(std::numeric_limits<int>::max()))
        return kBadMatrix;
    // A matrix without elements is empty, whatever its other dimensions say.
    if (arrayClass != mxSPARSE && rows * columns == 0) rows = columns = 0;
    m.rows = static_cast<int>(rows);
    m.columns = static_cast<int>(columns);

    if (arrayClass == mxSPARSE) {
        if (dimCount > 2) throw Exception(kelto::Translate("A sparse matrix can not have more than two dimensions."));
        SubElement ir, jc, pr;
        if (!NextSubElement(b, pos, end, swap5, ir) || !NextSubElement(b, pos, end, swap5, jc)) return kBadMatrix;
        if (ir.type != miINT32 || jc.type != miINT32 || jc.bytes != 4 * (columns + 1)) return kBadMatrix;
        if (rows * columns > kSparseCellsFree + 64 * end) return kBadMatrix;
        m.sparse = true;
        m.irPosition = static_cast<std::int64_t>(ir.offset);
        m.jcPosition = static_cast<std::int64_t>(jc.offset);
        m.nonZeros = ir.bytes / 4;
        if (NextSubElement(b, pos, end, swap5, pr)) {
            if (!IsNumericType(pr.type)) return kUnknownType;
            m.dataType = pr.type;
            m.dataPosition = static_cast<std::int64_t>(pr.offset);
            m.dataBytes = pr.bytes;
            if (pr.bytes / DataTypeSize(pr.type) < m.nonZeros) return kBadMatrix;
        } else {
            m.nonZeros = 0;  // a sparse matrix without values: all zeros
        }
        // Every column start and row index is checked here, so delivery can trust them.
        std::int32_t previous = 0;
        for (std::uint64_t c = 0; c <= columns; ++c) {
            const std::int32_t s = Load<std::int32_t>(b.data() + jc.offset + 4 * c, swap5);
            if (s < previous || static_cast<std::uint64_t>(s) > ir.bytes / 4) return kBadMatrix;
            previous = s;
        }
        m.nonZeros = std::min<std::uint64_t>(m.nonZeros, static_cast<std::uint64_t>(previous));
        for (std::uint64_t k = 0; k < m.nonZeros; ++k) {
            const std::int32_t r = Load<std::int32_t>(b.data() + ir.offset + 4 * k, swap5);
            if (r < 0 || static_cast<std::uint64_t>(r) >= rows) return kBadMatrix;
        }
        matrices.push_back(m);
        return 0;
    }

    SubElement real;
    if (!NextSubElement(b, pos, end, swap5, real)) {
        if (rows * columns != 0) return kBadMatrix;
        real = {miDOUBLE, pos, 0};
    }
    if (arrayClass == mxCHAR) {
        if (real.type != miUTF8 && DataTypeSize(real.type) == 0) return kUnknownType;
        m.text = true;
        m.charType = real.type;
        m.dataType = real.type;
        m.dataPosition = static_cast<std::int64_t>(real.offset);
        m.dataBytes = real.bytes;
        if (real.type != miUTF8 && real.bytes / DataTypeSize(real.type) < rows * columns) return kBadMatrix;
        matrices.push_back(m);
        return 0;
    }
    if (!IsNumericType(real.type)) return kUnknownType;
    if (real.bytes / DataTypeSize(real.type) != rows * columns) return kBadMatrix;
    m.dataType = real.type;
    m.dataPosition = static_cast<std::int64_t>(real.offset);
    m.dataBytes = real.bytes;
    matrices.push_back(m);
    return 0;
}

int MatFile::ExistsMatrix(const std::vector<msMatrix>& matrices, const char* name, int length) {
    for (std::size_t i = 0; i < matrices.size(); ++i)
        if (std::strncmp(matrices[i].name, name, static_cast<std::size_t>(length)) == 0) return static_cast<int>(i) + 1;
    return 0;
}

void MatFile::CheckDimensions(const std::vector<msMatrix>& matrices) {
    const int varnam = ExistsMatrix(matrices, "VARNAM", 6), varnum = ExistsMatrix(matrices, "VARNUM", 6);
    const int obsnam = ExistsMatrix(matrices, "OBSNAM", 6), obsnum = ExistsMatrix(matrices, "OBSNUM", 6);
    const msMatrix* data = nullptr;
    for (const msMatrix& m : matrices)
        if (!IsIdentifierName(m.name)) data = &m;
    if (!data) throw Exception(kelto::Translate("There is no data matrix."));
    const int columns = data->TableColumns();
    if (varnam && matrices[varnam - 1].rows != columns)
        throw Exception(kelto::Translate("Dimensions of VARNAM matrix and data matrix do not agree."));
    if (varnum && matrices[varnum - 1].columns != columns)
        throw Exception(kelto::Translate("Dimensions of VARNUM matrix and data matrix do not agree."));
    if (obsnam && matrices[obsnam - 1].rows != data->rows)
        throw Exception(kelto::Translate("Dimensions of OBSNAM matrix and data matrix do not agree."));
    if (obsnum && matrices[obsnum - 1].rows != data->rows)
        throw Exception(kelto::Translate("Dimensions of OBSNUM matrix and data matrix do not agree."));
}

// Identifier matrices are the first of each name; a later one of the same name is ignored.
static bool IsUsedIdentifier(const std::vector<msMatrix>& matrices, std::size_t i) {
    if (!IsIdentifierName(matrices[i].name)) return false;
    return MatFile::ExistsMatrix(matrices, matrices[i].name, 6) == static_cast<int>(i) + 1;
}

void MatFile::SetSheetSize(ReadSpreadSheetData* data, std::vector<msMatrix>& matrices) {
    int columns = 0, rows = 0;
    SheetSize(matrices, columns, rows);
    data->SetDataSize(columns, rows);
}

void MatFile::SheetSize(const std::vector<msMatrix>& matrices, int& tableColumns, int& tableRows) {
    if (matrices.empty()) throw Exception(kelto::Translate("No data found."));
    if (matrices.size() == 1) {
        if (std::int64_t(matrices[0].TableColumns()) * matrices[0].rows > kMaxTableCells) throw TableTooLarge();
        tableColumns = matrices[0].TableColumns();
        tableRows = matrices[0].rows;
        return;
    }
    std::int64_t columns = 0, rows = 0;
    for (const msMatrix& m : matrices) {
        if (IsIdentifierName(m.name)) continue;
        columns = std::max<std::int64_t>(columns, m.TableColumns());
        rows += m.rows;
    }
    columns += (ExistsMatrix(matrices, "OBSNAM", 6) ? 1 : 0) + (ExistsMatrix(matrices, "OBSNUM", 6) ? 1 : 0);
    rows += (ExistsMatrix(matrices, "VARNAM", 6) ? 1 : 0) + (ExistsMatrix(matrices, "VARNUM", 6) ? 1 : 0);
    // Stacking a long row vector and a long column vector makes a table far larger than the
    // file; one that no host could hold is refused before it is announced.
    if (rows * columns > kMaxTableCells) throw TableTooLarge();
    tableColumns = static_cast<int>(columns);
    tableRows = static_cast<int>(rows);
}

void MatFile::SetSheetIndex(std::vector<msMatrix>& matrices) {
    if (matrices.size() == 1) {
        matrices[0].startColumn = matrices[0].startRow = 1;
        return;
    }
    const bool varnam = ExistsMatrix(matrices, "VARNAM", 6), varnum = ExistsMatrix(matrices, "VARNUM", 6);
    const bool obsnam = ExistsMatrix(matrices, "OBSNAM", 6), obsnum = ExistsMatrix(matrices, "OBSNUM", 6);
    const int firstColumn = 1 + obsnam + obsnum;
    const int firstRow = 1 + varnam + varnum;
    // Data matrices are stacked one below the other, each from the first data column.
    int row = firstRow;
    for (msMatrix& m : matrices) {
        m.startColumn = firstColumn;
        m.startRow = firstRow;
        if (NameIs(m.name, "VARNAM", 6)) m.startRow = 1;
        else if (NameIs(m.name, "VARNUM", 6)) m.startRow = varnam ? 2 : 1;
        else if (NameIs(m.name, "OBSNAM", 6)) m.startColumn = 1;
        else if (NameIs(m.name, "OBSNUM", 6)) m.startColumn = obsnam ? 2 : 1;
        else {
            m.startRow = row;
            row += m.rows;
        }
    }
}

void MatFile::SetNames(ReadSpreadSheetData* data, msMatrix& matrix, const std::vector<std::string>& names) {
    const bool across = NameIs(matrix.name, "VARNAM", 6);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const int k = static_cast<int>(i);
        if (across) data->Set(matrix.startColumn + k, matrix.startRow, names[i].c_str());
        else data->Set(matrix.startColumn, matrix.startRow + k, names[i].c_str());
    }
}

// The rows of a character array as UTF-8 texts.
static std::vector<std::string> CharacterRows(const std::vector<std::uint8_t>& b, const msMatrix& m, bool swap) {
    std::vector<std::string> rows(static_cast<std::size_t>(m.rows));
    const std::uint8_t* p = b.data() + m.dataPosition;
    if (m.charType == miUTF8) {
        // Variable-length characters: decoded one by one (a malformed sequence becomes U+FFFD,
        // so no invalid UTF-8 reaches a cell), then dealt into the rows column by column.
        std::vector<std::string> chars;
        for (std::uint64_t i = 0; i < m.dataBytes;) {
            const std::uint8_t c = p[i];
            int len = c < 0x80 ? 1 : c >= 0xC2 && c < 0xE0 ? 2 : c >= 0xE0 && c < 0xF0 ? 3 : c >= 0xF0 && c < 0xF5 ? 4 : 0;
            std::uint32_t cp = len == 1 ? c : len ? c & (0x7F >> len) : 0;
            bool ok = len > 0 && static_cast<std::uint64_t>(len) <= m.dataBytes - i;
            for (int k = 1; ok && k < len; ++k) {
                ok = (p[i + k] & 0xC0) == 0x80;
                cp = (cp << 6) | (p[i + k] & 0x3F);
            }
            if (ok && ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp < 0xE000))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))))
                ok = false;
            std::string one;
            AppendUtf8(one, ok ? cp : 0xFFFD);
            chars.push_back(std::move(one));
            i += ok ? static_cast<std::uint64_t>(len) : 1;
        }
        for (std::size_t k = 0; k < chars.size() && m.rows > 0; ++k)
            rows[k % static_cast<std::size_t>(m.rows)] += chars[k];
        return rows;
    }
    const int size = DataTypeSize(m.charType);
    const std::uint64_t count = std::uint64_t(m.rows) * std::uint64_t(m.columns);
    for (int r = 0; r < m.rows; ++r) {
        std::string& s = rows[static_cast<std::size_t>(r)];
        for (std::uint64_t c = 0; c < static_cast<std::uint64_t>(m.columns); ++c) {
            const std::uint64_t k = c * m.rows + r;
            if (k >= count) break;
            const std::uint8_t* q = p + k * size;
            std::uint32_t cp = size == 1 ? *q : size == 2 ? Load<std::uint16_t>(q, swap) : Load<std::uint32_t>(q, swap);
            if (size == 2 && cp >= 0xD800 && cp < 0xDC00 && c + 1 < static_cast<std::uint64_t>(m.columns)) {
                const std::uint32_t low = Load<std::uint16_t>(p + (k + m.rows) * size, swap);
                if (low >= 0xDC00 && low < 0xE000) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    ++c;
                }
            }
            AppendUtf8(s, cp);
        }
    }
    return rows;
}

int MatFile::DeliverLevel5(ReadSpreadSheetData* data, const msMatrix& m) {
    const std::vector<std::uint8_t>& b = elements[static_cast<std::size_t>(m.buffer)];
    if (m.text) {
        std::vector<std::string> rows = CharacterRows(b, m, swap5);
        if (NameIs(m.name, "VARNAM", 6) || NameIs(m.name, "OBSNAM", 6)) {
            // Names are space-padded to the longest; a NUL also ends one.
            for (std::string& s : rows) {
                s.resize(std::min(s.size(), s.find('\0')));
                s.erase(s.find_last_not_of(' ') + 1);
            }
            msMatrix copy = m;
            SetNames(data, copy, rows);
            return 0;
        }
        for (std::size_t i = 0; i < rows.size(); ++i)
            data->Set(m.startColumn, m.startRow + static_cast<int>(i), rows[i].c_str());
        return 0;
    }
    const std::uint8_t* values = b.data() + m.dataPosition;
    const int size = DataTypeSize(m.dataType);
    if (m.sparse) {
        for (int r = 0; r < m.rows; ++r)
            for (int c = 0; c < m.columns; ++c) data->Set(m.startColumn + c, m.startRow + r, 0.0f);
        for (int c = 0; c < m.columns; ++c) {
            const std::int32_t from = Load<std::int32_t>(b.data() + m.jcPosition + 4 * c, swap5);
            const std::int32_t to = Load<std::int32_t>(b.data() + m.jcPosition + 4 * (c + 1), swap5);
            for (std::int64_t k = from; k < to && static_cast<std::uint64_t>(k) < m.nonZeros; ++k) {
                const std::int32_t r = Load<std::int32_t>(b.data() + m.irPosition + 4 * k, swap5);
                SetNumber(data, m.startColumn + c, m.startRow + r, LoadNumber(values + k * size, m.dataType, swap5));
            }
        }
        return 0;
    }
    const std::size_t stride = static_cast<std::size_t>(m.rows) * size;
    // The array's class decides the cell type; the values may be stored in a smaller type.
    const bool int64 = m.arrayClass == mxINT64 || m.arrayClass == mxUINT64;
    const bool unsignedClass = m.arrayClass == mxUINT64;
    for (int block = 0; block < m.rows; block += kRowBlock) {
        const int end = std::min(m.rows, block + kRowBlock);
        for (int i = block; i < end; ++i) {
            const std::uint8_t* p = values + std::size_t(i) * size;
            for (int j = 0; j < m.columns; ++j, p += stride) {
                if (int64) {
                    // 64-bit integers keep every digit as integer cells; a uint64 beyond
                    // the signed range can only go out as a number.
                    const std::int64_t v = LoadInteger(p, m.dataType, swap5);
                    if (unsignedClass && m.dataType == miUINT64 && v < 0)
                        data->Set(m.startColumn + j, m.startRow + i, static_cast<double>(static_cast<std::uint64_t>(v)));
                    else data->Set(m.startColumn + j, m.startRow + i, v);
                } else {
                    SetNumber(data, m.startColumn + j, m.startRow + i, LoadNumber(p, m.dataType, swap5));
                }
            }
        }
    }
    return 0;
}

int MatFile::ReadMatlab5(ReadSpreadSheetData* data) {
    if (!sizeKnown) {
        if (int code = EstablishSize()) return code;
    }
    try {
        SetSheetSize(data, matrices5);
        for (std::size_t i = 0; i < matrices5.size(); ++i) {
            if (IsIdentifierName(matrices5[i].name) && !IsUsedIdentifier(matrices5, i)) continue;
            if (int code = DeliverLevel5(data, matrices5[i])) return code;
        }
    } catch (const Exception& e) {
        structureText = e.what();
        return kStructure;
    } catch (const TableTooLarge&) {
        return kBadMatrix;
    }
    return 0;
}

// Level 5 files are parsed whole by the size pass, so the host learns the table's real size
// before it reads (and sizes its table once); Read then delivers from what was parsed.
int MatFile::EstablishSize() {
    if (!level5 || status) return status;
    int code = ParseMatlab5();
    if (code == 0) {
        try {
            SheetSize(matrices5, numCols, numRows);
            sizeKnown = true;
        } catch (const Exception& e) {
            structureText = e.what();
            code = kStructure;
        } catch (const TableTooLarge&) {
            code = kBadMatrix;
        }
    }
    if (code) {
        numCols = numRows = -1;
        elements.clear();
        matrices5.clear();
        return Fail(code);
    }
    return 0;
}

int MatFile::ParseMatlab5() {
    elements.clear();
    warning.clear();
    matrices5.clear();
    std::vector<msMatrix>& matrices = matrices5;
    try {
        if (!input.Rewind() || !input.Skip(128)) return kNotMatFile;
        // Every element in turn: MATLAB and scipy write one compressed element per variable.
        while (input.Remaining() > 0) {
            const std::uint64_t at = input.Position();
            std::uint8_t tag[8];
            if (!input.ReadExact(tag, sizeof tag)) {
                // A few trailing bytes that are not a whole tag are padding.
                break;
            }
            std::uint32_t type = Load<std::uint32_t>(tag, swap5);
            std::uint64_t bytes = Load<std::uint32_t>(tag + 4, swap5);
            if (type >> 16) continue;  // a small element at the top level carries nothing for us
            if (at == subsystemOffset) {
                if (!input.Skip(std::min<std::uint64_t>(bytes, input.Remaining()))) return kCorrupt;
                continue;
            }
            if (type == miMATRIX || type == miCOMPRESSED) {
                if (int code = ReadLevel5Element(type, bytes, matrices)) return code;
                // Uncompressed elements are padded to 8 bytes; compressed ones are not.
                if (type == miMATRIX && bytes % 8 && !input.Skip(std::min<std::uint64_t>(8 - bytes % 8, input.Remaining())))
                    return kCorrupt;
            } else {
                if (DataTypeSize(type) == 0 && type != miUTF8) return kUnknownType;
                if (!input.Skip(std::min<std::uint64_t>((bytes + 7) / 8 * 8, input.Remaining()))) return kCorrupt;
            }
        }
        if (matrices.empty()) throw Exception(kelto::Translate("No data found."));
        CheckDimensions(matrices);
        SetSheetIndex(matrices);
    } catch (const Exception& e) {
        structureText = e.what();
        return kStructure;
    } catch (const TableTooLarge&) {
        return kBadMatrix;
    } catch (const std::bad_alloc&) {
        return kBadMatrix;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Writing level 4

bool MatFile::WriteHeader(int type, int rows, int columns, const std::string& name) {
    std::uint8_t header[20];
    StoreLE<std::int32_t>(header, type);
    StoreLE<std::int32_t>(header + 4, rows);
    StoreLE<std::int32_t>(header + 8, columns);
    StoreLE<std::int32_t>(header + 12, 0);
    StoreLE<std::int32_t>(header + 16, static_cast<std::int32_t>(name.size() + 1));
    return std::fwrite(header, 1, sizeof header, output.get()) == sizeof header &&
           std::fwrite(name.c_str(), 1, name.size() + 1, output.get()) == name.size() + 1;
}

int MatFile::Write(const WriteSpreadSheetData* data) {
    if (status) return status;
    if (mode != 2 || !output) return Fail(kWrongDirection);
    int c0 = 0, r0 = 0;
    if (!data || !data->GetFirstDataCell(&c0, &r0) || c0 < 1 || r0 < 1) return Fail(kCannotExport);
    if (c0 > data->GetNumberOfColumns() || r0 > data->GetNumberOfRows()) return Fail(kCannotExport);
    // The reader keeps 20 matrices: "DATA" and at most 19 identifier matrices.
    if ((c0 - 1) + (r0 - 1) > kMaxLevel4Matrices - 1) return Fail(kCannotExport);
    if (int code = WriteData(data, c0, r0)) return Fail(code);
    if (int code = WriteColumn(data, c0, r0)) return Fail(code);
    if (int code = WriteRow(data, c0, r0)) return Fail(code);
    if (std::fflush(output.get()) != 0) return Fail(kWriteFailed);
    return 0;
}

int MatFile::WriteData(const WriteSpreadSheetData* data, int c0, int r0) {
    const int columns = data->GetNumberOfColumns(), rows = data->GetNumberOfRows();
    if (!WriteHeader(0, rows - r0 + 1, columns - c0 + 1, "DATA")) return kWriteFailed;
    std::vector<std::uint8_t> column(static_cast<std::size_t>(rows - r0 + 1) * 8);
    for (int c = c0; c <= columns; ++c) {
        std::uint8_t* p = column.data();
        for (int r = r0; r <= rows; ++r, p += 8) {
            double v = std::numeric_limits<double>::quiet_NaN();
            if (data->IsMisVal(c, r) || data->IsString(c, r)) v = std::numeric_limits<double>::quiet_NaN();
            else if (data->IsInt64(c, r)) v = static_cast<double>(data->GetInt64(c, r));
            else if (data->IsFloat(c, r)) v = data->GetFloatData(c, r);
            StoreLE<double>(p, v);
        }
        if (std::fwrite(column.data(), 1, column.size(), output.get()) != column.size()) return kWriteFailed;
    }
    return 0;
}

bool MatFile::IDIsOnlyFloat(const WriteSpreadSheetData* data, bool column, int index, int first, int last) {
    for (int k = first; k <= last; ++k) {
        const int c = column ? index : k, r = column ? k : index;
        if (!data->IsFloat(c, r) && !data->IsInt64(c, r)) return false;
    }
    return true;
}

std::string MatFile::IdentifierText(const WriteSpreadSheetData* data, int c, int r) {
    if (data->IsMisVal(c, r)) return " ";
    if (data->IsInt64(c, r)) return std::to_string(data->GetInt64(c, r));
    if (data->IsFloat(c, r)) {
        const float v = data->GetFloatData(c, r);
        if (v == -99.0f) return "";
        // The shortest text that reads back as the same number ("%g" would cut 1234567).
        return fmt::format("{}", v);
    }
    return data->GetStringValue(c, r);
}

bool MatFile::WriteIdentifier(const WriteSpreadSheetData* data, const std::string& name, bool column, int index,
                              int first, int last) {
    const int count = last - first + 1;
    if (IDIsOnlyFloat(data, column, index, first, last)) {
        if (!WriteHeader(0, count, 1, name)) return false;
        std::vector<std::uint8_t> values(static_cast<std::size_t>(count) * 8);
        for (int k = first; k <= last; ++k) {
            const int c = column ? index : k, r = column ? k : index;
            const double v = data->IsInt64(c, r) ? static_cast<double>(data->GetInt64(c, r)) : data->GetFloatData(c, r);
            StoreLE<double>(values.data() + 8 * (k - first), v);
        }
        return std::fwrite(values.data(), 1, values.size(), output.get()) == values.size();
    }
    std::vector<std::string> texts;
    std::size_t longest = 0;
    for (int k = first; k <= last; ++k) {
        texts.push_back(IdentifierText(data, column ? index : k, column ? k : index));
        longest = std::max(longest, texts.back().size());
    }
    if (longest > static_cast<std::size_t>(std::numeric_limits<int>::max() / 8)) return false;
    // Text matrix: one string per row, one character per 8-byte double, column-major.
    if (!WriteHeader(1, count, static_cast<int>(longest), name)) return false;
    std::vector<std::uint8_t> values(static_cast<std::size_t>(count) * 8);
    for (std::size_t j = 0; j < longest; ++j) {
        for (std::size_t i = 0; i < texts.size(); ++i) {
            const unsigned char ch = j < texts[i].size() ? static_cast<unsigned char>(texts[i][j]) : ' ';
            StoreLE<double>(values.data() + 8 * i, ch);
        }
        if (std::fwrite(values.data(), 1, values.size(), output.get()) != values.size()) return false;
    }
    return true;
}

int MatFile::WriteColumn(const WriteSpreadSheetData* data, int c0, int r0) {
    const int rows = data->GetNumberOfRows();
    for (int c = 1; c < c0; ++c)
        if (!WriteIdentifier(data, kelto::FormatMessage("OBSID%1%", c), true, c, r0, rows)) return kWriteFailed;
    return 0;
}

int MatFile::WriteRow(const WriteSpreadSheetData* data, int c0, int r0) {
    const int columns = data->GetNumberOfColumns();
    for (int r = 1; r < r0; ++r)
        if (!WriteIdentifier(data, kelto::FormatMessage("VARID%1%", r), false, r, c0, columns)) return kWriteFailed;
    return 0;
}

// ---------------------------------------------------------------------------------------------

void MatFile::Close() {
    input.Close();
    output.reset();
    elements.clear();
    matrices5.clear();
    SpreadsheetFile::Close();
    mode = 0;
}

const char* MatFile::GetWarningMessage() { return warning.empty() ? nullptr : warning.c_str(); }

void MatFile::GetErrorMessage(char* buffer, unsigned int size) {
    const char* text = nullptr;
    switch (status) {
        case kOpenFailed: text = "Unable to open file."; break;
        case kNotMatFile:
            text = "An error occurred while reading the file. The file does not seem to be a valid MATLAB MAT-file "
                   "and cannot be imported as such.";
            break;
        case kCorrupt:
            text = "An error occurred while reading the file. The file seems to be corrupt and cannot be imported.";
            break;
        case kBadHeader:
            text = "An error occurred while reading the matrix header in the file. The file seems to be corrupt and "
                   "cannot be imported.";
            break;
        case kBadMatrix:
            text = "An error occurred while reading a matrix in the file. The file seems to be corrupt and cannot be "
                   "imported.";
            break;
        case kWriteFailed:
            text = "An error occurred while writing a matrix to the file. The dataset seems to be corrupt and cannot "
                   "be exported.";
            break;
        case kCannotExport: text = "This type of list cannot be exported to MATLAB."; break;
        case kStructure: CopyMessage(structureText.c_str(), buffer, size); return;
        case kComplex: text = "Complex data."; break;
        case kUnknownType: text = "The file contains data of a type that cannot be interpreted."; break;
        case kUnsupportedVersion:
            text = "The file seems to be created by an unsupported version of MATLAB. Only MATLAB files version 4.x "
                   "and 5 are supported.";
            break;
        default: SpreadsheetFile::GetErrorMessage(buffer, size); return;
    }
    CopyMessage(kelto::Translate(text).c_str(), buffer, size);
}

MatFileFactory::MatFileFactory()
    : SprFileFactory("Matlab File", "Matlab Files (*.mat)", "Matlab Files (*.mat)", 1, ".mat", 1, 1, 0, 0, 0, 1) {}

SprFileFactory::MyKindOfFile MatFileFactory::IsMyKindOfFile(const char*) { return PossiblyMyKind; }

SpreadsheetFile* MatFileFactory::GetSpreadsheetFile() { return new MatFile; }
