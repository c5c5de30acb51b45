#pragma once

// A titled group of radio buttons laid out in columns, addressed by item index like the
// classic radio group the dialog's option lists were designed as.

#include <QButtonGroup>
#include <QGroupBox>
#include <QRadioButton>
#include <QStringList>

namespace zembra {

class TRadioGroup : public QGroupBox {
    Q_OBJECT
  public:
    TRadioGroup(const QString& Caption, const QStringList& Items, int Columns, QWidget* Parent = nullptr);

    int ItemIndex() const { return FButtons->checkedId(); }
    void SetItemIndex(int Index);
    // The selected item's text; empty when none is selected.
    QString ItemText() const;
    QRadioButton* Button(int Index) const;
    int Count() const { return static_cast<int>(FButtons->buttons().size()); }

  signals:
    void ItemIndexChanged(int Index);

  private:
    QButtonGroup* FButtons;
};

}  // namespace zembra
