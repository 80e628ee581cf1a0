// Text forms of events for the monitor, the saved files and the --log file.
#include "traffic/EventFormat.h"

#include <array>
#include <cstdio>
#include <ctime>

#include "tools/Bytes.h"
#include "traffic/Interpreter.h"
#include "traffic/Meanings.h"

namespace traffic {

namespace {

constexpr std::array<std::string_view, kColumnCount> kTitles = {
    "Time", "Source", "Since request", "Direction", "Pending", "Length", "Hex", "Text", "Meaning"};

bool isBus(EventKind kind) {
    return kind == EventKind::BusRequest || kind == EventKind::BusReply || kind == EventKind::BusNoise;
}

bool carriesBytes(EventKind kind) {
    return kind == EventKind::Sent || kind == EventKind::Received || isBus(kind);
}

// The bus frame an event keeps, for the bus framer's reading.
BusFrame busFrameOf(const Event& event) {
    BusFrame frame;
    frame.bytes.assign(event.bytes.begin(), event.bytes.end());
    frame.kind = event.busKind;
    frame.role = event.kind == EventKind::BusRequest ? BusRole::Request
                 : event.kind == EventKind::BusReply ? BusRole::Reply
                                                     : BusRole::Noise;
    frame.check = event.busCheck;
    if (event.request) {
        frame.request =
            std::make_shared<const std::vector<uint8_t>>(event.request->begin(), event.request->end());
    }
    return frame;
}

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + '"';
}

template <class Cell> std::string joined(char separator, Cell cell) {
    std::string line;
    for (int c = 0; c < kColumnCount; ++c) {
        if (c > 0) {
            line += separator;
        }
        line += cell(static_cast<Column>(c));
    }
    return line;
}

} // namespace

std::string_view ColumnTitle(Column column) {
    return kTitles[static_cast<std::size_t>(column)];
}

std::string TimeOfDayText(int64_t wallTimeMs) {
    const std::string dateTime = DateTimeText(wallTimeMs);
    return dateTime.substr(dateTime.find(' ') + 1);
}

std::string DateTimeText(int64_t wallTimeMs) {
    const auto seconds = static_cast<std::time_t>(wallTimeMs / 1000);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<int>(wallTimeMs % 1000));
    return buffer;
}

std::string HexText(std::string_view bytes) {
    return detail::HexBytes(tools::bytesOf(bytes));
}

std::string PrintableText(std::string_view bytes) {
    std::string text(bytes);
    for (char& c : text) {
        const auto byte = static_cast<uint8_t>(c);
        if (byte < 0x20 || byte >= 0x7F) {
            c = '.';
        }
    }
    return text;
}

Reading ReadingOf(const Event& event) {
    if (event.bytes.empty() && !carriesBytes(event.kind)) {
        return {event.note};
    }
    if (isBus(event.kind)) {
        Reading reading = ReadBusFrame(busFrameOf(event));
        reading.meaning.insert(0, event.note);
        return reading;
    }
    const Direction direction = event.kind == EventKind::Received ? Direction::Received : Direction::Sent;
    std::span<const uint8_t> request;
    if (direction == Direction::Received && event.request) {
        request = tools::bytesOf(*event.request);
    }
    Reading reading = Read(tools::bytesOf(event.bytes), direction, event.pendingCommand, request);
    reading.meaning.insert(0, event.note);
    return reading;
}

std::string Meaning(const Event& event) {
    return ReadingOf(event).meaning;
}

std::string ColumnText(const Event& event, Column column, bool withDate) {
    switch (column) {
    case Column::Time:
        return withDate ? DateTimeText(event.wallTimeMs) : TimeOfDayText(event.wallTimeMs);
    case Column::Source:
        return event.source.empty() ? "window" : event.source;
    case Column::SinceRequest:
        return event.sinceRequestMs < 0 ? std::string() : std::to_string(event.sinceRequestMs) + " ms";
    case Column::Direction:
        return std::string(DirectionText(event.kind));
    case Column::Pending:
        if (!event.hasPendingCommand) {
            return {};
        }
        // What the exchange waits for is the reply to the frame sent, or to the one a block follows.
        if (const std::string* request = event.kind == EventKind::Sent ? &event.bytes : event.request.get()) {
            return PendingText(event.pendingCommand, tools::bytesOf(*request));
        }
        return PendingText(event.pendingCommand);
    case Column::Length:
        return carriesBytes(event.kind) || !event.bytes.empty() ? std::to_string(event.bytes.size())
                                                                : std::string();
    case Column::Hex:
        return HexText(event.bytes);
    case Column::Text:
        return PrintableText(event.bytes);
    case Column::Meaning:
        return Meaning(event);
    }
    return {};
}

std::string TextLine(const Event& event) {
    return joined('\t', [&](Column column) { return ColumnText(event, column, true); });
}

std::string CsvLine(const Event& event) {
    return joined(',', [&](Column column) { return csvField(ColumnText(event, column, true)); });
}

std::string CsvHeader() {
    return joined(',', [](Column column) { return std::string(ColumnTitle(column)); });
}

std::string TextHeader() {
    return joined('\t', [](Column column) { return std::string(ColumnTitle(column)); });
}

} // namespace traffic
