// The dialog's choices as the window carries them out: a tagged album added with one choice for
// all its files, named from its tags and given album gain, comes out as zembra-cli makes it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "app/ui/LogPane.h"
#include "app/ui/MainWindow.h"
#include "app/ui/OptionDialog.h"
#include "binding/FFmpegLoader.h"
#include "tests/support/RunProgram.h"
#include "tests/ui/AlbumTracks.h"
#include "tests/ui/TestApplication.h"

namespace zembra {
namespace {

namespace fs = std::filesystem;
using testing::TTags;

constexpr const char* kTemplate = testing::kAlbumTemplate;

class WindowChoicesTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        testing::EnsureTestApplication();
        QStandardPaths::setTestModeEnabled(true);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, SettingsFolder());
    }
    static void TearDownTestSuite() { QDir(SettingsFolder()).removeRecursively(); }
    static QString SettingsFolder() {
        return QDir::tempPath() + QString("/zembra-album-settings-%1").arg(::getpid());
    }

    void SetUp() override {
        FFLoader().SetLibraryPath(DefaultLibraryFolder());
        ASSERT_TRUE(FFLoader().LoadLibrarySet(kDefaultLibrarySet)) << FFLoader().LastError();
        char Pattern[] = "/tmp/zembra-album-XXXXXX";
        ASSERT_NE(::mkdtemp(Pattern), nullptr);
        Dir = Pattern;
        fs::create_directories(Dir + "/album");
        QSettings().clear();
        Window = std::make_unique<TfrmMain>();
        Window->Prompts().ShowMessage = [](const QString& Text, QMessageBox::Icon) {
            ADD_FAILURE() << "box: " << Text.toStdString();
        };
        Window->Prompts().ChooseFiles = [this] { return Chosen; };
        Window->show();
    }

    void TearDown() override {
        Window.reset();
        std::error_code Ignored;
        fs::remove_all(Dir, Ignored);
    }

    std::string Track(int Number, const std::string& Title, float Level) {
        return testing::WriteAlbumTrack(Dir + "/album", Number, Title, Level);
    }
    static std::map<std::string, TTags> Tree(const std::string& Root) { return testing::TaggedTree(Root); }

    std::string Dir;
    std::unique_ptr<TfrmMain> Window;
    QStringList Chosen;
};

TEST_F(WindowChoicesTest, AnAlbumAddedTogetherGetsTheNamesAndTagsZembraCliGives) {
    Chosen << QString::fromStdString(Track(1, "Intro", 1.0f))
           << QString::fromStdString(Track(2, "Middle", 0.5f))
           << QString::fromStdString(Track(3, "End", 0.25f));
    const std::string WindowOut = Dir + "/window/", CliOut = Dir + "/cli/";
    fs::create_directories(WindowOut);
    fs::create_directories(CliOut);

    // The first file's dialog: names from tags, album gain, one output folder, and the same
    // choice for the other two.
    int Dialogs = 0;
    QTimer Script;
    QObject::connect(&Script, &QTimer::timeout, [&] {
        auto* Dialog = qobject_cast<TfrmOption*>(QApplication::activeModalWidget());
        if (!Dialog || !Dialog->isVisible()) return;
        ++Dialogs;
        Dialog->findChild<QCheckBox*>("chkNameFromTags")->setChecked(true);
        Dialog->findChild<QLineEdit*>("edtNameTemplate")->setText(kTemplate);
        Dialog->findChild<QRadioButton*>("rdoReplayGainAlbum")->setChecked(true);
        Dialog->findChild<QLineEdit*>("edtOutPath")->setText(QString::fromStdString(WindowOut));
        Dialog->findChild<QCheckBox*>("chkApplyRemaining")->setChecked(true);
        Dialog->findChild<QPushButton*>("btnOk")->click();
    });
    Script.start(20);
    Window->AddTask();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Window->Rows().Count() == 3; }, 30000))
        << Window->LogPane()->toPlainText().toStdString();
    Script.stop();
    EXPECT_EQ(Dialogs, 1);

    QSignalSpy Finished(Window.get(), &TfrmMain::RunFinished);
    Window->StartTasks();
    ASSERT_TRUE(Finished.wait(120000));
    for (const TTaskRow& Row : Window->Rows().Rows())
        EXPECT_EQ(Row.State, TTaskState::Finished) << Row.Cells[colInput];

    const testing::TProgramResult Cli =
        testing::RunProgram(QCoreApplication::applicationDirPath().toStdString() + "/zembra-cli",
                            {"-f", "mp3", "--name", kTemplate, "--replaygain", "album", "-o", CliOut,
                             Chosen[0].toStdString(), Chosen[1].toStdString(), Chosen[2].toStdString()},
                            std::chrono::seconds(120));
    ASSERT_EQ(Cli.Status, 0) << Cli.Err;

    const std::map<std::string, TTags> FromWindow = Tree(WindowOut), FromCli = Tree(CliOut);
    std::vector<std::string> Names;
    for (const auto& [Name, Tags] : FromWindow) Names.push_back(Name);
    EXPECT_EQ(Names, (std::vector<std::string>{"Band/First/01 Intro.mp3", "Band/First/02 Middle.mp3",
                                               "Band/First/03 End.mp3"}));
    EXPECT_EQ(FromWindow, FromCli);
    // One album over the three: its gain in every file, and not just each track's own.
    ASSERT_EQ(FromWindow.count("Band/First/01 Intro.mp3"), 1u);
    const TTags& First = FromWindow.at("Band/First/01 Intro.mp3");
    ASSERT_EQ(First.count("replaygain_album_gain"), 1u) << Window->LogPane()->toPlainText().toStdString();
    for (const auto& [Name, Tags] : FromWindow) {
        EXPECT_EQ(Tags.count("replaygain_album_gain") ? Tags.at("replaygain_album_gain") : "",
                  First.at("replaygain_album_gain"))
            << Name;
        EXPECT_EQ(Tags.count("replaygain_album_peak") ? Tags.at("replaygain_album_peak") : "",
                  First.at("replaygain_track_peak"))
            << Name;
    }
    EXPECT_NE(FromWindow.at("Band/First/03 End.mp3").at("replaygain_track_gain"),
              First.at("replaygain_album_gain"));
}

}  // namespace
}  // namespace zembra
