// Settings taken from the user's locale once at start-up.
#pragma once

class QLocale;

namespace app {

// Hands the locale's decimal separator to the number conversions (the user's locale, or the one
// given); a separator that is not one ASCII character falls back to '.'.
void ApplyLocaleSettings();
void ApplyLocaleSettings(const QLocale& locale);

} // namespace app
