// The real globe viewer driven the way the server drives it (created by identifier, polled
// until ready, asked to show snapshots), the operator's controls, and the street map against a
// tile server of the test's own on loopback. Every connect and name lookup of this program
// goes through the network guard, which refuses anything beyond this machine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <marble/FileManager.h>
#include <marble/LayerInterface.h>
#include <marble/MarbleDirs.h>
#include <marble/MarbleMap.h>
#include <marble/MarbleModel.h>
#include <marble/RenderState.h>
#include <marble/ViewportParams.h>
#include <netdb.h>
#include <netinet/in.h>
#include <private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <deque>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "core/Version.h"
#include "globe/GlobeMap.h"
#include "globe/GlobeViewer.h"
#include "globe/GlobeWindow.h"
#include "globe/MapTheme.h"
#include "globe/TileGuard.h"
#include "globe/TrackLayer.h"
#include "globe/TrailDrawing.h"
#include "kit/TestKit.h"
#include "output/PositionFiles.h"
#include "support/NetGuard.h"
#include "tiles/LoopbackTileServer.h"

namespace vostrel {
namespace {

using test::BytesUnder;
using test::ViewerErrorOf;
using test::WaitFor;

// The snapshot the server writes for a position.
std::string SnapshotBytes(double longitude, double latitude) {
    return SnapshotText(QString::number(latitude, 'g', 15).toStdString(),
                        QString::number(longitude, 'g', 15).toStdString());
}

QString WriteFile(const QString& path, const std::string& bytes) {
    return QString::fromStdString(test::WriteFile(path.toStdString(), bytes));
}

// Pixels of the tracker's red around a point of an image.
int RedPixelsAround(const QImage& image, QPoint at, int reach = 6) {
    int red = 0;
    for (int dy = -reach; dy <= reach; ++dy) {
        for (int dx = -reach; dx <= reach; ++dx) {
            const QPoint p = at + QPoint(dx, dy);
            if (!image.rect().contains(p)) continue;
            const QColor c = image.pixelColor(p);
            if (c.red() > 180 && c.green() < 80 && c.blue() < 80) ++red;
        }
    }
    return red;
}

class GlobeViewerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        QSettings(QStringLiteral("Vostrel"), QStringLiteral("vostrel")).clear();
        Create();
    }

    // A new viewer in place of the one there is (which goes first).
    void Create() {
        object_.reset();
        RegisterGlobeViewer(registry_);
        object_ = registry_.Create(kGlobeViewerProgId);
        viewer_ = QueryViewerAutomation(object_.get());
        ASSERT_NE(viewer_, nullptr);
        globe_ = qobject_cast<GlobeViewer*>(object_.get());
        ASSERT_NE(globe_, nullptr);
    }

    // Polls the way the server does: one round of event processing between polls.
    void WaitUntilReady() {
        QElapsedTimer clock;
        clock.start();
        while (viewer_->IsViewerReady() == 0) {
            ASSERT_LT(clock.elapsed(), 60'000) << "the globe viewer did not become ready";
            QCoreApplication::processEvents();
        }
    }

    void Show(double longitude, double latitude) {
        viewer_->ShowKmlFile(
            WriteFile(dir_.filePath("vo_demo.kml"), SnapshotBytes(longitude, latitude)), 1);
    }

    GlobeMap& Map() const { return *globe_->Map(); }
    bool TownNamesLoaded() const {
        return Map().Model()->fileManager()->at(QLatin1String(kTownNamesFile)) != nullptr;
    }
    QImage Picture() const { return Map().grab().toImage(); }
    QPoint Where(double longitude, double latitude) const {
        QPointF at;
        EXPECT_TRUE(Map().ScreenPosition(longitude, latitude, at));
        return at.toPoint();
    }

    // The street map turned off and on again: a spoilt tile may have brought the offline map in
    // its place.
    void StreetMapAgain() const {
        globe_->Window()->StreetMapSwitch()->click();
        globe_->Window()->StreetMapSwitch()->click();
    }

    void ExpectCentredOn(double longitude, double latitude) const {
        EXPECT_NEAR(Map().CentreLongitude(), longitude, 1e-6);
        EXPECT_NEAR(Map().CentreLatitude(), latitude, 1e-6);
    }

    QTemporaryDir dir_;
    test::FixedClock clock_;  // outlives the viewer that may be given it
    ComponentRegistry registry_;
    std::unique_ptr<QObject> object_;
    ViewerAutomation* viewer_ = nullptr;
    GlobeViewer* globe_ = nullptr;
};

TEST_F(GlobeViewerTest, StartsOfflineWithItsControlsAndBecomesReadyByEventProcessing) {
    GlobeWindow* window = globe_->Window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle().toStdString(), "Globe Viewer");
    EXPECT_EQ(Map().MapThemeId().toStdString(), kOfflineMapTheme);
    EXPECT_TRUE(Map().Model()->workOffline());
    EXPECT_EQ(window->CentreButton()->text().toStdString(), "Centre on tracker");
    EXPECT_FALSE(window->CentreButton()->isEnabled()) << "nothing to centre on yet";
    EXPECT_EQ(window->StreetMapSwitch()->text().toStdString(), "Street map (online)");
    EXPECT_FALSE(window->StreetMapSwitch()->isChecked());
    EXPECT_FALSE(Map().Attribution()->isVisible());
    EXPECT_EQ(viewer_->IsViewerReady(), 0) << "ready before anything was loaded or drawn";
    WaitUntilReady();
    EXPECT_NE(viewer_->IsViewerReady(), 0) << "ready does not stay ready";
    EXPECT_FALSE(Map().StreetMap());
    EXPECT_TRUE(WaitFor([&] { return TownNamesLoaded(); }, 20000)) << "towns read after ready";

    // No web engine or any other helper process under this one.
    int children = 0;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly)) continue;
        const QList<QByteArray> fields = stat.readAll().split(')').value(1).split(' ');
        if (fields.value(2).toLongLong() == ::getpid()) ++children;
    }
    EXPECT_EQ(children, 0);
}

// Street scale at the first fix; later fixes keep the operator's zoom and only re-centre when
// the tracker would leave the view or come near its edge; "Centre on tracker" and its key bring
// the tracker back at street scale.
TEST_F(GlobeViewerTest, FollowsTheTrackerWithoutFightingTheOperator) {
    WaitUntilReady();
    const double lon = 37.6229266666667;
    const double lat = 55.6565716666667;
    Show(lon, lat);
    ExpectCentredOn(lon, lat);
    EXPECT_THAT(Map().SpanKm(), testing::AllOf(testing::Ge(1.0), testing::Le(3.0)));
    EXPECT_TRUE(globe_->Window()->CentreButton()->isEnabled());
    const QPoint first = Where(lon, lat);
    EXPECT_TRUE(WaitFor([&] { return RedPixelsAround(Picture(), first) > 40; }))
        << "no mark at the tracker";

    // 400 m east: the mark visibly moves, the trail joins the two, the view stays.
    const double east = lon + 0.4 / (111.32 * std::cos(lat * std::numbers::pi / 180.0));
    Show(east, lat);
    ExpectCentredOn(lon, lat);
    const QPoint second = Where(east, lat);
    EXPECT_GT(second.x() - first.x(), 100) << "a 400 m move must show";
    EXPECT_TRUE(WaitFor([&] { return RedPixelsAround(Picture(), second) > 40; }));
    const QImage picture = Picture();
    EXPECT_GT(RedPixelsAround(picture, second), 40);
    EXPECT_GT(RedPixelsAround(picture, (first + second) / 2, 2), 3) << "no trail between them";

    // The operator zooms out; nothing a fix does changes that zoom.
    Map().Zoom(-3);
    const int chosen = Map().Radius();
    struct Step {
        const char* what;
        double longitude, latitude;
        bool recentres;
    };
    const double spanDegrees = Map().SpanKm() / 111.32 / std::cos(lat * std::numbers::pi / 180.0);
    const Step steps[] = {
        {"well inside", lon + spanDegrees * 0.2, lat, false},
        {"near the edge", lon + spanDegrees * 0.45, lat, true},
        {"far away", -120.5, -33.25, true},
        {"other side of the globe", 57.0, 34.0, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        const double centreLon = step.recentres ? step.longitude : Map().CentreLongitude();
        const double centreLat = step.recentres ? step.latitude : Map().CentreLatitude();
        Show(step.longitude, step.latitude);
        EXPECT_EQ(Map().Radius(), chosen);
        ExpectCentredOn(centreLon, centreLat);
    }

    // Panned away by dragging, then back with the button and with the key.
    Map().setFocus();
    QTest::mousePress(&Map(), Qt::LeftButton, {}, QPoint(400, 300));
    QMouseEvent drag(QEvent::MouseMove, QPointF(600, 200), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&Map(), &drag);
    QTest::mouseRelease(&Map(), Qt::LeftButton, {}, QPoint(600, 200));
    const QPoint dragged = Where(57.0, 34.0) - QPoint(Map().width() / 2, Map().height() / 2);
    EXPECT_NEAR(dragged.x(), 200, 3) << "the map does not follow the pointer";
    EXPECT_NEAR(dragged.y(), -100, 3);
    globe_->Window()->CentreButton()->click();
    ExpectCentredOn(57.0, 34.0);
    EXPECT_LE(Map().SpanKm(), 3.0);
    Map().Zoom(-4);
    Map().Zoom(2, QPoint(10, 10));  // about a corner, by the wheel's path
    QTest::keyClick(globe_->Window(), Qt::Key_C);
    ExpectCentredOn(57.0, 34.0);
    const double street = Map().SpanKm();
    EXPECT_LE(street, 3.0);
    QTest::keyClick(globe_->Window(), Qt::Key_Minus);
    EXPECT_GT(Map().SpanKm(), street * 1.2) << "the - key did not zoom out";
}

TEST_F(GlobeViewerTest, RefusesBrokenFilesAndKeepsWhatItShows) {
    WaitUntilReady();
    Show(8.5, 47.25);

    const QString missing = dir_.filePath("absent.kml");
    const QString malformed = WriteFile(
        dir_.filePath("broken.kml"), "<kml xmlns=\"http://earth.google.com/kml/2.2\"><Placemark>");
    const QString outside = WriteFile(dir_.filePath("outside.kml"), SnapshotBytes(200, 47.25));
    for (const QString& path : {missing, malformed, outside}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_THAT(ViewerErrorOf([&] { viewer_->ShowKmlFile(path, 1); }),
                    testing::HasSubstr(path.toStdString() + ": "));
        EXPECT_EQ(Map().Track().Trail().size(), 1U);
        EXPECT_DOUBLE_EQ(Map().Track().Position().longitude, 8.5);
        ExpectCentredOn(8.5, 47.25);
    }
    // Any other flag value also reports by throwing.
    EXPECT_FALSE(ViewerErrorOf([&] { viewer_->ShowKmlFile(missing, 0); }).empty());
}

// The trail keeps each new place once, the newest 10,000, and is drawn however far apart the
// places are (across the date line, to the far side of the globe).
TEST_F(GlobeViewerTest, TheTrailKeepsTheNewestPlacesAndDrawsAnyArc) {
    WaitUntilReady();
    Show(121.487086666667, 24.9981516666667);
    Show(121.5, 25.0333333333333);
    Show(121.5, 25.0333333333333);  // same place again
    const auto& trail = Map().Track().Trail();
    ASSERT_EQ(trail.size(), 2U);
    EXPECT_DOUBLE_EQ(trail[0].latitude, 24.9981516666667);
    EXPECT_EQ(Map().Track().Name().toStdString(), "Your Tracker");

    Show(-179.5, -16.5);
    Show(179.5, -16.0);
    EXPECT_TRUE(WaitFor([&] { return RedPixelsAround(Picture(), Where(179.5, -16.0)) > 40; }));
    Map().Zoom(-30);  // the whole globe, arcs reaching round it
    EXPECT_TRUE(WaitFor([&] { return RedPixelsAround(Picture(), Where(179.5, -16.0), 3) > 3; }));

    for (std::size_t i = 0; i < kMaxTrailPoints + 5; ++i) {
        globe_->Window()->ShowPosition(-170.0 + (i % 3400) * 0.1, -80.0 + i * 0.016, {});
    }
    EXPECT_EQ(trail.size(), kMaxTrailPoints);
    EXPECT_DOUBLE_EQ(trail.front().latitude, -80.0 + 5 * 0.016);
}

// Started after an earlier run: the trail from the track log's newest positions (lines that
// are not positions skipped), the mark grey at the snapshot's position and called last known,
// at street scale, its age from the snapshot's time; the first fix of this run takes over.
TEST_F(GlobeViewerTest, StartsWithTheHistoryOfEarlierRuns) {
    object_.reset();
    const QDir home = QDir::home();
    std::string log = "garbage line\r\n";
    for (int i = 0; i < 30; ++i) {
        log += QString::number(8.5 + i * 0.0002, 'f', 13).toStdString() + ",47.2500000000000,0\r\n";
    }
    log += "8.50600,47.2500,0,oops\r\n";
    WriteFile(home.filePath(QStringLiteral("vo_demo.txt")), log);
    const QString snapshot =
        WriteFile(home.filePath(QStringLiteral("vo_demo.kml")), SnapshotBytes(8.507, 47.2503));
    const QDateTime saved = QDateTime::currentDateTime().addSecs(-300);
    QFile file(snapshot);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(saved, QFileDevice::FileModificationTime));
    file.close();
    Create();
    QFile::remove(home.filePath(QStringLiteral("vo_demo.txt")));
    QFile::remove(snapshot);

    const TrackLayer& track = Map().Track();
    ASSERT_EQ(track.Trail().size(), 31U);
    EXPECT_DOUBLE_EQ(track.Position().longitude, 8.507);
    EXPECT_TRUE(track.LastKnown());
    EXPECT_EQ(track.Label().toStdString(), "Your Tracker (last known)");
    ExpectCentredOn(8.507, 47.2503);
    EXPECT_LE(Map().SpanKm(), 3.0);
    EXPECT_TRUE(globe_->Window()->CentreButton()->isEnabled());
    EXPECT_EQ(Map().Fix().Time().toSecsSinceEpoch(), saved.toSecsSinceEpoch());
    EXPECT_EQ(Map().Fix().Current(), Freshness::Quiet);
    EXPECT_EQ(globe_->Window()->Freshness()->text(), Map().Fix().Text());
    EXPECT_THAT(
        QAccessible::queryAccessibleInterface(&Map())->text(QAccessible::Description).toStdString(),
        testing::StartsWith("Your Tracker (last known): latitude 47.250300\u00b0, "
                            "longitude 8.507000\u00b0. Last fix "));
    EXPECT_THAT(
        Map().Fix().Text().toStdString(),
        testing::StartsWith("Last fix " + saved.toString("HH:mm:ss").toStdString() + ", 5 min"));
    WaitUntilReady();
    EXPECT_TRUE(WaitFor([&] { return RedPixelsAround(Picture(), Where(8.5058, 47.25), 3) > 3; }))
        << "no trail";

    Show(8.508, 47.2506);
    EXPECT_FALSE(track.LastKnown());
    EXPECT_EQ(track.Trail().size(), 32U);
    EXPECT_EQ(Map().Fix().Current(), Freshness::Fresh);
    EXPECT_TRUE(WaitFor([&] { return RedPixelsAround(Picture(), Where(8.508, 47.2506)) > 40; }));
}

// The age of the last fix every second, amber after two minutes and red after ten; the map's
// accessible description carries the position, that age and the direction of travel.
TEST_F(GlobeViewerTest, SaysHowFreshTheFixIsAndTellsAScreenReader) {
    const auto setNow = [this](const QDateTime& now) {
        clock_.wall = ClockPort::WallTime(std::chrono::milliseconds(now.toMSecsSinceEpoch()));
    };
    const QDateTime start(QDate(2026, 12, 7), QTime(14, 28, 54));
    setNow(start);
    Map().Fix().SetClock(clock_);
    WaitUntilReady();
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&Map());
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::Graphic);
    EXPECT_EQ(accessible->text(QAccessible::Name).toStdString(), "Globe");
    EXPECT_EQ(accessible->text(QAccessible::Description).toStdString(), "No position yet.");
    EXPECT_TRUE(globe_->Window()->Freshness()->text().isEmpty());

    Show(121.487086666667, 24.9981516666667);
    setNow(start.addSecs(4));
    Show(121.487086666667, 24.9981516666667 + 0.0003);  // 33 m north

    QLabel* label = globe_->Window()->Freshness();
    struct Step {
        int after;  // seconds since the last fix
        const char* text;
        Freshness freshness;
        const char* colour;  // of the background, "" for none
    };
    const Step steps[] = {
        {0, "Last fix 14:28:58, 0 s ago", Freshness::Fresh, ""},
        {12, "Last fix 14:28:58, 12 s ago", Freshness::Fresh, ""},
        {119, "Last fix 14:28:58, 1 min 59 s ago", Freshness::Fresh, ""},
        {120, "Last fix 14:28:58, 2 min 0 s ago", Freshness::Quiet, "#f0a000"},
        {600, "Last fix 14:28:58, 10 min 0 s ago", Freshness::Silent, "#c81414"},
        {7500, "Last fix 14:28:58, 2 h 5 min ago", Freshness::Silent, "#c81414"},
        {86400 + 3600, "Last fix 2026-12-07 14:28:58, 1 d 1 h ago", Freshness::Silent, "#c81414"},
    };
    const QDateTime fix = Map().Fix().Time();
    for (const Step& step : steps) {
        SCOPED_TRACE(step.text);
        setNow(fix.addSecs(step.after));
        Map().Fix().Tick();
        EXPECT_EQ(label->text().toStdString(), step.text);
        EXPECT_EQ(Map().Fix().Current(), step.freshness);
        EXPECT_EQ(Map().Track().CurrentFreshness(), step.freshness) << "the mark's ring";
        EXPECT_EQ(label->styleSheet().contains(QLatin1String("background")), *step.colour != 0);
        EXPECT_TRUE(label->styleSheet().contains(QLatin1String(step.colour)));
    }
    setNow(fix.addSecs(12));
    Map().Fix().Tick();
    EXPECT_EQ(accessible->text(QAccessible::Description).toStdString(),
              "Your Tracker: latitude 24.998452\u00b0, longitude 121.487087\u00b0. Last fix "
              "14:28:58, 12 s ago. Heading 0\u00b0 (north).");
    EXPECT_TRUE(label->styleSheet().isEmpty()) << "fresh again";

    // A listening screen reader is told of each new fix's description; with none listening,
    // nothing is sent.
    static std::vector<QObject*> told;
    told.clear();
    const QAccessible::UpdateHandler previous =
        QAccessible::installUpdateHandler([](QAccessibleEvent* event) {
            if (event->type() == QAccessible::DescriptionChanged) told.push_back(event->object());
        });
    Show(121.4, 24.9);
    QPlatformAccessibility* platform =
        QGuiApplicationPrivate::platformIntegration()->accessibility();
    ASSERT_NE(platform, nullptr);
    platform->setActive(true);  // as when a screen reader starts listening
    Show(121.3, 24.8);
    platform->setActive(false);
    QAccessible::installUpdateHandler(previous);
    EXPECT_EQ(told, std::vector<QObject*>{&Map()});

    // The ticking clock: the text goes up by itself, once a second, read from the clock.
    setNow(start.addSecs(3600));
    Show(121.5, 25.0);
    const QString first = label->text();
    setNow(start.addSecs(3601));
    EXPECT_TRUE(WaitFor([&] { return label->text() != first; }, 3000));
    EXPECT_THAT(label->text().toStdString(), testing::EndsWith(", 1 s ago"));
}

// The trail drawn in screen space, thin (thousands of arcs all over a globe seen whole, or so
// many that they fill its disc) and smooth (a few): every position in front is on it, and
// nothing lands beyond the globe's disc however the arcs run round its far side. What the thin
// drawing leaves out because it is drawn already is the same as what it would have drawn: the
// whole trail looks as its two halves drawn one over the other.
TEST(TrailDrawing, DrawsWhatIsInFrontAndNothingBeyondTheGlobe) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    constexpr double kDegree = std::numbers::pi / 180.0;
    constexpr int kRadius = 120;
    const QPoint centre(200, 150);
    for (const int count : {20000, 3000, 40}) {
        SCOPED_TRACE(count);
        std::deque<TrailPoint> trail;
        for (int i = 0; i < count; ++i) {
            const double lon = (unit(random) * 360.0 - 180.0) * kDegree;
            const double lat = std::asin(unit(random) * 2.0 - 1.0);
            trail.push_back({lon / kDegree, lat / kDegree, std::cos(lat) * std::cos(lon),
                             std::cos(lat) * std::sin(lon), std::sin(lat)});
        }
        const Marble::ViewportParams viewport(Marble::Spherical, 0.3, 0.5, kRadius,
                                              QSize(400, 300));
        const GlobeView view(viewport);
        TrailDrawing drawing;
        const auto draw = [&](const std::vector<std::deque<TrailPoint>>& parts) {
            QImage image(400, 300, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::white);
            QPainter painter(&image);
            for (const auto& part : parts) drawing.Draw(painter, view, part, kTrackRed);
            return image;
        };
        if (count > 40) {
            const auto half = trail.begin() + count / 2;
            EXPECT_EQ(draw({{trail.begin(), half + 1}, {half, trail.end()}}), draw({trail}));
        }
        const QImage image = draw({trail});
        EXPECT_EQ(drawing.Pieces() > kMostSmoothPieces, count > 40);
        int beyond = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (RedPixelsAround(image, QPoint(x, y), 0) == 0) continue;
                if (std::hypot(x - centre.x(), y - centre.y()) > kRadius + kTrailWidth) ++beyond;
            }
        }
        EXPECT_EQ(beyond, 0) << "drawn beyond the globe";
        int missing = 0;
        for (const TrailPoint& point : trail) {
            if (Dot(point.Unit(), view.Centre()) < 0.2) continue;
            if (RedPixelsAround(image, view.Screen(point.Unit()).toPoint(), 2) == 0) ++missing;
        }
        EXPECT_EQ(missing, 0) << "positions in front not on the trail";
    }
}

// A pointer on the mark shows the direction of travel, none after a move of GPS noise; under
// a projection other than the globe's, the trail and the mark are still where they belong.
TEST_F(GlobeViewerTest, ThePointerShowsTheDirectionOfTravel) {
    WaitUntilReady();
    const double lon = 2.2945;
    const double lat = 48.8584;
    const double metre = 1.0 / 111'320.0;
    Show(lon, lat);
    EXPECT_FALSE(Map().Track().Heading().has_value()) << "one position has no direction";
    const double east = lon + 30 * metre / std::cos(lat * std::numbers::pi / 180.0);
    Show(east, lat + 30 * metre);  // 42 m north-east
    ASSERT_TRUE(Map().Track().Heading().has_value());
    EXPECT_NEAR(*Map().Track().Heading(), 45.0, 0.5);
    const QPoint at = Where(east, lat + 30 * metre);
    const QPoint ahead = at + QPoint(12, -12);   // 17 px up and to the right
    const QPoint behind = at + QPoint(-12, 12);  // where the trail comes from
    EXPECT_TRUE(WaitFor([&] { return RedPixelsAround(Picture(), ahead, 2) > 8; })) << "no pointer";

    Show(east, lat + 32 * metre);  // 2 m: noise
    EXPECT_FALSE(Map().Track().Heading().has_value());
    EXPECT_TRUE(WaitFor([&] { return RedPixelsAround(Picture(), ahead, 2) == 0; }))
        << "a pointer after a move of GPS noise";

    Map().Map()->setProjection(Marble::Mercator);
    Map().update();
    EXPECT_TRUE(WaitFor([&] {
        const QImage picture = Picture();
        return RedPixelsAround(picture, Where(east, lat + 32 * metre)) > 40 &&
               RedPixelsAround(picture, behind, 2) > 3;
    })) << "no mark or trail under another projection";
}

TEST_F(GlobeViewerTest, ClosedWindowComesBackWithTheNextSnapshot) {
    WaitUntilReady();
    // Closed while the program runs its event loop: the program goes on.
    QWidget* window = globe_->Window();
    QTimer::singleShot(0, window, [window] { EXPECT_TRUE(window->close()); });
    QObject stopper;  // its timer goes with it
    QTimer::singleShot(300, &stopper, [] { QCoreApplication::exit(7); });
    EXPECT_EQ(QApplication::exec(), 7) << "closing the globe window ended the program";
    ASSERT_EQ(globe_->Window(), window) << "closing destroyed the window";
    EXPECT_FALSE(window->isVisible());
    EXPECT_NE(viewer_->IsViewerReady(), 0);

    Show(-74.0083333333333, 40.5);
    EXPECT_TRUE(window->isVisible());
    ExpectCentredOn(-74.0083333333333, 40.5);
}

TEST_F(GlobeViewerTest, ClosedBeforeReadyStillBecomesReady) {
    globe_->Window()->close();
    WaitUntilReady();
    EXPECT_FALSE(globe_->Window()->isVisible());
}

TEST_F(GlobeViewerTest, ShowKmlFileProcessesNoEvents) {
    WaitUntilReady();
    for (const bool closedFirst : {false, true}) {
        SCOPED_TRACE(closedFirst ? "window closed" : "window open");
        if (closedFirst) globe_->Window()->close();
        bool timerRan = false;
        bool eventDelivered = false;
        QTimer::singleShot(0, globe_, [&] { timerRan = true; });
        QObject receiver;  // a queued call is a posted event
        QMetaObject::invokeMethod(
            &receiver, [&] { eventDelivered = true; }, Qt::QueuedConnection);
        Show(0.0, 0.0);
        EXPECT_FALSE(timerRan);
        EXPECT_FALSE(eventDelivered);
        QCoreApplication::sendPostedEvents(&receiver);
        EXPECT_TRUE(eventDelivered);
        EXPECT_TRUE(WaitFor([&] { return timerRan; }));
    }
}

// The window, or the globe alone, destroyed under the viewer: calls fail, nothing is freed
// twice.
TEST_F(GlobeViewerTest, DestroyedWindowOrGlobeIsReportedAsFailure) {
    for (const bool windowGoes : {true, false}) {
        SCOPED_TRACE(windowGoes ? "window destroyed" : "globe destroyed");
        if (object_ == nullptr) Create();  // a fresh viewer for the second round
        WaitUntilReady();
        Show(1, 2);
        delete (windowGoes ? static_cast<QWidget*>(globe_->Window()) : globe_->Map());
        EXPECT_EQ(globe_->Map(), nullptr);
        EXPECT_FALSE(ViewerErrorOf([&] { viewer_->IsViewerReady(); }).empty());
        EXPECT_FALSE(ViewerErrorOf([&] { Show(3, 4); }).empty());
        object_.reset();
    }
}

// A part of the map whose data is missing for good.
class BrokenLayer : public Marble::LayerInterface {
  public:
    QStringList renderPosition() const override { return {QStringLiteral("SURFACE")}; }
    bool render(Marble::GeoPainter*, Marble::ViewportParams*, const QString&,
                Marble::GeoSceneLayer*) override {
        return true;
    }
    Marble::RenderState renderState() const override {
        return Marble::RenderState(QStringLiteral("Broken layer"), Marble::Incomplete);
    }
};

// Polls `viewer`, events running between polls, until it fails (a minute at most): the failure's
// message ("ready" should it get ready instead, "" should it still wait).
std::string ReadyFailure(ViewerAutomation& viewer) {
    std::string message;
    const auto failed = [&] {
        message = ViewerErrorOf([&] {
            if (viewer.IsViewerReady() != 0) throw ViewerError("ready");
        });
        return !message.empty();
    };
    WaitFor(failed, 60'000);
    return message;
}

TEST_F(GlobeViewerTest, MapThatCannotCompleteIsAFailureNotAnEndlessWait) {
    BrokenLayer broken;
    Map().Map()->addLayer(&broken);
    EXPECT_THAT(ReadyFailure(*viewer_), testing::HasSubstr("missing: Broken layer"));
    Map().Map()->removeLayer(&broken);
}

// Map data that never finishes loading (here a file that does not exist, which Marble waits
// for forever) ends in a failure with a reason, not an endless wait.
TEST_F(GlobeViewerTest, MapDataThatNeverLoadsIsAFailureWithinTheLimit) {
    object_.reset();
    GlobeViewer viewer(nullptr, std::chrono::seconds(3));
    viewer.Map()->Model()->fileManager()->addFile(QStringLiteral("naturalearth/absent.pn2"),
                                                  QString(), {}, Marble::MapDocument);
    EXPECT_EQ(ReadyFailure(viewer), "The globe's map did not finish loading within 3 s");
}

// Where the offline map's theme cannot be written (as with a read-only home: a file where a
// folder should be; as root, permission bits would not stop the writes), the globe still
// becomes ready: on its own map from a private temporary folder or, without one, on the
// installed plain map.
TEST_F(GlobeViewerTest, UnwritableMapFolderStillGivesAGlobe) {
    object_.reset();
    const QString data = QDir::homePath() + QStringLiteral("/.local/share");
    const QString userMaps = data + QStringLiteral("/marble");
    const QByteArray tmp = qgetenv("TMPDIR");
    const QString notAFolder = WriteFile(dir_.filePath("not-a-folder"), "x");
    struct Case {
        const char* label;
        QString file;  // made a plain file
        bool noTemp;   // no temporary folder either
        const char* theme;
    };
    // Without a temporary folder first: once made, this process keeps using it.
    const Case cases[] = {
        {"no temporary folder either", userMaps, true, "earth/plain/plain.dgml"},
        {"Marble's user folder a file", userMaps, false, kOfflineMapTheme},
        {"the theme's folder a file", userMaps + "/maps/earth/vostrel-offline", false,
         kOfflineMapTheme},
        {"the data folder a file", data, false, kOfflineMapTheme},
    };
    QString temporary;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        QDir(userMaps).removeRecursively();
        QDir(c.file).removeRecursively();
        QDir().mkpath(QFileInfo(c.file).path());
        WriteFile(c.file, "not a folder");
        if (c.noTemp) qputenv("TMPDIR", QFile::encodeName(notAFolder));
        Create();
        EXPECT_EQ(Map().MapThemeId().toStdString(), c.theme);
        WaitUntilReady();
        EXPECT_EQ(Marble::MarbleDirs::localPath().startsWith(QDir::homePath()), c.noTemp);
        if (!c.noTemp) temporary = Marble::MarbleDirs::localPath();
        object_.reset();
        QFile::remove(c.file);
        qunsetenv("XDG_DATA_HOME");
        tmp.isEmpty() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", tmp);
    }
    // Every way out of the program removes the temporary folder (it is not left in /tmp).
    ASSERT_TRUE(QFileInfo::exists(temporary));
    RemoveTemporaryMapFolder();
    EXPECT_FALSE(QFileInfo::exists(temporary));
}

// ------------------------------------------------------------------------------------------
// The network

TEST(NetGuard, RefusesAndRecordsAddressesBeyondThisMachine) {
    test::ClearNetActivity();
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(80);
    address.sin_addr.s_addr = htonl(0xC0000201);  // 192.0.2.1, documentation only
    EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), -1);
    ::close(fd);
    addrinfo* found = nullptr;
    EXPECT_NE(::getaddrinfo("tile.example.org", "80", nullptr, &found), 0);
    const test::NetRecord record = test::NetActivity();
    EXPECT_EQ(record.connects, std::vector<std::string>{"192.0.2.1:80 refused"});
    EXPECT_EQ(record.lookups, std::vector<std::string>{"tile.example.org refused"});
}

TEST_F(GlobeViewerTest, WithTheStreetMapOffNothingGoesToTheNetwork) {
    object_.reset();  // from its very start
    test::ClearNetActivity();
    Create();
    WaitUntilReady();
    for (int i = 0; i < 10; ++i) Show(13.4 + i * 0.01, 52.5);
    Map().Zoom(-5);
    Map().Zoom(8);
    QTest::qWait(500);
    EXPECT_THAT(test::NetActivity().connects, testing::IsEmpty());
    EXPECT_THAT(test::NetActivity().lookups, testing::IsEmpty());
}

int GreenPixels(const QImage& image) {
    int green = 0;
    for (int y = 0; y < image.height(); y += 4) {
        for (int x = 0; x < image.width(); x += 4) {
            const QColor c = image.pixelColor(x, y);
            if (c.green() > 180 && c.red() < 80 && c.blue() < 80) ++green;
        }
    }
    return green;
}

// On request only, remembered, tiles from the loopback server kept on disk so they show again
// with the server gone; start-up never waits for the network.
TEST_F(GlobeViewerTest, StreetMapOnRequestFromTheTileServerRememberedAndCached) {
    LoopbackTileServer tiles;
    ASSERT_TRUE(tiles.Listening());
    ASSERT_EQ(InstallLoopbackStreetTheme(tiles.Port()).toStdString(), "");
    WaitUntilReady();
    Show(2.2945, 48.8584);
    test::ClearNetActivity();

    globe_->Window()->StreetMapSwitch()->click();
    EXPECT_TRUE(Map().StreetMap());
    EXPECT_EQ(Map().MapThemeId().toStdString(), kStreetMapTheme);
    EXPECT_FALSE(Map().Model()->workOffline());
    EXPECT_TRUE(Map().Attribution()->isVisible());
    EXPECT_EQ(Map().Attribution()->text(), QString::fromUtf8("\u00a9 OpenStreetMap contributors"));
    ASSERT_TRUE(WaitFor([&] { return GreenPixels(Picture()) > 5000; }, 20000))
        << tiles.Requests().size() << " tiles served";
    EXPECT_GT(RedPixelsAround(Picture(), Where(2.2945, 48.8584)), 40) << "mark under the tiles";
    ASSERT_FALSE(tiles.Requests().empty());
    const QString agent = tiles.Requests().front().userAgent;
    // The program's own name and version first, then the map library's.
    EXPECT_THAT(agent.toStdString(),
                testing::AllOf(testing::StartsWith(std::string("Vostrel/") + kVersion + " ("),
                               testing::HasSubstr(" Marble/")));
    // The guard sees the map library's own connections: these, and nothing else.
    EXPECT_THAT(test::NetActivity().connects,
                testing::AllOf(testing::Not(testing::IsEmpty()),
                               testing::Each("127.0.0.1:" + std::to_string(tiles.Port()))));
    QSettings settings(QStringLiteral("Vostrel"), QStringLiteral("vostrel"));
    EXPECT_EQ(settings.fileName(), QDir::homePath() + "/.config/Vostrel/vostrel.conf");
    EXPECT_EQ(settings.value(QStringLiteral("globe/streetMap")).toString(), "true");

    // The next run, with no tile server: ready on offline data, then the street map from the
    // tiles kept on disk.
    tiles.Close();
    Create();
    EXPECT_EQ(Map().MapThemeId().toStdString(), kOfflineMapTheme);
    WaitUntilReady();
    EXPECT_TRUE(globe_->Window()->StreetMapSwitch()->isChecked());
    EXPECT_EQ(Map().MapThemeId().toStdString(), kStreetMapTheme);
    Show(2.2945, 48.8584);
    EXPECT_TRUE(WaitFor([&] { return GreenPixels(Picture()) > 5000; }, 20000));

    globe_->Window()->StreetMapSwitch()->click();
    EXPECT_EQ(Map().MapThemeId().toStdString(), kOfflineMapTheme);
    EXPECT_TRUE(Map().Model()->workOffline());
    EXPECT_FALSE(Map().Attribution()->isVisible());
    EXPECT_TRUE(WaitFor([&] { return TownNamesLoaded(); }, 20000)) << "towns back offline";
    settings.sync();
    EXPECT_EQ(settings.value(QStringLiteral("globe/streetMap")).toString(), "false");
}

// A hostile or broken tile server costs the street map the tiles it spoils, nothing more:
// oversized, endless and dripping replies are cut off, a small picture of a huge image is never
// decoded, nor anything but PNG and JPEG, a compressed reply is not inflated, a reply that never
// ends in time is dropped, a redirect leads nowhere but to the same server, a few times; none of
// them reaches the tile cache on disk, no other server is asked, and good tiles still show. The
// cache on disk is held to its limit, and what it holds that is no tile is gone at start. With
// no tiles at all, a line says so and the offline map shows, with its grid.
TEST_F(GlobeViewerTest, HostileTileServerCostsOnlyItsTiles) {
    LoopbackTileServer tiles;
    LoopbackTileServer other;
    ASSERT_TRUE(tiles.Listening() && other.Listening());
    ASSERT_EQ(InstallLoopbackStreetTheme(tiles.Port()).toStdString(), "");
    const QString cache =
        QDir::homePath() + QStringLiteral("/.local/share/marble/maps/earth/openstreetmap");
    // Left from a run before: an SVG and a FIFO under tiles' names.
    const QString svg = cache + "/15/2/1.png";
    const QString fifo = cache + "/15/2/2.png";
    QDir().mkpath(QFileInfo(svg).path());
    WriteFile(svg, NestedSvgTile().toStdString());
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    Create();
    // Left from earlier runs: 180 MiB of tiles (sparse files), over the limit.
    const QStringList earlier = {cache + "/15/1/1.png", cache + "/15/1/2.png",
                                 cache + "/15/1/3.png"};
    for (const QString& name : earlier) {
        QDir().mkpath(QFileInfo(name).path());
        QFile old(name);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.resize(60 << 20));
    }
    TileGuard& guard = TileGuard::Instance();
    const TileLimits limits = guard.Limits();
    TileLimits quick = limits;
    quick.deadline = std::chrono::seconds(2);  // for slow replies only: a loaded machine

    WaitUntilReady();
    Show(2.2945, 48.8584);
    globe_->Window()->StreetMapSwitch()->click();
    ASSERT_TRUE(WaitFor([&] { return GreenPixels(Picture()) > 5000; }, 20000));
    EXPECT_TRUE(
        WaitFor([&] { return BytesUnder(cache) <= qint64{kTileCacheLimitKiB} * 1024; }, 20000))
        << BytesUnder(cache) << " bytes in the tile cache";
    EXPECT_FALSE(QFileInfo::exists(svg) || QFileInfo::exists(fifo)) << "not tiles, still kept";
    test::ClearNetActivity();

    const QString fifoTarget = dir_.filePath("tile.fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifoTarget).constData(), 0600), 0);
    const QByteArray big = "file://" + QFile::encodeName(QCoreApplication::applicationFilePath());
    const QByteArray elsewhere = "http://127.0.0.1:" + QByteArray::number(other.Port()) + "/1.png";
    struct Case {
        const char* what;
        TileReply reply;
        TileRefusal refusal;
        double longitude, latitude;  // somewhere no tile was fetched yet
        QByteArray redirect = {};
    };
    const Case cases[] = {
        {"oversized", TileReply::Oversized, TileRefusal::TooLarge, 13.405, 52.52},
        {"endless", TileReply::Endless, TileRefusal::TooLarge, -3.7038, 40.4168},
        {"huge image", TileReply::HugeImage, TileRefusal::PictureTooLarge, 12.4964, 41.9028},
        {"slow", TileReply::Slow, TileRefusal::TooSlow, 18.0686, 59.3293},
        {"dripping", TileReply::Drip, TileRefusal::TooSlow, 19.0402, 47.4979},
        {"SVG", TileReply::Svg, TileRefusal::NotATile, 16.3738, 48.2082},
        {"gzip bomb", TileReply::GzipBomb, TileRefusal::Compressed, 21.0122, 52.2297},
        {"to a file", TileReply::Redirect, TileRefusal::Redirected, -6.2603, 53.3498, big},
        {"to a FIFO", TileReply::Redirect, TileRefusal::Redirected, 24.9384, 60.1699,
         "file://" + QFile::encodeName(fifoTarget)},
        {"elsewhere", TileReply::Redirect, TileRefusal::Redirected, 12.5683, 55.6761, elsewhere},
        {"a loop", TileReply::RedirectLoop, TileRefusal::Redirected, -9.1393, 38.7223},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StreetMapAgain();
        const int before = guard.Refused(c.refusal);
        tiles.SetRedirect(c.redirect);
        tiles.SetReply(c.reply);
        guard.SetLimits(c.reply == TileReply::Slow || c.reply == TileReply::Drip ? quick : limits);
        Show(c.longitude, c.latitude);
        const auto refused = [&] {
            if (guard.Refused(c.refusal) > before) return true;
            if (Map().ShowsOfflineInstead()) StreetMapAgain();  // the row before failed late
            return false;
        };
        EXPECT_TRUE(WaitFor(refused, 20000));
        tiles.SetReply(TileReply::Picture, 0);
        tiles.DropConnections();
        QTest::qWait(200);  // the replies cut off have failed
    }
    EXPECT_TRUE(other.Requests().empty());
    EXPECT_THAT(test::NetActivity().connects,
                testing::Each("127.0.0.1:" + std::to_string(tiles.Port())));
    QDirIterator files(cache, QDir::Files | QDir::System, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString file = files.next();
        if (file.endsWith(QLatin1String(".dgml")) || earlier.contains(file)) continue;
        EXPECT_LE(files.fileInfo().size(), limits.maxBytes) << file.toStdString();
        QFile tile(file);
        EXPECT_TRUE(
            !QRegularExpression(QStringLiteral("/\\d+/\\d+/\\d+\\.png$")).match(file).hasMatch() ||
            (tile.open(QIODevice::ReadOnly) && IsTilePicture(tile.read(8))))
            << file.toStdString();
        const QSize size = QImageReader(file).size();
        EXPECT_LE(std::max(size.width(), size.height()), limits.maxSide) << file.toStdString();
    }
    StreetMapAgain();
    Show(2.2945, 48.8584);
    EXPECT_TRUE(WaitFor([&] { return GreenPixels(Picture()) > 5000; }, 20000))
        << "good tiles no longer show";
    EXPECT_FALSE(globe_->Window()->TileStatus()->isVisible());

    // No server at all: the line, and the offline map with its grid in the street map's place.
    tiles.Close();
    tiles.DropConnections();  // no tile still on its way comes after
    Show(-0.1276, 51.5072);
    EXPECT_TRUE(WaitFor([&] { return globe_->Window()->TileStatus()->isVisible(); }, 20000));
    EXPECT_EQ(globe_->Window()->TileStatus()->text().toStdString(), kNoTilesText);
    EXPECT_EQ(Map().MapThemeId().toStdString(), kOfflineMapTheme);
    EXPECT_TRUE(Map().Map()->showGrid());
    EXPECT_TRUE(globe_->Window()->StreetMapSwitch()->isChecked());
    guard.SetLimits(limits);
}

}  // namespace
}  // namespace vostrel
