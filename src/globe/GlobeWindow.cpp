#include "globe/GlobeWindow.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>

#include "globe/GlobeMap.h"

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
    layout->addWidget(map_, 1);

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
}

}  // namespace vostrel
