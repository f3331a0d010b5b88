#!/usr/bin/env bash
# The package as a user meets it (a stage of scripts/test.sh; root, as it
# installs and removes the package): builds it, installs it with apt-get,
# runs the installed program as an ordinary user with a fresh home on the
# demo mailbox (an earlier version's files in ~/.local/share/kalmuro
# included), checks where its files went and their modes, opens the window
# offscreen, then purges the package and checks that nothing it installed
# is left. Counts its checks, names every one that fails, and exits 1 then.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then echo "package stage: run as root" >&2; exit 1; fi
export DEBIAN_FRONTEND=noninteractive

id=io.github.quorvane.Kalmuro
user=kalmuro-test
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
work=$(mktemp -d /tmp/kpkgtest.XXXXXX)
chmod 0755 "$work"
. scripts/demo/demo_lib.sh

installed() { dpkg-query -W -f='${Status}' kalmuro 2>/dev/null | grep -q 'install ok installed'; }
remove_user() { if id "$user" >/dev/null 2>&1; then userdel -r "$user" >/dev/null 2>&1 || true; fi; }
cleanup() {
  demo_stop
  if installed; then apt-get purge -y -qq kalmuro >/dev/null 2>&1 || true; fi
  remove_user
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

checks=0
failed=()
check() {
  local what=$1; shift
  if "$@"; then checks=$((checks + 1)); else failed+=("$what"); echo "FAILED: $what" >&2; fi
}
mode_is() { [ "$(stat -c %a "$2")" = "$1" ]; }
absent() { [ ! -e "$1" ] && [ ! -L "$1" ]; }
# Runs the installed program as the test user with nothing of root's
# environment: no XDG variables, a home of its own.
as_user() {
  runuser -u "$user" -- env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"
}

# A package left by an interrupted run would hide what this one installs.
if installed; then apt-get purge -y -qq kalmuro >/dev/null; fi
remove_user

echo "-- building the package"
deb=$(./scripts/package.sh "$work" | tail -n 1)
check "package.sh writes kalmuro_<version>_<arch>.deb" \
  test -f "$work/kalmuro_1.0.0.1_$(dpkg --print-architecture).deb" -a "$deb" -ef \
       "$work/kalmuro_1.0.0.1_$(dpkg --print-architecture).deb"
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/contents"
dpkg-deb -f "$deb" Section Maintainer Depends >"$work/fields"
check "section mail" grep -qx 'Section: mail' "$work/fields"
check "a maintainer" grep -q '^Maintainer: .* <.*@.*>$' "$work/fields"
check "dependencies found by dpkg-shlibdeps" grep -q '^Depends: .*libc6 (>= .*libqt6widgets6' \
  "$work/fields"

echo "-- installing it"
(cd "$work" && apt-get install -y -qq --no-install-recommends "./$(basename "$deb")") >/dev/null
check "installed" installed
for f in /usr/bin/kalmuro "/usr/lib/$multiarch/kalmuro/kalmuro-desktop.so" \
         "/usr/share/applications/$id.desktop" "/usr/share/metainfo/$id.metainfo.xml" \
         "/usr/share/icons/hicolor/scalable/apps/$id.svg" \
         /usr/share/doc/kalmuro/copyright /usr/share/doc/kalmuro/changelog.gz; do
  check "$f installed" test -f "$f"
done
for size in 16 22 24 32 48 64 128 256; do
  check "${size}px icon" test -f "/usr/share/icons/hicolor/${size}x${size}/apps/$id.png"
done
check "/usr/bin/kalmuro is 0755" mode_is 755 /usr/bin/kalmuro
# A machine may keep manual pages out of every package (path-exclude).
if ! grep -qs '^path-exclude=/usr/share/man' /etc/dpkg/dpkg.cfg.d/*; then
  check "man kalmuro answers" sh -c \
    'man -w kalmuro | grep -qx /usr/share/man/man1/kalmuro.1.gz &&
     MANPAGER=cat MANWIDTH=80 man kalmuro 2>/dev/null | grep -q -- "--delete-blocked"'
fi
check "desktop-file-validate" desktop-file-validate "/usr/share/applications/$id.desktop"
check "appstreamcli validate" appstreamcli validate --no-net "/usr/share/metainfo/$id.metainfo.xml"
check "kalmuro --version" test "$(/usr/bin/kalmuro --version)" = "kalmuro 1.0.0.1"
check "kalmuro --help" sh -c '/usr/bin/kalmuro --help | grep -q -- "--delete-blocked"'

echo "-- the installed program as an ordinary user"
home=$work/home
useradd --create-home --home-dir "$home" --shell /bin/sh "$user"
# A fresh home: no configuration yet, so the program makes its folders.
check "the home is fresh" absent "$home/.config"
as_user /usr/bin/kalmuro --check >"$work/first.out" 2>"$work/first.err" || true
check "no accounts yet" grep -q "nessun account in $home/.config/kalmuro/kalmuro.ini" \
  "$work/first.err"
check "~/.config made 0700" mode_is 700 "$home/.config"
check "~/.config/kalmuro made 0700" mode_is 700 "$home/.config/kalmuro"
check "no data folder before its first use" absent "$home/.local/share/kalmuro"

# The demo's settings and lists where an earlier installed version kept them.
demo_start /usr/bin/kalmuro
old=$home/.local/share/kalmuro
runuser -u "$user" -- mkdir -p "$old"
cp "$DEMO_HOME"/*.ini "$DEMO_HOME"/*.txt "$old/"
chown "$user:" "$old"/*
status=0
as_user /usr/bin/kalmuro --check >"$work/check.out" 2>"$work/check.err" || status=$?
check "--check of the demo mailbox succeeds" test "$status" -eq 0
check "--check prints both accounts' messages" sh -c \
  "grep -q '^0	' '$work/check.out' && grep -q '^1	' '$work/check.out'"
check "--check ends with the summary" sh -c \
  "tail -n 1 '$work/check.out' | grep -q 'messaggi nuovi su un totale di'"
for f in kalmuro.ini Mittenti.txt MittentiOk.txt Oggetti.txt OggettiOk.txt; do
  check "$f moved to ~/.config/kalmuro" sh -c "test -f '$home/.config/kalmuro/$f' && test ! -e '$old/$f'"
done
check "nothing written beside /usr/bin/kalmuro" sh -c \
  'test ! -e /usr/bin/kalmuro.ini && test ! -e /usr/bin/Cestino && test ! -e /usr/bin/Mittenti.txt'

blocked=$(grep -c '	X	B	' "$work/check.out" || true)
check "the demo has blocked messages" test "$blocked" -gt 0
echo "   the demo check: $(grep -c '^[01]	' "$work/check.out") messages, $blocked blocked"
status=0
as_user /usr/bin/kalmuro --check --delete-blocked >"$work/delete.out" 2>"$work/delete.err" || status=$?
check "--delete-blocked succeeds" test "$status" -eq 0
check "Cestino made 0700 in ~/.local/share/kalmuro" mode_is 700 "$old/Cestino"
check "one copy in Cestino per blocked message" \
  test "$(find "$old/Cestino" -name '*.eml' | wc -l)" -eq "$blocked"
check "the copies are private" sh -c "! find '$old/Cestino' -name '*.eml' ! -perm 600 | grep -q ."

# The menu entry's command opens the window (offscreen): the module is found
# in its installed place and the program is still running when stopped.
status=0
as_user QT_QPA_PLATFORM=offscreen timeout 8 /usr/bin/kalmuro >"$work/window.out" 2>&1 || status=$?
check "the window opens from the installed module" sh -c \
  "test $status -eq 124 && ! grep -q 'impossibile aprire la finestra' '$work/window.out'"
demo_stop

# Root runs it from /usr/bin, which root may write: its files still go to
# root's own folders.
roothome=$work/root-home
mkdir -m 0700 "$roothome"
env -i HOME="$roothome" PATH=/usr/bin:/bin /usr/bin/kalmuro --check >/dev/null 2>&1 || true
check "root's copy keeps its files in its own home" sh -c \
  "test -d '$roothome/.config/kalmuro' && test ! -e /usr/bin/kalmuro.ini"

echo "-- purging it"
apt-get purge -y -qq kalmuro >/dev/null
check "purged" sh -c "! dpkg-query -W -f='\${Status}' kalmuro 2>/dev/null | grep -q installed"
# Every file it held, and the folders that were its own; the others are
# shared with other packages.
left=()
while read -r path; do
  case $path in
    */kalmuro/) ;;
    */) continue ;;
  esac
  if [ -e "$path" ] || [ -L "$path" ]; then left+=("$path"); fi
done <"$work/contents"
check "nothing installed is left (${left[*]:-none})" test ${#left[@]} -eq 0
check "the user's own files stay" test -f "$home/.config/kalmuro/kalmuro.ini"

if [ ${#failed[@]} -gt 0 ]; then
  echo "== package: ${#failed[@]} checks FAILED, $checks passed" >&2
  printf '   failed: %s\n' "${failed[@]}" >&2
  for log in "$work"/*.out "$work"/*.err; do
    [ -s "$log" ] && { echo "--- $(basename "$log")" >&2; tail -n 20 "$log" >&2; }
  done
  exit 1
fi
echo "== package: $checks checks passed"
