// Vostrel: a tracking server for Globalsat TR-102 trackers reporting over GPRS.
#include "app/Application.h"
#include "app/VostrelDEMO.h"
#include "globe/GlobeViewer.h"

int main(int argc, char** argv) {
    // Nothing in the program draws with OpenGL. Without this, a library that the map library
    // links creates an OpenGL context at start, which under X11 loads a software OpenGL driver:
    // some 50 MB and a third of a second for nothing.
    if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION")) {
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    }
    vostrel::Application app(argc, argv);
    vostrel::RegisterGlobeViewer(vostrel::ComponentRegistry::Instance());

    vostrel::VostrelDEMO window;
    window.show();
    // The sockets, any tracker connection and the viewer go with the process.
    vostrel::EndProgramNow(app.exec());
}
