#pragma once

// The task list's table model: the Qt face of TTaskRows, one row per task with the eight
// columns; the progress column also hands out its share for the bar.

#include <QAbstractTableModel>

#include "app/TaskRows.h"

namespace zembra {

class TTaskListModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    // The progress column's share, 0 ... 100, or -1 while unknown.
    static constexpr int PercentRole = Qt::UserRole + 1;

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& Index, int Role = Qt::DisplayRole) const override;
    QVariant headerData(int Section, Qt::Orientation Orientation, int Role = Qt::DisplayRole) const override;

    void Add(const std::u16string& InputFile, int64_t DurationUs, int64_t Size,
             const std::u16string& OutputFile, uint64_t TaskId);
    void Remove(int Index);
    void Clear();
    void ApplyProgress(int Index, int32_t FPS, int32_t CurrentDurationMs, int64_t CurrentSize,
                       int32_t TotalOutputDurationMs);
    void ApplyTerminate(int Index, bool Finished, bool Exception, const std::string& Message,
                        const std::u16string& KeptPartial = {});

    const TTaskRows& Rows() const { return FRows; }

  private:
    void RowChanged(int Index);

    TTaskRows FRows;
};

}  // namespace zembra
