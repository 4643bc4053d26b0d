#include "output/QtEnvironment.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace vostrel {

namespace {

void SetIfUnset(const char* name, const char* value) {
    if (std::getenv(name) == nullptr) ::setenv(name, value, 0);
}

}  // namespace

void PrepareQtEnvironment() {
    if (::geteuid() == 0) SetIfUnset("QTWEBENGINE_DISABLE_SANDBOX", "1");
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && std::strncmp(platform, "offscreen", 9) == 0) {
        SetIfUnset("QT_QUICK_BACKEND", "software");
    }
}

}  // namespace vostrel
