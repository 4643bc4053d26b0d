// The simulator's GPX reader on any file: it returns points it can play (in range, readable
// motion after filling it in) or throws a SimError; nothing else, and never hangs. Every point
// it returns becomes a report the server accepts and places where the point is, and each
// malformed variant of that report is refused.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzRequire.h"
#include "report/Conversion.h"
#include "report/ReportCheck.h"
#include "sim/Report.h"
#include "sim/Route.h"
#include "sim/SimError.h"

namespace {

using vostrel::fuzz::Require;

const QString& InputPath() {
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/fuzz_gpx-XXXXXX"));
    static const QString path = dir.filePath(QStringLiteral("input.gpx"));
    return path;
}

bool FiniteOrUnset(const std::optional<double>& value) {
    return !value || std::isfinite(*value);
}

void CheckReportOf(const vostrel::sim::TrackPoint& point) {
    using namespace vostrel;
    static const QDateTime now = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    const std::string report = sim::FormatReport(sim::FieldsFor(point, "355632000166323", now));
    const CheckResult check = CheckReport(report);
    Require(!check.rejection, "the server accepts the simulator's report");
    const double longitude = std::strtod(ConvertLongitude(check.fields[5]).c_str(), nullptr);
    const double latitude = std::strtod(ConvertLatitude(check.fields[6]).c_str(), nullptr);
    // Minutes to four decimals: within 0.00005' of the point.
    Require(std::fabs(longitude - point.longitude) <= 1e-6 &&
                std::fabs(latitude - point.latitude) <= 1e-6,
            "the report places the point where it is");
    for (int kind = 0; kind < sim::kBadKindCount; ++kind) {
        Require(CheckReport(sim::MakeBadReport(report, static_cast<sim::BadKind>(kind)))
                    .rejection.has_value(),
                "a malformed report is refused");
    }
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
        CheckReportOf(point);
    }
    return 0;
}
