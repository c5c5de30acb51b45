#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QRegularExpression>
#include <QSettings>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStandardPaths>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QUrl>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/ui/HelpViewer.h"
#include "app/ui/LogPane.h"
#include "app/ui/MainWindow.h"
#include "app/ui/OptionDialog.h"
#include "app/ui/PreferencesDialog.h"
#include "app/ui/ZembraApplication.h"
#include "binding/FFmpegLoader.h"
#include "logging/FFmpegLogger.h"
#include "tests/media/ClipInspector.h"
#include "tests/media/SampleClips.h"
#include "tests/media/TestMedia.h"
#include "tests/support/RunProgram.h"
#include "tests/ui/TestApplication.h"
#include "util/Formatting.h"

namespace zembra {
namespace {

using namespace std::chrono_literals;

QString Q(const std::string& Text) {
    return QString::fromStdString(Text);
}

struct TBox {
    QString Text;
    QMessageBox::Icon Icon;
};

std::string Pattern(const TButtonStates& B) {
    std::string P;
    for (bool On : {B.Add, B.Remove, B.Clear, B.Start, B.Stop, B.Pause, B.Resume}) P += On ? '1' : '0';
    return P;
}

// Distinct colours in a picture: a blank grab has one or two.
size_t ColourCount(const QImage& Image) {
    std::set<QRgb> Colours;
    for (int Y = 0; Y < Image.height(); Y += 3)
        for (int X = 0; X < Image.width(); X += 3) Colours.insert(Image.pixel(X, Y));
    return Colours.size();
}

class MainWindowTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        testing::EnsureTestApplication();
        // Preferences and geometry of the tests stay away from the user's, and from those of
        // the other test processes CTest runs at the same time.
        QStandardPaths::setTestModeEnabled(true);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, SettingsFolder());
    }
    static void TearDownTestSuite() { QDir(SettingsFolder()).removeRecursively(); }
    static QString SettingsFolder() {
        return QDir::tempPath() + QString("/zembra-ui-settings-%1").arg(::getpid());
    }

    void SetUp() override {
        FFLoader().SetLibraryPath(DefaultLibraryFolder());
        ASSERT_TRUE(FFLoader().LoadLibrarySet(kDefaultLibrarySet)) << FFLoader().LastError();
        char Pattern[] = "/tmp/zembra-window-XXXXXX";
        ASSERT_NE(::mkdtemp(Pattern), nullptr);
        Dir = Pattern;
        QSettings().clear();
        Window = std::make_unique<TfrmMain>();
        Window->Prompts().ShowMessage = [this](const QString& Text, QMessageBox::Icon Icon) {
            Boxes.push_back({Text, Icon});
        };
        Window->Prompts().ChooseFiles = [this] { return Chosen; };
        Window->Prompts().ConfirmStopAndQuit = [this] {
            ++Questions;
            return QuitAnswer;
        };
        Window->Prompts().ConfirmClear = [this](const QString& Question) {
            ClearQuestions << Question;
            return ClearAnswer;
        };
        Window->show();
        QTest::qWait(10);
    }

    void TearDown() override {
        Window.reset();
        std::error_code Ec;
        std::filesystem::remove_all(Dir, Ec);
    }

    std::string Clip(const std::string& Name, double Seconds = 1.0) {
        testmedia::TClipSpec Spec = testmedia::SampleClip(testmedia::TSampleKind::Avi, Dir + "/" + Name);
        for (auto& A : Spec.Audios) A.Duration = Seconds;
        for (auto& V : Spec.Videos) V.FrameCount = static_cast<int>(Seconds * 25);
        EXPECT_EQ(testmedia::WriteClip(Spec), "");
        return Spec.Path;
    }
    std::string LongSound(const std::string& Name, double Seconds) {
        testmedia::TClipSpec Spec;
        Spec.Path = Dir + "/" + Name;
        testmedia::TAudioSpec Audio;
        Audio.Encoder = "pcm_s16le";
        Audio.Duration = Seconds;
        Spec.Audios.push_back(Audio);
        EXPECT_EQ(testmedia::WriteClip(Spec), "");
        return Spec.Path;
    }

    // Answers every settings dialog with OK while it runs (checking "Apply to the remaining"
    // when ApplyRest is set); counts the dialogs.
    void ScriptDialogs(bool ApplyRest = false) {
        auto* Timer = new QTimer(Window.get());
        QObject::connect(Timer, &QTimer::timeout, Window.get(), [this, ApplyRest] {
            auto* Dialog = qobject_cast<TfrmOption*>(QApplication::activeModalWidget());
            if (!Dialog || !Dialog->isVisible()) return;
            ++Dialogs;
            if (auto* Apply = Dialog->findChild<QCheckBox*>("chkApplyRemaining"); Apply && ApplyRest)
                Apply->setChecked(Apply->isVisible());
            Dialog->findChild<QPushButton*>("btnOk")->click();
        });
        Timer->start(20);
    }

    bool LogHas(const QString& Line) const {
        return Window->LogPane()->toPlainText().split('\n').contains(Line);
    }

    void Screenshot(QWidget* W, const char* Name) {
        const QString Folder = QCoreApplication::applicationDirPath() + "/../screenshots";
        QDir().mkpath(Folder);
        QApplication::processEvents();  // the layouts follow texts set just before
        const QImage Image = W->grab().toImage();
        EXPECT_GT(ColourCount(Image), 8u) << Name;
        EXPECT_TRUE(Image.save(Folder + "/" + Name + ".png")) << Name;
    }

    // The "File" menu's items in order, '1' for each enabled one.
    std::string FileMenu() const {
        std::string P;
        for (const char* Item : {"menu1", "menu2", "menu3", "menu4", "menu5", "menu6", "menu7"})
            P += Window->Action(Item)->isEnabled() ? '1' : '0';
        return P;
    }

    // Keys go where the focus is: a settings dialog's window hands it back only after it has gone.
    bool FocusList() {
        Window->activateWindow();
        Window->List()->setFocus();
        return QTest::qWaitFor([&] {
            return QGuiApplication::focusWindow() == Window->windowHandle() &&
                   QApplication::focusWidget() == Window->List();
        });
    }

    bool WaitForRun(int Seconds = 60) {
        QSignalSpy Finished(Window.get(), &TfrmMain::RunFinished);
        return !Window->RunActive() || Finished.wait(Seconds * 1000);
    }

    std::string Dir;
    std::unique_ptr<TfrmMain> Window;
    std::vector<TBox> Boxes;
    QStringList Chosen;
    bool QuitAnswer = false;
    int Questions = 0;
    QStringList ClearQuestions;
    bool ClearAnswer = true;
    int Dialogs = 0;
};

// Two clips through the real dialog, run on two threads, then one more after "Clear Task" run
// in the window's thread: rows, log lines, playable markers, buttons and outputs.
TEST_F(MainWindowTest, AddsThroughTheDialogAndRunsInThreadAndSequentialMode) {
    Screenshot(Window.get(), "window-empty");
    const std::string A = Clip("a.avi"), B = Clip("b.avi");
    ScriptDialogs();
    Chosen = {QString::fromStdString(A), QString::fromStdString(B)};
    Window->Action("btnAdd")->trigger();
    ASSERT_EQ(Window->Rows().Count(), 2) << Window->LogPane()->toPlainText().toStdString();
    EXPECT_EQ(Dialogs, 2);
    EXPECT_EQ(Window->Component().TaskCount(), 2);
    const TTaskRow& First = Window->Rows()[0];
    EXPECT_EQ(First.Cells[colInput], "a.avi");
    EXPECT_EQ(First.Cells[colTotalTime], "1");
    EXPECT_EQ(First.Cells[colFileSize],
              FormatFileSize(static_cast<int64_t>(std::filesystem::file_size(A)), 1));
    EXPECT_EQ(First.Cells[colOutput], "a_(new).mp3");
    EXPECT_EQ(First.Cells[colProgress], "");
    EXPECT_EQ(Window->Rows()[1].Cells[colOutput], "b_(new).mp3");
    EXPECT_TRUE(LogHas("***File has been added to convert list."));
    EXPECT_EQ(Pattern(Window->Buttons()), "1111111");
    EXPECT_EQ(Window->List()->model()->headerData(7, Qt::Horizontal).toString(), "File Size");
    // The two size columns share a caption; their tooltips tell them apart.
    const QString InSizeTip =
        Window->List()->model()->headerData(colFileSize, Qt::Horizontal, Qt::ToolTipRole).toString();
    const QString OutSizeTip =
        Window->List()->model()->headerData(colOutputSize, Qt::Horizontal, Qt::ToolTipRole).toString();
    EXPECT_TRUE(InSizeTip.contains("input")) << InSizeTip.toStdString();
    EXPECT_TRUE(OutSizeTip.contains("output")) << OutSizeTip.toStdString();
    // A wide window gives its free width to the names, the input's as much as the output's.
    Window->resize(1600, Window->height());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Window->List()->columnWidth(colInput) > 300; }));
    EXPECT_NEAR(Window->List()->columnWidth(colInput), Window->List()->columnWidth(colOutput), 2);

    // The log handler's line format, through the process's logger.
    GetLogger().Log(nullptr, llError, "a line from the engine");
    const QString Lines = Window->LogPane()->toPlainText();
    EXPECT_TRUE(Lines.contains(
        QRegularExpression("^#\\d+\\.3: a line from the engine$", QRegularExpression::MultilineOption)))
        << Lines.toStdString();

    TRunSettings Two = Window->Settings();
    Two.ThreadMode = true;
    Two.ThreadCount = "2";
    Window->SetSettings(Two);
    Window->Action("btnStart")->trigger();
    EXPECT_EQ(Pattern(Window->Buttons()), "0000110");
    ASSERT_TRUE(WaitForRun());
    EXPECT_EQ(Pattern(Window->Buttons()), "0010000");
    EXPECT_EQ(Window->Component().TaskCount(), 0);  // the engines have run; the rows stay
    ASSERT_EQ(Window->Rows().Count(), 2);
    for (const TTaskRow& Row : Window->Rows().Rows()) {
        EXPECT_EQ(Row.Cells[colProgress], "100%");
        EXPECT_TRUE(Row.Playable);
        EXPECT_EQ(Row.State, TTaskState::Finished);
        testmedia::TClipFacts Facts;
        const std::string Out = QString::fromStdU16String(Row.OutputFile).toStdString();
        ASSERT_EQ(testmedia::InspectClip(Out, Facts), "") << Out;
        ASSERT_EQ(Facts.Streams.size(), 1u);
        EXPECT_EQ(Facts.Streams[0].CodecId, AV_CODEC_ID_MP3);
        EXPECT_NEAR(Facts.Duration, 1.0, 0.15);
    }
    EXPECT_TRUE(Boxes.empty());
    Screenshot(Window.get(), "window-after-run");

    // The pop-up: add/remove/clear copy the buttons; play the last row with none selected.
    Window->PopupMenu()->popup(Window->mapToGlobal(QPoint(50, 50)));
    EXPECT_FALSE(Window->Action("mnuAdd")->isEnabled());
    EXPECT_TRUE(Window->Action("mnuClear")->isEnabled());
    EXPECT_TRUE(Window->Action("mnuPlay")->isEnabled());
    EXPECT_TRUE(Window->Action("mnuOpenFolder")->isEnabled());
    Window->PopupMenu()->hide();
    // Starting again would run engines that have run: Start is greyed in the menu too, and the
    // status bar says what to do instead.
    EXPECT_FALSE(Window->Action("menu4")->isEnabled());
    EXPECT_EQ(Window->findChild<QLabel*>("StatusHint")->text(),
              "To convert more: \"Clear Task\", then \"Add Task\"");
    Window->StartTasks();
    EXPECT_FALSE(Window->RunActive());

    Window->Action("btnClear")->trigger();
    EXPECT_EQ(Pattern(Window->Buttons()), "1000000");
    EXPECT_EQ(Window->Rows().Count(), 0);
    EXPECT_EQ(Window->findChild<QLabel*>("StatusHint")->text(), "");

    Chosen = {QString::fromStdString(A)};
    Window->Action("btnAdd")->trigger();
    ASSERT_EQ(Window->Rows().Count(), 1);
    EXPECT_EQ(Window->Rows()[0].Cells[colOutput], "a_(new_1).mp3");  // the first one is there
    TRunSettings Sequential = Window->Settings();
    Sequential.ThreadMode = false;
    Window->SetSettings(Sequential);
    QSignalSpy Finished(Window.get(), &TfrmMain::RunFinished);
    Window->Action("btnStart")->trigger();  // returns after the run
    EXPECT_EQ(Finished.count(), 1);
    EXPECT_FALSE(Window->RunActive());
    EXPECT_EQ(Window->Rows()[0].Cells[colProgress], "100%");
    EXPECT_TRUE(std::filesystem::exists(Dir + "/a_(new_1).mp3"));
    EXPECT_EQ(Pattern(Window->Buttons()), "0010000");
}

// Pause holds a thread-mode run, closing asks first, stop ends it with a playable output.
TEST_F(MainWindowTest, PausesStopsAndAsksBeforeClosingDuringARun) {
    const std::string Long = LongSound("long.wav", 240);
    ScriptDialogs();
    Chosen = {QString::fromStdString(Long)};
    Window->Action("btnAdd")->trigger();
    ASSERT_EQ(Window->Rows().Count(), 1);
    Window->Component().SetProgressInterval(100);  // a report long before the end
    Window->Action("btnStart")->trigger();
    ASSERT_TRUE(Window->RunActive());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Window->Rows()[0].Cells[colCurrentTime].empty(); }, 20000));
    Window->Action("btnPause")->trigger();
    EXPECT_EQ(Pattern(Window->Buttons()), "0000101");
    EXPECT_TRUE(Window->findChild<QLabel*>("StatusTime")->text().startsWith("Paused"));
    QTest::qWait(600);  // reports already on their way arrive
    const std::string Reached = Window->Rows()[0].Cells[colCurrentTime];
    QTest::qWait(700);
    EXPECT_EQ(Window->Rows()[0].Cells[colCurrentTime], Reached);  // held
    Screenshot(Window.get(), "window-during-run");

    Window->close();  // the answer is Cancel
    EXPECT_EQ(Questions, 1);
    EXPECT_TRUE(Window->isVisible());
    EXPECT_TRUE(Window->RunActive());

    Window->Action("btnResume")->trigger();
    EXPECT_EQ(Pattern(Window->Buttons()), "0000110");
    QTest::qWait(200);
    Window->Action("btnStop")->trigger();
    ASSERT_TRUE(WaitForRun());
    const TTaskRow& Row = Window->Rows()[0];
    EXPECT_EQ(Row.State, TTaskState::Stopped);
    // What a stopped task wrote is a valid file, kept by default under a partial name that the
    // row, the log and the status bar give.
    const QRegularExpressionMatch Stopped =
        QRegularExpression("^Stopped (\\d+)%: partial output kept$").match(Q(Row.Cells[colProgress]));
    ASSERT_TRUE(Stopped.hasMatch()) << Row.Cells[colProgress];
    EXPECT_LT(Stopped.captured(1).toInt(), 100);
    EXPECT_TRUE(Row.Playable);
    EXPECT_EQ(Row.OutputFile, QString::fromStdString(Dir + "/long_(new).partial.mp3").toStdU16String());
    EXPECT_EQ(Row.Cells[colOutput], "long_(new).partial.mp3");
    EXPECT_TRUE(LogHas(QString("***Stopped %1%: partial output kept: long.wav -> %2/long_(new).partial.mp3")
                           .arg(Stopped.captured(1), Q(Dir))));
    EXPECT_EQ(Window->findChild<QLabel*>("StatusText")->text(),
              "0 of 1 finished, 1 stopped (partial output kept), 0 failed");
    Screenshot(Window.get(), "window-stopped-partial-kept");
    testmedia::TClipFacts Facts;
    ASSERT_EQ(testmedia::InspectClip(QString::fromStdU16String(Row.OutputFile).toStdString(), Facts), "");
    EXPECT_GT(Facts.Duration, 0.0);
    EXPECT_LT(Facts.Duration, 200.0);

    // With no run the window closes without asking.
    Window->close();
    EXPECT_EQ(Questions, 1);
    EXPECT_FALSE(Window->isVisible());
}

// A second run started and closed with "Stop and quit".
TEST_F(MainWindowTest, StopAndQuitEndsTheRun) {
    const std::string Long = LongSound("long.wav", 240);
    ScriptDialogs();
    Chosen = {QString::fromStdString(Long)};
    Window->Action("btnAdd")->trigger();
    ASSERT_EQ(Window->Rows().Count(), 1);
    Window->Component().SetProgressInterval(100);
    Window->Action("btnStart")->trigger();
    // Held mid-run whatever the machine's speed; a stop opens the pause first.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Window->Rows()[0].Cells[colCurrentTime].empty(); }, 20000));
    Window->Action("btnPause")->trigger();
    QuitAnswer = true;
    const auto Began = std::chrono::steady_clock::now();
    Window->close();
    EXPECT_EQ(Questions, 1);
    EXPECT_FALSE(Window->isVisible());
    EXPECT_LT(std::chrono::steady_clock::now() - Began, 10s);
    // The run was stopped, not left behind: its final event came, and what it wrote is valid,
    // kept under a name that says it is partial (the window closed before its row could say so).
    EXPECT_TRUE(Window->Component().WaitForEventThreads(10s));
    EXPECT_FALSE(Window->Component().RunActive());
    const std::filesystem::path Output =
        QString::fromStdU16String(Window->Rows()[0].OutputFile).toStdString();
    EXPECT_FALSE(std::filesystem::exists(Output));
    std::filesystem::path Partial = Output;
    Partial.replace_extension(".partial" + Output.extension().string());
    testmedia::TClipFacts Facts;
    ASSERT_EQ(testmedia::InspectClip(Partial.string(), Facts), "");
    EXPECT_LT(Facts.Duration, 200.0);
}

// Stop and Pause are enabled before any run (the Part's start-up state): a pause there holds
// nothing, and a stop ends the list as a run would.
TEST_F(MainWindowTest, PauseAndStopBeforeAnyRun) {
    ScriptDialogs();
    Chosen = {QString::fromStdString(Clip("a.avi"))};
    Window->Action("btnAdd")->trigger();
    ASSERT_EQ(Window->Rows().Count(), 1);
    Window->Action("btnStop")->trigger();
    ASSERT_TRUE(WaitForRun(30));
    EXPECT_FALSE(Window->RunActive());
    EXPECT_EQ(Window->Rows()[0].State, TTaskState::Stopped);
    EXPECT_EQ(Window->Component().TaskCount(), 0);
    EXPECT_EQ(Pattern(Window->Buttons()), "0010000");

    Window->Action("btnClear")->trigger();
    Window->Action("btnAdd")->trigger();
    ASSERT_EQ(Window->Rows().Count(), 1);
    Window->PauseTasks();  // as at start-up, when the button is enabled
    Window->Action("btnStart")->trigger();
    ASSERT_TRUE(WaitForRun(30));
    EXPECT_EQ(Window->Rows()[0].State, TTaskState::Finished);
}

// Drops of two files and a folder; the first dialog's "Apply to the remaining" adds the rest
// without asking again; a file that is no media gives the load error and the rest go on.
TEST_F(MainWindowTest, DropsFilesAndFoldersAndAppliesOneChoiceToTheRest) {
    const std::string A = Clip("a.avi"), B = Clip("b.avi");
    std::filesystem::create_directories(Dir + "/folder/deeper");
    Clip("folder/c.avi");
    Clip("folder/deeper/d.AVI");
    { std::ofstream(Dir + "/folder/notes.txt") << "not media"; }
    { std::ofstream(Dir + "/broken.mp3") << "not media either"; }
    ScriptDialogs(true);
    QMimeData Data;
    Data.setUrls({QUrl::fromLocalFile(QString::fromStdString(A)),
                  QUrl::fromLocalFile(QString::fromStdString(Dir + "/broken.mp3")),
                  QUrl::fromLocalFile(QString::fromStdString(B)),
                  QUrl::fromLocalFile(QString::fromStdString(Dir + "/folder"))});
    QDragEnterEvent Enter(QPoint(100, 100), Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Window.get(), &Enter);
    EXPECT_TRUE(Enter.isAccepted());
    QDropEvent Drop(QPointF(100, 100), Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Window.get(), &Drop);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Window->Rows().Count() == 4; }, 20000));
    EXPECT_EQ(Dialogs, 1);
    std::vector<std::string> Inputs, Outputs;
    for (const TTaskRow& R : Window->Rows().Rows()) {
        Inputs.push_back(R.Cells[colInput]);
        Outputs.push_back(R.Cells[colOutput]);
    }
    EXPECT_EQ(Inputs, (std::vector<std::string>{"a.avi", "b.avi", "c.avi", "d.AVI"}));
    EXPECT_EQ(Outputs,
              (std::vector<std::string>{"a_(new).mp3", "b_(new).mp3", "c_(new).mp3", "d_(new).mp3"}));
    EXPECT_TRUE(Window->LogPane()->toPlainText().contains("***File load error: "));
    EXPECT_EQ(Window->Component().TaskCount(), 4);
}

// A name that is not there (as a command line may give) is said in the log and the status bar,
// and the names beside it are still added; the program's --help answers without a display.
TEST_F(MainWindowTest, AMissingFileIsReportedAndHelpNeedsNoWindow) {
    const std::string A = Clip("a.avi");
    const QString Missing = QString::fromStdString(Dir + "/missing.mp4");
    ScriptDialogs();
    Window->AddPaths({Missing, QString::fromStdString(A)});
    EXPECT_EQ(Window->Rows().Count(), 1);
    EXPECT_TRUE(LogHas("***File not found: " + Missing)) << Window->LogPane()->toPlainText().toStdString();
    EXPECT_EQ(Window->statusBar()->currentMessage(), "File not found: " + Missing);

    const std::string Zembra = QCoreApplication::applicationDirPath().toStdString() + "/zembra";
    if (!QFileInfo(QString::fromStdString(Zembra)).isExecutable()) GTEST_SKIP() << "zembra is not built";
    const testing::TProgramResult Help = testing::RunProgram(
        "/usr/bin/env", {"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM", Zembra, "--help"},
        std::chrono::seconds(30));
    EXPECT_EQ(Help.Status, 0) << Help.Err;
    EXPECT_EQ(Help.Out.rfind("usage: zembra [FILE...]\n", 0), 0u) << Help.Out;
    EXPECT_NE(Help.Out.find("--version"), std::string::npos) << Help.Out;
}

// The manual's pictures fit a narrow viewer (nothing to scroll sideways), and Escape closes it.
TEST_F(MainWindowTest, HelpPicturesFitTheViewerAndEscapeClosesIt) {
    Window->Action("ToolButtonHelp")->trigger();
    THelpViewer* Viewer = Window->HelpViewer();
    ASSERT_NE(Viewer, nullptr);
    ASSERT_TRUE(Viewer->Browser()->source().toString().endsWith("introduction.htm"));
    Viewer->resize(420, 500);
    QScrollBar* Sideways = Viewer->Browser()->horizontalScrollBar();
    for (int I = 0; I < 200 && Sideways->maximum() != 0; ++I) QTest::qWait(25);
    EXPECT_EQ(Sideways->maximum(), 0);
    Screenshot(Viewer, "help-narrow");
    QTest::keyClick(Viewer->Browser(), Qt::Key_Escape);
    EXPECT_FALSE(Viewer->isVisible());
    Window->Action("ToolButtonHelp")->trigger();
    EXPECT_TRUE(Viewer->isVisible());
}

// Libraries that cannot be loaded give one log line and no dialog; a failing task's message
// comes in a warning box and its output is not playable; the help and its two failures.
TEST_F(MainWindowTest, ReportsMissingLibrariesFailuresAndHelp) {
    const std::string A = Clip("a.avi");  // while the libraries are there
    Window->Component().UnloadLibraries();
    Window->SetLibraryFolder(QString::fromStdString(Dir + "/LibAV"));
    bool Asked = false;
    Window->Prompts().ChooseFiles = [&Asked] {
        Asked = true;
        return QStringList();
    };
    Window->LogPane()->clear();
    Window->Action("btnAdd")->trigger();
    EXPECT_FALSE(Asked);
    const QStringList Lines = Window->LogPane()->toPlainText().split('\n');
    ASSERT_EQ(Lines.size(), 1);
    EXPECT_TRUE(Lines[0].contains("myutil")) << Lines[0].toStdString();
    EXPECT_EQ(Window->Rows().Count(), 0);
    Window->SetLibraryFolder(QString::fromStdU16String(DefaultLibraryFolder()));

    ScriptDialogs();
    Window->Prompts().ChooseFiles = [this] { return Chosen; };
    Chosen = {QString::fromStdString(A)};
    Window->Action("btnAdd")->trigger();
    ASSERT_EQ(Window->Rows().Count(), 1);
    // An engine's failure, reported the way the component reports it: from another thread.
    std::thread([Handler = Window->Component().OnTerminate(), Id = Window->Component().TaskId(0)] {
        const TEventTaskScope Raising(Id);
        Handler(0, false, true, "Broken input");
    }).join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Boxes.size() == 1; }));
    EXPECT_EQ(Boxes[0].Text, "Broken input");
    EXPECT_EQ(Boxes[0].Icon, QMessageBox::Warning);
    EXPECT_FALSE(Window->Rows()[0].Playable);
    EXPECT_EQ(Window->Rows()[0].State, TTaskState::Failed);

    // Help: the manual beside the program; twice gives the one viewer.
    Window->Action("ToolButtonHelp")->trigger();
    ASSERT_NE(Window->HelpViewer(), nullptr);
    THelpViewer* Viewer = Window->HelpViewer();
    EXPECT_TRUE(Viewer->isVisible());
    EXPECT_TRUE(Viewer->Browser()->source().toString().endsWith("introduction.htm"));
    EXPECT_TRUE(Viewer->Browser()->toPlainText().contains("Zembra"));
    Window->Action("ToolButtonHelp")->trigger();
    EXPECT_EQ(Window->HelpViewer(), Viewer);
    Screenshot(Viewer, "help");
    EXPECT_EQ(Boxes.size(), 1u);

    std::filesystem::create_directories(Dir + "/emptyhelp");
    Window->SetHelpFolder(QString::fromStdString(Dir + "/nohelp"));
    Window->Action("ToolButtonHelp")->trigger();
    Window->SetHelpFolder(QString::fromStdString(Dir + "/emptyhelp"));
    Window->Action("ToolButtonHelp")->trigger();
    ASSERT_EQ(Boxes.size(), 3u);
    EXPECT_EQ(Boxes[1].Text, "HHCtrl.OCX not installed!\r HTMLHELP cannot displayed!");
    EXPECT_EQ(Boxes[1].Icon, QMessageBox::Critical);
    EXPECT_EQ(Boxes[2].Text, "Function HTMLHELP cannot loaded!");
}

// A run with one task finished, one failed (its source gone) and one stopped: the rows and the
// status bar tell them apart, the failed row gives the whole reason and offers no output. The
// log follows its end through long lines and resizes but stays put while the user reads above;
// the window's own boxes belong to it and stand above every other window, and the close
// question goes once the run it asks about has ended.
TEST_F(MainWindowTest, FinishedStoppedAndFailedRowsFollowingLogAndBoxesInFront) {
    const std::string Gone = Clip("gone.avi");
    Chosen = {QString::fromStdString(Clip("a.avi")), QString::fromStdString(Gone),
              QString::fromStdString(LongSound("long.wav", 240))};
    ScriptDialogs(true);
    Window->Action("btnAdd")->trigger();
    ASSERT_EQ(Window->Rows().Count(), 3);
    std::filesystem::remove(Gone);
    Window->Component().SetProgressInterval(100);
    Window->Action("btnStart")->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Window->Rows()[2].Cells[colCurrentTime].empty(); }, 30000));
    Window->Action("btnStop")->trigger();
    ASSERT_TRUE(WaitForRun());
    std::string States;
    for (const TTaskRow& R : Window->Rows().Rows())
        States += R.State == TTaskState::Finished  ? 'F'
                  : R.State == TTaskState::Stopped ? 'S'
                  : R.State == TTaskState::Failed  ? 'X'
                                                   : '?';
    EXPECT_EQ(States, "FXS");
    ASSERT_EQ(Boxes.size(), 1u);
    const QString Reason = Boxes[0].Text;
    EXPECT_FALSE(Reason.isEmpty());
    const QAbstractItemModel* Model = Window->List()->model();
    EXPECT_EQ(Model->index(1, colProgress).data().toString(), "Failed");
    EXPECT_EQ(Model->index(1, colProgress).data(Qt::ToolTipRole).toString(), Reason);
    EXPECT_EQ(Model->index(1, colOutput).data().toString(), "");
    EXPECT_EQ(Model->index(1, colOutput).data(Qt::ToolTipRole).toString(), Reason);
    EXPECT_TRUE(Model->index(2, colProgress).data().toString().startsWith("Stopped "));
    EXPECT_TRUE(LogHas("***Failed: gone.avi: " + Reason));
    EXPECT_FALSE(Window->LogPane()->toPlainText().contains("***Finished with a warning"));  // none given
    EXPECT_EQ(Window->findChild<QLabel*>("StatusText")->text(),
              "1 of 3 finished, 1 stopped (partial output kept), 1 failed");
    EXPECT_LT(Window->findChild<QProgressBar*>("StatusProgress")->value(), 1000);
    Screenshot(Window.get(), "window-finished-stopped-failed");

    // A broken file's load error, readable at the window's own size.
    { std::ofstream(Dir + "/broken.wav") << "RIFF....WAVEfmt but nothing after it"; }
    Window->Action("btnClear")->trigger();
    Window->AddPaths({QString::fromStdString(Dir + "/broken.wav")});
    QApplication::processEvents();
    TLogPane* Log = Window->LogPane();
    QScrollBar* Bar = Log->verticalScrollBar();
    const auto LastLineShown = [Log] {
        QTextCursor End(Log->document());
        End.movePosition(QTextCursor::End);
        const QRect Line = Log->cursorRect(End);
        return Line.top() >= 0 && Line.bottom() < Log->viewport()->height();
    };
    EXPECT_TRUE(Log->toPlainText().contains("***File load error: "));
    EXPECT_EQ(Bar->value(), Bar->maximum());
    EXPECT_TRUE(LastLineShown());
    Screenshot(Window.get(), "window-log-after-broken-file");
    for (int I = 0; I < 200; ++I) Log->AddLine(QString("line %1").arg(I));
    Log->AddLine(QString(400, 'x'));  // brings the horizontal scroll bar
    Log->AddLine("the last line");
    QApplication::processEvents();
    EXPECT_EQ(Bar->value(), Bar->maximum());
    EXPECT_TRUE(LastLineShown());
    Window->resize(Window->width() - 40, Window->height() - 30);
    QApplication::processEvents();
    EXPECT_TRUE(Log->Following());
    EXPECT_TRUE(LastLineShown());
    Bar->setValue(20);  // the user reads above
    EXPECT_FALSE(Log->Following());
    for (int I = 0; I < 50; ++I) Log->AddLine("more");
    EXPECT_EQ(Bar->value(), 20);
    Bar->setValue(Bar->maximum());  // back at the end, it follows again
    Log->AddLine("the newest");
    QApplication::processEvents();
    EXPECT_TRUE(Log->Following());
    EXPECT_TRUE(LastLineShown());

    // The window's own boxes, answered from within their event loop.
    TWindowPrompts Own = Window->OwnPrompts();
    QWidget* Parent = nullptr;
    bool OnTop = false;
    QTimer::singleShot(0, Window.get(), [&Parent, &OnTop] {
        auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(Box, nullptr);
        Parent = Box->parentWidget();
        OnTop = Box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
        Box->button(QMessageBox::Ok)->click();
    });
    Own.ShowMessage("Broken input", QMessageBox::Warning);
    EXPECT_EQ(Parent, Window.get());
    EXPECT_TRUE(OnTop);
    // The run ends while the close question is open: it goes, with the answer to close.
    QTimer::singleShot(0, Window.get(), [this] { emit Window->RunFinished(); });
    EXPECT_TRUE(Own.ConfirmStopAndQuit());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// The "File" menu's items during a two-thread run do what the buttons may not: the Delete key
// (the menu's "Remove Task...") removes a running task, the task behind it takes its row, and
// the run ends with the rows that are left; after it the menu offers only "Clear Task...".
TEST_F(MainWindowTest, FileMenuRemovesARunningTask) {
    TRunSettings Two = Window->Settings();
    Two.ThreadCount = "2";
    Window->SetSettings(Two);
    Chosen = {QString::fromStdString(LongSound("first.wav", 120)),
              QString::fromStdString(LongSound("second.wav", 30)), QString::fromStdString(Clip("third.avi"))};
    ScriptDialogs(true);
    Window->Action("menu1")->trigger();
    ASSERT_EQ(Window->Rows().Count(), 3);
    const std::u16string SecondOutput = Window->Rows()[1].OutputFile;
    Window->Component().SetProgressInterval(100);
    Window->Action("menu4")->trigger();
    // A row counts as running from its first progress report; under load either task may report
    // first, so both are awaited.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !Window->Rows()[0].Cells[colCurrentTime].empty() &&
                   !Window->Rows()[1].Cells[colCurrentTime].empty();
        },
        30000));
    // Paused, so that the first task is sure to be running when it goes.
    Window->Action("menu6")->trigger();
    EXPECT_EQ(Window->Rows()[0].State, TTaskState::Running);
    EXPECT_EQ(Pattern(Window->Buttons()), "0000101");
    EXPECT_EQ(FileMenu(), "1010101");  // no row selected: nothing to remove
    Window->List()->setCurrentIndex(Window->List()->model()->index(0, 0));
    EXPECT_EQ(FileMenu(), "1110101");
    ASSERT_TRUE(FocusList());
    QTest::keyClick(Window->List(), Qt::Key_Delete);
    ASSERT_EQ(Window->Rows().Count(), 2);
    EXPECT_EQ(Window->Rows()[0].OutputFile, SecondOutput);
    EXPECT_TRUE(Window->RunActive());
    Window->Action("menu7")->trigger();
    ASSERT_TRUE(WaitForRun());
    for (const TTaskRow& R : Window->Rows().Rows())
        EXPECT_EQ(R.State, TTaskState::Finished) << R.Cells[colInput];
    EXPECT_EQ(Window->findChild<QLabel*>("StatusText")->text(), "2 of 2 finished, 0 failed");
    EXPECT_FALSE(std::filesystem::exists(Dir + "/first_(new).mp3"));
    // The list holds a finished run: adding and starting wait for "Clear Task".
    EXPECT_EQ(FileMenu(), "0010000");
    Window->Action("menu3")->trigger();
    EXPECT_EQ(Window->Rows().Count(), 0);
    EXPECT_TRUE(Window->Action("btnAdd")->isEnabled());
    EXPECT_EQ(FileMenu(), "1000000");
}

// Each menu's items and the toolbar's buttons carry mnemonics of their own (the toolbar's apart
// from the menu bar's), and Alt with a button's letter presses it; the menu shows the keys.
TEST_F(MainWindowTest, MenusCarryMnemonicsAndShowShortcuts) {
    // Used: the letters taken so far, where each must be new.
    const auto Check = [](const QList<QAction*>& Actions, bool Buttons, std::set<QChar>* Used) {
        for (QAction* A : Actions) {
            const QString Text = Buttons ? A->iconText() : A->text();
            const qsizetype At = Text.indexOf('&');
            if (A->isSeparator() || !A->isVisible()) continue;
            ASSERT_TRUE(At >= 0 && At + 1 < Text.size()) << Text.toStdString();
            if (Used) {
                EXPECT_TRUE(Used->insert(Text[At + 1].toLower()).second) << Text.toStdString();
            }
        }
    };
    std::set<QChar> Bar, Help, Popup;
    Check(Window->menuBar()->actions(), false, &Bar);
    // The "File" menu's classic texts share letters ("&Start", "&Settings"): pressed again, a
    // letter moves to the next item.
    Check(Window->menuBar()->actions()[0]->menu()->actions(), false, nullptr);
    Check(Window->menuBar()->actions()[1]->menu()->actions(), false, &Help);
    Check(Window->PopupMenu()->actions(), false, &Popup);
    Check(Window->findChild<QToolBar*>("ToolBarMain")->actions(), true, &Bar);
    EXPECT_EQ(Window->Action("menu4")->text(), "&Start Convertion");
    EXPECT_EQ(Window->Action("btnAdd")->iconText(), "&Add Task");

    EXPECT_EQ(Window->Action("menu4")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Return));

    int Asked = 0;
    Window->Prompts().ChooseFiles = [&Asked] {
        ++Asked;
        return QStringList();
    };
    ASSERT_TRUE(FocusList());
    QTest::keyClick(Window->List(), Qt::Key_A, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Asked == 1; }));  // the button's click is animated
}

// Of files added together, those that could not be added are counted in the status bar; a click
// on the message brings the first one's log line into view, selected.
TEST_F(MainWindowTest, RejectedFilesAreCountedAndAClickShowsTheirLine) {
    {
        std::ofstream Noise(Dir + "/noise.mp3", std::ios::binary);
        for (int I = 0; I < 4096; ++I) Noise.put(static_cast<char>((I * 7919 + 13) % 251));
    }
    ScriptDialogs(true);
    Window->AddPaths({QString::fromStdString(Dir + "/noise.mp3"), QString::fromStdString(Clip("a.avi")),
                      QString::fromStdString(Clip("b.avi")), QString::fromStdString(Clip("c.avi"))});
    ASSERT_EQ(Window->Rows().Count(), 3);
    EXPECT_EQ(Window->statusBar()->currentMessage(), "1 file could not be added");
    TLogPane* Log = Window->LogPane();
    const QTextCursor Found = Log->document()->find("***File load error: ");
    ASSERT_FALSE(Found.isNull());
    const auto Shown = [Log](const QTextCursor& C) {
        QApplication::processEvents();
        const QRect Line = Log->cursorRect(C);
        return Line.top() >= 0 && Line.bottom() < Log->viewport()->height();
    };
    EXPECT_FALSE(Shown(Found));  // buried under the other files' lines
    QTest::mouseClick(Window->statusBar(), Qt::LeftButton, {}, QPoint(20, 8));
    EXPECT_EQ(Log->textCursor().selectedText(), Found.block().text());
    EXPECT_TRUE(Shown(Log->textCursor()));
    Screenshot(Window.get(), "window-rejected-file");
}

// With no program to open anything (an empty PATH, no desktop or browser named), Play Output,
// Open Folder and Get Lorvane say so in the log and the status bar. "Get Lorvane" shows only
// when the build names a page.
TEST_F(MainWindowTest, NoPlayerFileManagerOrBrowserIsSaid) {
    Chosen = {QString::fromStdString(Clip("a.avi"))};
    ScriptDialogs();
    Window->Action("btnAdd")->trigger();
    Window->Action("btnStart")->trigger();
    ASSERT_TRUE(WaitForRun());
    ASSERT_TRUE(Window->Rows().CanPlay(-1));
    std::filesystem::create_directories(Dir + "/nothing");
    struct TPathKept {
        QByteArray Path = qgetenv("PATH");
        ~TPathKept() { qputenv("PATH", Path); }
    } Kept;
    qputenv("PATH", QByteArray::fromStdString(Dir + "/nothing"));
    for (const char* Name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "BROWSER"})
        qunsetenv(Name);

    Window->Action("mnuPlay")->trigger();
    EXPECT_TRUE(
        LogHas(QString::fromStdString("***Cannot play " + Dir + "/a_(new).mp3: no media player found")));
    EXPECT_EQ(Window->statusBar()->currentMessage(), "No media player found to play a_(new).mp3");
    Window->Action("mnuOpenFolder")->trigger();
    EXPECT_TRUE(LogHas(QString::fromStdString("***Cannot open " + Dir + "/: no file manager found")));
    EXPECT_EQ(Window->statusBar()->currentMessage(),
              QString::fromStdString("No file manager found to open " + Dir + "/"));

    QToolBar* Tools = Window->findChild<QToolBar*>("ToolBarMain");
    QAction* GetMore = Window->Action("ToolButtonGetMore");
    Window->SetHomePage(QString());
    EXPECT_FALSE(GetMore->isVisible());
    EXPECT_FALSE(Tools->widgetForAction(GetMore)->isVisible());
    EXPECT_FALSE(Tools->actions()[Tools->actions().size() - 2]->isVisible());  // its separator
    Window->SetHomePage("https://example.org/Lorvane");
    EXPECT_TRUE(QTest::qWaitFor([&] { return Tools->widgetForAction(GetMore)->isVisible(); }));
    GetMore->trigger();
    EXPECT_TRUE(LogHas("***Cannot open https://example.org/lorvane: no web browser found"));
    EXPECT_EQ(Window->statusBar()->currentMessage(),
              "No web browser found to open https://example.org/lorvane");
}

// One rule for what unfinished tasks leave, said in the row, the log and the status bar. With
// the preference on, a running task removed with the Delete key leaves its partial output; with
// it off, "Clear Task" asks first (No changes nothing) and the cleared tasks leave nothing, and
// so does a stop. The folder holds exactly what the window says.
TEST_F(MainWindowTest, StopRemoveAndClearLeaveWhatThePreferenceSays) {
    TRunSettings Settings = Window->Settings();
    ASSERT_TRUE(Settings.KeepPartial);
    Settings.ThreadCount = "3";
    Window->SetSettings(Settings);
    Chosen = {Q(LongSound("first.wav", 240)), Q(LongSound("second.wav", 240)),
              Q(LongSound("third.wav", 240))};
    ScriptDialogs(true);
    Window->Action("menu1")->trigger();
    ASSERT_EQ(Window->Rows().Count(), 3);
    Window->Component().SetProgressInterval(100);
    // A few seconds in, so that a kept partial holds sound and not only the file's header.
    auto AllReported = [this] {
        for (const TTaskRow& R : Window->Rows().Rows())
            if (R.CurrentMs < 3000) return false;
        return true;
    };
    Window->Action("menu4")->trigger();
    ASSERT_TRUE(QTest::qWaitFor(AllReported, 30000));
    Window->Action("menu6")->trigger();  // paused: every task is sure to be running when it goes
    auto LogMatches = [this](const QString& Pattern) {
        return QRegularExpression(Pattern, QRegularExpression::MultilineOption)
            .match(Window->LogPane()->toPlainText())
            .hasMatch();
    };

    Window->List()->setCurrentIndex(Window->List()->model()->index(0, 0));
    ASSERT_TRUE(FocusList());
    QTest::keyClick(Window->List(), Qt::Key_Delete);
    ASSERT_EQ(Window->Rows().Count(), 2);
    EXPECT_EQ(Window->Rows()[0].Cells[colInput], "second.wav");
    const QString Kept = Q(Dir + "/first_(new).partial.mp3");
    const QString Removed =
        "Removed at \\d+%: partial output kept: first\\.wav -> " + QRegularExpression::escape(Kept);
    EXPECT_TRUE(LogMatches("^\\*\\*\\*" + Removed + "$")) << Window->LogPane()->toPlainText().toStdString();
    EXPECT_TRUE(
        QRegularExpression("^" + Removed + "$").match(Window->statusBar()->currentMessage()).hasMatch())
        << Window->statusBar()->currentMessage().toStdString();
    testmedia::TClipFacts Facts;
    ASSERT_EQ(testmedia::InspectClip(Kept.toStdString(), Facts), "");
    EXPECT_LT(Facts.Duration, 200.0);

    Settings.KeepPartial = false;
    Window->SetSettings(Settings);
    ClearAnswer = false;
    Window->Action("menu3")->trigger();
    EXPECT_EQ(ClearQuestions,
              QStringList{
                  "Clear the list and stop the 2 unfinished tasks? What they converted so far is removed."});
    EXPECT_EQ(Window->Rows().Count(), 2);
    EXPECT_EQ(Window->Component().TaskCount(), 2);
    EXPECT_TRUE(Window->RunActive());
    ClearAnswer = true;
    Window->Action("menu3")->trigger();
    EXPECT_EQ(ClearQuestions.size(), 2);
    EXPECT_EQ(Window->Rows().Count(), 0);
    for (const char* Name : {"second", "third"})
        EXPECT_TRUE(LogMatches(
            QString("^\\*\\*\\*Cleared at \\d+%: no output kept: %1\\.wav \\(nothing written to %2\\)$")
                .arg(Name, QRegularExpression::escape(Q(Dir + "/" + Name + "_(new).mp3")))))
            << Name;
    EXPECT_EQ(Window->statusBar()->currentMessage(), "Cleared: 2 unfinished tasks stopped, no output kept");
    ASSERT_TRUE(WaitForRun());

    Chosen = {Q(LongSound("fourth.wav", 240))};
    Window->Action("menu1")->trigger();
    ASSERT_EQ(Window->Rows().Count(), 1);
    Window->Action("menu4")->trigger();
    EXPECT_EQ(Window->statusBar()->currentMessage(), "");  // the clear's notice went with the new run
    ASSERT_TRUE(QTest::qWaitFor(AllReported, 30000));
    Window->Action("menu5")->trigger();
    ASSERT_TRUE(WaitForRun());
    const TTaskRow& Row = Window->Rows()[0];
    EXPECT_TRUE(
        QRegularExpression("^Stopped \\d+%: no output kept$").match(Q(Row.Cells[colProgress])).hasMatch())
        << Row.Cells[colProgress];
    EXPECT_EQ(Row.Cells[colOutput], "");
    EXPECT_FALSE(Row.Playable);
    EXPECT_TRUE(LogMatches("^\\*\\*\\*Stopped \\d+%: no output kept: fourth\\.wav \\(nothing written to " +
                           QRegularExpression::escape(Q(Dir + "/fourth_(new).mp3")) + "\\)$"));
    EXPECT_EQ(Window->findChild<QLabel*>("StatusText")->text(),
              "0 of 1 finished, 1 stopped (no output kept), 0 failed");
    Screenshot(Window.get(), "window-stopped-no-output-kept");

    std::set<std::string> Files;
    for (const auto& Entry : std::filesystem::directory_iterator(Dir))
        Files.insert(Entry.path().filename().string());
    EXPECT_EQ(Files, (std::set<std::string>{"first.wav", "second.wav", "third.wav", "fourth.wav",
                                            "first_(new).partial.mp3"}));
}

// The custom hook on frames of a real bitmap: text drawn, 100-149 untouched, flips, the end.
TEST_F(MainWindowTest, CustomHookDrawsAndFlipsByFrame) {
    const TCustomHookEvent Hook = Window->Component().OnCustomHook();
    ASSERT_TRUE(Hook);
    auto Frame = [] {
        TBitmap B(160, 120);
        for (int Y = 0; Y < 120; ++Y)
            for (int X = 0; X < 160; ++X) {
                uint8_t* P = B.ScanLine(Y) + X * 3;
                P[0] = static_cast<uint8_t>(X);
                P[1] = static_cast<uint8_t>(Y);
                P[2] = 0;
            }
        return B;
    };
    auto Run = [&](int FrameNumber, TBitmap& B, bool& Update, bool& Stop) {
        Update = true;
        Stop = false;
        // On a worker thread, as conversions call it.
        std::thread([&] { Hook(0, B, FrameNumber, 123456, Update, Stop); }).join();
    };
    const TBitmap Plain = Frame();
    auto Changed = [&](const TBitmap& B, int X0, int Y0, int X1, int Y1) {
        int N = 0;
        for (int Y = Y0; Y < Y1; ++Y)
            for (int X = X0; X < X1; ++X)
                N += std::memcmp(B.ScanLine(Y) + X * 3, Plain.ScanLine(Y) + X * 3, 3) != 0;
        return N;
    };
    bool Update = true, Stop = false;
    TBitmap B = Frame();
    Run(1, B, Update, Stop);
    EXPECT_GT(Changed(B, 10, 10, 160, 40), 20);  // the text
    EXPECT_EQ(Changed(B, 0, 60, 160, 120), 0);
    B = Frame();
    Run(120, B, Update, Stop);
    EXPECT_FALSE(Update);
    EXPECT_EQ(Changed(B, 0, 0, 160, 120), 0);
    B = Frame();
    Run(300, B, Update, Stop);
    EXPECT_GT(Changed(B, 160 - 32 - 10, 120 - 32 - 10, 150, 110), 200);  // the icon
    B = Frame();
    Run(400, B, Update, Stop);  // flipped vertically, the text with it (now at the bottom)
    EXPECT_EQ(B.ScanLine(119)[100 * 3 + 1], 0);
    EXPECT_EQ(B.ScanLine(60)[100 * 3 + 1], 59);
    EXPECT_GT(Changed(B, 0, 80, 160, 110), 0);
    B = Frame();
    Run(500, B, Update, Stop);  // mirrored
    EXPECT_EQ(B.ScanLine(60)[0], 159);
    EXPECT_EQ(B.ScanLine(60)[159 * 3], 0);
    B = Frame();
    Run(550, B, Update, Stop);
    EXPECT_TRUE(Stop);
    EXPECT_EQ(Changed(B, 0, 0, 160, 120), 0);

    const TBeforeHookEvent Before = Window->Component().OnBeforeHook();
    THookAction Action = haContinue;
    Before(0, 7'000'000, Action);
    EXPECT_EQ(Action, haIgnore);
}

// Preferences through their dialog: the run settings, the logger's level, remembered by the next
// window; the log pane keeps its newest lines; the pop-up on an empty list.
TEST_F(MainWindowTest, PreferencesAreRememberedAndTheLogKeepsItsNewestLines) {
    EXPECT_EQ(Window->Settings(), TRunSettings());
    QTimer::singleShot(50, [] {
        auto* D = qobject_cast<TfrmPreferences*>(QApplication::activeModalWidget());
        ASSERT_NE(D, nullptr);
        D->findChild<QCheckBox*>("chkThreadMode")->setChecked(false);
        D->findChild<QLineEdit*>("edtThreadCount")->setText("3");
        D->findChild<QComboBox*>("grpPriority")->setCurrentIndex(0);
        D->findChild<QComboBox*>("grpLogLevel")->setCurrentIndex(3);
        D->findChild<QCheckBox*>("chkKeepPartial")->setChecked(false);
        D->accept();
    });
    Window->Action("ToolButtonSettings")->trigger();
    TRunSettings Want;
    Want.ThreadMode = false;
    Want.ThreadCount = "3";
    Want.Priority = 0;
    Want.LogLevel = 3;
    Want.KeepPartial = false;
    EXPECT_EQ(Window->Settings(), Want);
    EXPECT_EQ(GetLogger().LogLevel(), llVerbose);
    EXPECT_FALSE(Window->Component().KeepStoppedOutputs());
    Window->resize(800, 500);
    Window->close();
    Window = std::make_unique<TfrmMain>();
    EXPECT_EQ(Window->Settings(), Want);
    EXPECT_EQ(Window->size(), QSize(800, 500));
    Window->SetSettings(TRunSettings());
    EXPECT_EQ(GetLogger().LogLevel(), llInfo);

    TLogPane* Log = Window->LogPane();
    Log->clear();
    for (int I = 0; I < TLogPane::kMaxLines + 5; ++I) Log->AddLine(QString("line %1").arg(I));
    EXPECT_EQ(Log->blockCount(), TLogPane::kMaxLines);
    EXPECT_TRUE(Log->toPlainText().startsWith("line 5\n"));
    Log->CopyToClipboard();
    EXPECT_TRUE(
        QGuiApplication::clipboard()->text().endsWith(QString("line %1").arg(TLogPane::kMaxLines + 4)));

    Window->PopupMenu()->popup(QPoint(10, 10));
    EXPECT_TRUE(Window->Action("mnuAdd")->isEnabled());
    EXPECT_FALSE(Window->Action("mnuPlay")->isEnabled());
    EXPECT_FALSE(Window->Action("mnuOpenFolder")->isEnabled());
    Window->PopupMenu()->hide();
}

// The manual beside the program: every page reachable from the introduction, links only
// between its own pages, nothing fetched from outside.
TEST(HelpManualTest, PagesLinkOnlyToEachOther) {
    const QDir Help(
        QString::fromStdString(std::filesystem::read_symlink("/proc/self/exe").parent_path().string()) +
        "/help");
    const QStringList Pages = Help.entryList({"*.htm"}, QDir::Files);
    ASSERT_GE(Pages.size(), 10);
    std::set<QString> Reached{"introduction.htm"};
    const QRegularExpression Link("(href|src)=\"([^\"]*)\"");
    for (const QString& Page : Pages) {
        QFile F(Help.filePath(Page));
        ASSERT_TRUE(F.open(QIODevice::ReadOnly));
        const QString Text = QString::fromUtf8(F.readAll());
        EXPECT_TRUE(Text.contains("<title>")) << Page.toStdString();
        for (auto It = Link.globalMatch(Text); It.hasNext();) {
            const QString Target = It.next().captured(2);
            EXPECT_FALSE(Target.contains(':')) << Page.toStdString() << " -> " << Target.toStdString();
            EXPECT_TRUE(Help.exists(Target)) << Page.toStdString() << " -> " << Target.toStdString();
            Reached.insert(Target);
        }
    }
    for (const QString& Page : Pages) EXPECT_TRUE(Reached.count(Page)) << Page.toStdString();
}

}  // namespace
}  // namespace zembra
