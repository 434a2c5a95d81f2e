#!/usr/bin/env bash
# Builds the Debian package quillon-host_VERSION_ARCH.deb from a Release build
# in ./build-package (or $QUILLON_PACKAGE_DIR) and prints the package's path
# as its last line. VERSION comes from scripts/package-version.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
OUT="${QUILLON_PACKAGE_DIR:-build-package}"

version=$(bash scripts/package-version.sh)
# The changelog's date is the commit's, so a rebuild gives the same package.
if git rev-parse --git-dir >/dev/null 2>&1; then
  export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}"
fi

# Debian's build flags with every hardening feature (lintian looks for them).
# CMake reads no CPPFLAGS, so the preprocessor flags go in front of the others.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
cmake -S . -B "$OUT" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DQUILLON_TESTS=OFF -DQUILLON_WERROR=OFF -DQUILLON_PACKAGE_VERSION="$version" \
  -DCMAKE_C_FLAGS="$CPPFLAGS $CFLAGS" -DCMAKE_CXX_FLAGS="$CPPFLAGS $CXXFLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" -DCMAKE_SHARED_LINKER_FLAGS="$LDFLAGS" >/dev/null
cmake --build "$OUT" -j "${QUILLON_JOBS:-$(nproc)}"
rm -f "$OUT"/*.deb
(cd "$OUT" && cpack -G DEB >/dev/null)
deb="$OUT/quillon-host_${version}_$(dpkg --print-architecture).deb"
if [[ ! -f "$deb" ]]; then
  echo "package: $deb was not made" >&2
  exit 1
fi
# CPack writes a postinst and a postrm that only run ldconfig for a library
# under /usr/lib; Debian does that once per dpkg run through the ldconfig
# trigger the package declares instead, so the two scripts go.
tree="$OUT/deb-tree"
rm -rf "$tree"
dpkg-deb -R "$deb" "$tree"
rm -f "$tree/DEBIAN/postinst" "$tree/DEBIAN/postrm"
dpkg-deb --root-owner-group -b "$tree" "$deb" >/dev/null
rm -rf "$tree"
realpath "$deb"
