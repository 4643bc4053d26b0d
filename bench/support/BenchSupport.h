// What only the benchmark programs need beyond the kit (tests/kit): the main window as they
// use it, the report path without sockets, report texts that vary in position, and the
// statistics and verdict lines every program prints.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "app/SystemClock.h"
#include "console/ActivityLog.h"
#include "console/ConsolePorts.h"
#include "core/Ports.h"
#include "kit/WindowFixture.h"
#include "output/PositionFiles.h"
#include "report/ReportIntake.h"

namespace vostrel::bench {

// The process's scratch home, from the kit.
using BenchHome = test::ScratchHome;

// The real main window from the kit, with the system clock (as the program stamps reports) and
// a stub viewer that keeps no paths, listening on a free port of its own.
struct BenchWindow : test::WindowFixture {
    BenchWindow();
    ActivityLog& Log() const;
    // Clicks Start Tracking; false (with a message naming `program`) when it could not listen.
    bool StartTracking(const char* program);
};

struct NoopViewerPort : ViewerPort {
    std::int64_t shown = 0;
    void ShowKmlFile(const std::string& /*path*/, std::int32_t /*flag*/) override { ++shown; }
};

// The whole report path of one arrival, in process, wired as the window wires it: the
// window's console (its activity log and error notice), the system's clock, real files in
// `folder`, a viewer that does nothing.
struct InProcessIntake {
    ConsolePorts console;
    SystemClock clock;
    PositionFiles files;
    NoopViewerPort viewer;
    ReportIntake intake;
    InProcessIntake(VostrelDEMO& window, const std::string& folder)
        : console(*window.Text1, window.Notice()),
          files(folder),
          intake(console, console, clock, files, viewer) {}
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
