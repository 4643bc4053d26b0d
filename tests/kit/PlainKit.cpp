#include "kit/PlainKit.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vostrel::test {

std::vector<std::string> OperatorRecord::Notices() const {
    std::vector<std::string> notices;
    for (const auto& event : events) {
        if (event.rfind("notice:", 0) == 0) notices.push_back(event.substr(7));
    }
    return notices;
}

void RecordingViewer::ShowKmlFile(const std::string& path, std::int32_t flag) {
    calls.emplace_back(path, flag);
    if (!failWith.empty()) throw ViewerError(failWith);
}

ScratchHome::ScratchHome() : dir_(QDir::tempPath() + QStringLiteral("/vostrel-home-XXXXXX")) {
    if (!dir_.isValid()) throw std::runtime_error("cannot make a scratch home");
    dir_.setAutoRemove(std::getenv("VOSTREL_KEEP_TEST_HOME") == nullptr);
    ::setenv("HOME", Path().c_str(), 1);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME",
                             "XDG_RUNTIME_DIR"}) {
        ::unsetenv(name);
    }
    // The toolkit wants a private runtime folder; one inside the home goes with it.
    const std::string runtime = File("runtime");
    if (::mkdir(runtime.c_str(), 0700) == 0) ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
}

ScratchDir::ScratchDir() : dir_(QDir::tempPath() + QStringLiteral("/vostrel-scratch-XXXXXX")) {
    if (!dir_.isValid()) throw std::runtime_error("cannot make a scratch folder");
    path_ = dir_.path().toStdString();
}

ScratchDir::~ScratchDir() {
    ::chmod(path_.c_str(), 0700);  // a test may have taken its rights away
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return path;
}

bool FileExists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

qint64 BytesUnder(const QString& folder) {
    qint64 bytes = 0;
    QDirIterator files(folder, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) bytes += QFileInfo(files.next()).size();
    return bytes;
}

std::size_t CountOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

}  // namespace vostrel::test
