#include "viewer/ViewerAutomation.h"

namespace vostrel {

ViewerAutomation* QueryViewerAutomation(QObject* object) {
    return qobject_cast<ViewerAutomation*>(object);
}

}  // namespace vostrel
