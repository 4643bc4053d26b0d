#include "console/LogText.h"

#include <algorithm>

namespace vostrel {

namespace {

// What a line break is, said once: an LF, a CR, or a CR and the LF right after it as one.
// `after` is the character that follows `before`, -1 when none does.
bool IsCrLf(char before, int after) {
    return before == '\r' && after == '\n';
}

// Whether a line ends between `before` and `after`.
bool BreakBetween(char before, int after) {
    return before == '\n' || (before == '\r' && !IsCrLf(before, after));
}

// Whether position `e` (0 < e <= size) of `s` lies just after a line break.
bool IsBoundary(std::string_view s, std::size_t e) {
    return BreakBetween(s[e - 1], e == s.size() ? -1 : s[e]);
}

// Where the line that ends at `end` of `s` (its break, or the end of `s`) goes on.
std::size_t AfterBreak(std::string_view s, std::size_t end) {
    if (end >= s.size()) return end;
    return end + (end + 1 < s.size() && IsCrLf(s[end], s[end + 1]) ? 2 : 1);
}

// The largest line boundary in (0, limit] of `s`, 0 when there is none.
std::size_t LastBoundaryWithin(std::string_view s, std::size_t limit) {
    for (std::size_t e = std::min(limit, s.size()); e > 0; --e) {
        if (IsBoundary(s, e)) return e;
    }
    return 0;
}

// The first line boundary of `s` after `from`, or its size when there is none.
std::size_t FirstBoundaryAfter(std::string_view s, std::size_t from) {
    for (std::size_t e = from + 1; e <= s.size(); ++e) {
        if (IsBoundary(s, e)) return e;
    }
    return s.size();
}

// Calls `line(start, end, next)` for each line of `s` from `from` that a break ends (end: the
// offset of its break, next: the offset after it); returns where the unended rest starts.
template <typename LineFunction>
std::size_t ForEachEndedLine(std::string_view s, std::size_t from, LineFunction&& line) {
    std::size_t start = from;
    for (std::size_t i = from; i < s.size(); ++i) {
        if (!IsBoundary(s, i + 1)) continue;
        line(start, i > start && IsCrLf(s[i - 1], s[i]) ? i - 1 : i, i + 1);
        start = i + 1;
    }
    return start;
}

std::size_t CountRows(std::string_view line, const WrapMetrics& metrics) {
    std::size_t rows = 0;
    ForEachRow(line, metrics, [&rows](std::size_t, std::size_t) {
        ++rows;
        return true;
    });
    return rows;
}

}  // namespace

LogText::LogText(std::size_t capacity, std::size_t blockTarget, std::size_t markSpacing)
    : capacity_(capacity),
      blockTarget_(std::max<std::size_t>(blockTarget, 1)),
      markSpacing_(std::max<std::size_t>(markSpacing, 1)) {
    blocks_.emplace_back();
}

// ---------------------------------------------------------------------------------------------
// Writing

void LogText::Assign(std::string_view text) {
    blocks_.clear();
    blocks_.emplace_back();
    size_ = rows_ = 0;
    finalStart_ = 0;
    finalRows_ = 1;
    dirty_ = true;
    head_ = 0;
    Splice(0, 0, text);
    head_ = size_;
}

LogText::Trim LogText::Append(std::string_view addition, std::string* removed) {
    const Trim trim = TrimFor(addition.size(), removed);
    if (addition.empty()) return trim;
    // A CR at the end and an LF at the start of the addition are one line break.
    Block* last = &blocks_.back();
    if (last->Size() > 0 && IsCrLf(last->bytes.back(), addition.front())) {
        // (The line the CR ended keeps its end; where it goes on follows from the bytes.)
        last->bytes.push_back('\n');
        ++size_;
        finalStart_ = size_;
        addition.remove_prefix(1);
    }
    while (!addition.empty()) {
        last = &blocks_.back();
        const bool finalOpen = finalStart_ < size_;
        const std::size_t room = last->Size() < blockTarget_ ? blockTarget_ - last->Size() : 0;
        std::size_t take = addition.size();
        if (take > room) {
            take = LastBoundaryWithin(addition, room);
            // The open last line is finished in its block; an empty block takes a long line.
            if (take == 0 && (finalOpen || last->Size() == 0)) {
                take = FirstBoundaryAfter(addition, 0);
            }
        }
        if (take == 0) {
            // The last block becomes a middle one: every block before it has it after itself.
            EnsurePrefix();
            const Block& finished = blocks_.back();
            for (Start& rest : rest_) {
                rest.offset += finished.Size();
                rest.row += finished.rows;
            }
            blocks_.emplace_back();
            blocks_.back().bytes.reserve(std::min(blockTarget_, addition.size()));
            rest_.push_back({0, 0});
            continue;
        }
        AppendToLast(addition.substr(0, take));
        addition.remove_prefix(take);
    }
    return trim;
}

void LogText::AppendToLast(std::string_view piece) {
    Block& last = blocks_.back();
    const std::size_t blockStart = size_ - last.Size();
    const std::size_t from = finalStart_ - blockStart;
    last.bytes.append(piece);
    size_ += piece.size();
    // The unended last line is counted again with what it gained.
    while (!last.longLines.empty() && last.longLines.back().start >= from)
        last.longLines.pop_back();
    const std::string_view bytes = last.View();
    const std::size_t rest =
        ForEachEndedLine(bytes, from, [&](std::size_t s, std::size_t e, std::size_t) {
            const std::size_t rows = CountLine(last, s, e);
            last.rows += rows;
            rows_ += rows;
        });
    finalStart_ = blockStart + rest;
    finalRows_ = CountLine(last, rest, bytes.size());
}

LogText::Trim LogText::Replace(std::size_t from, std::size_t to, std::string_view with,
                               std::string* removed) {
    to = std::min(to, size_);
    from = std::min(from, to);
    if (from < head_) head_ = to <= head_ ? head_ - (to - from) + with.size() : from;
    Splice(from, to, with);
    return TrimFor(0, removed);
}

LogText::Trim LogText::TrimNeeded(std::size_t incoming) const {
    if (size_ + incoming <= capacity_) return {};
    const std::size_t need = size_ + incoming - capacity_;
    auto lineStart = [this](std::size_t offset) {
        if (offset == 0 || offset >= size_) return std::min(offset, size_);
        if (BreakBetween(At(offset - 1), At(offset))) return offset;
        return NextLineStart(offset);
    };
    const std::size_t from = lineStart(head_);
    if (from >= size_) return {};
    const std::size_t to = lineStart(std::min(from + need, size_));
    return {from, to - from};
}

LogText::Trim LogText::TrimFor(std::size_t incoming, std::string* removed) {
    const Trim trim = TrimNeeded(incoming);
    if (removed != nullptr) *removed = Substr(trim.from, trim.from + trim.count);
    EraseWholeLines(trim.from, trim.from + trim.count);
    return trim;
}

// Removes [from, to), both line starts, counting only what goes: the blocks keep their other
// lines' counts and the later blocks' starts shift by what went. (Removing the last line, or
// joining a CR and an LF into one line break, takes the general way.)
void LogText::EraseWholeLines(std::size_t from, std::size_t to) {
    if (from >= to) return;
    if (to >= size_ || (from > 0 && IsCrLf(At(from - 1), At(to)))) {
        Splice(from, to, {});
        return;
    }
    EnsurePrefix();
    const std::size_t first = BlockOf(from);
    const std::size_t last = blocks_.size() - 1;
    std::size_t end = first;
    Start gone{0, 0};        // all that goes
    Start goneBefore{0, 0};  // what goes from blocks before the last
    // Starts are read before anything changes: each depends only on the blocks before it.
    for (std::size_t start; end < blocks_.size() && (start = StartOf(end).offset) < to; ++end) {
        Block& block = blocks_[end];
        const std::size_t s = std::max(from, start) - start;
        const std::size_t e = std::min(to, start + block.Size()) - start;
        Start lines{e - s, 0};
        ForEachEndedLine(block.View().substr(0, e), s,
                         [&](std::size_t ls, std::size_t le, std::size_t) {
                             lines.row += RowsIn(block, ls, le);
                         });
        block.rows -= lines.row;
        block.DropLines(s, e);
        for (Start* sum : {&gone, end < last ? &goneBefore : nullptr}) {
            if (sum == nullptr) continue;
            sum->offset += lines.offset;
            sum->row += lines.row;
        }
        if (s == 0) {
            block.skip += e;
            if (block.skip > block.bytes.size() / 2) {
                block.bytes.erase(0, block.skip);
                block.skip = 0;
            }
        } else {
            block.bytes.erase(block.skip + s, e - s);
        }
    }
    size_ -= gone.offset;
    rows_ -= gone.row;
    finalStart_ -= gone.offset;
    // Blocks emptied in between go (the last block keeps what follows `to`). What lies after
    // each later block is unchanged; earlier blocks have less after them; the touched ones
    // sum it up from their successor again.
    std::size_t kept = first;
    for (std::size_t i = first; i < end; ++i) {
        if (blocks_[i].Size() == 0) continue;
        if (kept != i) blocks_[kept] = std::move(blocks_[i]);
        ++kept;
    }
    const auto drop = [&](auto& items) {
        items.erase(items.begin() + static_cast<std::ptrdiff_t>(kept),
                    items.begin() + static_cast<std::ptrdiff_t>(end));
    };
    drop(blocks_);
    drop(rest_);
    for (std::size_t i = 0; i < first; ++i) {
        rest_[i].offset -= goneBefore.offset;
        rest_[i].row -= goneBefore.row;
    }
    for (std::size_t i = kept; i-- > first;) {
        if (i + 1 == blocks_.size()) {
            rest_[i] = {0, 0};
        } else {
            const Block& block = blocks_[i];
            rest_[i] = {rest_[i + 1].offset + block.Size(), rest_[i + 1].row + block.rows};
        }
    }
}

void LogText::Splice(std::size_t from, std::size_t to, std::string_view with) {
    EnsurePrefix();
    std::size_t a = BlockOf(from);
    std::size_t b = to > from ? BlockOf(to - 1) : a;
    std::string merged;
    merged.reserve((from - StartOf(a).offset) + with.size() +
                   (StartOf(b).offset + blocks_[b].Size() - to));
    merged.append(blocks_[a].View().substr(0, from - StartOf(a).offset));
    merged.append(with);
    merged.append(blocks_[b].View().substr(to - StartOf(b).offset));

    // Every block but the last ends at a line boundary, and no CR LF pair is cut in two.
    while (b + 1 < blocks_.size()) {
        const std::string_view next = blocks_[b + 1].View();
        if (merged.empty()) {
            if (a == 0 || !IsCrLf(blocks_[a - 1].View().back(), next.front())) break;
            --a;
            merged = blocks_[a].View();
            continue;
        }
        if (BreakBetween(merged.back(), next.front())) break;
        merged += next;
        ++b;
    }
    if (a > 0 && !merged.empty() && IsCrLf(blocks_[a - 1].View().back(), merged.front())) {
        --a;
        merged.insert(0, blocks_[a].View());
    }

    const bool touchesLast = b + 1 == blocks_.size();
    const std::size_t oldSize = size_;
    for (std::size_t i = a; i <= b; ++i) {
        size_ -= blocks_[i].Size();
        rows_ -= blocks_[i].rows;
    }
    std::vector<Block> pieces;
    for (std::size_t p = 0; p < merged.size();) {
        std::size_t cut = merged.size();
        if (merged.size() - p > blockTarget_) {
            const std::string_view rest = std::string_view(merged).substr(p);
            cut = LastBoundaryWithin(rest, blockTarget_);
            if (cut == 0) cut = FirstBoundaryAfter(rest, blockTarget_);
            cut += p;
        }
        pieces.emplace_back();
        pieces.back().bytes.assign(merged, p, cut - p);
        p = cut;
    }
    blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(a),
                  blocks_.begin() + static_cast<std::ptrdiff_t>(b) + 1);
    const std::size_t inserted = pieces.size();
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(a),
                   std::make_move_iterator(pieces.begin()), std::make_move_iterator(pieces.end()));
    if (blocks_.empty()) blocks_.emplace_back();
    dirty_ = true;

    const std::size_t lastIndex = blocks_.size() - 1;
    for (std::size_t i = a; i < a + inserted; ++i) {
        size_ += blocks_[i].Size();
        if (i == lastIndex) continue;
        Count(blocks_[i], false);
        rows_ += blocks_[i].rows;
    }
    if (!touchesLast) {
        // The unended last line is where it was, moved by the change in size.
        finalStart_ = finalStart_ + size_ - oldSize;
        return;
    }
    // The last block holds the unended last line: count it again. When the old last block went
    // without a replacement, the block before it (counted as a middle block) is last now.
    Block& last = blocks_[lastIndex];
    if (inserted == 0 || lastIndex < a) rows_ -= last.rows;
    Count(last, true);
    rows_ += last.rows;
}

// Counts the rows of the lines ended by a break in `block`; for the last block also where its
// unended last line starts and that line's rows.
void LogText::Count(Block& block, bool last) {
    block.rows = 0;
    block.longLines.clear();
    const std::size_t size = block.Size();
    const std::size_t rest = ForEachEndedLine(
        block.View(), 0,
        [&](std::size_t s, std::size_t e, std::size_t) { block.rows += CountLine(block, s, e); });
    if (last) {
        finalStart_ = size_ - size + rest;
        finalRows_ = CountLine(block, rest, size);
    }
}

std::size_t LogText::CountLine(Block& block, std::size_t start, std::size_t end) const {
    const std::string_view line = block.View().substr(start, end - start);
    if (line.size() <= markSpacing_) return RowsOf(line);
    LongLine record{start, end, 0, {}};
    std::size_t nextMark = 0;
    ForEachRow(line, wrap_, [&](std::size_t s, std::size_t) {
        if (s >= nextMark) {
            record.marks.push_back({s, record.rows});
            nextMark = s + markSpacing_;
        }
        ++record.rows;
        return true;
    });
    const std::size_t rows = record.rows;
    block.longLines.push_back(std::move(record));
    return rows;
}

void LogText::Block::DropLines(std::size_t from, std::size_t to) {
    std::erase_if(longLines,
                  [&](const LongLine& line) { return line.start >= from && line.start < to; });
    for (LongLine& line : longLines) {
        if (line.start < to) continue;
        line.start -= to - from;
        line.end -= to - from;
    }
}

void LogText::SetWrap(const WrapMetrics& metrics) {
    wrap_ = metrics;
    const std::int32_t widest = *std::max_element(wrap_.advance.begin(), wrap_.advance.end());
    alwaysFits_ = widest > 0 ? static_cast<std::size_t>(wrap_.width / widest) : 0;
    Recount();
}

std::size_t LogText::RowsOf(std::string_view line) const {
    return line.size() <= alwaysFits_ ? 1 : CountRows(line, wrap_);
}

void LogText::Recount() {
    rows_ = 0;
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
        Block& block = blocks_[i];
        const bool last = i + 1 == blocks_.size();
        // Count() of the last block needs size_ to end with it, which it does.
        Count(block, last);
        rows_ += block.rows;
    }
    dirty_ = true;
}

// ---------------------------------------------------------------------------------------------
// Reading

void LogText::EnsurePrefix() const {
    if (!dirty_ && rest_.size() == blocks_.size()) return;
    rest_.resize(blocks_.size());
    Start rest{0, 0};
    rest_.back() = rest;
    for (std::size_t i = blocks_.size() - 1; i-- > 0;) {
        rest.offset += blocks_[i].Size();
        rest.row += blocks_[i].rows;
        rest_[i] = rest;
    }
    dirty_ = false;
}

LogText::Start LogText::StartOf(std::size_t block) const {
    EnsurePrefix();
    return StartFrom(block);
}

LogText::Start LogText::StartFrom(std::size_t block) const {
    const Block& last = blocks_.back();
    const Start& rest = rest_[block];
    return {size_ - last.Size() - rest.offset, rows_ - last.rows - rest.row};
}

// The last block whose start (as `field` picks it) is at or before `value`.
template <typename Field>
std::size_t LogText::LastBlockStartingBy(std::size_t value, Field field) const {
    EnsurePrefix();
    std::size_t low = 0;
    std::size_t high = blocks_.size();  // the answer is in [low, high)
    while (high - low > 1) {
        const std::size_t middle = low + (high - low) / 2;
        if (field(StartFrom(middle)) <= value) {
            low = middle;
        } else {
            high = middle;
        }
    }
    return low;
}

std::size_t LogText::BlockOf(std::size_t offset) const {
    return LastBlockStartingBy(offset, [](const Start& s) { return s.offset; });
}

std::size_t LogText::BlockOfRow(std::size_t row) const {
    return LastBlockStartingBy(row, [](const Start& s) { return s.row; });
}

std::string LogText::Text() const {
    std::string text;
    text.reserve(size_);
    for (const Block& block : blocks_) text += block.View();
    return text;
}

std::string LogText::Substr(std::size_t from, std::size_t to) const {
    to = std::min(to, size_);
    std::string out;
    if (from >= to) return out;
    out.reserve(to - from);
    for (std::size_t b = BlockOf(from); b < blocks_.size() && StartOf(b).offset < to; ++b) {
        const std::size_t start = StartOf(b).offset;
        const std::size_t s = std::max(from, start) - start;
        const std::size_t e = std::min(to, start + blocks_[b].Size()) - start;
        out.append(blocks_[b].View().substr(s, e - s));
    }
    return out;
}

char LogText::At(std::size_t offset) const {
    const std::size_t b = BlockOf(offset);
    return blocks_[b].View()[offset - StartOf(b).offset];
}

std::size_t LogText::NextLineStart(std::size_t offset) const {
    if (offset >= size_) return size_;
    const std::size_t b = BlockOf(offset);
    const std::string_view bytes = BlockView(b);
    const std::size_t start = StartOf(b).offset;
    if (const LongLine* line = LongLineAt(b, offset - start)) {
        return start + AfterBreak(bytes, line->end);
    }
    return start + FirstBoundaryAfter(bytes, offset - start);
}

LogText::Line LogText::LineAt(std::size_t offset) const {
    offset = std::min(offset, size_);
    if (offset >= finalStart_) return {finalStart_, size_, size_};
    const std::size_t b = BlockOf(offset);
    const std::string_view bytes = BlockView(b);
    const std::size_t blockStart = StartOf(b).offset;
    if (const LongLine* line = LongLineAt(b, offset - blockStart)) {
        return {blockStart + line->start, blockStart + line->end,
                blockStart + AfterBreak(bytes, line->end)};
    }
    // A line no longer than the mark spacing.
    std::size_t start = offset - blockStart;
    while (start > 0 && !IsBoundary(bytes, start)) --start;
    std::size_t end = start;
    while (end < bytes.size() && !IsBoundary(bytes, end + 1)) ++end;
    if (end < bytes.size() && end > start && IsCrLf(bytes[end - 1], bytes[end])) --end;
    return {blockStart + start, blockStart + end, blockStart + AfterBreak(bytes, end)};
}

std::string_view LogText::TextOf(const Line& line) const {
    if (line.start >= line.end) return {};
    const std::size_t b = BlockOf(line.start);
    return BlockView(b).substr(line.start - StartOf(b).offset, line.end - line.start);
}

const LogText::LongLine* LogText::LongLineAt(std::size_t block, std::size_t offset) const {
    const Block& in = blocks_[block];
    const auto after = std::upper_bound(
        in.longLines.begin(), in.longLines.end(), offset,
        [](std::size_t value, const LongLine& line) { return value < line.start; });
    if (after == in.longLines.begin()) return nullptr;
    const LongLine& line = *std::prev(after);
    return offset < AfterBreak(in.View(), line.end) ? &line : nullptr;
}

const LogText::LongLine* LogText::LongLineOf(const Line& line) const {
    if (line.end - line.start <= markSpacing_) return nullptr;
    const std::size_t b = BlockOf(line.start);
    return LongLineAt(b, line.start - StartOf(b).offset);
}

std::size_t LogText::RowsIn(const Block& block, std::size_t start, std::size_t end) const {
    if (end - start > markSpacing_) {
        for (const LongLine& line : block.longLines) {
            if (line.start == start) return line.rows;
        }
    }
    return RowsOf(block.View().substr(start, end - start));
}

std::size_t LogText::RowsOfLine(const Line& line) const {
    const LongLine* long_ = LongLineOf(line);
    return long_ != nullptr ? long_->rows : RowsOf(TextOf(line));
}

LogText::RowInLine LogText::RowOfColumn(const Line& line, std::size_t column) const {
    const std::string_view text = TextOf(line);
    column = std::min(column, text.size());
    Mark from{0, 0};
    if (const LongLine* long_ = LongLineOf(line)) {
        const auto after =
            std::upper_bound(long_->marks.begin(), long_->marks.end(), column,
                             [](std::size_t value, const Mark& m) { return value < m.column; });
        from = *std::prev(after);
    }
    RowInLine found{from.row, from.column};
    std::size_t index = from.row;
    ForEachRow(text.substr(from.column), wrap_, [&](std::size_t s, std::size_t) {
        if (from.column + s > column) return false;
        found = {index++, from.column + s};
        return true;
    });
    return found;
}

std::size_t LogText::RowStart(const Line& line, std::size_t row) const {
    const std::string_view text = TextOf(line);
    Mark from{0, 0};
    if (const LongLine* long_ = LongLineOf(line)) {
        const auto after =
            std::upper_bound(long_->marks.begin(), long_->marks.end(), row,
                             [](std::size_t value, const Mark& m) { return value < m.row; });
        from = *std::prev(after);
    }
    std::size_t start = from.column;
    std::size_t index = from.row;
    ForEachRow(text.substr(from.column), wrap_, [&](std::size_t s, std::size_t) {
        if (index > row) return false;
        start = from.column + s;
        ++index;
        return true;
    });
    return start;
}

std::size_t LogText::RowOf(std::size_t offset) const {
    const Line line = LineAt(offset);
    std::size_t row;
    if (line.start == finalStart_) {
        row = rows_;
    } else {
        const std::size_t b = BlockOf(line.start);
        row = StartOf(b).row;
        for (std::size_t s = StartOf(b).offset; s < line.start;) {
            const Line before = LineAt(s);
            row += RowsOfLine(before);
            s = before.next;
        }
    }
    return row + RowOfColumn(line, offset - line.start).index;
}

LogText::RowLine LogText::LineOfRow(std::size_t row) const {
    if (row >= rows_) return {{finalStart_, size_, size_}, rows_};
    const std::size_t b = BlockOfRow(row);
    std::size_t first = StartOf(b).row;
    for (std::size_t s = StartOf(b).offset;;) {
        const Line line = LineAt(s);
        const std::size_t rows = RowsOfLine(line);
        if (row < first + rows || line.next >= size_) return {line, first};
        first += rows;
        s = line.next;
    }
}

std::size_t LogText::StepBack(std::size_t offset) const {
    if (offset == 0) return 0;
    if (offset >= 2 && IsCrLf(At(offset - 2), At(offset - 1))) return offset - 2;
    return offset - 1;
}

std::size_t LogText::StepForward(std::size_t offset) const {
    if (offset >= size_) return size_;
    if (offset + 1 < size_ && IsCrLf(At(offset), At(offset + 1))) return offset + 2;
    return offset + 1;
}

}  // namespace vostrel
