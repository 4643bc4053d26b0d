#include "report/ReportIntake.h"

#include "core/Errors.h"
#include "report/Conversion.h"
#include "report/ReportCheck.h"

namespace vostrel {

struct ReportIntake::Arrival {
    const std::function<void()>& onGoodReport;
    bool noticeShown = false;
};

void ReportIntake::ReceiveReport(const std::string& arrival,
                                 const std::function<void()>& onGoodReport) {
    Arrival state{onGoodReport};
    // The views stay valid: `arrival` outlives every nested call.
    for (const std::string_view report : SplitArrival(arrival)) ReceiveOne(report, state);
}

void ReportIntake::ReceiveOne(std::string_view report, Arrival& arrival) {
    auto tell = [&](const std::string& message) {
        if (arrival.noticeShown) {
            log_.Append(ErrorLogLine(message));
        } else {
            arrival.noticeShown = true;
            notice_.Show(message);
        }
    };
    std::string line = clock_.DateAndTime();
    line.reserve(line.size() + report.size() + 3);
    line += ' ';
    line += report;
    line += "\r\n";
    log_.Append(line);

    const CheckResult check = CheckReport(report);
    if (check.rejection) {
        tell(*check.rejection);
        return;
    }
    if (arrival.onGoodReport) arrival.onGoodReport();

    const std::string latitude = ConvertLatitude(check.fields[6]);
    const std::string longitude = ConvertLongitude(check.fields[5]);

    // One unwritable file or one viewer hiccup must not take the server down: report it and
    // keep the connection, the slot and the listener as they are.
    bool saved = false;
    try {
        saved = writer_.SaveTrackerPosition(latitude, longitude);
    } catch (const FileError& error) {
        tell(std::string("Unable to save position: ") + error.what());
        return;
    }
    if (!saved) return;
    try {
        viewer_.ShowKmlFile(writer_.SnapshotPath(), kShowKmlFlag);
    } catch (const ViewerError& error) {
        tell(std::string("Unable to show position: ") + error.what());
    }
}

}  // namespace vostrel
