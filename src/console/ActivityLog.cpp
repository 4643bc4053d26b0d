#include "console/ActivityLog.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

#include "console/ActivityLogAccessible.h"
#include "console/Latin1.h"

namespace vostrel {

namespace {

constexpr int kMargin = 4;
constexpr int kSubpixels = 64;  // advances and widths are kept in 1/64 pixel

// How a byte of the log is drawn: control characters as a middle dot and a tab as a blank, so
// every character has a visible width and no row can hold more than a screenful of them.
QChar DisplayChar(unsigned char c) {
    if (c == '\t') return QLatin1Char(' ');
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return QChar(0x00B7);
    if (c == 0xAD) return QLatin1Char('-');  // the soft hyphen, drawn
    return QChar(c);
}

int Position(std::size_t offset) {
    return static_cast<int>(std::min<std::size_t>(offset, INT_MAX));
}

void Announce(QAccessibleEvent&& event) {
    QAccessible::updateAccessibility(&event);
}

QString DisplayText(std::string_view bytes) {
    QString text(static_cast<int>(bytes.size()), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes) *out++ = DisplayChar(static_cast<unsigned char>(c));
    return text;
}

}  // namespace

ActivityLog::ActivityLog(QWidget* parent) : QAbstractScrollArea(parent) {
    static const bool accessible =
        (QAccessible::installFactory(&ActivityLogAccessible::Create), true);
    static_cast<void>(accessible);
    setObjectName("Text1");
    setAccessibleName(QStringLiteral("Activity log"));
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
    UpdateMetrics();
}

// ---------------------------------------------------------------------------------------------
// Writing

void ActivityLog::Append(const QString& addition) {
    AppendLatin1(ToLatin1(addition));
}

void ActivityLog::AppendLatin1(std::string_view addition) {
    const std::size_t firstNewRow = text_.RowOf(text_.Size());
    // Only a listening screen reader is told; nothing else is spent on it.
    const bool listened = QAccessible::isActive();
    std::string removed;
    const std::size_t caretBefore = caret_;
    const std::size_t anchorBefore = anchor_;
    const LogText::Trim trim = text_.Append(addition, listened ? &removed : nullptr);
    FollowTrim(trim);
    if (listened) {
        if (trim.count > 0) AnnounceTrim(trim, removed);
        if (!addition.empty() && unannounced_ == kNone) {
            unannounced_ = text_.Size() - addition.size();
        }
        if (!announceQueued_ && (unannounced_ != kNone || !unannouncedRemoval_.empty())) {
            announceQueued_ = true;
            QTimer::singleShot(0, this, [this] { AnnounceAppended(caret_); });
        }
        AnnounceCaret(caretBefore, anchorBefore);
    }
    UpdateScrollRange();
    // The view shows the first line after every write; repaint only when what it shows
    // changed.
    const bool wasAtTop = verticalScrollBar()->value() == 0;
    verticalScrollBar()->setValue(0);
    if (!wasAtTop || trim.count > 0 || firstNewRow < static_cast<std::size_t>(VisibleRows())) {
        viewport()->update();
    }
}

// A reader learns of what was removed from the text it knows, with the appended text; text
// appended but not yet announced that goes too is never announced. Lines are removed from one
// place (below the head), so the removals of one pass are one.
void ActivityLog::AnnounceTrim(const LogText::Trim& trim, const std::string& removed) {
    std::size_t known = trim.count;
    if (unannounced_ != kNone) {
        known = unannounced_ > trim.from ? std::min(trim.count, unannounced_ - trim.from) : 0;
        if (unannounced_ >= trim.from + trim.count) {
            unannounced_ -= trim.count;
        } else if (unannounced_ > trim.from) {
            unannounced_ = trim.from;
        }
    }
    if (known == 0) return;
    if (!unannouncedRemoval_.empty() && removalFrom_ != trim.from) {
        Announce(QAccessibleTextRemoveEvent(this, Position(removalFrom_),
                                            Latin1(std::exchange(unannouncedRemoval_, {}))));
    }
    removalFrom_ = trim.from;
    unannouncedRemoval_.append(removed, 0, known);
}

void ActivityLog::AnnounceAppended(std::size_t caret) {
    announceQueued_ = false;
    if (!unannouncedRemoval_.empty()) {
        const std::string removal = std::exchange(unannouncedRemoval_, {});
        if (QAccessible::isActive()) {
            Announce(QAccessibleTextRemoveEvent(this, Position(removalFrom_), Latin1(removal)));
        }
    }
    if (unannounced_ == kNone) return;
    const std::size_t from = std::exchange(unannounced_, kNone);
    if (from >= text_.Size() || !QAccessible::isActive()) return;
    QAccessibleTextInsertEvent inserted(this, Position(from),
                                        Latin1(text_.Substr(from, text_.Size())));
    inserted.setCursorPosition(Position(caret));
    Announce(std::move(inserted));
}

void ActivityLog::SetText(const QString& text) {
    AnnounceAppended(caret_);
    const bool listened = QAccessible::isActive();
    const QString before = listened ? Text() : QString();
    text_.Assign(ToLatin1(text));
    caret_ = anchor_ = 0;
    if (listened) Announce(QAccessibleTextUpdateEvent(this, 0, before, Text()));
    UpdateScrollRange();
    verticalScrollBar()->setValue(0);
    viewport()->update();
}

QString ActivityLog::Text() const {
    return Latin1(text_.Text());
}

void ActivityLog::SetCaret(std::size_t offset) {
    MoveCaret(offset, false);
}

void ActivityLog::Edit(std::size_t from, std::size_t to, std::string_view with) {
    AnnounceAppended(caret_);
    to = std::min(to, text_.Size());
    from = std::min(from, to);
    const bool listened = QAccessible::isActive();
    const std::string replaced = listened ? text_.Substr(from, to) : std::string();
    std::string removed;
    const std::size_t caretBefore = caret_;
    const std::size_t anchorBefore = anchor_;
    const LogText::Trim trim = text_.Replace(from, to, with, listened ? &removed : nullptr);
    caret_ = anchor_ = from + with.size();
    FollowTrim(trim);
    UpdateScrollRange();
    EnsureVisible(caret_);
    viewport()->update();
    if (!listened) return;
    if (!replaced.empty())
        Announce(QAccessibleTextRemoveEvent(this, Position(from), Latin1(replaced)));
    if (!with.empty()) {
        QAccessibleTextInsertEvent inserted(this, Position(from), Latin1(with));
        inserted.setCursorPosition(Position(from + with.size()));
        Announce(std::move(inserted));
    }
    if (trim.count > 0)
        Announce(QAccessibleTextRemoveEvent(this, Position(trim.from), Latin1(removed)));
    AnnounceCaret(caretBefore, anchorBefore);
}

// Keeps the caret and the selection on the same text when lines were removed before them.
void ActivityLog::FollowTrim(const LogText::Trim& trim) {
    if (trim.count == 0) return;
    auto follow = [&trim](std::size_t offset) {
        if (offset < trim.from) return offset;
        return offset < trim.from + trim.count ? trim.from : offset - trim.count;
    };
    caret_ = follow(caret_);
    anchor_ = follow(anchor_);
}

// ---------------------------------------------------------------------------------------------
// Rows and metrics

int ActivityLog::RowHeight() const {
    return rowHeight_;
}

int ActivityLog::VisibleRows() const {
    return std::max(1, (viewport()->height() - 2 * kMargin) / RowHeight());
}

void ActivityLog::UpdateMetrics() {
    // Character by character, unkerned and unshaped, so a row is as wide as its characters'
    // advances add up to, and the wrapping computed from them is what is drawn.
    drawFont_ = font();
    drawFont_.setKerning(false);
    drawFont_.setStyleStrategy(QFont::PreferNoShaping);
    const QFontMetricsF metrics(drawFont_);
    rowHeight_ = std::max(1, QFontMetrics(drawFont_).lineSpacing());
    ascent_ = QFontMetrics(drawFont_).ascent();
    WrapMetrics wrap;
    for (int c = 0; c < 256; ++c) {
        const qreal advance = metrics.horizontalAdvance(DisplayChar(static_cast<unsigned char>(c)));
        wrap.advance[static_cast<std::size_t>(c)] =
            std::max(1, static_cast<int>(std::lround(advance * kSubpixels)));
    }
    wrap.width = std::int64_t{std::max(1, viewport()->width() - 2 * kMargin)} * kSubpixels;
    const WrapMetrics& old = text_.Wrap();
    if (wrap.width != old.width || wrap.advance != old.advance) text_.SetWrap(wrap);
    UpdateScrollRange();
}

void ActivityLog::UpdateScrollRange() {
    QScrollBar* bar = verticalScrollBar();
    const std::size_t rows = text_.RowCount();
    const std::size_t visible = static_cast<std::size_t>(VisibleRows());
    const std::size_t last = rows > visible ? rows - visible : 0;
    const int before = bar->value();
    {
        // The bar is always shown, so the scroll area need not lay itself out again for a new
        // range (which would cost every append a posted event).
        const QSignalBlocker quiet(bar);
        bar->setRange(0, static_cast<int>(std::min<std::size_t>(last, INT_MAX)));
        bar->setPageStep(VisibleRows());
    }
    if (bar->value() != before) viewport()->update();
}

void ActivityLog::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateMetrics();
}

void ActivityLog::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) UpdateMetrics();
}

void ActivityLog::scrollContentsBy(int /*dx*/, int /*dy*/) {
    viewport()->update();
}

std::int64_t ActivityLog::Advance(std::string_view text) const {
    std::int64_t x = 0;
    for (const char c : text) x += text_.Wrap().advance[static_cast<unsigned char>(c)];
    return x;
}

// ---------------------------------------------------------------------------------------------
// Drawing

void ActivityLog::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(viewport());
    painter.setFont(drawFont_);
    const QColor textColour = palette().color(QPalette::Text);
    const int height = RowHeight();
    const int ascent = ascent_;
    const auto [selFrom, selTo] = std::minmax(caret_, anchor_);
    const WrapMetrics& wrap = text_.Wrap();

    const std::size_t top = static_cast<std::size_t>(verticalScrollBar()->value());
    if (top >= text_.RowCount()) return;
    const LogText::RowLine at = text_.LineOfRow(top);
    LogText::Line line = at.line;
    // The first row shown may lie deep in a long line: it is found from the line's marks.
    std::size_t from = text_.RowStart(line, top - at.firstRow);
    int y = kMargin;
    const int bottom = viewport()->height();
    while (y < bottom) {
        const std::string_view bytes = text_.TextOf(line);
        ForEachRow(bytes.substr(from), wrap, [&](std::size_t s, std::size_t e) {
            s += from;
            e += from;
            const bool lastRow = e == bytes.size();
            const std::size_t rowStart = line.start + s;
            const std::size_t rowEnd = line.start + e;
            const std::string_view row = bytes.substr(s, e - s);
            const QString shown = DisplayText(row);
            const QPointF origin(kMargin, y + ascent);
            if (selFrom < selTo && selFrom <= rowEnd && selTo > rowStart) {
                const std::size_t a = std::max(selFrom, rowStart) - rowStart;
                const std::size_t b = std::min(selTo, rowEnd) - rowStart;
                const qreal x1 = kMargin + Advance(row.substr(0, a)) / qreal(kSubpixels);
                qreal x2 = kMargin + Advance(row.substr(0, b)) / qreal(kSubpixels);
                if (lastRow && selTo > line.end) x2 += height / 3.0;  // the line break
                const QRectF band(x1, y, std::max<qreal>(x2 - x1, 0), height);
                painter.fillRect(band, palette().brush(QPalette::Highlight));
                painter.setPen(textColour);
                painter.drawText(origin, shown);
                painter.save();
                painter.setClipRect(band);
                painter.setPen(palette().color(QPalette::HighlightedText));
                painter.drawText(origin, shown);
                painter.restore();
            } else {
                painter.setPen(textColour);
                painter.drawText(origin, shown);
            }
            const bool caretHere =
                caret_ >= rowStart && (caret_ < rowEnd || (caret_ == rowEnd && lastRow));
            if (hasFocus() && caretHere) {
                const qreal x =
                    kMargin + Advance(row.substr(0, caret_ - rowStart)) / qreal(kSubpixels);
                painter.fillRect(QRectF(x, y, 1, height), textColour);
            }
            y += height;
            return y < bottom;
        });
        if (line.next == line.end) break;  // the last line
        line = text_.LineAt(line.next);
        from = 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Caret, mouse and keys

std::int64_t ActivityLog::XOf(std::size_t offset) const {
    const LogText::Line line = text_.LineAt(offset);
    const std::size_t column = std::min(offset, line.end) - line.start;
    const std::size_t rowStart = text_.RowOfColumn(line, column).start;
    return Advance(text_.TextOf(line).substr(rowStart, column - rowStart));
}

QRect ActivityLog::CharacterBox(std::size_t offset) const {
    offset = std::min(offset, text_.Size());
    const std::int64_t row = static_cast<std::int64_t>(text_.RowOf(offset)) -
                             static_cast<std::int64_t>(verticalScrollBar()->value());
    const LogText::Line line = text_.LineAt(offset);
    const int height = RowHeight();
    const int width =
        offset < line.end
            ? static_cast<int>(text_.Wrap().advance[static_cast<unsigned char>(text_.At(offset))] /
                               kSubpixels)
            : height / 3;
    const std::int64_t y = kMargin + row * height;
    return QRect(kMargin + static_cast<int>(XOf(offset) / kSubpixels),
                 static_cast<int>(std::clamp<std::int64_t>(y, INT_MIN / 2, INT_MAX / 2)),
                 std::max(width, 1), height);
}

std::size_t ActivityLog::OffsetInRow(std::size_t row, std::int64_t x) const {
    const LogText::RowLine at = text_.LineOfRow(std::min(row, text_.RowCount() - 1));
    const std::string_view line = text_.TextOf(at.line);
    const std::size_t wanted = std::min(row, text_.RowCount() - 1) - at.firstRow;
    // From the start of the wanted row: deep in a long line it is found from the marks.
    const std::size_t from = text_.RowStart(at.line, wanted);
    const std::string_view bytes = line.substr(from);
    std::size_t offset = at.line.start + from;
    ForEachRow(bytes, text_.Wrap(), [&](std::size_t s, std::size_t e) {
        std::int64_t left = 0;
        std::size_t i = s;
        for (; i < e; ++i) {
            const std::int64_t advance = text_.Wrap().advance[static_cast<unsigned char>(bytes[i])];
            if (x < left + advance / 2) break;
            left += advance;
        }
        // The end of a wrapped row is the start of the next one: stay before its last blank.
        if (i == e && e < bytes.size() && i > s) --i;
        offset = at.line.start + from + i;
        return false;
    });
    return offset;
}

std::size_t ActivityLog::OffsetAt(const QPoint& point) const {
    const int row = (point.y() - kMargin) / RowHeight();
    const std::size_t top = static_cast<std::size_t>(verticalScrollBar()->value());
    const std::size_t target = point.y() < kMargin ? top : top + static_cast<std::size_t>(row);
    return OffsetInRow(target, std::int64_t{point.x() - kMargin} * kSubpixels);
}

void ActivityLog::MoveCaret(std::size_t offset, bool extendSelection) {
    Select(extendSelection ? anchor_ : offset, offset);
}

void ActivityLog::Select(std::size_t anchor, std::size_t caret) {
    const std::size_t caretBefore = caret_;
    const std::size_t anchorBefore = anchor_;
    anchor_ = std::min(anchor, text_.Size());
    caret_ = std::min(caret, text_.Size());
    EnsureVisible(caret_);
    viewport()->update();
    AnnounceCaret(caretBefore, anchorBefore);
}

void ActivityLog::AnnounceCaret(std::size_t caretBefore, std::size_t anchorBefore) {
    if (!QAccessible::isActive()) return;
    const auto before = std::minmax(caretBefore, anchorBefore);
    const auto now = std::minmax(caret_, anchor_);
    const bool selection =
        now != before && (now.first != now.second || before.first != before.second);
    if (caret_ == caretBefore && !selection) return;
    // The caret may stand in text the reader has not been told of yet; that text came with the
    // caret where it was.
    AnnounceAppended(caretBefore);
    if (caret_ != caretBefore) Announce(QAccessibleTextCursorEvent(this, Position(caret_)));
    if (selection) {
        Announce(QAccessibleTextSelectionEvent(this, Position(now.first), Position(now.second)));
    }
}

void ActivityLog::EnsureVisible(std::size_t offset) {
    const std::size_t row = text_.RowOf(offset);
    const std::size_t visible = static_cast<std::size_t>(VisibleRows());
    QScrollBar* bar = verticalScrollBar();
    const std::size_t top = static_cast<std::size_t>(bar->value());
    if (row < top) {
        bar->setValue(static_cast<int>(std::min<std::size_t>(row, INT_MAX)));
    } else if (row >= top + visible) {
        bar->setValue(static_cast<int>(std::min<std::size_t>(row - visible + 1, INT_MAX)));
    }
}

void ActivityLog::SelectAll() {
    Select(0, text_.Size());
}

void ActivityLog::CopySelection() const {
    const auto [from, to] = std::minmax(caret_, anchor_);
    if (from == to) return;
    QApplication::clipboard()->setText(Latin1(text_.Substr(from, to)));
}

void ActivityLog::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        MoveCaret(OffsetAt(event->pos()), event->modifiers() & Qt::ShiftModifier);
    }
}

void ActivityLog::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) MoveCaret(OffsetAt(event->pos()), true);
}

void ActivityLog::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copy = menu.addAction(QStringLiteral("&Copy"), this, [this] { CopySelection(); });
    copy->setEnabled(caret_ != anchor_);
    menu.addAction(QStringLiteral("Select &All"), this, [this] { SelectAll(); });
    menu.exec(event->globalPos());
}

void ActivityLog::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void ActivityLog::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void ActivityLog::keyPressEvent(QKeyEvent* event) {
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool control = event->modifiers() & Qt::ControlModifier;
    const auto [selFrom, selTo] = std::minmax(caret_, anchor_);
    const int key = event->key();
    if (event->matches(QKeySequence::SelectAll)) {
        SelectAll();
    } else if (event->matches(QKeySequence::Copy)) {
        CopySelection();
    } else if (event->matches(QKeySequence::Cut)) {
        CopySelection();
        Edit(selFrom, selTo, {});
    } else if (event->matches(QKeySequence::Paste)) {
        Edit(selFrom, selTo, ToLatin1(QApplication::clipboard()->text()));
    } else if (key == Qt::Key_Left) {
        MoveCaret(text_.StepBack(caret_), shift);
    } else if (key == Qt::Key_Right) {
        MoveCaret(text_.StepForward(caret_), shift);
    } else if (key == Qt::Key_Up || key == Qt::Key_Down) {
        const std::size_t row = text_.RowOf(caret_);
        const bool up = key == Qt::Key_Up;
        if (up ? row > 0 : row + 1 < text_.RowCount()) {
            MoveCaret(OffsetInRow(up ? row - 1 : row + 1, XOf(caret_)), shift);
        }
    } else if (key == Qt::Key_Home) {
        MoveCaret(control ? 0 : text_.LineAt(caret_).start, shift);
    } else if (key == Qt::Key_End) {
        MoveCaret(control ? text_.Size() : text_.LineAt(caret_).end, shift);
    } else if (key == Qt::Key_PageUp || key == Qt::Key_PageDown) {
        verticalScrollBar()->triggerAction(key == Qt::Key_PageUp
                                               ? QAbstractSlider::SliderPageStepSub
                                               : QAbstractSlider::SliderPageStepAdd);
    } else if (key == Qt::Key_Backspace) {
        Edit(selFrom < selTo ? selFrom : text_.StepBack(caret_), selTo, {});
    } else if (key == Qt::Key_Delete) {
        Edit(selFrom, selFrom < selTo ? selTo : text_.StepForward(caret_), {});
    } else if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        Edit(selFrom, selTo, "\r\n");
    } else if (!event->text().isEmpty() && event->text().at(0).isPrint() && !control) {
        Edit(selFrom, selTo, ToLatin1(event->text()));
    } else {
        QAbstractScrollArea::keyPressEvent(event);
    }
}

}  // namespace vostrel
