// Case-insensitive comparison, percent-encoding, INI sections, the log, the application name
// and date-time texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "TestFiles.h"
#include "outside/utl/HtmlUtilities.h"
#include "outside/utl/IniFileSection.h"
#include "outside/utl/Log.h"
#include "outside/utl/QmStdString.h"
#include "outside/utl/QmSystemInfo.h"
#include "outside/utl/QmTimeUtl.h"
#include "platform/HostInfo.h"

using kelto::test::Iconv;
using kelto::test::ReadFile;
using kelto::test::TempDir;

TEST(QmStdString, CompareNoCaseIgnoresCaseAndOrdersTheRest) {
    EXPECT_EQ(QmStdString::CompareNoCase("Text File", "TEXT FILE"), 0);
    EXPECT_EQ(QmStdString::CompareNoCase("", ""), 0);
    EXPECT_LT(QmStdString::CompareNoCase("abc", "ABD"), 0);
    EXPECT_GT(QmStdString::CompareNoCase("abd", "ABC"), 0);
    // Case does not decide the order: "a" comes before "B" although 'B' < 'a' in ASCII.
    EXPECT_LT(QmStdString::CompareNoCase("a", "B"), 0);
    EXPECT_GT(QmStdString::CompareNoCase("B", "a"), 0);
    EXPECT_LT(QmStdString::CompareNoCase("Excel", "excel file"), 0);
    EXPECT_GT(QmStdString::CompareNoCase("excel file", "EXCEL"), 0);
    EXPECT_EQ(QmStdString::CompareNoCase("Ärger Über Öl", "ärger über öl"), 0);
    EXPECT_EQ(QmStdString::CompareNoCase("ΣΟΦΊΑ", "σοφία"), 0);
    EXPECT_EQ(QmStdString::CompareNoCase("STRASSE", "straße"), 0);
    EXPECT_NE(QmStdString::CompareNoCase("Ärger", "Arger"), 0);
    // Mixed ASCII and non-ASCII operands order like two non-ASCII ones.
    EXPECT_LT(QmStdString::CompareNoCase("z", "é"), 0);
    EXPECT_GT(QmStdString::CompareNoCase("É", "Z"), 0);
}

TEST(HtmlUtilities, PercentEncodingSurvivesSeparatorsAndPercents) {
    std::string text = "Sheet 1;Q3 50% \"raw\"/é\t";
    std::string encoded = text;
    HtmlUtilities::URIEncode(encoded);
    EXPECT_EQ(encoded, "Sheet%201%3BQ3%2050%25%20%22raw%22%2F%C3%A9%09");
    EXPECT_EQ(encoded.find(';'), std::string::npos);
    EXPECT_EQ(HtmlUtilities::URIDecode(encoded), text);
    // Every byte value round-trips.
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    std::string e = all;
    HtmlUtilities::URIEncode(e);
    EXPECT_EQ(HtmlUtilities::URIDecode(e), all);
    // Text that was never encoded passes, odd percent signs and "+" included.
    EXPECT_EQ(HtmlUtilities::URIDecode("a+b%zz%4%"), "a+b%zz%4%");
    EXPECT_EQ(HtmlUtilities::URIDecode("%41%6a"), "Aj");
    std::string unreserved = "AZaz09-._~";
    HtmlUtilities::URIEncode(unreserved);
    EXPECT_EQ(unreserved, "AZaz09-._~");
}

TEST(IniFileSection, ReadsKeysOfTheNamedSection) {
    std::istringstream in(
        "; settings\r\n[General]\r\nVersion=99\r\n\r\n[ status ]\r\n  Version = 3 \r\n# note\r\nName=\"a = b\"\r\n"
        "Empty=\r\n[Other]\r\nVersion=7\r\n[Status]\r\nVersion=12\r\n");
    IniFileSection status(in, "Status");
    ASSERT_TRUE(status.IsValid());
    std::string v = "untouched";
    ASSERT_TRUE(status.ReadKey("version", v));
    EXPECT_EQ(v, "3");
    ASSERT_TRUE(status.ReadKey("NAME", v));
    EXPECT_EQ(v, "a = b");
    ASSERT_TRUE(status.ReadKey("Empty", v));
    EXPECT_EQ(v, "");
    v = "untouched";
    EXPECT_FALSE(status.ReadKey("Missing", v));
    EXPECT_EQ(v, "untouched");

    std::istringstream again("[General]\nVersion=1\n");
    IniFileSection absent(again, "Status");
    EXPECT_FALSE(absent.IsValid());
    EXPECT_FALSE(absent.ReadKey("Version", v));
}

TEST(IniFileSection, ReadsUtf16AndUtf8WithMarks) {
    std::string text = "[Status]\r\nVersion=12\r\nTitel=Größe\r\n";
    std::istringstream utf16("\xFF\xFE" + *Iconv("UTF-16LE", "UTF-8", text));
    IniFileSection a(utf16, "status");
    std::string v;
    ASSERT_TRUE(a.ReadKey("Version", v));
    EXPECT_EQ(v, "12");
    ASSERT_TRUE(a.ReadKey("Titel", v));
    EXPECT_EQ(v, "Größe");
    std::istringstream utf8("\xEF\xBB\xBF" + text);
    IniFileSection b(utf8, "Status");
    ASSERT_TRUE(b.ReadKey("Version", v));
    EXPECT_EQ(v, "12");
    std::istringstream empty("");
    EXPECT_FALSE(IniFileSection(empty, "Status").IsValid());
}

TEST(Log, EntriesReachTheHostsSink) {
    std::vector<Log::Entry> seen;
    Log::Sink previous = Log::SetSink([&](const Log::Entry& e) { seen.push_back(e); });
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
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].source, "ImportHelper");
    EXPECT_EQ(seen[0].tag, "PutMsgMB");
    EXPECT_EQ(seen[0].text, "File not found");
    EXPECT_EQ(seen[0].importance, 3);
    EXPECT_FALSE(seen[0].flush);
    EXPECT_EQ(seen[1].tag, "PutMsgDD");
    EXPECT_TRUE(seen[1].flush);
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
    if (old) setenv("KELTO_LOG_FILE", saved.c_str(), 1);
    else unsetenv("KELTO_LOG_FILE");
    Log::SetSink(previous);
    std::string text = ReadFile(path);
    EXPECT_EQ(text.find("silent"), std::string::npos);
    EXPECT_NE(text.find("[warning] ImportHelper/PutMsgMB: two lines\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[error] ImportHelper/PutMsgDD: second\n"), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
}

TEST(QmSystemInfo, ApplicationNameIsTheHosts) {
    std::string saved = kelto::platform::HostApplicationName();
    kelto::platform::SetHostApplicationName("Spectra Studio");
    EXPECT_EQ(QmSystemInfo::GetApplicationName(), "Spectra Studio");
    kelto::platform::SetHostApplicationName(saved);
    EXPECT_EQ(QmSystemInfo::GetApplicationName(), saved);
}

TEST(QmTimeUtl, DefaultFormsAreIsoAndPatternsCoverTheUsualFields) {
    using boost::posix_time::ptime;
    using boost::posix_time::time_duration;
    ptime t(boost::gregorian::date(2024, 2, 29), time_duration(13, 5, 9) + boost::posix_time::microseconds(123456));
    EXPECT_EQ(QmTimeUtl::DateTimeFormatter(QmTimeUtl::DateTime, "").Format(t), "2024-02-29 13:05:09");
    EXPECT_EQ(QmTimeUtl::DateTimeFormatter(QmTimeUtl::Date, "").Format(t), "2024-02-29");
    EXPECT_EQ(QmTimeUtl::DateTimeFormatter(QmTimeUtl::Time, "HH:mm:ss").Format(t), "13:05:09");
    EXPECT_EQ(QmTimeUtl::DateTimeFormatter(QmTimeUtl::Time, "").Format(t), "13:05:09");
    ptime excelStart(boost::gregorian::date(1900, 1, 1));
    EXPECT_EQ(QmTimeUtl::DateTimeFormatter().Format(excelStart), "1900-01-01 00:00:00");
    EXPECT_EQ(QmTimeUtl::DateTimeFormatter().Format(ptime()), "");
    // Patterns of field letters.
    EXPECT_EQ(QmTimeUtl::DateTimeFormatter(QmTimeUtl::DateTime, "dd.MM.yy hh:mm a").Format(t), "29.02.24 01:05 PM");
    EXPECT_EQ(QmTimeUtl::DateTimeFormatter(QmTimeUtl::DateTime, "EEE, d MMM yyyy").Format(t), "Thu, 29 Feb 2024");
    EXPECT_EQ(QmTimeUtl::DateTimeFormatter(QmTimeUtl::DateTime, "EEEE d MMMM").Format(t), "Thursday 29 February");
    EXPECT_EQ(QmTimeUtl::DateTimeFormatter(QmTimeUtl::DateTime, "yyyy-MM-dd'T'HH:mm:ss.SSS").Format(t),
              "2024-02-29T13:05:09.123");
    EXPECT_EQ(QmTimeUtl::DateTimeFormatter(QmTimeUtl::DateTime, "s.ff 'o''clock' ''").Format(t), "9.12 o'clock '");
    ptime midnight(boost::gregorian::date(2024, 1, 5));
    EXPECT_EQ(QmTimeUtl::DateTimeFormatter(QmTimeUtl::DateTime, "h a, M/d/y").Format(midnight), "12 AM, 1/5/2024");
}

TEST(QmTimeUtl, LocalTimeRefusesNullArguments) {
    std::int64_t t = 86400;
    std::tm tm{};
    ASSERT_EQ(qmlocaltime_r(&t, &tm), &tm);
    EXPECT_EQ(tm.tm_year, 70);
    EXPECT_EQ(qmlocaltime_r(nullptr, &tm), nullptr);
    EXPECT_EQ(qmlocaltime_r(&t, nullptr), nullptr);
}
