// Appending, per-line flushed text file.
#include "traffic/LineFile.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace traffic {

LineFile::~LineFile() {
    close();
}

std::string LineFile::open(const std::string& path, std::string_view header, bool replace) {
    close();
    std::FILE* file = std::fopen(path.c_str(), replace ? "w" : "a");
    if (!file) {
        return std::strerror(errno);
    }
    file_ = file;
    path_ = path;
    struct stat st {};
    if (!header.empty() && ::fstat(::fileno(file), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0) {
        return writeLine(header);
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
