// The in-memory table as readers fill it and writers read it.
#include <gtest/gtest.h>

#include "data/SpreadsheetData.h"

namespace {

// A table of w x h texts "<tag><col>.<row>".
std::unique_ptr<FloatStringSpreadsheetData> Part(int w, int h, const std::string& tag) {
    auto t = std::make_unique<FloatStringSpreadsheetData>();
    t->SetDataSize(w, h);
    for (int r = 1; r <= h; ++r)
        for (int c = 1; c <= w; ++c) t->Set(c, r, (tag + std::to_string(c) + "." + std::to_string(r)).c_str());
    return t;
}

}  // namespace

TEST(Table, CellsAsReadersAndWritersSeeThem) {
    FloatStringSpreadsheetData t;
    t.Set(1, 1, "ignored before the first SetDataSize");
    EXPECT_EQ(t.GetNumberOfColumns() + t.GetNumberOfRows(), 0);
    EXPECT_FALSE(t.IsFloat(1, 1) || t.IsMisVal(1, 1) || t.IsString(1, 1) || t.IsInt64(1, 1));
    EXPECT_EQ(t.GetFloatData(1, 1), -99.0f);

    t.SetDataSize(3, 2);
    EXPECT_TRUE(t.IsMisVal(1, 1));
    EXPECT_FALSE(t.IsString(1, 1) || t.IsFloat(1, 1));
    t.Set(2, 1, "0042");
    EXPECT_FALSE(t.IsString(2, 1));
    EXPECT_EQ(t.GetFloatData(2, 1), 42.0f);
    EXPECT_EQ(t.GetStringValue(2, 1), "0042");
    t.Set(1, 1, "abc");
    EXPECT_TRUE(t.IsString(1, 1) && !t.IsFloat(1, 1) && !t.IsMisVal(1, 1));
    t.Set(3, 1, "1234567");
    EXPECT_TRUE(t.IsInt64(3, 1) && t.IsFloat(3, 1));
    EXPECT_EQ(t.GetInt64(3, 1), 1234567);
    t.Set(2, 2, "1234567.5");
    EXPECT_EQ(t.GetStringValue(2, 2), "1.23457e+06");
    t.Set(3, 2, 1234567.0);  // the inherited overloads pass numbers on as floats
    EXPECT_FALSE(t.IsInt64(3, 2));

    int c = 0, r = 0;
    EXPECT_TRUE(t.GetFirstDataCell(&c, &r) && c == 1 && r == 1);
    for (auto [col, row] : std::initializer_list<std::pair<int, int>>{{0, 1}, {1, 0}, {4, 1}, {1, 3}, {-5, 1 << 30}}) {
        t.Set(col, row, "stray");  // outside the size: ignored, not written past the rows
        EXPECT_FALSE(t.IsString(col, row));
    }
}

TEST(Table, ResizingKeepsTheTopLeftCells) {
    auto t = Part(3, 3, "c");
    t->SetDataSize(2, 2);
    EXPECT_EQ(t->GetStringValue(2, 2), "c2.2");
    EXPECT_EQ(t->GetNumberOfColumns() * 10 + t->GetNumberOfRows(), 22);
    t->SetDataSize(4, 3);
    EXPECT_EQ(t->GetStringValue(2, 2), "c2.2");
    EXPECT_TRUE(t->IsMisVal(4, 3) && t->IsMisVal(3, 1));
}
