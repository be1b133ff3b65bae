// The file base: size pass caching, message truncation, the base Write.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "plugin/SpreadsheetFile.h"

namespace {

class SizedFile : public SpreadsheetFile {
public:
    void GetErrorMessage(char* b, unsigned int n) override { SpreadsheetFile::GetErrorMessage(b, n); }
    int Open(bool, const char*, QmImportOpenOptions*) override { return 0; }
    int Read(ReadSpreadSheetData*) override { return 0; }
    int passes = 0;
    int failFirst = 0;  // how many size passes fail before one succeeds

protected:
    int EstablishSize() override {
        ++passes;
        if (failFirst-- > 0) return Fail(kSizeError);
        numCols = 3, numRows = 2, sizeKnown = true;
        return 0;
    }
};

}  // namespace

TEST(SpreadsheetFile, SizePassRunsOnceAfterSuccessAndIsRetriedAfterFailure) {
    SizedFile f;
    f.failFirst = 1;
    EXPECT_EQ(f.GetNumCols(), -1);
    EXPECT_EQ(f.GetNumRows(), 2);  // retried: the failed pass left the size unknown
    EXPECT_EQ(f.GetNumCols(), 3);
    EXPECT_EQ(f.passes, 2);
}

TEST(SpreadsheetFile, BaseWriteFailsAndItsMessageIsCutToTheBuffer) {
    SizedFile f;
    EXPECT_EQ(f.Write(nullptr), 1);
    EXPECT_EQ(f.GetStatus(), 1);
    const std::string full = "This function is not implemented for this file format.";
    for (unsigned size : {1u, 5u, unsigned(full.size()), unsigned(full.size() + 1)}) {
        char buffer[100];
        std::memset(buffer, '#', sizeof buffer);
        f.GetErrorMessage(buffer, size);
        EXPECT_EQ(buffer, full.substr(0, size - 1)) << size;  // size 1 writes only the NUL
    }
    char untouched = 'u';
    f.GetErrorMessage(&untouched, 0);  // no room at all: nothing written
    EXPECT_EQ(untouched, 'u');
}
