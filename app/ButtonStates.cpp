#include "app/ButtonStates.h"

namespace zembra {

void TButtonStates::TaskAdded() {
    Remove = true;
    Clear = true;
    Start = true;
}

void TButtonStates::TaskRemoved(int RowsLeft) {
    Remove = Clear = Start = RowsLeft > 0;
}

void TButtonStates::ListCleared() {
    Add = true;
    Remove = Clear = Start = false;
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

}  // namespace zembra
