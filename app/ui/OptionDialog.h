#pragma once

// The settings dialog: shows what the probe knows of a source with a preview picture, takes the
// user's output choices and an optional cut range, and turns them into a task's settings
// records through the Qt-free option builder. The dialog is kept between tasks, so each task
// starts from the choices the user left in it.

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include <QDialog>
#include <QImage>
#include <QTimer>

#include "app/OptionBuilder.h"
#include "component/OptionRecords.h"
#include "probe/AVProbe.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace zembra {

class TPreviewImage;
class TRadioGroup;
class TSelectionTrackBar;

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
    // What the controls ask for.
    TConversionRequest Choices() const;
    // The same after OK: the hook text edits then show the texts the lines use.
    TConversionRequest Request();
    // What the probe last set told of the source, which the records are built for.
    const TSourceInfo& Source() const;

    // The file-system type ("ext4", "iso9660"...) of the volume holding a folder; the default
    // asks QStorageInfo. Tests put a CD-ROM where they need one.
    using TFileSystemTypeQuery = std::function<std::string(const QString& Folder)>;
    void SetFileSystemTypeQuery(TFileSystemTypeQuery Query);

    // Microseconds per track-bar position of the source last set.
    int64_t Step() const { return FStep; }

  public slots:
    void done(int Result) override;

  protected:
    void showEvent(QShowEvent* Event) override;
    void hideEvent(QHideEvent* Event) override;

  private:
    QWidget* CreateOutputPage();
    QWidget* CreateVideoPage();
    QWidget* CreateCutClipGroup();
    QWidget* CreateHookGroup();

    // FormCloseQuery: false (with the user told) when the output would land on a CD-ROM.
    bool CanCloseWithOk();
    bool IsOnCdRom(const QString& Folder) const;
    void ShowInformation(const QString& Caption, const QString& Text);

    void btnOutPathClick();
    void btnPTSsClick();
    void DoUpdateHook();
    void UpdateFormatSummary();
    void UpdateNameExample();

    // Part of the preview: the track bar follows the source, the picture its position.
    void SetupTrackBar();
    void UpdatePreview();
    void trcPreviewChange(int Position);
    void btnStartTimeClick();
    void btnEndTimeClick();
    void imgPreviewClick();
    void UpdateCutClipEnabled();

    // The rules read every control; they wait until all of them exist.
    bool FBuilt = false;
    TCustomAVProbe* FProbe = nullptr;
    int FVideoStream = -1;
    TSourceInfo FSource;  // of the probe last set, what the records are built for
    int64_t FDuration = -1;
    int64_t FStep = 1;
    // Set while the dialog itself moves the track bar, so that no picture is decoded for it.
    bool FUpdating = false;
    // Moving the slider restarts nothing: the decode waits for this timer and then takes the
    // latest position, so a drag costs at most one decode per interval.
    QTimer FPendingPreview;
    QImage FActualSize;
    TBuildContext FContext;
    TFileSystemTypeQuery FFileSystemType;
    int FRemaining = 0;

    QTabWidget* tabPages = nullptr;
    // --- first page ---
    QPlainTextEdit* mmoAVFileInfo = nullptr;
    TRadioGroup* grpFormats = nullptr;
    QLabel* lblFormatSummary = nullptr;
    TRadioGroup* grpAudioSampleRate = nullptr;
    QCheckBox* chkAudioVolume = nullptr;
    QLineEdit* edtAudioVolume = nullptr;
    TRadioGroup* grpAudioChannels = nullptr;
    QCheckBox* chkAudioBitRate = nullptr;
    QLineEdit* edtAudioBitRate = nullptr;
    TPreviewImage* imgPreview = nullptr;
    TSelectionTrackBar* trcPreview = nullptr;
    QLabel* lblPTS = nullptr;
    QPushButton* btnStartTime = nullptr;
    QLineEdit* edtStartTime = nullptr;
    QPushButton* btnEndTime = nullptr;
    QLineEdit* edtEndTime = nullptr;
    QCheckBox* chkCutClip = nullptr;
    QCheckBox* chkCopyTimestamp = nullptr;
    QCheckBox* chkOverwrite = nullptr;
    QCheckBox* chkKeepTags = nullptr;
    QCheckBox* chkCopySound = nullptr;
    QLabel* lblSoundCopy = nullptr;  // whether the sound would be copied, and why
    QCheckBox* chkNameFromTags = nullptr;
    QLineEdit* edtNameTemplate = nullptr;
    QLabel* lblNameExample = nullptr;  // the name this source gets, or why the template gives none
    QRadioButton* rdoReplayGainOff = nullptr;
    QRadioButton* rdoReplayGainTrack = nullptr;
    QRadioButton* rdoReplayGainAlbum = nullptr;
    QLabel* lblReplayGain = nullptr;  // what the chosen format does with the tags
    QLineEdit* edtOutPath = nullptr;
    QPushButton* btnOutPath = nullptr;
    QCheckBox* chkApplyRemaining = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
    // --- "Video" page ---
    QComboBox* cboFrameSize = nullptr;
    TRadioGroup* grpFrameRate = nullptr;
    TRadioGroup* grpAspectRatio = nullptr;
    TRadioGroup* grpNorm = nullptr;
    TRadioGroup* grpVideoCodec = nullptr;
    TRadioGroup* grpAudioCodec = nullptr;
    QCheckBox* chkVideoBitRate = nullptr;
    QLineEdit* edtVideoBitRate = nullptr;
    QCheckBox* chkCrop = nullptr;
    std::array<QLineEdit*, 4> edtCrop{};  // top, bottom, left, right
    QCheckBox* chkPad = nullptr;
    std::array<QLineEdit*, 4> edtPad{};
    QCheckBox* chkVertFlip = nullptr;
    QCheckBox* chkHoriFlip = nullptr;
    QCheckBox* chkNegate = nullptr;
    QCheckBox* chkScale = nullptr;
    QLineEdit* edtScale = nullptr;
    QCheckBox* chkRotate = nullptr;
    QLineEdit* edtRotate = nullptr;
    QCheckBox* chkSetPTS = nullptr;
    QLineEdit* edtSetPTS = nullptr;
    QRadioButton* rdoExternalHook = nullptr;
    QRadioButton* rdoCustomHook = nullptr;
    QCheckBox* chkImlib2Img = nullptr;
    QCheckBox* chkImgDancing = nullptr;
    QCheckBox* chkImlib2Txt = nullptr;
    QLineEdit* edtImlib2Txt = nullptr;
    QCheckBox* chkTxtScrolling = nullptr;
    QCheckBox* chkWaterMark = nullptr;
    QCheckBox* chkWaterMarkMode = nullptr;
    QCheckBox* chkQuarnHookImg = nullptr;
    QCheckBox* chkQuarnHookTxt = nullptr;
    QLineEdit* edtQuarnHookTxt = nullptr;
    QRadioButton* rdoStandardHook = nullptr;
    QRadioButton* rdoBeforeHook = nullptr;
    QRadioButton* rdoPTSs = nullptr;
    QLineEdit* edtPTSs = nullptr;
    QPushButton* btnPTSs = nullptr;
    QLabel* lblHookFolder = nullptr;
};

}  // namespace zembra
