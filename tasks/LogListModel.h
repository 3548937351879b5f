#pragma once

#include <QAbstractTableModel>
#include <QIcon>

#include <vector>

#include "engine/TaskTypes.h"

namespace tarn {

class TMsgList;

// One task's log list: an icon column, the date and time, and the message. The records are
// kept as they come from the task and made into text only when a row is drawn, in the language
// current at that moment, so a log of a hundred thousand records opens at once.
class LogListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { ColIcon, ColTime, ColMessage, ColumnCount };

    explicit LogListModel(const TMsgList& msgs, QObject* parent = nullptr);

    void Append(std::vector<TMsg> records);
    const TMsg& Record(int row) const { return records_[static_cast<size_t>(row)]; }
    // The catalogue changed: captions and every text are made again.
    void Retranslate();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const TMsgList& msgs_;
    std::vector<TMsg> records_;
    QIcon information_;
    QIcon other_;
};

}  // namespace tarn
