// The line's framing and modem-line choices, shared by the port component and by programs that use
// the platform layer without Qt (vx538).
#pragma once

namespace serial {

enum class TParity { None, Odd, Even, Mark, Space };
enum class TStopBits { _1, _1_5, _2 };
enum class TByteSize { _5, _6, _7, _8 };
enum class TDtrControl { DtrEnable, DtrDisable, DtrHandshake };
enum class TRtsControl { RtsEnable, RtsDisable, RtsHandshake, RtsTransmissionAvailable };

} // namespace serial
