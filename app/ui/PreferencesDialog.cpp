#include "app/ui/PreferencesDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QIntValidator>
#include <QLineEdit>
#include <QVBoxLayout>

namespace zembra {

TfrmPreferences::TfrmPreferences(QWidget* Parent)
    : QDialog(Parent),
      chkThreadMode(new QCheckBox("Thread Mode", this)),
      edtThreadCount(new QLineEdit(this)),
      grpPriority(new QComboBox(this)),
      grpLogLevel(new QComboBox(this)),
      chkPreview(new QCheckBox("Realtime Preview", this)),
      chkVerNum(new QCheckBox("Load VerNum DLL", this)),
      chkKeepPartial(new QCheckBox("Keep what a stopped task converted", this)) {
    setObjectName("frmPreferences");
    setWindowTitle("Settings");
    chkThreadMode->setObjectName("chkThreadMode");
    chkThreadMode->setToolTip(
        "Convert on worker threads, keeping the window free; off: one after another, "
        "the window busy until the end");
    edtThreadCount->setObjectName("edtThreadCount");
    edtThreadCount->setValidator(new QIntValidator(0, 64, edtThreadCount));
    grpPriority->setObjectName("grpPriority");
    for (const char* Item : kPriorityChoices) grpPriority->addItem(Item);
    grpLogLevel->setObjectName("grpLogLevel");
    for (const char* Item : kLogLevelChoices) grpLogLevel->addItem(Item);
    chkPreview->setObjectName("chkPreview");
    chkVerNum->setObjectName("chkVerNum");
    chkVerNum->setToolTip("Unchecking unloads the media libraries; the next added file loads them again");
    chkKeepPartial->setObjectName("chkKeepPartial");
    chkKeepPartial->setToolTip(
        "A task stopped, removed or cleared before its end leaves what it converted as "
        "NAME.partial.EXT; unchecked, it leaves nothing. zembra-cli's --keep-partial does the same.");

    auto* Form = new QFormLayout;
    Form->addRow(chkThreadMode);
    Form->addRow("Tasks at once:", edtThreadCount);
    Form->addRow("Thread Priority:", grpPriority);
    Form->addRow("Log Level:", grpLogLevel);
    Form->addRow(chkPreview);
    Form->addRow(chkVerNum);
    Form->addRow(chkKeepPartial);
    auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(chkThreadMode, &QCheckBox::toggled, edtThreadCount, &QWidget::setEnabled);
    auto* Layout = new QVBoxLayout(this);
    Layout->addLayout(Form);
    Layout->addWidget(Buttons);
}

void TfrmPreferences::SetSettings(const TRunSettings& S) {
    chkThreadMode->setChecked(S.ThreadMode);
    edtThreadCount->setText(QString::fromStdString(S.ThreadCount));
    edtThreadCount->setEnabled(S.ThreadMode);
    grpPriority->setCurrentIndex(S.Priority);
    grpLogLevel->setCurrentIndex(S.LogLevel);
    chkPreview->setChecked(S.Preview);
    chkVerNum->setChecked(S.VerNum);
    chkKeepPartial->setChecked(S.KeepPartial);
}

TRunSettings TfrmPreferences::Settings() const {
    TRunSettings S;
    S.ThreadMode = chkThreadMode->isChecked();
    S.ThreadCount = edtThreadCount->text().toStdString();
    S.Priority = grpPriority->currentIndex();
    S.LogLevel = grpLogLevel->currentIndex();
    S.Preview = chkPreview->isChecked();
    S.VerNum = chkVerNum->isChecked();
    S.KeepPartial = chkKeepPartial->isChecked();
    return Sanitised(S);
}

}  // namespace zembra
