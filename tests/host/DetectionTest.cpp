// Choosing a format for a file: kind-of-file answers, extensions, SelectFormat, the
// extension lookup, and the formats of Python plug-ins.
#include <gtest/gtest.h>

#include <algorithm>

#include "ImportTestSupport.h"
#include "host/DLLFile.h"
#include "plugin/SpreadsheetFile.h"

using namespace hosttest;

namespace {

bool Contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

// Restores an empty Python list when a test ends.
struct PythonPluginsGuard {
    ~PythonPluginsGuard() { ImportDLLLoader::UpdatePythonPlugins({}); }
};

std::shared_ptr<ImportDLLLoader::PythonPlugin> MakePlugin(const std::string& name, std::vector<std::string> extensions) {
    auto plugin = std::make_shared<ImportDLLLoader::PythonPlugin>();
    plugin->name = name;
    plugin->extensions = std::move(extensions);
    plugin->canRead = true;
    plugin->Setup();
    return plugin;
}

}  // namespace

TEST(Detection, SeveralSureAnswersGoToSelectFormat) {
    TempDir dir;
    RecordingLoader loader;
    WriteFile(dir / "two.zz", "#alpha! beta! gamma?\n1\n");
    EXPECT_EQ(loader.GetSpreadsheetFileIndex((dir / "two.zz").c_str()), loader.IndexOf("Host Alpha"));
    EXPECT_EQ(loader.seen, (std::vector<std::string>{"Host Alpha", "Host Beta"}));

    // One sure answer needs no choice, whatever the candidates and the extension.
    WriteFile(dir / "one.ha", "#gamma! alpha?\n1\n");
    loader.calls = 0;
    EXPECT_EQ(loader.GetSpreadsheetFileIndex((dir / "one.ha").c_str()), loader.IndexOf("Host Gamma"));
    EXPECT_EQ(loader.calls, 0);
}

TEST(Detection, CandidatesAreNarrowedByTheExtension) {
    TempDir dir;
    RecordingLoader loader;
    // Two likely formats share ".hb": the choice is between exactly those two.
    WriteFile(dir / "x.hb", "#beta? gamma?\n1\n");
    EXPECT_EQ(loader.GetSpreadsheetFileIndex((dir / "x.hb").c_str()), loader.IndexOf("Host Beta"));
    EXPECT_EQ(loader.seen, (std::vector<std::string>{"Host Beta", "Host Gamma"}));

    // Only Beta lists ".HBB" (case ignored): no choice to make.
    WriteFile(dir / "x.HBB", "#beta? gamma?\n1\n");
    loader.calls = 0;
    EXPECT_EQ(loader.GetSpreadsheetFileIndex((dir / "x.HBB").c_str()), loader.IndexOf("Host Beta"));
    EXPECT_EQ(loader.calls, 0);

    // No candidate lists the extension: SelectFormat sees every candidate. A library without
    // a kind-of-file test (echo) is always one; formats that answer "no", and formats that
    // cannot read, never are.
    WriteFile(dir / "x.qqq", "#beta? alpha-\n1\n");
    int chosen = loader.GetSpreadsheetFileIndex((dir / "x.qqq").c_str());
    EXPECT_TRUE(Contains(loader.seen, "Host Beta"));
    EXPECT_TRUE(Contains(loader.seen, "Host Echo"));
    EXPECT_FALSE(Contains(loader.seen, "Host Alpha"));
    EXPECT_FALSE(Contains(loader.seen, "Host Gamma"));
    EXPECT_FALSE(Contains(loader.seen, "Host Writer"));
    ASSERT_FALSE(loader.seen.empty());
    EXPECT_EQ(chosen, loader.IndexOf(loader.seen.front()));
}

TEST(Detection, APathThatDoesNotExistIsJudgedByItsExtensionAlone) {
    TempDir dir;
    RecordingLoader loader;
    // Readable or not: only the write-only format lists ".hw".
    EXPECT_EQ(loader.GetSpreadsheetFileIndex((dir / "new.hw").c_str()), loader.IndexOf("Host Writer"));
    EXPECT_EQ(loader.GetSpreadsheetFileIndex((dir / "new.HB").c_str()), loader.IndexOf("Host Beta"));
    EXPECT_EQ(loader.seen, (std::vector<std::string>{"Host Beta", "Host Gamma"}));
    // No extension (a dot in a directory name does not make one): nothing to go by.
    EXPECT_EQ(loader.GetSpreadsheetFileIndex((dir / "new").c_str()), -1);
    EXPECT_EQ(loader.GetSpreadsheetFileIndex((dir / "sub.hw/new").c_str()), -1);
    EXPECT_EQ(loader.GetSpreadsheetFileIndex(nullptr), -1);
}

TEST(Detection, ExtensionLookupCountsOnlyTheFormatsThatPassTheFilters) {
    RecordingLoader loader;
    int writable = 0, writerOrdinal = -1;
    for (int i = 1; i <= loader.SizeInfos(); ++i) {
        if (!loader.GetInfo(i)->canWrite) continue;
        ++writable;
        if (std::string(loader.GetInfo(i)->name) == "Host Writer") writerOrdinal = writable;
    }
    ASSERT_GT(writerOrdinal, 0);
    EXPECT_EQ(loader.GetFormatIndex("out.hw", true, false), writerOrdinal);
    EXPECT_EQ(loader.GetFormatIndex("out.hw", false, true), -1);
    EXPECT_EQ(loader.GetFormatIndex("in.HBB", false, false), loader.IndexOf("Host Beta"));
    EXPECT_EQ(loader.GetFormatIndex("noextension", false, false), -1);
}

TEST(Detection, IndexBeyondTheListGivesNothing) {
    RecordingLoader loader;
    int size = loader.SizeInfos();
    EXPECT_EQ(loader.GetInfo(size + 1), nullptr);
    EXPECT_EQ(loader.GetSpreadsheetFile(size + 1), nullptr);
    EXPECT_EQ(loader.GetPythonPlugin(size + 1), nullptr);
    EXPECT_EQ(loader.GetInfo(0), loader.GetInfo(1));  // below 1: the first entry
}

TEST(PythonPlugins, SetupNormalisesExtensionsAndFilter) {
    auto plugin = MakePlugin("Py", {".CSV", "tab"});
    EXPECT_EQ(plugin->filter, "Py (*.CSV)");
    EXPECT_EQ(plugin->extensionList, std::string(".CSV\0.tab\0\0", 11));

    // At most 10 extensions, each at most 256 characters; the list keeps whole entries only.
    std::vector<std::string> many;
    for (int i = 0; i < 12; ++i) many.push_back("." + std::string(9, static_cast<char>('a' + i)));
    auto crowded = MakePlugin(std::string(100, 'N'), many);
    EXPECT_EQ(crowded->extensions.size(), 10u);
    EXPECT_EQ(crowded->extensions[0], "aaaaaaaaa");
    EXPECT_EQ(crowded->filter, std::string(70, 'N'));
    // ".aaaaaaaaa\0" is 11 characters: four entries and the final NUL fit in 50.
    EXPECT_EQ(crowded->extensionList.size(), 45u);
    EXPECT_EQ(crowded->extensionList.substr(33), std::string(".ddddddddd\0\0", 12));

    auto longOne = MakePlugin("L", {std::string(300, 'x'), ""});
    EXPECT_EQ(longOne->extensions[0].size(), 256u);
    EXPECT_EQ(longOne->extensions[1], "");
    // An entry that does not fit ends the list: no cut entry is ever left in it.
    EXPECT_EQ(longOne->extensionList, std::string(1, '\0'));
}

TEST(PythonPlugins, EntriesAppearAtTheEndForEveryLoader) {
    PythonPluginsGuard guard;
    RecordingLoader before;  // made before the plug-ins are registered
    const int libraries = before.SizeInfos();

    auto crowded = MakePlugin("Crowded", {"aaaaaaaaa", "bbbbbbbbb", "ccccccccc", "ddddddddd", "eeeeeeeee"});
    crowded->multiFile = true;
    ImportDLLLoader::UpdatePythonPlugins({MakePlugin("Py One", {".p1"}), nullptr, crowded});
    ASSERT_EQ(before.SizeInfos(), libraries + 2);
    const QmImportFileFormatInfo* info = before.GetInfo(libraries + 2);
    EXPECT_STREQ(info->name, "Crowded");
    EXPECT_STREQ(info->filter, "Crowded (*.aaaaaaaaa)");
    EXPECT_STREQ(info->saveFilter, info->filter);
    EXPECT_EQ(info->extensionCount, 4);  // the cut list holds four
    EXPECT_EQ(info->canRead, 1);
    EXPECT_EQ(info->canWrite, 0);
    EXPECT_EQ(info->multiFile, 1);
    EXPECT_EQ(info->tableFlag, 0);
    EXPECT_EQ(info->formatFlag, 1);
    EXPECT_EQ(info->priority, 3);
    EXPECT_EQ(before.GetPythonPlugin(libraries + 2), crowded.get());
    EXPECT_EQ(before.GetPythonPlugin(1), nullptr);

    // A replacement with as many plug-ins is still a change every loader must see.
    ImportDLLLoader::UpdatePythonPlugins({MakePlugin("Py Two", {".p2"}), MakePlugin("Py Three", {".p3"})});
    ASSERT_EQ(before.SizeInfos(), libraries + 2);
    EXPECT_STREQ(before.GetInfo(libraries + 1)->name, "Py Two");

    // A Python entry is not opened through entry points.
    std::unique_ptr<SpreadsheetFile> file(before.GetSpreadsheetFile(libraries + 1));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Open(true, "anything", nullptr), DLLFile::kMissingFunction);
}

TEST(PythonPlugins, DetectionFindsTheEntryItselfNotAnEarlierOneOfTheSameName) {
    PythonPluginsGuard guard;
    TempDir dir;
    // Named like a library format, but a format of its own.
    ImportDLLLoader::UpdatePythonPlugins({MakePlugin("Host Alpha", {".pyx"})});
    RecordingLoader loader;
    const int python = loader.SizeInfos();
    ASSERT_NE(loader.GetPythonPlugin(python), nullptr);
    WriteFile(dir / "data.pyx", "no tags\n1\n");
    EXPECT_EQ(loader.GetSpreadsheetFileIndex((dir / "data.pyx").c_str()), python);
    EXPECT_EQ(loader.GetSpreadsheetFileIndex((dir / "missing.pyx").c_str()), python);
}
