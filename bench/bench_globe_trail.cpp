// What one fix costs the GUI thread as the trail grows: ShowKmlFile of a real snapshot plus the
// event processing after it, where the globe is redrawn. Two tracks, each to 60,000 positions (a
// week of reports, the most the trail keeps):
// fixes spread over the whole globe (a hostile peer's random positions, or GPS glitches), and a
// vehicle at street scale (40 m between fixes, turning as it goes). The view is the viewer's
// own: street scale from the first fix, following the tracker; and for the spread fixes also
// the whole globe, zoomed out by the operator, where every arc of the trail is in view.
#include <QCoreApplication>
#include <QString>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <numbers>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "globe/GlobeMap.h"
#include "globe/GlobeViewer.h"
#include "output/PositionFiles.h"
#include "support/BenchSupport.h"

namespace vostrel::bench {
namespace {

// A frame at 60 Hz, in every view.
constexpr double kTargetMs = 16.7;
constexpr int kCheckpoints[] = {500, 3000, 10000, 60000};
constexpr int kTimedFixes = 20;
constexpr double kReadyLimitSeconds = 120.0;

struct Fix {
    double longitude;
    double latitude;
};

// Uniform over the sphere.
class SpreadTrack {
  public:
    Fix Next() {
        const double z = uniform_(random_) * 2.0 - 1.0;
        return {uniform_(random_) * 360.0 - 180.0, std::asin(z) * 180.0 / std::numbers::pi};
    }

  private:
    std::mt19937_64 random_{20260412};
    std::uniform_real_distribution<double> uniform_{0.0, 1.0};
};

// A vehicle: 40 m a fix, its heading wandering by up to 20 degrees each time.
class StreetTrack {
  public:
    Fix Next() {
        heading_ += turn_(random_);
        const double metres = 40.0;
        latitude_ += metres * std::cos(heading_) / 111'320.0;
        longitude_ += metres * std::sin(heading_) /
                      (111'320.0 * std::cos(latitude_ * std::numbers::pi / 180.0));
        return {longitude_, latitude_};
    }

  private:
    std::mt19937_64 random_{20260413};
    std::uniform_real_distribution<double> turn_{-0.35, 0.35};
    double heading_ = 0.6;
    double longitude_ = 37.6173;
    double latitude_ = 55.7558;
};

void WriteSnapshot(const std::string& path, const Fix& fix) {
    const QString latitude = QString::number(fix.latitude, 'f', 13);
    const QString longitude = QString::number(fix.longitude, 'f', 13);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << SnapshotText(latitude.toStdString(), longitude.toStdString());
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

struct Row {
    int points;
    double median, p90, max;
};

template <typename Track>
std::vector<Row> Measure(const BenchHome& home, const char* name, bool wholeGlobe = false) {
    ComponentRegistry registry;
    RegisterGlobeViewer(registry);
    std::unique_ptr<QObject> component = registry.Create(kGlobeViewerProgId);
    ViewerAutomation* viewer = QueryViewerAutomation(component.get());
    if (viewer == nullptr) throw std::runtime_error("the globe viewer has no automation interface");
    const auto startUp = Clock::now();
    while (viewer->IsViewerReady() == 0) {
        if (MicrosSince(startUp) / 1e6 > kReadyLimitSeconds) {
            throw std::runtime_error("the globe viewer was not ready in time");
        }
        QCoreApplication::processEvents();
    }
    const std::string path = home.File(kSnapshotName);
    const QString qpath = QString::fromStdString(path);
    Track track;
    std::vector<Row> rows;
    int shown = 0;
    if (wholeGlobe) {
        WriteSnapshot(path, track.Next());
        viewer->ShowKmlFile(qpath, kShowKmlFlag);
        ++shown;
        qobject_cast<GlobeViewer*>(component.get())->Map()->Zoom(-40);
    }
    for (const int checkpoint : kCheckpoints) {
        // Grow the trail, the event loop running now and then as between real reports.
        while (shown < checkpoint - kTimedFixes) {
            WriteSnapshot(path, track.Next());
            viewer->ShowKmlFile(qpath, kShowKmlFlag);
            if (++shown % 50 == 0) QCoreApplication::processEvents();
        }
        Settle();
        std::vector<double> times;
        for (int i = 0; i < kTimedFixes; ++i, ++shown) {
            WriteSnapshot(path, track.Next());
            const auto start = Clock::now();
            viewer->ShowKmlFile(qpath, kShowKmlFlag);
            QCoreApplication::processEvents();
            times.push_back(MicrosSince(start) / 1000.0);
        }
        rows.push_back({checkpoint, Median(times), Percentile(times, 90), Percentile(times, 100)});
        std::printf("   %-12s %6d points: median %7.2f ms, p90 %7.2f ms, max %7.2f ms\n", name,
                    checkpoint, rows.back().median, rows.back().p90, rows.back().max);
        std::fflush(stdout);
    }
    return rows;
}

int Run(const BenchHome& home) {
    std::printf(
        "   GUI-thread time of one fix (ShowKmlFile, then the event processing that redraws\n"
        "   the globe), %d fixes timed at each trail length, the viewer's own view\n",
        kTimedFixes);
    const std::vector<Row> spread = Measure<SpreadTrack>(home, "spread");
    const std::vector<Row> street = Measure<StreetTrack>(home, "street");
    const std::vector<Row> globe = Measure<SpreadTrack>(home, "spread,globe", true);
    double worst = 0.0;
    for (const std::vector<Row>* rows : {&spread, &street, &globe}) {
        for (const Row& row : *rows) {
            if (row.points >= 10000) worst = std::max(worst, row.median);
        }
    }
    const auto at = [](const std::vector<Row>& rows, int points) {
        for (const Row& row : rows) {
            if (row.points == points) return row.median;
        }
        return 0.0;
    };
    for (const int points : {10000, 60000}) {
        std::printf(
            "median per fix at %d points: spread %.2f ms, street %.2f ms, whole globe %.2f ms\n",
            points, at(spread, points), at(street, points), at(globe, points));
    }
    std::printf(
        "slowest median per fix at 10,000 and 60,000 points: %.2f ms (target <= %.1f ms): %s\n",
        worst, kTargetMs, Verdict(worst <= kTargetMs));
    return 0;
}

}  // namespace
}  // namespace vostrel::bench

int main(int argc, char** argv) {
    return vostrel::bench::RunBenchmark(argc, argv, "bench_globe_trail", vostrel::bench::Run);
}
