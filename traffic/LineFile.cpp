// Appending, per-line flushed text file.
#include "traffic/LineFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/CsvFile.h"

namespace traffic {

LineFile::~LineFile() {
    close();
}

std::string LineFile::open(const std::string& path, std::string_view header, bool replace) {
    close();
    std::FILE* file = nullptr;
    if (path == "-") {
        const int fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
        file = fd < 0 ? nullptr : ::fdopen(fd, "a");
        if (fd >= 0 && !file) {
            ::close(fd);
        }
    } else {
        file = std::fopen(path.c_str(), replace ? "we" : "ae");
    }
    if (!file) {
        return std::strerror(errno);
    }
    file_ = file;
    path_ = path;
    struct stat st {};
    if (!header.empty() && ::fstat(::fileno(file), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0) {
        return writeLine(header);
    }
    // A file whose last line lacks its break would have the first new line glued onto it.
    if (tools::EndsInsideALine(::fileno(file)) &&
        (std::fputc('\n', file_) == EOF || std::fflush(file_) != 0)) {
        const std::string reason = std::strerror(errno);
        close();
        return reason;
    }
    return {};
}

void LineFile::close() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

std::string LineFile::writeLine(std::string_view line) {
    if (!file_) {
        return {};
    }
    const bool written = std::fwrite(line.data(), 1, line.size(), file_) == line.size() &&
                         std::fputc('\n', file_) != EOF && std::fflush(file_) == 0;
    if (written) {
        return {};
    }
    const std::string reason = std::strerror(errno);
    close();
    return reason;
}

} // namespace traffic
