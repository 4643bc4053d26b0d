// Resident memory against the activity log it holds. The real window (offscreen, no-op
// viewer) is shown and listening; then 100,000 good reports go through the report path in
// process (the window's activity log, real files). The log stays below its capacity, so memory
// grows with it; the question is by how much per byte of log text.
#include <QCoreApplication>
#include <QPushButton>
#include <cstdio>
#include <string>
#include <vector>

#include "app/VostrelDEMO.h"
#include "console/ActivityLog.h"
#include "support/BenchSupport.h"

namespace vostrel::bench {
namespace {

constexpr double kTargetRatio = 4.0;
constexpr int kReports = 100000;
constexpr int kReportsPerStep = 20000;
// The event loop runs after every few reports, as it would between real arrivals.
constexpr int kReportsPerEventRun = 10;

int Run(const BenchHome& home) {
    BenchWindow bench;
    test::NoticeWatcher notices;
    if (!bench.StartTracking("bench_memory")) return 1;
    Settle();
    const long startKiB = ResidentKiB();
    const long long startLog = bench.Log().Text().size();

    std::printf(
        "   resident memory (VmRSS) of the real window (offscreen, listening, no-op viewer)\n"
        "   before and after %d good reports through the report path in process\n",
        kReports);
    std::printf("   start-up: RSS %ld KiB, log %lld bytes\n", startKiB, startLog);

    InProcessIntake intake(*bench.window, home.Path());
    for (int i = 1; i <= kReports; ++i) {
        intake.intake.ReceiveReport(TrackerReport(i));
        if (i % kReportsPerEventRun == 0) QCoreApplication::processEvents();
        if (i % kReportsPerStep == 0) {
            std::printf("   after %6d reports: RSS %ld KiB\n", i, ResidentKiB());
            std::fflush(stdout);
        }
    }
    Settle();
    if (!notices.seen.empty()) {
        std::fprintf(stderr, "bench_memory: a report raised a notice\n");
        return 1;
    }

    const long finalKiB = ResidentKiB();
    const long long logBytes = bench.Log().Text().size();
    const double grownBytes = static_cast<double>(finalKiB - startKiB) * 1024.0;
    const double ratio = grownBytes / static_cast<double>(logBytes);
    std::printf(
        "   final: RSS %ld KiB, log %lld bytes (%.1f per report), growth %.0f KiB (%.0f "
        "bytes per report)\n",
        finalKiB, logBytes, static_cast<double>(logBytes - startLog) / kReports,
        grownBytes / 1024.0, grownBytes / kReports);
    std::printf("(final - start-up) / log size: %.2f (target <= %.1f): %s\n", ratio, kTargetRatio,
                Verdict(ratio <= kTargetRatio));
    return 0;
}

}  // namespace
}  // namespace vostrel::bench

int main(int argc, char** argv) {
    return vostrel::bench::RunBenchmark(argc, argv, "bench_memory", vostrel::bench::Run);
}
