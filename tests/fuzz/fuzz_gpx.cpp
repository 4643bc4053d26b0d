// The simulator's GPX reader on any file: it returns points it can play (in range, readable
// motion after filling it in) or throws a SimError; nothing else, and never hangs.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "sim/Route.h"
#include "sim/SimError.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

const QString& InputPath() {
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/fuzz_gpx-XXXXXX"));
    static const QString path = dir.filePath(QStringLiteral("input.gpx"));
    return path;
}

bool FiniteOrUnset(const std::optional<double>& value) {
    return !value || std::isfinite(*value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vostrel::sim;
    const QString& path = InputPath();
    {
        QFile file(path);
        Require(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "the input is written");
        Require(file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) ==
                    static_cast<qint64>(size),
                "the input is written");
    }
    std::vector<TrackPoint> points;
    try {
        points = ReadGpxFile(path);
    } catch (const SimError&) {
        return 0;
    }
    Require(!points.empty(), "a read file has points");
    for (const TrackPoint& point : points) {
        Require(std::isfinite(point.latitude) && std::fabs(point.latitude) <= 90.0,
                "the latitude is in -90..90");
        Require(std::isfinite(point.longitude) && std::fabs(point.longitude) <= 180.0,
                "the longitude is in -180..180");
        Require(FiniteOrUnset(point.elevation), "the elevation is a number");
        Require(!point.time || (point.time->isValid() && point.time->timeSpec() == Qt::UTC),
                "a time is valid and in UTC");
        Require(!point.speedKmh || (std::isfinite(*point.speedKmh) && *point.speedKmh >= 0),
                "a speed is a number, not negative");
        Require(!point.course || (*point.course >= 0 && *point.course <= 360),
                "a course is in 0..360");
        Require(!point.satellites || *point.satellites >= 0, "satellites are not negative");
    }
    FillMotion(points);
    for (const TrackPoint& point : points) {
        Require(points.size() < 2 || point.course, "a point of a route has a course");
        Require(!point.course || (*point.course >= 0 && *point.course <= 360),
                "a filled-in course is in 0..360");
        Require(!point.speedKmh || (std::isfinite(*point.speedKmh) && *point.speedKmh >= 0),
                "a filled-in speed is a number, not negative");
    }
    return 0;
}
