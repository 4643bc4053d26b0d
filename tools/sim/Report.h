// One TR-102 position report as the tracker sends it, and the malformed variants the simulator
// can send instead.
#pragma once

#include <QDateTime>
#include <string>

#include "report/ReportCheck.h"  // the framing the server checks: shortest and longest report
#include "sim/Route.h"

namespace vostrel::sim {

struct ReportFields {
    std::string imei;
    QDateTime utc;
    double latitude = 0.0;
    double longitude = 0.0;
    double altitude = 0.0;  // metres
    double speedKmh = 0.0;
    double course = 0.0;  // degrees
    int satellites = 0;
    int fix = 3;  // 2: 2D fix, 3: 3D fix
};

// The fields for one point: its own time, else `now`; missing elevation, speed or course read
// as 0 and a missing satellite count as 8. The fix is 3D only with an elevation.
ReportFields FieldsFor(const TrackPoint& point, const std::string& imei, const QDateTime& now);

// "$IMEI,1,fix,ddmmyy,hhmmss,Ldddmm.mmmm,Lddmm.mmmm,alt,speed,course,sats*37!" with UTC date
// and time, altitude as five characters ("00161", "-0012"), speed with four decimals, course as
// three digits (0..359) and satellites as two. Throws std::out_of_range for a position beyond
// the poles or the antimeridian.
std::string FormatReport(const ReportFields& fields);

// The ways a report can be made malformed, in the order --bad-every cycles through them.
enum class BadKind { kTooShort, kWrongFieldCount, kMissingDollar, kMissingBang, kTooLong };
inline constexpr int kBadKindCount = 5;

// The n-th malformed report's kind (n from 0), cycling through all kinds.
BadKind BadKindAt(long long n);
const char* BadKindName(BadKind kind);

// A malformed form of a good report, bad in exactly one way: shorter than 15 characters; 10
// fields (the course removed); without the leading "$"; without the final "!"; or 255
// characters long (the altitude padded with zeros).
std::string MakeBadReport(const std::string& good, BadKind kind);

}  // namespace vostrel::sim
