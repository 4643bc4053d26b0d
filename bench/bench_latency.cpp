// Report-to-snapshot latency over loopback through the real event loop. The real window
// (offscreen, stub viewer) listens on a free port; a tracker thread connects, sends one report
// at a time, each with a new position, and waits (inotify on the data folder) until the
// snapshot holds exactly the bytes for that position before sending the next.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/VostrelDEMO.h"
#include "link/TrackerLink.h"
#include "support/BenchSupport.h"

namespace vostrel::bench {
namespace {

constexpr double kTargetP99Ms = 5.0;
constexpr int kReports = 2000;  // per phase
constexpr int kPacedGapMs = 10;
constexpr int kWarmUp = 20;
constexpr int kWaitPerReportMs = 5000;
constexpr int kWholeRunMs = 10 * 60 * 1000;

// The tracker side, on its own thread: the warm-up, then each phase in turn. A paced phase
// waits `gapMs` after each snapshot before sending again, so the window's repaint of the log
// box is over (real trackers report seconds apart); a back-to-back phase sends at once, so a
// report may wait behind the previous one's repaint.
struct Phase {
    const char* name;
    int gapMs;
    std::vector<double> latencies;  // ms
};

struct Tracker {
    int port = 0;
    std::string folder;
    std::string snapshot;
    std::atomic<bool> stop{false};
    std::vector<Phase> phases;
    std::string failure;

    void Run() {
        const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (watch < 0 || ::inotify_add_watch(watch, folder.c_str(), IN_CLOSE_WRITE) < 0) {
            failure = std::string("inotify: ") + std::strerror(errno);
            if (watch >= 0) ::close(watch);
            return;
        }
        const int fd = test::ConnectClient("127.0.0.1", port);
        if (fd < 0) {
            failure =
                "cannot connect to 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
            ::close(watch);
            return;
        }
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        int step = 0;
        for (int i = 0; i < kWarmUp && failure.empty(); ++i) Report(fd, watch, ++step);
        for (Phase& phase : phases) {
            for (int i = 0; i < kReports && failure.empty() && !stop; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(phase.gapMs));
                const double ms = Report(fd, watch, ++step);
                if (failure.empty()) phase.latencies.push_back(ms);
            }
        }
        ::close(fd);
        ::close(watch);
    }

    // Sends report number `step` and waits for its snapshot; returns the time taken in ms.
    double Report(int fd, int watch, int step) {
        const std::string report = TrackerReport(step);
        const Position position = ReportPosition(report);
        const std::string expected = SnapshotText(position.latitude, position.longitude);
        const auto start = Clock::now();
        try {
            test::SendAll(fd, report);
        } catch (const std::exception& error) {
            failure = error.what();
            return 0;
        }
        if (!AwaitSnapshot(watch, expected)) {
            failure = "report " + std::to_string(step) + ": no snapshot within " +
                      std::to_string(kWaitPerReportMs) + " ms";
        }
        return MicrosSince(start) / 1000.0;
    }

    bool AwaitSnapshot(int watch, const std::string& expected) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitPerReportMs);
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || stop) return false;
            pollfd p{watch, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            alignas(inotify_event) char events[4096];
            while (::read(watch, events, sizeof events) > 0) {
            }
            if (test::ReadFile(snapshot) == expected) return true;
        }
    }
};

int Run(const BenchHome& home) {
    BenchWindow bench;
    test::NoticeWatcher notices;
    if (!bench.StartTracking("bench_latency")) return 1;

    Tracker tracker;
    tracker.port = bench.Port();
    tracker.folder = bench.dir.Path();
    tracker.snapshot = bench.dir.File(kSnapshotName);
    tracker.phases = {{"paced, 10 ms between reports", kPacedGapMs, {}}, {"back-to-back", 0, {}}};
    std::thread client([&tracker] {
        tracker.Run();
        QMetaObject::invokeMethod(qApp, "quit", Qt::QueuedConnection);
    });
    QTimer::singleShot(kWholeRunMs, qApp, [&tracker] {
        tracker.stop = true;
        std::fprintf(stderr, "bench_latency: stopped after %d s\n", kWholeRunMs / 1000);
    });
    QApplication::exec();
    tracker.stop = true;
    client.join();

    if (!tracker.failure.empty() || !notices.seen.empty()) {
        std::fprintf(stderr, "bench_latency: %s\n",
                     tracker.failure.empty() ? qUtf8Printable(notices.seen.front().text)
                                             : tracker.failure.c_str());
        return 1;
    }
    std::printf(
        "   time from sending a report over loopback until its snapshot is on disk, through\n"
        "   the real window and event loop (offscreen, no-op viewer); %d reports per phase\n"
        "   after %d to warm up; files on %s\n",
        kReports, kWarmUp, FileSystemOf(home.Path()).c_str());
    for (const Phase& phase : tracker.phases) {
        const std::vector<double>& ms = phase.latencies;
        const double p99 = Percentile(ms, 99);
        std::printf("   %-29s p50 %6.3f ms, p90 %6.3f ms, p99 %6.3f ms, max %7.3f ms\n", phase.name,
                    Percentile(ms, 50), Percentile(ms, 90), p99, Percentile(ms, 100));
        std::printf("p99 %s: %.3f ms (target < %.0f ms): %s\n", phase.name, p99, kTargetP99Ms,
                    Verdict(p99 < kTargetP99Ms));
    }
    return 0;
}

}  // namespace
}  // namespace vostrel::bench

int main(int argc, char** argv) {
    return vostrel::bench::RunBenchmark(argc, argv, "bench_latency", vostrel::bench::Run);
}
