// The real globe viewer: how long it takes to become ready, what it holds in memory then, and
// what one ShowKmlFile of a real snapshot costs, with the event processing (the globe redrawn)
// that follows it timed apart.
#include <QCoreApplication>
#include <QString>
#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "globe/GlobeViewer.h"
#include "output/PositionFiles.h"
#include "support/BenchSupport.h"

namespace vostrel::bench {
namespace {

constexpr int kShows = 50;
constexpr int kWarmUp = 3;
constexpr double kReadyLimitSeconds = 120.0;
// Report steps between positions: about 0.1 degree apart, so each snapshot moves the globe.
constexpr int kStepsPerShow = 6000;

void WriteSnapshot(const std::string& path, int show) {
    const Position position = ReportPosition(TrackerReport(show * kStepsPerShow));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << SnapshotText(position.latitude, position.longitude);
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

int Run(const BenchHome& home) {
    ComponentRegistry registry;
    RegisterGlobeViewer(registry);
    const long beforeKiB = ResidentKiB();

    const auto startUp = Clock::now();
    std::unique_ptr<QObject> component = registry.Create(kGlobeViewerProgId);
    ViewerAutomation* viewer = QueryViewerAutomation(component.get());
    if (viewer == nullptr) throw std::runtime_error("the globe viewer has no automation interface");
    const double createdMs = MicrosSince(startUp) / 1000.0;
    long polls = 0;
    while (viewer->IsViewerReady() == 0) {
        if (MicrosSince(startUp) / 1e6 > kReadyLimitSeconds) {
            std::fprintf(stderr, "bench_globe_show: not ready after %.0f s\n", kReadyLimitSeconds);
            return 1;
        }
        ++polls;
        QCoreApplication::processEvents();
    }
    const double readyMs = MicrosSince(startUp) / 1000.0;
    const long readyKiB = ResidentKiB();

    const std::string path = home.File(kSnapshotName);
    const QString qpath = QString::fromStdString(path);
    std::vector<double> showTimes;
    std::vector<double> redrawTimes;
    for (int i = 0; i < kWarmUp + kShows; ++i) {
        WriteSnapshot(path, i + 1);
        const auto start = Clock::now();
        viewer->ShowKmlFile(qpath, kShowKmlFlag);
        const double show = MicrosSince(start) / 1000.0;
        const auto redrawStart = Clock::now();
        QCoreApplication::processEvents();
        const double redraw = MicrosSince(redrawStart) / 1000.0;
        if (i >= kWarmUp) {
            showTimes.push_back(show);
            redrawTimes.push_back(redraw);
        }
    }
    Settle();
    const long finalKiB = ResidentKiB();

    std::printf(
        "   the real globe viewer, created through the registry and polled until ready;\n"
        "   then ShowKmlFile of %d snapshots (positions moving), after %d to warm up\n",
        kShows, kWarmUp);
    std::printf("   start-up: created in %.1f ms, ready after %.1f ms (%ld polls)\n", createdMs,
                readyMs, polls);
    std::printf("   RSS: %ld KiB before, %ld KiB when ready (+%ld KiB), %ld KiB after the shows\n",
                beforeKiB, readyKiB, readyKiB - beforeKiB, finalKiB);
    std::printf("   ShowKmlFile: median %.3f ms, p90 %.3f ms, max %.3f ms\n", Median(showTimes),
                Percentile(showTimes, 90), Percentile(showTimes, 100));
    std::printf(
        "   event processing after it (globe redrawn): median %.3f ms, p90 %.3f ms, max "
        "%.3f ms\n",
        Median(redrawTimes), Percentile(redrawTimes, 90), Percentile(redrawTimes, 100));
    std::printf("no target: figures for reference\n");
    return 0;
}

}  // namespace
}  // namespace vostrel::bench

int main(int argc, char** argv) {
    return vostrel::bench::RunBenchmark(argc, argv, "bench_globe_show", vostrel::bench::Run);
}
