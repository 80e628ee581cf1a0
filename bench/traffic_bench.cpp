// Cost of recording one event of the exchange (interpret + append to the bounded log), median and
// p99, while the log fills and once it drops its oldest; the heap a full log of 100,000 rows holds,
// with the monitor's model and table on top; and the cost with a --log file. Prints figures only.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <malloc.h>
#include <string>
#include <unistd.h>
#include <vector>

#include <QApplication>
#include <QHeaderView>
#include <QTableView>

#include "app/traffic/TrafficModel.h"
#include "tools/ModbusCrc.h"
#include "traffic/EventFormat.h"
#include "traffic/Interpreter.h"
#include "traffic/Recorder.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

struct Traffic {
    Bytes bytes;
    traffic::Direction direction;
    int32_t pending;
};

Bytes text(std::string_view characters) {
    return {characters.begin(), characters.end()};
}

// A session's mix: text queries and their replies, set commands, HART identity and variables, and
// the MODBUS test with an 18-register reply (the longest meaning of all).
std::vector<Traffic> sessionMix() {
    Bytes modbusReply = {0x01, 0x03, 36};
    for (int r = 0; r < 18; ++r) {
        modbusReply.push_back(r % 2 == 0 ? 0x42 : 0x00);
        modbusReply.push_back(r % 2 == 0 ? 0xC8 : 0x00);
    }
    const tools::CrcBytes crc = tools::ModbusCrc16(modbusReply);
    modbusReply.push_back(crc.low);
    modbusReply.push_back(crc.high);
    return {
        {text("QQQ#QX1#"), traffic::Direction::Sent, 201},
        {text("QX1,ADR:005,BA1:30,BA2:41,MD:1,JTM:012#"), traffic::Direction::Received, 201},
        {text("QQS#DA1:1,42C80000,00000000#"), traffic::Direction::Sent, 200},
        {text("OK#"), traffic::Direction::Received, 200},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x80, 0x00, 0x00, 0x82},
         traffic::Direction::Sent,
         100},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x06, 0x80, 0x00, 0x0E, 0x00, 0x00, 0xFE,
          0x26, 0x06, 0x05, 0x05, 0x01, 0x03, 0x08, 0x00, 0x00, 0x12, 0x34, 0x7A},
         traffic::Direction::Received,
         100},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x86, 0xA6, 0x06, 0x00, 0x12, 0x34, 0x03, 0x1A, 0x00,
          0x00, 0x40, 0x80, 0x00, 0x00, 0x20, 0x41, 0xC8, 0x00, 0x00, 0x20, 0x41, 0x20, 0x00,
          0x00, 0x0C, 0x42, 0xC8, 0x00, 0x00, 0x39, 0x42, 0x48, 0x00, 0x00, 0x84},
         traffic::Direction::Received,
         103},
        {{0x01, 0x03, 0x00, 0x00, 0x00, 0x12, 0xC5, 0xC7}, traffic::Direction::Sent, 302},
        {modbusReply, traffic::Direction::Received, 302},
    };
}

void record(traffic::Recorder& recorder, const Traffic& t) {
    if (t.direction == traffic::Direction::Sent) {
        recorder.sent(t.bytes, t.pending);
    } else {
        recorder.received(t.bytes, t.pending);
    }
}

struct Figures {
    double medianUs = 0;
    double p99Us = 0;
    double meanUs = 0;
};

Figures figures(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    double sum = 0;
    for (double s : samples) {
        sum += s;
    }
    return {samples[samples.size() / 2], samples[samples.size() * 99 / 100],
            sum / static_cast<double>(samples.size())};
}

std::size_t meaningCharacters = 0;

// Times `count` recordings of the mix, one sample per event, in microseconds. With `interpret` the
// event's meaning is worked out too, as it is for the monitor's rows and the --log line.
std::vector<double> timeEvents(traffic::Recorder& recorder, const std::vector<Traffic>& mix,
                               std::size_t count, bool interpret = true) {
    std::vector<double> samples;
    samples.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const Traffic& t = mix[i % mix.size()];
        const auto start = Clock::now();
        record(recorder, t);
        if (interpret) {
            meaningCharacters += traffic::Meaning(recorder.log().at(recorder.log().size() - 1)).size();
        }
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return samples;
}

double heapMegabytes() {
    return static_cast<double>(mallinfo2().uordblks) / (1024.0 * 1024.0);
}

double residentMegabytes() {
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(statm);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

void print(const char* what, const Figures& f) {
    std::printf("%-44s median %6.2f us   p99 %6.2f us   mean %6.2f us\n", what, f.medianUs, f.p99Us,
                f.meanUs);
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    const std::vector<Traffic> mix = sessionMix();
    constexpr std::size_t kRows = traffic::kMaxEvents;

    // Interpretation alone, per kind in the mix.
    std::printf("Interpret alone (10,000 rounds each):\n");
    for (const Traffic& t : mix) {
        std::vector<double> samples;
        std::size_t length = 0;
        for (int i = 0; i < 10000; ++i) {
            const auto start = Clock::now();
            length += traffic::Interpret(t.bytes, t.direction, t.pending).size();
            samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
        const Figures f = figures(samples);
        std::printf("  %-9s %3zu bytes, pending %3d: median %5.2f us, p99 %5.2f us (%zu characters)\n",
                    t.direction == traffic::Direction::Sent ? "sent" : "received", t.bytes.size(), t.pending,
                    f.medianUs, f.p99Us, length / 10000);
    }

    const double heapBefore = heapMegabytes();
    const double residentBefore = residentMegabytes();
    {
        traffic::Recorder recorder;
        print("Interpret + append, filling the log:", figures(timeEvents(recorder, mix, kRows)));
        const double heapFull = heapMegabytes();
        const double residentFull = residentMegabytes();
        std::printf("Log of %zu rows: heap %.1f MB, resident %.1f MB more than before\n",
                    recorder.log().size(), heapFull - heapBefore, residentFull - residentBefore);

        print("Interpret + append at the cap (drops oldest):", figures(timeEvents(recorder, mix, kRows)));
        print("Append alone at the cap:", figures(timeEvents(recorder, mix, kRows, false)));

        // The monitor's model and a shown table over the full log.
        app::TrafficModel model(recorder.log());
        QTableView table;
        table.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        table.verticalHeader()->hide();
        table.setModel(&model);
        table.resize(1000, 400);
        table.show();
        const auto start = Clock::now();
        model.sync();
        table.scrollToBottom();
        QApplication::processEvents();
        std::printf(
            "Model and table over %d rows: first sync and paint %.1f ms; heap %.1f MB, resident %.1f MB "
            "more than before the log\n",
            model.rowCount(), std::chrono::duration<double, std::milli>(Clock::now() - start).count(),
            heapMegabytes() - heapBefore, residentMegabytes() - residentBefore);

        // At the cap with the table shown: each batch removes rows at the top and appends at the bottom.
        std::vector<double> syncs;
        std::vector<double> paints;
        for (int batch = 0; batch < 50; ++batch) {
            timeEvents(recorder, mix, 20, false);
            const auto syncStart = Clock::now();
            model.sync();
            table.scrollToBottom();
            const auto paintStart = Clock::now();
            table.viewport()->repaint();
            syncs.push_back(std::chrono::duration<double, std::micro>(paintStart - syncStart).count());
            paints.push_back(std::chrono::duration<double, std::micro>(Clock::now() - paintStart).count());
        }
        const Figures s = figures(syncs);
        const Figures p = figures(paints);
        std::printf(
            "Table at the cap, per batch of 20 events: rows update median %.0f us (p99 %.0f), repaint "
            "median %.0f us (p99 %.0f)\n",
            s.medianUs, s.p99Us, p.medianUs, p.p99Us);
    }

    {
        char path[] = "/tmp/traffic-bench-XXXXXX";
        const int fd = mkstemp(path);
        if (fd >= 0) {
            close(fd);
            traffic::Recorder recorder;
            recorder.openLogFile(path);
            print("Interpret + append + --log line (flushed):", figures(timeEvents(recorder, mix, 20000)));
            unlink(path);
        }
    }
    std::printf(
        "Goals: median under 20 us per event, under 60 MB for 100,000 rows. (%zu meaning characters)\n",
        meaningCharacters);
    return 0;
}
