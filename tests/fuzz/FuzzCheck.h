// Shared helpers of the fuzz harnesses: the input as text or bytes, and an invariant check that
// stops the run loudly (libFuzzer and the replay main both report an abort as a finding).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>

namespace fuzzcheck {

inline std::string_view asText(const uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

inline std::span<const uint8_t> asBytes(const uint8_t* data, std::size_t size) {
    return {data, size};
}

[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

inline void check(bool holds, const char* what) {
    if (!holds) {
        fail(what);
    }
}

// A text field a decoder reports must be made of characters of the received text: at most `width`
// of them and found in it, so it cannot lie past the text's end.
inline void checkField(std::string_view received, std::string_view field, std::size_t width,
                       const char* what) {
    check(field.size() <= width, what);
    check(field.empty() || received.find(field) != std::string_view::npos, what);
}

// An exception's what() ends at the first zero byte, as the message box shows it.
inline std::string_view upToZero(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

} // namespace fuzzcheck

// The entry point every harness defines; libFuzzer calls it, and so does the replay main.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);
