// The serial device scan: directory listings and sysfs attributes, never an open of a device.
#include "serial/PortScan.h"

#include <algorithm>
#include <fstream>
#include <string_view>
#include <system_error>

namespace serial {

namespace fs = std::filesystem;

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Digit runs compare as numbers, everything else character by character.
bool naturalLess(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            std::size_t endA = i;
            std::size_t endB = j;
            while (endA < a.size() && isDigit(a[endA])) {
                ++endA;
            }
            while (endB < b.size() && isDigit(b[endB])) {
                ++endB;
            }
            std::string_view runA = a.substr(i, endA - i);
            std::string_view runB = b.substr(j, endB - j);
            runA.remove_prefix(std::min(runA.find_first_not_of('0'), runA.size()));
            runB.remove_prefix(std::min(runB.find_first_not_of('0'), runB.size()));
            if (runA.size() != runB.size()) {
                return runA.size() < runB.size();
            }
            if (runA != runB) {
                return runA < runB;
            }
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j]) {
            return a[i] < b[j];
        }
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

// `name` is `prefix` followed by one or more digits and nothing else.
bool isNumbered(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix) || name.size() == prefix.size()) {
        return false;
    }
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(), isDigit);
}

// The names of the entries of `folder` that `keep` accepts, sorted naturally. A missing or
// unreadable folder gives none.
template <class Keep> std::vector<std::string> entryNames(const fs::path& folder, Keep keep) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (keep(name, it->path())) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return naturalLess(a, b); });
    return names;
}

bool hasRealUart(const fs::path& root, const std::string& name) {
    std::ifstream typeFile(root / "sys/class/tty" / name / "type");
    long type = 0;
    return typeFile >> type && type != 0;
}

} // namespace

std::vector<std::string> ScanSerialDevices(const fs::path& root) {
    const fs::path dev = root / "dev";
    std::vector<std::string> devices;
    const auto add = [&](const fs::path& folder, const std::vector<std::string>& names) {
        for (const std::string& name : names) {
            devices.push_back((folder / name).lexically_normal().string());
        }
    };

    add(dev / "serial/by-id", entryNames(dev / "serial/by-id", [](const std::string&, const fs::path& path) {
            std::error_code ec;
            return fs::exists(path, ec); // follows the link: a dangling one names nothing
        }));
    add(dev, entryNames(dev, [](const std::string& name, const fs::path&) {
            return isNumbered(name, "ttyUSB") || isNumbered(name, "ttyACM");
        }));
    add(dev, entryNames(dev, [&](const std::string& name, const fs::path&) {
            return isNumbered(name, "ttyS") && hasRealUart(root, name);
        }));
    return devices;
}

} // namespace serial
