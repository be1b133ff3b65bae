// The in-memory table as readers fill it and writers read it, and tables combined from parts.
#include <gtest/gtest.h>

#include <algorithm>
#include <locale>

#include "data/CombinedSpreadsheetData.h"
#include "data/Show.h"

namespace {

// A table of w x h texts "<tag><col>.<row>".
std::unique_ptr<FloatStringSpreadsheetData> Part(int w, int h, const std::string& tag) {
    auto t = std::make_unique<FloatStringSpreadsheetData>();
    t->SetDataSize(w, h);
    for (int r = 1; r <= h; ++r)
        for (int c = 1; c <= w; ++c) t->Set(c, r, (tag + std::to_string(c) + "." + std::to_string(r)).c_str());
    return t;
}

std::string Size(const SpreadSheetDataBase& t) {
    return std::to_string(t.GetNumberOfColumns()) + "x" + std::to_string(t.GetNumberOfRows());
}

}  // namespace

TEST(Table, CellsAsReadersAndWritersSeeThem) {
    FloatStringSpreadsheetData t;
    t.Set(1, 1, "ignored before the first SetDataSize");
    EXPECT_EQ(Size(t), "0x0");
    EXPECT_FALSE(t.IsFloat(1, 1) || t.IsMisVal(1, 1) || t.IsString(1, 1) || t.IsInt64(1, 1));
    EXPECT_EQ(t.GetFloatData(1, 1), -99.0f);

    t.SetDataSize(3, 2);
    EXPECT_TRUE(t.IsMisVal(1, 1) && !t.IsString(1, 1) && !t.IsFloat(1, 1));
    t.Set(2, 1, "0042");  // a number to writers, kept as its text
    EXPECT_TRUE(!t.IsString(2, 1) && t.GetFloatData(2, 1) == 42.0f && t.GetStringValue(2, 1) == "0042");
    t.Set(1, 1, "abc");
    EXPECT_TRUE(t.IsString(1, 1) && !t.IsFloat(1, 1) && !t.IsMisVal(1, 1));
    t.Set(3, 1, "1234567");
    EXPECT_TRUE(t.IsInt64(3, 1) && t.IsFloat(3, 1) && t.GetInt64(3, 1) == 1234567);

    for (auto [col, row] : std::initializer_list<std::pair<int, int>>{{0, 1}, {1, 0}, {4, 1}, {1, 3}, {-5, 1 << 30}}) {
        t.Set(col, row, "stray");  // outside the size: ignored, not written past the rows
        EXPECT_FALSE(t.IsString(col, row));
    }

    // Resizing keeps the top-left cells.
    t.SetDataSize(1, 1);
    t.SetDataSize(4, 3);
    EXPECT_EQ(Size(t), "4x3");
    EXPECT_TRUE(t.IsString(1, 1) && t.IsMisVal(2, 1) && t.IsMisVal(4, 3));
}

TEST(Table, WritersGetTextsThatReadBackAsTheSameCells) {
    // What the text writers put into files: every digit a float holds, and no digit grouping.
    const char* texts[] = {"1234.5678", "3.14159265358979", "-0.000012345678", "1234567.5", "1e20", "0.1",
                           "12345678901", "007", "a.b", "", "-99"};
    FloatStringSpreadsheetData t;
    t.SetDataSize(static_cast<int>(std::size(texts)), 1);
    for (int c = 1; c <= t.GetNumberOfColumns(); ++c) t.Set(c, 1, texts[c - 1]);
    auto expectReadBack = [&](char point) {
        for (int c = 1; c <= t.GetNumberOfColumns(); ++c) {
            std::string text = t.GetStringValue(c, 1);
            if (text.find_first_not_of("-+0123456789e,") == std::string::npos) std::replace(text.begin(), text.end(), point, '.');
            FloatString back;
            back.Set(text);
            EXPECT_EQ(Show(back), Show(t.GetFloatStringMatrix()[1][c])) << text;
        }
    };
    expectReadBack('.');
    EXPECT_EQ(t.GetStringValue(1, 1), "1234.5677");

    // A German locale, for C and C++ alike: its decimal comma, but no "1.234,5".
    std::locale german;
    try {
        german = std::locale("de_DE.UTF-8");
    } catch (const std::runtime_error&) {
        GTEST_SKIP() << "no de_DE.UTF-8 locale installed";
    }
    std::locale previous = std::locale::global(german);
    EXPECT_EQ(t.GetStringValue(1, 1), "1234,5677");
    expectReadBack(',');
    std::locale::global(previous);
}

namespace {

class SkippingPart : public FloatStringSpreadsheetData {  // a row order and first cell of its own
public:
    int GetNextRow(int row) const override { return row + 2; }
    bool GetFirstDataCell(int* col, int* row) const override { return *col = 2, *row = 3, true; }
};

std::unique_ptr<CombinedSpreadsheetData> Combined(bool sideBySide) {
    auto all = std::make_unique<CombinedSpreadsheetData>();
    all->AddSpreadsheetData(Part(3, 2, "a"));
    all->AddSpreadsheetData(Part(5, 4, "b"));
    all->SetSideBySide(sideBySide);
    return all;
}

}  // namespace

TEST(Combined, PartsStackedAndSideBySideAndTheirBoundaries) {
    auto all = Combined(false);
    EXPECT_EQ(Size(*all), "5x6");
    EXPECT_EQ(all->GetStringValue(3, 2) + all->GetStringValue(4, 3) + all->GetStringValue(5, 6), "a3.2b4.1b5.4");
    EXPECT_EQ(all->GetStringValue(4, 1), "");  // short of the first part's width: missing
    EXPECT_EQ(all->GetFloatData(4, 1), -99.0f);
    EXPECT_FALSE(all->IsString(4, 1) || all->IsMisVal(4, 1));
    EXPECT_EQ(ErrorOf([&] { all->GetStringValue(1, 7); }), "1, 7 is out of range for 5, 6");
    all->Set(5, 1, "grown");  // beyond the first part's width: that part grows
    EXPECT_EQ(Size(*all->GetData(0)) + Size(*all) + all->GetStringValue(5, 1), "5x25x6grown");
    EXPECT_EQ(ErrorOf([&] { all->Set(1, 7, "x"); }), "1, 7 is out of range for 5, 6");
    EXPECT_EQ(ErrorOf([&] { all->SetDataSize(5, 6); }),
              "CombinedSpreadsheetData::SetDataSize is not supported. Resize in original data");

    all = Combined(true);
    EXPECT_EQ(Size(*all), "8x4");
    EXPECT_EQ(all->GetStringValue(4, 1) + all->GetStringValue(8, 4), "b1.1b5.4");
    EXPECT_EQ(all->GetStringValue(1, 3), "");  // below the first part
    EXPECT_EQ(ErrorOf([&] { all->GetFloatData(9, 1); }), "9, 1 is out of range for 8, 4");
    all->Set(2, 4, "grown");
    EXPECT_EQ(Size(*all->GetData(0)) + all->GetStringValue(2, 4), "3x4grown");
}

TEST(Combined, EmptyAndPartsWithTheirOwnRowOrder) {
    CombinedSpreadsheetData none;
    none.AddSpreadsheetData(nullptr);
    int c = 0, r = 0;
    EXPECT_FALSE(none.GetFirstDataCell(&c, &r));
    EXPECT_EQ(c * 10 + r, 11);
    EXPECT_EQ(Size(none), "0x0");
    EXPECT_EQ(ErrorOf([&] { none.IsFloat(1, 1); }), "1, 1 is out of range for 0, 0");

    CombinedSpreadsheetData all;
    auto first = std::make_unique<SkippingPart>();
    first->SetDataSize(2, 4);
    all.AddSpreadsheetData(std::move(first));
    all.AddSpreadsheetData(Part(2, 3, "p"));
    EXPECT_TRUE(all.GetFirstDataCell(&c, &r));
    EXPECT_EQ(c * 10 + r, 23);
    EXPECT_EQ(all.GetNextRow(1), 3);  // the first part's step
    EXPECT_EQ(all.GetNextRow(4), 6);  // kept across the boundary
    EXPECT_EQ(all.GetNextRow(5), 6);  // the second part's own order
    EXPECT_EQ(all.GetNextRow(0), 1);  // not a cell of any part
}
