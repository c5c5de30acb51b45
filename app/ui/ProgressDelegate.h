#pragma once

// Draws the "Progress" cell as a bar with its text; a cell without a known share (the time
// reached of an output of unknown length) stays plain text.

#include <QStyledItemDelegate>

namespace zembra {

class TProgressDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* Painter, const QStyleOptionViewItem& Option,
               const QModelIndex& Index) const override;
};

}  // namespace zembra
