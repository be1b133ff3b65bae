// netCDF files: the corpus against an independent reader's values, and MVACDF/ANDI files
// written here with the netCDF library for the cases no public file shows.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>

#include <gtest/gtest.h>
#include <netcdf.h>

#include "formats/spectral/NetCDFFile.h"
#include "tests/formats/spectral/SpectralTestSupport.h"

namespace {

using namespace kelto::test;
using namespace kelto::test::spectral;

const std::string kDir = std::string(KELTO_CORPUS_DIR) + "/netcdf/";

struct Expected {
    std::string name;
    std::vector<double> x, y;
};

Expected Load(const std::string& path) {
    Expected e;
    for (const auto& row : ReadTsv(path)) {
        if (row[0] == "name") e.name = row.size() > 1 ? row[1] : "";
        for (std::size_t i = 1; row[0] != "name" && i < row.size(); ++i)
            if (!row[i].empty()) (row[0] == "x" ? e.x : e.y).push_back(std::stod(row[i]));
    }
    return e;
}

TEST(NetCDFCorpus, EveryFileReadsAsThePeerOrEndsWithItsCode) {
    // Mass-spectrometry raw data, a plain netCDF file, chromatograms without a sampling
    // interval, and a text file named .cdf.
    const std::map<std::string, int> refused{
        {"cheminfo_advion-gcms.cdf", 2048},       {"sciformats_andi_ms_continuum.cdf", 2048},
        {"sciformats_andi_ms_library.cdf", 2048}, {"sciformats_non_andi.cdf", 2048},
        {"cheminfo_agilent-gcms-tic.cdf", 2084},  {"cheminfo_agilent-hplc2.cdf", 2084},
        {"sciformats_dummy.cdf", 2049}};
    int compared = 0;
    for (const std::string& name : CorpusFiles(kDir)) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(std::filesystem::exists(kDir + name)) << "a corpus file is missing";
        if (auto it = refused.find(name); it != refused.end()) {
            NetCDFFile file;
            EXPECT_EQ(file.Open(true, (kDir + name).c_str(), nullptr), it->second);
            if (name.find("_ms_") != std::string::npos || name.find("gcms.cdf") != std::string::npos)
                EXPECT_NE(MessageOf(file).find("GcMS run"), std::string::npos) << MessageOf(file);
            continue;
        }
        FloatStringSpreadsheetData t;
        Outcome r = ReadViaHost("NetCDF Files", kDir + name, t);
        ASSERT_EQ(r.read, 0) << r.error;
        const Expected e = Load(kDir + "expected/" + name + ".tsv");
        ASSERT_FALSE(e.y.empty()) << "no peer values";
        ASSERT_EQ(r.rows, 3);
        ASSERT_EQ(r.cols, 2 + static_cast<int>(e.y.size()));
        EXPECT_EQ(t.GetStringValue(2, 3), name + ": " + e.name);
        for (std::size_t k = 0; k < e.y.size(); ++k) {
            const int c = static_cast<int>(k + 3);
            ASSERT_EQ(t.GetFloatData(c, 2), static_cast<float>(e.x[k])) << k;
            ASSERT_EQ(t.GetFloatData(c, 3), static_cast<float>(e.y[k])) << k;
        }
        ++compared;
    }
    EXPECT_EQ(compared, 3);
}

std::string Several(const TempDir& dir, std::initializer_list<std::string> paths) {
    std::vector<std::string> names;
    for (const std::string& p : paths) names.push_back(std::filesystem::path(p).filename().string());
    return kelto::test::spectral::Several(dir.Path().string(), names);
}

// An MVACDF file of `obs` observations by `vars` variables, values obs*100 + var.
struct Mva {
    int vars = 3, obs = 2;
    nc_type type = NC_DOUBLE;
    const char* format = nullptr;     // raw_data_mva_format
    const char* missing = nullptr;    // missing_value
    bool headers = true, names = true, aia = false, matrix = false;
    std::map<std::pair<int, int>, double> overrides;  // (obs, var) -> value
};

std::string WriteMva(const TempDir& dir, const std::string& file, const Mva& m) {
    const std::string path = dir.File(file);
    int nc = -1;
    EXPECT_EQ(nc_create(path.c_str(), NC_CLOBBER, &nc), NC_NOERR);
    nc_put_att_text(nc, NC_GLOBAL, "mva_template_revision", 3, "1.0");
    if (m.aia) nc_put_att_text(nc, NC_GLOBAL, "aia_template_revision", 3, "1.0");
    if (m.format) nc_put_att_text(nc, NC_GLOBAL, "raw_data_mva_format", std::strlen(m.format), m.format);
    if (m.missing) nc_put_att_text(nc, NC_GLOBAL, "missing_value", std::strlen(m.missing), m.missing);
    int seq, pts, len, rows, data, hdr = -1, nam = -1, tim;
    nc_def_dim(nc, "sequence_no", m.obs, &seq);
    nc_def_dim(nc, "number_data_points", m.vars, &pts);
    nc_def_dim(nc, "string_len", 8, &len);
    if (m.matrix) nc_def_dim(nc, "number_rows_per_data_point", 2, &rows);
    int d2[2] = {seq, pts};
    nc_def_var(nc, "observation", m.type, 2, d2, &data);
    if (m.headers) {
        int dh[2] = {pts, len};
        nc_def_var(nc, "column_headers", NC_CHAR, 2, dh, &hdr);
    }
    if (m.names) {
        int dn[2] = {seq, len};
        nc_def_var(nc, "name_of_measurement", NC_CHAR, 2, dn, &nam);
    }
    nc_def_var(nc, "dectime_of_measurement", NC_DOUBLE, 1, &seq, &tim);
    nc_enddef(nc);
    for (int o = 0; o < m.obs; ++o) {
        for (int v = 0; v < m.vars; ++v) {
            std::size_t at[2] = {static_cast<std::size_t>(o), static_cast<std::size_t>(v)};
            double value = o * 100 + v;
            if (auto it = m.overrides.find({o, v}); it != m.overrides.end()) value = it->second;
            nc_put_var1_double(nc, data, at, &value);
        }
        std::size_t at[1] = {static_cast<std::size_t>(o)};
        double t = 1234.5678912 + o;
        nc_put_var1_double(nc, tim, at, &t);
        if (nam >= 0) {
            std::string n = "obs" + std::to_string(o);
            std::size_t s[2] = {static_cast<std::size_t>(o), 0}, c[2] = {1, n.size()};
            nc_put_vara_text(nc, nam, s, c, n.c_str());
        }
    }
    for (int v = 0; hdr >= 0 && v < m.vars; ++v) {
        std::string n = "v" + std::to_string(v);
        std::size_t s[2] = {static_cast<std::size_t>(v), 0}, c[2] = {1, n.size()};
        nc_put_vara_text(nc, hdr, s, c, n.c_str());
    }
    EXPECT_EQ(nc_close(nc), NC_NOERR);
    return path;
}

TEST(MvaCDF, ReadsNamesTimesAndValuesOfEveryElementType) {
    TempDir dir;
    for (auto [type, format] : {std::pair{NC_DOUBLE, (const char*)nullptr}, {NC_FLOAT, "FLOAT"}, {NC_BYTE, "byte"},
                                {NC_SHORT, "short"}, {NC_INT, "long"}}) {
        SCOPED_TRACE(type);
        Mva m;
        m.type = type;
        m.format = format;
        FloatStringSpreadsheetData t;
        Outcome r = ReadViaHost("NetCDF Files", WriteMva(dir, "a.nc", m), t);
        ASSERT_EQ(r.read, 0) << r.error;
        ASSERT_EQ(r.cols, 5);
        ASSERT_EQ(r.rows, 3);
        EXPECT_EQ(t.GetStringValue(1, 1), "Name");
        EXPECT_EQ(t.GetStringValue(2, 1), "Decimal Time");
        EXPECT_EQ(t.GetStringValue(5, 1), "v2");
        EXPECT_EQ(t.GetStringValue(1, 3), "obs1");
        EXPECT_EQ(t.GetStringValue(2, 2), "1234.568");
        // Zero is a number, not a missing value, whatever the element type.
        EXPECT_FALSE(t.IsMisVal(3, 2));
        EXPECT_FALSE(t.IsString(3, 2));
        EXPECT_EQ(t.GetFloatData(3, 2), 0.0f);
        EXPECT_EQ(t.GetFloatData(5, 3), 102.0f);
    }
}

TEST(MvaCDF, MissingValuesAndDefaultNames) {
    TempDir dir;
    Mva m;
    m.headers = m.names = false;
    m.overrides = {{{0, 1}, -100000.0}, {{1, 2}, -100000.0 * (1 + 1e-9)}, {{1, 0}, -100001.0}};
    FloatStringSpreadsheetData t;
    ASSERT_EQ(ReadViaHost("NetCDF Files", WriteMva(dir, "a.nc", m), t).read, 0);
    EXPECT_EQ(t.GetStringValue(3, 1), "Var_1");
    EXPECT_EQ(t.GetStringValue(5, 1), "Var_3");
    EXPECT_EQ(t.GetStringValue(1, 2), "Obs_1");
    EXPECT_EQ(t.GetStringValue(1, 3), "Obs_2");
    EXPECT_TRUE(t.IsMisVal(4, 2));
    EXPECT_TRUE(t.IsMisVal(5, 3));    // within the relative tolerance
    EXPECT_FALSE(t.IsMisVal(3, 3));   // beyond it
    EXPECT_EQ(t.GetFloatData(3, 3), -100001.0f);

    Mva n;
    n.missing = "NaN";
    n.overrides = {{{0, 0}, NAN}, {{0, 1}, -100000.0}};
    FloatStringSpreadsheetData u;
    ASSERT_EQ(ReadViaHost("NetCDF Files", WriteMva(dir, "b.nc", n), u).read, 0);
    EXPECT_TRUE(u.IsMisVal(3, 2));
    EXPECT_EQ(u.GetFloatData(4, 2), -100000.0f);
}

TEST(MvaCDF, RefusalsCarryTheirCodes) {
    TempDir dir;
    Mva ten, twelve, matrix, bad;
    ten.vars = 10;
    twelve.vars = 12;
    matrix.matrix = true;
    bad.format = "complex";
    const std::string both = Several(dir, {WriteMva(dir, "10.nc", ten), WriteMva(dir, "12.nc", twelve)});
    struct Case {
        std::string path;
        int code;
        const char* words;
    } cases[] = {
        {both, 2068, "different number of variables"},
        {WriteMva(dir, "m.nc", matrix), 2066, "matrices in the file"},
        {WriteMva(dir, "f.nc", bad), 2065, "could not be established"},
        {dir.File("none.nc"), 2049, "valid NetCDF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        NetCDFFile file;
        EXPECT_EQ(file.Open(true, c.path.c_str(), nullptr), c.code);
        EXPECT_NE(MessageOf(file).find(c.words), std::string::npos) << MessageOf(file);
    }
    // Both template attributes: the table template wins.
    Mva aia;
    aia.aia = true;
    EXPECT_EQ(NetCDFFile::GetFileTemplate(WriteMva(dir, "both.nc", aia).c_str()), NetCDFFile::kMva);
    // An HDF5 file never reaches the library.
    std::ofstream(dir.File("h5.nc"), std::ios::binary) << std::string("\x89HDF\r\n\x1a\n", 8) << std::string(600, '\0');
    EXPECT_EQ(NetCDFFile::GetFileTemplate(dir.File("h5.nc").c_str()), NetCDFFile::kNotNetCDF);
}

// A chromatogram of `points` values 1, 2, ... sampled every `interval` from `delay`.
std::string WriteAndi(const TempDir& dir, const std::string& file, int points, float interval, float delay) {
    const std::string path = dir.File(file);
    int nc = -1, pn, run, si, dt, ov;
    EXPECT_EQ(nc_create(path.c_str(), NC_CLOBBER, &nc), NC_NOERR);
    for (const char* a : {"netcdf_revision", "aia_template_revision", "dataset_completeness"})
        nc_put_att_text(nc, NC_GLOBAL, a, 3, "1.0");
    nc_put_att_text(nc, NC_GLOBAL, "sample_name", 0, "");
    nc_put_att_text(nc, NC_GLOBAL, "retention_unit", 7, "minutes");
    nc_def_dim(nc, "point_number", points, &pn);
    nc_def_var(nc, "actual_run_time_length", NC_FLOAT, 0, nullptr, &run);
    nc_def_var(nc, "actual_sampling_interval", NC_FLOAT, 0, nullptr, &si);
    nc_def_var(nc, "actual_delay_time", NC_FLOAT, 0, nullptr, &dt);
    nc_def_var(nc, "ordinate_values", NC_FLOAT, 1, &pn, &ov);
    nc_put_att_text(nc, ov, "uniform_sampling_flag", 1, "y");
    nc_enddef(nc);
    const float runTime = points * interval;
    nc_put_var_float(nc, run, &runTime);
    nc_put_var_float(nc, si, &interval);
    nc_put_var_float(nc, dt, &delay);
    std::vector<float> v(static_cast<std::size_t>(points));
    for (int i = 0; i < points; ++i) v[i] = static_cast<float>(i + 1);
    nc_put_var_float(nc, ov, v.data());
    EXPECT_EQ(nc_close(nc), NC_NOERR);
    return path;
}

TEST(Andi, FilesOfDifferentLengthsEachDeliverTheirOwnPoints) {
    TempDir dir;
    const std::string paths = Several(dir, {WriteAndi(dir, "a.cdf", 3, 0.5f, 1.0f), WriteAndi(dir, "b.cdf", 5, 0.5f, 1.0f)});
    FloatStringSpreadsheetData t;
    Outcome r = ReadViaHost("NetCDF Files", paths, t);
    ASSERT_EQ(r.read, 0) << r.error;
    ASSERT_EQ(r.cols, 7);
    ASSERT_EQ(r.rows, 4);
    EXPECT_EQ(t.GetStringValue(3, 1), "t 1");
    EXPECT_EQ(t.GetStringValue(2, 2), "Retention Time(minutes)");
    EXPECT_EQ(t.GetFloatData(7, 2), 3.0f);
    EXPECT_EQ(t.GetStringValue(2, 3), "a.cdf");
    EXPECT_EQ(t.GetFloatData(5, 3), 3.0f);
    EXPECT_TRUE(t.IsMisVal(6, 3));
    EXPECT_EQ(t.GetFloatData(7, 4), 5.0f);
}

TEST(Andi, FilesThatCannotShareAnAxisAreRefused) {
    TempDir dir;
    struct Case {
        float interval, delay;
        int code;
        const char* words;
    } cases[] = {{0.2f, 1.0f, 2087, "sampling interval."}, {0.1f, 2.0f, 2089, "delay time"}, {0.1f, 1.0f, 0, ""}};
    for (const Case& c : cases) {
        const std::string paths =
            Several(dir, {WriteAndi(dir, "a.cdf", 3, 0.1f, 1.0f), WriteAndi(dir, "b.cdf", 3, c.interval, c.delay)});
        NetCDFFile file;
        EXPECT_EQ(file.Open(true, paths.c_str(), nullptr), c.code);
        EXPECT_NE(MessageOf(file).find(c.words), std::string::npos) << MessageOf(file);
    }
}

}  // namespace

TEST(NetCDFHeader, CountsBeyondTheFileAreRefusedBeforeTheLibrarySeesThem) {
    // Both classic forms open (a file after no known template: 2048); a name whose declared
    // length runs past the end of the file does not (2049).
    for (int form : {0, NC_64BIT_OFFSET}) {
        SCOPED_TRACE(form);
        TempDir dir;
        const std::string path = dir.File("plain.nc");
        int nc = -1, dim = -1, var = -1;
        ASSERT_EQ(nc_create(path.c_str(), NC_CLOBBER | form, &nc), NC_NOERR);
        ASSERT_EQ(nc_def_dim(nc, "points", 3, &dim), NC_NOERR);
        ASSERT_EQ(nc_put_att_text(nc, NC_GLOBAL, "title", 5, "plain"), NC_NOERR);
        ASSERT_EQ(nc_def_var(nc, "values", NC_DOUBLE, 1, &dim, &var), NC_NOERR);
        ASSERT_EQ(nc_put_att_text(nc, var, "units", 2, "mg"), NC_NOERR);
        ASSERT_EQ(nc_def_var(nc, "flags", NC_SHORT, 1, &dim, &var), NC_NOERR);  // after the first's offset
        ASSERT_EQ(nc_close(nc), NC_NOERR);
        NetCDFFile whole;
        EXPECT_EQ(whole.Open(true, path.c_str(), nullptr), 2048);
        // The first dimension's name length: after the magic, numrecs, tag and count.
        std::fstream patch(path, std::ios::in | std::ios::out | std::ios::binary);
        patch.seekp(16);
        patch.write("\x7f\xff\xff\xf0", 4);
        patch.close();
        NetCDFFile claimed;
        EXPECT_EQ(claimed.Open(true, path.c_str(), nullptr), 2049);
    }
}
