// The prompt hook and the host name, as process-wide state. Built twice: linked with the
// platform objects, and linked only with the shared library, where it shows that a host
// reaches the library's own copy of that state through the exported functions.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/HostInfo.h"
#include "platform/Prompt.h"

using namespace kelto::platform;

TEST(Prompt, DefaultYesHostHookDecidesThrowingHookIsNo) {
    EXPECT_EQ(AskYesNo("Continue?"), PromptAnswer::Yes);
    std::vector<std::string> asked;
    EXPECT_FALSE(SetPromptHook([&](const std::string& q) {
        asked.push_back(q);
        return q.find("delete") != std::string::npos ? PromptAnswer::No : PromptAnswer::Yes;
    }));
    EXPECT_EQ(AskYesNo("Import anyway?"), PromptAnswer::Yes);
    EXPECT_EQ(AskYesNo("Really delete?"), PromptAnswer::No);
    EXPECT_EQ(asked, (std::vector<std::string>{"Import anyway?", "Really delete?"}));
    SetPromptHook([](const std::string&) -> PromptAnswer { throw std::runtime_error("no display"); });
    EXPECT_EQ(AskYesNo("Continue?"), PromptAnswer::No);
    // A hook that replaces itself while it runs must not deadlock.
    SetPromptHook([](const std::string&) {
        SetPromptHook(nullptr);
        return PromptAnswer::No;
    });
    EXPECT_EQ(AskYesNo("first"), PromptAnswer::No);
    EXPECT_EQ(AskYesNo("second"), PromptAnswer::Yes);
}

TEST(Prompt, ConcurrentQuestionsAndHookChanges) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 500; ++i) {
                if (t == 0) SetPromptHook(i % 2 ? PromptHook([](const std::string&) { return PromptAnswer::No; }) : nullptr);
                else AskYesNo("q");
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(AskYesNo("q"), PromptAnswer::No);  // the last change (i = 499) installed the No hook
    SetPromptHook(nullptr);
}

TEST(HostName, DefaultsToVantuAndIsHostSettable) {
    EXPECT_EQ(HostApplicationName(), "VANTU");
    SetHostApplicationName("Spectra Desk");
    EXPECT_EQ(HostApplicationName(), "Spectra Desk");
    SetHostApplicationName("VANTU");
}
