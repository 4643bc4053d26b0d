#include "sim/Simulator.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/Version.h"
#include "sim/Connection.h"
#include "sim/SimError.h"

namespace vostrel::sim {

namespace {

constexpr const char* kProgram = "vostrel-sim";
// The local addresses --new-address goes round: 127.0.0.2 to 127.0.0.254.
constexpr std::int64_t kNewAddresses = 253;

// "<problem> after report N", noting that a reset may have cost the server that report.
std::string AfterReport(const std::string& problem, std::int64_t number) {
    std::string text = problem + " after report " + std::to_string(number);
    if (problem.find("reset") != std::string::npos) text += " (which it may not have received)";
    return text;
}

std::string Progress(std::int64_t number, std::int64_t total) {
    // Built by appending: GCC 12 warns falsely (-Wrestrict) on "literal" + std::string&&.
    std::string text = "[";
    text += std::to_string(number);
    text += '/';
    text += std::to_string(total);
    text += ']';
    return text;
}

}  // namespace

ReportSequence::ReportSequence(const SimOptions& options, std::vector<TrackPoint> points)
    : options_(options),
      points_(std::move(points)),
      total_(options.count.value_or(static_cast<std::int64_t>(points_.size()))) {
    if (points_.empty()) throw std::invalid_argument("a report sequence needs points");
}

ReportSequence::Item ReportSequence::At(std::int64_t index, const QDateTime& now) const {
    const TrackPoint& point = points_[static_cast<std::size_t>(index) % points_.size()];
    Item item;
    item.bytes = FormatReport(FieldsFor(point, options_.imei, now));
    const std::int64_t number = index + 1;
    if (options_.badEvery > 0 && number % options_.badEvery == 0) {
        item.badKind = BadKindAt(number / options_.badEvery - 1);
        item.bytes = MakeBadReport(item.bytes, *item.badKind);
    }
    if (options_.crlf) item.bytes += "\r\n";
    return item;
}

std::vector<TrackPoint> LoadRoute(const SimOptions& options) {
    if (options.gpxPath.empty()) return BuiltInRoute();
    std::vector<TrackPoint> points = ReadGpxFile(QString::fromStdString(options.gpxPath));
    FillMotion(points);
    return points;
}

std::string Printable(const std::string& bytes) {
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            text += "\\r";
        } else if (c == '\n') {
            text += "\\n";
        } else if (byte < 0x20 || byte == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            text += escape;
        } else {
            text += c;
        }
    }
    return text;
}

int RunSimulator(const SimOptions& options, std::ostream& out, std::ostream& err) {
    auto fail = [&err](const std::string& message) {
        err << kProgram << ": " << message << std::endl;
        return kExitFailure;
    };

    std::vector<TrackPoint> points;
    try {
        points = LoadRoute(options);
    } catch (const SimError& e) {
        return fail(e.what());
    }
    const std::size_t pointCount = points.size();
    const ReportSequence sequence(options, std::move(points));
    const std::int64_t total = sequence.Total();
    const std::string where = options.host + " port " + std::to_string(options.port);
    out << "Sending " << total << " report" << (total == 1 ? "" : "s") << " to " << where
        << " from " << (options.gpxPath.empty() ? "the built-in route" : options.gpxPath) << " ("
        << pointCount << " point" << (pointCount == 1 ? "" : "s") << ")" << std::endl;

    TrackerConnection connection(options.host, options.port, options.timeout);
    // Connections whose link died silently: open to the end, nothing more sent on them.
    std::vector<int> dead;
    struct DeadLinks {
        std::vector<int>& fds;
        ~DeadLinks() {
            for (const int fd : fds) ::close(fd);
        }
    } closeDeadLinks{dead};
    std::int64_t connections = 0;
    auto open = [&] {
        if (options.newAddress) {
            connection.SetSource("127.0.0." + std::to_string(2 + connections % kNewAddresses));
        }
        ++connections;
        connection.Open();
    };
    std::int64_t malformed = 0;
    try {
        if (!options.reconnect) open();
        for (std::int64_t index = 0; index < total; ++index) {
            const std::int64_t number = index + 1;
            if (index > 0 && options.interval > 0) {
                std::this_thread::sleep_for(std::chrono::duration<double>(options.interval));
            }
            if (options.reconnect || !connection.IsOpen()) open();
            if (const auto gone = connection.ServerGone()) {
                const std::string what = options.reconnect || index == 0
                                             ? *gone + " right after accepting it"
                                             : AfterReport(*gone, index);
                if (!options.retry) {
                    return fail(what + "; report " + std::to_string(number) + " of " +
                                std::to_string(total) + " was not sent");
                }
                out << "(" << what << "; connecting again)" << std::endl;
                open();
            }
            const ReportSequence::Item item = sequence.At(index, QDateTime::currentDateTimeUtc());
            try {
                connection.Send(item.bytes);
            } catch (const SimError& e) {
                const std::string what = "sending report " + std::to_string(number) + " of " +
                                         std::to_string(total) + " to " + where +
                                         " failed: " + e.what();
                if (!options.retry) return fail(what);
                out << "(" << what << "; the next report goes on a new connection)" << std::endl;
                if (const int fd = connection.Abandon(); fd >= 0) ::close(fd);
                continue;
            }
            out << Progress(number, total) << " " << Printable(item.bytes);
            if (item.badKind) {
                ++malformed;
                out << "  (malformed: " << BadKindName(*item.badKind) << ")";
            }
            out << std::endl;
            if (options.reconnect) {
                if (const auto problem = connection.Close()) {
                    if (!options.retry) return fail(AfterReport(*problem, number));
                    out << "(" << AfterReport(*problem, number) << ")" << std::endl;
                }
            }
            if (options.dropEvery > 0 && number % options.dropEvery == 0 && number < total &&
                connection.IsOpen()) {
                dead.push_back(connection.Abandon());
                out << "(the link dies silently: its connection stays open, unused)" << std::endl;
            }
        }
        if (const auto problem = connection.Close()) {
            if (!options.retry) return fail(AfterReport(*problem, total));
            out << "(" << AfterReport(*problem, total) << ")" << std::endl;
        }
    } catch (const SimError& e) {
        return fail(e.what());
    } catch (const std::out_of_range&) {
        return fail("a route point lies outside the valid coordinate range");
    }
    out << "Sent " << total << " report" << (total == 1 ? "" : "s");
    if (malformed > 0) out << " (" << malformed << " malformed)";
    out << " to " << where << std::endl;
    return kExitOk;
}

int SimulatorMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const CommandLine command = ParseCommandLine(args);
    switch (command.action) {
        case CommandLine::Action::kHelp:
            out << HelpText();
            return kExitOk;
        case CommandLine::Action::kVersion:
            out << kProgram << " " << kVersion << std::endl;
            return kExitOk;
        case CommandLine::Action::kError:
            err << kProgram << ": " << command.error << "\nTry \"" << kProgram
                << " --help\" for the options." << std::endl;
            return kExitUsage;
        case CommandLine::Action::kRun:
            break;
    }
    return RunSimulator(command.options, out, err);
}

}  // namespace vostrel::sim
