// The bus monitor's framer: a listen-only adapter's byte stream cut into MODBUS RTU, HART and text
// frames by their content, with the time of delivery only as a hint, each request paired with the
// reply that follows it. Plain C++ without I/O, so vx538 monitor, the traffic window, a replay, a fuzz
// harness and a benchmark all frame a stream the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "traffic/Interpreter.h"

namespace traffic {

enum class BusKind : uint8_t { Noise, Modbus, Hart, Text };
// Master request or slave reply. A HART burst frame is a reply no request asked for.
enum class BusRole : uint8_t { Noise, Request, Reply };
enum class BusCheck : uint8_t {
    Good,  // CRC or check byte right; a text frame whole from its head to its closing '#'
    Wrong, // the reply a request expects, its header right and its CRC or check byte wrong
    Cut,   // the header of the reply a request expects, and fewer bytes than it announces
};

// "noise", "MODBUS", "HART", "text"; "request", "reply", "noise".
std::string_view BusKindText(BusKind kind);
std::string_view BusRoleText(BusRole role);

struct BusFrame {
    std::vector<uint8_t> bytes;
    // When the frame's first and last byte were on the line, in the clock of the times given to the
    // framer (microseconds): the delivery time, moved back by the character time of the bytes that
    // came after it in the same delivery.
    int64_t startUs = 0;
    int64_t endUs = 0;
    // When the delivery holding its last byte came, in the same clock: the moment the frame was seen
    // whole. A display that places it among events of other ports uses this, as they carry no
    // estimate of line time either.
    int64_t seenUs = 0;
    BusKind kind = BusKind::Noise;
    BusRole role = BusRole::Noise;
    BusCheck check = BusCheck::Good;
    uint64_t number = 0; // frames (noise included) count from 1 in line order
    // A reply paired with the request it answers: that request's bytes and number, and the time from
    // the request's last byte to the reply's first (replyUs). Null, 0 and -1 otherwise.
    std::shared_ptr<const std::vector<uint8_t>> request;
    uint64_t requestNumber = 0;
    int64_t replyUs = -1;
    // For a request: no reply is expected (a MODBUS broadcast to slave 0).
    bool broadcast = false;
};

// The device a frame is to or from, for people and as a key of the summary: "slave 1" (MODBUS),
// "HART 0" (a short address) or "HART 26 06 00 12 34" (a long one, without the master and burst
// bits), "text" (the converter's command set); empty for noise.
std::string BusDevice(const BusFrame& frame);

// What a frame means and how it stands, from the traffic interpreter: a request as sent (verdict
// Good when its CRC or check byte is right), a reply against the request it answers (or by its own
// shape when unpaired), noise by its length (verdict None).
Reading ReadBusFrame(const BusFrame& frame);

struct BusLine {
    // One character on the line (start, data, parity and stop bits) in microseconds; 0 when the
    // line's speed is not known, which leaves delivery times as they are and shows no gaps.
    int64_t characterUs = 0;
    // A pause this long ends a frame still incomplete: more than a USB adapter's delivery (or a busy
    // machine) stretches a frame by. Frames are found by content, so it only bounds how long bytes
    // are held back before they are shown as noise.
    int64_t quietUs = 500'000;

    // 10 bits a character without parity, 11 with (8 data bits, 1 stop bit).
    static BusLine ForBaud(uint32_t baud, bool parity);
};

// Finding frames by content: a MODBUS RTU frame by its slave address (0-247 in requests, 1-247 in
// replies), a public function code (tools/ModbusLayout.h) or its exception, the length the code and
// its counts imply (requests and replies), or the first CRC that holds where the layout leaves the
// length open, and a good CRC; HART by at least two preambles, a delimiter of the
// asynchronous layer, the byte count and its check byte; text by a head ("QQQ#", "QQS#", "TAVRIK#")
// and printable characters up to its '#' (the read meter command by its count), and while a text
// request waits, a printable reply up to its '#'. Bytes that form none are noise. The reply a
// request expects is also named when its CRC or check byte is wrong or it is cut short. A silence of
// 3.5 characters, where delivery times show one, separates runs of noise; it never splits a frame
// whose content holds, so a frame cut by a USB adapter's delivery is joined, and back-to-back frames
// without a gap are split by their lengths. A run of noise is given out at 4 KB, silence or not.
class BusFramer {
public:
    explicit BusFramer(BusLine line = {});

    // Bytes delivered at `timeUs` (a steady clock, not going back); appends the frames now complete.
    void push(std::span<const uint8_t> bytes, int64_t timeUs, std::vector<BusFrame>& out);
    // Nothing more arrived up to `nowUs`: once the line has been quiet for quietUs, what is held is
    // given out (an incomplete frame as noise).
    void idle(int64_t nowUs, std::vector<BusFrame>& out);
    // The end of the stream: everything held is given out.
    void finish(std::vector<BusFrame>& out);
    // When idle() would give out what is held; nullopt when nothing is held.
    std::optional<int64_t> idleDeadline() const;

    // What a reply is looked for against: the last request that is not answered yet.
    struct Waiting {
        BusKind kind = BusKind::Noise;
        std::shared_ptr<const std::vector<uint8_t>> bytes;
        uint64_t number = 0;
        int64_t endUs = 0;
    };

private:
    enum class Pause : uint8_t { None, Gap, Quiet };

    void drain(bool atEnd, std::vector<BusFrame>& out);
    void closeNoise(std::size_t end, std::vector<BusFrame>& out, bool expectedReplyFollows);
    void giveNoise(std::size_t from, std::size_t to, std::vector<BusFrame>& out);
    void give(BusFrame frame, std::vector<BusFrame>& out);
    BusFrame frameAt(std::size_t from, std::size_t to, BusKind kind, BusRole role, BusCheck check) const;
    std::size_t quietAfter(std::size_t position);
    void compact();

    std::size_t size() const { return base_ + bytes_.size(); }
    uint8_t byteAt(std::size_t position) const { return bytes_[position - base_]; }

    BusLine line_;
    // The bytes not given out yet, with the line time of each and the pause before it. Positions
    // count bytes since the start of the stream; base_ is the position of bytes_[0].
    std::vector<uint8_t> bytes_;
    std::vector<int64_t> times_;
    std::vector<int64_t> seen_; // each byte's delivery time
    std::vector<Pause> pauses_;
    std::size_t base_ = 0;
    std::size_t head_ = 0; // the first byte not framed yet
    std::size_t noiseStart_ = 0;
    bool inNoise_ = false;
    std::size_t needed_ = 0;        // with a frame incomplete at head_: how many bytes it needs first
    std::deque<std::size_t> quiet_; // positions with a quiet pause before them, past head_
    int64_t lastTimeUs_ = 0;
    bool anyBytes_ = false;
    uint64_t nextNumber_ = 1;
    std::optional<Waiting> waiting_;
};

} // namespace traffic
