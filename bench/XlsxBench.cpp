// Excel .xlsx: reading and writing a sheet of 200,000 rows x 10 columns (eight number
// columns, two text columns from a pool of 1,000 shared strings), side by side with
// openpyxl and SheetJS, in one run.
//
//   bench_xlsx                                  (everything, one repetition each)
//   bench_xlsx --benchmark_filter=Read          (the reads only)
//
// The workbook is made once by libxlsxwriter (shared strings, not constant-memory mode)
// into $KELTO_BENCH_DIR (default: the system's temporary directory) and kept. Every side runs
// in a process of its own, so its peak memory (ru_maxrss) is its own. Counters:
//   Read:  ours_s, ours_Mcells_s, ours_peak_MB       entry points in a forked child: open,
//                                                    size, read into the in-memory table
//          cli_s, cli_Mcells_s                       the whole `kelto-import show --max-rows 0`
//                                                    process, start to exit
//          openpyxl_s, openpyxl_Mcells_s             read-only mode, every cell visited
//          sheetjs_s, sheetjs_Mcells_s               XLSX.readFile, every cell visited
//          cli_vs_openpyxl, cli_vs_sheetjs           how many times faster the whole process is
//   Write: ours_s, ours_peak_MB                      ExcelXLSXFile::Write of the table
//          libxlsxwriter_s                           libxlsxwriter alone, constant-memory mode
//          openpyxl_s                                write-only mode
//          ours_vs_openpyxl
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "data/SpreadsheetData.h"
#include "formats/workbook/ExcelXLSXFile.h"
#include "plugin/HostCallbacks.h"
#include "plugin/QmImport.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRows = 200000;
constexpr int kCols = 10;
constexpr double kCells = double(kRows) * kCols;

fs::path BenchDir() {
    const char* dir = std::getenv("KELTO_BENCH_DIR");
    fs::path p = dir && *dir ? fs::path(dir) : fs::temp_directory_path() / "kelto-bench";
    fs::create_directories(p);
    return p;
}

// Cell (row, column) of the table, 0-based; the same for every writer.
double NumberAt(std::mt19937_64& rng) {
    return static_cast<double>(static_cast<long long>(rng() % 2000000001) - 1000000000) / 1e6;
}
std::string TextAt(int row, int column) { return "item-" + std::to_string((row * 7 + column * 13) % 1000); }

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The workbook, and how long libxlsxwriter took for it.
fs::path Workbook(bool constantMemory, double* seconds, const fs::path& name) {
    fs::path path = BenchDir() / name;
    if (!seconds && fs::exists(path) && fs::file_size(path) > 1000000) return path;
    auto start = std::chrono::steady_clock::now();
    lxw_workbook_options options = {};
    options.constant_memory = constantMemory;
    lxw_workbook* wb = workbook_new_opt(path.c_str(), &options);
    lxw_worksheet* ws = workbook_add_worksheet(wb, "Sheet1");
    std::mt19937_64 rng(7);
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kCols; ++c) {
            if (c == 3 || c == 7) worksheet_write_string(ws, r, c, TextAt(r, c).c_str(), nullptr);
            else worksheet_write_number(ws, r, c, NumberAt(rng), nullptr);
        }
    if (workbook_close(wb) != LXW_NO_ERROR) return {};
    if (seconds) *seconds = Seconds(start);
    return path;
}

struct Measure {
    double seconds = -1;
    double peakMB = -1;
};

int FormatIndex(const char* name) {
    for (int i = 1; i <= QmImportSizeFileFormatsSupported(); ++i)
        if (std::string(QmImportGetFileFormatInfo(i)->name) == name) return i;
    return -1;
}

// `work` in a forked child, which reports its seconds (negative: failed) through a pipe.
template <typename F>
Measure InChild(F work) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        double seconds = work();
        if (write(fds[1], &seconds, sizeof seconds) != sizeof seconds) _exit(2);
        _exit(0);
    }
    close(fds[1]);
    Measure m;
    if (read(fds[0], &m.seconds, sizeof m.seconds) != sizeof m.seconds) m.seconds = -1;
    close(fds[0]);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    m.peakMB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return m;
}

// A whole process, start to exit.
Measure Process(const std::string& command) {
    auto start = std::chrono::steady_clock::now();
    int status = std::system(command.c_str());
    Measure m;
    m.seconds = status == 0 ? Seconds(start) : -1;
    return m;
}

// A script that prints its own seconds for the timed part.
double Script(const std::string& interpreter, const std::string& name, const std::string& text, const std::string& args) {
    fs::path path = BenchDir() / name;
    std::ofstream(path) << text;
    double seconds = -1;
    if (FILE* p = popen((interpreter + " '" + path.string() + "' " + args).c_str(), "r")) {
        if (std::fscanf(p, "%lf", &seconds) != 1) seconds = -1;
        pclose(p);
    }
    return seconds;
}

fs::path BinDir() { return fs::read_symlink("/proc/self/exe").parent_path(); }

void Rate(benchmark::State& state, const char* name, double seconds) {
    if (seconds <= 0) return;
    state.counters[std::string(name) + "_s"] = seconds;
    state.counters[std::string(name) + "_Mcells_s"] = kCells / seconds / 1e6;
}

void BM_ReadXlsx200kx10(benchmark::State& state) {
    const fs::path file = Workbook(false, nullptr, "xlsx_200k_x10.xlsx");
    for (auto _ : state) {
        Measure ours = InChild([&] {
            const int index = FormatIndex("ExcelXSLX File");
            auto start = std::chrono::steady_clock::now();
            SpreadsheetFile* handle = nullptr;
            bool ok = QmImportOpen(index, file.c_str(), true, &handle, nullptr);
            int rows = 0, cols = 0;
            FloatStringSpreadsheetData table;
            ok = ok && QmImportEstablishSize(index, handle, &rows, &cols);
            table.SetDataSize(cols, rows);
            HostReadCallbacks callbacks(table);
            ok = ok && QmImportRead(index, handle, callbacks.Record());
            const double seconds = Seconds(start);
            ok = ok && table.GetNumberOfRows() == kRows && table.GetNumberOfColumns() == kCols &&
                 table.GetStringValue(4, kRows) == TextAt(kRows - 1, 3);
            QmImportClose(index, handle);
            return ok ? seconds : -1.0;
        });
        if (ours.seconds < 0) {
            state.SkipWithError("our read failed");
            return;
        }
        state.SetIterationTime(ours.seconds);
        Rate(state, "ours", ours.seconds);
        state.counters["ours_peak_MB"] = ours.peakMB;
        Measure cli = Process("'" + (BinDir() / "kelto-import").string() + "' show --max-rows 0 '" + file.string() +
                              "' > /dev/null");
        Rate(state, "cli", cli.seconds);
        const double openpyxl = Script(
            "/usr/bin/python3", "xlsx_read.py",
            "import sys, time, openpyxl\n"
            "t = time.perf_counter()\n"
            "wb = openpyxl.load_workbook(sys.argv[1], read_only=True)\n"
            "n = sum(1 for row in wb.active.iter_rows(values_only=True) for v in row if v is not None)\n"
            "assert n == 2000000, n\n"
            "print(time.perf_counter() - t)\n",
            "'" + file.string() + "' 2>/dev/null");
        Rate(state, "openpyxl", openpyxl);
        const char* nodePath = std::getenv("NODE_PATH");
        const double sheetjs = Script(
            std::string("NODE_PATH=") + (nodePath ? nodePath : "/work/peers/node_modules") + " node", "xlsx_read.js",
            "const XLSX = require('xlsx');\n"
            "const t = process.hrtime.bigint();\n"
            "const ws = XLSX.readFile(process.argv[2]).Sheets.Sheet1;\n"
            "let n = 0; for (const k in ws) if (k[0] !== '!' && ws[k].v !== undefined) ++n;\n"
            "if (n !== 2000000) throw new Error(String(n));\n"
            "console.log(Number(process.hrtime.bigint() - t) / 1e9);\n",
            "'" + file.string() + "' 2>/dev/null");
        Rate(state, "sheetjs", sheetjs);
        if (cli.seconds > 0 && openpyxl > 0) state.counters["cli_vs_openpyxl"] = openpyxl / cli.seconds;
        if (cli.seconds > 0 && sheetjs > 0) state.counters["cli_vs_sheetjs"] = sheetjs / cli.seconds;
    }
}

void BM_WriteXlsx200kx10(benchmark::State& state) {
    for (auto _ : state) {
        const fs::path out = BenchDir() / "xlsx_written.xlsx";
        Measure ours = InChild([&] {
            FloatStringSpreadsheetData table;
            table.SetDataSize(kCols, kRows);
            std::mt19937_64 rng(7);
            for (int r = 0; r < kRows; ++r)
                for (int c = 0; c < kCols; ++c) {
                    if (c == 3 || c == 7) table.Set(c + 1, r + 1, TextAt(r, c).c_str());
                    else table.Set(c + 1, r + 1, static_cast<float>(NumberAt(rng)));
                }
            auto start = std::chrono::steady_clock::now();
            ExcelXLSXFile file;
            bool ok = file.Open(false, out.c_str(), nullptr) == 0 && file.Write(&table) == 0;
            return ok ? Seconds(start) : -1.0;
        });
        if (ours.seconds < 0) {
            state.SkipWithError("our write failed");
            return;
        }
        state.SetIterationTime(ours.seconds);
        state.counters["ours_s"] = ours.seconds;
        state.counters["ours_peak_MB"] = ours.peakMB;
        double alone = -1;
        Workbook(true, &alone, "xlsx_libxlsxwriter.xlsx");
        state.counters["libxlsxwriter_s"] = alone;
        const double openpyxl = Script(
            "/usr/bin/python3", "xlsx_write.py",
            "import sys, time, random, openpyxl\n"
            "t = time.perf_counter()\n"
            "wb = openpyxl.Workbook(write_only=True)\n"
            "ws = wb.create_sheet('VANTU')\n"
            "rng = random.Random(7)\n"
            "for r in range(200000):\n"
            "    ws.append(['item-%d' % ((r * 7 + c * 13) % 1000) if c in (3, 7) else rng.uniform(-1000, 1000) for c in range(10)])\n"
            "wb.save(sys.argv[1])\n"
            "print(time.perf_counter() - t)\n",
            "'" + (BenchDir() / "xlsx_openpyxl.xlsx").string() + "' 2>/dev/null");
        if (openpyxl > 0) {
            state.counters["openpyxl_s"] = openpyxl;
            state.counters["ours_vs_openpyxl"] = openpyxl / ours.seconds;
        }
    }
}

BENCHMARK(BM_ReadXlsx200kx10)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteXlsx200kx10)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
