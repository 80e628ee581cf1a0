// Opening a port again beside the polls.
#include "cli/Reopening.h"

namespace cli {

PortReopening::PortReopening(Open open)
    : thread_([this, open = std::move(open)] {
          try {
              opened_ = open();
          } catch (const Failure& failure) {
              failure_ = failure.what();
          } catch (const std::exception& error) {
              failure_ = std::string("internal error: ") + error.what();
          }
          done_.store(true, std::memory_order_release);
      }) {}

PortReopening::~PortReopening() {
    thread_.join();
}

std::optional<PortReopening::Opened> PortReopening::take() {
    if (!done()) {
        return std::nullopt;
    }
    return std::exchange(opened_, std::nullopt);
}

} // namespace cli
