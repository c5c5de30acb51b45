#include "app/ui/OptionDialog.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace zembra {

TfrmOption::TfrmOption(QWidget* Parent) : QDialog(Parent) {
    setWindowTitle(QStringLiteral("Output Options"));
    auto* Layout = new QVBoxLayout(this);
    auto* Buttons = new QHBoxLayout;
    Buttons->addStretch();
    btnOk = new QPushButton(QStringLiteral("OK"), this);
    btnOk->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    Buttons->addWidget(btnOk);
    Buttons->addWidget(btnCancel);
    Layout->addLayout(Buttons);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmOption::SetProbe(TCustomAVProbe* Probe) {
    FProbe = Probe;
}

void TfrmOption::SetBuildContext(const TBuildContext& Context) {
    FContext = Context;
}

void TfrmOption::SetRemainingFiles(int Count) {
    FRemaining = Count;
}

bool TfrmOption::ApplyToRemaining() const {
    return false;
}

TOutputOptions TfrmOption::GetOutputOptions() {
    const TSourceInfo Source = FProbe ? SourceInfoOf(*FProbe) : TSourceInfo{};
    return BuildOutputOptions(FChoices, Source, FContext);
}

TInputOptions TfrmOption::GetInputOptions() {
    const TSourceInfo Source = FProbe ? SourceInfoOf(*FProbe) : TSourceInfo{};
    return BuildInputOptions(FChoices, Source);
}

TOptionChoices TfrmOption::Choices() const {
    return FChoices;
}

}  // namespace zembra
