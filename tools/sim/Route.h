// The points a simulated tracker travels: read from a GPX file or the built-in city loop.
#pragma once

#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

namespace vostrel::sim {

struct TrackPoint {
    double latitude = 0.0;            // decimal degrees, north positive
    double longitude = 0.0;           // decimal degrees, east positive
    std::optional<double> elevation;  // metres
    std::optional<QDateTime> time;    // UTC
    std::optional<double> speedKmh;
    std::optional<double> course;  // degrees clockwise from true north
    std::optional<int> satellites;
};

// Reads the track points ("trkpt") of a GPX 1.0 or 1.1 file; a file without any reads its
// route points ("rtept"), and one without those its waypoints ("wpt"). Each point needs valid
// "lat" and "lon" attributes; its "ele", "time" (ISO 8601; no zone means UTC), "speed" (m/s),
// "course" and "sat" children are used when present and readable. Throws SimError naming the
// file for an unreadable file, malformed XML, a document that is not GPX, a bad point or a
// file without points.
std::vector<TrackPoint> ReadGpxFile(const QString& path);

// Fills in what a point lacks: the course toward the next point (the last one keeps the course
// from its predecessor) and the speed from the time and distance to the previous point (the
// first one from the next). Without usable times the speed stays unset.
void FillMotion(std::vector<TrackPoint>& points);

// A closed loop of 36 points, about 1.2 km around Old Town Square in Prague, with elevation,
// speed, course and satellite count set and no time.
std::vector<TrackPoint> BuiltInRoute();

}  // namespace vostrel::sim
