#include "outside/qmstream/UStream.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

TEST(UStreamableData, RecordLayout) {
    std::stringstream io;
    ASSERT_TRUE(UStreamableData(1, "FSMat").Write(io));
    // The record is the name as a binary string, then the version in 2 bytes.
    EXPECT_EQ(io.str(), std::string("\x05\0\0\0FSMat\x01\0", 11));
}

TEST(UStreamableData, OwnOrOlderVersionIsAcceptedOtherNameNewerVersionOrDamageRefused) {
    // What a version-2 "FSMat" reader says to records of other names, versions and damage.
    const std::pair<std::string, bool> cases[] = {
        {std::string("\x05\0\0\0FSVec\x01\0", 11), false},
        {std::string("\x05\0\0\0" "fsmat\x01\0", 11), false},  // names differ in case
        {std::string("\x05\0\0\0FSMat\x03\0", 11), false},     // newer than the reader
        {std::string("\x05\0\0\0FSMat\x01\0", 11), true},      // older: the caller decides what it can read
        {std::string("\x05\0\0\0FSMat\x02\0", 11), true},
        {"", false},
        {std::string("\x05\0\0\0FSMat", 9), false},
        {std::string("\xff\xff\xff\x7f" "FSMat\x01\0", 11), false},
    };
    for (const auto& [bytes, accepted] : cases) {
        std::istringstream in(bytes);
        UStreamableData v2(2, "FSMat");
        EXPECT_EQ(v2.Check(in), accepted) << testing::PrintToString(bytes);
        EXPECT_EQ(v2.GetMyUStreamVersionNumber(), 2);
    }
    std::istringstream newer(std::string("\x05\0\0\0FSMat\x03\0", 11));
    UStreamableData v2(2, "FSMat");
    EXPECT_FALSE(v2.Check(newer));
    EXPECT_EQ(v2.GetUStreamVersionNumber(), 3);  // the version found, for the caller's message
}
