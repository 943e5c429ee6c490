# A running station on real udev events: the window (offscreen, real
# backend, the Vasket it starts from its program directory) gives a plugged
# stick its row without a restart and drops the row after the pull.
source "$UFDVM_ROOT/tests/vm/lib.sh"
rack=$scratch/rack.json
mkdir -p "$scratch/state"
export QUORLINK_STATE_DIR=$scratch/state
cp "$UFDVM_ROOT/examples/rack/fast.json" "$rack"
stick_start r1 "$rack" 1

UFDVM_STICK_SERIAL=$(rack_serial "$rack" 1) QT_QPA_PLATFORM=offscreen \
    timeout 90 "$bin/station-watch" >"$scratch/watch" 2>&1 &
watcher=$!
trap 'kill $watcher 2>/dev/null || true; cleanup' EXIT
said() { grep -qx "$1" "$scratch/watch"; }
# A watcher that has ended can say nothing more: fail at once, with its words.
wait_said() {
    wait_for "$1" "the station: $2" sh -c "grep -qx '$2' '$scratch/watch' || ! kill -0 $watcher"
    said "$2" || { cat "$scratch/watch"; fail "the station ended before \"$2\""; }
}

wait_said 30 ready
step "plugging"
stick_plug r1 0
wait_said 40 "row in"
step "row in; pulling"
stick_unplug r1
finish_watch $watcher
