# [Window] RowPerSocket on real drives: three sticks, each drive index pinned
# to its stick's port by [Ports]; the middle stick is pulled from the running
# station's window (station-watch). Its row stays, empty and grey; the third
# stick stays on the third row although the slots renumber.
source "$UFDVM_ROOT/tests/vm/lib.sh"
rack=$scratch/rack.json
export QUORLINK_STATE_DIR=$scratch/state
usb_rack "$rack" SK 3
plug_sticks k "$rack" 1 2 3
wait_disks 1 2 3
# Each stick's port, as the library reads it: the USB device above its sg node.
{
    printf '[Drives]\nAllow=%s\n[Ports]\n' "$UFDVM_ALLOWED"
    for i in 1 2 3; do
        printf '%d=%s\n' "$i" "$(basename "$(readlink -f "/sys/class/scsi_generic/sg$i/device/../../../..")")"
    done
} >"$scratch/quorlink.conf"
cat "$scratch/quorlink.conf"
export QUORLINK_CONF=$scratch/quorlink.conf

UFDVM_STICK_SERIALS="SK000001 SK000002 SK000003" QT_QPA_PLATFORM=offscreen \
    timeout 90 "$bin/station-watch" --gtest_filter='Sockets.*' >"$scratch/watch" 2>&1 &
watcher=$!
trap 'kill $watcher 2>/dev/null || true; cleanup' EXIT
wait_for 40 "the station: three in" sh -c "grep -qx 'three in' '$scratch/watch' || ! kill -0 $watcher"
grep -qx 'three in' "$scratch/watch" || { cat "$scratch/watch"; fail "the station ended first"; }
step "three rows; pulling the second"
stick_unplug k2
finish_watch $watcher
