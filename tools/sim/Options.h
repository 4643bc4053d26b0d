// The simulator's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vostrel::sim {

inline constexpr const char* kDefaultImei = "352000000000012";

struct SimOptions {
    std::string host = "127.0.0.1";
    std::uint16_t port = 5000;
    std::string gpxPath;                // empty: the built-in route
    double interval = 2.0;              // seconds between reports
    std::optional<std::int64_t> count;  // unset: every point of the route once
    std::int64_t badEvery = 0;          // every Nth report malformed; 0: none
    bool crlf = false;                  // CR LF after each report's "!"
    bool reconnect = false;             // connect, send, disconnect for each report
    std::int64_t dropEvery = 0;         // the link dies silently after every Nth report; 0: never
    bool newAddress = false;            // each new connection from the next 127.0.0.x
    bool retry = false;                 // a connection the server ended: next report on a new one
    std::string imei = kDefaultImei;
    double timeout = 10.0;  // seconds allowed for connecting and for each send
};

struct CommandLine {
    enum class Action { kRun, kHelp, kVersion, kError };
    Action action = Action::kRun;
    SimOptions options;
    std::string error;  // for kError: what was wrong, one line
};

// `args` are the arguments after the program name. Options take their value as the next
// argument or after "=" ("--port 5001", "--port=5001").
CommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string HelpText();

}  // namespace vostrel::sim
