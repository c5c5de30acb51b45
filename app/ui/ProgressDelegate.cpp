#include "app/ui/ProgressDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOptionProgressBar>

#include "app/ui/TaskListModel.h"

namespace zembra {

void TProgressDelegate::paint(QPainter* Painter, const QStyleOptionViewItem& Option,
                              const QModelIndex& Index) const {
    const int Percent = Index.data(TTaskListModel::PercentRole).toInt();
    const QString Text = Index.data(Qt::DisplayRole).toString();
    if (Percent < 0 || Text.isEmpty()) {
        QStyledItemDelegate::paint(Painter, Option, Index);
        return;
    }
    QStyleOptionViewItem Background = Option;
    initStyleOption(&Background, Index);
    Background.text.clear();
    QStyle* Style = Option.widget ? Option.widget->style() : QApplication::style();
    Style->drawControl(QStyle::CE_ItemViewItem, &Background, Painter, Option.widget);

    QStyleOptionProgressBar Bar;
    Bar.rect = Option.rect.adjusted(1, 1, -1, -1);
    Bar.minimum = 0;
    Bar.maximum = 100;
    Bar.progress = Percent;
    Bar.text = Text;
    Bar.textVisible = true;
    Bar.textAlignment = Qt::AlignCenter;
    Bar.state = Option.state | QStyle::State_Horizontal;
    Bar.palette = Option.palette;
    Bar.fontMetrics = Option.fontMetrics;
    Style->drawControl(QStyle::CE_ProgressBar, &Bar, Painter, Option.widget);
}

}  // namespace zembra
