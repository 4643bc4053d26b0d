#include "globe/KmlReader.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QXmlStreamReader>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "core/Errors.h"
#include "globe/ReadableFile.h"

namespace vostrel {

namespace {

[[noreturn]] void Fail(const QString& path, const QString& reason) {
    throw ViewerError((path + QStringLiteral(": ") + reason).toStdString());
}

// Parses one coordinate value; `what` names it in the reason.
double ParseCoordinate(const QString& path, const QString& text, const char* what) {
    bool ok = false;
    const double value = text.toDouble(&ok);  // always the C locale: '.' decimal point
    if (!ok || !std::isfinite(value)) {
        Fail(path,
             QStringLiteral("the Point's %1 '%2' is not a number").arg(QLatin1String(what), text));
    }
    return value;
}

// Turns a Point's <coordinates> text, "longitude,latitude[,altitude]", into a position.
void ParsePointCoordinates(const QString& path, const QString& text, KmlPosition& position) {
    QString tuple = text.simplified();
    static const QRegularExpression spacedComma(QStringLiteral(" ?, ?"));
    tuple.replace(spacedComma, QStringLiteral(","));
    if (tuple.isEmpty()) Fail(path, QStringLiteral("the Point's coordinates are empty"));
    if (tuple.contains(QLatin1Char(' '))) {
        Fail(path,
             QStringLiteral("the Point has more than one coordinate tuple ('%1')").arg(tuple));
    }
    const QStringList values = tuple.split(QLatin1Char(','));
    if (values.size() < 2 || values.size() > 3) {
        Fail(path,
             QStringLiteral("the Point's coordinates '%1' are not longitude,latitude[,altitude]")
                 .arg(tuple));
    }
    const double longitude = ParseCoordinate(path, values[0], "longitude");
    const double latitude = ParseCoordinate(path, values[1], "latitude");
    if (values.size() == 3) ParseCoordinate(path, values[2], "altitude");
    if (longitude < -180.0 || longitude > 180.0) {
        Fail(path, QStringLiteral("the Point's longitude %1 is outside -180..180").arg(values[0]));
    }
    if (latitude < -90.0 || latitude > 90.0) {
        Fail(path, QStringLiteral("the Point's latitude %1 is outside -90..90").arg(values[1]));
    }
    position.longitude = longitude;
    position.latitude = latitude;
}

// A placemark's name as the globe shows it: blanks around it dropped, a longer one cut to
// kLongestPlacemarkName characters, its last one an ellipsis.
QString ShortName(const QString& name) {
    QString shown = name.trimmed();
    if (shown.size() <= kLongestPlacemarkName) return shown;
    shown.truncate(kLongestPlacemarkName - 1);
    if (shown.at(shown.size() - 1).isHighSurrogate()) shown.chop(1);
    return shown + QChar(0x2026);
}

bool IsKmlNamespace(const QStringRef& uri) {
    return uri == QLatin1String(kKmlNamespace) || uri == QLatin1String(kOgcKmlNamespace);
}

}  // namespace

KmlPosition ReadKmlPlacemark(const QString& path) {
    const ReadableFile file(QFile::encodeName(path).toStdString());
    if (!file.IsOpen()) {
        switch (file.Error()) {
            case ENOENT:
                Fail(path, QStringLiteral("the file does not exist"));
            case EISDIR:
                Fail(path, QStringLiteral("this is a folder, not a KML file"));
            case 0:
                Fail(path, QStringLiteral("not a regular file"));
            default:
                Fail(path, QStringLiteral("the file cannot be opened (%1)")
                               .arg(QString::fromStdString(file.Reason())));
        }
    }
    const auto tooLarge = [&] {
        Fail(path, QStringLiteral("the file is larger than %1 bytes").arg(kMaxKmlBytes));
    };
    if (file.Size() > static_cast<std::uint64_t>(kMaxKmlBytes)) tooLarge();
    // Never more than the limit in memory or through the parser, even if it grew meanwhile.
    QByteArray text(kMaxKmlBytes + 1, Qt::Uninitialized);
    const long long count = file.ReadAt(text.data(), static_cast<std::size_t>(text.size()), 0);
    if (count < 0) {
        Fail(path, QStringLiteral("the file cannot be read (%1)")
                       .arg(QString::fromLocal8Bit(std::strerror(errno))));
    }
    text.truncate(static_cast<int>(count));
    if (text.size() > kMaxKmlBytes) tooLarge();
    if (text.isEmpty()) Fail(path, QStringLiteral("the file is empty"));

    QXmlStreamReader xml(text);
    QString kmlNamespace;
    // Local names of the open elements; an element outside the KML namespace is an empty name.
    std::vector<QString> open;
    std::optional<KmlPosition> found;
    // While inside the first placemark that may have a Point (before one is found):
    std::size_t placemarkDepth = 0;  // its depth in `open`, 0 when outside
    KmlPosition candidate;
    bool candidateNamed = false;
    std::optional<QString> candidateCoordinates;
    bool candidateHasPoint = false;

    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (open.empty()) {
                if (xml.name() != QLatin1String("kml")) {
                    Fail(path, QStringLiteral("not a KML document: the root element is <%1>")
                                   .arg(xml.qualifiedName()));
                }
                if (!IsKmlNamespace(xml.namespaceUri())) {
                    Fail(path, QStringLiteral("not a KML 2.2 document: the root element <kml> is "
                                              "in namespace '%1', expected '%2' or '%3'")
                                   .arg(xml.namespaceUri().toString(), QLatin1String(kKmlNamespace),
                                        QLatin1String(kOgcKmlNamespace)));
                }
                kmlNamespace = xml.namespaceUri().toString();
            }
            const QString name =
                xml.namespaceUri() == kmlNamespace ? xml.name().toString() : QString();
            open.push_back(name);
            if (found) continue;
            if (placemarkDepth == 0) {
                if (name == QLatin1String("Placemark")) {
                    placemarkDepth = open.size();
                    candidate = KmlPosition{};
                    candidateNamed = false;
                    candidateCoordinates.reset();
                    candidateHasPoint = false;
                }
            } else if (name == QLatin1String("name") && open.size() == placemarkDepth + 1 &&
                       !candidateNamed) {
                candidate.name =
                    ShortName(xml.readElementText(QXmlStreamReader::IncludeChildElements));
                candidateNamed = true;
                open.pop_back();  // readElementText consumed the end element
            } else if (name == QLatin1String("Point")) {
                candidateHasPoint = true;
            } else if (name == QLatin1String("coordinates") &&
                       open[open.size() - 2] == QLatin1String("Point") && !candidateCoordinates) {
                candidateCoordinates = xml.readElementText(QXmlStreamReader::IncludeChildElements);
                open.pop_back();
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (!found && placemarkDepth != 0 && open.size() == placemarkDepth) {
                placemarkDepth = 0;
                if (candidateHasPoint) {
                    if (!candidateCoordinates) {
                        Fail(path, QStringLiteral("the Point of placemark '%1' has no coordinates")
                                       .arg(candidate.name));
                    }
                    ParsePointCoordinates(path, *candidateCoordinates, candidate);
                    found = candidate;
                }
            }
            open.pop_back();
        }
    }
    if (xml.hasError()) {
        Fail(path, QStringLiteral("not well-formed XML (line %1, column %2: %3)")
                       .arg(xml.lineNumber())
                       .arg(xml.columnNumber())
                       .arg(xml.errorString()));
    }
    if (!found) Fail(path, QStringLiteral("the KML document has no placemark with a Point"));
    return *found;
}

}  // namespace vostrel
