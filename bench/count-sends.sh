#!/bin/bash
# Counts, for one transfer of app_transfer_bench, the status lines and
# progress values the engine shows, the sends of each that actually went out
# to the window's UI thread (the rest were left out by the shown cache), and
# the process's context switches: uprobes on the four functions, counted by
# perf stat. Needs root, perf and tracefs. The probes slow every call they
# count: the times of such a run are not figures.
#   bench/count-sends.sh BENCH upload|download with|without
set -euo pipefail

bench=$(realpath "${1:?usage: count-sends.sh BENCH upload|download with|without}")
kind=${2:?}
windows=${3:?}
tracing=/sys/kernel/tracing
[[ -w $tracing/uprobe_events ]] || { echo "count-sends: no writable $tracing/uprobe_events" >&2; exit 1; }

group=tamri_sends_$$
declare -A probes=(
  [shown_lines]=_Z10ShowStatusPKc
  [shown_values]=_Z12ShowProgressi
  [sent_lines]=_ZN2ui12_GLOBAL__N_111RawSendTextEmPKc
  [sent_values]=_ZN2ui12_GLOBAL__N_115RawSendProgressEmi
)
remove() {
  for name in "${!probes[@]}"; do echo "-:$group/$name" >>"$tracing/uprobe_events" 2>/dev/null || true; done
}
trap remove EXIT
# A uprobe is placed by file offset: a symbol's address less its code
# segment's address plus that segment's offset in the file.
read -r segOffset segAddress < <(readelf -lW "$bench" | awk '$1 == "LOAD" && /R E/ && !done { print $2, $3; done = 1 }')
for name in "${!probes[@]}"; do
  address=$(nm "$bench" | awk -v s="${probes[$name]}" '$3 == s && !done { print $1; done = 1 }')
  [[ -n $address ]] || { echo "count-sends: no ${probes[$name]} in $bench" >&2; exit 1; }
  offset=$(printf '0x%x' $((0x$address - segAddress + segOffset)))
  echo "p:$group/$name $bench:$offset" >>"$tracing/uprobe_events"
done
perf stat -e "$group:*" -e context-switches -e cpu-migrations \
  "$bench" --runs 1 --only "$kind" --windows "$windows" --sends 0
