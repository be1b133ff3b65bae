#include "outside/utl/BinaryIO.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#include "TestFiles.h"

using kelto::test::PipeBuf;

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

}  // namespace

TEST(BinaryIO, LittleEndianLayoutReadsBackWhatWasWritten) {
    std::stringstream io;
    std::uint32_t four = 0x01020304;
    std::uint64_t eight = 0x0102030405060708ull;
    float floats[2] = {-0.0f, 3e38f};
    double doubles[2] = {-2.25, 1e-310};
    std::string withNul("a\0b", 3);
    ASSERT_TRUE(WriteFourBytes(io, &four) && WriteEightBytes(io, &eight) && WriteBinaryString(io, "ab") && WriteBytes(io, "\xff", 1));
    // Four-byte string length, no terminator.
    EXPECT_EQ(io.str(), Bytes({4, 3, 2, 1, 8, 7, 6, 5, 4, 3, 2, 1, 2, 0, 0, 0, 'a', 'b', 0xff}));
    ASSERT_TRUE(WriteFourBytes(io, floats, 2) && WriteBinaryString(io, withNul) && WriteBinaryString(io, "") && WriteEightBytes(io, doubles, 2));

    std::uint32_t four2 = 0;
    std::uint64_t eight2 = 0;
    float f[2] = {};
    double d[2] = {};
    std::string s1, s2 = "old", s3 = "old";
    char tail = 0;
    ASSERT_TRUE(ReadFourBytes(io, &four2) && ReadEightBytes(io, &eight2) && ReadBinaryString(io, s1) && ReadBytes(io, &tail, 1));
    ASSERT_TRUE(ReadFourBytes(io, f, 2) && ReadBinaryString(io, s2) && ReadBinaryString(io, s3) && ReadEightBytes(io, d, 2));
    EXPECT_EQ(four2, four);
    EXPECT_EQ(eight2, eight);
    EXPECT_EQ(s1 + tail, "ab\xff");
    EXPECT_EQ(std::memcmp(f, floats, sizeof f), 0);
    EXPECT_EQ(std::memcmp(d, doubles, sizeof d), 0);
    EXPECT_EQ(s2, withNul);
    EXPECT_EQ(s3, "");
    EXPECT_FALSE(ReadBytes(io, &tail, 1));  // nothing is left
}

TEST(BinaryIO, ShortStreamsAndFalseLengthsFailWithoutHugeAllocation) {
    std::istringstream three(Bytes({1, 2, 3})), seven(Bytes({1, 2, 3, 4, 5, 6, 7})), none("");
    std::uint32_t v = 0;
    double d = 0;
    std::string s = "kept";
    EXPECT_FALSE(ReadFourBytes(three, &v) || ReadEightBytes(seven, &d) || ReadBinaryString(none, s));
    std::ostringstream bad;
    bad.setstate(std::ios::badbit);
    EXPECT_FALSE(WriteBinaryString(bad, "x") || WriteFourBytes(bad, &v));
    // Length 5, only 3 bytes follow; a length near 4 GB is refused before anything is allocated.
    for (const std::string& bytes : {Bytes({5, 0, 0, 0, 'a', 'b', 'c'}), Bytes({0xff, 0xff, 0xff, 0xfe, 'a'})}) {
        std::istringstream in(bytes);
        EXPECT_FALSE(ReadBinaryString(in, s));
        EXPECT_TRUE(in.fail());
        EXPECT_LT(s.capacity(), 1u << 20);
    }
    // The same through a stream that cannot tell how much is left.
    PipeBuf pipe(Bytes({0xff, 0xff, 0xff, 0x7f, 'a', 'b'}));
    std::istream piped(&pipe);
    EXPECT_FALSE(ReadBinaryString(piped, s));
    EXPECT_LT(s.capacity(), 1u << 20);
    PipeBuf good(Bytes({3, 0, 0, 0, 'x', 'y', 'z', 2, 0, 0, 0, 'p', 'q'}));
    std::istream in2(&good);
    ASSERT_TRUE(ReadBinaryString(in2, s));
    EXPECT_EQ(s, "xyz");
    ASSERT_TRUE(ReadBinaryString(in2, s));
    EXPECT_EQ(s, "pq");
    // Callers that enable stream exceptions learn of a bad record through them.
    std::istringstream throwing(Bytes({9, 0, 0, 0, 'a'}));
    throwing.exceptions(std::ios::failbit | std::ios::badbit | std::ios::eofbit);
    EXPECT_THROW(ReadBinaryString(throwing, s), std::ios::failure);
}
