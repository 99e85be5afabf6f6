#!/bin/sh
# make dist: the release files in dist/, the same bytes from any clone of the same commit.
#   zelvatorim_<version>_amd64.deb  the Debian package, from a build folder made afresh
#   Zelvatorim.exe                  the 32-bit Windows program, as `make windows` builds it
#   SHA256SUMS                      the checksums of both
# Every time stamp in them is the last commit's (SOURCE_DATE_EPOCH, unless already set); no build
# path, time zone, locale or umask gets in (packaging/check-reproducible.sh checks it).
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build-dist}

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  if ! SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null); then
    echo "make dist: not a git clone; set SOURCE_DATE_EPOCH to the sources' time" >&2
    exit 1
  fi
fi
export SOURCE_DATE_EPOCH
# CPack gives the package's folders, and the members of its outer archive, the modes they get on
# disk, and the umask caps those whatever mode is asked for (as dpkg-buildpackage, we set it).
umask 022

# Afresh: Qt's resource compiler writes the time stamp when it runs, and only reruns when a
# resource changes, not when the last commit does.
rm -rf "$BUILD"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
cmake --build "$BUILD" -j2
(cd "$BUILD" && cpack)

cmake --preset windows
cmake --build --preset windows --target Zelvatorim

rm -rf dist
mkdir dist
cp "$BUILD"/package/zelvatorim_*_amd64.deb build-windows/Zelvatorim.exe dist/
cd dist
sha256sum zelvatorim_*_amd64.deb Zelvatorim.exe >SHA256SUMS
cat SHA256SUMS
