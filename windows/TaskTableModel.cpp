#include "windows/TaskTableModel.h"

#include "windows/Icons.h"

namespace tarn {
namespace {

enum Column { ColState, ColSource, ColDestination, ColFile, ColFiles = 4 };

}  // namespace

TaskTableModel::TaskTableModel(QObject* parent) : QAbstractTableModel(parent)
{
    for (size_t state = 0; state < stateIcons_.size(); ++state) stateIcons_[state] = StateIcon(static_cast<uint8_t>(state));
}

void TaskTableModel::Update(const std::vector<TaskRow>& rows)
{
    const int had = rowCount();
    const int wanted = static_cast<int>(rows.size());
    if (wanted > had) {
        beginInsertRows({}, had, wanted - 1);
        rows_.resize(rows.size());
        endInsertRows();
    } else if (wanted < had) {
        beginRemoveRows({}, wanted, had - 1);
        rows_.resize(rows.size());
        endRemoveRows();
    }
    for (int r = 0; r < wanted; ++r) {
        TaskRow& shown = rows_[static_cast<size_t>(r)];
        const TaskRow& fresh = rows[static_cast<size_t>(r)];
        int first = TaskListColumnCount;
        int last = -1;
        for (int c = 0; c < TaskListColumnCount; ++c) {
            const bool iconChanged = c == ColState && shown.Icon != fresh.Icon;
            if (!iconChanged && shown.Cells[static_cast<size_t>(c)] == fresh.Cells[static_cast<size_t>(c)]) continue;
            shown.Cells[static_cast<size_t>(c)] = fresh.Cells[static_cast<size_t>(c)];
            first = std::min(first, c);
            last = c;
        }
        shown.Icon = fresh.Icon;
        if (last >= 0) emit dataChanged(index(r, first), index(r, last), {Qt::DisplayRole, Qt::DecorationRole});
    }
}

void TaskTableModel::InsertTaskRow(int row)
{
    beginInsertRows({}, row, row);
    rows_.insert(rows_.begin() + row, TaskRow{});
    endInsertRows();
}

void TaskTableModel::RemoveTaskRow(int row)
{
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
}

void TaskTableModel::MoveTaskRow(int from, int to)
{
    if (from == to) return;
    // Qt names the place before which the row goes, counted before it leaves.
    beginMoveRows({}, from, from, {}, to > from ? to + 1 : to);
    const TaskRow moved = rows_[static_cast<size_t>(from)];
    rows_.erase(rows_.begin() + from);
    rows_.insert(rows_.begin() + to, moved);
    endMoveRows();
}

void TaskTableModel::SetCaptions(const QStringList& captions)
{
    captions_ = captions;
    emit headerDataChanged(Qt::Horizontal, 0, TaskListColumnCount - 1);
}

int TaskTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TaskTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : TaskListColumnCount;
}

QVariant TaskTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const TaskRow& row = rows_[static_cast<size_t>(index.row())];
    const QString text = QString::fromStdString(row.Cells[static_cast<size_t>(index.column())]);
    switch (role) {
    case Qt::DisplayRole:
        return text;
    case Qt::DecorationRole:
        if (index.column() == ColState)
            return stateIcons_[std::min(static_cast<size_t>(std::max(row.Icon, 0)), stateIcons_.size() - 1)];
        return {};
    case Qt::ToolTipRole:
        // The path columns are narrow: the whole path on hover.
        if (index.column() >= ColSource && index.column() <= ColFile && !text.isEmpty()) return text;
        return {};
    case Qt::TextAlignmentRole:
        if (index.column() >= ColFiles) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant TaskTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= captions_.size()) return {};
    if (role == Qt::DisplayRole) return captions_[section];
    return {};
}

}  // namespace tarn
