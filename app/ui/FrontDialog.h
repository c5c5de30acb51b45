#pragma once

// Modal boxes and dialogs that open where the user sees them: the realtime previews are windows
// of their own that stay on top, and a box below one of them leaves the run looking stuck.

class QDialog;

namespace zembra {

// Shows Dialog modally, parented as it was made, above every window of the program.
int ExecInFront(QDialog& Dialog);

}  // namespace zembra
