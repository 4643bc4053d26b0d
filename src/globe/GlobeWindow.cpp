#include "globe/GlobeWindow.h"

#include <marble/HttpDownloadManager.h>
#include <marble/MarbleDirs.h>

#include <QCheckBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "globe/GlobeMap.h"
#include "globe/MapTheme.h"
#include "globe/TileGuard.h"

namespace vostrel {

namespace {

QSettings Settings() {
    return QSettings(QStringLiteral("Vostrel"), QStringLiteral("vostrel"));
}

QToolButton* ZoomButton(const QString& text, const QString& tip, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setText(text);
    button->setToolTip(tip);
    button->setFocusPolicy(Qt::NoFocus);
    button->setMinimumWidth(28);
    return button;
}

}  // namespace

bool StoredStreetMapChoice() {
    return Settings().value(QLatin1String(kStreetMapSettingsKey), false).toBool();
}

GlobeWindow::GlobeWindow() {
    setWindowTitle(QLatin1String(kGlobeWindowTitle));
    // The viewer's window going away must never end the program it serves.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(800, 600);

    auto* zoomOut = ZoomButton(QStringLiteral("\u2212"), QStringLiteral("Zoom out (-)"), this);
    auto* zoomIn = ZoomButton(QStringLiteral("+"), QStringLiteral("Zoom in (+)"), this);
    centre_ = new QPushButton(QLatin1String(kCentreOnTrackerText), this);
    centre_->setToolTip(QStringLiteral("Back to the tracker at street scale (C)"));
    centre_->setFocusPolicy(Qt::NoFocus);
    centre_->setEnabled(false);
    streetMap_ = new QCheckBox(QLatin1String(kStreetMapSwitchText), this);
    streetMap_->setToolTip(QStringLiteral(
        "Fetches OpenStreetMap tiles around the tracker; off, nothing leaves this computer"));
    streetMap_->setFocusPolicy(Qt::NoFocus);

    freshness_ = new QLabel(this);
    freshness_->setContentsMargins(6, 1, 6, 1);
    freshness_->setToolTip(
        QStringLiteral("When the tracker's last position came; amber after 2 minutes "
                       "without one, red after 10"));

    tileStatus_ = new QLabel(QLatin1String(kNoTilesText), this);
    tileStatus_->setContentsMargins(6, 2, 6, 2);
    tileStatus_->setStyleSheet(QStringLiteral("background: #f0a000; color: black;"));
    tileStatus_->hide();

    map_ = new GlobeMap(this);
    connect(&map_->Fix(), &FixFreshness::Changed, this,
            [this](const QString& text, vostrel::Freshness freshness) {
                freshness_->setText(text);
                const QString style = LabelStyle(freshness);
                if (freshness_->styleSheet() != style) freshness_->setStyleSheet(style);
            });

    auto* controls = new QHBoxLayout;
    controls->setContentsMargins(6, 4, 6, 4);
    controls->addWidget(zoomOut);
    controls->addWidget(zoomIn);
    controls->addWidget(centre_);
    controls->addSpacing(8);
    controls->addWidget(freshness_);
    controls->addStretch(1);
    controls->addWidget(streetMap_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(controls);
    layout->addWidget(tileStatus_);
    layout->addWidget(map_, 1);

    connect(&TileGuard::Instance(), &TileGuard::TileFetched, this,
            [this](bool ok) { TileFetched(ok); });
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, [this] { TryStreetMapAgain(); });
    recheck_.setSingleShot(true);
    connect(&recheck_, &QTimer::timeout, this, [this] { NoTiles(); });

    const auto zoom = [this](double steps) {
        if (map_ != nullptr) map_->Zoom(steps);
    };
    connect(zoomIn, &QToolButton::clicked, this, [zoom] { zoom(1); });
    connect(zoomOut, &QToolButton::clicked, this, [zoom] { zoom(-1); });
    const auto centre = [this] {
        if (map_ != nullptr) map_->CentreOnTracker();
    };
    connect(centre_, &QPushButton::clicked, this, centre);
    for (const auto& [key, steps] :
         {std::pair{Qt::Key_Plus, 1}, std::pair{Qt::Key_Equal, 1}, std::pair{Qt::Key_Minus, -1}}) {
        connect(new QShortcut(QKeySequence(key), this), &QShortcut::activated, this,
                [zoom, steps = steps] { zoom(steps); });
    }
    connect(new QShortcut(QKeySequence(Qt::Key_C), this), &QShortcut::activated, this, centre);
    connect(streetMap_, &QCheckBox::toggled, this, [this](bool on) {
        SetStreetMap(on);
        Settings().setValue(QLatin1String(kStreetMapSettingsKey), streetMap_->isChecked());
    });
}

GlobeWindow::~GlobeWindow() = default;

void GlobeWindow::ShowPosition(double longitude, double latitude, const QString& name) {
    map_->ShowPosition(longitude, latitude, name);
    centre_->setEnabled(true);
}

void GlobeWindow::ShowHistory(const std::vector<TrackPoint>& trail, const QString& name,
                              const QDateTime& time) {
    map_->ShowHistory(trail, name, time);
    centre_->setEnabled(map_->Track().HasPosition());
}

void GlobeWindow::ApplyStreetMapChoice() {
    if (StoredStreetMapChoice()) streetMap_->setChecked(true);
}

void GlobeWindow::SetStreetMap(bool on) {
    if (map_ == nullptr) return;
    map_->SetStreetMap(on);
    if (map_->StreetMap() != on) {
        const QSignalBlocker quiet(streetMap_);
        streetMap_->setChecked(map_->StreetMap());
    }
    tileStatus_->hide();
    retry_.stop();
    recheck_.stop();
    lastTile_.invalidate();
    failing_ = false;
}

void GlobeWindow::TileFetched(bool ok) {
    if (map_ == nullptr || !map_->StreetMap()) return;
    failing_ = !ok;
    if (!ok) {
        NoTiles();
        return;
    }
    lastTile_.restart();
    tileStatus_->hide();
    retry_.stop();
    map_->ShowOfflineInstead(false);
}

void GlobeWindow::NoTiles() {
    if (map_ == nullptr || !map_->StreetMap() || !failing_ || map_->ShowsOfflineInstead()) return;
    // A failed tile among others that come is a spoilt tile, not a street map without tiles:
    // that is seen once none came for a while.
    if (lastTile_.isValid() && lastTile_.elapsed() < kNoTilesAfterMs) {
        recheck_.start(static_cast<int>(kNoTilesAfterMs - lastTile_.elapsed()));
        return;
    }
    if (ViewCached()) return;  // the tiles kept on disk show
    tileStatus_->show();
    map_->ShowOfflineInstead(true);
    retry_.start(kTilesRetryMs);
}

void GlobeWindow::TryStreetMapAgain() {
    if (map_ == nullptr || !map_->ShowsOfflineInstead()) return;
    retry_.start(kTilesRetryMs);
    // The tile that failed last is asked for again, as the street map would: when it comes
    // (the tile guard tells), the street map comes back. No switching to and fro before.
    const QUrl tile = TileGuard::Instance().LastFailedTile();
    if (!tile.isValid()) return;
    if (probe_ == nullptr) probe_ = new QNetworkAccessManager(this);
    QNetworkRequest request(tile);
    request.setRawHeader(
        "User-Agent", Marble::HttpDownloadManager::userAgent(QStringLiteral("Browser"),
                                                             QStringLiteral("QNamNetworkPlugin")));
    QNetworkReply* reply = probe_->get(request);
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
}

bool GlobeWindow::ViewCached() const {
    // The street map's tiles: 2^zoom a side, Mercator; the zoom whose tiles are drawn near
    // their size.
    const double zoom = std::log2(2 * std::numbers::pi * std::max(map_->Radius(), 1) / 256.0);
    const double longitude = map_->CentreLongitude();
    const double latitude =
        std::clamp(map_->CentreLatitude(), -85.0, 85.0) * std::numbers::pi / 180;
    const QString folder = QFileInfo(QLatin1String(kStreetMapTheme)).path();
    for (int z = std::max(0, static_cast<int>(zoom) - 2); z <= static_cast<int>(zoom) + 1; ++z) {
        const double n = std::exp2(z);
        const auto x = static_cast<long>((longitude + 180) / 360 * n);
        const auto y = static_cast<long>(
            (1 - std::log(std::tan(latitude) + 1 / std::cos(latitude)) / std::numbers::pi) / 2 * n);
        const QString tile =
            QStringLiteral("maps/%1/%2/%3/%4.png").arg(folder).arg(z).arg(x).arg(y);
        if (!Marble::MarbleDirs::path(tile).isEmpty()) return true;
    }
    return false;
}

}  // namespace vostrel
