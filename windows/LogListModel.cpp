#include "windows/LogListModel.h"

#include "core/MessageList.h"
#include "core/ProgramLog.h"
#include "platform/DateTime.h"
#include "tasks/ViewTexts.h"
#include "windows/Icons.h"

namespace tarn {

LogListModel::LogListModel(const TMsgList& msgs, RecordReader reader, QObject* parent)
    : QAbstractTableModel(parent), msgs_(msgs), reader_(std::move(reader)), information_(TarnIcon("log-info")),
      other_(TarnIcon("log-error"))
{
}

void LogListModel::ShowRows(int count)
{
    if (count <= rows_) return;
    beginInsertRows({}, rows_, count - 1);
    rows_ = count;
    endInsertRows();
}

const TMsg& LogListModel::Record(int row) const
{
    if (row != cachedRow_) {
        cached_ = {};
        reader_(row, cached_);
        cachedRow_ = row;
    }
    return cached_;
}

void LogListModel::Retranslate()
{
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
    if (rows_ > 0) emit dataChanged(index(0, ColTime), index(rows_ - 1, ColMessage));
}

int LogListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int LogListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant LogListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const bool icon = role == Qt::DecorationRole && index.column() == ColIcon;
    const bool text = (role == Qt::DisplayRole && index.column() == ColTime) ||
                      ((role == Qt::DisplayRole || role == Qt::ToolTipRole) && index.column() == ColMessage);
    if (!icon && !text) return {};
    const TMsg& record = Record(index.row());
    if (icon) return LogIcon(record) == LogIconInformation ? information_ : other_;
    if (index.column() == ColTime) return QString::fromStdString(FormatDateTime(record.Time));
    return QString::fromStdString(RenderLogRecord(msgs_, record));
}

QVariant LogListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (section == ColTime) return QString::fromStdString(msgs_.GetMsg("Log009"));
    if (section == ColMessage) return QString::fromStdString(msgs_.GetMsg("Log010"));
    return {};
}

}  // namespace tarn
