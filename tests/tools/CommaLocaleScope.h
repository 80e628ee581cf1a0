// Switches the process's C numeric locale to one with a comma decimal separator for the life of a
// test, to show that the conversions do not follow it; puts the previous locale back afterwards.
#pragma once

#include <clocale>
#include <string>

class CommaLocaleScope {
public:
    CommaLocaleScope() {
        if (const char* current = std::setlocale(LC_NUMERIC, nullptr))
            previous_ = current;
        for (const char* candidate :
             {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "ru_RU.UTF-8"})
            if (std::setlocale(LC_NUMERIC, candidate)) {
                name_ = candidate;
                break;
            }
    }
    ~CommaLocaleScope() { std::setlocale(LC_NUMERIC, previous_.c_str()); }
    CommaLocaleScope(const CommaLocaleScope&) = delete;
    CommaLocaleScope& operator=(const CommaLocaleScope&) = delete;

    // The locale in force, or nullptr when none with a comma is installed (the test should skip).
    const char* name() const { return name_; }

private:
    std::string previous_ = "C";
    const char* name_ = nullptr;
};
