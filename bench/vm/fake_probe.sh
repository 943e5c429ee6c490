# Guest side of the fake-stick benchmark (bench/vm/run): one stick that
# reports 1 GiB over 256 MiB of flash behind a write-back cache of 32 MiB
# (the flash model's cache_sectors), 1 MiB per command, a partition table
# as sold. First what a command costs this stick against a sector moved;
# then, side by side in one boot, the wall time of Debian's f3probe
# --destructive, and of the station's probe ([MediaTest] Probe=true: a batch
# run with it less one without), with the real size it found.
# The numbers go to the case's report, which tests/vm/run prints.
# f3probe moves about 1 GiB each way over the fake: minutes.
# ufdvm-timeout: 900
source "$UFDVM_ROOT/tests/vm/lib.sh"
rack=$scratch/rack.json
export QUORLINK_STATE_DIR=$scratch/state
cat >"$rack" <<JSON
{"drives": [
  {"index": 0, "kind": "disk"},
  {"index": 1, "capacity": 2097152, "flash_sectors": 524288, "cache_sectors": 65536,
   "chips": ["0x75", "0x75"], "units94": {"default": 1}, "units95": {"default": 1},
   "serial": "CACHED000001"}
]}
JSON
sold_sticks b "$rack" 1
udevadm settle --timeout=60 # udev's look at the new partition table, not timed

# Single-sector commands against 1 MiB ones, read and written, O_DIRECT so
# that each block is one command, past the partition table.
ms() { echo $(($(date +%s%N) / 1000000)); }
disk=/dev/$(ls /sys/class/scsi_generic/sg1/device/block)
timed() {
    local t
    t=$(ms)
    dd "$@" status=none
    echo $(($(ms) - t))
}
singles=400 mibs=32
read1=$(timed if="$disk" of=/dev/null bs=512 count=$singles iflag=direct skip=4096)
readbig=$(timed if="$disk" of=/dev/null bs=1M count=$mibs iflag=direct skip=4)
write1=$(timed if=/dev/zero of="$disk" bs=512 count=$singles oflag=direct seek=4096)
writebig=$(timed if=/dev/zero of="$disk" bs=1M count=$mibs oflag=direct seek=4)
echo "$read1 $readbig $write1 $writebig $singles $mibs" | awk '{
    c = ($1 + $3) / (2 * $5)                    # ms a command
    s = (($2 + $4) / 2 - $6 * c) / ($6 * 2048) # ms a sector moved
    printf "one command: %.1f ms (read %.1f, write %.1f); one sector moved: %.1f us (1 MiB read in %.0f ms, written in %.0f ms); a command costs %.0f sectors\n",
        c, $1 / $5, $3 / $5, s * 1000, $2 / $6, $4 / $6, c / s }' | tee "$UFDVM_WORK/report"

t=$(ms)
read -r verdict usable < <(f3probe_on 1 "$UFDVM_WORK/f3probe")
f3=$(($(ms) - t))
printf 'f3probe --destructive: %s, %s sectors usable, %d ms\n' "$verdict" "$usable" "$f3" |
    tee -a "$UFDVM_WORK/report"

# The station's probe: a whole batch run with Probe=true less one without,
# on the same stick in the same boot (a trace with every write's data would
# fill the guest's memory).
export XDG_DATA_HOME=$scratch/data UFDVM_BATCH_TIMEOUT=500
printf '' >"$scratch/plain.conf"
t=$(ms)
UFD_STATION_CONF=$scratch/plain.conf run_batch "$scratch/plain"
plain=$(($(ms) - t))
printf '[MediaTest]\nProbe=true\n' >"$scratch/station.conf"
t=$(ms)
UFD_STATION_CONF=$scratch/station.conf run_batch "$scratch/run"
station=$(($(ms) - t - plain))
cat "$scratch/run/rows" "$scratch/run/stderr"
grep -q 'Error Status = E0' "$scratch/run/rows" || fail "the station did not find the fake"
real=$("$bin/ufd-results" export --json | python3 -c '
import json, sys
print([json.loads(l)["media_real_sectors"] for l in sys.stdin][-1])')
printf 'station probe: E0, %s sectors kept, %d ms (%.2f of f3probe; the goal: 0.25 at most)\n' \
    "$real" "$station" "$(echo "$station $f3" | awk '{ print $1 / $2 }')" | tee -a "$UFDVM_WORK/report"
[ "$real" = 524288 ] || fail "the probe found $real sectors kept, not the flash's 524288"
