// The columnar table against the row table: the same texts give the same kinds and values
// (the kinds `kelto-import show --json` prints), whether set one by one or read from the text
// samples; and what a writer takes from it reads back as the same table.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "HostTestSupport.h"
#include "data/FloatString.h"
#include "host/ColumnarSpreadsheetData.h"
#include "host/HostRead.h"
#include "outside/utl/Exception.h"
#include "plugin/TableBound.h"

namespace fs = std::filesystem;
using hosttest::TempDir;
using hosttest::WriteFile;

namespace {

// The kind `kelto-import show --json` gives a row-table cell (tools/import/CellText.cpp).
CellKind KindOf(const FloatString& cell) {
    if (cell.IsMissing(false)) return CellKind::Missing;
    if (cell.IsString()) return CellKind::Text;
    if (cell.IsInt64()) return CellKind::Integer;
    return std::isfinite(cell.GetFloatValue()) ? CellKind::Number : CellKind::Missing;
}

const char* Name(CellKind k) {
    static const char* names[] = {"Missing", "Number", "Integer", "Text"};
    return names[static_cast<int>(k)];
}

// Every cell of the columnar table against the row table's cell in the same place: kind,
// and the value of that kind. Also checks the column vectors' shape.
void ExpectSameCells(const FloatStringSpreadsheetData& rows, const ColumnarSpreadsheetData& columns,
                     const std::string& what) {
    ASSERT_EQ(columns.GetNumberOfColumns(), rows.GetNumberOfColumns()) << what;
    ASSERT_EQ(columns.GetNumberOfRows(), rows.GetNumberOfRows()) << what;
    for (int c = 1; c <= rows.GetNumberOfColumns(); ++c) {
        const ColumnarColumn& col = columns.Column(c);
        const std::size_t n = static_cast<std::size_t>(rows.GetNumberOfRows());
        ASSERT_EQ(col.kinds.size(), n);
        ASSERT_EQ(col.numbers.size(), n);
        ASSERT_TRUE(col.integers.empty() || col.integers.size() == n);
        std::size_t text = 0;
        for (int r = 1; r <= rows.GetNumberOfRows(); ++r) {
            const FloatString& cell = rows.GetFloatStringMatrix().Cell(c, r);
            const CellKind kind = col.kinds[r - 1];
            SCOPED_TRACE(what + " cell (" + std::to_string(c) + ", " + std::to_string(r) + ") " +
                         cell.GetStringValue(EFloatType::General, -1, true));
            ASSERT_STREQ(Name(kind), Name(KindOf(cell)));
            EXPECT_EQ(kind == CellKind::Number, !std::isnan(col.numbers[r - 1]));
            switch (kind) {
                case CellKind::Number:
                    EXPECT_EQ(col.numbers[r - 1], cell.GetFloatValue());
                    break;
                case CellKind::Integer:
                    EXPECT_EQ(col.integers.at(r - 1), cell.GetIntValue());
                    break;
                case CellKind::Text:
                    ASSERT_LT(text, col.texts.size());
                    EXPECT_EQ(col.texts[text].first, r - 1);
                    EXPECT_EQ(col.texts[text].second, cell.GetStringValue(EFloatType::General, -1, true));
                    ++text;
                    break;
                case CellKind::Missing:
                    break;
            }
            // The writer's view agrees too.
            EXPECT_EQ(columns.IsFloat(c, r), rows.IsFloat(c, r));
            EXPECT_EQ(columns.IsMisVal(c, r), rows.IsMisVal(c, r));
            EXPECT_EQ(columns.IsString(c, r), rows.IsString(c, r));
            EXPECT_EQ(columns.IsInt64(c, r), rows.IsInt64(c, r));
            EXPECT_EQ(columns.GetStringValue(c, r), rows.GetStringValue(c, r));
            EXPECT_EQ(columns.GetFloatData(c, r), rows.GetFloatData(c, r));
            EXPECT_EQ(columns.GetInt64(c, r), rows.GetInt64(c, r));
        }
        EXPECT_EQ(text, col.texts.size()) << what << " column " << c;
    }
}

kelto::host::ReadOutcome ReadInto(ImportHelperBase& helper, const std::string& path, SpreadsheetData& table) {
    kelto::host::ReadRequest request;
    request.paths = {path};
    return kelto::host::Read(helper, request, table);
}

std::vector<std::string> TextSamples() {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(KELTO_SOURCE_DIR "/samples")) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".txt" || ext == ".csv" || ext == ".dif") out.push_back(entry.path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

// Texts whose kind is easy to get wrong (CellTest.cpp pins the row table's answers), set into both tables.
TEST(ColumnarTable, TextsGetTheRowTablesKindsAndValues) {
    const std::vector<const char*> cases = {
        "1.5", "007", "00", "0", "-0", "0.5", "1e400", "1e-400", "-99", "-99.0", "", "   ", "12345678901",
        "-12345678901", "999990", "999991", "9223372036854775807", "9223372036854775808", "99999999999999999999999",
        "1234567.5", " 42 ", "+3", "1,5", "abc", "  padded text  ", "12\xC2\xA0", "e\xCC\x81t\xC3\xA9", "NaN", "inf",
        "0x1A", "1e5", "\xFF\xFE bytes", "-", ".", "1.", ".5",
    };
    FloatStringSpreadsheetData rows;
    ColumnarSpreadsheetData columns;
    rows.SetDataSize(2, static_cast<int>(cases.size()));
    columns.SetDataSize(2, static_cast<int>(cases.size()));
    for (std::size_t i = 0; i < cases.size(); ++i) {
        // Column 2 gets every text twice, over a cell of another kind, as a reader that
        // corrects a cell would.
        for (int col = 1; col <= 2; ++col) {
            if (col == 2) columns.Set(col, static_cast<int>(i) + 1, i % 2 ? "text first" : "5");
            rows.Set(col, static_cast<int>(i) + 1, cases[i]);
            columns.Set(col, static_cast<int>(i) + 1, cases[i]);
        }
    }
    ExpectSameCells(rows, columns, "texts");
    // Cells outside the size change nothing.
    columns.Set(3, 1, "x");
    columns.Set(1, 0, 1.0f);
    columns.Set(0, 1, std::int64_t{5});
    columns.Set(1, static_cast<int>(cases.size()) + 1, "x");
    ExpectSameCells(rows, columns, "after stray cells");
}

TEST(ColumnarTable, NumbersAndIntegersSetDirectly) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const std::vector<float> floats = {1.5f, -99.0f, nan, inf, -inf, 1e-40f, 0.0f, 3e38f};
    FloatStringSpreadsheetData rows;
    ColumnarSpreadsheetData columns;
    rows.SetDataSize(1, static_cast<int>(floats.size()));
    columns.SetDataSize(2, static_cast<int>(floats.size()));
    for (std::size_t i = 0; i < floats.size(); ++i) {
        rows.Set(1, static_cast<int>(i) + 1, floats[i]);
        columns.Set(1, static_cast<int>(i) + 1, floats[i]);
    }
    // Integers stay integers here (the row table rounds them to floats); -99 is missing.
    const std::vector<std::int64_t> ints = {std::int64_t{1} << 60, -99, 7};
    for (std::size_t i = 0; i < ints.size(); ++i) columns.Set(2, static_cast<int>(i) + 1, ints[i]);
    columns.Set(2, 4, 12);  // the int form too
    columns.SetDataSize(1, static_cast<int>(floats.size()));
    ExpectSameCells(rows, columns, "floats");
    columns.SetDataSize(2, static_cast<int>(floats.size()));
    EXPECT_TRUE(columns.Column(2).integers.empty()) << "a column added again starts empty";

    ColumnarSpreadsheetData t;
    t.SetDataSize(1, 5);
    for (int r = 1; r <= 3; ++r) t.Set(1, r, ints[r - 1]);
    t.Set(1, 4, 12);
    const ColumnarColumn& c = t.Column(1);
    EXPECT_EQ(c.kinds, (std::vector<CellKind>{CellKind::Integer, CellKind::Missing, CellKind::Integer, CellKind::Integer,
                                              CellKind::Missing}));
    EXPECT_EQ(c.integers, (std::vector<std::int64_t>{std::int64_t{1} << 60, 0, 7, 12, 0}));
    EXPECT_EQ(t.GetStringValue(1, 1), "1152921504606846976");
    EXPECT_TRUE(c.hasInteger && !c.hasNumber && !c.hasText);
}

TEST(ColumnarTable, ResizingKeepsCellsAndDropsTextsOfLostRows) {
    ColumnarSpreadsheetData t;
    t.SetDataSize(2, 4);
    for (int r = 1; r <= 4; ++r) t.Set(1, r, ("name " + std::to_string(r)).c_str());
    t.Set(2, 2, std::int64_t{123456789012});
    t.SetDataSize(3, 2);
    EXPECT_EQ(t.Column(1).texts, (std::vector<std::pair<int, std::string>>{{0, "name 1"}, {1, "name 2"}}));
    EXPECT_EQ(t.Column(2).integers, (std::vector<std::int64_t>{0, 123456789012}));
    t.SetDataSize(3, 3);
    EXPECT_EQ(t.Kind(1, 3), CellKind::Missing);
    EXPECT_TRUE(std::isnan(t.Column(1).numbers[2]));
    // Texts set out of row order end up in row order.
    t.Set(3, 3, "c");
    t.Set(3, 1, "a");
    t.Set(3, 2, "b");
    t.Set(3, 1, 2.0f);  // no longer a text
    EXPECT_EQ(t.Column(3).texts, (std::vector<std::pair<int, std::string>>{{1, "b"}, {2, "c"}}));
    // Taken columns leave nothing behind and take no more cells.
    ColumnarColumn taken = t.TakeColumn(3);
    EXPECT_EQ(taken.kinds.size(), 3u);
    EXPECT_EQ(taken.numbers[0], 2.0f);
    t.Set(3, 1, "ignored");
    EXPECT_EQ(t.Kind(3, 1), CellKind::Missing);
    EXPECT_EQ(t.GetStringValue(3, 2), "");
    EXPECT_THROW(t.SetDataSize(1 << 20, 1 << 20), kelto::TableTooLarge);
    EXPECT_EQ(t.GetNumberOfRows(), 3);
    t.RequestCancel();
    EXPECT_THROW(t.Set(1, 1, "x"), CancelException);
    t.ClearCancel();
    t.Set(1, 1, "x");
    EXPECT_EQ(t.Kind(1, 1), CellKind::Text);
}

// Every text sample read into both tables through the host's read.
TEST(ColumnarTable, TextSamplesReadIntoBothTablesAlike) {
    ImportHelperBase helper(nullptr, nullptr);
    const std::vector<std::string> samples = TextSamples();
    ASSERT_GE(samples.size(), 4u);
    for (const std::string& path : samples) {
        FloatStringSpreadsheetData rows;
        ColumnarSpreadsheetData columns;
        const kelto::host::ReadOutcome a = ReadInto(helper, path, rows);
        const kelto::host::ReadOutcome b = ReadInto(helper, path, columns);
        ASSERT_TRUE(a.ok && b.ok) << path << ": " << a.message << b.message;
        EXPECT_EQ(a.format, b.format);
        ExpectSameCells(rows, columns, path);
    }
}

// A table built column by column, written as text and read again.
TEST(ColumnarTable, BuiltColumnsWriteAndReadBack) {
    TempDir dir;
    ColumnarSpreadsheetData t;
    t.SetDataSize(3, 4);
    const float numbers[] = {1.25f, -99.0f, 3e-5f, 1e10f};
    const std::int64_t integers[] = {1, 12345678901234, -99, -5};
    t.SetColumnNumbers(1, numbers, 4);
    t.SetColumnIntegers(2, integers, 4);
    t.SetText(3, 1, "007");
    t.SetText(3, 2, "plain text");
    t.SetText(3, 4, "");
    EXPECT_THROW(t.SetColumnNumbers(4, numbers, 1), std::out_of_range);
    EXPECT_THROW(t.SetColumnNumbers(1, numbers, 5), std::out_of_range);

    ImportHelperBase helper(nullptr, nullptr);
    const std::string out = dir / "built.txt";
    ASSERT_TRUE(helper.WriteSpreadsheetFile(out.c_str(), 0, &t, nullptr)) << helper.GetErrorMessage();
    FloatStringSpreadsheetData back;
    ColumnarSpreadsheetData backColumns;
    ASSERT_TRUE(ReadInto(helper, out, back).ok);
    ASSERT_TRUE(ReadInto(helper, out, backColumns).ok);
    ExpectSameCells(back, backColumns, "written");
    ASSERT_EQ(back.GetNumberOfRows(), 4);
    const std::vector<std::string> expected = {"1.25|1|007", "|12345678901234|plain text", "3e-05||", "10000000000|-5|"};  // 1e10 is a whole number: it reads back exact
    for (int r = 1; r <= 4; ++r)
        EXPECT_EQ(back.GetStringValue(1, r) + "|" + back.GetStringValue(2, r) + "|" + back.GetStringValue(3, r),
                  expected[r - 1]);
}
