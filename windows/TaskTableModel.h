#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QStringList>

#include <array>
#include <vector>

#include "tasks/ViewRefresh.h"

namespace tarn {

// The rows of the task list, one per task in queue order. Each tick hands over the new texts;
// only the cells whose text changed are announced, so a list of hundreds of tasks redraws
// no more than what moved.
class TaskTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit TaskTableModel(QObject* parent = nullptr);

    // Adds or removes rows at the end to match `rows`, then announces each changed cell.
    void Update(const std::vector<TaskRow>& rows);
    // A task came, left or moved: its row does the same, so that the selection stays with the
    // tasks the user chose. The cells are filled by the next Update.
    void InsertTaskRow(int row);
    void RemoveTaskRow(int row);
    void MoveTaskRow(int from, int to);
    // The column captions, in column order.
    void SetCaptions(const QStringList& captions);
    const TaskRow& Row(int row) const { return rows_[static_cast<size_t>(row)]; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<TaskRow> rows_;
    QStringList captions_;
    std::array<QIcon, 7> stateIcons_;  // the six states, then any other number
};

}  // namespace tarn
