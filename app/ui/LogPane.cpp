#include "app/ui/LogPane.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QScrollBar>

namespace zembra {

TLogPane::TLogPane(QWidget* Parent) : QPlainTextEdit(Parent) {
    setObjectName("mmoLog");
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setMaximumBlockCount(kMaxLines);
    QFont Font("Courier New");
    Font.setStyleHint(QFont::Monospace);
    Font.setFixedPitch(true);
    setFont(Font);
    setAccessibleName("Log");
    QScrollBar* Bar = verticalScrollBar();
    // The range changes when lines come, when the horizontal bar appears and on every resize.
    connect(Bar, &QScrollBar::rangeChanged, this, [this] {
        if (FFollow) ScrollToEnd();
    });
    connect(Bar, &QScrollBar::valueChanged, this, [this, Bar](int Value) {
        if (!FAdjusting) FFollow = Value >= Bar->maximum();
    });
}

void TLogPane::ScrollToEnd() {
    FAdjusting = true;
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    FAdjusting = false;
}

void TLogPane::AddLine(const QString& Line) {
    // Appending (and the line cap dropping the oldest lines) moves the scroll position by
    // itself: that is not the user leaving the end.
    FAdjusting = true;
    appendPlainText(Line);
    FAdjusting = false;
    if (FFollow) ScrollToEnd();
}

void TLogPane::CopyToClipboard() {
    const QString Text = textCursor().hasSelection()
                             ? textCursor().selectedText().replace(QChar(0x2029), '\n')
                             : toPlainText();
    QGuiApplication::clipboard()->setText(Text);
}

void TLogPane::contextMenuEvent(QContextMenuEvent* Event) {
    QMenu Menu(this);
    Menu.addAction("Copy", this, &TLogPane::CopyToClipboard);
    Menu.addAction("Clear", this, &QPlainTextEdit::clear);
    Menu.exec(Event->globalPos());
}

}  // namespace zembra
