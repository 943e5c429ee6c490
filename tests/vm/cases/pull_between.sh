# A stick pulled after the station found it and before anything was written
# to it, then plugged back into the same port (to the station, a new stick):
# no command that changes it reaches it, the run ends, and only its slot
# fails.
source "$UFDVM_ROOT/tests/vm/lib.sh"
rack=$scratch/rack.json
export QUORLINK_STATE_DIR=$scratch/state
usb_rack "$rack" PB 2
# Drive 1 formats slowly: drive 2 is found but not yet written meanwhile.
sed -i 's/"serial": "PB000001"/&, "latency_ms": {"0x95": 300}/' "$rack"
plug_sticks q "$rack" 1 2
wait_disks 1 2
keep q2

run_batch "$scratch/run" &
station=$!
wait_for 60 "stick 1 formatting" grep -q '^cdb=c60395' "$UFDVM_WORK/q1.commands"
stick_unplug q2
step "pulled stick 2"
wait_for 20 "sg2 gone" test ! -e /sys/class/scsi_generic/sg2
stick_plug q2 1
wait_for 20 "stick 2 back" sg_of_serial PB000002
wait_disks "$(sg_of_serial PB000002 | tr -d sg)"
step "plugged stick 2 back"
wait $station
cat "$scratch/run/rows"
[ "$(cat "$scratch/run/rc")" = 1 ] || fail "the run did not end ! FAILED ! (exit $(cat "$scratch/run/rc"))"
[ "$(colour "$scratch/run" 1)" = green ] || fail "slot 1 did not pass"
[ "$(colour "$scratch/run" 2)" = red ] || fail "slot 2 not red"
untouched q2
