// The track log (one line appended per good report) and the one-placemark KML snapshot
// (replaced whole per good report), both in one folder.
#pragma once

#include <set>
#include <string>

#include "core/Ports.h"
#include "output/PositionPaths.h"

namespace vostrel {

// The exact bytes of the track log line and the snapshot for one position.
std::string TrackLogLine(const std::string& latitude, const std::string& longitude);
std::string SnapshotText(const std::string& latitude, const std::string& longitude);

class PositionFiles : public PositionWriterPort {
  public:
    explicit PositionFiles(PositionPaths paths);
    // The two files in `folder`.
    explicit PositionFiles(const std::string& folder) : PositionFiles(PositionPaths::In(folder)) {}

    // Appends the track log line (file closed again), then replaces the snapshot: written to
    // ".vo_demo.kml.tmp" beside it and renamed over it, so readers never see it empty or cut
    // short. With Durability::Now the new snapshot is on disk before it replaces the old one,
    // and the track log and the folders are synced too. A failure throws FileError with the
    // path and the system's reason when nothing was saved, SnapshotError when the track log's
    // line was saved (and stays) but the snapshot was not. Anything but a regular file (or a
    // link to one) in either place is refused.
    void SaveTrackerPosition(const std::string& latitude, const std::string& longitude,
                             Durability durability) override;
    void SaveTrackerPosition(const std::string& latitude, const std::string& longitude) {
        SaveTrackerPosition(latitude, longitude, Durability::Now);
    }
    // Puts what deferred saves wrote on disk.
    void Sync() override;

    std::string SnapshotPath() const override { return snapshotPath_; }

  private:
    void AppendTrackLog(const std::string& line, bool sync);
    void ReplaceSnapshot(const std::string& text, bool sync);
    void SyncFolders();

    std::string trackLogPath_;
    std::string snapshotPath_;
    std::set<std::string> foldersToSync_;
    bool unsynced_ = false;
};

}  // namespace vostrel
