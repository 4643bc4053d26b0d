// The street map against a tile server on loopback: the tiles requested when the operator turns
// it on and for each fix of a vehicle 150 m on after that (zoom levels, user agent), then a second
// run in the same home, where the tiles kept on disk should spare most requests. Then the same
// server turned hostile (oversized, endless, slow replies, a small picture of a huge image): the
// process's memory, the longest the window's event loop was blocked, and what reached the tile
// cache on disk.
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QRegularExpression>
#include <QString>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <string>

#include "globe/GlobeMap.h"
#include "globe/GlobeViewer.h"
#include "globe/GlobeWindow.h"
#include "output/PositionFiles.h"
#include "support/BenchSupport.h"
#include "tiles/LoopbackTileServer.h"

namespace vostrel::bench {
namespace {

using test::BytesUnder;

constexpr int kFixes = 10;
constexpr double kStepMetres = 150.0;
// A fix's tiles are in when no request came for this long.
constexpr int kQuietMs = 700;

// Runs the event loop until the server has had no request for kQuietMs (at most 20 s).
void WaitForQuiet(const LoopbackTileServer& tiles) {
    QElapsedTimer quiet;
    QElapsedTimer total;
    quiet.start();
    total.start();
    std::size_t seen = tiles.Requests().size();
    while (quiet.elapsed() < kQuietMs && total.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (tiles.Requests().size() != seen) {
            seen = tiles.Requests().size();
            quiet.restart();
        }
    }
}

std::string Zooms(const LoopbackTileServer& tiles, std::size_t from) {
    std::map<int, int> counts;
    for (std::size_t i = from; i < tiles.Requests().size(); ++i) ++counts[tiles.Requests()[i].zoom];
    std::string text;
    for (const auto& [zoom, count] : counts) {
        text += (text.empty() ? "" : ", ") + std::to_string(count) + " at z" + std::to_string(zoom);
    }
    return text.empty() ? "none" : text;
}

int TilesOnDisk(const QString& home) {
    const QString folder = home + QStringLiteral("/.local/share/marble/maps/earth/openstreetmap/");
    static const QRegularExpression tile(QStringLiteral("^\\d+/\\d+/\\d+\\.png$"));
    int count = 0;
    QDirIterator files(folder, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        if (tile.match(files.next().mid(folder.size())).hasMatch()) ++count;
    }
    return count - 1;  // the installed level-0 tile copied with the theme
}

// One run of the viewer: the street map turned on (first run) or remembered (second), then
// kFixes fixes 150 m apart. Returns the requests made.
std::size_t OneRun(const BenchHome& home, LoopbackTileServer& tiles, bool first) {
    ComponentRegistry registry;
    RegisterGlobeViewer(registry);
    std::unique_ptr<QObject> component = registry.Create(kGlobeViewerProgId);
    auto* viewer = qobject_cast<GlobeViewer*>(component.get());
    while (viewer->IsViewerReady() == 0) QCoreApplication::processEvents();
    const std::size_t before = tiles.Requests().size();
    const std::string path = home.File(kSnapshotName);
    const auto show = [&](int i) {
        const double latitude = 48.8584;
        const double longitude =
            2.2945 + i * kStepMetres / (111'320.0 * std::cos(latitude * std::numbers::pi / 180));
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            << SnapshotText(std::to_string(latitude), std::to_string(longitude));
        viewer->ShowKmlFile(QString::fromStdString(path), kShowKmlFlag);
    };
    show(0);
    if (first) viewer->Window()->StreetMapSwitch()->click();
    if (!viewer->Map()->StreetMap()) throw std::runtime_error("the street map did not come on");
    WaitForQuiet(tiles);
    std::printf("   %s run, first fix: %zu requests (%s)\n", first ? "first" : "second",
                tiles.Requests().size() - before, Zooms(tiles, before).c_str());
    std::size_t perFix = 0;
    const std::size_t fixesStart = tiles.Requests().size();
    for (int i = 1; i < kFixes; ++i) {
        const std::size_t at = tiles.Requests().size();
        show(i);
        WaitForQuiet(tiles);
        perFix = std::max(perFix, tiles.Requests().size() - at);
    }
    std::printf(
        "   %s run, %d more fixes 150 m apart: %zu requests, at most %zu for one fix "
        "(%s)\n",
        first ? "first" : "second", kFixes - 1, tiles.Requests().size() - fixesStart, perFix,
        Zooms(tiles, fixesStart).c_str());
    return tiles.Requests().size() - before;
}

// Past this the hostile server is stopped: the machine is shared.
constexpr long kRssCapKiB = 3L << 20;
constexpr int kHostileSeconds = 20;
// The target for each: the process stays under 300 MB and the window's event loop is never
// blocked for a second.
constexpr long kPeakTargetKiB = 300L * 1024;
constexpr double kBlockTargetMs = 1000;

struct Hostile {
    const char* what;
    TileReply reply;
    int times;                   // tile requests answered so, negative: all
    double latitude, longitude;  // somewhere no tile was fetched yet
};

// The street map (remembered on) at a new place while the server answers with `hostile.reply`:
// the peak resident memory, the longest gap between 10 ms ticks of the event loop, and what the
// tile cache on disk grew by, over kHostileSeconds. Returns whether that met the target.
bool HostileRun(const BenchHome& home, LoopbackTileServer& tiles, const Hostile& hostile) {
    ComponentRegistry registry;
    RegisterGlobeViewer(registry);
    std::unique_ptr<QObject> component = registry.Create(kGlobeViewerProgId);
    auto* viewer = qobject_cast<GlobeViewer*>(component.get());
    while (viewer->IsViewerReady() == 0) QCoreApplication::processEvents();
    if (!viewer->Map()->StreetMap()) throw std::runtime_error("the street map is not on");
    const QString cache = QString::fromStdString(home.Path()) +
                          QStringLiteral("/.local/share/marble/maps/earth/openstreetmap");
    const qint64 cacheBefore = BytesUnder(cache);
    Settle();
    const long rssBefore = ResidentKiB();
    tiles.SetReply(hostile.reply, hostile.times);
    const std::size_t requestsBefore = tiles.Requests().size();
    const std::string path = home.File(kSnapshotName);
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        << SnapshotText(std::to_string(hostile.latitude), std::to_string(hostile.longitude));
    viewer->ShowKmlFile(QString::fromStdString(path), kShowKmlFlag);

    long peak = rssBefore;
    double longestMs = 0;
    bool capped = false;
    QElapsedTimer total;
    QElapsedTimer tick;
    total.start();
    tick.start();
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestMs = std::max(longestMs, tick.nsecsElapsed() / 1e6 - 10.0);
        tick.restart();
        peak = std::max(peak, ResidentKiB());
        if (peak > kRssCapKiB && !capped) {
            capped = true;
            tiles.SetReply(TileReply::Picture, 0);
            tiles.DropConnections();
        }
    });
    ticker.start(10);
    while (total.elapsed() < kHostileSeconds * 1000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        peak = std::max(peak, ResidentKiB());
    }
    ticker.stop();
    tiles.SetReply(TileReply::Picture, 0);
    tiles.DropConnections();
    std::printf(
        "   %-28s %3zu requests, RSS %6.1f MB before, peak %7.1f MB%s, longest block %7.1f ms, "
        "tile cache +%.1f MB\n",
        hostile.what, tiles.Requests().size() - requestsBefore, rssBefore / 1024.0, peak / 1024.0,
        capped ? " (capped: server stopped)" : "", longestMs,
        (BytesUnder(cache) - cacheBefore) / 1048576.0);
    std::fflush(stdout);
    component.reset();
    Settle();
    return peak < kPeakTargetKiB && longestMs < kBlockTargetMs;
}

int Run(const BenchHome& home) {
    LoopbackTileServer tiles;
    if (!tiles.Listening()) throw std::runtime_error("the tile server cannot listen");
    const QString homePath = QString::fromStdString(home.Path());
    const QString installed = InstallLoopbackStreetTheme(tiles.Port());
    if (!installed.isEmpty()) throw std::runtime_error(installed.toStdString());
    std::printf("   street map theme of the scratch home fetching from 127.0.0.1:%u\n",
                tiles.Port());
    const std::size_t firstRun = OneRun(home, tiles, true);
    const int onDisk = TilesOnDisk(homePath);
    std::printf("   user agent: %s\n", tiles.Requests().empty()
                                           ? "(no request)"
                                           : qPrintable(tiles.Requests().front().userAgent));
    std::printf("   tiles kept on disk after the first run: %d\n", onDisk);
    const std::size_t secondRun = OneRun(home, tiles, false);
    std::printf("second run: %zu requests against %zu in the first; %d tiles on disk\n", secondRun,
                firstRun, TilesOnDisk(homePath));
    std::printf("no target: figures for reference\n");

    std::printf("hostile tile server, %d s each (the window's event loop ticks every 10 ms):\n",
                kHostileSeconds);
    const Hostile hostiles[] = {
        {"oversized (16 MiB tiles)", TileReply::Oversized, -1, 52.52, 13.405},
        {"endless replies", TileReply::Endless, -1, 40.4168, -3.7038},
        {"slow replies (5 B/s)", TileReply::Slow, -1, 59.3293, 18.0686},
        {"huge image (16000 px), once", TileReply::HugeImage, 1, 41.9028, 12.4964},
        {"huge image, every tile", TileReply::HugeImage, -1, 50.0755, 14.4378},
    };
    bool met = true;
    for (const Hostile& hostile : hostiles) met = HostileRun(home, tiles, hostile) && met;
    std::printf("peak RSS < 300 MB and longest block < 1 s in every case above: %s\n",
                Verdict(met));
    return 0;
}

}  // namespace
}  // namespace vostrel::bench

int main(int argc, char** argv) {
    return vostrel::bench::RunBenchmark(argc, argv, "bench_globe_tiles", vostrel::bench::Run);
}
