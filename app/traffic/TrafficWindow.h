// The traffic monitor's window: every event of the exchange in a table, with clear, pause autoscroll,
// copy and save. A separate window beside the main one; closing it (or Esc) only hides it.
#pragma once

#include <QSize>
#include <QString>
#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;
class QTableView;

namespace traffic {
class EventLog;
}

namespace app {

class TrafficModel;

class TrafficWindow : public QWidget {
    Q_OBJECT
public:
    enum class FileFormat { Text, Csv };

    TrafficWindow(traffic::EventLog& log, TrafficModel& model, QWidget* parent);

    // Its size when first shown, unless the main window's side has room for a taller or wider one.
    static constexpr QSize kDefaultSize{1280, 480};

    QTableView* table() const { return table_; }
    bool autoscrollPaused() const;

    // The selected rows (all of them in row order) as text lines, one per row.
    QString selectedRowsText() const;
    void copySelectedRows() const;
    // Writes every kept event to `path` as text lines (as the --log file has them) or CSV, after a
    // line of column titles. Returns an empty text on success, otherwise why it failed; an existing
    // file is replaced.
    QString saveTo(const QString& path, FileFormat format) const;
    // Asks for a file (the dialog asks before replacing one) and saves; a failure is shown.
    void save();
    void clear();

    // "1,234 events", and the note about dropped events when there are any.
    QString countText() const;
    QString noteText() const;

    // Shows whether a second port is being listened to (and which), and turns "Listen on Another
    // Port..." into "Stop Listening" meanwhile.
    void setListening(bool listening, const QString& description);

signals:
    // "Listen on Another Port..." or "Stop Listening" was clicked.
    void listenClicked();

private:
    void refresh();
    // Each column but the meaning as wide as its heading and the texts it usually holds.
    void fitColumns();

    traffic::EventLog& log_;
    TrafficModel& model_;
    QTableView* table_;
    QCheckBox* pauseAutoscroll_;
    QLabel* count_;
    QLabel* note_;
    QPushButton* listen_;
    QLabel* listening_;
};

} // namespace app
