// The traffic monitor's rows: a table model over the event log, row for row in the log's order of
// time, that follows it in batches, so a burst of events costs the view one update rather than one per
// event, and an event that takes its place above others moves the rows below it down.
#pragma once

#include <cstddef>
#include <cstdint>

#include <QAbstractTableModel>
#include <QTimer>

#include "traffic/EventLog.h"

namespace app {

class TrafficModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Most of a frame and of a meaning that a cell shows: more would not fit its width, and laying out
    // long texts only to elide them makes painting slow. Tooltips, copies and saved files hold all.
    static constexpr std::size_t kShownBytes = 64;
    static constexpr std::size_t kShownMeaning = 320;

    explicit TrafficModel(traffic::EventLog& log, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The event a row shows as of the last sync; nullptr for a row the log no longer has.
    const traffic::Event* eventAt(int row) const;

    // Asks for a sync soon; called after each appended event.
    void scheduleSync();
    // Brings the rows in line with the log now, as the log changed: rows inserted where their events
    // went, rows of dropped events removed, or all anew after a clear.
    void sync();

signals:
    // After a sync that changed the rows.
    void synced();

private:
    traffic::EventLog& log_;
    int rows_ = 0;
    QTimer syncTimer_;
};

} // namespace app
