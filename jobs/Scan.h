// The instrument scan: HART command 0 at each short polling address, through the converter in
// transparent mode, listing every address that answered: an instrument found, or a reply that was
// damaged, cut or not its own (said as such, never as silence).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "hart/HartReplies.h"
#include "jobs/Script.h"

namespace jobs {

struct ScanOptions {
    std::string preambles = "5"; // as "Preamble Length:" holds it
    bool master = true;          // primary master (false: secondary)
    int last = 15;               // 15 for HART 5, 63 for HART 6 and 7
    bool firstOnly = false;      // stop at the first instrument found
};

struct ScanAnswer {
    int address = 0;
    Outcome::Kind kind = Outcome::Kind::Whole;   // Whole: an instrument found
    std::optional<hart::IdentityReply> identity; // when found
    std::string text; // what was wrong with the reply ("CRC or check byte wrong: ..."); empty when found
};

struct ScanResult {
    ScanOptions options;
    int asked = 0;                   // addresses 0 .. asked - 1 were asked and heard
    std::vector<ScanAnswer> answers; // every address something came from, in address order
    std::optional<Stop> stop;        // the line lost, the request not sent, or cancelled

    int found() const;
    // What the scan found, in one sentence: "2 instruments found", "no instrument answered at polling
    // addresses 0 to 15 (...)", or that some answered only with damaged replies.
    std::string summary() const;
};

class ScanJob : public Script {
public:
    explicit ScanJob(ScanOptions options) { result_.options = std::move(options); }
    const ScanResult& result() const { return result_; }

    // Command 0 to `address`, as the scan sends it.
    static Request RequestAt(const ScanOptions& options, int address);

private:
    Body run() override;
    ScanResult result_;
};

} // namespace jobs
