// A pseudo-terminal that plays the converter in tests: the code under test opens slavePath(),
// the test reads and writes the master side.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace testsupport {

class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    int masterFd() const { return master_; }

    // Writes all bytes to the master side (the line towards the component).
    void write(std::string_view bytes);

    // Collects what the component wrote until at least `count` bytes are in hand or `timeout`
    // passes; returns everything collected (possibly fewer bytes).
    std::string readAtLeast(std::size_t count, std::chrono::milliseconds timeout);

    // Collects until the line has been quiet for `quiet` (or `limit` passes) and returns it.
    std::string readUntilQuiet(std::chrono::milliseconds quiet,
                               std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

    // Closes the master side: the component sees a hang-up.
    void closeMaster();

    // Closes the spare slave descriptor that keeps the line alive while nothing else holds it.
    void closeSpareSlave();

private:
    int master_ = -1;
    int spareSlave_ = -1;
    std::string slavePath_;
};

} // namespace testsupport
