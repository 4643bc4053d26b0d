#include "app/CommandLine.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "core/Ports.h"
#include "core/Version.h"

namespace vostrel {

namespace {

// The toolkit's options (with one dash or two) that take the next argument as their value...
constexpr std::string_view kToolkitWithValue[] = {"platform",
                                                  "platformpluginpath",
                                                  "platformtheme",
                                                  "plugin",
                                                  "display",
                                                  "geometry",
                                                  "title",
                                                  "name",
                                                  "icon",
                                                  "session",
                                                  "qwindowgeometry",
                                                  "qwindowtitle",
                                                  "qwindowicon",
                                                  "style",
                                                  "stylesheet",
                                                  "visual"};
// ...those that take none...
constexpr std::string_view kToolkitFlags[] = {"reverse", "nograb",      "dograb",
                                              "sync",    "widgetcount", "testability"};
// ...and those given as name=value.
constexpr std::string_view kToolkitJoined[] = {"style=", "stylesheet=", "qmljsdebugger="};

template <typename List>
bool Holds(const List& list, std::string_view name) {
    return std::find(std::begin(list), std::end(list), name) != std::end(list);
}

}  // namespace

StartCommand ReadCommandLine(const std::vector<std::string>& args) {
    StartCommand command;
    auto fail = [&command](std::string error) {
        command.action = StartCommand::Action::kError;
        command.error = std::move(error);
        return command;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            command.action = StartCommand::Action::kHelp;
            return command;
        }
        if (arg == "--version") {
            command.action = StartCommand::Action::kVersion;
            return command;
        }
        if (arg.size() < 2 || arg.front() != '-') {
            return fail("unexpected argument \"" + arg + "\"");
        }
        std::string_view name(arg);
        name.remove_prefix(name.substr(0, 2) == "--" ? 2 : 1);
        if (Holds(kToolkitFlags, name)) continue;
        if (Holds(kToolkitWithValue, name)) {
            if (++i == args.size()) return fail("missing value after \"" + arg + "\"");
            continue;
        }
        const bool joined =
            std::any_of(std::begin(kToolkitJoined), std::end(kToolkitJoined),
                        [name](std::string_view j) { return name.rfind(j, 0) == 0; });
        if (!joined) return fail("unknown option " + arg);
    }
    return command;
}

std::string UsageText() {
    const std::string port = std::to_string(kTrackingPort);
    return "Usage: vostrel [OPTION]...\n"
           "A desktop tracking server for Globalsat TR-102 GPS trackers that report over\n"
           "GPRS. It opens a window with an activity log and a globe. Start Tracking\n"
           "listens on TCP port " +
           port +
           ", takes one tracker connection at a time, and treats\n"
           "every block of text that arrives as one position report. Good reports are\n"
           "appended to the track log and shown on the globe.\n"
           "\n"
           "Options:\n"
           "  -h, --help     show this help and exit\n"
           "  --version      show the version and exit\n"
           "The toolkit's options are accepted too, such as -display NAME and\n"
           "-platform NAME.\n"
           "\n"
           "Files:\n"
           "  ~/vo_demo.txt                   the track log, one line per good report\n"
           "  ~/vo_demo.kml                   the latest good report as a KML snapshot\n"
           "  ~/.config/Vostrel/vostrel.conf  settings (the street map on or off)\n"
           "\n"
           "Exit status: 0 when the window was closed, 1 when the globe could not be set\n"
           "up or port " +
           port +
           " could not be listened on, 2 for a bad command line, 3 after\n"
           "an unexpected error.\n"
           "\n"
           "The manual: man vostrel\n";
}

std::string VersionText() {
    return std::string("vostrel ") + kVersion + "\n";
}

}  // namespace vostrel
