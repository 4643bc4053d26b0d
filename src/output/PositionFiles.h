// The track log (one line appended per good report) and the one-placemark KML snapshot
// (rewritten per good report), both in one folder.
#pragma once

#include <string>

#include "core/Ports.h"

namespace vostrel {

inline constexpr const char* kTrackLogName = "vo_demo.txt";
inline constexpr const char* kSnapshotName = "vo_demo.kml";

// The exact bytes of the track log line and the snapshot for one position.
std::string TrackLogLine(const std::string& latitude, const std::string& longitude);
std::string SnapshotText(const std::string& latitude, const std::string& longitude);

class PositionFiles : public PositionWriterPort {
  public:
    explicit PositionFiles(std::string folder);

    // Appends the track log line (file closed again), then truncates and rewrites the
    // snapshot. Returns true; a failure throws FileError with the path and the system's reason,
    // and what was written before it stays written.
    bool SaveTrackerPosition(const std::string& latitude, const std::string& longitude) override;

    std::string SnapshotPath() const override { return snapshotPath_; }

  private:
    std::string trackLogPath_;
    std::string snapshotPath_;
};

}  // namespace vostrel
