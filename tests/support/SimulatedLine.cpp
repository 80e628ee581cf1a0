// The simulated converter on an in-process line.
#include "tests/support/SimulatedLine.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {

constexpr uint32_t kBauds[] = {1200, 2400, 4800, 9600, 19200, 38400};

} // namespace

class SimulatedLine::Port : public serial::Transport {
public:
    Port(SimulatedLine& line, std::string name) : line_(line), name_(std::move(name)) {}
    ~Port() override { close(); }

    const std::string& name() const override { return name_; }
    serial::OpenOutcome open() override {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) {
            return {serial::OpenResult::CannotOpen, errno, "no socket pair"};
        }
        fd_ = fds[0];
        line_.attach(fds[1]);
        return {};
    }
    void close() override {
        if (fd_ >= 0) {
            line_.detach();
            ::close(fd_);
            fd_ = -1;
        }
    }
    bool isOpen() const override { return fd_ >= 0; }
    int fd() const override { return fd_; }
    serial::IoResult read(void* buffer, std::size_t size) override {
        const ssize_t n = ::read(fd_, buffer, size);
        if (n > 0) {
            return {serial::IoResult::Done, static_cast<std::size_t>(n)};
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            return {serial::IoResult::WouldBlock, 0};
        }
        return {serial::IoResult::Failed, 0}; // the converter hung up
    }
    serial::IoResult read(void* first, std::size_t firstSize, void*, std::size_t) override {
        return read(first, firstSize);
    }
    serial::IoResult write(const void* buffer, std::size_t size) override {
        line_.written({static_cast<const char*>(buffer), size});
        return {serial::IoResult::Done, size};
    }
    void purge(serial::QueueSide side) override {
        char scratch[256];
        while (side != serial::QueueSide::Output && ::read(fd_, scratch, sizeof scratch) > 0) {
        }
    }
    void applyLineSettings(const serial::LineSettings& settings) override {
        const std::lock_guard lock(line_.mutex_);
        line_.settings_ = settings;
    }
    bool readCounters(serial::LineCounters&) const override { return false; }
    serial::ModemWait waitModemChange() const override { return serial::ModemWait::Unsupported; }

private:
    SimulatedLine& line_;
    std::string name_;
    int fd_ = -1;
};

SimulatedLine::SimulatedLine(sim::Faults faults) : simulator_(faults) {
    simulator_.onFrame = [this](sim::Millis, std::string_view kind, std::string_view frame) {
        if (kind != "skip") {
            heard_.emplace_back(frame);
        }
    };
    thread_ = std::thread([this] { deliver(); });
}

SimulatedLine::~SimulatedLine() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    if (peer_ >= 0) {
        ::close(peer_);
    }
}

std::unique_ptr<serial::Transport> SimulatedLine::transport(const std::string& name) {
    return std::make_unique<Port>(*this, name);
}

void SimulatedLine::with(const std::function<void(sim::Simulator&)>& use) {
    const std::lock_guard lock(mutex_);
    use(simulator_);
}

std::vector<std::string> SimulatedLine::heard() const {
    const std::lock_guard lock(mutex_);
    return heard_;
}

serial::LineSettings SimulatedLine::lineSettings() const {
    const std::lock_guard lock(mutex_);
    return settings_;
}

sim::Millis SimulatedLine::now() const {
    return std::chrono::ceil<sim::Millis>(Clock::now() - start_);
}

void SimulatedLine::attach(int fd) {
    const std::lock_guard lock(mutex_);
    if (peer_ >= 0) {
        ::close(peer_);
    }
    peer_ = fd;
    due_.clear();
    if (!staleOnOpen.empty()) {
        (void)::write(peer_, staleOnOpen.data(), staleOnOpen.size());
    }
}

void SimulatedLine::detach() {
    const std::lock_guard lock(mutex_);
    if (peer_ >= 0) {
        ::close(peer_);
        peer_ = -1;
    }
    due_.clear();
}

void SimulatedLine::written(std::string_view bytes) {
    std::size_t count = 0;
    {
        const std::lock_guard lock(mutex_);
        const sim::Settings& converter = simulator_.converter().settings();
        const bool matches = settings_.baudRate == kBauds[converter.baud[0] - '0'] &&
                             static_cast<int>(settings_.parity) == converter.parity[0] - '0';
        if (!matches || simulator_.lineClosed()) {
            return; // noise to a converter listening at other settings
        }
        const std::size_t before = heard_.size();
        if (auto instead = replyInstead ? replyInstead(bytes, now()) : std::nullopt) {
            heard_.emplace_back(bytes);
            due_.push_back(std::move(*instead));
        } else {
            for (sim::Write& w : simulator_.receive(bytes, now())) {
                due_.push_back(std::move(w));
            }
        }
        std::stable_sort(due_.begin(), due_.end(), [](const auto& a, const auto& b) { return a.at < b.at; });
        count = heard_.size() > before ? heard_.size() : 0;
    }
    wake_.notify_all();
    if (count > 0 && onHeard) {
        onHeard(count);
    }
}

void SimulatedLine::deliver() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        const sim::Millis at = now();
        while (!due_.empty() && due_.front().at <= at) {
            if (peer_ >= 0) {
                const std::string& bytes = due_.front().bytes;
                // A socket pair takes a reply of a few hundred bytes at once.
                (void)::write(peer_, bytes.data(), bytes.size());
            }
            due_.pop_front();
        }
        if (const auto quiet = simulator_.quietDeadline(); quiet && *quiet <= at) {
            // A MODBUS request is heard only once the silence after it has passed.
            const std::size_t before = heard_.size();
            for (sim::Write& w : simulator_.lineQuiet(at)) {
                due_.push_back(std::move(w));
            }
            std::stable_sort(due_.begin(), due_.end(),
                             [](const auto& a, const auto& b) { return a.at < b.at; });
            if (const std::size_t count = heard_.size(); count > before && onHeard) {
                lock.unlock();
                onHeard(count);
                lock.lock();
            }
            continue;
        }
        if (simulator_.lineClosed() && due_.empty() && peer_ >= 0) {
            ::shutdown(peer_, SHUT_RDWR); // the adapter pulled: the tool reads the end
        }
        std::optional<sim::Millis> next;
        if (!due_.empty()) {
            next = due_.front().at;
        }
        if (const auto quiet = simulator_.quietDeadline()) {
            next = next ? std::min(*next, *quiet) : *quiet;
        }
        if (next) {
            wake_.wait_until(lock, start_ + *next);
        } else {
            wake_.wait(lock);
        }
    }
}

} // namespace testsupport
