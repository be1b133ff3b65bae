#include "formats/workbook/ExcelFile.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include <boost/algorithm/string/predicate.hpp>
#include <boost/locale/encoding.hpp>

#include "formats/workbook/ExcelValues.h"
#include "outside/utl/QmTextIOStream.h"
#include "platform/ByteOrder.h"
#include "platform/CompoundFile.h"
#include "platform/HostInfo.h"
#include "platform/Translate.h"
#include "platform/Utf8.h"

using kelto::platform::LoadLE;
using namespace kelto::workbook;

namespace {

// Record identifiers [MS-XLS 2.3]; the BIFF2-only forms carry a "2" suffix.
constexpr std::uint16_t kEof = 0x000A;
constexpr std::uint16_t kCodePage = 0x0042;
constexpr std::uint16_t kDateMode = 0x0022;
constexpr std::uint16_t kFilePass = 0x002F;
constexpr std::uint16_t kBoundSheet = 0x0085;
constexpr std::uint16_t kBundlesOffset = 0x008E;
constexpr std::uint16_t kBundleHeader = 0x008F;
constexpr std::uint16_t kXf = 0x00E0;
constexpr std::uint16_t kFormat = 0x041E;
constexpr std::uint16_t kSst = 0x00FC;
constexpr std::uint16_t kContinue = 0x003C;
constexpr std::uint16_t kWsBool = 0x0081;
constexpr std::uint16_t kInteger2 = 0x0002;
constexpr std::uint16_t kNumber2 = 0x0003;
constexpr std::uint16_t kLabel2 = 0x0004;
constexpr std::uint16_t kBoolErr2 = 0x0005;
constexpr std::uint16_t kFormula2 = 0x0006;  // also BIFF5-8
constexpr std::uint16_t kNumber = 0x0203;
constexpr std::uint16_t kLabel = 0x0204;
constexpr std::uint16_t kBoolErr = 0x0205;
constexpr std::uint16_t kFormula3 = 0x0206;
constexpr std::uint16_t kFormula4 = 0x0406;
constexpr std::uint16_t kRk = 0x027E;
constexpr std::uint16_t kMulRk = 0x00BD;
constexpr std::uint16_t kRString = 0x00D6;
constexpr std::uint16_t kLabelSst = 0x00FD;
constexpr std::uint16_t kShrFmla = 0x04BC;
constexpr std::uint16_t kArray = 0x0221;
constexpr std::uint16_t kTableOp = 0x0236;

constexpr std::uint16_t kSubstreamGlobals = 0x0005;
constexpr std::uint16_t kSubstreamWorksheet = 0x0010;
constexpr std::uint16_t kSubstreamWorkbook4 = 0x0100;

constexpr int kGridColumns = 256;
constexpr int kMaxProbes = 1024;
constexpr std::size_t kBlock = 1 << 16;

bool IsBof(std::uint16_t type) { return (type & 0xFF) == 0x09; }

void AppendUtf16(std::string& out, const std::uint8_t* p, std::size_t units) {
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t u = LoadLE<std::uint16_t>(p + 2 * i);
        if (u >= 0xD800 && u <= 0xDBFF) {
            // A high surrogate counts only with the low one after it; else both are dropped.
            if (i + 1 < units) {
                std::uint32_t low = LoadLE<std::uint16_t>(p + 2 * (i + 1));
                ++i;
                if (low >= 0xDC00 && low <= 0xDFFF) kelto::platform::AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
            }
            continue;
        }
        if (u >= 0xDC00 && u <= 0xDFFF) continue;
        kelto::platform::AppendUtf8(out, u);
    }
}

// The compressed form of a BIFF8 string: the low bytes of UTF-16 units, so Latin-1.
void AppendLatin1(std::string& out, const std::uint8_t* p, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) kelto::platform::AppendUtf8(out, p[i]);
}

// The ICU name of a Windows code page as the CODEPAGE record gives it [MS-XLS 2.4.52];
// empty for one we do not know.
std::string CharsetOf(std::uint16_t codePage) {
    switch (codePage) {
        case 367: return "US-ASCII";
        case 10000:
        case 32768: return "macintosh";  // 32768: Apple Roman as Excel for the Mac writes it
        case 32769: return "windows-1252";
        case 10006: return "x-mac-greek";
        case 10007: return "x-mac-cyrillic";
        case 10029: return "x-mac-centraleurroman";
        case 10079: return "x-mac-icelandic";
        case 10081: return "x-mac-turkish";
        default: break;
    }
    if (codePage >= 1250 && codePage <= 1258) return "windows-" + std::to_string(codePage);
    if (codePage == 874 || codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950)
        return "windows-" + std::to_string(codePage);
    if (codePage == 437 || codePage == 737 || codePage == 775 || (codePage >= 850 && codePage <= 869))
        return "ibm-" + std::to_string(codePage);
    return std::string();
}

ExcelFileFactory g_excelFileFactory;

}  // namespace

// ---------------------------------------------------------------------------------------
// Streams

void BaseStream::FileCloser::operator()(std::FILE* f) const {
    if (f) std::fclose(f);
}

BaseStream::BaseStream(const std::string& path) : file_(std::fopen(path.c_str(), "rb")) { status_ = file_ ? 0 : 1; }

BaseStream::~BaseStream() = default;

int BaseStream::Read(char* buffer, int count) {
    if (!file_ || count < 0) {
        status_ = 1;
        return -1;
    }
    const std::size_t got = std::fread(buffer, 1, static_cast<std::size_t>(count), file_.get());
    if (std::ferror(file_.get())) {
        status_ = 1;
        return -1;
    }
    return static_cast<int>(got);
}

int BaseStream::Write(const char*, int) {
    status_ = 1;
    return -1;
}

void BaseStream::Seek(std::int64_t position, int origin) {
    if (origin < 0 || origin > 2) return;
    static constexpr int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (!file_ || fseeko(file_.get(), static_cast<off_t>(position), kWhence[origin]) != 0) status_ = 1;
}

std::int64_t BaseStream::Tell() {
    const off_t at = file_ ? ftello(file_.get()) : -1;
    if (at < 0) status_ = 1;
    return at;
}

int BaseStream::Status() { return status_; }

ExcelStgStream::ExcelStgStream(const std::string& path) : storage_(std::make_unique<kelto::platform::CompoundFileReader>()) {
    if (!storage_->Open(path)) {
        status_ = 1;
        return;
    }
    // A dual-format file ("Excel 97 & 5.0/95") holds both: "Workbook" (BIFF8) is the one
    // Excel reads, "Book" its BIFF5 copy, where characters outside the code page became "?".
    for (const char* wanted : {"Workbook", "Book"}) {
        for (const kelto::platform::CompoundElement& element : storage_->RootElements()) {
            if (!element.isStorage && boost::algorithm::iequals(element.name, wanted)) {
                stream_ = storage_->OpenStream(element);
                break;
            }
        }
        if (stream_) break;
    }
    if (!stream_) status_ = 2;
}

ExcelStgStream::~ExcelStgStream() = default;

int ExcelStgStream::Read(char* buffer, int count) {
    if (!stream_ || count < 0) {
        status_ = 3;
        return -1;
    }
    const std::ptrdiff_t got = stream_->Read(buffer, static_cast<std::size_t>(count));
    if (got < 0) status_ = 3;
    return static_cast<int>(got);
}

int ExcelStgStream::Write(const char*, int) {
    status_ = 4;
    return -1;
}

void ExcelStgStream::Seek(std::int64_t position, int origin) {
    if (origin < 0 || origin > 2) return;
    if (!stream_ || !stream_->Seek(position, static_cast<kelto::platform::SeekOrigin>(origin))) status_ = 6;
}

std::int64_t ExcelStgStream::Tell() {
    if (!stream_) {
        status_ = 6;
        return -1;
    }
    return static_cast<std::int64_t>(stream_->Tell());
}

int ExcelStgStream::Status() { return status_; }

// ---------------------------------------------------------------------------------------
// Record reading: the stream is read in large blocks into one buffer, and records are copied
// out of it, so a record costs no call into the stream.

class ExcelFile::Records {
public:
    explicit Records(BaseStream& stream) : stream_(stream), buffer_(kBlock) {}

    std::int64_t Tell() const { return base_ + static_cast<std::int64_t>(pos_); }

    bool Seek(std::int64_t position) {
        if (position < 0) return false;
        if (position >= base_ && position <= base_ + static_cast<std::int64_t>(end_)) {
            pos_ = static_cast<std::size_t>(position - base_);
            return true;
        }
        stream_.Seek(position, 0);
        if (stream_.Status() != 0) return false;
        base_ = position;
        pos_ = end_ = 0;
        return true;
    }

    // The next `count` bytes where they lie, when the buffer holds them all (valid until the
    // next read); null otherwise, and nothing is consumed.
    const std::uint8_t* Contiguous(std::size_t count) {
        if (end_ - pos_ < count) return nullptr;
        const std::uint8_t* p = buffer_.data() + pos_;
        pos_ += count;
        return p;
    }

    // Copies `count` bytes; false when the stream holds fewer or fails.
    bool Take(std::uint8_t* out, std::size_t count) {
        while (count > 0) {
            if (pos_ == end_ && !Fill()) return false;
            const std::size_t n = std::min(count, end_ - pos_);
            std::memcpy(out, buffer_.data() + pos_, n);
            out += n;
            pos_ += n;
            count -= n;
        }
        return true;
    }

private:
    bool Fill() {
        base_ += static_cast<std::int64_t>(end_);
        pos_ = end_ = 0;
        const int got = stream_.Read(reinterpret_cast<char*>(buffer_.data()), static_cast<int>(buffer_.size()));
        if (got <= 0 || stream_.Status() != 0) return false;
        end_ = static_cast<std::size_t>(got);
        return true;
    }

    BaseStream& stream_;
    std::vector<std::uint8_t> buffer_;
    std::int64_t base_ = 0;  // stream position of buffer_[0]
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
};

// 8-bit texts of BIFF2 to BIFF5/7: from the workbook's code page, else the legacy encoding.
class ExcelFile::TextDecoder {
public:
    TextDecoder() : charset_(GetLegacyStreamEncoding()) {}

    void SetCodePage(std::uint16_t codePage) {
        std::string charset = CharsetOf(codePage);
        if (charset.empty() || charset == charset_) return;
        try {
            boost::locale::conv::to_utf<char>("a", charset);
            charset_ = std::move(charset);
        } catch (...) {
            // ICU does not know it: the legacy encoding stays.
        }
    }

    void Append(std::string& out, const std::uint8_t* p, std::size_t n) const {
        const char* text = reinterpret_cast<const char*>(p);
        if (std::all_of(p, p + n, [](std::uint8_t c) { return c < 0x80; })) {
            out.append(text, n);
            return;
        }
        try {
            out += boost::locale::conv::to_utf<char>(text, text + n, charset_);
        } catch (...) {
            AppendLatin1(out, p, n);
        }
    }

private:
    std::string charset_;
};

// ---------------------------------------------------------------------------------------

ExcelFile::ExcelFile() : decoder_(std::make_unique<TextDecoder>()) {}

ExcelFile::~ExcelFile() = default;

void ExcelFile::Close() {
    records_.reset();
    stream_.reset();
    SpreadsheetFile::Close();
}

bool ExcelFile::ReadBiffRecord(BIFFRecord& record) {
    if (!records_) return false;
    std::uint8_t copied[4];
    const std::uint8_t* header = records_->Contiguous(4);
    if (!header) {
        if (!records_->Take(copied, 4)) return false;
        header = copied;
    }
    record.type = LoadLE<std::uint16_t>(header);
    record.length = LoadLE<std::uint16_t>(header + 2);
    const int limit = (biff8_ || version_ == 0xFF) ? BIFFRecord::kMaxLength : BIFFRecord::kMaxLengthBefore8;
    if (record.length > limit) return false;
    // Records that lie whole in the block buffer are used where they are; others are copied.
    if (const std::uint8_t* bytes = records_->Contiguous(record.length)) {
        record.bytes = bytes;
        return true;
    }
    record.bytes = record.data.data();
    return records_->Take(record.data.data(), record.length);
}

std::string ExcelFile::Text8(const std::uint8_t* bytes, std::size_t count) const {
    std::string out;
    decoder_->Append(out, bytes, count);
    return out;
}

// What a record walk does with each record of a sheet.
enum class Step { Next, Stop, Failed, Again };

template <typename Visit>
bool ExcelFile::WalkSheet(std::int64_t position, Visit&& visit) {
    if (!records_ || !records_->Seek(position)) return false;
    bool first = true;
    bool again = false;
    int nested = 0;  // depth of embedded substreams (charts) being skipped
    for (;;) {
        if (!again && !ReadBiffRecord(record_)) return false;
        again = false;
        const std::uint16_t type = record_.type;
        if (IsBof(type)) {
            // The sheet's own BOF when the walk starts on it; any later one opens an embedded
            // substream whose records are not the sheet's cells.
            if (!first) ++nested;
            first = false;
            continue;
        }
        first = false;
        if (type == kEof) {
            if (nested == 0) return true;
            --nested;
            continue;
        }
        if (nested) continue;
        if (type == kCodePage && record_.length >= 2) decoder_->SetCodePage(LoadLE<std::uint16_t>(record_.Data()));
        switch (visit(record_)) {
            case Step::Next: break;
            case Step::Stop: return true;
            case Step::Failed: return false;
            case Step::Again: again = true; break;
        }
    }
}

namespace {

// The row and the first and last columns a cell record fills; false for other records.
bool CellSpan(const BIFFRecord& r, bool biff2, int& row, int& first, int& last) {
    const std::uint8_t* d = r.Data();
    const int len = r.length;
    if (len < 4) return false;
    switch (r.type) {
        case kInteger2:
        case kNumber2:
        case kLabel2:
        case kBoolErr2:
            if (!biff2) return false;
            break;
        case kFormula2:
        case kNumber:
        case kLabel:
        case kBoolErr:
        case kFormula3:
        case kFormula4:
        case kRk:
        case kRString:
        case kLabelSst:
            break;
        case kMulRk: {
            if (len < 12) return false;
            row = LoadLE<std::uint16_t>(d);
            first = LoadLE<std::uint16_t>(d + 2);
            last = first + (len - 6) / 6 - 1;
            return true;
        }
        default: return false;
    }
    row = LoadLE<std::uint16_t>(d);
    first = last = LoadLE<std::uint16_t>(d + 2);
    return true;
}

}  // namespace

int ExcelFile::IsWorksheet(std::int64_t position) {
    if (!records_) return kBadWorksheet;
    const std::int64_t place = records_->Tell();
    bool dialog = false;
    int rows = 0, cols = 0;
    const bool ok = WalkSheet(position, [&](const BIFFRecord& r) {
        if (r.type == kWsBool && r.length >= 1 && (r.Data()[0] & 0x10)) {
            dialog = true;
            return Step::Stop;
        }
        int row, first, last;
        if (CellSpan(r, biff2_, row, first, last) && first < kGridColumns) {
            // The size is what the cells fill, whatever DIMENSIONS claims.
            rows = std::max(rows, row + 1);
            cols = std::max(cols, std::min(last, kGridColumns - 1) + 1);
        }
        return Step::Next;
    });
    records_->Seek(place);
    if (!ok) return kBadWorksheet;
    if (dialog || rows == 0 || cols == 0) return kDialogOrEmpty;
    numCols = cols;
    numRows = rows;
    return 0;
}

bool ExcelFile::ReadSharedStrings() {
    // record_ holds the SST [MS-XLS 2.4.265]; the CONTINUE records after it carry on its string
    // sequence, a string split between two records going on with an option byte of its own.
    const std::uint8_t* d = record_.Data();
    sst_.strings.clear();
    sst_.declaredCount = 0;
    if (record_.length >= 8) {
        const std::uint32_t declared = LoadLE<std::uint32_t>(d + 4);
        sst_.declaredCount = static_cast<int>(std::min<std::uint32_t>(declared, INT_MAX));
    }

    std::uint32_t pendingChars = 0;  // characters of a split string still to come
    std::size_t pendingFormat = 0;   // formatting runs and extension data of that string
    std::size_t skip = 0;            // bytes of formatting still to pass over
    auto parse = [&](const std::uint8_t* p, const std::uint8_t* end) {
        while (p < end) {
            if (skip) {
                const std::size_t n = std::min<std::size_t>(skip, static_cast<std::size_t>(end - p));
                p += n;
                skip -= n;
                continue;
            }
            const bool continued = pendingChars > 0;
            if (!continued && sst_.strings.size() >= static_cast<std::size_t>(sst_.declaredCount)) return;
            std::uint32_t chars;
            std::uint8_t options;
            if (continued) {
                options = *p++;
                chars = pendingChars;
            } else {
                if (end - p < 3) return;
                chars = LoadLE<std::uint16_t>(p);
                options = p[2];
                p += 3;
                pendingFormat = 0;
                if (options & 0x08) {
                    if (end - p < 2) return;
                    pendingFormat += 4u * LoadLE<std::uint16_t>(p);
                    p += 2;
                }
                if (options & 0x04) {
                    if (end - p < 4) return;
                    pendingFormat += LoadLE<std::uint32_t>(p);
                    p += 4;
                }
            }
            const bool wide = options & 0x01;
            const std::size_t width = wide ? 2 : 1;
            const std::size_t fit = static_cast<std::size_t>(end - p) / width;
            const std::size_t take = std::min<std::size_t>(chars, fit);
            std::string text;
            if (wide) AppendUtf16(text, p, take);
            else AppendLatin1(text, p, take);
            if (continued && !sst_.strings.empty()) sst_.strings.back() += text;
            else sst_.strings.push_back(std::move(text));
            p += take * width;
            pendingChars = chars - static_cast<std::uint32_t>(take);
            if (pendingChars == 0) skip = pendingFormat;
            else return;  // the rest comes with the next CONTINUE
        }
    };
    if (record_.length >= 12) parse(d + 8, d + record_.length);
    // The first record after the CONTINUE run is left in record_ for the caller.
    for (;;) {
        if (!ReadBiffRecord(record_)) return false;
        if (record_.type != kContinue) return true;
        parse(record_.Data(), record_.Data() + record_.length);
    }
}

int ExcelFile::ReadWorkbookGlobals() {
    if (status) return status;
    std::vector<std::uint16_t> dateFormats{14, 15, 16, 17, 18, 19, 20, 21, 22, 45, 46, 47};
    const bool biff5to8 = version_ == 8;
    if (!records_->Seek(0)) return Fail(kBadWorkbook);
    bool again = false;
    int probes = 0;
    auto addSheet = [&](std::string name, std::int64_t position) {
        if (worksheetCount_ >= 255) return;  // the table holds 255 sheets
        WorksheetInfo& info = sheets_[static_cast<std::size_t>(++worksheetCount_)];
        info.name = std::move(name);
        info.position = position;
        info.numCols = numCols;
        info.numRows = numRows;
    };
    for (;;) {
        if (!again && !ReadBiffRecord(record_)) return Fail(kBadWorkbook);
        again = false;
        const std::uint8_t* d = record_.Data();
        const int len = record_.length;
        const std::uint16_t type = record_.type;
        if (type == kEof) break;
        if (type == kCodePage && len >= 2) {
            decoder_->SetCodePage(LoadLE<std::uint16_t>(d));
        } else if (type == kDateMode && len >= 2) {
            date1904_ = LoadLE<std::uint16_t>(d) == 1;
        } else if (version_ == 4 && type == kBundlesOffset && len >= 4) {
            // Only forward: a damaged offset must not send the loop round again.
            const std::int64_t target = LoadLE<std::int32_t>(d);
            if (target > records_->Tell() && !records_->Seek(target)) return Fail(kBadWorkbook);
        } else if (version_ == 4 && type == kBundleHeader && len >= 5) {
            const std::uint32_t size = LoadLE<std::uint32_t>(d);
            const std::size_t nameLength = std::min<std::size_t>(d[4], static_cast<std::size_t>(len - 5));
            std::string name = Text8(d + 5, nameLength);
            if (!ReadBiffRecord(record_)) return Fail(kBadWorkbook);
            if (!(IsBof(record_.type) && record_.length >= 4 &&
                  LoadLE<std::uint16_t>(record_.Data() + 2) == kSubstreamWorksheet)) {
                again = true;
                continue;
            }
            const std::int64_t afterBof = records_->Tell();
            if (worksheetCount_ >= 255 || ++probes > kMaxProbes) continue;
            const int code = IsWorksheet(afterBof);
            if (code == 0) addSheet(std::move(name), afterBof);
            else if (code != kDialogOrEmpty) return Fail(kBadWorkbook);
            const std::int64_t next = afterBof + static_cast<std::int64_t>(size) - 10;
            if (next > afterBof && !records_->Seek(next)) return Fail(kBadWorkbook);
        } else if (biff5to8) {
            switch (type) {
                case kFilePass: return Fail(kProtected);
                case kBoundSheet: {
                    if (len < 7 || (LoadLE<std::uint16_t>(d + 4) & 0x0F00)) break;
                    std::string name;
                    if (biff8_) {
                        if (len < 8) break;
                        const bool wide = d[7] & 1;
                        const std::size_t fit = static_cast<std::size_t>(len - 8) / (wide ? 2 : 1);
                        const std::size_t count = std::min<std::size_t>(d[6], fit);
                        if (wide) AppendUtf16(name, d + 8, count);
                        else AppendLatin1(name, d + 8, count);
                    } else {
                        name = Text8(d + 7, std::min<std::size_t>(d[6], static_cast<std::size_t>(len - 7)));
                    }
                    // Each probe may walk the rest of the stream, so a damaged file with
                    // endless BOUNDSHEET records is probed a bounded number of times.
                    if (worksheetCount_ >= 255 || ++probes > kMaxProbes) break;
                    const std::int64_t position = LoadLE<std::uint32_t>(d);
                    const int code = IsWorksheet(position);
                    if (code == 0) addSheet(std::move(name), position);
                    else if (code != kDialogOrEmpty) return Fail(kBadWorkbook);
                    break;
                }
                case kXf:
                    if (len >= 4) {
                        const std::uint16_t format = LoadLE<std::uint16_t>(d + 2);
                        xfDateFlags_.push_back(std::find(dateFormats.begin(), dateFormats.end(), format) != dateFormats.end());
                    }
                    break;
                case kFormat: {
                    if (len < 3) break;
                    std::string code;
                    if (biff8_) {
                        if (len < 5) break;
                        const bool wide = d[4] & 1;
                        const std::size_t fit = static_cast<std::size_t>(len - 5) / (wide ? 2 : 1);
                        const std::size_t count = std::min<std::size_t>(LoadLE<std::uint16_t>(d + 2), fit);
                        if (wide) AppendUtf16(code, d + 5, count);
                        else AppendLatin1(code, d + 5, count);
                    } else {
                        code = Text8(d + 3, std::min<std::size_t>(d[2], static_cast<std::size_t>(len - 3)));
                    }
                    // A date or time format names at least two of its fields.
                    const auto fields = std::count_if(code.begin(), code.end(), [](char c) {
                        return std::strchr("ymdhms", c) != nullptr && c != '\0';
                    });
                    if (fields >= 2) dateFormats.push_back(LoadLE<std::uint16_t>(d));
                    break;
                }
                case kSst:
                    if (!ReadSharedStrings()) return Fail(kBadWorkbook);
                    again = true;
                    break;
                default: break;
            }
        }
    }
    if (worksheetCount_ > 0) SetCurWorksheet({sheets_[1].name});
    return status;
}

// ---------------------------------------------------------------------------------------
// Opening and choosing sheets

int ExcelFile::OpenFile(const char* path, QmImportOpenOptions* options) {
    records_.reset();
    stream_.reset();
    if (!path) return Fail(kOpenFailed);
    if (kelto::platform::CompoundFileReader::IsCompoundFile(path)) stream_ = std::make_unique<ExcelStgStream>(path);
    else stream_ = std::make_unique<BaseStream>(path);
    if (const int st = stream_->Status()) return Fail(st == 2 ? kNoExcelStream : kOpenFailed);
    records_ = std::make_unique<Records>(*stream_);

    worksheetCount_ = 0;
    sheets_.fill(WorksheetInfo{});
    xfDateFlags_.clear();
    sst_ = SharedStringTable{};
    date1904_ = false;
    decoder_ = std::make_unique<TextDecoder>();
    readFile_.clear();

    // Until the first BOF says which version this is, a record may have the largest length.
    version_ = 0xFF;
    biff8_ = false;
    if (!ReadBiffRecord(record_) || !IsBof(record_.type)) return Fail(kNotExcel);
    version_ = static_cast<std::uint8_t>(record_.type >> 8);
    if (version_ >= 9) return Fail(kUnknownVersion);
    biff2_ = version_ == 0;
    biff8_ = record_.length >= 2 && LoadLE<std::uint16_t>(record_.Data()) == 0x0600;
    const std::uint16_t substream = record_.length >= 4 ? LoadLE<std::uint16_t>(record_.Data() + 2) : 0;

    if (substream == kSubstreamGlobals || (substream == kSubstreamWorkbook4 && version_ == 4)) {
        if (ReadWorkbookGlobals() == 0) GetSheet(options);
    } else if (substream == kSubstreamWorksheet) {
        const int code = IsWorksheet(0);
        sheets_[0].position = 0;
        sheets_[0].numCols = code == 0 ? numCols : 0;
        sheets_[0].numRows = code == 0 ? numRows : 0;
        options_.sheetIndexes.assign(1, 0);
        options_.sheetNames.clear();
        options_.allSheets = false;
        if (code) Fail(code);
        else if (options && options->size > 0 && options->data) SetOptions(options);
    } else {
        GetSheet(options);
    }
    return status;
}

std::vector<std::string> ExcelFile::GetWorksheets() const {
    std::vector<std::string> names;
    if (status) return names;
    for (int i = 1; i <= worksheetCount_; ++i) {
        const WorksheetInfo& info = sheets_[static_cast<std::size_t>(i)];
        if (info.numCols >= 1 && info.numRows >= 1) names.push_back(info.name);
    }
    return names;
}

bool ExcelFile::SetCurWorksheet(const std::vector<std::string>& names) {
    if (status) return false;
    return options_.ChooseByName(names, GetWorksheets());
}

int ExcelFile::GetSheetOptions(const std::vector<std::string>& worksheetNames) {
    if (status == 0 && !worksheetNames.empty()) options_.ChooseDefault(allowMultipleSheets_);
    return status;
}

bool ExcelFile::GetSheet(QmImportOpenOptions* options) {
    if (status) return false;
    const std::vector<std::string> worksheets = GetWorksheets();
    if (worksheets.empty()) {
        Fail(kNoSheets);
        return false;
    }
    if (!options || options->size == 0 || !options->data) {
        GetSheetOptions(worksheets);
        if (status == kSilentError) {
            records_.reset();
            stream_.reset();
            return false;
        }
        if (options && options->size == 0 && !options->data) GetOptions(options);
    } else if (!SetOptions(options)) {
        return false;
    }
    std::vector<std::string> names;
    if (worksheets.size() > 1) {
        names = options_.ResolveSheetNames(worksheets);
        if (!names.empty()) {
            ExcelFileOptions chosen = options_;
            if (chosen.ChooseByName(names, worksheets)) options_ = chosen;
        }
    } else {
        SetCurWorksheet(worksheets);
        names = worksheets;
    }
    readFile_ = JoinSheetNames(names);
    return status == 0;
}

bool ExcelFile::SetOptions(QmImportOpenOptions* options) {
    if (!options || !options_.ReadRecord(*options)) {
        Fail(kOpenFailed);
        return false;
    }
    return true;
}

void ExcelFile::GetOptions(QmImportOpenOptions* options) const {
    if (options) options_.WriteRecord(*options);
}

QmImportOpenOptions* ExcelFile::GetFileReadOptions(const char* path, bool allowMultipleSheets) {
    if (status) return nullptr;
    allowMultipleSheets_ = allowMultipleSheets;
    OpenFile(path, nullptr);
    if (status == kSilentError) options_.ClearChoice();
    if (status || worksheetCount_ == 0) return nullptr;
    auto* record = new QmImportOpenOptions{0, nullptr};
    GetOptions(record);
    return record;
}

int ExcelFile::Open(bool read, const char* path, QmImportOpenOptions* options) {
    if (status) return status;
    if (!read) return Fail(kWrongDirection);
    return OpenFile(path, options);
}

std::vector<int> ExcelFile::GetSheetIndexes(const std::vector<std::string>& names) const {
    std::vector<int> entries;
    for (const std::string& name : names) {
        if (name.empty()) {
            entries.push_back(0);
            continue;
        }
        for (int i = 1; i <= worksheetCount_; ++i) {
            if (sheets_[static_cast<std::size_t>(i)].name == name) {
                entries.push_back(i);
                break;
            }
        }
    }
    return entries;
}

std::vector<int> ExcelFile::ChosenEntries() const {
    return GetSheetIndexes(options_.ResolveSheetNames(GetWorksheets()));
}

// ---------------------------------------------------------------------------------------
// Size and layout

void ExcelFile::ComputeSize() {
    const std::vector<int> entries = ChosenEntries();
    std::int64_t cols = 0, rows = 0;
    for (int e : entries) {
        const WorksheetInfo& info = sheets_[static_cast<std::size_t>(e)];
        if (options_.readOrder == 1) {
            cols = std::max<std::int64_t>(cols, info.numCols);
            rows += info.numRows;
        } else {
            rows = std::max<std::int64_t>(rows, info.numRows);
            cols += info.numCols;
        }
    }
    if (entries.size() >= 2) (options_.readOrder == 1 ? cols : rows) += 1;
    // The same sheet chosen over and over could add up past what a table can address.
    if (cols > INT_MAX || rows > INT_MAX) {
        Fail(kSizeError);
        return;
    }
    numCols = static_cast<int>(cols);
    numRows = static_cast<int>(rows);
    sizeKnown = true;
}

int ExcelFile::GetNumCols() {
    if (status) return -1;
    ComputeSize();
    return status ? -1 : numCols;
}

int ExcelFile::GetNumRows() {
    if (status) return -1;
    ComputeSize();
    return status ? -1 : numRows;
}

int ExcelFile::EstablishSize() { return 1; }

// ---------------------------------------------------------------------------------------
// Reading

void ExcelFile::Set(ReadSpreadSheetData* data, int column, int row, int xf, double value) const {
    if (version_ == 8 && xf >= 0 && static_cast<std::size_t>(xf) < xfDateFlags_.size() &&
        xfDateFlags_[static_cast<std::size_t>(xf)]) {
        if (auto text = ExcelDateText(value, date1904_)) {
            data->Set(column, row, text->c_str());
            return;
        }
    }
    data->Set(column, row, value);
}

int ExcelFile::Read(ReadSpreadSheetData* data) {
    if (status) return status;
    if (!data) return 0;
    const std::vector<int> entries = ChosenEntries();
    if (entries.empty()) return Fail(kNoSheetSelected);
    ComputeSize();
    if (status) return status;
    const int totalCols = numCols;
    const int totalRows = numRows;
    const bool labels = entries.size() >= 2;
    const bool stacked = options_.readOrder == 1;

    // The text of a LABEL, RSTRING or STRING record whose count field is at `countAt`.
    auto recordText = [this](const BIFFRecord& r, std::size_t countAt, bool byteCount) {
        std::string text;
        const std::uint8_t* d = r.Data();
        const std::size_t len = r.length;
        const std::size_t countSize = byteCount ? 1 : 2;
        if (len < countAt + countSize) return text;
        const std::size_t count = byteCount ? d[countAt] : LoadLE<std::uint16_t>(d + countAt);
        std::size_t at = countAt + countSize;
        if (biff8_) {
            if (len < at + 1) return text;
            const bool wide = d[at] & 1;
            ++at;
            const std::size_t n = std::min(count, (len - at) / (wide ? 2 : 1));
            if (wide) AppendUtf16(text, d + at, n);
            else AppendLatin1(text, d + at, n);
        } else {
            decoder_->Append(text, d + at, std::min(count, len - at));
        }
        return text;
    };

    int result = 0;
    std::int64_t rowOffset = 0, colOffset = 0;
    for (int entry : entries) {
        const WorksheetInfo& info = sheets_[static_cast<std::size_t>(entry)];
        const int sheetRows = info.numRows, sheetCols = info.numCols;
        auto inside = [&](int row, int col) { return row < sheetRows && col < sheetCols; };
        auto at = [&](int col) { return static_cast<int>(colOffset + col + 1); };
        auto rowAt = [&](int row) { return static_cast<int>(rowOffset + row + 1); };
        auto text = [&](int row, int col, const std::string& t) {
            if (inside(row, col)) data->Set(at(col), rowAt(row), t.c_str());
        };
        auto number = [&](int row, int col, int xf, double v) {
            if (inside(row, col)) Set(data, at(col), rowAt(row), xf, v);
        };
        auto plain = [&](int row, int col, double v) {
            if (inside(row, col)) data->Set(at(col), rowAt(row), v);
        };
        auto boolErr = [&](int row, int col, std::uint8_t value, bool isError) {
            if (inside(row, col)) data->Set(at(col), rowAt(row), isError ? ExcelErrorText(value) : ExcelBooleanText(value != 0));
        };

        const bool ok = WalkSheet(info.position, [&](const BIFFRecord& r) {
            const std::uint8_t* d = r.Data();
            const int len = r.length;
            if (len < 4) return Step::Next;
            const int row = LoadLE<std::uint16_t>(d);
            const int col = LoadLE<std::uint16_t>(d + 2);
            switch (r.type) {
                case kRk:
                    if (len >= 10) number(row, col, LoadLE<std::uint16_t>(d + 4), ExcelRkValue(LoadLE<std::uint32_t>(d + 6)));
                    break;
                case kNumber:
                    if (len >= 14) number(row, col, LoadLE<std::uint16_t>(d + 4), LoadLE<double>(d + 6));
                    break;
                case kMulRk: {
                    const int pairs = (len - 6) / 6;
                    for (int i = 0; i < pairs; ++i)
                        number(row, col + i, LoadLE<std::uint16_t>(d + 4 + 6 * i), ExcelRkValue(LoadLE<std::uint32_t>(d + 6 + 6 * i)));
                    break;
                }
                case kLabelSst:
                    if (len >= 10) {
                        const std::uint32_t index = LoadLE<std::uint32_t>(d + 6);
                        static const std::string kEmpty;
                        const bool known = index < sst_.strings.size() && index < static_cast<std::uint32_t>(sst_.declaredCount);
                        text(row, col, known ? sst_.strings[index] : kEmpty);
                    }
                    break;
                case kLabel:
                case kRString: text(row, col, recordText(r, 6, false)); break;
                case kBoolErr:
                    if (len >= 8) boolErr(row, col, d[6], d[7] != 0);
                    break;
                case kInteger2:
                    if (biff2_ && len >= 9) plain(row, col, LoadLE<std::uint16_t>(d + 7));
                    break;
                case kNumber2:
                    if (biff2_ && len >= 15) plain(row, col, LoadLE<double>(d + 7));
                    break;
                case kLabel2:
                    if (biff2_) text(row, col, recordText(r, 7, true));
                    break;
                case kBoolErr2:
                    if (biff2_ && len >= 9) boolErr(row, col, d[7], d[8] != 0);
                    break;
                case kFormula2:
                case kFormula3:
                case kFormula4: {
                    const std::size_t result = biff2_ ? 7 : 6;
                    if (static_cast<std::size_t>(len) < result + 8) break;
                    const int xf = biff2_ ? -1 : LoadLE<std::uint16_t>(d + 4);
                    if (LoadLE<std::uint16_t>(d + result + 6) != 0xFFFF) {
                        number(row, col, xf, LoadLE<double>(d + result));
                        break;
                    }
                    switch (d[result]) {
                        case 0: {
                            // A text result: in the STRING record that follows (after the
                            // shared or array formula that may stand between).
                            for (;;) {
                                if (!ReadBiffRecord(record_)) return Step::Failed;
                                const std::uint16_t next = record_.type;
                                if (next == kShrFmla || next == kArray || next == kTableOp) continue;
                                if ((next & 0xFF) != 0x07) return Step::Again;  // no STRING: a cell of its own
                                text(row, col, recordText(record_, 0, biff2_));
                                return Step::Next;
                            }
                        }
                        case 1: boolErr(row, col, d[result + 2], false); break;
                        case 2: boolErr(row, col, d[result + 2], true); break;
                        default: break;  // an empty text
                    }
                    break;
                }
                default: break;
            }
            return Step::Next;
        });
        result = ok ? 0 : kBadWorksheet;

        if (labels) {
            const std::string label = ExcelSheetLabel(info.name);
            if (stacked) {
                for (int r = 1; r <= sheetRows; ++r) data->Set(totalCols, static_cast<int>(rowOffset + r), label.c_str());
            } else {
                for (int c = 1; c <= sheetCols; ++c) data->Set(static_cast<int>(colOffset + c), totalRows, label.c_str());
            }
        }
        if (stacked) rowOffset += sheetRows;
        else colOffset += sheetCols;
    }
    return result;
}

const char* ExcelFile::GetReadFile() const {
    readFileReturned_ = ReadFileName(readFile_);
    return readFileReturned_.c_str();
}

void ExcelFile::GetErrorMessage(char* buffer, unsigned int size) {
    const std::string app = kelto::platform::HostApplicationName();
    std::string text;
    switch (status) {
        case kOpenFailed: text = kelto::Translate("Unable to open Excel file."); break;
        case kBadWorkbook:
            text = kelto::Translate(
                "An error occurred when reading the Workbook section in the Excel file. An invalid BIFF-record was found.");
            break;
        case kBadWorksheet:
            text = kelto::Translate(
                "An error occurred when reading a Worksheet in the Excel file. An invalid BIFF-record was found.");
            break;
        case kNotExcel: text = kelto::Translate("This file does not appear to be a valid Excel file."); break;
        case kDialogOrEmpty: text = kelto::Translate("The specified Worksheet is either a dialog / form or has no data."); break;
        case kProtected:
            text = kelto::TranslateFormat("%1% cannot read (password-) protected Excel workbooks. You will need to remove "
                                          "the password protection to be able to read the file into %1%.",
                                          app);
            break;
        case kNoExcelStream: text = kelto::Translate("No Excel stream was found in the file."); break;
        case kNoSheets: text = kelto::Translate("The excel file does not contain any sheets."); break;
        case kUnknownVersion:
            text = kelto::TranslateFormat(
                "%1% can not read this version of Excel files. Only Excel files based on the BIFF2 to BIFF8 formats can be "
                "read. This includes files generated by Excel version 2, 3, 4, 5, 95, 97, 2000 & XP.",
                app);
            break;
        case kNoSheetSelected: text = kelto::Translate("No sheet is selected from file."); break;
        default: SpreadsheetFile::GetErrorMessage(buffer, size); return;
    }
    CopyMessage(text.c_str(), buffer, size);
}

ExcelFileFactory::ExcelFileFactory()
    : SprFileFactory("Excel File", "Excel 97-2003 Workbook (*.xl*)", nullptr, 2, ".xls\0.xlw", 0, 1, 0, 1, 1, 1) {}

SprFileFactory::MyKindOfFile ExcelFileFactory::IsMyKindOfFile(const char*) { return PossiblyMyKind; }

SpreadsheetFile* ExcelFileFactory::GetSpreadsheetFile() { return new ExcelFile; }
