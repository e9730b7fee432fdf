# shellcheck shell=bash
# The shell rig of scripts/demo and bench/run: a private bus, programs in a mount namespace of
# their own with a scratch directory over /etc/wireless, bounded waits, and everything started
# here stopped (and everything made here removed) on every way out. Source it, then call
# rig_init. Names it defines start with rig_; messages start with the script's own name.

rig_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
rig_name=$(realpath --relative-to="$rig_root" "$0")
rig_started=()  # pids, stopped in reverse order
rig_pin=()      # a prefix for every program rig_start starts, such as taskset -c 0
rig_work=""

# rig_init NAME: makes the scratch directory $rig_work, /tmp/NAME.XXXXXX, and sets the traps. A
# caller may define rig_on_exit STATUS, run first on the way out.
rig_init() {
  rig_work=$(mktemp -d "/tmp/$1.XXXXXX")
  trap rig_cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
}

rig_fail() {
  echo "$rig_name: $*" >&2
  exit 1
}

# Exits with 77, which ctest takes for a skip, unless this is root.
rig_require_root() {
  [ "$(id -u)" -eq 0 ] && return
  echo "$rig_name: needs root: $*" >&2
  exit 77
}

# rig_start COMMAND...: in the background, behind $rig_pin; its pid goes to $rig_pid.
rig_start() {
  "${rig_pin[@]}" "$@" &
  rig_pid=$!
  rig_started+=("$rig_pid")
}

# rig_stop PID [SECONDS]: BLOCKS until the process has ended: SIGTERM, then SIGKILL after
# SECONDS (default 10).
rig_stop() {
  local pid=$1 deadline=$((SECONDS + ${2:-10})) keep=() other
  kill -TERM "$pid" 2>/dev/null || true
  while kill -0 "$pid" 2>/dev/null; do
    if [ "$SECONDS" -ge "$deadline" ]; then kill -KILL "$pid" 2>/dev/null || true; fi
    sleep 0.05
  done
  wait "$pid" 2>/dev/null || true
  for other in "${rig_started[@]}"; do [ "$other" = "$pid" ] || keep+=("$other"); done
  rig_started=("${keep[@]}")
}

rig_cleanup() {
  local status=$? i
  if declare -F rig_on_exit >/dev/null; then rig_on_exit "$status"; fi
  for ((i = ${#rig_started[@]} - 1; i >= 0; i--)); do rig_stop "${rig_started[i]}"; done
  # The mounts lived in the programs' namespaces and went with them.
  if [ -n "$rig_work" ]; then rm -rf "$rig_work"; fi
}

# rig_poll SECONDS PID COMMAND...: runs the command every 50 ms until it succeeds (0), SECONDS
# pass or the process PID (if not empty) has ended (1).
rig_poll() {
  local deadline=$((SECONDS + $1)) pid=$2
  shift 2
  until "$@" >/dev/null 2>&1; do
    if [ "$SECONDS" -ge "$deadline" ] || { [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null; }; then return 1; fi
    sleep 0.05
  done
}

# rig_owned NAME: whether NAME has an owner on the bus in DBUS_SYSTEM_BUS_ADDRESS.
rig_owned() {
  dbus-send --system --print-reply=literal --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
    "string:$1" | grep -q true
}
rig_unowned() { ! rig_owned "$1"; }

# rig_render_policy DIR: the stand-in for the device's bus in DIR/system-bus.conf, with our
# shipped policy rendered for root as service, bridge and administrator.
rig_render_policy() {
  mkdir -p "$1/system.d"
  cp "$rig_root/packaging/devbus/system-bus.conf" "$1/"
  cmake -DOUT_DIR="$1/system.d" -DSERVICE_USER=root -DBRIDGE_USER=root -DADMIN_GROUP=root \
    -P "$rig_root/packaging/render-policy.cmake"
}

# rig_start_bus CONFIG LOG: a dbus-daemon with CONFIG, listening on "socket" next to it, its
# complaints in LOG; exports its address as DBUS_SYSTEM_BUS_ADDRESS once it listens.
rig_start_bus() {
  local here
  here=$(dirname "$1")
  rig_start dbus-daemon --config-file="$1" --address="unix:path=$here/socket" --nofork --nopidfile \
    --print-address=1 >"$here/address" 2>"$2"
  rig_poll 10 "$rig_pid" test -s "$here/address" || rig_fail "the bus did not start (see $2)"
  DBUS_SYSTEM_BUS_ADDRESS=$(head -n 1 "$here/address")
  export DBUS_SYSTEM_BUS_ADDRESS
}

# rig_sandbox DIR: sets rig_sandbox to the prefix that runs a program in a mount namespace of
# its own, which ends with it, with DIR bind-mounted over /etc/wireless; the pid stays the
# program's. Nothing on the host changes, a missing /etc/wireless included: in the namespace,
# /etc is an overlay with the real /etc below and, above it, a tmpfs layer that holds the
# mount point (its empty mount point on the host is in the scratch directory).
# shellcheck disable=SC2016,SC2034  # the inner script expands in sh; the callers use the array
rig_sandbox() {
  local layer=$rig_work/etc-layer
  mkdir -p "$layer"
  rig_sandbox=(unshare --mount --propagation private sh -c '
    mount -t tmpfs -o mode=0755 etc-layer "$1" && mkdir -p "$1/upper/wireless" "$1/work" &&
    mount -t overlay etc -o "lowerdir=/etc,upperdir=$1/upper,workdir=$1/work" /etc &&
    mount --bind "$2" /etc/wireless && shift 2 && exec "$@"' sh "$layer" "$1")
}
