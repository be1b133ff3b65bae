#include "platform/ByteOrder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace kelto::platform;

namespace {
const std::vector<std::uint8_t> kBytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
}

TEST(ByteOrder, LoadsBothOrdersAtAnyAlignment) {
    // Offset 1 is deliberately unaligned for every width.
    EXPECT_EQ(LoadLE<std::uint16_t>(kBytes.data() + 1), 0x0302);
    EXPECT_EQ(LoadBE<std::uint16_t>(kBytes.data() + 1), 0x0203);
    EXPECT_EQ(LoadLE<std::uint32_t>(kBytes.data() + 1), 0x05040302u);
    EXPECT_EQ(LoadBE<std::uint32_t>(kBytes.data() + 1), 0x02030405u);
    EXPECT_EQ(LoadLE<std::uint64_t>(kBytes.data() + 1), 0x0908070605040302ull);
    EXPECT_EQ(LoadBE<std::uint64_t>(kBytes.data() + 1), 0x0203040506070809ull);
    const std::uint8_t neg[] = {0xFE, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(LoadLE<std::int16_t>(neg), -2);
    EXPECT_EQ(LoadLE<std::int32_t>(neg), -2);
    EXPECT_EQ(LoadBE<std::int16_t>(neg), -257);
}

TEST(ByteOrder, FloatsAreIeeeBitPatterns) {
    const std::uint8_t oneLE[] = {0x00, 0x00, 0x80, 0x3F};
    const std::uint8_t oneBE[] = {0x3F, 0x80, 0x00, 0x00};
    EXPECT_EQ(LoadLE<float>(oneLE), 1.0f);
    EXPECT_EQ(LoadBE<float>(oneBE), 1.0f);
    const std::uint8_t piBE[] = {0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18};
    EXPECT_EQ(LoadBE<double>(piBE), 3.141592653589793);
    std::uint8_t buf[8];
    StoreLE<double>(buf, -0.0);
    EXPECT_TRUE(std::signbit(LoadLE<double>(buf)));
    StoreBE<float>(buf, std::numeric_limits<float>::quiet_NaN());
    EXPECT_TRUE(std::isnan(LoadBE<float>(buf)));
    StoreBE<std::uint32_t>(buf, 0xA1B2C3D4u);
    EXPECT_EQ(buf[0], 0xA1);
    EXPECT_EQ(LoadLE<std::uint32_t>(buf), 0xD4C3B2A1u);
}

TEST(ByteOrder, CheckedLoadsRefuseWhatDoesNotFit) {
    std::span<const std::uint8_t> s(kBytes);
    EXPECT_EQ(LoadLEAt<std::uint32_t>(s, 5), 0x09080706u);
    EXPECT_FALSE(LoadLEAt<std::uint32_t>(s, 6));
    EXPECT_FALSE(LoadBEAt<std::uint16_t>(s, 9));
    EXPECT_FALSE(LoadLEAt<std::uint8_t>(s, SIZE_MAX));  // no wrap-around in the check
    EXPECT_EQ(LoadBEAt<std::uint8_t>(s, 8), 9);
}

TEST(ByteReader, WalksFieldsAndFailsStickyAtTheEnd) {
    ByteReader r(kBytes);
    EXPECT_EQ(r.U8(), 1);
    EXPECT_EQ(r.U16(), 0x0302);
    EXPECT_EQ(r.ReadBE<std::uint16_t>(), 0x0405);
    EXPECT_EQ(r.Position(), 5u);
    EXPECT_EQ(r.U64(), 0u);  // only 4 remain
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.Position(), 5u);  // a failed read does not move
    EXPECT_EQ(r.U32(), 0x09080706u);  // smaller reads still work, the failure stays
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.AtEnd());
    r.ClearError();
    EXPECT_TRUE(r.ok());
    EXPECT_FALSE(r.Skip(1));
    EXPECT_FALSE(r.ok());
}

TEST(ByteReader, SeekBytesAndBigEndianMode) {
    ByteReader r(kBytes.data(), kBytes.size(), ByteOrder::Big);
    EXPECT_TRUE(r.Seek(9));
    EXPECT_FALSE(r.Seek(10));
    r.ClearError();
    r.Seek(2);
    EXPECT_EQ(r.U16(), 0x0304);
    auto span = r.Bytes(3);
    ASSERT_EQ(span.size(), 3u);
    EXPECT_EQ(span[0], 5);
    EXPECT_TRUE(r.Bytes(5).empty());
    EXPECT_FALSE(r.ok());
    r.ClearError();
    EXPECT_TRUE(r.Skip(1));
    std::uint16_t v = 7;
    EXPECT_FALSE(r.Read(v));  // one byte left
    EXPECT_EQ(v, 7);
    EXPECT_EQ(r.PeekAt<std::uint32_t>(0), 0x01020304u);
    EXPECT_EQ(r.Position(), 8u);
    std::uint8_t out[2] = {0, 0};
    EXPECT_FALSE(r.CopyTo(out, 2));
    EXPECT_EQ(out[0], 0);
    r.SetOrder(ByteOrder::Little);
    r.ClearError();
    r.Seek(0);
    EXPECT_EQ(r.I32(), 0x04030201);
    ByteReader empty;
    EXPECT_EQ(empty.F64(), 0.0);
    EXPECT_FALSE(empty.ok());
}
