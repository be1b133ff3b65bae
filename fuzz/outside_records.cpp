// The utility library's readers of stored records and texts under arbitrary bytes: binary
// strings and stream version records, INI sections, configuration documents, percent
// decoding, and number parsing checked against the C library's strtod.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <sstream>
#include <string>
#include <vector>

#include "outside/qmstream/UStream.h"
#include "outside/utl/BinaryIO.h"
#include "outside/utl/ConfigurationSection.h"
#include "outside/utl/HtmlUtilities.h"
#include "outside/utl/IniFileSection.h"
#include "outside/utl/QmString.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    std::string bytes(reinterpret_cast<const char*>(data), size);

    {
        std::istringstream in(bytes);
        std::string s;
        for (int i = 0; i < 64 && ReadBinaryString(in, s); ++i)
            if (s.size() > size) std::abort();
        std::istringstream again(bytes);
        UStreamableData record(1, "FSMat");
        record.Check(again);
    }
    {
        std::istringstream in(bytes);
        IniFileSection section(in, "Status");
        std::string v;
        section.ReadKey("Version", v);
    }
    {
        std::string text = bytes.c_str();  // up to the first NUL, as callers pass C strings
        if (auto doc = TinyXML2Section::CreateXMLSectionFromString(text.c_str())) {
            if (auto settings = doc->GetSection("Settings")) {
                std::vector<std::string> names;
                std::vector<float> floats;
                std::vector<int> ints;
                std::string s;
                int i = 0;
                bool b = false;
                settings->ReadKey("Sheets", names, ';');
                settings->ReadKey("IncludeXStartPt", floats);
                settings->ReadKey("DataBlocks", ints);
                settings->ReadKey("Delimiter", s);
                settings->ReadKey("ReadOrder", i);
                settings->ReadKey("AllSheets", b);
                for (const std::string& n : names) HtmlUtilities::URIDecode(n);
            }
            std::string flushed;
            doc->Flush(flushed);
            if (!TinyXML2Section::CreateXMLSectionFromString(flushed.c_str())) std::abort();
        }
    }
    {
        std::string encoded = bytes;
        HtmlUtilities::URIEncode(encoded);
        if (HtmlUtilities::URIDecode(encoded) != bytes) std::abort();
    }
    {
        // qmstrtod must agree with strtod in the C locale on every prefix it is given.
        static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
        std::string text = bytes.substr(0, 64).c_str();
        char* end1 = nullptr;
        char* end2 = nullptr;
        errno = 0;
        double a = QmString::qmstrtod(text.c_str(), &end1);
        int e1 = errno;
        errno = 0;
        double b = strtod_l(text.c_str(), &end2, c);
        int e2 = errno;
        bool same = (a == b && std::signbit(a) == std::signbit(b)) || (a != a && b != b);
        if (!same || end1 != end2 || e1 != e2) std::abort();
    }
    return 0;
}
