# A stick whose controller stops answering once (the flash model's
# hang_after) and answers again after a USB reset, driven through the
# library alone: reads until one times out (5 s here; usb-storage's error
# handling then resets the port itself), then fnQuorbus_ResetDevice resets
# the stick through usbfs, found again by its port path, and the handle
# reads on; a second reset on the handle is refused unsent. The stick's log
# shows the command it left unanswered and the resets that reached it.
source "$UFDVM_ROOT/tests/vm/lib.sh"
rack=$scratch/rack.json
export QUORLINK_STATE_DIR=$scratch/state
cat >"$rack" <<JSON
{"drives": [
  {"index": 0, "kind": "disk"},
  {"index": 1, "capacity": 131072, "hang_after": 200, "chips": ["0x75", "0x75"],
   "units94": {"default": 1}, "units95": {"default": 1}, "serial": "HANG00000001"}
]}
JSON
{ cat "$QUORLINK_CONF"; printf '[Timeouts]\nTransfer=5\nQuick=5\n'; } >"$scratch/quorlink.conf"
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
step "the library: reads until one times out, then two resets"
python3 - "$bin/libquorlink.so" >"$scratch/library" <<'PY'
import ctypes, sys
q = ctypes.CDLL(sys.argv[1])
h = q.fnQuorbus_GetDiskHandle(0)
assert h != 0, "no handle for the stick"
for n in range(1, 400):
    if q.fnQuorbus_Read(h, 1, n) != 1:
        break
else:
    sys.exit("the stick never stopped answering")
print(n, q.fnQuorbus_ResetDevice(h), [q.fnQuorbus_Read(h, 1, k) for k in range(5)],
      q.fnQuorbus_ResetDevice(h))
PY
cat "$scratch/library"
step "read $(cut -d" " -f1 "$scratch/library") timed out; then the resets"
read -r _ first reads second <<<"$(tr -d '[],' <"$scratch/library" | awk '{ print $1, $2, $3 $4 $5 $6 $7, $8 }')"
[ "$first $reads $second" = "1 11111 0" ] ||
    fail "library: reset $first, reads after it $reads, second reset $second (not 1, 11111, 0)"
hung_once h1
grep -q '"fn":"fnQuorbus_ResetDevice".*"reason":"refused: the drive was reset once already"' \
    "$scratch/trace.jsonl" || fail "the second reset was not refused in the trace"
