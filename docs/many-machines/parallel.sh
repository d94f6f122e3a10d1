#!/usr/bin/env bash
# Protects every .pfx and .p12 file of a share mounted on several machines, one shard per machine,
# with GNU parallel over ssh. Each host needs kivpfx and the password file at the same path.
#
#   parallel.sh SHARE PASSWORD_FILE HOST...     (e.g. parallel.sh /srv/certs ~/.pfx-pass fs1 fs2 fs3)
#
# The shards' JSON reports come back to this machine, one after another, into reports.json; their
# sum is printed at the end.
set -euo pipefail
share="$1" password_file="$2"
shift 2
hosts=("$@")
n=${#hosts[@]}
sshlogins="$(IFS=,; echo "${hosts[*]/#/1/}")"  # one job at a time on each host
# A shard whose host failed or went away is tried again, on any host: what it finished counts as
# done, so the new run picks up where the old one stopped.
status=0
seq 0 $((n - 1)) | parallel --sshlogin "$sshlogins" --retries 3 \
  "kivpfx protect --quiet --json --password-file $password_file --shard {}/$n $share" >reports.json ||
  status=$?
jq -s 'map(.counts) | reduce .[] as $c ({}; reduce ($c | to_entries[]) as $e (.; .[$e.key] += $e.value))' \
  reports.json
exit "$status"
