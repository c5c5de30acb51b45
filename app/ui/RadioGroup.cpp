#include "app/ui/RadioGroup.h"

#include <QGridLayout>

namespace zembra {

TRadioGroup::TRadioGroup(const QString& Caption, const QStringList& Items, int Columns, QWidget* Parent)
    : QGroupBox(Caption, Parent), FButtons(new QButtonGroup(this)) {
    auto* Layout = new QGridLayout(this);
    Layout->setContentsMargins(6, 2, 6, 2);
    Layout->setVerticalSpacing(2);
    const int Cols = Columns > 0 ? Columns : 1;
    // Items run down each column first, as the classic radio group places them.
    const int Rows = (static_cast<int>(Items.size()) + Cols - 1) / Cols;
    for (int I = 0; I < Items.size(); ++I) {
        auto* Button = new QRadioButton(Items[I], this);
        FButtons->addButton(Button, I);
        Layout->addWidget(Button, I % Rows, I / Rows);
    }
    if (!Items.isEmpty()) Button(0)->setChecked(true);
    connect(FButtons, &QButtonGroup::idToggled, this, [this](int Id, bool Checked) {
        if (Checked) emit ItemIndexChanged(Id);
    });
}

void TRadioGroup::SetItemIndex(int Index) {
    if (QAbstractButton* B = FButtons->button(Index)) B->setChecked(true);
}

QString TRadioGroup::ItemText() const {
    const QAbstractButton* B = FButtons->checkedButton();
    return B ? B->text() : QString();
}

QRadioButton* TRadioGroup::Button(int Index) const {
    return qobject_cast<QRadioButton*>(FButtons->button(Index));
}

}  // namespace zembra
