#pragma once

// The log pane: read-only, fixed-pitch, keeping only the newest lines so that a long run at a
// verbose level does not eat memory; "Copy" and "Clear" on its context menu.

#include <QPlainTextEdit>

namespace zembra {

class TLogPane : public QPlainTextEdit {
    Q_OBJECT
  public:
    static constexpr int kMaxLines = 20000;

    explicit TLogPane(QWidget* Parent = nullptr);
    void AddLine(const QString& Line);
    // The selection, or everything when nothing is selected.
    void CopyToClipboard();

  protected:
    void contextMenuEvent(QContextMenuEvent* Event) override;
};

}  // namespace zembra
