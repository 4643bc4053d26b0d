// What a screen reader gets of the globe: a graphic named "Globe" (or the map's accessible name),
// its description the tracker's position (latitude and longitude in degrees), the age of the
// last fix and the direction of travel, worked out when asked.
#pragma once

#include <QAccessibleWidget>

namespace vostrel {

class GlobeMap;

// The map's accessible name unless it was given another.
inline constexpr const char* kGlobeMapName = "Globe";

class GlobeMapAccessible : public QAccessibleWidget {
  public:
    explicit GlobeMapAccessible(GlobeMap* map);
    // For QAccessible::installFactory: the interface of a GlobeMap, none for others.
    static QAccessibleInterface* Create(const QString& className, QObject* object);
    // Tells a listening screen reader that the map's description changed; while none listens,
    // not even the interface is made.
    static void DescriptionChanged(GlobeMap* map);

    QString text(QAccessible::Text t) const override;

  private:
    QString Description() const;
};

}  // namespace vostrel
