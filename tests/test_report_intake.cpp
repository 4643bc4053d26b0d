#include <gmock/gmock.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cctype>
#include <string>

#include "kit/PlainKit.h"
#include "output/PositionFiles.h"
#include "report/ReportCheck.h"
#include "report/ReportIntake.h"

// What reaches the disk, in order: the program's syncs and renames are recorded here (the
// test binary's own definitions stand in for the C library's).
std::vector<std::string> diskEvents;

namespace {
std::string NameOfDescriptor(int fd) {
    char path[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(link.c_str(), path, sizeof path - 1);
    if (n <= 0) return "?";
    const std::string full(path, static_cast<std::size_t>(n));
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) return "folder";
    return full.substr(full.rfind('/') + 1);
}
}  // namespace

extern "C" int fsync(int fd) {
    diskEvents.push_back("fsync " + NameOfDescriptor(fd));
    return static_cast<int>(::syscall(SYS_fsync, fd));
}
extern "C" int fdatasync(int fd) {
    diskEvents.push_back("fdatasync " + NameOfDescriptor(fd));
    return static_cast<int>(::syscall(SYS_fdatasync, fd));
}
extern "C" int rename(const char* from, const char* to) {
    const std::string target(to);
    diskEvents.push_back("rename " + target.substr(target.rfind('/') + 1));
    return static_cast<int>(::syscall(SYS_rename, from, to));
}

namespace vostrel {
namespace {

using test::ReadFile;
using testing::ElementsAre;

// One intake wired to recording ports and real files in a scratch folder.
struct Intake {
    test::ScratchDir dir;
    test::OperatorRecord op;
    test::FixedClock clock;
    test::RecordingViewer viewer;
    PositionFiles files{dir.Path()};
    ReportIntake intake{op, op, clock, files, viewer};

    std::string TrackLog() const { return ReadFile(dir.File("vo_demo.txt")); }
};

const std::string kGood =
    "$355632000166323,1,1,040202,093633,E12129.2252,N2459.8891,00161,0.0100,147,07*37!";
const std::string kSecond = "$1,2,3,4,5,E03737.3756,N5539.3943,7,8,9,!";
const std::string kLine1 = "121.487086666667,24.9981516666667,0\r\n";
const std::string kLine2 = "37.6229266666667,55.6565716666667,0\r\n";

// The log line of an arrival.
std::string Stamped(const std::string& text) {
    return std::string(test::FixedClock::kStamp) + " " + text + "\r\n";
}

// A well-formed report padded (inside field 10, before "!") to exactly `length` characters.
std::string ReportOfLength(std::size_t length) {
    std::string report = "$1,2,3,4,5,E12129.2252,N2459.8891,7,8,9,";
    report.append(length - report.size() - 1, '0');
    return report + "!";
}

struct Rejection {
    const char* what;
    std::string report;
    std::string notice;
};

class Rejected : public ::testing::TestWithParam<Rejection> {};

TEST_P(Rejected, LogsTheArrivalThenShowsTheFirstFailingCheckAndWritesNothing) {
    Intake t;
    t.intake.ReceiveReport(GetParam().report);
    EXPECT_THAT(t.op.events,
                ElementsAre("log:" + Stamped(GetParam().report), "notice:" + GetParam().notice));
    EXPECT_FALSE(test::FileExists(t.dir.File("vo_demo.txt")));
    EXPECT_FALSE(test::FileExists(t.dir.File("vo_demo.kml")));
    EXPECT_TRUE(t.viewer.calls.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Checks, Rejected,
    ::testing::Values(
        Rejection{"14 characters", "$,,,,,,,,,,99!", "Packet too small."},
        Rejection{"255 characters", ReportOfLength(255), "Packet too small."},
        Rejection{"empty", "", "Packet too small."},
        Rejection{"length before field count", std::string(300, ','), "Packet too small."},
        Rejection{"10 fields", "$1,2,3,4,5,6,7,8,9,10xxxx!", "Illegal string count.9"},
        Rejection{"no comma", "$23456789012345!", "Illegal string count.0"},
        Rejection{"12 fields", "$0,1,2,3,4,5,6,7,8,9,10,11!", "Illegal string count.11"},
        Rejection{"field count before header", "x0,1,2,3,4,5,6,7,8,9,10,11",
                  "Illegal string count.11"},
        Rejection{"$ not first", " $0,1,2,3,4,5,6,7,8,9,10!", "Invalid header and trailer"},
        Rejection{"empty field 0", ",1,2,3,4,5,6,7,8,9,10xxxx!", "Invalid header and trailer"},
        Rejection{"CR LF after !", kGood + "\r\n", "Invalid header and trailer"},
        Rejection{"empty field 10", "$1,2,3,4,5,6,7,8,9,10xxxxx,", "Invalid header and trailer"},
        Rejection{"wrong trailer", "$0,1,2,3,4,5,6,7,8,9,10xxxx?", "Invalid header and trailer"},
        // Logged as received, also bytes that are not text.
        Rejection{"raw bytes", std::string("\xE9\x00\xFF", 3) + "\r\n", "Packet too small."}),
    [](const auto& info) {
        std::string name;
        for (char c : std::string(info.param.what))
            name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

TEST(ReportIntake, LengthBoundariesAreInclusive) {
    for (std::size_t length : {std::size_t{15}, std::size_t{254}}) {
        Intake t;
        const std::string report = length == 15 ? "$,,,,,,,,,,123!" : ReportOfLength(254);
        ASSERT_EQ(report.size(), length);
        t.intake.ReceiveReport(report);
        EXPECT_TRUE(t.op.Notices().empty()) << length;
        EXPECT_EQ(t.viewer.calls.size(), 1u) << length;
    }
}

struct DeviceSample {
    std::string report;
    std::string trackLogLine;
};

class DeviceSamples : public ::testing::TestWithParam<DeviceSample> {};

TEST_P(DeviceSamples, ProduceTheExpectedTrackLogLine) {
    Intake t;
    t.intake.ReceiveReport(GetParam().report);
    EXPECT_TRUE(t.op.Notices().empty());
    EXPECT_EQ(t.TrackLog(), GetParam().trackLogLine + "\r\n");
    EXPECT_THAT(t.viewer.calls, ElementsAre(std::pair(t.dir.File("vo_demo.kml"), 1)));
}

INSTANTIATE_TEST_SUITE_P(
    TR102, DeviceSamples,
    ::testing::Values(
        DeviceSample{kGood, "121.487086666667,24.9981516666667,0"},
        DeviceSample{
            "$355632002562503,1,3,160414,221427,E03737.3756,N5539.3943,166.2,0.1,91.04,05*37!",
            "37.6229266666667,55.6565716666667,0"},
        DeviceSample{"$355632000688565,0,1,000000,000000,E0,N0,0,0,0,0*37!", "0.0,0.0,0"},
        DeviceSample{"$1,2,3,4,5,W07400.5000,S3351.1234,7,8,9,\n!",
                     "-74.0083333333333,-33.8520566666667,0"}));

TEST(ReportIntake, TwoReportsGiveTwoLinesInOrderAndTheSecondSnapshot) {
    Intake t;
    t.intake.ReceiveReport(kGood);
    t.intake.ReceiveReport(kSecond);
    EXPECT_EQ(t.TrackLog(), kLine1 + kLine2);
    EXPECT_EQ(ReadFile(t.dir.File("vo_demo.kml")),
              SnapshotText("55.6565716666667", "37.6229266666667"));
    EXPECT_EQ(t.viewer.calls.size(), 2u);
}

// Reports that piled up arrive in one read; each is handled as an arrival of its own. Only a
// "!" directly followed by "$" separates them. One arrival shows at most one notice.
TEST(ReportIntake, ReportsThatArriveTogetherAreEachHandled) {
    const struct {
        std::string arrival;
        std::string log;
        std::vector<std::string> notices;
        std::string trackLog;
        int good;
    } cases[] = {
        {kGood + kSecond + kGood,
         Stamped(kGood) + Stamped(kSecond) + Stamped(kGood),
         {},
         kLine1 + kLine2 + kLine1,
         3},
        {"$no fields in here!" + kSecond,
         Stamped("$no fields in here!") + Stamped(kSecond),
         {"Illegal string count.0"},
         kLine2,
         1},
        {"$bad!$14 characters!" + kSecond,
         Stamped("$bad!") + Stamped("$14 characters!") + "Error: Illegal string count.0\r\n" +
             Stamped(kSecond),
         {"Packet too small."},
         kLine2,
         1},
        {kGood + "\r\n" + kSecond,
         Stamped(kGood + "\r\n" + kSecond),
         {"Illegal string count.20"},
         "",
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arrival);
        Intake t;
        const auto outcome = t.intake.ReceiveReport(c.arrival);
        EXPECT_EQ(t.op.logText, c.log);
        EXPECT_EQ(t.op.Notices(), c.notices);
        EXPECT_EQ(t.TrackLog(), c.trackLog);
        EXPECT_EQ(outcome.goodReportsFrom.size(), static_cast<std::size_t>(c.good));
    }
}

// Reports that arrive together are synced once, after the last of them, and before the
// arrival's notice can let the next arrival run: the new snapshot is on disk before it
// replaces the old one.
TEST(ReportIntake, AnArrivalIsOnDiskOnceBeforeItsNotice) {
    struct Notice : ErrorNoticePort {
        void Show(const std::string& message, const std::string&) override {
            diskEvents.push_back("notice " + message);
        }
    } notice;
    Intake t;
    ReportIntake intake{t.op, notice, t.clock, t.files, t.viewer};
    diskEvents.clear();
    intake.ReceiveReport("$bad!" + kGood + kSecond);
    EXPECT_EQ(diskEvents, (std::vector<std::string>{"rename vo_demo.kml", "fdatasync vo_demo.txt",
                                                    "fsync .vo_demo.kml.tmp", "rename vo_demo.kml",
                                                    "fsync folder", "notice Packet too small."}));
    EXPECT_EQ(t.TrackLog(), kLine1 + kLine2);
}

TEST(ReportIntake, AnUnwritableSnapshotIsReportedAndTheHandlerReturns) {
    Intake t;
    ASSERT_EQ(::mkdir(t.dir.File("vo_demo.kml").c_str(), 0755), 0);
    t.intake.ReceiveReport(kGood);
    EXPECT_THAT(t.op.events,
                ElementsAre(testing::StartsWith("log:"),
                            "notice:Position logged, but the snapshot could not be written: " +
                                t.dir.File("vo_demo.kml") + ": Is a directory"));
    EXPECT_EQ(t.TrackLog(), kLine1);
    EXPECT_TRUE(t.viewer.calls.empty());

    // The next report still goes through the same steps.
    t.intake.ReceiveReport(kGood);
    EXPECT_EQ(t.op.Notices().size(), 2u);
    EXPECT_EQ(t.TrackLog().size(), 2 * kLine1.size());
}

TEST(ReportIntake, AViewerFailureIsReportedAfterTheFilesWereWritten) {
    Intake t;
    t.viewer.failWith = "no map";
    t.intake.ReceiveReport(kGood);
    EXPECT_EQ(t.op.Notices(), std::vector<std::string>{"Unable to show position: no map"});
    EXPECT_EQ(t.viewer.calls.size(), 1u);
    EXPECT_EQ(ReadFile(t.dir.File("vo_demo.kml")),
              SnapshotText("24.9981516666667", "121.487086666667"));
}

TEST(SplitFields, KeepsEmptyFieldsAndDoesNotTrim) {
    EXPECT_THAT(SplitFields(" a,,b ,"), ElementsAre(" a", "", "b ", ""));
}

}  // namespace
}  // namespace vostrel
