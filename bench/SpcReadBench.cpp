// Reading 1,000 Galactic SPC files of one spectrum of 2,000 float points each into one table
// (2,003 columns, 1,002 rows), the way a host reads a selection of files: QmImportOpen with the directory and the file names, QmImportEstablishSize, a
// FloatStringSpreadsheetData, QmImportRead through the host's callback record.
//
//   bench_spc_read
//
// The files are written once into $KELTO_BENCH_DIR/spc (default: the system's temporary
// directory). When NODE_PATH reaches spc-parser, the same files are parsed by it in node
// (reading and parsing alone are timed) and its time is reported beside ours:
//   ours_s, peer_s (0 without the peer), files_per_s
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "data/SpreadsheetData.h"
#include "plugin/HostCallbacks.h"
#include "plugin/QmImport.h"
#include "plugin/SprFileFactory.h"
#include "tests/formats/spectral/SpcFixtures.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 1000;
constexpr std::uint32_t kPoints = 2000;

fs::path SpcDir() {
    const char* dir = std::getenv("KELTO_BENCH_DIR");
    fs::path p = (dir && *dir ? fs::path(dir) : fs::temp_directory_path() / "kelto-bench") / "spc";
    fs::create_directories(p);
    return p;
}

std::string FileName(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "s%04d.spc", i);
    return name;
}

// The directory, then every file name, each ended by a NUL, and a final NUL.
std::string Selection() {
    const fs::path dir = SpcDir();
    std::string argument = dir.string();
    argument.push_back('\0');
    for (int i = 0; i < kFiles; ++i) {
        const fs::path path = dir / FileName(i);
        if (!fs::exists(path)) {
            auto bytes = kelto::test::spectral::SpcSingle(kPoints, 4000, 4000 - 2.0 * (kPoints - 1), i / 100.0f).Build();
            // No log block (its offset, at 248, is junk in the fixtures): the peer reads it.
            kelto::test::spectral::Put<std::uint32_t>(bytes, 248, 0);
            std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
        argument += FileName(i);
        argument.push_back('\0');
    }
    argument.push_back('\0');
    return argument;
}

int SpcIndex() {
    for (int i = 1; i <= SprFileFactory::SizeInfos(); ++i)
        if (std::string(SprFileFactory::GetInfo(i)->name) == "GalacticSPC File") return i;
    return 0;
}

double PeerSeconds() {
    const char* nodePath = std::getenv("NODE_PATH");
    if (!nodePath || !*nodePath) return 0;
    const fs::path script = SpcDir() / "peer.js";
    std::ofstream(script) << "const fs = require('fs'); const { parse } = require('spc-parser');\n"
                             "const dir = process.argv[2]; const names = fs.readdirSync(dir).filter(n => n.endsWith('.spc'));\n"
                             "const t0 = process.hrtime.bigint(); let n = 0;\n"
                             "for (const name of names) n += parse(fs.readFileSync(dir + '/' + name)).spectra.length;\n"
                             "console.log(Number(process.hrtime.bigint() - t0) / 1e9, n);\n";
    const std::string command = "node '" + script.string() + "' '" + SpcDir().string() + "' 2>/dev/null";
    FILE* p = popen(command.c_str(), "r");
    if (!p) return 0;
    double seconds = 0;
    int spectra = 0;
    if (std::fscanf(p, "%lf %d", &seconds, &spectra) != 2 || spectra != kFiles) seconds = 0;
    pclose(p);
    return seconds;
}

void BM_ThousandFilesIntoOneTable(benchmark::State& state) {
    const std::string argument = Selection();
    const int index = SpcIndex();
    double total = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        SpreadsheetFile* handle = nullptr;
        int rows = 0, cols = 0;
        FloatStringSpreadsheetData table;
        if (!QmImportOpen(index, argument.c_str(), true, &handle, nullptr) ||
            !QmImportEstablishSize(index, handle, &rows, &cols)) {
            state.SkipWithError("open failed");
            break;
        }
        table.SetDataSize(cols, rows);
        HostReadCallbacks callbacks(table);
        if (!QmImportRead(index, handle, callbacks.Record())) state.SkipWithError("read failed");
        QmImportClose(index, handle);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        benchmark::DoNotOptimize(table.GetFloatData(cols, rows));
        if (rows != kFiles + 2 || cols != static_cast<int>(kPoints) + 3) state.SkipWithError("wrong table size");
    }
    const double ours = total / static_cast<double>(state.iterations());
    state.counters["ours_s"] = ours;
    state.counters["peer_s"] = PeerSeconds();
    state.counters["files_per_s"] = kFiles / ours;
}
BENCHMARK(BM_ThousandFilesIntoOneTable)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
