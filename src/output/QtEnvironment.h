// Settings the globe's embedded web engine needs before the application object exists.
#pragma once

namespace vostrel {

// As root, the web engine refuses to start unless its sandbox is off; on the offscreen
// platform it aborts unless Qt Quick renders in software. Sets QTWEBENGINE_DISABLE_SANDBOX=1
// and QT_QUICK_BACKEND=software in exactly those situations, each only when not already set.
// Call before QApplication is created.
void PrepareQtEnvironment();

}  // namespace vostrel
