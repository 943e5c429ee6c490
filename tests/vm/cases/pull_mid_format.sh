# A stick pulled in the middle of its Format (between two 0x95 vendor
# commands, through the real kernel) fails only its own items: the other
# sticks' rows and images are those of the simulator-only run.
source "$UFDVM_ROOT/tests/vm/lib.sh"
sim=$scratch/sim real=$scratch/real
mkdir -p "$sim/state" "$real/state"
# Drive 2 formats slowly, so that the pull lands inside its Format.
sed 's/"serial": "A2000002"/&, "latency_ms": {"0x95": 300}/' \
    "$UFDVM_ROOT/examples/rack/fast.json" >"$sim/rack.json"
grep -q '"0x95": 300' "$sim/rack.json" || fail "cannot slow drive 2 down in fast.json"
cp "$sim/rack.json" "$real/rack.json"
for i in 4 5 6 7; do
    QUORLINK_STATE_DIR=$sim/state "$bin/ufd-rack" --rack "$sim/rack.json" unplug "$i" >/dev/null
done
QUORLINK_RACK=$sim/rack.json QUORLINK_STATE_DIR=$sim/state run_batch "$sim" &
simulated=$!

export QUORLINK_STATE_DIR=$real/state
plug_sticks p "$real/rack.json" 1 2 3
wait_disks 1 2 3
wait $simulated
run_batch "$real" &
station=$!
wait_for 60 "stick 2 formatting" grep -q '^cdb=c60395' "$UFDVM_WORK/p2.commands"
stick_unplug p2
step "pulled stick 2"
wait $station
cat "$sim/rows" "$real/rows"
[ "$(cat "$real/rc")" = 1 ] || fail "the run did not end ! FAILED !"
# Cells, not columns: the table's widths follow the longest cell.
cells() { awk -v s="$1" '$1 == s { $1 = $1; print }' "$2"; }
for slot in 1 3; do
    [ "$(cells $slot "$real/rows")" = "$(cells $slot "$sim/rows")" ] ||
        fail "slot $slot's row differs from the simulator-only run"
done
awk '$1 == 2 && $4 == "red" && $5 == "X" { found = 1 } END { exit !found }' "$real/rows" ||
    fail "slot 2 did not fail its Format"
for i in 1 3; do
    "$bin/image-cmp" "$sim/state/drive-$i/image.img" "$real/state/drive-$i/image.img" ||
        fail "drive $i's image differs from the simulator-only run"
done
