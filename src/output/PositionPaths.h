// Where the track log and the KML snapshot are: their two names in one folder, the user's home
// folder unless a test says otherwise. The window, which writes them, and the globe, which reads
// them back at start, both take their paths from here.
#pragma once

#include <string>

namespace vostrel {

inline constexpr const char* kTrackLogName = "vo_demo.txt";
inline constexpr const char* kSnapshotName = "vo_demo.kml";

struct PositionPaths {
    std::string trackLog;
    std::string snapshot;

    // The two files in `folder` (file system bytes).
    static PositionPaths In(const std::string& folder);
    // The two files in the user's home folder, where the program keeps them.
    static PositionPaths InHome();
};

}  // namespace vostrel
