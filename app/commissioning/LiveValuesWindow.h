// "Live Values": the eight variables as the PLC reads them, polled over the window's own port at a
// chosen interval (registers 40003-40018 at the converter's slave address, each decoded in its row's
// word order), shown as numbers and on a trend chart, with minimum / maximum / mean over the span the
// chart shows, and optionally appended to a CSV file as they come. A poll goes out only while the
// exchange is free and waits while a button's exchange is under way; a missed poll is a gap.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include <QWidget>

#include "app/exchange/JobRunner.h"
#include "app/exchange/Timer.h"
#include "jobs/LivePoll.h"
#include "jobs/LiveSamples.h"
#include "jobs/ReadMapping.h"
#include "profile/Mapping.h"
#include "profile/Samples.h"
#include "tools/CsvFile.h"

class QLabel;
class QPushButton;
class QSpinBox;
class QTableWidget;
class TForm1;

namespace app {

class LiveChart;

class LiveValuesWindow : public QWidget {
    Q_OBJECT
public:
    explicit LiveValuesWindow(TForm1& form, QWidget* parent = nullptr);
    ~LiveValuesWindow() override;

    LiveChart& chart() const { return *chart_; }
    const jobs::LiveSamples& samples() const { return samples_; }
    bool polling() const { return polling_; }
    int missedPolls() const { return missed_; }
    // The Value column shows numbers older than one interval (the last poll got no good reply, or
    // polling stopped on a failure): they are marked as such.
    bool valuesStale() const { return stale_; }
    // The interval between polls in milliseconds (at least kMinimumIntervalMs).
    void setInterval(int milliseconds);
    // Starts polling: reads the slave address and the parse format first. Stop leaves the samples.
    void start();
    void stop();
    // Appends every sample to `path` from now on (a header first when the file is empty); an empty path
    // stops writing. Returns false, with the reason in the status line, when it cannot be opened. A
    // line the file does not take stops the writing, with the reason beside the button.
    bool setCsvFile(const QString& path);

    static constexpr int kMinimumIntervalMs = 250;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void tick();
    void pollIfDue();
    void polled(const jobs::PollResult& result);
    // The mapping read before polling, or why there is none.
    void configurationRead(const jobs::MappingResult& result);
    void record(int64_t timeMs, const std::optional<profile::Sample>& sample);
    // Polling ended on a failure: said in the status line, the values marked old, the chart broken
    // there so the time until polling starts again is a gap.
    void stopFor(const QString& why);
    void updateTable();
    void updateStatistics();
    // Minimum, maximum and mean's headings name the span they cover.
    void updateSpanHeadings();
    void setStatus(const QString& text);

    TForm1& form_;
    JobRunner runner_;
    jobs::LiveSamples samples_;
    LiveChart* chart_;
    QSpinBox* interval_;
    QPushButton* startStop_;
    QPushButton* pause_;
    QPushButton* csvButton_;
    QLabel* csvLabel_;
    QTableWidget* table_;
    QLabel* status_;
    Timer timer_; // the poll interval

    bool polling_ = false;
    bool due_ = false;
    std::optional<profile::Mapping> mapping_;
    std::optional<profile::Sample> last_;
    int64_t lastTimeMs_ = 0; // when last_ was read
    bool stale_ = false;
    int polls_ = 0;
    int missed_ = 0;
    tools::CsvFile csv_;
};

} // namespace app
