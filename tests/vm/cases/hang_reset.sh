# A good stick whose controller stops answering once in the middle of the
# station's surface sweep (the flash model's hang_after) and answers again
# after a USB reset. The station's transfer times out (5 s here),
# usb-storage resets the port as its error handling does, the station's
# media test resets the stick once more (fnQuorbus_ResetDevice) and goes
# on: the stick passes by its flash, not fails by the hang.
source "$UFDVM_ROOT/tests/vm/lib.sh"
rack=$scratch/rack.json
export QUORLINK_STATE_DIR=$scratch/state
# 64 MiB, 120 KiB per command: a whole-surface sweep is some 1,700
# commands; the plug, udev and the items before Format some 300. The hang
# comes in the sweep's read pass.
cat >"$rack" <<JSON
{"drives": [
  {"index": 0, "kind": "disk"},
  {"index": 1, "capacity": 131072, "hang_after": 1100, "chips": ["0x75", "0x75"],
   "units94": {"default": 1}, "units95": {"default": 1}, "serial": "HANG00000001"}
]}
JSON
# The whole trace in one file: rotated at the default 16 MiB, the reset's
# line would be gone by the sweep's end.
{
    cat "$QUORLINK_CONF"
    printf '[Timeouts]\nTransfer=5\nQuick=5\n[Trace]\nMaxBytes=1099511627776\n'
} >"$scratch/quorlink.conf"
export QUORLINK_CONF=$scratch/quorlink.conf QUORLINK_TRACE=$scratch/trace.jsonl

# hung_once STICK: the stick left exactly one command unanswered, and a USB
# reset reached it after that.
hung_once() {
    grep -v '^cdb=' "$UFDVM_WORK/$1.commands" || true
    [ "$(grep -c ' no answer (drive not answering)$' "$UFDVM_WORK/$1.commands")" = 1 ] ||
        fail "stick $1 did not stop answering exactly once"
    awk '/ no answer / { hung = 1 } hung && /^USB reset: drive reset$/ { back = 1 } END { exit !back }' \
        "$UFDVM_WORK/$1.commands" || fail "no USB reset reached stick $1 after it hung"
}

# quiet N: no media polling of the disk behind /dev/sgN (udev asks every
# 2 s), so that the command the stick leaves unanswered is the test's own.
quiet() { echo 0 >"/sys/block/$(ls "/sys/class/scsi_generic/sg$1/device/block")/events_poll_msecs"; }

plug_sticks h "$rack" 1
wait_disks 1
quiet 1
printf '[MediaTest]\nSurface=100\n' >"$scratch/station.conf"
UFD_STATION_CONF=$scratch/station.conf XDG_DATA_HOME=$scratch/data UFDVM_BATCH_TIMEOUT=300 \
    run_batch "$scratch/run"
cat "$scratch/run/rows" "$scratch/run/stderr"
hung_once h1
resets=$(grep -c '"fn":"fnQuorbus_ResetDevice".*"status":1' "$scratch/trace.jsonl" || true)
step "the station reset the stick $resets time(s)"
[ "$resets" = 1 ] || fail "the station reset the stick $resets times, not once"
[ "$(colour "$scratch/run" 1)" = green ] || fail "the stick did not pass after its reset"
[ "$(cat "$scratch/run/rc")" = 0 ] || fail "the run did not end ! ALL PASS !"
