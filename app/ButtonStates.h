#pragma once

// Which toolbar buttons are enabled, as the run moves on, and from them which menu items are:
// a menu item is enabled exactly when its handler would act.

#include <string>

namespace zembra {

struct TButtonStates {
    bool Add = true;
    bool Remove = true;
    bool Clear = true;
    bool Start = true;
    bool Stop = true;
    bool Pause = true;
    bool Resume = true;

    bool operator==(const TButtonStates&) const = default;

    void TaskAdded();
    // RowsLeft: rows after the removal.
    void TaskRemoved(int RowsLeft);
    void ListCleared();
    // With no row left there is nothing to stop, pause or resume, also while a run's end is
    // still on its way.
    void ListEmptied();
    // Stop and pause make sense only when the run leaves the window's thread free.
    void RunStarted(bool ThreadMode);
    void Paused();
    void Resumed();
    void StopPressed();
    // Engines that have run do not start again: adding waits for "Clear Task".
    void FinalTerminate();
};

// What the window knows of its list and run besides the buttons.
struct TListFacts {
    int Rows = 0;
    bool RowSelected = false;
    bool RunActive = false;
    // The run holds the window's thread: nothing can be clicked until it returns.
    bool Sequential = false;
    bool StopPressed = false;
};

// The "File" menu's items and the pop-up's add, remove and clear. They follow the buttons, and
// during a thread-mode run they also do what the buttons may not: add a file that joins the
// run (until it is stopped), remove the selected task, clear the list.
TButtonStates MenuStates(const TButtonStates& Buttons, const TListFacts& Facts);

// Why "Start" is greyed while the list has rows, or nothing: a finished list does not start
// again, which would otherwise look like a Start that does nothing.
std::string StartHint(const TButtonStates& Menu, const TListFacts& Facts);

}  // namespace zembra
