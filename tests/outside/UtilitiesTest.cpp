// Case-insensitive comparison, percent-encoding, INI sections, the log, the application name
// and date-time texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "TestFiles.h"
#include "outside/utl/HtmlUtilities.h"
#include "outside/utl/IniFileSection.h"
#include "outside/utl/Log.h"
#include "outside/utl/QmStdString.h"
#include "outside/utl/QmTimeUtl.h"

using kelto::test::Iconv;
using kelto::test::ReadFile;
using kelto::test::TempDir;

TEST(QmStdString, CompareNoCaseIgnoresCaseAndOrdersTheRest) {
    const std::tuple<const char*, const char*, int> cases[] = {
        {"Text File", "TEXT FILE", 0}, {"", "", 0}, {"abc", "ABD", -1},
        {"a", "B", -1},  // case does not decide the order, although 'B' < 'a' in ASCII
        {"excel file", "EXCEL", 1}, {"Ärger Über Öl", "ärger über öl", 0}, {"ΣΟΦΊΑ", "σοφία", 0},
        {"STRASSE", "straße", 0}, {"Ärger", "Arger", 1},
        {"z", "é", -1},  // mixed ASCII and non-ASCII operands order like two non-ASCII ones
    };
    for (const auto& [a, b, sign] : cases) {
        auto s = [](int v) { return (v > 0) - (v < 0); };
        EXPECT_EQ(s(QmStdString::CompareNoCase(a, b)), sign) << a << " : " << b;
        EXPECT_EQ(s(QmStdString::CompareNoCase(b, a)), -sign) << b << " : " << a;
    }
}

TEST(HtmlUtilities, PercentEncodingSurvivesSeparatorsAndPercents) {
    std::string text = "Sheet 1;Q3 50% \"raw\"/é\t", encoded = text;
    HtmlUtilities::URIEncode(encoded);
    EXPECT_EQ(encoded, "Sheet%201%3BQ3%2050%25%20%22raw%22%2F%C3%A9%09");
    EXPECT_EQ(HtmlUtilities::URIDecode(encoded), text);
    std::string all, unreserved = "AZaz09-._~";
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    encoded = all;
    HtmlUtilities::URIEncode(encoded);
    EXPECT_EQ(HtmlUtilities::URIDecode(encoded), all);  // every byte value round-trips
    HtmlUtilities::URIEncode(unreserved);
    EXPECT_EQ(unreserved, "AZaz09-._~");
    // Text that was never encoded passes, odd percent signs and "+" included.
    EXPECT_EQ(HtmlUtilities::URIDecode("a+b%zz%4%%41%6a"), "a+b%zz%4%Aj");
}

TEST(IniFileSection, ReadsKeysOfTheNamedSectionInAnyMarkedEncoding) {
    std::string text =
        "; settings\r\n[General]\r\nVersion=99\r\n\r\n[ status ]\r\n  Version = 3 \r\n# note\r\nName=\"a = b\"\r\n"
        "Empty=\r\nTitel=Größe\r\n[Other]\r\nVersion=7\r\n[Status]\r\nVersion=12\r\n";
    for (std::string bytes : {text, "\xFF\xFE" + *Iconv("UTF-16LE", "UTF-8", text)}) {
        std::istringstream in(bytes);
        IniFileSection status(in, "Status");  // the first section of that name, in any case
        std::string v = "untouched";
        EXPECT_FALSE(status.ReadKey("Missing", v));
        EXPECT_EQ(v, "untouched");
        for (const auto& [key, value] : {std::pair{"version", "3"}, {"NAME", "a = b"}, {"Empty", ""}, {"Titel", "Größe"}}) {
            EXPECT_TRUE(status.ReadKey(key, v)) << key;
            EXPECT_EQ(v, value) << key;
        }
    }
    std::istringstream other("[General]\nVersion=1\n");
    EXPECT_FALSE(IniFileSection(other, "Status").IsValid());
}

TEST(Log, EntriesReachTheHostsSinkAndAFailingSinkHurtsNoCaller) {
    std::vector<std::string> seen;
    Log::Sink previous = Log::SetSink([&](const Log::Entry& e) {
        seen.push_back(e.source + "/" + e.tag + ":" + e.text + ":" + std::to_string(e.importance) + (e.flush ? "!" : ""));
    });
    Log::WriteMessage("ImportHelper", "PutMsgMB", "File not found", 3, false);
    Log::WriteMessage("ImportHelper", "PutMsgDD", "a: b", Log::Warning, true);
    // A sink that logs itself or throws does not hurt the caller.
    int depth = 0;
    Log::SetSink([&](const Log::Entry& e) {
        if (++depth < 3) Log::WriteMessage("inner", "t", e.text, 1);
        throw std::runtime_error("sink broke");
    });
    EXPECT_NO_THROW(Log::WriteMessage("outer", "t", "x", 2));
    EXPECT_EQ(depth, 3);
    Log::SetSink(previous);
    Log::WriteMessage("ImportHelper", "PutMsgMB", "after", 3);
    EXPECT_EQ(seen, (std::vector<std::string>{"ImportHelper/PutMsgMB:File not found:3", "ImportHelper/PutMsgDD:a: b:3!"}));
}

TEST(Log, DefaultWritesToTheFileTheEnvironmentNames) {
    TempDir dir;
    std::string path = dir.File("kelto.log");
    Log::Sink previous = Log::SetSink(nullptr);
    const char* old = std::getenv("KELTO_LOG_FILE");
    std::string saved = old ? old : "";
    unsetenv("KELTO_LOG_FILE");
    Log::WriteMessage("ImportHelper", "PutMsgMB", "silent", 3);
    setenv("KELTO_LOG_FILE", path.c_str(), 1);
    Log::WriteMessage("ImportHelper", "PutMsgMB", "two\nlines", 3);
    Log::WriteMessage("ImportHelper", "PutMsgDD", "second", 4);
    old ? setenv("KELTO_LOG_FILE", saved.c_str(), 1) : unsetenv("KELTO_LOG_FILE");
    Log::SetSink(previous);
    // One line each, after a time stamp; nothing from before the variable was set.
    std::string text = ReadFile(path);
    EXPECT_NE(text.find(" [warning] ImportHelper/PutMsgMB: two lines\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" [error] ImportHelper/PutMsgDD: second\n"), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
}

TEST(QmTimeUtl, DefaultFormsAreIsoAndPatternsCoverTheUsualFields) {
    using namespace boost::posix_time;
    ptime t(boost::gregorian::date(2024, 2, 29), time_duration(13, 5, 9) + microseconds(123456));
    ptime midnight(boost::gregorian::date(2024, 1, 5));
    const std::tuple<QmTimeUtl::EParseType, const char*, ptime, const char*> cases[] = {
        {QmTimeUtl::DateTime, "", t, "2024-02-29 13:05:09"},
        {QmTimeUtl::Date, "", t, "2024-02-29"},
        {QmTimeUtl::Time, "", t, "13:05:09"},
        {QmTimeUtl::Time, "HH:mm:ss", t, "13:05:09"},
        {QmTimeUtl::DateTime, "", ptime(), ""},
        {QmTimeUtl::DateTime, "EEE, d MMMM yyyy", t, "Thu, 29 February 2024"},
        {QmTimeUtl::DateTime, "yyyy-MM-dd'T'HH:mm:ss.SSS", t, "2024-02-29T13:05:09.123"},
        {QmTimeUtl::DateTime, "s 'o''clock' ''", t, "9 o'clock '"},
        {QmTimeUtl::DateTime, "h a, M/d/yy", midnight, "12 AM, 1/5/24"},
    };
    for (const auto& [type, pattern, time, text] : cases) EXPECT_EQ(QmTimeUtl::DateTimeFormatter(type, pattern).Format(time), text) << pattern;
    EXPECT_EQ(QmTimeUtl::DateTimeFormatter().Format(ptime(boost::gregorian::date(1900, 1, 1))), "1900-01-01 00:00:00");
}

TEST(QmTimeUtl, LocalTimeRefusesNullArguments) {
    std::int64_t t = 86400;
    std::tm tm{};
    ASSERT_EQ(qmlocaltime_r(&t, &tm), &tm);
    EXPECT_EQ(tm.tm_year, 70);
    EXPECT_EQ(qmlocaltime_r(nullptr, &tm), nullptr);
    EXPECT_EQ(qmlocaltime_r(&t, nullptr), nullptr);
}
