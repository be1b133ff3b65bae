#include "outside/utl/ConfigurationSection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "outside/utl/BinaryIO.h"
#include "outside/utl/HtmlUtilities.h"

namespace {

// The options record's way: the text through WriteBinaryString, back through ReadBinaryString.
std::string ThroughRecord(const std::string& text) {
    std::ostringstream out;
    EXPECT_TRUE(WriteBinaryString(out, text));
    std::string bytes = out.str();
    std::istringstream in(bytes);
    std::string back;
    EXPECT_TRUE(ReadBinaryString(in, back));
    return back;
}

std::unique_ptr<ConfigurationSection> Reparse(const TinyXML2Section& doc, std::unique_ptr<TinyXML2Section>& keep,
                                              const char* section = "Settings") {
    std::string text;
    EXPECT_TRUE(doc.Flush(text, false));
    keep = TinyXML2Section::CreateXMLSectionFromString(ThroughRecord(text).c_str());
    EXPECT_NE(keep, nullptr) << text;
    return keep ? keep->GetSection(section) : nullptr;
}

}  // namespace

TEST(ConfigurationSection, ListEntriesWithSeparatorsAndPercentsSurviveWriteAndRead) {
    std::vector<std::string> sheets = {"Sheet;1", "50% done", "%3B", "", "Übersicht ; %", "a\tb"};
    TinyXML2Section doc;
    auto settings = doc.CreateSection("Settings");
    std::vector<std::string> encoded = sheets;
    for (std::string& s : encoded) HtmlUtilities::URIEncode(s);
    settings->WriteKey("Sheets", encoded, ';');
    settings->WriteKey("ReadOrder", 3);

    std::unique_ptr<TinyXML2Section> keep;
    auto back = Reparse(doc, keep);
    ASSERT_NE(back, nullptr);
    std::vector<std::string> read;
    ASSERT_TRUE(back->ReadKey("Sheets", read, ';'));
    for (std::string& s : read) s = HtmlUtilities::URIDecode(s);
    EXPECT_EQ(read, sheets);
    int order = 0;
    ASSERT_TRUE(back->ReadKey("ReadOrder", order));
    EXPECT_EQ(order, 3);
}

TEST(ConfigurationSection, TypedKeysRoundTripExactly) {
    TinyXML2Section doc;
    auto s = doc.CreateSection("Settings");
    std::vector<float> starts = {0.1f, -0.0f, 1e-38f, 3.4028235e38f, 4000.5f, 1e-45f};
    std::vector<double> precise = {0.1, 1e-310, -2.5e300};
    std::vector<int> blocks = {0, -1, 2147483647, -2147483647 - 1};
    s->WriteKey("IncludeOrdinalValues", true);
    s->WriteKey("IncludeAllValues", false);
    s->WriteKey("NumberOfIncludedIntervals", -42);
    s->WriteKey("Ratio", 0.30000000000000004);
    s->WriteKey("Gain", 1.1f);
    s->WriteKey("IncludeXStartPt", starts);
    s->WriteKey("Precise", precise, ',');
    s->WriteKey("DataBlocks", blocks);
    s->WriteKey("Encoding", "utf8");  // a C string stays text, never a boolean
    s->WriteKey("Delimiter", std::string("\t"));

    std::unique_ptr<TinyXML2Section> keep;
    auto r = Reparse(doc, keep);
    ASSERT_NE(r, nullptr);
    bool b1 = false, b2 = true;
    int n = 0;
    double ratio = 0;
    float gain = 0;
    std::vector<float> f;
    std::vector<double> d;
    std::vector<int> i;
    std::string enc, delim;
    ASSERT_TRUE(r->ReadKey("IncludeOrdinalValues", b1));
    ASSERT_TRUE(r->ReadKey("IncludeAllValues", b2));
    ASSERT_TRUE(r->ReadKey("NumberOfIncludedIntervals", n));
    ASSERT_TRUE(r->ReadKey("Ratio", ratio));
    ASSERT_TRUE(r->ReadKey("Gain", gain));
    ASSERT_TRUE(r->ReadKey("IncludeXStartPt", f));
    ASSERT_TRUE(r->ReadKey("Precise", d, ','));
    ASSERT_TRUE(r->ReadKey("DataBlocks", i));
    ASSERT_TRUE(r->ReadKey("Encoding", enc));
    ASSERT_TRUE(r->ReadKey("Delimiter", delim));
    EXPECT_TRUE(b1);
    EXPECT_FALSE(b2);
    EXPECT_EQ(n, -42);
    EXPECT_EQ(ratio, 0.30000000000000004);
    EXPECT_EQ(gain, 1.1f);
    ASSERT_EQ(f.size(), starts.size());
    EXPECT_EQ(std::memcmp(f.data(), starts.data(), f.size() * sizeof(float)), 0);  // -0 and denormals too
    EXPECT_EQ(d, precise);
    EXPECT_EQ(i, blocks);
    EXPECT_EQ(enc, "utf8");
    EXPECT_EQ(delim, "\t");
}

TEST(ConfigurationSection, AnyTextValueReadsBackByteForByte) {
    std::string nasty = std::string("  lead & <tag> \"q\" 'a' \r\n\tend \x01\x7f ü ", 36);
    nasty += std::string(1, '\0') + "after NUL";
    TinyXML2Section doc;
    auto s = doc.CreateSection("Weird \"name\" <&>");
    s->WriteKey("key with spaces & <marks>", nasty);
    s->WriteKey("blank", std::string("   "));
    s->WriteKey("empty", std::string());
    std::unique_ptr<TinyXML2Section> keep;
    auto r = Reparse(doc, keep, "Weird \"name\" <&>");
    ASSERT_NE(r, nullptr);
    std::string v;
    ASSERT_TRUE(r->ReadKey("key with spaces & <marks>", v));
    EXPECT_EQ(v, nasty);
    ASSERT_TRUE(r->ReadKey("blank", v));
    EXPECT_EQ(v, "   ");
    ASSERT_TRUE(r->ReadKey("empty", v));
    EXPECT_EQ(v, "");
    EXPECT_EQ(r->GetName(), "Weird \"name\" <&>");
}

TEST(ConfigurationSection, AbsentOrMistypedKeysLeaveValuesUntouched) {
    TinyXML2Section doc;
    auto s = doc.CreateSection("Settings");
    s->WriteKey("Text", "abc");
    s->WriteKey("Numbers", std::vector<std::string>{"1", "x", "3"}, ';');
    int i = 7;
    bool b = true;
    float f = 2.5f;
    double d = 1.5;
    std::string str = "keep";
    std::vector<float> fl = {9};
    std::vector<int> il = {9};
    std::vector<std::string> sl = {"keep"};
    EXPECT_FALSE(s->ReadKey("Missing", i));
    EXPECT_FALSE(s->ReadKey("Missing", b));
    EXPECT_FALSE(s->ReadKey("Missing", f));
    EXPECT_FALSE(s->ReadKey("Missing", d));
    EXPECT_FALSE(s->ReadKey("Missing", str));
    EXPECT_FALSE(s->ReadKey("Missing", fl));
    EXPECT_FALSE(s->ReadKey("Missing", sl, ';'));
    EXPECT_FALSE(s->ReadKey("Text", i));
    EXPECT_FALSE(s->ReadKey("Text", b));
    EXPECT_FALSE(s->ReadKey("Text", f));
    EXPECT_FALSE(s->ReadKey("Numbers", il));  // one entry is not a number: nothing is taken
    EXPECT_EQ(i, 7);
    EXPECT_TRUE(b);
    EXPECT_EQ(f, 2.5f);
    EXPECT_EQ(d, 1.5);
    EXPECT_EQ(str, "keep");
    EXPECT_EQ(fl, std::vector<float>{9});
    EXPECT_EQ(il, std::vector<int>{9});
    EXPECT_EQ(sl, std::vector<std::string>{"keep"});
    EXPECT_EQ(doc.GetSection("Missing"), nullptr);
}

TEST(ConfigurationSection, EmptyListsAndListsOfOneEmptyEntryDiffer) {
    TinyXML2Section doc;
    auto s = doc.CreateSection("Settings");
    s->WriteKey("None", std::vector<std::string>{}, ';');
    s->WriteKey("OneEmpty", std::vector<std::string>{""}, ';');
    s->WriteKey("NoFloats", std::vector<float>{});
    std::unique_ptr<TinyXML2Section> keep;
    auto r = Reparse(doc, keep);
    std::vector<std::string> v = {"x"};
    ASSERT_TRUE(r->ReadKey("None", v, ';'));
    EXPECT_TRUE(v.empty());
    ASSERT_TRUE(r->ReadKey("OneEmpty", v, ';'));
    EXPECT_EQ(v, std::vector<std::string>{""});
    std::vector<float> f = {1};
    ASSERT_TRUE(r->ReadKey("NoFloats", f));
    EXPECT_TRUE(f.empty());
}

TEST(ConfigurationSection, WritesReplaceAndSectionsAreFoundByName) {
    TinyXML2Section doc;
    auto a = doc.CreateSection("Settings");
    a->WriteKey("Delimiter", ",");
    a->WriteKey("Delimiter", ";");
    auto again = doc.CreateSection("Settings");  // the same section, not a second one
    again->WriteKey("Encoding", "");
    doc.CreateSection("Other")->CreateSection("Inner")->WriteKey("k", 1);
    EXPECT_EQ(doc.GetSectionNames(), (std::vector<std::string>{"Settings", "Other"}));
    EXPECT_EQ(a->GetKeyNames(), (std::vector<std::string>{"Delimiter", "Encoding"}));
    std::string v;
    ASSERT_TRUE(a->ReadKey("Delimiter", v));
    EXPECT_EQ(v, ";");
    EXPECT_TRUE(a->RemoveKey("Encoding"));
    EXPECT_FALSE(a->HasKey("Encoding"));
    EXPECT_FALSE(a->RemoveKey("Encoding"));
    int k = 0;
    ASSERT_TRUE(doc.GetSection("Other")->GetSection("Inner")->ReadKey("k", k));
    EXPECT_EQ(k, 1);
    // A handle keeps its document alive after the document object is gone.
    std::unique_ptr<ConfigurationSection> survivor;
    {
        auto parsed = TinyXML2Section::CreateXMLSectionFromString(
            "<Configuration><Section name=\"Settings\"><Key name=\"A\" value=\"1\"/></Section></Configuration>");
        survivor = parsed->GetSection("Settings");
    }
    ASSERT_TRUE(survivor->ReadKey("A", k));
    EXPECT_EQ(k, 1);
}

TEST(ConfigurationSection, TextThatDoesNotParseGivesNoSection) {
    EXPECT_EQ(TinyXML2Section::CreateXMLSectionFromString(nullptr), nullptr);
    EXPECT_EQ(TinyXML2Section::CreateXMLSectionFromString(""), nullptr);
    EXPECT_EQ(TinyXML2Section::CreateXMLSectionFromString("not xml"), nullptr);
    EXPECT_EQ(TinyXML2Section::CreateXMLSectionFromString("<a><b></a>"), nullptr);
    EXPECT_EQ(TinyXML2Section::CreateXMLSectionFromString("<?xml version=\"1.0\"?>"), nullptr);
    EXPECT_EQ(TinyXML2Section::CreateXMLSectionFromString("]x><a/>"), nullptr);
    EXPECT_EQ(TinyXML2Section::CreateXMLSectionFromString("<a/><b/>"), nullptr);
    // Well-formed XML of another shape parses, but holds no "Settings".
    auto other = TinyXML2Section::CreateXMLSectionFromString("<Settings><Delimiter>x</Delimiter></Settings>");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->GetSection("Settings"), nullptr);
}

TEST(ConfigurationSection, HandWrittenEntitiesAreRead) {
    auto doc = TinyXML2Section::CreateXMLSectionFromString(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Configuration>\n  <Section name=\"Settings\">\n"
        "    <Key name=\"Name\" value=\"A&amp;B &#x41;&#66; &lt;&#233;&gt; &bogus; &#xD800;\"/>\n"
        "  </Section>\n</Configuration>\n");
    ASSERT_NE(doc, nullptr);
    auto s = doc->GetSection("Settings");
    ASSERT_NE(s, nullptr);
    std::string v;
    ASSERT_TRUE(s->ReadKey("Name", v));
    EXPECT_EQ(v, "A&B AB <é> &bogus; &#xD800;");
    // Single quotes around a value holding double quotes: flushed and read again unchanged.
    auto quoted = TinyXML2Section::CreateXMLSectionFromString(
        "<C><Section name='S'><Key name='K' value='say \"hi\" &amp; go'/></Section></C>");
    ASSERT_NE(quoted, nullptr);
    std::string text;
    ASSERT_TRUE(quoted->Flush(text));
    auto again = TinyXML2Section::CreateXMLSectionFromString(text.c_str());
    ASSERT_NE(again, nullptr) << text;
    ASSERT_TRUE(again->GetSection("S")->ReadKey("K", v));
    EXPECT_EQ(v, "say \"hi\" & go");
}
