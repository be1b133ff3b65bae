// One workbook that SheetJS saved as .xls, .xlsx and .xlsb (tests/peers/make_three_workbooks.js):
// our three Excel readers must deliver the same cells. Sheet labels are left out: each format
// carries them differently.
#include <gtest/gtest.h>

#include "tests/formats/text/TextTestSupport.h"

using namespace kelto::test;

namespace {

const std::string kTrio = std::string(KELTO_CORPUS_DIR) + "/workbook_trio/trio";

std::string CellOf(const EntryRead& r, int col, int row) {
    if (r.IsMissing(col, row)) return "-";
    // Texts with leading zeros ("00123") are kept as texts but count as numbers.
    return (r.table.IsString(col, row) ? "t:" : "n:") + r.Text(col, row);
}

}  // namespace

TEST(ThreeExcelReaders, GiveTheSameCellsForOneWorkbook) {
    const std::vector<std::pair<std::string, std::string>> readers{
        {"Excel File", ".xls"}, {"ExcelXSLX File", ".xlsx"}, {"ExcelXLSB File", ".xlsb"}};
    std::vector<std::unique_ptr<EntryRead>> reads;
    for (const auto& [format, extension] : readers) {
        reads.push_back(ReadThroughEntryPoints(format, kTrio + extension));
        ASSERT_TRUE(reads.back()->Ok()) << extension << ": " << reads.back()->error;
    }
    // A few anchors, so that three readers agreeing on nothing cannot pass.
    const EntryRead& xlsx = *reads[1];
    ASSERT_EQ(xlsx.Size(), "6x12");
    EXPECT_EQ(CellOf(xlsx, 2, 5), "t:héllo wörld");
    EXPECT_EQ(CellOf(xlsx, 5, 5), "n:00123");
    EXPECT_EQ(CellOf(xlsx, 2, 6), "t:TRUE");
    EXPECT_EQ(CellOf(xlsx, 2, 7), "t:#DIV/0!");
    EXPECT_EQ(CellOf(xlsx, 3, 9), "t:2023-03-15 18:00:00");
    EXPECT_EQ(CellOf(xlsx, 4, 2), "n:-1");
    EXPECT_EQ(CellOf(xlsx, 5, 6), "t:TRUE");
    EXPECT_EQ(CellOf(xlsx, 1, 11), "-");
    for (std::size_t a = 0; a < reads.size(); ++a)
        for (std::size_t b = a + 1; b < reads.size(); ++b) {
            SCOPED_TRACE(readers[a].second + " against " + readers[b].second);
            ASSERT_EQ(reads[a]->Size(), reads[b]->Size());
            for (int row = 1; row <= reads[a]->Rows(); ++row)
                for (int col = 1; col <= reads[a]->Cols(); ++col)
                    EXPECT_EQ(CellOf(*reads[a], col, row), CellOf(*reads[b], col, row)) << "column " << col << ", row " << row;
        }
}
