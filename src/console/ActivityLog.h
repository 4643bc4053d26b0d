// The activity log box: a multi-line text box the system appends whole lines to and the
// operator may type into. It keeps the text as it was written, one byte per character, with a
// line index, and lays out only the lines on screen, so an append costs time in proportion to
// the addition and the log takes little more memory than its text, however long it grows.
#pragma once

#include <QAbstractScrollArea>
#include <QString>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

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
    // Replaces the whole text; the caret goes to its start.
    void SetText(const QString& text);
    // The whole text, exactly as written and typed.
    QString Text() const;
    std::size_t Size() const { return text_.size(); }
    std::size_t LineCount() const { return lineStarts_.size(); }

    // The operator's caret, as an offset into the text.
    std::size_t Caret() const { return caret_; }
    void SetCaret(std::size_t offset);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    struct Line {
        std::size_t start;
        std::size_t end;  // before the line break
    };
    Line LineAt(std::size_t index) const;
    std::size_t LineOf(std::size_t offset) const;
    // Rebuilds the line index from the line holding `offset` to the end of the text.
    void Reindex(std::size_t offset);
    void Replace(std::size_t from, std::size_t to, std::string_view with);
    void Changed();
    void MoveCaret(std::size_t offset, bool extendSelection);
    void EnsureCaretVisible();
    std::size_t OffsetAt(const QPoint& point) const;
    std::size_t StepLeft(std::size_t offset) const;
    std::size_t StepRight(std::size_t offset) const;
    std::string SelectedText() const;
    void UpdateScrollRange();
    int VisibleRows() const;

    std::string text_;
    std::vector<std::size_t> lineStarts_{0};
    std::size_t caret_ = 0;
    std::size_t anchor_ = 0;
    std::size_t lastPaintedLine_ = 0;  // the last line index the view showed
};

}  // namespace vostrel
