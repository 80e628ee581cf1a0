// The Live Values trend chart over QCustomPlot.
#include "app/commissioning/LiveChart.h"

#include <algorithm>
#include <cmath>

#include <QTimer>
#include <QVBoxLayout>
#include <qcustomplot.h>

namespace app {

namespace {

// Eight colours that stay apart for people with the common colour-vision deficiencies (Okabe-Ito,
// with black for the eighth).
const QColor kColours[jobs::kLiveVariables] = {
    QColor(0, 114, 178),  QColor(230, 159, 0), QColor(0, 158, 115),   QColor(204, 121, 167),
    QColor(86, 180, 233), QColor(213, 94, 0),  QColor(240, 228, 66), QColor(0, 0, 0),
};

constexpr double kMargin = 0.05; // of the value span, above and below

} // namespace

LiveChart::LiveChart(const jobs::LiveSamples& samples, QWidget* parent)
    : QWidget(parent), samples_(samples), plot_(new QCustomPlot(this)) {
    setObjectName("LiveChart");
    plot_->setObjectName("LiveChartPlot");
    visible_.fill(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(plot_);

    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeFormat("HH:mm:ss\nyyyy-MM-dd");
    plot_->xAxis->setTicker(ticker);
    plot_->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom | QCP::iSelectLegend);
    plot_->setNoAntialiasingOnDrag(true);
    plot_->legend->setVisible(true);
    plot_->legend->setSelectableParts(QCPLegend::spNone);
    plot_->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);
    for (int v = 0; v < jobs::kLiveVariables; ++v) {
        QCPGraph* graph = plot_->addGraph();
        // One pixel wide: a wider pen makes the raster engine stroke every segment, and a week of
        // samples then redraws in some 380 ms instead of 25 (build/bench/live_bench).
        graph->setPen(QPen(kColours[v], 1));
        graph->setName(tr("Variable %1").arg(v + 1));
        graph->setAdaptiveSampling(true);
    }

    connect(plot_->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, [this] {
        if (!settingRange_) {
            following_ = false; // the user moved the time axis
        }
        scheduleRefresh();
        emit visibleSpanChanged();
    });
    connect(plot_->yAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, [this] {
        if (!settingRange_) {
            fitting_ = false;
        }
    });
    connect(plot_, &QCustomPlot::legendClick, this,
            [this](QCPLegend*, QCPAbstractLegendItem* item, QMouseEvent*) {
                auto* graphItem = qobject_cast<QCPPlottableLegendItem*>(item);
                if (!graphItem) {
                    return;
                }
                for (int v = 0; v < jobs::kLiveVariables; ++v) {
                    if (plot_->graph(v) == graphItem->plottable()) {
                        setVariableVisible(v, !visible_[static_cast<std::size_t>(v)]);
                    }
                }
            });
    connect(plot_, &QCustomPlot::mouseDoubleClick, this, [this](QMouseEvent*) {
        followLatest();
        autoscale();
    });
    setMinimumSize(kMinimumSize);
    showTimeAxis(false);
    // The margins the axes take are known once the plot is laid out; the counts follow them.
    connect(plot_, &QCustomPlot::afterLayout, this, &LiveChart::spaceTicks);
    spaceTicks();
}

void LiveChart::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    spaceTicks();
}

void LiveChart::spaceTicks() {
    // A label wants its own width (a time label, two lines of which the date is the wider) or height
    // (a value label) again as a gap. A ticker may place up to about twice the ticks asked for when it
    // rounds to a readable step, which the other factor of 2 allows for.
    const QFontMetrics time(plot_->xAxis->tickLabelFont());
    const QFontMetrics value(plot_->yAxis->tickLabelFont());
    const int timeSpacing = 4 * time.horizontalAdvance(QStringLiteral("0000-00-00"));
    const int valueSpacing = 4 * value.height();
    const QMargins margins = plot_->axisRect()->margins();
    const int width = plot_->width() - margins.left() - margins.right();
    const int height = plot_->height() - margins.top() - margins.bottom();
    const int timeTicks = std::max(1, width / timeSpacing);
    const int valueTicks = std::max(1, height / valueSpacing);
    if (plot_->xAxis->ticker()->tickCount() != timeTicks || plot_->yAxis->ticker()->tickCount() != valueTicks) {
        plot_->xAxis->ticker()->setTickCount(timeTicks);
        plot_->yAxis->ticker()->setTickCount(valueTicks);
        plot_->replot(QCustomPlot::rpQueuedReplot);
    }
}

void LiveChart::showTimeAxis(bool hasSamples) {
    plot_->xAxis->setTickLabels(hasSamples);
    plot_->xAxis->setLabel(hasSamples ? QString() : tr("time: no samples yet"));
}

void LiveChart::setVariableName(int variable, const QString& name) {
    plot_->graph(variable)->setName(name);
    plot_->replot(QCustomPlot::rpQueuedReplot);
}

void LiveChart::samplesChanged() {
    if (!plot_->xAxis->tickLabels() && samples_.size() > 0) {
        showTimeAxis(true);
    }
    if (frozen_) {
        return;
    }
    if (following_ && samples_.size() > 0) {
        const double newest = static_cast<double>(samples_.timeAt(samples_.size() - 1)) / 1000.0;
        const double oldest = static_cast<double>(samples_.timeAt(0)) / 1000.0;
        // The span the user last chose, ending at the newest sample; while there are fewer samples, all
        // of them from the first.
        const double from = std::max(oldest, newest - followSpanSeconds_);
        setTimeRange(from, std::max(newest, from + 1.0));
    }
    scheduleRefresh();
}

void LiveChart::setFrozen(bool frozen) {
    frozen_ = frozen;
    if (!frozen_) {
        samplesChanged();
    }
}

void LiveChart::autoscale() {
    fitting_ = true;
    fitValueAxis();
    plot_->replot(QCustomPlot::rpQueuedReplot);
}

void LiveChart::followLatest() {
    following_ = true;
    followSpanSeconds_ = std::max(plot_->xAxis->range().size(), 1.0);
    samplesChanged();
}

void LiveChart::setVariableVisible(int variable, bool visible) {
    visible_[static_cast<std::size_t>(variable)] = visible;
    QCPGraph* graph = plot_->graph(variable);
    graph->setVisible(visible);
    if (QCPPlottableLegendItem* item = plot_->legend->itemWithPlottable(graph)) {
        item->setTextColor(visible ? Qt::black : Qt::gray);
    }
    if (fitting_) {
        fitValueAxis();
    }
    plot_->replot(QCustomPlot::rpQueuedReplot);
    emit visibilityChanged(variable, visible);
}

int64_t LiveChart::visibleFrom() const {
    return static_cast<int64_t>(std::floor(plot_->xAxis->range().lower * 1000.0));
}

int64_t LiveChart::visibleTo() const {
    return static_cast<int64_t>(std::ceil(plot_->xAxis->range().upper * 1000.0));
}

void LiveChart::setVisibleSpan(int64_t fromMs, int64_t toMs) {
    plot_->xAxis->setRange(static_cast<double>(fromMs) / 1000.0, static_cast<double>(toMs) / 1000.0);
}

int LiveChart::pointsDrawn(int variable) const {
    return plot_->graph(variable)->dataCount();
}

void LiveChart::setTimeRange(double fromSeconds, double toSeconds) {
    settingRange_ = true;
    plot_->xAxis->setRange(fromSeconds, toSeconds);
    settingRange_ = false;
}

void LiveChart::scheduleRefresh() {
    if (refreshPending_) {
        return;
    }
    refreshPending_ = true;
    QTimer::singleShot(0, this, [this] { refresh(); });
}

void LiveChart::refresh() {
    refreshPending_ = false;
    const int columns = std::max(plot_->axisRect()->width(), 100);
    samples_.thinned(visibleFrom(), visibleTo(), columns, thinned_);
    for (int v = 0; v < jobs::kLiveVariables; ++v) {
        const jobs::LiveSamples::Series& series = thinned_[static_cast<std::size_t>(v)];
        plot_->graph(v)->setData(QVector<double>(series.keys.begin(), series.keys.end()),
                                 QVector<double>(series.values.begin(), series.values.end()), true);
    }
    if (fitting_) {
        fitValueAxis();
    }
    plot_->replot(QCustomPlot::rpQueuedReplot);
}

void LiveChart::fitValueAxis() {
    double low = INFINITY;
    double high = -INFINITY;
    for (int v = 0; v < jobs::kLiveVariables; ++v) {
        if (!visible_[static_cast<std::size_t>(v)]) {
            continue;
        }
        // The thinned points keep every column's extremes, so they hold the span's too.
        for (const double value : thinned_[static_cast<std::size_t>(v)].values) {
            if (std::isfinite(value)) {
                low = std::min(low, value);
                high = std::max(high, value);
            }
        }
    }
    if (!std::isfinite(low) || !std::isfinite(high)) {
        return;
    }
    const double span = high > low ? high - low : std::max(std::fabs(high), 1.0);
    settingRange_ = true;
    plot_->yAxis->setRange(low - kMargin * span, high + kMargin * span);
    settingRange_ = false;
}

} // namespace app
