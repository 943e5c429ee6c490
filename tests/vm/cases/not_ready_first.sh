# A stick that answers NOT READY, becoming ready, to the first commands of
# the run (firmware still loading): the station retries within its bound,
# as the kernel's disk driver does, and the batch passes.
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
[ "$(grep -c ' failed 2/04/01 ' "$UFDVM_WORK/r1.commands")" = 3 ] ||
    fail "the stick did not answer NOT READY three times"
[ "$(cat "$scratch/run/rc")" = 0 ] || fail "the run did not end ! ALL PASS !"
