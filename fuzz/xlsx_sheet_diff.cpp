// The two sheet readers on the same sheet XML must give the same events and the same
// result: expat alone, and our scanner with its hand-over to expat. When the scanner
// finishes a sheet by itself, its events must be expat's too. The first byte sets how many
// bytes the source hands out at a time, so units are cut at every place: 1 to 15 bytes on
// short inputs, else in steps of 16 (0: all at once).
#include <cstdint>
#include <string>
#include <vector>

#include "formats/workbook/XlsxSheet.h"

using namespace kelto::workbook::xlsx;

namespace {

class Recorder : public SheetEvents {
public:
    std::vector<std::string> events;
    void Restart() override { events.clear(); }
    bool Dimension(std::string_view ref) override {
        events.push_back("D" + std::string(ref));
        return true;
    }
    bool BeginCells(std::uint64_t size) override {
        events.push_back("B" + std::to_string(size));
        return true;
    }
    bool Row(std::string_view r, bool hasR) override {
        events.push_back("R" + std::to_string(hasR) + std::string(r));
        // A handler may stop the reading; both readers must stop at the same place.
        return r != "stop";
    }
    bool Cell(const CellEvent& c) override {
        std::string e = "C";
        for (auto [has, text] : {std::pair{c.hasRef, c.ref}, {c.hasStyle, c.style}, {c.hasType, c.type},
                                 {c.hasValue, c.value}, {c.hasInline, c.inlineText}}) {
            e += has ? "|+" : "|-";
            e.append(text.data(), text.size());
        }
        events.push_back(e);
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (1u << 16)) return 0;
    std::size_t step = data[0] == 0 ? (1u << 20) : data[0];
    if (step < 16 && size > 4096) step *= 16;
    const std::string_view xml(reinterpret_cast<const char*>(data) + 1, size - 1);
    auto open = [&](PartStatus& status) -> std::unique_ptr<ByteSource> {
        status = PartStatus::Ok;
        return std::make_unique<MemorySource>(xml, step);
    };
    Recorder expat, automatic, scanner;
    SheetReadOutcome e = ReadSheet(open, expat, SheetReader::ExpatOnly);
    SheetReadOutcome a = ReadSheet(open, automatic, SheetReader::Auto);
    SheetReadOutcome s = ReadSheet(open, scanner, SheetReader::ScannerOnly);
    if (e.result != a.result) __builtin_trap();
    if (expat.events != automatic.events) __builtin_trap();
    if (s.result != SheetResult::Fallback) {
        if (s.result != e.result) __builtin_trap();
        if (scanner.events != expat.events) __builtin_trap();
    }
    return 0;
}
