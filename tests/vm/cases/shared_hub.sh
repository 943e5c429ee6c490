# Sixteen sticks with a speed floor each meets alone, [Run] Parallel=true:
# fifteen on one root hub (the USB/IP host's, every port it has), sharing
# a rack hub of 2 MB/s, and one on a dummy_hcd port of its own with a hub of
# the same bandwidth to itself. The guest itself moves some 3 MB/s for one
# stick on a busy machine, 6 MB/s for several: each stick alone writes and
# reads about 1 MB/s here, timed together the fifteen would get 0.13 MB/s
# at most. The station finds their shared root hub in sysfs and times them
# one at a time, so all sixteen pass floors of 0.3 MB/s.
# ufdvm-timeout: 420
source "$UFDVM_ROOT/tests/vm/lib.sh"
rack=$scratch/rack.json
export QUORLINK_STATE_DIR=$scratch/state
{
    echo '{"hubs": {"line": {"mbps": 2}, "desk": {"mbps": 2}}, "drives": [{"index": 0, "kind": "disk"}'
    for i in $(seq 1 16); do
        printf ', {"index": %d, "capacity": 4096, "hub": "%s", "chips": ["0x75", "0x75"], "units94": {"default": 1}, "units95": {"default": 1}, "serial": "HUB%09d"}\n' \
            "$i" "$([ "$i" -le 15 ] && echo line || echo desk)" "$i"
    done
    echo ']}'
} >"$rack"
step "plugging fifteen sticks into one root hub"
hub_sticks s "$rack" $(seq 1 15)
plug_sticks s "$rack" 16
wait_disks $(seq 1 16)
hubs=$(for n in $(seq 1 16); do
    readlink -f "/sys/class/scsi_generic/sg$n/device" | sed -n 's|.*/\(usb[0-9]*\)/.*|\1|p'
done | sort | uniq -c)
echo "$hubs"
[ "$(awk '$1 == 15' <<<"$hubs" | wc -l)" = 1 ] || fail "the fifteen sticks are not on one root hub"

step "the station"
printf '[Run]\nParallel=true\n[Window]\nRows=16\n[MediaTest]\nMinWriteMBps=0.3\nMinReadMBps=0.3\n' >"$scratch/station.conf"
export UFD_STATION_CONF=$scratch/station.conf XDG_DATA_HOME=$scratch/data
UFDVM_BATCH_TIMEOUT=240 run_batch "$scratch/run" Product-one-area.ini
step "the station ended"
cat "$scratch/run/rows" "$scratch/run/stderr"
"$bin/ufd-results" export --json | python3 -c '
import json, sys
for line in sys.stdin:
    r = json.loads(line)
    print(r["slot"], r["media_write_mbps"], r["media_read_mbps"])' | sort -n >"$scratch/figures"
cat "$scratch/figures"
[ "$(wc -l <"$scratch/figures")" = 16 ] || fail "not sixteen records"
awk '$2 == "" || $2 < 0.3 || $3 < 0.3 { bad = 1; print "slot " $1 ": below the floor" } END { exit bad }' \
    "$scratch/figures" || fail "a stick was timed below its floor"
for n in $(seq 1 16); do
    [ "$(colour "$scratch/run" "$n")" = green ] || fail "stick $n did not pass"
done
[ "$(cat "$scratch/run/rc")" = 0 ] || fail "the run did not end ! ALL PASS !"
