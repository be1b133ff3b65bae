#include "outside/utl/QmStdString.h"

#include <vector>

#include <unicode/stringoptions.h>
#include <unicode/ustring.h>

#include "outside/utl/TextEncoding.h"

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::u16string ToUtf16(const std::string& s) {
    std::u16string out(s.size() + 1, u'\0');
    int32_t length = 0;
    UErrorCode err = U_ZERO_ERROR;
    u_strFromUTF8WithSub(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), &length, s.data(),
                         static_cast<int32_t>(s.size()), 0xFFFD, nullptr, &err);
    if (U_FAILURE(err)) return std::u16string();
    out.resize(static_cast<std::size_t>(length));
    return out;
}

bool TurkicLocale(const std::locale& locale) {
    std::string name = locale.name();
    return name.rfind("tr", 0) == 0 || name.rfind("az", 0) == 0;
}

}  // namespace

int QmStdString::CompareNoCase(const std::string& a, const std::string& b, const std::locale& locale) {
    bool turkic = TurkicLocale(locale);
    if (!turkic && kelto::utl::IsAscii(a.data(), a.size()) && kelto::utl::IsAscii(b.data(), b.size())) {
        std::size_t n = std::min(a.size(), b.size());
        for (std::size_t i = 0; i < n; ++i) {
            char x = AsciiLower(a[i]), y = AsciiLower(b[i]);
            if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y) ? -1 : 1;
        }
        return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
    }
    std::u16string x = ToUtf16(a), y = ToUtf16(b);
    UErrorCode err = U_ZERO_ERROR;
    uint32_t options = U_COMPARE_CODE_POINT_ORDER | (turkic ? U_FOLD_CASE_EXCLUDE_SPECIAL_I : U_FOLD_CASE_DEFAULT);
    int32_t r = u_strCaseCompare(reinterpret_cast<const UChar*>(x.data()), static_cast<int32_t>(x.size()),
                                 reinterpret_cast<const UChar*>(y.data()), static_cast<int32_t>(y.size()), options,
                                 &err);
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}
