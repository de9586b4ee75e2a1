#!/usr/bin/env bash
# Builds the Debian package build/package/torvikel_<version>_<architecture>.deb: the window,
# torvikel-cli and torvikel-sim compiled with Debian's hardening flags, with their manuals,
# menu entry, icons and AppStream data. Install it with
#   sudo apt install ./build/package/torvikel_*.deb
# Installs the build's Debian packages first unless --no-deps is given.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" != "--no-deps" ]; then bash scripts/install-deps.sh; fi

# Debian's compiler and linker flags for packages, with every hardening feature: fortified
# functions, stack protector, position-independent code, read-only relocations, immediate
# binding.
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
cppflags="$(dpkg-buildflags --get CPPFLAGS)"
cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DTORVIKEL_BUILD_TESTS=OFF -DTORVIKEL_BUILD_BENCH=OFF \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $cppflags" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $cppflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" > /dev/null
cmake --build build/package -j"$(nproc)"
rm -f build/package/torvikel_*.deb
(cd build/package && cpack -G DEB > /dev/null)
ls build/package/torvikel_*.deb
