#include "output/GlobeViewer.h"

#include <marble/FileManager.h>
#include <marble/GeoDataCoordinates.h>
#include <marble/GeoDataDocument.h>
#include <marble/GeoDataIconStyle.h>
#include <marble/GeoDataLabelStyle.h>
#include <marble/GeoDataLineString.h>
#include <marble/GeoDataLineStyle.h>
#include <marble/GeoDataPlacemark.h>
#include <marble/GeoDataStyle.h>
#include <marble/GeoDataTreeModel.h>
#include <marble/HttpDownloadManager.h>
#include <marble/MarbleGlobal.h>
#include <marble/MarbleModel.h>
#include <marble/MarbleWidget.h>
#include <marble/RenderState.h>

#include <QColor>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QStringList>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>
#include <QXmlStreamReader>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

namespace vostrel {

// ---------------------------------------------------------------------------------------------
// KML reading

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

bool IsKmlNamespace(const QStringRef& uri) {
    return uri == QLatin1String(kKmlNamespace) || uri == QLatin1String(kOgcKmlNamespace);
}

}  // namespace

KmlPosition ReadKmlPlacemark(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) Fail(path, QStringLiteral("the file does not exist"));
    if (info.isDir()) Fail(path, QStringLiteral("this is a folder, not a KML file"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Fail(path, QStringLiteral("the file cannot be opened (%1)").arg(file.errorString()));
    }
    if (file.size() == 0 && info.isFile()) Fail(path, QStringLiteral("the file is empty"));

    QXmlStreamReader xml(&file);
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
                    xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
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

// ---------------------------------------------------------------------------------------------
// The window

namespace {

// Distance of the eye from the ground when showing a position: close enough that the towns
// around it are labelled.
constexpr double kViewDistanceKm = 60.0;

QImage PositionIcon() {
    QImage icon(24, 24, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 3));
    painter.setBrush(QColor(220, 20, 20));
    painter.drawEllipse(QRectF(2.5, 2.5, 19, 19));
    painter.setPen(QPen(QColor(90, 0, 0), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QRectF(1, 1, 22, 22));
    return icon;
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

// The globe inside the window. It keeps the state of its last drawing as the map reported it:
// renderStatus() leaves out the data files still being read, and before the first drawing
// says Complete although nothing has been drawn.
class GlobeMap : public Marble::MarbleWidget {
  public:
    explicit GlobeMap(QWidget* parent) : MarbleWidget(parent) {
        connect(this, &MarbleWidget::renderStateChanged, this,
                [this](const Marble::RenderState& state) { drawnState_ = state; });
        connect(model()->downloadManager(), &Marble::HttpDownloadManager::progressChanged, this,
                [this](int active, int queued) { downloading_ = active + queued > 0; });
    }

    // Map data that is still being loaded or downloaded.
    bool Loading() {
        return downloading_ || model()->fileManager()->pendingFiles() != 0 ||
               mapThemeId() != QLatin1String(kGlobeMapTheme);
    }

    // How the last drawing went that happened with all map data loaded: Complete,
    // WaitingForUpdate (complete but old data), Incomplete (data missing for good) or
    // WaitingForData (also when there was none yet).
    Marble::RenderStatus LoadedDrawingStatus() const { return loadedDrawingStatus_; }
    QString UnfinishedParts() const { return DescribeUnfinished(drawnState_); }

    // Draws the globe into an image at once, for when it can't be drawn on screen.
    void DrawOffscreen() {
        QImage image(size(), QImage::Format_ARGB32_Premultiplied);
        render(&image);
    }

  protected:
    void paintEvent(QPaintEvent* event) override {
        MarbleWidget::paintEvent(event);
        if (!Loading()) loadedDrawingStatus_ = drawnState_.status();
    }

  private:
    Marble::RenderState drawnState_;
    Marble::RenderStatus loadedDrawingStatus_ = Marble::WaitingForData;
    bool downloading_ = false;
};

// The viewer's window: the globe, and the document with the tracker's placemark and trail that
// the window adds to the globe's model the first time it shows a position.
class GlobeWindow : public QWidget {
  public:
    GlobeWindow() {
        setWindowTitle(QLatin1String(kGlobeWindowTitle));
        // The viewer's window going away must never end the program it serves.
        setAttribute(Qt::WA_QuitOnClose, false);
        resize(800, 600);

        map_ = new GlobeMap(this);
        // A globe destroyed on its own has deleted the document with its model already.
        connect(map_, &QObject::destroyed, this, [this] {
            if (inModel_) static_cast<void>(document_.release());
            inModel_ = false;
        });
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(map_);

        map_->model()->setWorkOffline(true);
        map_->setProjection(Marble::Spherical);
        map_->setMapThemeId(QLatin1String(kGlobeMapTheme));
        if (map_->mapThemeId() != QLatin1String(kGlobeMapTheme)) {
            delete map_.data();  // while this window's members, which it reaches, still exist
            throw ViewerError(std::string("The map theme ") + kGlobeMapTheme +
                              " is not installed (marble-data)");
        }
        map_->setShowCrosshairs(false);  // the placemark marks the centre

        document_ = std::make_unique<Marble::GeoDataDocument>();
        document_->setName(QStringLiteral("Tracker"));

        trail_ = new Marble::GeoDataPlacemark;
        auto* line = new Marble::GeoDataLineString(Marble::Tessellate);
        trail_->setGeometry(line);
        auto trailStyle = Marble::GeoDataStyle::Ptr(new Marble::GeoDataStyle);
        Marble::GeoDataLineStyle lineStyle(QColor(220, 20, 20, 200));
        lineStyle.setWidth(3.0F);
        lineStyle.setCapStyle(Qt::RoundCap);
        trailStyle->setLineStyle(lineStyle);
        trail_->setStyle(trailStyle);
        document_->append(trail_);

        position_ = new Marble::GeoDataPlacemark;
        auto positionStyle = Marble::GeoDataStyle::Ptr(new Marble::GeoDataStyle);
        Marble::GeoDataIconStyle iconStyle;
        iconStyle.setIcon(PositionIcon());
        positionStyle->setIconStyle(iconStyle);
        QFont labelFont = font();
        labelFont.setBold(true);
        labelFont.setPointSizeF(labelFont.pointSizeF() * 1.2);
        Marble::GeoDataLabelStyle labelStyle(labelFont, QColor(120, 0, 0));
        labelStyle.setGlow(true);
        positionStyle->setLabelStyle(labelStyle);
        position_->setStyle(positionStyle);
        position_->setZoomLevel(1);
        position_->setPopularity(1'000'000'000);
        document_->append(position_);
    }

    ~GlobeWindow() override {
        // The model deletes what is still in it, so take the document back first; then let
        // the globe go while this window's members still exist.
        if (inModel_ && map_ != nullptr) {
            map_->model()->treeModel()->removeDocument(document_.get());
            inModel_ = false;
        }
        delete map_.data();
    }

    GlobeMap* Map() const { return map_; }

    void ShowPosition(const KmlPosition& position) {
        using Marble::GeoDataCoordinates;
        const GeoDataCoordinates where(position.longitude, position.latitude, 0.0,
                                       GeoDataCoordinates::Degree);
        position_->setName(position.name);
        position_->setCoordinate(where);
        if (!lastTrailPoint_ || lastTrailPoint_->first != position.longitude ||
            lastTrailPoint_->second != position.latitude) {
            auto* line = static_cast<Marble::GeoDataLineString*>(trail_->geometry());
            if (line->size() >= kMaxTrailPoints) line->remove(0);
            line->append(where);
            lastTrailPoint_.emplace(position.longitude, position.latitude);
        }

        Marble::GeoDataTreeModel* tree = map_->model()->treeModel();
        if (!inModel_) {
            tree->addDocument(document_.get());
            inModel_ = true;
        } else {
            tree->updateFeature(trail_);
            tree->updateFeature(position_);
        }
        map_->centerOn(position.longitude, position.latitude);
        map_->setDistance(kViewDistanceKm);
    }

  private:
    QPointer<GlobeMap> map_;
    std::unique_ptr<Marble::GeoDataDocument> document_;
    Marble::GeoDataPlacemark* trail_ = nullptr;     // owned by document_
    Marble::GeoDataPlacemark* position_ = nullptr;  // owned by document_
    std::optional<std::pair<double, double>> lastTrailPoint_;
    bool inModel_ = false;
};

// ---------------------------------------------------------------------------------------------
// The automation object

GlobeViewer::GlobeViewer(QObject* parent) : QObject(parent) {
    auto window = std::make_unique<GlobeWindow>();
    window->show();
    window_ = window.release();
}

GlobeViewer::~GlobeViewer() {
    delete window_.data();
}

GlobeWindow& GlobeViewer::LiveWindow() const {
    if (window_ == nullptr) throw ViewerError("The globe viewer's window no longer exists");
    if (window_->Map() == nullptr) throw ViewerError("The globe viewer's map no longer exists");
    return *window_;
}

std::int32_t GlobeViewer::IsViewerReady() {
    GlobeWindow& window = LiveWindow();
    if (ready_) return 1;
    GlobeMap* map = window.Map();
    if (map->Loading()) return 0;
    if (map->LoadedDrawingStatus() == Marble::WaitingForData) {
        const QWindow* handle = window.windowHandle();
        const bool onScreen =
            window.isVisible() && !window.isMinimized() && handle != nullptr && handle->isExposed();
        if (onScreen) {
            map->update();  // draw again now that everything is loaded
            return 0;
        }
        // Closed, minimised or covered: no drawing will come, so draw it here.
        map->DrawOffscreen();
    }
    switch (map->LoadedDrawingStatus()) {
        case Marble::Complete:
        case Marble::WaitingForUpdate:  // drawn from complete data; working offline, no update
            ready_ = true;
            return 1;
        case Marble::Incomplete:
            // Missing for good: waiting longer would never end.
            throw ViewerError("The globe cannot draw its map; missing: " +
                              map->UnfinishedParts().toStdString());
        case Marble::WaitingForData:
            break;
    }
    return 0;
}

void GlobeViewer::ShowKmlFile(const QString& path, std::int32_t flag) {
    static_cast<void>(flag);  // every flag: failures are thrown, never shown in a dialog
    GlobeWindow& window = LiveWindow();
    const KmlPosition position = ReadKmlPlacemark(path);
    window.ShowPosition(position);
    if (!window.isVisible()) window.show();
}

QWidget* GlobeViewer::Window() const {
    return window_.data();
}

Marble::MarbleWidget* GlobeViewer::Map() const {
    return window_ != nullptr ? window_->Map() : nullptr;
}

void RegisterGlobeViewer(ComponentRegistry& registry) {
    registry.Register(kGlobeViewerProgId, [] { return std::make_unique<GlobeViewer>(); });
}

}  // namespace vostrel
