#!/bin/bash
# What one block of the 32 MiB transfers costs the host, per host (bare,
# engine) and direction, against the answering-only peer of peer_bench
# served by a second process, so that only the host is counted: the time,
# its system calls (futex among them) and context switches, counted by perf
# stat over the whole host process, beside peer_bench's own count over the
# data phase of its threads' sleeps (each ended by a wake), preemptions and
# processor time. Each round runs bare then engine for each direction, every
# other round the other way round; the load is printed with every line.
# Needs perf (Debian: linux-perf) and, as root or with a low
# kernel.perf_event_paranoid, the syscall tracepoints.
#   bench/peer-stat.sh BUILD [ROUNDS]
set -uo pipefail

build=$(cd "${1:?usage: peer-stat.sh BUILD [ROUNDS]}" && pwd)
rounds=${2:-1}
bench="$build/bench/peer_bench"
command -v perf >/dev/null || { echo "peer-stat: perf is not installed" >&2; exit 1; }

work=$(mktemp -d)
peer_pid=
cleanup() {
  [[ -n $peer_pid ]] && kill "$peer_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

source "$(dirname "$0")/peer-serve.sh"
peer_serve "$bench" "$work" || { echo "peer-stat: the peer did not come up" >&2; exit 1; }

blocks=32768
events=raw_syscalls:sys_enter,syscalls:sys_enter_futex,context-switches
one() {
  local host=$1 direction=$2 uptime_load line
  uptime_load=$(cut -d' ' -f1-3 /proc/loadavg)
  line=$(perf stat -x, -e "$events" -o "$work/stat" "$bench" "$host" "$direction" 31 "$root") || {
    echo "peer-stat: $host $direction failed" >&2
    exit 1
  }
  awk -F, -v line="$line" -v loadavg="$uptime_load" -v blocks=$blocks '
    /^[0-9]/ { n[$3] = $1 }
    END {
      split(line, f, " ")
      usage = line; sub(/^.*per block: /, "", usage); sub(/\)$/, "", usage)
      printf "%-6s %-8s %7.1f us  %5.2f syscalls (%4.2f futex)  %5.2f context switches  | %s  | load %s\n",
             f[1], f[2], f[7], n["raw_syscalls:sys_enter"] / blocks, n["syscalls:sys_enter_futex"] / blocks,
             n["context-switches"] / blocks, usage, loadavg
    }' "$work/stat"
}

echo "per block: host alone (perf stat: system calls, context switches | peer_bench: its threads' sleeps, preemptions, processor time)"
for ((round = 0; round < rounds; ++round)); do
  for direction in upload download; do
    if ((round % 2 == 0)); then order=(bare engine); else order=(engine bare); fi
    for host in "${order[@]}"; do one "$host" "$direction"; done
  done
done
