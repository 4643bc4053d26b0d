// Shared pieces of the benchmark programs: a scratch home and a headless toolkit set up
// before the application object exists, a viewer that does nothing, the main window wired to
// both, the report path without sockets, report texts that vary in position, and the
// statistics and verdict lines every program prints.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "output/PositionFiles.h"
#include "output/ViewerAutomation.h"
#include "report/Ports.h"
#include "report/ReportIntake.h"

namespace vostrel {
class ActivityLog;
class VostrelDEMO;
}  // namespace vostrel

namespace vostrel::bench {

// A fresh home folder under $TMPDIR (default /tmp) made the process's HOME, the XDG folders unset,
// the offscreen platform unless another was asked for. Create it before the application object and
// let it go after; it removes the folder.
class BenchHome {
  public:
    BenchHome();
    ~BenchHome();
    BenchHome(const BenchHome&) = delete;
    BenchHome& operator=(const BenchHome&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// A viewer component that is ready at once and shows nothing.
class NoopViewer : public QObject, public ViewerAutomation {
    Q_OBJECT
    Q_INTERFACES(vostrel::ViewerAutomation)
  public:
    std::int64_t shown = 0;
    std::int32_t IsViewerReady() override { return 1; }
    void ShowKmlFile(const QString& /*path*/, std::int32_t /*flag*/) override { ++shown; }
};

// A registry holding only a NoopViewer, under the identifier the window asks for.
struct NoopRegistry {
    ComponentRegistry registry;
    NoopRegistry();
};

// Presses away every error notice from a timer, so a failure can never leave a benchmark
// waiting on a modal box nobody sees, and keeps the texts.
class NoticeSweeper : public QObject {
  public:
    NoticeSweeper();
    QStringList seen;

  private:
    void Sweep();
    QTimer timer_;
};

// The real main window on a no-op viewer, its files in `folder`, the system clock, and an end
// of the program that only records its code.
struct BenchWindow {
    NoopRegistry viewers;
    std::vector<int> endedWith;
    std::unique_ptr<VostrelDEMO> window;

    explicit BenchWindow(const std::string& folder);
    ~BenchWindow();
    BenchWindow(const BenchWindow&) = delete;
    BenchWindow& operator=(const BenchWindow&) = delete;
    ActivityLog& Log() const;
    // Clicks Start Tracking; false (with a message naming `program`) when it could not listen.
    bool StartTracking(const char* program);
};

// The window's side of the report path, rebuilt outside it: appends to a real activity log,
// stamps with the system locale's short date and long time like the window does, counts
// notices instead of showing them.
struct LogPorts : ActivityLogPort, ErrorNoticePort, ClockPort {
    ActivityLog& log;
    std::vector<std::string> notices;
    explicit LogPorts(ActivityLog& target) : log(target) {}
    void Append(const std::string& text) override;
    void Show(const std::string& message) override { notices.push_back(message); }
    std::string DateAndTime() override;
};

struct NoopViewerPort : ViewerPort {
    std::int64_t shown = 0;
    void ShowKmlFile(const std::string& /*path*/, std::int32_t /*flag*/) override { ++shown; }
};

// The whole report path of one arrival, in process: the window's activity log, real files in
// `folder`, a viewer that does nothing.
struct InProcessIntake {
    LogPorts ports;
    PositionFiles files;
    NoopViewerPort viewer;
    ReportIntake intake;
    InProcessIntake(ActivityLog& log, const std::string& folder)
        : ports(log), files(folder), intake(ports, ports, ports, files, viewer) {}
};

// A good report whose position moves with `step`, always of the same length, and the
// coordinate texts it converts to.
std::string TrackerReport(int step);
struct Position {
    std::string latitude;
    std::string longitude;
};
Position ReportPosition(const std::string& report);

// The system locale's short date, a blank and its long time, as the window stamps reports.
std::string SystemDateAndTime();

// A log line as the window writes it for a report: date, time, report, CR LF.
std::string TypicalLogLine();

using Clock = std::chrono::steady_clock;
inline double MicrosSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// Statistics of a sample; `Percentile` takes p in [0, 100], nearest rank.
double Median(std::vector<double> values);
double Percentile(std::vector<double> values, double p);
double Mean(const std::vector<double>& values);

// The resident set size of this process in KiB, from /proc/self/status (VmRSS).
long ResidentKiB();

// The kind of file system `path` is on ("ext4", "tmpfs", ...): file timings depend on it.
std::string FileSystemOf(const std::string& path);

// The number of cores and the load averages, to judge how quiet the machine was.
std::string MachineLoad();

const char* Verdict(bool met);

// The body of every benchmark's main: makes the scratch home, then the application object,
// prints the name and the machine's load, runs `run` and prints the load again. Returns what
// `run` returns, or 1 when it throws.
int RunBenchmark(int argc, char** argv, const char* name, int (*run)(const BenchHome& home));

// Runs every pending event, posted deferred deletions included.
void Settle();

}  // namespace vostrel::bench
