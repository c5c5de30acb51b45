#include "app/ui/MainWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QTextBlock>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>

#include <algorithm>
#include <utility>

#include "app/ExceptionText.h"
#include "app/FileFilters.h"
#include "app/HookSchedule.h"
#include "app/OptionBuilder.h"
#include "app/RunSummary.h"
#include "app/ui/AppIcon.h"
#include "app/ui/DesktopServices.h"
#include "app/ui/FrontDialog.h"
#include "app/ui/HelpViewer.h"
#include "app/ui/HookCanvas.h"
#include "app/ui/LogPane.h"
#include "app/ui/MainThreadWakeUp.h"
#include "app/ui/OptionDialog.h"
#include "app/ui/PreferencesDialog.h"
#include "app/ui/ProgressDelegate.h"
#include "app/ui/TaskListModel.h"
#include "app/ui/ZembraApplication.h"
#include "logging/FFmpegLogger.h"
#include "preview/Previewer.h"
#include "util/MainThread.h"
#include "util/OutputClaims.h"
#include "util/StringUtils.h"
#include "util/WideFiles.h"

#ifndef ZEMBRA_HOMEPAGE
#define ZEMBRA_HOMEPAGE ""
#endif

namespace zembra {

namespace {

constexpr int kClientWidth = 715;
constexpr int kClientHeight = 376;
constexpr int kLogHeight = 88;
constexpr int kHookIconSize = 32;

QString Q(const std::string& Text) {
    return QString::fromStdString(Text);
}

QIcon ThemeIcon(const char* Name, QStyle::StandardPixmap Fallback, const QStyle* Style) {
    return QIcon::fromTheme(Name, Style->standardIcon(Fallback));
}

// How long the status bar shows what a removal or a clear left behind.
constexpr int kNoticeMs = 15000;

bool Unfinished(const TTaskRow& Row) {
    return Row.State == TTaskState::Waiting || Row.State == TTaskState::Running;
}

// Calls back on a left click of the watched widget.
class TClickFilter : public QObject {
  public:
    TClickFilter(QObject* Parent, std::function<void()> OnClick)
        : QObject(Parent), FOnClick(std::move(OnClick)) {}

  protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override {
        if (Event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(Event)->button() == Qt::LeftButton)
            FOnClick();
        return QObject::eventFilter(Watched, Event);
    }

  private:
    std::function<void()> FOnClick;
};

// Closes the component's probe on every way out of a file's turn.
struct TProbeCloser {
    TAVProbe& Probe;
    ~TProbeCloser() { Probe.Close(); }
};

}  // namespace

TfrmMain::TfrmMain(QWidget* Parent) : QMainWindow(Parent), FComponent(std::make_unique<TRUvivoVOV>()) {
    setObjectName("frmMain");
    setWindowTitle(kMainCaption);
    setWindowIcon(AppIcon());
    setAcceptDrops(true);
    SetMainThread();
    InstallMainThreadWakeUp(this);
    InstallPreviewerFactory(this);
    SetExceptionHandler([this](const std::exception& E) { ShowException(E); });
    FClock.start();

    const QString ExeFolder = QCoreApplication::applicationDirPath();
    FLibraryFolder = ExeFolder + "/LibAV";
    FHelpFolder = ExeFolder + "/help";
    FPrompts = OwnPrompts();

    CreateActions();
    CreateWidgets();
    SetHomePage(ZEMBRA_HOMEPAGE);
    LoadSettings();
    BindEvents();
    ApplyButtons();
    UpdateStatus();

    // Once start-up is over: show, then the companion program.
    QTimer::singleShot(0, this, [this] {
        show();
        StartCompanion();
    });
}

TfrmMain::~TfrmMain() {
    UnbindEvents();
    FComponent->StopTasks(true);
    FComponent->WaitForEventThreads(std::chrono::seconds(10));
    GetLogger().SetOnLog(nullptr);
    SetExceptionHandler(nullptr);
    SetMainThreadWakeUp(nullptr);
}

TWindowPrompts TfrmMain::OwnPrompts() {
    TWindowPrompts P;
    P.ShowMessage = [this](const QString& Text, QMessageBox::Icon Icon) {
        QMessageBox Box(Icon, kApplicationTitle, Text, QMessageBox::Ok, this);
        ExecInFront(Box);
    };
    P.ConfirmStopAndQuit = [this] {
        QMessageBox Box(QMessageBox::Question, kApplicationTitle, kStopAndQuitQuestion, QMessageBox::NoButton,
                        this);
        QPushButton* Quit = Box.addButton("Stop and quit", QMessageBox::AcceptRole);
        Box.addButton(QMessageBox::Cancel);
        Box.setDefaultButton(Quit);
        // The question is about the run: once it has ended there is nothing left to stop, and
        // the window closes as the user asked.
        bool RunEnded = false;
        const QMetaObject::Connection Ended = connect(this, &TfrmMain::RunFinished, &Box, [&Box, &RunEnded] {
            RunEnded = true;
            Box.done(QDialog::Accepted);
        });
        ExecInFront(Box);
        disconnect(Ended);
        return RunEnded || Box.clickedButton() == Quit;
    };
    P.ConfirmClear = [this](const QString& Question) {
        QMessageBox Box(QMessageBox::Question, kApplicationTitle, Question,
                        QMessageBox::Yes | QMessageBox::No, this);
        Box.setDefaultButton(QMessageBox::No);
        return ExecInFront(Box) == QMessageBox::Yes;
    };
    P.ChooseFiles = [this] {
        return QFileDialog::getOpenFileNames(this, "Open", QString(), Q(QtFileFilter(kOpenDialogFilter)));
    };
    return P;
}

QAction* TfrmMain::Action(const char* Name) const {
    return findChild<QAction*>(Name);
}

const TTaskRows& TfrmMain::Rows() const {
    return FModel->Rows();
}

void TfrmMain::CreateActions() {
    const QStyle* S = style();
    auto Make = [this](const char* Name, const char* MenuText, const char* ButtonText, const QIcon& Icon,
                       void (TfrmMain::*Slot)()) {
        auto* A = new QAction(Icon, MenuText, this);
        A->setObjectName(Name);
        A->setIconText(ButtonText);
        A->setToolTip(QString(ButtonText).remove('&'));
        connect(A, &QAction::triggered, this, [this, Slot] { Guarded([this, Slot] { (this->*Slot)(); }); });
        return A;
    };
    // The toolbar's mnemonics take letters of their own, apart from each other and from the
    // menu bar's "File" and "Help", so that each Alt+letter presses one button.
    actAdd = Make("btnAdd", "&Add Task...", "&Add Task",
                  ThemeIcon("list-add", QStyle::SP_FileDialogNewFolder, S), &TfrmMain::AddTask);
    actRemove = Make("btnRemove", "&Remove Task...", "&Remove",
                     ThemeIcon("list-remove", QStyle::SP_DialogDiscardButton, S), &TfrmMain::RemoveTask);
    actClear = Make("btnClear", "&Clear Task...", "&Clear Task",
                    ThemeIcon("edit-clear", QStyle::SP_DialogResetButton, S), &TfrmMain::ClearTasks);
    actStart = Make("btnStart", "&Start Convertion", "&Start",
                    ThemeIcon("media-playback-start", QStyle::SP_MediaPlay, S), &TfrmMain::StartTasks);
    actStop = Make("btnStop", "Sto&p", "Sto&p", ThemeIcon("media-playback-stop", QStyle::SP_MediaStop, S),
                   &TfrmMain::StopTasks);
    actPause = Make("btnPause", "P&ause", "Pa&use",
                    ThemeIcon("media-playback-pause", QStyle::SP_MediaPause, S), &TfrmMain::PauseTasks);
    actResume = Make("btnResume", "Resu&me", "Resu&me",
                     ThemeIcon("media-seek-forward", QStyle::SP_MediaSeekForward, S), &TfrmMain::ResumeTasks);
    actSettings = Make("ToolButtonSettings", "&Settings...", "Se&ttings",
                       ThemeIcon("preferences-system", QStyle::SP_FileDialogDetailedView, S),
                       &TfrmMain::ShowPreferences);
    actHelp = Make("ToolButtonHelp", "&Help Content...", "He&lp",
                   ThemeIcon("help-contents", QStyle::SP_DialogHelpButton, S), &TfrmMain::ShowHelp);
    actGetMore = Make("ToolButtonGetMore", "&Get Lorvane", "&Get Lorvane",
                      ThemeIcon("web-browser", QStyle::SP_DriveNetIcon, S), &TfrmMain::GetMore);
    actExit = new QAction("&Exit", this);
    actExit->setObjectName("menu9");
    connect(actExit, &QAction::triggered, this, &QWidget::close);

    menu1 = Make("menu1", "&Add Task...", "Add Task", actAdd->icon(), &TfrmMain::AddTask);
    menu2 = Make("menu2", "&Remove Task...", "Remove", actRemove->icon(), &TfrmMain::RemoveTask);
    menu3 = Make("menu3", "&Clear Task...", "Clear Task", actClear->icon(), &TfrmMain::ClearTasks);
    menu4 = Make("menu4", "&Start Convertion", "Start", actStart->icon(), &TfrmMain::StartTasks);
    menu5 = Make("menu5", "Sto&p", "Stop", actStop->icon(), &TfrmMain::StopTasks);
    menu6 = Make("menu6", "P&ause", "Pause", actPause->icon(), &TfrmMain::PauseTasks);
    menu7 = Make("menu7", "Resu&me", "Resume", actResume->icon(), &TfrmMain::ResumeTasks);
    // The shortcuts sit on the menu's items, which show them and are enabled whenever their
    // handlers act: Delete removes a running task as the menu does.
    menu1->setShortcut(QKeySequence::Open);
    menu2->setShortcut(QKeySequence::Delete);
    menu4->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return));
    actHelp->setShortcut(QKeySequence::HelpContents);
    actExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    // The buttons' tooltips name the keys of the items they stand beside.
    const std::pair<QAction*, const QAction*> Keys[] = {
        {actAdd, menu1}, {actRemove, menu2}, {actStart, menu4}, {actHelp, actHelp}};
    for (const auto& [Button, Item] : Keys)
        Button->setToolTip(
            QString("%1 (%2)").arg(Button->toolTip(), Item->shortcut().toString(QKeySequence::NativeText)));
    mnuAdd = Make("mnuAdd", "&Add", "Add", actAdd->icon(), &TfrmMain::AddTask);
    mnuRemove = Make("mnuRemove", "&Remove", "Remove", actRemove->icon(), &TfrmMain::RemoveTask);
    mnuClear = Make("mnuClear", "&Clear", "Clear", actClear->icon(), &TfrmMain::ClearTasks);
    mnuPlay = Make("mnuPlay", "&Play Output", "Play Output", QIcon(), &TfrmMain::PlayOutput);
    mnuOpenFolder = Make("mnuOpenFolder", "&Open Folder", "Open Folder", QIcon(), &TfrmMain::OpenFolder);
}

void TfrmMain::CreateWidgets() {
    auto* Tools = new QToolBar("Main toolbar", this);
    Tools->setObjectName("ToolBarMain");
    Tools->setMovable(false);
    Tools->setIconSize(QSize(24, 24));
    Tools->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    Tools->setMinimumHeight(55);
    Tools->addAction(actAdd);
    Tools->addSeparator();
    Tools->addAction(actRemove);
    Tools->addAction(actClear);
    Tools->addSeparator();
    Tools->addAction(actStart);
    Tools->addAction(actStop);
    Tools->addSeparator();
    Tools->addAction(actPause);
    Tools->addAction(actResume);
    Tools->addSeparator();
    Tools->addAction(actSettings);
    Tools->addAction(actHelp);
    FGetMoreSeparator = Tools->addSeparator();
    Tools->addAction(actGetMore);
    for (QAction* A : Tools->actions())
        if (QWidget* W = Tools->widgetForAction(A); W && !A->isSeparator()) {
            W->setAccessibleName(A->iconText().remove('&'));
            W->setFocusPolicy(Qt::TabFocus);
        }
    addToolBar(Qt::TopToolBarArea, Tools);

    QMenu* File = menuBar()->addMenu("&File");
    File->addAction(menu1);
    File->addAction(menu2);
    File->addAction(menu3);
    File->addSeparator();
    File->addAction(menu4);
    File->addAction(menu5);
    File->addSeparator();
    File->addAction(menu6);
    File->addAction(menu7);
    File->addSeparator();
    File->addAction(actSettings);
    File->addSeparator();
    File->addAction(actExit);
    QMenu* Help = menuBar()->addMenu("&Help");
    Help->addAction(actHelp);
    Help->addSeparator();
    Help->addAction(actGetMore);

    FModel = new TTaskListModel(this);
    FList = new QTreeView(this);
    FList->setObjectName("lvFiles");
    FList->setAccessibleName("Tasks");
    FList->setModel(FModel);
    FList->setRootIsDecorated(false);
    FList->setItemsExpandable(false);
    FList->setUniformRowHeights(true);
    FList->setAllColumnsShowFocus(true);
    FList->setSelectionBehavior(QAbstractItemView::SelectRows);
    FList->setSelectionMode(QAbstractItemView::SingleSelection);
    FList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FList->setAlternatingRowColors(true);
    FList->setItemDelegateForColumn(colProgress, new TProgressDelegate(FList));
    for (int C = 0; C < kTaskColumnCount; ++C)
        if (kTaskColumns[static_cast<size_t>(C)].Width > 0)
            FList->setColumnWidth(C, kTaskColumns[static_cast<size_t>(C)].Width);
    FList->header()->setStretchLastSection(false);
    FList->header()->setSectionResizeMode(colInput, QHeaderView::Stretch);
    FList->header()->setSectionResizeMode(colOutput, QHeaderView::Stretch);
    // Sizes and times grow as a run goes on: the columns follow a moment later, not at every
    // report of every task.
    FFitColumns.setSingleShot(true);
    FFitColumns.setInterval(250);
    connect(&FFitColumns, &QTimer::timeout, this, &TfrmMain::FitColumns);
    connect(FModel, &QAbstractItemModel::dataChanged, this, [this] { FFitColumns.start(); });
    connect(FModel, &QAbstractItemModel::rowsInserted, this, [this] { FFitColumns.start(); });
    connect(FModel, &QAbstractItemModel::modelReset, this, [this] { FFitColumns.start(); });
    FitColumns();
    // Removing needs a selected row.
    connect(FList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { ApplyButtons(); });
    FList->setContextMenuPolicy(Qt::CustomContextMenu);
    FPopup = new QMenu(this);
    FPopup->setObjectName("PopupMenu1");
    FPopup->addAction(mnuAdd);
    FPopup->addAction(mnuRemove);
    FPopup->addAction(mnuClear);
    FPopup->addSeparator();
    FPopup->addAction(mnuPlay);
    FPopup->addAction(mnuOpenFolder);
    connect(FPopup, &QMenu::aboutToShow, this, &TfrmMain::UpdatePopup);
    connect(FList, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& At) { FPopup->popup(FList->viewport()->mapToGlobal(At)); });
    connect(FList, &QAbstractItemView::doubleClicked, this, [this] { Guarded([this] { PlayOutput(); }); });

    FLog = new TLogPane(this);
    FLog->setMinimumHeight(kLogHeight / 2);
    auto* Split = new QSplitter(Qt::Vertical, this);
    Split->addWidget(FList);
    Split->addWidget(FLog);
    Split->setStretchFactor(0, 1);
    Split->setSizes({kClientHeight - kLogHeight, kLogHeight});
    setCentralWidget(Split);

    FStatusText = new QLabel(this);
    FStatusText->setObjectName("StatusText");
    FStatusTime = new QLabel(this);
    FStatusTime->setObjectName("StatusTime");
    FStatusBar = new QProgressBar(this);
    FStatusBar->setObjectName("StatusProgress");
    FStatusBar->setRange(0, 1000);
    FStatusBar->setTextVisible(false);
    FStatusBar->setMaximumWidth(200);
    FStatusBar->setAccessibleName("Total progress");
    FStatusHint = new QLabel(this);
    FStatusHint->setObjectName("StatusHint");
    // The run's summary comes first: on a narrow window the hint gives up its width, and the
    // greyed "Start" carries it as its tooltip too.
    FStatusHint->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    FStatusHint->setContentsMargins(16, 0, 0, 0);
    statusBar()->addWidget(FStatusText);
    statusBar()->addWidget(FStatusHint, 1);
    statusBar()->addWidget(FStatusTime);
    // A message about a log line shows that line when clicked.
    statusBar()->installEventFilter(new TClickFilter(statusBar(), [this] { RevealReportedLine(); }));
    connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString& Message) {
        const bool AboutALine = !Message.isEmpty() && Message == FReportedMessage && !FReportedLine.isNull();
        statusBar()->setToolTip(AboutALine ? "Click to show it in the log" : QString());
        statusBar()->setCursor(AboutALine ? Qt::PointingHandCursor : Qt::ArrowCursor);
    });
    statusBar()->addPermanentWidget(FStatusBar);

    setTabOrder(FList, FLog);
    // Keys reach the rows from the start (Home, Delete, the arrows), not only after a click.
    FList->setFocus();
    resize(kClientWidth,
           kClientHeight + 55 + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
    if (const QScreen* Screen = QGuiApplication::primaryScreen())
        move(Screen->availableGeometry().center() - rect().center());
}

void TfrmMain::BindEvents() {
    TRUvivoVOV& C = *FComponent;
    // Reports reach the window's thread later, when the task may be at another index or gone:
    // they name it by its id.
    C.SetOnProgress([this](int32_t, int32_t, int32_t AFPS, int32_t ACurrentDuration, float, float,
                           int64_t ACurrentSize, int32_t ATotalOutputDuration) {
        const TTaskId Id = TRUvivoVOV::EventTaskId();
        OnWindowThread(pmDropWhenFull, [=, this] {
            HandleProgress(Id, AFPS, ACurrentDuration, ACurrentSize, ATotalOutputDuration);
        });
    });
    C.SetOnTerminate([this](int32_t, bool AFinished, bool AException, const std::string& AMessage) {
        const TTaskId Id = TRUvivoVOV::EventTaskId();
        const std::u16string Kept = FComponent->KeptPartialName(Id);
        OnWindowThread(pmKeep, [=, this] { HandleTerminate(Id, AFinished, AException, AMessage, Kept); });
    });
    C.SetOnBeforeHook(
        [](int32_t, int64_t APTS, THookAction& AHookAction) { AHookAction = BeforeHookAction(APTS); });
    C.SetOnCustomHook([Icon = AppIconImage(kHookIconSize)](int32_t, TBitmap& ABitmap, int32_t AFrameNumber,
                                                           int64_t APTS, bool& AUpdate, bool& AStopHook) {
        const TCustomHookStep Step = CustomHookStep(AFrameNumber, APTS);
        if (Step.StopHook) {
            AStopHook = true;
            return;
        }
        if (!Step.Update) {
            AUpdate = false;
            return;
        }
        DrawCustomHookStep(ABitmap, Step, Icon);
    });
    GetLogger().SetOnLog([this](void*, uint32_t AThreadID, TLogLevel ALogLevel, const std::string& ALogMsg) {
        FLog->AddLine(Q(LogLine(AThreadID, ALogLevel, ALogMsg)));
    });
}

void TfrmMain::UnbindEvents() {
    FComponent->SetOnBeforeHook(nullptr);
    FComponent->SetOnCustomHook(nullptr);
    FComponent->SetOnProgress(nullptr);
    FComponent->SetOnTerminate(nullptr);
}

template <class F>
void TfrmMain::OnWindowThread(TPostMode Mode, F&& Proc) {
    // One queue into the window's thread, the one the log lines take too: each task's events
    // keep their order, and everything a worker hands over crosses one mutex of ours.
    PostToMainThread([Proc = std::forward<F>(Proc)] { Guarded(Proc); }, Mode);
}

void TfrmMain::LoadSettings() {
    QSettings S;
    TRunSettings R;
    R.ThreadMode = S.value("run/threadMode", R.ThreadMode).toBool();
    R.ThreadCount = S.value("run/threadCount", Q(R.ThreadCount)).toString().toStdString();
    R.Priority = S.value("run/priority", R.Priority).toInt();
    R.LogLevel = S.value("run/logLevel", R.LogLevel).toInt();
    R.Preview = S.value("run/preview", R.Preview).toBool();
    R.VerNum = S.value("run/verNum", R.VerNum).toBool();
    R.KeepPartial = S.value("run/keepPartial", R.KeepPartial).toBool();
    SetSettings(Sanitised(R));
    if (S.contains("window/geometry")) restoreGeometry(S.value("window/geometry").toByteArray());
}

void TfrmMain::SaveSettings() {
    QSettings S;
    S.setValue("run/threadMode", FSettings.ThreadMode);
    S.setValue("run/threadCount", Q(FSettings.ThreadCount));
    S.setValue("run/priority", FSettings.Priority);
    S.setValue("run/logLevel", FSettings.LogLevel);
    S.setValue("run/preview", FSettings.Preview);
    S.setValue("run/verNum", FSettings.VerNum);
    S.setValue("run/keepPartial", FSettings.KeepPartial);
    S.setValue("window/geometry", saveGeometry());
}

void TfrmMain::SetSettings(const TRunSettings& S) {
    const bool VerNumClicked = S.VerNum != FSettings.VerNum;
    FSettings = S;
    GetLogger().SetLogLevel(LogLevelOf(S));
    FComponent->SetPreview(S.Preview);
    FComponent->SetKeepStoppedOutputs(S.KeepPartial);
    // Unloading under live tasks would pull the libraries from under their engines: only an
    // empty list lets them go (the next add loads them again).
    if (VerNumClicked && FComponent->TaskCount() == 0 && !FRunActive) FComponent->UnloadLibraries();
}

void TfrmMain::ApplyButtons() {
    TListFacts Facts;
    Facts.Rows = Rows().Count();
    Facts.RowSelected = SelectedRow() >= 0;
    Facts.RunActive = FRunActive;
    Facts.Sequential = FSequential;
    Facts.StopPressed = FStopPressed;
    // A run emptied by "Clear Task" or removals has nothing left to stop while its end comes.
    if (FRunActive && Facts.Rows == 0) FButtons.ListEmptied();
    actAdd->setEnabled(FButtons.Add);
    actRemove->setEnabled(FButtons.Remove);
    actClear->setEnabled(FButtons.Clear);
    actStart->setEnabled(FButtons.Start);
    actStop->setEnabled(FButtons.Stop);
    actPause->setEnabled(FButtons.Pause);
    actResume->setEnabled(FButtons.Resume);

    const TButtonStates Menu = MenuStates(FButtons, Facts);
    menu1->setEnabled(Menu.Add);
    menu2->setEnabled(Menu.Remove);
    menu3->setEnabled(Menu.Clear);
    menu4->setEnabled(Menu.Start);
    menu5->setEnabled(Menu.Stop);
    menu6->setEnabled(Menu.Pause);
    menu7->setEnabled(Menu.Resume);
    mnuAdd->setEnabled(Menu.Add);
    mnuRemove->setEnabled(Menu.Remove);
    mnuClear->setEnabled(Menu.Clear);
    const QString Hint = Q(StartHint(Menu, Facts));
    FStatusHint->setText(Hint);
    FStatusHint->setToolTip(Hint);
    actStart->setToolTip(Hint.isEmpty() ? actStart->text().remove('&') : Hint);
}

void TfrmMain::UpdatePopup() {
    ApplyButtons();
    mnuOpenFolder->setEnabled(Rows().Count() > 0);
    mnuPlay->setEnabled(Rows().CanPlay(SelectedRow()));
}

void TfrmMain::UpdateStatus() {
    if (Rows().Count() == 0) {
        FStatusText->setText("No tasks: add files with \"Add Task\" or drop them here");
        FStatusTime->clear();
        FStatusBar->setValue(0);
        return;
    }
    const TRunSummary S = SummariseRun(Rows());
    FStatusText->setText(Q(SummaryText(S)));
    FStatusTime->setText(
        FRunActive ? Q(TimeLeftText(FEstimate.SecondsLeft(Rows(), FClock.elapsed()), FEstimate.Paused()))
                   : QString());
    FStatusBar->setValue(S.PerMille);
}

void TfrmMain::FitColumns() {
    for (int C = 0; C < kTaskColumnCount; ++C) {
        const TColumnSpec& Spec = kTaskColumns[static_cast<size_t>(C)];
        if (!Spec.FitContent) continue;
        // Through the base class: QTreeView makes its override protected.
        const int Content = std::max(static_cast<const QAbstractItemView*>(FList)->sizeHintForColumn(C),
                                     FList->header()->sectionSizeHint(C));
        FList->setColumnWidth(C, std::max(Spec.Width, Content));
    }
}

int TfrmMain::SelectedRow() const {
    const QModelIndexList Selected = FList->selectionModel()->selectedRows();
    return Selected.isEmpty() ? -1 : Selected.first().row();
}

void TfrmMain::Log(const QString& Line) {
    FLog->AddLine(Line);
}

void TfrmMain::LogBlock(const QString& Line) {
    Log(QString());
    Log(Line);
    Log(QString());
}

QTextCursor TfrmMain::NewestLine() const {
    // LogBlock ends with an empty line. The cursor moves with its line as the log drops its
    // oldest lines.
    const QTextBlock Last = FLog->document()->lastBlock();
    return QTextCursor(Last.text().isEmpty() && Last.previous().isValid() ? Last.previous() : Last);
}

void TfrmMain::ReportInStatus(const QString& Message, const QTextCursor& Line) {
    FReportedLine = Line;
    FReportedMessage = Message;
    statusBar()->showMessage(Message);
}

void TfrmMain::RevealReportedLine() {
    if (FReportedLine.isNull() || statusBar()->currentMessage() != FReportedMessage) return;
    QTextCursor Line(FReportedLine.block());
    if (!Line.block().isValid()) return;  // cleared from the log since
    Line.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    FLog->setTextCursor(Line);
    FLog->centerCursor();
    FLog->setFocus();
}

void TfrmMain::ShowException(const std::exception& E) {
    FPrompts.ShowMessage(Q(ExceptionBoxText(E.what())), ExceptionBoxIcon(E) == TBoxIcon::Warning
                                                            ? QMessageBox::Warning
                                                            : QMessageBox::Critical);
}

void TfrmMain::StartCompanion() {
    const QString Companion = QCoreApplication::applicationDirPath() + "/kivoth";
    if (QFileInfo(Companion).isExecutable()) QProcess::startDetached(Companion, {});
}

// ---- adding ----

bool TfrmMain::LoadLibraries() {
    if (FComponent->LoadLibraries(FLibraryFolder.toStdU16String())) {
        GetLogger().SetLogLevel(LogLevelOf(FSettings));
        return true;
    }
    Log(Q(FComponent->LastError()));
    return false;
}

void TfrmMain::AddTask() {
    // A finished run's engines do not start again, and a stopped run starts nothing more.
    if (!FRunActive && FComponent->TaskCount() != Rows().Count()) {
        LogBlock("***Adding needs \"Clear Task\" first: the list holds a finished run.");
        return;
    }
    if (FRunActive && (FStopPressed || FSequential)) {
        LogBlock("***Adding waits until the stopped run has ended.");
        return;
    }
    if (!LoadLibraries()) return;
    const QStringList Files = FPrompts.ChooseFiles();
    if (!Files.isEmpty()) AddFiles(Files);
}

void TfrmMain::AddPaths(const QStringList& Paths) {
    if (!FButtons.Add || Paths.isEmpty()) return;
    std::vector<std::string> Names;
    QStringList Missing;
    for (const QString& P : Paths) {
        if (QFileInfo::exists(P))
            Names.push_back(P.toStdString());
        else
            Missing << P;
    }
    // A name given on the command line that is not there would otherwise leave an empty window.
    for (const QString& P : Missing) LogBlock("***File not found: " + P);
    if (!Missing.isEmpty())
        statusBar()->showMessage(Missing.size() == 1 ? "File not found: " + Missing[0]
                                                     : QString("%1 files not found").arg(Missing.size()));
    QStringList Files;
    for (const std::string& F : ExpandMediaPaths(Names, FilterSuffixes(kOpenDialogFilter))) Files << Q(F);
    if (Files.isEmpty() || !LoadLibraries()) return;
    AddFiles(Files);
}

void TfrmMain::AddFiles(const QStringList& Files) {
    TAVProbe& Probe = FComponent->Probe();
    TBuildContext Context;
    // Two tasks of one batch never write one file.
    Context.Reserved = [this](const std::u16string& Name) {
        for (const TTaskRow& R : Rows().Rows())
            if (R.OutputFile == Name) return true;
        return false;
    };
    // Names are taken on the disk as they are chosen: a zembra-cli writing into the same folder
    // never gets one of them.
    Context.Claim = ClaimOutputFile;
    bool Shared = false;
    TConversionRequest SharedRequest;
    // The first rejection's line: one file's line is soon buried under the next file's.
    int Rejected = 0;
    QTextCursor FirstRejection;
    const auto Reject = [this, &Rejected, &FirstRejection] {
        if (Rejected++ == 0) FirstRejection = NewestLine();
    };
    for (int I = 0; I < Files.size(); ++I) {
        const std::u16string FileName = Files[I].toStdU16String();
        if (!Probe.LoadFile(FileName)) {
            LogBlock("***File load error: " + Q(Probe.LastError()));
            Reject();
            continue;
        }
        TProbeCloser Closer{Probe};
        if (Shared) {
            if (!AddTheTask(SharedRequest, SourceInfoOf(Probe), Context)) Reject();
            continue;
        }
        if (!FOptionDialog) FOptionDialog = new TfrmOption(this);
        FOptionDialog->SetBuildContext(Context);
        FOptionDialog->SetRemainingFiles(static_cast<int>(Files.size()) - I - 1);
        FOptionDialog->SetProbe(&Probe);
        if (FOptionDialog->exec() != QDialog::Accepted) continue;
        FAlbums.BeginAlbum();  // with the files its choice is applied to
        if (!AddTheTask(FOptionDialog->Request(), FOptionDialog->Source(), Context)) Reject();
        if (FOptionDialog->ApplyToRemaining()) {
            Shared = true;
            SharedRequest = FOptionDialog->Choices();
        }
    }
    UpdateStatus();
    if (Rejected > 0) {
        ReportInStatus(Rejected == 1 ? QString("1 file could not be added")
                                     : QString("%1 files could not be added").arg(Rejected),
                       FirstRejection);
    }
}

bool TfrmMain::AddTheTask(const TConversionRequest& Request, const TSourceInfo& Source,
                          const TBuildContext& Context) {
    const TAddedTask Added = AddConversionTask(*FComponent, Request, Source, Context);
    if (Added.Failure == TAddFailure::Input) {
        LogBlock("***File open error: " + Q(Added.Error));
        return false;
    }
    if (Added.Failure == TAddFailure::Output) {
        LogBlock("***Cannot do convert, error: " + Q(Added.Error));
        return false;
    }
    const TInputOptions& In = Added.Records.In;
    const TOutputOptions& Out = Added.Records.Out;
    FModel->Add(In.FileName, OutputDuration(Request, Source), FComponent->Probe().GetFileSize(), Out.FileName,
                Added.Id);
    if (Request.ReplayGain == TReplayGainMode::Album) FAlbums.Join(Added.Id, Out.FileName, Source.Tags);
    // Added during a run, it joins the run, and the run's end waits for it too.
    if (FRunActive) ++FRunTaskCount;
    LogBlock("***File has been added to convert list.");
    if (!FRunActive) FButtons.TaskAdded();
    ApplyButtons();
    return true;
}

// ---- the list ----

void TfrmMain::RemoveTask() {
    const int Index = SelectedRow();
    // Inside the component's own call (a sequential run) its list is not ours to change.
    if (Index < 0 || Index >= Rows().Count() || FInsideComponent > 0) return;
    const TTaskRow Gone = Rows()[Index];
    if (FRunActive) {
        // A running task stops and leaves; the run's end no longer waits for its report, and
        // reports already on their way here map to no row.
        --FRunTaskCount;
        const TTaskState State = Rows()[Index].State;
        if (State == TTaskState::Finished || State == TTaskState::Stopped || State == TTaskState::Failed)
            --FTerminatedInRun;
    }
    // After a run the rows stay while the component's list is gone.
    const int32_t Task = FComponent->IndexOfTask(Rows()[Index].TaskId);
    // Gone before the component is asked: removing a running task waits for its end, and the
    // reports that arrive meanwhile already find no row.
    FModel->Remove(Index);
    FEstimate.Removed(Index);
    ++FInsideComponent;
    if (Task >= 0) FComponent->DeleteTask(Task);
    --FInsideComponent;
    if (FRunActive && Unfinished(Gone)) ReportLeftOutputs(TStopCause::Removed, {Gone});
    // During a run the buttons keep the run's states.
    if (!FRunActive) FButtons.TaskRemoved(Rows().Count());
    ApplyButtons();
    UpdateStatus();
    FinishRunWhenDue();
}

void TfrmMain::ClearTasks() {
    if (FInsideComponent > 0) return;
    if (FRunActive) {
        const int Count =
            static_cast<int>(std::count_if(Rows().Rows().begin(), Rows().Rows().end(), Unfinished));
        if (Count > 0 && !FPrompts.ConfirmClear(Q(ClearQuestion(Count, FSettings.KeepPartial)))) return;
        // While the question was open the run may have ended, and the list with it.
        if (FInsideComponent > 0) return;
    }
    std::vector<TTaskRow> Gone;
    if (FRunActive)
        std::copy_if(Rows().Rows().begin(), Rows().Rows().end(), std::back_inserter(Gone), Unfinished);
    // During a run this stops every task and waits for it; the run's final event follows.
    FRunTaskCount = FTerminatedInRun = 0;
    FModel->Clear();
    ++FInsideComponent;
    FComponent->ClearTasks();
    --FInsideComponent;
    ReportLeftOutputs(TStopCause::Cleared, Gone);
    if (!FRunActive) FButtons.ListCleared();
    ApplyButtons();
    UpdateStatus();
    FinishRunWhenDue();
}

// ---- the run ----

void TfrmMain::StartTasks() {
    // Engines run once: after the final event the list must be cleared first.
    if (Rows().Count() == 0 || FRunActive || FComponent->TaskCount() != Rows().Count()) return;
    FComponent->SetThreadPriority(PriorityOf(FSettings));
    FButtons.RunStarted(FSettings.ThreadMode);
    const int32_t Count = StartThreadCount(FSettings);
    FRunActive = true;
    FSequential = Count <= 0;
    FRunTaskCount = Rows().Count();
    FTerminatedInRun = 0;
    FFinalPending = false;
    FStopPressed = false;
    // The menus follow the run's facts as well as the buttons.
    ApplyButtons();
    FEstimate.Start(FClock.elapsed());
    // What an earlier removal or clear left is old news once a new run starts.
    statusBar()->clearMessage();
    UpdateStatus();
    ++FInsideComponent;
    FComponent->StartTasks(Count);
    --FInsideComponent;
    FinishRunWhenDue();
}

void TfrmMain::StopTasks() {
    FButtons.StopPressed();
    FStopPressed = true;
    // Stop is enabled before any run: the idle tasks then report their ends and the final
    // event, and the list is over as after a run.
    if (!FRunActive && FComponent->TaskCount() > 0) {
        FRunActive = true;
        FSequential = false;
        FRunTaskCount = FComponent->TaskCount();
        FTerminatedInRun = 0;
        FFinalPending = false;
    }
    // The menus follow the run's facts as well as the buttons.
    ApplyButtons();
    ++FInsideComponent;
    FComponent->StopTasks(true);
    --FInsideComponent;
    FinishRunWhenDue();
}

void TfrmMain::PauseTasks() {
    FButtons.Paused();
    ApplyButtons();
    // Outside a run a pause would hold the next run's tasks, and "Start" disables "Resume".
    if (FRunActive && !FSequential) {
        FComponent->PauseTasks();
        FEstimate.Pause(FClock.elapsed());
        UpdateStatus();
    }
}

void TfrmMain::ResumeTasks() {
    FButtons.Resumed();
    ApplyButtons();
    if (FRunActive && !FSequential) {
        FComponent->ResumeTasks();
        FEstimate.Resume(FClock.elapsed());
        UpdateStatus();
    }
}

void TfrmMain::HandleProgress(TTaskId AId, int32_t AFPS, int32_t ACurrentDuration, int64_t ACurrentSize,
                              int32_t ATotalOutputDuration) {
    const int Row = Rows().RowOfTask(AId);
    if (Row < 0) return;  // the report of a task removed since
    FModel->ApplyProgress(Row, AFPS, ACurrentDuration, ACurrentSize, ATotalOutputDuration);
    FEstimate.Progress(Row, ACurrentDuration, FClock.elapsed());
    UpdateStatus();
    if (FSequential) {
        // The run holds the event loop: paint now.
        FList->viewport()->repaint();
        statusBar()->repaint();
    }
}

void TfrmMain::HandleTerminate(TTaskId AId, bool AFinished, bool AException, const std::string& AMessage,
                               const std::u16string& AKeptPartial) {
    if (AId == 0) {  // the run's final event
        FFinalPending = true;
        FinishRunWhenDue();
        return;
    }
    const int Row = Rows().RowOfTask(AId);
    if (Row < 0) return;  // the report of a task removed since
    const std::string Reached = ReachedText(Rows()[Row]);
    const std::u16string Output = Rows()[Row].OutputFile;
    FModel->ApplyTerminate(Row, AFinished, AException, AMessage, AKeptPartial);
    if (!AFinished && !AException)
        LogBlock("***" + Q(PartialOutputLine(TStopCause::Stopped, Reached, Rows()[Row].Cells[colInput],
                                             AKeptPartial, Output)));
    // The box names no file: the log line says which task it was.
    if ((AException || AFinished) && !AMessage.empty())
        LogBlock(QString("***%1: %2: %3")
                     .arg(AException ? "Failed" : "Finished with a warning", Q(Rows()[Row].Cells[colInput]),
                          Q(AMessage)));
    ++FTerminatedInRun;
    UpdateStatus();
    if (FSequential) {
        FList->viewport()->repaint();
        statusBar()->repaint();
    }
    if (AException) {
        // Inside a sequential run the box would open an event loop within the component's
        // run: it waits until the run has returned.
        if (FInsideComponent > 0)
            FDeferredWarnings.push_back(Q(AMessage));
        else
            FPrompts.ShowMessage(Q(AMessage), QMessageBox::Warning);
    }
    FinishRunWhenDue();
}

void TfrmMain::FinishRunWhenDue() {
    if (FInsideComponent == 0) {
        std::vector<QString> Warnings;
        Warnings.swap(FDeferredWarnings);
        for (const QString& W : Warnings) FPrompts.ShowMessage(W, QMessageBox::Warning);
    }
    // The final event may overtake a task's own on its way to this thread, and clearing the
    // component's list inside its own call is not ours to do.
    if (FFinalPending && FRunActive && FInsideComponent == 0 && FTerminatedInRun >= FRunTaskCount)
        FinishRun();
}

void TfrmMain::ReportLeftOutputs(TStopCause Cause, const std::vector<TTaskRow>& Gone) {
    if (Gone.empty()) return;
    int Kept = 0;
    QString Line;
    Log(QString());
    for (const TTaskRow& R : Gone) {
        // Known by now: the component has waited for each running task's end.
        const std::u16string Partial = FComponent->KeptPartialName(R.TaskId);
        if (!Partial.empty()) ++Kept;
        Line = Q(PartialOutputLine(Cause, ReachedText(R), R.Cells[colInput], Partial, R.OutputFile));
        Log("***" + Line);
    }
    Log(QString());
    const int Count = static_cast<int>(Gone.size());
    statusBar()->showMessage(Cause == TStopCause::Cleared ? Q(ClearedStatus(Count, Kept)) : Line, kNoticeMs);
}

void TfrmMain::FinishRun() {
    FFinalPending = false;
    FRunActive = false;
    // A run ended by "Clear Task" leaves an empty list that takes new files at once.
    if (Rows().Count() == 0)
        FButtons.ListCleared();
    else
        FButtons.FinalTerminate();
    ApplyButtons();
    FAlbums.RunEnded(*FComponent, [this](const std::string& Name, const std::string& Problem) {
        LogBlock(QString("***%1: %2").arg(Q(Name), Q(Problem)));
    });
    FComponent->ClearTasks();
    UpdateStatus();
    FitColumns();
    if (!isActiveWindow()) {
        const TRunSummary S = SummariseRun(Rows());
        SendDesktopNotification("Zembra: " + Q(SummaryText(S)));
    }
    emit RunFinished();
}

// ---- outside the program ----

void TfrmMain::ShowPreferences() {
    TfrmPreferences Dialog(this);
    Dialog.SetSettings(FSettings);
    if (ExecInFront(Dialog) != QDialog::Accepted) return;
    SetSettings(Dialog.Settings());
    SaveSettings();
}

void TfrmMain::ShowHelp() {
    if (!FHelp) FHelp = new THelpViewer(this);
    FHelp->ShowTopic(FHelpFolder);
}

void TfrmMain::SetHomePage(const QString& Page) {
    FHomePage = Page.toLower();
    // A build without a page has nothing to get.
    actGetMore->setVisible(!FHomePage.isEmpty());
    FGetMoreSeparator->setVisible(!FHomePage.isEmpty());
}

void TfrmMain::GetMore() {
    if (FHomePage.isEmpty()) return;
    // Without a browser the click would seem to do nothing at all.
    if (!QDesktopServices::openUrl(QUrl(FHomePage))) {
        LogBlock("***Cannot open " + FHomePage + ": no web browser found");
        ReportInStatus("No web browser found to open " + FHomePage, NewestLine());
    }
}

void TfrmMain::PlayOutput() {
    const QString File = QString::fromStdU16String(Rows().FileToPlay(SelectedRow()));
    if (File.isEmpty() || !QFileInfo(File).isFile()) return;
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(File))) {
        LogBlock("***Cannot play " + File + ": no media player found");
        ReportInStatus("No media player found to play " + QFileInfo(File).fileName(), NewestLine());
    }
}

void TfrmMain::OpenFolder() {
    const int Row = Rows().RowOfInterest(SelectedRow());
    const QString Folder = QString::fromStdU16String(Rows().FolderToOpen(SelectedRow()));
    if (Folder.isEmpty() || !QFileInfo(Folder).isDir()) return;
    if (!ShowInFileManager(QString::fromStdU16String(Rows()[Row].OutputFile), Folder)) {
        LogBlock("***Cannot open " + Folder + ": no file manager found");
        ReportInStatus("No file manager found to open " + Folder, NewestLine());
    }
}

// ---- window events ----

void TfrmMain::closeEvent(QCloseEvent* Event) {
    if (FRunActive && !FPrompts.ConfirmStopAndQuit()) {
        Event->ignore();
        return;
    }
    UnbindEvents();
    FComponent->StopTasks(true);
    SaveSettings();
    if (FHelp) FHelp->close();
    Event->accept();
}

void TfrmMain::dragEnterEvent(QDragEnterEvent* Event) {
    if (FButtons.Add && Event->mimeData()->hasUrls()) Event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* Event) {
    QStringList Paths;
    for (const QUrl& U : Event->mimeData()->urls())
        if (U.isLocalFile()) Paths << U.toLocalFile();
    Event->acceptProposedAction();
    // After the drop has returned to the source: each file may show a modal dialog.
    QTimer::singleShot(0, this, [this, Paths] { Guarded([this, &Paths] { AddPaths(Paths); }); });
}

}  // namespace zembra
