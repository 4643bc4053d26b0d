#!/usr/bin/env bash
# Builds the Debian package as tools/package.sh does, into DIR, and checks it as a distribution
# would: lintian with no error or warning, the desktop entry and the AppStream metadata valid,
# every file a desktop user expects in place, the version everywhere the project's, and the
# packaged simulator runs.
#   check.sh DIR
set -euo pipefail
source=$(cd "$(dirname "$0")/../.." && pwd)
dir=$1
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$dir"
bash "$source/tools/package.sh" --out "$dir" --work "$dir/work"

version=$(sed -n 's/^project(Vostrel VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
debs=("$dir"/vostrel_*.deb)
[[ ${#debs[@]} -eq 1 && -f "${debs[0]}" ]] || fail "not one package in $dir: ${debs[*]}"
deb=${debs[0]}
[[ "$(basename "$deb")" == "vostrel_${version}-1_$(dpkg --print-architecture).deb" ]] ||
  fail "package name $(basename "$deb") does not carry version $version"
[[ -z "$(ls -A "$dir/work" 2>/dev/null)" ]] || fail "the build left files: $(ls -A "$dir/work")"

echo "== lintian"
lintian --fail-on error,warning --display-level '>=warning' "$deb" || fail "lintian"

root=$dir/root
dpkg-deb -x "$deb" "$root"
for file in usr/bin/vostrel usr/bin/vostrel-sim usr/share/man/man1/vostrel.1.gz \
            usr/share/man/man1/vostrel-sim.1.gz usr/share/icons/hicolor/scalable/apps/vostrel.svg \
            usr/share/doc/vostrel/copyright; do
  [[ -f "$root/$file" ]] || fail "$file is not in the package"
done

echo "== desktop entry"
desktops=("$root"/usr/share/applications/*.desktop)
[[ ${#desktops[@]} -eq 1 && -f "${desktops[0]}" ]] || fail "not one desktop entry"
desktop=${desktops[0]}
said=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $said"
[[ -z "$said" ]] || fail "desktop-file-validate: $said"
grep -qx 'Exec=vostrel' "$desktop" || fail "the desktop entry does not start vostrel"
grep -qx 'Icon=vostrel' "$desktop" || fail "the desktop entry's icon is not vostrel"

echo "== AppStream metadata"
id=$(basename "$desktop" .desktop)
metainfo=$root/usr/share/metainfo/$id.metainfo.xml
[[ -f "$metainfo" ]] || fail "no AppStream metadata for $id"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
grep -q "<id>$id</id>" "$metainfo" || fail "the metadata's id is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
  fail "the metadata does not launch $id.desktop"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metadata's release is not $version"

echo "== manual pages"
for page in vostrel vostrel-sim; do
  zcat "$root/usr/share/man/man1/$page.1.gz" | grep -q "^\.TH .* \"Vostrel $version\"" ||
    fail "$page(1) is not of version $version"
done

echo "== what it depends on"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libmarblewidget-qt5 libqt5widgets5 libqt5svg5 marble-plugins marble-qt-data \
              fonts-dejavu-core; do
  [[ "$depends" == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done

echo "== the packaged programs' command lines, with no display"
[[ "$("$root/usr/bin/vostrel-sim" --version)" == *"$version"* ]] ||
  fail "vostrel-sim --version does not say $version"
bash "$source/tests/package/command_line.sh" "$root/usr/bin/vostrel" "$root/usr/bin/vostrel-sim" \
  "$version" || fail "command lines"
echo "package $(basename "$deb") checked"
