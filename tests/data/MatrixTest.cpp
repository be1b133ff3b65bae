// Matrix editing with texts in the cells (under AddressSanitizer a text owned twice or never
// freed shows up), and the versioned stream form.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "data/Show.h"
#include "outside/utl/BinaryIO.h"

namespace {

// Texts "<tag><col><row>".
FloatStringMatrix Texts(int cols, int rows, const std::string& tag) {
    FloatStringMatrix m;
    m.InsertColumn(1, cols);
    m.InsertRow(1, rows);
    for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c) m.Set(c, r, tag + std::to_string(c) + std::to_string(r));
    return m;
}

}  // namespace

TEST(Matrix, InsertAndRemoveColumnsAndRows) {
    FloatStringMatrix m = Texts(3, 2, "t");
    m.InsertColumn(100, 2);
    m.InsertColumn(1, 1);
    m.InsertRow(2, 1);
    m.InsertRow(50, 1);
    EXPECT_EQ(Show(m), "- t:t11 t:t21 t:t31 - -|- - - - - -|- t:t12 t:t22 t:t32 - -|- - - - - -");
    m.RemoveColumn(5, 2);
    m.RemoveColumn(1, 1);
    m.RemoveColumn(5, 0);  // nothing, even out of range
    m.RemoveRow(2, 1);
    m.RemoveRow(3, 5);  // the part beyond the last row is ignored
    EXPECT_EQ(Show(m), "t:t11 t:t21 t:t31|t:t12 t:t22 t:t32");

    const char* range = "RemoveColumn: Column index out of range. Number of Columns: 3";
    for (auto [pos, n] : {std::pair{4, 1}, {0, 1}, {2, 3}}) EXPECT_EQ(ErrorOf([&] { m.RemoveColumn(pos, n); }), range);
    EXPECT_EQ(ErrorOf([&] { m.RemoveColumn(1, -1); }), "RemoveColumn: Number of columns to remove is less than 1");
    EXPECT_EQ(Show(m), "t:t11 t:t21 t:t31|t:t12 t:t22 t:t32");
    m.Remove();
    EXPECT_EQ(m.GetNumColumns() + m.GetNumRows(), 0);
}

TEST(Matrix, TransposeAndMoveBelowMoveCellsAppendRightCopiesThem) {
    FloatStringMatrix m = Texts(3, 2, "t");
    m.Set(2, 2, 2.5f);
    m.Set(3, 1, std::int64_t{1234567});
    m.Transpose();
    EXPECT_EQ(Show(m), "t:t11 t:t12|t:t21 n:2.5|i:1234567 t:t32");
    FloatStringMatrix wide;
    wide.InsertColumn(1, 4);  // 4 x 0 becomes 0 x 4
    wide.Transpose();
    EXPECT_EQ(wide.GetNumColumns() * 10 + wide.GetNumRows(), 4);

    // Below: the narrower side is padded; the source is left empty.
    FloatStringMatrix top = Texts(3, 1, "a"), bottom = Texts(2, 4, "b"), wider = Texts(4, 1, "w");
    top.MoveBelow(bottom);
    EXPECT_EQ(Show(top), "t:a11 t:a21 t:a31|t:b11 t:b21 -|t:b12 t:b22 -|t:b13 t:b23 -|t:b14 t:b24 -");
    EXPECT_EQ(bottom.GetNumColumns() + bottom.GetNumRows(), 0);
    top.MoveBelow(wider);  // now the receiving matrix is the narrower
    EXPECT_EQ(Show(top), "t:a11 t:a21 t:a31 -|t:b11 t:b21 - -|t:b12 t:b22 - -|t:b13 t:b23 - -|t:b14 t:b24 - -|"
                         "t:w11 t:w21 t:w31 t:w41");
    top.MoveBelow(top);  // below itself: nothing happens
    EXPECT_EQ(top.GetNumRows(), 6);

    // At the right: copies, padded where either side has fewer rows; onto itself too.
    FloatStringMatrix left = Texts(2, 1, "l"), right = Texts(1, 3, "r"), shorter = Texts(2, 1, "s");
    left.AppendRight(right);
    right.Set(1, 1, "changed");
    left.AppendRight(shorter);
    EXPECT_EQ(Show(left), "t:l11 t:l21 t:r11 t:s11 t:s21|- - t:r12 - -|- - t:r13 - -");
    EXPECT_EQ(Show(right), "t:changed|t:r12|t:r13");
    left.AppendRight(left);
    EXPECT_EQ(Show(left).substr(0, 60), "t:l11 t:l21 t:r11 t:s11 t:s21 t:l11 t:l21 t:r11 t:s11 t:s21|");
}

TEST(Matrix, SetRowOrderTakesOnlyPermutations) {
    FloatStringMatrix m = Texts(1, 4, "r");
    m.SetRowOrder({3, 1, 2});
    EXPECT_EQ(Show(m), "t:r13|t:r11|t:r12|t:r14");
    for (std::vector<int> bad : std::vector<std::vector<int>>{{1, 1}, {2, 3}, {0, 1}, {1, 2, 3, 4, 5}}) {
        EXPECT_EQ(ErrorOf([&] { m.SetRowOrder(bad); }),
                  "SetRowOrder: The row order is not a permutation of rows 1 to " + std::to_string(bad.size()));
        EXPECT_EQ(Show(m), "t:r13|t:r11|t:r12|t:r14");
    }
}

namespace {

std::string Write(FloatStringMatrix& m) {
    std::ostringstream out;
    m.UStreamableReset();
    EXPECT_TRUE(m.UStreamableStartWrite(out));
    EXPECT_TRUE(m.UStreamableStartWrite(out));  // once per pass: the second call writes nothing
    return out.str();
}

bool Read(FloatStringMatrix& m, const std::string& bytes) {
    std::istringstream in(bytes);
    m.UStreamableReset();
    return m.UStreamableStartRead(in);
}

std::string Header(short version, const char* name = "FSMat") {
    std::ostringstream out;
    WriteBinaryString(out, name);
    WriteBytes(out, &version, 2);
    return out.str();
}

std::string Counts(std::int32_t rows, std::int32_t cols) {
    std::int32_t c[2] = {rows, cols};
    return std::string(reinterpret_cast<const char*>(c), 8);
}

}  // namespace

TEST(MatrixStream, MixedTableRoundTrips) {
    FloatStringMatrix m = Texts(4, 3, "");
    const char* cells[] = {"name", "12.5", "007", "", "1234567", "-99", "caf\xC3\xA9", "-0.25", "1e10"};
    for (int i = 0; i < 9; ++i) m.Set(i % 4 + 1, i / 4 + 1, cells[i]);
    m.Set(4, 3, std::int64_t{-99});
    std::string bytes = Write(m);
    EXPECT_EQ(bytes.substr(0, 19), Header(1) + Counts(3, 4));
    FloatStringMatrix back = Texts(7, 9, "old");
    ASSERT_TRUE(Read(back, bytes));
    EXPECT_EQ(Show(back), "t:name n:12.5 t:007 -|i:1234567 - t:caf\xC3\xA9 n:-0.25|i:10000000000 n:23 n:33 -");
    EXPECT_TRUE(back.IsInt64(4, 3));
    FloatStringMatrix empty;
    ASSERT_TRUE(Read(back, Write(empty)));
    EXPECT_EQ(back.GetNumColumns() + back.GetNumRows(), 0);
}

TEST(MatrixStream, RefusedStreamsLeaveTheMatrixAsItWas) {
    FloatStringMatrix source = Texts(2, 2, "s");
    std::string body = Write(source).substr(Header(1).size());
    std::string row = std::string("\x02\x00\x00\x00\x00\x00\x00\x80\x3F\x00\x00\x00\x80\x3F", 14);
    const std::string cases[] = {
        Header(2) + body,
        Header(0) + body,
        Header(1, "FSVec") + body,
        (Header(1) + body).substr(0, Header(1).size() + body.size() - 3),
        Header(1) + Counts(-1, 2),
        Header(1) + Counts(0x7FFFFFFF, 2) + row,  // more rows than the stream holds
        Header(1) + Counts(1, 0x7FFFFFFF) + row,
        Header(1) + Counts(1, 1) + row,  // a row wider than announced
        Header(1) + Counts(1, 2) + std::string("\x02\x00\x00\x00\x09", 5),
    };
    for (const std::string& bytes : cases) {
        FloatStringMatrix m = Texts(2, 3, "k");
        EXPECT_FALSE(Read(m, bytes));
        EXPECT_EQ(Show(m), Show(Texts(2, 3, "k")));
    }
}

// The version a matrix met in its stream is its own: a matrix reading an older stream on
// one thread must not change what another matrix reports.
TEST(MatrixStream, EachMatrixKeepsTheVersionItRead) {
    FloatStringMatrix source = Texts(1, 1, "v"), current, older;
    const std::string bytes = Write(source);
    ASSERT_TRUE(Read(current, bytes));
    EXPECT_FALSE(Read(older, Header(0) + bytes.substr(Header(1).size())));
    EXPECT_EQ(older.GetUStreamVersionNumber(), 0);
    EXPECT_EQ(current.GetUStreamVersionNumber(), 1);
    EXPECT_EQ(FloatStringMatrix().GetUStreamVersionNumber(), 1);
}
