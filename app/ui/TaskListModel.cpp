#include "app/ui/TaskListModel.h"

#include "util/StringUtils.h"

namespace zembra {

int TTaskListModel::rowCount(const QModelIndex& Parent) const {
    return Parent.isValid() ? 0 : FRows.Count();
}

int TTaskListModel::columnCount(const QModelIndex& Parent) const {
    return Parent.isValid() ? 0 : kTaskColumnCount;
}

QVariant TTaskListModel::data(const QModelIndex& Index, int Role) const {
    if (!Index.isValid() || Index.row() >= FRows.Count() || Index.column() >= kTaskColumnCount) return {};
    const TTaskRow& Row = FRows[Index.row()];
    switch (Role) {
        case Qt::DisplayRole:
            return QString::fromStdString(Row.Cells[static_cast<size_t>(Index.column())]);
        case Qt::ToolTipRole:
            // A failure's reason (or a finished task's warning) in full, wherever the row is
            // pointed at; the file names otherwise.
            if (!Row.Note.empty() && (Index.column() != colInput || Row.State == TTaskState::Failed))
                return QString::fromStdString(Row.Note);
            if (Index.column() == colInput) return QString::fromStdString(Row.Cells[colInput]);
            if (Index.column() == colOutput && !Row.Cells[colOutput].empty())
                return QString::fromStdU16String(Row.OutputFile);
            return {};
        case PercentRole:
            return Row.Percent;
        default:
            return {};
    }
}

QVariant TTaskListModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
    if (Orientation != Qt::Horizontal || Section < 0 || Section >= kTaskColumnCount) return {};
    const TColumnSpec& Spec = kTaskColumns[static_cast<size_t>(Section)];
    if (Role == Qt::ToolTipRole && Spec.Tooltip) return QString::fromUtf8(Spec.Tooltip);
    if (Role != Qt::DisplayRole) return {};
    return QString::fromUtf8(Spec.Caption);
}

void TTaskListModel::Add(const std::u16string& InputFile, int64_t DurationUs, int64_t Size,
                         const std::u16string& OutputFile, uint64_t TaskId) {
    beginInsertRows(QModelIndex(), FRows.Count(), FRows.Count());
    FRows.Add(InputFile, DurationUs, Size, OutputFile, TaskId);
    endInsertRows();
}

void TTaskListModel::Remove(int Index) {
    if (Index < 0 || Index >= FRows.Count()) return;
    beginRemoveRows(QModelIndex(), Index, Index);
    FRows.Remove(Index);
    endRemoveRows();
}

void TTaskListModel::Clear() {
    beginResetModel();
    FRows.Clear();
    endResetModel();
}

void TTaskListModel::ApplyProgress(int Index, int32_t FPS, int32_t CurrentDurationMs, int64_t CurrentSize,
                                   int32_t TotalOutputDurationMs) {
    if (FRows.ApplyProgress(Index, FPS, CurrentDurationMs, CurrentSize, TotalOutputDurationMs))
        RowChanged(Index);
}

void TTaskListModel::ApplyTerminate(int Index, bool Finished, bool Exception, const std::string& Message,
                                    const std::u16string& KeptPartial) {
    if (FRows.ApplyTerminate(Index, Finished, Exception, Message, KeptPartial)) RowChanged(Index);
}

void TTaskListModel::RowChanged(int Index) {
    emit dataChanged(index(Index, 0), index(Index, kTaskColumnCount - 1));
}

}  // namespace zembra
