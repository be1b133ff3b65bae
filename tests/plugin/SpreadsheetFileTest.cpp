// The file base: size pass caching, common messages and their truncation, the base Write.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "plugin/ImportSpecBase.h"
#include "plugin/SpreadsheetFile.h"

namespace {

class SizedFile : public SpreadsheetFile {
public:
    void GetErrorMessage(char* b, unsigned int n) override { SpreadsheetFile::GetErrorMessage(b, n); }
    int Open(bool, const char*, QmImportOpenOptions*) override { return 0; }
    int Read(ReadSpreadSheetData*) override { return 0; }
    void SetStatus(int s) { status = s; }
    int passes = 0;
    int failFirst = 0;  // how many size passes fail before one succeeds

protected:
    int EstablishSize() override {
        ++passes;
        if (failFirst > 0) {
            --failFirst;
            return Fail(kSizeError);
        }
        numCols = 3;
        numRows = 2;
        sizeKnown = true;
        return 0;
    }
};

std::string Message(SpreadsheetFile& f, unsigned size = 256) {
    char buffer[300];
    std::memset(buffer, '#', sizeof buffer);
    f.GetErrorMessage(buffer, size);
    return buffer;
}

class Spec : public ImportSpecBase {
public:
    void AnnounceSize(int, int) override {}
    void SetColumnRole(int, int) override {}
    void SetHeaderRole(int, int) override {}
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

TEST(SpreadsheetFile, CommonMessages) {
    SizedFile f;
    EXPECT_EQ(Message(f), "");
    f.SetStatus(1);
    EXPECT_EQ(Message(f), "This function is not implemented for this file format.");
    f.SetStatus(3);
    EXPECT_EQ(Message(f), "Tried to write to the file when it was opened for reading or vice versa.");
    f.SetStatus(4);
    EXPECT_EQ(Message(f), "");
    f.SetStatus(6);
    EXPECT_EQ(Message(f), "No further information available.");
    f.SetStatus(-1);
    EXPECT_EQ(Message(f), "No further information available.");
    f.SetStatus(1000);
    EXPECT_EQ(Message(f), "No further information available.");
}

TEST(SpreadsheetFile, MessageIsCutToTheBuffer) {
    SizedFile f;
    f.SetStatus(1);
    EXPECT_EQ(Message(f, 1), "");
    EXPECT_EQ(Message(f, 5), "This");
    std::string full = "This function is not implemented for this file format.";
    EXPECT_EQ(Message(f, full.size()), full.substr(0, full.size() - 1));
    EXPECT_EQ(Message(f, full.size() + 1), full);
    char untouched = 'u';
    f.GetErrorMessage(&untouched, 0);  // no room at all: nothing written
    EXPECT_EQ(untouched, 'u');
}

TEST(SpreadsheetFile, BaseWriteCloseAndSpec) {
    SizedFile f;
    EXPECT_EQ(f.Write(nullptr), 1);
    EXPECT_EQ(!f, 1);
    EXPECT_EQ(f.GetStatus(), 1);
    f.Close();
    EXPECT_EQ(f.GetStatus(), 0);
    EXPECT_EQ(f.GetWarningMessage(), nullptr);
    EXPECT_EQ(f.GetReadFile(), nullptr);
    EXPECT_EQ(f.GetFileReadOptions("x", false), nullptr);
    Spec spec;
    spec.rolesSet = true;
    f.SetImportSpec(&spec);
    EXPECT_FALSE(spec.rolesSet);
}
