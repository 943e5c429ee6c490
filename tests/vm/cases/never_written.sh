# Allowed sticks the machine is using are never written by a batch run: one
# mounted, one held by the kernel's swap and one a program holds open with
# O_EXCL. No write and no vendor command block reaches them, their images
# stay as they were, and only their own rows fail.
source "$UFDVM_ROOT/tests/vm/lib.sh"
rack=$scratch/rack.json
mkdir -p "$scratch/state" "$scratch/mnt"
export QUORLINK_STATE_DIR=$scratch/state
usb_rack "$rack" NW 4
plug_sticks n "$rack" 1 2 3 4
wait_disks 1 2 3 4
disk() { echo "/dev/$(ls "/sys/class/scsi_generic/sg$1/device/block")"; }
mkfs.fat -I "$(disk 2)" >/dev/null
mount -o ro "$(disk 2)" "$scratch/mnt"
mkswap "$(disk 3)" >/dev/null
swapon "$(disk 3)"
perl -MFcntl -e 'sysopen(my $f, $ARGV[0], O_RDONLY | O_EXCL) or die "$ARGV[0]: $!\n";
    open(my $r, ">", $ARGV[1]); close $r; sleep 600' "$(disk 4)" "$scratch/held" &
holder=$!
trap 'kill $holder; umount "$scratch/mnt" 2>/dev/null; swapoff "$(disk 3)" 2>/dev/null; cleanup' EXIT
wait_for 10 "disk 4 held open" test -f "$scratch/held"
sync
keep n2 n3 n4

QUORLINK_TRACE=$scratch/trace.jsonl run_batch "$scratch/run"
cat "$scratch/run/rows"
[ "$(cat "$scratch/run/rc")" = 1 ] || fail "the run did not end ! FAILED !"
[ "$(colour "$scratch/run" 1)" = green ] || fail "the free stick did not pass"
untouched n2 n3 n4
for i in 2 3 4; do
    [ "$(colour "$scratch/run" $i)" = red ] || fail "slot $i not red"
    grep -q "refused: [^\"]*$(basename "$(disk $i)")\b" "$scratch/trace.jsonl" ||
        fail "no refusal naming $(disk $i) in the trace"
done
grep -q '^cdb=c6' "$UFDVM_WORK/n1.commands" || fail "the free stick saw no vendor command"
