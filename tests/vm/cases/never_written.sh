# A mounted stick and a stick held by another program (here: the kernel's
# swap, which claims the disk exclusively) are never written by a batch run:
# no write and no vendor command block reaches them, their images stay as
# they were, and only their own rows fail.
source "$UFDVM_ROOT/tests/vm/lib.sh"
rack=$scratch/rack.json
mkdir -p "$scratch/state" "$scratch/mnt"
export QUORLINK_STATE_DIR=$scratch/state
drive() {
    echo "{\"index\": $1, \"kind\": \"usb\", \"capacity\": 100000, \"chips\": [\"0x75\", \"0x75\"],
      \"units94\": {\"default\": 1}, \"units95\": {\"default\": 1}, \"serial\": \"NW00000$1\"}"
}
echo "{\"drives\": [{\"index\": 0, \"kind\": \"disk\"}, $(drive 1), $(drive 2), $(drive 3)]}" >"$rack"
for i in 1 2 3; do
    stick_start "n$i" "$rack" "$i"
    stick_plug "n$i" $((i - 1))
    wait_sg "$i"
done
wait_disks 1 2 3
disk() { echo "/dev/$(ls "/sys/class/scsi_generic/sg$1/device/block")"; }
mkfs.fat -I "$(disk 2)" >/dev/null
mount -o ro "$(disk 2)" "$scratch/mnt"
mkswap "$(disk 3)" >/dev/null
swapon "$(disk 3)"
trap 'umount "$scratch/mnt" 2>/dev/null; swapoff "$(disk 3)" 2>/dev/null; cleanup' EXIT
sync
for i in 2 3; do
    wc -l <"$UFDVM_WORK/n$i.commands" >"$scratch/lines$i"
    cp --sparse=always "$scratch/state/drive-$i/image.img" "$scratch/before$i.img"
done

QUORLINK_TRACE=$scratch/trace.jsonl run_batch "$scratch/run"
cat "$scratch/run/rows"
[ "$(cat "$scratch/run/rc")" = 1 ] || fail "the run did not end ! FAILED !"
awk '$1 == 1 && $4 != "green" { exit 1 }' "$scratch/run/rows" || fail "the free stick did not pass"
for i in 2 3; do
    awk -v s="$i" '$1 == s && $4 != "red" { exit 1 }' "$scratch/run/rows" || fail "slot $i not red"
    if tail -n +$(($(cat "$scratch/lines$i") + 1)) "$UFDVM_WORK/n$i.commands" |
        grep -E '^cdb=(2a|8a|c6)'; then
        fail "a write or vendor command reached stick $i"
    fi
    "$bin/image-cmp" "$scratch/before$i.img" "$scratch/state/drive-$i/image.img" ||
        fail "stick $i's image changed"
    grep -q "\"drive\":$i.*refused" "$scratch/trace.jsonl" || fail "no refusal traced for drive $i"
done
grep -q '^cdb=c6' "$UFDVM_WORK/n1.commands" || fail "the free stick saw no vendor command"
