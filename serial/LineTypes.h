// The line's framing and modem-line choices, shared by the port component and by programs that use
// the platform layer without Qt (vx538).
#pragma once

#include <optional>
#include <string_view>

namespace serial {

enum class TParity { None, Odd, Even, Mark, Space };
enum class TStopBits { _1, _1_5, _2 };
enum class TByteSize { _5, _6, _7, _8 };
enum class TDtrControl { DtrEnable, DtrDisable, DtrHandshake };
enum class TRtsControl { RtsEnable, RtsDisable, RtsHandshake, RtsTransmissionAvailable };

// The one table of parity names, in the order of TParity: the word options and files use ("odd"),
// the label a window shows ("Odd") and the letter of "8O1".
struct ParityName {
    TParity parity;
    std::string_view word;
    std::string_view label;
    char letter;
};
inline constexpr ParityName kParityNames[] = {
    {TParity::None, "none", "None", 'N'},  {TParity::Odd, "odd", "Odd", 'O'},
    {TParity::Even, "even", "Even", 'E'},  {TParity::Mark, "mark", "Mark", 'M'},
    {TParity::Space, "space", "Space", 'S'},
};

inline const ParityName& parityName(TParity parity) {
    return kParityNames[static_cast<int>(parity)];
}

// The parity a word names ("none" ... "space", as parityName gives them), or nullopt.
inline std::optional<TParity> parityOfWord(std::string_view word) {
    for (const ParityName& p : kParityNames) {
        if (p.word == word) {
            return p.parity;
        }
    }
    return std::nullopt;
}

} // namespace serial
