#include "sim/Options.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QHash>
#include <QStringList>
#include <charconv>
#include <cmath>

namespace vostrel::sim {

namespace {

constexpr std::int64_t kMostReports = 1'000'000'000;
constexpr double kLongestWait = 86400.0;
constexpr std::size_t kLongestImei = 20;

std::optional<std::int64_t> ParseInteger(const std::string& text) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

std::optional<double> ParseSeconds(const std::string& text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::string SetIntegerOption(const std::string& name, const std::string& value, std::int64_t low,
                             std::int64_t high, std::int64_t& target) {
    const auto number = ParseInteger(value);
    if (!number || *number < low || *number > high) {
        return "invalid value \"" + value + "\" for --" + name + ": expected a whole number from " +
               std::to_string(low) + " to " + std::to_string(high);
    }
    target = *number;
    return {};
}

std::string SetSecondsOption(const std::string& name, const std::string& value, bool allowZero,
                             double& target) {
    const auto seconds = ParseSeconds(value);
    if (!seconds || *seconds < 0 || (!allowZero && *seconds == 0) || *seconds > kLongestWait) {
        return "invalid value \"" + value + "\" for --" + name + ": expected seconds " +
               (allowZero ? "from 0" : "above 0") + " to 86400, such as 2 or 0.5";
    }
    target = *seconds;
    return {};
}

// Checks one value and stores it; returns "" when fine, else what was wrong. A flag's setter
// gets an empty value.
using Setter = std::string (*)(SimOptions&, const std::string&);

struct OptionRule {
    const char* name;
    bool takesValue;
    Setter set;
};

constexpr OptionRule kRules[] = {
    {"host", true,
     [](SimOptions& o, const std::string& v) -> std::string {
         std::string host = v;
         if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
             host = host.substr(1, host.size() - 2);  // "[::1]"
         }
         if (host.empty()) return "--host needs a host name or address";
         o.host = host;
         return {};
     }},
    {"port", true,
     [](SimOptions& o, const std::string& v) {
         std::int64_t port = 0;
         std::string error = SetIntegerOption("port", v, 1, 65535, port);
         if (error.empty()) o.port = static_cast<std::uint16_t>(port);
         return error;
     }},
    {"gpx", true,
     [](SimOptions& o, const std::string& v) -> std::string {
         if (v.empty()) return "--gpx needs a file name";
         o.gpxPath = v;
         return {};
     }},
    {"interval", true,
     [](SimOptions& o, const std::string& v) {
         return SetSecondsOption("interval", v, true, o.interval);
     }},
    {"count", true,
     [](SimOptions& o, const std::string& v) {
         std::int64_t count = 0;
         std::string error = SetIntegerOption("count", v, 1, kMostReports, count);
         if (error.empty()) o.count = count;
         return error;
     }},
    {"bad-every", true,
     [](SimOptions& o, const std::string& v) {
         return SetIntegerOption("bad-every", v, 0, kMostReports, o.badEvery);
     }},
    {"crlf", false,
     [](SimOptions& o, const std::string&) {
         o.crlf = true;
         return std::string();
     }},
    {"reconnect", false,
     [](SimOptions& o, const std::string&) {
         o.reconnect = true;
         return std::string();
     }},
    {"drop-every", true,
     [](SimOptions& o, const std::string& v) {
         return SetIntegerOption("drop-every", v, 0, kMostReports, o.dropEvery);
     }},
    {"new-address", false,
     [](SimOptions& o, const std::string&) {
         o.newAddress = true;
         return std::string();
     }},
    {"retry", false,
     [](SimOptions& o, const std::string&) {
         o.retry = true;
         return std::string();
     }},
    {"imei", true,
     [](SimOptions& o, const std::string& v) -> std::string {
         const bool digits = !v.empty() && v.size() <= kLongestImei &&
                             v.find_first_not_of("0123456789") == std::string::npos;
         if (!digits) return "invalid value \"" + v + "\" for --imei: expected 1 to 20 digits";
         o.imei = v;
         return {};
     }},
    {"timeout", true,
     [](SimOptions& o, const std::string& v) {
         return SetSecondsOption("timeout", v, false, o.timeout);
     }},
};

const OptionRule* FindRule(const QString& name) {
    for (const OptionRule& rule : kRules) {
        if (name == QLatin1String(rule.name)) return &rule;
    }
    return nullptr;
}

// What the parser found wrong, worded like the simulator's other errors.
std::string ParseError(const QCommandLineParser& parser) {
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty()) {
        const QString& name = unknown.front();
        return "unknown option " + std::string(name.size() == 1 ? "-" : "--") + name.toStdString();
    }
    QString text = parser.errorText();  // "Missing value after '--port'."
    if (text.endsWith(QLatin1Char('.'))) text.chop(1);
    if (!text.isEmpty()) text[0] = text[0].toLower();
    return text.toStdString();
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine result;
    auto fail = [&result](std::string error) {
        result.action = CommandLine::Action::kError;
        result.error = std::move(error);
        return result;
    };

    QCommandLineParser parser;
    parser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}));
    parser.addOption(QCommandLineOption(QStringLiteral("version")));
    for (const OptionRule& rule : kRules) {
        const QString valueName = rule.takesValue ? QStringLiteral("value") : QString();
        parser.addOption(QCommandLineOption(QLatin1String(rule.name), QString(), valueName));
    }
    QStringList arguments{QStringLiteral("vostrel-sim")};  // parse() skips the program name
    for (const std::string& arg : args) arguments << QString::fromStdString(arg);
    if (!parser.parse(arguments)) return fail(ParseError(parser));

    // In command-line order: the first of help, version and a bad value decides, and a repeated
    // option keeps its last value.
    QHash<QString, int> taken;  // values used so far, per option
    for (const QString& name : parser.optionNames()) {
        if (name == QLatin1String("h") || name == QLatin1String("help")) {
            result.action = CommandLine::Action::kHelp;
            return result;
        }
        if (name == QLatin1String("version")) {
            result.action = CommandLine::Action::kVersion;
            return result;
        }
        const OptionRule* rule = FindRule(name);
        if (rule == nullptr) continue;  // not reached: every option added has a rule
        const std::string value =
            rule->takesValue ? parser.values(name).value(taken[name]++).toStdString() : "";
        if (std::string error = rule->set(result.options, value); !error.empty()) {
            return fail(error);
        }
    }
    if (const QStringList extra = parser.positionalArguments(); !extra.isEmpty()) {
        return fail("unexpected argument \"" + extra.front().toStdString() + "\"");
    }
    return result;
}

std::string HelpText() {
    return R"(Usage: vostrel-sim [OPTION]...
Plays Globalsat TR-102 position reports to a Vostrel tracking server over TCP,
one report per send, like a tracker in GPRS mode.

Options:
  --host HOST         server name or address, IPv4 or IPv6 (default 127.0.0.1)
  --port PORT         server TCP port, 1-65535 (default 5000)
  --gpx FILE          play the track points of a GPX file (else its route
                      points, else its waypoints) instead of the built-in
                      route, a 36-point loop around the centre of Prague
  --interval SECONDS  pause between reports; fractions and 0 allowed
                      (default 2)
  --count N           send N reports, going round the route again when N is
                      larger (default: every point of the route once)
  --bad-every N       make every Nth report malformed, cycling through: too
                      short, wrong field count, missing "$", missing "!", too
                      long (default 0: none)
  --crlf              end every report with CR LF after the "!"
  --reconnect         connect, send one report and disconnect, for every
                      report (default: one connection for all reports)
  --drop-every N      after every Nth report the link dies silently, as a GPRS
                      link does: the connection stays open but nothing more is
                      sent on it, and the next report goes on a new connection
                      (default 0: never)
  --new-address       make each new connection from the next local address,
                      127.0.0.2, 127.0.0.3, ... (a server on IPv4 loopback
                      only), as a tracker that comes back through another
                      carrier address
  --retry             when the server has ended the connection (a refused
                      tracker), send the next report on a new connection
                      instead of stopping
  --imei DIGITS       the tracker's IMEI, 1-20 digits (default 352000000000012)
  --timeout SECONDS   how long connecting or one send may take (default 10)
  -h, --help          show this help and exit
  --version           show the version and exit

Values may also be given as --option=VALUE. Each report is printed as it is
sent, with its number, e.g. "[3/20] $352...!". Times come from the GPX file
where it has them, otherwise the current UTC time is sent.

Exit status: 0 when every report was sent and the connection closed cleanly
(with --retry: when every report was sent, whether or not the server kept it),
1 when the GPX file could not be used or connecting or sending failed, 2 for a
bad command line.
)";
}

}  // namespace vostrel::sim
