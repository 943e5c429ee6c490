# The sample product in a batch run over sticks that mirror the default rack
# (index 0: the PC's own disk, here a SCSI disk that is not USB): the same
# rows, verdict and exit code as the simulator-only run, and the same images,
# configuration blocks and boundaries, byte for byte.
source "$UFDVM_ROOT/tests/vm/lib.sh"
sim=$scratch/sim real=$scratch/real
mkdir -p "$sim/state" "$real/state"
cp "$UFDVM_ROOT/examples/rack/fast.json" "$sim/rack.json"
cp "$UFDVM_ROOT/examples/rack/fast.json" "$real/rack.json"

step "simulator-only run, beside the plugging"
QUORLINK_RACK=$sim/rack.json QUORLINK_STATE_DIR=$sim/state run_batch "$sim" &
simulated=$!

step "plugging"
export QUORLINK_STATE_DIR=$real/state
plug_sticks s "$real/rack.json" 1 2 3 4 5 6 7
wait_disks 1 2 3 4 5 6 7
test "$(sg_of_serial A1000001)" = sg1 || fail "drive 1 is not sg1"
wait $simulated
step "real run"
QUORLINK_TRACE=$real/trace.jsonl run_batch "$real"

step "comparing"
same_as_simulator "$sim" "$real"
for d in "$sim"/state/drive-*; do
    for f in image.img config.bin boundary; do
        if [ -e "$d/$f" ]; then
            "$bin/image-cmp" "$d/$f" "$real/state/${d##*/}/$f" || fail "${d##*/}/$f differs"
        fi
    done
done
# The vendor blocks went all the way: every stick saw its configuration block.
for i in 1 2 3 4 5 6 7; do
    grep -q '^cdb=c602810000' "$UFDVM_WORK/s$i.commands" || fail "no 0x81 block reached stick $i"
done
# Drive 6's switch is on: the kernel carried the stick's DATA PROTECT back.
grep -q '^cdb=2a.* failed 7/27/00' "$UFDVM_WORK/s6.commands" || fail "no write refused on stick 6"
# (Only stick 6 is protected; its drive index is the station's to choose.)
grep -q 'DATA PROTECT 7/27/00' "$real/trace.jsonl" || fail "no DATA PROTECT in the trace"
echo "same rows, verdict, images and configuration blocks"
