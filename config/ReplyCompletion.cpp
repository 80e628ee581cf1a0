// The tags and widths of each query's reply, as its decoder in TextReplies.cpp, ParseFormat.cpp and
// CustomHart.cpp reads them; the tests check both against each other on every cut of a reply.
#include "config/ReplyCompletion.h"

#include <algorithm>
#include <optional>
#include <string>

#include "config/TextReplies.h"

namespace config {

namespace {

// Where the value of the first `pattern` ends, if the text holds it whole.
std::optional<std::size_t> valueEnd(std::string_view received, std::string_view pattern, std::size_t width) {
    const auto start = findPattern(received, pattern);
    if (!start || *start + width > received.size()) {
        return std::nullopt;
    }
    return *start + width;
}

class Completion {
public:
    explicit Completion(std::string_view received) : received_(received) {}

    // A field that must be there with `width` characters after its tag.
    void need(std::string_view pattern, std::size_t width) {
        const auto end = valueEnd(received_, pattern, width);
        if (!end) {
            whole_ = false;
            return;
        }
        last_ = std::max(last_, *end);
    }
    void needAt(std::size_t end) {
        if (end > received_.size()) {
            whole_ = false;
            return;
        }
        last_ = std::max(last_, end);
    }
    bool done() const { return whole_ && received_.find('#', last_) != std::string_view::npos; }

private:
    std::string_view received_;
    std::size_t last_ = 0;
    bool whole_ = true;
};

// A row of the read meter commands: enable, "<", two-digit count, ",", then 3n - 1 characters of
// hex byte text.
void needMeterCommand(Completion& completion, std::string_view received, int command) {
    const std::string pattern = "CAMD?" + std::to_string(command) + ":";
    const auto start = findPattern(received, pattern);
    constexpr std::size_t kCountAt = 2;
    constexpr std::size_t kTextAt = 5;
    if (!start || *start + kTextAt > received.size()) {
        completion.need(pattern, kTextAt);
        return;
    }
    const char tens = received[*start + kCountAt];
    const char ones = received[*start + kCountAt + 1];
    if (tens < '0' || tens > '9' || ones < '0' || ones > '9') {
        completion.needAt(*start + kTextAt);
        return;
    }
    const std::size_t count = static_cast<std::size_t>((tens - '0') * 10 + (ones - '0'));
    completion.needAt(*start + kTextAt + (count == 0 ? 0 : 3 * count - 1));
}

} // namespace

bool queryReplyComplete(std::string_view key, std::string_view received) {
    Completion completion(received);
    completion.need(key, 0);
    if (key == "QX1") {
        completion.need("ADR:", 3);
        completion.need("BA1:", 2);
        completion.need("BA2:", 2);
        completion.need("MD:", 1);
        completion.need("JTM:", 3);
    } else if (key == "QX2") {
        completion.need("DL:", 1);
        for (int row = 1; row <= 8; ++row) {
            // selection, separator, 8 hex digits, separator, 8 hex digits
            completion.need("DA" + std::to_string(row) + ":", 19);
        }
    } else if (key == "QX3") {
        completion.need("HART?:", 12);
        needMeterCommand(completion, received, 1);
        needMeterCommand(completion, received, 2);
    } else if (key == "QX4") {
        completion.need("MDL:", 1);
        for (int variable = 1; variable <= 8; ++variable) {
            completion.need("MDBS?" + std::to_string(variable) + ":", 12);
        }
    } else if (key == "QX6") {
        completion.need("LJ:", 9);
        for (int output = 0; output < 8; ++output) {
            completion.need("VA" + std::to_string(output) + ":", 5);
        }
    } else {
        return false;
    }
    return completion.done();
}

} // namespace config
