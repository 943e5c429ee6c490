# A stick that answers NOT READY, becoming ready, to the first commands of
# the run (firmware still loading): the station retries within its bound,
# as the kernel's disk driver does, the batch passes, and what it wrote is
# flushed, and the kernel told to re-read the partition table, when the
# station lets go of the stick.
source "$UFDVM_ROOT/tests/vm/lib.sh"
rack=$scratch/rack.json
export QUORLINK_STATE_DIR=$scratch/state
usb_rack "$rack" NR 1
UFDVM_NOT_READY=3 stick_start r1 "$rack" 1
stick_plug r1 0
wait_sg 1
wait_disks 1
stick_arm r1

run_batch "$scratch/run"
cat "$scratch/run/rows"
# The kernel's own TEST UNIT READY when the station claims the disk may
# take one; the station's commands must have met the others.
[ "$(grep -c ' failed 2/04/01 ' "$UFDVM_WORK/r1.commands")" = 3 ] ||
    fail "the stick did not answer NOT READY three times"
grep ' failed 2/04/01 ' "$UFDVM_WORK/r1.commands" | grep -vq '^cdb=00' ||
    fail "no command of the station met NOT READY"
[ "$(cat "$scratch/run/rc")" = 0 ] || fail "the run did not end ! ALL PASS !"
# Written, then flushed: SYNCHRONIZE CACHE after the last write.
awk '/^cdb=(2a|8a)/ { w = 1 } /^cdb=35/ { w = 0 } END { exit w }' "$UFDVM_WORK/r1.commands" ||
    fail "the writes were not followed by SYNCHRONIZE CACHE"
# Let go: the kernel re-read the partition table the station wrote.
disk=$(ls /sys/class/scsi_generic/sg1/device/block)
wait_for 10 "the kernel seeing ${disk}1" test -e "/sys/class/block/${disk}1"
