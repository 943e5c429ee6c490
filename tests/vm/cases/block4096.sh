# An allowed stick with 4096-byte logical blocks: the station counts in
# 512-byte sectors, so nothing that changes the stick is sent, the run does
# not pass it and its image stays as it was.
source "$UFDVM_ROOT/tests/vm/lib.sh"
rack=$scratch/rack.json
export QUORLINK_STATE_DIR=$scratch/state
usb_rack "$rack" BS 1
stick_start b1 "$rack" 1 "" "" 4096
stick_plug b1 0
wait_sg 1
wait_disks 1
[ "$(cat /sys/class/scsi_generic/sg1/device/block/*/queue/logical_block_size)" = 4096 ] ||
    fail "the kernel does not see 4096-byte blocks"
keep b1

run_batch "$scratch/run"
cat "$scratch/run/rows"
case $(cat "$scratch/run/rc") in 1 | 2) ;; *) fail "the run did not fail" ;; esac
! grep -q ' green ' "$scratch/run/rows" || fail "the stick passed"
untouched b1
