// Reads the position of a tracker from a KML file: the first placemark with a Point. Needs
// Qt Core only.
#pragma once

#include <QString>

namespace vostrel {

// The two KML 2.2 namespaces the reader accepts: the one the snapshot uses and the OGC one.
inline constexpr const char* kKmlNamespace = "http://earth.google.com/kml/2.2";
inline constexpr const char* kOgcKmlNamespace = "http://www.opengis.net/kml/2.2";

// The largest file the reader takes: twenty times a snapshot (under 400 bytes), small enough
// that no arrangement of its bytes stalls the parser (attributes cost it time by their square;
// 8 KiB of them take a few milliseconds, 64 KiB a third of a second).
inline constexpr int kMaxKmlBytes = 8 * 1024;

// The longest placemark name kept: a longer one is cut to this many characters, the last an
// ellipsis (a name of thousands of characters made the globe slow to draw and to start).
inline constexpr int kLongestPlacemarkName = 80;

// The first placemark with a Point in a KML file: its name (empty when it has none; see
// kLongestPlacemarkName) and position in decimal degrees.
struct KmlPosition {
    QString name;
    double longitude = 0.0;
    double latitude = 0.0;
};

// Reads the KML file at `path` and returns its first Point placemark. Throws ViewerError with
// "<path>: <reason>" when the file can't be read, is not a regular file (or a link to one), is
// larger than kMaxKmlBytes, is not well-formed XML, is not KML 2.2 (root element `kml` in one of
// the two namespaces above), or has no Point placemark, or when that Point's coordinates are not
// "longitude,latitude[,altitude]" with finite numbers, longitude in [-180, 180] and latitude in
// [-90, 90] (values outside are refused, never wrapped). Opened as a ReadableFile: never waits,
// a FIFO is refused at once.
KmlPosition ReadKmlPlacemark(const QString& path);

}  // namespace vostrel
