#!/usr/bin/env bash
# Fuzzes with libFuzzer for SECONDS each (default 60): the PKCS#12 reader and the in-memory save
# (pkcs12_fuzz), then the reader against OpenSSL's own PKCS#12 parse (pkcs12_differential_fuzz).
#   scripts/fuzz.sh [SECONDS]
# Installs what is missing, builds the fuzz targets with clang in build-fuzz/ (or KIV_FUZZ_BUILD_DIR),
# seeds the corpora with files from the test-file maker and the openssl command line, and runs.
# Fails on any crash, sanitizer report, disagreement the README does not document, or input slower
# than KIV_FUZZ_TIMEOUT seconds (default 10); the input that did it is kept in build-fuzz/findings/.
# The corpora in build-fuzz/corpus/ and build-fuzz/corpus-differential/ grow from run to run.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-60}"
timeout="${KIV_FUZZ_TIMEOUT:-10}"
# libFuzzer reads a time of 0 as "no limit".
case "$seconds" in '' | *[!0-9]* | 0) echo "usage: scripts/fuzz.sh [SECONDS], at least 1" >&2; exit 2 ;; esac

"$root/scripts/setup.sh"
cxx="$(command -v clang++-14 || command -v clang++ || true)"
cc="$(command -v clang-14 || command -v clang || true)"
if [ -z "$cxx" ]; then
  echo "fuzz: clang++ is not installed (scripts/setup.sh installs clang-14)" >&2
  exit 1
fi

build="${KIV_FUZZ_BUILD_DIR:-$root/build-fuzz}"
(cd "$root" && cmake --preset fuzz -B "$build" -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null)
jobs="$(nproc 2>/dev/null || echo 2)"
cmake --build "$build" --parallel "$jobs" --target pkcs12_fuzz pkcs12_differential_fuzz pkcs12_fuzz_seeds

# Seeds: every kind of file the test-file maker writes (its counts are the common 2048), and
# openssl's password-less variants with a count of 1, which keep the mutated inputs fast.
seeds="$build/seeds"
# Made again when this script or the test-file maker changed.
stamp="$(cat "${BASH_SOURCE[0]}" "$build/fuzz/pkcs12_fuzz_seeds" | sha256sum | cut -d' ' -f1)"
if [ "$(cat "$seeds/.complete" 2>/dev/null)" != "$stamp" ]; then
  rm -rf "$seeds"
  mkdir -p "$seeds"
  "$build/fuzz/pkcs12_fuzz_seeds" "$seeds"
  key="$seeds/leaf-key.pem"
  leaf="$seeds/leaf.pem"
  chain="$seeds/chain.pem"
  export_pfx() {
    local name="$1"
    shift
    openssl pkcs12 -export -passout pass: -iter 1 "$@" -out "$seeds/openssl-$name.pfx"
  }
  export_pfx pbes2-aes -inkey "$key" -in "$leaf" -certfile "$chain" \
    -keypbe AES-256-CBC -certpbe AES-256-CBC -macalg sha256
  export_pfx 3des-sha1 -inkey "$key" -in "$leaf" -certfile "$chain" \
    -keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-3DES -macalg sha1
  export_pfx legacy-rc2 -legacy -inkey "$key" -in "$leaf" -certfile "$chain"
  export_pfx plain-bags -inkey "$key" -in "$leaf" -certfile "$chain" -keypbe NONE -certpbe NONE
  export_pfx no-mac -inkey "$key" -in "$leaf" -certfile "$chain" -nomac
  # Without a MAC and without encryption every byte can change and still be read, so these
  # carry the mutations past the integrity check into the bags and on to the save.
  export_pfx plain-no-mac -inkey "$key" -in "$leaf" -certfile "$chain" -keypbe NONE -certpbe NONE -nomac \
    -name "Fuzz leaf" -caname "Intermediate" -CSP "Fuzz CSP"
  export_pfx plain-certs-no-mac -nokeys -in "$leaf" -certfile "$chain" -certpbe NONE -nomac
  export_pfx names-sha512 -inkey "$key" -in "$leaf" -certfile "$chain" -name "Fuzz leaf" \
    -caname "Intermediate" -caname "Root" -CSP "Fuzz CSP" -keysig -macalg sha512
  export_pfx camellia -inkey "$key" -in "$leaf" -keypbe CAMELLIA-128-CBC -certpbe AES-128-CBC
  export_pfx certs-only -nokeys -in "$leaf" -certfile "$chain"
  export_pfx key-only -nocerts -inkey "$key"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=fuzz-ec -days 1 \
    -keyout "$seeds/ec-key.pem" -out "$seeds/ec.pem" 2>/dev/null
  export_pfx ec-key -inkey "$seeds/ec-key.pem" -in "$seeds/ec.pem" -keypbe AES-128-CBC -certpbe NONE
  rm -f "$seeds"/*.pem
  echo "$stamp" >"$seeds/.complete"
fi

findings="$build/findings"
mkdir -p "$findings"
# libFuzzer checks every input for leaks. The check at exit is off: OpenSSL's legacy provider,
# loaded once for the whole run and never unloaded, is all it would find.
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:leak_check_at_exit=0:strict_string_checks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
symbolizer=/usr/lib/llvm-14/bin/llvm-symbolizer
if [ -x "$symbolizer" ]; then export ASAN_SYMBOLIZER_PATH="$symbolizer"; fi

# run TARGET CORPUS [MORE SEED FOLDERS...]: new inputs go to CORPUS, findings to findings/TARGET-*.
run() {
  local target="$1" corpus="$2"
  shift 2
  local log="$build/$target.log"
  mkdir -p "$corpus"
  echo "fuzz: $target for ${seconds}s (timeout ${timeout}s per input); log in $log"
  local status=0
  "$build/fuzz/$target" -max_total_time="$seconds" -timeout="$timeout" -max_len=16384 \
    -print_final_stats=1 -artifact_prefix="$findings/$target-" "$corpus" "$@" >"$log" 2>&1 || status=$?
  grep -E '^#[0-9]+[[:space:]]+(DONE|INITED)|^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' "$log" || true
  # A sanitizer that recovered would not stop libFuzzer; the log tells.
  if [ "$status" -eq 0 ] && grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:' "$log"; then
    status=1
  fi
  if [ "$status" -ne 0 ]; then
    echo "fuzz: $target FAILED (exit $status); the end of $log:" >&2
    tail -n 60 "$log" >&2
    echo "fuzz: reproduce with $build/fuzz/$target FILE, using the file in $findings/" >&2
    echo "fuzz: (for whole stacks through OpenSSL, set ASAN_OPTIONS=fast_unwind_on_malloc=0)" >&2
    return 1
  fi
}

failed=0
run pkcs12_fuzz "$build/corpus" "$seeds" || failed=1
# The first target's corpus seeds the second: inputs that reach deep into the reader.
run pkcs12_differential_fuzz "$build/corpus-differential" "$seeds" "$build/corpus" || failed=1
if [ "$failed" -ne 0 ]; then exit 1; fi
echo "fuzz: no findings"
