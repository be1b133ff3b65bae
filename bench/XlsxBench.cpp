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
//   Xlsb:  the same table as .xlsb, written once by SheetJS from the .xlsx (node and the npm
//          package xlsx on NODE_PATH, default /work/peers/node_modules; a few minutes) and kept;
//          skipped when node cannot make it. Both our readers run in forked children:
//          xlsb_s, xlsb_cpu_s, xlsx_s, xlsx_cpu_s   wall and processor seconds of the read
//          xlsb_vs_xlsx, xlsb_vs_xlsx_cpu            how many times faster the .xlsb read is (wall,
//                                                    processor time: steadier on a busy machine)
//          fill_s, fill_cpu_s                        the same cells into the same table through
//                                                    the same callbacks, no file: the table's share
//          readers_alone_xlsb_vs_xlsx_cpu            the processor-time ratio with fill_cpu_s
//                                                    taken from both
//          table_MB                                  memory the decoded table holds (heap and
//                                                    the row chunks)
//          xlsb_peak_MB, xlsb_peak_vs_table          the child's peak RSS above its RSS
//                                                    before the read, and that over table_MB
//          sheetjs_xlsb_s                            XLSX.readFile of the .xlsb, every cell visited
#include <benchmark/benchmark.h>

#include <malloc.h>
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

#include "data/FloatStringVector.h"
#include "data/SpreadsheetData.h"
#include "formats/workbook/ExcelXLSXFile.h"
#include "host/ColumnarSpreadsheetData.h"
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

// One read through the entry points in a forked child.
struct ChildRead {
    double seconds = -1, cpuSeconds = -1, tableMB = -1, peakAboveStartMB = -1;
};

double ResidentMB() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// The heap in use, and the chunks the table's rows are carved from (mapped apart from it).
double HeapMB() {
    const struct mallinfo2 m = mallinfo2();
    return static_cast<double>(m.uordblks + m.hblkhd + kelto::data::RowMemoryInChunks()) / (1024.0 * 1024.0);
}

struct ChildReport {
    double seconds, tableMB, startMB;
};

// `work(report)` in a forked child: it fills in the seconds (negative: failed) and the table's
// memory; the parent adds the child's processor time and peak RSS.
template <typename F>
ChildRead RunChild(F work) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        ChildReport r{-1, -1, ResidentMB()};
        work(r);
        if (write(fds[1], &r, sizeof r) != sizeof r) _exit(2);
        _exit(0);
    }
    close(fds[1]);
    ChildReport r{-1, -1, 0};
    if (read(fds[0], &r, sizeof r) != sizeof r) r.seconds = -1;
    close(fds[0]);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    ChildRead c;
    c.seconds = r.seconds;
    c.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    c.tableMB = r.tableMB;
    c.peakAboveStartMB = static_cast<double>(usage.ru_maxrss) / 1024.0 - r.startMB;
    return c;
}

// Table: the row table every host gets, or the columnar one the Python binding fills.
template <class Table = FloatStringSpreadsheetData>
ChildRead ReadInChild(const char* format, const fs::path& file) {
    return RunChild([&](ChildReport& r) {
        const double heapBefore = HeapMB();
        const int index = FormatIndex(format);
        auto start = std::chrono::steady_clock::now();
        SpreadsheetFile* handle = nullptr;
        bool ok = QmImportOpen(index, file.c_str(), true, &handle, nullptr);
        int rows = 0, cols = 0;
        Table table;
        ok = ok && QmImportEstablishSize(index, handle, &rows, &cols);
        table.SetDataSize(cols, rows);
        HostReadCallbacks callbacks(table);
        ok = ok && QmImportRead(index, handle, callbacks.Record());
        const double seconds = Seconds(start);
        if (handle) QmImportClose(index, handle);
        ok = ok && table.GetNumberOfRows() == kRows && table.GetNumberOfColumns() == kCols &&
             table.GetStringValue(4, kRows) == TextAt(kRows - 1, 3);
        r.seconds = ok ? seconds : -1;
        r.tableMB = HeapMB() - heapBefore;
    });
}

// The same cells handed to the same callbacks without any file: what every reader pays for
// the table alone.
ChildRead FillInChild() {
    return RunChild([](ChildReport& r) {
        std::vector<std::string> texts(1000);
        for (int i = 0; i < 1000; ++i) texts[i] = "item-" + std::to_string(i);
        std::mt19937_64 rng(7);
        auto start = std::chrono::steady_clock::now();
        FloatStringSpreadsheetData table;
        table.SetDataSize(1, 1);
        HostReadCallbacks callbacks(table);
        ReadCallbackRecord* record = callbacks.Record();
        record->SetDataSize(record, kRows, kCols);
        for (int row = 0; row < kRows; ++row)
            for (int c = 0; c < kCols; ++c) {
                if (c == 3 || c == 7) record->SetString(record, row + 1, c + 1, texts[(row * 7 + c * 13) % 1000].c_str());
                else record->SetFloat(record, row + 1, c + 1, static_cast<float>(NumberAt(rng)));
            }
        const double seconds = Seconds(start);
        r.seconds = table.GetStringValue(4, kRows) == TextAt(kRows - 1, 3) ? seconds : -1;
    });
}

std::string NodeCommand() {
    const char* nodePath = std::getenv("NODE_PATH");
    return std::string("NODE_PATH='") + (nodePath && *nodePath ? nodePath : "/work/peers/node_modules") + "' node";
}

// The .xlsx table saved as .xlsb by SheetJS, once; empty when node cannot make it.
fs::path XlsbWorkbook(const fs::path& xlsx) {
    const fs::path path = BenchDir() / "xlsb_200k_x10.xlsb";
    if (fs::exists(path) && fs::file_size(path) > 1000000) return path;
    const fs::path partial = BenchDir() / "xlsb_200k_x10.partial.xlsb";
    const double seconds = Script(NodeCommand() + " --max-old-space-size=6000", "xlsb_make.js",
                                  "const XLSX = require('xlsx');\n"
                                  "const t = process.hrtime.bigint();\n"
                                  "XLSX.writeFile(XLSX.readFile(process.argv[2]), process.argv[3], {bookType: 'xlsb'});\n"
                                  "console.log(Number(process.hrtime.bigint() - t) / 1e9);\n",
                                  "'" + xlsx.string() + "' '" + partial.string() + "' 2>/dev/null");
    std::error_code ec;
    if (seconds <= 0 || !fs::exists(partial, ec)) return {};
    fs::rename(partial, path, ec);
    return ec ? fs::path() : path;
}

void BM_ReadXlsb200kx10(benchmark::State& state) {
    const fs::path xlsx = Workbook(false, nullptr, "xlsx_200k_x10.xlsx");
    const fs::path xlsb = XlsbWorkbook(xlsx);
    if (xlsb.empty()) {
        state.SkipWithError("no .xlsb: node with the npm package xlsx (SheetJS) on NODE_PATH is needed to write it once");
        return;
    }
    for (auto _ : state) {
        const ChildRead binary = ReadInChild("ExcelXLSB File", xlsb);
        const ChildRead text = ReadInChild("ExcelXSLX File", xlsx);
        const ChildRead fill = FillInChild();
        if (binary.seconds < 0 || text.seconds < 0) {
            state.SkipWithError("our read failed");
            return;
        }
        state.SetIterationTime(binary.seconds);
        state.counters["xlsb_s"] = binary.seconds;
        state.counters["xlsb_cpu_s"] = binary.cpuSeconds;
        state.counters["xlsx_s"] = text.seconds;
        state.counters["xlsx_cpu_s"] = text.cpuSeconds;
        state.counters["xlsb_vs_xlsx"] = text.seconds / binary.seconds;
        state.counters["xlsb_vs_xlsx_cpu"] = text.cpuSeconds / binary.cpuSeconds;
        if (fill.seconds > 0) {
            state.counters["fill_s"] = fill.seconds;
            state.counters["fill_cpu_s"] = fill.cpuSeconds;
            if (binary.cpuSeconds > fill.cpuSeconds)
                state.counters["readers_alone_xlsb_vs_xlsx_cpu"] =
                    (text.cpuSeconds - fill.cpuSeconds) / (binary.cpuSeconds - fill.cpuSeconds);
        }
        state.counters["table_MB"] = binary.tableMB;
        state.counters["xlsb_peak_MB"] = binary.peakAboveStartMB;
        if (binary.tableMB > 0) state.counters["xlsb_peak_vs_table"] = binary.peakAboveStartMB / binary.tableMB;
        const double sheetjs = Script(
            NodeCommand(), "xlsb_read.js",
            "const XLSX = require('xlsx');\n"
            "const t = process.hrtime.bigint();\n"
            "const wb = XLSX.readFile(process.argv[2]);\n"
            "const ws = wb.Sheets[wb.SheetNames[0]];\n"
            "let n = 0; for (const k in ws) if (k[0] !== '!' && ws[k].v !== undefined) ++n;\n"
            "if (n !== 2000000) throw new Error(String(n));\n"
            "console.log(Number(process.hrtime.bigint() - t) / 1e9);\n",
            "'" + xlsb.string() + "' 2>/dev/null");
        if (sheetjs > 0) state.counters["sheetjs_xlsb_s"] = sheetjs;
        // The row table's per-row allocations are most of the time above; into the columnar
        // table the readers' own speeds show more plainly.
        const ChildRead binaryColumnar = ReadInChild<ColumnarSpreadsheetData>("ExcelXLSB File", xlsb);
        const ChildRead textColumnar = ReadInChild<ColumnarSpreadsheetData>("ExcelXSLX File", xlsx);
        if (binaryColumnar.seconds > 0 && textColumnar.seconds > 0) {
            state.counters["columnar_xlsb_cpu_s"] = binaryColumnar.cpuSeconds;
            state.counters["columnar_xlsx_cpu_s"] = textColumnar.cpuSeconds;
            state.counters["columnar_xlsb_vs_xlsx_cpu"] = textColumnar.cpuSeconds / binaryColumnar.cpuSeconds;
            state.counters["columnar_xlsb_vs_xlsx"] = textColumnar.seconds / binaryColumnar.seconds;
        }
    }
}

BENCHMARK(BM_ReadXlsx200kx10)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteXlsx200kx10)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadXlsb200kx10)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
