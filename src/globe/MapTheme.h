// The two maps the globe can show: our offline map, drawn from the vector data that ships with
// Marble and zoomable down to street scale, and the OpenStreetMap street map, whose tiles are
// fetched on request.
#pragma once

#include <QString>

namespace vostrel {

// Our offline map: the installed plain map's coastlines, borders, rivers and place names, with
// a zoom limit deep enough for street scale. Written to Marble's user map folder at start.
inline constexpr const char* kOfflineMapTheme = "earth/vostrel-offline/vostrel-offline.dgml";
// The map data package's own street map; a user theme of the same id overrides it.
inline constexpr const char* kStreetMapTheme = "earth/openstreetmap/openstreetmap.dgml";
inline constexpr const char* kStreetMapAttribution = "\u00a9 OpenStreetMap contributors";

// The towns' names: the largest of the offline map's files, which the globe reads once it is
// ready rather than before (a third of its start-up); not part of the theme.
inline constexpr const char* kTownNamesFile = "cityplacemarks.cache";

// Writes the offline map theme to <Marble's user data folder>/maps/earth/vostrel-offline/
// unless it is there already with the same content. When that folder cannot take it, moves
// Marble's user data folder of this process to a private temporary folder (removed at exit),
// writes the theme there and says so on standard error. Call it before creating a Marble model.
// Returns "" when the theme is in place, else the reasons it is not.
QString InstallOfflineTheme();

// Removes the temporary folder InstallOfflineTheme moved Marble's user data to, if any. The
// program's every way out calls it, since none of them runs static destructors.
void RemoveTemporaryMapFolder();

// The theme's text, as written.
QByteArray OfflineThemeText();

}  // namespace vostrel
