// netCDF: reading 500 ANDI/AIA chromatograms (6,000 float points each) as one multi-file
// selection through the entry points, one row per chromatogram.
//
//   bench_netcdf_read
//
// The files are written once with the netCDF C library into $KELTO_BENCH_DIR/netcdf_aia/
// (default: the system's temporary directory) and kept. The read runs in a forked child so its
// peak memory (ru_maxrss) is its own. Counters: ours_s, ours_cpu_s, ours_Mvalues_s, peak_MB.
// The peer figure (python3-netcdf4 reading the same files) is taken by hand:
//   /usr/bin/python3 - <<'PY'
//   import glob, time, netCDF4, numpy as np
//   t = time.perf_counter(); rows = []
//   for p in sorted(glob.glob('/tmp/kelto-bench/netcdf_aia/*.cdf')):
//       with netCDF4.Dataset(p) as d:
//           d.sample_name; float(d['actual_sampling_interval'][...]); float(d['actual_delay_time'][...])
//           rows.append(np.asarray(d['ordinate_values'][:], dtype=np.float32))
//   table = np.vstack(rows); print(table.shape, time.perf_counter() - t)
//   PY
#include <benchmark/benchmark.h>
#include <netcdf.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "data/SpreadsheetData.h"
#include "plugin/HostCallbacks.h"
#include "plugin/QmImport.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 500;
constexpr int kPoints = 6000;

fs::path Folder() {
    const char* dir = std::getenv("KELTO_BENCH_DIR");
    fs::path p = (dir && *dir ? fs::path(dir) : fs::temp_directory_path() / "kelto-bench") / "netcdf_aia";
    fs::create_directories(p);
    return p;
}

std::string FileName(int i) { return "run_" + std::to_string(1000 + i) + ".cdf"; }

bool PutText(int id, const char* name, const std::string& text) {
    return nc_put_att_text(id, NC_GLOBAL, name, text.size(), text.c_str()) == NC_NOERR;
}

// One chromatogram: a 0.1 s sampling interval, two Gaussian peaks whose heights vary by run.
bool WriteChromatogram(const fs::path& path, int run) {
    int id = -1;
    if (nc_create(path.c_str(), NC_CLOBBER, &id) != NC_NOERR) return false;
    bool ok = PutText(id, "dataset_completeness", "C1+C2") && PutText(id, "aia_template_revision", "1.0") &&
              PutText(id, "netcdf_revision", "2.3") && PutText(id, "sample_name", "Batch " + std::to_string(run)) &&
              PutText(id, "retention_unit", "seconds");
    int pointDim = -1, ordinate = -1, runTime = -1, interval = -1, delay = -1;
    ok = ok && nc_def_dim(id, "point_number", kPoints, &pointDim) == NC_NOERR &&
         nc_def_var(id, "actual_run_time_length", NC_FLOAT, 0, nullptr, &runTime) == NC_NOERR &&
         nc_def_var(id, "actual_sampling_interval", NC_FLOAT, 0, nullptr, &interval) == NC_NOERR &&
         nc_def_var(id, "actual_delay_time", NC_FLOAT, 0, nullptr, &delay) == NC_NOERR &&
         nc_def_var(id, "ordinate_values", NC_FLOAT, 1, &pointDim, &ordinate) == NC_NOERR &&
         nc_put_att_text(id, ordinate, "uniform_sampling_flag", 1, "Y") == NC_NOERR && nc_enddef(id) == NC_NOERR;
    const float step = 0.1f, start = 0.0f, length = kPoints * step;
    std::vector<float> values(kPoints);
    for (int k = 0; k < kPoints; ++k) {
        const double t = k * step;
        values[k] = static_cast<float>(1.0 + (50 + run % 17) * std::exp(-std::pow((t - 120) / 3, 2)) +
                                       (20 + run % 5) * std::exp(-std::pow((t - 400) / 6, 2)));
    }
    ok = ok && nc_put_var_float(id, runTime, &length) == NC_NOERR && nc_put_var_float(id, interval, &step) == NC_NOERR &&
         nc_put_var_float(id, delay, &start) == NC_NOERR && nc_put_var_float(id, ordinate, values.data()) == NC_NOERR;
    return nc_close(id) == NC_NOERR && ok;
}

// The folder and its files as one multi-file argument: "folder\0name\0name\0\0".
std::string Selection() {
    const fs::path folder = Folder();
    std::string argument = folder.string();
    argument += '\0';
    for (int i = 0; i < kFiles; ++i) {
        const fs::path path = folder / FileName(i);
        if (!fs::exists(path) && !WriteChromatogram(path, i)) return {};
        argument += FileName(i);
        argument += '\0';
    }
    argument += '\0';
    return argument;
}

int FormatIndex(const char* name) {
    for (int i = 1; i <= QmImportSizeFileFormatsSupported(); ++i)
        if (std::string(QmImportGetFileFormatInfo(i)->name) == name) return i;
    return -1;
}

void BM_ReadAia500(benchmark::State& state) {
    const std::string selection = Selection();
    if (selection.empty()) {
        state.SkipWithError("the chromatograms could not be written");
        return;
    }
    for (auto _ : state) {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            const int index = FormatIndex("NetCDF Files");
            auto start = std::chrono::steady_clock::now();
            SpreadsheetFile* handle = nullptr;
            bool ok = QmImportOpen(index, selection.c_str(), true, &handle, nullptr);
            int rows = 0, cols = 0;
            FloatStringSpreadsheetData table;
            ok = ok && QmImportEstablishSize(index, handle, &rows, &cols);
            table.SetDataSize(cols, rows);
            HostReadCallbacks callbacks(table);
            ok = ok && QmImportRead(index, handle, callbacks.Record());
            double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            // The last chromatogram's first peak, in the last row.
            ok = ok && table.GetNumberOfRows() >= kFiles && table.GetNumberOfColumns() == kPoints + 2 &&
                 std::abs(table.GetFloatData(3 + 1200, table.GetNumberOfRows()) - (51.0f + (kFiles - 1) % 17)) < 0.01f;
            if (handle) QmImportClose(index, handle);
            if (!ok) seconds = -1;
            if (write(fds[1], &seconds, sizeof seconds) != sizeof seconds) _exit(2);
            _exit(0);
        }
        close(fds[1]);
        double seconds = -1;
        if (read(fds[0], &seconds, sizeof seconds) != sizeof seconds) seconds = -1;
        close(fds[0]);
        int status = 0;
        struct rusage usage {};
        wait4(pid, &status, 0, &usage);
        if (seconds < 0) {
            state.SkipWithError("our read failed");
            return;
        }
        state.SetIterationTime(seconds);
        state.counters["ours_s"] = seconds;
        state.counters["ours_cpu_s"] = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        state.counters["ours_Mvalues_s"] = double(kFiles) * kPoints / seconds / 1e6;
        state.counters["peak_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    }
}

BENCHMARK(BM_ReadAia500)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
