#include "app/ui/LogPane.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>

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
}

void TLogPane::AddLine(const QString& Line) {
    appendPlainText(Line);
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
