#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/FormatSummary.h"
#include "app/TrackBar.h"
#include "app/ui/ActualSizeWindow.h"
#include "app/ui/OptionDialog.h"
#include "app/ui/PreviewImage.h"
#include "app/ui/RadioGroup.h"
#include "app/ui/SelectionTrackBar.h"
#include "binding/FFmpegLoader.h"
#include "probe/AVProbe.h"
#include "tests/media/SampleClips.h"
#include "tests/media/TestMedia.h"
#include "tests/ui/TestApplication.h"
#include "tests/media/TestPattern.h"
#include "util/StringUtils.h"

namespace zembra::testing {
namespace {

namespace fs = std::filesystem;

// Every field of an output record, so that two records compare as text and a difference shows.
std::string Describe(const TOutputOptions& O) {
    std::ostringstream S;
    S << Utf16ToUtf8(O.FileName) << "|" << O.FileExt << "|" << O.ForceFormat << "|" << O.PacketSize << "|"
      << O.MuxRate << "|" << O.MuxDelay << "|" << O.MuxPreload << "|" << O.AudioCodec << "|" << O.AudioPreset
      << "|" << O.DisableAudio << "|" << O.AudioVolume << "|" << O.AudioChannels << "|" << O.AudioSampleRate
      << "|" << O.AudioBitrate << "|" << O.AudioBitrateTolerance << "|" << O.AudioLanguage << "|"
      << O.AudioSync << "|" << O.AudioTag << "|" << O.VideoCodec << "|" << O.VideoPreset << "|"
      << O.DisableVideo << "|" << O.FrameRate << "|" << O.FrameSize << "|" << O.FrameAspectRatio << "|"
      << O.CropTop << "|" << O.CropBottom << "|" << O.CropLeft << "|" << O.CropRight << "|" << O.PadTop << "|"
      << O.PadBottom << "|" << O.PadLeft << "|" << O.PadRight << "|" << O.PadColor << "|" << O.GopSize << "|"
      << O.VideoBitrate << "|" << O.VideoMaxRate << "|" << O.VideoMinRate << "|" << O.VideoBitrateTolerance
      << "|" << O.VideoBufferSize << "|" << O.VideoSync << "|" << O.VideoTag << "|" << O.VideoFilters << "|"
      << O.SubtitleCodec << "|" << O.SubtitlePreset << "|" << O.DisableSubtitle << "|" << O.SubtitleLanguage
      << "|" << O.CopyTimestamp << "|" << O.StartTimeMs << "|" << O.StartTime << "|" << O.RecordingTimeMs
      << "|" << O.RecordingTime << "|" << O.Metadata.TimeStamp << "|" << O.Metadata.Year << "|"
      << O.Metadata.Track << "|" << O.Metadata.Title << "|" << O.Metadata.Author << "|"
      << O.Metadata.Copyright << "|" << O.Metadata.Comment << "|" << O.Metadata.Album << "|"
      << O.Metadata.Genre << "|" << O.Target << "|" << O.TargetNorm << "|" << O.TargetDefaultNorm << "|"
      << O.CustomHook << "|" << O.BeforeHook << "|" << O.HookPTSPeriods << "|" << O.JoinFlag << "|"
      << O.OptionLines << "|" << O.Reserved1 << "|" << O.Reserved2;
    return S.str();
}

std::string Describe(const TInputOptions& I) {
    std::ostringstream S;
    S << Utf16ToUtf8(I.FileName) << "|" << I.ForceFormat << "|" << I.StartTimeMs << "|" << I.StartTime << "|"
      << I.ProgramId << "|" << I.OptionLines << "|" << I.Reserved1 << "|" << I.Reserved2;
    return S.str();
}

bool AllBlack(const QImage& Image) {
    for (int Y = 0; Y < Image.height(); ++Y)
        for (int X = 0; X < Image.width(); ++X)
            if (Image.pixel(X, Y) != qRgb(0, 0, 0)) return false;
    return true;
}

// The frame number the clip generator painted into a picture.
int FrameCounterOf(const QImage& Image) {
    const QImage Rgb = Image.convertToFormat(QImage::Format_RGB888);
    return testmedia::ReadFrameCounter(Rgb.constBits(), static_cast<int>(Rgb.bytesPerLine()), Rgb.width(),
                                       Rgb.height());
}

// Answers every message box the dialog opens, remembering caption and text.
class TBoxCatcher {
  public:
    TBoxCatcher() {
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            if (auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                Seen.push_back(Box->windowTitle().toStdString() + ": " + Box->text().toStdString());
                Box->accept();
            }
        });
        FTimer.start(10);
    }
    std::vector<std::string> Seen;

  private:
    QTimer FTimer;
};

class uiOptionDialog : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        testing::EnsureTestApplication();
        FFLoader().SetLibraryPath(DefaultLibraryFolder());
        LoadError() = FFLoader().LoadLibrarySet(kDefaultLibrarySet) ? "" : FFLoader().LastError();
    }

    void SetUp() override {
        ASSERT_EQ(LoadError(), "") << "the FFmpeg libraries did not load";
        const auto* Info = ::testing::UnitTest::GetInstance()->current_test_info();
        Folder = fs::temp_directory_path() /
                 ("zembra-dialog-" + std::to_string(::getpid()) + "-" + std::string(Info->name()));
        fs::remove_all(Folder);
        ASSERT_TRUE(fs::create_directories(Folder));
        Dialog = std::make_unique<TfrmOption>();
    }

    void TearDown() override {
        Dialog.reset();
        Probe.Close();
        std::error_code Ignored;
        fs::remove_all(Folder, Ignored);
    }

    std::string Write(testmedia::TClipSpec Spec) {
        const std::string Error = testmedia::WriteClip(Spec);
        EXPECT_EQ(Error, "") << Spec.Path;
        return Spec.Path;
    }

    std::string Sample(testmedia::TSampleKind Kind) {
        const std::string Path = (Folder / testmedia::SampleFileName(Kind)).string();
        Write(testmedia::SampleClip(Kind, Kind == testmedia::TSampleKind::Images ? Folder.string() : Path));
        return Path;
    }

    // An H.264 clip long enough that its middle is far from both ends, with a single key
    // picture: the middle must be decoded on from the start.
    std::string LongH264() {
        testmedia::TClipSpec Spec;
        Spec.Path = (Folder / "long.mp4").string();
        Spec.Container = "mp4";
        testmedia::TVideoSpec Video;
        Video.Encoder = "libx264";
        Video.FrameCount = 100;
        Video.Options = {{"preset", "ultrafast"}};
        Spec.Videos = {Video};
        return Write(Spec);
    }

    void Load(const std::string& Path, const std::string& Format = {}) {
        ASSERT_TRUE(Probe.LoadFile(Utf8ToUtf16(Path), Format)) << Probe.LastError();
        Dialog->SetProbe(&Probe);
    }

    template <typename T>
    T* Find(const char* Name) {
        T* W = Dialog->findChild<T*>(QString::fromLatin1(Name));
        EXPECT_NE(W, nullptr) << Name;
        return W;
    }
    QCheckBox* Box(const char* Name) { return Find<QCheckBox>(Name); }
    QLineEdit* Edit(const char* Name) { return Find<QLineEdit>(Name); }
    TSelectionTrackBar* TrackBar() { return Find<TSelectionTrackBar>("trcPreview"); }
    TPreviewImage* Preview() { return Find<TPreviewImage>("imgPreview"); }
    void SelectFormat(const char* Format) {
        auto* Group = Find<TRadioGroup>("grpFormats");
        for (int I = 0; I < Group->Count(); ++I)
            if (Group->Button(I)->text() == QString::fromLatin1(Format)) Group->SetItemIndex(I);
        ASSERT_EQ(Group->ItemText(), QString::fromLatin1(Format));
    }
    // Moves the track bar as the user does and lets the pending preview update run.
    void MoveTo(int Position) {
        TrackBar()->setValue(Position);
        QTest::qWait(120);
    }
    std::u16string Name(const std::string& File) const { return Utf8ToUtf16((Folder / File).string()); }

    static std::string& LoadError() {
        static std::string Error;
        return Error;
    }

    fs::path Folder;
    TAVProbe Probe;
    std::unique_ptr<TfrmOption> Dialog;
};

TEST_F(uiOptionDialog, FormDefaultsAndTheFormatRulesGiveTheRecords) {
    const std::string Source = Sample(testmedia::TSampleKind::Avi);
    Load(Source);
    EXPECT_EQ(Dialog->windowTitle(), "Output Options");
    EXPECT_TRUE(Find<QPlainTextEdit>("mmoAVFileInfo")->toPlainText().contains("Format Name: avi"));
    EXPECT_EQ(Edit("edtOutPath")->text(), "<same as input>");

    // Form defaults with "Mp3": only the file names, the suffix, the stamp, no subtitles, and the
    // lines that keep the source's tags and cover.
    TOutputOptions Want;
    Want.FileName = Name("sample_(new).mp3");
    Want.FileExt = ".mp3";
    Want.Metadata.TimeStamp = 0;
    Want.DisableSubtitle = true;
    Want.OptionLines = "map_meta_data=0:0\r\ncopy_cover=1\r\n";
    EXPECT_EQ(Describe(Dialog->GetOutputOptions()), Describe(Want));
    // Without "Keep tags and cover" the records are exactly the classic form's.
    Find<QCheckBox>("chkKeepTags")->setChecked(false);
    Want.OptionLines.clear();
    EXPECT_EQ(Describe(Dialog->GetOutputOptions()), Describe(Want));
    EXPECT_TRUE(Dialog->Choices().NoTags && Dialog->Choices().NoCover);
    Find<QCheckBox>("chkKeepTags")->setChecked(true);
    EXPECT_FALSE(Dialog->Choices().NoTags || Dialog->Choices().NoCover);
    TInputOptions WantInput;
    WantInput.FileName = Utf8ToUtf16(Source);
    WantInput.OptionLines = "vn=1";
    EXPECT_EQ(Describe(Dialog->GetInputOptions()), Describe(WantInput));

    // An audio encoder picked on the "Video" page is overruled by Ogg's and Wma's own codecs.
    Find<TRadioGroup>("grpAudioCodec")->SetItemIndex(4);  // "MP3"
    struct TCase {
        const char* Format;
        const char* VideoCodec;
        const char* AudioCodec;
        bool DisableVideo;
        const char* InputLines;
        const char* Summary;
    };
    const TCase Cases[] = {
        {"Ogg", "libtheora", "flac", false, "", "Ogg: Theora video + FLAC audio"},
        {"Wma", "", "wmav2", true, "vn=1", "Windows Media Audio 2 in ASF, video dropped"},
        {"M4a", "", "libmp3lame", false, "", "MPEG-4: H.264 video + AAC audio"},
        {"Flac", "", "libmp3lame", false, "", "FLAC lossless audio"},
        {"Au", "", "libmp3lame", false, "", "Sun AU: 16-bit PCM audio"},
        {"Ra", "", "libmp3lame", false, "", "RealMedia: RealVideo video + AC-3 audio"},
        {"Mp2", "", "libmp3lame", false, "vn=1", "MPEG audio layer II, video dropped"},
    };
    for (const TCase& C : Cases) {
        SelectFormat(C.Format);
        const TOutputOptions O = Dialog->GetOutputOptions();
        const TInputOptions I = Dialog->GetInputOptions();
        const std::string Suffix = "." + LowerCase(C.Format);
        EXPECT_EQ(O.FileName, Name("sample_(new)" + Suffix)) << C.Format;
        EXPECT_EQ(O.FileExt, Suffix) << C.Format;
        EXPECT_EQ(O.VideoCodec, C.VideoCodec) << C.Format;
        EXPECT_EQ(O.AudioCodec, C.AudioCodec) << C.Format;
        EXPECT_EQ(O.DisableVideo, C.DisableVideo) << C.Format;
        EXPECT_EQ(I.OptionLines, C.InputLines) << C.Format;
        EXPECT_EQ(Find<QLabel>("lblFormatSummary")->text().toStdString(), C.Summary) << C.Format;
        // The window builds the remaining files from the same values.
        EXPECT_EQ(Dialog->Choices().Format, C.Format);
    }
}

TEST_F(uiOptionDialog, EnablingRulesNumberingAndCropEdits) {
    Load(Sample(testmedia::TSampleKind::Avi));
    // Each check box enables exactly its own edits.
    const std::vector<std::pair<const char*, std::vector<const char*>>> Rules = {
        {"chkAudioVolume", {"edtAudioVolume"}},
        {"chkAudioBitRate", {"edtAudioBitRate"}},
        {"chkVideoBitRate", {"edtVideoBitRate"}},
        {"chkCrop", {"edtCropTop", "edtCropBottom", "edtCropLeft", "edtCropRight"}},
        {"chkPad", {"edtPadTop", "edtPadBottom", "edtPadLeft", "edtPadRight"}},
        {"chkScale", {"edtScale"}},
        {"chkRotate", {"edtRotate"}},
        {"chkSetPTS", {"edtSetPTS"}},
    };
    for (const auto& [Check, Edits] : Rules) {
        for (const char* E : Edits) EXPECT_FALSE(Edit(E)->isEnabled()) << E;
        Box(Check)->setChecked(true);
        for (const char* E : Edits) EXPECT_TRUE(Edit(E)->isEnabled()) << E;
    }
    Box("chkAudioVolume")->setChecked(false);
    EXPECT_FALSE(Edit("edtAudioVolume")->isEnabled());

    const std::string Crop[] = {"7", "x", "-3", "10"};
    const char* CropNames[] = {"edtCropTop", "edtCropBottom", "edtCropLeft", "edtCropRight"};
    for (int I = 0; I < 4; ++I) Edit(CropNames[I])->setText(QString::fromStdString(Crop[I]));
    Edit("edtRotate")->setText("abc");
    Edit("edtAudioBitRate")->setText("128");
    Find<TRadioGroup>("grpAudioChannels")->SetItemIndex(1);
    Find<TRadioGroup>("grpAudioSampleRate")->SetItemIndex(3);

    std::ofstream(Folder / "sample_(new).mp3") << "x";
    std::ofstream(Folder / "sample_(new_1).mp3") << "x";
    TOutputOptions O = Dialog->GetOutputOptions();
    EXPECT_EQ(O.FileName, Name("sample_(new_2).mp3"));
    EXPECT_EQ(O.CropTop, 6);
    EXPECT_EQ(O.CropBottom, 0);
    EXPECT_EQ(O.CropLeft, -2);
    EXPECT_EQ(O.CropRight, 10);
    EXPECT_EQ(O.PadTop, 0);
    EXPECT_EQ(O.PadColor, clBlack);
    EXPECT_EQ(O.VideoFilters, "scale=320:240,rotate=45,setpts=0.5*PTS");
    EXPECT_EQ(O.AudioBitrate, 128000);
    EXPECT_EQ(O.VideoBitrate, 200000);
    EXPECT_EQ(O.AudioVolume, -1);
    EXPECT_EQ(O.AudioChannels, 1);
    EXPECT_EQ(O.AudioSampleRate, 22050);

    Box("chkOverwrite")->setChecked(true);
    EXPECT_EQ(Dialog->GetOutputOptions().FileName, Name("sample_(new).mp3"));
    // A name another output of the batch holds is never taken, even when overwriting.
    TBuildContext Context;
    Context.Reserved = [this](const std::u16string& N) { return N == Name("sample_(new).mp3"); };
    Dialog->SetBuildContext(Context);
    EXPECT_EQ(Dialog->GetOutputOptions().FileName, Name("sample_(new_1).mp3"));

    // "Apply to the remaining N files" shows only with files waiting, unchecked at each showing.
    auto* Apply = Box("chkApplyRemaining");
    Dialog->SetRemainingFiles(0);
    EXPECT_FALSE(Apply->isVisibleTo(Dialog.get()));
    Dialog->SetRemainingFiles(3);
    EXPECT_TRUE(Apply->isVisibleTo(Dialog.get()));
    EXPECT_EQ(Apply->text(), "&Apply to the remaining 3 files");
    Dialog->SetRemainingFiles(1);
    EXPECT_EQ(Apply->text(), "&Apply to the remaining 1 file");
    Dialog->show();
    Apply->setChecked(true);
    EXPECT_TRUE(Dialog->ApplyToRemaining());
    Dialog->hide();
    Dialog->show();
    EXPECT_FALSE(Dialog->ApplyToRemaining());
    Dialog->hide();
    // The settings outlive the showing.
    EXPECT_TRUE(Box("chkCrop")->isChecked());
    EXPECT_EQ(Edit("edtCropTop")->text(), "7");
}

TEST_F(uiOptionDialog, CutMarksThroughTheTrackBarGiveStartAndLength) {
    Load(Sample(testmedia::TSampleKind::Avi));
    auto* Bar = TrackBar();
    auto* Cut = Box("chkCutClip");
    TFileStreamInfo File;
    ASSERT_TRUE(Probe.GetFileStreamInfo(File));
    const TTrackBarSetup Setup = TrackBarSetup(File.Duration);
    EXPECT_EQ(Bar->maximum(), Setup.Positions);
    EXPECT_EQ(Bar->tickInterval(), Setup.TickFrequency);
    EXPECT_EQ(Bar->singleStep(), Setup.LineSize);
    EXPECT_EQ(Bar->pageStep(), Setup.PageSize);
    EXPECT_EQ(Dialog->Step(), Setup.Step);
    EXPECT_EQ(Edit("edtStartTime")->text(), "N/A");
    EXPECT_EQ(Edit("edtEndTime")->text(), "N/A");
    EXPECT_FALSE(Cut->isEnabled());

    const int Quarter = Bar->maximum() / 4;
    const int64_t Step = Dialog->Step();
    // End before start: "Cut Clip" stays disabled and no cut is applied.
    MoveTo(Quarter);
    Find<QPushButton>("btnEndTime")->click();
    MoveTo(3 * Quarter);
    Find<QPushButton>("btnStartTime")->click();
    EXPECT_FALSE(Cut->isEnabled());
    EXPECT_FALSE(Cut->isChecked());
    EXPECT_EQ(Dialog->GetInputOptions().StartTimeMs, -1);

    Find<QPushButton>("btnEndTime")->click();  // end = start: still nothing
    EXPECT_FALSE(Cut->isEnabled());
    EXPECT_FALSE(Cut->isChecked());
    MoveTo(Quarter);
    Find<QPushButton>("btnStartTime")->click();
    MoveTo(3 * Quarter);
    Find<QPushButton>("btnEndTime")->click();
    // Both marks set are the cut asked for: ticked without a further click.
    EXPECT_TRUE(Cut->isEnabled());
    EXPECT_TRUE(Cut->isChecked());
    EXPECT_EQ(Edit("edtStartTime")->text().toStdString(), FormatSecondsMs(Quarter * Step));
    EXPECT_EQ(Edit("edtEndTime")->text().toStdString(), FormatSecondsMs(3 * Quarter * Step));
    EXPECT_EQ(Find<QLabel>("lblPTS")->text().toStdString(), PTSText(3 * Quarter, Step));
    // The user's untick is kept until a mark is set again.
    Cut->setChecked(false);
    EXPECT_EQ(Dialog->GetOutputOptions().RecordingTimeMs, -1);
    Find<QPushButton>("btnEndTime")->click();
    EXPECT_TRUE(Cut->isChecked());

    // OK hides the dialog before the records are built; the marks survive that.
    Dialog->show();
    Dialog->accept();
    EXPECT_EQ(Bar->maximum(), 0);
    const int64_t StartMs = Quarter * Step / 1000, EndMs = 3 * Quarter * Step / 1000;
    EXPECT_EQ(Dialog->GetOutputOptions().RecordingTimeMs, EndMs - StartMs);
    EXPECT_EQ(Dialog->GetInputOptions().StartTimeMs, StartMs);

    // A new source resets the marks and "Cut Clip".
    Load(Sample(testmedia::TSampleKind::Wav));
    EXPECT_FALSE(Cut->isEnabled());
    EXPECT_FALSE(Cut->isChecked());
    EXPECT_EQ(Edit("edtStartTime")->text(), "N/A");
    EXPECT_EQ(Dialog->GetInputOptions().StartTimeMs, -1);
}

TEST_F(uiOptionDialog, PreviewShowsTheReadersPictureAndOnlyWhereThereIsOne) {
    Load(LongH264());
    auto* Bar = TrackBar();
    EXPECT_FALSE(AllBlack(Preview()->Image())) << Probe.LastError();
    const int Half = Bar->maximum() / 2;
    // A drag over many positions decodes once, for the last one.
    for (int P = 1; P <= Half; P += Half / 20) Bar->setValue(P);
    MoveTo(Half);
    EXPECT_EQ(Find<QLabel>("lblPTS")->text().toStdString(), PTSText(Half, Dialog->Step()));
    ASSERT_FALSE(AllBlack(Preview()->Image()));

    // The frame reader's own picture there, on a probe of its own.
    TAVProbe Reader;
    ASSERT_TRUE(Reader.LoadFile(Probe.GetFileName()));
    ASSERT_TRUE(Reader.Seek(Reader.FirstVideoStreamIndex(), Half * Dialog->Step()));
    const QImage Expected = ImageOf(Reader.GetFrame(Reader.FirstVideoStreamIndex()));
    ASSERT_FALSE(Expected.isNull());
    const int Counter = FrameCounterOf(Expected);
    EXPECT_EQ(Counter, static_cast<int>(Half * Dialog->Step() * 25 / 1000000));

    // The actual-size window holds that picture, titled with its size and time, and Escape
    // closes it.
    std::string Title;
    int ShownCounter = -1;
    QTimer::singleShot(50, [&] {
        QWidget* Window = QApplication::activeModalWidget();
        if (!Window) return;
        Title = Window->windowTitle().toStdString();
        if (auto* Picture = Window->findChild<QLabel*>())
            ShownCounter = FrameCounterOf(Picture->pixmap().toImage());
        QTest::keyClick(Window, Qt::Key_Escape);
    });
    QTest::mouseClick(Preview(), Qt::LeftButton);
    EXPECT_EQ(Title, "160x120 PTS: " + FormatSecondsMs(Half * Dialog->Step()));
    EXPECT_EQ(ShownCounter, Counter);
    // The preview shows the same picture scaled into its area.
    EXPECT_EQ(FrameCounterOf(Preview()->Image().copy(13, 0, 194, 145).scaled(160, 120)), Counter);

    // A source without video: the track bar and its time work, the preview stays black and a
    // click shows nothing.
    Load(Sample(testmedia::TSampleKind::Wav));
    EXPECT_TRUE(AllBlack(Preview()->Image()));
    EXPECT_GT(Bar->maximum(), 0);
    MoveTo(Bar->maximum() / 2);
    EXPECT_EQ(Find<QLabel>("lblPTS")->text().toStdString(), PTSText(Bar->maximum() / 2, Dialog->Step()));
    EXPECT_TRUE(AllBlack(Preview()->Image()));
    bool Opened = false;
    QTimer::singleShot(50, [&] {
        if (QWidget* Window = QApplication::activeModalWidget()) {
            Opened = true;
            Window->close();
        }
    });
    QTest::mouseClick(Preview(), Qt::LeftButton);
    QTest::qWait(80);
    EXPECT_FALSE(Opened);

    // A picture sequence: no slider, "N/A" and no cut, but its picture.
    Load(Sample(testmedia::TSampleKind::Images), "image2");
    EXPECT_FALSE(Bar->isVisibleTo(Dialog.get()));
    EXPECT_EQ(Bar->maximum(), 0);
    EXPECT_EQ(Edit("edtStartTime")->text(), "N/A");
    EXPECT_FALSE(Box("chkCutClip")->isEnabled());
    EXPECT_FALSE(AllBlack(Preview()->Image()));
    // Back to a video: the slider returns.
    Load(Sample(testmedia::TSampleKind::Avi));
    EXPECT_TRUE(Bar->isVisibleTo(Dialog.get()));
}

// The sample film's sound is MP3: the box copies it into mp3 as long as no sound setting asks
// for decoding, and the dialog says why either way.
TEST_F(uiOptionDialog, TheSoundCopyBoxCopiesWhereTheFormatHoldsTheSource) {
    Load(Sample(testmedia::TSampleKind::Avi));
    auto* Copy = Box("chkCopySound");
    EXPECT_EQ(Copy->text(), "Copy the sound unchanged when the format allows (faster, no quality loss)");
    EXPECT_FALSE(Copy->isChecked());
    auto* Summary = Find<QLabel>("lblFormatSummary");
    auto* Reason = Find<QLabel>("lblSoundCopy");
    const auto Copies = [this] {
        return Dialog->GetOutputOptions().OptionLines.find("acodec=copy\r\n") != std::string::npos;
    };

    struct TStep {
        std::function<void()> Act;
        bool Copied;
        const char* Summary;
        const char* Reason;
    };
    const TStep Steps[] = {
        {[] {}, false, "MP3 audio (LAME), video dropped", "encoded: copying is off (MP3 fits in mp3)"},
        {[&] { Copy->setChecked(true); }, true, "MP3 audio (LAME), video dropped; sound copied unchanged",
         "copied: MP3 fits in mp3"},
        {[&] { Box("chkAudioVolume")->setChecked(true); }, true,
         "MP3 audio (LAME), video dropped; sound copied unchanged", "copied: MP3 fits in mp3"},  // 256
        {[&] { Edit("edtAudioVolume")->setText("300"); }, false, "MP3 audio (LAME), video dropped",
         "encoded: volume set"},
        {[&] { Box("chkAudioVolume")->setChecked(false); }, true,
         "MP3 audio (LAME), video dropped; sound copied unchanged", "copied: MP3 fits in mp3"},
        {[&] { Find<TRadioGroup>("grpAudioSampleRate")->SetItemIndex(1); }, false,
         "MP3 audio (LAME), video dropped", "encoded: sample rate set"},
        {[&] { Find<TRadioGroup>("grpAudioSampleRate")->SetItemIndex(0); }, true,
         "MP3 audio (LAME), video dropped; sound copied unchanged", "copied: MP3 fits in mp3"},
        {[&] { Box("chkAudioBitRate")->setChecked(true); }, false, "MP3 audio (LAME), video dropped",
         "encoded: bit rate set"},
        {[&] { Box("chkAudioBitRate")->setChecked(false); }, true,
         "MP3 audio (LAME), video dropped; sound copied unchanged", "copied: MP3 fits in mp3"},
        {[&] { Find<TRadioGroup>("grpAudioCodec")->SetItemIndex(4); }, true,  // "MP3": the source's own
         "MP3 audio (LAME), video dropped; sound copied unchanged", "copied: MP3 fits in mp3"},
        {[&] { Find<TRadioGroup>("grpAudioCodec")->SetItemIndex(3); }, false,
         "MP3 audio (LAME), video dropped", "encoded: encoder flac chosen"},
        {[&] { SelectFormat("Ogg"); }, false, "Ogg: Theora video + FLAC audio",
         "encoded: MP3 does not fit in ogg"},
        {[&] { Copy->setChecked(false); }, false, "Ogg: Theora video + FLAC audio",
         "encoded: MP3 does not fit in ogg"},
    };
    for (size_t I = 0; I < std::size(Steps); ++I) {
        SCOPED_TRACE("step " + std::to_string(I));
        Steps[I].Act();
        EXPECT_EQ(Copies(), Steps[I].Copied);
        EXPECT_EQ(Summary->text().toStdString(), Steps[I].Summary);
        EXPECT_EQ(Reason->text().toStdString(), Steps[I].Reason);
    }
}

// A tagged song without video: the template's live example follows the box, the template, the
// format and the output folder, a template that names nothing keeps OK from closing, and the
// ReplayGain choice reaches the records only for formats that keep the tags.
TEST_F(uiOptionDialog, NamesFromTagsReplayGainAndTheLineForASongWithoutVideo) {
    testmedia::TClipSpec Spec;
    Spec.Path = (Folder / "song.flac").string();
    testmedia::TAudioSpec Audio;
    Audio.Encoder = "flac";
    Audio.Duration = 0.3;
    Spec.Audios.push_back(Audio);
    Spec.Metadata = {{"album_artist", "Nina"}, {"album", "Blue/Green"}, {"title", "Rain"}, {"track", "3/12"}};
    Load(Write(Spec));
    auto* Names = Box("chkNameFromTags");
    auto* Template = Edit("edtNameTemplate");
    auto* Example = Find<QLabel>("lblNameExample");
    EXPECT_EQ(Names->text(), "Name outputs from &tags");
    EXPECT_FALSE(Names->isChecked());
    EXPECT_FALSE(Template->isEnabled());
    EXPECT_EQ(Template->text(), "{albumartist}/{album}/{track:02} {title}");
    EXPECT_EQ(Example->text(), "");
    EXPECT_FALSE(Dialog->Choices().Name.has_value());

    struct TStep {
        std::function<void()> Act;
        const char* Example;
        const char* Summary;
    };
    const TStep Steps[] = {
        {[&] { Names->setChecked(true); }, "This file: Nina/Blue-Green/03 Rain.mp3", "MP3 audio (LAME)"},
        {[&] { SelectFormat("M4a"); }, "This file: Nina/Blue-Green/03 Rain.m4a", "MPEG-4: AAC audio"},
        {[&] { SelectFormat("Ogg"); }, "This file: Nina/Blue-Green/03 Rain.ogg", "Ogg: FLAC audio"},
        {[&] { SelectFormat("Ra"); }, "This file: Nina/Blue-Green/03 Rain.ra", "RealMedia: AC-3 audio"},
        {[&] { Template->setText("{track} - {name}"); }, "This file: 3 - song.ra", "RealMedia: AC-3 audio"},
        {[&] { Template->setText("{artst}"); }, "", "RealMedia: AC-3 audio"},
        {[&] { Names->setChecked(false); }, "", "RealMedia: AC-3 audio"},
    };
    for (size_t I = 0; I < std::size(Steps); ++I) {
        SCOPED_TRACE("step " + std::to_string(I));
        Steps[I].Act();
        if (*Steps[I].Example) {
            EXPECT_EQ(Example->text().toStdString(), Steps[I].Example);
        }
        EXPECT_EQ(Find<QLabel>("lblFormatSummary")->text().toStdString(), Steps[I].Summary);
    }
    // A template that names nothing says why, and OK keeps the dialog open.
    Names->setChecked(true);
    EXPECT_TRUE(Example->text().startsWith("name template '{artst}': unknown field {artst}"))
        << Example->text().toStdString();
    EXPECT_FALSE(Dialog->Choices().Name.has_value());
    {
        TBoxCatcher Boxes;
        Dialog->show();
        Find<QPushButton>("btnOk")->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !Boxes.Seen.empty(); }, 10000));
        EXPECT_TRUE(Dialog->isVisible());
        EXPECT_EQ(Boxes.Seen[0].rfind("Zembra: name template '{artst}'", 0), 0u) << Boxes.Seen[0];
        Dialog->reject();
    }

    // The records name the output as the example does, beside the source.
    Template->setText("{albumartist}/{album}/{track:02} {title}");
    SelectFormat("Mp3");
    const TOutputOptions Named = Dialog->GetOutputOptions();
    EXPECT_EQ(Named.FileName, Utf8ToUtf16(Folder.string() + "/Nina/Blue-Green/03 Rain.mp3"));
    EXPECT_EQ(Named.OptionLines.find("replaygain=1"), std::string::npos);

    auto* Note = Find<QLabel>("lblReplayGain");
    Find<QRadioButton>("rdoReplayGainAlbum")->setChecked(true);
    EXPECT_EQ(Dialog->Choices().ReplayGain, TReplayGainMode::Album);
    EXPECT_NE(Dialog->GetOutputOptions().OptionLines.find("replaygain=1\r\n"), std::string::npos);
    EXPECT_EQ(Note->text(), "");
    SelectFormat("Wav");
    EXPECT_FALSE(Dialog->Choices().ReplayGain.has_value());
    EXPECT_EQ(Dialog->GetOutputOptions().OptionLines.find("replaygain"), std::string::npos);
    EXPECT_EQ(Note->text(), "wav files keep no ReplayGain tags: none are written");
    SelectFormat("Flac");
    Find<QRadioButton>("rdoReplayGainTrack")->setChecked(true);
    EXPECT_EQ(Dialog->Choices().ReplayGain, TReplayGainMode::Track);
    EXPECT_EQ(Note->text(), "");
}

// The manual's table of formats quotes the dialog's line for a film and for a song, format by
// format, so that neither can say something the other does not.
TEST(uiOptionDialogManual, TheFormatTableQuotesTheDialogsLines) {
    QFile Page(QString::fromStdString(fs::read_symlink("/proc/self/exe").parent_path().string()) +
               "/help/formats.htm");
    ASSERT_TRUE(Page.open(QIODevice::ReadOnly));
    const QString Text = QString::fromUtf8(Page.readAll());
    const QRegularExpression Row("<tr><td>(\\w+)</td><td>.*?</td><td>(.*?)</td></tr>",
                                 QRegularExpression::DotMatchesEverythingOption);
    std::map<std::string, std::string> Quoted;
    for (auto It = Row.globalMatch(Text); It.hasNext();) {
        const QRegularExpressionMatch M = It.next();
        Quoted[M.captured(1).toStdString()] = M.captured(2).toStdString();
    }
    EXPECT_EQ(Quoted.size(), kOutputFormats.size());
    for (const char* Format : kOutputFormats) {
        const std::string Film = FormatSummary(Format, true), Song = FormatSummary(Format, false);
        EXPECT_EQ(Quoted[Format], Film == Song ? Film : Film + " / " + Song) << Format;
        // Only the formats that keep a film's video name one, and never for a song.
        EXPECT_EQ(Song.find("video"), std::string::npos) << Format;
    }
}

TEST_F(uiOptionDialog, HookBoxesFollowTheHookFolder) {
    Load(Sample(testmedia::TSampleKind::Avi));
    std::set<std::u16string> Files = {u"/hooks/watermark.so"};
    TBuildContext Context;
    Context.HookFolder = u"/hooks/";
    Context.FileExists = [&Files, this](const std::u16string& N) {
        return Files.count(N) > 0 || fs::exists(Utf16ToUtf8(N));
    };
    Dialog->SetBuildContext(Context);
    // The hook lines alone; the tag lines come after them (and are checked with the defaults).
    Box("chkKeepTags")->setChecked(false);
    auto* Imlib2 = Box("chkImlib2Img");
    auto* WaterMark = Box("chkWaterMark");
    EXPECT_FALSE(Imlib2->isEnabled());
    EXPECT_FALSE(Box("chkImlib2Txt")->isEnabled());
    EXPECT_FALSE(Box("chkQuarnHookImg")->isEnabled());
    EXPECT_TRUE(WaterMark->isEnabled());
    EXPECT_FALSE(Box("chkWaterMarkMode")->isEnabled());
    EXPECT_FALSE(Find<QRadioButton>("rdoBeforeHook")->isEnabled());

    // Checked but disabled adds nothing; the behaviour buttons need a usable checked box.
    Imlib2->setChecked(true);
    EXPECT_FALSE(Box("chkImgDancing")->isEnabled());
    Find<QRadioButton>("rdoPTSs")->setChecked(true);
    TOutputOptions O = Dialog->GetOutputOptions();
    EXPECT_EQ(O.OptionLines, "");
    EXPECT_EQ(O.HookPTSPeriods, "");

    WaterMark->setChecked(true);
    Box("chkWaterMarkMode")->setChecked(true);
    EXPECT_TRUE(Find<QRadioButton>("rdoPTSs")->isEnabled());
    EXPECT_TRUE(Edit("edtPTSs")->isEnabled());
    O = Dialog->GetOutputOptions();
    EXPECT_EQ(O.OptionLines, "vhook=/hooks/watermark.so -f /hooks/watermark.gif -m 1\r\n");
    EXPECT_EQ(O.HookPTSPeriods, "0-5000,10000-15000");
    EXPECT_FALSE(O.BeforeHook);
    EXPECT_FALSE(O.CustomHook);

    // The window's own hook: no standard hook is usable.
    Find<QRadioButton>("rdoCustomHook")->setChecked(true);
    EXPECT_FALSE(WaterMark->isEnabled());
    EXPECT_FALSE(Find<QRadioButton>("rdoPTSs")->isEnabled());
    O = Dialog->GetOutputOptions();
    EXPECT_TRUE(O.CustomHook);
    EXPECT_EQ(O.OptionLines, "");
    EXPECT_EQ(O.HookPTSPeriods, "");
}

TEST_F(uiOptionDialog, OkOnACdRomAndThePeriodsHelpTellTheUser) {
    const std::string Source = Sample(testmedia::TSampleKind::Avi);
    Load(Source);
    std::string FileSystem = "iso9660";
    QString Asked;
    Dialog->SetFileSystemTypeQuery([&](const QString& Folder) {
        Asked = Folder;
        return FileSystem;
    });
    TBoxCatcher Boxes;
    // The refusal's box runs inside the click; the dialog must still be open after it.
    QTimer::singleShot(0, [&] {
        Find<QPushButton>("btnOk")->click();
        EXPECT_TRUE(Dialog->isVisible());
        EXPECT_EQ(Dialog->focusWidget(), Find<QPushButton>("btnOutPath"));
        // On a hard disk OK goes through.
        FileSystem = "ext4";
        Find<QPushButton>("btnOk")->click();
    });
    EXPECT_EQ(Dialog->exec(), QDialog::Accepted);
    EXPECT_EQ(Asked.toStdString(), Folder.string() + "/");
    ASSERT_EQ(Boxes.Seen.size(), 1u);
    EXPECT_EQ(Boxes.Seen[0], "Zembra: Input folder is located in CD-ROM, please select output folder.");

    Boxes.Seen.clear();
    Find<QPushButton>("btnPTSs")->click();
    ASSERT_EQ(Boxes.Seen.size(), 1u);
    EXPECT_EQ(
        Boxes.Seen[0],
        "Video Hook PTS Periods: Enable Video Hook only in special periods, empty means whole duration "
        "enabled.\r\nformat: [<pts1>-<pts2>[,pts3-pts4[,...]]]\r\nexample: to process video hook only in "
        "pts periods 0-5,10-15 (seconds)\r\n         PTS Periosd(millisecond!!!) -> \"0-5000,10000-15000\"");
    // A chosen output folder is the one checked.
    Edit("edtOutPath")->setText("/srv/out/");
    QTimer::singleShot(0, [&] { Find<QPushButton>("btnOk")->click(); });
    EXPECT_EQ(Dialog->exec(), QDialog::Accepted);
    EXPECT_EQ(Asked.toStdString(), "/srv/out/");
    // Cancel never asks.
    Asked.clear();
    QTimer::singleShot(0, [&] { Find<QPushButton>("btnCancel")->click(); });
    EXPECT_EQ(Dialog->exec(), QDialog::Rejected);
    EXPECT_TRUE(Asked.isEmpty());
}

TEST_F(uiOptionDialog, ActualSizeWindowFitsThePictureAndClosesOnClickEnterOrEscape) {
    QImage Picture(161, 97, QImage::Format_RGB888);
    Picture.fill(Qt::red);
    const std::vector<std::function<void(QWidget*)>> Closers = {
        [](QWidget* W) { QTest::mouseClick(W, Qt::LeftButton, {}, QPoint(80, 40)); },
        [](QWidget* W) { QTest::keyClick(W, Qt::Key_Return); },
        [](QWidget* W) { QTest::keyClick(W, Qt::Key_Escape); },
    };
    for (size_t I = 0; I < Closers.size(); ++I) {
        auto* Window = new TActualSizeWindow(Picture, "12.345");
        EXPECT_EQ(Window->windowTitle(), "161x97 PTS: 12.345");
        bool Closed = false;
        QTimer::singleShot(0, Window, [&, Window] {
            EXPECT_EQ(Window->size(), Picture.size()) << I;
            Closers[I](Window);
            Closed = !Window->isVisible();
            if (!Closed) Window->reject();  // so that a failure does not hang the test
        });
        Window->exec();  // deletes itself once closed
        EXPECT_TRUE(Closed) << I;
    }
}

// Both pages with a video source and a cut range, for a person to look at; each must show
// more than a few colours.
TEST_F(uiOptionDialog, ScreenshotsOfBothPages) {
    Load(LongH264());
    auto* Bar = TrackBar();
    MoveTo(Bar->maximum() / 5);
    Find<QPushButton>("btnStartTime")->click();
    MoveTo(Bar->maximum() * 3 / 5);
    Find<QPushButton>("btnEndTime")->click();
    Box("chkCutClip")->setChecked(true);
    Dialog->SetRemainingFiles(2);
    Dialog->show();
    QTest::qWait(100);
    const QString Out = QCoreApplication::applicationDirPath() + "/../screenshots";
    ASSERT_TRUE(QDir().mkpath(Out));
    auto* Pages = Find<QTabWidget>("tabPages");
    for (int Page = 0; Page < Pages->count(); ++Page) {
        Pages->setCurrentIndex(Page);
        QTest::qWait(50);
        const QImage Shot = Dialog->grab().toImage();
        std::set<QRgb> Colours;
        for (int Y = 0; Y < Shot.height(); Y += 3)
            for (int X = 0; X < Shot.width(); X += 3) Colours.insert(Shot.pixel(X, Y));
        EXPECT_GT(Colours.size(), 20u) << Page;
        const QString File =
            Out + QStringLiteral("/option-dialog-%1.png").arg(Pages->tabText(Page).toLower());
        EXPECT_TRUE(Shot.save(File)) << File.toStdString();
    }
    Dialog->hide();
}

}  // namespace
}  // namespace zembra::testing
