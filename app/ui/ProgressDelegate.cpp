#include "app/ui/ProgressDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOptionProgressBar>
#include <utility>

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
    Bar.textVisible = false;
    // The bar looks the same on a selected row; the text is ours below.
    Bar.state = (Option.state & QStyle::State_Enabled) | QStyle::State_Horizontal;
    Bar.palette = Option.palette;
    Bar.fontMetrics = Option.fontMetrics;
    Style->drawControl(QStyle::CE_ProgressBar, &Bar, Painter, Option.widget);

    // The text in the colour that stands out on each part of the bar: the highlighted text's
    // over the filled part, the ordinary text's over the rest.
    const QRect Filled(Bar.rect.left(), Bar.rect.top(), Bar.rect.width() * Percent / 100, Bar.rect.height());
    const QRect Rest(Filled.right() + 1, Bar.rect.top(), Bar.rect.width() - Filled.width(),
                     Bar.rect.height());
    Painter->save();
    Painter->setFont(Option.font);
    for (const auto& [Part, Role] :
         {std::pair{Filled, QPalette::HighlightedText}, std::pair{Rest, QPalette::Text}}) {
        if (Part.isEmpty()) continue;
        Painter->setClipRect(Part);
        Painter->setPen(Option.palette.color(QPalette::Active, Role));
        Painter->drawText(Bar.rect, Qt::AlignCenter, Text);
    }
    Painter->restore();
}

}  // namespace zembra
