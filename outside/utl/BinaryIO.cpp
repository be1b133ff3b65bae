#include "outside/utl/BinaryIO.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <istream>
#include <ostream>
#include <vector>

static_assert(std::endian::native == std::endian::little, "the binary layout is written as stored in memory");

namespace {

// Bytes left between the read position and the end, or -1 when the stream cannot tell.
std::streamoff Remaining(std::istream& in) {
    std::streambuf* buf = in.rdbuf();
    if (!buf) return -1;
    std::streampos here = buf->pubseekoff(0, std::ios::cur, std::ios::in);
    if (here == std::streampos(-1)) return -1;
    std::streampos last = buf->pubseekoff(0, std::ios::end, std::ios::in);
    buf->pubseekpos(here, std::ios::in);
    if (last == std::streampos(-1)) return -1;
    return last - here;
}

}  // namespace

bool WriteBytes(std::ostream& out, const void* values, std::size_t count) {
    out.write(static_cast<const char*>(values), static_cast<std::streamsize>(count));
    return out.good();
}

bool ReadBytes(std::istream& in, void* values, std::size_t count) {
    in.read(static_cast<char*>(values), static_cast<std::streamsize>(count));
    return in.good() && static_cast<std::size_t>(in.gcount()) == count;
}

bool WriteFourBytes(std::ostream& out, const void* values, std::size_t count) {
    return WriteBytes(out, values, 4 * count);
}

bool ReadFourBytes(std::istream& in, void* values, std::size_t count) { return ReadBytes(in, values, 4 * count); }

bool WriteEightBytes(std::ostream& out, const void* values, std::size_t count) {
    return WriteBytes(out, values, 8 * count);
}

bool ReadEightBytes(std::istream& in, void* values, std::size_t count) { return ReadBytes(in, values, 8 * count); }

bool WriteBinaryString(std::ostream& out, const std::string& text) {
    if (text.size() > UINT32_MAX) return false;
    std::uint32_t n = static_cast<std::uint32_t>(text.size());
    return WriteFourBytes(out, &n) && WriteBytes(out, text.data(), n);
}

bool ReadBinaryString(std::istream& in, std::string& text) {
    std::uint32_t n = 0;
    if (!ReadFourBytes(in, &n)) return false;
    std::streamoff left = Remaining(in);
    if (left >= 0 && static_cast<std::streamoff>(n) > left) {
        in.setstate(std::ios::failbit);
        return false;
    }
    if (left < 0) {
        // A stream that cannot seek: read in bounded pieces so a bad length cannot allocate
        // more than the stream really delivers.
        text.clear();
        char chunk[4096];
        for (std::uint32_t got = 0; got < n;) {
            std::size_t want = std::min<std::size_t>(sizeof chunk, n - got);
            if (!ReadBytes(in, chunk, want)) return false;
            text.append(chunk, want);
            got += static_cast<std::uint32_t>(want);
        }
        return true;
    }
    text.resize(n);
    return n == 0 || ReadBytes(in, text.data(), n);
}
