#pragma once

// The preferences: the run parameters the window keeps between runs (thread mode, tasks at
// once, priority, log level, realtime preview, the library box, what a stopped task leaves).

#include <QDialog>

#include "app/RunSettings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace zembra {

class TfrmPreferences : public QDialog {
    Q_OBJECT
  public:
    explicit TfrmPreferences(QWidget* Parent = nullptr);
    void SetSettings(const TRunSettings& S);
    TRunSettings Settings() const;

  private:
    QCheckBox* chkThreadMode;
    QLineEdit* edtThreadCount;
    QComboBox* grpPriority;
    QComboBox* grpLogLevel;
    QCheckBox* chkPreview;
    QCheckBox* chkVerNum;
    QCheckBox* chkKeepPartial;
};

}  // namespace zembra
