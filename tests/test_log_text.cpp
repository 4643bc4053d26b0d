// The activity log's text store: after any mix of appends, edits, trims at capacity and width
// changes, its index (marks in long lines included) equals one rebuilt from scratch.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "console/LogText.h"

namespace vostrel {
namespace {

// The lines of `text`, found the plain way.
std::vector<LogText::Line> LinesOf(const std::string& text) {
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

std::size_t LineStartAtOrAfter(const std::string& text, std::size_t offset) {
    for (const LogText::Line& line : LinesOf(text)) {
        if (line.start >= offset) return line.start;
    }
    return text.size();
}

// What the store should hold: the text, and the head kept at the top when trimming.
struct Model {
    std::string text;
    std::size_t head = 0;
    std::size_t capacity;

    void TrimFor(std::size_t incoming) {
        if (text.size() + incoming <= capacity) return;
        const std::size_t from = LineStartAtOrAfter(text, head);
        if (from >= text.size()) return;
        const std::size_t to = LineStartAtOrAfter(text, from + text.size() + incoming - capacity);
        text.erase(from, to - from);
    }
};

void ExpectSameIndex(const LogText& store, const Model& model, std::mt19937& random) {
    ASSERT_EQ(store.Text(), model.text);
    ASSERT_EQ(store.Size(), model.text.size());
    const std::vector<LogText::Line> lines = LinesOf(model.text);
    std::vector<std::size_t> firstRow;
    std::vector<std::size_t> rowStarts;  // offsets
    for (const LogText::Line& line : lines) {
        firstRow.push_back(rowStarts.size());
        ForEachRow(std::string_view(model.text).substr(line.start, line.end - line.start),
                   store.Wrap(), [&](std::size_t s, std::size_t) {
                       rowStarts.push_back(line.start + s);
                       return true;
                   });
    }
    const std::size_t rows = rowStarts.size();
    ASSERT_EQ(store.RowCount(), rows);

    auto sameLine = [](const LogText::Line& a, const LogText::Line& b) {
        return a.start == b.start && a.end == b.end && a.next == b.next;
    };
    for (int probe = 0; probe < 20; ++probe) {
        const std::size_t offset = random() % (model.text.size() + 1);
        std::size_t at = 0;
        while (at + 1 < lines.size() && lines[at].next <= offset) ++at;
        ASSERT_TRUE(sameLine(store.LineAt(offset), lines[at])) << "offset " << offset;
        std::size_t within = 0;
        std::size_t row = 0;
        ForEachRow(
            std::string_view(model.text).substr(lines[at].start, lines[at].end - lines[at].start),
            store.Wrap(), [&](std::size_t s, std::size_t) {
                if (s > 0 && lines[at].start + s <= offset) within = row;
                ++row;
                return true;
            });
        ASSERT_EQ(store.RowOf(offset), firstRow[at] + within) << "offset " << offset;

        const std::size_t someRow = random() % rows;
        std::size_t holder = 0;
        while (holder + 1 < lines.size() && firstRow[holder + 1] <= someRow) ++holder;
        const LogText::RowLine found = store.LineOfRow(someRow);
        ASSERT_TRUE(sameLine(found.line, lines[holder])) << "row " << someRow;
        ASSERT_EQ(found.firstRow, firstRow[holder]) << "row " << someRow;
        ASSERT_EQ(found.line.start + store.RowStart(found.line, someRow - found.firstRow),
                  rowStarts[someRow])
            << "row " << someRow;
    }
}

TEST(LogText, RandomEditsKeepTheIndexEqualToOneBuiltFromScratch) {
    std::mt19937 random(20261207);
    constexpr std::size_t kCapacity = 3000;
    LogText store(kCapacity, 40, 8);
    Model model{{}, 0, kCapacity};
    WrapMetrics wrap;
    for (int c = 0; c < 256; ++c) wrap.advance[c] = 1 + c % 3;
    wrap.width = 12;
    store.SetWrap(wrap);

    const std::string alphabet = "ab c\r\n\rdefgh  ij\n\n\r\nW\r\n";
    auto randomText = [&](std::size_t most) {
        std::string text(random() % (most + 1), ' ');
        for (char& c : text) c = alphabet[random() % alphabet.size()];
        return text;
    };

    for (int step = 0; step < 4000; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        const unsigned op = random() % 100;
        if (op < 50) {
            const std::string addition = randomText(op < 3 ? 900 : 60);
            const LogText::Trim trim = store.Append(addition);
            const std::size_t before = model.text.size();
            model.TrimFor(addition.size());
            EXPECT_EQ(trim.count, before - model.text.size());
            model.text += addition;
        } else if (op < 94) {
            // Edits next to line breaks are where the index can go wrong: aim there often.
            std::size_t to = random() % (model.text.size() + 1);
            if (random() % 2 == 0) to = LineStartAtOrAfter(model.text, to);
            const std::size_t span = op < 70 ? 150 : 30;
            std::size_t from = to - random() % (std::min<std::size_t>(to, span) + 1);
            if (random() % 2 == 0) from = LineStartAtOrAfter(model.text, from);
            from = std::min(from, to);
            const std::string with = randomText(op < 60 ? 80 : 4);
            store.Replace(from, to, with);
            if (from < model.head) {
                model.head = to <= model.head ? model.head - (to - from) + with.size() : from;
            }
            model.text.replace(from, to - from, with);
            model.TrimFor(0);
        } else if (op < 97) {
            const std::string banner = randomText(120);
            store.Assign(banner);
            model.text = banner;
            model.head = banner.size();
        } else {
            wrap.width = 3 + random() % 30;
            store.SetWrap(wrap);
        }
        ExpectSameIndex(store, model, random);
        ASSERT_LE(store.Size(), std::max(kCapacity, model.head));
        if (HasFatalFailure()) return;
    }
}

// A CR and an LF that meet when the text between them goes are one line break, also when they
// stood in different blocks.
TEST(LogText, ACrAndAnLfThatMeetBecomeOneLineBreak) {
    LogText store(kLogCapacity, 4);
    for (const char* piece : {"ab\r", "zzz\n", "\ncd"}) store.Append(piece);
    ASSERT_EQ(store.LineAt(3).start, 3u);
    store.Replace(3, 7, "");
    EXPECT_EQ(store.Text(), "ab\r\ncd");
    EXPECT_EQ(store.LineAt(3).start, 0u);  // the LF ends the first line
    EXPECT_EQ(store.LineAt(3).next, 4u);
    EXPECT_EQ(store.LineAt(4).start, 4u);
}

// The capacity keeps the banner at the top and the newest lines at the end; text the operator
// typed below the banner goes like any other line.
TEST(LogText, PastCapacityTheOldestLinesBelowTheBannerGo) {
    LogText store(100);
    store.Assign("BANNER\r\n\r\n");
    store.Replace(store.Size(), store.Size(), "typed by the operator\r\n");
    for (int i = 0; i < 50; ++i) store.Append("line " + std::to_string(i) + "\r\n");
    const std::string text = store.Text();
    EXPECT_EQ(text.rfind("BANNER\r\n\r\nline ", 0), 0u) << text;
    EXPECT_EQ(text.substr(text.size() - 9), "line 49\r\n");
    EXPECT_LE(text.size(), 100u);
    EXPECT_GT(text.size() + 9, 100u);  // trimmed only as far as needed
    EXPECT_EQ(text.find("typed"), std::string::npos);
}

}  // namespace
}  // namespace vostrel
