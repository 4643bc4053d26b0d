// The globe viewer's automation interface, and the registry that creates automation objects
// by programmatic identifier.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "report/Errors.h"

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

// Creates automation objects by programmatic identifier. The program registers its real
// components at start; tests register their own.
class ComponentRegistry {
  public:
    using Factory = std::function<std::unique_ptr<QObject>()>;

    static ComponentRegistry& Instance();

    void Register(const std::string& progId, Factory factory);
    void Unregister(const std::string& progId);
    bool Contains(const std::string& progId) const;

    // Throws AppError when nothing is registered under `progId` or the factory fails.
    std::unique_ptr<QObject> Create(const std::string& progId) const;

  private:
    std::map<std::string, Factory> factories_;
};

// The interface query by interface ID: the object's ViewerAutomation, or nullptr.
ViewerAutomation* QueryViewerAutomation(QObject* object);

}  // namespace vostrel

#define VOSTREL_VIEWER_AUTOMATION_IID "{2830837B-D4E8-48C6-B6EE-04633372ABE4}"
Q_DECLARE_INTERFACE(vostrel::ViewerAutomation, VOSTREL_VIEWER_AUTOMATION_IID)
