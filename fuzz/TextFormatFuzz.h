#pragma once
// One harness for the text formats, compiled once per format: the input becomes a file that
// is detected, opened, sized, read into an in-memory table through the entry points, and,
// for formats that write, written back and read again.
//
// The first input byte chooses the options: below 32, an options record naming that
// encoding of the text formats' table (so UTF-16, EBCDIC and the stateful ISO-2022
// encodings are exercised); otherwise no options record (the encoding is guessed). The rest
// of the input is the file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "data/SpreadsheetData.h"
#include "formats/text/TextFile.h"
#include "plugin/HostCallbacks.h"
#include "plugin/QmImport.h"

namespace kelto::fuzz {

inline int IndexOf(const char* format) {
    for (int i = 1; i <= QmImportSizeFileFormatsSupported(); ++i)
        if (std::string(QmImportGetFileFormatInfo(i)->name) == format) return i;
    return 0;
}

inline std::string TempPath(const char* tag, const char* extension) {
    return "/tmp/kelto-fuzz-" + std::to_string(::getpid()) + "-" + tag + extension;
}

inline bool WriteAll(const std::string& path, const std::uint8_t* data, std::size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// Reads `path` as `format` into `table`; false when any step fails.
inline bool ReadOnce(int index, const std::string& path, QmImportOpenOptions* options, FloatStringSpreadsheetData& table) {
    SpreadsheetFile* handle = nullptr;
    bool ok = QmImportOpen(index, path.c_str(), true, &handle, options);
    int rows = -1, cols = -1;
    if (ok) ok = QmImportEstablishSize(index, handle, &rows, &cols);
    // The host sizes its table from these counts; a hostile file must not make that huge,
    // but the harness does not size what no host could hold.
    if (ok && static_cast<long long>(rows) * cols <= (1LL << 22)) {
        table.SetDataSize(cols, rows);
        HostReadCallbacks callbacks(table);
        ok = QmImportRead(index, handle, callbacks.Record());
        QmImportGetWarning(index, handle);
    }
    if (handle) {
        QmImportGetLastError(index, handle);
        QmImportClose(index, handle);
    }
    return ok;
}

inline int FuzzTextFormat(const char* format, const char* extension, bool writes, const std::uint8_t* data,
                          std::size_t size) {
    if (size < 1 || size > (1u << 20)) return 0;
    static const int index = IndexOf(format);
    if (index == 0) return 0;
    const std::string path = TempPath("in", extension);
    if (!WriteAll(path, data + 1, size - 1)) return 0;

    QmImportOpenOptions record{0, nullptr};
    QmImportOpenOptions* options = nullptr;
    if (data[0] < TextFileOptions::GetEncodingsCount()) {
        TextFileOptions o;
        o.SetEncoding(TextFileOptions::GetAllEncodings()[data[0]]);
        if (std::string(format) == "CSV File") o.SetDelimiter(",");
        o.Write(&record);
        options = &record;
    }

    QmImportIsCorrectFileType(index, path.c_str());
    if (QmImportOpenOptions* defaults = QmImportGetFileOptions(index, path.c_str(), false)) {
        delete[] defaults->data;
        delete defaults;
    }
    FloatStringSpreadsheetData table;
    bool read = ReadOnce(index, path, options, table);
    delete[] record.data;

    if (writes && read) {
        const std::string out = TempPath("out", extension);
        SpreadsheetFile* handle = nullptr;
        if (QmImportOpen(index, out.c_str(), false, &handle, nullptr)) {
            HostWriteCallbacks callbacks(table);
            QmImportWrite(index, handle, callbacks.Record());
        }
        if (handle) QmImportClose(index, handle);
        FloatStringSpreadsheetData again;
        ReadOnce(index, out, nullptr, again);
        std::remove(out.c_str());
    }
    std::remove(path.c_str());
    return 0;
}

}  // namespace kelto::fuzz
