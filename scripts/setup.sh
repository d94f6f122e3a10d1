#!/usr/bin/env bash
# Installs what Kiv Pfx Utility needs to build, run and test on Debian 12.
# Safe to run again: it only installs packages that are missing.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config libssl-dev libgtest-dev
  # the style check of the C++ files (scripts/format-check.sh)
  clang-format
  qt6-base-dev qt6-base-dev-tools libgl-dev
  # the program's platform plugins (xcb for a desktop, offscreen for tests)
  qt6-qpa-plugins
  # OpenSSL command line (benchmarks and cross-checks) and its legacy provider
  openssl libssl3
  # stand-ins for the window fonts (docs/FONTS.md): Liberation (Times New Roman, Arial,
  # MS Sans Serif), URW P052 (Book Antiqua), DejaVu (Trebuchet MS, Tahoma, Verdana)
  fontconfig fonts-liberation2 fonts-urw-base35 fonts-dejavu-core fonts-dejavu-extra
  # second PKCS#12 readers for the tests
  gnutls-bin libnss3-tools
  # the interop tests: Java writes and reads PKCS#12 key stores (`java Source.java` needs the JDK)
  openjdk-17-jdk-headless
  # the kivpfx command line's bash, zsh and fish completion and man page, checked by its tests, and
  # the tools of its recipes for many machines (GNU parallel, jq)
  bash-completion zsh fish groff-base parallel jq
  # looking at the program: a virtual display and screenshots
  xvfb xauth x11-apps x11-utils x11-xserver-utils imagemagick
  # the Wayland platform plugin, so the program runs on a Wayland desktop, and the compositor
  # (weston, headless) the Wayland tests and screenshots run it on
  qt6-wayland weston
  # the Debian package and its checks (scripts/package.sh, scripts/package-check.sh)
  dpkg-dev file lintian desktop-file-utils appstream man-db
  # the end-to-end test and the run-in-progress screenshot type and click into the real program
  xdotool
  # the accessibility tests: a private session bus, the AT-SPI bus and registry, the Python
  # AT-SPI bindings the screen-reader check drives the program with, Qt's D-Bus module
  dbus-daemon dbus-bin at-spi2-core python3 python3-pyatspi gir1.2-atspi-2.0 libqt6dbus6
  # fuzzing (scripts/fuzz.sh): clang with libFuzzer and its sanitizer runtimes, and
  # llvm-symbolizer for readable traces (the g++ sanitizer runtimes come with g++)
  clang-14 libclang-rt-14-dev llvm-14
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: everything is installed"
  exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
echo "setup: done"
