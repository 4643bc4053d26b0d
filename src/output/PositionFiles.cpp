#include "output/PositionFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/Errors.h"

namespace vostrel {

namespace {

[[noreturn]] void Fail(const std::string& path, int errnoValue) {
    throw FileError(errnoValue, path, std::strerror(errnoValue));
}

// Opens `path` with `flags`, writes all of `bytes` and closes it; the descriptor is closed on
// every path, and a failing close (where delayed write errors show) counts as a failure. When
// appending fails part way, the file is cut back to its length before, so it only ever holds
// whole lines.
void WriteFile(const std::string& path, int flags, const std::string& bytes) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) Fail(path, errno);

    const bool appending = (flags & O_APPEND) != 0;
    struct stat before {};
    if (appending && ::fstat(fd, &before) != 0) {
        const int error = errno;
        ::close(fd);
        Fail(path, error);
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            if (appending && done > 0) static_cast<void>(::ftruncate(fd, before.st_size));
            ::close(fd);
            Fail(path, error);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && errno != EINTR) {
        const int error = errno;
        if (appending) static_cast<void>(::truncate(path.c_str(), before.st_size));
        Fail(path, error);
    }
}

std::string JoinPath(const std::string& folder, const char* name) {
    if (folder.empty() || folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

}  // namespace

std::string TrackLogLine(const std::string& latitude, const std::string& longitude) {
    return longitude + "," + latitude + ",0\r\n";
}

std::string SnapshotText(const std::string& latitude, const std::string& longitude) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
           "<kml xmlns=\"http://earth.google.com/kml/2.2\">\r\n"
           "<Document>\r\n"
           "<name>Vostrel Demo</name>\r\n"
           "<description>Last reported position</description>\r\n"
           "<Placemark>\r\n"
           "<name>Your Tracker</name>\r\n"
           "<Point>\r\n"
           "<coordinates>" +
           longitude + "," + latitude +
           ",0</coordinates>\r\n"
           "</Point>\r\n"
           "</Placemark>\r\n"
           "</Document>\r\n"
           "</kml>\r\n";
}

PositionFiles::PositionFiles(std::string folder)
    : trackLogPath_(JoinPath(folder, kTrackLogName)),
      snapshotPath_(JoinPath(folder, kSnapshotName)) {}

bool PositionFiles::SaveTrackerPosition(const std::string& latitude, const std::string& longitude) {
    WriteFile(trackLogPath_, O_APPEND, TrackLogLine(latitude, longitude));
    WriteFile(snapshotPath_, O_TRUNC, SnapshotText(latitude, longitude));
    return true;
}

}  // namespace vostrel
