#include "console/ActivityLog.h"

#include <QScrollBar>
#include <QTextCursor>

namespace vostrel {

ActivityLog::ActivityLog(QWidget* parent) : QPlainTextEdit(parent) {
    setObjectName("Text1");
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setMaximumBlockCount(0);
    setUndoRedoEnabled(false);

    QPalette colours = palette();
    colours.setColor(QPalette::Base, QColor(0x40, 0x40, 0x40));
    colours.setColor(QPalette::Text, QColor(0x00, 0xFF, 0x00));
    setPalette(colours);
}

void ActivityLog::Append(const QString& addition) {
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(addition);
    verticalScrollBar()->setValue(verticalScrollBar()->minimum());
}

void ActivityLog::SetText(const QString& text) {
    setPlainText(text);
    verticalScrollBar()->setValue(verticalScrollBar()->minimum());
}

QString ActivityLog::Text() const {
    QString text = toPlainText();
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return text;
}

}  // namespace vostrel
