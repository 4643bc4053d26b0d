// The KML snapshot reader, without an application object.
#include <gmock/gmock.h>
#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

#include "globe/KmlReader.h"
#include "kit/PlainKit.h"

namespace vostrel {
namespace {

using test::ViewerErrorOf;
using testing::HasSubstr;

std::string SnapshotBytes(const char* coordinates, const char* ns = kKmlNamespace) {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n") + "<kml xmlns=\"" + ns +
           "\">\r\n<Document>\r\n<name>Vostrel Demo</name>\r\n"
           "<description>Last reported position</description>\r\n<Placemark>\r\n"
           "<name>Your Tracker</name>\r\n<Point>\r\n<coordinates>" +
           coordinates + "</coordinates>\r\n</Point>\r\n</Placemark>\r\n</Document>\r\n</kml>\r\n";
}

// `bytes` in a file of `dir`; its path.
QString WriteFile(const test::ScratchDir& dir, const std::string& bytes) {
    return QString::fromStdString(test::WriteFile(dir.File("case.kml"), bytes));
}

struct ReadCase {
    const char* label;
    std::string bytes;
    double longitude;
    double latitude;
    QString name = "Your Tracker";  // the snapshot's own, unless the case gives another
};

TEST(ReadKmlPlacemark, ReadsTheFirstPointPlacemark) {
    const std::vector<ReadCase> cases = {
        {"snapshot", SnapshotBytes("121.487086666667,24.9981516666667,0"), 121.487086666667,
         24.9981516666667},
        {"origin", SnapshotBytes("0.0,0.0,0"), 0.0, 0.0},
        {"west and north", SnapshotBytes("-74.0083333333333,40.5,0"), -74.0083333333333, 40.5},
        {"ogc namespace", SnapshotBytes("8.5,-47.25,0", kOgcKmlNamespace), 8.5, -47.25},
        {"exponent form", SnapshotBytes("5e-05,-1.5E-5,0"), 5e-05, -1.5e-05},
        {"no altitude, spaces and line ends", SnapshotBytes("\r\n  10.25 , 20.5\r\n "), 10.25,
         20.5},
        {"edges of the range", SnapshotBytes("-180,90,0"), -180.0, 90.0},
        {"prefixed, nested, first Point wins",
         "<k:kml xmlns:k=\"http://www.opengis.net/kml/2.2\"><k:Document><k:Folder>"
         "<k:Placemark><k:name>Road</k:name><k:LineString><k:coordinates>1,1 2,2"
         "</k:coordinates></k:LineString></k:Placemark>"
         "<k:Placemark><k:name> Car </k:name><k:MultiGeometry><k:Point><k:coordinates>3,4"
         "</k:coordinates></k:Point></k:MultiGeometry></k:Placemark>"
         "<k:Placemark><k:name>Later</k:name><k:Point><k:coordinates>5,6</k:coordinates>"
         "</k:Point></k:Placemark></k:Folder></k:Document></k:kml>",
         3.0, 4.0, "Car"},
        {"unnamed, foreign elements ignored",
         "<kml xmlns=\"http://earth.google.com/kml/2.2\" xmlns:x=\"urn:x\"><Placemark>"
         "<x:name>not this</x:name><Point><x:coordinates>9,9</x:coordinates>"
         "<coordinates>-1.5,2.5,100</coordinates></Point></Placemark></kml>",
         -1.5, 2.5, ""},
    };
    const test::ScratchDir dir;
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.label);
        const QString path = WriteFile(dir, c.bytes);
        KmlPosition position;
        ASSERT_NO_THROW(position = ReadKmlPlacemark(path));
        EXPECT_EQ(position.name.toStdString(), c.name.toStdString());
        EXPECT_DOUBLE_EQ(position.longitude, c.longitude);
        EXPECT_DOUBLE_EQ(position.latitude, c.latitude);
    }
}

struct RejectCase {
    const char* label;
    std::optional<std::string> bytes;  // none: no such file
    const char* reason;
};

TEST(ReadKmlPlacemark, RefusesWhatItCannotShowWithPathAndReason) {
    const std::string valid = SnapshotBytes("1,2,0");
    const std::string truncated = valid.substr(0, valid.size() - 8);
    const std::string afterPoint = valid.substr(0, valid.find("</Document>")) + "<x></Document>";
    // Well-formed, with its placemark first, but larger than any snapshot can be.
    const std::string oversized = valid + "<!--" + std::string(kMaxKmlBytes, 'x') + "-->";
    // A snapshot with coordinates it cannot show, the case named by them.
    const auto bad = [](const char* coordinates, const char* reason) {
        return RejectCase{coordinates, SnapshotBytes(coordinates), reason};
    };
    const std::vector<RejectCase> cases = {
        {"missing file", std::nullopt, "does not exist"},
        {"empty file", "", "empty"},
        {"not XML", "GPRMC,1,2,3", "not well-formed XML"},
        {"truncated", truncated, "not well-formed XML"},
        {"broken after the placemark", afterPoint, "not well-formed XML"},
        {"oversized", oversized, "larger than 8192 bytes"},
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
        bad("", "empty"),
        bad("121.5", "not longitude,latitude"),
        bad("1,2,3,4", "not longitude,latitude"),
        bad("1,2 3,4", "more than one coordinate tuple"),
        bad("121,5;24,9", "latitude '5;24' is not a number"),
        bad("abc,24.9", "longitude 'abc' is not a number"),
        bad("121.5,", "latitude '' is not a number"),
        bad("nan,1", "not a number"),
        bad("1,inf", "not a number"),
        bad("1,2,high", "altitude 'high' is not a number"),
        bad("180.0000001,0", "outside -180..180"),
        bad("-181,0", "outside -180..180"),
        bad("0,90.5", "outside -90..90"),
        bad("0,-1e3", "outside -90..90"),
    };
    const test::ScratchDir dir;
    const auto errorOf = [](const std::string& path) {
        return ViewerErrorOf([&] { ReadKmlPlacemark(QString::fromStdString(path)); });
    };
    for (const RejectCase& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string path =
            c.bytes ? WriteFile(dir, *c.bytes).toStdString() : dir.File("absent.kml");
        EXPECT_THAT(errorOf(path), testing::AllOf(HasSubstr(path + ": "), HasSubstr(c.reason)));
    }
    EXPECT_THAT(errorOf(dir.Path()), HasSubstr("folder"));
    // A FIFO with no writer: refused at once, not waited on.
    const std::string fifo = dir.File("fifo.kml");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THAT(errorOf(fifo), HasSubstr("not a regular file"));
}

}  // namespace
}  // namespace vostrel
