// Live Values' chart read as a user reads it: the labels of both axes stand apart at every size from
// the smallest the window allows, and the time axis shows no times before there is a sample.
#include <gtest/gtest.h>

#include <cmath>

#include <QApplication>
#include <QDateTime>
#include <qcustomplot.h>

#include "app/commissioning/LiveChart.h"
#include "jobs/LiveSamples.h"

namespace {

// The chart laid out at `size` and drawn, with the tick counts it chose for that size.
void drawAt(app::LiveChart& chart, QSize size) {
    chart.resize(size);
    chart.show();
    for (int i = 0; i < 3; ++i) { // layout, then the counts it implies, then the plot with them
        QApplication::processEvents();
        chart.plot()->replot(QCustomPlot::rpImmediateRefresh);
    }
}

// The smallest distance in pixels between neighbouring ticks of `axis`.
double closestTicks(QCPAxis* axis) {
    const QVector<double> ticks = axis->tickVector();
    double closest = INFINITY;
    for (int i = 1; i < ticks.size(); ++i) {
        closest = std::min(closest, std::fabs(axis->coordToPixel(ticks[i]) - axis->coordToPixel(ticks[i - 1])));
    }
    return closest;
}

// The widest line of any label of `axis`, in pixels.
int widestLabel(QCPAxis* axis) {
    const QFontMetrics metrics(axis->tickLabelFont());
    int widest = 0;
    for (const QString& label : axis->tickVectorLabels()) {
        for (const QString& line : label.split(QLatin1Char('\n'))) {
            widest = std::max(widest, metrics.horizontalAdvance(line));
        }
    }
    return widest;
}

} // namespace

TEST(LiveChart, AxisLabelsStandApartFromTheSmallestSizeUp) {
    jobs::LiveSamples samples;
    const int64_t start = QDateTime::currentMSecsSinceEpoch() - 600'000;
    for (int i = 0; i < 600; ++i) {
        jobs::SampleValues values;
        for (int v = 0; v < jobs::kLiveVariables; ++v) {
            values[static_cast<std::size_t>(v)] = static_cast<float>(100.0 + 50.0 * std::sin(i / 40.0 + v));
        }
        samples.append(start + i * 1000, values);
    }
    app::LiveChart chart(samples);
    chart.samplesChanged();
    for (const QSize size : {app::LiveChart::kMinimumSize, QSize(520, 260), QSize(1920, 900)}) {
        SCOPED_TRACE(size.width());
        drawAt(chart, size.expandedTo(chart.minimumSize()));
        QCPAxis* time = chart.plot()->xAxis;
        QCPAxis* value = chart.plot()->yAxis;
        ASSERT_GE(time->tickVectorLabels().size(), 1);
        ASSERT_GE(value->tickVectorLabels().size(), 2);
        EXPECT_GT(closestTicks(time), widestLabel(time)) << "time labels overlap";
        EXPECT_GT(closestTicks(value), QFontMetrics(value->tickLabelFont()).height()) << "value labels overlap";
    }
}

TEST(LiveChart, TheTimeAxisShowsNoTimesBeforeTheFirstSample) {
    jobs::LiveSamples samples;
    app::LiveChart chart(samples);
    drawAt(chart, QSize(800, 400));
    EXPECT_FALSE(chart.plot()->xAxis->tickLabels());
    EXPECT_FALSE(chart.plot()->xAxis->label().isEmpty()) << "says why there are no times";
    for (const QString& label : chart.plot()->xAxis->tickVectorLabels()) {
        EXPECT_FALSE(label.contains(QStringLiteral("1970"))) << label.toStdString();
    }

    const QDateTime now = QDateTime::currentDateTime();
    samples.append(now.toMSecsSinceEpoch(), jobs::SampleValues{1, 2, 3, 4, 5, 6, 7, 8});
    chart.samplesChanged();
    drawAt(chart, QSize(800, 400));
    EXPECT_TRUE(chart.plot()->xAxis->tickLabels());
    EXPECT_TRUE(chart.plot()->xAxis->label().isEmpty());
    const QStringList labels = chart.plot()->xAxis->tickVectorLabels();
    ASSERT_FALSE(labels.isEmpty());
    EXPECT_TRUE(labels.join(QLatin1Char(' ')).contains(now.toString(QStringLiteral("yyyy-MM-dd"))))
        << labels.join(QLatin1Char('|')).toStdString();
}
