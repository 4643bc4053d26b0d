// Tile requests of the street map name this program and its version, as tile servers' usage
// policies ask of every application: "Vostrel/1.01 (Browser; QNamNetworkPlugin) Marble/22.12.3".
//
// The map library's download manager writes the User-Agent header of each request it sends
// from HttpDownloadManager::userAgent, which names only the library and has no setting. The
// library calls that function through its exported symbol, and the dynamic linker binds such
// a call to the program's own definition when there is one: this one. The globe library links
// this file whole into every program that uses it (see src/CMakeLists.txt), and the street-map
// test checks the header the loopback tile server receives.
#include <marble/HttpDownloadManager.h>
#include <marble/marble_version.h>

#include <QString>

#include "core/Version.h"

QByteArray Marble::HttpDownloadManager::userAgent(const QString& platform,
                                                  const QString& component) {
    return QStringLiteral("Vostrel/%1 (%2; %3) Marble/%4")
        .arg(QLatin1String(vostrel::kVersion), platform, component,
             QLatin1String(MARBLE_LIB_VERSION_STRING))
        .toLatin1();
}
