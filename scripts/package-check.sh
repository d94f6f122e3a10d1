#!/usr/bin/env bash
# Builds the Debian package and tries it as a user would get it: lintian, install with apt-get,
# the installed desktop entry, metainfo and man page validated, the installed program started
# offscreen until its main window has loaded, and the package removed again.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
id="io.github.kivpfx.KivPfxUtility"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

passed=0
failed=0
pass() { echo "package-check: ok: $*"; passed=$((passed + 1)); }
fail() { echo "package-check: FAILED: $*" >&2; failed=$((failed + 1)); }

package="$("$root/scripts/package.sh" | tail -n 1)"
echo "package-check: built $package"
dpkg-deb --field "$package" Package Version Section Depends Recommends
dpkg-deb --contents "$package"

if lintian --fail-on error --tag-display-limit 0 "$package"; then
  pass "lintian reports no errors"
else
  fail "lintian reports errors"
fi

cleanup() {
  [ -n "${runtime:-}" ] && rm -rf "$runtime"
  if dpkg-query -W -f='${Status}' kivpfxutil 2>/dev/null | grep -q 'install ok installed'; then
    $SUDO apt-get purge -y -qq kivpfxutil >/dev/null || true
  fi
}
trap cleanup EXIT

$SUDO apt-get install -y -qq "$package" >/dev/null
program="$(command -v kivpfxutil || true)"
if [ "$program" = /usr/bin/kivpfxutil ]; then pass "installed as $program"; else fail "kivpfxutil is not in /usr/bin"; fi

for file in /usr/share/applications/$id.desktop /usr/share/metainfo/$id.metainfo.xml \
  /usr/share/icons/hicolor/scalable/apps/$id.svg /usr/share/man/man1/kivpfxutil.1.gz; do
  [ -f "$file" ] || fail "missing $file"
done
for size in 16 32 48 64 128 256; do
  [ -f "/usr/share/icons/hicolor/${size}x${size}/apps/$id.png" ] || fail "missing the ${size}px icon"
done

# The command-line program, its man page and completion, and a real run of it on a file openssl makes.
if [ "$(command -v kivpfx || true)" = /usr/bin/kivpfx ] && [ -f /usr/share/man/man1/kivpfx.1.gz ] &&
  [ -f /usr/share/bash-completion/completions/kivpfx ]; then
  pass "kivpfx installed with its man page and completion"
else
  fail "kivpfx, its man page or its completion is missing"
fi
# zsh and fish find the installed completions by themselves, without any set-up of the user's
# (fish loads a command's completion only once the command exists).
if zsh -fc 'autoload -Uz compinit && compinit -u -D && [[ $_comps[kivpfx] == _kivpfx ]]' &&
  [ -f /usr/share/zsh/vendor-completions/_kivpfx ]; then
  pass "zsh finds the kivpfx completion"
else
  fail "zsh does not find a kivpfx completion in /usr/share/zsh/vendor-completions"
fi
fish_home="$(mktemp -d)"
if HOME="$fish_home" XDG_CONFIG_HOME="$fish_home" XDG_DATA_HOME="$fish_home" fish -c 'complete -C "kivpfx "' |
  grep -q '^protect' &&
  [ -f /usr/share/fish/vendor_completions.d/kivpfx.fish ]; then
  pass "fish finds the kivpfx completion"
else
  fail "fish does not find a kivpfx completion in /usr/share/fish/vendor_completions.d"
fi
rm -rf "$fish_home"
work="$(mktemp -d)"
openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=package-check -days 2 \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout pass: -out "$work/Server.pfx"
printf 'Package-Check-1\n' > "$work/password"
if kivpfx protect --password-file "$work/password" "$work/Server.pfx" &&
  openssl pkcs12 -in "$work/Server_Password.Pfx" -passin pass:Package-Check-1 -noout 2>/dev/null; then
  pass "the installed kivpfx writes a copy that opens with the password"
else
  fail "the installed kivpfx did not write a good copy"
fi
rm -rf "$work"

# desktop-file-validate before 0.27 knows the entry format 1.4 only, which lacks SingleMainWindow
# (format 1.5); that one complaint is the validator's age, anything else fails.
validator_output="$(desktop-file-validate "/usr/share/applications/$id.desktop" 2>&1 || true)"
echo "$validator_output"
if echo "$validator_output" | grep -E ': (error|warning): ' | grep -v 'key "SingleMainWindow"' | grep -q .; then
  fail "desktop-file-validate"
else
  pass "desktop-file-validate"
fi

appstream_output="$(appstreamcli validate --no-net "/usr/share/metainfo/$id.metainfo.xml" 2>&1)" && appstream_rc=0 || appstream_rc=$?
echo "$appstream_output"
if [ "$appstream_rc" -eq 0 ] && ! echo "$appstream_output" | grep -qE '^[EW]: '; then
  pass "appstreamcli validate --no-net: no errors or warnings"
else
  fail "appstreamcli validate --no-net"
fi

if man_warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l /usr/share/man/man1/kivpfxutil.1.gz 2>&1 >/dev/null)" && [ -z "$man_warnings" ]; then
  pass "man page renders without warnings"
else
  fail "man page: $man_warnings"
fi

# Its own runtime folder, so a copy running on the desktop does not count as a previous instance.
runtime="$(mktemp -d)"
chmod 700 "$runtime"
if report="$(QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$runtime" KIVPFXUTIL_STARTUP_CHECK=1 timeout 60 "$program")"; then
  echo "$report"
  if echo "$report" | grep -q "^startup check: window \"Kiv Pfx Utility\" shown, 1 row(s), icon set, desktop file $id$"; then
    pass "the installed program loads its main window"
  else
    fail "the installed program's main window: $report"
  fi
else
  fail "the installed program did not start: $report"
fi

# Without the check hook: the program stays up, as it would on a desktop.
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$runtime" "$program" &
pid=$!
sleep 3
if kill -0 "$pid" 2>/dev/null; then
  pass "the installed program is still running after 3 s"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
else
  wait "$pid" && rc=0 || rc=$?
  fail "the installed program ended within 3 s (exit $rc)"
fi

$SUDO apt-get purge -y -qq kivpfxutil >/dev/null
if [ ! -e /usr/bin/kivpfxutil ] && [ ! -e "/usr/share/applications/$id.desktop" ]; then
  pass "removed cleanly"
else
  fail "files left after removal"
fi

echo "package-check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
