// The KML reader on any file: it returns a placemark whose position is in range, or throws a
// ViewerError that names the file; nothing else.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/Errors.h"
#include "globe/KmlReader.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

// One file in a folder of its own, rewritten for every input.
const QString& InputPath() {
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/fuzz_kml-XXXXXX"));
    static const QString path = dir.filePath(QStringLiteral("input.kml"));
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString& path = InputPath();
    {
        QFile file(path);
        Require(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "the input is written");
        Require(file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) ==
                    static_cast<qint64>(size),
                "the input is written");
    }
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
