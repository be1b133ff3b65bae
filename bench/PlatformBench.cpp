// Throughput of the platform layer's readers: compound-file streams read whole and record by
// record (the way the workbook reader reads), from memory and from a file, the byte reader,
// and date parsing.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/ByteOrder.h"
#include "platform/CompoundFile.h"
#include "platform/OleDate.h"
#include "tests/platform/CfbBuilder.h"

using namespace kelto::platform;
using kelto::test::CfbBuilder;

namespace {

const std::vector<std::uint8_t>& SampleFile() {
    static const std::vector<std::uint8_t> file = [] {
        CfbBuilder b;
        b.interleave = true;  // two streams dealt out in turn: no run is longer than a sector
        b.root.children.push_back(kelto::test::Stream("Workbook", kelto::test::Pattern(8 << 20, 1)));
        b.root.children.push_back(kelto::test::Stream("Other", kelto::test::Pattern(1 << 20, 2)));
        for (int i = 0; i < 50; ++i)
            b.root.children.push_back(kelto::test::Stream("small" + std::to_string(i), kelto::test::Pattern(300, i)));
        return b.Build();
    }();
    return file;
}

const std::string& SamplePath() {
    static const std::string path = [] {
        auto p = std::filesystem::temp_directory_path() / ("kelto_bench_" + std::to_string(getpid()) + ".cfb");
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(SampleFile().data()), static_cast<std::streamsize>(SampleFile().size()));
        return p.string();
    }();
    return path;
}

void OpenAndList(benchmark::State& state) {
    for (auto _ : state) {
        CompoundFileReader r;
        r.OpenMemory(SampleFile());
        benchmark::DoNotOptimize(r.RootElements().size());
    }
}
BENCHMARK(OpenAndList);

// Reads the workbook stream in pieces of `state.range(0)` bytes; with 4 and 20 alternating
// (a record header, then its body) when the range is 0.
void ReadStream(benchmark::State& state, bool fromFile) {
    CompoundFileReader r;
    if (fromFile) r.Open(SamplePath());
    else r.OpenMemory(SampleFile());
    std::vector<std::uint8_t> buf(1 << 16);
    std::size_t piece = static_cast<std::size_t>(state.range(0));
    std::int64_t bytes = 0;
    for (auto _ : state) {
        auto s = r.OpenStream("Workbook");
        for (int turn = 0;; ++turn) {
            std::size_t n = piece ? piece : (turn % 2 ? 20 : 4);
            auto got = s->Read(buf.data(), n);
            if (got <= 0) break;
            bytes += got;
        }
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK_CAPTURE(ReadStream, memory, false)->Arg(0)->Arg(65536);
BENCHMARK_CAPTURE(ReadStream, file, true)->Arg(0)->Arg(65536);

void ByteReaderFields(benchmark::State& state) {
    const auto& data = SampleFile();
    for (auto _ : state) {
        ByteReader r(data);
        std::uint64_t sum = 0;
        while (r.Remaining() >= 14) sum += r.U32() + r.ReadBE<std::uint16_t>() + static_cast<std::uint64_t>(r.F64());
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(data.size()));
}
BENCHMARK(ByteReaderFields);

void ParseDates(benchmark::State& state) {
    const char* texts[] = {"2003/04/25", "04/25/2003 14:30:05", "Apr 25 2003", "2003-04-25T14:30:05", "25/04/03"};
    for (auto _ : state)
        for (const char* t : texts) benchmark::DoNotOptimize(ParseOleDate(t, 2024).value);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 5);
}
BENCHMARK(ParseDates);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::filesystem::remove(SamplePath());
    return 0;
}
