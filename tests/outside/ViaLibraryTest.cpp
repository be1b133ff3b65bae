// Linked only with the shared library: the process-wide state a host sets (prompt hook, host
// name, log sink, legacy encoding) and the classes it uses must be reachable through the
// library's exports, and each setting must reach the library's one copy of that state.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestFiles.h"
#include "outside/utl/ConfigurationSection.h"
#include "outside/utl/Log.h"
#include "outside/utl/QmSystemInfo.h"
#include "outside/utl/QmTextIOStream.h"
#include "platform/HostInfo.h"
#include "platform/Prompt.h"

using namespace kelto::platform;

TEST(ViaLibrary, HostSettingsReachTheLibrarysState) {
    EXPECT_EQ(AskYesNo("Continue?"), PromptAnswer::Yes);
    SetPromptHook([](const std::string&) { return PromptAnswer::No; });
    EXPECT_EQ(AskYesNo("Continue?"), PromptAnswer::No);
    SetPromptHook(nullptr);

    EXPECT_EQ(QmSystemInfo::GetApplicationName(), "VANTU");
    SetHostApplicationName("Spectra Studio");  // set in the platform layer, read by the utilities
    EXPECT_EQ(QmSystemInfo::GetApplicationName(), "Spectra Studio");
    SetHostApplicationName("VANTU");

    std::vector<std::string> seen;
    Log::Sink previous = Log::SetSink([&](const Log::Entry& e) { seen.push_back(e.text); });
    Log::WriteMessage("ImportHelper", "PutMsgMB", "File not found", Log::Warning);
    Log::SetSink(previous);
    EXPECT_EQ(seen, std::vector<std::string>{"File not found"});

    kelto::test::TempDir dir;
    std::string path = dir.File("legacy.txt");
    kelto::test::WriteFile(path, "\xF0\x80");
    ASSERT_TRUE(SetLegacyStreamEncoding("koi8r"));
    std::string line;
    EXPECT_TRUE(QmTextIOStream(path, "").GetLine(line));
    EXPECT_EQ(line, "П─");
    ASSERT_TRUE(SetLegacyStreamEncoding(""));

    auto doc = TinyXML2Section::CreateXMLSectionFromString(
        "<Configuration><Section name=\"Settings\"><Key name=\"A\" value=\"1\"/></Section></Configuration>");
    int a = 0;
    ASSERT_NE(doc, nullptr);
    EXPECT_TRUE(doc->GetSection("Settings")->ReadKey("A", a));
    EXPECT_EQ(a, 1);
}
