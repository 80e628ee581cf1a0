// Sets the decimal separator for the life of a test and puts the previous one back afterwards, so
// no test leaks its separator into the next.
#pragma once

#include "tools/Conversions.h"

class SeparatorScope {
public:
    explicit SeparatorScope(char separator) : previous_(tools::DecimalSeparator()) {
        tools::SetDecimalSeparator(separator);
    }
    ~SeparatorScope() { tools::SetDecimalSeparator(previous_); }
    SeparatorScope(const SeparatorScope&) = delete;
    SeparatorScope& operator=(const SeparatorScope&) = delete;

private:
    char previous_;
};
