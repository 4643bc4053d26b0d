#include "output/PositionFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string_view>

#include "core/Errors.h"

namespace vostrel {

namespace {

[[noreturn]] void Fail(const std::string& path, int errnoValue) {
    throw FileError(errnoValue, path, std::strerror(errnoValue));
}

[[noreturn]] void FailNotRegular(const std::string& path, mode_t mode) {
    if (S_ISDIR(mode)) Fail(path, EISDIR);
    throw FileError(EINVAL, path, "Not a regular file");
}

// Closes `fd` and throws the error in `errno` at the time of the call.
[[noreturn]] void CloseAndFail(int fd, const std::string& path) {
    const int error = errno;
    ::close(fd);
    Fail(path, error);
}

int OpenFile(const std::string& path, int flags, mode_t mode = 0644) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Writes all of `bytes`; false with errno set when a write fails or writes nothing (which a
// regular file only does when it can take no more: said as a full device).
bool WriteAll(int fd, std::string_view bytes, std::size_t& done) {
    done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// `path` with every symbolic link in its last component followed (the link's target may be
// missing yet); throws for a loop.
std::string FollowLinks(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
        if (n < 0) Fail(path, errno);
        const std::string next(target, static_cast<std::size_t>(n));
        path = !next.empty() && next.front() == '/' ? next : FolderOf(path) + "/" + next;
    }
    Fail(path, ELOOP);
}

void SyncPath(const std::string& path, int flags) {
    const int fd = OpenFile(path, flags | O_NONBLOCK);
    if (fd < 0) Fail(path, errno);
    if (::fsync(fd) != 0) CloseAndFail(fd, path);
    ::close(fd);
}

// The system's reason of a FileError, without the path in front.
std::string Reason(const FileError& error) {
    return std::string(error.what()).substr(error.Path().size() + 2);
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

PositionFiles::PositionFiles(PositionPaths paths)
    : trackLogPath_(std::move(paths.trackLog)), snapshotPath_(std::move(paths.snapshot)) {}

void PositionFiles::SaveTrackerPosition(const std::string& latitude, const std::string& longitude,
                                        Durability durability) {
    const bool now = durability == Durability::Now;
    AppendTrackLog(TrackLogLine(latitude, longitude), now);
    // The line is written; until the arrival's last save or Sync puts it on disk, it waits,
    // whatever becomes of the snapshot.
    if (!now) unsynced_ = true;
    try {
        ReplaceSnapshot(SnapshotText(latitude, longitude), now);
        if (now) SyncFolders();
    } catch (const FileError& error) {
        throw SnapshotError(error.Number(), error.Path(), Reason(error));
    }
    if (now) unsynced_ = false;  // the track log's sync covers the lines before
}

void PositionFiles::Sync() {
    if (!unsynced_) return;
    unsynced_ = false;
    SyncPath(trackLogPath_, O_WRONLY | O_APPEND);
    SyncPath(FollowLinks(snapshotPath_), O_RDONLY);
    SyncFolders();
}

// One line at the end of the track log; a write that fails part way is cut back, so the file
// only ever holds whole lines. A log that does not end in a line break (cut short by another
// program) gets one first, so the new line is a line of its own. Anything but a regular file
// (a pipe would block the window) is refused.
void PositionFiles::AppendTrackLog(const std::string& line, bool sync) {
    const std::string& path = trackLogPath_;
    // Read and write, to see its last byte; write only when reading it is not allowed.
    int fd = OpenFile(path, O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK);
    if (fd < 0 && errno == EACCES) fd = OpenFile(path, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK);
    if (fd < 0) Fail(path, errno);
    struct stat before {};
    if (::fstat(fd, &before) != 0) CloseAndFail(fd, path);
    if (!S_ISREG(before.st_mode)) {
        ::close(fd);
        FailNotRegular(path, before.st_mode);
    }
    if (before.st_size == 0) foldersToSync_.insert(FolderOf(path));  // perhaps just created
    char last = '\n';
    if (before.st_size > 0 && ::pread(fd, &last, 1, before.st_size - 1) != 1) last = '\n';
    const std::string bytes = last == '\n' ? line : (last == '\r' ? "\n" : "\r\n") + line;
    std::size_t done = 0;
    if (!WriteAll(fd, bytes, done) || (sync && ::fdatasync(fd) != 0)) {
        const int error = errno;
        // The write's error is the one reported; a failing cut cannot be helped.
        [[maybe_unused]] const int cut = done > 0 ? ::ftruncate(fd, before.st_size) : 0;
        ::close(fd);
        Fail(path, error);
    }
    if (::close(fd) != 0 && errno != EINTR) {
        const int error = errno;
        if (::truncate(path.c_str(), before.st_size) != 0) Fail(path, error);
        Fail(path, error);
    }
}

// The snapshot is written beside the file it replaces and renamed over it, so a reader sees
// either the old snapshot or the new one, whole. A symbolic link stays and the file it points
// to is replaced; the replaced file's permission bits are kept.
void PositionFiles::ReplaceSnapshot(const std::string& text, bool sync) {
    const std::string target = FollowLinks(snapshotPath_);
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) Fail(snapshotPath_, errno);
    if (exists && !S_ISREG(old.st_mode)) FailNotRegular(snapshotPath_, old.st_mode);

    const std::string folder = FolderOf(target);
    const std::string temp = folder + "/." + NameOf(target) + ".tmp";
    // A leftover of an interrupted write goes first; whatever stands there is never followed.
    if (::unlink(temp.c_str()) != 0 && errno != ENOENT) Fail(temp, errno);
    const int fd = OpenFile(temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW);
    if (fd < 0) Fail(snapshotPath_, errno);
    auto fail = [&](int error) {
        ::close(fd);
        ::unlink(temp.c_str());
        Fail(snapshotPath_, error);
    };
    if (exists && ::fchmod(fd, old.st_mode & 07777) != 0) fail(errno);
    std::size_t done = 0;
    if (!WriteAll(fd, text, done) || (sync && ::fsync(fd) != 0)) fail(errno);
    if (::close(fd) != 0 && errno != EINTR) {
        const int error = errno;
        ::unlink(temp.c_str());
        Fail(snapshotPath_, error);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        Fail(snapshotPath_, error);
    }
    foldersToSync_.insert(folder);
}

void PositionFiles::SyncFolders() {
    while (!foldersToSync_.empty()) {
        const std::string folder = *foldersToSync_.begin();
        foldersToSync_.erase(foldersToSync_.begin());
        SyncPath(folder, O_RDONLY | O_DIRECTORY);
    }
}

}  // namespace vostrel
