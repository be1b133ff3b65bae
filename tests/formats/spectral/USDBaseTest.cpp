#include "formats/spectral/USDBase.h"

#include <ios>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "outside/utl/ConfigurationSection.h"

namespace {

USDConstraints Intervals(std::vector<float> starts, std::vector<float> ends, int average = 0) {
    USDConstraints c;
    c.IncludeAllValues = false;
    c.NumberOfIncludedIntervals = static_cast<std::int32_t>(starts.size());
    c.IncludeXStartPt = std::move(starts);
    c.IncludeXEndPt = std::move(ends);
    c.UseAverage = average;
    return c;
}

// One pass over `xs` through the one-argument form: the accepted (possibly averaged) x.
std::vector<float> Columns(USDBase& base, const std::vector<float>& xs) {
    std::vector<float> out;
    base.Reset();
    for (float x : xs)
        if (base.IsValid(x)) out.push_back(x);
    return out;
}

// The same pass through the two-argument form with y = 10 x: the accepted y.
std::vector<float> Values(USDBase& base, const std::vector<float>& xs) {
    std::vector<float> out;
    base.Reset();
    for (float x : xs) {
        float y = 10.0f * x;
        const float before = x;
        if (base.IsValid(x, y)) out.push_back(y);
        EXPECT_EQ(x, before) << "the two-argument form leaves x alone";
    }
    return out;
}

struct PassCase {
    const char* what;
    USDConstraints constraints;
    std::vector<float> xs;
    std::vector<float> columns;
};

TEST(USDBase, IntervalsAndAveragingDecideTheColumns) {
    USDConstraints defaults;
    USDConstraints ignoredIntervals = Intervals({5}, {6});
    ignoredIntervals.IncludeAllValues = true;
    USDConstraints noIntervals = Intervals({}, {});
    const PassCase cases[] = {
        {"defaults keep everything", defaults, {3, 1, 2}, {3, 1, 2}},
        {"IncludeAllValues ignores the intervals", ignoredIntervals, {1, 5, 9}, {1, 5, 9}},
        {"no intervals given: nothing to select by, everything kept", noIntervals, {1, 2}, {1, 2}},
        {"bounds are inclusive", Intervals({2}, {4}), {1, 2, 3, 4, 5}, {2, 3, 4}},
        // 1e-5 relative to x: 1000 * (1 - 5e-6) is inside [1000, 2000], 1000 * (1 - 2e-5) is not.
        {"relative tolerance at the lower bound", Intervals({1000}, {2000}), {999.98f, 999.995f, 2000.01f, 2000.03f},
         {999.995f, 2000.01f}},
        {"two intervals", Intervals({1, 10}, {2, 11}), {0, 1, 2, 3, 10, 11, 12}, {1, 2, 10, 11}},
        {"UseAverage 3 on 7 points: points 3 and 6", Intervals({0}, {100}, 3), {1, 2, 3, 4, 5, 6, 7}, {2, 5}},
        // Each group takes points of one interval, each point once: 3 has no partner.
        {"averaging never mixes intervals", Intervals({0, 20}, {10, 30}, 2), {1, 2, 3, 21, 22}, {1.5f, 21.5f}},
        {"the first kept point in a later interval starts a group", Intervals({0, 20}, {10, 30}, 2), {21, 22, 23},
         {21.5f}},
        {"descending axis", Intervals({0, 20}, {10, 30}, 2), {25, 24, 23, 9, 8}, {24.5f, 8.5f}},
        {"overlapping: the lower-indexed interval claims the point", Intervals({5, 0}, {20, 10}, 2), {1, 2, 6, 7},
         {1.5f, 6.5f}},
        {"UseAverage 1 is no averaging", Intervals({0}, {10}, 1), {1, 2, 3}, {1, 2, 3}},
    };
    for (const PassCase& c : cases) {
        USDBase base;
        base.SetUSDConstraints(&c.constraints);
        EXPECT_EQ(Columns(base, c.xs), c.columns) << c.what;
        std::vector<float> ys;
        for (float x : c.columns) ys.push_back(10.0f * x);
        const std::vector<float> values = Values(base, c.xs);
        ASSERT_EQ(values.size(), ys.size()) << c.what;
        for (std::size_t i = 0; i < ys.size(); ++i) EXPECT_FLOAT_EQ(values[i], ys[i]) << c.what;
        // Reset forgets a group left unfinished by a pass that stopped early.
        if (c.constraints.UseAverage >= 2) {
            float x = c.xs.front();
            base.Reset();
            base.IsValid(x);
            EXPECT_EQ(Columns(base, c.xs), c.columns) << c.what << " after an interrupted pass";
        }
    }
}

TEST(USDBase, GetNumColCountsAnEvenAxis) {
    USDBase base;
    EXPECT_EQ(base.GetNumCol(0, 1, 1), 0);
    EXPECT_EQ(base.GetNumCol(-5, 1, 1), 0);
    EXPECT_EQ(base.GetNumCol(1801, 4000, -2), 1801);
    // 4000 down to 400 by -2, intervals [1000, 1100] (51 points) and [3000, 3010] (6 points),
    // averaged in threes: 17 + 2 columns.
    USDConstraints c = Intervals({1000, 3000}, {1100, 3010}, 3);
    base.SetUSDConstraints(&c);
    EXPECT_EQ(base.GetNumCol(1801, 4000, -2), 19);
    // Its own pass: an unfinished group left behind by an earlier pass does not count.
    float x = 1000;
    base.IsValid(x);
    EXPECT_EQ(base.GetNumCol(1801, 4000, -2), 19);
}

// A count beyond the arrays is cut to what they hold; one below 1 leaves no intervals.
TEST(USDBase, IntervalCountIsBoundedByTheLists) {
    USDBase base;
    USDConstraints in = Intervals({1, 2}, {3, 4}, 2), out;
    in.NumberOfIncludedIntervals = 5;
    base.SetUSDConstraints(&in);
    EXPECT_EQ(base.GetUSDConstraints(&out)->NumberOfIncludedIntervals, 2);
    in.NumberOfIncludedIntervals = 0;
    base.SetUSDConstraints(&in);
    base.GetUSDConstraints(&out);
    EXPECT_TRUE(out.IncludeXStartPt.empty() && out.IncludeXEndPt.empty());
    EXPECT_EQ(Columns(base, {7, 8}), (std::vector<float>{7, 8}));
}

TEST(USDBase, XmlTextReadsBackAndRejectsWhatDoesNotFit) {
    USDConstraints in = Intervals({400.25f, -1e-7f}, {1e30f, 3.5f}, 4);
    in.IncludeOrdinalValues = false;
    std::string text;
    ASSERT_TRUE(USDBase::GetStringFromUSDConstraints(in, text));
    USDConstraints back;
    ASSERT_TRUE(USDBase::GetUSDConstraintsFromString(text, back)) << text;
    EXPECT_EQ(back, in);
    ASSERT_TRUE(USDBase::GetStringFromUSDConstraints(USDConstraints{}, text));
    ASSERT_TRUE(USDBase::GetUSDConstraintsFromString(text, back));
    EXPECT_EQ(back, USDConstraints{});

    // Texts edited by hand: each breaks one rule.
    auto edited = [&](const std::string& key, const std::string& value) {
        std::string source;
        USDBase::GetStringFromUSDConstraints(in, source);
        auto doc = TinyXML2Section::CreateXMLSectionFromString(source.c_str());
        auto settings = doc->GetSection("Settings");
        if (value.empty()) settings->RemoveKey(key);
        else settings->WriteKey(key, value);
        std::string out;
        doc->Flush(out);
        return out;
    };
    const struct {
        std::string text;
        const char* why;
    } bad[] = {
        {edited("IncludeXStartPt", "400.25"), "a start list one entry short"},
        {edited("IncludeXEndPt", "1;2;3"), "an end list one entry long"},
        {edited("NumberOfIncludedIntervals", "-2"), "a negative count"},
        {edited("UseAverage", ""), "a key missing"},
        {edited("IncludeAllValues", "perhaps"), "a flag that is not a bool"},
        {"<Configuration/>", "no Settings section"},
        {"<Configuration><Section", "not XML"},
        {"", "empty"},
    };
    for (const auto& b : bad) {
        USDConstraints out;
        EXPECT_FALSE(USDBase::GetUSDConstraintsFromString(b.text, out)) << b.why;
    }
    // Options bytes whose length promises more than follows, or too short to hold a length.
    const std::string bytes = USDBase::ToOptionsBytes(in);
    EXPECT_THROW(USDBase::TextFromOptionsBytes(bytes.data(), bytes.size() - 1), std::ios_base::failure);
    EXPECT_THROW(USDBase::TextFromOptionsBytes(bytes.data(), 3), std::ios_base::failure);
}

}  // namespace
