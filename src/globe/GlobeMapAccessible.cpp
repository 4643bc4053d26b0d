#include "globe/GlobeMapAccessible.h"

#include <QAccessible>
#include <cmath>
#include <optional>

#include "globe/GlobeMap.h"

namespace vostrel {

namespace {

QString CompassPoint(double degrees) {
    static const char* const kPoints[] = {"north", "northeast", "east", "southeast",
                                          "south", "southwest", "west", "northwest"};
    return QLatin1String(kPoints[static_cast<int>(std::lround(degrees / 45.0)) % 8]);
}

}  // namespace

GlobeMapAccessible::GlobeMapAccessible(GlobeMap* map)
    : QAccessibleWidget(map, QAccessible::Graphic) {}

QAccessibleInterface* GlobeMapAccessible::Create(const QString& className, QObject* object) {
    auto* map = qobject_cast<GlobeMap*>(object);
    if (map == nullptr || className != QLatin1String(GlobeMap::staticMetaObject.className())) {
        return nullptr;
    }
    return new GlobeMapAccessible(map);
}

void GlobeMapAccessible::DescriptionChanged(GlobeMap* map) {
    if (!QAccessible::isActive()) return;
    QAccessibleEvent event(map, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&event);
}

QString GlobeMapAccessible::text(QAccessible::Text t) const {
    switch (t) {
        case QAccessible::Name:
            return widget()->accessibleName().isEmpty() ? QLatin1String(kGlobeMapName)
                                                        : widget()->accessibleName();
        case QAccessible::Description:
            return Description();
        default:
            return QAccessibleWidget::text(t);
    }
}

QString GlobeMapAccessible::Description() const {
    const auto* map = static_cast<const GlobeMap*>(widget());
    const TrackLayer& track = map->Track();
    if (!track.HasPosition()) return QStringLiteral("No position yet.");
    const TrackLayer::Point& at = track.Position();
    QString text =
        QStringLiteral("%1: latitude %2\u00b0, longitude %3\u00b0.")
            .arg((track.Name().isEmpty() ? QStringLiteral("The tracker") : track.Name()) +
                     (track.LastKnown() ? QLatin1String(kLastKnownSuffix) : QLatin1String("")),
                 QString::number(at.latitude, 'f', 6), QString::number(at.longitude, 'f', 6));
    if (map->Fix().Time().isValid())
        text += QLatin1Char(' ') + map->Fix().Text() + QLatin1Char('.');
    if (const std::optional<double> heading = track.Heading()) {
        text += QStringLiteral(" Heading %1\u00b0 (%2).")
                    .arg(std::lround(*heading) % 360)
                    .arg(CompassPoint(*heading));
    }
    return text;
}

}  // namespace vostrel
