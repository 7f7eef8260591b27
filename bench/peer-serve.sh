# Sourced by the peer benchmark scripts: peer_serve BENCH WORK starts
# `BENCH serve 31` (the answering-only peer) with its input on a fifo in the
# folder WORK, which stays open on descriptor 3 for as long as the shell runs,
# and sets peer_pid, root (its device root) and tty (its pseudo-terminal);
# false when the peer did not come up.
peer_serve() {
  local bench=$1 work=$2
  mkfifo "$work/in"
  "$bench" serve 31 <"$work/in" >"$work/serve" 2>&1 &
  peer_pid=$!
  exec 3>"$work/in"
  for _ in $(seq 100); do grep -q '^tty ' "$work/serve" && break; sleep 0.1; done
  root=$(sed -n 's/^root //p' "$work/serve")
  tty=$(sed -n 's/^tty //p' "$work/serve")
  [[ -n $root && -n $tty ]]
}
