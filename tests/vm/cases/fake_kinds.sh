# Three fakes that report 256 MiB over 64 MiB of flash, one of each kind the
# flash model plays: one that wraps behind a write-back cache of 8 MiB (more
# than the probe's pattern of some 3 MiB, so a probe that reads back what
# it just wrote sees the cache, not the flash), one that drops what lies past
# its flash (limbo: reads there give zeros), one that wraps. Each with a
# partition table as sold and 1 MiB per command. Debian's f3probe
# --destructive is the outside judge: it calls each of them bad news
# ("counterfeit", or "damaged" where f3probe 8.0 takes the wrapping flash
# for a cache), and the station with [MediaTest] Probe=true fails each with
# E0 and the real size of its flash; where f3probe names a usable size, the
# station's is within 1 % of it.
# ufdvm-timeout: 900
source "$UFDVM_ROOT/tests/vm/lib.sh"
rack=$scratch/rack.json
export QUORLINK_STATE_DIR=$scratch/state
fake() { # INDEX KIND EXTRA SERIAL
    printf ', {"index": %d, "capacity": 524288, "flash_sectors": 131072, "fake": "%s"%s, "chips": ["0x75", "0x75"], "units94": {"default": 1}, "units95": {"default": 1}, "serial": "%s"}\n' "$@"
}
{
    echo '{"drives": [{"index": 0, "kind": "disk"}'
    fake 1 wrap ', "cache_sectors": 16384' CACHE0000001
    fake 2 limbo ', "past_end": "zeros"' LIMBO0000002
    fake 3 wrap '' WRAP00000003
    echo ']}'
} >"$rack"
sold_sticks k "$rack" 1 2 3

step "f3probe on the three sticks"
f3probe_all 1 2 3
declare -A usable
for n in 1 2 3; do
    read -r verdict size <"$scratch/f3probe-$n"
    step "f3probe on stick $n: $verdict ($size sectors usable)"
    [ "$verdict" = fake ] || [ "$verdict" = damaged ] ||
        fail "f3probe on stick $n: $verdict, not bad news (see f3probe-$n)"
    [ "$verdict" = fake ] && usable[$n]=$size
done

step "the station's probe"
probe_batch "$scratch/run"
for n in 1 2 3; do
    awk -v n=$n '$1 == n && $4 == "red" && /Error Status = E0/ { found = 1 } END { exit !found }' \
        "$scratch/run/rows" || fail "the station did not fail stick $n with E0"
    found=$(real_sectors "$scratch/run" $n)
    step "the station found $found sectors kept on stick $n"
    [ "$found" = 131072 ] || fail "the station found $found sectors on stick $n, not 131072"
    if [ -n "${usable[$n]:-}" ]; then
        [ $(((found - usable[$n]) * 100 / usable[$n])) -eq 0 ] ||
            fail "the station's real size $found is not f3probe's ${usable[$n]} on stick $n"
    fi
done
