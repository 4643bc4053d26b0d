// The globe viewer's window: the globe, and above it the controls an operator needs: zoom out
// and in, "Centre on tracker" (also the C key), how fresh the last fix is ("Last fix 14:28:54,
// 12 s ago", amber after 2 minutes without one, red after 10) and the "Street map (online)"
// switch, which is off unless the operator turned it on (the choice is remembered). While the
// street map is on and its tiles cannot be had (no network, the server refuses them, or the tile
// guard drops them), a line above the globe says so and the offline map shows in its place; the
// street map comes back by itself once its tiles can be had again (one is asked for every 30 s).
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <vector>

#include "globe/TrackTail.h"

class QCheckBox;
class QDateTime;
class QLabel;
class QNetworkAccessManager;
class QPushButton;

namespace vostrel {

class GlobeMap;

inline constexpr const char* kGlobeWindowTitle = "Globe Viewer";
inline constexpr const char* kCentreOnTrackerText = "Centre on tracker";
inline constexpr const char* kStreetMapSwitchText = "Street map (online)";
// Where the street map choice is kept: QSettings("Vostrel", "vostrel"), this key.
inline constexpr const char* kStreetMapSettingsKey = "globe/streetMap";
inline constexpr const char* kNoTilesText =
    "Street map: no tiles (offline?) - showing the offline map";
// A failed tile with none fetched for this long, and no tile of the view in the cache: the
// street map has no tiles. It is tried again this often.
inline constexpr int kNoTilesAfterMs = 5000;
inline constexpr int kTilesRetryMs = 30000;

class GlobeWindow : public QWidget {
    Q_OBJECT

  public:
    // Starts on the offline map whatever was chosen; ApplyStreetMapChoice switches to the
    // street map if the operator chose it.
    GlobeWindow();
    ~GlobeWindow() override;

    GlobeMap* Map() const { return map_; }
    QPushButton* CentreButton() const { return centre_; }
    QCheckBox* StreetMapSwitch() const { return streetMap_; }
    QLabel* Freshness() const { return freshness_; }
    // The line that says the street map has no tiles.
    QLabel* TileStatus() const { return tileStatus_; }

    // Shows the tracker's position on the globe.
    void ShowPosition(double longitude, double latitude, const QString& name);
    // Shows the positions from before this run (see GlobeMap::ShowHistory).
    void ShowHistory(const std::vector<TrackPoint>& trail, const QString& name,
                     const QDateTime& time);

    // Turns the street map on if the operator chose it in an earlier run.
    void ApplyStreetMapChoice();

  private:
    void SetStreetMap(bool on);
    void TileFetched(bool ok);
    // Shows the offline map and says so when tiles fail, none came for a while and the view's
    // tiles are not on disk.
    void NoTiles();
    // Whether the tile cache holds a tile at the centre of the view, near its zoom level.
    bool ViewCached() const;
    void TryStreetMapAgain();

    QPointer<GlobeMap> map_;
    QPushButton* centre_ = nullptr;
    QCheckBox* streetMap_ = nullptr;
    QLabel* freshness_ = nullptr;
    QLabel* tileStatus_ = nullptr;
    QElapsedTimer lastTile_;  // since a tile came; invalid before one
    bool failing_ = false;    // the last tile failed
    QTimer retry_;
    QTimer recheck_;
    QNetworkAccessManager* probe_ = nullptr;  // asks for a tile again while there are none
};

// The operator's street map choice from the settings; false when never made.
bool StoredStreetMapChoice();

}  // namespace vostrel
