// The text forms of an event: the monitor's columns, the lines of a text file (the same as the
// --log file) and of a CSV file.
#pragma once

#include <string>
#include <string_view>

#include "traffic/EventLog.h"
#include "traffic/Interpreter.h"

namespace traffic {

// Source: where an event happened, "window" for the window's own exchange or the port a bus frame was
// heard on.
enum class Column { Time, Source, SinceRequest, Direction, Pending, Length, Hex, Text, Meaning };
inline constexpr int kColumnCount = 9;

std::string_view ColumnTitle(Column column);

// Local time: "14:03:07.123", and with the date "2024-05-01 14:03:07.123".
std::string TimeOfDayText(int64_t wallTimeMs);
std::string DateTimeText(int64_t wallTimeMs);

// Each byte as two upper-case hex digits, separated by blanks.
std::string HexText(std::string_view bytes);
// Printable ASCII as it stands, every other byte as '.'.
std::string PrintableText(std::string_view bytes);

// What the event means: its note, then what its bytes mean (a sent or not written frame as a
// request, a received block as the reply to the request it follows, under its pending command, a bus
// frame as the bus framer read it).
std::string Meaning(const Event& event);
// The same with the verdict and where the frame lies in the event's bytes; an event without bytes
// (a timeout, a port event, a refusal) has its note and no verdict.
Reading ReadingOf(const Event& event);

// One column of an event; the time column with or without the date. The pending column names the
// request ("201 System Parameters").
std::string ColumnText(const Event& event, Column column, bool withDate = false);

// All columns, the time with its date, separated by tabs; no line break.
std::string TextLine(const Event& event);
// All columns as one CSV record (RFC 4180 quoting); no line break.
std::string CsvLine(const Event& event);
std::string CsvHeader();
// The column titles, separated by tabs: the first line of a saved text file and of a new log file.
std::string TextHeader();

} // namespace traffic
