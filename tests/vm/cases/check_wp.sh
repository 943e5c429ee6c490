# Check WP over the real path: a stick with its write-protect switch on and
# one without answer MODE SENSE through usb-storage and SG_IO; the rows and
# exit code match the simulator-only run of the same rack.
source "$UFDVM_ROOT/tests/vm/lib.sh"
rack() {
    cat <<JSON
{"drives": [
  {"index": 0, "kind": "disk"},
  {"index": 1, "kind": "usb", "capacity": 200000, "chips": ["0x75"], "serial": "WP000001"},
  {"index": 2, "kind": "usb", "capacity": 200000, "chips": ["0x75"], "serial": "WP000002",
   "write_protect": true}
]}
JSON
}
sim=$scratch/sim real=$scratch/real
mkdir -p "$sim/state" "$real/state"
rack >"$sim/rack.json"
rack >"$real/rack.json"
QUORLINK_RACK=$sim/rack.json QUORLINK_STATE_DIR=$sim/state run_batch "$sim" Product-check-wp.ini

export QUORLINK_STATE_DIR=$real/state
plug_sticks w "$real/rack.json" 1 2
wait_disks 1 2
run_batch "$real" Product-check-wp.ini
same_as_simulator "$sim" "$real"
grep -q '^cdb=1a' "$UFDVM_WORK/w2.commands" || fail "no MODE SENSE reached the protected stick"
