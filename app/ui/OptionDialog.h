#pragma once

// The settings dialog: shows what the probe knows of a source, takes the user's output choices
// and an optional cut range, and turns them into a task's settings records through the Qt-free
// option builder.

#include <QDialog>

#include "app/OptionBuilder.h"
#include "component/OptionRecords.h"
#include "probe/AVProbe.h"

class QPushButton;

namespace zembra {

class TfrmOption : public QDialog {
    Q_OBJECT
  public:
    explicit TfrmOption(QWidget* Parent = nullptr);
    // Called by the main window before every showing, with the component's probe that has just
    // loaded the source (not owned; valid until the dialog is closed).
    void SetProbe(TCustomAVProbe* Probe);
    // Reserved names of other outputs of the batch, the hook folder, file-exists test; used by
    // GetOutputOptions.
    void SetBuildContext(const TBuildContext& Context);
    // "Apply to the remaining N files": shown only when Count > 0, unchecked at every showing.
    void SetRemainingFiles(int Count);
    bool ApplyToRemaining() const;
    // The modal show is QDialog::exec(); QDialog::Accepted stands for OK.
    TOutputOptions GetOutputOptions();  // called first after OK
    TInputOptions GetInputOptions();    // called second
    // The control values as the Qt-free builder holds them.
    TOptionChoices Choices() const;

  private:
    TCustomAVProbe* FProbe = nullptr;
    TBuildContext FContext;
    TOptionChoices FChoices;
    int FRemaining = 0;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
};

}  // namespace zembra
