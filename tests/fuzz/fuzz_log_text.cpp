// The activity log's text store under any mix of appends, edits, new banners and width changes
// that the input spells out, against a plain model: the text with its head, trimmed the way
// the store promises, and its lines and rows found the simple way.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>
#include <vector>

#include "console/LogText.h"

namespace {

using vostrel::LogText;
using vostrel::WrapMetrics;

void Require(bool condition, const char* what, std::size_t step) {
    if (condition) return;
    std::fprintf(stderr, "broken at step %zu: %s\n", step, what);
    std::abort();
}

bool IsLineEnd(const std::string& text, std::size_t i) {
    return text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'));
}

struct Model {
    std::string text;
    std::size_t head = 0;
    std::size_t capacity = 0;

    std::vector<LogText::Line> Lines() const {
        std::vector<LogText::Line> lines;
        std::size_t start = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (!IsLineEnd(text, i)) continue;
            const bool crlf = text[i] == '\n' && i > start && text[i - 1] == '\r';
            lines.push_back({start, crlf ? i - 1 : i, i + 1});
            start = i + 1;
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
};

void SameTrim(const LogText::Trim& store, const LogText::Trim& model, std::size_t step) {
    Require(store.count == model.count, "the trim removes as much as the model's", step);
    Require(store.count == 0 || store.from == model.from, "the trim starts where the model's",
            step);
}

bool SameLine(const LogText::Line& a, const LogText::Line& b) {
    return a.start == b.start && a.end == b.end && a.next == b.next;
}

// Text from a small alphabet, so line breaks, CR LF pairs and blanks come often.
std::string ConsumeText(FuzzedDataProvider& in, std::size_t most) {
    static constexpr char kAlphabet[] = {'a', 'b', ' ', '\r', '\n', 'W', '\t', '\xe9'};
    const std::string raw = in.ConsumeRandomLengthString(most);
    std::string text;
    text.reserve(raw.size());
    for (unsigned char c : raw) text += kAlphabet[c % sizeof kAlphabet];
    return text;
}

std::size_t RowsOf(std::string_view line, const WrapMetrics& wrap) {
    std::size_t rows = 0;
    vostrel::ForEachRow(line, wrap, [&rows](std::size_t, std::size_t) {
        ++rows;
        return true;
    });
    return rows;
}

// Small blocks (and close row marks on long lines, where the store takes their spacing), so
// that short inputs reach every path of the index.
template <typename Store = LogText>
Store MakeStore(std::size_t capacity, FuzzedDataProvider& in) {
    const auto blockTarget = in.ConsumeIntegralInRange<std::size_t>(1, 48);
    if constexpr (std::is_constructible_v<Store, std::size_t, std::size_t, std::size_t>) {
        return Store(capacity, blockTarget, in.ConsumeIntegralInRange<std::size_t>(1, 64));
    } else {
        return Store(capacity, blockTarget);
    }
}

void Compare(const LogText& store, const Model& model, FuzzedDataProvider& in, std::size_t step) {
    Require(store.Size() == model.text.size(), "the size is the model's", step);
    Require(store.Text() == model.text, "the text is the model's", step);
    const std::vector<LogText::Line> lines = model.Lines();
    std::vector<std::size_t> firstRow;
    std::size_t rows = 0;
    for (const LogText::Line& line : lines) {
        firstRow.push_back(rows);
        rows += RowsOf(std::string_view(model.text).substr(line.start, line.end - line.start),
                       store.Wrap());
    }
    Require(store.RowCount() == rows, "the row count is the model's", step);

    const std::size_t size = model.text.size();
    for (int probe = in.ConsumeIntegralInRange(0, 3); probe > 0; --probe) {
        const std::size_t offset = in.ConsumeIntegralInRange<std::size_t>(0, size);
        std::size_t at = 0;
        while (at + 1 < lines.size() && lines[at].next <= offset) ++at;
        const LogText::Line line = store.LineAt(offset);
        Require(SameLine(line, lines[at]), "the line at an offset is the model's", step);
        Require(store.TextOf(line) ==
                    std::string_view(model.text).substr(line.start, line.end - line.start),
                "a line's text is the model's", step);

        std::size_t within = 0;
        std::size_t row = 0;
        vostrel::ForEachRow(
            std::string_view(model.text).substr(lines[at].start, lines[at].end - lines[at].start),
            store.Wrap(), [&](std::size_t s, std::size_t) {
                if (s > 0 && lines[at].start + s <= offset) within = row;
                ++row;
                return true;
            });
        Require(store.RowOf(offset) == firstRow[at] + within, "the row of an offset is the model's",
                step);

        const bool crlfBefore =
            offset >= 2 && model.text[offset - 1] == '\n' && model.text[offset - 2] == '\r';
        const std::size_t back = offset == 0 ? 0 : crlfBefore ? offset - 2 : offset - 1;
        Require(store.StepBack(offset) == back, "a step back is the model's", step);
        const bool crlfAt =
            offset + 1 < size && model.text[offset] == '\r' && model.text[offset + 1] == '\n';
        const std::size_t forward = offset >= size ? size : crlfAt ? offset + 2 : offset + 1;
        Require(store.StepForward(offset) == forward, "a step forward is the model's", step);

        const std::size_t to = in.ConsumeIntegralInRange<std::size_t>(0, size + 2);
        const std::string expected = offset < std::min(to, size)
                                         ? model.text.substr(offset, std::min(to, size) - offset)
                                         : std::string();
        Require(store.Substr(offset, to) == expected, "a part of the text is the model's", step);

        const std::size_t someRow = in.ConsumeIntegralInRange<std::size_t>(0, rows);
        std::size_t holder = 0;
        while (holder + 1 < lines.size() && firstRow[holder + 1] <= someRow) ++holder;
        const LogText::RowLine found = store.LineOfRow(someRow);
        Require(SameLine(found.line, lines[holder]), "the line of a row is the model's", step);
        Require(found.firstRow == firstRow[holder], "a line's first row is the model's", step);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    Model model;
    model.capacity = in.ConsumeIntegralInRange<std::size_t>(1, 2000);
    LogText store = MakeStore(model.capacity, in);
    for (std::size_t step = 0; step < 400 && in.remaining_bytes() > 0; ++step) {
        switch (in.ConsumeIntegralInRange(0, 9)) {
            case 0:
            case 1:
            case 2:
            case 3: {
                const std::string addition = ConsumeText(in, 120);
                const LogText::Trim trim = store.Append(addition);
                SameTrim(trim, model.TrimFor(addition.size()), step);
                model.text += addition;
                break;
            }
            case 4:
            case 5:
            case 6:
            case 7: {
                // Past the end and reversed ranges too: the store takes them in.
                const std::size_t n = model.text.size();
                std::size_t to = in.ConsumeIntegralInRange<std::size_t>(0, n + 2);
                std::size_t from = in.ConsumeIntegralInRange<std::size_t>(0, n + 2);
                const std::string with = ConsumeText(in, 40);
                const LogText::Trim trim = store.Replace(from, to, with);
                to = std::min(to, n);
                from = std::min(from, to);
                if (from < model.head) {
                    model.head = to <= model.head ? model.head - (to - from) + with.size() : from;
                }
                model.text.replace(from, to - from, with);
                SameTrim(trim, model.TrimFor(0), step);
                break;
            }
            case 8: {
                const std::string banner = ConsumeText(in, 200);
                store.Assign(banner);
                model.text = banner;
                model.head = banner.size();
                break;
            }
            default: {
                // As the window sets it: every advance and the width at least 1.
                WrapMetrics wrap;
                const auto spread = in.ConsumeIntegralInRange<std::int32_t>(0, 4);
                for (int c = 0; c < 256; ++c) wrap.advance[c] = 1 + (c * 7 + spread) % (spread + 1);
                if (in.ConsumeBool()) wrap.width = in.ConsumeIntegralInRange<std::int64_t>(1, 40);
                store.SetWrap(wrap);
                break;
            }
        }
        Compare(store, model, in, step);
    }
    return 0;
}
