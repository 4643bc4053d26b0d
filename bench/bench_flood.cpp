// A hostile peer floods the real window over loopback: 100 MB and 1 GB of CR LF pairs, of LF,
// of ordinary report lines, of words without any line break, of report boundaries ("!$",
// so every two bytes are a report of their own) and of good reports glued together (each one
// saved; the files are synced once per arrival), sent as fast as the server takes them. Each flood
// runs in a process of its own, so its resident memory is measured from a fresh start. For each
// flood: resident growth against the bytes received, the longest the event loop was blocked (the
// lateness of a 10 ms timer), how long a good report on a fresh connection takes afterwards,
// and the operator's navigation of the full log (Ctrl+End, Ctrl+Home, PageDown, the thumb
// dragged to the end, a click, typing at the end), each with its repaint.
//   bench_flood [--sizes MB,MB,...]        all floods (default sizes 100,1024; report
//                                          boundaries only up to 100 MB)
//   bench_flood --child CONTENT MB         one flood, in this process
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProcess>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/VostrelDEMO.h"
#include "console/ActivityLog.h"
#include "link/TrackerLink.h"
#include "support/BenchSupport.h"

namespace vostrel::bench {
namespace {

constexpr double kTargetGrowthRatio = 2.0;  // for 100 MB
constexpr double kTargetGrowthMiB = 256.0;  // for 1 GB
constexpr double kTargetBlockMs = 100.0;
constexpr double kTargetReportMs = 1000.0;
constexpr double kTargetNavigationMs = 100.0;
const char* const kContents[] = {"crlf", "lf", "reports", "text", "marks", "glued"};

bool SendAll(int fd, const std::string& bytes) {
    try {
        test::SendAll(fd, bytes);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::string Block(const std::string& content) {
    std::string block;
    for (int i = 0; block.size() < (1u << 20); ++i) {
        if (content == "crlf") {
            block += "\r\n";
        } else if (content == "lf") {
            block += "\n";
        } else if (content == "text") {
            block += "words without a line break ";
        } else if (content == "marks") {
            block += "!$";  // every two bytes a report boundary
        } else if (content == "glued") {
            block += TrackerReport(i);  // good reports back to back: each one saved
        } else {
            block += TrackerReport(i) + "\r\n";
        }
    }
    block.resize(1u << 20);
    return block;
}

long long FileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : 0;
}

void DismissNotices() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box != nullptr && box->isVisible()) box->done(QMessageBox::Ok);
    }
}

// Runs `action`, then paints the log box at once; the milliseconds both took.
template <typename Action>
double Timed(ActivityLog& log, Action action) {
    QElapsedTimer timer;
    timer.start();
    action();
    log.viewport()->repaint();
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

int RunChild(const std::string& content, long megabytes) {
    BenchWindow bench;
    if (!bench.StartTracking("bench_flood")) return 1;
    Settle();
    const long startKiB = ResidentKiB();
    TrackerLink& link = bench.window->Link();
    ActivityLog& log = bench.Log();

    // The event loop's longest block: how late a 10 ms timer fires, also inside the notices'
    // nested loops.
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = clock.elapsed();
    double worstBlockMs = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worstBlockMs = std::max(worstBlockMs, static_cast<double>(now - lastTick - 10));
        lastTick = now;
    });
    probe.start(10);

    // The flood. Notices stand open meanwhile (nobody clicks OK during a flood); further
    // messages become log lines. The end is the flooding tracker's disconnect.
    std::atomic<bool> sent{false};
    std::atomic<bool> failed{false};
    std::thread sender([&] {
        const int fd = bench.Connect();
        const std::string block = Block(content);
        for (long i = 0; i < megabytes && fd >= 0; ++i) {
            if (!SendAll(fd, block)) {
                failed = true;
                break;
            }
        }
        if (fd < 0) failed = true;
        if (fd >= 0) ::close(fd);
        sent = true;
    });
    bool seenBusy = false;
    bool done = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        seenBusy = seenBusy || link.SlotBusy(1) != 0;
        if (sent && seenBusy && link.SlotBusy(1) == 0) done = true;
        if (!done) return;
        // The lateness counts while the flood runs; dismissing every notice at once (no
        // operator clicks that fast) lets the interrupted arrivals finish back to back.
        probe.stop();
        DismissNotices();
    });
    watcher.start(20);
    while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const double floodSeconds = static_cast<double>(clock.elapsed()) / 1000.0;
    sender.join();
    watcher.stop();
    if (failed) {
        std::fprintf(stderr, "bench_flood: the flood could not be sent\n");
        return 1;
    }
    test::WaitFor([] { return test::NoticeWatcher().OpenNow() == 0; });
    Settle();
    const long floodKiB = ResidentKiB();

    // A good report on a fresh connection.
    const std::string trackLog = bench.dir.File("vo_demo.txt");
    const long long trackLogBefore = FileSize(trackLog);
    QElapsedTimer reportTime;
    reportTime.start();
    std::thread tracker([&bench] {
        const int fd = bench.Connect();
        if (fd >= 0) SendAll(fd, TrackerReport(7));
        ::sleep(2);
        if (fd >= 0) ::close(fd);
    });
    while (FileSize(trackLog) == trackLogBefore && reportTime.elapsed() < 30000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const double reportMs = static_cast<double>(reportTime.nsecsElapsed()) / 1e6;
    tracker.join();
    DismissNotices();
    Settle();

    // The operator's navigation of the full log.
    log.setFocus();
    const double end = Timed(log, [&] { QTest::keyClick(&log, Qt::Key_End, Qt::ControlModifier); });
    const double home_ =
        Timed(log, [&] { QTest::keyClick(&log, Qt::Key_Home, Qt::ControlModifier); });
    const double pageDown = Timed(log, [&] { QTest::keyClick(&log, Qt::Key_PageDown); });
    const double thumb =
        Timed(log, [&] { log.verticalScrollBar()->setValue(log.verticalScrollBar()->maximum()); });
    const double click =
        Timed(log, [&] { QTest::mouseClick(log.viewport(), Qt::LeftButton, {}, QPoint(60, 60)); });
    QTest::keyClick(&log, Qt::Key_End, Qt::ControlModifier);
    const double typing = Timed(log, [&] { QTest::keyClick(&log, Qt::Key_X); });
    const double navigation = std::max({end, home_, pageDown, thumb, click, typing});

    const double receivedMB = static_cast<double>(megabytes) * 1.048576;
    const double growthMiB = static_cast<double>(floodKiB - startKiB) / 1024.0;
    std::printf(
        "RESULT %s %ld MiB: flood %.1f s; RSS %ld -> %ld KiB, growth %.1f MiB (%.2f per MB "
        "received); log %zu bytes; longest block %.1f ms; good report after it %.1f ms; "
        "Ctrl+End %.1f, Ctrl+Home %.1f, PageDown %.1f, thumb to end %.1f, click %.1f, typing "
        "%.1f ms\n",
        content.c_str(), megabytes, floodSeconds, startKiB, floodKiB, growthMiB,
        growthMiB / receivedMB, log.Size(), worstBlockMs, reportMs, end, home_, pageDown, thumb,
        click, typing);
    std::printf("VALUES %s %ld %.3f %.3f %.1f %.1f %.1f\n", content.c_str(), megabytes, growthMiB,
                growthMiB / receivedMB, worstBlockMs, reportMs, navigation);
    return 0;
}

int RunAll(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::vector<long> sizes = {100, 1024};
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--sizes") == 0) {
            sizes.clear();
            for (const QString& size : QString(argv[i + 1]).split(','))
                sizes.push_back(size.toLong());
        }
    }
    std::printf("== bench_flood (%s)\n", MachineLoad().c_str());
    std::printf(
        "   floods through the real window over loopback, each in a fresh process; notices\n"
        "   stand open during a flood; navigation times include the repaint\n");
    bool met = true;
    for (const long size : sizes) {
        for (const char* content : kContents) {
            // Two bytes a report: 1 GB of them takes some seven minutes to go through.
            // Glued good reports are each saved: 100 MB is over a million positions.
            if ((std::strcmp(content, "marks") == 0 || std::strcmp(content, "glued") == 0) &&
                size > 100) {
                continue;
            }
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child.start(QString::fromLocal8Bit(argv[0]),
                        {"--child", content, QString::number(size)});
            if (!child.waitForFinished(30 * 60 * 1000) || child.exitCode() != 0) {
                std::printf("   %s %ld MiB: the flood did not run\n", content, size);
                met = false;
                continue;
            }
            const QString output = QString::fromLocal8Bit(child.readAllStandardOutput());
            for (const QString& line : output.split('\n')) {
                if (line.startsWith("RESULT ")) std::printf("   %s\n", qUtf8Printable(line.mid(7)));
                if (!line.startsWith("VALUES ")) continue;
                const QStringList v = line.split(' ');
                const double growth = v[3].toDouble();
                const double ratio = v[4].toDouble();
                const bool memory =
                    size <= 100 ? ratio <= kTargetGrowthRatio : growth <= kTargetGrowthMiB;
                met = met && memory && v[5].toDouble() <= kTargetBlockMs &&
                      v[6].toDouble() <= kTargetReportMs && v[7].toDouble() <= kTargetNavigationMs;
            }
        }
    }
    std::printf(
        "growth <= %.0fx received (100 MB) and <= %.0f MiB (1 GB), block <= %.0f ms, report "
        "<= %.0f ms, navigation <= %.0f ms: %s\n",
        kTargetGrowthRatio, kTargetGrowthMiB, kTargetBlockMs, kTargetReportMs, kTargetNavigationMs,
        Verdict(met));
    std::printf("   machine at the end: %s\n", MachineLoad().c_str());
    return 0;
}

}  // namespace
}  // namespace vostrel::bench

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0) {
        static std::string content = argv[2];
        static long megabytes = std::atol(argv[3]);
        return vostrel::bench::RunBenchmark(argc, argv, "bench_flood child",
                                            [](const vostrel::bench::BenchHome&) {
                                                return vostrel::bench::RunChild(content, megabytes);
                                            });
    }
    return vostrel::bench::RunAll(argc, argv);
}
