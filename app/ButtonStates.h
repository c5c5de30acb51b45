#pragma once

// Which toolbar buttons are enabled, as the run moves on. The menus and the pop-up call the same
// handlers whatever these say; only the pop-up copies three of them when it opens.

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
    // Stop and pause make sense only when the run leaves the window's thread free.
    void RunStarted(bool ThreadMode);
    void Paused();
    void Resumed();
    void StopPressed();
    // Engines that have run do not start again: adding waits for "Clear Task".
    void FinalTerminate();
};

}  // namespace zembra
