// Open options: the shared "Sheets" and "ReadOrder" keys inside the XML envelope, the record
// class that owns its bytes, and the 21-byte Bruker record.
#include <gtest/gtest.h>

#include <cstring>
#include <ios>
#include <sstream>

#include "host/ImportOptionsHelper.h"
#include "outside/utl/BinaryIO.h"
#include "outside/utl/Exception.h"

using namespace ImportOptionsHelper;

namespace {

std::string SettingsText(const std::string& keys) {
    return "<Configuration><Section name=\"Settings\">" + keys + "</Section></Configuration>";
}

// A record holding `text` as a binary string, as the readers store it.
std::string BinaryString(const std::string& text) {
    std::ostringstream bytes;
    WriteBinaryString(bytes, text);
    return bytes.str();
}

}  // namespace

TEST(OpenOptionsKeys, RecordsWithoutSettingsHoldNoKeysAndCannotBeChanged) {
    std::string foreign = BinaryString(
        "<Configuration><Section name=\"Other\"><Key name=\"ReadOrder\" value=\"1\"/></Section></Configuration>");
    std::string words = BinaryString("plain words");
    QmImportOpenOptions records[] = {{0, nullptr},
                                     {static_cast<int>(foreign.size()), foreign.data()},
                                     {static_cast<int>(words.size()), words.data()}};
    for (QmImportOpenOptions& record : records) {
        char* data = record.data;
        EXPECT_TRUE(GetDocuments(record).empty());
        EXPECT_EQ(GetReadOrder(record), 3);
        EXPECT_TRUE(IsMergeDocuments(record));
        EXPECT_FALSE(SetDocuments(record, {"Sheet1"}));
        EXPECT_EQ(record.data, data);
    }
    // A Bruker record read as text: its first four bytes claim a long string.
    BatchImportSettings::BrukerOptions thousand;
    thousand.points = 1000;
    auto bruker = CreateBrukerImportOptions(thousand);
    EXPECT_THROW(GetReadOrder(*bruker), std::ios_base::failure);
}

TEST(OpenOptionsKeys, ReadOrderDecidesMergingAndDocumentNamesSurviveARoundTrip) {
    auto merged = OpenOptions::CreateOpenOptions(SettingsText("<Key name=\"Delimiter\" value=\"%09\"/>"));
    EXPECT_EQ(GetReadOrder(*merged), 3);
    EXPECT_TRUE(IsMergeDocuments(*merged));
    EXPECT_EQ(merged->GetReadDirection(), 3);
    auto options = OpenOptions::CreateOpenOptions(SettingsText("<Key name=\"ReadOrder\" value=\"1\"/>"));
    EXPECT_FALSE(IsMergeDocuments(*options));
    EXPECT_EQ(options->GetReadDirection(), 1);

    for (const auto& names : std::vector<std::vector<std::string>>{
             {"a;b", "100%", "%3B", "", "Blatt \xC3\xBC" "ber", "x&<y>\"z\""}, {}, {""}}) {
        ASSERT_TRUE(SetDocuments(*merged, names));
        EXPECT_EQ(GetDocuments(*merged), names);
        ASSERT_TRUE(SetDocuments(*options, names));
        EXPECT_EQ(GetReadOrder(*options), 1) << "the other keys stay as they were";
    }
    EXPECT_NE(std::string(merged->data, merged->size).find("\"%09\""), std::string::npos);
}

TEST(OpenOptionsKeys, CreateKeepsTheTextItselfAndRejectsTextWithoutSettings) {
    // Unusual spacing would not survive a re-flush; the record must hold the text as given.
    std::string text = "<Configuration>\n\n   <Section name=\"Settings\"  ><Key name=\"ReadOrder\" value=\"2\"/></Section></Configuration>";
    auto options = OpenOptions::CreateOpenOptions(text);
    EXPECT_EQ(std::string(options->data, options->size), BinaryString(text));
    EXPECT_EQ(options->GetReadDirection(), 2);
    for (const char* bad : {"", "not xml at all", "<Configuration><Section name=\"Other\"/></Configuration>"}) {
        try {
            OpenOptions::CreateOpenOptions(bad);
            ADD_FAILURE() << "accepted: " << bad;
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), "Invalid file open option format");
        }
    }
}

TEST(OpenOptionsRecord, CopiesAndOwnersFreeEachBufferOnce) {
    auto original = OpenOptions::CreateOpenOptions(SettingsText("<Key name=\"ReadOrder\" value=\"1\"/>"));
    {
        OpenOptions copy(*original);
        EXPECT_NE(copy.data, original->data);
        EXPECT_EQ(std::string(copy.data, copy.size), std::string(original->data, original->size));
        EXPECT_EQ(copy.GetReadDirection(), 3);  // construction does not carry the direction
        OpenOptions assigned;
        assigned = *original;
        EXPECT_NE(assigned.data, original->data);
        EXPECT_EQ(assigned.GetReadDirection(), 1);  // assignment does
        assigned = assigned;                        // must not free what it copies from
        EXPECT_EQ(GetReadOrder(assigned), 1);
        OpenOptions moved(std::move(copy));
        EXPECT_EQ(copy.data, nullptr);
        EXPECT_EQ(GetReadOrder(moved), 1);
    }
    EXPECT_EQ(GetReadOrder(*original), 1);  // ASan checks the frees

    auto* record = new QmImportOpenOptions{3, new char[3]{'a', 'b', 'c'}};
    { OpenOptions owner(record); }  // takes over the buffer and frees it
    delete record;
    // Adopt takes a record as QmImportGetFileOptions returns it: record and buffer.
    auto adopted = OpenOptions::Adopt(new QmImportOpenOptions{2, new char[2]{'x', 'y'}});
    EXPECT_EQ(std::string(adopted->data, adopted->size), "xy");
    EXPECT_EQ(OpenOptions::Adopt(nullptr)->size, 0);
}

TEST(BrukerOptions, TwentyOneBytesRoundTripAnyOtherSizeGivesTheDefaults) {
    BatchImportSettings::BrukerOptions in;
    in.points = 0x01020304;
    in.firstX = 4000.5;
    in.lastX = -400.25;
    in.flag = 7;
    auto record = CreateBrukerImportOptions(in);
    // The count, the two doubles and the flag, packed, in this machine's (little-endian) order.
    std::string expected(21, '\7');
    std::memcpy(expected.data(), &in.points, 4);
    std::memcpy(expected.data() + 4, &in.firstX, 8);
    std::memcpy(expected.data() + 12, &in.lastX, 8);
    ASSERT_EQ(std::string(record->data, record->size), expected);
    auto fields = [](const BatchImportSettings::BrukerOptions& o) { return std::tuple(o.points, o.firstX, o.lastX, o.flag); };
    EXPECT_EQ(fields(GetBrukerImportOptions(*record)), fields(in));

    expected += '\x09';
    for (int size : {20, 22, 0}) {
        QmImportOpenOptions other{size, size ? expected.data() : nullptr};
        EXPECT_EQ(fields(GetBrukerImportOptions(other)), fields({})) << size;
    }
}
