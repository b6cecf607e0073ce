// Puts the process under a German locale, whose decimal separator is a
// comma, for the life of the object: texts that reach peers, files and the
// management service must still carry a '.'. scripts/install-deps.sh
// generates the locale.
#pragma once

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

namespace rvx::test {

class CommaDecimalLocale
{
public:
    CommaDecimalLocale() : previous_(std::setlocale(LC_ALL, nullptr))
    {
        if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
            return;
        char text[16];
        std::snprintf(text, sizeof text, "%.1f", 1.5);
        active_ = std::strcmp(text, "1,5") == 0;
    }
    ~CommaDecimalLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
    CommaDecimalLocale(const CommaDecimalLocale&) = delete;
    CommaDecimalLocale& operator=(const CommaDecimalLocale&) = delete;

    // False when the locale is missing (run scripts/install-deps.sh).
    bool Active() const { return active_; }

private:
    std::string previous_;
    bool active_ = false;
};

} // namespace rvx::test
