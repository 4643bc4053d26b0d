#include "globe/GlobeMap.h"

#include <marble/FileManager.h>
#include <marble/GeoDataLineStyle.h>
#include <marble/GeoDataPolyStyle.h>
#include <marble/GeoDataStyle.h>
#include <marble/GeoPainter.h>
#include <marble/MarbleDirs.h>
#include <marble/MarbleGlobal.h>
#include <marble/MarbleMap.h>
#include <marble/MarbleModel.h>
#include <marble/PluginManager.h>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QStringList>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "core/Errors.h"
#include "globe/MapTheme.h"
#include "globe/TileGuard.h"

namespace vostrel {

namespace {

constexpr const char* kPlainMapTheme = "earth/plain/plain.dgml";
// One zoom step (a wheel notch, a + or - key) scales the globe by this much.
constexpr double kZoomStep = 1.5;
// Before the first position the whole globe shows: its radius as a share of the widget's
// smaller side.
constexpr double kWholeGlobeShare = 0.42;

// Only what the globe uses: the readers of the map's data files (the installed plain map, the
// fallback, also has a PNT file), the float items worth keeping and the coordinate grid.
// Nothing else is loaded, so nothing else can go online. Must precede the first model.
void LimitPlugins() {
    static const bool limited = [] {
        for (const char* name : {"CachePlugin", "Pn2Plugin", "PntPlugin", "CompassFloatItem",
                                 "MapScaleFloatItem", "OverviewMap", "GraticulePlugin"}) {
            Marble::PluginManager::whitelistPlugin(QLatin1String(name));
        }
        return true;
    }();
    static_cast<void>(limited);
}

// Marble's zoom value of a theme and the globe radius in pixels it stands for.
double RadiusOfZoom(int zoom) {
    return std::exp(zoom / 200.0);
}

// Names of the parts of a drawing that did not complete, e.g. "Ground, Placemarks".
QString DescribeUnfinished(const Marble::RenderState& state) {
    QStringList parts;
    for (int i = 0; i < state.children(); ++i) {
        const Marble::RenderState child = state.childAt(i);
        if (child.status() == Marble::Complete) continue;
        const QString inner = DescribeUnfinished(child);
        parts << (inner.isEmpty() ? child.name() : inner);
    }
    return parts.join(QStringLiteral(", "));
}

// "12 s ago", "3 min 5 s ago", "2 h 5 min ago", "3 d 4 h ago".
QString Ago(qint64 seconds) {
    seconds = std::max<qint64>(seconds, 0);
    if (seconds < 60) return QStringLiteral("%1 s ago").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s ago").arg(seconds / 60).arg(seconds % 60);
    if (seconds < 86400) {
        return QStringLiteral("%1 h %2 min ago").arg(seconds / 3600).arg(seconds % 3600 / 60);
    }
    return QStringLiteral("%1 d %2 h ago").arg(seconds / 86400).arg(seconds % 86400 / 3600);
}

QString CompassPoint(double degrees) {
    static const char* const kPoints[] = {"north", "northeast", "east", "southeast",
                                          "south", "southwest", "west", "northwest"};
    return QLatin1String(kPoints[static_cast<int>(std::lround(degrees / 45.0)) % 8]);
}

// What a screen reader gets of the map: its name, and as its description the tracker's
// position, the age of the fix and the direction of travel, worked out when asked.
class GlobeMapAccessible : public QAccessibleWidget {
  public:
    explicit GlobeMapAccessible(GlobeMap* map) : QAccessibleWidget(map, QAccessible::Graphic) {}

    QString text(QAccessible::Text t) const override {
        const auto* map = static_cast<const GlobeMap*>(widget());
        switch (t) {
            case QAccessible::Name:
                return map->accessibleName().isEmpty() ? QLatin1String(kGlobeMapName)
                                                       : map->accessibleName();
            case QAccessible::Description:
                return map->AccessibleDescription();
            default:
                return QAccessibleWidget::text(t);
        }
    }
};

QAccessibleInterface* GlobeMapAccessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String(GlobeMap::staticMetaObject.className()) && object != nullptr &&
        object->isWidgetType()) {
        return new GlobeMapAccessible(static_cast<GlobeMap*>(object));
    }
    return nullptr;
}

}  // namespace

GlobeMap::GlobeMap(QWidget* parent)
    : QWidget(parent), clock_([] { return QDateTime::currentDateTime(); }) {
    static const bool accessible = [] {
        QAccessible::installFactory(GlobeMapAccessibleFactory);
        return true;
    }();
    static_cast<void>(accessible);
    LimitPlugins();
    TileGuard::Instance();  // before the street map can fetch a tile
    // Before the model, which takes Marble's user data folder as it is when it is made.
    const QString installError = InstallOfflineTheme();
    TileGuard::Instance().StartSweep(Marble::MarbleDirs::localPath() + QStringLiteral("/maps/") +
                                     QFileInfo(QLatin1String(kStreetMapTheme)).path());
    model_ = std::make_unique<Marble::MarbleModel>();
    model_->setWorkOffline(true);
    map_ = std::make_unique<Marble::MarbleMap>(model_.get());
    map_->setProjection(Marble::Spherical);
    map_->setSize(size());
    map_->setDefaultFont(font());
    map_->setMapQualityForViewContext(Marble::HighQuality, Marble::Still);
    map_->setMapQualityForViewContext(Marble::LowQuality, Marble::Animation);

    const QString theme = QLatin1String(installError.isEmpty() ? kOfflineMapTheme : kPlainMapTheme);
    if (!installError.isEmpty()) {
        std::fprintf(stderr, "The globe shows the installed plain map: %s\n",
                     qPrintable(installError));
    }
    ApplyTheme(theme);
    if (MapThemeId() != theme) {
        throw ViewerError("The map theme " + theme.toStdString() +
                          " is not installed (marble-data)" +
                          (installError.isEmpty() ? "" : ": " + installError.toStdString()));
    }
    map_->addLayer(&track_);
    map_->centerOn(0.0, 20.0);
    SetRadius(kWholeGlobeShare * std::min(width(), height()));

    connect(map_.get(), &Marble::MarbleMap::repaintNeeded, this, [this] { update(); });
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(200, 150);

    attribution_ = new QLabel(QString::fromUtf8(kStreetMapAttribution), this);
    attribution_->setStyleSheet(
        QStringLiteral("background: rgba(255, 255, 255, 210); color: #333333; padding: 1px 4px;"));
    attribution_->adjustSize();
    attribution_->hide();

    tick_.setSingleShot(true);
    connect(&tick_, &QTimer::timeout, this, &GlobeMap::Tick);
}

GlobeMap::~GlobeMap() = default;

void GlobeMap::ApplyTheme(const QString& themeId) {
    map_->setMapThemeId(themeId);
    map_->setShowCompass(true);
    map_->setShowScaleBar(true);
    map_->setShowOverviewMap(true);
    map_->setShowCrosshairs(false);
    // Offline, at street scale the map is a plain field: the grid gives a moving trail a
    // reference.
    map_->setShowGrid(themeId != QLatin1String(kStreetMapTheme));
    SetRadius(map_->radius());  // within the new theme's zoom range
}

void GlobeMap::LoadTownNames() {
    // As a theme's own place file is read: no line, no fill, the map's document role.
    Marble::GeoDataLineStyle line{QColor(Qt::black)};
    line.setPenStyle(Qt::NoPen);
    line.setWidth(0);
    Marble::GeoDataPolyStyle fill{QColor(Qt::transparent)};
    fill.setFill(true);
    Marble::GeoDataStyle::Ptr style(new Marble::GeoDataStyle);
    style->setLineStyle(line);
    style->setPolyStyle(fill);
    style->setId(QStringLiteral("default"));
    model_->fileManager()->addFile(QLatin1String(kTownNamesFile), QString(), style,
                                   Marble::MapDocument);
}

void GlobeMap::SetStreetMap(bool on) {
    if (on == streetMap_) return;
    if (on) {
        TileGuard::Instance().AwaitSweep();  // nothing reads the tile cache before
        ApplyTheme(QLatin1String(kStreetMapTheme));
        if (MapThemeId() != QLatin1String(kStreetMapTheme)) return;  // not installed
        // Marble trims the cache to the limit when it starts watching it (and, during a run,
        // removes what was there before the run, oldest first).
        model_->setPersistentTileCacheLimit(kTileCacheLimitKiB);
        model_->setWorkOffline(false);
    } else {
        model_->setWorkOffline(true);
        ApplyTheme(QLatin1String(kOfflineMapTheme));
        if (MapThemeId() != QLatin1String(kOfflineMapTheme)) {
            ApplyTheme(QLatin1String(kPlainMapTheme));
        }
        LoadTownNames();  // the street map's theme took them along when it went
    }
    streetMap_ = on;
    offlineInstead_ = false;
    attribution_->setVisible(on);
    update();
}

void GlobeMap::ShowOfflineInstead(bool on) {
    if (!streetMap_ || on == offlineInstead_) return;
    offlineInstead_ = on;
    ApplyTheme(QLatin1String(on ? kOfflineMapTheme : kStreetMapTheme));
    if (on && MapThemeId() != QLatin1String(kOfflineMapTheme)) {
        ApplyTheme(QLatin1String(kPlainMapTheme));
    }
    // Without the towns' names (reading them in is the larger part of the offline map's load):
    // this comes unasked, while reports arrive.
    attribution_->setVisible(!on);
    update();
}

QString GlobeMap::MapThemeId() const {
    return map_->mapThemeId();
}

double GlobeMap::CentreLongitude() const {
    return map_->centerLongitude();
}

double GlobeMap::CentreLatitude() const {
    return map_->centerLatitude();
}

int GlobeMap::Radius() const {
    return map_->radius();
}

double GlobeMap::SpanKm() const {
    return width() * model_->planetRadius() / 1000.0 / map_->radius();
}

bool GlobeMap::ScreenPosition(double longitude, double latitude, QPointF& at) const {
    qreal x = 0;
    qreal y = 0;
    const bool visible = map_->screenCoordinates(longitude, latitude, x, y);
    at = QPointF(x, y);
    return visible;
}

void GlobeMap::SetRadius(double radius) {
    const double lowest = RadiusOfZoom(map_->minimumZoom());
    const double highest = RadiusOfZoom(map_->maximumZoom());
    map_->setRadius(static_cast<int>(std::lround(std::clamp(radius, lowest, highest))));
    update();
}

void GlobeMap::CentreOn(double longitude, double latitude) {
    map_->centerOn(longitude, latitude);
    update();
}

void GlobeMap::ShowPosition(double longitude, double latitude, const QString& name) {
    track_.Show(longitude, latitude, name);
    track_.SetLastKnown(false);
    Fixed(clock_());
    if (!shownOnce_) {
        Framed();
        return;
    }
    QPointF at;
    const double marginX = width() * kFollowMargin;
    const double marginY = height() * kFollowMargin;
    if (!ScreenPosition(longitude, latitude, at) || at.x() < marginX ||
        at.x() > width() - marginX || at.y() < marginY || at.y() > height() - marginY) {
        CentreOn(longitude, latitude);
    }
    update();
}

void GlobeMap::ShowHistory(const std::vector<TrackPoint>& trail, const QString& name,
                           const QDateTime& time) {
    if (trail.empty()) return;
    for (const TrackPoint& point : trail) track_.Show(point.longitude, point.latitude, name);
    track_.SetLastKnown(true);
    Fixed(time);
    if (!shownOnce_) Framed();
    update();
}

void GlobeMap::Framed() {
    shownOnce_ = true;
    CentreOnTracker();
}

void GlobeMap::Fixed(const QDateTime& time) {
    lastFix_ = time;
    Tick();
    DescriptionChanged();
}

void GlobeMap::DescriptionChanged() {
    // Only while an assistive technology listens: otherwise not even the interface is made.
    if (!QAccessible::isActive()) return;
    QAccessibleEvent event(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&event);
}

void GlobeMap::SetClock(std::function<QDateTime()> clock) {
    clock_ = std::move(clock);
    Tick();
}

Freshness GlobeMap::CurrentFreshness() const {
    const qint64 seconds = lastFix_.isValid() ? lastFix_.secsTo(clock_()) : 0;
    return seconds >= kSilentAfterSeconds  ? Freshness::Silent
           : seconds >= kQuietAfterSeconds ? Freshness::Quiet
                                           : Freshness::Fresh;
}

QString GlobeMap::FreshnessText() const {
    if (!lastFix_.isValid()) return {};
    const QDateTime now = clock_();
    const QString format = lastFix_.date() == now.date() ? QStringLiteral("HH:mm:ss")
                                                         : QStringLiteral("yyyy-MM-dd HH:mm:ss");
    return QStringLiteral("Last fix %1, %2")
        .arg(lastFix_.toString(format), Ago(lastFix_.secsTo(now)));
}

void GlobeMap::Tick() {
    if (!lastFix_.isValid()) return;
    const Freshness freshness = CurrentFreshness();
    if (freshness != track_.CurrentFreshness()) {
        track_.SetFreshness(freshness);
        update();  // the mark's ring: at most twice after a fix
    }
    const QString text = FreshnessText();
    if (text != freshnessText_) {
        freshnessText_ = text;
        emit FreshnessChanged(text, freshness);
    }
    // Next when the age in whole seconds goes up.
    const qint64 ms = lastFix_.msecsTo(clock_());
    tick_.start(ms >= 0 ? 1000 - static_cast<int>(ms % 1000) : 1000);
}

QString GlobeMap::AccessibleDescription() const {
    if (!track_.HasPosition()) return QStringLiteral("No position yet.");
    const TrackLayer::Point& at = track_.Position();
    QString text =
        QStringLiteral("%1: latitude %2\u00b0, longitude %3\u00b0.")
            .arg((track_.Name().isEmpty() ? QStringLiteral("The tracker") : track_.Name()) +
                     (track_.LastKnown() ? QLatin1String(kLastKnownSuffix) : QLatin1String("")),
                 QString::number(at.latitude, 'f', 6), QString::number(at.longitude, 'f', 6));
    if (lastFix_.isValid()) text += QLatin1Char(' ') + FreshnessText() + QLatin1Char('.');
    if (const std::optional<double> heading = track_.Heading()) {
        text += QStringLiteral(" Heading %1\u00b0 (%2).")
                    .arg(std::lround(*heading) % 360)
                    .arg(CompassPoint(*heading));
    }
    return text;
}

void GlobeMap::CentreOnTracker() {
    if (!track_.HasPosition()) return;
    const double planetKm = model_->planetRadius() / 1000.0;
    SetRadius(std::max(width(), 1) * planetKm / kStreetScaleSpanKm);
    CentreOn(track_.Position().longitude, track_.Position().latitude);
}

void GlobeMap::Zoom(double steps, QPoint about) {
    qreal lon = 0;
    qreal lat = 0;
    const bool anchored =
        rect().contains(about) &&
        map_->geoCoordinates(about.x(), about.y(), lon, lat, Marble::GeoDataCoordinates::Degree);
    SetRadius(map_->radius() * std::pow(kZoomStep, steps));
    if (!anchored) return;
    // Keep the place under the pointer where it was.
    QPointF now;
    if (!ScreenPosition(lon, lat, now)) return;
    const QPointF centre(width() / 2.0, height() / 2.0);
    const QPointF shifted = centre + (now - QPointF(about));
    qreal centreLon = 0;
    qreal centreLat = 0;
    if (map_->geoCoordinates(static_cast<int>(std::lround(shifted.x())),
                             static_cast<int>(std::lround(shifted.y())), centreLon, centreLat,
                             Marble::GeoDataCoordinates::Degree)) {
        CentreOn(centreLon, centreLat);
    }
}

bool GlobeMap::Loading() const {
    return model_->fileManager()->pendingFiles() != 0;
}

QString GlobeMap::UnfinishedParts() const {
    return DescribeUnfinished(map_->renderState());
}

void GlobeMap::Paint(QPaintDevice& device, const QRect& rect) {
    {
        Marble::GeoPainter painter(&device, map_->viewport(), map_->mapQuality());
        map_->paint(painter, rect);
    }
    if (!Loading()) loadedDrawingStatus_ = map_->renderState().status();
}

void GlobeMap::DrawOffscreen() {
    QImage image(size(), QImage::Format_ARGB32_Premultiplied);
    Paint(image, rect());
}

void GlobeMap::paintEvent(QPaintEvent* event) {
    Paint(*this, event->rect());
}

void GlobeMap::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    map_->setSize(size());
    if (!shownOnce_) SetRadius(kWholeGlobeShare * std::min(width(), height()));
    attribution_->move(width() - attribution_->width() - 4, height() - attribution_->height() - 4);
}

void GlobeMap::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    dragging_ = true;
    pressedAt_ = event->pos();
    pressedLongitude_ = CentreLongitude();
    pressedLatitude_ = CentreLatitude();
    map_->setViewContext(Marble::Animation);
}

void GlobeMap::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) return;
    const QPoint moved = event->pos() - pressedAt_;
    const double degreesPerPixel = 180.0 / (std::numbers::pi * map_->radius());
    const double latitude = std::clamp(pressedLatitude_ + moved.y() * degreesPerPixel, -89.0, 89.0);
    const double stretch = std::max(std::cos(latitude * std::numbers::pi / 180.0), 0.05);
    CentreOn(pressedLongitude_ - moved.x() * degreesPerPixel / stretch, latitude);
}

void GlobeMap::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !dragging_) return;
    dragging_ = false;
    map_->setViewContext(Marble::Still);
    update();
}

void GlobeMap::wheelEvent(QWheelEvent* event) {
    Zoom(event->angleDelta().y() / 120.0, event->position().toPoint());
    event->accept();
}

}  // namespace vostrel
