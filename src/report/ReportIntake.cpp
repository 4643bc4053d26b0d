#include "report/ReportIntake.h"

#include "report/Conversion.h"
#include "report/Errors.h"
#include "report/ReportCheck.h"

namespace vostrel {

void ReportIntake::ReceiveReport(const std::string& report) {
    log_.Append(clock_.DateAndTime() + " " + report + "\r\n");

    const CheckResult check = CheckReport(report);
    if (check.rejection) {
        notice_.Show(*check.rejection);
        return;
    }

    const std::string latitude = ConvertLatitude(check.fields[6]);
    const std::string longitude = ConvertLongitude(check.fields[5]);

    // One unwritable file or one viewer hiccup must not take the server down: report it and
    // keep the connection, the slot and the listener as they are.
    bool saved = false;
    try {
        saved = writer_.SaveTrackerPosition(latitude, longitude);
    } catch (const FileError& error) {
        notice_.Show(std::string("Unable to save position: ") + error.what());
        return;
    }
    if (!saved) return;
    try {
        viewer_.ShowKmlFile(writer_.SnapshotPath(), kShowKmlFlag);
    } catch (const ViewerError& error) {
        notice_.Show(std::string("Unable to show position: ") + error.what());
    }
}

}  // namespace vostrel
