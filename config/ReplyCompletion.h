// When a query's reply has all arrived: a program that does not wait for the line to go quiet (vx538)
// stops reading as soon as the decoder of that query has everything it reads.
#pragma once

#include <string_view>

namespace config {

// Whether `received` holds a whole reply to the query `key` ("QX1", "QX2", "QX3", "QX4", "QX6"):
// its block marker and every tag its decoder reads, each with the full width of its value (for the
// read meter commands, the width their byte count gives), and a "#" after the last of those values.
// A count that is no number ends the wait at the next "#": the decoder will report it. False for a
// key without a decoder ("QV"), whose reply only the line going quiet ends.
bool queryReplyComplete(std::string_view key, std::string_view received);

} // namespace config
