#!/usr/bin/env bash
# Runs the README's recipes for many machines on this one: GNU parallel with four local "hosts", the
# Kubernetes Job's container command once per completion index, and the Slurm array's script once
# per task, each started together over one share. Every file must come out protected once, and the
# summed reports must add up. Exits 77 (skipped) when a tool is missing, unless CI=true.
set -uo pipefail
kivpfx="$(realpath "$1")"
recipes="$2/docs/many-machines"
failures=0
failed=0  # this recipe
fail() {
  echo "FAIL: $*"
  failed=1
}

# shellcheck source=../support/missing_tool.sh
source "${BASH_SOURCE[0]%/*}/../support/missing_tool.sh"
for tool in parallel jq openssl; do command -v "$tool" >/dev/null || missing "$tool"; done

work="$(mktemp -d)" || exit 1
trap 'rm -rf "$work"' EXIT
export PATH="$(dirname "$kivpfx"):$PATH" PARALLEL=--will-cite
cd "$work" || exit 1  # everything below is written in the temporary folder only
printf 'Many-Machines-1\n' >password
for n in 1 2; do
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "k$n.pem" -out "c$n.pem" -subj "/CN=share $n" -days 30 \
    2>/dev/null
  openssl pkcs12 -export -in "c$n.pem" -inkey "k$n.pem" -passout pass: -out "made$n.pfx"
done
mkdir -p share/a/b share/c
for i in $(seq 1 12); do
  cp made1.pfx "share/a/f$i.pfx"
  cp made2.pfx "share/a/b/g$i.P12"
  cp made1.pfx "share/c/h$i.p12"
done
sources=36

check() {  # name: every source has one output that opens with the password, nothing else is left
  local outputs stray bad=0
  outputs="$(find share -name '*_Password.*' | wc -l)"
  stray="$(find share -type f ! -name '*.pfx' ! -name '*.P12' ! -name '*.p12' ! -name '*.Pfx' | wc -l)"
  while IFS= read -r -d '' out; do
    openssl pkcs12 -in "$out" -passin file:password -noout 2>/dev/null || bad=$((bad + 1))
  done < <(find share -name '*_Password.*' -print0)
  [ "$outputs" -eq "$sources" ] && [ "$stray" -eq 0 ] && [ "$bad" -eq 0 ] ||
    fail "$1: $outputs outputs of $sources, $bad do not open, $stray other files"
  if [ "$failed" -eq 0 ]; then echo "ok: $1"; else failures=$((failures + 1)); fi
  failed=0
  find share -name '*_Password.*' -delete
}
summed() {  # the OK files of the reports, summed as the README sums them
  jq -s 'map(.counts) | reduce .[] as $c ({}; reduce ($c | to_entries[]) as $e (.; .[$e.key] += $e.value)) | .ok' "$@"
}

summary="$(bash "$recipes/parallel.sh" "$work/share" "$work/password" : : : :)" || fail "parallel.sh exited $?"
[ "$(jq .ok <<<"$summary")" = "$sources" ] || fail "parallel.sh summed: $summary"
check "GNU parallel over four hosts"

command="$(sed -n 's/^ *- \(kivpfx protect .*\)$/\1/p' "$recipes/kivpfx-job.yaml")"
command="${command//\/secrets\/password/$work/password}"
command="${command//\/share/$work/share}"
for index in 0 1 2 3; do JOB_COMPLETION_INDEX=$index sh -c "$command" >"k8s-$index.json" & done
wait
[ "$(summed k8s-*.json)" = "$sources" ] || fail "the Job's reports sum to $(summed k8s-*.json) OK"
check "Kubernetes Indexed Job, four completion indexes"

for task in 0 1 2 3; do
  SHARE="$work/share" PASSWORD_FILE="$work/password" SLURM_ARRAY_TASK_ID=$task SLURM_ARRAY_TASK_COUNT=4 \
    bash "$recipes/kivpfx-array.sbatch" &
done
wait
[ "$(summed report-*.json)" = "$sources" ] || fail "the array's reports sum to $(summed report-*.json) OK"
check "Slurm job array of four tasks"

echo "$((3 - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
