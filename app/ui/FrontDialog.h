#pragma once

// Modal boxes and dialogs that open where the user sees them: the realtime previews are windows
// of their own, and a box below one of them leaves the run looking stuck.

class QDialog;

namespace zembra {

// Shows Dialog modally, above every window of the program. A dialog with a parent is modal to
// that window only, so the previews (which have none) can still be moved and closed meanwhile.
int ExecInFront(QDialog& Dialog);

}  // namespace zembra
