// The activity log's text store: after any mix of appends, edits, trims at capacity and width
// changes, its index (marks in long lines included) equals one rebuilt from scratch.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "console/LogText.h"
#include "kit/LogTextModel.h"

namespace vostrel {
namespace {

using test::LogTextLayout;
using test::LogTextModel;

void ExpectSameIndex(const LogText& store, const LogTextModel& model, std::mt19937& random) {
    ASSERT_EQ(store.Text(), model.text);
    ASSERT_EQ(store.Size(), model.text.size());
    const LogTextLayout layout(model, store.Wrap());
    ASSERT_EQ(store.RowCount(), layout.Rows());
    for (int probe = 0; probe < 20; ++probe) {
        const std::size_t offset = random() % (model.text.size() + 1);
        const std::size_t at = layout.LineAt(offset);
        ASSERT_TRUE(test::SameLine(store.LineAt(offset), layout.lines[at])) << "offset " << offset;
        ASSERT_EQ(store.RowOf(offset), layout.RowOf(offset)) << "offset " << offset;

        const std::size_t someRow = random() % layout.Rows();
        const std::size_t holder = layout.LineOfRow(someRow);
        const LogText::RowLine found = store.LineOfRow(someRow);
        ASSERT_TRUE(test::SameLine(found.line, layout.lines[holder])) << "row " << someRow;
        ASSERT_EQ(found.firstRow, layout.firstRow[holder]) << "row " << someRow;
        ASSERT_EQ(found.line.start + store.RowStart(found.line, someRow - found.firstRow),
                  layout.rowStarts[someRow])
            << "row " << someRow;
    }
}

TEST(LogText, RandomEditsKeepTheIndexEqualToOneBuiltFromScratch) {
    std::mt19937 random(20261207);
    constexpr std::size_t kCapacity = 3000;
    LogText store(kCapacity, 40, 8);
    LogTextModel model{{}, 0, kCapacity};
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
            EXPECT_EQ(store.Append(addition).count, model.Append(addition).count);
        } else if (op < 94) {
            // Edits next to line breaks are where the index can go wrong: aim there often.
            std::size_t to = random() % (model.text.size() + 1);
            if (random() % 2 == 0) to = model.LineStartAtOrAfter(to);
            const std::size_t span = op < 70 ? 150 : 30;
            std::size_t from = to - random() % (std::min<std::size_t>(to, span) + 1);
            if (random() % 2 == 0) from = model.LineStartAtOrAfter(from);
            from = std::min(from, to);
            const std::string with = randomText(op < 60 ? 80 : 4);
            store.Replace(from, to, with);
            model.Replace(from, to, with);
        } else if (op < 97) {
            const std::string banner = randomText(120);
            store.Assign(banner);
            model.Assign(banner);
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
