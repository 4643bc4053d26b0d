// The tracker simulator: position fields, report framing, GPX reading, the command line, and
// whole runs against a loopback listener that the tests open themselves.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <ctime>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "kit/PlainKit.h"
#include "report/Conversion.h"
#include "report/ReportCheck.h"
#include "sim/Connection.h"
#include "sim/Coordinates.h"
#include "sim/Options.h"
#include "sim/Report.h"
#include "sim/Route.h"
#include "sim/SimError.h"
#include "sim/Simulator.h"

using namespace vostrel::sim;
using testing::EndsWith;
using testing::HasSubstr;
using vostrel::test::ScratchDir;
using vostrel::test::WriteFile;

namespace {

// ---- helpers -------------------------------------------------------------------------------

std::vector<std::string> Split(const std::string& text) {
    const auto views = vostrel::SplitFields(text);
    return {views.begin(), views.end()};
}

// The server's own checks: empty when it would accept the report, else its notice.
std::string Rejection(const std::string& text) {
    return vostrel::CheckReport(text).rejection.value_or("");
}

// The server's own reading of a position field, in degrees.
double ReadField(const std::string& field, int degreeDigits) {
    return std::stod(degreeDigits == 2 ? vostrel::ConvertLatitude(field)
                                       : vostrel::ConvertLongitude(field));
}

QDateTime Utc(int y, int mo, int d, int h, int mi, int s) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
}

// A TCP socket bound to 127.0.0.1 on an ephemeral port; returns the port.
std::uint16_t BindLoopback(int& fd) {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot bind a loopback socket");
    }
    return ntohs(address.sin_port);
}

// A listener taking connections one at a time on its own thread. kRead reads each connection
// to its end; kCloseAtOnce closes each on accept. Every wait is bounded, so a broken simulator
// fails the test instead of hanging it.
class LoopbackListener {
  public:
    enum class Mode { kRead, kCloseAtOnce };

    LoopbackListener(Mode mode, int connections) : port_(BindLoopback(fd_)) {
        if (::listen(fd_, 8) != 0) throw std::runtime_error("cannot listen");
        thread_ = std::thread([this, mode, connections] { Serve(mode, connections); });
    }
    ~LoopbackListener() {
        Join();
        ::close(fd_);
    }
    std::uint16_t Port() const { return port_; }
    // What each connection carried, once the listener has finished.
    const std::vector<std::string>& Join() {
        if (thread_.joinable()) thread_.join();
        return received_;
    }

  private:
    static bool Wait(int fd) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 10000) > 0;
    }

    void Serve(Mode mode, int connections) {
        for (int i = 0; i < connections && Wait(fd_); ++i) {
            const int client = ::accept(fd_, nullptr, nullptr);
            if (client < 0) return;
            std::string bytes;
            char buffer[4096];
            ssize_t n;
            while (mode == Mode::kRead && Wait(client) &&
                   (n = ::recv(client, buffer, sizeof buffer, 0)) > 0) {
                bytes.append(buffer, static_cast<std::size_t>(n));
            }
            ::close(client);
            received_.push_back(bytes);
        }
    }

    int fd_ = -1;
    std::uint16_t port_;
    std::thread thread_;
    std::vector<std::string> received_;
};

struct RunResult {
    int status;
    std::string out;
    std::string err;
};

RunResult RunSim(std::vector<std::string> args) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = SimulatorMain(args, out, err);
    return {status, out.str(), err.str()};
}

// ---- position fields -----------------------------------------------------------------------

struct FieldCase {
    double latitude;
    double longitude;
    const char* latitudeField;
    const char* longitudeField;
};

TEST(SimCoordinates, FormatsHemisphereDegreesAndMinutes) {
    const FieldCase cases[] = {
        {24.9981516666667, 121.487086666667, "N2459.8891", "E12129.2252"},
        {-33.8688, 151.2093, "S3352.1280", "E15112.5580"},
        {40.7128, -74.006, "N4042.7680", "W07400.3600"},
        {-1.5, -9.25, "S0130.0000", "W00915.0000"},
        {0.0, 0.0, "N0000.0000", "E00000.0000"},
        {-0.0, -0.0, "N0000.0000", "E00000.0000"},
        {-0.00001, -0.00001, "S0000.0006", "W00000.0006"},  // 0.0006' is still south/west
        {-1e-7, -1e-7, "N0000.0000", "E00000.0000"},        // rounds to zero: no S/W
        {10 + 59.99996 / 60, 9 + 59.99996 / 60, "N1100.0000", "E01000.0000"},  // carry
        {-(10 + 59.99996 / 60), -(179 + 59.99996 / 60), "S1100.0000", "W18000.0000"},
        {10 + 59.99994 / 60, 99 + 59.99994 / 60, "N1059.9999", "E09959.9999"},
        {90.0, 180.0, "N9000.0000", "E18000.0000"},
        {-90.0, -180.0, "S9000.0000", "W18000.0000"},
    };
    for (const FieldCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.latitude << ", " << c.longitude);
        EXPECT_EQ(FormatLatitude(c.latitude), c.latitudeField);
        EXPECT_EQ(FormatLongitude(c.longitude), c.longitudeField);
    }
}

TEST(SimCoordinates, RejectsValuesBeyondTheGlobe) {
    EXPECT_THROW(FormatLatitude(90.0001), std::out_of_range);
    EXPECT_THROW(FormatLatitude(-91.0), std::out_of_range);
    EXPECT_THROW(FormatLongitude(180.001), std::out_of_range);
    EXPECT_THROW(FormatLongitude(NAN), std::out_of_range);
    EXPECT_THROW(FormatLatitude(1e300), std::out_of_range);
}

// ---- reports -------------------------------------------------------------------------------

TEST(SimReport, FormatsTheTrackerLayout) {
    ReportFields f{.imei = "355632000166323",
                   .utc = Utc(2002, 2, 4, 9, 36, 33),
                   .latitude = 24.9981516666667,
                   .longitude = 121.487086666667,
                   .altitude = 161,
                   .speedKmh = 0.01,
                   .course = 147,
                   .satellites = 7,
                   .fix = 1};
    EXPECT_EQ(FormatReport(f),
              "$355632000166323,1,1,040202,093633,E12129.2252,N2459.8891,00161,0.0100,147,07*37!");

    f.altitude = -12.4;
    f.speedKmh = 123.45678;
    f.course = 359.6;  // rounds to a full turn: 000
    f.satellites = 123;
    const auto fields = Split(FormatReport(f));
    EXPECT_THAT(std::vector(fields.begin() + 7, fields.end()),
                testing::ElementsAre("-0012", "123.4568", "000", "99*37!"));
}

TEST(SimReport, EveryRoutePointFramesAsAGoodReport) {
    const auto route = BuiltInRoute();
    ASSERT_GE(route.size(), 24u);
    const QDateTime now = Utc(2024, 12, 31, 23, 59, 59);
    for (const TrackPoint& point : route) {
        const std::string text = FormatReport(FieldsFor(point, kDefaultImei, now));
        EXPECT_EQ(Rejection(text), "") << text;
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
        EXPECT_NEAR(ReadField(Split(text)[6], 2), point.latitude, 1e-6);
        EXPECT_NEAR(ReadField(Split(text)[5], 3), point.longitude, 1e-6);
        EXPECT_EQ(Split(text)[3] + " " + Split(text)[4], "311224 235959");
    }
    // A loop: the last point is near the first (under 500 m).
    EXPECT_NEAR(route.front().latitude, route.back().latitude, 0.005);
}

TEST(SimReport, MalformedReportsFailTheIntendedCheck) {
    const std::string good = FormatReport(
        FieldsFor(BuiltInRoute().front(), "123456789012345678", Utc(2030, 1, 1, 0, 0, 0)));
    ASSERT_EQ(Rejection(good), "");
    struct Case {
        BadKind kind;
        const char* expected;
        std::size_t fields;
        bool dollarFirst;
        bool bangLast;
        std::size_t length;  // 0: the good report's length less one
    };
    for (const Case c :
         {Case{BadKind::kTooShort, "Packet too small.", 1, true, true, 12},
          Case{BadKind::kWrongFieldCount, "Illegal string count.9", 10, true, true, 0},
          Case{BadKind::kMissingDollar, "Invalid header and trailer", 11, false, true, 0},
          Case{BadKind::kMissingBang, "Invalid header and trailer", 11, true, false, 0},
          Case{BadKind::kTooLong, "Packet too small.", 11, true, true, 255}}) {
        const std::string bad = MakeBadReport(good, c.kind);
        SCOPED_TRACE(BadKindName(c.kind) + std::string(": ") + bad);
        EXPECT_EQ(Rejection(bad), c.expected);
        EXPECT_EQ(Split(bad).size(), c.fields);
        EXPECT_EQ(bad.front() == '$', c.dollarFirst);
        EXPECT_EQ(bad.back() == '!', c.bangLast);
        if (c.kind != BadKind::kWrongFieldCount) {
            EXPECT_EQ(bad.size(), c.length ? c.length : good.size() - 1);
        }
    }
}

TEST(SimReport, SequenceLoopsMarksBadReportsAndAddsCrLf) {
    std::vector<TrackPoint> points(5);
    for (int i = 0; i < 5; ++i) points[i].latitude = i;
    points[1].time = Utc(2020, 6, 7, 8, 9, 10);
    SimOptions options;
    EXPECT_EQ(ReportSequence(options, points).Total(), 5);

    options.count = 12;
    options.badEvery = 3;
    options.crlf = true;
    const ReportSequence sequence(options, points);
    ASSERT_EQ(sequence.Total(), 12);
    const QDateTime now = Utc(2025, 1, 2, 3, 4, 5);
    const BadKind expectedKinds[] = {BadKind::kTooShort, BadKind::kWrongFieldCount,
                                     BadKind::kMissingDollar, BadKind::kMissingBang};
    for (int i = 0; i < 12; ++i) {
        const auto item = sequence.At(i, now);
        ASSERT_THAT(item.bytes, EndsWith("\r\n")) << i;
        const std::string text = item.bytes.substr(0, item.bytes.size() - 2);
        if ((i + 1) % 3 == 0) {
            ASSERT_TRUE(item.badKind.has_value()) << i;
            EXPECT_EQ(*item.badKind, expectedKinds[(i + 1) / 3 - 1]);
            EXPECT_NE(Rejection(text), "") << text;
        } else {
            EXPECT_FALSE(item.badKind.has_value()) << i;
            ASSERT_EQ(Rejection(text), "") << text;
            EXPECT_NEAR(ReadField(Split(text)[6], 2), i % 5, 1e-9) << "point of report " << i;
            EXPECT_EQ(Split(text)[3], i % 5 == 1 ? "070620" : "020125");
        }
    }
}

// ---- GPX -----------------------------------------------------------------------------------

TEST(SimGpx, ReadsTrackPointsWithAndWithoutEleAndTime) {
    const ScratchDir dir;
    const std::string path = WriteFile(dir.File("walk.gpx"), R"(<?xml version="1.0"?>
<gpx version="1.1" creator="test" xmlns="http://www.topografix.com/GPX/1/1">
 <wpt lat="1" lon="1"/>
 <trk><name>t</name><trkseg>
  <trkpt lat="-33.5" lon="-70.25"><ele>512.6</ele><time>2023-04-05T06:07:08Z</time></trkpt>
  <trkpt lat="-33.51" lon="-70.25"><time>2023-04-05T08:08:08.500+02:00</time>
    <extensions><time>junk</time></extensions></trkpt>
  <trkpt lat="-33.51" lon="-70.24"/>
 </trkseg></trk>
</gpx>)");
    std::vector<TrackPoint> points = ReadGpxFile(QString::fromStdString(path));
    ASSERT_EQ(points.size(), 3u);
    EXPECT_DOUBLE_EQ(points[0].latitude, -33.5);
    EXPECT_DOUBLE_EQ(points[0].longitude, -70.25);
    EXPECT_DOUBLE_EQ(points[0].elevation.value_or(0), 512.6);
    EXPECT_EQ(points[0].time.value_or(QDateTime()), Utc(2023, 4, 5, 6, 7, 8));
    EXPECT_FALSE(points[1].elevation.has_value());
    ASSERT_TRUE(points[1].time.has_value());
    EXPECT_EQ(points[1].time->toString(Qt::ISODateWithMs), "2023-04-05T06:08:08.500Z");
    EXPECT_FALSE(points[2].time.has_value());

    FillMotion(points);
    // 0.01 degree of latitude (about 1112 m) southward in 60.5 s; then eastward.
    EXPECT_NEAR(points[1].speedKmh.value_or(-1), 1111.95 / 60.5 * 3.6, 0.5);
    EXPECT_NEAR(points[0].speedKmh.value_or(-1), points[1].speedKmh.value_or(-2), 1e-9);
    EXPECT_FALSE(points[2].speedKmh.has_value());
    EXPECT_NEAR(points[0].course.value_or(-1), 180.0, 0.01);
    EXPECT_NEAR(points[1].course.value_or(-1), 90.0, 0.01);
    EXPECT_NEAR(points[2].course.value_or(-1), 90.0, 0.01);

    const auto fields = Split(FormatReport(FieldsFor(points[0], "1", QDateTime())));
    EXPECT_EQ(fields[3] + " " + fields[4], "050423 060708");
    EXPECT_EQ(fields[5] + " " + fields[6] + " " + fields[7], "W07015.0000 S3330.0000 00513");
}

TEST(SimGpx, FallsBackToRoutePointsThenWaypoints) {
    const ScratchDir dir;
    const auto route = WriteFile(dir.File("r.gpx"), R"(<gpx><wpt lat="9" lon="9"/>
        <rte><rtept lat="1" lon="2"><time>2021-01-02T03:04:05</time></rtept>
        <rtept lat="3" lon="4"/></rte></gpx>)");
    const auto wpts = WriteFile(dir.File("w.gpx"), R"(<gpx><wpt lat="5" lon="6"/></gpx>)");
    // A time without a zone is UTC, whatever the local zone.
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "Asia/Tokyo");
    ::tzset();
    const auto routePoints = ReadGpxFile(QString::fromStdString(route));
    zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
    ::tzset();
    ASSERT_EQ(routePoints.size(), 2u);
    EXPECT_EQ(routePoints[0].time.value_or(QDateTime()), Utc(2021, 1, 2, 3, 4, 5));
    const auto points = ReadGpxFile(QString::fromStdString(wpts));
    ASSERT_EQ(points.size(), 1u);
    EXPECT_DOUBLE_EQ(points[0].longitude, 6.0);
}

TEST(SimGpx, UnusableFilesAreErrorsNamingTheFile) {
    const ScratchDir dir;
    struct Case {
        const char* name;
        const char* content;  // nullptr: no such file
        const char* expected;
    };
    const Case cases[] = {
        {"missing.gpx", nullptr, "cannot read GPX file"},
        {"empty.gpx", "", "line 1"},
        {"broken.gpx", "<gpx><trk><trkpt lat=\"1\" lon=\"2\"></trk></gpx>", "line 1"},
        {"nopoints.gpx", "<gpx><trk><trkseg/></trk></gpx>", "has no track points"},
        {"other.gpx", "<kml><trkpt lat=\"1\" lon=\"2\"/></kml>", "not a GPX file"},
        {"nolat.gpx", "<gpx><trkpt lon=\"2\"/></gpx>", "without a \"lat\""},
        {"badlon.gpx", "<gpx><trkpt lat=\"1\" lon=\"181\"/></gpx>", "invalid \"lon\" value"},
        {"textlat.gpx", "<gpx><trkpt lat=\"x\" lon=\"2\"/></gpx>", "invalid \"lat\" value"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path =
            c.content ? WriteFile(dir.File(c.name), c.content) : dir.File(c.name);
        EXPECT_THAT([&] { ReadGpxFile(QString::fromStdString(path)); },
                    testing::ThrowsMessage<SimError>(
                        testing::AllOf(HasSubstr(path), HasSubstr(c.expected))));
    }
}

// ---- command line --------------------------------------------------------------------------

TEST(SimOptions, DefaultsAndEveryOption) {
    const CommandLine none = ParseCommandLine({});
    ASSERT_EQ(none.action, CommandLine::Action::kRun);
    EXPECT_EQ(none.options.host, "127.0.0.1");
    EXPECT_EQ(none.options.port, 5000);
    EXPECT_EQ(none.options.interval, 2.0);
    EXPECT_FALSE(none.options.count.has_value());
    EXPECT_EQ(none.options.badEvery, 0);
    EXPECT_FALSE(none.options.crlf || none.options.reconnect || none.options.newAddress ||
                 none.options.retry);
    EXPECT_EQ(none.options.dropEvery, 0);
    EXPECT_EQ(none.options.imei.size(), 15u);
    EXPECT_TRUE(none.options.gpxPath.empty());

    const CommandLine all = ParseCommandLine({"--host",        "[::1]",           "--port=5001",
                                              "--gpx",         "a.gpx",           "--interval",
                                              "0.25",          "--count",         "40",
                                              "--bad-every=4", "--crlf",          "--reconnect",
                                              "--imei",        "490154203237518", "--timeout",
                                              "1.5",           "--drop-every",    "20",
                                              "--new-address", "--retry"});
    ASSERT_EQ(all.action, CommandLine::Action::kRun) << all.error;
    EXPECT_EQ(all.options.host, "::1");
    EXPECT_EQ(all.options.port, 5001);
    EXPECT_EQ(all.options.gpxPath, "a.gpx");
    EXPECT_EQ(all.options.interval, 0.25);
    EXPECT_EQ(all.options.count.value_or(0), 40);
    EXPECT_EQ(all.options.badEvery, 4);
    EXPECT_TRUE(all.options.crlf && all.options.reconnect);
    EXPECT_EQ(all.options.imei, "490154203237518");
    EXPECT_EQ(all.options.timeout, 1.5);
    EXPECT_EQ(all.options.dropEvery, 20);
    EXPECT_TRUE(all.options.newAddress && all.options.retry);
    EXPECT_EQ(ParseCommandLine({"--interval", "0"}).options.interval, 0.0);

    EXPECT_EQ(ParseCommandLine({"--port", "1", "--port=2"}).options.port, 2);  // the last one
    EXPECT_EQ(ParseCommandLine({"--port", "1", "--help"}).action, CommandLine::Action::kHelp);
    EXPECT_EQ(ParseCommandLine({"-h", "--port", "0"}).action, CommandLine::Action::kHelp);
    EXPECT_EQ(ParseCommandLine({"--version"}).action, CommandLine::Action::kVersion);
    const std::string help = HelpText();
    for (const char* option : {"--host", "--port", "--gpx", "--interval", "--count", "--bad-every",
                               "--crlf", "--reconnect", "--drop-every", "--new-address", "--retry",
                               "--imei", "--timeout", "--help"}) {
        EXPECT_THAT(help, HasSubstr(option));
    }
}

TEST(SimOptions, BadValuesAreErrors) {
    struct Case {
        std::vector<std::string> args;
        const char* expected;
    };
    const Case cases[] = {
        {{"--port", "0"}, "--port"},
        {{"--port", "50x"}, "--port"},
        {{"--port"}, "missing value after '--port'"},
        {{"--port", "0", "--help"}, "--port"},  // a bad value before the help is still an error
        {{"--interval", "-1"}, "--interval"},
        {{"--interval", "1e3"}, "--interval"},
        {{"--count", "0"}, "--count"},
        {{"--bad-every", "-2"}, "--bad-every"},
        {{"--drop-every", "x"}, "--drop-every"},
        {{"--imei", "12ab"}, "--imei"},
        {{"--timeout", "0"}, "--timeout"},
        {{"--host", ""}, "--host"},
        {{"--crlf=yes"}, "unexpected value after '--crlf'"},
        {{"--help", "--colour"}, "unknown option --colour"},
        {{"-x"}, "unknown option -x"},
        {{"route.gpx"}, "unexpected argument"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front());
        const CommandLine result = ParseCommandLine(c.args);
        ASSERT_EQ(result.action, CommandLine::Action::kError);
        EXPECT_THAT(result.error, HasSubstr(c.expected));
    }
    const RunResult run = RunSim({"--count", "x"});
    EXPECT_EQ(run.status, kExitUsage);
    EXPECT_THAT(run.err, HasSubstr("--help"));
}

// ---- whole runs ----------------------------------------------------------------------------

TEST(SimRun, SendsThreeReportsOnOneConnection) {
    LoopbackListener listener(LoopbackListener::Mode::kRead, 1);
    const RunResult run =
        RunSim({"--port", std::to_string(listener.Port()), "--count", "3", "--interval", "0"});
    const auto& connections = listener.Join();
    EXPECT_EQ(run.status, kExitOk) << run.err;
    ASSERT_EQ(connections.size(), 1u);

    // The reports in order, each good and ending in "!", nothing between or after them.
    const std::string& bytes = connections[0];
    std::vector<std::string> reports;
    for (std::size_t start = 0, bang; (bang = bytes.find('!', start)) != std::string::npos;
         start = bang + 1) {
        reports.push_back(bytes.substr(start, bang + 1 - start));
    }
    ASSERT_EQ(reports.size(), 3u) << bytes;
    EXPECT_EQ(bytes.back(), '!');
    const auto route = BuiltInRoute();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Rejection(reports[i]), "") << reports[i];
        EXPECT_NEAR(ReadField(Split(reports[i])[6], 2), route[i].latitude, 1e-6);
        EXPECT_THAT(run.out, HasSubstr("[" + std::to_string(i + 1) + "/3] " + reports[i] + "\n"));
    }
}

TEST(SimRun, ReconnectSendsOneReportPerConnection) {
    LoopbackListener listener(LoopbackListener::Mode::kRead, 3);
    const RunResult run = RunSim({"--port", std::to_string(listener.Port()), "--count", "3",
                                  "--interval", "0", "--reconnect", "--crlf", "--bad-every", "3"});
    const auto& connections = listener.Join();
    EXPECT_EQ(run.status, kExitOk) << run.err;
    ASSERT_EQ(connections.size(), 3u);
    ASSERT_THAT(connections, testing::Each(EndsWith("!\r\n")));
    for (int i = 0; i < 3; ++i) {
        const std::string& bytes = connections[i];
        const char* expected = i == 2 ? "Packet too small." : "";  // the 3rd is too short
        EXPECT_EQ(Rejection(bytes.substr(0, bytes.size() - 2)), expected) << bytes;
    }
    EXPECT_THAT(run.out, HasSubstr("(malformed: too short)"));
}

TEST(SimRun, ServerThatClosesAtOnceIsAFailure) {
    // Run in this process: a SIGPIPE would kill the test.
    LoopbackListener listener(LoopbackListener::Mode::kCloseAtOnce, 1);
    const RunResult run =
        RunSim({"--port", std::to_string(listener.Port()), "--count", "5", "--interval", "0.2"});
    listener.Join();
    EXPECT_EQ(run.status, kExitFailure);
    // Depending on timing the server's close is seen before report 1 or report 1 is answered
    // with a reset; either way the operator learns which report was not sent.
    EXPECT_THAT(run.err, HasSubstr("vostrel-sim: the server "));
    EXPECT_THAT(run.err, HasSubstr(" of 5 was not sent"));
}

TEST(SimRun, SendAfterTheServerWentAwayThrowsInsteadOfRaisingSigpipe) {
    LoopbackListener listener(LoopbackListener::Mode::kCloseAtOnce, 1);
    TrackerConnection connection("127.0.0.1", listener.Port(), 5.0);
    connection.Open();
    listener.Join();
    std::string error;
    for (int i = 0; i < 50 && error.empty(); ++i) {  // the first write may still be accepted
        try {
            connection.Send("$1,2,3,4,5,6,7,8,9,10,11!");
        } catch (const SimError& e) {
            error = e.what();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_THAT(error, HasSubstr("closed"));
}

TEST(SimRun, UnusableGpxIsAFailureBeforeConnecting) {
    const ScratchDir dir;
    const std::string path = WriteFile(dir.File("empty.gpx"), "<gpx/>");
    const RunResult run = RunSim({"--gpx", path, "--port", "9"});  // never reached
    EXPECT_EQ(run.status, kExitFailure);
    EXPECT_THAT(run.err, HasSubstr("has no track points"));
}

TEST(SimRun, UnreachablePortNamesHostPortAndReason) {
    int fd;
    const std::string port = std::to_string(BindLoopback(fd));  // bound, never listening
    const RunResult run = RunSim({"--port", port, "--interval", "0"});
    ::close(fd);
    EXPECT_EQ(run.status, kExitFailure);
    EXPECT_THAT(run.err,
                HasSubstr("cannot connect to 127.0.0.1 port " + port + ": Connection refused"));
}

}  // namespace
