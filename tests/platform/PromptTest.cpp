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

TEST(Prompt, DefaultAnswersYesAndHostHookDecides) {
    EXPECT_EQ(AskYesNo("Continue?"), PromptAnswer::Yes);
    std::vector<std::string> asked;
    auto before = SetPromptHook([&](const std::string& q) {
        asked.push_back(q);
        return q.find("delete") != std::string::npos ? PromptAnswer::No : PromptAnswer::Yes;
    });
    EXPECT_FALSE(before);
    EXPECT_EQ(AskYesNo("Import anyway?"), PromptAnswer::Yes);
    EXPECT_EQ(AskYesNo("Really delete?"), PromptAnswer::No);
    EXPECT_EQ(asked, (std::vector<std::string>{"Import anyway?", "Really delete?"}));
    auto mine = SetPromptHook(nullptr);
    EXPECT_TRUE(mine);
    EXPECT_EQ(AskYesNo("Really delete?"), PromptAnswer::Yes);
}

TEST(Prompt, ThrowingHookCountsAsNoAndHookMayReplaceItself) {
    SetPromptHook([](const std::string&) -> PromptAnswer { throw std::runtime_error("no display"); });
    EXPECT_EQ(AskYesNo("Continue?"), PromptAnswer::No);
    // A hook that swaps itself out while running must not deadlock.
    SetPromptHook([](const std::string&) {
        SetPromptHook([](const std::string&) { return PromptAnswer::Yes; });
        return PromptAnswer::No;
    });
    EXPECT_EQ(AskYesNo("first"), PromptAnswer::No);
    EXPECT_EQ(AskYesNo("second"), PromptAnswer::Yes);
    SetPromptHook(nullptr);
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
    SetPromptHook(nullptr);
    EXPECT_EQ(AskYesNo("q"), PromptAnswer::Yes);
}

TEST(HostName, DefaultsToVantuAndIsHostSettable) {
    EXPECT_EQ(HostApplicationName(), "VANTU");
    SetHostApplicationName("Spectra Desk");
    EXPECT_EQ(HostApplicationName(), "Spectra Desk");
    SetHostApplicationName("VANTU");
}
