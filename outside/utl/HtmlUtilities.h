#pragma once
// Percent-encoding of text kept inside other text (list entries of the options, for one).
#include <string>

#include "plugin/Export.h"

class KELTO_API HtmlUtilities {
public:
    // Every byte except the unreserved ASCII characters (letters, digits, "-", ".", "_", "~")
    // becomes "%XX" (upper-case hex), so the result holds no separator, quote or "%" of its
    // own. Bytes beyond ASCII (UTF-8) are encoded one by one.
    static void URIEncode(std::string& text);
    // The inverse: every "%XX" with two hex digits becomes its byte; anything else,
    // including "+" and a "%" not followed by two hex digits, stays as it is.
    static std::string URIDecode(const std::string& text);
};
