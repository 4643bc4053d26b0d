#include "console/ActivityLog.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>
#include <algorithm>

namespace vostrel {

namespace {

constexpr int kMargin = 4;

std::string ToLatin1(const QString& text) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    for (const QChar c : text)
        bytes.push_back(c.unicode() < 256 ? static_cast<char>(c.unicode()) : '?');
    return bytes;
}

QString FromLatin1(std::string_view bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<int>(bytes.size()));
}

// Lays out one line of the log wrapped at `width`; returns its height.
qreal LayOut(QTextLayout& layout, qreal width, qreal lineSpacing) {
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    qreal height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout.endLayout();
    return std::max(height, lineSpacing);
}

}  // namespace

ActivityLog::ActivityLog(QWidget* parent) : QAbstractScrollArea(parent) {
    setObjectName("Text1");
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    verticalScrollBar()->setSingleStep(1);

    QPalette colours = palette();
    colours.setColor(QPalette::Base, QColor(0x40, 0x40, 0x40));
    colours.setColor(QPalette::Text, QColor(0x00, 0xFF, 0x00));
    setPalette(colours);
    UpdateScrollRange();
}

void ActivityLog::Append(const QString& addition) {
    AppendLatin1(ToLatin1(addition));
}

void ActivityLog::AppendLatin1(std::string_view addition) {
    const std::size_t from = text_.size();
    text_.append(addition);
    Reindex(from);
    UpdateScrollRange();
    // The view shows the first line after every write; repaint only when what it shows
    // changed.
    const bool wasAtTop = verticalScrollBar()->value() == 0;
    verticalScrollBar()->setValue(0);
    if (!wasAtTop || LineOf(from) <= lastPaintedLine_) viewport()->update();
}

void ActivityLog::SetText(const QString& text) {
    text_ = ToLatin1(text);
    caret_ = anchor_ = 0;
    lineStarts_.assign(1, 0);
    Reindex(0);
    UpdateScrollRange();
    verticalScrollBar()->setValue(0);
    viewport()->update();
}

QString ActivityLog::Text() const {
    return FromLatin1(text_);
}

void ActivityLog::SetCaret(std::size_t offset) {
    MoveCaret(offset, false);
}

ActivityLog::Line ActivityLog::LineAt(std::size_t index) const {
    const std::size_t start = lineStarts_[index];
    std::size_t end = index + 1 < lineStarts_.size() ? lineStarts_[index + 1] : text_.size();
    if (end > start && text_[end - 1] == '\n') --end;
    if (end > start && text_[end - 1] == '\r') --end;
    return {start, end};
}

std::size_t ActivityLog::LineOf(std::size_t offset) const {
    const auto after = std::upper_bound(lineStarts_.begin(), lineStarts_.end(), offset);
    return static_cast<std::size_t>(after - lineStarts_.begin()) - 1;
}

void ActivityLog::Reindex(std::size_t offset) {
    // Start one line earlier when the change may complete a CR LF pair split across writes.
    std::size_t line = LineOf(offset > 0 ? offset - 1 : 0);
    lineStarts_.resize(line + 1);
    for (std::size_t i = lineStarts_[line]; i < text_.size(); ++i) {
        const char c = text_[i];
        if (c == '\r' && i + 1 < text_.size() && text_[i + 1] == '\n') ++i;
        if (c == '\r' || c == '\n') lineStarts_.push_back(i + 1);
    }
}

void ActivityLog::Replace(std::size_t from, std::size_t to, std::string_view with) {
    text_.replace(from, to - from, with);
    Reindex(from);
    caret_ = anchor_ = from + with.size();
    Changed();
}

void ActivityLog::Changed() {
    UpdateScrollRange();
    EnsureCaretVisible();
    viewport()->update();
}

void ActivityLog::UpdateScrollRange() {
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, static_cast<int>(std::min<std::size_t>(lineStarts_.size() - 1, INT_MAX)));
    bar->setPageStep(std::max(1, VisibleRows()));
}

int ActivityLog::VisibleRows() const {
    return std::max(1, (viewport()->height() - 2 * kMargin) / fontMetrics().lineSpacing());
}

std::size_t ActivityLog::StepLeft(std::size_t offset) const {
    if (offset == 0) return 0;
    if (offset >= 2 && text_[offset - 1] == '\n' && text_[offset - 2] == '\r') return offset - 2;
    return offset - 1;
}

std::size_t ActivityLog::StepRight(std::size_t offset) const {
    if (offset >= text_.size()) return text_.size();
    if (text_[offset] == '\r' && offset + 1 < text_.size() && text_[offset + 1] == '\n') {
        return offset + 2;
    }
    return offset + 1;
}

void ActivityLog::MoveCaret(std::size_t offset, bool extendSelection) {
    caret_ = std::min(offset, text_.size());
    if (!extendSelection) anchor_ = caret_;
    EnsureCaretVisible();
    viewport()->update();
}

void ActivityLog::EnsureCaretVisible() {
    const int line = static_cast<int>(std::min<std::size_t>(LineOf(caret_), INT_MAX));
    QScrollBar* bar = verticalScrollBar();
    if (line < bar->value()) {
        bar->setValue(line);
    } else if (line >= bar->value() + VisibleRows()) {
        bar->setValue(line - VisibleRows() + 1);
    }
}

std::string ActivityLog::SelectedText() const {
    const auto [from, to] = std::minmax(caret_, anchor_);
    return text_.substr(from, to - from);
}

void ActivityLog::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Text));
    const qreal width = viewport()->width() - 2 * kMargin;
    const qreal spacing = fontMetrics().lineSpacing();
    const auto [selFrom, selTo] = std::minmax(caret_, anchor_);
    qreal y = kMargin;
    std::size_t index = static_cast<std::size_t>(verticalScrollBar()->value());
    lastPaintedLine_ = index;
    for (; index < lineStarts_.size() && y < viewport()->height(); ++index) {
        const Line line = LineAt(index);
        QTextLayout layout(
            FromLatin1(std::string_view(text_).substr(line.start, line.end - line.start)), font(),
            viewport());
        const qreal height = LayOut(layout, width, spacing);
        QVector<QTextLayout::FormatRange> selection;
        if (selFrom < selTo && selFrom <= line.end && selTo > line.start) {
            QTextLayout::FormatRange range;
            range.start = static_cast<int>(std::max(selFrom, line.start) - line.start);
            range.length = static_cast<int>(std::min(selTo, line.end) - line.start) - range.start;
            range.format.setBackground(palette().brush(QPalette::Highlight));
            range.format.setForeground(palette().brush(QPalette::HighlightedText));
            selection.append(range);
        }
        layout.draw(&painter, QPointF(kMargin, y), selection);
        if (hasFocus() && caret_ >= line.start && caret_ <= line.end) {
            layout.drawCursor(&painter, QPointF(kMargin, y), static_cast<int>(caret_ - line.start));
        }
        lastPaintedLine_ = index;
        y += height;
    }
}

std::size_t ActivityLog::OffsetAt(const QPoint& point) const {
    const qreal width = viewport()->width() - 2 * kMargin;
    const qreal spacing = fontMetrics().lineSpacing();
    qreal y = kMargin;
    std::size_t index = static_cast<std::size_t>(verticalScrollBar()->value());
    for (; index < lineStarts_.size(); ++index) {
        const Line line = LineAt(index);
        QTextLayout layout(
            FromLatin1(std::string_view(text_).substr(line.start, line.end - line.start)), font(),
            viewport());
        const qreal height = LayOut(layout, width, spacing);
        if (point.y() < y + height || index + 1 == lineStarts_.size()) {
            for (int i = 0; i < layout.lineCount(); ++i) {
                const QTextLine row = layout.lineAt(i);
                if (point.y() < y + row.y() + row.height() || i + 1 == layout.lineCount()) {
                    const int column = row.xToCursor(point.x() - kMargin);
                    return line.start + static_cast<std::size_t>(std::max(0, column));
                }
            }
            return line.end;
        }
        y += height;
    }
    return text_.size();
}

void ActivityLog::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        MoveCaret(OffsetAt(event->pos()), event->modifiers() & Qt::ShiftModifier);
    }
}

void ActivityLog::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) MoveCaret(OffsetAt(event->pos()), true);
}

void ActivityLog::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void ActivityLog::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void ActivityLog::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollRange();
}

void ActivityLog::keyPressEvent(QKeyEvent* event) {
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const auto [selFrom, selTo] = std::minmax(caret_, anchor_);
    const Line line = LineAt(LineOf(caret_));
    if (event->matches(QKeySequence::SelectAll)) {
        anchor_ = 0;
        MoveCaret(text_.size(), true);
    } else if (event->matches(QKeySequence::Copy)) {
        QApplication::clipboard()->setText(FromLatin1(SelectedText()));
    } else if (event->matches(QKeySequence::Cut)) {
        QApplication::clipboard()->setText(FromLatin1(SelectedText()));
        Replace(selFrom, selTo, {});
    } else if (event->matches(QKeySequence::Paste)) {
        Replace(selFrom, selTo, ToLatin1(QApplication::clipboard()->text()));
    } else if (event->key() == Qt::Key_Left) {
        MoveCaret(StepLeft(caret_), shift);
    } else if (event->key() == Qt::Key_Right) {
        MoveCaret(StepRight(caret_), shift);
    } else if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        const std::size_t index = LineOf(caret_);
        const bool up = event->key() == Qt::Key_Up;
        if (up ? index > 0 : index + 1 < lineStarts_.size()) {
            const Line target = LineAt(up ? index - 1 : index + 1);
            MoveCaret(std::min(target.start + (caret_ - line.start), target.end), shift);
        }
    } else if (event->key() == Qt::Key_Home) {
        MoveCaret(event->modifiers() & Qt::ControlModifier ? 0 : line.start, shift);
    } else if (event->key() == Qt::Key_End) {
        MoveCaret(event->modifiers() & Qt::ControlModifier ? text_.size() : line.end, shift);
    } else if (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown) {
        verticalScrollBar()->triggerAction(event->key() == Qt::Key_PageUp
                                               ? QAbstractSlider::SliderPageStepSub
                                               : QAbstractSlider::SliderPageStepAdd);
    } else if (event->key() == Qt::Key_Backspace) {
        Replace(selFrom < selTo ? selFrom : StepLeft(caret_), selTo, {});
    } else if (event->key() == Qt::Key_Delete) {
        Replace(selFrom, selFrom < selTo ? selTo : StepRight(caret_), {});
    } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        Replace(selFrom, selTo, "\r\n");
    } else if (!event->text().isEmpty() && event->text().at(0).isPrint() &&
               !(event->modifiers() & Qt::ControlModifier)) {
        Replace(selFrom, selTo, ToLatin1(event->text()));
    } else {
        QAbstractScrollArea::keyPressEvent(event);
    }
}

}  // namespace vostrel
