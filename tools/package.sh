#!/usr/bin/env bash
# Builds the Debian binary package from a clean copy of the source tree and
# leaves it in dist/: sonbrel_VERSION_ARCH.deb (and the -dbgsym package).
# Installs the build dependencies that are missing. The build is a full one
# of its own with Debian's flags (ccache, when present, only saves repeats);
# the test suite is not run again here (nocheck), as the test command runs it
# on the plain build and tools/package-test.sh checks the installed package.
set -euo pipefail
cd "$(dirname "$0")/.."

version=$(sed -n 's/^project(Sonbrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package.sh: no project version in CMakeLists.txt" >&2; exit 1; }
arch=$(dpkg --print-architecture)
export DEBIAN_FRONTEND=noninteractive

command -v dpkg-buildpackage >/dev/null || apt-get -o DPkg::Lock::Timeout=600 install -y -qq dpkg-dev

# A fixed place, so ccache sees the same paths on every run; build-deb/ is
# ignored by git like the other build folders.
top=$PWD/build-deb
stage=$top/sonbrel-$version
rm -rf "$top"
mkdir -p "$stage" dist
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  # Tracked and new files as they are now, without build output.
  git ls-files -z --cached --others --exclude-standard |
    tar --null --files-from=- --ignore-failed-read -cf - 2>/dev/null | tar -xf - -C "$stage"
else
  tar --exclude='./build*' --exclude=./dist --exclude=./.git -cf - . | tar -xf - -C "$stage"
fi

# The package's version is the project's: the changelog is written here and
# never kept in the tree.
date=$( (git log -1 --format=%aD 2>/dev/null) || date -R)
[ -n "$date" ] || date=$(date -R)
cat >"$stage/debian/changelog" <<CHANGELOG
sonbrel ($version) unstable; urgency=medium

  * Sonbrel $version, built from the project's source tree.

 -- Sonbrel developers <sonbrel-devel@sonbrel.org>  $date
CHANGELOG

cd "$stage"
if ! dpkg-checkbuilddeps 2>/dev/null; then
  echo "Installing the build dependencies"
  apt-get -o DPkg::Lock::Timeout=600 update -qq
  apt-get -o DPkg::Lock::Timeout=600 build-dep -y -qq --no-install-recommends "$stage"
fi

if command -v ccache >/dev/null; then
  # debhelper gives the build a HOME of its own: name the user's cache and
  # its settings, or every build would start from an empty one.
  CCACHE_DIR=$(ccache -k cache_dir)
  config=${CCACHE_CONFIGPATH:-${XDG_CONFIG_HOME:-$HOME/.config}/ccache/ccache.conf}
  [ -f "$config" ] || config=$CCACHE_DIR/ccache.conf
  export CCACHE_DIR CCACHE_CONFIGPATH=$config
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
export DEB_BUILD_OPTIONS="nocheck ${DEB_BUILD_OPTIONS:-}"
dpkg-buildpackage -b -us -uc -j"$(nproc)"

cd "$top"
rm -f ../dist/sonbrel_*.deb ../dist/sonbrel-dbgsym_*
cp "sonbrel_${version}_${arch}.deb" ../dist/
# debhelper names the debug package .ddeb; it is an ordinary .deb inside.
for ddeb in sonbrel-dbgsym_"${version}_${arch}".*deb; do
  [ -e "$ddeb" ] && cp "$ddeb" "../dist/sonbrel-dbgsym_${version}_${arch}.deb"
done
ls -l ../dist/
