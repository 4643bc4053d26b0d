// The KML reader on any file: it returns a placemark whose position is in range, or throws a
// ViewerError that names the file; nothing else. And the snapshot the program writes for any two
// coordinate fields reads back as their converted position, or is refused when that position
// is off the globe.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzRequire.h"
#include "core/Errors.h"
#include "globe/KmlReader.h"
#include "output/PositionFiles.h"
#include "report/Conversion.h"
#include "report/ReportCheck.h"

namespace {

using vostrel::fuzz::Require;

// A file in a folder of its own, rewritten for every input.
QString Write(std::string_view bytes, const char* name) {
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/fuzz_kml-XXXXXX"));
    const QString path = dir.filePath(QLatin1String(name));
    QFile file(path);
    Require(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "the input is written");
    Require(file.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
                static_cast<qint64>(bytes.size()),
            "the input is written");
    return path;
}

void CheckSnapshotReadsBack(std::string_view input) {
    const std::vector<std::string_view> fields = vostrel::SplitFields(input.substr(0, 64));
    if (fields.size() < 2) return;
    const std::string latitude = vostrel::ConvertLatitude(fields[0]);
    const std::string longitude = vostrel::ConvertLongitude(fields[1]);
    const QString path = Write(vostrel::SnapshotText(latitude, longitude), "vo_demo.kml");
    const double expectedLatitude = std::strtod(latitude.c_str(), nullptr);
    const double expectedLongitude = std::strtod(longitude.c_str(), nullptr);
    const bool onGlobe =
        std::fabs(expectedLatitude) <= 90.0 && std::fabs(expectedLongitude) <= 180.0;
    try {
        const vostrel::KmlPosition position = vostrel::ReadKmlPlacemark(path);
        Require(onGlobe, "a snapshot off the globe is refused");
        Require(position.latitude == expectedLatitude && position.longitude == expectedLongitude,
                "a snapshot reads back as the position written");
        Require(position.name == QLatin1String("Your Tracker"), "a snapshot reads back its name");
    } catch (const vostrel::ViewerError&) {
        Require(!onGlobe, "a snapshot on the globe is read");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    CheckSnapshotReadsBack(input);
    const QString path = Write(input, "input.kml");
    try {
        const vostrel::KmlPosition position = vostrel::ReadKmlPlacemark(path);
        Require(std::isfinite(position.longitude) && std::fabs(position.longitude) <= 180.0,
                "the longitude is in -180..180");
        Require(std::isfinite(position.latitude) && std::fabs(position.latitude) <= 90.0,
                "the latitude is in -90..90");
        Require(position.name == position.name.trimmed(), "the name is trimmed");
    } catch (const vostrel::ViewerError& error) {
        const std::string prefix = path.toStdString() + ": ";
        Require(std::string(error.what()).rfind(prefix, 0) == 0, "the error names the file");
    }
    return 0;
}
