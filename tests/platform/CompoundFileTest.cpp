#include "platform/CompoundFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>

#include "outside/TestFiles.h"
#include "platform/CfbBuilder.h"

namespace fs = std::filesystem;
using namespace kelto::platform;
using namespace kelto::test;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::vector<std::string> Names(const std::vector<CompoundElement>& elements) {
    std::vector<std::string> out;
    for (const auto& e : elements) out.push_back(e.name);
    return out;
}

Bytes ReadAll(CompoundStream& s, std::size_t chunk) {
    Bytes out, buf(chunk);
    for (std::ptrdiff_t got; (got = s.Read(buf.data(), chunk)) > 0;) out.insert(out.end(), buf.begin(), buf.begin() + got);
    EXPECT_EQ(s.Status(), CompoundStatus::Ok);
    return out;
}

const kelto::test::TempDir kScratch;
fs::path Scratch() { return kScratch.Path(); }
fs::path Temp(const std::string& name, const Bytes& data = {}) {
    WriteFile(kScratch.File(name), std::string(data.begin(), data.end()));
    return kScratch.File(name);
}

bool HaveOlefile() { return std::system("/usr/bin/python3 -c 'import olefile' >/dev/null 2>&1") == 0; }

// "name, type (1 storage, 2 stream), size, CRC-32 of the data" of each root element, as
// tests/platform/olefile_dump.py prints them.
std::set<std::string> OurRows(const std::string& path) {
    CompoundFileReader r;
    EXPECT_TRUE(r.Open(path)) << path << ": " << r.LastError();
    std::set<std::string> rows;
    for (const auto& e : r.RootElements()) {
        Bytes d;
        if (auto s = e.isStorage ? nullptr : r.OpenStream(e)) d = ReadAll(*s, 4096);
        std::uint32_t crc = e.isStorage ? 0 : crc32(0, d.data(), static_cast<uInt>(d.size()));
        rows.insert(e.name + "\t" + (e.isStorage ? "1" : "2") + "\t" + std::to_string(e.size) + "\t" + std::to_string(crc));
    }
    return rows;
}

// The same rows as python3-olefile, an independent reader, sees them, by path.
std::map<std::string, std::set<std::string>> OlefileRows(const std::vector<std::string>& paths) {
    std::string cmd = "/usr/bin/python3 " KELTO_SOURCE_DIR "/tests/platform/olefile_dump.py";
    for (const auto& p : paths) cmd += " '" + p + "'";
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        while (std::size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
        pclose(p);
    }
    std::map<std::string, std::set<std::string>> rows;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) rows[line.substr(0, line.find('\t'))].insert(line.substr(line.find('\t') + 1));
    return rows;
}

void ExpectCompoundOrder(const std::vector<CompoundElement>& elements, const std::string& where) {
    for (std::size_t i = 1; i < elements.size(); ++i)
        EXPECT_TRUE(NameLess(elements[i - 1].name, elements[i].name)) << where << ": " << elements[i].name;
}

}  // namespace

TEST(CompoundFile, ListsRootInCompoundNameOrderAndUnsortedTreesInWalkOrder) {
    CfbBuilder b;
    for (const char* n : {"Zeta", "alpha", "B", "Book", "Workbook", "\x05SummaryInformation", "Лист1"})
        b.root.children.push_back(Stream(n, Pattern(10)));
    b.root.children.push_back(Storage("Sub", {}));
    Bytes f = b.Build();
    CompoundFileReader r;
    ASSERT_TRUE(r.OpenMemory(f)) << r.LastError();
    // Shorter names first, then by upper case: the order Windows enumerates a storage in.
    EXPECT_EQ(Names(r.RootElements()),
              (std::vector<std::string>{"B", "Sub", "Book", "Zeta", "alpha", "Лист1", "Workbook", "\x05SummaryInformation"}));
    EXPECT_TRUE(r.RootElements()[1].isStorage);
    EXPECT_EQ(r.RootElements()[0].size, 10u);
    // Relinked as the chain Zeta -> Book -> B, a tree no sorting writer makes: listed as linked.
    auto link = [&](const char* name, std::uint32_t right) {
        StoreLE<std::uint32_t>(f.data() + b.EntryOffset(b.entryOf[name]) + 68, kFree);
        StoreLE<std::uint32_t>(f.data() + b.EntryOffset(b.entryOf[name]) + 72, right);
    };
    StoreLE<std::uint32_t>(f.data() + b.EntryOffset(0) + 76, b.entryOf["Zeta"]);
    link("Zeta", b.entryOf["Book"]), link("Book", b.entryOf["B"]), link("B", kFree);
    ASSERT_TRUE(r.OpenMemory(f)) << r.LastError();
    EXPECT_EQ(Names(r.RootElements()), (std::vector<std::string>{"Zeta", "Book", "B"}));
}

TEST(CompoundFile, ReadsMiniAndRegularStreamsExactlyWithBothSectorSizes) {
    const std::vector<std::size_t> sizes = {0, 1, 63, 64, 65, 4095, 4096, 4097, 100000};
    for (unsigned shift : {9u, 12u}) {
        CfbBuilder b(shift);
        b.interleave = true;  // fragmented chains
        for (std::size_t size : sizes) b.root.children.push_back(Stream("s" + std::to_string(size), Pattern(size, unsigned(size))));
        CompoundFileReader r;
        ASSERT_TRUE(r.OpenMemory(b.Build())) << r.LastError();
        EXPECT_EQ(r.SectorSize(), 1u << shift);
        for (std::size_t size : sizes)
            for (std::size_t chunk : {1u << 20, 37u}) {
                auto s = r.OpenStream("s" + std::to_string(size));
                ASSERT_TRUE(s) << r.LastError();
                EXPECT_EQ(s->Size(), size);
                EXPECT_EQ(ReadAll(*s, chunk), Pattern(size, unsigned(size))) << size << " by " << chunk << ", shift " << shift;
            }
    }
}

TEST(CompoundFile, ShortReadAtTheEndSeekTellIStreamAndReadOnly) {
    CfbBuilder b;
    Bytes data = Pattern(5000);
    b.root.children.push_back(Stream("Data", data));
    Bytes f = b.Build();
    // 512-byte-sector files leave the high half of a size undefined; it is ignored.
    StoreLE<std::uint32_t>(f.data() + b.EntryOffset(b.entryOf["Data"]) + 124, 0xDEADBEEF);
    CompoundFileReader r;
    ASSERT_TRUE(r.OpenMemory(f));
    auto s = r.OpenStream("Data");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->Size(), 5000u);
    std::uint8_t buf[16];
    ASSERT_TRUE(s->Seek(10, SeekOrigin::Begin) && s->Seek(-4, SeekOrigin::Current) && s->Read(buf, 2) == 2);
    EXPECT_EQ(buf[1], data[7]);
    ASSERT_TRUE(s->Seek(-3, SeekOrigin::End));
    EXPECT_EQ(s->Read(buf, 16), 3);  // the end: fewer bytes, no failure
    EXPECT_EQ(Bytes(buf, buf + 3), Bytes(data.end() - 3, data.end()));
    EXPECT_TRUE(s->Seek(100000, SeekOrigin::Begin));  // past the end is a place, not an error
    EXPECT_EQ(s->Read(buf, 4), 0);
    EXPECT_EQ(s->Status(), CompoundStatus::Ok);
    EXPECT_FALSE(s->Seek(-100001, SeekOrigin::Current));
    EXPECT_EQ(s->Status(), CompoundStatus::SeekFailed);
    EXPECT_EQ(s->Tell(), 100000u);
    EXPECT_FALSE(s->Write(buf, 1));
    EXPECT_EQ(s->Status(), CompoundStatus::WriteFailed);
    auto in = r.OpenIStream("Data");
    ASSERT_TRUE(in);
    in->seekg(4100);
    EXPECT_EQ(static_cast<std::uint8_t>(in->get()), data[4100]);
    in->seekg(0);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(*in), std::istreambuf_iterator<char>()), data);
}

TEST(CompoundFile, NestedStoragesExactNamesAndDifat) {
    CfbBuilder b;
    b.root.children.push_back(Stream("Workbook", Pattern(300)));
    b.root.children.push_back(Storage("Inner", {Stream("Deep", Pattern(5000, 3))}));
    // More than 109 FAT sectors: the rest are listed in the DIFAT chain.
    b.root.children.push_back(Stream("Big", Pattern(110 * 128 * 512, 5)));
    CompoundFileReader r;
    ASSERT_TRUE(r.OpenMemory(b.Build())) << r.LastError();
    ASSERT_FALSE(b.difatSectors.empty());
    EXPECT_EQ(ReadAll(*r.OpenStream("Big"), 1 << 16), Pattern(110 * 128 * 512, 5));
    EXPECT_FALSE(r.OpenStream("workbook"));  // names are matched exactly
    EXPECT_EQ(r.Status(), CompoundStatus::NoSuchStream);
    EXPECT_FALSE(r.OpenStream("Inner"));  // a storage is no stream
    EXPECT_FALSE(r.OpenStream("Deep"));   // only the root's own streams go by name
    std::vector<CompoundElement> kids;
    ASSERT_TRUE(r.Children(r.RootElements()[1], kids));
    ASSERT_EQ(Names(kids), std::vector<std::string>{"Deep"});
    EXPECT_EQ(ReadAll(*r.OpenStream(kids[0]), 1000), Pattern(5000, 3));
    EXPECT_FALSE(r.Children(kids[0], kids));  // a stream has no children
    auto w = r.OpenStream("Workbook");
    r.Close();
    EXPECT_EQ(ReadAll(*w, 64), Pattern(300));  // streams outlive their reader
}

// Hostile files: each damage ends in an error -- of the whole file (status 1) or of the one
// stream it touches (status 2) -- never in a hang or a read out of bounds.
TEST(CompoundFileHostile, EachDamageEndsInAnError) {
    struct Case {
        const char* what;
        std::function<void(CfbBuilder&, Bytes&)> damage;
        const char* failingStream;  // null: the file does not open
        unsigned shift = 9;
    };
    auto put = [](Bytes& f, std::uint64_t at, std::uint32_t v) { StoreLE<std::uint32_t>(f.data() + at, v); };
    auto entry = [](CfbBuilder& b, const char* n) { return b.EntryOffset(b.entryOf[n]); };
    const Case cases[] = {
        {"truncated header", [](CfbBuilder&, Bytes& f) { f.resize(300); }, nullptr},
        {"stream chain loops", [](CfbBuilder& b, Bytes& f) { b.SetFat(f, b.chainOf["Big"][20], b.chainOf["Big"][3]); }, "Big"},
        {"stream sector past the end", [](CfbBuilder& b, Bytes& f) { b.SetFat(f, b.chainOf["Big"][5], 0x00FFFFFF); }, "Big"},
        {"directory chain loops", [](CfbBuilder& b, Bytes& f) { b.SetFat(f, b.dirSectors.back(), b.dirSectors[0]); }, nullptr},
        {"directory past the end", [&](CfbBuilder&, Bytes& f) { put(f, 48, 0x7FFFFFF0); }, nullptr},
        {"FAT sector past the end", [&](CfbBuilder&, Bytes& f) { put(f, 76, 0x12345678); }, nullptr},
        {"FAT count beyond the file", [&](CfbBuilder&, Bytes& f) { put(f, 44, 0xFFFFFFF0); }, nullptr},
        {"entry size just beyond the file",
         [&](CfbBuilder& b, Bytes& f) { put(f, entry(b, "Other") + 120, static_cast<std::uint32_t>(f.size())); }, "Other"},
        {"high size half in a 4096-byte-sector file", [&](CfbBuilder& b, Bytes& f) { put(f, entry(b, "Other") + 124, 1); }, "Other", 12},
        {"tree loops", [&](CfbBuilder& b, Bytes& f) { put(f, entry(b, "Other") + 72, b.entryOf["Other"]); }, nullptr},
        {"tree leads back to the root", [&](CfbBuilder& b, Bytes& f) { put(f, entry(b, "Small") + 68, 0); }, nullptr},
        {"tree names no entry", [&](CfbBuilder& b, Bytes& f) { put(f, entry(b, "Small") + 72, 5000); }, nullptr},
        {"mini chain loops",
         [&](CfbBuilder& b, Bytes& f) {
             std::uint32_t start = LoadLE<std::uint32_t>(f.data() + entry(b, "Small") + 116);
             put(f, b.SectorOffset(b.miniFatSectors[0]) + 4 * (start + 3), start);
         },
         "Small"},
        {"mini stream longer than the file", [&](CfbBuilder& b, Bytes& f) { put(f, b.EntryOffset(0) + 120, 0x7FFFFFFF); }, "Small"},
        {"file cut inside the last stream's last sector", [](CfbBuilder&, Bytes& f) { f.resize(f.size() - 500); }, "Big"},
        {"file cut inside the large streams",
         [](CfbBuilder& b, Bytes& f) { f.resize(b.SectorOffset(b.chainOf["Big"][30]) + 100); }, "Big"},
    };
    for (const Case& c : cases) {
        CfbBuilder b(c.shift);
        b.interleave = true;
        b.root.children = {Stream("Big", Pattern(20000)), Stream("Other", Pattern(6000, 2)), Stream("Small", Pattern(700, 3))};
        Bytes f = b.Build();
        c.damage(b, f);
        CompoundFileReader r;
        bool opened = r.OpenMemory(f);
        if (!c.failingStream) {
            EXPECT_FALSE(opened) << c.what;
            EXPECT_EQ(r.Status(), CompoundStatus::OpenFailed) << c.what;
            continue;
        }
        ASSERT_TRUE(opened) << c.what << ": " << r.LastError();
        EXPECT_FALSE(r.OpenStream(c.failingStream)) << c.what;
        EXPECT_EQ(r.Status(), CompoundStatus::NoSuchStream) << c.what;
        EXPECT_TRUE(r.OpenStream("Small") || std::string(c.failingStream) == "Small") << c.what << ": the rest stays readable";
    }
}

TEST(CompoundFileHostile, DifatChainThatLoops) {
    CfbBuilder b;
    b.root.children.push_back(Stream("Big", Pattern(400 * 512)));
    Bytes f = b.Build();
    std::uint32_t self = b.chainOf["Big"][10];  // enough sectors for 364 FAT sectors to be plausible
    StoreLE<std::uint32_t>(f.data() + 44, 109 + 2 * 127 + 1);
    StoreLE<std::uint32_t>(f.data() + 68, self);
    StoreLE<std::uint32_t>(f.data() + b.SectorOffset(self) + 508, self);
    CompoundFileReader r;
    EXPECT_FALSE(r.OpenMemory(f));
    EXPECT_NE(r.LastError().find("DIFAT chain loops"), std::string::npos) << r.LastError();
}

TEST(CompoundFileHostile, FileThatShrinksWhileReadAndFilesThatAreNoFiles) {
    CfbBuilder b;
    b.root.children.push_back(Stream("Big", Pattern(20000)));
    fs::path p = Temp("shrink.cfb", b.Build());
    CompoundFileReader r;
    ASSERT_TRUE(r.Open(p.string()));
    auto s = r.OpenStream("Big");
    ASSERT_TRUE(s);
    fs::resize_file(p, 2048);  // someone else truncates the file
    std::uint8_t buf[8192];
    EXPECT_EQ(s->Read(buf, sizeof buf), -1);
    EXPECT_EQ(s->Status(), CompoundStatus::ReadFailed);

    fs::path fifo = Scratch() / "fifo";
    ::mkfifo(fifo.c_str(), 0600);
    EXPECT_FALSE(CompoundFileReader::IsCompoundFile(fifo.string()));  // must not block
    EXPECT_FALSE(r.Open(fifo.string()));
    EXPECT_EQ(r.Status(), CompoundStatus::OpenFailed);
    EXPECT_FALSE(CompoundFileReader::IsCompoundFile(Scratch().string()) || CompoundFileReader::IsCompoundFile("/nonexistent"));
}

// --- Files written by other programs --------------------------------------------------------

TEST(CompoundFileCorpus, XlsFilesFindTheirWorkbookStreamAndAgreeWithOlefile) {
    std::ifstream manifest(std::string(KELTO_CORPUS_DIR) + "/xls/MANIFEST.tsv");
    ASSERT_TRUE(manifest) << "no corpus at " KELTO_CORPUS_DIR "/xls";
    std::vector<std::string> compoundPaths;
    int plain = 0;
    std::string line;
    std::getline(manifest, line);
    while (std::getline(manifest, line)) {
        std::string file = line.substr(0, line.find('\t'));
        std::string path = std::string(KELTO_CORPUS_DIR) + "/xls/" + file;
        std::string notes = line.substr(line.find("B; ") + 3);  // after "size=... B; "
        // A file the manifest lists must be there: the checks below would pass on nothing.
        ASSERT_TRUE(std::filesystem::is_regular_file(path)) << "corpus file missing: " << path;
        CompoundFileReader r;
        if (notes.rfind("RAW", 0) == 0) {  // plain BIFF2-4 streams and garbage
            EXPECT_FALSE(CompoundFileReader::IsCompoundFile(path) || r.Open(path)) << file;
            ++plain;
            continue;
        }
        ASSERT_EQ(notes.rfind("OLE[", 0), 0u) << file;
        std::string expected = notes.substr(4, notes.find(']') - 4);
        ASSERT_TRUE(CompoundFileReader::IsCompoundFile(path) && r.Open(path)) << file << ": " << r.LastError();
        ExpectCompoundOrder(r.RootElements(), file);
        compoundPaths.push_back(path);
        // The first root stream named exactly "Workbook" or "Book", as the workbook reader picks it.
        const CompoundElement* wb = nullptr;
        for (const auto& e : r.RootElements())
            if (!wb && !e.isStorage && (e.name == "Workbook" || e.name == "Book")) wb = &e;
        if (expected != "Workbook" && expected != "Book") {
            EXPECT_EQ(wb, nullptr) << file << " has only '" << expected << "'";
            continue;
        }
        ASSERT_TRUE(wb) << file;
        EXPECT_EQ(wb->name, expected) << file;
        Bytes data = ReadAll(*r.OpenStream(*wb), 8192);
        ASSERT_EQ(data.size(), wb->size);
        EXPECT_EQ(LoadLE<std::uint16_t>(data.data()), 0x0809) << file << ": the stream starts with a BOF record";
    }
    EXPECT_GE(compoundPaths.size(), 25u);
    EXPECT_GE(plain, 10);
    if (!HaveOlefile()) GTEST_SKIP() << "python3-olefile not installed (scripts/install-deps.sh --extras)";
    auto theirs = OlefileRows(compoundPaths);
    for (const auto& path : compoundPaths) EXPECT_EQ(OurRows(path), theirs[path]) << path;
}

// A LibreOffice workbook and the test builder's own files (which keeps the builder honest) are
// listed as python3-olefile, an independent reader, lists them.
TEST(CompoundFileCorpus, BuiltAndLibreOfficeFilesAgreeWithOlefile) {
    if (!HaveOlefile()) GTEST_SKIP() << "python3-olefile not installed (scripts/install-deps.sh --extras)";
    std::vector<std::string> paths;
    for (unsigned shift : {9u, 12u}) {
        CfbBuilder b(shift);
        b.interleave = true;
        for (std::size_t size : {0, 100, 4095, 4096, 30000, 70000})
            b.root.children.push_back(Stream("s" + std::to_string(size), Pattern(size, unsigned(size))));
        b.root.children.push_back(Storage("Inner", {Stream("Deep", {1, 2})}));
        paths.push_back(Temp("built" + std::to_string(shift) + ".cfb", b.Build()).string());
    }
    bool haveSoffice = std::system("command -v soffice >/dev/null 2>&1") == 0;
    if (haveSoffice) {
        std::ofstream csv(Temp("table.csv"));
        for (int i = 0; i < 3000; ++i) csv << "row " << i << "," << i * 0.25 << "\n";
        csv.close();
        // A private profile, so that concurrent LibreOffice runs do not share one.
        std::string cmd = "cd '" + Scratch().string() + "' && soffice -env:UserInstallation=file://" + Scratch().string() +
                          "/profile --headless --convert-to xls table.csv >/dev/null 2>&1";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        paths.push_back((Scratch() / "table.xls").string());
    }
    auto theirs = OlefileRows(paths);
    for (const auto& path : paths) EXPECT_EQ(OurRows(path), theirs[path]) << path;
    if (!haveSoffice) GTEST_SKIP() << "LibreOffice (soffice) not installed: only built files were compared";
    // LibreOffice's workbook: a BIFF8 stream in regular sectors, listed in compound order.
    CompoundFileReader r;
    ASSERT_TRUE(r.Open(paths.back()));
    ExpectCompoundOrder(r.RootElements(), "LibreOffice");
    auto s = r.OpenStream("Workbook");
    ASSERT_TRUE(s);
    Bytes d = ReadAll(*s, 1000);
    ASSERT_GT(d.size(), 4096u);
    EXPECT_EQ(LoadLE<std::uint16_t>(d.data() + 4), 0x0600);
}
