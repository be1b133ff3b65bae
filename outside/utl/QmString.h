#pragma once
// Number parsing and string helpers of the utility library. Parsing always uses "." as the
// decimal point, whatever the process's C locale says.
#include "plugin/Export.h"

class KELTO_API QmString {
public:
    // Like C-locale strtod: leading white space, sign, decimal and hexadecimal forms, "inf",
    // "nan"; errno is set to ERANGE on overflow and underflow. `end` (may be null) receives
    // where parsing stopped (the start of `text` when nothing was parsed).
    static double qmstrtod(const char* text, char** end);
    // The whole text (surrounding white space allowed) as a number; false otherwise.
    static bool ToFloat(const char* text, float& value);
    static bool ToInt(const char* text, int& value);
    // A heap copy (new[]) of `text`; null for null.
    static char* qmstrdup(const char* text);
};
