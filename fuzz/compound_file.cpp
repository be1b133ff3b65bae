// Compound-file reader under arbitrary bytes: open, list every storage reachable from the
// root, open every stream and read it through, with seeks and through the istream wrapper.
#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

#include "platform/CompoundFile.h"

using kelto::platform::CompoundElement;
using kelto::platform::CompoundFileReader;
using kelto::platform::SeekOrigin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 22)) return 0;
    std::span<const std::uint8_t> bytes(data, size);
    CompoundFileReader::IsCompoundData(bytes);
    CompoundFileReader reader;
    if (!reader.OpenMemory(bytes)) return 0;

    std::vector<CompoundElement> pending = reader.RootElements();
    std::set<std::uint32_t> seen;
    std::vector<std::uint8_t> buffer(4096);
    int streams = 0;
    while (!pending.empty() && streams < 256) {
        CompoundElement e = pending.back();
        pending.pop_back();
        if (!seen.insert(e.id).second) continue;  // storages of a damaged file may contain each other
        if (e.isStorage) {
            std::vector<CompoundElement> kids;
            if (reader.Children(e, kids)) pending.insert(pending.end(), kids.begin(), kids.end());
            continue;
        }
        ++streams;
        auto s = reader.OpenStream(e);
        if (!s) continue;
        std::size_t chunk = 1 + (e.id * 97) % buffer.size();
        std::uint64_t total = 0;
        while (true) {
            auto got = s->Read(buffer.data(), chunk);
            if (got <= 0) break;
            total += static_cast<std::uint64_t>(got);
        }
        if (total != s->Size()) __builtin_trap();  // a memory source never fails a read
        s->Seek(static_cast<std::int64_t>(s->Size() / 2), SeekOrigin::Begin);
        s->Read(buffer.data(), buffer.size());
        s->Seek(-1, SeekOrigin::End);
        s->Read(buffer.data(), 2);
        if (streams == 1) {
            if (auto in = reader.OpenIStream(e)) {
                char c;
                while (in->get(c)) {
                }
                in->clear();
                in->seekg(0);
                in->read(reinterpret_cast<char*>(buffer.data()), 100);
            }
        }
    }
    return 0;
}
