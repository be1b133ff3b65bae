#include "outside/utl/ConfigurationSection.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "outside/utl/BinaryIO.h"

namespace {

using Strings = std::vector<std::string>;

// Flushes `doc` to text, carries the text the options record's way (WriteBinaryString, then
// ReadBinaryString), parses it again and returns the named section of the new document.
std::unique_ptr<ConfigurationSection> Reparse(const TinyXML2Section& doc, std::unique_ptr<TinyXML2Section>& keep,
                                              const char* section = "Settings") {
    std::string text, back;
    EXPECT_TRUE(doc.Flush(text, false));
    std::stringstream record;
    EXPECT_TRUE(WriteBinaryString(record, text) && ReadBinaryString(record, back));
    keep = TinyXML2Section::CreateXMLSectionFromString(back.c_str());
    EXPECT_NE(keep, nullptr) << text;
    return keep ? keep->GetSection(section) : nullptr;
}

template <typename T, typename... Separator>
T Read(const ConfigurationSection& s, const std::string& key, Separator... separator) {
    T value{};
    EXPECT_TRUE(s.ReadKey(key, value, separator...)) << key;
    return value;
}

}  // namespace

TEST(ConfigurationSection, TypedKeysRoundTripExactly) {
    TinyXML2Section doc;
    auto s = doc.CreateSection("Settings");
    const std::vector<float> starts = {0.1f, -0.0f, 1e-38f, 3.4028235e38f, 4000.5f, 1e-45f};
    const std::vector<double> precise = {0.1, 1e-310, -2.5e300};
    const std::vector<int> blocks = {0, -1, 2147483647, -2147483647 - 1};
    s->WriteKey("IncludeOrdinalValues", true);
    s->WriteKey("IncludeAllValues", false);
    s->WriteKey("NumberOfIncludedIntervals", -42);
    s->WriteKey("Ratio", 0.30000000000000004);
    s->WriteKey("Gain", 1.1f);
    s->WriteKey("IncludeXStartPt", starts);
    s->WriteKey("Precise", precise, ',');
    s->WriteKey("DataBlocks", blocks);
    s->WriteKey("Encoding", "utf8");  // a C string stays text, never a boolean
    s->WriteKey("None", Strings{}, ';');
    s->WriteKey("OneEmpty", Strings{""}, ';');  // differs from no entries at all
    s->WriteKey("NoFloats", std::vector<float>{});

    std::unique_ptr<TinyXML2Section> keep;
    auto r = Reparse(doc, keep);
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(Read<bool>(*r, "IncludeOrdinalValues"));
    EXPECT_FALSE(Read<bool>(*r, "IncludeAllValues"));
    EXPECT_EQ(Read<int>(*r, "NumberOfIncludedIntervals"), -42);
    EXPECT_EQ(Read<double>(*r, "Ratio"), 0.30000000000000004);
    EXPECT_EQ(Read<float>(*r, "Gain"), 1.1f);
    std::vector<float> f = Read<std::vector<float>>(*r, "IncludeXStartPt");
    ASSERT_EQ(f.size(), starts.size());
    EXPECT_EQ(std::memcmp(f.data(), starts.data(), f.size() * sizeof(float)), 0);  // -0 and denormals too
    EXPECT_EQ(Read<std::vector<double>>(*r, "Precise", ','), precise);
    EXPECT_EQ(Read<std::vector<int>>(*r, "DataBlocks"), blocks);
    EXPECT_EQ(Read<std::string>(*r, "Encoding"), "utf8");
    EXPECT_EQ(Read<Strings>(*r, "None", ';'), Strings{});
    EXPECT_EQ(Read<Strings>(*r, "OneEmpty", ';'), Strings{""});
    EXPECT_TRUE(Read<std::vector<float>>(*r, "NoFloats").empty());
}

TEST(ConfigurationSection, AnyTextValueReadsBackByteForByte) {
    std::string nasty = std::string("  lead & <tag> \"q\" 'a' \r\n\tend \x01\x7f ü ", 36) + '\0' + "after NUL";
    const char* section = "Weird \"name\" <&>";
    TinyXML2Section doc;
    auto s = doc.CreateSection(section);
    s->WriteKey("key with spaces & <marks>", nasty);
    s->WriteKey("blank", "   ");
    s->WriteKey("empty", "");
    std::unique_ptr<TinyXML2Section> keep;
    auto r = Reparse(doc, keep, section);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->GetName(), section);
    EXPECT_EQ(Read<std::string>(*r, "key with spaces & <marks>"), nasty);
    EXPECT_EQ(Read<std::string>(*r, "blank"), "   ");
    EXPECT_EQ(Read<std::string>(*r, "empty"), "");
}

TEST(ConfigurationSection, AbsentOrMistypedKeysLeaveValuesUntouched) {
    TinyXML2Section doc;
    auto s = doc.CreateSection("Settings");
    s->WriteKey("Text", "abc");
    s->WriteKey("Numbers", Strings{"1", "x", "3"}, ';');
    int i = 7;
    bool b = true;
    float f = 2.5f;
    std::string str = "keep";
    std::vector<int> il = {9};
    Strings sl = {"keep"};
    EXPECT_FALSE(s->ReadKey("Missing", str) || s->ReadKey("Missing", sl, ';') || s->ReadKey("Missing", i));
    EXPECT_FALSE(s->ReadKey("Text", i) || s->ReadKey("Text", b) || s->ReadKey("Text", f));
    EXPECT_FALSE(s->ReadKey("Numbers", il));  // one entry is not a number: nothing is taken
    EXPECT_EQ(i, 7);
    EXPECT_TRUE(b);
    EXPECT_EQ(f, 2.5f);
    EXPECT_EQ(str, "keep");
    EXPECT_EQ(il, std::vector<int>{9});
    EXPECT_EQ(sl, Strings{"keep"});
    EXPECT_EQ(doc.GetSection("Missing"), nullptr);
}

TEST(ConfigurationSection, WritesReplaceAndSectionsAreFoundByName) {
    TinyXML2Section doc;
    auto a = doc.CreateSection("Settings");
    a->WriteKey("Delimiter", ",");
    a->WriteKey("Delimiter", ";");
    doc.CreateSection("Settings")->WriteKey("Encoding", "");  // the same section, not a second one
    doc.CreateSection("Other")->CreateSection("Inner")->WriteKey("k", 1);
    EXPECT_EQ(doc.GetSectionNames(), (Strings{"Settings", "Other"}));
    EXPECT_EQ(a->GetKeyNames(), (Strings{"Delimiter", "Encoding"}));
    EXPECT_EQ(Read<std::string>(*a, "Delimiter"), ";");
    EXPECT_TRUE(a->RemoveKey("Encoding"));
    EXPECT_FALSE(a->HasKey("Encoding") || a->RemoveKey("Encoding"));
    EXPECT_EQ(Read<int>(*doc.GetSection("Other")->GetSection("Inner"), "k"), 1);
    // A handle keeps its document alive after the document object is gone.
    auto survivor = TinyXML2Section::CreateXMLSectionFromString(
                        "<Configuration><Section name=\"Settings\"><Key name=\"A\" value=\"1\"/></Section></Configuration>")
                        ->GetSection("Settings");
    EXPECT_EQ(Read<int>(*survivor, "A"), 1);
}

TEST(ConfigurationSection, TextThatDoesNotParseGivesNoSection) {
    EXPECT_EQ(TinyXML2Section::CreateXMLSectionFromString(nullptr), nullptr);
    for (const char* text : {"", "not xml", "<a><b></a>", "<?xml version=\"1.0\"?>", "]x><a/>", "<a/><b/>"})
        EXPECT_EQ(TinyXML2Section::CreateXMLSectionFromString(text), nullptr) << text;
    // Well-formed XML of another shape parses, but holds no "Settings".
    auto other = TinyXML2Section::CreateXMLSectionFromString("<Settings><Delimiter>x</Delimiter></Settings>");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->GetSection("Settings"), nullptr);
}

TEST(ConfigurationSection, HandWrittenEntitiesAndQuotesAreRead) {
    auto doc = TinyXML2Section::CreateXMLSectionFromString(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Configuration>\n  <Section name=\"Settings\">\n"
        "    <Key name=\"Name\" value=\"A&amp;B &#x41;&#66; &lt;&#233;&gt; &bogus; &#xD800;\"/>\n"
        "  </Section>\n</Configuration>\n");
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(Read<std::string>(*doc->GetSection("Settings"), "Name"), "A&B AB <é> &bogus; &#xD800;");
    // Single quotes around a value holding double quotes: flushed and read again unchanged.
    auto quoted = TinyXML2Section::CreateXMLSectionFromString("<C><Section name='S'><Key name='K' value='say \"hi\" &amp; go'/></Section></C>");
    ASSERT_NE(quoted, nullptr);
    std::unique_ptr<TinyXML2Section> keep;
    auto again = Reparse(*quoted, keep, "S");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(Read<std::string>(*again, "K"), "say \"hi\" & go");
}
