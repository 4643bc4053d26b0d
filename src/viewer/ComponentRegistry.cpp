#include "viewer/ComponentRegistry.h"

#include "core/Errors.h"

namespace vostrel {

ComponentRegistry& ComponentRegistry::Instance() {
    static ComponentRegistry registry;
    return registry;
}

void ComponentRegistry::Register(const std::string& progId, Factory factory) {
    factories_[progId] = std::move(factory);
}

void ComponentRegistry::Unregister(const std::string& progId) {
    factories_.erase(progId);
}

std::unique_ptr<QObject> ComponentRegistry::Create(const std::string& progId) const {
    const auto found = factories_.find(progId);
    if (found == factories_.end()) {
        throw AppError(error_number::kComponent, "Cannot create component '" + progId + "'");
    }
    std::unique_ptr<QObject> object = found->second();
    if (!object) {
        throw AppError(error_number::kComponent, "Component '" + progId + "' was not created");
    }
    return object;
}

}  // namespace vostrel
