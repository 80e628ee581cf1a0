// Bytes of the line and of the converter's texts as the window shows them: one character per byte.
#pragma once

#include <string_view>

#include <QString>

namespace app {

inline QString latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace app
