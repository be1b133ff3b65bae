// Registrations made while the library is loaded (a host constructing a factory of its own):
// the records a host already holds must stay readable whatever happens to their entries.
// Under AddressSanitizer a record freed too early shows up as a use after free.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "plugin/QmImport.h"
#include "plugin/SprFileFactory.h"
#include "plugin/TableBound.h"

namespace {

class LateFactory : public SprFileFactory {
public:
    LateFactory(const char* name, const char* filter, const char* extensions, signed char priority)
        : SprFileFactory(name, filter, nullptr, 1, extensions, 0, 1, 0, 1, 0, priority) {}
    ~LateFactory() = default;

protected:
    MyKindOfFile IsMyKindOfFile(const char*) override { return LikelyMyKind; }
    SpreadsheetFile* GetSpreadsheetFile() override { return nullptr; }
};

// The position of the format named `name`, or 0.
int IndexOf(const std::string& name) {
    for (int i = 1; i <= QmImportSizeFileFormatsSupported(); ++i)
        if (name == QmImportGetFileFormatInfo(i)->name) return i;
    return 0;
}

}  // namespace

TEST(Registry, RecordsHandedOutOutliveReplacementAndTheirFactory) {
    const int before = QmImportSizeFileFormatsSupported();
    auto first = std::make_unique<LateFactory>("Late File", "Late Files (*.la)", ".la\0", 1);
    ASSERT_EQ(QmImportSizeFileFormatsSupported(), before + 1);
    const QmImportFileFormatInfo* held = QmImportGetFileFormatInfo(IndexOf("Late File"));
    ASSERT_NE(held, nullptr);
    {
        // Same name and filter, equal priority: the held record now describes the newcomer.
        LateFactory same("Late File", "Late Files (*.la)", ".lb\0", 1);
        EXPECT_EQ(QmImportGetFileFormatInfo(IndexOf("Late File")), held);
        EXPECT_STREQ(held->extensions, ".lb");
        // A lower priority is ignored.
        LateFactory lower("Late File", "Late Files (*.la)", ".lc\0", 0);
        EXPECT_STREQ(held->extensions, ".lb");
        first.reset();  // no longer in the registry: its going changes nothing
        EXPECT_EQ(QmImportSizeFileFormatsSupported(), before + 1);
        {
            // Another filter: a new record under the new key; the held one keeps its text.
            auto moved = std::make_unique<LateFactory>("Late File", "Later Files (*.lz)", ".lz\0", 2);
            EXPECT_EQ(QmImportSizeFileFormatsSupported(), before + 1);
            EXPECT_STREQ(QmImportGetFileFormatInfo(IndexOf("Late File"))->filter, "Later Files (*.lz)");
            EXPECT_STREQ(held->filter, "Late Files (*.la)");
            EXPECT_STREQ(held->extensions, ".lb");
            // A filter taken by another name keeps its entry.
            LateFactory taken("Other File", "Later Files (*.lz)", ".lo\0", 9);
            EXPECT_EQ(IndexOf("Other File"), 0);
            // Destroyed before the library: it leaves the answers, its record stays readable.
            const QmImportFileFormatInfo* movedRecord = QmImportGetFileFormatInfo(IndexOf("Late File"));
            moved.reset();
            EXPECT_EQ(IndexOf("Late File"), 0);
            EXPECT_STREQ(movedRecord->extensions, ".lz");
        }
        EXPECT_EQ(QmImportSizeFileFormatsSupported(), before);
        EXPECT_EQ(QmImportIsCorrectFileType(before + 1, "x.la"), 0);  // nothing left there to ask
    }
    EXPECT_STREQ(held->name, "Late File");
    EXPECT_EQ(QmImportSizeFileFormatsSupported(), before);
}

TEST(TableBound, RefusesMoreCellsThanATableHoldsOrMoreMemoryThanThereIs) {
    constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
    struct {
        std::int64_t rows, cols;
        std::uint64_t memory;
        std::string message;  // empty: accepted
    } const cases[] = {
        {100000, 100000, 0, "f.x asks for a table of 100000 rows by 100000 columns, more than the 2147483648 cells a "
                            "table can hold. Import will be aborted."},
        {65536, 32768, 0, ""},  // exactly 2^31 cells, with no memory bound
        {65536, 32769, 0, "f.x asks for a table of 65536 rows by 32769 columns, more than the 2147483648 cells a "
                          "table can hold. Import will be aborted."},
        {std::int64_t{1} << 40, 0, 0, ""},  // no columns: no cells
        {40000, 40000, 4 * kGiB, "f.x asks for a table of 40000 rows by 40000 columns, which needs more memory than "
                                 "this computer has (4096 MB). Import will be aborted."},
        {1000, 1000, kGiB, ""},
        {-5, 1 << 30, kGiB, ""},  // negative counts are taken as 0
    };
    for (const auto& c : cases) {
        std::string message;
        try {
            kelto::CheckTableSize(c.rows, c.cols, c.memory);
        } catch (const kelto::TableTooLarge& e) {
            message = e.MessageFor("f.x");
        }
        EXPECT_EQ(message, c.message) << c.rows << " x " << c.cols;
    }
    EXPECT_GT(kelto::PhysicalMemoryBytes(), std::uint64_t{64} << 20);
}
