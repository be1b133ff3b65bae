// The host's read as the command line and the scripting binding use it: format and options
// chosen for the user, single keys set, several files stacked, failures told apart with the
// reader's own code, warnings through the helper, reads on several threads at once.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <thread>

#include "HostTestSupport.h"
#include "host/ColumnarSpreadsheetData.h"
#include "host/HostRead.h"
#include "plugin/CancelChannel.h"

using hosttest::Cells;
using hosttest::TempDir;
using hosttest::WriteFile;
using kelto::host::ReadFailure;
using kelto::host::ReadOutcome;
using kelto::host::ReadRequest;

namespace {

// Collects the messages a read sends to the host.
class CollectingHelper : public ImportHelperBase {
public:
    CollectingHelper() : ImportHelperBase(nullptr, nullptr) {}
    int PutMsg1(const char* text, const char*, MessageType type, int defaultAnswer) override {
        (type == Warning ? warnings : others).push_back(text);
        return answer ? answer : defaultAnswer;
    }
    std::vector<std::string> warnings, others;
    int answer = 0;
};

ReadRequest Request(std::vector<std::string> paths, std::string format = "",
                    std::optional<std::string> options = std::nullopt,
                    std::vector<std::pair<std::string, std::string>> settings = {}) {
    ReadRequest r;
    r.paths = std::move(paths);
    r.format = std::move(format);
    r.optionsXml = std::move(options);
    r.settings = std::move(settings);
    return r;
}

class HostReadTest : public testing::Test {
protected:
    std::string File(const std::string& name, const std::string& content) {
        WriteFile(dir / name, content);
        return dir / name;
    }
    TempDir dir;
    CollectingHelper helper;
};

}  // namespace

TEST_F(HostReadTest, FilesOfASingleFileFormatAreStacked) {
    const std::string a = File("a.csv", "x,y\n1,2\n"), b = File("b.csv", "p,q,r\n3,4,5\n6,,007\n");
    ColumnarSpreadsheetData columns;
    FloatStringSpreadsheetData rows;
    std::vector<std::string> reads;
    ReadRequest request = Request({a, b});
    request.beforeEachRead = [&](const std::vector<std::string>& files) { reads.push_back(files.at(0)); };
    const ReadOutcome outcome = kelto::host::Read(helper, request, columns);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    EXPECT_EQ((std::vector<std::string>{a, b}), reads);
    EXPECT_EQ(outcome.format, "CSV File");
    EXPECT_EQ(outcome.readName, "a");
    EXPECT_EQ(Cells(columns), "x|y|;1|2|;p|q|r;3|4|5;6||007;");
    ASSERT_TRUE(kelto::host::Read(helper, Request({a, b}), rows).ok);
    EXPECT_EQ(Cells(rows), Cells(columns));
    ASSERT_EQ(outcome.notes.size(), 1u);
    EXPECT_EQ(outcome.notes[0].rfind("guessed delimiter ','", 0), 0u) << outcome.notes[0];
}

TEST_F(HostReadTest, SettingsChangeSingleKeysOfTheGuessedOptions) {
    const std::string path = File("eu.csv", "a;b;c\n1,5;2;3\n");
    FloatStringSpreadsheetData table;
    ReadRequest request = Request({path});
    request.settings = {{"Delimiter", ","}};
    ReadOutcome outcome = kelto::host::Read(helper, request, table);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    EXPECT_EQ(Cells(table), "a;b;c|;1|5;2;3;");
    EXPECT_TRUE(outcome.unknownKeys.empty());
    ASSERT_EQ(outcome.notes.size(), 1u);
    EXPECT_EQ(outcome.notes[0].find("delimiter"), std::string::npos) << "the delimiter was given, not guessed";

    // The defaults as settings take them back, and a key the format does not know.
    ReadOutcome defaults;
    const auto settings = kelto::host::DefaultSettings(helper, {path}, "", &defaults);
    ASSERT_TRUE(defaults.ok) << defaults.message;
    EXPECT_NE(std::find(settings.begin(), settings.end(), std::pair<std::string, std::string>{"Delimiter", ";"}),
              settings.end());
    request.settings = settings;
    request.settings.emplace_back("NoSuchKey", "1");
    outcome = kelto::host::Read(helper, request, table);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    EXPECT_EQ(Cells(table), "a|b|c;1,5|2|3;");
    EXPECT_EQ(outcome.unknownKeys, std::vector<std::string>{"NoSuchKey"});

    // A tab, written as the command line writes it, and a whole document.
    request.settings = {{"Delimiter", "\\t"}};
    const std::string tabs = File("tabs.csv", "a\tb\n");
    request.paths = {tabs};
    ASSERT_TRUE(kelto::host::Read(helper, request, table).ok);
    EXPECT_EQ(Cells(table), "a|b;");
    request.settings.clear();
    request.optionsXml = "<Configuration><Section name=\"Settings\"><Key name=\"Delimiter\" value=\"%09\"/>"
                         "<Key name=\"Encoding\" value=\"utf8\"/></Section></Configuration>";
    ASSERT_TRUE(kelto::host::Read(helper, request, table).ok);
    EXPECT_EQ(Cells(table), "a|b;");

    const auto bruker = kelto::host::DefaultSettings(helper, {KELTO_SOURCE_DIR "/samples/opus_absorbance.0"},
                                                     "Bruker OPUS Interpolated File");
    EXPECT_EQ(bruker, (std::vector<std::pair<std::string, std::string>>{{"Points", "0"}, {"FirstX", "0"}, {"LastX", "0"}}));
}

TEST_F(HostReadTest, FailuresSayWhichKindAndKeepTheReadersCode) {
    const std::string text = File("t.txt", "1\t2\n");
    const std::string missing = dir / "missing.csv";
    const std::string broken = File("broken.dif", "TABLE\n0,1\n\"\"\nDATA\n0,0\n\"\"\n-1,0\nBOT\n1,0\nunquoted\nEOD\n");
    struct Case {
        ReadRequest request;
        ReadFailure failure;
        std::string file, message;
        int code;
    };
    std::vector<Case> cases = {
        {Request({text, missing}), ReadFailure::Refused, missing, "does not exist", 0},
        {Request({text}, "No Such Format"), ReadFailure::UnknownFormat, text, "No Such Format", 0},
        {Request({text}, "Text UTF-8 File"), ReadFailure::FormatNotReadable, text, "cannot be read", 0},
        {Request({text, text}, "Thermo SIEVE File"), ReadFailure::Refused, text, "one at a time", 0},  // reads one file
        {Request({broken}), ReadFailure::Reader, broken, "An error was found in a DIF record.", 770},
        {Request({text}, "", "<Configuration/>"), ReadFailure::BadOptions, text, "Settings", 0},
        {Request({KELTO_SOURCE_DIR "/samples/opus_absorbance.0"}, "Bruker OPUS File", std::nullopt, {{"Points", "many"}}),
         ReadFailure::BadOptions, "", "\"Points\" must be a whole number", 0},
    };
    for (const Case& c : cases) {
        ColumnarSpreadsheetData table;
        const ReadOutcome outcome = kelto::host::Read(helper, c.request, table);
        SCOPED_TRACE(c.request.paths.front() + " as '" + c.request.format + "': " + outcome.message);
        EXPECT_FALSE(outcome.ok);
        EXPECT_EQ(static_cast<int>(outcome.failure), static_cast<int>(c.failure));
        if (!c.file.empty()) {
            EXPECT_EQ(outcome.file, c.file);
        }
        EXPECT_NE(outcome.message.find(c.message), std::string::npos);
        EXPECT_FALSE(outcome.message.empty());
        EXPECT_EQ(outcome.code, c.code);
        if (c.code) {
            EXPECT_EQ(helper.GetErrorCode(), c.code);
        }
    }
    // A read that works afterwards leaves no code behind.
    ColumnarSpreadsheetData table;
    ASSERT_TRUE(kelto::host::Read(helper, Request({text}), table).ok);
    EXPECT_EQ(helper.GetErrorCode(), 0);
}

TEST_F(HostReadTest, WarningsReachTheHelperAndItsAnswerCanCancel) {
    const std::string path = File("open.csv", "a,b\n1,\"never closed\n");
    ColumnarSpreadsheetData table;
    ReadOutcome outcome = kelto::host::Read(helper, Request({path}), table);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    ASSERT_EQ(helper.warnings.size(), 1u);
    EXPECT_NE(helper.warnings[0].find("quoted field"), std::string::npos);
    helper.answer = 2;
    outcome = kelto::host::Read(helper, Request({path}), table);
    EXPECT_EQ(static_cast<int>(outcome.failure), static_cast<int>(ReadFailure::Cancelled));

    // A cancel asked of the table during the read (from another thread, typically).
    helper.answer = 0;
    table.RequestCancel();
    outcome = kelto::host::Read(helper, Request({path}), table);
    EXPECT_EQ(static_cast<int>(outcome.failure), static_cast<int>(ReadFailure::Cancelled));
    EXPECT_TRUE(outcome.message.empty());
}

// Each thread with its own helper and table gets what a read on its own gives.
TEST_F(HostReadTest, ReadsOnSeveralThreadsAtOnce) {
    std::vector<std::string> paths;
    for (const char* name : {"weather_stations.csv", "plate_reader.txt", "inventory.dif", "batches.csv"})
        paths.push_back(std::string(KELTO_SOURCE_DIR "/samples/") + name);
    paths.push_back(File("bad.dif", "TABLE\n0,1\n\"\"\nDATA\n0,0\n\"\"\n-1,0\nBOT\n1,0\nunquoted\nEOD\n"));
    std::vector<std::string> alone;
    for (const std::string& p : paths) {
        ColumnarSpreadsheetData t;
        const ReadOutcome o = kelto::host::Read(helper, Request({p}), t);
        alone.push_back(o.ok ? Cells(t) : o.message + std::to_string(o.code));
    }
    std::vector<std::vector<std::string>> got(4);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < got.size(); ++t) {
        threads.emplace_back([&, t] {
            ImportHelperBase own(nullptr, nullptr);
            for (int round = 0; round < 5; ++round) {
                for (std::size_t i = 0; i < paths.size(); ++i) {
                    const std::string& p = paths[(i + t) % paths.size()];
                    ColumnarSpreadsheetData table;
                    const ReadOutcome o = kelto::host::Read(own, Request({p}), table);
                    if (round == 0) got[t].push_back(o.ok ? Cells(table) : o.message + std::to_string(o.code));
                }
            }
        });
    }
    for (std::thread& t : threads) t.join();
    for (std::size_t t = 0; t < got.size(); ++t)
        for (std::size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(got[t][i], alone[(i + t) % paths.size()]) << t << " " << i;
}

// Hosts find the error-code function of another library by its mangled name; the name must
// be the function's.
TEST(FileStatusSymbol, IsTheExportedFunctionsName) {
    void* library = dlopen(KELTO_BIN_DIR "/libKELTOnewsprfile.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    EXPECT_NE(dlsym(library, kelto::plugin::kFileStatusSymbol), nullptr);
    dlclose(library);
}
