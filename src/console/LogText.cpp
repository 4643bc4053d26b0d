#include "console/LogText.h"

#include <algorithm>
#include <cassert>

namespace vostrel {

namespace {

// Whether position `e` (0 < e <= size) of `s` lies just after a line break.
bool IsBoundary(std::string_view s, std::size_t e) {
    const char c = s[e - 1];
    return c == '\n' || (c == '\r' && (e == s.size() || s[e] != '\n'));
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
    const std::size_t n = s.size();
    std::size_t start = from;
    for (std::size_t i = from; i < n; ++i) {
        const char c = s[i];
        if (c == '\n') {
            line(start, i > start && s[i - 1] == '\r' ? i - 1 : i, i + 1);
            start = i + 1;
        } else if (c == '\r' && (i + 1 == n || s[i + 1] != '\n')) {
            line(start, i, i + 1);
            start = i + 1;
        }
    }
    return start;
}

}  // namespace

std::size_t CountRows(std::string_view line, const WrapMetrics& metrics) {
    std::size_t rows = 0;
    ForEachRow(line, metrics, [&rows](std::size_t, std::size_t) {
        ++rows;
        return true;
    });
    return rows;
}

LogText::LogText(std::size_t capacity, std::size_t blockTarget)
    : capacity_(capacity), blockTarget_(std::max<std::size_t>(blockTarget, 1)) {
    blocks_.emplace_back();
}

std::size_t LogText::IndexBytes() const {
    return blocks_.capacity() * sizeof(Block) + rest_.capacity() * sizeof(Start);
}

// ---------------------------------------------------------------------------------------------
// Writing

void LogText::Assign(std::string_view text) {
    blocks_.clear();
    blocks_.emplace_back();
    size_ = breaks_ = rows_ = 0;
    finalStart_ = 0;
    finalRows_ = 1;
    dirty_ = true;
    head_ = 0;
    Splice(0, 0, text);
    head_ = size_;
}

LogText::Trim LogText::Append(std::string_view addition) {
    const Trim trim = TrimFor(addition.size());
    if (addition.empty()) return trim;
    // A CR at the end and an LF at the start of the addition are one line break.
    Block* last = &blocks_.back();
    if (last->Size() > 0 && last->bytes.back() == '\r' && addition.front() == '\n') {
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
                rest.line += finished.breaks;
                rest.row += finished.rows;
            }
            blocks_.emplace_back();
            blocks_.back().bytes.reserve(std::min(blockTarget_, addition.size()));
            rest_.push_back({0, 0, 0});
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
    const std::string_view bytes = last.View();
    const std::size_t rest =
        ForEachEndedLine(bytes, from, [&](std::size_t s, std::size_t e, std::size_t) {
            const std::size_t rows = RowsOf(bytes.substr(s, e - s));
            ++last.breaks;
            ++breaks_;
            last.rows += rows;
            rows_ += rows;
        });
    finalStart_ = blockStart + rest;
    finalRows_ = RowsOf(bytes.substr(rest));
}

LogText::Trim LogText::Replace(std::size_t from, std::size_t to, std::string_view with) {
    to = std::min(to, size_);
    from = std::min(from, to);
    if (from < head_) head_ = to <= head_ ? head_ - (to - from) + with.size() : from;
    Splice(from, to, with);
    return TrimFor(0);
}

LogText::Trim LogText::TrimFor(std::size_t incoming) {
    if (size_ + incoming <= capacity_) return {};
    const std::size_t need = size_ + incoming - capacity_;
    auto lineStart = [this](std::size_t offset) {
        if (offset == 0 || offset >= size_) return std::min(offset, size_);
        const char before = At(offset - 1);
        if (before == '\n' || (before == '\r' && At(offset) != '\n')) return offset;
        return NextLineStart(offset);
    };
    const std::size_t from = lineStart(head_);
    if (from >= size_) return {};
    const std::size_t to = lineStart(std::min(from + need, size_));
    EraseWholeLines(from, to);
    return {from, to - from};
}

// Removes [from, to), both line starts, counting only what goes: the blocks keep their other
// lines' counts and the later blocks' starts shift by what went. (Removing the last line, or
// joining a CR and an LF into one line break, takes the general way.)
void LogText::EraseWholeLines(std::size_t from, std::size_t to) {
    if (from >= to) return;
    if (to >= size_ || (from > 0 && At(from - 1) == '\r' && At(to) == '\n')) {
        Splice(from, to, {});
        return;
    }
    EnsurePrefix();
    const std::size_t first = BlockOf(from);
    const std::size_t last = blocks_.size() - 1;
    std::size_t end = first;
    Start gone{0, 0, 0};        // all that goes
    Start goneBefore{0, 0, 0};  // what goes from blocks before the last
    // Starts are read before anything changes: each depends only on the blocks before it.
    for (std::size_t start; end < blocks_.size() && (start = StartOf(end).offset) < to; ++end) {
        Block& block = blocks_[end];
        const std::size_t s = std::max(from, start) - start;
        const std::size_t e = std::min(to, start + block.Size()) - start;
        const std::string_view text = block.View().substr(s, e - s);
        Start lines{e - s, 0, 0};
        ForEachEndedLine(text, 0, [&](std::size_t ls, std::size_t le, std::size_t) {
            ++lines.line;
            lines.row += RowsOf(text.substr(ls, le - ls));
        });
        block.breaks -= lines.line;
        block.rows -= lines.row;
        for (Start* sum : {&gone, end < last ? &goneBefore : nullptr}) {
            if (sum == nullptr) continue;
            sum->offset += lines.offset;
            sum->line += lines.line;
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
    breaks_ -= gone.line;
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
        rest_[i].line -= goneBefore.line;
        rest_[i].row -= goneBefore.row;
    }
    for (std::size_t i = kept; i-- > first;) {
        if (i + 1 == blocks_.size()) {
            rest_[i] = {0, 0, 0};
        } else {
            const Block& block = blocks_[i];
            rest_[i] = {rest_[i + 1].offset + block.Size(), rest_[i + 1].line + block.breaks,
                        rest_[i + 1].row + block.rows};
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
            if (a == 0 || blocks_[a - 1].View().back() != '\r' || next.front() != '\n') break;
            --a;
            merged = blocks_[a].View();
            continue;
        }
        if (merged.back() == '\n' || (merged.back() == '\r' && next.front() != '\n')) break;
        merged += next;
        ++b;
    }
    if (a > 0 && !merged.empty() && merged.front() == '\n' &&
        blocks_[a - 1].View().back() == '\r') {
        --a;
        merged.insert(0, blocks_[a].View());
    }

    const bool touchesLast = b + 1 == blocks_.size();
    const std::size_t oldSize = size_;
    for (std::size_t i = a; i <= b; ++i) {
        size_ -= blocks_[i].Size();
        breaks_ -= blocks_[i].breaks;
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
        breaks_ += blocks_[i].breaks;
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
    if (inserted == 0 || lastIndex < a) {
        breaks_ -= last.breaks;
        rows_ -= last.rows;
    }
    Count(last, true);
    breaks_ += last.breaks;
    rows_ += last.rows;
}

// Counts the line breaks of `block` and the rows of the lines they end; for the last block also
// where its unended last line starts and that line's rows.
void LogText::Count(Block& block, bool last) {
    block.breaks = 0;
    block.rows = 0;
    const std::string_view bytes = block.View();
    const std::size_t rest =
        ForEachEndedLine(bytes, 0, [&](std::size_t s, std::size_t e, std::size_t) {
            ++block.breaks;
            block.rows += RowsOf(bytes.substr(s, e - s));
        });
    if (last) {
        finalStart_ = size_ - bytes.size() + rest;
        finalRows_ = RowsOf(bytes.substr(rest));
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
    Start rest{0, 0, 0};
    rest_.back() = rest;
    for (std::size_t i = blocks_.size() - 1; i-- > 0;) {
        rest.offset += blocks_[i].Size();
        rest.line += blocks_[i].breaks;
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
    return {size_ - last.Size() - rest.offset, breaks_ - last.breaks - rest.line,
            rows_ - last.rows - rest.row};
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

std::size_t LogText::BlockOfLine(std::size_t line) const {
    return LastBlockStartingBy(line, [](const Start& s) { return s.line; });
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
    for (std::size_t i = offset - start; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\n' || (c == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n'))) {
            return start + i + 1;
        }
    }
    return start + bytes.size();
}

LogText::Line LogText::LineAt(std::size_t offset) const {
    offset = std::min(offset, size_);
    if (offset >= finalStart_) return {finalStart_, size_, size_};
    const std::size_t b = BlockOf(offset);
    const std::string_view bytes = BlockView(b);
    const std::size_t blockStart = StartOf(b).offset;
    std::size_t start = blockStart;
    for (std::size_t i = offset - blockStart; i > 0; --i) {
        const char c = bytes[i - 1];
        if (c == '\n' || (c == '\r' && bytes[i] != '\n')) {
            start = blockStart + i;
            break;
        }
    }
    const std::size_t next = NextLineStart(start);
    std::size_t end = next;
    if (end > start && bytes[end - blockStart - 1] == '\n') --end;
    if (end > start && bytes[end - blockStart - 1] == '\r') --end;
    return {start, end, next};
}

std::size_t LogText::LineIndexOf(std::size_t offset) const {
    offset = std::min(offset, size_);
    if (offset >= finalStart_) return breaks_;
    const std::size_t b = BlockOf(offset);
    const std::string_view bytes = BlockView(b);
    std::size_t index = StartOf(b).line;
    ForEachEndedLine(bytes.substr(0, offset - StartOf(b).offset + 1), 0,
                     [&](std::size_t, std::size_t, std::size_t next) {
                         if (StartOf(b).offset + next <= offset) ++index;
                     });
    return index;
}

LogText::Line LogText::LineByIndex(std::size_t index) const {
    if (index >= breaks_) return {finalStart_, size_, size_};
    const std::size_t b = BlockOfLine(index);
    std::size_t skip = index - StartOf(b).line;
    std::size_t offset = StartOf(b).offset;
    while (skip-- > 0) offset = NextLineStart(offset);
    return LineAt(offset);
}

std::string_view LogText::TextOf(const Line& line) const {
    if (line.start >= line.end) return {};
    const std::size_t b = BlockOf(line.start);
    return BlockView(b).substr(line.start - StartOf(b).offset, line.end - line.start);
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
            row += RowsOf(TextOf(before));
            s = before.next;
        }
    }
    std::size_t within = 0;
    std::size_t index = 0;
    const std::size_t column = offset - line.start;
    ForEachRow(TextOf(line), wrap_, [&](std::size_t s, std::size_t) {
        if (s > column) return false;
        within = index++;
        return true;
    });
    return row + within;
}

LogText::RowLine LogText::LineOfRow(std::size_t row) const {
    if (row >= rows_) return {{finalStart_, size_, size_}, rows_};
    const std::size_t b = BlockOfRow(row);
    std::size_t first = StartOf(b).row;
    for (std::size_t s = StartOf(b).offset;;) {
        const Line line = LineAt(s);
        const std::size_t rows = RowsOf(TextOf(line));
        if (row < first + rows || line.next >= size_) return {line, first};
        first += rows;
        s = line.next;
    }
}

std::size_t LogText::StepBack(std::size_t offset) const {
    if (offset == 0) return 0;
    if (offset >= 2 && At(offset - 1) == '\n' && At(offset - 2) == '\r') return offset - 2;
    return offset - 1;
}

std::size_t LogText::StepForward(std::size_t offset) const {
    if (offset >= size_) return size_;
    if (At(offset) == '\r' && offset + 1 < size_ && At(offset + 1) == '\n') return offset + 2;
    return offset + 1;
}

}  // namespace vostrel
