// The activity log's text store under any mix of appends, edits, new banners and width changes
// that the input spells out, against the kit's plain model (kit/LogTextModel.h): the text with
// its head, trimmed the way the store promises, and its lines and rows found the simple way.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <type_traits>
#include <vector>

#include "FuzzRequire.h"
#include "console/LogText.h"
#include "kit/LogTextModel.h"

namespace {

using vostrel::LogText;
using vostrel::WrapMetrics;
using vostrel::test::LogTextLayout;
using vostrel::test::LogTextModel;
using vostrel::test::SameLine;

void Require(bool condition, const char* what, std::size_t step) {
    if (!condition) std::fprintf(stderr, "at step %zu:\n", step);
    vostrel::fuzz::Require(condition, what);
}

void SameTrim(const LogText::Trim& store, const LogText::Trim& model, std::size_t step) {
    Require(store.count == model.count, "the trim removes as much as the model's", step);
    Require(store.count == 0 || store.from == model.from, "the trim starts where the model's",
            step);
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

void Compare(const LogText& store, const LogTextModel& model, FuzzedDataProvider& in,
             std::size_t step) {
    Require(store.Size() == model.text.size(), "the size is the model's", step);
    Require(store.Text() == model.text, "the text is the model's", step);
    const LogTextLayout layout(model, store.Wrap());
    const std::vector<LogText::Line>& lines = layout.lines;
    const std::size_t rows = layout.Rows();
    Require(store.RowCount() == rows, "the row count is the model's", step);

    const std::size_t size = model.text.size();
    for (int probe = in.ConsumeIntegralInRange(0, 3); probe > 0; --probe) {
        const std::size_t offset = in.ConsumeIntegralInRange<std::size_t>(0, size);
        const LogText::Line line = store.LineAt(offset);
        Require(SameLine(line, lines[layout.LineAt(offset)]),
                "the line at an offset is the model's", step);
        Require(store.TextOf(line) ==
                    std::string_view(model.text).substr(line.start, line.end - line.start),
                "a line's text is the model's", step);

        Require(store.RowOf(offset) == layout.RowOf(offset), "the row of an offset is the model's",
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
        const std::size_t holder = layout.LineOfRow(someRow);
        const LogText::RowLine found = store.LineOfRow(someRow);
        Require(SameLine(found.line, lines[holder]), "the line of a row is the model's", step);
        Require(found.firstRow == layout.firstRow[holder], "a line's first row is the model's",
                step);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    LogTextModel model;
    model.capacity = in.ConsumeIntegralInRange<std::size_t>(1, 2000);
    LogText store = MakeStore(model.capacity, in);
    for (std::size_t step = 0; step < 400 && in.remaining_bytes() > 0; ++step) {
        const int op = in.ConsumeIntegralInRange(0, 9);
        if (op < 4) {
            const std::string addition = ConsumeText(in, 120);
            SameTrim(store.Append(addition), model.Append(addition), step);
        } else if (op < 8) {
            // Past the end and reversed ranges too: the store takes them in.
            const std::size_t n = model.text.size();
            const auto to = in.ConsumeIntegralInRange<std::size_t>(0, n + 2);
            const auto from = in.ConsumeIntegralInRange<std::size_t>(0, n + 2);
            const std::string with = ConsumeText(in, 40);
            SameTrim(store.Replace(from, to, with), model.Replace(from, to, with), step);
        } else if (op == 8) {
            const std::string banner = ConsumeText(in, 200);
            store.Assign(banner);
            model.Assign(banner);
        } else {
            // As the window sets it: every advance and the width at least 1.
            WrapMetrics wrap;
            const auto spread = in.ConsumeIntegralInRange<std::int32_t>(0, 4);
            for (int c = 0; c < 256; ++c) wrap.advance[c] = 1 + (c * 7 + spread) % (spread + 1);
            if (in.ConsumeBool()) wrap.width = in.ConsumeIntegralInRange<std::int64_t>(1, 40);
            store.SetWrap(wrap);
        }
        Compare(store, model, in, step);
    }
    return 0;
}
