// The sheet choice shared by the Excel readers: its options text, its resolution to sheet
// names, the read-file name, and the shared cell texts (dates, errors, sheet labels).
#include <gtest/gtest.h>

#include <memory>

#include "formats/workbook/ExcelFileOptions.h"
#include "formats/workbook/ExcelValues.h"
#include "outside/utl/ConfigurationSection.h"

using namespace kelto::workbook;

namespace {

// An options document with the given "Settings" keys (raw attribute texts).
std::string Document(const std::vector<std::pair<std::string, std::string>>& keys) {
    std::string xml = "<Configuration><Section name=\"Settings\">";
    for (const auto& [key, value] : keys) xml += "<Key name=\"" + key + "\" value=\"" + value + "\"/>";
    return xml + "</Section></Configuration>";
}

}  // namespace

TEST(ExcelFileOptionsTest, TextRoundTripKeepsIndexesOrNames) {
    ExcelFileOptions byIndex;
    byIndex.readOrder = 1;
    byIndex.sheetIndexes = {2, 0};
    ExcelFileOptions byName;
    byName.readOrder = 2;
    byName.allSheets = true;
    byName.sheetNames = {"a;b", "50%", "Über"};
    for (const ExcelFileOptions* original : {&byIndex, &byName}) {
        QmImportOpenOptions record{0, nullptr};
        original->WriteRecord(record);
        ExcelFileOptions back;
        back.sheetNames = {"stale"};
        ASSERT_TRUE(back.ReadRecord(record));
        EXPECT_EQ(back.readOrder, original->readOrder);
        EXPECT_EQ(back.allSheets, original->allSheets);
        EXPECT_EQ(back.sheetIndexes, original->sheetIndexes);
        EXPECT_EQ(back.sheetNames, original->sheetNames);
        delete[] record.data;
    }
    // The names are stored percent-encoded, so a ";" inside one cannot split it.
    auto doc = TinyXML2Section::CreateXMLSectionFromString(byName.ToText().c_str());
    ASSERT_TRUE(doc);
    std::string sheets;
    ASSERT_TRUE(doc->GetSection("Settings")->ReadKey("Sheets", sheets));
    EXPECT_EQ(sheets, "a%3Bb;50%25;%C3%9Cber");
}

TEST(ExcelFileOptionsTest, IndexEntriesAreFilteredAndNamesTakenAsTheyStand) {
    struct Case {
        std::vector<std::pair<std::string, std::string>> keys;
        std::vector<int> indexes;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {{{"Sheets", "2;x;-1;0;2; 3 "}, {"UseIndexes", "true"}}, {2, 0, 3}, {}},
        {{{"Sheets", "2;x%3By"}, {"UseIndexes", "false"}}, {}, {"2", "x;y"}},
        {{{"Sheets", "Data"}}, {}, {"Data"}},  // UseIndexes absent: names
        {{}, {}, {}},
    };
    for (const Case& c : cases) {
        ExcelFileOptions options;
        options.sheetIndexes = {9};
        ASSERT_TRUE(options.FromText(Document(c.keys)));
        EXPECT_EQ(options.sheetIndexes, c.indexes);
        EXPECT_EQ(options.sheetNames, c.names);
        EXPECT_EQ(options.readOrder, 3);  // absent keys keep their values
    }
    ExcelFileOptions options;
    options.sheetIndexes = {4};
    EXPECT_FALSE(options.FromText("<Configuration><Other/></Configuration>"));
    EXPECT_FALSE(options.FromText("not xml"));
    EXPECT_EQ(options.sheetIndexes, std::vector<int>{4});
    QmImportOpenOptions empty{0, nullptr};
    EXPECT_FALSE(options.ReadRecord(empty));
    char garbage[] = {'\x7f', 0, 0, 0, 'x'};  // a length longer than the bytes
    QmImportOpenOptions damaged{5, garbage};
    EXPECT_FALSE(options.ReadRecord(damaged));
}

TEST(ExcelFileOptionsTest, ResolutionAndChoiceByName) {
    const std::vector<std::string> sheets{"A", "B", "C"};
    ExcelFileOptions o;
    EXPECT_EQ(o.ResolveSheetNames({}), std::vector<std::string>{""});
    o.sheetIndexes = {2, 7, 0};
    o.sheetNames = {"ignored"};
    EXPECT_EQ(o.ResolveSheetNames(sheets), (std::vector<std::string>{"C", "A"}));
    o.allSheets = true;
    EXPECT_EQ(o.ResolveSheetNames(sheets), sheets);
    o.allSheets = false;
    o.sheetIndexes.clear();
    o.sheetNames = {"Z", "B"};  // names are not checked here
    EXPECT_EQ(o.ResolveSheetNames(sheets), o.sheetNames);

    EXPECT_FALSE(o.ChooseByName({"B", "Z"}, sheets));
    EXPECT_EQ(o.sheetNames, (std::vector<std::string>{"Z", "B"}));
    EXPECT_FALSE(o.ChooseByName({"b"}, sheets));  // exact, case included
    o.allSheets = true;
    EXPECT_TRUE(o.ChooseByName({"C", "A"}, sheets));
    EXPECT_EQ(o.sheetIndexes, (std::vector<int>{2, 0}));
    EXPECT_TRUE(o.sheetNames.empty());
    EXPECT_FALSE(o.allSheets);
    EXPECT_TRUE(o.ChooseByName({""}, {}));
    EXPECT_EQ(o.sheetIndexes, std::vector<int>{0});

    for (bool multiple : {true, false}) {
        ExcelFileOptions d;
        d.sheetNames = {"x"};
        d.allSheets = true;
        d.ChooseDefault(multiple);
        EXPECT_EQ(d.sheetIndexes, std::vector<int>{0});
        EXPECT_TRUE(d.sheetNames.empty());
        EXPECT_FALSE(d.allSheets);
        EXPECT_EQ(d.readOrder, multiple ? 3 : 1);
    }
}

TEST(ExcelFileOptionsTest, ReadFileNameDropsDefaultSheetNames) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"Sheet1"}, ""},        {{"Tabelle12"}, ""}, {{"Feuil2"}, ""},       {{"Hoja1"}, ""},
        {{"Blad3"}, ""},         {{"Sheet"}, "Sheet"}, {{"Sheet1x"}, "Sheet1x"}, {{"A", "B"}, "A_B"},
        {{"Sheet1", "Sheet2"}, "Sheet1_Sheet2"},
    };
    for (const auto& [names, expected] : cases) EXPECT_EQ(ReadFileName(JoinSheetNames(names)), expected) << names[0];
}

TEST(ExcelValuesTest, SerialDatesInBothSystems) {
    struct Case {
        double serial;
        bool date1904;
        const char* text;
    };
    const Case cases[] = {
        {1, false, "1900-01-01 00:00:00"},
        {59, false, "1900-02-28 00:00:00"},
        {60, false, "1900-02-28 00:00:00"},  // Excel's 29 February 1900
        {61, false, "1900-03-01 00:00:00"},
        {45000, false, "2023-03-15 00:00:00"},
        {45000, true, "2027-03-16 00:00:00"},
        {0, true, "1904-01-01 00:00:00"},
        {45000.75, false, "2023-03-15 18:00:00"},
        {45000.999999, false, "2023-03-15 23:59:59"},   // 23:59:59.91: hundredths not shown
        {45000.99999999, false, "2023-03-16 00:00:00"},  // 23:59:59.9999 rounds to the next day
        {2958465.5, false, "9999-12-31 12:00:00"},
    };
    for (const Case& c : cases) {
        auto text = ExcelDateText(c.serial, c.date1904);
        ASSERT_TRUE(text) << c.serial;
        EXPECT_EQ(*text, c.text) << c.serial;
    }
    EXPECT_EQ(ExcelDateText(0.5), "12:00:00");
    EXPECT_EQ(ExcelDateText(0.25 + 1.0 / 86400), "06:00:01");
    EXPECT_FALSE(ExcelDateText(2958466));
    EXPECT_FALSE(ExcelDateText(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(ExcelDateText(std::numeric_limits<double>::infinity()));
}

TEST(ExcelValuesTest, SheetLabels) {
    EXPECT_EQ(ExcelSheetLabel("My SHEET 2"), "my sheet 2");
    EXPECT_EQ(ExcelSheetLabel("Results"), "sheet: Results");
    EXPECT_EQ(ExcelSheetLabel("Shee t"), "sheet: Shee t");
}
