// The cost of one activity log append as the log grows: the real window, shown offscreen, its
// log filled to 50 KB, 5 MB and 50 MB, and at each size the median of many appends of a
// typical line. An append should cost in proportion to the line, not to the log.
// Then the operator's caret keys on a 60 MB line pasted into the log box: each key with its
// repaint should cost the same whatever the line's length.
#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "console/ActivityLog.h"
#include "support/BenchSupport.h"

namespace vostrel::bench {
namespace {

constexpr double kTargetRatio = 1.5;
constexpr double kTargetKeyMs = 100.0;
constexpr int kLongLineBytes = 60'000'000;
constexpr int kAppendsPerSize = 200;
constexpr int kFillLinesPerAppend = 1000;
struct Size {
    const char* label;
    long long bytes;
};
constexpr Size kSizes[] = {{"50 KB", 50'000}, {"5 MB", 5'000'000}, {"50 MB", 50'000'000}};

// One real window whose log is filled to one of the sizes.
struct Filled {
    const Size& size;
    BenchWindow bench;
    long long chars = 0;
    std::vector<double> append;  // the Append call alone
    std::vector<double> events;  // the event processing after it (layout, paint)
    explicit Filled(const Size& s) : size(s) {}
};

// The caret keys in the middle of a 60 MB line the operator pasted below the banner, after
// which the log went on: each key and the repaint after it, the worst of three rounds.
bool CaretKeysOnALongLine() {
    BenchWindow bench;
    ActivityLog& log = bench.Log();
    const std::string words = "words without a line break ";
    QString pasted;
    pasted.reserve(kLongLineBytes);
    while (pasted.size() + static_cast<int>(words.size()) <= kLongLineBytes)
        pasted += QString::fromLatin1(words.data(), static_cast<int>(words.size()));
    QApplication::clipboard()->setText(pasted);
    pasted.clear();
    log.setFocus();
    log.SetCaret(log.Size());
    const auto pasteStart = Clock::now();
    QTest::keyClick(&log, Qt::Key_V, Qt::ControlModifier);
    const double pasteMs = MicrosSince(pasteStart) / 1000.0;
    QApplication::clipboard()->clear();
    const std::string next = TypicalLogLine();
    log.AppendLatin1("\r\n" + next);
    log.AppendLatin1(next);
    Settle();
    const std::size_t middle = log.Size() - 2 * next.size() - kLongLineBytes / 2;

    struct Key {
        const char* name;
        Qt::Key key;
        double worstMs = 0;
    };
    Key keys[] = {{"Left", Qt::Key_Left},     {"Right", Qt::Key_Right},      {"Up", Qt::Key_Up},
                  {"Down", Qt::Key_Down},     {"Home", Qt::Key_Home},        {"End", Qt::Key_End},
                  {"PageUp", Qt::Key_PageUp}, {"PageDown", Qt::Key_PageDown}};
    for (int round = 0; round < 3; ++round) {
        for (Key& key : keys) {
            log.SetCaret(middle);
            log.viewport()->repaint();
            QElapsedTimer timer;
            timer.start();
            QTest::keyClick(&log, key.key);
            log.viewport()->repaint();
            key.worstMs = std::max(key.worstMs, static_cast<double>(timer.nsecsElapsed()) / 1e6);
        }
    }
    double worst = 0;
    std::printf(
        "   caret keys in the middle of a %d-byte pasted line (paste %.0f ms), with "
        "the repaint, worst of 3:\n  ",
        kLongLineBytes, pasteMs);
    for (const Key& key : keys) {
        std::printf(" %s %.2f", key.name, key.worstMs);
        worst = std::max(worst, key.worstMs);
    }
    std::printf(" ms\n");
    std::printf("worst caret key on a 60 MB line: %.2f ms (target <= %.0f): %s\n", worst,
                kTargetKeyMs, Verdict(worst <= kTargetKeyMs));
    return true;
}

int Run(const BenchHome& /*home*/) {
    const std::string lineBytes = TypicalLogLine();
    const QString line = QString::fromLatin1(lineBytes.data(), static_cast<int>(lineBytes.size()));
    QString fill;
    for (int i = 0; i < kFillLinesPerAppend; ++i) fill += line;

    std::printf(
        "   one Append of a %zu-character log line (CR LF included) to the activity log of\n"
        "   the real window (offscreen, shown), median of %d appends at each log size; one\n"
        "   window per size, appends taking turns between them; the event loop runs after\n"
        "   each append, its time is shown apart\n",
        lineBytes.size(), kAppendsPerSize);

    std::vector<std::unique_ptr<Filled>> windows;
    for (const Size& size : kSizes) {
        auto filled = std::make_unique<Filled>(size);
        ActivityLog& log = filled->bench.Log();
        long long& chars = filled->chars;
        chars = log.Text().size();
        // Fill with many lines per append (the same path, fewer calls), then line by line.
        const auto fillStart = Clock::now();
        while (chars + fill.size() <= size.bytes) {
            log.Append(fill);
            chars += fill.size();
            QCoreApplication::processEvents();
        }
        while (chars + line.size() <= size.bytes) {
            log.Append(line);
            chars += line.size();
        }
        Settle();
        std::printf("   log %-5s filled to %8lld bytes in %.1f s\n", size.label, chars,
                    MicrosSince(fillStart) / 1e6);
        windows.push_back(std::move(filled));
    }

    for (int i = 0; i < kAppendsPerSize; ++i) {
        for (auto& window : windows) {
            const auto start = Clock::now();
            window->bench.Log().Append(line);
            window->append.push_back(MicrosSince(start));
            const auto eventStart = Clock::now();
            QCoreApplication::processEvents();
            window->events.push_back(MicrosSince(eventStart));
            window->chars += line.size();
        }
    }

    std::vector<double> medians;
    std::vector<double> eventMedians;
    for (const auto& window : windows) {
        const long long held = window->bench.Log().Text().size();
        if (held != window->chars) {
            std::fprintf(stderr, "bench_log_append: the log holds %lld characters, not %lld\n",
                         held, window->chars);
            return 1;
        }
        medians.push_back(Median(window->append));
        eventMedians.push_back(Median(window->events));
        std::printf(
            "   log %-5s: append median %6.1f us, p90 %6.1f us; events after it median "
            "%6.1f us\n",
            window->size.label, medians.back(), Percentile(window->append, 90),
            eventMedians.back());
    }

    const double ratio = medians.back() / medians.front();
    std::printf("   events after an append, largest/smallest: %.2f\n",
                eventMedians.back() / eventMedians.front());
    std::printf("append median, largest/smallest log: %.2f (target <= %.1f): %s\n", ratio,
                kTargetRatio, Verdict(ratio <= kTargetRatio));
    windows.clear();
    Settle();
    return CaretKeysOnALongLine() ? 0 : 1;
}

}  // namespace
}  // namespace vostrel::bench

int main(int argc, char** argv) {
    return vostrel::bench::RunBenchmark(argc, argv, "bench_log_append", vostrel::bench::Run);
}
