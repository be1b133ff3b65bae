// Line and character reading of the text stream over 100 MB files, generated in a temporary
// directory on first use and removed at exit. Throughput is in file bytes per second.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "outside/utl/QmTextIOStream.h"

namespace {

constexpr std::size_t kFileBytes = 100u << 20;

class Files {
public:
    ~Files() {
        std::error_code ec;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
    }
    // A file of about 100 MB of table-like lines, in `encoding`, made once.
    const std::string& Get(const std::string& kind) {
        auto it = paths_.find(kind);
        if (it != paths_.end()) return it->second;
        if (dir_.empty()) {
            dir_ = std::filesystem::temp_directory_path() / ("kelto-bench-" + std::to_string(::getpid()));
            std::filesystem::create_directories(dir_);
        }
        std::string path = (dir_ / (kind + ".txt")).string();
        Make(kind, path);
        return paths_.emplace(kind, path).first->second;
    }

private:
    static std::string Line(std::size_t i, const std::string& kind) {
        std::string name = kind == "accented" ? "Probe_\xE9t\xE9" : kind == "utf8mixed" ? "Probe_été" : "Sample_A";
        if (kind == "utf8mixed" && i % 4 != 0) name = "Sample_A";
        return std::to_string(i) + "\t" + std::to_string(i % 977) + ".25\t-0.5\t" + name + "\t1.5e-3\t42\r\n";
    }
    static void Make(const std::string& kind, const std::string& path) {
        std::string encoding = kind == "utf16le" ? "utf16le" : kind == "utf8mixed" ? "utf8" : "windows-1252";
        if (kind == "utf16le") {
            // Written through the stream itself; the file's size counts, not the text's.
            QmTextIOStream out(path, encoding, QmTextIOStream::ForWriting);
            std::size_t bytes = 0;
            for (std::size_t i = 0; bytes < kFileBytes; ++i) {
                std::string line = Line(i, kind);
                out.WriteString(line.c_str());
                bytes += line.size() * 2;
            }
            return;
        }
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::size_t bytes = 0;
        for (std::size_t i = 0; bytes < kFileBytes; ++i) {
            std::string line = Line(i, kind);
            std::fwrite(line.data(), 1, line.size(), f);
            bytes += line.size();
        }
        std::fclose(f);
    }
    std::filesystem::path dir_;
    std::map<std::string, std::string> paths_;
};

Files& TheFiles() {
    static Files files;
    return files;
}

void ReadLines(benchmark::State& state, const std::string& kind, const std::string& encoding) {
    const std::string& path = TheFiles().Get(kind);
    std::size_t size = std::filesystem::file_size(path);
    std::size_t lines = 0;
    for (auto _ : state) {
        QmTextIOStream in(path, encoding);
        std::string line;
        while (in.GetLine(line)) {
            benchmark::DoNotOptimize(line.data());
            ++lines;
        }
        if (!in.EndOfFile()) state.SkipWithError("stopped before the end");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
    state.counters["lines"] = static_cast<double>(lines / std::max<std::size_t>(1, state.iterations()));
}

void ReadChars(benchmark::State& state, const std::string& kind, const std::string& encoding) {
    const std::string& path = TheFiles().Get(kind);
    std::size_t size = std::filesystem::file_size(path);
    for (auto _ : state) {
        QmTextIOStream in(path, encoding);
        std::uint64_t sum = 0;
        for (std::uint32_t c; (c = in.GetChar()) != QmTextIOStream::kEndOfStream;) sum += c;
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

}  // namespace

// The default legacy encoding over pure ASCII: the fast path.
BENCHMARK_CAPTURE(ReadLines, ascii_legacy, std::string("ascii"), std::string(""))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadLines, utf16le, std::string("utf16le"), std::string("utf16le"))->Unit(benchmark::kMillisecond);
// Every line holds accented letters: each is converted on its own.
BENCHMARK_CAPTURE(ReadLines, accented_windows1252, std::string("accented"), std::string("windows-1252"))
    ->Unit(benchmark::kMillisecond);
// UTF-8 with some non-ASCII lines: checked, not converted.
BENCHMARK_CAPTURE(ReadLines, utf8_mixed, std::string("utf8mixed"), std::string("utf8"))->Unit(benchmark::kMillisecond);
// Code point by code point, as the CSV parser reads.
BENCHMARK_CAPTURE(ReadChars, ascii_legacy, std::string("ascii"), std::string(""))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadChars, utf16le, std::string("utf16le"), std::string("utf16le"))->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
