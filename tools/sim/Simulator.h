// The simulator run: load the route, connect, play the reports, close.
#pragma once

#include <QDateTime>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "sim/Options.h"
#include "sim/Report.h"
#include "sim/Route.h"

namespace vostrel::sim {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// The reports of one run in order: which point each one takes (going round the route when
// there are more reports than points), which are malformed, and their exact bytes.
class ReportSequence {
  public:
    struct Item {
        std::string bytes;               // exactly what is sent
        std::optional<BadKind> badKind;  // set for a malformed report
    };

    ReportSequence(const SimOptions& options, std::vector<TrackPoint> points);

    std::int64_t Total() const { return total_; }
    // Report `index` (from 0); points without a time get `now`.
    Item At(std::int64_t index, const QDateTime& now) const;

  private:
    SimOptions options_;
    std::vector<TrackPoint> points_;
    std::int64_t total_;
};

// The points a run plays: the GPX file's (with course and speed filled in) or the built-in
// route. Throws SimError.
std::vector<TrackPoint> LoadRoute(const SimOptions& options);

// A whole run. Progress goes to `out`, failures to `err`; returns the exit status.
int RunSimulator(const SimOptions& options, std::ostream& out, std::ostream& err);

// The program: parses `args` (without the program name), then runs.
int SimulatorMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The text as printed: CR, LF and other control bytes shown as escapes.
std::string Printable(const std::string& bytes);

}  // namespace vostrel::sim
