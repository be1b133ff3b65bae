#pragma once
// Comparisons of UTF-8 strings.
#include <locale>
#include <string>

#include "plugin/Export.h"

class KELTO_API QmStdString {
public:
    // 0 when `a` and `b` are equal ignoring case (full Unicode case folding, so "ÄBC" equals
    // "äbc" and "STRASSE" equals "straße"), else negative or positive as `a` orders
    // before or after `b` by the code points of their folded forms. Under a Turkish or
    // Azerbaijani locale, dotted and dotless I fold the Turkish way. Bytes that are not
    // UTF-8 compare as U+FFFD.
    static int CompareNoCase(const std::string& a, const std::string& b, const std::locale& locale = std::locale());
};
