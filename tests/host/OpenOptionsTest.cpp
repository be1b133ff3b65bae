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

// The text a record holds, read back independently of the helper.
std::string TextOf(const QmImportOpenOptions& record) {
    std::istringstream in(std::string(record.data, static_cast<std::size_t>(record.size)));
    std::string text;
    EXPECT_TRUE(ReadBinaryString(in, text));
    EXPECT_EQ(in.peek(), std::char_traits<char>::eof()) << "bytes left after the text";
    return text;
}

}  // namespace

TEST(OpenOptionsKeys, EmptyRecordHoldsNoKeysAndCannotBeChanged) {
    QmImportOpenOptions empty{0, nullptr};
    EXPECT_TRUE(GetDocuments(empty).empty());
    EXPECT_EQ(GetReadOrder(empty), 3);
    EXPECT_TRUE(IsMergeDocuments(empty));
    EXPECT_FALSE(SetDocuments(empty, {"Sheet1"}));
    EXPECT_EQ(empty.size, 0);
    EXPECT_EQ(empty.data, nullptr);

    // Text that is XML but lacks the "Settings" section counts as no text at all.
    std::string other = "<Configuration><Section name=\"Other\"><Key name=\"ReadOrder\" value=\"1\"/></Section></Configuration>";
    std::ostringstream bytes;
    WriteBinaryString(bytes, other);
    std::string b = bytes.str();
    QmImportOpenOptions foreign{static_cast<int>(b.size()), b.data()};
    EXPECT_EQ(GetReadOrder(foreign), 3);
    EXPECT_FALSE(SetDocuments(foreign, {"x"}));
    EXPECT_EQ(foreign.data, b.data());
}

TEST(OpenOptionsKeys, ReadOrderDecidesMerging) {
    auto merged = OpenOptions::CreateOpenOptions(SettingsText("<Key name=\"Delimiter\" value=\",\"/>"));
    EXPECT_EQ(GetReadOrder(*merged), 3);
    EXPECT_TRUE(IsMergeDocuments(*merged));
    EXPECT_EQ(merged->GetReadDirection(), 3);

    auto separate = OpenOptions::CreateOpenOptions(SettingsText("<Key name=\"ReadOrder\" value=\"1\"/>"));
    EXPECT_EQ(GetReadOrder(*separate), 1);
    EXPECT_FALSE(IsMergeDocuments(*separate));
    EXPECT_EQ(separate->GetReadDirection(), 1);
}

TEST(OpenOptionsKeys, DocumentNamesSurviveARoundTrip) {
    auto options = OpenOptions::CreateOpenOptions(
        SettingsText("<Key name=\"ReadOrder\" value=\"1\"/><Key name=\"Delimiter\" value=\"%09\"/>"));
    const std::vector<std::string> names = {"a;b", "100%", "%3B", "", "Blatt \xC3\xBC" "ber", "x&<y>\"z\""};
    ASSERT_TRUE(SetDocuments(*options, names));
    EXPECT_EQ(GetDocuments(*options), names);
    // The other keys stay as they were.
    EXPECT_EQ(GetReadOrder(*options), 1);
    EXPECT_NE(TextOf(*options).find("Delimiter"), std::string::npos);

    // An empty list replaces the previous one.
    ASSERT_TRUE(SetDocuments(*options, {}));
    EXPECT_TRUE(GetDocuments(*options).empty());
    ASSERT_TRUE(SetDocuments(*options, {""}));
    EXPECT_EQ(GetDocuments(*options), std::vector<std::string>{""});
}

TEST(OpenOptionsKeys, CreateKeepsTheTextItselfAndRejectsTextWithoutSettings) {
    // Unusual spacing would not survive a re-flush; the record must hold the text as given.
    std::string text = "<Configuration>\n\n   <Section name=\"Settings\"  ><Key name=\"ReadOrder\" value=\"2\"/></Section></Configuration>";
    auto options = OpenOptions::CreateOpenOptions(text);
    EXPECT_EQ(TextOf(*options), text);
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

TEST(OpenOptionsKeys, BytesThatAreNotABinaryStringRaiseTheStreamError) {
    // A Bruker record read as text: its first four bytes claim a long string.
    BatchImportSettings::BrukerOptions bruker;
    bruker.points = 1000;
    auto record = CreateBrukerImportOptions(bruker);
    EXPECT_THROW(GetDocuments(*record), std::ios_base::failure);
    EXPECT_THROW(GetReadOrder(*record), std::ios_base::failure);

    // A well-formed binary string whose text is not XML is simply no options text.
    std::ostringstream bytes;
    WriteBinaryString(bytes, "plain words");
    std::string b = bytes.str();
    QmImportOpenOptions words{static_cast<int>(b.size()), b.data()};
    EXPECT_EQ(GetReadOrder(words), 3);
    EXPECT_TRUE(GetDocuments(words).empty());
}

TEST(OpenOptionsRecord, CopiesOwnTheirBytes) {
    auto original = OpenOptions::CreateOpenOptions(SettingsText("<Key name=\"ReadOrder\" value=\"1\"/>"));
    ASSERT_EQ(original->GetReadDirection(), 1);
    {
        OpenOptions copy(*original);
        EXPECT_NE(copy.data, original->data);
        EXPECT_EQ(copy.size, original->size);
        EXPECT_EQ(0, std::memcmp(copy.data, original->data, static_cast<std::size_t>(copy.size)));
        EXPECT_EQ(copy.GetReadDirection(), 3);  // construction does not carry the direction

        OpenOptions assigned;
        assigned = *original;
        EXPECT_NE(assigned.data, original->data);
        EXPECT_EQ(assigned.GetReadDirection(), 1);  // assignment does
        assigned = assigned;                        // must not free what it copies from
        EXPECT_EQ(GetReadOrder(assigned), 1);
        assigned = OpenOptions();
        EXPECT_EQ(assigned.size, 0);
        EXPECT_EQ(assigned.data, nullptr);

        OpenOptions moved(std::move(copy));
        EXPECT_EQ(copy.data, nullptr);
        EXPECT_EQ(GetReadOrder(moved), 1);
    }
    // The copies are gone; the original's bytes must still be intact (ASan checks the frees).
    EXPECT_EQ(GetReadOrder(*original), 1);
}

TEST(OpenOptionsRecord, TakesOverAForeignBuffer) {
    auto* record = new QmImportOpenOptions{3, new char[3]{'a', 'b', 'c'}};
    {
        OpenOptions owner(record);
        EXPECT_EQ(owner.data, record->data);
        EXPECT_EQ(owner.GetReadDirection(), 3);
    }  // the buffer is freed here, once
    delete record;

    // Adopt takes a record as QmImportGetFileOptions returns it: record and buffer.
    auto adopted = OpenOptions::Adopt(new QmImportOpenOptions{2, new char[2]{'x', 'y'}});
    EXPECT_EQ(adopted->size, 2);
    EXPECT_EQ(adopted->data[1], 'y');
    EXPECT_EQ(OpenOptions::Adopt(nullptr)->size, 0);
}

TEST(BrukerOptions, StoredFieldsAtTheirOffsets) {
    BatchImportSettings::BrukerOptions in;
    in.points = 0x01020304;
    in.firstX = 4000.5;
    in.lastX = -400.25;
    in.flag = 7;
    auto record = CreateBrukerImportOptions(in);
    ASSERT_EQ(record->size, 21);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(record->data);
    EXPECT_EQ(b[0], 0x04);  // little-endian point count
    EXPECT_EQ(b[3], 0x01);
    double first = 0, last = 0;
    std::memcpy(&first, b + 4, 8);
    std::memcpy(&last, b + 12, 8);
    EXPECT_EQ(first, 4000.5);
    EXPECT_EQ(last, -400.25);
    EXPECT_EQ(b[20], 7);

    BatchImportSettings::BrukerOptions out = GetBrukerImportOptions(*record);
    EXPECT_EQ(out.points, in.points);
    EXPECT_EQ(out.firstX, in.firstX);
    EXPECT_EQ(out.lastX, in.lastX);
    EXPECT_EQ(out.flag, 7);
    EXPECT_STREQ(out.name, "BRUKEROPTIONS");
}

TEST(BrukerOptions, AnyOtherSizeGivesTheDefaults) {
    BatchImportSettings::BrukerOptions in;
    in.points = 512;
    in.firstX = 1.0;
    in.lastX = 2.0;
    in.flag = 1;
    auto record = CreateBrukerImportOptions(in);
    std::string bytes(record->data, 21);
    for (int size : {20, 22, 0}) {
        std::string b = bytes + std::string(1, '\x09');
        QmImportOpenOptions other{size, size ? b.data() : nullptr};
        BatchImportSettings::BrukerOptions out = GetBrukerImportOptions(other);
        EXPECT_EQ(out.points, 0) << size;
        EXPECT_EQ(out.firstX, 0.0) << size;
        EXPECT_EQ(out.lastX, 0.0) << size;
        EXPECT_EQ(out.flag, -1) << size;
    }
}
