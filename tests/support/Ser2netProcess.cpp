// ser2net for tests.
#include "tests/support/Ser2netProcess.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/support/ProgramRun.h"

namespace testsupport {

namespace {

constexpr const char* kProgram = "/usr/sbin/ser2net";

using Clock = std::chrono::steady_clock;

} // namespace

uint16_t FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        throw std::runtime_error(std::string("no free loopback port: ") + std::strerror(errno));
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

bool ListensOnLoopback(uint16_t port) {
    // Lines of /proc/net/tcp: "sl local_address rem_address st ...", addresses in hex, 0A = LISTEN.
    std::ifstream table("/proc/net/tcp");
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (local == wanted && state == "0A") {
            return true;
        }
    }
    return false;
}

bool Ser2netProcess::available() {
    return ::access(kProgram, X_OK) == 0;
}

Ser2netProcess::Ser2netProcess(std::vector<Device> devices) : devices_(std::move(devices)) {
    char folder[] = "/tmp/vx538-ser2net-XXXXXX";
    if (!::mkdtemp(folder)) {
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    }
    folder_ = folder;
    std::ofstream config(folder_ + "/ser2net.yaml");
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        ports_.push_back(FreeLoopbackPort());
        // chardelay off: ser2net then forwards what the device sends at once, instead of gathering
        // it for up to 20 character times; the tool finds the end of a reply by itself.
        config << "connection: &c" << i << "\n"
               << "  accepter: " << (devices_[i].rfc2217 ? "telnet(rfc2217),tcp," : "tcp,") << "127.0.0.1,"
               << ports_[i] << "\n"
               << "  connector: serialdev," << devices_[i].path << ",9600n81,local\n"
               << "  options:\n"
               << "    kickolduser: true\n"
               << "    chardelay: " << (devices_[i].gatherCharacters ? "true" : "false") << "\n"
               << "    mdns: false\n";
    }
    config.close();
    start();
}

Ser2netProcess::~Ser2netProcess() {
    stop();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::string Ser2netProcess::url(std::size_t device) const {
    return std::string(devices_.at(device).rfc2217 ? "rfc2217" : "socket") + "://127.0.0.1:" +
           std::to_string(ports_.at(device));
}

void Ser2netProcess::start() {
    if (pid_ > 0) {
        return;
    }
    const int devnull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    // -n: in the foreground, so the pid is ser2net's own; -u: no UUCP lock files for the terminals.
    pid_ = Spawn(kProgram, {"-n", "-u", "-c", folder_ + "/ser2net.yaml", "-P", folder_ + "/ser2net.pid"}, devnull,
                 devnull);
    ::close(devnull);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    for (;;) {
        bool all = true;
        for (const uint16_t port : ports_) {
            all = all && ListensOnLoopback(port);
        }
        if (all) {
            return;
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("ser2net ended at its start");
        }
        if (Clock::now() >= deadline) {
            stop();
            throw std::runtime_error("ser2net did not listen within 10 s");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void Ser2netProcess::stop() {
    if (pid_ <= 0) {
        return;
    }
    StopChild(pid_);
    pid_ = -1;
    // Its ports are closed once it has gone: a restart finds them free.
}

} // namespace testsupport
