#include <gmock/gmock.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#include "core/Errors.h"
#include "kit/PlainKit.h"
#include "output/PositionFiles.h"

namespace vostrel {
namespace {

using test::FileExists;
using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

// Runs `call` with files limited to `bytes` (a write past it fails as on a full disk).
template <typename Call>
void WithFileSizeLimit(rlim_t bytes, Call call) {
    const auto previous = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit small{bytes, limit.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    call();
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::signal(SIGXFSZ, previous);
}

const char* const kSnapshotOf121_24 =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<kml xmlns=\"http://earth.google.com/kml/2.2\">\r\n"
    "<Document>\r\n"
    "<name>Vostrel Demo</name>\r\n"
    "<description>Last reported position</description>\r\n"
    "<Placemark>\r\n"
    "<name>Your Tracker</name>\r\n"
    "<Point>\r\n"
    "<coordinates>121.487086666667,24.9981516666667,0</coordinates>\r\n"
    "</Point>\r\n"
    "</Placemark>\r\n"
    "</Document>\r\n"
    "</kml>\r\n";

// The first call makes both files byte for byte; a longer snapshot that stood there before is
// cut to the new one's thirteen lines.
TEST(PositionFiles, FirstCallCreatesBothFilesByteExactAlsoOverALongerSnapshot) {
    for (const bool longerBefore : {false, true}) {
        SCOPED_TRACE(longerBefore ? "a longer snapshot before" : "no snapshot before");
        ScratchDir dir;
        if (longerBefore) WriteFile(dir.File("vo_demo.kml"), std::string(10000, 'x') + "\r\n");
        PositionFiles files(dir.Path());
        files.SaveTrackerPosition("24.9981516666667", "121.487086666667");
        EXPECT_EQ(ReadFile(dir.File("vo_demo.txt")), "121.487086666667,24.9981516666667,0\r\n");
        const std::string snapshot = ReadFile(dir.File("vo_demo.kml"));
        EXPECT_EQ(snapshot, kSnapshotOf121_24);
        EXPECT_EQ(std::count(snapshot.begin(), snapshot.end(), '\n'), 13);
        EXPECT_EQ(files.SnapshotPath(), dir.File("vo_demo.kml"));
    }
}

TEST(PositionFiles, TrackLogAccumulatesAndSnapshotHoldsOnlyTheLast) {
    ScratchDir dir;
    PositionFiles files(dir.Path() + "/");
    files.SaveTrackerPosition("1", "2");
    files.SaveTrackerPosition("0.0", "0.0");
    EXPECT_EQ(ReadFile(dir.File("vo_demo.txt")), "2,1,0\r\n0.0,0.0,0\r\n");
    EXPECT_EQ(ReadFile(dir.File("vo_demo.kml")), SnapshotText("0.0", "0.0"));
    EXPECT_THAT(SnapshotText("0.0", "0.0"),
                testing::HasSubstr("<coordinates>0.0,0.0,0</coordinates>\r\n"));
}

// A track log cut short by another program: the new position still gets a line of its own.
TEST(PositionFiles, StartsANewLineAfterALastLineWithoutLineEnd) {
    const std::pair<const char*, const char*> cases[] = {
        {"1,2,0\r\nunterminated", "1,2,0\r\nunterminated\r\n4,3,0\r\n"},
        {"1,2,0\r", "1,2,0\r\n4,3,0\r\n"},
        {"1,2,0\n", "1,2,0\n4,3,0\r\n"},
        {"", "4,3,0\r\n"},
    };
    for (const auto& [before, after] : cases) {
        ScratchDir dir;
        WriteFile(dir.File("vo_demo.txt"), before);
        PositionFiles(dir.Path()).SaveTrackerPosition("3", "4");
        EXPECT_EQ(ReadFile(dir.File("vo_demo.txt")), after);
    }
}

TEST(PositionFiles, UnwritableSnapshotFailsAfterTheTrackLogLineIsWritten) {
    // A directory in the snapshot's place fails for every user, root included.
    ScratchDir dir;
    ASSERT_EQ(::mkdir(dir.File("vo_demo.kml").c_str(), 0755), 0);
    PositionFiles files(dir.Path());
    try {
        files.SaveTrackerPosition("1", "2");
        FAIL() << "no error raised";
    } catch (const SnapshotError& error) {  // the track log line is saved
        EXPECT_EQ(error.Path(), dir.File("vo_demo.kml"));
        EXPECT_EQ(std::string(error.what()), dir.File("vo_demo.kml") + ": Is a directory");
        EXPECT_EQ(error.Number(), EISDIR);
    }
    EXPECT_EQ(ReadFile(dir.File("vo_demo.txt")), "2,1,0\r\n");
}

TEST(PositionFiles, UnopenableTrackLogLeavesTheSnapshotUntouched) {
    ScratchDir dir;
    PositionFiles files(dir.Path());
    files.SaveTrackerPosition("1", "2");
    ASSERT_EQ(::unlink(dir.File("vo_demo.txt").c_str()), 0);
    ASSERT_EQ(::mkdir(dir.File("vo_demo.txt").c_str(), 0755), 0);
    // A FileError but not a SnapshotError: nothing was saved.
    EXPECT_THAT([&] { files.SaveTrackerPosition("5", "6"); },
                testing::Throws<FileError>(
                    testing::Not(testing::WhenDynamicCastTo<const SnapshotError&>(testing::_))));
    EXPECT_EQ(ReadFile(dir.File("vo_demo.kml")), SnapshotText("1", "2"));
}

// A write that stops part way (a full disk; here a file size limit) leaves the track log as it
// was, and the next line starts on a line of its own.
TEST(PositionFiles, AFailedAppendLeavesOnlyWholeLines) {
    ScratchDir dir;
    PositionFiles files(dir.Path());
    WriteFile(dir.File("vo_demo.txt"), "1,2,0\r\n");
    WithFileSizeLimit(20, [&] {
        EXPECT_THROW(files.SaveTrackerPosition("24.9981516666667", "121.487086666667"), FileError);
    });
    EXPECT_EQ(ReadFile(dir.File("vo_demo.txt")), "1,2,0\r\n");

    files.SaveTrackerPosition("24.9981516666667", "121.487086666667");
    EXPECT_EQ(ReadFile(dir.File("vo_demo.txt")),
              "1,2,0\r\n121.487086666667,24.9981516666667,0\r\n");
}

TEST(PositionFiles, MissingFolderReportsPathAndReason) {
    ScratchDir dir;
    PositionFiles files(dir.File("gone"));
    EXPECT_THAT([&] { files.SaveTrackerPosition("1", "2"); },
                testing::ThrowsMessage<FileError>(dir.File("gone/vo_demo.txt") +
                                                  ": No such file or directory"));
    EXPECT_FALSE(FileExists(dir.File("gone/vo_demo.kml")));
}

// Whatever stands where the files go: a link is followed and kept, the snapshot's permission
// bits are kept, a leftover of an interrupted write goes, and anything that is not a regular
// file is refused at once (a pipe would block the window).
TEST(PositionFiles, StrayFilesInEitherPlace) {
    ScratchDir dir;
    const std::string snapshot = dir.File("vo_demo.kml");
    const std::string track = dir.File("vo_demo.txt");
    const std::string temp = dir.File(".vo_demo.kml.tmp");
    struct Case {
        const char* what;
        std::function<void()> arrange;
        bool saves;
        std::function<void()> check = [] {};
    };
    const std::vector<Case> cases = {
        {"snapshot is a link", [&] { ASSERT_EQ(::symlink("real.kml", snapshot.c_str()), 0); }, true,
         [&] {
             struct stat st {};
             ASSERT_EQ(::lstat(snapshot.c_str(), &st), 0);
             EXPECT_TRUE(S_ISLNK(st.st_mode));
             EXPECT_EQ(ReadFile(dir.File("real.kml")), SnapshotText("1", "2"));
         }},
        {"snapshot is private",
         [&] {
             WriteFile(snapshot, "old");
             ASSERT_EQ(::chmod(snapshot.c_str(), 0600), 0);
         },
         true,
         [&] {
             struct stat st {};
             ASSERT_EQ(::stat(snapshot.c_str(), &st), 0);
             EXPECT_EQ(st.st_mode & 07777, 0600u);
         }},
        {"leftover temporary file is a link",
         [&] {
             WriteFile(dir.File("victim"), "keep");
             ASSERT_EQ(::symlink("victim", temp.c_str()), 0);
         },
         true, [&] { EXPECT_EQ(ReadFile(dir.File("victim")), "keep"); }},
        {"snapshot is a pipe", [&] { ASSERT_EQ(::mkfifo(snapshot.c_str(), 0644), 0); }, false},
        {"track log is a pipe", [&] { ASSERT_EQ(::mkfifo(track.c_str(), 0644), 0); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(dir.Path());
        std::filesystem::create_directory(dir.Path());
        c.arrange();
        PositionFiles files(dir.Path());
        if (c.saves) {
            EXPECT_NO_THROW(files.SaveTrackerPosition("1", "2"));
            if (!std::filesystem::is_symlink(snapshot)) {
                EXPECT_EQ(ReadFile(snapshot), SnapshotText("1", "2"));
            }
        } else {
            EXPECT_THROW(files.SaveTrackerPosition("1", "2"), FileError);
        }
        c.check();
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(temp)));
    }
}

// A snapshot that cannot be written whole (here a file size limit) leaves the old one and no
// temporary file.
TEST(PositionFiles, AFailedSnapshotLeavesTheOldOneAndNoTemporaryFile) {
    ScratchDir dir;
    PositionFiles files(dir.Path());
    files.SaveTrackerPosition("1", "2");
    WithFileSizeLimit(100,
                      [&] { EXPECT_THROW(files.SaveTrackerPosition("3", "4"), SnapshotError); });
    EXPECT_EQ(ReadFile(dir.File("vo_demo.kml")), SnapshotText("1", "2"));
    EXPECT_EQ(ReadFile(dir.File("vo_demo.txt")), "2,1,0\r\n4,3,0\r\n");
    EXPECT_FALSE(FileExists(dir.File(".vo_demo.kml.tmp")));
}

// A program reading the snapshot while positions stream in finds one whole snapshot or the
// other, never an empty or cut one.
TEST(PositionFiles, AReaderNeverSeesAPartialSnapshot) {
    ScratchDir dir;
    PositionFiles files(dir.Path());
    files.SaveTrackerPosition("1", "2");
    const std::set<std::string> whole = {SnapshotText("1", "2"),
                                         SnapshotText("33.3333333333333", "44.4444444444444")};
    std::atomic<bool> done{false};
    std::atomic<int> reads{0}, torn{0};
    std::thread reader([&] {
        while (!done) {
            if (whole.count(ReadFile(dir.File("vo_demo.kml"))) == 0) ++torn;
            ++reads;
        }
    });
    for (int i = 0; i < 400; ++i) {
        const bool even = i % 2 == 0;
        files.SaveTrackerPosition(even ? "33.3333333333333" : "1", even ? "44.4444444444444" : "2",
                                  Durability::Deferred);
    }
    files.Sync();
    done = true;
    reader.join();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(torn, 0) << "of " << reads << " reads";
}

}  // namespace
}  // namespace vostrel
