#include "app/ui/OptionDialog.h"

#include <vector>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QStorageInfo>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/FormatSummary.h"
#include "app/OutputFolder.h"
#include "app/TrackBar.h"
#include "app/ui/ActualSizeWindow.h"
#include "app/ui/PreviewImage.h"
#include "app/ui/RadioGroup.h"
#include "app/ui/SelectionTrackBar.h"
#include "engine/OptionValues.h"
#include "util/StringUtils.h"
#include "util/WideFiles.h"

namespace zembra {

namespace {

constexpr const char* kApplicationTitle = "Zembra";
constexpr const char* kNotAvailable = "N/A";
constexpr const char* kDefaultNameTemplate = "{albumartist}/{album}/{track:02} {title}";
// Long enough to swallow the positions a drag passes over, short enough to feel immediate.
constexpr int kPreviewDelayMs = 40;

// What the items of the choice groups ask for, by item index; the first item ("Auto") asks for
// nothing. The captions are made from them.
constexpr std::array<int32_t, 5> kSampleRates = {0, 8000, 11025, 22050, 44100};
constexpr std::array<const char*, 5> kFrameRates = {"", "10", "15", "25", "30"};
constexpr std::array<const char*, 5> kAspectRatios = {"", "4:3", "16:9", "37:20", "47:20"};

struct TFrameSize {
    const char* Size;
    const char* Name;
};
constexpr TFrameSize kFrameSizes[] = {
    {"", "Original"},        {"128x96", "sqcif"},     {"176x144", "qcif"},     {"352x288", "cif"},
    {"704x576", "4cif"},     {"160x120", "qqvga"},    {"320x240", "qvga"},     {"640x480", "vga"},
    {"800x600", "svga"},     {"1024x768", "xga"},     {"1600x1200", "uxga"},   {"2048x1536", "qxga"},
    {"1280x1024", "sxga"},   {"2560x2048", "qsxga"},  {"5120x4096", "hsxga"},  {"852x480", "wvga"},
    {"1366x768", "wxga"},    {"1600x1024", "wsxga"},  {"1920x1200", "wuxga"},  {"2560x1600", "woxga"},
    {"3200x2048", "wqsxga"}, {"3840x2400", "wquxga"}, {"6400x4096", "whsxga"}, {"7680x4800", "whuxga"},
    {"320x200", "cga"},      {"640x350", "ega"},      {"852x480", "hd480"},    {"1280x720", "hd720"},
    {"1920x1080", "hd1080"}};

struct TEncoderItem {
    const char* Caption;
    const char* Encoder;
    const char* Tag;
};
constexpr TEncoderItem kVideoEncoders[] = {
    {"Auto", "", ""}, {"DivX", "mpeg4", "DIVX"}, {"XviD", "libxvid", ""}, {"X264", "libx264", ""}};
constexpr TEncoderItem kAudioEncoders[] = {{"Auto", "", ""},
                                           {"AAC", "libfaac", ""},
                                           {"AC3", "ac3", ""},
                                           {"FLAC", "flac", ""},
                                           {"MP3", "libmp3lame", ""}};

template <typename T, size_t N>
QStringList Captions(const T (&Items)[N]) {
    QStringList List;
    for (const T& Item : Items) List << QString::fromLatin1(Item.Caption);
    return List;
}

template <size_t N>
QStringList Captions(const std::array<const char*, N>& Values) {
    QStringList List;
    for (const char* Value : Values) List << (*Value ? QString::fromLatin1(Value) : QStringLiteral("Auto"));
    return List;
}

// A hook text edit trimmed, or "ZIVOZ" when nothing is left.
std::string HookText(const QLineEdit* Edit) {
    const std::string Text = Trim(Edit->text().toStdString());
    return Text.empty() ? kDefaultHookText : Text;
}

QString Q(const std::string& Text) {
    return QString::fromStdString(Text);
}

std::string S(const QString& Text) {
    return Text.toStdString();
}

template <typename T>
T* Named(T* Widget, const char* Name) {
    Widget->setObjectName(QString::fromLatin1(Name));
    return Widget;
}

QCheckBox* Check(const char* Name, const QString& Caption, QWidget* Parent) {
    return Named(new QCheckBox(Caption, Parent), Name);
}

QLineEdit* Edit(const char* Name, const QString& Text, QWidget* Parent, bool Enabled = false) {
    auto* E = Named(new QLineEdit(Text, Parent), Name);
    E->setEnabled(Enabled);
    return E;
}

// Each enabling check box enables its edits exactly while it is checked.
void Enables(QCheckBox* Box, std::initializer_list<QWidget*> Edits) {
    std::vector<QWidget*> Targets(Edits);
    QObject::connect(Box, &QCheckBox::toggled, Box, [Targets](bool Checked) {
        for (QWidget* W : Targets) W->setEnabled(Checked);
    });
}

}  // namespace

TfrmOption::TfrmOption(QWidget* Parent) : QDialog(Parent) {
    setWindowTitle(QStringLiteral("Output Options"));
    FPendingPreview.setSingleShot(true);
    FPendingPreview.setInterval(kPreviewDelayMs);
    connect(&FPendingPreview, &QTimer::timeout, this, &TfrmOption::UpdatePreview);

    auto* Layout = new QVBoxLayout(this);
    tabPages = Named(new QTabWidget(this), "tabPages");
    tabPages->addTab(CreateOutputPage(), QStringLiteral("Output"));
    tabPages->addTab(CreateVideoPage(), QStringLiteral("Video"));
    Layout->addWidget(tabPages);

    auto* Buttons = new QHBoxLayout;
    chkApplyRemaining = Check("chkApplyRemaining", QString(), this);
    chkApplyRemaining->setVisible(false);
    Buttons->addWidget(chkApplyRemaining);
    Buttons->addStretch();
    btnOk = Named(new QPushButton(QStringLiteral("OK"), this), "btnOk");
    btnOk->setDefault(true);
    btnCancel = Named(new QPushButton(QStringLiteral("Cancel"), this), "btnCancel");
    Buttons->addWidget(btnOk);
    Buttons->addWidget(btnCancel);
    Layout->addLayout(Buttons);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    FFileSystemType = [](const QString& Folder) {
        return QStorageInfo(Folder).fileSystemType().toStdString();
    };
    FBuilt = true;
    // Every choice the sound copy depends on shows its effect at once.
    for (TRadioGroup* Group : {grpAudioSampleRate, grpAudioChannels, grpAudioCodec})
        connect(Group, &TRadioGroup::ItemIndexChanged, this, &TfrmOption::UpdateFormatSummary);
    for (QCheckBox* Box : {chkAudioVolume, chkAudioBitRate, chkCutClip, chkCopySound})
        connect(Box, &QCheckBox::toggled, this, &TfrmOption::UpdateFormatSummary);
    connect(edtAudioVolume, &QLineEdit::textChanged, this, &TfrmOption::UpdateFormatSummary);
    connect(chkNameFromTags, &QCheckBox::toggled, this, &TfrmOption::UpdateNameExample);
    connect(edtNameTemplate, &QLineEdit::textChanged, this, &TfrmOption::UpdateNameExample);
    for (QRadioButton* Radio : {rdoReplayGainOff, rdoReplayGainTrack, rdoReplayGainAlbum})
        connect(Radio, &QRadioButton::toggled, this, &TfrmOption::UpdateNameExample);
    DoUpdateHook();
    UpdateFormatSummary();
}

QWidget* TfrmOption::CreateOutputPage() {
    auto* Page = new QWidget;
    auto* Columns = new QHBoxLayout(Page);
    auto* Left = new QVBoxLayout;
    auto* Right = new QVBoxLayout;
    Columns->addLayout(Left, 1);
    Columns->addLayout(Right);

    auto* grpAVFileInfo =
        Named(new QGroupBox(QStringLiteral("Source Media File Info"), Page), "grpAVFileInfo");
    auto* InfoLayout = new QVBoxLayout(grpAVFileInfo);
    mmoAVFileInfo = Named(new QPlainTextEdit(grpAVFileInfo), "mmoAVFileInfo");
    mmoAVFileInfo->setReadOnly(true);
    mmoAVFileInfo->setLineWrapMode(QPlainTextEdit::NoWrap);
    mmoAVFileInfo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmoAVFileInfo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont Mono(QStringLiteral("Courier New"));
    Mono.setStyleHint(QFont::Monospace);
    Mono.setFixedPitch(true);
    mmoAVFileInfo->setFont(Mono);
    InfoLayout->addWidget(mmoAVFileInfo);
    Left->addWidget(grpAVFileInfo, 1);

    QStringList Formats;
    for (const char* F : kOutputFormats) Formats << QString::fromLatin1(F);
    grpFormats = Named(new TRadioGroup(QStringLiteral("Output Formats"), Formats, 6, Page), "grpFormats");
    lblFormatSummary = Named(new QLabel(grpFormats), "lblFormatSummary");
    if (auto* Grid = qobject_cast<QGridLayout*>(grpFormats->layout()))
        Grid->addWidget(lblFormatSummary, Grid->rowCount(), 0, 1, Grid->columnCount());
    connect(grpFormats, &TRadioGroup::ItemIndexChanged, this, &TfrmOption::UpdateFormatSummary);
    Left->addWidget(grpFormats);

    QStringList Rates;
    for (const int32_t Rate : kSampleRates) Rates << (Rate ? QString::number(Rate) : QStringLiteral("Auto"));
    grpAudioSampleRate = Named(new TRadioGroup(QStringLiteral("Audio Sample Rate (Hz)"), Rates, 5, Page),
                               "grpAudioSampleRate");
    Left->addWidget(grpAudioSampleRate);

    auto* AudioRow = new QHBoxLayout;
    auto* grpAudioVolume = Named(new QGroupBox(QStringLiteral("Audio Volume"), Page), "grpAudioVolume");
    auto* VolumeLayout = new QHBoxLayout(grpAudioVolume);
    chkAudioVolume = Check("chkAudioVolume", QStringLiteral("Adjust Volume"), grpAudioVolume);
    edtAudioVolume = Edit("edtAudioVolume", QStringLiteral("256"), grpAudioVolume);
    edtAudioVolume->setToolTip(QStringLiteral("256=normal"));
    edtAudioVolume->setMaximumWidth(50);
    VolumeLayout->addWidget(chkAudioVolume);
    VolumeLayout->addWidget(edtAudioVolume);
    Enables(chkAudioVolume, {edtAudioVolume});
    AudioRow->addWidget(grpAudioVolume);

    grpAudioChannels =
        Named(new TRadioGroup(QStringLiteral("Audio Channel"), {"Auto", "Mono", "Stereo"}, 3, Page),
              "grpAudioChannels");
    AudioRow->addWidget(grpAudioChannels);

    auto* grpBitRate = Named(new QGroupBox(QStringLiteral("Bit Rate (Kbps)"), Page), "grpBitRate");
    auto* BitRateLayout = new QHBoxLayout(grpBitRate);
    chkAudioBitRate = Check("chkAudioBitRate", QStringLiteral("Audio Bit Rate"), grpBitRate);
    edtAudioBitRate = Edit("edtAudioBitRate", QStringLiteral("64"), grpBitRate);
    edtAudioBitRate->setMaximumWidth(50);
    BitRateLayout->addWidget(chkAudioBitRate);
    BitRateLayout->addWidget(edtAudioBitRate);
    Enables(chkAudioBitRate, {edtAudioBitRate});
    AudioRow->addWidget(grpBitRate);
    Left->addLayout(AudioRow);

    Right->addWidget(CreateCutClipGroup());
    chkCopyTimestamp =
        Check("chkCopyTimestamp", QStringLiteral("Copy Timestamp (decoding rm/rmvb maybe need this)"), Page);
    Right->addWidget(chkCopyTimestamp);
    chkOverwrite = Check("chkOverwrite", QStringLiteral("Overwrite Existing File"), Page);
    Right->addWidget(chkOverwrite);
    chkKeepTags = Check("chkKeepTags", QStringLiteral("Keep tags and cover"), Page);
    chkKeepTags->setChecked(true);
    chkKeepTags->setToolTip(
        QStringLiteral("Title, artist, album and the other tags of the source, and its cover "
                       "picture where the output format can hold one"));
    Right->addWidget(chkKeepTags);
    chkCopySound = Check(
        "chkCopySound",
        QStringLiteral("Copy the sound unchanged when the format allows (faster, no quality loss)"), Page);
    chkCopySound->setToolTip(
        QStringLiteral("The source's sound goes in as it is when the output format holds its codec and no "
                       "sound setting asks for a change; a cut then starts and ends on whole packets"));
    Right->addWidget(chkCopySound);
    lblSoundCopy = Named(new QLabel(Page), "lblSoundCopy");
    lblSoundCopy->setWordWrap(true);
    Right->addWidget(lblSoundCopy);

    auto* NameRow = new QHBoxLayout;
    chkNameFromTags = Check("chkNameFromTags", QStringLiteral("Name outputs from &tags"), Page);
    chkNameFromTags->setToolTip(
        QStringLiteral("Folders and file name below the output folder from the source's tags; the fields are "
                       "%1, {track:02} pads the number to two digits")
            .arg(Q([] {
                std::string List;
                for (const std::string& F : NameFields()) List += (List.empty() ? "{" : ", {") + F + "}";
                return List;
            }())));
    edtNameTemplate = Edit("edtNameTemplate", QString::fromLatin1(kDefaultNameTemplate), Page);
    Enables(chkNameFromTags, {edtNameTemplate});
    NameRow->addWidget(chkNameFromTags);
    NameRow->addWidget(edtNameTemplate, 1);
    Right->addLayout(NameRow);
    lblNameExample = Named(new QLabel(Page), "lblNameExample");
    lblNameExample->setWordWrap(true);
    lblNameExample->setTextFormat(Qt::PlainText);
    Right->addWidget(lblNameExample);

    auto* GainRow = new QHBoxLayout;
    GainRow->addWidget(Named(new QLabel(QStringLiteral("ReplayGain:"), Page), "lblReplayGainCaption"));
    rdoReplayGainOff = Named(new QRadioButton(QStringLiteral("o&ff"), Page), "rdoReplayGainOff");
    rdoReplayGainTrack = Named(new QRadioButton(QStringLiteral("t&rack"), Page), "rdoReplayGainTrack");
    rdoReplayGainAlbum = Named(new QRadioButton(QStringLiteral("al&bum"), Page), "rdoReplayGainAlbum");
    rdoReplayGainAlbum->setToolTip(
        QStringLiteral("The files added together with \"Apply to the remaining N files\" form one album"));
    auto* Gains = new QButtonGroup(Page);
    for (QRadioButton* Radio : {rdoReplayGainOff, rdoReplayGainTrack, rdoReplayGainAlbum}) {
        Gains->addButton(Radio);
        GainRow->addWidget(Radio);
    }
    rdoReplayGainOff->setChecked(true);
    GainRow->addStretch();
    Right->addLayout(GainRow);
    lblReplayGain = Named(new QLabel(Page), "lblReplayGain");
    lblReplayGain->setWordWrap(true);
    Right->addWidget(lblReplayGain);
    Right->addWidget(Named(new QLabel(QStringLiteral("Output Folder"), Page), "lblOutPath"));
    auto* OutRow = new QHBoxLayout;
    edtOutPath = Edit("edtOutPath", QString::fromLatin1(kSameAsInput), Page, true);
    edtOutPath->setReadOnly(true);
    btnOutPath = Named(new QPushButton(QStringLiteral("..."), Page), "btnOutPath");
    btnOutPath->setMaximumWidth(32);
    connect(btnOutPath, &QPushButton::clicked, this, &TfrmOption::btnOutPathClick);
    OutRow->addWidget(edtOutPath);
    OutRow->addWidget(btnOutPath);
    Right->addLayout(OutRow);
    Right->addStretch();
    return Page;
}

QWidget* TfrmOption::CreateCutClipGroup() {
    auto* grpCutClip = Named(new QGroupBox(QStringLiteral("Cut a piece clip (seconds)")), "grpCutClip");
    auto* Layout = new QGridLayout(grpCutClip);
    imgPreview = Named(new TPreviewImage(grpCutClip), "imgPreview");
    imgPreview->setToolTip(QStringLiteral("Click to view current picture in actual size"));
    connect(imgPreview, &TPreviewImage::Clicked, this, &TfrmOption::imgPreviewClick);
    Layout->addWidget(imgPreview, 0, 0, 1, 2, Qt::AlignHCenter);

    trcPreview = Named(new TSelectionTrackBar(grpCutClip), "trcPreview");
    trcPreview->setFixedWidth(kPreviewTrackBarWidth);
    trcPreview->setMinimumHeight(34);
    trcPreview->setRange(0, 0);
    connect(trcPreview, &QSlider::valueChanged, this, &TfrmOption::trcPreviewChange);
    Layout->addWidget(trcPreview, 1, 0, 1, 2, Qt::AlignHCenter);

    lblPTS = Named(new QLabel(QStringLiteral("PTS: "), grpCutClip), "lblPTS");
    Layout->addWidget(lblPTS, 2, 0, 1, 2);

    btnStartTime = Named(new QPushButton(QStringLiteral("Set Start"), grpCutClip), "btnStartTime");
    edtStartTime = Edit("edtStartTime", QString::fromLatin1(kNotAvailable), grpCutClip, true);
    edtStartTime->setReadOnly(true);
    btnEndTime = Named(new QPushButton(QStringLiteral("Set End"), grpCutClip), "btnEndTime");
    edtEndTime = Edit("edtEndTime", QString::fromLatin1(kNotAvailable), grpCutClip, true);
    edtEndTime->setReadOnly(true);
    connect(btnStartTime, &QPushButton::clicked, this, &TfrmOption::btnStartTimeClick);
    connect(btnEndTime, &QPushButton::clicked, this, &TfrmOption::btnEndTimeClick);
    Layout->addWidget(btnStartTime, 3, 0);
    Layout->addWidget(edtStartTime, 3, 1);
    Layout->addWidget(btnEndTime, 4, 0);
    Layout->addWidget(edtEndTime, 4, 1);

    chkCutClip = Check("chkCutClip", QStringLiteral("Cut Clip"), grpCutClip);
    chkCutClip->setEnabled(false);
    Layout->addWidget(chkCutClip, 5, 0, 1, 2);
    return grpCutClip;
}

QWidget* TfrmOption::CreateVideoPage() {
    auto* Page = new QWidget;
    auto* Columns = new QHBoxLayout(Page);
    auto* Left = new QVBoxLayout;
    auto* Middle = new QVBoxLayout;
    Columns->addLayout(Left);
    Columns->addLayout(Middle);
    Columns->addWidget(CreateHookGroup(), 1);

    auto* grpFrameSize = Named(new QGroupBox(QStringLiteral("Video Frame Size"), Page), "grpFrameSize");
    auto* SizeLayout = new QVBoxLayout(grpFrameSize);
    cboFrameSize = Named(new QComboBox(grpFrameSize), "cboFrameSize");
    for (const TFrameSize& Size : kFrameSizes)
        cboFrameSize->addItem(QStringLiteral("%1 - %2").arg(*Size.Size ? Size.Size : "Auto", Size.Name));
    SizeLayout->addWidget(cboFrameSize);
    Left->addWidget(grpFrameSize);
    grpFrameRate =
        Named(new TRadioGroup(QStringLiteral("Video Frame Rate (FPS)"), Captions(kFrameRates), 5, Page),
              "grpFrameRate");
    Left->addWidget(grpFrameRate);
    grpAspectRatio = Named(new TRadioGroup(QStringLiteral("Aspect Ratio"), Captions(kAspectRatios), 5, Page),
                           "grpAspectRatio");
    Left->addWidget(grpAspectRatio);
    grpNorm = Named(new TRadioGroup(QStringLiteral("Norm(VCD/SVCD/DVD)"), {"Auto", "PAL", "NTSC"}, 3, Page),
                    "grpNorm");
    Left->addWidget(grpNorm);
    grpVideoCodec = Named(new TRadioGroup(QStringLiteral("Video Encoder"), Captions(kVideoEncoders), 4, Page),
                          "grpVideoCodec");
    Left->addWidget(grpVideoCodec);
    grpAudioCodec = Named(new TRadioGroup(QStringLiteral("Audio Encoder"), Captions(kAudioEncoders), 5, Page),
                          "grpAudioCodec");
    Left->addWidget(grpAudioCodec);
    Left->addStretch();

    auto* grpVideoBitRate = Named(new QGroupBox(QStringLiteral("Bit Rate (Kbps)"), Page), "grpVideoBitRate");
    auto* RateLayout = new QHBoxLayout(grpVideoBitRate);
    chkVideoBitRate = Check("chkVideoBitRate", QStringLiteral("Video Bit Rate"), grpVideoBitRate);
    edtVideoBitRate = Edit("edtVideoBitRate", QStringLiteral("200"), grpVideoBitRate);
    edtVideoBitRate->setMaximumWidth(60);
    RateLayout->addWidget(chkVideoBitRate);
    RateLayout->addWidget(edtVideoBitRate);
    Enables(chkVideoBitRate, {edtVideoBitRate});
    Middle->addWidget(grpVideoBitRate);

    auto* grpPadCrop = Named(new QGroupBox(QStringLiteral("Crop and Pad"), Page), "grpPadCrop");
    auto* PadCrop = new QGridLayout(grpPadCrop);
    const std::array<const char*, 4> Sides = {"Top", "Bottom", "Left", "Right"};
    const std::array<const char*, 4> CropNames = {"edtCropTop", "edtCropBottom", "edtCropLeft",
                                                  "edtCropRight"};
    const std::array<const char*, 4> PadNames = {"edtPadTop", "edtPadBottom", "edtPadLeft", "edtPadRight"};
    chkCrop = Check("chkCrop", QStringLiteral("Crop"), grpPadCrop);
    chkPad = Check("chkPad", QStringLiteral("Pad"), grpPadCrop);
    PadCrop->addWidget(chkCrop, 1, 0);
    PadCrop->addWidget(chkPad, 2, 0);
    for (size_t I = 0; I < Sides.size(); ++I) {
        const int Col = static_cast<int>(I) + 1;
        PadCrop->addWidget(new QLabel(QString::fromLatin1(Sides[I]), grpPadCrop), 0, Col);
        edtCrop[I] = Edit(CropNames[I], QStringLiteral("0"), grpPadCrop);
        edtPad[I] = Edit(PadNames[I], QStringLiteral("0"), grpPadCrop);
        edtCrop[I]->setMaximumWidth(44);
        edtPad[I]->setMaximumWidth(44);
        PadCrop->addWidget(edtCrop[I], 1, Col);
        PadCrop->addWidget(edtPad[I], 2, Col);
    }
    Enables(chkCrop, {edtCrop[0], edtCrop[1], edtCrop[2], edtCrop[3]});
    Enables(chkPad, {edtPad[0], edtPad[1], edtPad[2], edtPad[3]});
    Middle->addWidget(grpPadCrop);

    auto* grpVideoFilter = Named(new QGroupBox(QStringLiteral("Video Filter"), Page), "grpVideoFilter");
    auto* Filters = new QGridLayout(grpVideoFilter);
    chkVertFlip = Check("chkVertFlip", QStringLiteral("Vertically Flip"), grpVideoFilter);
    chkHoriFlip = Check("chkHoriFlip", QStringLiteral("Horizontally Flip"), grpVideoFilter);
    chkNegate = Check("chkNegate", QStringLiteral("Negate"), grpVideoFilter);
    chkScale = Check("chkScale", QStringLiteral("Scale"), grpVideoFilter);
    edtScale = Edit("edtScale", QStringLiteral("320:240"), grpVideoFilter);
    chkRotate = Check("chkRotate", QStringLiteral("Rotate"), grpVideoFilter);
    edtRotate = Edit("edtRotate", QStringLiteral("45"), grpVideoFilter);
    chkSetPTS = Check("chkSetPTS", QStringLiteral("SetPTS"), grpVideoFilter);
    edtSetPTS = Edit("edtSetPTS", QStringLiteral("0.5*PTS"), grpVideoFilter);
    Enables(chkScale, {edtScale});
    Enables(chkRotate, {edtRotate});
    Enables(chkSetPTS, {edtSetPTS});
    Filters->addWidget(chkVertFlip, 0, 0);
    Filters->addWidget(chkHoriFlip, 1, 0);
    Filters->addWidget(chkNegate, 2, 0);
    Filters->addWidget(chkScale, 3, 0);
    Filters->addWidget(edtScale, 3, 1);
    Filters->addWidget(chkRotate, 4, 0);
    Filters->addWidget(edtRotate, 4, 1);
    Filters->addWidget(chkSetPTS, 5, 0);
    Filters->addWidget(edtSetPTS, 5, 1);
    Middle->addWidget(grpVideoFilter);
    Middle->addStretch();
    return Page;
}

QWidget* TfrmOption::CreateHookGroup() {
    auto* grpVideoHook = Named(new QGroupBox(QStringLiteral("Video Hook")), "grpVideoHook");
    auto* Layout = new QVBoxLayout(grpVideoHook);
    rdoExternalHook =
        Named(new QRadioButton(QStringLiteral("External Standard Hook (please read code of option unit)"),
                               grpVideoHook),
              "rdoExternalHook");
    rdoCustomHook =
        Named(new QRadioButton(QStringLiteral("Internal Custom Hook (please read code of main unit)"),
                               grpVideoHook),
              "rdoCustomHook");
    auto* Kind = new QButtonGroup(grpVideoHook);
    Kind->addButton(rdoExternalHook);
    Kind->addButton(rdoCustomHook);
    rdoExternalHook->setChecked(true);
    Layout->addWidget(rdoExternalHook);

    auto* pnlHook = Named(new QFrame(grpVideoHook), "pnlHook");
    pnlHook->setFrameShape(QFrame::StyledPanel);
    auto* Hooks = new QGridLayout(pnlHook);
    chkImlib2Img = Check("chkImlib2Img", QStringLiteral("Imlib2 - Image"), pnlHook);
    chkImgDancing = Check("chkImgDancing", QStringLiteral("Dancing"), pnlHook);
    chkImlib2Txt = Check("chkImlib2Txt", QStringLiteral("Imlib2 - Text"), pnlHook);
    edtImlib2Txt = Edit("edtImlib2Txt", QString::fromLatin1(kDefaultHookText), pnlHook);
    chkTxtScrolling = Check("chkTxtScrolling", QStringLiteral("Scrolling"), pnlHook);
    chkWaterMark = Check("chkWaterMark", QStringLiteral("WaterMark"), pnlHook);
    chkWaterMarkMode = Check("chkWaterMarkMode", QStringLiteral("Mode 0/1"), pnlHook);
    chkQuarnHookImg = Check("chkQuarnHookImg", QStringLiteral("DemoHook - Image"), pnlHook);
    chkQuarnHookTxt = Check("chkQuarnHookTxt", QStringLiteral("DemoHook - Text"), pnlHook);
    edtQuarnHookTxt = Edit("edtQuarnHookTxt", QString::fromLatin1(kDefaultHookText), pnlHook);
    Hooks->addWidget(chkImlib2Img, 0, 0);
    Hooks->addWidget(chkImgDancing, 0, 2);
    Hooks->addWidget(chkImlib2Txt, 1, 0);
    Hooks->addWidget(edtImlib2Txt, 1, 1);
    Hooks->addWidget(chkTxtScrolling, 1, 2);
    Hooks->addWidget(chkWaterMark, 2, 0);
    Hooks->addWidget(chkWaterMarkMode, 2, 2);
    Hooks->addWidget(chkQuarnHookImg, 3, 0);
    Hooks->addWidget(chkQuarnHookTxt, 4, 0);
    Hooks->addWidget(edtQuarnHookTxt, 4, 1);

    rdoStandardHook =
        Named(new QRadioButton(QStringLiteral("Standard Hook Behavior"), pnlHook), "rdoStandardHook");
    rdoBeforeHook =
        Named(new QRadioButton(QStringLiteral("Enable BeforeHook Event"), pnlHook), "rdoBeforeHook");
    rdoPTSs = Named(new QRadioButton(QStringLiteral("PTS Periods"), pnlHook), "rdoPTSs");
    auto* Behaviour = new QButtonGroup(pnlHook);
    Behaviour->addButton(rdoStandardHook);
    Behaviour->addButton(rdoBeforeHook);
    Behaviour->addButton(rdoPTSs);
    rdoStandardHook->setChecked(true);
    edtPTSs = Edit("edtPTSs", QStringLiteral("0-5000,10000-15000"), pnlHook);
    edtPTSs->setMinimumWidth(140);
    btnPTSs = Named(new QPushButton(QStringLiteral("?"), pnlHook), "btnPTSs");
    btnPTSs->setMaximumWidth(28);
    connect(btnPTSs, &QPushButton::clicked, this, &TfrmOption::btnPTSsClick);
    Hooks->addWidget(rdoStandardHook, 5, 0, 1, 3);
    Hooks->addWidget(rdoBeforeHook, 6, 0, 1, 3);
    Hooks->addWidget(rdoPTSs, 7, 0);
    Hooks->addWidget(edtPTSs, 7, 1);
    Hooks->addWidget(btnPTSs, 7, 2, Qt::AlignLeft);
    Layout->addWidget(pnlHook);
    // Greyed-out boxes puzzle less when the folder they depend on is named.
    lblHookFolder = Named(new QLabel(grpVideoHook), "lblHookFolder");
    lblHookFolder->setWordWrap(true);
    Layout->addWidget(lblHookFolder);
    Layout->addWidget(rdoCustomHook);
    Layout->addStretch();

    for (QCheckBox* Box : {chkImlib2Img, chkImlib2Txt, chkWaterMark, chkQuarnHookImg, chkQuarnHookTxt})
        connect(Box, &QCheckBox::toggled, this, &TfrmOption::DoUpdateHook);
    for (QRadioButton* Radio : {rdoExternalHook, rdoCustomHook, rdoStandardHook, rdoBeforeHook, rdoPTSs})
        connect(Radio, &QRadioButton::toggled, this, &TfrmOption::DoUpdateHook);
    return grpVideoHook;
}

void TfrmOption::SetProbe(TCustomAVProbe* Probe) {
    FPendingPreview.stop();
    imgPreview->Clear();
    FActualSize = QImage();
    FProbe = Probe;
    const bool Loaded = Probe && Probe->Loaded();
    FVideoStream = Loaded && Probe->VideoStreamCount() > 0 ? Probe->FirstVideoStreamIndex() : -1;
    // Read once, before the frame reader moves through the file: telling an MPEG stream's sound
    // apart reads some of its packets.
    FSource = Loaded ? SourceInfoOf(*Probe) : TSourceInfo{};
    FDuration = FSource.Duration;
    SetupTrackBar();
    UpdatePreview();
    QString Info = Loaded ? Q(Probe->GetFileInfoText()) : QString();
    Info.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    mmoAVFileInfo->setPlainText(Info);
    UpdateFormatSummary();
}

void TfrmOption::SetBuildContext(const TBuildContext& Context) {
    FContext = Context;
    DoUpdateHook();
}

void TfrmOption::SetRemainingFiles(int Count) {
    FRemaining = Count > 0 ? Count : 0;
    // Alt+A ticks it: a long list is answered from the keyboard.
    chkApplyRemaining->setText(QStringLiteral("&Apply to the remaining %1 %2")
                                   .arg(FRemaining)
                                   .arg(FRemaining == 1 ? "file" : "files"));
    chkApplyRemaining->setChecked(false);
    chkApplyRemaining->setVisible(FRemaining > 0);
}

bool TfrmOption::ApplyToRemaining() const {
    return FRemaining > 0 && chkApplyRemaining->isChecked();
}

void TfrmOption::SetFileSystemTypeQuery(TFileSystemTypeQuery Query) {
    FFileSystemType = std::move(Query);
}

TConversionRequest TfrmOption::Choices() const {
    TConversionRequest C;
    C.Format = S(grpFormats->ItemText());
    C.KeepVideo = true;
    auto Chosen = [](const TRadioGroup* Group) { return std::max(Group->ItemIndex(), 0); };
    if (const int32_t Rate = kSampleRates[Chosen(grpAudioSampleRate)]) C.Rate = Rate;
    if (chkAudioVolume->isChecked()) C.Volume = StrToIntDef(S(edtAudioVolume->text()), -1);
    if (grpAudioChannels->ItemIndex() > 0) C.Channels = grpAudioChannels->ItemIndex();
    if (chkAudioBitRate->isChecked()) C.Bitrate = StrToIntDef(S(edtAudioBitRate->text()), 64);
    if (chkCutClip->isEnabled() && chkCutClip->isChecked() &&
        CutClipUsable(trcPreview->SelStart(), trcPreview->SelEnd()))
        C.Cut = TCutRequest{MarkMs(trcPreview->SelStart(), FStep), MarkMs(trcPreview->SelEnd(), FStep)};
    C.CopyTimestamp = chkCopyTimestamp->isChecked();
    C.Overwrite = chkOverwrite->isChecked();
    C.NoTags = C.NoCover = !chkKeepTags->isChecked();
    C.Reencode = !chkCopySound->isChecked();
    if (chkNameFromTags->isChecked()) {
        std::string Error;
        C.Name = ParseNameTemplate(S(edtNameTemplate->text()), Error);
    }
    if (rdoReplayGainTrack->isChecked()) C.ReplayGain = TReplayGainMode::Track;
    if (rdoReplayGainAlbum->isChecked()) C.ReplayGain = TReplayGainMode::Album;
    // The sound is not measured for tags the format cannot keep.
    if (C.ReplayGain && !KeepsReplayGain(C.Format)) C.ReplayGain.reset();
    if (edtOutPath->text() != QString::fromLatin1(kSameAsInput))
        C.OutputFolder = edtOutPath->text().toStdU16String();

    C.FrameSize = kFrameSizes[std::max(cboFrameSize->currentIndex(), 0)].Size;
    C.FrameRate = kFrameRates[Chosen(grpFrameRate)];
    C.AspectRatio = kAspectRatios[Chosen(grpAspectRatio)];
    C.VideoCodec = kVideoEncoders[Chosen(grpVideoCodec)].Encoder;
    C.VideoTag = kVideoEncoders[Chosen(grpVideoCodec)].Tag;
    // Ogg and Wma write their own audio codecs whatever encoder is picked here.
    if (const TSoundFormat* Format = FindSoundFormat(C.Format); !Format || !Format->AudioCodec)
        C.Codec = kAudioEncoders[Chosen(grpAudioCodec)].Encoder;
    if (chkVideoBitRate->isChecked()) C.VideoBitrate = StrToIntDef(S(edtVideoBitRate->text()), 200);
    auto Sides = [](const std::array<QLineEdit*, 4>& Edits) {
        std::array<int32_t, 4> Values{};
        for (size_t I = 0; I < Edits.size(); ++I) Values[I] = StrToIntDef(S(Edits[I]->text()), 0);
        return Values;
    };
    if (chkCrop->isChecked()) C.Crop = Sides(edtCrop);
    if (chkPad->isChecked()) C.Pad = Sides(edtPad);
    auto Filter = [&C](bool Checked, const std::string& Item) {
        if (Checked) C.VideoFilters.push_back(Item);
    };
    Filter(chkVertFlip->isChecked(), "vflip");
    Filter(chkHoriFlip->isChecked(), "hflip");
    Filter(chkNegate->isChecked(), "negate");
    const std::string Scale = Trim(S(edtScale->text())), SetPTS = Trim(S(edtSetPTS->text()));
    Filter(chkScale->isChecked() && !Scale.empty(), "scale=" + Scale);
    Filter(chkRotate->isChecked(), "rotate=" + std::to_string(StrToIntDef(Trim(S(edtRotate->text())), 45)));
    Filter(chkSetPTS->isChecked() && !SetPTS.empty(), "setpts=" + SetPTS);

    THookRequest& H = C.Hooks;
    H.External = rdoExternalHook->isChecked();
    H.Imlib2Image = chkImlib2Img->isChecked();
    H.Dancing = chkImgDancing->isChecked();
    H.Imlib2Text = chkImlib2Txt->isChecked();
    H.Imlib2TextEdit = HookText(edtImlib2Txt);
    H.Scrolling = chkTxtScrolling->isChecked();
    H.WaterMark = chkWaterMark->isChecked();
    H.WaterMarkMode = chkWaterMarkMode->isChecked();
    H.DemoImage = chkQuarnHookImg->isChecked();
    H.DemoText = chkQuarnHookTxt->isChecked();
    H.DemoTextEdit = HookText(edtQuarnHookTxt);
    H.Behaviour = rdoBeforeHook->isChecked() ? hbBeforeHook
                  : rdoPTSs->isChecked()     ? hbPTSPeriods
                                             : hbStandard;
    H.PTSPeriods = S(edtPTSs->text());
    return C;
}

const TSourceInfo& TfrmOption::Source() const {
    return FSource;
}

TConversionRequest TfrmOption::Request() {
    const TConversionRequest C = Choices();
    // The text lines written show in their edits as they were used: trimmed, an empty one filled.
    const THookAvailability A = HookAvailability(C.Hooks, FContext);
    if (C.Hooks.External && C.Hooks.Imlib2Text && A.Imlib2Text)
        edtImlib2Txt->setText(Q(C.Hooks.Imlib2TextEdit));
    if (C.Hooks.External && C.Hooks.DemoText && A.DemoHookText)
        edtQuarnHookTxt->setText(Q(C.Hooks.DemoTextEdit));
    return C;
}

TOutputOptions TfrmOption::GetOutputOptions() {
    return BuildTaskRecords(Request(), FSource, FContext).Out;
}

TInputOptions TfrmOption::GetInputOptions() {
    return BuildInputOptions(Choices(), FSource);
}

void TfrmOption::DoUpdateHook() {
    if (!FBuilt) return;
    const THookAvailability A = HookAvailability(Choices().Hooks, FContext);
    const std::u16string Folder = FContext.HookFolder.empty() ? DefaultHookFolder() : FContext.HookFolder;
    lblHookFolder->setText(
        QStringLiteral("Hook modules are looked up in %1").arg(QString::fromStdU16String(Folder)));
    chkImlib2Img->setEnabled(A.Imlib2Image);
    chkImgDancing->setEnabled(A.Dancing);
    chkImlib2Txt->setEnabled(A.Imlib2Text);
    edtImlib2Txt->setEnabled(A.Imlib2TextEdit);
    chkTxtScrolling->setEnabled(A.Scrolling);
    chkWaterMark->setEnabled(A.WaterMark);
    chkWaterMarkMode->setEnabled(A.WaterMarkMode);
    chkQuarnHookImg->setEnabled(A.DemoHookImage);
    chkQuarnHookTxt->setEnabled(A.DemoHookText);
    edtQuarnHookTxt->setEnabled(A.DemoHookTextEdit);
    rdoStandardHook->setEnabled(A.Behaviour);
    rdoBeforeHook->setEnabled(A.Behaviour);
    rdoPTSs->setEnabled(A.Behaviour);
    edtPTSs->setEnabled(A.PTSPeriodsEdit);
}

void TfrmOption::UpdateFormatSummary() {
    if (!FBuilt) return;
    const TConversionRequest C = Choices();
    const TSoundCopyDecision Sound = SoundCopyFor(C, FSource);
    std::string Summary = FormatSummary(C.Format, FSource.HasVideo);
    if (!C.Reencode && Sound.Copy)
        Summary += Summary.empty() ? "sound copied unchanged" : "; sound copied unchanged";
    lblFormatSummary->setText(Q(Summary));
    // Unchecked, a copy the format would allow is still worth knowing about.
    lblSoundCopy->setText(
        Q(!C.Reencode || !Sound.Copy ? Sound.Text() : "encoded: copying is off (" + Sound.Why + ")"));
    UpdateNameExample();
}

void TfrmOption::UpdateNameExample() {
    if (!FBuilt) return;
    const TConversionRequest C = Choices();
    QString Example;
    std::string Error;
    if (C.Name && !FSource.FileName.empty())
        Example =
            QStringLiteral("This file: %1").arg(Q(RelativeNameFromTags(C, FSource) + FormatSuffix(C.Format)));
    else if (chkNameFromTags->isChecked() && !ParseNameTemplate(S(edtNameTemplate->text()), Error))
        Example = Q(Error);
    lblNameExample->setText(Example);
    lblReplayGain->setText(
        !rdoReplayGainOff->isChecked() && !C.ReplayGain
            ? QStringLiteral("%1 files keep no ReplayGain tags: none are written").arg(Q(LowerCase(C.Format)))
            : QString());
}

void TfrmOption::showEvent(QShowEvent* Event) {
    QDialog::showEvent(Event);
    if (Event->spontaneous()) return;
    DoUpdateHook();
    chkApplyRemaining->setChecked(false);
    if (QRadioButton* Selected = grpFormats->Button(grpFormats->ItemIndex()))
        if (Selected->isEnabled() && Selected->isVisibleTo(this)) Selected->setFocus();
}

void TfrmOption::hideEvent(QHideEvent* Event) {
    QDialog::hideEvent(Event);
    if (Event->spontaneous()) return;
    // No picture is decoded for a hidden dialog; the marks stay for the records built after OK.
    FPendingPreview.stop();
    FUpdating = true;
    trcPreview->setMaximum(0);
    FUpdating = false;
}

void TfrmOption::done(int Result) {
    if (Result == QDialog::Accepted && !CanCloseWithOk()) return;
    QDialog::done(Result);
}

bool TfrmOption::IsOnCdRom(const QString& Folder) const {
    return !Folder.isEmpty() && FFileSystemType && IsCdRomFileSystem(FFileSystemType(Folder));
}

bool TfrmOption::CanCloseWithOk() {
    std::string Error;
    if (chkNameFromTags->isChecked() && !ParseNameTemplate(S(edtNameTemplate->text()), Error)) {
        ShowInformation(QString::fromLatin1(kApplicationTitle), Q(Error));
        tabPages->setCurrentIndex(0);
        edtNameTemplate->setFocus();
        return false;
    }
    const std::u16string Source = FProbe && FProbe->Loaded() ? FProbe->GetFileName() : std::u16string();
    const QString Folder =
        QString::fromStdU16String(OutputFolderToCheck(edtOutPath->text().toStdU16String(), Source));
    if (!IsOnCdRom(Folder)) return true;
    ShowInformation(QString::fromLatin1(kApplicationTitle),
                    QStringLiteral("Input folder is located in CD-ROM, please select output folder."));
    tabPages->setCurrentIndex(0);
    btnOutPath->setFocus();
    return false;
}

void TfrmOption::ShowInformation(const QString& Caption, const QString& Text) {
    QMessageBox Box(QMessageBox::Information, Caption, Text, QMessageBox::Ok, this);
    Box.setObjectName(QStringLiteral("msgInformation"));
    Box.exec();
}

void TfrmOption::btnOutPathClick() {
    const std::u16string Source = FProbe && FProbe->Loaded() ? FProbe->GetFileName() : std::u16string();
    const std::u16string Start =
        BrowseStartFolder(edtOutPath->text().toStdU16String(), Source,
                          [](const std::u16string& Folder) { return DirectoryExistsW(Folder); });
    const QString Chosen = QFileDialog::getExistingDirectory(this, QStringLiteral("Select Output Folder"),
                                                             QString::fromStdU16String(Start));
    if (Chosen.isEmpty()) return;
    const QString Folder = QString::fromStdU16String(WithTrailingDelimiter(Chosen.toStdU16String()));
    if (IsOnCdRom(Folder)) {
        ShowInformation(QString::fromLatin1(kApplicationTitle),
                        QStringLiteral("Output folder cannot be located in CD-ROM."));
        return;
    }
    edtOutPath->setText(Folder);
}

void TfrmOption::btnPTSsClick() {
    const QString Text =
        QStringLiteral("Enable Video Hook only in special periods, empty means whole duration enabled.\r\n") +
        QStringLiteral("format: [<pts1>-<pts2>[,pts3-pts4[,...]]]\r\n") +
        QStringLiteral("example: to process video hook only in pts periods 0-5,10-15 (seconds)\r\n") +
        QStringLiteral("         PTS Periosd(millisecond!!!) -> \"0-5000,10000-15000\"");
    ShowInformation(QStringLiteral("Video Hook PTS Periods"), Text);
}

void TfrmOption::SetupTrackBar() {
    const bool Sequence = FProbe && FProbe->Loaded() && SameText(FProbe->GetFormatName(), "image2");
    trcPreview->setVisible(!Sequence);
    FUpdating = true;
    trcPreview->SetSelStart(0);
    trcPreview->SetSelEnd(0);
    chkCutClip->setEnabled(false);
    chkCutClip->setChecked(false);
    edtStartTime->setText(QString::fromLatin1(kNotAvailable));
    edtEndTime->setText(QString::fromLatin1(kNotAvailable));
    if (Sequence) {
        FStep = 1;
        trcPreview->setRange(0, 0);
    } else {
        const TTrackBarSetup Setup = TrackBarSetup(FDuration, kPreviewTrackBarWidth);
        FStep = Setup.Step;
        trcPreview->setRange(0, Setup.Positions);
        trcPreview->setTickInterval(Setup.TickFrequency);
        trcPreview->setSingleStep(Setup.LineSize);
        trcPreview->setPageStep(Setup.PageSize);
        trcPreview->setValue(0);
    }
    FUpdating = false;
}

void TfrmOption::UpdatePreview() {
    if (FUpdating) return;
    FPendingPreview.stop();
    auto* Reader = dynamic_cast<TAVProbe*>(FProbe);
    if (Reader && Reader->Loaded() && FVideoStream >= 0) {
        const int64_t Time = PreviewSeekTime(trcPreview->value(), trcPreview->maximum(), FStep, FDuration);
        // A borrowed input refuses to seek or read; the preview then keeps what it shows.
        try {
            Reader->Seek(FVideoStream, Time);
            imgPreview->Draw(Reader->GetFrame(FVideoStream));
            FActualSize = ImageOf(Reader->GetLastFrame());
        } catch (const std::exception&) {
        }
    }
    lblPTS->setText(Q(PTSText(trcPreview->value(), FStep)));
}

void TfrmOption::trcPreviewChange(int Position) {
    if (FUpdating) return;
    lblPTS->setText(Q(PTSText(Position, FStep)));
    if (!FPendingPreview.isActive()) FPendingPreview.start();
}

void TfrmOption::UpdateCutClipEnabled() {
    const bool Usable = CutClipUsable(trcPreview->SelStart(), trcPreview->SelEnd());
    chkCutClip->setEnabled(Usable);
    // A mark set is the cut asked for: a tick left to remember would convert the whole file. Marks
    // that make no cut show none ticked.
    chkCutClip->setChecked(Usable);
}

void TfrmOption::btnStartTimeClick() {
    trcPreview->SetSelStart(trcPreview->value());
    edtStartTime->setText(Q(FormatSecondsMs(trcPreview->value() * FStep)));
    UpdateCutClipEnabled();
}

void TfrmOption::btnEndTimeClick() {
    trcPreview->SetSelEnd(trcPreview->value());
    edtEndTime->setText(Q(FormatSecondsMs(trcPreview->value() * FStep)));
    UpdateCutClipEnabled();
}

void TfrmOption::imgPreviewClick() {
    if (FActualSize.isNull()) return;
    auto* Window = new TActualSizeWindow(FActualSize, Q(FormatSecondsMs(trcPreview->value() * FStep)), this);
    Window->setObjectName(QStringLiteral("frmActualSize"));
    Window->exec();
}

}  // namespace zembra
