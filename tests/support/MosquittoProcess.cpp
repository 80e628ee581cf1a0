// mosquitto and mosquitto_sub for tests and benchmarks.
#include "tests/support/MosquittoProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <pwd.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/support/ProgramRun.h"
#include "tests/support/Ser2netProcess.h"

namespace testsupport {

namespace {

constexpr const char* kBroker = "/usr/sbin/mosquitto";
constexpr const char* kSub = "/usr/bin/mosquitto_sub";
constexpr const char* kPub = "/usr/bin/mosquitto_pub";
constexpr const char* kPasswd = "/usr/bin/mosquitto_passwd";
constexpr const char* kOpenssl = "/usr/bin/openssl";

using Clock = std::chrono::steady_clock;

void run(const std::string& program, const std::vector<std::string>& arguments) {
    const ProgramResult result = RunProgram(program, arguments);
    if (result.status != 0) {
        throw std::runtime_error(program + " failed: " + result.err);
    }
}

// A CA, and a server certificate it signed for 127.0.0.1 and localhost.
void makeCertificates(const std::string& folder) {
    const std::string f = folder + "/";
    run(kOpenssl, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=vx538 test CA",
                   "-keyout", f + "ca.key", "-out", f + "ca.crt"});
    run(kOpenssl, {"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout", f + "server.key",
                   "-out", f + "server.csr"});
    std::ofstream(f + "san.ext") << "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
    run(kOpenssl, {"x509", "-req", "-in", f + "server.csr", "-CA", f + "ca.crt", "-CAkey", f + "ca.key",
                   "-CAcreateserial", "-days", "2", "-extfile", f + "san.ext", "-out", f + "server.crt"});
}

void stopChild(int& pid) {
    if (pid <= 0) {
        return;
    }
    ::kill(pid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) != pid) {
        if (Clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    pid = -1;
}

} // namespace

bool MosquittoProcess::available() {
    return ::access(kBroker, X_OK) == 0 && ::access(kSub, X_OK) == 0 && ::access(kPub, X_OK) == 0;
}

MosquittoProcess::MosquittoProcess(Options options) : options_(std::move(options)) {
    char folder[] = "/tmp/vx538-mosquitto-XXXXXX";
    if (!::mkdtemp(folder)) {
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    }
    folder_ = folder;
    port_ = FreeLoopbackPort();
    std::ofstream config(folder_ + "/mosquitto.conf");
    // Started as root, mosquitto changes to the user named here; as anyone else it stays who it is.
    const passwd* self = ::getpwuid(::getuid());
    config << "user " << (self ? self->pw_name : "root") << "\n"
           << "listener " << port_ << " 127.0.0.1\n"
           << "log_dest file " << folder_ << "/mosquitto.log\n"
           << "log_type error\nlog_type warning\nlog_type notice\nlog_type information\n"
           << "max_queued_messages 100000\n";
    if (options_.persistence) {
        config << "persistence true\npersistence_location " << folder_ << "/\n";
    }
    if (options_.tls) {
        makeCertificates(folder_);
        config << "cafile " << folder_ << "/ca.crt\ncertfile " << folder_ << "/server.crt\nkeyfile " << folder_
               << "/server.key\n";
    }
    if (!options_.user.empty()) {
        run(kPasswd, {"-b", "-c", folder_ + "/passwords", options_.user, options_.password});
        config << "allow_anonymous false\npassword_file " << folder_ << "/passwords\n";
    } else {
        config << "allow_anonymous true\n";
    }
    config.close();
    start();
}

MosquittoProcess::~MosquittoProcess() {
    stop();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::string MosquittoProcess::url() const {
    return std::string(options_.tls ? "mqtts" : "mqtt") + "://127.0.0.1:" + std::to_string(port_);
}

void MosquittoProcess::start() {
    if (pid_ > 0) {
        return;
    }
    const int output = ::open((folder_ + "/output.txt").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    pid_ = Spawn(kBroker, {"-c", folder_ + "/mosquitto.conf"}, output, output);
    ::close(output);
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!ListensOnLoopback(port_)) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            std::stringstream text;
            for (const char* file : {"/output.txt", "/mosquitto.log"}) {
                std::ifstream log(folder_ + file);
                text << log.rdbuf();
            }
            throw std::runtime_error("mosquitto ended at its start: " + text.str());
        }
        if (Clock::now() >= deadline) {
            stop();
            throw std::runtime_error("mosquitto did not listen within 20 s");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void MosquittoProcess::stop() {
    stopChild(pid_);
}

std::vector<std::string> MosquittoClientArguments(const MosquittoProcess& broker) {
    std::vector<std::string> arguments = {"-h", "127.0.0.1", "-p", std::to_string(broker.port())};
    if (broker.options().tls) {
        arguments.insert(arguments.end(), {"--cafile", broker.caFile()});
    }
    if (!broker.options().user.empty()) {
        arguments.insert(arguments.end(), {"-u", broker.options().user, "-P", broker.options().password});
    }
    return arguments;
}

bool MosquittoPublish(const MosquittoProcess& broker, const std::string& topic, const std::string& payload,
                      bool retain) {
    std::vector<std::string> arguments = MosquittoClientArguments(broker);
    arguments.insert(arguments.end(), {"-q", "1", "-t", topic, "-m", payload});
    if (retain) {
        arguments.push_back("-r");
    }
    return RunProgram(kPub, arguments).status == 0;
}

std::string MosquittoRetained(const MosquittoProcess& broker, const std::string& topic,
                              std::chrono::milliseconds limit) {
    std::vector<std::string> arguments = MosquittoClientArguments(broker);
    const auto seconds = std::max<long>(1, std::chrono::duration_cast<std::chrono::seconds>(limit).count());
    arguments.insert(arguments.end(),
                     {"-t", topic, "-C", "1", "-W", std::to_string(seconds), "--retained-only"});
    const ProgramResult result = RunProgram(kSub, arguments, limit + std::chrono::seconds(5));
    std::string text = result.status == 0 ? result.out : std::string();
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

MosquittoSubscriber::MosquittoSubscriber(const MosquittoProcess& broker, const std::vector<std::string>& topics,
                                         const std::string& file, const std::string& clientId)
    : file_(file), broker_(broker) {
    probe_ = "vx538-test-probe/" + std::to_string(::getpid()) + "/" + std::to_string(reinterpret_cast<uintptr_t>(this));
    std::vector<std::string> arguments = MosquittoClientArguments(broker);
    arguments.insert(arguments.end(), {"-q", "1", "-v", "-t", probe_});
    for (const std::string& topic : topics) {
        arguments.insert(arguments.end(), {"-t", topic});
    }
    if (!clientId.empty()) {
        arguments.insert(arguments.end(), {"-c", "-i", clientId});
    }
    const int out = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0) {
        throw std::runtime_error("cannot write " + file_);
    }
    const int devnull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_ = Spawn(kSub, arguments, out, devnull);
    ::close(out);
    ::close(devnull);
}

MosquittoSubscriber::~MosquittoSubscriber() {
    stopChild(pid_);
}

std::vector<std::string> MosquittoSubscriber::lines() const {
    std::ifstream in(file_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with(probe_ + " ")) {
            lines.push_back(line);
        }
    }
    return lines;
}

bool MosquittoSubscriber::ready(std::chrono::milliseconds limit) const {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        MosquittoPublish(broker_, probe_, "probe");
        for (int i = 0; i < 20; ++i) {
            std::ifstream in(file_);
            std::stringstream text;
            text << in.rdbuf();
            if (text.str().find(probe_ + " probe") != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return false;
}

} // namespace testsupport
