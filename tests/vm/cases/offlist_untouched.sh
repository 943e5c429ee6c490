# The allow-list on the real path: a stick whose VID:PID quorlink.conf does
# not list (an operator's own stick, with a file system on it) sits between
# allowed ones through a whole batch run. The allowed ones pass; the other
# gets no write and no vendor command and its image is untouched, byte for
# byte.
source "$UFDVM_ROOT/tests/vm/lib.sh"
rack=$scratch/rack.json
export QUORLINK_STATE_DIR=$scratch/state
usb_rack "$rack" OL 4
mkdir -p "$QUORLINK_STATE_DIR/drive-2"
mkfs.fat -C "$QUORLINK_STATE_DIR/drive-2/image.img" 50000 >/dev/null
for i in 1 2 3 4; do
    ids=$UFDVM_ALLOWED
    [ $i != 2 ] || ids=1234:9999
    stick_start "o$i" "$rack" "$i" "$ids"
    stick_plug "o$i" $((i - 1))
    wait_sg "$i"
done
wait_disks 1 2 3 4
keep o2

run_batch "$scratch/run"
cat "$scratch/run/rows"
[ "$(cat "$scratch/run/rc")" = 0 ] || fail "the run did not end ! ALL PASS !"
[ "$(grep -c '^[0-9][0-9]* .* green ' "$scratch/run/rows")" = 3 ] ||
    fail "not three passing rows"
untouched o2
for i in 1 3 4; do
    grep -q '^cdb=c6' "$UFDVM_WORK/o$i.commands" || fail "allowed stick $i saw no vendor command"
done
