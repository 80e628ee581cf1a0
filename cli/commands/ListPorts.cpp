// vx538 ports: the serial devices present, each once.
#include <algorithm>

#include "cli/Command.h"
#include "cli/Ports.h"
#include "serial/PortScan.h"

namespace cli {

namespace {

class ListPorts : public Command {
public:
    ListPorts() : Command("ports", "list the serial devices present (as the window's port list)") {}
    bool usesPorts() const override { return false; }

    void runAlone(const Globals&, Result& result) const override {
        // Each device once, under its most stable name: udev's by-id name where it has one (the scan
        // lists those first), so the list can be given back with --ports-from.
        std::vector<std::pair<std::string, std::string>> ports;
        for (const std::string& name : serial::ScanSerialDevices("/")) {
            const std::string device = DeviceOf(name);
            const bool seen =
                std::any_of(ports.begin(), ports.end(), [&](const auto& p) { return p.second == device; });
            if (!seen) {
                ports.emplace_back(name, device);
            }
        }
        result.data("ports", Json::array());
        for (const auto& [name, device] : ports) {
            result.append("ports", {{"name", name}, {"device", device}}, name);
        }
        if (ports.empty()) {
            result.error = "no serial devices found (COM1..COM9 still name /dev/ttyS0..8)";
        }
    }
};

} // namespace

std::unique_ptr<Command> MakePorts() {
    return std::make_unique<ListPorts>();
}

} // namespace cli
