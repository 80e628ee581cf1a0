// The raw capture reader over any text: it reads deliveries or stops at the first line that does not
// read, with its line number; what it read is written again and reads back the same.
#include "tests/fuzz/FuzzCheck.h"
#include "traffic/Capture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const traffic::RawCapture capture = traffic::ParseRawCapture(fuzzcheck::asText(data, size));
    int64_t last = 0;
    std::string again = traffic::RawCaptureHeaderText(capture.header);
    for (const traffic::RawChunk& chunk : capture.chunks) {
        fuzzcheck::check(!chunk.bytes.empty(), "raw capture: a delivery without bytes");
        fuzzcheck::check(chunk.timeUs >= last, "raw capture: times going back");
        last = chunk.timeUs;
        again += traffic::RawCaptureLine(chunk.bytes, chunk.timeUs);
    }
    fuzzcheck::check(capture.error.empty() || capture.error.starts_with("text: line ") ||
                         capture.error.starts_with("text: not a vx538"),
                     "raw capture: an error without its line");
    // A message shows at most 80 characters of what the file holds, whatever its length.
    fuzzcheck::check(capture.error.size() < 300, "raw capture: an error echoes too much of the file");
    fuzzcheck::check(capture.error.find_first_of(std::string_view("\0\t\r\n\x7f", 5)) == std::string::npos,
                     "raw capture: an error shows a control byte");
    if (capture.error.empty() || !capture.chunks.empty()) {
        const traffic::RawCapture reread = traffic::ParseRawCapture(again);
        fuzzcheck::check(reread.error.empty(), "raw capture: what was written does not read");
        fuzzcheck::check(reread.chunks.size() == capture.chunks.size(), "raw capture: deliveries lost");
        for (std::size_t i = 0; i < reread.chunks.size(); ++i) {
            fuzzcheck::check(reread.chunks[i].bytes == capture.chunks[i].bytes &&
                                 reread.chunks[i].timeUs == capture.chunks[i].timeUs,
                             "raw capture: a delivery reads back otherwise");
        }
        fuzzcheck::check(reread.header.startEpochUs == capture.header.startEpochUs &&
                             reread.header.baud == capture.header.baud &&
                             reread.header.parity == capture.header.parity,
                         "raw capture: the header reads back otherwise");
    }
    return 0;
}
