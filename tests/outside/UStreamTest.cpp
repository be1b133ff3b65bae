#include "outside/qmstream/UStream.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "outside/utl/BinaryIO.h"

TEST(UStreamableData, RecordWrittenIsAcceptedBackWithItsVersion) {
    UStreamableData mine(1, "FSMat");
    std::stringstream io;
    ASSERT_TRUE(mine.Write(io));
    // The record is the name as a binary string, then the version in 2 bytes.
    EXPECT_EQ(io.str(), std::string("\x05\0\0\0FSMat\x01\0", 11));
    UStreamableData reader(1, "FSMat");
    EXPECT_TRUE(reader.Check(io));
    EXPECT_EQ(reader.GetUStreamVersionNumber(), 1);
    EXPECT_EQ(reader.GetMyUStreamVersionNumber(), 1);
}

TEST(UStreamableData, OtherNameOrNewerVersionIsRefused) {
    std::stringstream other;
    UStreamableData(1, "FSVec").Write(other);
    UStreamableData matrix(1, "FSMat");
    EXPECT_FALSE(matrix.Check(other));

    std::stringstream newer;
    UStreamableData(3, "FSMat").Write(newer);
    UStreamableData v2(2, "FSMat");
    EXPECT_FALSE(v2.Check(newer));
    EXPECT_EQ(v2.GetUStreamVersionNumber(), 3);
    EXPECT_EQ(v2.GetMyUStreamVersionNumber(), 2);

    // An older record is accepted; the caller decides what it can read from its version.
    std::stringstream older;
    UStreamableData(1, "FSMat").Write(older);
    EXPECT_TRUE(v2.Check(older));
    EXPECT_EQ(v2.GetUStreamVersionNumber(), 1);

    // Names differing only in case are different records.
    std::stringstream cased;
    UStreamableData(1, "fsmat").Write(cased);
    EXPECT_FALSE(matrix.Check(cased));
}

TEST(UStreamableData, DamagedRecordsAreRefused) {
    UStreamableData mine(1, "FSMat");
    std::istringstream empty("");
    EXPECT_FALSE(mine.Check(empty));
    std::istringstream noVersion(std::string("\x05\0\0\0FSMat", 9));
    EXPECT_FALSE(mine.Check(noVersion));
    std::istringstream hugeName(std::string("\xff\xff\xff\x7f" "FSMat\x01\0", 11));
    EXPECT_FALSE(mine.Check(hugeName));
}
