// The traffic monitor's table model.
#include "app/traffic/TrafficModel.h"

#include <algorithm>
#include <vector>

#include <QBrush>
#include <QColor>
#include <QFontDatabase>

#include "app/window/Latin1.h"
#include "traffic/EventFormat.h"

namespace app {

namespace {

using traffic::Column;

// Rows follow the log at most this often while events keep coming.
constexpr int kSyncIntervalMs = 50;

QColor directionColour(traffic::EventKind kind) {
    switch (kind) {
    case traffic::EventKind::Sent:
    case traffic::EventKind::BusRequest:
        return QColor(0x1F, 0x4E, 0x9A);
    case traffic::EventKind::Received:
    case traffic::EventKind::BusReply:
        return QColor(0x1E, 0x6B, 0x2A);
    case traffic::EventKind::Timeout:
    case traffic::EventKind::Refused:
    case traffic::EventKind::PortLost:
    case traffic::EventKind::LineDiffers:
        return QColor(0xB0, 0x1C, 0x1C);
    default:
        return QColor(0x55, 0x55, 0x55);
    }
}

} // namespace

TrafficModel::TrafficModel(traffic::EventLog& log, QObject* parent)
    : QAbstractTableModel(parent), log_(log), rows_(static_cast<int>(log.size())) {
    log_.takeChanges(); // the rows start as the log is now
    syncTimer_.setSingleShot(true);
    syncTimer_.setInterval(kSyncIntervalMs);
    connect(&syncTimer_, &QTimer::timeout, this, &TrafficModel::sync);
}

int TrafficModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int TrafficModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : traffic::kColumnCount;
}

const traffic::Event* TrafficModel::eventAt(int row) const {
    if (row < 0 || row >= rows_) {
        return nullptr;
    }
    // Until the next sync the log may have moved on: the row's event is where the changes since
    // then have taken it, or gone.
    auto index = static_cast<std::size_t>(row);
    for (const traffic::LogChange& change : log_.pendingChanges()) {
        switch (change.kind) {
        case traffic::LogChange::Kind::Reset:
            return nullptr;
        case traffic::LogChange::Kind::Insert:
            if (index >= change.index) {
                index += change.count;
            }
            break;
        case traffic::LogChange::Kind::DropFront:
            if (index < change.count) {
                return nullptr;
            }
            index -= change.count;
            break;
        }
    }
    return index < log_.size() ? &log_.at(index) : nullptr;
}

QVariant TrafficModel::data(const QModelIndex& index, int role) const {
    const traffic::Event* event = eventAt(index.row());
    if (!event) {
        return {};
    }
    const auto column = static_cast<Column>(index.column());
    switch (role) {
    case Qt::DisplayRole:
        if (column == Column::Hex || column == Column::Text) {
            const std::string_view shown = std::string_view(event->bytes).substr(0, kShownBytes);
            const std::string text =
                column == Column::Hex ? traffic::HexText(shown) : traffic::PrintableText(shown);
            return latin1(event->bytes.size() > shown.size() ? text + " ..." : text);
        }
        if (column == Column::Meaning) {
            const std::string meaning = traffic::Meaning(*event);
            return latin1(meaning.size() > kShownMeaning ? meaning.substr(0, kShownMeaning) + " ..."
                                                         : meaning);
        }
        return latin1(traffic::ColumnText(*event, column));
    case Qt::ToolTipRole:
        if (column == Column::Time) {
            return latin1(traffic::DateTimeText(event->wallTimeMs));
        }
        if (column == Column::Meaning || column == Column::Hex || column == Column::Source ||
            column == Column::Pending || column == Column::Text) {
            return latin1(traffic::ColumnText(*event, column));
        }
        return {};
    case Qt::ForegroundRole:
        // The window's own frame heard again on the bus: shown, but quieter than the frame itself.
        if (event->windowCopy) {
            return QBrush(QColor(0x80, 0x80, 0x80));
        }
        if (column == Column::Direction) {
            return QBrush(directionColour(event->kind));
        }
        return {};
    case Qt::FontRole:
        if (column == Column::Hex || column == Column::Text) {
            return QFontDatabase::systemFont(QFontDatabase::FixedFont);
        }
        return {};
    case Qt::TextAlignmentRole:
        if (column == Column::SinceRequest || column == Column::Length) {
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        }
        return {};
    default:
        return {};
    }
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= traffic::kColumnCount) {
        return {};
    }
    return latin1(traffic::ColumnTitle(static_cast<Column>(section)));
}

void TrafficModel::scheduleSync() {
    if (!syncTimer_.isActive()) {
        syncTimer_.start();
    }
}

void TrafficModel::sync() {
    syncTimer_.stop();
    const std::vector<traffic::LogChange> changes = log_.takeChanges();
    for (const traffic::LogChange& change : changes) {
        switch (change.kind) {
        case traffic::LogChange::Kind::Reset:
            beginResetModel();
            rows_ = static_cast<int>(log_.size());
            endResetModel();
            break;
        case traffic::LogChange::Kind::Insert: {
            const int first = static_cast<int>(change.index);
            beginInsertRows({}, first, first + static_cast<int>(change.count) - 1);
            rows_ += static_cast<int>(change.count);
            endInsertRows();
            break;
        }
        case traffic::LogChange::Kind::DropFront:
            beginRemoveRows({}, 0, static_cast<int>(change.count) - 1);
            rows_ -= static_cast<int>(change.count);
            endRemoveRows();
            break;
        }
    }
    if (!changes.empty()) {
        emit synced();
    }
}

} // namespace app
