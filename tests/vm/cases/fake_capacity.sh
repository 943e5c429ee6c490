# A stick whose controller reports 1 GiB over 256 MiB of flash (addresses
# past the flash land back on it) and a good stick of 64 MiB, each with a
# partition table as sold, on the real kernel with 1 MiB per command. Debian's
# f3probe --destructive is the outside judge: the good stick is the real
# thing, all of it; the fake is bad news. (f3probe 8.0 reads a flash that
# wraps like this one as a cache of half the stick and calls the stick
# damaged, with no usable size.) The station's probe gives the same verdicts.
# f3probe moves about 1 GiB each way over the fake, and dummy_hcd moves at
# most one high-speed frame's 52 KiB per timer tick (4 ms): minutes; the
# station's probe, below, well under one.
# ufdvm-timeout: 900
source "$UFDVM_ROOT/tests/vm/lib.sh"
rack=$scratch/rack.json
export QUORLINK_STATE_DIR=$scratch/state
flash_rack "$rack"
sold_sticks f "$rack" 1 2

# Each stick has a port and a controller of its own: both probed at once.
step "f3probe on both sticks"
f3probe_all 1 2
read -r fake fakeUsable <"$scratch/f3probe-1"
read -r good goodUsable <"$scratch/f3probe-2"
step "f3probe: fake stick $fake ($fakeUsable sectors usable), good stick $good ($goodUsable)"
[ "$fake" = fake ] || [ "$fake" = damaged ] ||
    fail "f3probe on the fake stick: $fake (see f3probe-1)"
[ "$good $goodUsable" = "good 131072" ] ||
    fail "f3probe on the good stick: $good, $goodUsable sectors usable (see f3probe-2)"
# The kernel's 1 MiB commands reached the sticks whole and were answered.
for s in f1 f2; do
    grep -Eq '^cdb=2a[0-9a-f]{12}080000 out 1048576 good' "$UFDVM_WORK/$s.commands" ||
        fail "no 1 MiB write reached stick $s"
    ! grep -E '^cdb=(28|2a).* failed ' "$UFDVM_WORK/$s.commands" || fail "stick $s failed a transfer"
done

# The station with [MediaTest] Probe=true on the same two sticks, both at
# once: the fake fails its Format with E0 and the real size the probe found
# is its flash's (and f3probe's, when f3probe names one); the good stick
# passes. Its probe sends some 1,200 commands, most of a single sector, each
# 3 to 15 ms through the emulated USB, and moves some 46 MiB: beyond the
# usual bound of a batch.
step "the station's probe"
probe_batch "$scratch/run"
awk '$1 == 1 && $4 == "red" && /Error Status = E0/ { found = 1 } END { exit !found }' \
    "$scratch/run/rows" || fail "the station did not fail the fake stick with E0"
[ "$(colour "$scratch/run" 2)" = green ] || fail "the station did not pass the good stick"
found=$(real_sectors "$scratch/run" 1) # the fake, on the first port
step "the station found $found sectors kept on the fake stick"
[ "$found" = 524288 ] || fail "the station found $found sectors on the fake, not 524288"
if [ "$fake" = fake ]; then
    # Within 1 % of f3probe's usable size.
    [ $(((found - fakeUsable) * 100 / fakeUsable)) -eq 0 ] ||
        fail "the station's real size $found is not f3probe's $fakeUsable"
fi
