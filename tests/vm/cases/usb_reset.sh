# A stick whose controller stops answering once (the flash model's
# hang_after) and answers again after a USB reset, driven through the
# library alone: reads until one times out (5 s here; usb-storage's error
# handling then resets the port itself), then fnQuorbus_ResetDevice resets
# the stick through usbfs, found again by its port path, and the handle
# reads on; a second reset on the handle is refused unsent. The stick's log
# shows the command it left unanswered and the resets that reached it.
source "$UFDVM_ROOT/tests/vm/lib.sh"
hanging_stick 200
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
