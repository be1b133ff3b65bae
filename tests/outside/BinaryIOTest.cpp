#include "outside/utl/BinaryIO.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

// An input stream buffer that cannot seek, like a pipe: the reader cannot ask how much is
// left and must not trust a length it reads.
class PipeBuf : public std::streambuf {
public:
    explicit PipeBuf(std::string data) : data_(std::move(data)) { setg(data_.data(), data_.data(), data_.data() + data_.size()); }

private:
    std::string data_;
};

}  // namespace

TEST(BinaryIO, LayoutIsLittleEndianWithFourByteStringLength) {
    std::ostringstream out;
    std::uint32_t four = 0x01020304;
    std::uint64_t eight = 0x0102030405060708ull;
    ASSERT_TRUE(WriteFourBytes(out, &four));
    ASSERT_TRUE(WriteEightBytes(out, &eight));
    ASSERT_TRUE(WriteBinaryString(out, "ab"));
    ASSERT_TRUE(WriteBytes(out, "\xff", 1));
    EXPECT_EQ(out.str(), Bytes({4, 3, 2, 1, 8, 7, 6, 5, 4, 3, 2, 1, 2, 0, 0, 0, 'a', 'b', 0xff}));
}

TEST(BinaryIO, ReadersGiveBackWhatWritersWrote) {
    std::stringstream io;
    float floats[3] = {1.5f, -0.0f, 3e38f};
    double doubles[2] = {-2.25, 1e-310};
    std::string withNul("a\0b", 3);
    ASSERT_TRUE(WriteFourBytes(io, floats, 3));
    ASSERT_TRUE(WriteBinaryString(io, withNul));
    ASSERT_TRUE(WriteBinaryString(io, ""));
    ASSERT_TRUE(WriteEightBytes(io, doubles, 2));
    ASSERT_TRUE(WriteBytes(io, "xyz", 3));

    float f[3] = {};
    double d[2] = {};
    std::string s1 = "old", s2 = "old";
    char tail[3] = {};
    ASSERT_TRUE(ReadFourBytes(io, f, 3));
    ASSERT_TRUE(ReadBinaryString(io, s1));
    ASSERT_TRUE(ReadBinaryString(io, s2));
    ASSERT_TRUE(ReadEightBytes(io, d, 2));
    ASSERT_TRUE(ReadBytes(io, tail, 3));
    EXPECT_EQ(std::memcmp(f, floats, sizeof f), 0);
    EXPECT_EQ(std::memcmp(d, doubles, sizeof d), 0);
    EXPECT_EQ(s1, withNul);
    EXPECT_EQ(s2, "");
    EXPECT_EQ(std::string(tail, 3), "xyz");
    // Nothing is left: one more read fails.
    char extra;
    EXPECT_FALSE(ReadBytes(io, &extra, 1));
}

TEST(BinaryIO, ShortOrFailedStreamsFail) {
    std::istringstream three(Bytes({1, 2, 3}));
    std::uint32_t v = 0;
    EXPECT_FALSE(ReadFourBytes(three, &v));
    std::istringstream seven(Bytes({1, 2, 3, 4, 5, 6, 7}));
    double d = 0;
    EXPECT_FALSE(ReadEightBytes(seven, &d));
    std::istringstream none("");
    std::string s = "kept";
    EXPECT_FALSE(ReadBinaryString(none, s));
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    EXPECT_FALSE(WriteBinaryString(out, "x"));
    EXPECT_FALSE(WriteFourBytes(out, &v));
}

TEST(BinaryIO, StringLengthLongerThanTheStreamIsRefused) {
    // Length 5, only 3 bytes follow.
    std::istringstream shortBody(Bytes({5, 0, 0, 0, 'a', 'b', 'c'}));
    std::string s;
    EXPECT_FALSE(ReadBinaryString(shortBody, s));
    EXPECT_TRUE(shortBody.fail());
    // A length near 4 GB must be refused before anything is allocated for it.
    std::istringstream huge(Bytes({0xff, 0xff, 0xff, 0xfe, 'a'}));
    EXPECT_FALSE(ReadBinaryString(huge, s));
    EXPECT_LT(s.capacity(), 1u << 20);
}

TEST(BinaryIO, UnseekableStreamWithFalseLengthFailsWithoutHugeAllocation) {
    PipeBuf pipe(Bytes({0xff, 0xff, 0xff, 0x7f, 'a', 'b'}));
    std::istream in(&pipe);
    std::string s;
    EXPECT_FALSE(ReadBinaryString(in, s));
    EXPECT_LT(s.capacity(), 1u << 20);

    PipeBuf good(Bytes({3, 0, 0, 0, 'x', 'y', 'z', 2, 0, 0, 0, 'p', 'q'}));
    std::istream in2(&good);
    ASSERT_TRUE(ReadBinaryString(in2, s));
    EXPECT_EQ(s, "xyz");
    ASSERT_TRUE(ReadBinaryString(in2, s));
    EXPECT_EQ(s, "pq");
}

TEST(BinaryIO, RefusedLengthRaisesTheStreamsExceptionWhenEnabled) {
    // Callers that enable stream exceptions learn of a bad record through them.
    std::istringstream in(Bytes({9, 0, 0, 0, 'a'}));
    in.exceptions(std::ios::failbit | std::ios::badbit | std::ios::eofbit);
    std::string s;
    EXPECT_THROW(ReadBinaryString(in, s), std::ios::failure);
}
