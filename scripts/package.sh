#!/usr/bin/env bash
# Builds the Debian package: the Release program for /usr (build-package),
# installed into a staging folder, with the files Debian wants beside it, its
# run-time dependencies as dpkg-shlibdeps finds them, then dpkg-deb. The
# installed files are checked by desktop-file-validate and appstreamcli, the
# package by lintian (any error fails the script; what else it says is shown).
#   ./scripts/package.sh [OUTDIR]     writes OUTDIR/kalmuro_<version>_<arch>.deb
#                                     (default: the source folder); prints its path last
# Environment: KALMURO_MAINTAINER (default "Quorvane <kalmuro@quorvane.example>"),
# KALMURO_JOBS.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
out=${1:-$src}
mkdir -p "$out"
out=$(cd "$out" && pwd)
./scripts/install-deps.sh >&2

dir=$(./scripts/build.sh package)
version=$(sed -n 's/^project(kalmuro VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package: no version in CMakeLists.txt" >&2; exit 1; }
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
maintainer=${KALMURO_MAINTAINER:-Quorvane <kalmuro@quorvane.example>}
id=io.github.quorvane.Kalmuro

work=$(mktemp -d /tmp/kpackage.XXXXXX)
trap 'rm -rf "$work"' EXIT
stage=$work/stage
DESTDIR=$stage cmake --install "$dir" >/dev/null
multiarch_lib=$stage/usr/lib/$multiarch/kalmuro
# Stripped as Debian's own packages are, the compiler's notes included.
strip --remove-section=.comment --remove-section=.note "$stage/usr/bin/kalmuro"
strip --strip-unneeded --remove-section=.comment --remove-section=.note \
      "$multiarch_lib/kalmuro-desktop.so"

# What lintian expects of every package: the manual page and the changelog
# compressed for good, the copyright, plain modes (a module is not run).
doc=$stage/usr/share/doc/kalmuro
install -d -m 0755 "$doc"
install -m 0644 packaging/debian/copyright "$doc/copyright"
gzip -9n -c packaging/debian/changelog >"$doc/changelog.gz"
gzip -9n "$stage/usr/share/man/man1/kalmuro.1"
find "$stage" -type d -exec chmod 0755 {} +
find "$stage" -type f -exec chmod 0644 {} +
chmod 0755 "$stage/usr/bin/kalmuro"
module=$multiarch_lib/kalmuro-desktop.so
for f in "$stage/usr/bin/kalmuro" "$module" \
         "$stage/usr/share/applications/$id.desktop" "$stage/usr/share/metainfo/$id.metainfo.xml" \
         "$stage/usr/share/icons/hicolor/scalable/apps/$id.svg" \
         "$stage/usr/share/icons/hicolor/48x48/apps/$id.png" \
         "$stage/usr/share/man/man1/kalmuro.1.gz"; do
  [ -f "$f" ] || { echo "package: ${f#"$stage"} was not installed" >&2; exit 1; }
done

desktop-file-validate "$stage/usr/share/applications/$id.desktop"
appstreamcli validate --no-net "$stage/usr/share/metainfo/$id.metainfo.xml" >&2

# The run-time dependencies of the program and of the window it loads; the
# window's platform plugin is loaded by name, not linked, so it is named here.
mkdir -p "$work/deps/debian"
printf 'Source: kalmuro\n\nPackage: kalmuro\nArchitecture: any\n' >"$work/deps/debian/control"
shlibs=$(cd "$work/deps" && dpkg-shlibdeps -O -e"$stage/usr/bin/kalmuro" -e"$module" 2>/dev/null |
         sed -n 's/^shlibs:Depends=//p')
[ -n "$shlibs" ] || { echo "package: dpkg-shlibdeps found no dependencies" >&2; exit 1; }
depends="$shlibs, qt6-qpa-plugins"

install -d -m 0755 "$stage/DEBIAN"
size=$(du -sk --exclude=DEBIAN "$stage" | cut -f1)
sed -e "s|@VERSION@|$version|" -e "s|@ARCH@|$arch|" -e "s|@MAINTAINER@|$maintainer|" \
    -e "s|@SIZE@|$size|" -e "s|@DEPENDS@|$depends|" packaging/debian/control.in \
    >"$stage/DEBIAN/control"
(cd "$stage" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$stage/DEBIAN/md5sums"
chmod 0644 "$stage/DEBIAN/control" "$stage/DEBIAN/md5sums"

deb=$out/kalmuro_${version}_${arch}.deb
dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >&2

# Lintian's own verdict; it refuses to judge as root without this switch.
echo "== lintian" >&2
lintian_opts=(--fail-on error --display-info --tag-display-limit 0)
[ "$(id -u)" -eq 0 ] && lintian_opts+=(--allow-root)
lintian "${lintian_opts[@]}" "$deb" >&2
echo "$deb"
