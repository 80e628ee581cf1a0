// The traffic monitor's table model.
#include "app/traffic/TrafficModel.h"

#include <algorithm>

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

TrafficModel::TrafficModel(const traffic::EventLog& log, QObject* parent)
    : QAbstractTableModel(parent), log_(log), firstSequence_(log.firstSequence()),
      rows_(static_cast<int>(log.size())), clears_(log.clears()) {
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
    if (row < 0 || row >= rows_ || log_.clears() != clears_) {
        return nullptr;
    }
    const uint64_t sequence = firstSequence_ + static_cast<uint64_t>(row);
    if (sequence < log_.firstSequence() || sequence >= log_.endSequence()) {
        return nullptr;
    }
    return &log_.at(static_cast<std::size_t>(sequence - log_.firstSequence()));
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
        if (column == Column::Meaning || column == Column::Hex) {
            return latin1(traffic::ColumnText(*event, column));
        }
        return {};
    case Qt::ForegroundRole:
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
    if (log_.clears() != clears_) {
        beginResetModel();
        clears_ = log_.clears();
        firstSequence_ = log_.firstSequence();
        rows_ = static_cast<int>(log_.size());
        endResetModel();
        emit synced();
        return;
    }
    bool changed = false;
    // Rows whose events the log has dropped go first, from the top.
    const uint64_t dropped =
        log_.firstSequence() > firstSequence_ ? log_.firstSequence() - firstSequence_ : 0;
    const uint64_t gone = std::min(dropped, static_cast<uint64_t>(rows_));
    if (gone > 0) {
        beginRemoveRows({}, 0, static_cast<int>(gone) - 1);
        rows_ -= static_cast<int>(gone);
        firstSequence_ += gone;
        endRemoveRows();
        changed = true;
    }
    if (rows_ == 0) {
        // Events may have come and gone between two syncs.
        firstSequence_ = log_.firstSequence();
    }
    const auto shown = firstSequence_ + static_cast<uint64_t>(rows_);
    if (log_.endSequence() > shown) {
        const int added = static_cast<int>(log_.endSequence() - shown);
        beginInsertRows({}, rows_, rows_ + added - 1);
        rows_ += added;
        endInsertRows();
        changed = true;
    }
    if (changed) {
        emit synced();
    }
}

} // namespace app
