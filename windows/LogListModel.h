#pragma once

#include <QAbstractTableModel>
#include <QIcon>

#include <functional>

#include "engine/TaskTypes.h"

namespace tarn {

class TMsgList;

// One task's log list: an icon column, the date and time, and the message. The records stay
// where the task keeps them: a row is read and made into text only when it is drawn, in the
// language current at that moment, so a log of a million records costs the list its count.
class LogListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { ColIcon, ColTime, ColMessage, ColumnCount };
    // Reads the record of `row` into `record`; false for a row the log does not hold.
    using RecordReader = std::function<bool(int row, TMsg& record)>;

    LogListModel(const TMsgList& msgs, RecordReader reader, QObject* parent = nullptr);

    // The log holds `count` records now; a log only grows.
    void ShowRows(int count);
    // Valid until the next call.
    const TMsg& Record(int row) const;
    // The catalogue changed: captions and every text are made again.
    void Retranslate();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const TMsgList& msgs_;
    RecordReader reader_;
    int rows_ = 0;
    // The view asks for several roles of each cell in turn: the row last read is kept.
    mutable int cachedRow_ = -1;
    mutable TMsg cached_;
    QIcon information_;
    QIcon other_;
};

}  // namespace tarn
