#pragma once
// A C locale whose decimal point is a comma, for tests that must show that number parsing
// and formatting ignore the process's C locale. Installs it with setlocale for the life of
// the object and restores the previous one after.
#include <clocale>
#include <string>

namespace kelto::test {

class CommaDecimalLocale {
public:
    CommaDecimalLocale() {
        const char* old = std::setlocale(LC_ALL, nullptr);
        previous_ = old ? old : "C";
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "de_AT.UTF-8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
            if (std::setlocale(LC_ALL, name) && std::localeconv()->decimal_point[0] == ',') {
                name_ = name;
                return;
            }
        }
        std::setlocale(LC_ALL, previous_.c_str());
    }
    ~CommaDecimalLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
    CommaDecimalLocale(const CommaDecimalLocale&) = delete;
    CommaDecimalLocale& operator=(const CommaDecimalLocale&) = delete;

    bool Active() const { return !name_.empty(); }
    const std::string& Name() const { return name_; }

private:
    std::string previous_;
    std::string name_;
};

}  // namespace kelto::test
