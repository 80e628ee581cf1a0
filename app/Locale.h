// Settings taken from the user's locale once at start-up.
#pragma once

namespace app {

// Hands the locale's decimal separator to the number conversions; a separator that is not one ASCII
// character falls back to '.'.
void ApplyLocaleSettings();

} // namespace app
