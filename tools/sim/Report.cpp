#include "sim/Report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "sim/Coordinates.h"

namespace vostrel::sim {

namespace {

constexpr int kDefaultSatellites = 8;

std::string Digits(long long value, int width) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%0*lld", width, value);
    return buffer;
}

std::string Altitude(double metres) {
    const long long rounded = std::llround(std::clamp(metres, -9999.0, 99999.0));
    return Digits(rounded, 5);  // "-0012" keeps the width
}

std::string Speed(double kmh) {
    if (!std::isfinite(kmh) || kmh < 0) kmh = 0;
    // Four decimals from an integer, so no locale can change the separator.
    const long long units = std::llround(std::min(kmh, 99999.0) * 10000);
    return std::to_string(units / 10000) + "." + Digits(units % 10000, 4);
}

std::string Course(double degrees) {
    if (!std::isfinite(degrees)) degrees = 0;
    long long rounded = std::llround(std::fmod(degrees, 360.0));
    rounded = ((rounded % 360) + 360) % 360;
    return Digits(rounded, 3);
}

}  // namespace

ReportFields FieldsFor(const TrackPoint& point, const std::string& imei, const QDateTime& now) {
    ReportFields fields;
    fields.imei = imei;
    fields.utc = (point.time ? *point.time : now).toUTC();
    fields.latitude = point.latitude;
    fields.longitude = point.longitude;
    fields.altitude = point.elevation.value_or(0.0);
    fields.speedKmh = point.speedKmh.value_or(0.0);
    fields.course = point.course.value_or(0.0);
    fields.satellites = point.satellites.value_or(kDefaultSatellites);
    fields.fix = point.elevation ? 3 : 2;
    return fields;
}

std::string FormatReport(const ReportFields& f) {
    const QDate date = f.utc.date();
    const QTime time = f.utc.time();
    std::string text = "$" + f.imei + ",1," + std::to_string(f.fix) + ",";
    text += Digits(date.day(), 2) + Digits(date.month(), 2) + Digits(date.year() % 100, 2) + ",";
    text += Digits(time.hour(), 2) + Digits(time.minute(), 2) + Digits(time.second(), 2) + ",";
    text += FormatLongitude(f.longitude) + "," + FormatLatitude(f.latitude) + ",";
    text += Altitude(f.altitude) + "," + Speed(f.speedKmh) + "," + Course(f.course) + ",";
    text += Digits(std::clamp(f.satellites, 0, 99), 2) + "*37!";
    return text;
}

BadKind BadKindAt(long long n) {
    return static_cast<BadKind>(n % kBadKindCount);
}

const char* BadKindName(BadKind kind) {
    switch (kind) {
        case BadKind::kTooShort:
            return "too short";
        case BadKind::kWrongFieldCount:
            return "wrong field count";
        case BadKind::kMissingDollar:
            return "missing \"$\"";
        case BadKind::kMissingBang:
            return "missing \"!\"";
        case BadKind::kTooLong:
            return "too long";
    }
    return "malformed";
}

std::string MakeBadReport(const std::string& good, BadKind kind) {
    switch (kind) {
        case BadKind::kTooShort:
            return good.substr(0, kShortestReport - 4) + "!";
        case BadKind::kWrongFieldCount: {
            // Drop the course, the 10th field: "...,speed,course,sats*37!" -> "...,speed,sats*37!"
            const std::size_t lastComma = good.rfind(',');
            const std::size_t courseComma = good.rfind(',', lastComma - 1);
            return good.substr(0, courseComma) + good.substr(lastComma);
        }
        case BadKind::kMissingDollar:
            return good.substr(1);
        case BadKind::kMissingBang:
            return good.substr(0, good.size() - 1);
        case BadKind::kTooLong: {
            // Zeros in front of the altitude (the 8th field) until one character too many.
            std::size_t comma = 0;
            for (int i = 0; i < 7; ++i) comma = good.find(',', comma) + 1;
            std::string text = good;
            if (text.size() <= kLongestReport) {
                text.insert(comma, kLongestReport + 1 - text.size(), '0');
            }
            return text;
        }
    }
    return good;
}

}  // namespace vostrel::sim
