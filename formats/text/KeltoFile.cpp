#include "formats/text/KeltoFile.h"

#include <climits>
#include <cstdlib>
#include <string>

#include <boost/locale/encoding.hpp>

#include "outside/qmstream/CompoundFile.h"
#include "outside/utl/Exception.h"
#include "outside/utl/IniFileSection.h"
#include "outside/utl/QmFile.h"
#include "outside/utl/QmTextIOStream.h"
#include "platform/Translate.h"

namespace {

KeltoFileFactory g_keltoFileFactory;

bool EndsWithNoCase(const std::string& text, const char* suffix) {
    const std::size_t n = std::char_traits<char>::length(suffix);
    if (text.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        char a = text[text.size() - n + i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (a != suffix[i]) return false;
    }
    return true;
}

// Reads one line (without its LF and a trailing CR); false at the end of the stream. A line
// longer than the limit is cut there and the rest read on as the next line, so a stream
// without line feeds cannot take unbounded memory.
bool ReadLine(std::istream& in, std::string& line) {
    constexpr std::size_t kMaxLine = 64u << 20;
    line.clear();
    std::streambuf* buffer = in.rdbuf();
    if (!buffer) return false;
    bool any = false;
    for (;;) {
        const int c = buffer->sbumpc();
        if (c == std::char_traits<char>::eof()) break;
        any = true;
        if (c == '\n') break;
        line.push_back(static_cast<char>(c));
        if (line.size() >= kMaxLine) break;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return any;
}

}  // namespace

KeltoFile::KeltoFile() : TextFile("") {}
KeltoFile::~KeltoFile() = default;

int KeltoFile::Open(bool read, const char* name, QmImportOpenOptions* record) {
    if (status) return status;
    if (!read) return Fail(kWrongDirection);
    const std::string file = name ? name : "";
    // A ".mip" file is always taken as compound, even when it would pass the text test.
    if (!EndsWithNoCase(file, ".mip") && TextFile::IsTextFile(file.c_str())) return TextFile::Open(true, name, record);

    compound = true;
    path = file;
    mode = 1;
    storage = std::make_unique<CompoundFile>();
    if (storage->Open(file.c_str(), CompoundFile::ReadMode) != QmStreamOk) {
        storage.reset();
        return Fail(kNotKeltoFile);
    }
    if (SetOptions(record) != 0) return status;
    unsigned long kind = 0;
    for (const char* entry = storage->GetFirstDirEntry(&kind); entry; entry = storage->GetNextDirEntry(&kind)) {
        if (kind != CompoundFile::StreamEntry) continue;
        const std::string entryName = entry;
        if (EndsWithNoCase(entryName, ".dat")) {
            // A later worksheet entry replaces an earlier one.
            std::unique_ptr<std::istream> stream(storage->GetIOStream(entry, "rb"));
            if (stream) worksheet = std::move(stream);
        } else if (EndsWithNoCase(entryName, ".ini")) {
            std::unique_ptr<std::istream> stream(storage->GetIOStream(entry, "rb"));
            if (!stream) continue;
            std::string version;
            if (!IniFileSection(*stream, "Status").ReadKey("Version", version)) continue;
            // Versions 1 to 10 wrote the worksheet in the legacy code page; later ones in
            // UTF-8. A version that is not a number at all is taken as a later one.
            char* end = nullptr;
            const long v = std::strtol(version.c_str(), &end, 10);
            if (end == version.c_str() || v < 1 || v > 10) options.SetEncoding("utf8");
        }
    }
    if (!worksheet) {
        storage.reset();
        return Fail(kNoWorksheet);
    }
    return 0;
}

bool KeltoFile::RewindWorksheet() {
    if (!worksheet) return false;
    worksheet->clear();
    worksheet->seekg(0);
    return !worksheet->fail();
}

int KeltoFile::EstablishSize() {
    if (!compound) return TextFile::EstablishSize();
    if (status) return status;
    if (!RewindWorksheet()) return kSizeError;
    int columns = 0;
    long long lines = 0;
    bool lastHadCells = false;
    std::string line;
    while (ReadLine(*worksheet, line)) {
        int cells = 0;
        char* cursor = line.data();
        while (GetCell(&cursor, options)) ++cells;
        if (cells > columns) columns = cells;
        lastHadCells = cells > 0;
        if (++lines > INT_MAX) return kSizeError;
    }
    numCols = columns;
    numRows = static_cast<int>(lines - (lines > 0 && !lastHadCells ? 1 : 0));
    sizeKnown = true;
    return 0;
}

int KeltoFile::Read(ReadSpreadSheetData* data) {
    if (!compound) return TextFile::Read(data);
    if (status) return status;
    if (!data) return 0;
    const int rows = GetNumRows(), cols = GetNumCols();
    if (rows < 0 || cols < 0) return status ? status : Fail(kSizeError);
    return Read(data, cols, rows, 1, 1, options);
}

int KeltoFile::Read(ReadSpreadSheetData* data, int maxColumns, int maxRows, int firstColumn, int firstRow,
                    const TextFileOptions& o) {
    if (!RewindWorksheet()) return Fail(kOpenFailed);
    const std::string encoding = o.GetEncoding().empty() ? GetLegacyStreamEncoding() : o.GetEncoding();
    const bool utf8 = encoding == "utf8" || encoding == "UTF-8" || encoding == "utf-8";
    try {
        std::string line;
        int row = 0;
        bool more = true;
        for (;;) {
            const int next = data->GetNextRow(row);
            // A negative answer ends the read; one that would not move on stops it too.
            if (next < 0) return 0;
            if (next <= row) break;
            while (row < next && (more = ReadLine(*worksheet, line))) ++row;
            if (!more) return 0;
            if (row > maxRows) break;
            if (row < firstRow) continue;
            std::string text = utf8 ? boost::locale::conv::utf_to_utf<char>(line)
                                    : boost::locale::conv::to_utf<char>(line, encoding);
            char* cursor = text.data();
            for (int column = 1; column <= maxColumns; ++column) {
                char* cell = GetCell(&cursor, o);
                if (!cell) break;
                if (column >= firstColumn) data->Set(column, row, static_cast<const char*>(cell));
            }
        }
        if (row <= maxRows && worksheet->rdbuf() && worksheet->rdbuf()->sgetc() != std::char_traits<char>::eof())
            return Fail(kTrailingData);
    } catch (const CancelException&) {
        throw;
    } catch (const std::exception&) {
        return Fail(kOpenFailed);
    }
    return 0;
}

int KeltoFile::Write(const WriteSpreadSheetData* data) {
    if (compound) return Fail(kNotImplemented);
    return TextFile::Write(data);
}

void KeltoFile::Close() {
    worksheet.reset();
    storage.reset();
    compound = false;
    TextFile::Close();
}

void KeltoFile::GetErrorMessage(char* buffer, unsigned int size) {
    const char* text = nullptr;
    switch (status) {
        case kNoWorksheet: text = "Could not find the worksheet in the file."; break;
        case kNotKeltoFile: text = "The file does not appear to be a valid KELTO file."; break;
        default: TextFile::GetErrorMessage(buffer, size); return;
    }
    CopyMessage(kelto::Translate(text).c_str(), buffer, size);
}

KeltoFileFactory::KeltoFileFactory()
    : SprFileFactory("KELTO File", "KELTO Files (*.mip; *.dat)", nullptr, 2, ".mip\0.dat", 0, 1, 0, 1, 0, 1) {}

SprFileFactory::MyKindOfFile KeltoFileFactory::IsMyKindOfFile(const char* name) {
    if (!name) return NotMyKind;
    std::string extension = QmGetFileExtension(name);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (extension == "mip" || QmFile::IsTextFile(name, true)) return LikelyMyKind;
    return NotMyKind;
}

SpreadsheetFile* KeltoFileFactory::GetSpreadsheetFile() { return new KeltoFile; }
