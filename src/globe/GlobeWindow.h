// The globe viewer's window: the globe, and above it the controls an operator needs: zoom out
// and in, "Centre on tracker" (also the C key), how fresh the last fix is ("Last fix 14:28:54,
// 12 s ago", amber after 2 minutes without one, red after 10) and the "Street map (online)"
// switch, which is off unless the operator turned it on (the choice is remembered).
#pragma once

#include <QPointer>
#include <QWidget>
#include <vector>

#include "globe/TrackTail.h"

class QCheckBox;
class QDateTime;
class QLabel;
class QPushButton;

namespace vostrel {

class GlobeMap;

inline constexpr const char* kGlobeWindowTitle = "Globe Viewer";
inline constexpr const char* kCentreOnTrackerText = "Centre on tracker";
inline constexpr const char* kStreetMapSwitchText = "Street map (online)";
// Where the street map choice is kept: QSettings("Vostrel", "vostrel"), this key.
inline constexpr const char* kStreetMapSettingsKey = "globe/streetMap";

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

    // Shows the tracker's position on the globe.
    void ShowPosition(double longitude, double latitude, const QString& name);
    // Shows the positions from before this run (see GlobeMap::ShowHistory).
    void ShowHistory(const std::vector<TrackPoint>& trail, const QString& name,
                     const QDateTime& time);

    // Turns the street map on if the operator chose it in an earlier run.
    void ApplyStreetMapChoice();

  private:
    void SetStreetMap(bool on);

    QPointer<GlobeMap> map_;
    QPushButton* centre_ = nullptr;
    QCheckBox* streetMap_ = nullptr;
    QLabel* freshness_ = nullptr;
};

// The operator's street map choice from the settings; false when never made.
bool StoredStreetMapChoice();

}  // namespace vostrel
