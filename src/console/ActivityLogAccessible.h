// What a screen reader sees of the activity log box: an editable text named "Activity log"
// with its whole text, any range of it, the caret and the selection, and the character, word,
// sentence, screen row (line) or text line (paragraph) at an offset. Offsets count characters,
// which are the store's bytes (Latin-1); every lookup goes through the store's index, and the
// text is built as a string only for the range asked for.
#pragma once

#include <QAccessibleWidget>
#include <utility>

namespace vostrel {

class ActivityLog;

class ActivityLogAccessible : public QAccessibleWidget,
                              public QAccessibleTextInterface,
                              public QAccessibleEditableTextInterface {
  public:
    explicit ActivityLogAccessible(ActivityLog* log);
    // For QAccessible::installFactory: the interface of an ActivityLog, none for others.
    static QAccessibleInterface* Create(const QString& className, QObject* object);

    void* interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::State state() const override;

    // Text.
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                             int* startOffset, int* endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                            int* startOffset, int* endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                         int* endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

    // Editable text.
    void deleteText(int startOffset, int endOffset) override;
    void insertText(int offset, const QString& text) override;
    void replaceText(int startOffset, int endOffset, const QString& text) override;

    // The widget's text() (name, description) beside the text interface's (a range).
    using QAccessibleWidget::text;

  private:
    ActivityLog& Log() const;
    // The range of the unit of `type` that holds `offset` (in [0, characterCount]).
    std::pair<int, int> UnitAt(int offset, QAccessible::TextBoundaryType type) const;
    int Clamp(int offset) const;
};

}  // namespace vostrel
