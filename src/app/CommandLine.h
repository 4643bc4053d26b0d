// The program's own command line, read before any window exists (and so before a display is
// needed): --help and --version, and the toolkit's options passed on to it. Plain C++.
#pragma once

#include <string>
#include <vector>

namespace vostrel {

// What to do with a command line. Help and version go to standard output, `error` (one line,
// no line break) and a hint to standard error.
struct StartCommand {
    enum class Action { kRun, kHelp, kVersion, kError };
    Action action = Action::kRun;
    std::string error;
};

// Reads the arguments after the program's name. The toolkit's own options (such as -display
// NAME or --platform NAME) are left to it; anything else that starts with "-", or any other
// word, is an error. The first of --help, --version and an error decides.
StartCommand ReadCommandLine(const std::vector<std::string>& args);

// The text of --help and of --version, each ending in a line break.
std::string UsageText();
std::string VersionText();

// The exit status of a command line that is not understood.
inline constexpr int kExitUsage = 2;

}  // namespace vostrel
