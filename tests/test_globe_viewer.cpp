// The globe viewer: its KML reader, and the real Marble viewer driven the way the server drives
// it (created by identifier, polled until ready, asked to show snapshots).
#include <gtest/gtest.h>
#include <marble/GeoDataDocument.h>
#include <marble/GeoDataLineString.h>
#include <marble/GeoDataPlacemark.h>
#include <marble/GeoDataTreeModel.h>
#include <marble/LayerInterface.h>
#include <marble/MarbleModel.h>
#include <marble/MarbleWidget.h>
#include <marble/RenderState.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <string>
#include <vector>

#include "output/GlobeViewer.h"

namespace vostrel {
namespace {

using Marble::GeoDataCoordinates;

std::string SnapshotBytes(const char* coordinates, const char* ns = kKmlNamespace) {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n") + "<kml xmlns=\"" + ns +
           "\">\r\n<Document>\r\n<name>Vostrel Demo</name>\r\n"
           "<description>Last reported position</description>\r\n<Placemark>\r\n"
           "<name>Your Tracker</name>\r\n<Point>\r\n<coordinates>" +
           coordinates + "</coordinates>\r\n</Point>\r\n</Placemark>\r\n</Document>\r\n</kml>\r\n";
}

QString WriteFile(const QTemporaryDir& dir, const QString& name, const std::string& bytes) {
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return path;
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
    return path;
}

// Runs `call`, which must throw ViewerError, and returns its message ("" if nothing thrown).
template <typename Call>
std::string ViewerErrorOf(Call call) {
    try {
        call();
    } catch (const ViewerError& error) {
        return error.what();
    }
    return "";
}

// ------------------------------------------------------------------------------------------
// The reader

struct ReadCase {
    const char* label;
    std::string bytes;
    QString name;
    double longitude;
    double latitude;
};

TEST(ReadKmlPlacemark, ReadsTheFirstPointPlacemark) {
    const std::vector<ReadCase> cases = {
        {"snapshot", SnapshotBytes("121.487086666667,24.9981516666667,0"), "Your Tracker",
         121.487086666667, 24.9981516666667},
        {"origin", SnapshotBytes("0.0,0.0,0"), "Your Tracker", 0.0, 0.0},
        {"west and north", SnapshotBytes("-74.0083333333333,40.5,0"), "Your Tracker",
         -74.0083333333333, 40.5},
        {"ogc namespace", SnapshotBytes("8.5,-47.25,0", kOgcKmlNamespace), "Your Tracker", 8.5,
         -47.25},
        {"exponent form", SnapshotBytes("5e-05,-1.5E-5,0"), "Your Tracker", 5e-05, -1.5e-05},
        {"no altitude, spaces and line ends", SnapshotBytes("\r\n  10.25 , 20.5\r\n "),
         "Your Tracker", 10.25, 20.5},
        {"edges of the range", SnapshotBytes("-180,90,0"), "Your Tracker", -180.0, 90.0},
        {"prefixed, nested, first Point wins",
         "<k:kml xmlns:k=\"http://www.opengis.net/kml/2.2\"><k:Document><k:Folder>"
         "<k:Placemark><k:name>Road</k:name><k:LineString><k:coordinates>1,1 2,2"
         "</k:coordinates></k:LineString></k:Placemark>"
         "<k:Placemark><k:name> Car </k:name><k:MultiGeometry><k:Point><k:coordinates>3,4"
         "</k:coordinates></k:Point></k:MultiGeometry></k:Placemark>"
         "<k:Placemark><k:name>Later</k:name><k:Point><k:coordinates>5,6</k:coordinates>"
         "</k:Point></k:Placemark></k:Folder></k:Document></k:kml>",
         "Car", 3.0, 4.0},
        {"unnamed, foreign elements ignored",
         "<kml xmlns=\"http://earth.google.com/kml/2.2\" xmlns:x=\"urn:x\"><Placemark>"
         "<x:name>not this</x:name><Point><x:coordinates>9,9</x:coordinates>"
         "<coordinates>-1.5,2.5,100</coordinates></Point></Placemark></kml>",
         "", -1.5, 2.5},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.label);
        const QString path = WriteFile(dir, "case.kml", c.bytes);
        KmlPosition position;
        ASSERT_NO_THROW(position = ReadKmlPlacemark(path));
        EXPECT_EQ(position.name.toStdString(), c.name.toStdString());
        EXPECT_DOUBLE_EQ(position.longitude, c.longitude);
        EXPECT_DOUBLE_EQ(position.latitude, c.latitude);
    }
}

struct RejectCase {
    const char* label;
    const char* bytes;  // nullptr: no such file
    const char* reason;
};

TEST(ReadKmlPlacemark, RefusesWhatItCannotShowWithPathAndReason) {
    const std::string valid = SnapshotBytes("1,2,0");
    const std::string truncated = valid.substr(0, valid.size() - 8);
    const std::string afterPoint = valid.substr(0, valid.find("</Document>")) + "<x></Document>";
    const std::vector<RejectCase> cases = {
        {"missing file", nullptr, "does not exist"},
        {"empty file", "", "empty"},
        {"not XML", "GPRMC,1,2,3", "not well-formed XML"},
        {"truncated", truncated.c_str(), "not well-formed XML"},
        {"broken after the placemark", afterPoint.c_str(), "not well-formed XML"},
        {"html root", "<html><body>Your Tracker</body></html>", "root element is <html>"},
        {"kml root in a foreign namespace", "<kml xmlns=\"urn:not-kml\"><Placemark/></kml>",
         "namespace 'urn:not-kml'"},
        {"kml root without namespace", "<kml><Placemark/></kml>", "namespace ''"},
        {"older KML namespace", "<kml xmlns=\"http://earth.google.com/kml/2.1\"/>",
         "namespace 'http://earth.google.com/kml/2.1'"},
        {"no placemark", "<kml xmlns=\"http://earth.google.com/kml/2.2\"><Document/></kml>",
         "no placemark with a Point"},
        {"placemark without Point",
         "<kml xmlns=\"http://earth.google.com/kml/2.2\"><Placemark><name>Road</name>"
         "<LineString><coordinates>1,1 2,2</coordinates></LineString></Placemark></kml>",
         "no placemark with a Point"},
        {"Point without coordinates",
         "<kml xmlns=\"http://earth.google.com/kml/2.2\"><Placemark><Point/></Placemark></kml>",
         "has no coordinates"},
    };
    const std::vector<std::pair<const char*, const char*>> badCoordinates = {
        {"", "empty"},
        {"121.5", "not longitude,latitude"},
        {"1,2,3,4", "not longitude,latitude"},
        {"1,2 3,4", "more than one coordinate tuple"},
        {"121,5;24,9", "latitude '5;24' is not a number"},
        {"abc,24.9", "longitude 'abc' is not a number"},
        {"121.5,", "latitude '' is not a number"},
        {"nan,1", "not a number"},
        {"1,inf", "not a number"},
        {"1,2,high", "altitude 'high' is not a number"},
        {"180.0000001,0", "outside -180..180"},
        {"-181,0", "outside -180..180"},
        {"0,90.5", "outside -90..90"},
        {"0,-1e3", "outside -90..90"},
    };
    std::vector<std::string> bytes;  // keeps the texts of the coordinate cases alive
    bytes.reserve(badCoordinates.size());
    std::vector<RejectCase> all = cases;
    for (const auto& [coordinates, reason] : badCoordinates) {
        bytes.push_back(SnapshotBytes(coordinates));
        all.push_back({coordinates, bytes.back().c_str(), reason});
    }

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const RejectCase& c : all) {
        SCOPED_TRACE(c.label);
        const QString path =
            c.bytes == nullptr ? dir.filePath("absent.kml") : WriteFile(dir, "case.kml", c.bytes);
        const std::string message = ViewerErrorOf([&] { ReadKmlPlacemark(path); });
        EXPECT_NE(message.find(path.toStdString() + ": "), std::string::npos) << message;
        EXPECT_NE(message.find(c.reason), std::string::npos) << message;
    }
    const std::string folder = ViewerErrorOf([&] { ReadKmlPlacemark(dir.path()); });
    EXPECT_NE(folder.find("folder"), std::string::npos) << folder;
}

// ------------------------------------------------------------------------------------------
// The viewer

std::vector<const Marble::GeoDataPlacemark*> PlacemarksNamed(const Marble::GeoDataContainer& in,
                                                             const QString& name) {
    std::vector<const Marble::GeoDataPlacemark*> found;
    for (const Marble::GeoDataFeature* feature : in.featureList()) {
        if (const auto* placemark = dynamic_cast<const Marble::GeoDataPlacemark*>(feature)) {
            if (placemark->name() == name) found.push_back(placemark);
        } else if (const auto* container = dynamic_cast<const Marble::GeoDataContainer*>(feature)) {
            const auto inner = PlacemarksNamed(*container, name);
            found.insert(found.end(), inner.begin(), inner.end());
        }
    }
    return found;
}

class GlobeViewerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        RegisterGlobeViewer(registry_);
        ASSERT_TRUE(registry_.Contains(kGlobeViewerProgId));
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

    void Settle() {
        for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    }

    QString Snapshot(const char* coordinates) {
        return WriteFile(dir_, QStringLiteral("vo_demo.kml"), SnapshotBytes(coordinates));
    }

    std::vector<const Marble::GeoDataPlacemark*> Trackers() const {
        return PlacemarksNamed(*globe_->Map()->model()->treeModel()->rootDocument(),
                               QStringLiteral("Your Tracker"));
    }

    // The line placemarks beside the tracker's placemark: its trail.
    std::vector<const Marble::GeoDataLineString*> Trails() const {
        std::vector<const Marble::GeoDataLineString*> lines;
        const auto trackers = Trackers();
        if (trackers.empty()) return lines;
        const auto* document = dynamic_cast<const Marble::GeoDataContainer*>(trackers[0]->parent());
        if (document == nullptr) return lines;
        for (const Marble::GeoDataFeature* feature : document->featureList()) {
            const auto* placemark = dynamic_cast<const Marble::GeoDataPlacemark*>(feature);
            if (placemark == nullptr) continue;
            if (const auto* line =
                    dynamic_cast<const Marble::GeoDataLineString*>(placemark->geometry())) {
                lines.push_back(line);
            }
        }
        return lines;
    }

    // The placemark's mark is red; the map around it has no red.
    int RedPixelsAtCentre() const {
        const QImage image = globe_->Map()->grab().toImage();
        const QPoint middle(image.width() / 2, image.height() / 2);
        int red = 0;
        for (int dy = -6; dy <= 6; ++dy) {
            for (int dx = -6; dx <= 6; ++dx) {
                const QColor c = image.pixelColor(middle + QPoint(dx, dy));
                if (c.red() > 180 && c.green() < 80 && c.blue() < 80) ++red;
            }
        }
        return red;
    }

    static void ExpectAt(const GeoDataCoordinates& where, double longitude, double latitude) {
        EXPECT_NEAR(where.longitude(GeoDataCoordinates::Degree), longitude, 1e-9);
        EXPECT_NEAR(where.latitude(GeoDataCoordinates::Degree), latitude, 1e-9);
    }

    void ExpectCentredOn(double longitude, double latitude) {
        EXPECT_NEAR(globe_->Map()->centerLongitude(), longitude, 1e-6);
        EXPECT_NEAR(globe_->Map()->centerLatitude(), latitude, 1e-6);
    }

    QTemporaryDir dir_;
    ComponentRegistry registry_;
    std::unique_ptr<QObject> object_;
    ViewerAutomation* viewer_ = nullptr;
    GlobeViewer* globe_ = nullptr;
};

TEST_F(GlobeViewerTest, StartsWithItsWindowAndBecomesReadyByEventProcessing) {
    QWidget* window = globe_->Window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle().toStdString(), "Globe Viewer");
    EXPECT_EQ(globe_->Map()->mapThemeId().toStdString(), kGlobeMapTheme);
    EXPECT_TRUE(globe_->Map()->model()->workOffline());
    EXPECT_EQ(viewer_->IsViewerReady(), 0) << "ready before anything was loaded or drawn";
    WaitUntilReady();
    EXPECT_EQ(globe_->Map()->renderStatus(), Marble::Complete);
    EXPECT_NE(viewer_->IsViewerReady(), 0) << "ready does not stay ready";
}

TEST_F(GlobeViewerTest, ShowsTheSnapshotCentredWithItsPlacemark) {
    WaitUntilReady();
    viewer_->ShowKmlFile(Snapshot("121.487086666667,24.9981516666667,0"), 1);

    EXPECT_TRUE(globe_->Window()->isVisible());
    ExpectCentredOn(121.487086666667, 24.9981516666667);
    EXPECT_LT(globe_->Map()->distance(), 200.0) << "too far out to see the towns around";
    const auto trackers = Trackers();
    ASSERT_EQ(trackers.size(), 1U);
    ExpectAt(trackers[0]->coordinate(), 121.487086666667, 24.9981516666667);

    Settle();
    EXPECT_GT(RedPixelsAtCentre(), 40) << "no placemark drawn at the centre";
}

TEST_F(GlobeViewerTest, RefusesBrokenFilesAndKeepsWhatItShows) {
    WaitUntilReady();
    viewer_->ShowKmlFile(Snapshot("8.5,47.25,0"), 1);

    const QString missing = dir_.filePath("absent.kml");
    const QString malformed =
        WriteFile(dir_, "broken.kml", "<kml xmlns=\"http://earth.google.com/kml/2.2\"><Placemark>");
    const QString outside = WriteFile(dir_, "outside.kml", SnapshotBytes("200,47.25,0"));
    for (const QString& path : {missing, malformed, outside}) {
        SCOPED_TRACE(path.toStdString());
        const std::string message = ViewerErrorOf([&] { viewer_->ShowKmlFile(path, 1); });
        EXPECT_NE(message.find(path.toStdString() + ": "), std::string::npos) << message;
        const auto trackers = Trackers();
        ASSERT_EQ(trackers.size(), 1U);
        ExpectAt(trackers[0]->coordinate(), 8.5, 47.25);
        ExpectCentredOn(8.5, 47.25);
        ASSERT_EQ(Trails().size(), 1U);
        EXPECT_EQ(Trails()[0]->size(), 1);
    }
    // Any other flag value also reports by throwing.
    EXPECT_FALSE(ViewerErrorOf([&] { viewer_->ShowKmlFile(missing, 0); }).empty());
}

TEST_F(GlobeViewerTest, NextSnapshotMovesThePlacemarkAndExtendsTheTrail) {
    WaitUntilReady();
    viewer_->ShowKmlFile(Snapshot("121.487086666667,24.9981516666667,0"), 1);
    viewer_->ShowKmlFile(Snapshot("121.5,25.0333333333333,0"), 1);
    viewer_->ShowKmlFile(Snapshot("121.5,25.0333333333333,0"), 1);  // same place again
    Settle();

    const auto trackers = Trackers();
    ASSERT_EQ(trackers.size(), 1U);
    ExpectAt(trackers[0]->coordinate(), 121.5, 25.0333333333333);
    ExpectCentredOn(121.5, 25.0333333333333);
    const auto trails = Trails();
    ASSERT_EQ(trails.size(), 1U);
    ASSERT_EQ(trails[0]->size(), 2);
    ExpectAt(trails[0]->at(0), 121.487086666667, 24.9981516666667);
    ExpectAt(trails[0]->at(1), 121.5, 25.0333333333333);

    // Across the date line the trail goes on; after a far jump the placemark is drawn at the
    // new place, and there is still only one.
    viewer_->ShowKmlFile(Snapshot("-179.5,-16.5,0"), 1);
    EXPECT_EQ(Trackers().size(), 1U);
    EXPECT_EQ(Trails()[0]->size(), 3);
    Settle();
    EXPECT_GT(RedPixelsAtCentre(), 40) << "the placemark was not redrawn at its new place";
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

    viewer_->ShowKmlFile(Snapshot("-74.0083333333333,40.5,0"), 1);
    EXPECT_TRUE(window->isVisible());
    ExpectCentredOn(-74.0083333333333, 40.5);
}

TEST_F(GlobeViewerTest, ClosedBeforeReadyStillBecomesReady) {
    globe_->Window()->close();
    WaitUntilReady();
    EXPECT_FALSE(globe_->Window()->isVisible());
}

class MarkEvent : public QEvent {
  public:
    explicit MarkEvent(bool* ran) : QEvent(QEvent::User), ran_(ran) {}
    ~MarkEvent() override { *ran_ = true; }  // runs when the event is delivered (or dropped)

  private:
    bool* ran_;
};

TEST_F(GlobeViewerTest, ShowKmlFileProcessesNoEvents) {
    WaitUntilReady();
    const QString path = Snapshot("0.0,0.0,0");
    for (const bool closedFirst : {false, true}) {
        SCOPED_TRACE(closedFirst ? "window closed" : "window open");
        if (closedFirst) globe_->Window()->close();
        bool timerRan = false;
        bool eventDelivered = false;
        QTimer::singleShot(0, globe_, [&] { timerRan = true; });
        QObject receiver;
        QCoreApplication::postEvent(&receiver, new MarkEvent(&eventDelivered));
        viewer_->ShowKmlFile(path, 1);
        EXPECT_FALSE(timerRan);
        EXPECT_FALSE(eventDelivered);
        QCoreApplication::sendPostedEvents(&receiver);
        EXPECT_TRUE(eventDelivered);
        Settle();
        EXPECT_TRUE(timerRan);
    }
}

// The window, or the globe alone, destroyed under the viewer: calls fail, nothing is freed
// twice (the globe's model deletes what is left in it).
TEST_F(GlobeViewerTest, DestroyedWindowOrGlobeIsReportedAsFailure) {
    for (const bool windowGoes : {true, false}) {
        SCOPED_TRACE(windowGoes ? "window destroyed" : "globe destroyed");
        if (object_ == nullptr) SetUp();  // a fresh viewer for the second round
        WaitUntilReady();
        viewer_->ShowKmlFile(Snapshot("1,2,0"), 1);
        if (windowGoes) {
            delete globe_->Window();
        } else {
            delete globe_->Map();
        }
        EXPECT_EQ(globe_->Map(), nullptr);
        EXPECT_FALSE(ViewerErrorOf([&] { viewer_->IsViewerReady(); }).empty());
        EXPECT_FALSE(ViewerErrorOf([&] { viewer_->ShowKmlFile(Snapshot("3,4,0"), 1); }).empty());
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

TEST_F(GlobeViewerTest, MapThatCannotCompleteIsAFailureNotAnEndlessWait) {
    BrokenLayer broken;
    globe_->Map()->addLayer(&broken);
    std::string message;
    QElapsedTimer clock;
    clock.start();
    while (message.empty() && clock.elapsed() < 60'000) {
        message = ViewerErrorOf([&] {
            if (viewer_->IsViewerReady() != 0) throw ViewerError("ready");
        });
        QCoreApplication::processEvents();
    }
    globe_->Map()->removeLayer(&broken);
    EXPECT_NE(message.find("missing: Broken layer"), std::string::npos) << message;
}

}  // namespace
}  // namespace vostrel
