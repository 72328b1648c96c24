#!/usr/bin/env bash
# Builds the Debian package: build-package/velquist_<version>_amd64.deb (release build, no
# tests). Install it with: sudo apt install ./build-package/velquist_<version>_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."
# dpkg-dev: dpkg-shlibdeps works out the package's Depends; file: CPack finds the programs.
scripts/install-deps.sh --build-only dpkg-dev file
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELQUIST_PACKAGE=ON \
  -DCMAKE_INSTALL_PREFIX=/usr ${VELQUIST_CMAKE_ARGS:-} >/dev/null
cmake --build build-package -j2
rm -f build-package/velquist_*.deb
(cd build-package && cpack -G DEB >/dev/null)
package=$(ls build-package/velquist_*.deb)
echo "$package"
