// The track log's tail as the globe reads it at start: single lines, then random logs (CR LF
// and LF, garbage, over-long lines, no final line break) read back in blocks of every small
// size and checked against reading the whole file forwards.
#include <gmock/gmock.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "globe/TrackTail.h"
#include "kit/PlainKit.h"

namespace vostrel {
namespace {

TEST(TrackTail, ReadsTheLinesTheTrackLogHoldsAndNothingElse) {
    const std::string longest = std::string(kLongestTrackLine - 3, '0') + "1,2";
    struct Case {
        std::string line;
        bool position;
        double longitude = 0.0, latitude = 0.0;
    };
    const Case cases[] = {
        {"121.487086666667,24.9981516666667,0", true, 121.487086666667, 24.9981516666667},
        {"121.487086666667,24.9981516666667,0\r", true, 121.487086666667, 24.9981516666667},
        {"0.0,0.0,0", true, 0.0, 0.0},
        {"-180,-90,0", true, -180.0, -90.0},
        {"180,90", true, 180.0, 90.0},
        {"8.5,47.25,1234.5", true, 8.5, 47.25},
        {"", false},
        {"\r", false},
        {"8.5,47.25,0\r\r", false},
        {"8.5,47.25,0,0", false},
        {"8.5,47.25,", false},
        {"8.5,,0", false},
        {"8.5", false},
        {"180.0001,0,0", false},
        {"0,-90.5,0", false},
        {"1e2,3,0", false},
        {"nan,3,0", false},
        {"inf,3,0", false},
        {" 8.5,47.25,0", false},
        {"+8.5,47.25,0", false},
        {"0x10,1,0", false},
        {"Listening on TCP port 5000", false},
        {longest + "\r", true, 1.0, 2.0},  // as long as a line may be
        {"0" + longest, false},
    };
    for (const Case& c : cases) {
        TrackPoint point{-1.0, -1.0};
        EXPECT_EQ(ParseTrackLine(c.line, point), c.position) << c.line;
        if (!c.position) continue;
        EXPECT_EQ(point.longitude, c.longitude) << c.line;
        EXPECT_EQ(point.latitude, c.latitude) << c.line;
    }
}

// Forwards through the whole text: every line, the last one also without its line break.
std::vector<TrackPoint> Forwards(const std::string& text) {
    std::vector<TrackPoint> all;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        TrackPoint point;
        if (ParseTrackLine(line, point)) all.push_back(point);
    }
    return all;
}

std::string RandomLog(std::mt19937& random) {
    std::uniform_int_distribution<int> kind(0, 9);
    std::uniform_real_distribution<double> lon(-180.0, 180.0), lat(-90.0, 90.0);
    std::uniform_int_distribution<int> byte(0, 255), lines(0, 60), length(0, 400);
    std::string text;
    const int count = lines(random);
    for (int i = 0; i < count; ++i) {
        const int k = kind(random);
        if (k <= 7) {  // a position; 6: with one field too many
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, k == 6 ? "%.3f,%.3f,0,0" : "%.13f,%.13f,0",
                          lon(random), lat(random));
            // 7: padded up to and past the longest line a position may have.
            if (k == 7) text.append(static_cast<std::size_t>(length(random) / 2 + 200), '0');
            text += buffer;
        } else if (k == 8) {
            for (int n = length(random); n > 0; --n) {
                const char c = static_cast<char>(byte(random));
                if (c != '\n') text += c;
            }
        }  // 9: an empty line
        text += (byte(random) % 3 == 0) ? "\n" : "\r\n";
    }
    if (!text.empty() && byte(random) % 2 == 0) text.erase(text.size() - (text.back() == '\n'));
    return text;
}

// The tail read in blocks is what reading forwards gives: its newest positions, or fewer (but
// always the newest) only when they lie further back than the reader looks.
TEST(TrackTail, ReadBackwardsInBlocksIsReadingForwards) {
    const test::ScratchDir dir;
    const std::string path = dir.File("vo_demo.txt");
    std::mt19937 random(20261207);
    for (int round = 0; round < 200; ++round) {
        const std::string text = RandomLog(random);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        const std::vector<TrackPoint> all = Forwards(text);
        for (const std::size_t most :
             {std::size_t{1}, std::size_t{3}, std::size_t{17}, all.size() + 1}) {
            for (const std::size_t block : {1, 2, 7, 64, 257, 65536}) {
                const std::vector<TrackPoint> tail = ReadTrackTail(path, most, block);
                const std::size_t expected = std::min(most, all.size());
                ASSERT_LE(tail.size(), expected);
                if (text.size() <= most * kLongestTrackLine) {  // all within the reader's reach
                    ASSERT_EQ(tail.size(), expected) << round << " " << most << " " << block;
                }
                for (std::size_t i = 0; i < tail.size(); ++i) {
                    const TrackPoint& want = all[all.size() - tail.size() + i];
                    ASSERT_EQ(tail[i].longitude, want.longitude) << round;
                    ASSERT_EQ(tail[i].latitude, want.latitude) << round;
                }
            }
        }
    }
}

TEST(TrackTail, AHugeLogIsReadFromItsEndAndNothingIsNoPositions) {
    const test::ScratchDir dir;
    const std::string path = dir.File("vo_demo.txt");
    EXPECT_TRUE(ReadTrackTail(path, 10000).empty());        // missing
    EXPECT_TRUE(ReadTrackTail(dir.Path(), 10000).empty());  // a folder
    // A FIFO with no writer: no positions at once (it is never waited on), and a line on
    // standard error.
    const std::string fifo = dir.File("fifo.txt");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(ReadTrackTail(fifo, 10000).empty());
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                testing::HasSubstr(fifo + ": not a regular file\n"));
    std::ofstream(path, std::ios::binary).flush();
    EXPECT_TRUE(ReadTrackTail(path, 10000).empty());  // empty

    // A gigabyte (sparse: no disk used) with a fix at its start and three at its end.
    std::ofstream(path, std::ios::binary) << "1,1,0\r\n";
    std::filesystem::resize_file(path, std::uintmax_t{1} << 30);
    std::ofstream(path, std::ios::binary | std::ios::app) << "\r\n2,2,0\r\n3,3,0\r\n4,4,0\r\n";
    const std::vector<TrackPoint> tail = ReadTrackTail(path, 10000);
    ASSERT_EQ(tail.size(), 3U);
    EXPECT_EQ(tail.front().longitude, 2.0);
    EXPECT_EQ(tail.back().latitude, 4.0);
    EXPECT_EQ(ReadTrackTail(path, 2).front().longitude, 3.0);
}

}  // namespace
}  // namespace vostrel
