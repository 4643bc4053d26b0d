// Vostrel: a tracking server for Globalsat TR-102 trackers reporting over GPRS.
#include "app/Application.h"
#include "app/VostrelDEMO.h"
#include "globe/GlobeViewer.h"

int main(int argc, char** argv) {
    vostrel::Application app(argc, argv);
    vostrel::RegisterGlobeViewer(vostrel::ComponentRegistry::Instance());

    vostrel::VostrelDEMO window;
    window.show();
    // The sockets, any tracker connection and the viewer go with the process.
    vostrel::EndProgramNow(app.exec());
}
