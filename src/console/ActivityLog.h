// The activity log box: a multi-line text box the system appends whole lines to and the
// operator may type into. The text lives in a LogText (bytes as written, one per character,
// with an index of lines and wrapped rows); this view lays out only the rows on screen and
// scrolls by screen rows, so line, page, wheel and thumb all move through every row once.
// Screen readers see an editable text named "Activity log" (ActivityLogAccessible): its text,
// caret and selection, and an event for every change, sent only while one is listening; the
// lines appended in one pass of the event loop are one text-inserted event, so a flood of lines
// cannot flood the accessibility bus.
#pragma once

#include <QAbstractScrollArea>
#include <QFont>
#include <QString>
#include <cstddef>
#include <string>
#include <string_view>

#include "console/LogText.h"

namespace vostrel {

class ActivityLog : public QAbstractScrollArea {
    Q_OBJECT
  public:
    explicit ActivityLog(QWidget* parent = nullptr);

    // Adds `addition` after the last character of the whole text, wherever the operator's
    // caret stands, in one step with no yield, and shows the first line again. Characters
    // outside Latin-1 are stored as "?".
    void Append(const QString& addition);
    // The same for text that is already one byte per character.
    void AppendLatin1(std::string_view addition);
    // Replaces the whole text (the banner); the caret goes to its start.
    void SetText(const QString& text);
    // The whole text, exactly as written and typed.
    QString Text() const;
    std::size_t Size() const { return text_.Size(); }
    const LogText& Store() const { return text_; }

    // The operator's caret, as an offset into the text, and the other end of the selection.
    std::size_t Caret() const { return caret_; }
    std::size_t Anchor() const { return anchor_; }
    void SetCaret(std::size_t offset);
    void Select(std::size_t anchor, std::size_t caret);
    // Rows of text the view shows at once.
    int VisibleRows() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

  private:
    friend class ActivityLogAccessible;
    void Edit(std::size_t from, std::size_t to, std::string_view with);
    void FollowTrim(const LogText::Trim& trim);
    void UpdateMetrics();
    void UpdateScrollRange();
    void MoveCaret(std::size_t offset, bool extendSelection);
    void EnsureVisible(std::size_t offset);
    // Tells a listening screen reader where the caret and the selection are now.
    void AnnounceCaret(std::size_t caretBefore, std::size_t anchorBefore);
    // Tells it of the text appended since the last time (once per pass of the event loop, and
    // before any other change is told; `caret` is where the caret stood meanwhile), and of
    // lines removed to keep within capacity.
    void AnnounceAppended(std::size_t caret);
    void AnnounceTrim(const LogText::Trim& trim, const std::string& removed);
    void SelectAll();
    void CopySelection() const;
    // The row (of the whole text) and the offset under a point of the viewport.
    std::size_t OffsetAt(const QPoint& point) const;
    // The offset in row `row` nearest to `x` (in 1/64 pixel from the row's left edge).
    std::size_t OffsetInRow(std::size_t row, std::int64_t x) const;
    // The distance of `offset` from its row's left edge, in 1/64 pixel.
    std::int64_t XOf(std::size_t offset) const;
    // The box of the character at `offset` in viewport coordinates.
    QRect CharacterBox(std::size_t offset) const;
    std::int64_t Advance(std::string_view text) const;
    int RowHeight() const;

    LogText text_;
    QFont drawFont_;
    int rowHeight_ = 1;  // of the draw font
    int ascent_ = 0;
    std::size_t caret_ = 0;
    std::size_t anchor_ = 0;
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::size_t unannounced_ = kNone;  // where appended text not yet announced starts
    std::string unannouncedRemoval_;   // lines removed from removalFrom_, not yet announced
    std::size_t removalFrom_ = 0;
    bool announceQueued_ = false;
};

}  // namespace vostrel
