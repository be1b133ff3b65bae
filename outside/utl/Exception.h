#pragma once
// Exceptions of the utility library: a translated message with numbered placeholders
// ("%1%", "%2%", or "{1}", "{2}") filled in order by operator%, carried by Exception.
#include <locale>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "plugin/Export.h"

class KELTO_API ExceptionMessage {
public:
    // The text passed through the message catalogue of the current global locale.
    static ExceptionMessage translate(const char* text);
    explicit ExceptionMessage(std::string text) : pattern_(std::move(text)), text_(pattern_) {}

    // Fills the next numbered placeholder.
    template <typename T>
    ExceptionMessage& operator%(const T& value) {
        std::ostringstream s;
        s << value;
        Fill(s.str());
        return *this;
    }
    ExceptionMessage& operator%(const std::string& value) {
        Fill(value);
        return *this;
    }
    ExceptionMessage& operator%(const char* value) {
        Fill(value ? value : "");
        return *this;
    }
    const std::string& str() const { return text_; }

private:
    void Fill(const std::string& value);
    std::string pattern_;               // the translated text with its placeholders
    std::vector<std::string> values_;   // values for placeholders 1, 2, ...
    std::string text_;                  // pattern_ with the values filled in
};

class KELTO_API Exception : public std::runtime_error {
public:
    explicit Exception(const ExceptionMessage& message) : std::runtime_error(message.str()) {}
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    // The message (already translated when it was built).
    std::string Why(const std::locale& = std::locale()) const { return what(); }
};

// The user cancelled (a progress hook, a prompt). Deliberately not an Exception: code that
// turns an Exception into an error code must let a cancellation pass, and the import ends
// without a message.
class KELTO_API CancelException : public std::exception {
public:
    const char* what() const noexcept override { return "cancelled"; }
};
