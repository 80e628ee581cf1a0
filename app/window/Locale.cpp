// Locale settings read through Qt.
#include "app/window/Locale.h"

#include <QLocale>

#include "tools/Conversions.h"

namespace app {

void ApplyLocaleSettings() {
    ApplyLocaleSettings(QLocale::system());
}

void ApplyLocaleSettings(const QLocale& locale) {
    const QString separator = locale.decimalPoint();
    char value = '.';
    if (separator.size() == 1 && separator.at(0).unicode() > 0x20 && separator.at(0).unicode() < 0x7F) {
        value = static_cast<char>(separator.at(0).unicode());
    }
    tools::SetDecimalSeparator(value);
}

} // namespace app
