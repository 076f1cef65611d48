#!/usr/bin/env bash
# Builds a release (RelWithDebInfo, no tests, no benchmarks) in build/package
# and writes the Debian package dist/zul_<version>_amd64.deb with CPack, its
# Depends computed from the binaries by dpkg-shlibdeps.
#   tools/package.sh            build and package
#   tools/package.sh --lintian  and check the package the way Debian does
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
# What packaging needs beyond the build: dpkg-shlibdeps, file for CPack's
# look at the binaries, lintian for the check.
PACKAGES+=(dpkg-dev file fakeroot lintian)
install_missing

BUILD="$ROOT/build/package"
DIST="$ROOT/dist"
cd "$ROOT" || exit 1
if [ ! -f "$BUILD/build.ninja" ]; then
    # Debian's build flags, hardening included, read by the first configure.
    eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
    export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS"
    cmake -S "$ROOT" -B "$BUILD" -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
        -DBUILD_TESTING=OFF -DZUL_BENCH=OFF -DZUL_PACKAGE=ON -DZUL_INSTALL_APP_DIR=lib/zul >/dev/null
fi
cmake --build "$BUILD" -j "$(nproc)"

# The package's files get root as owner, whoever builds it.
rm -rf "$BUILD/cpack"
(cd "$BUILD" && fakeroot cpack -G DEB --config CPackConfig.cmake >/dev/null)
mkdir -p "$DIST"
deb="$(ls "$BUILD"/cpack/zul_*_amd64.deb)"
rm -f "$DIST"/zul_*_amd64.deb
cp "$deb" "$DIST/"
deb="$DIST/${deb##*/}"
echo "== $deb ($(du -k "$deb" | cut -f1) KiB); debugging symbols in $BUILD/symbols"
dpkg-deb --field "$deb" Package Version Architecture Depends Recommends Installed-Size

if [ "${1:-}" = "--lintian" ]; then
    echo "== lintian"
    # Errors fail the check; warnings are listed.
    lintian --fail-on error --display-info "$deb"
fi
