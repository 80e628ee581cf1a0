// Figures for the Live Values window and vx538 watch: how many samples a second watch takes against a
// simulator whose line is paced, against the floor the bytes and the turnaround set (with vx538's own
// share of each poll, from its log, so a shortfall shows which side it is on); and for the trend
// chart, the memory 7 days x 8 variables at 1 s take and the time to redraw the whole span, for
// QCustomPlot and Qt Charts, each given every sample and given the samples thinned to the chart's
// width. Each chart case runs in a process of its own so its memory is its own. Prints figures only.
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <qcustomplot.h>
#ifdef VX_BENCH_QT_CHARTS
#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QValueAxis>
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "app/commissioning/LiveChart.h"
#include "jobs/LiveSamples.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/SimProcess.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1200;
constexpr int kHeight = 600;
constexpr int kRedraws = 5;
constexpr int64_t kStartMs = 1'760'000'000'000;

// Heap bytes in use: what a data structure costs, without the pages the allocator keeps around.
std::size_t heapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

double mib(std::size_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// 7 days of 1 s samples of eight drifting values, one poll in a hundred missed.
void fill(jobs::LiveSamples& samples) {
    std::minstd_rand random(538);
    for (std::size_t i = 0; i < jobs::kSevenDaysOfSeconds; ++i) {
        const int64_t t = kStartMs + static_cast<int64_t>(i) * 1000;
        if (random() % 100 == 0) {
            samples.appendMissed(t);
            continue;
        }
        jobs::SampleValues values;
        for (int v = 0; v < jobs::kLiveVariables; ++v) {
            values[v] = static_cast<float>(10.0 * (v + 1) + 5.0 * std::sin(static_cast<double>(i) / (600.0 * (v + 1))) +
                                           0.1 * static_cast<double>(random() % 100) / 100.0);
        }
        samples.append(t, values);
    }
}

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

struct ChartFigures {
    double dataMiB = 0;   // the heap the samples and the chart's copy of them take
    long residentMiB = 0; // the process's resident memory at the end
    double redrawMs = 0;  // median of kRedraws whole-span redraws
};

void printChart(const char* name, const ChartFigures& f) {
    std::printf("  %-40s %8.1f MiB data %6ld MiB resident %9.1f ms redraw\n", name, f.dataMiB, f.residentMiB,
                f.redrawMs);
    std::fflush(stdout);
}

// QCustomPlot with every sample, or with the thinned samples recomputed at each redraw.
ChartFigures customPlot(bool thinned) {
    const std::size_t before = heapInUse();
    jobs::LiveSamples samples;
    fill(samples);
    QCustomPlot plot;
    plot.resize(kWidth, kHeight);
    plot.setNoAntialiasingOnDrag(true);
    for (int v = 0; v < jobs::kLiveVariables; ++v) {
        plot.addGraph();
    }
    const int64_t endMs = samples.timeAt(samples.size() - 1);
    jobs::LiveSamples::Thinned thin;
    const auto load = [&] {
        std::vector<double> keys;
        std::vector<double> values;
        if (thinned) {
            samples.thinned(kStartMs, endMs, kWidth, thin);
        }
        for (int v = 0; v < jobs::kLiveVariables; ++v) {
            if (thinned) {
                keys = thin[v].keys;
                values = thin[v].values;
            } else {
                keys.resize(samples.size());
                values.resize(samples.size());
                for (std::size_t i = 0; i < samples.size(); ++i) {
                    keys[i] = static_cast<double>(samples.timeAt(i)) / 1000.0;
                    values[i] = samples.valueAt(i, v);
                }
            }
            plot.graph(v)->setData(QVector<double>(keys.begin(), keys.end()),
                                   QVector<double>(values.begin(), values.end()), true);
        }
        plot.rescaleAxes();
    };
    load();
    if (!thinned) {
        samples.clear(); // the chart holds its own copy; the store is not needed for this case
    }
    ChartFigures figures;
    figures.dataMiB = mib(heapInUse() - before);
    plot.show();
    QApplication::processEvents();
    std::vector<double> times;
    for (int i = 0; i < kRedraws; ++i) {
        QElapsedTimer timer;
        timer.start();
        if (thinned) {
            load();
        }
        plot.replot(QCustomPlot::rpImmediateRefresh);
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    figures.redrawMs = median(times);
    figures.residentMiB = residentKiB() / 1024;
    return figures;
}

// The Live Values window's own chart: its store, its thinning and its QCustomPlot, the whole week
// shown; a redraw is timed from the span set to the plot drawn, through the event loop as in the window.
ChartFigures liveChart(bool) {
    const std::size_t before = heapInUse();
    jobs::LiveSamples samples;
    fill(samples);
    app::LiveChart chart(samples);
    chart.resize(kWidth, kHeight);
    chart.show();
    const int64_t endMs = samples.timeAt(samples.size() - 1);
    bool drawn = false;
    QObject::connect(chart.plot(), &QCustomPlot::afterReplot, [&drawn] { drawn = true; });
    const auto showWhole = [&](int64_t extraMs) {
        drawn = false;
        chart.setVisibleSpan(kStartMs - extraMs, endMs);
        while (!drawn) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        }
    };
    showWhole(0);
    ChartFigures figures;
    figures.dataMiB = mib(heapInUse() - before);
    std::vector<double> times;
    for (int i = 0; i < kRedraws; ++i) {
        QElapsedTimer timer;
        timer.start();
        showWhole(1000 * (i + 1)); // a span a little wider each time, so each is a change
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    figures.redrawMs = median(times);
    figures.residentMiB = residentKiB() / 1024;
    return figures;
}

#ifdef VX_BENCH_QT_CHARTS
// Qt Charts with every sample, or with the thinned samples recomputed at each redraw.
ChartFigures qtCharts(bool thinned) {
    const std::size_t before = heapInUse();
    jobs::LiveSamples samples;
    fill(samples);
    QChart* chart = new QChart;
    QChartView view(chart);
    view.resize(kWidth, kHeight);
    auto* x = new QValueAxis;
    auto* y = new QValueAxis;
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    std::vector<QLineSeries*> series;
    for (int v = 0; v < jobs::kLiveVariables; ++v) {
        series.push_back(new QLineSeries);
        chart->addSeries(series.back());
        series.back()->attachAxis(x);
        series.back()->attachAxis(y);
    }
    const int64_t endMs = samples.timeAt(samples.size() - 1);
    x->setRange(static_cast<double>(kStartMs) / 1000.0, static_cast<double>(endMs) / 1000.0);
    y->setRange(0, 100);
    jobs::LiveSamples::Thinned thin;
    const auto load = [&] {
        if (thinned) {
            samples.thinned(kStartMs, endMs, kWidth, thin);
        }
        for (int v = 0; v < jobs::kLiveVariables; ++v) {
            QList<QPointF> points;
            if (thinned) {
                const std::vector<double>& keys = thin[v].keys;
                const std::vector<double>& values = thin[v].values;
                points.reserve(static_cast<qsizetype>(keys.size()));
                for (std::size_t i = 0; i < keys.size(); ++i) {
                    // Qt Charts has no gaps: a missed poll can only be left out.
                    if (!std::isnan(values[i])) {
                        points.append({keys[i], values[i]});
                    }
                }
            } else {
                points.reserve(static_cast<qsizetype>(samples.size()));
                for (std::size_t i = 0; i < samples.size(); ++i) {
                    const float value = samples.valueAt(i, v);
                    if (!std::isnan(value)) {
                        points.append({static_cast<double>(samples.timeAt(i)) / 1000.0, value});
                    }
                }
            }
            series[static_cast<std::size_t>(v)]->replace(points);
        }
    };
    load();
    if (!thinned) {
        samples.clear();
    }
    ChartFigures figures;
    figures.dataMiB = mib(heapInUse() - before);
    view.show();
    QApplication::processEvents();
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    std::vector<double> times;
    for (int i = 0; i < kRedraws; ++i) {
        QElapsedTimer timer;
        timer.start();
        if (thinned) {
            load();
        }
        QPainter painter(&image);
        view.render(&painter);
        painter.end();
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    figures.redrawMs = median(times);
    figures.residentMiB = residentKiB() / 1024;
    return figures;
}

#endif

// Runs one chart case in a child process, so each one's memory is measured alone.
void chartCase(const char* name, ChartFigures (*measure)(bool), bool thinned, int argc, char** argv) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        QApplication application(argc, argv);
        printChart(name, measure(thinned));
        std::_Exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::printf("  %-40s failed: no figures\n", name);
    }
}

// ---- vx538 watch against a paced simulator ----

struct WatchFigures {
    int samples = 0;
    double seconds = 0;
    double ownMs = 0; // vx538's mean time from a poll's reply to the next poll, from its log
};

// The milliseconds of the day of a --log line ("2026-12-09 14:55:54.002<tab>...").
std::optional<double> logMs(const std::string& line) {
    int hours = 0;
    int minutes = 0;
    double seconds = 0;
    if (line.size() < 23 || std::sscanf(line.c_str() + 11, "%d:%d:%lf", &hours, &minutes, &seconds) != 3) {
        return std::nullopt;
    }
    return ((hours * 60.0 + minutes) * 60.0 + seconds) * 1000.0;
}

// vx538's own share of a poll: the mean time from a reply's arrival to the next poll going out.
double ownTurnaroundMs(const std::string& log) {
    std::ifstream file(log);
    double received = NAN; // none since the last poll
    double total = 0;
    int gaps = 0;
    for (std::string line; std::getline(file, line);) {
        const bool poll = line.find("\t302 MODBUS Test\t") != std::string::npos;
        const std::optional<double> at = logMs(line);
        if (!poll || !at) {
            continue;
        }
        if (line.find("\treceived\t") != std::string::npos) {
            received = *at;
        } else if (line.find("\tsent\t") != std::string::npos && !std::isnan(received)) {
            total += *at - received;
            ++gaps;
            received = NAN;
        }
    }
    return gaps > 0 ? total / gaps : 0;
}

WatchFigures runWatch(int baud, int count) {
    testsupport::SimProcess sim(VX538_SIM_PATH, {"--baud", std::to_string(baud), "--delay", "20"});
    const std::string log =
        (std::filesystem::temp_directory_path() / ("live-bench-" + std::to_string(::getpid()) + ".log")).string();
    // The port at the simulator's speed; no pause between polls.
    const auto start = Clock::now();
    const testsupport::ProgramResult result = testsupport::RunProgram(
        VX538_PATH, {"-p", sim.path(), "--baud", std::to_string(baud), "--log", log, "--json", "watch", "--interval",
                     "0", "--count", std::to_string(count)},
        std::chrono::minutes(5));
    WatchFigures figures;
    figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    figures.ownMs = ownTurnaroundMs(log);
    std::filesystem::remove(log);
    if (result.status != 0) {
        std::printf("  vx538 watch failed (%d): %s\n", result.status, result.err.c_str());
        return figures;
    }
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        figures.samples += line.find("\"values\":[") != std::string::npos ? 1 : 0;
    }
    return figures;
}

void watchCase(int baud) {
    // A read of registers 40003-40018: 8 request bytes, 5 + 32 reply bytes; 10 bits a character. The
    // slave keeps 3.5 characters of silence (1.75 ms above 19200 baud) before the 20 ms delay.
    constexpr int kRequestBytes = 8;
    constexpr int kReplyBytes = 5 + 2 * 16;
    constexpr double kTurnaroundMs = 20;
    const double characterMs = 10.0 * 1000.0 / baud;
    const double silenceMs = baud > 19200 ? 1.75 : 3.5 * characterMs;
    const double floorMs = (kRequestBytes + kReplyBytes) * characterMs + silenceMs + kTurnaroundMs;
    const int count = baud >= 100000 ? 200 : 60;
    // The configuration queries before the first poll take their own time: measure two runs and
    // take the difference, which is the polls alone.
    const WatchFigures few = runWatch(baud, 5);
    const WatchFigures many = runWatch(baud, count);
    if (few.samples != 5 || many.samples != count) {
        std::printf("  %6d baud: polls missed (%d of 5, %d of %d): no figure\n", baud, few.samples, many.samples, count);
        return;
    }
    const double pollSeconds = (many.seconds - few.seconds) / (count - 5);
    const double rate = 1.0 / pollSeconds;
    const double floorRate = 1000.0 / floorMs;
    std::printf("  %6d baud: %6.1f samples/s, wire floor %6.1f samples/s (%.1f ms a poll): %.2f x; "
                "vx538's own time from a reply to the next poll %.2f ms\n",
                baud, rate, floorRate, floorMs, rate / floorRate, many.ownMs);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    const bool chartsOnly = argc > 1 && std::strcmp(argv[1], "--charts") == 0;
    const bool watchOnly = argc > 1 && std::strcmp(argv[1], "--watch") == 0;
    if (!chartsOnly) {
        std::printf("vx538 watch, 8 variables a poll, against a simulator with a 20 ms turnaround:\n");
        watchCase(9600);
        watchCase(115200);
    }
    if (!watchOnly) {
        // Without a display the charts draw off screen, with the same raster painter.
        if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
            setenv("QT_QPA_PLATFORM", "offscreen", 0);
        }
        std::printf("Trend chart, 7 days x 8 variables at 1 s (%zu samples), %dx%d, aims: < 64 MiB, < 50 ms:\n",
                    jobs::kSevenDaysOfSeconds, kWidth, kHeight);
        chartCase("Live Values chart (the window's own)", liveChart, true, argc, argv);
        chartCase("QCustomPlot, every sample", customPlot, false, argc, argv);
        chartCase("QCustomPlot, thinned to the width", customPlot, true, argc, argv);
#ifdef VX_BENCH_QT_CHARTS
        chartCase("Qt Charts, every sample", qtCharts, false, argc, argv);
        chartCase("Qt Charts, thinned to the width", qtCharts, true, argc, argv);
#else
        std::printf("  (Qt Charts is not installed: no comparison)\n");
#endif
    }
    return 0;
}
