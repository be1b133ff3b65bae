// The prompt hook: process-wide state that hosts replace.
#include "platform/Prompt.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
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
