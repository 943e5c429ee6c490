# Vasket on real udev events: "IN" when a stick is plugged, "OUT" when it is
# pulled, each within seconds; prints the plug-to-notice latency.
source "$UFDVM_ROOT/tests/vm/lib.sh"
rack=$scratch/rack.json
mkdir -p "$scratch/state"
export QUORLINK_STATE_DIR=$scratch/state
cp "$UFDVM_ROOT/examples/rack/fast.json" "$rack"
export UFD_NOTICE_CHANNEL=ufdvm-notices-$$
"$bin/notice-listen" >"$scratch/notices" &
listener=$!
wait_for 10 "the notice listener" grep -q listening "$scratch/notices"
"$bin/Vasket" --station-pid "$listener" 2>"$scratch/vasket" &
monitor=$!
trap 'kill $monitor $listener 2>/dev/null || true; cleanup' EXIT
wait_for 10 "Vasket watching" grep -q "watching USB disks" "$scratch/vasket"

now_ms() { echo $(($(date +%s%N) / 1000000)); }
# notice_after WORD MS: the first notice WORD at or after MS; its latency.
notice_after() {
    awk -v w="$1" -v t="$2" '$2 == w && $1 >= t { print $1 - t; exit }' "$scratch/notices"
}
has_notice() { [ -n "$(notice_after "$1" "$2")" ]; }
expect() {
    local word=$1 since=$2
    wait_for 10 "notice $word" has_notice "$word" "$since"
    echo "$word after $(notice_after "$word" "$since") ms"
}

stick_start v1 "$rack" 1
for round in 1 2; do
    t=$(now_ms)
    stick_plug v1 0
    expect IN "$t"
    wait_disks 1
    t=$(now_ms)
    stick_unplug v1
    expect OUT "$t"
    wait_for 10 "sg1 gone" test ! -e /sys/class/scsi_generic/sg1
done
