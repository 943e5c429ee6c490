# Guest side of the fake-stick benchmark (bench/vm/run): one stick that
# reports 1 GiB over 256 MiB of flash behind a write-back cache of 32 MiB
# (the flash model's cache_sectors), 1 MiB per command, a partition table
# as sold. Side by side in one boot: the wall time of Debian's f3probe
# --destructive, and of the station's probe ([MediaTest] Probe=true: a batch
# run with it less one without).
# The numbers go to the case's report, which tests/vm/run prints.
# f3probe moves about 1 GiB each way over the fake, and dummy_hcd moves at
# most one high-speed frame's 52 KiB per timer tick (4 ms): minutes.
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
plug_sticks b "$rack" 1
wait_disks 1
queue_1mib 1
as_sold 1

ms() { echo $(($(date +%s%N) / 1000000)); }
t=$(ms)
read -r verdict usable < <(f3probe_on 1 "$UFDVM_WORK/f3probe")
f3=$(($(ms) - t))
printf 'f3probe --destructive: %s, %s sectors usable, %d ms\n' "$verdict" "$usable" "$f3" |
    tee "$UFDVM_WORK/report"

# The station's probe: a whole batch run with Probe=true less one without,
# on the same stick in the same boot (a trace with every write's data would
# fill the guest's memory: the probe writes some 525 MiB here).
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
{
    printf 'station probe: E0, %d ms (%.2f of f3probe; the goal: 0.25 at most)\n' "$station" "$(echo "$station $f3" | awk '{ print $1 / $2 }')"
} | tee -a "$UFDVM_WORK/report"
