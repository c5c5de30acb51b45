#include "app/ButtonStates.h"

namespace zembra {

void TButtonStates::TaskAdded() {
    Remove = true;
    Clear = true;
    Start = true;
}

void TButtonStates::TaskRemoved(int RowsLeft) {
    Remove = Clear = Start = RowsLeft > 0;
    if (RowsLeft <= 0) ListEmptied();
}

void TButtonStates::ListCleared() {
    Add = true;
    Remove = Clear = Start = false;
    ListEmptied();
}

void TButtonStates::ListEmptied() {
    Stop = Pause = Resume = false;
}

void TButtonStates::RunStarted(bool ThreadMode) {
    Add = Remove = Clear = Start = false;
    Stop = Pause = ThreadMode;
    Resume = false;
}

void TButtonStates::Paused() {
    Pause = false;
    Resume = true;
}

void TButtonStates::Resumed() {
    Pause = true;
    Resume = false;
}

void TButtonStates::StopPressed() {
    Stop = false;
}

void TButtonStates::FinalTerminate() {
    Add = Remove = Start = Stop = Pause = Resume = false;
    Clear = true;
}

TButtonStates MenuStates(const TButtonStates& Buttons, const TListFacts& Facts) {
    const bool Rows = Facts.Rows > 0;
    TButtonStates M;
    if (Facts.RunActive && Facts.Sequential) {
        M.Add = M.Remove = M.Clear = M.Start = M.Stop = M.Pause = M.Resume = false;
        return M;
    }
    if (Facts.RunActive) {
        // An emptied list's run is ending: what is added waits for its end.
        M.Add = !Facts.StopPressed && Rows;
        M.Remove = Rows && Facts.RowSelected;
        M.Clear = Rows;
        M.Start = false;
    } else {
        M.Add = Buttons.Add;
        M.Remove = Buttons.Remove && Rows && Facts.RowSelected;
        M.Clear = Buttons.Clear && Rows;
        M.Start = Buttons.Start && Rows;
    }
    M.Stop = Buttons.Stop && Rows;
    M.Pause = Buttons.Pause && Rows;
    M.Resume = Buttons.Resume && Rows;
    return M;
}

std::string StartHint(const TButtonStates& Menu, const TListFacts& Facts) {
    if (Facts.RunActive || Facts.Rows == 0 || Menu.Start) return {};
    return Menu.Clear ? "To convert more: \"Clear Task\", then \"Add Task\"" : std::string();
}

}  // namespace zembra
