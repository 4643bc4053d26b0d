#include "support/BenchSupport.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statfs.h>

#include <QApplication>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numeric>
#include <stdexcept>
#include <thread>

#include "app/Application.h"
#include "app/SystemClock.h"
#include "app/VostrelDEMO.h"
#include "console/ActivityLog.h"
#include "report/Conversion.h"
#include "report/ReportCheck.h"

namespace vostrel::bench {

BenchWindow::BenchWindow()
    : test::WindowFixture([] {
          test::WindowOptions options;
          options.systemClock = true;
          return options;
      }()) {
    if (stubs.last != nullptr) stubs.last->keepPaths = false;
    if (!QTest::qWaitForWindowExposed(window.get())) {
        std::fprintf(stderr, "the main window was not shown\n");
    }
}

ActivityLog& BenchWindow::Log() const {
    return *window->Text1;
}

bool BenchWindow::StartTracking(const char* program) {
    test::NoticeWatcher notices;
    if (Start()) return true;
    std::fprintf(stderr, "%s: could not listen (%s)\n", program,
                 notices.seen.empty() ? "no notice" : qUtf8Printable(notices.seen.front().text));
    return false;
}

std::string SystemDateAndTime() {
    static SystemClock clock;
    return clock.DateAndTime();
}

std::string TrackerReport(int step) {
    // Minutes as "mm.mmmm": four decimals, so every report has the same length.
    const unsigned latitude = static_cast<unsigned>(step) % 600000u;
    const unsigned longitude = (static_cast<unsigned>(step) * 7u + 123457u) % 600000u;
    char report[128];
    std::snprintf(report, sizeof report,
                  "$355632000166323,1,1,040202,093633,E121%02u.%04u,N24%02u.%04u,00161,0.0100,"
                  "147,07*37!",
                  longitude / 10000u, longitude % 10000u, latitude / 10000u, latitude % 10000u);
    return report;
}

Position ReportPosition(const std::string& report) {
    const CheckResult check = CheckReport(report);
    if (check.rejection) throw std::runtime_error("bad benchmark report: " + report);
    return {ConvertLatitude(check.fields[6]), ConvertLongitude(check.fields[5])};
}

std::string TypicalLogLine() {
    return SystemDateAndTime() + " " + TrackerReport(1) + "\r\n";
}

double Median(std::vector<double> values) {
    return Percentile(std::move(values), 50.0);
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(p / 100.0 * static_cast<double>(values.size()));
    const std::size_t index =
        std::min(values.size() - 1, static_cast<std::size_t>(std::max(rank, 1.0)) - 1);
    return values[index];
}

double Mean(const std::vector<double>& values) {
    if (values.empty()) return 0.0;
    return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

std::string FileSystemOf(const std::string& path) {
    struct statfs info {};
    if (::statfs(path.c_str(), &info) != 0) return "an unknown file system";
    struct Known {
        unsigned long magic;
        const char* name;
    };
    static const Known kKnown[] = {{0xEF53, "ext4"},          {0x01021994, "tmpfs"},
                                   {0x9123683E, "btrfs"},     {0x58465342, "xfs"},
                                   {0x794C7630, "overlayfs"}, {0x2FC12FC1, "zfs"}};
    for (const Known& known : kKnown) {
        if (static_cast<unsigned long>(info.f_type) == known.magic) return known.name;
    }
    char text[64];
    std::snprintf(text, sizeof text, "file system 0x%lx", static_cast<unsigned long>(info.f_type));
    return text;
}

std::string MachineLoad() {
    std::ifstream in("/proc/loadavg");
    double one = 0, five = 0, fifteen = 0;
    in >> one >> five >> fifteen;
    char text[128];
    std::snprintf(text, sizeof text, "%u cores, load average %.2f %.2f %.2f",
                  std::thread::hardware_concurrency(), one, five, fifteen);
    return text;
}

const char* Verdict(bool met) {
    return met ? "target met" : "target MISSED";
}

int RunBenchmark(int argc, char** argv, const char* name, int (*run)(const BenchHome& home)) {
    try {
        BenchHome home;
        int rc;
        {
            Application app(argc, argv);
            std::printf("== %s (%s)\n", name, MachineLoad().c_str());
            rc = run(home);
            std::printf("   machine at the end: %s\n", MachineLoad().c_str());
            std::fflush(stdout);
        }
        return rc;
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s\n", name, error.what());
        return 1;
    }
}

void Settle() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

}  // namespace vostrel::bench
