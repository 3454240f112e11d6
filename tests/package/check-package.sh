#!/usr/bin/env bash
# Builds the Debian package from SOURCE in a Release tree under WORK and checks it as a
# distribution would: lintian finds no error and no warning, the AppStream metadata
# and the desktop entry beside it are valid, and the package, its changelog, the
# metadata's newest release and the manual pages all state VERSION. cmake --install
# must put the same files in place, less what only a Debian package holds.
#   check-package.sh SOURCE WORK VERSION CXX [LAUNCHER]
set -euo pipefail
src=$1 work=$2 version=$3 cxx=$4 launcher=${5:-}

fail() { echo "package: $*" >&2; exit 1; }
# tools/install-deps.sh installs every one of them: a missing tool fails the test.
for tool in lintian appstreamcli desktop-file-validate dpkg-deb dpkg-parsechangelog; do
  command -v "$tool" >/dev/null || fail "$tool is missing (tools/install-deps.sh installs it)"
done

step() {  # step NAME COMMAND...: runs COMMAND into WORK/NAME.log, shown when it fails
  "${@:2}" >"$work/$1.log" 2>&1 || { tail -n 40 "$work/$1.log" >&2; fail "$1 failed"; }
}
mkdir -p "$work"
tree=$work/release
step configure cmake -S "$src" -B "$tree" -DCMAKE_BUILD_TYPE=Release -DVZ_BUILD_TESTS=OFF \
  -DVZ_BUILD_BENCH=OFF -DCMAKE_CXX_COMPILER="$cxx" ${launcher:+-DCMAKE_CXX_COMPILER_LAUNCHER="$launcher"}
# Niced: other tests may still be running.
step build nice -n 19 cmake --build "$tree" -j 2
rm -f "$tree"/*.deb
step cpack bash -c 'cd "$1" && cpack' cpack "$tree"
debs=("$tree"/*.deb)
[[ ${#debs[@]} == 1 && -f ${debs[0]} ]] || fail "cpack made no single .deb: ${debs[*]}"
deb=${debs[0]}
echo "built $deb"

echo "lintian --fail-on error,warning --display-info $deb"
lintian --fail-on error,warning --display-info "$deb" || fail "lintian found errors or warnings"

root=$work/root
rm -rf "$root" && dpkg-deb -x "$deb" "$root"
metainfo=("$root"/usr/share/metainfo/*.metainfo.xml)
[[ ${#metainfo[@]} == 1 && -f ${metainfo[0]} ]] || fail "no single AppStream metadata file in the package"
id=$(basename "${metainfo[0]}" .metainfo.xml)
grep -q "<id>$id</id>" "${metainfo[0]}" || fail "the metadata's id is not its file's name, $id"
desktop=$root/usr/share/applications/$id.desktop
[[ -f $desktop ]] || fail "no desktop entry $id.desktop beside the metadata"
# validate-tree also checks that the desktop entry the metadata launches is there.
echo "appstreamcli validate-tree --no-net --pedantic (the package's files)"
appstreamcli validate-tree --no-net --pedantic "$root" || fail "appstreamcli rejects the metadata"
echo "desktop-file-validate ${desktop#"$root"}"
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"

# One version everywhere: the package's is VERSION and a Debian revision, which the
# changelog's top entry names too.
pkgVersion=$(dpkg-deb -f "$deb" Version)
[[ $pkgVersion == "$version"-* ]] || fail "package version $pkgVersion is not $version-REVISION"
zcat "$root/usr/share/doc/vezorizer/changelog.Debian.gz" >"$work/changelog"
top=$(dpkg-parsechangelog -l "$work/changelog" -S Version)
[[ $top == "$pkgVersion" ]] || fail "changelog.Debian.gz's top entry is $top, the package $pkgVersion"
newest=$(grep -o -m1 '<release version="[^"]*"' "${metainfo[0]}" | cut -d'"' -f2)
[[ $newest == "$version" ]] || fail "the metadata's newest release is $newest, not $version"
for page in "$root"/usr/share/man/man1/*.1.gz; do
  heading=$(zcat "$page" | sed -n 1p)
  [[ $heading == *"\"Vezorizer $version\""* ]] || fail "$(basename "$page") says $heading, not Vezorizer $version"
done

# cmake --install puts the same files in place but the Debian changelog and overrides.
install=$work/install
rm -rf "$install"
step install cmake --install "$tree" --prefix "$install"
diff <(cd "$root/usr" && find . -type f ! -name changelog.Debian.gz ! -path './share/lintian/*' | sort) \
     <(cd "$install" && find . -type f | sort) || fail "cmake --install and the package differ (<: package)"
echo "package: $(basename "$deb") passes"
