#include "tasks/LogListModel.h"

#include "core/MessageList.h"
#include "core/ProgramLog.h"
#include "dialogs/Icons.h"
#include "platform/DateTime.h"
#include "tasks/ViewTexts.h"

namespace tarn {

LogListModel::LogListModel(const TMsgList& msgs, QObject* parent)
    : QAbstractTableModel(parent), msgs_(msgs), information_(TarnIcon("log-info")), other_(TarnIcon("log-error"))
{
}

void LogListModel::Append(std::vector<TMsg> records)
{
    if (records.empty()) return;
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(records.size()) - 1);
    if (records_.empty()) {
        records_ = std::move(records);
    } else {
        records_.insert(records_.end(), std::make_move_iterator(records.begin()), std::make_move_iterator(records.end()));
    }
    endInsertRows();
}

void LogListModel::Retranslate()
{
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
    if (!records_.empty()) emit dataChanged(index(0, ColTime), index(rowCount() - 1, ColMessage));
}

int LogListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(records_.size());
}

int LogListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant LogListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const TMsg& record = records_[static_cast<size_t>(index.row())];
    if (role == Qt::DecorationRole && index.column() == ColIcon)
        return LogIcon(record) == LogIconInformation ? information_ : other_;
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    switch (index.column()) {
    case ColTime:
        return role == Qt::DisplayRole ? QString::fromStdString(FormatDateTime(record.Time)) : QVariant();
    case ColMessage:
        return QString::fromStdString(RenderLogRecord(msgs_, record));
    default:
        return {};
    }
}

QVariant LogListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (section == ColTime) return QString::fromStdString(msgs_.GetMsg("Log009"));
    if (section == ColMessage) return QString::fromStdString(msgs_.GetMsg("Log010"));
    return {};
}

}  // namespace tarn
