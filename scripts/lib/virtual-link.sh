# Shell helpers for a virtual link between a PC namespace and a board namespace, shared by the
# demo and the end-to-end tests. Source it; needs root (or CAP_NET_ADMIN, CAP_SYS_ADMIN).
#   link_create TAG [ADAPTERS]  namespaces ${TAG}pc and ${TAG}board, veth ${TAG}0..N-1 (PC side)
#                               paired with ${TAG}b0..N-1 (board side); sets LINK_PC, LINK_BOARD
#   link_remove                 removes both namespaces (and with them every veth)
#   board_start BIN LOG IF ARGS  emulator on a board-side interface, in the background: BOARD_PID
#   board_stop                  SIGINT to the emulator, waits for its statistics

link_create() {
  local tag=$1 adapters=${2:-1} i
  LINK_PC="${tag}pc"
  LINK_BOARD="${tag}board"
  ip netns add "$LINK_PC"
  ip netns add "$LINK_BOARD"
  for ns in "$LINK_PC" "$LINK_BOARD"; do
    ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 || true
    ip netns exec "$ns" sysctl -qw net.ipv6.conf.default.disable_ipv6=1 || true
  done
  for ((i = 0; i < adapters; i++)); do
    ip link add "${tag}$i" netns "$LINK_PC" type veth peer name "${tag}b$i" netns "$LINK_BOARD"
    ip -n "$LINK_PC" link set "${tag}$i" up
    ip -n "$LINK_BOARD" link set "${tag}b$i" up
  done
  sleep 0.3
}

link_remove() {
  [ -n "${BOARD_PID:-}" ] && board_stop
  [ -n "${LINK_PC:-}" ] && ip netns del "$LINK_PC" 2>/dev/null || true
  [ -n "${LINK_BOARD:-}" ] && ip netns del "$LINK_BOARD" 2>/dev/null || true
  LINK_PC=""
  LINK_BOARD=""
}

board_start() {
  local bin=$1 log=$2 ifname=$3 i
  shift 3
  ip netns exec "$LINK_BOARD" "$bin" --interface "$ifname" "$@" >"$log" 2>&1 &
  BOARD_PID=$!
  sleep 0.5
  # Ready once it has named its address, which it does with its capture open; a busy machine may
  # take longer than the half second.
  for ((i = 0; i < 200; i++)); do
    kill -0 "$BOARD_PID" 2>/dev/null || break
    grep -q "^board .* on $ifname\$" "$log" 2>/dev/null && return 0
    sleep 0.05
  done
  cat "$log" >&2
  echo "the board emulator did not start" >&2
  kill -INT "$BOARD_PID" 2>/dev/null || true
  BOARD_PID=""
  return 1
}

board_stop() {
  if [ -n "${BOARD_PID:-}" ]; then
    kill -INT "$BOARD_PID" 2>/dev/null || true
    wait "$BOARD_PID" 2>/dev/null || true
    BOARD_PID=""
  fi
}

# Sender's band hashes ("band N sha256 H" lines of `ferrolink send`) against the emulator's last
# completion of each band ("band N complete: ... sha256 H"). Prints the verdict; false on mismatch.
bands_byte_exact() {
  local sent_log=$1 board_log=$2 work
  work=$(mktemp -d)
  grep -E '^band [0-9]+ sha256 ' "$sent_log" | awk '{print $2, $4}' | sort -n >"$work/sent"
  grep -E '^band [0-9]+ complete' "$board_log" |
    sed -E 's/^band ([0-9]+) complete.*sha256 ([0-9a-f]+).*/\1 \2/' |
    awk '{h[$1]=$2} END {for (b in h) print b, h[b]}' | sort -n >"$work/board"
  local bands
  bands=$(wc -l <"$work/sent")
  if [ "$bands" -gt 0 ] && diff -q "$work/sent" "$work/board" >/dev/null; then
    echo "verdict: all $bands bands byte-exact at the board (SHA-256 of every band equal)"
    rm -rf "$work"
    return 0
  fi
  echo "verdict: MISMATCH between the sender's and the board's bands"
  diff "$work/sent" "$work/board" || true
  rm -rf "$work"
  return 1
}
