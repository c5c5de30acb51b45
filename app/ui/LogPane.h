#pragma once

// The log pane: read-only, fixed-pitch, keeping only the newest lines so that a long run at a
// verbose level does not eat memory; "Copy" and "Clear" on its context menu. While it shows its
// end it follows new lines, also when a long line brings the horizontal scroll bar or the pane
// is resized; scrolled up, it stays where the user reads.

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
    // Whether new lines scroll the pane to its end.
    bool Following() const { return FFollow; }

  protected:
    void contextMenuEvent(QContextMenuEvent* Event) override;

  private:
    void ScrollToEnd();

    bool FFollow = true;
    bool FAdjusting = false;  // our own changes of the scroll position
};

}  // namespace zembra
