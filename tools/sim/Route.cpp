#include "sim/Route.h"

#include <QFile>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <cmath>
#include <numbers>

#include "sim/SimError.h"

namespace vostrel::sim {

namespace {

constexpr double kEarthRadiusMetres = 6371000.0;
constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;

double DistanceMetres(const TrackPoint& a, const TrackPoint& b) {
    const double lat1 = a.latitude * kRadiansPerDegree;
    const double lat2 = b.latitude * kRadiansPerDegree;
    const double dLat = lat2 - lat1;
    const double dLon = (b.longitude - a.longitude) * kRadiansPerDegree;
    const double h = std::sin(dLat / 2) * std::sin(dLat / 2) +
                     std::cos(lat1) * std::cos(lat2) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2 * kEarthRadiusMetres * std::asin(std::sqrt(std::min(1.0, h)));
}

// Initial bearing from a to b in [0, 360); 0 when the points coincide.
double BearingDegrees(const TrackPoint& a, const TrackPoint& b) {
    const double lat1 = a.latitude * kRadiansPerDegree;
    const double lat2 = b.latitude * kRadiansPerDegree;
    const double dLon = (b.longitude - a.longitude) * kRadiansPerDegree;
    const double y = std::sin(dLon) * std::cos(lat2);
    const double x =
        std::cos(lat1) * std::sin(lat2) - std::sin(lat1) * std::cos(lat2) * std::cos(dLon);
    if (x == 0.0 && y == 0.0) return 0.0;
    const double bearing = std::atan2(y, x) / kRadiansPerDegree;
    return bearing < 0 ? bearing + 360.0 : bearing;
}

std::optional<double> SpeedBetween(const TrackPoint& earlier, const TrackPoint& later) {
    if (!earlier.time || !later.time) return std::nullopt;
    const qint64 ms = earlier.time->msecsTo(*later.time);
    if (ms <= 0) return std::nullopt;
    return DistanceMetres(earlier, later) / (static_cast<double>(ms) / 1000.0) * 3.6;
}

std::optional<double> ReadDouble(const QString& text) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);  // always "." as separator
    if (!ok || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<QDateTime> ReadTime(const QString& text) {
    // GPX times are UTC: one written without a zone is read as UTC, not as local time.
    static const QRegularExpression zone(QStringLiteral("(Z|[+-]\\d\\d(:?\\d\\d)?)$"));
    QString iso = text.trimmed();
    if (!zone.match(iso).hasMatch()) iso += QLatin1Char('Z');
    const QDateTime time = QDateTime::fromString(iso, Qt::ISODateWithMs);
    if (!time.isValid()) return std::nullopt;
    return time.toUTC();
}

class GpxReader {
  public:
    explicit GpxReader(const QString& path) : path_(path) {}

    std::vector<TrackPoint> Read() {
        QFile file(path_);
        if (!file.open(QIODevice::ReadOnly)) {
            throw SimError("cannot read GPX file " + path_.toStdString() + ": " +
                           file.errorString().toStdString());
        }
        xml_.setDevice(&file);
        bool sawRoot = false;
        while (!xml_.atEnd()) {
            xml_.readNext();
            if (!xml_.isStartElement()) continue;
            if (!sawRoot) {
                sawRoot = true;
                if (xml_.name() != QLatin1String("gpx")) {
                    Fail("not a GPX file (the document element is <" +
                         xml_.name().toString().toStdString() + ">)");
                }
                continue;
            }
            const auto name = xml_.name();
            if (name == QLatin1String("trkpt")) {
                trackPoints_.push_back(ReadPoint());
            } else if (name == QLatin1String("rtept")) {
                routePoints_.push_back(ReadPoint());
            } else if (name == QLatin1String("wpt")) {
                wayPoints_.push_back(ReadPoint());
            }
        }
        if (xml_.hasError()) Fail(xml_.errorString().toStdString());
        for (auto* points : {&trackPoints_, &routePoints_, &wayPoints_}) {
            if (!points->empty()) return std::move(*points);
        }
        throw SimError("GPX file " + path_.toStdString() +
                       " has no track points (trkpt), route points (rtept) or waypoints (wpt)");
    }

  private:
    [[noreturn]] void Fail(const std::string& what) {
        throw SimError("GPX file " + path_.toStdString() + ", line " +
                       std::to_string(xml_.lineNumber()) + ", column " +
                       std::to_string(xml_.columnNumber()) + ": " + what);
    }

    double Coordinate(const char* attribute, double limit) {
        const QStringRef text = xml_.attributes().value(QLatin1String(attribute));
        if (text.isNull()) Fail(std::string("point without a \"") + attribute + "\" attribute");
        const std::optional<double> value = ReadDouble(text.toString());
        if (!value || std::fabs(*value) > limit) {
            Fail(std::string("point with an invalid \"") + attribute + "\" value \"" +
                 text.toString().toStdString() + "\"");
        }
        return *value;
    }

    // At the point's start element; returns after its end element.
    TrackPoint ReadPoint() {
        TrackPoint point;
        point.latitude = Coordinate("lat", 90.0);
        point.longitude = Coordinate("lon", 180.0);
        while (xml_.readNextStartElement()) {
            const auto name = xml_.name();
            if (name == QLatin1String("ele")) {
                point.elevation = ReadDouble(ChildText());
            } else if (name == QLatin1String("time")) {
                point.time = ReadTime(ChildText());
            } else if (name == QLatin1String("speed")) {
                if (auto metresPerSecond = ReadDouble(ChildText())) {
                    // One too large to be finite in km/h is unreadable too.
                    const double kmh = *metresPerSecond * 3.6;
                    if (kmh >= 0 && std::isfinite(kmh)) point.speedKmh = kmh;
                }
            } else if (name == QLatin1String("course")) {
                if (auto course = ReadDouble(ChildText())) {
                    if (*course >= 0 && *course <= 360) point.course = *course;
                }
            } else if (name == QLatin1String("sat")) {
                bool ok = false;
                const int satellites = ChildText().trimmed().toInt(&ok);
                if (ok && satellites >= 0) point.satellites = satellites;
            } else {
                xml_.skipCurrentElement();
            }
        }
        if (xml_.hasError()) Fail(xml_.errorString().toStdString());
        return point;
    }

    QString ChildText() { return xml_.readElementText(QXmlStreamReader::SkipChildElements); }

    QString path_;
    QXmlStreamReader xml_;
    std::vector<TrackPoint> trackPoints_;
    std::vector<TrackPoint> routePoints_;
    std::vector<TrackPoint> wayPoints_;
};

}  // namespace

std::vector<TrackPoint> ReadGpxFile(const QString& path) {
    return GpxReader(path).Read();
}

void FillMotion(std::vector<TrackPoint>& points) {
    const std::size_t n = points.size();
    for (std::size_t i = 0; i < n; ++i) {
        TrackPoint& point = points[i];
        if (!point.course && n > 1) {
            point.course = i + 1 < n ? BearingDegrees(point, points[i + 1])
                                     : BearingDegrees(points[i - 1], point);
        }
        if (!point.speedKmh) {
            if (i > 0) point.speedKmh = SpeedBetween(points[i - 1], point);
            if (!point.speedKmh && i + 1 < n) point.speedKmh = SpeedBetween(point, points[i + 1]);
        }
    }
}

std::vector<TrackPoint> BuiltInRoute() {
    constexpr double kCentreLatitude = 50.08753;  // Old Town Square, Prague
    constexpr double kCentreLongitude = 14.42139;
    constexpr double kMetresPerDegree = kEarthRadiusMetres * kRadiansPerDegree;
    constexpr int kPoints = 36;

    std::vector<TrackPoint> route;
    route.reserve(kPoints);
    for (int k = 0; k < kPoints; ++k) {
        const double angle = 2 * std::numbers::pi * k / kPoints;  // clockwise from north
        const double radius = 1200.0 + 250.0 * std::sin(3 * angle);
        TrackPoint point;
        point.latitude = kCentreLatitude + radius * std::cos(angle) / kMetresPerDegree;
        point.longitude = kCentreLongitude +
                          radius * std::sin(angle) /
                              (kMetresPerDegree * std::cos(kCentreLatitude * kRadiansPerDegree));
        point.elevation = 215.0 + 30.0 * std::sin(2 * angle);
        point.speedKmh = 28.0 + 14.0 * std::fabs(std::sin(5 * angle));
        point.satellites = 6 + (k * 7) % 6;
        route.push_back(point);
    }
    for (int k = 0; k < kPoints; ++k) {
        route[k].course = BearingDegrees(route[k], route[(k + 1) % kPoints]);
    }
    return route;
}

}  // namespace vostrel::sim
