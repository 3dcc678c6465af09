#!/usr/bin/env bash
# Builds the Debian package dist/kavelo_<version>_<arch>.deb and checks it: the
# menu entry with desktop-file-validate, the AppStream metadata with appstreamcli,
# the package with lintian (errors fail; warnings are shown).
#
#   scripts/package.sh              a release build in build/release
#   scripts/package.sh BUILD_DIR    the kavelo of an existing build folder instead
#                                   (configured from this checkout, e.g. build/default)
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh --package
build=${1:-build/release}
if [ $# -eq 0 ]; then
  # Debian's hardening flags, all of them (binding at start included).
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    -DKAVELO_BUILD_TESTS=OFF -DKAVELO_BUILD_BENCHMARKS=OFF >/dev/null
fi
[ -f "$build/CPackConfig.cmake" ] || { echo "package: $build is no configured build folder" >&2; exit 1; }
cmake --build "$build" -j "$(nproc)" --target kavelo ring_sound package_documents

desktop-file-validate "$build/package/kavelo.desktop"
appstreamcli validate --no-net resources/package/org.kavelo.Kavelo.metainfo.xml

rm -rf "$build/cpack"
mkdir -p dist
cpack --config "$build/CPackConfig.cmake" -B "$build/cpack" >/dev/null
deb=$(find "$build/cpack" -maxdepth 1 -name 'kavelo_*.deb' -print -quit)
[ -n "$deb" ] || { echo "package: CPack made no kavelo_*.deb in $build/cpack" >&2; exit 1; }
rm -f dist/kavelo_*.deb
mv "$deb" dist/
deb=dist/$(basename "$deb")

lintian --fail-on error --info "$deb"
echo "package: $deb"
