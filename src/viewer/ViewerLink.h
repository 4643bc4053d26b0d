// The tracking server's link to its globe viewer: created at start from the stored
// (scrambled) programmatic identifier, awaited until ready, then used for every position.
#pragma once

#include <QObject>
#include <memory>
#include <string>
#include <string_view>

#include "core/Ports.h"
#include "viewer/ComponentRegistry.h"
#include "viewer/ViewerAutomation.h"

namespace vostrel {

// The viewer's programmatic identifier in its stored, scrambled form.
inline constexpr std::string_view kStoredViewerId =
    "\xD5\xE8\xEC\xED\xEB\xDE\xE5\xC3\xDE\xE6\xE8\x2E\xC6\xE5\xE8\xDB\xDE\xD5\xE2\xDE\xF0\xDE\xEB"
    "\x2E\xF5";

class ViewerLink : public ViewerPort {
  public:
    // Unscrambles `storedId`, creates the component registered under it, queries its viewer
    // interface and polls it until ready, letting pending events run once between polls with
    // no time limit. Throws on any failure.
    void Connect(const ComponentRegistry& registry, std::string_view storedId = kStoredViewerId);

    // Forwards to the viewer; any failure comes out as ViewerError.
    void ShowKmlFile(const std::string& path, std::int32_t flag) override;

    ViewerAutomation* Viewer() const { return viewer_; }
    QObject* Component() const { return component_.get(); }

  private:
    std::unique_ptr<QObject> component_;
    ViewerAutomation* viewer_ = nullptr;
};

}  // namespace vostrel
