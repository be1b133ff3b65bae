#include "formats/spectral/NetCDFFile.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <fmt/format.h>
#include <netcdf.h>

#include "formats/spectral/RelativeCompare.h"
#include "outside/utl/Exception.h"
#include "outside/utl/QmFile.h"
#include "outside/utl/QmSystemInfo.h"
#include "platform/Translate.h"

namespace {

// The one lock of the library: netCDF itself is not thread-safe. Recursive because a reader
// may look at another file's template while it holds one open.
std::recursive_mutex& LibraryMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

// With the library's default error mode the first failing version-2 call prints and exits
// the process; this must be set before any call.
void QuietLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { ncopts = 0; });
}

bool EqualNoCase(const std::string& a, const char* b) {
    const std::size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string LastElement(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Texts are kept whole; a character attribute may carry trailing NULs.
std::string TrimNul(std::string text) {
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

// The classic header, walked before the library sees it: every count and length it declares
// (dimensions, attributes, variables, names, attribute values, a variable's dimension ids) must
// fit in the bytes that follow. The library allocates from these counts before it reads, so a
// few bytes claiming a two-gigabyte name would otherwise cost that much memory.
// [netCDF classic format: header = magic numrecs dim_list gatt_list var_list; lists are a tag
// and a count, or eight zero bytes; names and values are padded to four bytes; big-endian.]
class ClassicHeader {
public:
    ClassicHeader(const char* path, std::uint64_t size) : in_(path, std::ios::binary), size_(size) {}

    bool Fits() {
        std::uint32_t magic = 0, count = 0;
        if (!Word(magic) || !Word(count)) return false;
        const bool offsets64 = (magic & 0xFF) == 2;
        if (!List(0x0A, [this] { return Name() && Skip(4); })) return false;   // dimensions
        if (!List(0x0C, [this] { return Attribute(); })) return false;         // global attributes
        return List(0x0B, [this, offsets64] {                                   // variables
            std::uint32_t dims = 0;
            if (!Name() || !Word(dims) || !Fit(std::uint64_t{dims} * 4) || !Skip(std::uint64_t{dims} * 4)) return false;
            if (!List(0x0C, [this] { return Attribute(); })) return false;
            return Skip(4 + 4 + (offsets64 ? 8 : 4));                          // type, vsize, begin
        });
    }

private:
    bool Fit(std::uint64_t bytes) const { return bytes <= size_ - std::min(at_, size_); }
    bool Skip(std::uint64_t bytes) {
        if (!Fit(bytes)) return false;
        at_ += bytes;
        in_.seekg(static_cast<std::streamoff>(at_));
        return static_cast<bool>(in_);
    }
    bool Word(std::uint32_t& value) {
        unsigned char b[4];
        if (!Fit(4) || !in_.read(reinterpret_cast<char*>(b), 4)) return false;
        at_ += 4;
        value = (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
        return true;
    }
    static std::uint64_t Padded(std::uint64_t bytes) { return (bytes + 3) / 4 * 4; }
    bool Name() {
        std::uint32_t length = 0;
        return Word(length) && Skip(Padded(length));
    }
    bool Attribute() {
        static const unsigned kSizes[] = {0, 1, 1, 2, 4, 4, 8};  // by type: byte, char, short, int, float, double
        std::uint32_t type = 0, count = 0;
        if (!Name() || !Word(type) || !Word(count) || type < 1 || type > 6) return false;
        return Skip(Padded(std::uint64_t{count} * kSizes[type]));
    }
    // A list: eight zero bytes, or the tag and a count of items, each read by `item`.
    template <typename Item>
    bool List(std::uint32_t tag, Item item) {
        std::uint32_t found = 0, count = 0;
        if (!Word(found) || !Word(count)) return false;
        if (found == 0) return count == 0;
        if (found != tag) return false;
        // Every item takes at least eight bytes.
        if (!Fit(std::uint64_t{count} * 8)) return false;
        for (std::uint32_t i = 0; i < count; ++i)
            if (!item()) return false;
        return true;
    }

    std::ifstream in_;
    std::uint64_t size_;
    std::uint64_t at_ = 0;
};

NetCDFFileFactory g_netCDFFileFactory;

}  // namespace

// ---------------------------------------------------------------- NetCDF

bool NetCDF::HasClassicMagic(const char* path) {
    if (!path) return false;
    std::ifstream in(path, std::ios::binary);
    char magic[4] = {};
    if (!in.read(magic, 4)) return false;
    return magic[0] == 'C' && magic[1] == 'D' && magic[2] == 'F' && (magic[3] == 1 || magic[3] == 2);
}

NetCDF::NetCDF(const char* path, int mode) : lock_(LibraryMutex()) {
    QuietLibrary();
    if (mode != 1 || !path) return;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec) || !HasClassicMagic(path)) return;
    size_ = static_cast<long long>(std::filesystem::file_size(path, ec));
    if (ec || !ClassicHeader(path, static_cast<std::uint64_t>(size_)).Fits()) return;
    int id = ncopen(path, NC_NOWRITE);
    id_ = id >= 0 ? id : -1;
}

NetCDF::~NetCDF() {
    if (id_ >= 0) ncclose(id_);
}

int NetCDF::DimId(const char* name) const { return id_ < 0 ? -1 : ncdimid(id_, name); }

long NetCDF::DimLength(const char* name) const {
    const int dim = DimId(name);
    if (dim < 0) return -1;
    std::size_t length = 0;
    if (nc_inq_dimlen(id_, dim, &length) != NC_NOERR) return -1;
    return static_cast<long>(std::min<std::size_t>(length, 0x7fffffff));
}

int NetCDF::VarId(const char* name) const { return id_ < 0 ? -1 : ncvarid(id_, name); }

bool NetCDF::Attribute(int varid, const char* name, std::string& text) const {
    text.clear();
    if (id_ < 0) return false;
    nc_type type{};
    int length = 0;
    if (ncattinq(id_, varid, name, &type, &length) < 0 || length < 0) return false;
    if (type != NC_CHAR) {
        // A numeric attribute is given as the text of its first value.
        if (length < 1) return true;
        std::vector<double> values(static_cast<std::size_t>(length));
        if (nc_get_att_double(id_, varid, name, values.data()) != NC_NOERR) return true;
        text = fmt::format("{}", values[0]);
        return true;
    }
    text.assign(static_cast<std::size_t>(length), '\0');
    if (length > 0 && ncattget(id_, varid, name, text.data()) < 0) text.clear();
    text = TrimNul(std::move(text));
    return true;
}

bool NetCDF::HasGlobal(const char* name) const {
    nc_type type{};
    int length = 0;
    return id_ >= 0 && ncattinq(id_, NC_GLOBAL, name, &type, &length) >= 0;
}

bool NetCDF::Scalar(const char* name, double& value) const {
    const int var = VarId(name);
    if (var < 0) return false;
    int dims = 0;
    if (nc_inq_varndims(id_, var, &dims) != NC_NOERR) return false;
    std::size_t index[NC_MAX_VAR_DIMS] = {};
    if (dims > NC_MAX_VAR_DIMS) return false;
    for (int d = 0; d < dims; ++d) {
        int dimids[NC_MAX_VAR_DIMS];
        std::size_t len = 0;
        if (nc_inq_vardimid(id_, var, dimids) != NC_NOERR || nc_inq_dimlen(id_, dimids[d], &len) != NC_NOERR ||
            len == 0)
            return false;
    }
    return nc_get_var1_double(id_, var, index, &value) == NC_NOERR;
}

// ---------------------------------------------------------------- NetCDFFile

NetCDFFile::NetCDFFile() = default;
NetCDFFile::~NetCDFFile() = default;

bool NetCDFFile::IsNetCDFFile(const char* path) { return NetCDF(path, 1).IsOpen(); }

NetCDFFile::ENetCDFTemplate NetCDFFile::GetFileTemplate(const char* path) {
    NetCDF nc(path, 1);
    if (!nc.IsOpen()) return kNotNetCDF;
    if (nc.HasGlobal("mva_template_revision")) return kMva;
    if (nc.HasGlobal("aia_template_revision")) return kAia;
    if (nc.HasGlobal("ms_template_revision")) return kMs;
    return kUnrecognised;
}

SpreadsheetFile* NetCDFFile::GetAndiFileReader() { return new AndiFileReader; }

int NetCDFFile::Open(bool read, const char* path, QmImportOpenOptions* options) {
    if (!read) return Fail(kWrongDirection);
    paths_.clear();
    reader_.reset();
    if (!path || !QmFile::GetFileNames(path, paths_) || paths_.empty()) return Fail(kNotValidNetCDF);
    template_ = GetFileTemplate(paths_.front().c_str());
    switch (template_) {
        case kNotNetCDF: return Fail(kNotValidNetCDF);
        case kMva: reader_.reset(new MvaCDFFileReader(path)); break;
        case kAia:
            reader_.reset(GetAndiFileReader());
            reader_->Open(true, path, options);
            break;
        default: return Fail(kTemplateNotRecognised);
    }
    return Fail(!*reader_);
}

int NetCDFFile::EstablishSize() { return reader_ ? 0 : kTemplateNotRecognised; }

int NetCDFFile::GetNumCols() { return reader_ ? reader_->GetNumCols() : -1; }
int NetCDFFile::GetNumRows() { return reader_ ? reader_->GetNumRows() : -1; }

int NetCDFFile::Read(ReadSpreadSheetData* data) {
    if (status) return status;
    if (!reader_) return Fail(ReadGeneralNetCDFFile(data));
    return Fail(reader_->Read(data));
}

void NetCDFFile::Close() {
    reader_.reset();
    paths_.clear();
    SpreadsheetFile::Close();
}

void NetCDFFile::GetErrorMessage(char* buffer, unsigned int size) {
    if (reader_) {
        reader_->GetErrorMessage(buffer, size);
        return;
    }
    const std::string app = QmSystemInfo::GetApplicationName();
    switch (status) {
        case kTemplateNotRecognised:
            if (template_ == kMs)
                CopyMessage(kelto::TranslateFormat("This NetCDF file contains the raw data from one GcMS run. Such "
                                                   "files cannot be imported by %1%. Please see Q576 in the knowledge "
                                                   "base for further information.",
                                                   app)
                                .c_str(),
                            buffer, size);
            else
                CopyMessage(
                    kelto::TranslateFormat("The NetCDF template used to create this file is not recognized by %1%.", app)
                        .c_str(),
                    buffer, size);
            return;
        case kNotValidNetCDF:
            CopyMessage(kelto::Translate("The file does not seem to be a valid NetCDF file.").c_str(), buffer, size);
            return;
        case kWrongDirection:
        case kBadOptions:
        case 0: SpreadsheetFile::GetErrorMessage(buffer, size); return;
        default: CopyMessage(kelto::Translate("No further information is available.").c_str(), buffer, size);
    }
}

// ---------------------------------------------------------------- MvaCDFFileReader

MvaCDFFileReader::MvaCDFFileReader(const char* path) {
    if (!path || !QmFile::GetFileNames(path, paths_) || paths_.empty()) {
        Fail(kNotMvaCDF);
        return;
    }
    long observations = 0;
    bool first = true;
    for (const std::string& p : paths_) {
        NetCDF nc(p.c_str(), 1);
        if (!nc.IsOpen() || !nc.HasGlobal("mva_template_revision")) {
            Fail(kNotMvaCDF);
            return;
        }
        Info info;
        if (int code = FileInformation(nc, info)) {
            Fail(code);
            return;
        }
        if (first) {
            variables_ = info.variables;
            missing_ = info.missing;
            nanMissing_ = info.nanMissing;
            first = false;
        } else if (info.variables != variables_) {
            Fail(kVariablesDiffer);
            return;
        }
        observations += info.observations;
        if (observations > 0x7ffffff0L) observations = 0x7ffffff0L;
    }
    if (variables_ > 0x7ffffff0L) variables_ = 0x7ffffff0L;
    numCols = static_cast<int>(variables_ + 2);
    numRows = static_cast<int>(1 + observations);
    sizeKnown = true;
}

int MvaCDFFileReader::Open(bool read, const char*, QmImportOpenOptions*) {
    if (!read) return Fail(kWrongDirection);
    return status;
}

int MvaCDFFileReader::EstablishSize() { return status ? status : 0; }

int MvaCDFFileReader::FileInformation(const NetCDF& nc, Info& info) const {
    std::string text;
    if (nc.Attribute(NC_GLOBAL, "raw_data_mva_format", text)) {
        if (EqualNoCase(text, "float")) info.type = NC_FLOAT;
        else if (EqualNoCase(text, "double")) info.type = NC_DOUBLE;
        else if (EqualNoCase(text, "byte")) info.type = NC_BYTE;
        else if (EqualNoCase(text, "short")) info.type = NC_SHORT;
        else if (EqualNoCase(text, "long")) info.type = NC_INT;
        else return kSizeUnknown;
    }
    if (nc.Attribute(NC_GLOBAL, "missing_value", text)) {
        if (EqualNoCase(text, "nan")) info.nanMissing = true;
        else info.missing = std::strtod(text.c_str(), nullptr);
    }
    info.variables = nc.DimLength("number_data_points");
    if (info.variables < 0) info.variables = nc.DimLength("number_spectral_data_points");
    if (info.variables < 0) return kSizeUnknown;
    info.observations = nc.DimLength("sequence_no");
    if (info.observations < 0) return kSizeUnknown;
    const long rows = nc.DimLength("number_rows_per_data_point");
    if (rows > 1) return kMatrices;
    // Every value takes at least one byte of the file.
    if (info.variables > nc.Size() || (info.variables > 0 && info.observations > nc.Size() / info.variables))
        return kSizeUnknown;
    info.dataVar = nc.VarId("observation");
    if (info.dataVar < 0) info.dataVar = nc.VarId("spectral_data_values");
    if (info.dataVar < 0) return kNoObservations;
    info.nameLength = nc.DimLength("string_len");
    if (info.nameLength < 0) info.nameLength = nc.DimLength("_32_byte_string");
    if (info.nameLength < 0) return kSizeUnknown;
    return 0;
}

bool MvaCDFFileReader::IsMissing(double value) const {
    if (nanMissing_) return std::isnan(value);
    return kelto::spectral::RelativelyEqual(value, missing_) && !std::isnan(value);
}

void MvaCDFFileReader::HeaderRow(ReadSpreadSheetData* data) {
    data->Set(1, 1, kelto::Translate("Name").c_str());
    data->Set(2, 1, kelto::Translate("Decimal Time").c_str());
    NetCDF nc(paths_.front().c_str(), 1);
    Info info;
    const long n = variables_;
    std::vector<std::string> names(static_cast<std::size_t>(n));
    bool named = false;
    if (nc.IsOpen() && FileInformation(nc, info) == 0) {
        const int headers = nc.VarId("column_headers");
        const long len = info.nameLength;
        if (headers >= 0 && len > 0) {
            // One name of `len` characters per variable; read one at a time so a variable of
            // another shape fails cleanly instead of overrunning the buffer.
            int dims = 0;
            nc_type type{};
            if (nc_inq_vartype(nc.Id(), headers, &type) == NC_NOERR && type == NC_CHAR &&
                nc_inq_varndims(nc.Id(), headers, &dims) == NC_NOERR && dims == 2) {
                std::string buffer(static_cast<std::size_t>(len), '\0');
                named = true;
                for (long v = 0; v < n; ++v) {
                    std::size_t start[2] = {static_cast<std::size_t>(v), 0};
                    std::size_t count[2] = {1, static_cast<std::size_t>(len)};
                    if (nc_get_vara_text(nc.Id(), headers, start, count, buffer.data()) != NC_NOERR) {
                        named = false;
                        break;
                    }
                    names[v] = std::string(buffer.c_str());
                }
            }
        }
        const char* descr[] = {"vardescr_startcol", "vardescr_endcol", "vardescr_startval", "vardescr_endval"};
        const long count = nc.DimLength("number_variable_descriptions");
        int ids[4];
        bool all = !named && count > 0;
        for (int i = 0; i < 4 && all; ++i) all = (ids[i] = nc.VarId(descr[i])) >= 0;
        if (all) {
            for (long d = 0; d < count; ++d) {
                std::size_t at[1] = {static_cast<std::size_t>(d)};
                int startCol = 0, endCol = 0;
                double startVal = 0, endVal = 0;
                if (nc_get_var1_int(nc.Id(), ids[0], at, &startCol) != NC_NOERR ||
                    nc_get_var1_int(nc.Id(), ids[1], at, &endCol) != NC_NOERR ||
                    nc_get_var1_double(nc.Id(), ids[2], at, &startVal) != NC_NOERR ||
                    nc_get_var1_double(nc.Id(), ids[3], at, &endVal) != NC_NOERR)
                    break;
                if (startCol < 1 || startCol > endCol || endCol > n) continue;
                const double step = endCol == startCol ? 0.0 : (endVal - startVal) / (endCol - startCol);
                for (int k = startCol; k <= endCol; ++k)
                    names[k - 1] = fmt::format("{:.0f}", startVal + (k - startCol) * step);
                named = true;
            }
        }
    }
    for (long v = 0; v < n; ++v) {
        const std::string& name = named ? names[v] : fmt::format("Var_{}", v + 1);
        data->Set(static_cast<int>(v + 3), 1, name.c_str());
    }
}

int MvaCDFFileReader::DataRows(ReadSpreadSheetData* data, int wanted) {
    int row = 1;
    std::vector<double> values(static_cast<std::size_t>(variables_));
    for (const std::string& p : paths_) {
        NetCDF nc(p.c_str(), 1);
        Info info;
        if (!nc.IsOpen() || FileInformation(nc, info) != 0) return kNotMvaCDF;
        const int names = nc.VarId("name_of_measurement");
        const int times = nc.VarId("dectime_of_measurement");
        std::string name(static_cast<std::size_t>(std::max(info.nameLength, 0L)), '\0');
        for (long o = 0; o < info.observations; ++o) {
            ++row;
            if (wanted < 0 || wanted > numRows) return 0;
            if (row != wanted) continue;
            // The data variable must be [observations][variables] of a numeric type.
            std::size_t start[2] = {static_cast<std::size_t>(o), 0};
            std::size_t count[2] = {1, static_cast<std::size_t>(variables_)};
            int rc = NC_NOERR;
            switch (info.type) {
                case NC_BYTE: {
                    std::vector<signed char> v(values.size());
                    rc = nc_get_vara_schar(nc.Id(), info.dataVar, start, count, v.data());
                    std::copy(v.begin(), v.end(), values.begin());
                    break;
                }
                case NC_SHORT: {
                    std::vector<short> v(values.size());
                    rc = nc_get_vara_short(nc.Id(), info.dataVar, start, count, v.data());
                    std::copy(v.begin(), v.end(), values.begin());
                    break;
                }
                case NC_INT: {
                    std::vector<int> v(values.size());
                    rc = nc_get_vara_int(nc.Id(), info.dataVar, start, count, v.data());
                    std::copy(v.begin(), v.end(), values.begin());
                    break;
                }
                case NC_FLOAT: {
                    std::vector<float> v(values.size());
                    rc = nc_get_vara_float(nc.Id(), info.dataVar, start, count, v.data());
                    std::copy(v.begin(), v.end(), values.begin());
                    break;
                }
                default: rc = nc_get_vara_double(nc.Id(), info.dataVar, start, count, values.data());
            }
            if (rc != NC_NOERR) break;  // a failing observation ends this file's rows
            if (names >= 0 && info.nameLength > 0) {
                std::size_t s[2] = {static_cast<std::size_t>(o), 0};
                std::size_t c[2] = {1, static_cast<std::size_t>(info.nameLength)};
                if (nc_get_vara_text(nc.Id(), names, s, c, name.data()) == NC_NOERR)
                    data->Set(1, row, std::string(name.c_str()).c_str());
                else
                    data->Set(1, row, fmt::format("Obs_{}", o + 1).c_str());
            } else {
                data->Set(1, row, fmt::format("Obs_{}", o + 1).c_str());
            }
            double when = 0;
            std::size_t at[1] = {static_cast<std::size_t>(o)};
            if (times >= 0 && nc_get_var1_double(nc.Id(), times, at, &when) == NC_NOERR)
                data->Set(2, row, fmt::format("{:.7g}", when).c_str());
            else
                data->Set(2, row, "N/A");
            for (long v = 0; v < variables_; ++v) {
                if (IsMissing(values[v])) data->Set(static_cast<int>(v + 3), row, "");
                else if (info.type == NC_FLOAT) data->Set(static_cast<int>(v + 3), row, static_cast<float>(values[v]));
                else if (info.type != NC_DOUBLE)
                    data->Set(static_cast<int>(v + 3), row, static_cast<std::int64_t>(values[v]));
                else data->Set(static_cast<int>(v + 3), row, values[v]);
            }
            wanted = data->GetNextRow(row);
        }
    }
    return 0;
}

int MvaCDFFileReader::Read(ReadSpreadSheetData* data) {
    if (status) return status;
    if (!data) return 0;
    int wanted = data->GetNextRow(0);
    if (wanted == 1) {
        HeaderRow(data);
        wanted = data->GetNextRow(1);
    }
    return Fail(DataRows(data, wanted));
}

void MvaCDFFileReader::GetErrorMessage(char* buffer, unsigned int size) {
    const bool several = paths_.size() > 1;
    const std::string app = QmSystemInfo::GetApplicationName();
    std::string text;
    switch (status) {
        case kNotMvaCDF:
            text = kelto::Translate(several ? "One or more files seem not to be a valid MVACDF files."
                                            : "The file does not seem to be a valid MVACDF file.");
            break;
        case kSizeUnknown:
            text = kelto::Translate("The size of the observation data could not be established. Necessary variables "
                                    "IDs could not be found in the file.");
            break;
        case kMatrices:
            text = kelto::TranslateFormat(several ? "The observation data is stored as matrices in one or more of the "
                                                    "selected files. %1% can currently not import MVACDF file matrices."
                                                  : "The observation data is stored as matrices in the file. %1% can "
                                                    "currently not import MVACDF file matrices.",
                                          app);
            break;
        case kNoObservations: text = kelto::Translate("Observation data could not be found in the file."); break;
        case kVariablesDiffer: text = kelto::Translate("The files contain different number of variables."); break;
        default: SpreadsheetFile::GetErrorMessage(buffer, size); return;
    }
    CopyMessage(text.c_str(), buffer, size);
}

// ---------------------------------------------------------------- AndiFileReader

AndiFileReader::AndiFileReader() = default;
AndiFileReader::~AndiFileReader() = default;

int AndiFileReader::Open(bool read, const char* path, QmImportOpenOptions* options) {
    if (!read) return Fail(kWrongDirection);
    std::vector<std::string> paths;
    if (!path || !QmFile::GetFileNames(path, paths)) return Fail(kOpenFailed);
    multiFile_ = paths.size() > 1;
    files_.clear();
    for (const std::string& p : paths)
        if (int code = ExtractNecessaryFileInformation(p.c_str())) return Fail(code);
    return SetOptions(options);
}

int AndiFileReader::ExtractNecessaryFileInformation(const char* path) {
    NetCDF nc(path, 1);
    if (!nc.IsOpen()) return kNotAndi;
    for (const char* name : {"netcdf_revision", "aia_template_revision", "dataset_completeness", "sample_name"})
        if (!nc.HasGlobal(name)) return kNotAndi;
    Record r;
    r.path = path;
    r.fileName = LastElement(path);
    if (!nc.Scalar("actual_run_time_length", r.runTime) || !nc.Scalar("actual_sampling_interval", r.interval) ||
        !nc.Scalar("actual_delay_time", r.delay))
        return kAttributes;
    const int ordinate = nc.VarId("ordinate_values");
    if (ordinate < 0) return kAttributes;
    std::string flag;
    if (!nc.Attribute(ordinate, "uniform_sampling_flag", flag) || !EqualNoCase(flag, "Y")) return kNonUniform;
    r.points = std::max(nc.DimLength("point_number"), 0L);
    if (r.points > nc.Size()) return kAttributes;  // more points than the file has bytes
    if (!nc.Attribute(NC_GLOBAL, "retention_unit", r.unit)) r.unit = "seconds";
    nc.Attribute(NC_GLOBAL, "sample_name", r.sampleName);
    files_.push_back(std::move(r));
    return 0;
}

const AndiFileReader::Record* AndiFileReader::FirstSelected() const {
    for (const Record& r : files_)
        if (r.selected) return &r;
    return nullptr;
}

int AndiFileReader::SelectedCount() const {
    return static_cast<int>(std::count_if(files_.begin(), files_.end(), [](const Record& r) { return r.selected; }));
}

long AndiFileReader::MaxSelectedPoints() const {
    long most = 0;
    for (const Record& r : files_)
        if (r.selected) most = std::max(most, r.points);
    return most;
}

bool AndiFileReader::IsMultiSelection() const { return SelectedCount() > 1; }

int AndiFileReader::CheckFiles() {
    const Record* first = FirstSelected();
    if (!first) return Fail(kNoFiles);
    points_ = first->points;
    interval_ = first->interval;
    delay_ = first->delay;
    endTime_ = first->delay + first->runTime;
    unit_ = first->unit;
    for (const Record& r : files_) {
        if (!r.selected) continue;
        if (!kelto::spectral::RelativelyEqual(r.interval, interval_)) return Fail(kIntervalDiffers);
        if (!kelto::spectral::RelativelyEqual(r.delay, delay_)) return Fail(kDelayDiffers);
        if (!EqualNoCase(r.unit, unit_.c_str())) return Fail(kUnitDiffers);
        points_ = std::max(points_, r.points);
        endTime_ = std::max(endTime_, r.delay + r.runTime);
    }
    return 0;
}

int AndiFileReader::SelectFilesToImport(int* indices, int count) {
    for (Record& r : files_) r.selected = false;
    for (int i = 0; indices && i < count; ++i)
        if (indices[i] >= 0 && static_cast<std::size_t>(indices[i]) < files_.size()) files_[indices[i]].selected = true;
    return status ? -1 : 0;
}

long AndiFileReader::GetDefaults(float* first, float* last, long count) {
    const Record* r = FirstSelected();
    if (!r) return 0;
    NetCDF nc(r->path.c_str(), 1);
    const long peaks = std::min<long>(std::max(nc.DimLength("peak_number"), 0L), nc.Size());
    if (count == -1) return peaks;
    const int starts = nc.VarId("peak_start_time"), ends = nc.VarId("peak_end_time");
    if (starts < 0 || ends < 0 || !first || !last) return 0;
    long filled = 0;
    for (long i = 0; i < std::min(peaks, count); ++i) {
        std::size_t at[1] = {static_cast<std::size_t>(i)};
        float s = 0, e = 0;
        if (nc_get_var1_float(nc.Id(), starts, at, &s) != NC_NOERR || nc_get_var1_float(nc.Id(), ends, at, &e) != NC_NOERR)
            break;
        first[i] = s;
        last[i] = e;
        ++filled;
    }
    return filled;
}

int AndiFileReader::GetDefaults(float* starts, float* ends, int count) {
    return static_cast<int>(GetDefaults(starts, ends, static_cast<long>(count)));
}

void AndiFileReader::GetDefaultUSDConstraints(USDConstraints& c) {
    c = USDConstraints{};
    c.IncludeOrdinalValues = true;
    c.IncludeAllValues = true;
    c.UseAverage = 0;
    const long peaks = GetDefaults(nullptr, nullptr, -1L);
    if (peaks > 0 && peaks < (1L << 24)) {
        c.IncludeXStartPt.resize(static_cast<std::size_t>(peaks));
        c.IncludeXEndPt.resize(static_cast<std::size_t>(peaks));
        const long filled = GetDefaults(c.IncludeXStartPt.data(), c.IncludeXEndPt.data(), peaks);
        c.IncludeXStartPt.resize(static_cast<std::size_t>(filled));
        c.IncludeXEndPt.resize(static_cast<std::size_t>(filled));
        c.NumberOfIncludedIntervals = static_cast<std::int32_t>(filled);
    }
    if (c.NumberOfIncludedIntervals == 0) {
        c.IncludeXStartPt = {static_cast<float>(delay_)};
        c.IncludeXEndPt = {static_cast<float>(endTime_)};
        c.NumberOfIncludedIntervals = 1;
    }
}

int AndiFileReader::GetUSDConstraints(USDConstraints* out) {
    if (out) GetDefaultUSDConstraints(*out);
    return status;
}

int AndiFileReader::SetOptions(QmImportOpenOptions* options) {
    if (int code = CheckFiles()) return code;
    USDConstraints constraints;
    if (options && options->size > 0 && options->data) {
        try {
            const std::string text = USDBase::TextFromOptionsBytes(options->data, static_cast<std::size_t>(options->size));
            if (!USDBase::GetUSDConstraintsFromString(text, constraints)) return Fail(kBadOptions);
        } catch (const CancelException&) {
            throw;
        } catch (const std::exception&) {
            return Fail(kBadOptions);
        }
    } else {
        GetUSDConstraints(&constraints);
        if (options) {
            const std::string bytes = USDBase::ToOptionsBytes(constraints);
            optionsBuffer_ = std::make_unique<char[]>(bytes.size());
            std::memcpy(optionsBuffer_.get(), bytes.data(), bytes.size());
            options->size = static_cast<int>(bytes.size());
            options->data = optionsBuffer_.get();
        }
    }
    SetUSDConstraints(&constraints);
    return status;
}

int AndiFileReader::EstablishSize() {
    if (status) return status;
    if (SelectedCount() == 0) return kNoFiles;
    const long points = std::min(MaxSelectedPoints(), 0x7ffffff0L);
    numCols = GetNumCol(static_cast<int>(points), delay_, interval_) + 2;
    numRows = 1 + (IncludeXAsAnObservation() ? 1 : 0) + SelectedCount();
    sizeKnown = true;
    return 0;
}

int AndiFileReader::GetNumCols() {
    if (status || SelectedCount() == 0) return -1;
    return SpreadsheetFile::GetNumCols();
}

int AndiFileReader::GetNumRows() {
    if (status || SelectedCount() == 0) return -1;
    return SpreadsheetFile::GetNumRows();
}

int AndiFileReader::Read(ReadSpreadSheetData* data) {
    if (status) return status;
    if (!data) return 0;
    if (!sizeKnown && EstablishSize() != 0) return status;
    const long points = std::min(points_, 0x7ffffff0L);
    const bool ordinal = IncludeXAsAnObservation();
    // The used axis points, once: every row delivers the same columns.
    std::vector<long> used;
    std::vector<float> xs;
    Reset();
    for (long k = 0; k < points; ++k) {
        float x = static_cast<float>(k * interval_ + delay_);
        if (IsValid(x)) {
            used.push_back(k);
            xs.push_back(x);
        }
    }
    int wanted = data->GetNextRow(0);
    if (wanted == 1) {
        data->Set(1, 1, kelto::Translate("Primary ID").c_str());
        data->Set(2, 1, kelto::Translate("Name").c_str());
        for (std::size_t i = 0; i < xs.size(); ++i) {
            if (ordinal) data->Set(static_cast<int>(i + 3), 1, kelto::TranslateFormat("t %1%", xs[i]).c_str());
            else data->Set(static_cast<int>(i + 3), 1, xs[i]);
        }
        wanted = data->GetNextRow(1);
    }
    int row = 1;
    if (ordinal) {
        row = 2;
        if (wanted == 2) {
            data->Set(2, 2, kelto::TranslateFormat("Retention Time(%1%)", unit_).c_str());
            for (std::size_t i = 0; i < xs.size(); ++i) data->Set(static_cast<int>(i + 3), 2, xs[i]);
            wanted = data->GetNextRow(2);
        }
    }
    int number = 0;
    std::vector<float> values;
    for (const Record& r : files_) {
        if (!r.selected) continue;
        ++number;
        ++row;
        if (wanted < 0 || wanted > numRows) break;
        if (row != wanted) continue;
        data->Set(1, row, static_cast<std::int64_t>(number));
        const std::string name = r.sampleName.empty() ? r.fileName
                                                      : kelto::TranslateFormat("%1%: %2%", r.fileName, r.sampleName);
        data->Set(2, row, name.c_str());
        NetCDF nc(r.path.c_str(), 1);
        const int ordinate = nc.VarId("ordinate_values");
        // Each file delivers its own points; the rest of its row stays missing.
        const long own = std::min(r.points, points);
        if (ordinate >= 0 && own > 0) {
            values.assign(static_cast<std::size_t>(own), 0.0f);
            std::size_t start[1] = {0}, count[1] = {static_cast<std::size_t>(own)};
            int dims = 0;
            if (nc_inq_varndims(nc.Id(), ordinate, &dims) != NC_NOERR || dims != 1 ||
                nc_get_vara_float(nc.Id(), ordinate, start, count, values.data()) != NC_NOERR)
                return Fail(kNotOpened);
            for (std::size_t i = 0; i < used.size(); ++i)
                if (used[i] < own) data->Set(static_cast<int>(i + 3), row, values[static_cast<std::size_t>(used[i])]);
        }
        wanted = data->GetNextRow(row);
    }
    return 0;
}

void AndiFileReader::Close() {
    files_.clear();
    SpreadsheetFile::Close();
}

void AndiFileReader::GetErrorMessage(char* buffer, unsigned int size) {
    const bool several = multiFile_;
    const char* text = nullptr;
    switch (status) {
        case kOpenFailed: text = "Unable to open file."; break;
        case kNotOpened: text = "Unable to read file. The file was not opened or Open File failed."; break;
        case kNotAndi:
            text = several ? "Unable to read one or more of the selected files, not all files seem to be valid "
                             "ANDI/chromatography files."
                           : "The file does not seem to be a valid ANDI/chromatography file.";
            break;
        case kNotAia:
            text = several ? "Unable to read one or more of the selected files, not all files seem to be valid "
                             "AIA/chromatography files."
                           : "The file does not seem to be a valid AIA/chromatography file.";
            break;
        case kAttributes:
            text = several ? "Error while reading file attributes in one of the selected files."
                           : "Error while reading file attributes.";
            break;
        case kNonUniform:
            text = several ? "Error wile reading file attributes in one or more of the selected files. Files with "
                             "non-uniform sampling of data is not supported by VANTU."
                           : "Error wile reading file attributes in the file. Files with non-uniform sampling of data "
                             "is not supported by VANTU.";
            break;
        case kNoFiles: text = "No files were selected."; break;
        case kIntervalDiffers:
        case kUnitDiffers:
            text = "To be able to import several files at a time, all selected files must have the same sampling "
                   "interval and the same time delay between the injection and the start of data acquisition. In "
                   "this case, not all selected files had the same sampling interval.";
            break;
        case kDelayDiffers:
            text = "To be able to import several files at a time, all selected files must have the same sampling "
                   "interval and the same time delay between the injection and the start of data acquisition. In "
                   "this case, the delay time was not equal in all selected files.";
            break;
        default: SpreadsheetFile::GetErrorMessage(buffer, size); return;
    }
    CopyMessage(kelto::Translate(text).c_str(), buffer, size);
}

// ---------------------------------------------------------------- factory

NetCDFFileFactory::NetCDFFileFactory()
    : SprFileFactory("NetCDF Files", "NetCDF Files (*.nc; *.cdf) (MVACDF, ANDI)", nullptr, 2, ".nc\0.cdf", 0, 1, 2,
                     1, 0, 1) {}

SprFileFactory::MyKindOfFile NetCDFFileFactory::IsMyKindOfFile(const char* path) {
    return NetCDFFile::IsNetCDFFile(path) ? IsMyKind : NotMyKind;
}

SpreadsheetFile* NetCDFFileFactory::GetSpreadsheetFile() { return new NetCDFFile; }
