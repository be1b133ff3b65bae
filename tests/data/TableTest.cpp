// The in-memory table as readers fill it and writers read it, and tables combined from parts.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <locale>
#include <stdexcept>

#include "data/CombinedSpreadsheetData.h"

namespace {

// A table of w x h texts "<tag><col>.<row>".
std::unique_ptr<FloatStringSpreadsheetData> Part(int w, int h, const std::string& tag) {
    auto t = std::make_unique<FloatStringSpreadsheetData>();
    t->SetDataSize(w, h);
    for (int r = 1; r <= h; ++r)
        for (int c = 1; c <= w; ++c) t->Set(c, r, (tag + std::to_string(c) + "." + std::to_string(r)).c_str());
    return t;
}

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no exception";
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
    t.Set(3, 2, 1234567.0);  // the inherited overloads pass numbers on as floats
    EXPECT_FALSE(t.IsInt64(3, 2));

    int c = 0, r = 0;
    EXPECT_TRUE(t.GetFirstDataCell(&c, &r) && c == 1 && r == 1);
    for (auto [col, row] : std::initializer_list<std::pair<int, int>>{{0, 1}, {1, 0}, {4, 1}, {1, 3}, {-5, 1 << 30}}) {
        t.Set(col, row, "stray");  // outside the size: ignored, not written past the rows
        EXPECT_FALSE(t.IsString(col, row));
    }
}

TEST(Table, WritersGetTextsThatReadBackAsTheSameCells) {
    // What the text writers put into files: every digit a float holds, no digit grouping.
    const std::vector<std::pair<const char*, const char*>> cells = {
        {"1234.5678", "1234.5677"}, {"3.14159265358979", "3.1415927"}, {"-0.000012345678", "-1.2345678e-05"},
        {"1234567.5", "1234567.5"}, {"1e20", "1e+20"}, {"0.1", "0.1"}, {"-7", "-7"}, {"12345678901", "12345678901"},
        {"007", "007"}, {"a.b", "a.b"}, {"", ""}, {"-99", ""}};
    FloatStringSpreadsheetData t;
    t.SetDataSize(static_cast<int>(cells.size()), 1);
    for (std::size_t i = 0; i < cells.size(); ++i) t.Set(int(i) + 1, 1, cells[i].first);
    auto expectReadBack = [&](const std::function<std::string(const std::string&)>& toC) {
        for (int c = 1; c <= t.GetNumberOfColumns(); ++c) {
            const std::string text = t.GetStringValue(c, 1);
            EXPECT_EQ(toC(text), cells[c - 1].second) << cells[c - 1].first;
            FloatString back;
            back.Set(toC(text));
            EXPECT_EQ(back.GetFloatValue(), t.GetFloatData(c, 1)) << text;
            const FloatString& cell = t.GetFloatStringMatrix()[1][c];
            EXPECT_EQ(back.IsString(), cell.IsString()) << text;
            EXPECT_EQ(back.IsInt64(), cell.IsInt64()) << text;
        }
    };
    expectReadBack([](const std::string& s) { return s; });

    // A German locale, for C and C++ alike: its decimal comma, but no "1.234,5".
    std::locale german;
    try {
        german = std::locale("de_DE.UTF-8");
    } catch (const std::runtime_error&) {
        GTEST_SKIP() << "no de_DE.UTF-8 locale installed";
    }
    std::locale previous = std::locale::global(german);
    EXPECT_EQ(t.GetStringValue(1, 1), "1234,5677");
    expectReadBack([](std::string s) {
        if (s.find_first_not_of("-0123456789,e+") == std::string::npos) std::replace(s.begin(), s.end(), ',', '.');
        return s;
    });
    std::locale::global(previous);
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

TEST(Combined, StackedPartsAndTheirBoundaries) {
    auto all = Combined(false);
    EXPECT_EQ(all->GetNumberOfColumns() * 10 + all->GetNumberOfRows(), 56);
    EXPECT_EQ(all->GetStringValue(3, 2), "a3.2");
    EXPECT_EQ(all->GetStringValue(4, 3), "b4.1");
    EXPECT_EQ(all->GetStringValue(5, 6), "b5.4");
    EXPECT_EQ(all->GetStringValue(4, 1), "");  // short of the first part's width: missing
    EXPECT_EQ(all->GetFloatData(4, 1), -99.0f);
    EXPECT_FALSE(all->IsString(4, 1) || all->IsMisVal(4, 1));
    EXPECT_EQ(ErrorOf([&] { all->GetStringValue(1, 7); }), "1, 7 is out of range for 5, 6");

    all->Set(5, 1, "grown");  // beyond the first part's width: that part grows
    EXPECT_EQ(all->GetData(0)->GetNumberOfColumns() * 10 + all->GetData(0)->GetNumberOfRows(), 52);
    EXPECT_EQ(all->GetStringValue(5, 1), "grown");
    EXPECT_EQ(all->GetNumberOfColumns() * 10 + all->GetNumberOfRows(), 56);
    EXPECT_EQ(ErrorOf([&] { all->Set(1, 7, "x"); }), "1, 7 is out of range for 5, 6");
    EXPECT_EQ(ErrorOf([&] { all->SetDataSize(5, 6); }),
              "CombinedSpreadsheetData::SetDataSize is not supported. Resize in original data");
}

TEST(Combined, SideBySide) {
    auto all = Combined(true);
    EXPECT_EQ(all->GetNumberOfColumns() * 10 + all->GetNumberOfRows(), 84);
    EXPECT_EQ(all->GetStringValue(4, 1), "b1.1");
    EXPECT_EQ(all->GetStringValue(8, 4), "b5.4");
    EXPECT_EQ(all->GetStringValue(1, 3), "");  // below the first part
    EXPECT_EQ(ErrorOf([&] { all->GetFloatData(9, 1); }), "9, 1 is out of range for 8, 4");
    all->Set(2, 4, "grown");
    EXPECT_EQ(all->GetData(0)->GetNumberOfRows(), 4);
    EXPECT_EQ(all->GetStringValue(2, 4), "grown");
}

TEST(Combined, EmptyAndPartsWithTheirOwnRowOrder) {
    CombinedSpreadsheetData none;
    none.AddSpreadsheetData(nullptr);
    int c = 0, r = 0;
    EXPECT_FALSE(none.GetFirstDataCell(&c, &r));
    EXPECT_EQ(c * 10 + r, 11);
    EXPECT_EQ(none.GetNumberOfColumns() + none.GetNumberOfRows(), 0);
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
