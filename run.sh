#!/usr/bin/env bash
# Installs what is missing, builds and starts Quorvane.
#
# A live bus comes with it: the simulated CAN gateway (tests/support/
# simgateway) runs in the background on a free loopback port with
# CANopen nodes 1 (heartbeat every second), 2 and 3 (drives) and 4 (only the
# mandatory objects), and, when no project is
# given on the command line, the demo project build/demo/LiveBus.zorpro
# opens: a CAN interface on that gateway with a CAN monitor (CANopen
# decoder) and a CAN sender. The adapter stand-ins find the gateway through
# QUORVANE_SIM_GATEWAY. The gateway stops when the program ends.
set -euo pipefail
source "$(dirname "$0")/scripts/setup.sh"
cd "$ZOR_ROOT"

zor_install_packages
zor_install_npm
# Only what the program needs; ./test.sh builds the tests and benchmarks.
ZOR_TARGET=zor_run zor_build build

demo_dir="$ZOR_ROOT/build/demo"
mkdir -p "$demo_dir"
gw_log="$demo_dir/simgateway.log"
gw_in="$demo_dir/simgateway.in"
gw_pid=""

stop_gateway() {
  [ -n "$gw_pid" ] || return 0
  # QUIT on its input; if it lingers, end it. A gateway that is gone already
  # must not take this script with it (SIGPIPE on its input).
  trap '' PIPE
  if kill -0 "$gw_pid" 2>/dev/null; then
    { echo QUIT >&3; } 2>/dev/null || true
  fi
  exec 3>&- 2>/dev/null || true
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    kill -0 "$gw_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$gw_pid" 2>/dev/null || true
  wait "$gw_pid" 2>/dev/null || true
  rm -f "$gw_in"
  gw_pid=""
}
trap stop_gateway EXIT
trap 'exit 130' INT TERM

start_gateway() {
  rm -f "$gw_in"
  mkfifo "$gw_in"
  # Its input stays open (fd 3) for as long as this script runs; its event
  # lines go to a log file so that it never blocks on a full pipe.
  node "$ZOR_ROOT/tests/support/simgateway/simgateway.js" --quiet \
    --node "1 heartbeat=1000 wave=10000" --node "2 drive=1 vendor=0xc0ffee name=Sim\\sServo\\s402" \
    --node "3 drive=1 vendor=0xc0ffee name=Sim\\sServo\\s402" --node "4 minimal=1" \
    <"$gw_in" >"$gw_log" 2>&1 &
  gw_pid=$!
  exec 3>"$gw_in"
  local port=""
  for _ in $(seq 1 100); do
    port=$(sed -n 's/^PORT \([0-9][0-9]*\)$/\1/p' "$gw_log" 2>/dev/null | head -n 1)
    [ -n "$port" ] && break
    kill -0 "$gw_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ -z "$port" ]; then
    zor_log "the simulated CAN gateway did not start (see $gw_log)"
    stop_gateway
    return 1
  fi
  gateway="127.0.0.1:$port"
  zor_log "simulated CAN gateway on $gateway with CANopen node 1, drives 2 and 3 and node 4"
}

# The demo project keeps what the user saved in it; only the gateway's
# address is brought up to date at every start.
write_demo_project() {
  local project="$demo_dir/LiveBus.zorpro"
  if [ -f "$project" ] && grep -q '<Port>127\.0\.0\.1:[0-9]*</Port>' "$project"; then
    sed -i "s#<Port>127\.0\.0\.1:[0-9]*</Port>#<Port>$gateway</Port>#" "$project"
  else
    sed "s#@GATEWAY@#$gateway#" "$ZOR_ROOT/resources/demo/LiveBus.zorpro" >"$project"
  fi
  # The device description of node 1, which the node's object editor opens.
  cp "$ZOR_ROOT/resources/demo/SimNode1.xdd" "$demo_dir/"
  demo_project="$project"
  # The operator screen of the demo; kept once there, like the project.
  mkdir -p "$demo_dir/QML"
  [ -f "$demo_dir/QML/ZorUiMain.qml" ] || cp "$ZOR_ROOT/resources/demo/QML/ZorUiMain.qml" "$demo_dir/QML/"
  # The automation script of "Auto1", kept once there like the screen.
  [ -f "$demo_dir/Auto1.py" ] || cp "$ZOR_ROOT/resources/demo/Auto1.py" "$demo_dir/"
}

gateway=""
args=("$@")
if start_gateway; then
  export QUORVANE_SIM_GATEWAY="$gateway"
  if [ ${#args[@]} -eq 0 ]; then
    write_demo_project
    args=("$demo_project")
  fi
fi

status=0
./build/Quorvane "${args[@]}" || status=$?
exit "$status"
