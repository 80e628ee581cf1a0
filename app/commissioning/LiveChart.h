// The trend chart of the Live Values window: the eight variables over time from jobs::LiveSamples, drawn
// with QCustomPlot from the samples thinned to the chart's width, so 7 days redraw as fast as a
// minute. Drag pans and the wheel zooms (the time axis, or the value axis over it); a click on a
// legend entry hides or shows that variable; a missed poll is a gap in the line. Until the user moves
// the time axis the chart follows the newest sample; the value axis fits the visible samples until the
// user moves it.
#pragma once

#include <array>
#include <cstdint>

#include <QSize>
#include <QWidget>

#include "jobs/LiveSamples.h"

class QCustomPlot;

namespace app {

class LiveChart : public QWidget {
    Q_OBJECT
public:
    explicit LiveChart(const jobs::LiveSamples& samples, QWidget* parent = nullptr);

    QCustomPlot* plot() const { return plot_; }
    void setVariableName(int variable, const QString& name);

    // New samples arrived: the chart follows them unless frozen or moved by the user.
    void samplesChanged();
    // Pause: the view stays where it is while samples keep arriving.
    void setFrozen(bool frozen);
    bool frozen() const { return frozen_; }
    // Fits the value axis to the visible samples of the shown variables, and keeps fitting it.
    void autoscale();
    // Back to following the newest sample, with the time span now shown.
    void followLatest();
    bool following() const { return following_; }
    void setVariableVisible(int variable, bool visible);
    bool variableVisible(int variable) const { return visible_[static_cast<std::size_t>(variable)]; }

    // The time span shown, in milliseconds since the epoch.
    int64_t visibleFrom() const;
    int64_t visibleTo() const;
    void setVisibleSpan(int64_t fromMs, int64_t toMs);
    // Points handed to QCustomPlot for a variable at the last redraw (gaps included).
    int pointsDrawn(int variable) const;

    // Smallest size at which both axes keep their labels apart.
    static constexpr QSize kMinimumSize{360, 220};

protected:
    void resizeEvent(QResizeEvent* event) override;

signals:
    // The span shown changed (a pan, a zoom, following new samples): statistics over it are due.
    void visibleSpanChanged();
    void visibilityChanged(int variable, bool visible);

private:
    void scheduleRefresh();
    void refresh();
    void setTimeRange(double fromSeconds, double toSeconds);
    void fitValueAxis();
    // As many ticks on each axis as its labels have room for at the chart's size.
    void spaceTicks();
    // The time axis shows times only once there is a sample: before, its range means nothing.
    void showTimeAxis(bool hasSamples);

    const jobs::LiveSamples& samples_;
    QCustomPlot* plot_;
    std::array<bool, jobs::kLiveVariables> visible_;
    jobs::LiveSamples::Thinned thinned_;
    bool frozen_ = false;
    bool following_ = true;
    bool fitting_ = true;      // the value axis fits the visible samples
    bool settingRange_ = false; // a range change of our own, not the user's
    bool refreshPending_ = false;
    double followSpanSeconds_ = 600;
};

} // namespace app
