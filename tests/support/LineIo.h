// Reading and writing one side of a test's serial line (a pseudo-terminal descriptor, non-blocking)
// with bounded waits.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace testsupport {

// Writes every byte, waiting for room; throws when the line stays full for 10 s or fails.
void WriteAll(int fd, std::string_view bytes);

// Collects until at least `count` bytes are in hand or `timeout` passes; returns what came.
std::string ReadAtLeast(int fd, std::size_t count, std::chrono::milliseconds timeout);

// Collects until the line has been quiet for `quiet` (or `limit` passes) and returns it.
std::string ReadUntilQuiet(int fd, std::chrono::milliseconds quiet, std::chrono::milliseconds limit);

} // namespace testsupport
