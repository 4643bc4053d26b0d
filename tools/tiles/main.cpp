// vostrel-tiles: serves generated map tiles on 127.0.0.1 and points the street map theme of a
// home folder at them, so the street map can be tried without anything leaving this machine.
//   vostrel-tiles [PORT]   (HOME's theme; port 0 or none: a free one)
#include <QDir>
#include <QGuiApplication>
#include <cstdio>

#include "tiles/LoopbackTileServer.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");  // draws its tiles, shows nothing
    QGuiApplication app(argc, argv);
    const quint16 port = argc > 1 ? static_cast<quint16>(QString(argv[1]).toUShort()) : 0;
    vostrel::LoopbackTileServer tiles(port);
    if (!tiles.Listening()) {
        std::fprintf(stderr, "vostrel-tiles: cannot listen on 127.0.0.1:%u\n", port);
        return 1;
    }
    const QString error = vostrel::InstallLoopbackStreetTheme(tiles.Port());
    if (!error.isEmpty()) {
        std::fprintf(stderr, "vostrel-tiles: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("serving tiles on 127.0.0.1:%u for the street map of %s\n", tiles.Port(),
                qPrintable(QDir::homePath()));
    std::fflush(stdout);
    return QGuiApplication::exec();
}
