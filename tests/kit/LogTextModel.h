// The plain model of the activity log's text store, for its test and its fuzz target alike: the
// text with its head (the banner kept at the top), trimmed the way the store promises, and its
// lines and rows found the simple way. Header only, so the fuzz build needs no kit library.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "console/LogText.h"

namespace vostrel::test {

struct LogTextModel {
    std::string text;
    std::size_t head = 0;
    std::size_t capacity = 0;

    // The lines: an LF, a CR, or a CR and the LF right after it end one.
    std::vector<LogText::Line> Lines() const {
        std::vector<LogText::Line> lines;
        std::size_t start = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\n') {
                lines.push_back({start, i > start && text[i - 1] == '\r' ? i - 1 : i, i + 1});
                start = i + 1;
            } else if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) {
                lines.push_back({start, i, i + 1});
                start = i + 1;
            }
        }
        lines.push_back({start, text.size(), text.size()});
        return lines;
    }

    std::size_t LineStartAtOrAfter(std::size_t offset) const {
        for (const LogText::Line& line : Lines()) {
            if (line.start >= offset) return line.start;
        }
        return text.size();
    }

    // Whole lines from just below the head, until `incoming` more bytes fit.
    LogText::Trim TrimFor(std::size_t incoming) {
        if (text.size() + incoming <= capacity) return {};
        const std::size_t from = LineStartAtOrAfter(head);
        if (from >= text.size()) return {};
        const std::size_t to = LineStartAtOrAfter(from + text.size() + incoming - capacity);
        text.erase(from, to - from);
        return {from, to - from};
    }

    // The store's three writes, done the plain way.
    LogText::Trim Append(const std::string& addition) {
        const LogText::Trim trim = TrimFor(addition.size());
        text += addition;
        return trim;
    }
    // Ranges past the end or reversed are taken in as the store takes them.
    LogText::Trim Replace(std::size_t from, std::size_t to, const std::string& with) {
        to = std::min(to, text.size());
        from = std::min(from, to);
        if (from < head) head = to <= head ? head - (to - from) + with.size() : from;
        text.replace(from, to - from, with);
        return TrimFor(0);
    }
    void Assign(const std::string& banner) {
        text = banner;
        head = banner.size();
    }
};

// The model's text laid out in rows at a wrap: its lines, the first row of each, the offset
// where each row starts.
struct LogTextLayout {
    std::vector<LogText::Line> lines;
    std::vector<std::size_t> firstRow;
    std::vector<std::size_t> rowStarts;

    LogTextLayout(const LogTextModel& model, const WrapMetrics& wrap) : lines(model.Lines()) {
        for (const LogText::Line& line : lines) {
            firstRow.push_back(rowStarts.size());
            ForEachRow(std::string_view(model.text).substr(line.start, line.end - line.start), wrap,
                       [&](std::size_t s, std::size_t) {
                           rowStarts.push_back(line.start + s);
                           return true;
                       });
        }
    }
    std::size_t Rows() const { return rowStarts.size(); }
    // The index of the line that holds `offset`.
    std::size_t LineAt(std::size_t offset) const {
        std::size_t at = 0;
        while (at + 1 < lines.size() && lines[at].next <= offset) ++at;
        return at;
    }
    // The row that holds `offset`.
    std::size_t RowOf(std::size_t offset) const {
        const std::size_t at = LineAt(offset);
        const std::size_t end = at + 1 < lines.size() ? firstRow[at + 1] : Rows();
        std::size_t row = firstRow[at];
        while (row + 1 < end && rowStarts[row + 1] <= offset) ++row;
        return row;
    }
    // The index of the line that holds row `row`.
    std::size_t LineOfRow(std::size_t row) const {
        std::size_t holder = 0;
        while (holder + 1 < lines.size() && firstRow[holder + 1] <= row) ++holder;
        return holder;
    }
};

inline bool SameLine(const LogText::Line& a, const LogText::Line& b) {
    return a.start == b.start && a.end == b.end && a.next == b.next;
}

}  // namespace vostrel::test
