#include "outside/utl/Exception.h"

#include "platform/Translate.h"

ExceptionMessage ExceptionMessage::translate(const char* text) { return ExceptionMessage(kelto::Translate(text)); }

namespace {

// The placeholder number at `at` ("%N%" or "{N}"), and its length; 0 when there is none.
int PlaceholderAt(const std::string& text, std::size_t at, std::size_t& length) {
    char open = text[at];
    char close = open == '%' ? '%' : open == '{' ? '}' : 0;
    if (!close) return 0;
    std::size_t i = at + 1;
    int number = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && number < 100000) number = number * 10 + (text[i++] - '0');
    if (i == at + 1 || i >= text.size() || text[i] != close) return 0;
    length = i + 1 - at;
    return number;
}

}  // namespace

void ExceptionMessage::Fill(const std::string& value) {
    values_.push_back(value);
    // Rendered from the pattern in one pass, so a value that itself looks like a placeholder
    // is never filled again. Both the "%1%" and the "{1}" spellings are accepted: messages of
    // the product family use either. Placeholders without a value stay as they are.
    text_.clear();
    for (std::size_t at = 0; at < pattern_.size();) {
        std::size_t length = 0;
        int n = PlaceholderAt(pattern_, at, length);
        if (n >= 1 && static_cast<std::size_t>(n) <= values_.size()) {
            text_ += values_[n - 1];
            at += length;
        } else {
            text_ += pattern_[at++];
        }
    }
}
