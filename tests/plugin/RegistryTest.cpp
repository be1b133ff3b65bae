// Registration rules, in-process: factories constructed here register in this test
// program's own registry (the core is linked in statically).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/SprFileFactory.h"
#include "plugin/SpreadsheetFile.h"

namespace {

class NullFile : public SpreadsheetFile {
public:
    explicit NullFile(int tag) : tag(tag) {}
    void GetErrorMessage(char* b, unsigned int n) override { SpreadsheetFile::GetErrorMessage(b, n); }
    int Open(bool, const char*, QmImportOpenOptions*) override { return 0; }
    int Read(ReadSpreadSheetData*) override { return 0; }
    int tag;

protected:
    int EstablishSize() override { return 0; }
};

class Factory : public SprFileFactory {
public:
    Factory(const char* name, const char* filter, signed char priority, int tag)
        : SprFileFactory(name, filter, nullptr, 1, ".x\0", 0, 1, 0, 1, 0, priority), tag(tag) {}
    MyKindOfFile IsMyKindOfFile(const char*) override { return PossiblyMyKind; }
    SpreadsheetFile* GetSpreadsheetFile() override { return new NullFile(tag); }
    int tag;
};

std::vector<std::string> Names() {
    std::vector<std::string> out;
    for (int i = 1; i <= SprFileFactory::SizeInfos(); ++i) out.push_back(SprFileFactory::GetInfo(i)->name);
    return out;
}

int TagAt(int index) {
    SpreadsheetFile* f = SprFileFactory::GetSpreadsheetFile(index);
    int tag = static_cast<NullFile*>(f)->tag;
    delete f;
    return tag;
}

}  // namespace

// One test, because the registry is process-wide and the rules build on each other.
TEST(Registry, NamePriorityAndFilterRules) {
    static Factory b("B", "b-filter", 1, 1);
    static Factory a("A", "a-filter", 1, 2);
    EXPECT_EQ(Names(), (std::vector<std::string>{"A", "B"}));  // ordered by filter, not registration

    // Same name, lower priority: ignored, the first entry stays.
    static Factory aLow("A", "z-filter", 0, 3);
    EXPECT_EQ(Names(), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(TagAt(1), 2);

    // Same name, equal priority: replaces, and is found under its own filter.
    static Factory aEqual("A", "c-filter", 1, 4);
    EXPECT_EQ(Names(), (std::vector<std::string>{"B", "A"}));
    EXPECT_EQ(TagAt(2), 4);
    EXPECT_STREQ(SprFileFactory::GetInfo(2)->filter, "c-filter");

    // Same name, higher priority: replaces.
    static Factory bHigh("B", "d-filter", 5, 5);
    EXPECT_EQ(Names(), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(TagAt(2), 5);
    EXPECT_EQ(SprFileFactory::GetInfo(2)->priority, 5);

    // A new name under an existing filter: nothing is inserted.
    static Factory other("C", "c-filter", 9, 6);
    EXPECT_EQ(Names(), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(TagAt(1), 4);

    // 1 or less means the first; beyond the end is refused.
    EXPECT_EQ(SprFileFactory::GetInfo(0), SprFileFactory::GetInfo(1));
    EXPECT_EQ(SprFileFactory::GetInfo(3), nullptr);
    EXPECT_EQ(SprFileFactory::GetSpreadsheetFile(3), nullptr);
    EXPECT_EQ(SprFileFactory::IsMyKindOfFile(3, "x"), SprFileFactory::NotMyKind);
    EXPECT_EQ(SprFileFactory::IsMyKindOfFile(-1, "x"), SprFileFactory::PossiblyMyKind);
}
