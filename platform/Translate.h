#pragma once
// Message translation. Every fixed message and caption passes through the message catalogue
// of the current global locale (Boost.Locale); no catalogue ships with the library, so the
// English text stands unless a host installs one. Placeholders are numbered ("%1%", "%2%")
// and filled positionally after translation.
#include <string>
#include <utility>

#include <boost/format.hpp>

namespace kelto {

std::string Translate(const char* text);
// With a message context, for words that translate differently by use ("SampleNo").
std::string Translate(const char* context, const char* text);

// Fills "%1%", "%2%", ... of an already translated text. A text whose placeholders do not
// match the arguments is returned as far as it could be filled, never thrown at the caller.
template <typename... Args>
std::string FormatMessage(const std::string& text, Args&&... args) {
    try {
        boost::format f(text);
        f.exceptions(boost::io::no_error_bits);
        (f % ... % std::forward<Args>(args));
        return f.str();
    } catch (...) {
        return text;
    }
}

// Translate, then fill the placeholders.
template <typename... Args>
std::string TranslateFormat(const char* text, Args&&... args) {
    return FormatMessage(Translate(text), std::forward<Args>(args)...);
}

}  // namespace kelto
