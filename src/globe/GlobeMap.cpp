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
#include "globe/GlobeMapAccessible.h"
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

}  // namespace

GlobeMap::GlobeMap(QWidget* parent) : QWidget(parent) {
    static const bool accessible = (QAccessible::installFactory(&GlobeMapAccessible::Create), true);
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

    connect(&fix_, &FixFreshness::Changed, this, [this](const QString&, Freshness freshness) {
        if (freshness == track_.CurrentFreshness()) return;
        track_.SetFreshness(freshness);
        update();  // the mark's ring: at most twice after a fix
    });
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
    Fixed(fix_.Now());
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
    fix_.Fixed(time);
    GlobeMapAccessible::DescriptionChanged(this);
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
