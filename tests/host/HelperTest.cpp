// The import helper: the format table and its numberings, the checks before a read, reading
// one or several files, options, messages, cancellation, and writing.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "ImportTestSupport.h"
#include "data/SpreadsheetData.h"
#include "host/ImportHelperBase.h"
#include "host/ImportOptionsHelper.h"
#include "outside/utl/Exception.h"
#include "outside/utl/Log.h"
#include "plugin/ImportSpecBase.h"

using namespace hosttest;

namespace {

class Helper : public ImportHelperBase {
public:
    explicit Helper(ImportDLLLoader* loader = nullptr) : ImportHelperBase(loader, ExtraDirectory().c_str()) {}

    struct Message {
        std::string text, caption;
        MessageType type;
    };
    int PutMsg1(const char* text, const char* caption, MessageType type, int defaultAnswer) override {
        messages.push_back({text, caption, type});
        EXPECT_EQ(defaultAnswer, 1);
        return answer;
    }
    bool SortFiles(const char* firstFile, ReadErrors& error) override {
        sorted.push_back(firstFile);
        if (refuseSort) error = FormatNotUsable;
        return !refuseSort;
    }
    void ShowProgressBarWhileReading(SpreadsheetData*, int columns, int rows) override {
        progress.push_back(std::to_string(columns) + "x" + std::to_string(rows));
        if (cancelInProgress) throw CancelException();
    }
    void StopProgressBar(SpreadsheetData*) override { ++stops; }
    std::string GetSpecName(const ImportSpecBase*) override { return specName; }

    // The list index of a format by its name.
    int IndexOf(const std::string& name) {
        for (int i = 1; i <= GetNumberOfFormats(); ++i)
            if (GetFormatName(i) && name == GetFormatName(i)) return i;
        return -1;
    }
    // The read ordinal of a format by its read filter text.
    int OrdinalOf(const std::string& filter) { return GetSupportedFormat(filter); }

    using ImportHelperBase::GetFormatTable;
    using ImportHelperBase::GetNumberOfFormats;
    using ImportHelperBase::MakeFileNameArgument;
    using ImportHelperBase::SetErrorMessage;

    std::vector<Message> messages;
    std::vector<std::string> sorted;
    std::vector<std::string> progress;
    int stops = 0;
    int answer = 1;
    bool refuseSort = false;
    bool cancelInProgress = false;
    std::string specName;
};

// The in-memory table, counting size changes and failing on one cell text when asked.
class Table : public FloatStringSpreadsheetData {
public:
    using FloatStringSpreadsheetData::Set;
    void SetDataSize(int cols, int rows) override {
        ++sizes;
        FloatStringSpreadsheetData::SetDataSize(cols, rows);
    }
    void Set(int col, int row, const char* text) override {
        if (text == failOn) {
            if (cancel) throw CancelException();
            throw std::runtime_error("the host's table failed");
        }
        FloatStringSpreadsheetData::Set(col, row, text);
    }
    int sizes = 0;
    std::string failOn = "\x01";
    bool cancel = false;
};

class Spec : public ImportSpecBase {
public:
    void AnnounceSize(int, int) override {}
    void SetColumnRole(int, int) override {}
    void SetHeaderRole(int, int) override {}
};

const char* kAlphaFilter = "Host Alpha (*.ha)";
const char* kBetaFilter = "Host Beta (*.hb; *.hbb)";

}  // namespace

TEST(FormatTable, ReadableFormatsWithTheirOrdinals) {
    Helper helper;
    std::vector<ImportHelperBase::ImportFormats> formats;
    helper.GetFileData(formats);
    ASSERT_GE(formats.size(), 6u);
    EXPECT_EQ(formats[0].filter, "All files (*.*)");
    EXPECT_EQ(formats[0].patterns, "*.*");
    EXPECT_EQ(formats[0].ordinal, 1);
    for (std::size_t i = 0; i < formats.size(); ++i) {
        EXPECT_EQ(formats[i].ordinal, static_cast<int>(i) + 1);
        EXPECT_NE(formats[i].filter, "Host Writer (*.hw)") << "a write-only format takes no read ordinal";
    }
    int beta = helper.OrdinalOf(kBetaFilter);
    ASSERT_GT(beta, 1);
    EXPECT_EQ(formats[static_cast<std::size_t>(beta) - 1].patterns, "*.hb;*.hbb");
    EXPECT_EQ(helper.GetSupportedFormat("*.hbb"), beta);
    EXPECT_EQ(helper.GetSupportedFormat("*.HBB"), -1);
    EXPECT_EQ(helper.GetSupportedFormat("*.hw"), -1);
    EXPECT_EQ(helper.GetSupportedFormat("*.*"), 1);
    EXPECT_EQ(helper.GetSupportedFormat("Host Beta"), -1);

    // Texts longer than the table's fields are cut, extensions beyond its ten slots dropped.
    auto many = std::find_if(formats.begin(), formats.end(),
                             [](const auto& f) { return f.filter.rfind("Host Many", 0) == 0; });
    ASSERT_NE(many, formats.end());
    EXPECT_EQ(many->filter.size(), 69u);
    // The first extension has 300 characters after its dot; its slot holds 255 and the NUL.
    EXPECT_EQ(many->patterns, "*." + std::string(254, 'x') + ";*.m2;*.m3;*.m4;*.m5;*.m6;*.m7;*.m8;*.m9;*.m10");
}

TEST(FormatTable, NamesAndMultiFileSupportByListIndex) {
    Helper helper;
    const int alpha = helper.IndexOf("Host Alpha");
    ASSERT_GT(alpha, 0);
    EXPECT_EQ(helper.GetMultiFileSupport(alpha), 1);
    EXPECT_EQ(helper.GetMultiFileSupport(helper.IndexOf("Host Beta")), 0);
    EXPECT_EQ(helper.GetFormatName(0), nullptr);
    EXPECT_EQ(helper.GetFormatName(helper.GetNumberOfFormats() + 1), nullptr);
    EXPECT_EQ(helper.GetMultiFileSupport(0), 0);
    const ImportHelperBase::FormatTableEntry& writer = helper.GetFormatTable()[helper.IndexOf("Host Writer")];
    EXPECT_STREQ(writer.writeFilter, "Host Writer (*.hw)");
    EXPECT_STREQ(helper.GetFormatTable()[helper.IndexOf("Host Beta")].writeFilter, "");  // cannot write
    EXPECT_STREQ(writer.extensions[0], ".hw");
    EXPECT_STREQ(writer.extensions[1], "");
}

TEST(CheckFiles, OrdinalOneDetectsAndLaterOrdinalsChoose) {
    TempDir dir;
    Helper helper;
    const std::string file = dir / "d.ha";
    WriteFile(file, "#alpha!\n1\n");
    ImportHelperBase::ReadErrors error;
    int format = 1;
    ASSERT_TRUE(helper.CheckFilesBeforeRead({file}, format, error, true));
    EXPECT_EQ(format, helper.IndexOf("Host Alpha"));

    format = helper.OrdinalOf(kBetaFilter);
    ASSERT_TRUE(helper.CheckFilesBeforeRead({file}, format, error, true));
    EXPECT_EQ(format, helper.IndexOf("Host Beta"));

    // Ordinal 2 is the first readable format, even when it is the first entry of the list;
    // anything below 1 means the same.
    int second = 2, zero = 0;
    ASSERT_TRUE(helper.CheckFilesBeforeRead({file}, second, error, true));
    ASSERT_TRUE(helper.CheckFilesBeforeRead({file}, zero, error, true));
    EXPECT_EQ(second, zero);
    std::vector<ImportHelperBase::ImportFormats> formats;
    helper.GetFileData(formats);
    EXPECT_EQ(helper.GetFormatTable()[second].readFilter, formats[1].filter);

    // An ordinal beyond the readable formats detects.
    int beyond = 100000;
    ASSERT_TRUE(helper.CheckFilesBeforeRead({file}, beyond, error, true));
    EXPECT_EQ(beyond, helper.IndexOf("Host Alpha"));
}

TEST(CheckFiles, PathsThatCannotBeRead) {
    TempDir dir;
    Helper helper;
    const std::string good = dir / "good.ha";
    WriteFile(good, "#alpha!\n1\n");
    ImportHelperBase::ReadErrors error = ImportHelperBase::NoReadError;
    int format = 1;

    EXPECT_FALSE(helper.CheckFilesBeforeRead({}, format, error, true));
    EXPECT_EQ(error, ImportHelperBase::FileDoesNotExist);
    EXPECT_EQ(helper.GetErrorMessage(), "The file does not exist.");

    EXPECT_FALSE(helper.CheckFilesBeforeRead({good, dir / "missing.ha"}, format, error, true));
    EXPECT_EQ(error, ImportHelperBase::FileDoesNotExist);
    EXPECT_EQ(helper.GetErrorMessage(), "The file does not exist: " + dir / "missing.ha");

    // A directory stops the check even after good files.
    EXPECT_FALSE(helper.CheckFilesBeforeRead({good, dir.path(), dir / "missing.ha"}, format, error, true));
    EXPECT_EQ(error, ImportHelperBase::DirectoryGiven);
    EXPECT_EQ(helper.GetErrorMessage(), "Directories can not be imported.");

    // Something that exists and is no directory but cannot be opened, even by root: a socket.
    const std::string socketPath = dir / "s.ha";
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    bool checked = helper.CheckFilesBeforeRead({good, socketPath}, format, error, true);
    close(fd);
    EXPECT_FALSE(checked);
    EXPECT_EQ(error, ImportHelperBase::NoReadError);
    EXPECT_EQ(helper.GetErrorMessage(), "The file could not be opened.");
}

TEST(CheckFiles, SeveralFilesNeedAMultiFileFormat) {
    TempDir dir;
    Helper helper;
    const std::string a = dir / "a.hb", b = dir / "b.hb";
    WriteFile(a, "#beta!\n1\n");
    WriteFile(b, "#beta!\n2\n");
    ImportHelperBase::ReadErrors error;

    int format = helper.OrdinalOf(kBetaFilter);
    EXPECT_FALSE(helper.CheckFilesBeforeRead({a, b}, format, error, false));
    EXPECT_EQ(error, ImportHelperBase::SingleFileFormat);
    EXPECT_EQ(helper.GetErrorMessage(), "") << "no message without showMessage";

    format = 1;  // detected as Beta
    EXPECT_FALSE(helper.CheckFilesBeforeRead({a, b}, format, error, true));
    EXPECT_EQ(error, ImportHelperBase::SingleFileFormat);
    EXPECT_EQ(helper.GetErrorMessage(),
              "Host Beta (*.hb; *.hbb) can only be imported one at a time.\n\n Import will be aborted.");

    format = helper.OrdinalOf(kAlphaFilter);
    EXPECT_TRUE(helper.CheckFilesBeforeRead({a, b}, format, error, true));
    EXPECT_EQ(helper.sorted, std::vector<std::string>{a});
    helper.refuseSort = true;
    format = helper.OrdinalOf(kAlphaFilter);
    EXPECT_FALSE(helper.CheckFilesBeforeRead({a, b}, format, error, true));
    EXPECT_EQ(error, ImportHelperBase::FormatNotUsable);
}

TEST(CheckFiles, DetectionThatFindsNothingUsable) {
    TempDir dir;
    const std::string file = dir / "x.qqq";
    WriteFile(file, "#beta? gamma?\n1\n");
    ImportHelperBase::ReadErrors error;

    auto* none = new RecordingLoader;
    const int minusOne = -1;
    none->forced = &minusOne;
    Helper undetected(none);
    int format = 1;
    EXPECT_FALSE(undetected.CheckFilesBeforeRead({file}, format, error, true));
    EXPECT_EQ(error, ImportHelperBase::FormatNotDetected);
    EXPECT_EQ(undetected.GetErrorMessage(), "The file type could not be determined (" + file + ").");

    auto* zeroLoader = new RecordingLoader;
    const int zero = 0;
    zeroLoader->forced = &zero;
    Helper unusable(zeroLoader);
    format = 1;
    EXPECT_FALSE(unusable.CheckFilesBeforeRead({file, file}, format, error, true));
    EXPECT_EQ(error, ImportHelperBase::FormatNotUsable);
    EXPECT_EQ(unusable.GetErrorMessage(),
              "The file type is either not supported or could not be deduced from the file's extension or contents.");
}

TEST(FileNameArgument, OnePathOrDirectoryAndNames) {
    EXPECT_EQ(Helper::MakeFileNameArgument({"/d/x.ha"}), "/d/x.ha");
    EXPECT_EQ(Helper::MakeFileNameArgument({"/d/x.ha", "/d/y.ha"}), std::string("/d\0x.ha\0y.ha\0", 13));
    EXPECT_EQ(Helper::MakeFileNameArgument({"x.ha", "y.ha"}), std::string(".\0x.ha\0y.ha\0", 12));
    // A file in another directory keeps its path instead of being looked for beside the first.
    EXPECT_EQ(Helper::MakeFileNameArgument({"/d/x.ha", "/e/y.ha"}), std::string("/d\0x.ha\0/e/y.ha\0", 16));
}

TEST(Read, OneFileDetectedAndRead) {
    TempDir dir;
    Helper helper;
    const std::string file = dir / "d.ha";
    WriteFile(file, "#alpha!\n1,2\nx,3.5\n");
    Table table;
    ASSERT_TRUE(helper.ReadSpreadsheetFile({file}, 1, &table, nullptr, false, nullptr)) << helper.GetErrorMessage();
    ASSERT_EQ(table.GetNumberOfColumns(), 2);
    ASSERT_EQ(table.GetNumberOfRows(), 2);
    EXPECT_FLOAT_EQ(table.GetFloatData(2, 2), 3.5f);
    EXPECT_EQ(table.GetStringValue(1, 2), "x");
    EXPECT_EQ(table.sizes, 1);
    EXPECT_EQ(helper.progress, std::vector<std::string>{"2x2"});
    EXPECT_EQ(helper.stops, 1);
    EXPECT_STREQ(helper.GetFilenameRead(), ("Host Alpha:" + file).c_str());
    EXPECT_FALSE(table.tableFlag) << "Host Alpha's record asks for the table's flag to be cleared";

    Table beta;
    ASSERT_TRUE(helper.ReadSpreadsheetFile({file}, helper.OrdinalOf(kBetaFilter), &beta, nullptr, false, nullptr));
    EXPECT_TRUE(beta.tableFlag);
    EXPECT_STREQ(helper.GetFilenameRead(), ("Host Beta:" + file).c_str());

    // With the checks skipped, the number is a list index.
    Table direct;
    ASSERT_TRUE(helper.ReadSpreadsheetFile({file}, helper.IndexOf("Host Gamma"), &direct, nullptr, true, nullptr));
    EXPECT_STREQ(helper.GetFilenameRead(), ("Host Gamma:" + file).c_str());
}

TEST(Read, SeveralFilesOfAMultiFileFormat) {
    TempDir dir;
    TempDir other;
    Helper helper;
    const std::string a = dir / "first.ha", b = dir / "second.ha", c = other / "third.ha";
    WriteFile(a, "#alpha!\n1,2\n");
    WriteFile(b, "3,4\n");
    WriteFile(c, "5,6\n");
    Table table;
    ASSERT_TRUE(helper.ReadSpreadsheetFile({a, b, c}, 1, &table, nullptr, false, nullptr)) << helper.GetErrorMessage();
    ASSERT_EQ(table.GetNumberOfRows(), 3);
    EXPECT_FLOAT_EQ(table.GetFloatData(1, 2), 3.0f);
    EXPECT_FLOAT_EQ(table.GetFloatData(2, 3), 6.0f);
    EXPECT_EQ(helper.sorted, std::vector<std::string>{a});
    // The reader names nothing for several files: the first file's title stands.
    EXPECT_STREQ(helper.GetFilenameRead(), "first");
}

TEST(Read, FailuresCarryTheirMessages) {
    TempDir dir;
    Helper helper;
    Table table;
    WriteFile(dir / "empty.ha", "#alpha!\n#rows0\n1,2\n");
    EXPECT_FALSE(helper.ReadSpreadsheetFile({dir / "empty.ha"}, 1, &table, nullptr, false, nullptr));
    EXPECT_EQ(helper.GetErrorMessage(), "The selected file does not contain any data. Import will be aborted.");
    EXPECT_EQ(table.sizes, 0);

    WriteFile(dir / "open.ha", "#alpha!\n#failopen\n");
    EXPECT_FALSE(helper.ReadSpreadsheetFile({dir / "open.ha"}, 1, &table, nullptr, false, nullptr));
    EXPECT_EQ(helper.GetErrorMessage(), "test open failure");

    WriteFile(dir / "read.ha", "#alpha!\n#failread\n1\n");
    EXPECT_FALSE(helper.ReadSpreadsheetFile({dir / "read.ha"}, 1, &table, nullptr, false, nullptr));
    EXPECT_EQ(helper.GetErrorMessage(), "test read failure");

    EXPECT_FALSE(helper.ReadSpreadsheetFile({}, 1, &table, nullptr, false, nullptr));
    EXPECT_EQ(helper.GetErrorMessage(), "The file does not exist.");
}

TEST(Read, WarningsGoToPutMsg1AndMayCancel) {
    TempDir dir;
    Helper helper;
    const std::string file = dir / "w.ha";
    WriteFile(file, "#alpha!\n#warn two lines were skipped\n1\n");
    Table table;
    ASSERT_TRUE(helper.ReadSpreadsheetFile({file}, 1, &table, nullptr, false, nullptr));
    ASSERT_EQ(helper.messages.size(), 1u);
    EXPECT_EQ(helper.messages[0].text, "two lines were skipped");
    EXPECT_EQ(helper.messages[0].caption, "Warning");
    EXPECT_EQ(helper.messages[0].type, ImportHelperBase::Warning);

    helper.answer = 2;
    Table cancelled;
    EXPECT_FALSE(helper.ReadSpreadsheetFile({file}, 1, &cancelled, nullptr, false, nullptr));
}

TEST(Read, OptionsGivenEmptyComeBackFilledAndOwnedByTheCaller) {
    TempDir dir;
    Helper helper;
    const std::string file = dir / "o.ha";
    WriteFile(file, "#alpha!\n1\n");
    QmImportOpenOptions options{0, nullptr};
    Table table;
    ASSERT_TRUE(helper.ReadSpreadsheetFile({file}, 1, &table, &options, false, nullptr));
    // The reader has freed (and scribbled over) its own buffer by now.
    ASSERT_EQ(options.size, static_cast<int>(("filled:" + file).size()));
    EXPECT_EQ(std::string(options.data, options.size), "filled:" + file);
    delete[] options.data;

    // A failed read leaves the record empty again.
    WriteFile(dir / "bad.ha", "#alpha!\n#failread\n1\n");
    QmImportOpenOptions again{0, nullptr};
    EXPECT_FALSE(helper.ReadSpreadsheetFile({dir / "bad.ha"}, 1, &table, &again, false, nullptr));
    EXPECT_EQ(again.size, 0);
    EXPECT_EQ(again.data, nullptr);

    // Options with content reach the reader as they are.
    WriteFile(dir / "echo.ha", "#alpha!\n#echo-options\nplaceholder\n");
    std::string bytes = "given";
    QmImportOpenOptions given{static_cast<int>(bytes.size()), bytes.data()};
    Table echoed;
    ASSERT_TRUE(helper.ReadSpreadsheetFile({dir / "echo.ha"}, 1, &echoed, &given, false, nullptr));
    EXPECT_EQ(echoed.GetStringValue(1, 1), "given");
    EXPECT_EQ(given.data, bytes.data());
}

TEST(Read, ExceptionsEndTheReadCleanly) {
    TempDir dir;
    Helper helper;
    const std::string file = dir / "e.ha";
    WriteFile(file, "#alpha!\n1,boom\n");

    Table failing;
    failing.failOn = "boom";
    QmImportOpenOptions options{0, nullptr};
    EXPECT_FALSE(helper.ReadSpreadsheetFile({file}, 1, &failing, &options, false, nullptr));
    EXPECT_EQ(helper.GetErrorMessage(), "Exception during file reading. Import will be aborted.");
    EXPECT_EQ(options.data, nullptr);
    EXPECT_EQ(helper.stops, 1) << "the progress bar is taken down after a failed read too";

    // A cancellation leaves the last message as it was.
    helper.SetErrorMessage("earlier");
    Table cancelling;
    cancelling.failOn = "boom";
    cancelling.cancel = true;
    EXPECT_FALSE(helper.ReadSpreadsheetFile({file}, 1, &cancelling, &options, false, nullptr));
    EXPECT_EQ(helper.GetErrorMessage(), "earlier");
    EXPECT_EQ(options.size, 0);

    helper.cancelInProgress = true;
    Table table;
    EXPECT_FALSE(helper.ReadSpreadsheetFile({file}, 1, &table, nullptr, false, nullptr));
    EXPECT_EQ(helper.GetErrorMessage(), "earlier");
    EXPECT_EQ(helper.stops, 3);
}

TEST(Read, PythonPluginsReadThroughTheirCallback) {
    struct Guard {
        ~Guard() { ImportDLLLoader::UpdatePythonPlugins({}); }
    } guard;
    TempDir dir;
    auto plugin = std::make_shared<ImportDLLLoader::PythonPlugin>();
    plugin->name = "Py Reader";
    plugin->extensions = {"pyr"};
    plugin->canRead = plugin->canWrite = true;
    std::vector<std::string> readFiles;
    bool succeed = true;
    plugin->readFunction = [&](const std::vector<std::string>& files, SpreadsheetData* target, ImportSpecBase*) {
        readFiles = files;
        target->SetDataSize(1, 1);
        target->Set(1, 1, "from python");
        return succeed;
    };
    std::string written;
    plugin->writeFunction = [&](const std::string& path, const SpreadsheetData* source) {
        written = path + "=" + source->GetStringValue(1, 1);
        return true;
    };
    plugin->Setup();
    ImportDLLLoader::UpdatePythonPlugins({plugin});

    Helper helper;  // its table sees the plug-in
    const std::string file = dir / "data.pyr";
    WriteFile(file, "anything\n");
    const int ordinal = helper.GetSupportedFormat("*.pyr");
    ASSERT_GT(ordinal, 1);
    Table table;
    ASSERT_TRUE(helper.ReadSpreadsheetFile({file}, ordinal, &table, nullptr, false, nullptr));
    EXPECT_EQ(readFiles, std::vector<std::string>{file});
    EXPECT_EQ(table.GetStringValue(1, 1), "from python");
    EXPECT_STREQ(helper.GetFilenameRead(), "data");

    Spec spec;
    helper.specName = "named by the host";
    ASSERT_TRUE(helper.ReadSpreadsheetFile({file}, ordinal, &table, nullptr, false, &spec));
    EXPECT_STREQ(helper.GetFilenameRead(), "named by the host");

    succeed = false;
    EXPECT_FALSE(helper.ReadSpreadsheetFile({file}, ordinal, &table, nullptr, false, nullptr));

    // Detected for writing by the extension of a file that does not exist yet.
    EXPECT_TRUE(helper.WriteSpreadsheetFile((dir / "out.pyr").c_str(), 0, &table, nullptr));
    EXPECT_EQ(written, dir / "out.pyr" + "=from python");

    // A Python format has no default options to give.
    EXPECT_EQ(helper.GetFileOptions({file}, helper.IndexOf("Py Reader"), false), nullptr);
}

TEST(Options, DefaultsForOneOrSeveralFiles) {
    TempDir dir;
    Helper helper;
    const int alpha = helper.IndexOf("Host Alpha");
    const std::string a = dir / "a.ha", b = dir / "b.ha";
    auto one = ImportOptionsHelper::OpenOptions::Adopt(helper.GetFileOptions({a}, alpha, true));
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(std::string(one->data, one->size), "defaults:1:" + a + ":1");
    auto two = ImportOptionsHelper::OpenOptions::Adopt(helper.GetFileOptions({a, b}, alpha, false));
    EXPECT_EQ(std::string(two->data, two->size), "defaults:2:" + a + "|" + b + ":0");

    EXPECT_EQ(helper.GetFileOptions({}, alpha, false), nullptr);
    EXPECT_EQ(helper.GetErrorMessage(), "The file does not exist.");
}

TEST(Write, ByWriteOrdinalOrByThePathsExtension) {
    TempDir dir;
    Helper helper;
    Table table;
    table.SetDataSize(2, 2);
    table.Set(1, 1, "a");
    table.Set(2, 1, 1.5f);
    table.Set(1, 2, "b");
    table.Set(2, 2, 2.0f);

    const std::string out = dir / "out.hw";
    const int ordinal = helper.GetFormatIndex(out, true, false);
    ASSERT_GT(ordinal, 0);
    ASSERT_TRUE(helper.WriteSpreadsheetFile(out.c_str(), ordinal, &table, nullptr)) << helper.GetErrorMessage();
    EXPECT_EQ(ReadFile(out), "Host Writer\na,1.5\nb,2\n");

    const std::string detected = dir / "new.hw";
    ASSERT_TRUE(helper.WriteSpreadsheetFile(detected.c_str(), 0, &table, nullptr));
    EXPECT_EQ(ReadFile(detected), "Host Writer\na,1.5\nb,2\n");

    const char* unsupported = "Save not supported for the current file format\nor the file format could not be deduced.";
    EXPECT_FALSE(helper.WriteSpreadsheetFile((dir / "new.hbb").c_str(), 0, &table, nullptr));
    EXPECT_EQ(helper.GetErrorMessage(), unsupported);
    helper.SetErrorMessage("");
    EXPECT_FALSE(helper.WriteSpreadsheetFile((dir / "x.hw").c_str(), 100000, &table, nullptr));
    EXPECT_EQ(helper.GetErrorMessage(), unsupported);

    EXPECT_FALSE(helper.WriteSpreadsheetFile((dir / "no-such-dir/x.hw").c_str(), ordinal, &table, nullptr));
    EXPECT_EQ(helper.GetErrorMessage(), "test open failure");
}

TEST(Messages, TheBaseWritesThemToTheLog) {
    std::vector<Log::Entry> entries;
    Log::Sink previous = Log::SetSink([&](const Log::Entry& e) { entries.push_back(e); });
    {
        ImportHelperBase helper(nullptr, ExtraDirectory().c_str());
        EXPECT_EQ(helper.PutMsg1("be careful", "Warning", ImportHelperBase::Warning, 7), 7);
        helper.PutMsg2("file.txt", "two rows skipped", "ignored");
    }
    Log::SetSink(previous);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].source, "ImportHelper");
    EXPECT_EQ(entries[0].tag, "PutMsgMB");
    EXPECT_EQ(entries[0].text, "be careful");
    EXPECT_EQ(entries[0].importance, 3);
    EXPECT_FALSE(entries[0].flush);
    EXPECT_EQ(entries[1].tag, "PutMsgDD");
    EXPECT_EQ(entries[1].text, "file.txt: two rows skipped");
    EXPECT_EQ(entries[1].importance, 3);
}
