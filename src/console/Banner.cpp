#include "console/Banner.h"

#include <QString>

#include "core/Version.h"

namespace vostrel {

QString BannerText() {
    static const char* const kLines[] = {
        "Copyright (C) 2026 Vostrel Tracking",
        "Web: www.vostrel-tracking.example",
        "EMail: info@vostrel-tracking.example",
        "",
        "Vostrel Tracking runs GPS tracking services for vehicles, assets and people; e-mail us "
        "to learn more.",
        "This server comes in three editions: Demo, Standard and Professional. Pick the one "
        "that fits you.",
        "We also supply GPS tracking hardware and GPRS hosting for your trackers.",
        "Ask us about live maps, trip reports and alerts for your whole fleet.",
        "Your inquiries are always welcome.",
        "",
    };
    QString text =
        QStringLiteral("Vostrel V%1 GPRS Demo Version for Globalsat TR-102 trackers.\r\n")
            .arg(QLatin1String(kVersion));
    for (const char* line : kLines) text += QLatin1String(line) + QLatin1String("\r\n");
    return text;
}

}  // namespace vostrel
