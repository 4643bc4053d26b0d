#include "globe/MapTheme.h"

#include <marble/MarbleDirs.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>

namespace vostrel {

namespace {

// The plain map's data and styles; zoom maximum 3500 (a few hundred metres across the window)
// instead of its 2100 (about 150 km).
constexpr const char kThemeText[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<dgml xmlns="http://edu.kde.org/marble/dgml/2.0">
  <document>
    <head>
      <license short="Public Domain">Natural Earth, public domain</license>
      <name>Vostrel offline map</name>
      <target>earth</target>
      <theme>vostrel-offline</theme>
      <visible>false</visible>
      <description>Coastlines, borders, rivers and places, offline, to street scale.</description>
      <zoom>
        <minimum>900</minimum>
        <maximum>3500</maximum>
        <discrete>false</discrete>
      </zoom>
    </head>
    <map bgcolor="#99b3cc">
      <canvas/>
      <target/>
      <layer name="naturalearth" backend="geodata">
        <geodata name="coast" property="land">
          <sourcefile>naturalearth/ne_50m_land.pn2</sourcefile>
          <pen color="transparent" style="nopen"/>
          <brush color="#f2efe9"/>
        </geodata>
        <geodata name="lake" property="waterbodies">
          <sourcefile>naturalearth/ne_50m_lakes.pn2</sourcefile>
          <brush color="#99b3cc"/>
          <pen color="transparent" style="nopen"/>
        </geodata>
        <geodata name="glacier" property="ice" colorize="sea">
          <sourcefile>naturalearth/ne_50m_glaciated_areas.pn2</sourcefile>
          <brush color="#ffffff"/>
          <pen color="transparent" style="nopen"/>
        </geodata>
        <geodata name="playas" property="waterbodies">
          <sourcefile>naturalearth/ne_50m_playas.pn2</sourcefile>
          <pen color="#89b0da" style="dashline"/>
          <brush color="#bfd5ee" alpha="0.3"/>
        </geodata>
        <geodata name="antarciticiceshelves" property="ice">
          <sourcefile>naturalearth/ne_50m_antarctic_ice_shelves_polys.pn2</sourcefile>
          <pen color="#5182b4" style="dashline"/>
          <brush color="#5182b4" alpha="0.1"/>
        </geodata>
        <geodata name="border" property="borders">
          <sourcefile>naturalearth/ne_50m_admin_0_boundary_lines_land.pn2</sourcefile>
          <pen color="#a8a7a6" width="1.5"/>
        </geodata>
        <geodata name="purbanareas" property="urbanareas">
          <sourcefile>naturalearth/ne_50m_urban_areas.pn2</sourcefile>
          <pen color="#d8d6d3"/>
          <brush color="#e4e1dc"/>
        </geodata>
        <geodata name="admin1" property="borders">
          <sourcefile>naturalearth/ne_50m_admin_1_states_provinces_lines.pn2</sourcefile>
          <pen color="#bcbbba" style="dashdotline"/>
        </geodata>
        <geodata name="rivers" property="waterbodies">
          <sourcefile>naturalearth/ne_50m_rivers_lake_centerlines.pn2</sourcefile>
          <pen color="#7f9fc4" width="1.5"/>
        </geodata>
      </layer>
      <layer name="standardplaces" backend="geodata">
        <geodata name="baseplacemarks">
          <sourcefile>baseplacemarks.cache</sourcefile>
        </geodata>
        <geodata name="otherplacemarks">
          <sourcefile>otherplacemarks.cache</sourcefile>
        </geodata>
        <geodata name="boundaryplacemarks">
          <sourcefile>boundaryplacemarks.cache</sourcefile>
        </geodata>
      </layer>
    </map>
    <settings>
      <group name="Places">
        <property name="places"><value>true</value><available>true</available></property>
        <property name="land"><value>true</value><available>true</available></property>
        <property name="cities"><value>true</value><available>true</available></property>
        <property name="otherplaces"><value>true</value><available>true</available></property>
      </group>
      <property name="urbanareas"><value>true</value><available>true</available></property>
      <property name="borders"><value>true</value><available>true</available></property>
      <property name="waterbodies"><value>true</value><available>true</available></property>
      <property name="ice"><value>true</value><available>true</available></property>
      <property name="coordinate-grid"><value>true</value><available>true</available></property>
    </settings>
  </document>
</dgml>
)";

}  // namespace

QByteArray OfflineThemeText() {
    return QByteArray(kThemeText, static_cast<int>(sizeof kThemeText - 1));
}

namespace {

// Writes the theme under `localPath` (a Marble user data folder) unless it is there already with
// the same content. Returns "" or the reason it could not.
QString WriteTheme(const QString& localPath) {
    const QString path = localPath + QStringLiteral("/maps/") + QLatin1String(kOfflineMapTheme);
    const QByteArray text = OfflineThemeText();
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == text) return {};
    existing.close();
    if (!QDir().mkpath(QFileInfo(path).path())) {
        return QStringLiteral("cannot create the folder %1").arg(QFileInfo(path).path());
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        return QStringLiteral("cannot write %1 (%2)").arg(path, file.errorString());
    }
    return {};
}

// Marble's user data for this run when the user's own folder cannot take the theme.
std::unique_ptr<QTemporaryDir> fallback;

}  // namespace

void RemoveTemporaryMapFolder() {
    fallback.reset();
}

QString InstallOfflineTheme() {
    const QString reason = WriteTheme(Marble::MarbleDirs::localPath());
    if (reason.isEmpty()) return {};
    // The user's map folder cannot take it (a read-only home, a file where a folder should be):
    // this process keeps Marble's user data (the theme, the street map's tiles) in a private
    // temporary folder instead. Marble finds that folder through XDG_DATA_HOME.
    if (fallback == nullptr || !fallback->isValid()) {
        fallback = std::make_unique<QTemporaryDir>(QDir::tempPath() +
                                                   QStringLiteral("/vostrel-marble-XXXXXX"));
    }
    if (!fallback->isValid()) {
        return reason +
               QStringLiteral("; no temporary folder either (%1)").arg(fallback->errorString());
    }
    qputenv("XDG_DATA_HOME", QFile::encodeName(fallback->path()));
    const QString again = WriteTheme(Marble::MarbleDirs::localPath());
    if (!again.isEmpty()) return reason + QStringLiteral("; ") + again;
    std::fprintf(stderr, "The globe keeps its map data in %s for this run: %s\n",
                 qPrintable(Marble::MarbleDirs::localPath()), qPrintable(reason));
    return {};
}

}  // namespace vostrel
