#pragma once

// The main window: the task list with its toolbar and menus, the log pane and the status bar.
// It drives the task-manager component, asks the settings dialog for each file's records and
// shows the logger's lines. Its rules live in the Qt-free classes of app/; this class wires them
// to widgets and brings the component's worker-thread events onto the window's thread.

#include <QElapsedTimer>
#include <QMainWindow>
#include <QMessageBox>
#include <QStringList>
#include <QTextCursor>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/AlbumGain.h"
#include "app/ButtonStates.h"
#include "app/RunEstimate.h"
#include "app/RunSettings.h"
#include "app/TaskAdding.h"
#include "util/MainThread.h"
#include "app/TaskRows.h"
#include "component/RUvivoVOV.h"

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QTreeView;

namespace zembra {

class TfrmOption;
class TfrmPreferences;
class THelpViewer;
class TLogPane;
class TTaskListModel;

inline constexpr const char* kMainCaption = "Zembra version 2015 6.5.7";
inline constexpr const char* kStopAndQuitQuestion = "Stop the running tasks and quit?";

// What the window shows in boxes and asks of the user; tests put their own in place.
struct TWindowPrompts {
    // Caption: the application title.
    std::function<void(const QString& Text, QMessageBox::Icon Icon)> ShowMessage;
    // True: stop the run and quit.
    std::function<bool()> ConfirmStopAndQuit;
    // "Clear Task" during a run, with the question that says what becomes of the unfinished
    // tasks' outputs; true: clear.
    std::function<bool(const QString& Question)> ConfirmClear;
    // The open dialog; empty when cancelled.
    std::function<QStringList()> ChooseFiles;
};

class TfrmMain : public QMainWindow {
    Q_OBJECT
  public:
    explicit TfrmMain(QWidget* Parent = nullptr);
    ~TfrmMain() override;

    // Files and folders (a folder gives its media files, recursively), as dropped or named on
    // the command line; ignored while adding is disabled.
    void AddPaths(const QStringList& Paths);

    TWindowPrompts& Prompts() { return FPrompts; }
    // The window's own boxes and dialogs, the ones Prompts() starts with.
    TWindowPrompts OwnPrompts();
    void SetLibraryFolder(const QString& Folder) { FLibraryFolder = Folder; }
    void SetHelpFolder(const QString& Folder) { FHelpFolder = Folder; }
    // The page "Get Lorvane" opens; with none its button and menu item are hidden.
    void SetHomePage(const QString& Page);
    const TRunSettings& Settings() const { return FSettings; }
    void SetSettings(const TRunSettings& S);

    TRUvivoVOV& Component() { return *FComponent; }
    const TTaskRows& Rows() const;
    const TButtonStates& Buttons() const { return FButtons; }
    bool RunActive() const { return FRunActive; }
    TLogPane* LogPane() const { return FLog; }
    QTreeView* List() const { return FList; }
    THelpViewer* HelpViewer() const { return FHelp; }
    TfrmOption* OptionDialog() const { return FOptionDialog; }
    QMenu* PopupMenu() const { return FPopup; }
    QAction* Action(const char* Name) const;

  public slots:
    void AddTask();
    void RemoveTask();
    void ClearTasks();
    void StartTasks();
    void StopTasks();
    void PauseTasks();
    void ResumeTasks();
    void ShowPreferences();
    void ShowHelp();
    void GetMore();
    void PlayOutput();
    void OpenFolder();

  signals:
    // The run's final event has been handled.
    void RunFinished();

  protected:
    void closeEvent(QCloseEvent* Event) override;
    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;

  private:
    void CreateActions();
    void CreateWidgets();
    void BindEvents();
    void UnbindEvents();
    void LoadSettings();
    void SaveSettings();
    void ApplyButtons();
    void UpdatePopup();
    void UpdateStatus();
    void FitColumns();
    int SelectedRow() const;
    void Log(const QString& Line);
    void LogBlock(const QString& Line);  // an empty line, the line, an empty line
    // A status bar message about a log line, which a click on the message shows.
    void ReportInStatus(const QString& Message, const QTextCursor& Line);
    QTextCursor NewestLine() const;
    void RevealReportedLine();
    void ShowException(const std::exception& E);
    void StartCompanion();

    bool LoadLibraries();
    void AddFiles(const QStringList& Files);
    // Adds the task and its row, or logs why it could not (false).
    bool AddTheTask(const TConversionRequest& Request, const TSourceInfo& Source,
                    const TBuildContext& Context);

    // The component's events, on the window's thread.
    template <class F>
    void OnWindowThread(TPostMode Mode, F&& Proc);
    void HandleProgress(TTaskId AId, int32_t AFPS, int32_t ACurrentDuration, int64_t ACurrentSize,
                        int32_t ATotalOutputDuration);
    void HandleTerminate(TTaskId AId, bool AFinished, bool AException, const std::string& AMessage,
                         const std::u16string& AKeptPartial);
    void FinishRun();
    void FinishRunWhenDue();
    // Says in the log and the status bar what the unfinished tasks of rows that went (removed
    // or cleared) left behind, once the component has stopped them.
    void ReportLeftOutputs(TStopCause Cause, const std::vector<TTaskRow>& Gone);

    std::unique_ptr<TRUvivoVOV> FComponent;
    TWindowPrompts FPrompts;
    TRunSettings FSettings;
    TButtonStates FButtons;
    QString FLibraryFolder;
    QString FHelpFolder;

    TTaskListModel* FModel = nullptr;
    QTreeView* FList = nullptr;
    TLogPane* FLog = nullptr;
    QLabel* FStatusText = nullptr;
    QLabel* FStatusTime = nullptr;
    QLabel* FStatusHint = nullptr;
    QProgressBar* FStatusBar = nullptr;
    QMenu* FPopup = nullptr;
    TfrmOption* FOptionDialog = nullptr;
    THelpViewer* FHelp = nullptr;

    QAction *actAdd, *actRemove, *actClear, *actStart, *actStop, *actPause, *actResume;
    QAction *actSettings, *actHelp, *actGetMore, *actExit;
    QAction *mnuAdd, *mnuRemove, *mnuClear, *mnuPlay, *mnuOpenFolder;
    // The "File" menu's own items: during a run they may do what the buttons may not.
    QAction *menu1, *menu2, *menu3, *menu4, *menu5, *menu6, *menu7;
    QAction* FGetMoreSeparator = nullptr;
    QString FHomePage;

    // The run as the window sees it.
    bool FRunActive = false;
    bool FSequential = false;
    int FRunTaskCount = 0;
    int FTerminatedInRun = 0;
    bool FFinalPending = false;
    bool FStopPressed = false;
    int FInsideComponent = 0;  // depth of StartTasks / StopTasks calls
    std::vector<QString> FDeferredWarnings;
    QElapsedTimer FClock;
    QTimer FFitColumns;
    TRunEstimate FEstimate;
    // The log line the status bar's message is about; null when it is about none.
    QTextCursor FReportedLine;
    QString FReportedMessage;
    TTaskAlbums FAlbums;
};

}  // namespace zembra
