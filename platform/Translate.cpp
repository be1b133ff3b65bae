#include "platform/Translate.h"

#include <locale>

#include <boost/locale/message.hpp>

namespace kelto {

std::string Translate(const char* text) {
    if (!text || !*text) return std::string();
    std::locale global;
    if (!std::has_facet<boost::locale::message_format<char>>(global)) return text;
    return boost::locale::translate(text).str(global);
}

std::string Translate(const char* context, const char* text) {
    if (!text || !*text) return std::string();
    std::locale global;
    if (!std::has_facet<boost::locale::message_format<char>>(global)) return text;
    return boost::locale::translate(context, text).str(global);
}

}  // namespace kelto
