#include "platform/CompoundFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <tuple>

#include "platform/CfbBuilder.h"

namespace fs = std::filesystem;
using kelto::platform::CompoundElement;
using kelto::platform::CompoundFileReader;
using kelto::platform::CompoundStatus;
using kelto::platform::CompoundStream;
using kelto::platform::LoadLE;
using kelto::platform::SeekOrigin;
using kelto::platform::StoreLE;
using kelto::test::CfbBuilder;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::vector<std::string> Names(const std::vector<CompoundElement>& elements) {
    std::vector<std::string> out;
    for (const auto& e : elements) out.push_back(e.name);
    return out;
}

Bytes ReadAll(CompoundStream& s, std::size_t chunk) {
    Bytes out;
    Bytes buf(chunk);
    while (true) {
        auto got = s.Read(buf.data(), chunk);
        EXPECT_GE(got, 0);
        if (got <= 0) break;
        out.insert(out.end(), buf.begin(), buf.begin() + got);
    }
    return out;
}

fs::path TempDir() {
    fs::path dir = fs::temp_directory_path() / ("kelto_cfb_" + std::to_string(getpid()));
    fs::create_directories(dir);
    return dir;
}

void WriteFile(const fs::path& p, const Bytes& data) {
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

std::string Run(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        while (std::size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
        pclose(p);
    }
    return out;
}

bool HaveOlefile() { return std::system("/usr/bin/python3 -c 'import olefile' >/dev/null 2>&1") == 0; }

// (name, is storage, size, CRC-32 of the data) of every root element, as our reader sees it.
using Row = std::tuple<std::string, bool, std::uint64_t, std::uint32_t>;
std::set<Row> OurRows(CompoundFileReader& r) {
    std::set<Row> rows;
    for (const auto& e : r.RootElements()) {
        std::uint32_t crc = 0;
        if (!e.isStorage) {
            auto s = r.OpenStream(e);
            EXPECT_TRUE(s) << e.name << ": " << r.LastError();
            if (s) {
                Bytes d = ReadAll(*s, 4096);
                crc = static_cast<std::uint32_t>(crc32(0, d.data(), static_cast<uInt>(d.size())));
            }
        }
        rows.emplace(e.name, e.isStorage, e.size, crc);
    }
    return rows;
}

// olefile's view of the same, per file.
std::map<std::string, std::set<Row>> OlefileRows(const std::vector<std::string>& paths) {
    std::string cmd = "/usr/bin/python3 " KELTO_SOURCE_DIR "/tests/platform/olefile_dump.py";
    for (const auto& p : paths) cmd += " '" + p + "'";
    std::istringstream in(Run(cmd));
    std::map<std::string, std::set<Row>> out;
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> f;
        std::stringstream ls(line);
        for (std::string x; std::getline(ls, x, '\t');) f.push_back(x);
        if (f.size() == 5)
            out[f[0]].emplace(f[1], f[2] == "1", std::stoull(f[3]), static_cast<std::uint32_t>(std::stoul(f[4])));
    }
    return out;
}

bool InCompoundOrder(const std::vector<CompoundElement>& elements) {
    for (std::size_t i = 1; i < elements.size(); ++i)
        if (!CfbBuilder::NameLess(CfbBuilder::Utf16(elements[i - 1].name), CfbBuilder::Utf16(elements[i].name))) return false;
    return true;
}

}  // namespace

// --- Files built here -----------------------------------------------------------------------

TEST(CompoundFile, ListsRootElementsInCompoundNameOrder) {
    CfbBuilder b;
    for (const char* n : {"Zeta", "alpha", "B", "Book", "Workbook", "\x05SummaryInformation", "Лист1"})
        b.root.children.push_back(CfbBuilder::Stream(n, CfbBuilder::Pattern(10)));
    b.root.children.push_back(CfbBuilder::Storage("Sub", {}));
    Bytes file = b.Build();
    CompoundFileReader r;
    ASSERT_TRUE(r.OpenMemory(file)) << r.LastError();
    // Shorter names first, then by upper case: the order Windows enumerates a storage in.
    EXPECT_EQ(Names(r.RootElements()),
              (std::vector<std::string>{"B", "Sub", "Book", "Zeta", "alpha", "Лист1", "Workbook", "\x05SummaryInformation"}));
    EXPECT_TRUE(r.RootElements()[1].isStorage);
    EXPECT_EQ(r.RootElements()[0].size, 10u);
}

TEST(CompoundFile, ListsAnUnsortedTreeInWalkOrder) {
    CfbBuilder b;
    for (const char* n : {"B", "Book", "Zeta"}) b.root.children.push_back(CfbBuilder::Stream(n, {1}));
    Bytes f = b.Build();
    // Relink as a right-leaning chain Zeta -> Book -> B, which no sorting writer would produce.
    auto link = [&](std::uint32_t id, std::uint32_t left, std::uint32_t right) {
        StoreLE<std::uint32_t>(f.data() + b.EntryOffset(id) + 68, left);
        StoreLE<std::uint32_t>(f.data() + b.EntryOffset(id) + 72, right);
    };
    StoreLE<std::uint32_t>(f.data() + b.EntryOffset(0) + 76, b.entryOf["Zeta"]);
    link(b.entryOf["Zeta"], 0xFFFFFFFF, b.entryOf["Book"]);
    link(b.entryOf["Book"], 0xFFFFFFFF, b.entryOf["B"]);
    link(b.entryOf["B"], 0xFFFFFFFF, 0xFFFFFFFF);
    CompoundFileReader r;
    ASSERT_TRUE(r.OpenMemory(f)) << r.LastError();
    EXPECT_EQ(Names(r.RootElements()), (std::vector<std::string>{"Zeta", "Book", "B"}));
}

class CompoundFileSectors : public ::testing::TestWithParam<unsigned> {};

TEST_P(CompoundFileSectors, ReadsMiniAndRegularStreamsExactly) {
    CfbBuilder b(GetParam());
    b.interleave = true;
    const std::vector<std::size_t> sizes = {0, 1, 63, 64, 65, 4095, 4096, 4097, 100000};
    for (std::size_t i = 0; i < sizes.size(); ++i)
        b.root.children.push_back(CfbBuilder::Stream("s" + std::to_string(sizes[i]), CfbBuilder::Pattern(sizes[i], static_cast<unsigned>(i + 1))));
    Bytes file = b.Build();
    CompoundFileReader r;
    ASSERT_TRUE(r.OpenMemory(file)) << r.LastError();
    EXPECT_EQ(r.SectorSize(), 1u << GetParam());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        Bytes want = CfbBuilder::Pattern(sizes[i], static_cast<unsigned>(i + 1));
        for (std::size_t chunk : {std::size_t{1} << 20, std::size_t{37}, std::size_t{513}}) {
            auto s = r.OpenStream("s" + std::to_string(sizes[i]));
            ASSERT_TRUE(s) << r.LastError();
            EXPECT_EQ(s->Size(), sizes[i]);
            EXPECT_EQ(ReadAll(*s, chunk), want) << "size " << sizes[i] << " chunk " << chunk;
            EXPECT_EQ(s->Status(), CompoundStatus::Ok);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, CompoundFileSectors, ::testing::Values(9u, 12u));

TEST(CompoundFile, ShortReadAtTheEndSeekTellAndReadOnly) {
    CfbBuilder b;
    Bytes data = CfbBuilder::Pattern(5000);
    b.root.children.push_back(CfbBuilder::Stream("Data", data));
    CompoundFileReader r;
    ASSERT_TRUE(r.OpenMemory(b.Build()));
    auto s = r.OpenStream("Data");
    ASSERT_TRUE(s);
    std::uint8_t buf[16];
    ASSERT_TRUE(s->Seek(-3, SeekOrigin::End));
    EXPECT_EQ(s->Tell(), 4997u);
    EXPECT_EQ(s->Read(buf, 16), 3);  // the end: fewer bytes, no failure
    EXPECT_EQ(Bytes(buf, buf + 3), Bytes(data.end() - 3, data.end()));
    EXPECT_EQ(s->Read(buf, 16), 0);
    EXPECT_EQ(s->Status(), CompoundStatus::Ok);
    ASSERT_TRUE(s->Seek(10, SeekOrigin::Begin));
    ASSERT_TRUE(s->Seek(-4, SeekOrigin::Current));
    EXPECT_EQ(s->Read(buf, 2), 2);
    EXPECT_EQ(Bytes(buf, buf + 2), Bytes(data.begin() + 6, data.begin() + 8));
    EXPECT_TRUE(s->Seek(100000, SeekOrigin::Begin));  // past the end is a place, not an error
    EXPECT_EQ(s->Read(buf, 4), 0);
    EXPECT_FALSE(s->Seek(-100001, SeekOrigin::Current));
    EXPECT_EQ(s->Status(), CompoundStatus::SeekFailed);
    EXPECT_EQ(s->Tell(), 100000u);
    EXPECT_FALSE(s->Write(buf, 1));
    EXPECT_EQ(s->Status(), CompoundStatus::WriteFailed);
}

TEST(CompoundFile, IStreamReadsAndSeeks) {
    CfbBuilder b;
    Bytes data = CfbBuilder::Pattern(9000, 7);
    b.root.children.push_back(CfbBuilder::Stream("Data", data));
    CompoundFileReader r;
    ASSERT_TRUE(r.OpenMemory(b.Build()));
    auto in = r.OpenIStream("Data");
    ASSERT_TRUE(in);
    Bytes all((std::istreambuf_iterator<char>(*in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(all, data);
    in->clear();
    in->seekg(4100);
    char c;
    in->get(c);
    EXPECT_EQ(static_cast<std::uint8_t>(c), data[4100]);
    EXPECT_EQ(in->tellg(), 4101);
    in->seekg(-2, std::ios::end);
    in->get(c);
    EXPECT_EQ(static_cast<std::uint8_t>(c), data[8998]);
    EXPECT_FALSE(r.OpenIStream("Missing"));
}

TEST(CompoundFile, NestedStoragesAndExactNames) {
    CfbBuilder b;
    b.root.children.push_back(CfbBuilder::Stream("Workbook", CfbBuilder::Pattern(300)));
    b.root.children.push_back(CfbBuilder::Storage("Inner", {CfbBuilder::Stream("Deep", CfbBuilder::Pattern(5000, 3))}));
    CompoundFileReader r;
    ASSERT_TRUE(r.OpenMemory(b.Build()));
    EXPECT_FALSE(r.OpenStream("workbook"));  // names are matched exactly
    EXPECT_EQ(r.Status(), CompoundStatus::NoSuchStream);
    EXPECT_FALSE(r.OpenStream("Inner"));  // a storage is no stream
    EXPECT_FALSE(r.OpenStream("Deep"));   // only the root's own streams go by name
    const CompoundElement* inner = nullptr;
    for (const auto& e : r.RootElements())
        if (e.name == "Inner") inner = &e;
    ASSERT_TRUE(inner);
    std::vector<CompoundElement> kids;
    ASSERT_TRUE(r.Children(*inner, kids));
    ASSERT_EQ(Names(kids), std::vector<std::string>{"Deep"});
    auto s = r.OpenStream(kids[0]);
    ASSERT_TRUE(s);
    EXPECT_EQ(ReadAll(*s, 1000), CfbBuilder::Pattern(5000, 3));
    EXPECT_FALSE(r.Children(kids[0], kids));  // a stream has no children
    // Streams outlive their reader.
    auto w = r.OpenStream("Workbook");
    r.Close();
    EXPECT_EQ(ReadAll(*w, 64), CfbBuilder::Pattern(300));
}

TEST(CompoundFile, FatListedThroughDifatSectors) {
    // More than 109 FAT sectors of 512 bytes: the rest are found through the DIFAT chain.
    CfbBuilder b;
    Bytes data = CfbBuilder::Pattern(110 * 128 * 512, 5);
    b.root.children.push_back(CfbBuilder::Stream("Big", data));
    Bytes file = b.Build();
    ASSERT_FALSE(b.difatSectors.empty());
    CompoundFileReader r;
    ASSERT_TRUE(r.OpenMemory(file)) << r.LastError();
    auto s = r.OpenStream("Big");
    ASSERT_TRUE(s) << r.LastError();
    EXPECT_EQ(ReadAll(*s, 1 << 16), data);
}

TEST(CompoundFile, SizeHighHalfIgnoredOnlyWithSmallSectors) {
    for (unsigned shift : {9u, 12u}) {
        CfbBuilder b(shift);
        b.root.children.push_back(CfbBuilder::Stream("Data", CfbBuilder::Pattern(5000)));
        Bytes f = b.Build();
        StoreLE<std::uint32_t>(f.data() + b.EntryOffset(b.entryOf["Data"]) + 124, 0xDEADBEEF);
        CompoundFileReader r;
        ASSERT_TRUE(r.OpenMemory(f));
        auto s = r.OpenStream("Data");
        if (shift == 9) {
            ASSERT_TRUE(s);
            EXPECT_EQ(s->Size(), 5000u);
        } else {
            EXPECT_FALSE(s);  // a 4096-byte-sector file means the whole 64-bit size
            EXPECT_EQ(r.Status(), CompoundStatus::NoSuchStream);
        }
    }
}

// --- Hostile files: each ends in an error, never a hang or a read out of bounds -------------

struct Damaged {
    CfbBuilder b;
    Bytes file;
    Damaged() {
        b.interleave = true;
        b.root.children.push_back(CfbBuilder::Stream("Big", CfbBuilder::Pattern(20000)));
        b.root.children.push_back(CfbBuilder::Stream("Other", CfbBuilder::Pattern(6000, 2)));
        b.root.children.push_back(CfbBuilder::Stream("Small", CfbBuilder::Pattern(700, 3)));
        file = b.Build();
    }
    void Put32(std::uint64_t at, std::uint32_t v) { StoreLE<std::uint32_t>(file.data() + at, v); }
    std::uint64_t Entry(const char* name) { return b.EntryOffset(b.entryOf[name]); }
};

TEST(CompoundFileHostile, TruncatedHeader) {
    Damaged d;
    Bytes head(d.file.begin(), d.file.begin() + 300);
    EXPECT_FALSE(CompoundFileReader::IsCompoundData(head));
    CompoundFileReader r;
    EXPECT_FALSE(r.OpenMemory(head));
    EXPECT_EQ(r.Status(), CompoundStatus::OpenFailed);
    Bytes headerOnly(d.file.begin(), d.file.begin() + 512);  // a header and nothing it points to
    EXPECT_TRUE(CompoundFileReader::IsCompoundData(headerOnly));
    EXPECT_FALSE(r.OpenMemory(headerOnly));
    EXPECT_EQ(r.Status(), CompoundStatus::OpenFailed);
}

TEST(CompoundFileHostile, StreamChainThatLoops) {
    Damaged d;
    const auto& chain = d.b.chainOf["Big"];
    d.b.SetFat(d.file, chain[20], chain[3]);
    CompoundFileReader r;
    ASSERT_TRUE(r.OpenMemory(d.file));
    EXPECT_FALSE(r.OpenStream("Big"));
    EXPECT_EQ(r.Status(), CompoundStatus::NoSuchStream);
    EXPECT_NE(r.LastError().find("loops"), std::string::npos) << r.LastError();
    EXPECT_TRUE(r.OpenStream("Other"));  // the rest of the file stays readable
}

TEST(CompoundFileHostile, DirectoryChainThatLoops) {
    Damaged d;
    d.b.SetFat(d.file, d.b.dirSectors.back(), d.b.dirSectors.front());
    CompoundFileReader r;
    EXPECT_FALSE(r.OpenMemory(d.file));
    EXPECT_EQ(r.Status(), CompoundStatus::OpenFailed);
}

TEST(CompoundFileHostile, SectorNumbersPastTheEnd) {
    {
        Damaged d;
        d.b.SetFat(d.file, d.b.chainOf["Big"][5], 0x00FFFFFF);
        CompoundFileReader r;
        ASSERT_TRUE(r.OpenMemory(d.file));
        EXPECT_FALSE(r.OpenStream("Big"));
        EXPECT_EQ(r.Status(), CompoundStatus::NoSuchStream);
    }
    {
        Damaged d;
        d.Put32(48, 0x7FFFFFF0);  // first directory sector
        CompoundFileReader r;
        EXPECT_FALSE(r.OpenMemory(d.file));
        EXPECT_EQ(r.Status(), CompoundStatus::OpenFailed);
    }
    {
        Damaged d;
        d.Put32(76, 0x12345678);  // first FAT sector
        CompoundFileReader r;
        EXPECT_FALSE(r.OpenMemory(d.file));
    }
    {
        Damaged d;
        d.Put32(44, 0xFFFFFFF0);  // FAT sector count far beyond the file
        CompoundFileReader r;
        EXPECT_FALSE(r.OpenMemory(d.file));
        EXPECT_EQ(r.Status(), CompoundStatus::OpenFailed);
    }
}

TEST(CompoundFileHostile, DirectoryEntrySizeBeyondTheFile) {
    Damaged d;
    d.Put32(d.Entry("Big") + 120, 0xFFFFFF00);
    d.Put32(d.Entry("Other") + 120, static_cast<std::uint32_t>(d.file.size() + 1));
    CompoundFileReader r;
    ASSERT_TRUE(r.OpenMemory(d.file));
    EXPECT_FALSE(r.OpenStream("Big"));
    EXPECT_EQ(r.Status(), CompoundStatus::NoSuchStream);
    EXPECT_FALSE(r.OpenStream("Other"));
    EXPECT_TRUE(r.OpenStream("Small"));
}

TEST(CompoundFileHostile, DirectoryTreeThatLoopsOrPointsNowhere) {
    for (std::uint32_t bad : {0u, 1u, 5000u}) {
        Damaged d;
        std::uint32_t top = LoadLE<std::uint32_t>(d.file.data() + d.b.EntryOffset(0) + 76);
        // bad = 0 points back at the root, 1 (or the top) loops, 5000 is no entry at all.
        d.Put32(d.b.EntryOffset(top) + 68, bad == 1 ? top : bad);
        CompoundFileReader r;
        EXPECT_FALSE(r.OpenMemory(d.file)) << bad;
        EXPECT_EQ(r.Status(), CompoundStatus::OpenFailed);
    }
}

TEST(CompoundFileHostile, DamagedMiniStreamSparesTheLargeStreams) {
    {
        Damaged d;  // mini FAT chain that loops
        std::uint32_t start = LoadLE<std::uint32_t>(d.file.data() + d.Entry("Small") + 116);
        d.Put32(d.b.SectorOffset(d.b.miniFatSectors[0]) + 4 * (start + 3), start);
        CompoundFileReader r;
        ASSERT_TRUE(r.OpenMemory(d.file));
        EXPECT_FALSE(r.OpenStream("Small"));
        EXPECT_TRUE(r.OpenStream("Big"));
    }
    {
        Damaged d;  // a mini stream said to be far longer than the file
        d.Put32(d.b.EntryOffset(0) + 120, 0x7FFFFFFF);
        CompoundFileReader r;
        ASSERT_TRUE(r.OpenMemory(d.file));
        EXPECT_FALSE(r.OpenStream("Small"));
        EXPECT_EQ(r.Status(), CompoundStatus::NoSuchStream);
        EXPECT_TRUE(r.OpenStream("Big"));
    }
}

TEST(CompoundFileHostile, DifatChainThatLoops) {
    // Enough sectors that a large FAT count is plausible; then the DIFAT chain points at itself.
    CfbBuilder b;
    b.root.children.push_back(CfbBuilder::Stream("Big", CfbBuilder::Pattern(400 * 512)));
    Bytes f = b.Build();
    std::uint32_t self = b.chainOf["Big"][10];
    StoreLE<std::uint32_t>(f.data() + 44, 109 + 2 * 127 + 1);
    StoreLE<std::uint32_t>(f.data() + 68, self);
    StoreLE<std::uint32_t>(f.data() + b.SectorOffset(self) + 508, self);
    CompoundFileReader r;
    EXPECT_FALSE(r.OpenMemory(f));
    EXPECT_NE(r.LastError().find("DIFAT"), std::string::npos) << r.LastError();
}

TEST(CompoundFileHostile, TruncatedFileAndFileThatShrinks) {
    Damaged d;
    fs::path p = TempDir() / "shrink.cfb";
    // Cut inside the data of the large streams: the directory is intact, those streams are not.
    std::uint64_t cut = d.b.SectorOffset(d.b.chainOf["Big"][30]) + 100;
    WriteFile(p, Bytes(d.file.begin(), d.file.begin() + static_cast<std::ptrdiff_t>(cut)));
    CompoundFileReader r;
    ASSERT_TRUE(r.Open(p.string())) << r.LastError();
    EXPECT_FALSE(r.OpenStream("Big"));
    EXPECT_TRUE(r.OpenStream("Small"));

    WriteFile(p, d.file);
    ASSERT_TRUE(r.Open(p.string()));
    auto s = r.OpenStream("Big");
    ASSERT_TRUE(s);
    fs::resize_file(p, 2048);  // someone else truncates the file while we read
    std::uint8_t buf[4096];
    EXPECT_EQ(s->Read(buf, sizeof buf), -1);
    EXPECT_EQ(s->Status(), CompoundStatus::ReadFailed);
    fs::remove(p);
}

TEST(CompoundFileHostile, OnlyRegularFilesAreExamined) {
    fs::path dir = TempDir();
    fs::path fifo = dir / "fifo";
    ::mkfifo(fifo.c_str(), 0600);
    EXPECT_FALSE(CompoundFileReader::IsCompoundFile(fifo.string()));  // must not block
    EXPECT_FALSE(CompoundFileReader::IsCompoundFile(dir.string()));
    EXPECT_FALSE(CompoundFileReader::IsCompoundFile((dir / "missing").string()));
    CompoundFileReader r;
    EXPECT_FALSE(r.Open(fifo.string()));
    EXPECT_EQ(r.Status(), CompoundStatus::OpenFailed);
    fs::remove(fifo);
}

// --- Files written by other programs --------------------------------------------------------

namespace {

struct ManifestRow {
    std::string file, notes;
};

std::vector<ManifestRow> XlsManifest() {
    std::vector<ManifestRow> rows;
    std::ifstream in(std::string(KELTO_CORPUS_DIR) + "/xls/MANIFEST.tsv");
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream ls(line);
        for (std::string x; std::getline(ls, x, '\t');) f.push_back(x);
        if (f.size() >= 5) rows.push_back({f[0], f[4]});
    }
    return rows;
}

// The first root stream named exactly "Workbook" or "Book", in listing order.
const CompoundElement* WorkbookStream(const CompoundFileReader& r) {
    for (const auto& e : r.RootElements())
        if (!e.isStorage && (e.name == "Workbook" || e.name == "Book")) return &e;
    return nullptr;
}

}  // namespace

TEST(CompoundFileCorpus, XlsFilesFindTheirWorkbookStream) {
    auto rows = XlsManifest();
    if (rows.empty()) GTEST_SKIP() << "no corpus at " KELTO_CORPUS_DIR "/xls";
    int compound = 0, plain = 0;
    for (const auto& row : rows) {
        std::string path = std::string(KELTO_CORPUS_DIR) + "/xls/" + row.file;
        std::string notes = row.notes.substr(row.notes.find(';') + 2);
        CompoundFileReader r;
        if (notes.rfind("RAW", 0) == 0) {
            EXPECT_FALSE(CompoundFileReader::IsCompoundFile(path)) << row.file;
            EXPECT_FALSE(r.Open(path)) << row.file;
            EXPECT_EQ(r.Status(), CompoundStatus::OpenFailed);
            ++plain;
            continue;
        }
        ASSERT_EQ(notes.rfind("OLE[", 0), 0u) << row.file << ": " << notes;
        std::string expected = notes.substr(4, notes.find(']') - 4);
        EXPECT_TRUE(CompoundFileReader::IsCompoundFile(path)) << row.file;
        ASSERT_TRUE(r.Open(path)) << row.file << ": " << r.LastError();
        EXPECT_TRUE(InCompoundOrder(r.RootElements())) << row.file;
        ++compound;
        const CompoundElement* wb = WorkbookStream(r);
        if (expected != "Workbook" && expected != "Book") {
            EXPECT_EQ(wb, nullptr) << row.file << " has only '" << expected << "'";
            continue;
        }
        ASSERT_TRUE(wb) << row.file;
        EXPECT_EQ(wb->name, expected) << row.file;
        auto s = r.OpenStream(*wb);
        ASSERT_TRUE(s) << row.file << ": " << r.LastError();
        Bytes data = ReadAll(*s, 8192);
        EXPECT_EQ(data.size(), wb->size);
        ASSERT_GE(data.size(), 4u);
        EXPECT_EQ(LoadLE<std::uint16_t>(data.data()), 0x0809) << row.file << ": workbook stream starts with a BOF";
    }
    EXPECT_GE(compound, 25);
    EXPECT_GE(plain, 10);
}

TEST(CompoundFileCorpus, AgreesWithOlefile) {
    if (!HaveOlefile()) GTEST_SKIP() << "python3-olefile not installed (scripts/install-deps.sh --extras)";
    std::vector<std::string> paths;
    for (const auto& row : XlsManifest()) {
        std::string path = std::string(KELTO_CORPUS_DIR) + "/xls/" + row.file;
        if (CompoundFileReader::IsCompoundFile(path)) paths.push_back(path);
    }
    if (paths.empty()) GTEST_SKIP() << "no corpus at " KELTO_CORPUS_DIR "/xls";
    auto theirs = OlefileRows(paths);
    for (const auto& path : paths) {
        CompoundFileReader r;
        ASSERT_TRUE(r.Open(path)) << path;
        EXPECT_EQ(OurRows(r), theirs[path]) << path;
    }
}

TEST(CompoundFileCorpus, BuiltFilesAgreeWithOlefile) {
    // Keeps the test builder honest: an independent reader must see the same files.
    if (!HaveOlefile()) GTEST_SKIP() << "python3-olefile not installed (scripts/install-deps.sh --extras)";
    std::vector<std::string> paths;
    for (unsigned shift : {9u, 12u}) {
        CfbBuilder b(shift);
        b.interleave = true;
        for (std::size_t size : {0, 100, 4095, 4096, 30000, 70000})
            b.root.children.push_back(CfbBuilder::Stream("s" + std::to_string(size), CfbBuilder::Pattern(size, static_cast<unsigned>(size))));
        b.root.children.push_back(CfbBuilder::Storage("Inner", {CfbBuilder::Stream("Deep", {1, 2})}));
        paths.push_back((TempDir() / ("built" + std::to_string(shift) + ".cfb")).string());
        WriteFile(paths.back(), b.Build());
    }
    auto theirs = OlefileRows(paths);
    for (const auto& path : paths) {
        CompoundFileReader r;
        ASSERT_TRUE(r.Open(path)) << r.LastError();
        EXPECT_EQ(OurRows(r), theirs[path]) << path;
        fs::remove(path);
    }
}

TEST(CompoundFileCorpus, WorkbookWrittenByLibreOffice) {
    if (std::system("command -v soffice >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "LibreOffice (soffice) not installed (scripts/install-deps.sh --extras)";
    fs::path dir = TempDir() / "lo";
    fs::create_directories(dir);
    {
        std::ofstream csv(dir / "table.csv");
        csv << "name,value,when\n";
        for (int i = 0; i < 3000; ++i) csv << "row " << i << "," << i * 0.25 << ",2003-04-25\n";
    }
    // A private profile, so that concurrent LibreOffice runs do not share one.
    std::string cmd = "cd '" + dir.string() + "' && soffice -env:UserInstallation=file://" + dir.string() +
                      "/profile --headless --convert-to xls table.csv >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::string path = (dir / "table.xls").string();
    ASSERT_TRUE(CompoundFileReader::IsCompoundFile(path));
    CompoundFileReader r;
    ASSERT_TRUE(r.Open(path)) << r.LastError();
    EXPECT_TRUE(InCompoundOrder(r.RootElements()));
    const CompoundElement* wb = WorkbookStream(r);
    ASSERT_TRUE(wb);
    EXPECT_EQ(wb->name, "Workbook");
    auto s = r.OpenStream(*wb);
    ASSERT_TRUE(s);
    Bytes data = ReadAll(*s, 1000);
    ASSERT_GT(data.size(), 4096u);  // large enough to live in regular sectors
    EXPECT_EQ(LoadLE<std::uint16_t>(data.data()), 0x0809);
    EXPECT_EQ(LoadLE<std::uint16_t>(data.data() + 4), 0x0600);  // BIFF8
    // "row 2999" is in the shared strings, uncompressed 8-bit text.
    std::string text(data.begin(), data.end());
    EXPECT_NE(text.find("row 2999"), std::string::npos);
    if (HaveOlefile()) {
        EXPECT_EQ(OurRows(r), OlefileRows({path})[path]);
    }
    fs::remove_all(dir);
}
