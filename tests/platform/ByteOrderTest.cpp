#include "platform/ByteOrder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace kelto::platform;

namespace {
const std::vector<std::uint8_t> kBytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
}

TEST(ByteOrder, IntegersAndFloatsInBothOrdersAtAnyAlignment) {
    const std::uint8_t* p = kBytes.data() + 1;  // unaligned for every width
    EXPECT_EQ(LoadLE<std::uint16_t>(p), 0x0302);
    EXPECT_EQ(LoadBE<std::uint32_t>(p), 0x02030405u);
    EXPECT_EQ(LoadBE<std::uint64_t>(p), 0x0203040506070809ull);
    const std::uint8_t neg[] = {0xFE, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(LoadLE<std::int32_t>(neg), -2);
    EXPECT_EQ(LoadBE<std::int16_t>(neg), -257);
    const std::uint8_t oneLE[] = {0x00, 0x00, 0x80, 0x3F}, piBE[] = {0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18};
    EXPECT_EQ(LoadLE<float>(oneLE), 1.0f);
    EXPECT_EQ(LoadBE<double>(piBE), 3.141592653589793);
    std::uint8_t buf[8];
    StoreBE<double>(buf, -0.0);
    EXPECT_EQ(buf[0], 0x80);
    EXPECT_TRUE(std::signbit(LoadBE<double>(buf)));
    StoreLE<std::uint32_t>(buf, 0xA1B2C3D4u);
    EXPECT_EQ(LoadBE<std::uint32_t>(buf), 0xD4C3B2A1u);
    // Checked loads refuse what does not lie wholly inside, without wrapping around.
    EXPECT_EQ(LoadLEAt<std::uint32_t>(kBytes, 5), 0x09080706u);
    EXPECT_FALSE(LoadLEAt<std::uint32_t>(kBytes, 6));
    EXPECT_FALSE(LoadBEAt<std::uint8_t>(kBytes, 9));
    EXPECT_FALSE(LoadLEAt<std::uint16_t>(kBytes, SIZE_MAX));
}

TEST(ByteReader, FailsStickyWithoutMovingOrCopying) {
    ByteReader r(kBytes);
    EXPECT_EQ(r.ReadBE<std::uint16_t>(), 0x0102);
    EXPECT_EQ(r.U64(), 0u);  // only 7 remain
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.Position(), 2u);  // a failed read does not move
    EXPECT_EQ(r.U32(), 0x06050403u);  // later reads work, the failure stays
    EXPECT_FALSE(r.ok());
    EXPECT_FALSE(r.Seek(10));
    EXPECT_TRUE(r.Seek(8) && r.Has(1) && !r.Has(2));
    std::uint16_t v = 7;
    std::uint8_t out[2] = {0, 0};
    EXPECT_FALSE(r.Read(v) || r.CopyTo(out, 2) || !r.Bytes(2).empty());
    EXPECT_EQ(v, 7);  // nothing written, nothing moved
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(r.Position(), 8u);
    ByteReader big(kBytes);
    big.SetOrder(ByteOrder::Big);
    EXPECT_EQ(big.I16(), 0x0102);
}
