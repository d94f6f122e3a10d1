#!/usr/bin/env bash
# Builds the Debian package of the program (Release, without tests and benchmarks) in
# build-package/ (set KIV_PACKAGE_DIR to use another folder) and prints its path last.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${KIV_PACKAGE_DIR:-$root/build-package}"
"$root/scripts/setup.sh" >&2
cd "$root"
# Debian's hardening flags (fortified functions, stack protector, read-only relocations).
cppflags="$(dpkg-buildflags --get CPPFLAGS)"
cxxflags="$(dpkg-buildflags --get CXXFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS) -Wl,-z,now"
cmake --preset package -B "$build" \
  -DCMAKE_CXX_FLAGS="$cppflags $cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >&2
jobs="$(nproc 2>/dev/null || echo 2)"
cmake --build "$build" --parallel "$jobs" >&2
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >&2)
package="$(ls "$build"/*.deb)"
echo "$package"
