// The product's worksheet files: compound ".mip" files (worksheet entry, settings entry with
// its version rule) and plain ".dat" text, and the compound-file walk beneath them.
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "data/SpreadsheetData.h"
#include "formats/text/KeltoFile.h"
#include "outside/TestFiles.h"
#include "outside/qmstream/CompoundFile.h"
#include "platform/CfbBuilder.h"
#include "plugin/SprFileFactory.h"

namespace kelto::test {
namespace {

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string SaveMip(const TempDir& dir, const std::string& name, std::vector<CfbNode> entries) {
    CfbBuilder b;
    b.root.children = std::move(entries);
    const auto bytes = b.Build();
    WriteFile(dir.File(name), std::string(bytes.begin(), bytes.end()));
    return dir.File(name);
}

std::string MessageOf(SpreadsheetFile& f) {
    char buffer[256];
    f.GetErrorMessage(buffer, sizeof buffer);
    return buffer;
}

// Rows separated by "|", cells by ","; missing cells as "-".
std::string Dump(const FloatStringSpreadsheetData& t) {
    std::string out;
    for (int r = 1; r <= t.GetNumberOfRows(); ++r) {
        if (r > 1) out += "|";
        for (int c = 1; c <= t.GetNumberOfColumns(); ++c)
            out += (c > 1 ? "," : "") + (t.IsMisVal(c, r) ? std::string("-") : t.GetStringValue(c, r));
    }
    return out;
}

struct Outcome {
    int open = -1, read = -1;
    bool compound = false;
    std::string table, error;
};

Outcome ReadKelto(const std::string& path) {
    Outcome o;
    KeltoFile f;
    FloatStringSpreadsheetData table;
    if ((o.open = f.Open(true, path.c_str(), nullptr)) == 0) {
        o.compound = f.IsCompound();
        const int rows = f.GetNumRows(), cols = f.GetNumCols();
        if (rows >= 0 && cols >= 0) {
            table.SetDataSize(cols, rows);
            o.read = f.Read(&table);
        }
    }
    o.table = Dump(table);
    o.error = MessageOf(f);
    return o;
}

TEST(CompoundFileLibrary, WalksEntriesAndHandsOutStreams) {
    TempDir dir;
    const std::string path = SaveMip(dir, "w.mip", {Stream("Book.dat", Bytes("x\ty\n")), Storage("Sub", {}),
                                                    Stream("Big", Pattern(5000))});
    CompoundFile file;
    EXPECT_EQ(file.GetFirstDirEntry(nullptr), nullptr);
    ASSERT_EQ(file.Open(path.c_str(), CompoundFile::ReadMode), QmStreamOk);
    std::vector<std::string> names;
    std::vector<unsigned long> kinds;
    unsigned long kind = 0;
    for (const char* n = file.GetFirstDirEntry(&kind); n; n = file.GetNextDirEntry(&kind)) {
        names.push_back(n);
        kinds.push_back(kind);
    }
    // Directory order: shorter names first.
    EXPECT_EQ(names, (std::vector<std::string>{"Big", "Sub", "Book.dat"}));
    EXPECT_EQ(kinds, (std::vector<unsigned long>{2, 1, 2}));

    std::unique_ptr<std::istream> big(file.GetIOStream("Big", "rb"));
    ASSERT_TRUE(big);
    EXPECT_EQ(file.GetIOStream("Big", "wb"), nullptr);
    EXPECT_EQ(file.GetIOStream("Sub", "rb"), nullptr);
    EXPECT_EQ(file.Close(), QmStreamOk);
    // The stream outlives the file it came from.
    std::string content((std::istreambuf_iterator<char>(*big)), std::istreambuf_iterator<char>());
    EXPECT_EQ(Bytes(content), Pattern(5000));
    EXPECT_EQ(file.Close(), QmStreamNotOpen);
    EXPECT_EQ(file.Open(path.c_str(), CompoundFile::WriteMode), QmStreamBadMode);
    WriteFile(dir.File("plain.mip"), "not a compound file");
    EXPECT_EQ(file.Open(dir.File("plain.mip").c_str(), CompoundFile::ReadMode), QmStreamOpenFailed);
}

TEST(KeltoFile, CompoundAndTextFormsGiveTheirTablesOrCodes) {
    TempDir dir;
    auto ini = [](const std::string& version) { return Stream("Settings.ini", Bytes("[Status]\r\nVersion=" + version + "\r\n")); };
    struct Case {
        const char* what;
        std::string path;
        int code;  // of Open, else of Read
        std::string table;
    } cases[] = {
        {"worksheet with CR LF, ragged rows, empty last line",
         SaveMip(dir, "a.mip", {Stream("Sheet.DAT", Bytes("a\tb\tc\r\n1\t2\r\n\n"))}), 0, "a,b,c|1,2,-"},
        {"version 12 reads UTF-8", SaveMip(dir, "b.mip", {ini("12"), Stream("w.dat", Bytes("caf\xC3\xA9\t1\n"))}), 0,
         "caf\xC3\xA9,1"},
        {"version 3 reads the legacy code page", SaveMip(dir, "c.mip", {ini("3"), Stream("w.dat", Bytes("caf\xE9\t1\n"))}),
         0, "caf\xC3\xA9,1"},
        {"a later worksheet entry wins",
         SaveMip(dir, "d.mip", {Stream("a.dat", Bytes("first\n")), Stream("bb.dat", Bytes("second\n"))}), 0, "second"},
        {"no worksheet", SaveMip(dir, "e.mip", {ini("3"), Stream("notes.txt", Bytes("x"))}), KeltoFile::kNoWorksheet, ""},
        {"text named .MIP is still taken as compound", [&] {
             WriteFile(dir.File("data.MIP"), "a\tb\n");
             return dir.File("data.MIP");
         }(), KeltoFile::kNotKeltoFile, ""},
        {"plain .dat text", [&] {
             WriteFile(dir.File("t.dat"), "x\ty\n3\t4\n");
             return dir.File("t.dat");
         }(), 0, "x,y|3,4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Outcome o = ReadKelto(c.path);
        const int code = o.open ? o.open : o.read;
        EXPECT_EQ(code, c.code) << o.error;
        if (c.code == 0) {
            EXPECT_EQ(o.table, c.table);
            EXPECT_EQ(o.compound, c.path.size() > 4 && c.path.substr(c.path.size() - 4) == ".mip");
        } else {
            EXPECT_FALSE(o.error.empty());
        }
    }
}

TEST(KeltoFile, RefusesWritingAndKnowsItsKindOfFile) {
    TempDir dir;
    const std::string mip = SaveMip(dir, "w.mip", {Stream("w.dat", Bytes("1\n"))});
    KeltoFile compound;
    ASSERT_EQ(compound.Open(true, mip.c_str(), nullptr), 0);
    FloatStringSpreadsheetData table;
    table.SetDataSize(1, 1);
    EXPECT_EQ(compound.Write(&table), SpreadsheetFile::kNotImplemented);
    EXPECT_EQ(MessageOf(compound), "This function is not implemented for this file format.");
    KeltoFile writer;
    EXPECT_EQ(writer.Open(false, dir.File("out.dat").c_str(), nullptr), SpreadsheetFile::kWrongDirection);

    int index = 0;
    for (int i = 1; i <= SprFileFactory::SizeInfos(); ++i)
        if (std::string(SprFileFactory::GetInfo(i)->name) == "KELTO File") index = i;
    ASSERT_GT(index, 0);
    // Any ".mip" name and any text file are likely ours; a binary file that is not ".mip" is not.
    WriteFile(dir.File("bin.dat"), std::string("\0\1\2\3", 4));
    EXPECT_EQ(SprFileFactory::IsMyKindOfFile(index, dir.File("nothing.MIP").c_str()), SprFileFactory::LikelyMyKind);
    EXPECT_EQ(SprFileFactory::IsMyKindOfFile(index, mip.c_str()), SprFileFactory::LikelyMyKind);
    WriteFile(dir.File("t.dat"), "a\tb\n");
    EXPECT_EQ(SprFileFactory::IsMyKindOfFile(index, dir.File("t.dat").c_str()), SprFileFactory::LikelyMyKind);
    EXPECT_EQ(SprFileFactory::IsMyKindOfFile(index, dir.File("bin.dat").c_str()), SprFileFactory::NotMyKind);
}

// The sample and the fuzz seeds are the builder's output, remade as code with
// KELTO_REMAKE_FIXTURES=1; the sample reads as the worksheet it holds.
TEST(KeltoFileCommitted, SampleAndSeedsMatchTheBuilder) {
    auto ini = [](const char* version) {
        return Stream("Settings.ini", Bytes(std::string("[Status]\r\nVersion=") + version + "\r\n"));
    };
    const std::string sheet = "Sample\tMoisture\tProtein\nWheat \xC3\xA9t\xC3\xA9\t12.5\t13.1\nBarley\t11.2\t10.4\n"
                              "Oats\t\t11.9\n";
    auto build = [](std::vector<CfbNode> entries, unsigned shift = 9) {
        CfbBuilder b(shift);
        b.root.children = std::move(entries);
        return b.Build();
    };
    const std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files = {
        {"samples/kelto_worksheet.mip", build({ini("12"), Stream("Worksheet.dat", Bytes(sheet))})},
        {"fuzz/corpus/kelto_file/version3.mip", build({ini("3"), Stream("w.dat", Bytes("a\tb\r\n1\t2\r\n"))})},
        {"fuzz/corpus/kelto_file/no_settings.mip", build({Stream("Sheet.DAT", Bytes("x;y\n\n3\t4"))})},
        {"fuzz/corpus/kelto_file/large_sectors.mip", build({ini("12"), Stream("w.dat", Bytes(sheet))}, 12)},
        {"fuzz/corpus/kelto_file/no_worksheet.mip", build({ini("1"), Storage("Sub", {Stream("x.dat", Bytes("1"))})})},
    };
    for (const auto& [path, bytes] : files) {
        const std::string full = std::string(KELTO_SOURCE_DIR) + "/" + path;
        if (std::getenv("KELTO_REMAKE_FIXTURES")) {
            std::filesystem::create_directories(std::filesystem::path(full).parent_path());
            WriteFile(full, std::string(bytes.begin(), bytes.end()));
        }
        EXPECT_EQ(ReadFile(full), std::string(bytes.begin(), bytes.end())) << path << " is not the builder's output";
    }
    Outcome o = ReadKelto(KELTO_SOURCE_DIR "/samples/kelto_worksheet.mip");
    EXPECT_EQ(o.read, 0) << o.error;
    EXPECT_EQ(o.table, "Sample,Moisture,Protein|Wheat \xC3\xA9t\xC3\xA9,12.5,13.1|Barley,11.2,10.4|Oats,-,11.9");
}

}  // namespace
}  // namespace kelto::test
