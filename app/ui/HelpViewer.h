#pragma once

// The help viewer: a window of our own that shows the HTML manual in "help/" beside the
// executable, with its links between pages; one window for the program, shown again on every
// request.

#include <QString>
#include <QWidget>

class QTextBrowser;

namespace zembra {

inline constexpr const char* kHelpFolderMissing = "HHCtrl.OCX not installed!\r HTMLHELP cannot displayed!";
inline constexpr const char* kHelpTopicMissing = "Function HTMLHELP cannot loaded!";
inline constexpr const char* kHelpTopic = "introduction.htm";

class THelpViewer : public QWidget {
    Q_OBJECT
  public:
    explicit THelpViewer(QWidget* Parent = nullptr);
    // Shows Folder/Topic; throws std::runtime_error with the two texts above when the folder or
    // the topic is missing.
    void ShowTopic(const QString& Folder, const QString& Topic = kHelpTopic);
    QTextBrowser* Browser() const { return FBrowser; }

  protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;

  private:
    void PlaceOnScreen();
    // Scales the page's pictures down to the viewer's width (never up).
    void FitPictures();
    QTextBrowser* FBrowser;
};

}  // namespace zembra
