// The table of MODBUS function-code layouts: one row per public function, its request's and its
// reply's shape and what the reply repeats of the request.
#include "tools/ModbusLayout.h"

#include <algorithm>
#include <iterator>

#include "tools/ModbusCrc.h"

namespace tools {

namespace {

using Bytes = std::span<const uint8_t>;
using Layout = ModbusLayout;
using Fit = ModbusFieldsFit;
using Shape = ModbusFrameShape;

constexpr std::size_t kCrcLength = 2;

uint16_t word(Bytes b, std::size_t at) {
    return static_cast<uint16_t>((b[at] << 8) | b[at + 1]);
}

bool inRange(unsigned value, unsigned low, unsigned high) {
    return value >= low && value <= high;
}

constexpr Layout fixed(std::size_t length) {
    return {Layout::Is::Known, length};
}
constexpr Layout open(std::size_t shortest) {
    return {Layout::Is::Open, shortest};
}
constexpr Fit kYes{Fit::Is::Yes};
constexpr Fit kNo{Fit::Is::No};

Layout incompleteLayout(std::size_t need) {
    return {Layout::Is::Incomplete, need};
}

// The frame's length follows its byte count at `countAt`: the head, the count, the data, the CRC.
Layout counted(Bytes b, std::size_t countAt) {
    if (b.size() <= countAt) {
        return incompleteLayout(countAt + 1);
    }
    return fixed(countAt + 1 + std::size_t{b[countAt]} + kCrcLength);
}

// The same with a count of two bytes (function 24's).
Layout counted16(Bytes b, std::size_t countAt) {
    if (b.size() < countAt + 2) {
        return incompleteLayout(countAt + 2);
    }
    return fixed(countAt + 2 + std::size_t{word(b, countAt)} + kCrcLength);
}

// The verdict once `need` bytes are there.
template <typename Holds> Fit judged(Bytes b, std::size_t need, Holds holds) {
    if (b.size() < need) {
        return {Fit::Is::Incomplete, need};
    }
    return {holds(b) ? Fit::Is::Yes : Fit::Is::No};
}

// Both answers wait for the byte at `at` that picks the layout (a sub-function, an MEI type).
Shape waitFor(std::size_t need) {
    return {incompleteLayout(need), {Fit::Is::Incomplete, need}};
}

// ---- the rows' shapes ----

// 8, diagnostics: the sub-function picks the layout. Return query data (0) loops back data of any
// length, and the Modbus Plus statistics (21) answer with a block of their own: both end at their
// CRC. The others carry one word: 0000 in the request but for restart communications (0000 or FF00),
// the ASCII delimiter (a character, then 00) and the statistics' operation (3 get, 4 clear).
enum class DiagnosticData : uint8_t { Any, Zero, OnOff, Delimiter, Operation, Reserved };
DiagnosticData diagnosticData(uint16_t sub) {
    switch (sub) {
    case 0:
        return DiagnosticData::Any;
    case 1:
        return DiagnosticData::OnOff;
    case 3:
        return DiagnosticData::Delimiter;
    case 21:
        return DiagnosticData::Operation;
    case 2:
    case 4:
        return DiagnosticData::Zero;
    default:
        return sub >= 10 && sub <= 20 ? DiagnosticData::Zero : DiagnosticData::Reserved;
    }
}

Shape diagnostics(Bytes b, ModbusRole role) {
    if (b.size() < 4) {
        return waitFor(4);
    }
    const uint16_t sub = word(b, 2);
    const DiagnosticData data = diagnosticData(sub);
    if (data == DiagnosticData::Reserved) {
        return {open(6), kNo};
    }
    if (data == DiagnosticData::Any || (data == DiagnosticData::Operation && role == ModbusRole::Reply)) {
        return {open(6), kYes};
    }
    if (role == ModbusRole::Reply) {
        return {fixed(8), kYes};
    }
    return {fixed(8), judged(b, 6, [data](Bytes f) {
                const uint16_t value = word(f, 4);
                switch (data) {
                case DiagnosticData::OnOff:
                    return value == 0x0000 || value == 0xFF00;
                case DiagnosticData::Delimiter:
                    return (value & 0xFF) == 0;
                case DiagnosticData::Operation:
                    return value == 3 || value == 4;
                default:
                    return value == 0;
                }
            })};
}

// 20 and 21: sub-requests of a reference type 6, a file and record number and a record length (21's
// with the record's words after it), adding up to the byte count.
bool fileRecordsFit(Bytes f, bool withData) {
    const std::size_t end = 3 + std::size_t{f[2]};
    std::size_t at = 3;
    while (at < end) {
        if (at + 7 > end || f[at] != 6) {
            return false;
        }
        at += 7 + (withData ? 2 * std::size_t{word(f, at + 5)} : 0);
    }
    return at == end;
}

Shape fileRecords(Bytes b, bool withData, unsigned lowest, unsigned highest) {
    const Layout layout = counted(b, 2);
    if (layout.is != Layout::Is::Known) {
        return {layout, {Fit::Is::Incomplete, layout.length}};
    }
    return {layout, judged(b, layout.length - kCrcLength, [=](Bytes f) {
                return inRange(f[2], lowest, highest) && fileRecordsFit(f, withData);
            })};
}

// 43, encapsulated interface transport: MEI type 13 (CANopen general reference) carries a block of
// its own up to its CRC; 14 (read device identification) asks with a read code and an object id and
// is answered with its objects, each an id, a length and the value.
constexpr uint8_t kCanopen = 13;
constexpr uint8_t kDeviceIdentification = 14;

Shape deviceObjects(Bytes b) {
    constexpr std::size_t kFirstObject = 8;
    if (b.size() < kFirstObject) {
        return waitFor(kFirstObject);
    }
    std::size_t at = kFirstObject;
    for (unsigned object = 0; object < b[7]; ++object) {
        if (at + 2 > b.size()) {
            return waitFor(at + 2);
        }
        at += 2 + std::size_t{b[at + 1]};
        if (at > kModbusMaxFrame) {
            return {fixed(at + kCrcLength), kNo};
        }
    }
    const uint8_t conformity = b[4];
    const bool fits =
        inRange(b[3], 1, 4) && inRange(conformity & 0x7F, 1, 3) && (b[5] == 0x00 || b[5] == 0xFF);
    return {fixed(at + kCrcLength), fits ? kYes : kNo};
}

Shape encapsulated(Bytes b, ModbusRole role) {
    if (b.size() < 3) {
        return waitFor(3);
    }
    if (b[2] == kCanopen) {
        return {open(5), kYes};
    }
    if (b[2] != kDeviceIdentification) {
        return {open(5), kNo};
    }
    if (role == ModbusRole::Reply) {
        return deviceObjects(b);
    }
    return {fixed(7), judged(b, 5, [](Bytes f) { return inRange(f[3], 1, 4); })};
}

// ---- the table ----

// What a reply repeats of the request it answers.
enum class Repeats : uint8_t {
    Nothing,
    BitCount,      // its byte count holds the bits the request's count asks for
    RegisterCount, // ... the registers
    StartAndCount, // the start and count of a write of several
    Whole,         // the request itself
    SubFunction,   // a diagnostic's sub-function
    Mei,           // the MEI type, and for device identification the read code
};

struct Row {
    uint8_t function;
    Shape (*request)(Bytes);
    Shape (*reply)(Bytes);
    Repeats repeats;
};

Shape eight(Bytes) {
    return {fixed(8), kYes};
}
Shape four(Bytes) {
    return {fixed(4), kYes};
}

Shape readBitsRequest(Bytes b) {
    return {fixed(8), judged(b, 6, [](Bytes f) { return inRange(word(f, 4), 1, 2000); })};
}
Shape readRegistersRequest(Bytes b) {
    return {fixed(8), judged(b, 6, [](Bytes f) { return inRange(word(f, 4), 1, 125); })};
}
Shape readBitsReply(Bytes b) {
    return {counted(b, 2), judged(b, 3, [](Bytes f) { return inRange(f[2], 1, 250); })};
}
Shape readRegistersReply(Bytes b) {
    return {counted(b, 2), judged(b, 3, [](Bytes f) { return inRange(f[2], 2, 250) && f[2] % 2 == 0; })};
}
Shape writeCoil(Bytes b) {
    return {fixed(8), judged(b, 6, [](Bytes f) { return word(f, 4) == 0x0000 || word(f, 4) == 0xFF00; })};
}
Shape exceptionStatusReply(Bytes) {
    return {fixed(5), kYes};
}
Shape diagnosticsRequest(Bytes b) {
    return diagnostics(b, ModbusRole::Request);
}
Shape diagnosticsReply(Bytes b) {
    return diagnostics(b, ModbusRole::Reply);
}
// The status word of 11 and 12: 0000 ready, FFFF busy.
bool isStatus(uint16_t status) {
    return status == 0x0000 || status == 0xFFFF;
}
Shape eventCounterReply(Bytes b) {
    return {fixed(8), judged(b, 4, [](Bytes f) { return isStatus(word(f, 2)); })};
}
Shape eventLogReply(Bytes b) {
    // Status, event count and message count (6 bytes), then up to 64 events.
    return {counted(b, 2),
            judged(b, 5, [](Bytes f) { return inRange(f[2], 6, 70) && isStatus(word(f, 3)); })};
}
Shape writeCoilsRequest(Bytes b) {
    return {counted(b, 6), judged(b, 7, [](Bytes f) {
                const unsigned count = word(f, 4);
                return inRange(count, 1, 1968) && f[6] == (count + 7) / 8;
            })};
}
Shape writeRegistersRequest(Bytes b) {
    return {counted(b, 6), judged(b, 7, [](Bytes f) {
                const unsigned count = word(f, 4);
                return inRange(count, 1, 123) && f[6] == 2 * count;
            })};
}
Shape writeCoilsReply(Bytes b) {
    return {fixed(8), judged(b, 6, [](Bytes f) { return inRange(word(f, 4), 1, 1968); })};
}
Shape writeRegistersReply(Bytes b) {
    return {fixed(8), judged(b, 6, [](Bytes f) { return inRange(word(f, 4), 1, 123); })};
}
Shape serverIdReply(Bytes b) {
    return {counted(b, 2), judged(b, 3, [](Bytes f) { return inRange(f[2], 1, 251); })};
}
Shape readFileRequest(Bytes b) {
    return fileRecords(b, false, 7, 245);
}
Shape readFileReply(Bytes b) {
    // Sub-responses of a length and a reference type each, which some slaves give in either order:
    // only the byte count is checked.
    return {counted(b, 2), judged(b, 3, [](Bytes f) { return f[2] <= 245; })};
}
Shape writeFile(Bytes b) {
    return fileRecords(b, true, 9, 251);
}
Shape maskWrite(Bytes) {
    return {fixed(10), kYes};
}
Shape readWriteRequest(Bytes b) {
    return {counted(b, 10), judged(b, 11, [](Bytes f) {
                const unsigned writes = word(f, 8);
                return inRange(word(f, 4), 1, 125) && inRange(writes, 1, 121) && f[10] == 2 * writes;
            })};
}
Shape fifoRequest(Bytes) {
    return {fixed(6), kYes};
}
Shape fifoReply(Bytes b) {
    // A FIFO count word and at most 31 registers.
    return {counted16(b, 2),
            judged(b, 4, [](Bytes f) { return inRange(word(f, 2), 2, 64) && word(f, 2) % 2 == 0; })};
}
Shape encapsulatedRequest(Bytes b) {
    return encapsulated(b, ModbusRole::Request);
}
Shape encapsulatedReply(Bytes b) {
    return encapsulated(b, ModbusRole::Reply);
}

constexpr Row kRows[] = {
    {1, readBitsRequest, readBitsReply, Repeats::BitCount},
    {2, readBitsRequest, readBitsReply, Repeats::BitCount},
    {3, readRegistersRequest, readRegistersReply, Repeats::RegisterCount},
    {4, readRegistersRequest, readRegistersReply, Repeats::RegisterCount},
    {5, writeCoil, writeCoil, Repeats::Whole},
    {6, eight, eight, Repeats::Whole},
    {7, four, exceptionStatusReply, Repeats::Nothing},
    {8, diagnosticsRequest, diagnosticsReply, Repeats::SubFunction},
    {11, four, eventCounterReply, Repeats::Nothing},
    {12, four, eventLogReply, Repeats::Nothing},
    {15, writeCoilsRequest, writeCoilsReply, Repeats::StartAndCount},
    {16, writeRegistersRequest, writeRegistersReply, Repeats::StartAndCount},
    {17, four, serverIdReply, Repeats::Nothing},
    {20, readFileRequest, readFileReply, Repeats::Nothing},
    {21, writeFile, writeFile, Repeats::Whole},
    {22, maskWrite, maskWrite, Repeats::Whole},
    {23, readWriteRequest, readRegistersReply, Repeats::RegisterCount},
    {24, fifoRequest, fifoReply, Repeats::Nothing},
    {43, encapsulatedRequest, encapsulatedReply, Repeats::Mei},
};

const Row* rowOf(uint8_t function) {
    const Row* row = std::ranges::find(kRows, function, &Row::function);
    return row == std::end(kRows) ? nullptr : row;
}

// A diagnostic that loops back (return query data, restart communications) is repeated whole.
Repeats repeatsOf(const Row& row, Bytes request) {
    if (row.repeats == Repeats::SubFunction && request.size() >= 4 && word(request, 2) <= 1) {
        return Repeats::Whole;
    }
    return row.repeats;
}

Shape exceptionReply(Bytes b) {
    return {fixed(5), judged(b, 3, [](Bytes f) {
                return IsModbusFunction(f[1] & ~kModbusExceptionBit) && IsModbusExceptionCode(f[2]);
            })};
}

} // namespace

bool IsModbusFunction(uint8_t function) {
    return rowOf(function) != nullptr;
}

bool IsModbusExceptionCode(uint8_t code) {
    return (code >= 1 && code <= 6) || code == 8 || code == 10 || code == 11;
}

ModbusFrameShape ReadModbusFrame(Bytes b, ModbusRole role) {
    Shape shape = waitFor(2);
    if (b.size() >= 2) {
        const uint8_t function = b[1];
        const Row* row = rowOf(function);
        if (role == ModbusRole::Reply && (function & kModbusExceptionBit) != 0) {
            shape = exceptionReply(b);
        } else if (row) {
            shape = role == ModbusRole::Request ? row->request(b) : row->reply(b);
        } else {
            shape = {};
        }
    }
    if (role == ModbusRole::Reply && !b.empty() && b[0] == 0) {
        shape.fields = kNo; // nobody answers a broadcast
    }
    return shape;
}

std::size_t ModbusCrcEnd(Bytes bytes, std::size_t shortest) {
    const std::size_t last = std::min(bytes.size(), kModbusMaxFrame);
    const std::size_t first = std::max<std::size_t>(shortest, 4);
    if (first > last) {
        return 0;
    }
    // The CRC carried on a byte at a time: the search stays linear in the bytes it looks at.
    CrcBytes crc = ModbusCrc16(bytes.first(first - kCrcLength));
    for (std::size_t length = first; length <= last; ++length) {
        if (bytes[length - 2] == crc.low && bytes[length - 1] == crc.high) {
            return length;
        }
        crc = ModbusCrc16(bytes.subspan(length - kCrcLength, 1), crc);
    }
    return 0;
}

ModbusLayout ModbusFrameLength(Bytes bytes, ModbusRole role) {
    const ModbusLayout layout = ReadModbusFrame(bytes, role).layout;
    if (layout.is != Layout::Is::Open) {
        return layout;
    }
    const std::size_t end = ModbusCrcEnd(bytes, layout.length);
    return end > 0 ? fixed(end) : Layout{};
}

ModbusAnswer ModbusReplyTo(Bytes request, Bytes reply) {
    using Answer = ModbusAnswer;
    const auto incomplete = [](std::size_t need) { return Answer{Answer::Is::Incomplete, need}; };
    if (request.size() < 2 || reply.empty()) {
        return reply.empty() ? incomplete(1) : Answer{};
    }
    if (reply[0] != request[0]) {
        return {};
    }
    if (reply.size() < 2) {
        return incomplete(2);
    }
    const uint8_t function = request[1];
    if (reply[1] == (function | kModbusExceptionBit)) {
        if (reply.size() < 3) {
            return incomplete(3);
        }
        return IsModbusExceptionCode(reply[2]) ? Answer{Answer::Is::Known, 0, 5, true} : Answer{};
    }
    if (reply[1] != function) {
        return {};
    }
    const Row* row = rowOf(function);
    const Repeats repeats = row ? repeatsOf(*row, request) : Repeats::Nothing;
    Answer answer{Answer::Is::Known};
    // A function outside the table (a user-defined one) ends at its first CRC that holds.
    const ModbusLayout layout = row ? ReadModbusFrame(reply, ModbusRole::Reply).layout : open(4);
    if (repeats == Repeats::Whole) {
        answer.length = request.size();
    } else if (layout.is == Layout::Is::Known) {
        answer.length = layout.length;
    } else if (layout.is == Layout::Is::Open) {
        // Without a CRC that holds, an open layout tells nothing of where the reply ends.
        answer.length = ModbusCrcEnd(reply, layout.length);
        if (answer.length == 0) {
            return {};
        }
    } else if (layout.is == Layout::Is::Incomplete) {
        return incomplete(layout.length);
    } else {
        return {};
    }
    // The part a reply repeats, as far as the bytes go (a cut reply keeps what it shows).
    const auto repeated = [&](std::size_t from, std::size_t to) {
        to = std::min({to, reply.size(), request.size()});
        return from >= to || std::equal(reply.begin() + from, reply.begin() + to, request.begin() + from);
    };
    bool right = true;
    Answer::Mismatch mismatch = Answer::Mismatch::None;
    switch (repeats) {
    case Repeats::BitCount:
    case Repeats::RegisterCount:
        right = reply.size() < 3 || reply[2] == ModbusReplyByteCount(request);
        mismatch = Answer::Mismatch::ByteCount;
        break;
    case Repeats::StartAndCount:
        right = repeated(2, 6);
        mismatch = Answer::Mismatch::Repeated;
        break;
    case Repeats::Whole:
        right = repeated(2, request.size() - kCrcLength);
        mismatch = Answer::Mismatch::Repeated;
        break;
    case Repeats::SubFunction:
        right = repeated(2, 4);
        mismatch = Answer::Mismatch::SubFunction;
        break;
    case Repeats::Mei:
        right = repeated(2, request.size() >= 3 && request[2] == kDeviceIdentification ? 4 : 3);
        mismatch = Answer::Mismatch::SubFunction;
        break;
    case Repeats::Nothing:
        break;
    }
    answer.mismatch = right ? Answer::Mismatch::None : mismatch;
    return answer;
}

bool ModbusReplySharesLayout(uint8_t function) {
    return function == 5 || function == 6 || function == 8 || function == 21 || function == 22;
}

int ModbusReplyByteCount(Bytes request) {
    if (request.size() < 6) {
        return -1;
    }
    const unsigned count = word(request, 4);
    switch (request[1]) {
    case 1:
    case 2:
        return static_cast<int>((count + 7) / 8);
    case 3:
    case 4:
    case 23:
        return static_cast<int>(2 * count);
    default:
        return -1;
    }
}

} // namespace tools
