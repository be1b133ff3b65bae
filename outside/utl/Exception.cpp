#include "outside/utl/Exception.h"

#include "platform/Translate.h"

ExceptionMessage ExceptionMessage::translate(const char* text) { return ExceptionMessage(kelto::Translate(text)); }

void ExceptionMessage::Fill(const std::string& value) {
    // Both the "%1%" and the "{1}" spellings are accepted: messages of the product family
    // use either.
    for (const std::string& mark : {"%" + std::to_string(next_) + "%", "{" + std::to_string(next_) + "}"}) {
        for (std::size_t at = text_.find(mark); at != std::string::npos; at = text_.find(mark, at + value.size()))
            text_.replace(at, mark.size(), value);
    }
    ++next_;
}
