#include "output/PositionPaths.h"

#include <QDir>
#include <QFile>

namespace vostrel {

namespace {

std::string JoinPath(const std::string& folder, const char* name) {
    if (folder.empty() || folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

}  // namespace

PositionPaths PositionPaths::In(const std::string& folder) {
    return {JoinPath(folder, kTrackLogName), JoinPath(folder, kSnapshotName)};
}

PositionPaths PositionPaths::InHome() {
    return In(QFile::encodeName(QDir::homePath()).toStdString());
}

}  // namespace vostrel
