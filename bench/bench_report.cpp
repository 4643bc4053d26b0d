// The cost of one good report in process, against the bare file work it has to do. The full
// path is the report intake wired like the window wires it: the window's real activity log
// (offscreen, shown), the checks and the conversion, the track log line and the snapshot
// through PositionFiles, and a viewer that does nothing. The floor is the same two files
// written and synced the same way with plain calls from bytes prepared beforehand: the line
// appended and the track log synced, the snapshot written beside its place, synced and
// renamed over it, and the folder synced.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "console/ActivityLog.h"
#include "report/Conversion.h"
#include "report/ReportCheck.h"
#include "support/BenchSupport.h"

namespace vostrel::bench {
namespace {

constexpr double kTargetRatio = 1.5;
// Every report waits for the disk (three syncs), so fewer reports than a cache-only run.
constexpr int kReports = 1000;
constexpr int kWarmUp = 50;
// Full path and floor take turns in blocks, so drift of the machine hits both alike.
constexpr int kBlock = 50;
// Reports timed step by step afterwards, to show where the time goes.
constexpr int kBreakdownReports = 200;

// Opens `path`, writes `bytes`, syncs with `sync` when given, closes.
void WriteAll(const std::string& path, int flags, const std::string& bytes,
              int (*sync)(int) = nullptr) {
    const int fd = ::open(path.c_str(), flags | O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot open " + path);
    const bool written =
        ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
        (sync == nullptr || sync(fd) == 0);
    if (::close(fd) != 0 || !written) throw std::runtime_error("cannot write " + path);
}

struct FloorWork {
    std::string folder;
    std::string trackLog;
    std::string snapshot;
    std::vector<std::string> lines;
    std::vector<std::string> snapshots;
    void Write(std::size_t i) const {
        WriteAll(trackLog, O_APPEND, lines[i], ::fdatasync);
        const std::string temp = folder + "/.floor.tmp";
        ::unlink(temp.c_str());
        WriteAll(temp, O_EXCL, snapshots[i], ::fsync);
        if (::rename(temp.c_str(), snapshot.c_str()) != 0) throw std::runtime_error("rename");
        const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0 || ::fsync(dir) != 0) throw std::runtime_error("cannot sync " + folder);
        ::close(dir);
    }
};

std::string MakeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0) throw std::runtime_error("cannot make " + path);
    return path;
}

int Run(const BenchHome& home) {
    BenchWindow bench;
    InProcessIntake full(*bench.window, MakeFolder(home.File("full")));
    test::NoticeWatcher notices;

    const std::string floorFolder = MakeFolder(home.File("floor"));
    const PositionPaths floorPaths = PositionPaths::In(floorFolder);
    FloorWork floor{floorFolder, floorPaths.trackLog, floorPaths.snapshot, {}, {}};
    std::vector<std::string> reports;
    for (int i = 0; i < kWarmUp + kReports; ++i) {
        reports.push_back(TrackerReport(i));
        const Position position = ReportPosition(reports.back());
        floor.lines.push_back(TrackLogLine(position.latitude, position.longitude));
        floor.snapshots.push_back(SnapshotText(position.latitude, position.longitude));
    }

    for (int i = 0; i < kWarmUp; ++i) {
        full.intake.ReceiveReport(reports[static_cast<std::size_t>(i)]);
        floor.Write(static_cast<std::size_t>(i));
        QCoreApplication::processEvents();
    }

    std::vector<double> fullTimes;
    std::vector<double> paintTimes;
    std::vector<double> floorTimes;
    for (int first = kWarmUp; first < kWarmUp + kReports; first += kBlock) {
        const int last = std::min(first + kBlock, kWarmUp + kReports);
        for (int i = first; i < last; ++i) {
            const auto start = Clock::now();
            full.intake.ReceiveReport(reports[static_cast<std::size_t>(i)]);
            fullTimes.push_back(MicrosSince(start));
            // What the event loop does next (layout and paint of the log box) is not part of
            // the report's own cost, but it is measured to show it.
            const auto paintStart = Clock::now();
            QCoreApplication::processEvents();
            paintTimes.push_back(MicrosSince(paintStart));
        }
        for (int i = first; i < last; ++i) {
            const auto start = Clock::now();
            floor.Write(static_cast<std::size_t>(i));
            floorTimes.push_back(MicrosSince(start));
            QCoreApplication::processEvents();
        }
    }
    if (!notices.seen.empty()) {
        std::fprintf(stderr, "bench_report: the intake raised a notice: %s\n",
                     qUtf8Printable(notices.seen.front().text));
        return 1;
    }
    if (full.viewer.shown != kWarmUp + kReports) {
        std::fprintf(stderr, "bench_report: the viewer was called %lld times, not %d\n",
                     static_cast<long long>(full.viewer.shown), kWarmUp + kReports);
        return 1;
    }

    // The same steps one at a time, each timed on its own.
    std::vector<double> stampTimes, appendTimes, checkTimes, fileTimes;
    for (int i = 0; i < kBreakdownReports; ++i) {
        const std::string& report = reports[static_cast<std::size_t>(i)];
        auto start = Clock::now();
        const std::string stamp = full.clock.DateAndTime();
        stampTimes.push_back(MicrosSince(start));
        start = Clock::now();
        full.console.Append(stamp + " " + report + "\r\n");
        appendTimes.push_back(MicrosSince(start));
        start = Clock::now();
        const CheckResult check = CheckReport(report);
        const std::string latitude = ConvertLatitude(check.fields[6]);
        const std::string longitude = ConvertLongitude(check.fields[5]);
        checkTimes.push_back(MicrosSince(start));
        start = Clock::now();
        full.files.SaveTrackerPosition(latitude, longitude);
        fileTimes.push_back(MicrosSince(start));
        QCoreApplication::processEvents();
    }

    const double fullMedian = Median(fullTimes);
    const double floorMedian = Median(floorTimes);
    const double ratio = fullMedian / floorMedian;
    std::printf(
        "   one good report in process (log append, checks, conversion, track log line,\n"
        "   snapshot, no-op viewer) against the same two files written and synced the same\n"
        "   way with plain calls; %d reports each, after %d to warm up; files on %s\n",
        kReports, kWarmUp, FileSystemOf(home.Path()).c_str());
    std::printf("   full path: median %7.1f us, mean %7.1f us, p99 %7.1f us\n", fullMedian,
                Mean(fullTimes), Percentile(fullTimes, 99));
    std::printf("   floor:     median %7.1f us, mean %7.1f us, p99 %7.1f us\n", floorMedian,
                Mean(floorTimes), Percentile(floorTimes, 99));
    std::printf(
        "   step by step, medians over %d reports: date and time %.1f us, log append "
        "%.1f us,\n   checks and conversion %.1f us, PositionFiles %.1f us\n",
        kBreakdownReports, Median(stampTimes), Median(appendTimes), Median(checkTimes),
        Median(fileTimes));
    std::printf(
        "   event loop after each report (log box layout and paint, not counted above): "
        "median %.1f us\n",
        Median(paintTimes));
    std::printf("full/floor, medians: %.2f (means: %.2f) (target <= %.1f): %s\n", ratio,
                Mean(fullTimes) / Mean(floorTimes), kTargetRatio, Verdict(ratio <= kTargetRatio));
    return 0;
}

}  // namespace
}  // namespace vostrel::bench

int main(int argc, char** argv) {
    return vostrel::bench::RunBenchmark(argc, argv, "bench_report", vostrel::bench::Run);
}
