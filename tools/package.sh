#!/usr/bin/env bash
# Builds the Debian package dist/vostrel_<version>-<revision>_<arch>.deb from this checkout:
# installs what is missing, copies the sources into a work folder (build-package/) and runs
# dpkg-buildpackage there, so neither the checkout, its build folders nor its parent folder
# get the build's files. The version is the project's (CMakeLists.txt); debian/changelog must
# have an entry for it.
#   package.sh [--out DIR] [--work DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/dist
work=$root/build-package
while [[ $# -gt 0 ]]; do
  case $1 in
    --out) out=$(realpath -m "$2"); shift 2 ;;
    --work) work=$(realpath -m "$2"); shift 2 ;;
    *) echo "usage: $0 [--out DIR] [--work DIR]" >&2; exit 2 ;;
  esac
done

bash tools/install-deps.sh package

version=$(sed -n 's/^project(Vostrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[[ -n "$version" ]] || { echo "no version in CMakeLists.txt" >&2; exit 1; }
package_version=$(dpkg-parsechangelog -l debian/changelog -S Version)
if [[ "${package_version%-*}" != "$version" ]]; then
  echo "debian/changelog is at $package_version but the project at $version:" >&2
  echo "add an entry for it, e.g. dch -v $version-1 \"New release.\"" >&2
  exit 1
fi

# The sources as git knows them (committed or not, ignored files left out), else all of the
# folder but build output.
rm -rf "$work"
tree=$work/vostrel-$version
mkdir -p "$tree"
if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git -C "$root" ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do [[ -e "$file" ]] && printf '%s\0' "$file"; done |
    tar --null -T - -cf - | tar -xf - -C "$tree"
else
  tar --exclude='./build*' --exclude=./dist --exclude='./obj-*' --exclude=./.git -cf - . |
    tar -xf - -C "$tree"
fi

# No debug-symbol package: only the program's package is wanted here.
(cd "$tree" && DEB_BUILD_OPTIONS="noautodbgsym ${DEB_BUILD_OPTIONS:-}" \
  dpkg-buildpackage -us -uc -b --jobs=auto)

deb=vostrel_${package_version}_$(dpkg --print-architecture).deb
mkdir -p "$out"
mv "$work/$deb" "$out/$deb"
rm -rf "$work"
echo "Built $out/$deb"
