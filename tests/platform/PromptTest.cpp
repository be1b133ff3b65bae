// The prompt hook: process-wide state that hosts replace and any thread may consult.
#include "platform/Prompt.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

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
    SetPromptHook([](const std::string&) { return SetPromptHook(nullptr), PromptAnswer::No; });
    EXPECT_EQ(AskYesNo("first"), PromptAnswer::No);
    EXPECT_EQ(AskYesNo("second"), PromptAnswer::Yes);
}

TEST(Prompt, ConcurrentQuestionsAndHookChanges) {
    auto no = [](const std::string&) { return PromptAnswer::No; };
    std::thread changer([&] {
        for (int i = 0; i < 1000; ++i) SetPromptHook(i % 2 ? PromptHook(no) : nullptr);
    });
    std::vector<std::thread> askers;
    for (int t = 0; t < 3; ++t) askers.emplace_back([] { for (int i = 0; i < 1000; ++i) AskYesNo("q"); });
    changer.join();
    for (auto& th : askers) th.join();
    EXPECT_EQ(AskYesNo("q"), PromptAnswer::No);  // the last change (i = 999) installed the No hook
    SetPromptHook(nullptr);
}
