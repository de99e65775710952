#!/usr/bin/env bash
# Checks the package that tools/package.sh left in dist/: lintian, the desktop
# file and AppStream metadata, then installs it with apt, runs the installed
# programs, and purges it again, checking that nothing of it stays in /usr.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS

version=$(sed -n 's/^project(Sonbrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=$PWD/dist/sonbrel_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { echo "package-test.sh: $deb is missing; run tools/package.sh" >&2; exit 1; }
export DEBIAN_FRONTEND=noninteractive
apt_get() { apt-get -o DPkg::Lock::Timeout=600 "$@"; }

missing=()
for p in lintian desktop-file-utils appstream man-db bash-completion ffmpeg; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  apt_get update -qq
  apt_get install -y -qq --no-install-recommends "${missing[@]}"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== lintian"
# Errors and warnings fail; overrides carry their reasons in debian/.
lintian --fail-on error,warning --display-info dist/sonbrel*_"${version}"_*.deb

echo "== desktop file and AppStream metadata, as packaged"
dpkg-deb -x "$deb" "$work/root"
desktop-file-validate "$work"/root/usr/share/applications/*.desktop
appstreamcli validate --no-net "$work"/root/usr/share/metainfo/*.metainfo.xml

echo "== install"
if dpkg-query -W -f='${Status}' sonbrel 2>/dev/null | grep -q "ok installed"; then
  echo "sonbrel is installed already: purging it first"
  apt_get purge -y -qq sonbrel
fi
find /usr -name '*sonbrel*' | sort >"$work/before"
apt_get install -y -qq --no-install-recommends "$deb" ||
  { apt_get update -qq && apt_get install -y -qq --no-install-recommends "$deb"; }
trap 'apt_get purge -y -qq sonbrel >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
dpkg -L sonbrel | sort >"$work/files"

echo "== installed programs"
for f in /usr/bin/sonbrel /usr/bin/sonbrel-cli $(dpkg -L sonbrel | grep '\.so$'); do
  if ldd "$f" | grep -q 'not found'; then
    echo "unresolved libraries in $f:" >&2
    ldd "$f" | grep 'not found' >&2
    exit 1
  fi
done
test "$(sonbrel-cli --version)" = "sonbrel-cli $version"
test "$(QT_QPA_PLATFORM=offscreen sonbrel --version 2>/dev/null)" = "Sonbrel $version"
export XDG_CONFIG_HOME=$work/config # the user's settings stay out of it
# Captured first: grep -q leaving a pipe early would fail the writer under pipefail.
profiles=$(sonbrel-cli profiles)
test "$(tail -n +2 <<<"$profiles" | wc -l)" = 47 # below the column captions
grep -q $'\tavailable$' <<<"$profiles"

# An Ogg file with a title: its comments are read through libvcedit.so and
# the title is written into the WMA file through libwmaudsdk.so, both loaded
# from where the package put them.
ffmpeg -v error -f lavfi -i sine=frequency=440:duration=2 -c:a libvorbis \
  -metadata title="Package probe" "$work/probe.ogg"
sonbrel-cli convert --output "$work/out" --format 9 --jobs 1 "$work/probe.ogg" >"$work/convert.txt"
cat "$work/convert.txt"
test -s "$work/out/Package probe.wma"
info=$(sonbrel-cli info "$work/out/Package probe.wma")
grep -q '"title":"Package probe"' <<<"$info"

man -w sonbrel-cli >/dev/null
man -w sonbrel >/dev/null
completion=$(bash -c 'source /usr/share/bash-completion/bash_completion
  _completion_loader sonbrel-cli
  COMP_WORDS=(sonbrel-cli con); COMP_CWORD=1; COMP_LINE="sonbrel-cli con"; COMP_POINT=15
  _sonbrel_cli; echo "${COMPREPLY[*]}"')
test "$completion" = convert

echo "== purge"
apt_get purge -y -qq sonbrel
trap 'rm -rf "$work"' EXIT
left=$(while read -r f; do if [ -e "$f" ] && [ ! -d "$f" ]; then echo "$f"; fi; done <"$work/files")
find /usr -name '*sonbrel*' | sort >"$work/after"
if [ -n "$left" ] || ! cmp -s "$work/before" "$work/after"; then
  echo "left behind after purge:" >&2
  echo "$left" >&2
  diff "$work/before" "$work/after" >&2 || true
  exit 1
fi
echo "package stage passed in $((SECONDS - start)) s"
