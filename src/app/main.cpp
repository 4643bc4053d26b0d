// Vostrel: a tracking server for Globalsat TR-102 trackers reporting over GPRS.
#include <cstdio>
#include <string>
#include <vector>

#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/VostrelDEMO.h"
#include "globe/GlobeViewer.h"

namespace {

// What Qt's X11 support writes when a context is asked for with OpenGL switched off, as below.
constexpr char kNoOpenGlLine[] =
    "QXcbIntegration: Cannot create platform OpenGL context, neither GLX nor EGL are enabled";

QtMessageHandler passOn = nullptr;

// Every message goes on to the handler before, except that one line: with OpenGL off on
// purpose, it reads like a fault to whoever starts the program from a terminal.
void DropNoOpenGlLine(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtWarningMsg && text == QLatin1String(kNoOpenGlLine)) return;
    passOn(type, context, text);
}

}  // namespace

int main(int argc, char** argv) {
    // Before any window or display: --help and --version work over a plain terminal.
    const vostrel::StartCommand command =
        vostrel::ReadCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (command.action) {
        case vostrel::StartCommand::Action::kHelp:
            std::fputs(vostrel::UsageText().c_str(), stdout);
            return 0;
        case vostrel::StartCommand::Action::kVersion:
            std::fputs(vostrel::VersionText().c_str(), stdout);
            return 0;
        case vostrel::StartCommand::Action::kError:
            std::fprintf(stderr, "vostrel: %s (try \"vostrel --help\")\n", command.error.c_str());
            return vostrel::kExitUsage;
        case vostrel::StartCommand::Action::kRun:
            break;
    }
    // Nothing in the program draws with OpenGL. Without this, a library that the map library
    // links creates an OpenGL context at start, which under X11 loads a software OpenGL driver:
    // some 50 MB and a third of a second for nothing. That context is asked for while the
    // application object is made, and only then is the line above dropped.
    const bool openGlOff = qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION");
    if (openGlOff) {
        qputenv("QT_XCB_GL_INTEGRATION", "none");
        passOn = qInstallMessageHandler(DropNoOpenGlLine);
    }
    vostrel::Application app(argc, argv);
    if (openGlOff) qInstallMessageHandler(passOn);
    vostrel::RegisterGlobeViewer(vostrel::ComponentRegistry::Instance());

    vostrel::VostrelDEMO window;
    window.show();
    // The sockets, any tracker connection and the viewer go with the process.
    vostrel::Application::EndNow(app.exec());
}
