// The import helper: the format table and its numberings, the checks before a read, reading
// one or several files, options, messages, cancellation, Python plug-ins, and writing.
#include <gtest/gtest.h>

#include "HostTestSupport.h"
#include "host/ImportHelperBase.h"
#include "outside/utl/Exception.h"
#include "outside/utl/Log.h"

using namespace hosttest;
using Files = std::vector<std::string>;
using Errors = ImportHelperBase::ReadErrors;

namespace {

class Helper : public ImportHelperBase {
public:
    explicit Helper(ImportDLLLoader* loader) : ImportHelperBase(loader, ExtraDirectory()) {}

    int PutMsg1(const char* text, const char* caption, MessageType type, int defaultAnswer) override {
        messages.push_back(std::string(caption) + ":" + text + ":" + std::to_string(type) + std::to_string(defaultAnswer));
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

    using ImportHelperBase::GetFormatTable;
    using ImportHelperBase::SetErrorMessage;

    Files messages, sorted, progress;
    int stops = 0, answer = 1;
    bool refuseSort = false, cancelInProgress = false;
};

class HelperTest : public testing::Test {
protected:
    std::string File(const std::string& name, const std::string& content) {
        WriteFile(dir / name, content);
        return dir / name;
    }
    bool Read(const Files& files, int format, Table& table, QmImportOpenOptions* options = nullptr) {
        return helper.ReadSpreadsheetFile(files, format, &table, options, false, nullptr);
    }
    TempDir dir;
    RecordingLoader* loader = new RecordingLoader;  // owned by the helper
    Helper helper{loader};
    const int beta = helper.GetSupportedFormat("Host Beta (*.hb; *.hbb)");  // its read ordinal
};

}  // namespace

TEST_F(HelperTest, FormatTableOfReadableFormatsWithTheirOrdinals) {
    std::vector<ImportHelperBase::ImportFormats> formats;
    helper.GetFileData(formats);
    ASSERT_GE(formats.size(), 6u);
    EXPECT_EQ(formats[0].filter + formats[0].patterns, "All files (*.*)*.*");
    for (std::size_t i = 0; i < formats.size(); ++i) {
        EXPECT_EQ(formats[i].ordinal, static_cast<int>(i) + 1);
        EXPECT_NE(formats[i].filter, "Host Writer (*.hw)") << "a write-only format takes no read ordinal";
    }
    ASSERT_GT(beta, 1);
    EXPECT_EQ(formats[beta - 1].patterns, "*.hb;*.hbb");
    EXPECT_EQ(helper.GetSupportedFormat("*.hbb"), beta);
    EXPECT_EQ(helper.GetSupportedFormat("*.hw"), -1);
    EXPECT_EQ(helper.GetMultiFileSupport(loader->IndexOf("Host Alpha")), 1);
    EXPECT_EQ(helper.GetMultiFileSupport(loader->IndexOf("Host Beta")), 0);
    EXPECT_STREQ(helper.GetFormatTable()[loader->IndexOf("Host Writer")].writeFilter, "Host Writer (*.hw)");
    EXPECT_STREQ(helper.GetFormatTable()[loader->IndexOf("Host Beta")].writeFilter, "");
    // Texts longer than the table's fields are cut, extensions beyond its ten slots dropped;
    // the first extension has 300 characters after its dot, its slot 255 and the NUL.
    auto many = std::find_if(formats.begin(), formats.end(), [](auto& f) { return f.filter.rfind("Host Many", 0) == 0; });
    ASSERT_NE(many, formats.end());
    EXPECT_EQ(many->filter.size(), 69u);
    EXPECT_EQ(many->patterns, "*." + std::string(254, 'x') + ";*.m2;*.m3;*.m4;*.m5;*.m6;*.m7;*.m8;*.m9;*.m10");
}

TEST_F(HelperTest, OrdinalOneDetectsAndLaterOrdinalsChoose) {
    const std::string a = File("a.ha", "#alpha!\n1\n"), b = File("b.ha", "2\n");
    std::vector<ImportHelperBase::ImportFormats> formats;
    helper.GetFileData(formats);
    int first = 1;  // the list index of the first readable format
    while (first < loader->SizeInfos() && formats[1].filter != helper.GetFormatTable()[first].readFilter) ++first;
    // Below 1 and beyond the readable formats mean what 2 and 1 do.
    const int alpha = loader->IndexOf("Host Alpha");
    for (auto [ordinal, index] : {std::pair{1, alpha}, {100000, alpha}, {beta, loader->IndexOf("Host Beta")}, {2, first}, {0, first}}) {
        int format = ordinal;
        Errors error;
        ASSERT_TRUE(helper.CheckFilesBeforeRead({a}, format, error, true)) << ordinal;
        EXPECT_EQ(format, index) << ordinal;
    }
    // Several files of a multi-file format: the host sorts them, and may refuse.
    for (bool refuse : {false, true}) {
        helper.refuseSort = refuse;
        int format = 1;
        Errors error = ImportHelperBase::NoReadError;
        EXPECT_EQ(helper.CheckFilesBeforeRead({a, b}, format, error, true), !refuse);
        EXPECT_EQ(error, refuse ? ImportHelperBase::FormatNotUsable : ImportHelperBase::NoReadError);
    }
    EXPECT_EQ(helper.sorted, (Files{a, a}));
}

TEST_F(HelperTest, WhatCannotBeReadIsRefusedWithItsMessage) {
    const std::string a = File("a.hb", "#beta!\n1\n"), b = File("b.hb", "#beta!\n2\n");
    const std::string unknown = File("x.qqq", "#beta? gamma?\n1\n"), missing = dir / "missing.hb";
    const int none = -1, zero = 0;
    struct Case {
        Files files;
        int format;
        bool showMessage;
        const int* selected;  // SelectFormat's answer
        Errors error;
        std::string message;
    } const cases[] = {
        {{}, 1, true, nullptr, ImportHelperBase::FileDoesNotExist, "The file does not exist."},
        {{a, missing}, 1, true, nullptr, ImportHelperBase::FileDoesNotExist, "The file does not exist: " + missing},
        // A directory stops the check even after good files.
        {{a, dir.path, missing}, 1, true, nullptr, ImportHelperBase::DirectoryGiven, "Directories can not be imported."},
        // Two files for a format that reads one at a time, chosen or detected.
        {{a, b}, beta, false, nullptr, ImportHelperBase::SingleFileFormat, ""},
        {{a, b}, 1, true, nullptr, ImportHelperBase::SingleFileFormat,
         "Host Beta (*.hb; *.hbb) can only be imported one at a time.\n\n Import will be aborted."},
        {{unknown}, 1, true, &none, ImportHelperBase::FormatNotDetected,
         "The file type could not be determined (" + unknown + ")."},
        {{unknown, unknown}, 1, true, &zero, ImportHelperBase::FormatNotUsable,
         "The file type is either not supported or could not be deduced from the file's extension or contents."},
    };
    for (const Case& c : cases) {
        helper.SetErrorMessage("");
        loader->forced = c.selected;
        int format = c.format;
        Errors error = ImportHelperBase::NoReadError;
        EXPECT_FALSE(helper.CheckFilesBeforeRead(c.files, format, error, c.showMessage)) << c.message;
        EXPECT_EQ(error, c.error) << c.message;
        EXPECT_EQ(helper.GetErrorMessage(), c.message);
    }
}

TEST_F(HelperTest, ReadsOneOrSeveralFilesDetectedOrChosen) {
    const std::string file = File("d.ha", "#alpha!\n#warn two lines were skipped\n1,2\nx,3.5\n");
    Table table;
    QmImportOpenOptions options{0, nullptr};
    ASSERT_TRUE(Read({file}, 1, table, &options)) << helper.GetErrorMessage();
    ASSERT_EQ(table.GetNumberOfColumns(), 2);
    ASSERT_EQ(table.GetNumberOfRows(), 2);
    EXPECT_FLOAT_EQ(table.GetFloatData(2, 2), 3.5f);
    EXPECT_EQ(table.GetStringValue(1, 2), "x");
    EXPECT_EQ(table.sizes, 1);
    EXPECT_EQ(helper.progress, Files{"2x2"});
    EXPECT_EQ(helper.stops, 1);
    EXPECT_STREQ(helper.GetFilenameRead(), ("Host Alpha:" + file).c_str());
    EXPECT_FALSE(table.tableFlag) << "Host Alpha's record asks for the table's flag to be cleared";
    EXPECT_EQ(helper.messages, Files{"Warning:two lines were skipped:" + std::to_string(ImportHelperBase::Warning) + "1"});
    // Options given empty come back filled and owned by the caller: the reader has scribbled
    // over and freed its own buffer by now.
    EXPECT_EQ(std::string(options.data, options.size), "filled:" + file);
    delete[] options.data;

    Table second;
    ASSERT_TRUE(Read({file}, beta, second));
    EXPECT_TRUE(second.tableFlag);
    EXPECT_STREQ(helper.GetFilenameRead(), ("Host Beta:" + file).c_str());
    // With the checks skipped, the number is a list index.
    ASSERT_TRUE(helper.ReadSpreadsheetFile({file}, loader->IndexOf("Host Gamma"), &table, nullptr, true, nullptr));
    EXPECT_STREQ(helper.GetFilenameRead(), ("Host Gamma:" + file).c_str());

    // Several files, one of them elsewhere; the reader names nothing for several files, so
    // the first file's title stands.
    TempDir other;
    WriteFile(other / "third.ha", "5,6\n");
    Table three;
    ASSERT_TRUE(Read({file, File("second.ha", "3,4\n"), other / "third.ha"}, 1, three)) << helper.GetErrorMessage();
    ASSERT_EQ(three.GetNumberOfRows(), 4);
    EXPECT_FLOAT_EQ(three.GetFloatData(1, 3), 3.0f);
    EXPECT_FLOAT_EQ(three.GetFloatData(2, 4), 6.0f);
    EXPECT_STREQ(helper.GetFilenameRead(), "d");
}

TEST_F(HelperTest, FailedReadsCarryTheirMessagesAndLeaveTheOptionsEmpty) {
    // (files, message, whether the table was sized); the table fails on the text "boom".
    const std::tuple<Files, std::string, int> cases[] = {
        {{File("empty.ha", "#alpha!\n#rows0\n1,2\n")}, "The selected file does not contain any data. Import will be aborted.", 0},
        {{File("nocells.ha", "#alpha!\n#nocells\n")}, "The selected file does not contain any data. Import will be aborted.", 0},
        {{File("fail.ha", "#alpha!\n#fail\n1\n")}, "test failure", 1},
        {{File("boom.ha", "#alpha!\n1,boom\n")}, "Exception during file reading. Import will be aborted.", 1},
        {{}, "The file does not exist.", 0},
        // A size beyond the bound, from the size pass or asked for during the read.
        {{File("huge.ha", "#alpha!\n#size 100000 100000\n1\n")},
         dir / "huge.ha" + " asks for a table of 100000 rows by 100000 columns, more than the 2147483648 cells a table "
                           "can hold. Import will be aborted.", 0},
        {{File("grow.ha", "#alpha!\n#grow 100000 100000\n1\n")},
         dir / "grow.ha" + " asks for a table of 100000 rows by 100000 columns, more than the 2147483648 cells a table "
                           "can hold. Import will be aborted.", 1},
    };
    for (const auto& [files, message, sized] : cases) {
        Table table;
        table.failOn = "boom";
        QmImportOpenOptions options{0, nullptr};
        EXPECT_FALSE(Read(files, 1, table, &options));
        EXPECT_EQ(helper.GetErrorMessage(), message);
        EXPECT_EQ(table.sizes, sized) << message;
        EXPECT_EQ(options.size, 0) << message;
        EXPECT_EQ(options.data, nullptr) << message;
    }
    EXPECT_EQ(helper.stops, 3) << "the progress bar is taken down after a failed read too";
    helper.SetErrorMessage("earlier");
    EXPECT_FALSE(helper.ReadSpreadsheetFile({dir / "fail.ha"}, 1, nullptr, nullptr, false, nullptr));
    EXPECT_EQ(helper.GetErrorMessage(), "There is no table to read " + dir / "fail.ha" + " into.");

    // A cancellation, by the table, the answer to a warning or the progress bar, leaves the
    // last message as it was.
    helper.SetErrorMessage("earlier");
    Table table;
    table.failOn = "boom";
    table.fail = [] { throw CancelException(); };
    EXPECT_FALSE(Read({dir / "boom.ha"}, 1, table));
    // ... and so does the user cancelling inside the reader, whose library only returns false.
    EXPECT_FALSE(Read({File("c-open.ha", "#alpha!\n#cancel open\n1\n")}, 1, table));
    EXPECT_FALSE(Read({File("c-read.ha", "#alpha!\n#cancel read\n1\n")}, 1, table));
    EXPECT_THROW(helper.GetFileOptions({File("c-opt.ha", "#alpha!\n#cancel options\n")}, loader->IndexOf("Host Alpha"), true),
                 CancelException);
    helper.answer = 2;  // to the warning
    EXPECT_FALSE(Read({File("w.ha", "#alpha!\n#warn w\n1\n")}, 1, table));
    helper.cancelInProgress = true;
    EXPECT_FALSE(Read({dir / "fail.ha"}, 1, table));
    EXPECT_EQ(helper.GetErrorMessage(), "earlier");
    EXPECT_EQ(helper.stops, 7);
}

TEST_F(HelperTest, WritesByWriteOrdinalOrByThePathsExtension) {
    Table table;
    table.SetDataSize(2, 2);
    table.Set(1, 1, "a");
    table.Set(2, 1, 1.5f);
    table.Set(1, 2, "b");
    table.Set(2, 2, 2.0f);
    const int ordinal = helper.GetFormatIndex("out.hw", true, false);
    const char* unsupported = "Save not supported for the current file format\nor the file format could not be deduced.";
    // (file, write ordinal, message; none when the write succeeds)
    for (auto [name, number, message] : {std::tuple{"out.hw", ordinal, ""}, {"new.hw", 0, ""}, {"new.hbb", 0, unsupported},
                                         {"x.hw", 100000, unsupported}, {"no-such-dir/x.hw", ordinal, "test failure"}}) {
        helper.SetErrorMessage("");
        EXPECT_EQ(helper.WriteSpreadsheetFile((dir / name).c_str(), number, &table, nullptr), !*message) << name;
        EXPECT_EQ(helper.GetErrorMessage(), message);
        EXPECT_EQ(ReadFile(dir / name), *message ? "" : "Host Writer\na,1.5\nb,2\n") << name;
    }
}

TEST_F(HelperTest, PythonPluginsAppearForEveryLoaderAndReadAndWriteThroughTheirCallbacks) {
    struct Guard {
        ~Guard() { ImportDLLLoader::UpdatePythonPlugins({}); }
    } guard;
    auto plugin = std::make_shared<ImportDLLLoader::PythonPlugin>();
    plugin->name = "Host Alpha";  // named like a library format, but a format of its own
    plugin->extensions = {".pyr", std::string(300, 'x')};
    plugin->canRead = plugin->canWrite = true;
    bool succeed = true;
    std::string log;
    plugin->readFunction = [&](const Files& files, SpreadsheetData* target, ImportSpecBase*) {
        log += "read " + files.at(0) + ";";
        target->SetDataSize(1, 1);
        target->Set(1, 1, "from python");
        return succeed;
    };
    plugin->writeFunction = [&](const std::string& path, const SpreadsheetData* source) {
        log += "wrote " + path + "=" + source->GetStringValue(1, 1);
        return true;
    };
    plugin->Setup();
    EXPECT_EQ(plugin->filter, "Host Alpha (*.pyr)");
    // Each extension at most 256 characters; the list keeps whole entries within 50.
    EXPECT_EQ(plugin->extensions[1].size(), 256u);
    EXPECT_EQ(plugin->extensionList, std::string(".pyr\0\0", 6));

    // The fixture's loader was made before; it sees the plug-in, and finds it as itself.
    const int libraries = loader->SizeInfos();
    auto other = std::make_shared<ImportDLLLoader::PythonPlugin>(*plugin);
    other->name = "Py Other";
    ImportDLLLoader::UpdatePythonPlugins({other, nullptr});
    ASSERT_EQ(loader->SizeInfos(), libraries + 1);
    // A replacement with as many plug-ins is still a change every loader must see.
    ImportDLLLoader::UpdatePythonPlugins({plugin});
    ASSERT_EQ(loader->GetPythonPlugin(libraries + 1), plugin.get());
    const std::string file = File("data.pyr", "no tags\n");
    EXPECT_EQ(loader->GetSpreadsheetFileIndex(file.c_str()), libraries + 1);

    Helper python(new RecordingLoader);  // its table sees the plug-in
    const int ordinal = python.GetSupportedFormat("*.pyr");
    ASSERT_GT(ordinal, 1);
    Table table;
    ASSERT_TRUE(python.ReadSpreadsheetFile({file}, ordinal, &table, nullptr, false, nullptr));
    EXPECT_EQ(table.GetStringValue(1, 1), "from python");
    EXPECT_STREQ(python.GetFilenameRead(), "data");
    succeed = false;
    EXPECT_FALSE(python.ReadSpreadsheetFile({file}, ordinal, &table, nullptr, false, nullptr));
    // Chosen for writing by the extension of a file that does not exist yet.
    EXPECT_TRUE(python.WriteSpreadsheetFile((dir / "out.pyr").c_str(), 0, &table, nullptr));
    EXPECT_EQ(log, "read " + file + ";read " + file + ";wrote " + dir / "out.pyr" + "=from python");
}

TEST(Messages, TheBaseWritesThemToTheLog) {
    std::string logged;
    Log::Sink previous = Log::SetSink([&](const Log::Entry& e) {
        logged += e.source + "/" + e.tag + "/" + std::to_string(e.importance) + ": " + e.text + "\n";
    });
    ImportHelperBase helper(nullptr, ExtraDirectory());
    EXPECT_EQ(helper.PutMsg1("be careful", "Warning", ImportHelperBase::Warning, 7), 7);
    helper.PutMsg2("file.txt", "two rows skipped", "ignored");
    Log::SetSink(previous);
    EXPECT_EQ(logged, "ImportHelper/PutMsgMB/3: be careful\nImportHelper/PutMsgDD/3: file.txt: two rows skipped\n");
}
