// Creates automation objects by programmatic identifier, as the platform's object automation
// does: the program registers its real components at start; tests register their own.
#pragma once

#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace vostrel {

class ComponentRegistry {
  public:
    using Factory = std::function<std::unique_ptr<QObject>()>;

    static ComponentRegistry& Instance();

    void Register(const std::string& progId, Factory factory);
    void Unregister(const std::string& progId);

    // Throws AppError when nothing is registered under `progId` or the factory fails.
    std::unique_ptr<QObject> Create(const std::string& progId) const;

  private:
    std::map<std::string, Factory> factories_;
};

}  // namespace vostrel
