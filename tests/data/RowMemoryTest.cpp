// Rows made many at a time share large chunks of memory. Each row must still behave as its
// own: moved between matrices, grown, transposed, freed in any order or on another thread,
// with every chunk returned once its last row is gone (run under ASan for the rest).
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "data/SpreadsheetData.h"

using kelto::data::RowBatch;
using kelto::data::RowMemoryInChunks;

namespace {

std::string Text(int col, int row) { return "r" + std::to_string(row) + "c" + std::to_string(col); }

// Every cell (c, r) of the first `rows` rows holds a text naming its place, or a number.
void Fill(FloatStringMatrix& m, int rows, int cols) {
    for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c) {
            if ((r + c) % 3 == 0)
                m.Set(c, r, Text(c, r));
            else
                m.Set(c, r, static_cast<double>(r * 100 + c));
        }
}

::testing::AssertionResult Holds(const FloatStringMatrix& m, int rowOffset, int rows, int cols) {
    for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c) {
            const FloatString& cell = m.Cell(c, r + rowOffset);
            bool ok = (r + c) % 3 == 0 ? cell.IsString() && cell.GetStringValue(EFloatType::General, 6, false) == Text(c, r)
                                       : cell.GetFloatValue() == static_cast<float>(r * 100 + c);
            if (!ok) return ::testing::AssertionFailure() << "cell " << c << "," << r + rowOffset;
        }
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST(RowMemory, RowsOfABigTableShareChunksThatReturnWithTheirLastRow) {
    const std::size_t before = RowMemoryInChunks();
    {
        FloatStringSpreadsheetData table;
        table.SetDataSize(10, 60000);  // about 18 MB of rows: made in chunks
        const std::size_t held = RowMemoryInChunks() - before;
        EXPECT_GE(held, 60000 * RowBatch::RowBytes(10));
        EXPECT_LE(held, 60000 * RowBatch::RowBytes(10) + (std::size_t{4} << 20));
        FloatStringMatrix& m = table.GetFloatStringMatrix();
        Fill(m, 60000, 10);
        EXPECT_TRUE(Holds(m, 0, 60000, 10));
        EXPECT_EQ(table.GetFloatData(10, 60000), 6000010.0f);

        // Shrinking frees rows from the middle of the chunks; the rest stay intact.
        table.SetDataSize(10, 30000);
        EXPECT_TRUE(Holds(m, 0, 30000, 10));
        EXPECT_GT(RowMemoryInChunks(), before);
    }
    EXPECT_EQ(RowMemoryInChunks(), before);

    // Small tables stay on the heap.
    FloatStringSpreadsheetData small;
    small.SetDataSize(10, 100);
    EXPECT_EQ(RowMemoryInChunks(), before);
}

TEST(RowMemory, TextsABigTableSetAreCarvedAndOutliveTheTable) {
    const std::size_t before = RowMemoryInChunks();
    FloatStringMatrix kept;
    kept.InsertColumn(1, 10);
    {
        FloatStringSpreadsheetData table;
        table.SetDataSize(10, 60000);
        const std::size_t rowsOnly = RowMemoryInChunks() - before;
        for (int r = 1; r <= 60000; ++r) table.Set(3, r, Text(3, r).c_str());
        EXPECT_GE(RowMemoryInChunks() - before, rowsOnly + (std::size_t{2} << 20));

        // A cell set outside the table (a reader's scratch cell) takes heap memory: nothing
        // short-lived pins a chunk.
        const std::size_t filled = RowMemoryInChunks();
        std::vector<FloatString> scratch(100000);
        for (FloatString& cell : scratch) cell.Set("a scratch text");
        EXPECT_EQ(RowMemoryInChunks(), filled);

        // The texts leave with their rows and stay readable after the table (and the arena
        // they were carved by) are gone.
        kept.MoveBelow(table.GetFloatStringMatrix());
    }
    ASSERT_EQ(kept.GetNumRows(), 60000);
    EXPECT_EQ(kept.GetStringValue(3, 1, EFloatType::General, 6, false), Text(3, 1));
    EXPECT_EQ(kept.GetStringValue(3, 60000, EFloatType::General, 6, false), Text(3, 60000));
    kept.Set(3, 2, 7.0);  // frees a carved text
    EXPECT_FLOAT_EQ(kept.GetFloatValue(3, 2), 7.0f);
    kept.Remove();
    EXPECT_EQ(RowMemoryInChunks(), before);

    // A small table keeps its texts on the heap.
    FloatStringSpreadsheetData small;
    small.SetDataSize(10, 100);
    for (int r = 1; r <= 100; ++r) small.Set(1, r, Text(1, r).c_str());
    EXPECT_EQ(RowMemoryInChunks(), before);
}

TEST(RowMemory, RowsMovedGrownAndTransposedKeepTheirMemory) {
    const std::size_t before = RowMemoryInChunks();
    {
        FloatStringMatrix a;
        a.InsertColumn(1, 4);
        a.InsertRow(1, 40000);
        Fill(a, 40000, 4);
        {
            FloatStringMatrix b;
            b.InsertColumn(1, 4);
            b.InsertRow(1, 30000);
            Fill(b, 30000, 4);
            a.MoveBelow(b);  // b's rows, and its chunks, now belong to a
        }
        ASSERT_EQ(a.GetNumRows(), 70000);
        EXPECT_TRUE(Holds(a, 0, 40000, 4));
        EXPECT_TRUE(Holds(a, 40000, 30000, 4));

        // Growing moves every row's cells to the heap: their chunks go back, those of the row
        // objects stay.
        const std::size_t sized = RowMemoryInChunks() - before;
        a.InsertColumn(5, 200);
        const std::size_t grown = RowMemoryInChunks() - before;
        EXPECT_GT(grown, 0u);
        EXPECT_LT(grown, sized / 2);  // cells are most of a row
        EXPECT_TRUE(Holds(a, 40000, 30000, 4));
        EXPECT_FLOAT_EQ(a.GetFloatValue(204, 70000), -99.0f);
        a.RemoveColumn(5, 200);

        FloatStringMatrix copy(a);
        EXPECT_TRUE(Holds(copy, 40000, 30000, 4));
        copy.Transpose();
        ASSERT_EQ(copy.GetNumColumns(), 70000);
        EXPECT_EQ(copy.GetStringValue(40002, 1, EFloatType::General, 6, false), Text(1, 2));

        a.RemoveRow(1, 35000);
        EXPECT_TRUE(Holds(a, 5000, 30000, 4));
    }
    EXPECT_EQ(RowMemoryInChunks(), before);
}

TEST(RowMemory, RowsMayDieOnAnotherThreadAndBatchesNest) {
    const std::size_t before = RowMemoryInChunks();
    auto m = std::make_unique<FloatStringMatrix>();
    m->InsertColumn(1, 3);
    {
        RowBatch outer(std::size_t{64} << 20);
        m->InsertRow(1, 50000);  // an inner batch of its own
        RowBatch tooSmall(10);
        FloatStringVector* row = new FloatStringVector(3);  // still in the outer batch's chunk
        row->Set(1, 42.0);
        EXPECT_EQ(row->GetFloatValue(1), 42.0f);
        delete row;
    }
    Fill(*m, 50000, 3);
    EXPECT_GT(RowMemoryInChunks(), before);
    std::thread([owned = std::move(m)]() mutable { owned.reset(); }).join();
    EXPECT_EQ(RowMemoryInChunks(), before);
}

TEST(RowMemory, StreamedMatrixReadsBackIntoChunks) {
    const std::size_t before = RowMemoryInChunks();
    {
        FloatStringMatrix m;
        m.InsertColumn(1, 6);
        m.InsertRow(1, 20000);
        Fill(m, 20000, 6);
        std::stringstream stream;
        ASSERT_TRUE(m.UStreamableStartWrite(stream));
        FloatStringMatrix back;
        ASSERT_TRUE(back.UStreamableStartRead(stream));
        EXPECT_TRUE(Holds(back, 0, 20000, 6));
    }
    EXPECT_EQ(RowMemoryInChunks(), before);
}
