# Sixteen sticks at once, one per USB port: discovery finds them in port
# order, as the simulator-only run of the same rack does; after one is pulled
# the slots renumber as they do in the simulator-only run without it.
source "$UFDVM_ROOT/tests/vm/lib.sh"
sim=$scratch/sim real=$scratch/real
mkdir -p "$sim/state" "$real/state"
{
    echo '{"drives": [{"index": 0, "kind": "disk"}'
    for i in $(seq 1 16); do
        printf ', {"index": %d, "capacity": %d, "chips": ["0x75"], "serial": "SX%06d"}\n' \
            "$i" $((100000 + 2048 * i)) "$i"
    done
    echo ']}'
} >"$sim/rack.json"
cp "$sim/rack.json" "$real/rack.json"
QUORLINK_RACK=$sim/rack.json QUORLINK_STATE_DIR=$sim/state run_batch "$sim/all" Product-check-wp.ini &
simulated=$!

export QUORLINK_STATE_DIR=$real/state
for i in $(seq 1 16); do
    UFDVM_LATER=1 stick_start "x$i" "$real/rack.json" "$i"
done
sticks_ready
step "plugging"
for i in $(seq 1 16); do
    stick_plug "x$i" $((i - 1))
    wait_sg "$i"
done
wait_disks $(seq 1 16)
step "plugged"
for i in $(seq 1 16); do
    [ "$(sg_of_serial "$(printf SX%06d "$i")")" = "sg$i" ] || fail "port $i's stick is not sg$i"
done
wait $simulated
run_batch "$real/all" Product-check-wp.ini
same_as_simulator "$sim/all" "$real/all"
[ "$(table_rows "$real/all/rows")" = 16 ] || fail "not sixteen rows"

stick_unplug x5
wait_for 20 "sg5 gone" test ! -e /sys/class/scsi_generic/sg5
udevadm settle --timeout=30
QUORLINK_STATE_DIR=$sim/state "$bin/ufd-rack" --rack "$sim/rack.json" unplug 5 >/dev/null
QUORLINK_RACK=$sim/rack.json QUORLINK_STATE_DIR=$sim/state run_batch "$sim/pulled" Product-check-wp.ini
run_batch "$real/pulled" Product-check-wp.ini
same_as_simulator "$sim/pulled" "$real/pulled"
[ "$(table_rows "$real/pulled/rows")" = 15 ] || fail "not fifteen rows after the pull"
