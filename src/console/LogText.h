// The activity log's text, kept apart from any window: the bytes as written (one byte per
// character, line breaks kept), an index of its lines and of the screen rows they wrap into,
// and a capacity.
//
// Why not QPlainTextEdit: the log is scrolled and read by screen rows; lines go at the end of
// the text wherever the operator's caret stands; it holds up to 64 MiB; and an append is one
// step that never yields, so appends from handlers nested in a notice's event loop land whole
// and in order. A text document took about seven times the text in memory, laid out every
// line it was given and inserts at its cursor; this store keeps the bytes once and indexes only
// what changes.
//
// The text is held in blocks of whole lines (about 64 KiB each; a longer line is a block of its
// own) with a byte and row count per block. So the index takes a few bytes per block, not per
// line; an append indexes only the addition; an edit re-indexes only the blocks it touches and
// the later blocks shift by its length. A line longer than kLogMarkSpacing also keeps, every
// kLogMarkSpacing bytes or so, where a row starts and its number in the line, so a position
// deep in a long line is found without wrapping the line from its start. A line break is
// CR LF, a lone CR or a lone LF.
//
// Capacity: when an addition would take the text past it, whole lines are removed from just
// below the head (the banner the text was last assigned) until the addition fits. The head
// stays at the top and the newest lines stay at the end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

inline constexpr std::size_t kLogCapacity = 64u * 1024u * 1024u;
inline constexpr std::size_t kLogBlockTarget = 64u * 1024u;
inline constexpr std::size_t kLogMarkSpacing = 16u * 1024u;

// How lines wrap into rows: the advance of each byte value and the width of a row, in any one
// unit. A line wraps after its last blank that fits, or anywhere when a row has no blank; every
// row holds at least one character. The default never wraps.
struct WrapMetrics {
    std::array<std::int32_t, 256> advance;
    std::int64_t width = INT64_MAX;
    WrapMetrics() { advance.fill(1); }
};

// Calls `row(start, end)` for each row of `line` (offsets into it, end exclusive) until it
// returns false. An empty line is one empty row.
template <typename RowFunction>
void ForEachRow(std::string_view line, const WrapMetrics& metrics, RowFunction&& row) {
    if (line.empty()) {
        row(std::size_t{0}, std::size_t{0});
        return;
    }
    const std::size_t n = line.size();
    std::size_t pos = 0;
    while (pos < n) {
        std::int64_t x = 0;
        std::size_t i = pos;
        std::size_t afterBlank = 0;
        while (i < n) {
            const std::int64_t advance = metrics.advance[static_cast<unsigned char>(line[i])];
            if (x + advance > metrics.width && i > pos) break;
            x += advance;
            if (line[i] == ' ') afterBlank = i + 1;
            ++i;
        }
        const std::size_t end = (i < n && afterBlank > pos) ? afterBlank : i;
        if (!row(pos, end)) return;
        pos = end;
    }
}

class LogText {
  public:
    struct Line {
        std::size_t start;  // offset of its first character
        std::size_t end;    // offset of its line break (or of the end of the text)
        std::size_t next;   // offset after its line break
    };
    // What an edit removed to stay within capacity: `count` bytes from `from` (count 0: none).
    struct Trim {
        std::size_t from = 0;
        std::size_t count = 0;
    };

    // `blockTarget`: the size blocks are cut near; `markSpacing`: the length from which a line
    // keeps marks, and their spacing (small ones make tests cover many blocks and marks).
    explicit LogText(std::size_t capacity = kLogCapacity, std::size_t blockTarget = kLogBlockTarget,
                     std::size_t markSpacing = kLogMarkSpacing);

    // Replaces the whole text; all of it becomes the head that capacity trimming keeps.
    void Assign(std::string_view text);
    // Adds `addition` at the end, first removing lines below the head if it would not fit.
    // `removed`, if given, receives the text removed.
    Trim Append(std::string_view addition, std::string* removed = nullptr);
    // Replaces [from, to) with `with` (the operator's editing); then, if the text is past
    // capacity, removes lines below the head. The head grows and shrinks with edits inside it.
    Trim Replace(std::size_t from, std::size_t to, std::string_view with,
                 std::string* removed = nullptr);

    // Sets how lines wrap and counts every line's rows again.
    void SetWrap(const WrapMetrics& metrics);
    const WrapMetrics& Wrap() const { return wrap_; }

    std::size_t Size() const { return size_; }
    std::size_t RowCount() const { return rows_ + finalRows_; }

    std::string Text() const;
    std::string Substr(std::size_t from, std::size_t to) const;
    char At(std::size_t offset) const;

    // The line that holds `offset` (a line break belongs to the line it ends).
    Line LineAt(std::size_t offset) const;
    // The characters of a line without its break; valid until the next edit.
    std::string_view TextOf(const Line& line) const;

    // Rows: numbered from 0 over the whole text.
    std::size_t RowOf(std::size_t offset) const;
    // The line holding row `row` and the row's first row number.
    struct RowLine {
        Line line;
        std::size_t firstRow;
    };
    RowLine LineOfRow(std::size_t row) const;
    // Within `line`: the row that holds column `column` (its number in the line and its first
    // column; a column where a row wraps belongs to the next row), and the first column of its
    // row number `row`.
    struct RowInLine {
        std::size_t index;
        std::size_t start;
    };
    RowInLine RowOfColumn(const Line& line, std::size_t column) const;
    std::size_t RowStart(const Line& line, std::size_t row) const;

    // Offsets on either side of one character; a CR LF pair counts as one.
    std::size_t StepBack(std::size_t offset) const;
    std::size_t StepForward(std::size_t offset) const;

  private:
    // A line longer than the mark spacing: where it starts and ends in its block's text, its
    // rows, and marks: the first row start at or after every multiple of the spacing (the
    // first at column 0), with its row number in the line.
    struct Mark {
        std::size_t column;
        std::size_t row;
    };
    struct LongLine {
        std::size_t start;
        std::size_t end;
        std::size_t rows;
        std::vector<Mark> marks;
    };
    struct Block {
        // The block's text is bytes[skip...]: lines removed from its front are skipped first
        // and dropped from the string only once they are half of it.
        std::string bytes;
        std::size_t skip = 0;
        std::size_t rows = 0;             // rows of the lines ended by a break in it
        std::vector<LongLine> longLines;  // in order; offsets into View()
        std::string_view View() const { return std::string_view(bytes).substr(skip); }
        std::size_t Size() const { return bytes.size() - skip; }
        // Forgets the lines in [from, to) of View() (whole lines) as they are removed.
        void DropLines(std::size_t from, std::size_t to);
    };

    void AppendToLast(std::string_view piece);
    void Splice(std::size_t from, std::size_t to, std::string_view with);
    Trim TrimNeeded(std::size_t incoming) const;
    Trim TrimFor(std::size_t incoming, std::string* removed);
    void EraseWholeLines(std::size_t from, std::size_t to);
    std::size_t RowsOf(std::string_view line) const;
    // Rows of the line [start, end) of `block`'s text; a long line is recorded with its marks.
    std::size_t CountLine(Block& block, std::size_t start, std::size_t end) const;
    void Count(Block& block, bool last);
    void Recount();
    void PrefixFrom(std::size_t block);
    void EnsurePrefix() const;
    std::size_t BlockOf(std::size_t offset) const;
    std::size_t BlockOfRow(std::size_t row) const;
    // Offset just past the first line break at or after `offset` (the end of the text if none).
    std::size_t NextLineStart(std::size_t offset) const;
    std::string_view BlockView(std::size_t block) const { return blocks_[block].View(); }
    // The long line of `block` holding `offset` (of its text), if there is one.
    const LongLine* LongLineAt(std::size_t block, std::size_t offset) const;
    const LongLine* LongLineOf(const Line& line) const;
    std::size_t RowsIn(const Block& block, std::size_t start, std::size_t end) const;
    std::size_t RowsOfLine(const Line& line) const;

    std::size_t capacity_;
    std::size_t blockTarget_;
    std::size_t markSpacing_;
    WrapMetrics wrap_;
    std::size_t alwaysFits_ = SIZE_MAX;  // lines this short are one row
    std::vector<Block> blocks_;
    std::size_t size_ = 0;
    std::size_t rows_ = 0;        // rows of all terminated lines
    std::size_t finalStart_ = 0;  // start of the last line (not ended by a break)
    std::size_t finalRows_ = 1;   // its rows
    std::size_t head_ = 0;

    // For each block, the bytes and rows of the blocks after it, the last one left out:
    // so appending to the last block and removing lines at the front change none of the
    // others. A block's start follows from it and the totals.
    struct Start {
        std::size_t offset;
        std::size_t row;
    };
    Start StartOf(std::size_t block) const;
    Start StartFrom(std::size_t block) const;  // with the index known to be current
    template <typename Field>
    std::size_t LastBlockStartingBy(std::size_t value, Field field) const;
    mutable std::vector<Start> rest_;
    mutable bool dirty_ = true;
};

}  // namespace vostrel
