// The globe viewer's automation interface and its query by interface ID.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>

#include "core/Errors.h"

namespace vostrel {

// The operations the tracking server calls on its globe viewer. Both report a failure by
// throwing ViewerError with a reason.
class ViewerAutomation {
  public:
    virtual ~ViewerAutomation() = default;
    // 0 while the viewer is still starting; non-zero once it can take requests.
    virtual std::int32_t IsViewerReady() = 0;
    // Loads the KML file at `path` and shows its placemark. Flag 1: report failures to the
    // caller, show no dialog of the viewer's own.
    virtual void ShowKmlFile(const QString& path, std::int32_t flag) = 0;
};

// The interface query by interface ID: the object's ViewerAutomation, or nullptr.
ViewerAutomation* QueryViewerAutomation(QObject* object);

}  // namespace vostrel

#define VOSTREL_VIEWER_AUTOMATION_IID "{2830837B-D4E8-48C6-B6EE-04633372ABE4}"
Q_DECLARE_INTERFACE(vostrel::ViewerAutomation, VOSTREL_VIEWER_AUTOMATION_IID)
