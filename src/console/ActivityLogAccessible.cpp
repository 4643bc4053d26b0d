#include "console/ActivityLogAccessible.h"

#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <climits>

#include "console/ActivityLog.h"
#include "console/Latin1.h"

namespace vostrel {

namespace {

// Words and sentences are looked for this far on either side of an offset, within its line.
constexpr std::size_t kSearchWindow = 4096;

}  // namespace

ActivityLogAccessible::ActivityLogAccessible(ActivityLog* log)
    : QAccessibleWidget(log, QAccessible::EditableText) {}

QAccessibleInterface* ActivityLogAccessible::Create(const QString& className, QObject* object) {
    auto* log = qobject_cast<ActivityLog*>(object);
    if (log == nullptr || className != QLatin1String(ActivityLog::staticMetaObject.className())) {
        return nullptr;
    }
    return new ActivityLogAccessible(log);
}

ActivityLog& ActivityLogAccessible::Log() const {
    return *static_cast<ActivityLog*>(widget());
}

void* ActivityLogAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    if (type == QAccessible::EditableTextInterface) {
        return static_cast<QAccessibleEditableTextInterface*>(this);
    }
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State ActivityLogAccessible::state() const {
    QAccessible::State state = QAccessibleWidget::state();
    state.editable = true;
    state.multiLine = true;
    state.selectableText = true;
    return state;
}

int ActivityLogAccessible::Clamp(int offset) const {
    return std::clamp(offset, 0, characterCount());
}

// ---------------------------------------------------------------------------------------------
// Caret and selection

void ActivityLogAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const {
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || selectionCount() == 0) return;
    const std::size_t caret = Log().Caret();
    const std::size_t anchor = Log().Anchor();
    *startOffset = static_cast<int>(std::min(caret, anchor));
    *endOffset = static_cast<int>(std::max(caret, anchor));
}

int ActivityLogAccessible::selectionCount() const {
    return Log().Caret() != Log().Anchor() ? 1 : 0;
}

void ActivityLogAccessible::addSelection(int startOffset, int endOffset) {
    setSelection(0, startOffset, endOffset);
}

void ActivityLogAccessible::removeSelection(int selectionIndex) {
    if (selectionIndex == 0) Log().SetCaret(Log().Caret());
}

void ActivityLogAccessible::setSelection(int selectionIndex, int startOffset, int endOffset) {
    if (selectionIndex != 0) return;
    Log().Select(static_cast<std::size_t>(Clamp(startOffset)),
                 static_cast<std::size_t>(Clamp(endOffset)));
}

int ActivityLogAccessible::cursorPosition() const {
    return static_cast<int>(Log().Caret());
}

void ActivityLogAccessible::setCursorPosition(int position) {
    Log().SetCaret(static_cast<std::size_t>(Clamp(position)));
}

// ---------------------------------------------------------------------------------------------
// Text

int ActivityLogAccessible::characterCount() const {
    return static_cast<int>(std::min<std::size_t>(Log().Size(), INT_MAX));
}

QString ActivityLogAccessible::text(int startOffset, int endOffset) const {
    const int from = Clamp(startOffset);
    const int to = Clamp(endOffset);
    if (from >= to) return {};
    return Latin1(
        Log().Store().Substr(static_cast<std::size_t>(from), static_cast<std::size_t>(to)));
}

std::pair<int, int> ActivityLogAccessible::UnitAt(int offset,
                                                  QAccessible::TextBoundaryType type) const {
    const LogText& store = Log().Store();
    const int count = characterCount();
    offset = Clamp(offset);
    const auto at = static_cast<std::size_t>(offset);
    const LogText::Line line = store.LineAt(at);
    const auto range = [](std::size_t from, std::size_t to) {
        return std::pair<int, int>(static_cast<int>(from), static_cast<int>(to));
    };
    switch (type) {
        case QAccessible::CharBoundary:
            return offset < count ? range(at, at + 1) : range(at, at);
        case QAccessible::LineBoundary: {
            // The screen row: up to the next row's start, or with the line break on the last.
            const LogText::RowInLine row = store.RowOfColumn(line, at - line.start);
            const std::size_t next = store.RowStart(line, row.index + 1);
            const std::size_t end = next > row.start ? line.start + next : line.next;
            return range(line.start + row.start, end);
        }
        case QAccessible::ParagraphBoundary:
            return range(line.start, line.next);
        case QAccessible::WordBoundary:
        case QAccessible::SentenceBoundary: {
            if (at >= line.end) return range(line.end, line.next);  // the line break
            const std::size_t from =
                std::max(line.start, at >= kSearchWindow ? at - kSearchWindow : 0);
            const std::size_t to = std::min(line.end, at + kSearchWindow);
            const QString window = Latin1(store.Substr(from, to));
            QTextBoundaryFinder finder(type == QAccessible::WordBoundary
                                           ? QTextBoundaryFinder::Word
                                           : QTextBoundaryFinder::Sentence,
                                       window);
            finder.setPosition(static_cast<int>(at - from));
            const int start =
                finder.isAtBoundary() ? finder.position() : finder.toPreviousBoundary();
            finder.setPosition(static_cast<int>(at - from));
            const int end = finder.toNextBoundary();
            return range(from + static_cast<std::size_t>(std::max(start, 0)),
                         end < 0 ? to : from + static_cast<std::size_t>(end));
        }
        case QAccessible::NoBoundary:
            break;
    }
    return range(0, static_cast<std::size_t>(count));
}

QString ActivityLogAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                            int* startOffset, int* endOffset) const {
    const auto [from, to] = UnitAt(offset, boundaryType);
    *startOffset = from;
    *endOffset = to;
    return text(from, to);
}

QString ActivityLogAccessible::textBeforeOffset(int offset,
                                                QAccessible::TextBoundaryType boundaryType,
                                                int* startOffset, int* endOffset) const {
    *startOffset = *endOffset = -1;
    const int start = UnitAt(offset, boundaryType).first;
    if (start <= 0) return {};
    return textAtOffset(start - 1, boundaryType, startOffset, endOffset);
}

QString ActivityLogAccessible::textAfterOffset(int offset,
                                               QAccessible::TextBoundaryType boundaryType,
                                               int* startOffset, int* endOffset) const {
    *startOffset = *endOffset = -1;
    const int end = UnitAt(offset, boundaryType).second;
    if (end >= characterCount() || end <= Clamp(offset)) return {};
    return textAtOffset(end, boundaryType, startOffset, endOffset);
}

QString ActivityLogAccessible::attributes(int offset, int* startOffset, int* endOffset) const {
    // One look for the whole text.
    static_cast<void>(offset);
    *startOffset = 0;
    *endOffset = characterCount();
    return {};
}

// ---------------------------------------------------------------------------------------------
// Geometry

QRect ActivityLogAccessible::characterRect(int offset) const {
    const QRect box = Log().CharacterBox(static_cast<std::size_t>(Clamp(offset)));
    return QRect(Log().viewport()->mapToGlobal(box.topLeft()), box.size());
}

int ActivityLogAccessible::offsetAtPoint(const QPoint& point) const {
    const QPoint local = Log().viewport()->mapFromGlobal(point);
    if (!Log().viewport()->rect().contains(local)) return -1;
    return static_cast<int>(Log().OffsetAt(local));
}

void ActivityLogAccessible::scrollToSubstring(int startIndex, int endIndex) {
    static_cast<void>(endIndex);
    Log().EnsureVisible(static_cast<std::size_t>(Clamp(startIndex)));
}

// ---------------------------------------------------------------------------------------------
// Editing

void ActivityLogAccessible::deleteText(int startOffset, int endOffset) {
    replaceText(startOffset, endOffset, QString());
}

void ActivityLogAccessible::insertText(int offset, const QString& text) {
    replaceText(offset, offset, text);
}

void ActivityLogAccessible::replaceText(int startOffset, int endOffset, const QString& text) {
    const auto from = static_cast<std::size_t>(Clamp(startOffset));
    const auto to = static_cast<std::size_t>(Clamp(endOffset));
    Log().Edit(std::min(from, to), std::max(from, to), ToLatin1(text));
}

}  // namespace vostrel
