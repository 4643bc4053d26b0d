#include "report/ReportIntake.h"

#include <optional>

#include "core/Errors.h"
#include "report/Conversion.h"
#include "report/ReportCheck.h"
#include "report/ReportFraming.h"

namespace vostrel {

struct ReportIntake::Arrival {
    Outcome outcome;  // the notice holds the first message; later ones go to the log

    void Tell(ActivityLogPort& log, const std::string& message) {
        if (outcome.notice) {
            log.Append(ErrorLogLine(message));
        } else {
            outcome.notice = message;
        }
    }
};

ReportIntake::Outcome ReportIntake::ReceiveReport(const std::string& arrival) {
    Outcome outcome = HandleReport(arrival);
    if (outcome.notice) notice_.Show(*outcome.notice);
    return outcome;
}

ReportIntake::Outcome ReportIntake::HandleReport(const std::string& arrival) {
    const std::vector<std::string_view> pieces = SplitArrival(arrival);
    std::vector<CheckResult> checks;
    checks.reserve(pieces.size());
    std::size_t lastGood = pieces.size();
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        checks.push_back(CheckReport(pieces[i]));
        if (!checks.back().rejection) lastGood = i;
    }

    // Every piece is handled and on disk before a notice can let the next arrival run nested,
    // so positions are saved in the order they came. The last good position's save syncs all
    // of the arrival's; Sync covers a failure on the way there.
    Arrival state;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        ReceiveOne(pieces[i], checks[i], i == lastGood ? Durability::Now : Durability::Deferred,
                   state);
    }
    try {
        writer_.Sync();
    } catch (const FileError& error) {
        state.Tell(log_, std::string("Unable to save position: ") + error.what());
    }
    return std::move(state.outcome);
}

void ReportIntake::ReceiveOne(std::string_view report, const CheckResult& check,
                              Durability durability, Arrival& arrival) {
    std::string line = clock_.DateAndTime();
    line.reserve(line.size() + report.size() + 3);
    line += ' ';
    line += report;
    line += "\r\n";
    log_.Append(line);

    if (check.rejection) {
        arrival.Tell(log_, *check.rejection);
        return;
    }
    arrival.outcome.goodReportsFrom.emplace_back(check.fields.front());

    const std::string latitude = ConvertLatitude(check.fields[6]);
    const std::string longitude = ConvertLongitude(check.fields[5]);

    // One unwritable file or one viewer hiccup must not take the server down: report it and
    // keep the connection, the slot and the listener as they are.
    // A position whose track log line was saved but not its snapshot is said so: the operator
    // must not think it lost, nor the globe and the snapshot current.
    try {
        writer_.SaveTrackerPosition(latitude, longitude, durability);
    } catch (const SnapshotError& error) {
        arrival.Tell(log_, std::string("Position logged, but the snapshot could not be written: ") +
                               error.what());
        return;
    } catch (const FileError& error) {
        arrival.Tell(log_, std::string("Unable to save position: ") + error.what());
        return;
    }
    try {
        viewer_.ShowKmlFile(writer_.SnapshotPath(), kShowKmlFlag);
    } catch (const ViewerError& error) {
        arrival.Tell(log_, std::string("Unable to show position: ") + error.what());
    }
}

}  // namespace vostrel
