# Helpers of the guest's test cases (sourced): user-space sticks on dummy_hcd,
# bounded waits, the station's batch run. $UFDVM_ROOT, $UFDVM_BUILD and
# $UFDVM_WORK come from the guest's init.
set -euo pipefail
bin=$UFDVM_BUILD/bin
gadgets=/sys/kernel/config/usb_gadget
scratch=$(mktemp -d /tmp/case.XXXXXX)
sticks=()

# step WHAT: a time-stamped line in the case's log.
step() { echo "[$(cut -d' ' -f1 /proc/uptime)] $*"; }

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# wait_for SECONDS WHAT COMMAND...: polls COMMAND every 0.1 s.
wait_for() {
    local limit=$1 what=$2 deadline
    shift 2
    deadline=$(($(date +%s%N) + limit * 1000000000))
    until "$@" 2>/dev/null; do
        [ "$(date +%s%N)" -lt "$deadline" ] || fail "$what: not within $limit s"
        sleep 0.1
    done
}

# serial_of INDEX: the serial number of a rack drive from `ufd-rack list`
# on stdin: the end of its device line, before what its flash does
# ("  hang_after=200  hub=line").
serial_of() { awk -v i="$1" '$1 == i { sub(/  [a-z_]+=.*$/, ""); n = split($0, p, "\\"); print p[n] }'; }
rack_serial() { "$bin/ufd-rack" --rack "$1" list | serial_of "$2"; }

# usb_rack FILE PREFIX N: a rack of the PC's disk and N small USB drives
# (serials PREFIX000001 ...) of two chips each.
usb_rack() {
    local i
    {
        echo '{"drives": [{"index": 0, "kind": "disk"}'
        for i in $(seq 1 "$3"); do
            printf ', {"index": %d, "capacity": 100000, "chips": ["0x75", "0x75"], "units94": {"default": 1}, "units95": {"default": 1}, "serial": "%s%06d"}\n' \
                "$i" "$2" "$i"
        done
        echo ']}'
    } >"$1"
}

# gadget NAME RACK INDEX [VID:PID [SERIAL]]: the configfs gadget of a stick
# for drive INDEX of RACK, its FunctionFS folder mounted at /run/ufdvm/ffs/NAME.
gadget() {
    local name=$1 rack=$2 index=$3 ids=${4:-$UFDVM_ALLOWED} serial=${5:-}
    local g=$gadgets/$name
    [ -n "$serial" ] || serial=$(rack_serial "$rack" "$index")
    echo "${QUORLINK_STATE_DIR:-$rack.state}/drive-$index/image.img" >"$scratch/$name.image"
    mkdir "$g"
    echo "0x${ids%:*}" >"$g/idVendor"
    echo "0x${ids#*:}" >"$g/idProduct"
    echo 0x0200 >"$g/bcdUSB"
    mkdir "$g/strings/0x409"
    echo "$serial" >"$g/strings/0x409/serialnumber"
    echo "Generic" >"$g/strings/0x409/manufacturer"
    echo "Stick $index" >"$g/strings/0x409/product"
    mkdir "$g/configs/c.1" "$g/functions/ffs.$name"
    ln -s "$g/functions/ffs.$name" "$g/configs/c.1/"
    mkdir -p "/run/ufdvm/ffs/$name"
    mount -t functionfs "$name" "/run/ufdvm/ffs/$name"
    sticks+=("$name")
}

# stick_start NAME RACK INDEX [VID:PID [SERIAL [BLOCK_SIZE]]]: a gadget
# carrying ufd-stick for drive INDEX of RACK, ready to be plugged (with
# UFDVM_LATER=1 set, not waited for: sticks_ready waits for them all). The
# VID:PID defaults to the one the guest's quorlink.conf allows. With
# UFDVM_NOT_READY=N the stick is NOT READY for N commands after stick_arm.
stick_start() {
    local name=$1 rack=$2 index=$3 block=${6:-512} extra=()
    [ -z "${UFDVM_NOT_READY:-}" ] ||
        extra=(--not-ready "$UFDVM_NOT_READY" --not-ready-after "$scratch/$name.arm")
    gadget "$@"
    "$bin/ufd-stick" --rack "$rack" --index "$index" --ffs "/run/ufdvm/ffs/$name" \
        --block-size "$block" "${extra[@]}" \
        --log "$UFDVM_WORK/$name.commands" --ready "$scratch/$name.ready" \
        2>>"$UFDVM_WORK/$name.stderr" &
    echo $! >"$scratch/$name.pid"
    [ -n "${UFDVM_LATER:-}" ] || wait_for 10 "stick $name ready" test -f "$scratch/$name.ready"
}

# hub_sticks PREFIX RACK INDEX...: sticks PREFIX<i> for drives i of RACK, all
# served by one ufd-stick, so that the drives of one rack hub share its
# bandwidth as in the simulator; plugged in order into the ports of one root
# hub, the USB/IP host's (vhci_hcd.0: fifteen high-speed ports), each through
# a UDC of its own that USB/IP carries over loopback (usbip-vudc), and seen
# as the next /dev/sg.
hub_sticks() {
    local prefix=$1 rack=$2 i port=0 first
    shift 2
    modprobe vhci-hcd
    modprobe usbip-vudc num=$#
    first=$(ls /sys/class/scsi_generic | wc -l)
    local indexes=() dirs=() logs=()
    # One listing of the rack for all serials: ufd-rack starts slowly in the guest.
    local listing
    listing=$("$bin/ufd-rack" --rack "$rack" list)
    for i; do
        gadget "$prefix$i" "$rack" "$i" "$UFDVM_ALLOWED" \
            "$(serial_of "$i" <<<"$listing")"
        indexes+=("$i")
        dirs+=("/run/ufdvm/ffs/$prefix$i")
        logs+=("$UFDVM_WORK/$prefix$i.commands")
    done
    "$bin/ufd-stick" --rack "$rack" --index "$(IFS=,; echo "${indexes[*]}")" \
        --ffs "$(IFS=,; echo "${dirs[*]}")" --log "$(IFS=,; echo "${logs[*]}")" \
        --ready "$scratch/$prefix.ready" 2>>"$UFDVM_WORK/$prefix.stderr" &
    for i; do
        echo $! >"$scratch/$prefix$i.pid"
    done
    wait_for 10 "sticks $prefix ready" test -f "$scratch/$prefix.ready"
    for i; do
        echo "usbip-vudc.$port" >"$gadgets/$prefix$i/UDC"
        echo "$port" >"$scratch/$prefix$i.vhci"
        port=$((port + 1))
    done
    usbip_attach $(seq 0 $((port - 1))) || fail "sticks $prefix: no USB/IP attach"
    step "attached to ports 0 to $((port - 1)) of vhci_hcd.0"
    for i in $(seq 1 "$port"); do
        wait_sg $((first + i - 1))
    done
}

# usbip_attach PORT...: usbip-vudc.PORT's device on port PORT of vhci_hcd.0's
# high-speed root hub, each over a loopback TCP connection both ends of
# which the kernel takes over (what the usbip tools do after their handshake).
usbip_attach() {
    python3 - "$@" <<'PY'
import errno, socket, sys, time
server = socket.create_server(("127.0.0.1", 0))
for port in map(int, sys.argv[1:]):
    host = socket.create_connection(server.getsockname())
    device, _ = server.accept()
    # The gadget pulls up once FunctionFS has bound it: until then, ENODEV.
    for _ in range(100):
        try:
            with open(f"/sys/devices/platform/usbip-vudc.{port}/usbip_sockfd", "w") as f:
                f.write(str(device.fileno()))
            break
        except OSError as e:
            if e.errno != errno.ENODEV:
                raise
            time.sleep(0.1)
    else:
        sys.exit(f"usbip-vudc.{port}: the gadget never pulled up")
    # port, socket, device id (bus 1, device port + 2), high speed (3)
    with open("/sys/devices/platform/vhci_hcd.0/attach", "w") as f:
        f.write(f"{port} {host.fileno()} {(1 << 16) | (port + 2)} 3")
    host.close()
    device.close()
PY
}

# plug_sticks PREFIX RACK INDEX...: stick PREFIX<i> serves rack drive i from
# dummy_udc.<i-1>, plugged and seen as /dev/sg<i> (the guest's own disk is sg0).
plug_sticks() {
    local prefix=$1 rack=$2 i
    shift 2
    for i in "$@"; do
        stick_start "$prefix$i" "$rack" "$i"
        stick_plug "$prefix$i" $((i - 1))
        wait_sg "$i"
    done
}

sticks_ready() {
    local s
    for s in "${sticks[@]}"; do
        wait_for 30 "stick $s ready" test -f "$scratch/$s.ready"
    done
}

stick_arm() { touch "$scratch/$1.arm"; }

# stick_plug NAME PORT: connects the stick to dummy_hcd's port PORT (0..15).
stick_plug() { echo "dummy_udc.$2" >"$gadgets/$1/UDC"; }
stick_unplug() { echo "" >"$gadgets/$1/UDC"; }

stick_stop() {
    local name=$1 g=$gadgets/$1
    [ -d "$g" ] || return 0
    # A stick on USB/IP stays until the guest powers off: Debian's 6.1 oopses
    # in vudc_shutdown, then panics, when its connection closes.
    [ ! -f "$scratch/$name.vhci" ] || return 0
    [ -z "$(cat "$g/UDC" 2>/dev/null)" ] || stick_unplug "$name" || true
    kill "$(cat "$scratch/$name.pid")" 2>/dev/null || true
    wait "$(cat "$scratch/$name.pid")" 2>/dev/null || true
    umount "/run/ufdvm/ffs/$name" 2>/dev/null || true
    rm -f "$g/configs/c.1/ffs.$name"
    rmdir "$g/configs/c.1/strings/0x409" "$g/configs/c.1" "$g/functions/ffs.$name" \
        "$g/strings/0x409" "$g" 2>/dev/null || true
}

# keep NAME...: each stick's image and log length as they are now.
keep() {
    local s
    for s; do
        wc -l <"$UFDVM_WORK/$s.commands" >"$scratch/$s.mark"
        cp --sparse=always "$(cat "$scratch/$s.image")" "$scratch/$s.kept"
    done
}

# untouched NAME...: since keep, no command that may change a drive (WRITE
# of any size, WRITE SAME, UNMAP, FORMAT UNIT, the vendor block, anything
# with data out) reached the stick, and its image is byte for byte the same.
untouched() {
    local s
    for s; do
        if tail -n +$(($(cat "$scratch/$s.mark") + 1)) "$UFDVM_WORK/$s.commands" |
            grep -E '^cdb=(0a|2a|aa|8a|41|93|42|04|c6)|^cdb=[0-9a-f]* out '; then
            fail "a command that changes the drive reached stick $s"
        fi
        "$bin/image-cmp" "$scratch/$s.kept" "$(cat "$scratch/$s.image")" ||
            fail "stick $s's image changed"
    done
}

# colour DIR SLOT: the picture of a slot's row in a batch run; empty if none.
colour() { awk -v s="$2" '$1 == s { print $4 }' "$1/rows"; }

# without_run_id FILE: a batch's output less its first line when that is the
# run id, which is new in every run.
without_run_id() {
    sed '1{/^[0-9a-f]\{8\}-[0-9a-f]\{4\}-[0-9a-f]\{4\}-[0-9a-f]\{4\}-[0-9a-f]\{12\}$/d}' "$1"
}

# same_as_simulator SIM REAL: rows and exit code of two batch runs agree.
# The drives' lines of a --batch table: between its heading and the verdict
# (the lines after it may start with a number too: "9 drive(s) have no row").
table_rows() { sed -n '/^Slot /,/^Verdict:/p' "$1" | grep -c '^[0-9]'; }

same_as_simulator() {
    cat "$2/rows"
    [ ! -s "$2/stderr" ] || { echo "--- its stderr:"; cat "$2/stderr"; }
    without_run_id "$1/rows" >"$1/rows.cmp"
    without_run_id "$2/rows" >"$2/rows.cmp"
    diff -u "$1/rows.cmp" "$2/rows.cmp" || fail "rows differ from the simulator-only run"
    [ "$(cat "$2/rc")" = "$(cat "$1/rc")" ] || fail "exit $(cat "$2/rc"), simulator $(cat "$1/rc")"
}

# Waits for the station's window (started with timeout 90 as pid $1, its
# output in $scratch/watch) to end, shows what it said, and fails unless it passed.
finish_watch() {
    local rc=0
    wait "$1" || rc=$?
    step "station ended"
    cat "$scratch/watch"
    [ $rc = 0 ] || fail "the station's window: exit $rc (124: not within 90 s)"
}

cleanup() {
    local s
    for s in "${sticks[@]}"; do
        stick_stop "$s"
    done
    udevadm settle --timeout=10 || true
    rm -rf "$scratch"
}
trap cleanup EXIT

# The sg node whose USB device has the given serial; empty when none.
sg_of_serial() {
    local d
    for d in /sys/class/scsi_generic/sg*; do
        [ "$(cat "$d/device/../../../../serial" 2>/dev/null)" = "$1" ] && {
            basename "$d"
            return 0
        }
    done
    return 1
}

# wait_sg N: the kernel has made /dev/sgN (plug the next stick only then, so
# that sticks take sg numbers in plug order).
wait_sg() { wait_for 20 "/dev/sg$1" test -e "/sys/class/scsi_generic/sg$1"; }

# wait_disks N...: each /dev/sgN has its disk attached, and udev is done.
wait_disks() {
    local n
    for n in "$@"; do
        wait_for 30 "a disk behind /dev/sg$n" test -e "/sys/class/scsi_generic/sg$n/device/block"
    done
    udevadm settle --timeout=60
}

# run_batch DIR [PRODUCT]: the station's batch run (product: an examples/
# file, default Product.ini) with its program directory in the guest's
# overlay, stopped after UFDVM_BATCH_TIMEOUT s (120); rows in DIR/rows, exit
# code in DIR/rc.
run_batch() {
    local dir=$1 product=${2:-Product.ini}
    mkdir -p "$dir"
    cp "$UFDVM_ROOT/examples/$product" "$bin/Product.ini"
    set +e
    QT_QPA_PLATFORM=offscreen timeout "${UFDVM_BATCH_TIMEOUT:-120}" \
        "$bin/ufd-station" --batch >"$dir/rows" 2>"$dir/stderr"
    echo $? >"$dir/rc"
    set -e
}

# flash_rack FILE: the PC's disk and two sticks: drive 1 a fake that reports
# 1 GiB over 256 MiB of flash (higher addresses land back on it), drive 2 a
# good one of 64 MiB.
flash_rack() {
    cat >"$1" <<JSON
{"drives": [
  {"index": 0, "kind": "disk"},
  {"index": 1, "capacity": 2097152, "flash_sectors": 524288, "chips": ["0x75", "0x75"],
   "units94": {"default": 1}, "units95": {"default": 1}, "serial": "FAKE00000001"},
  {"index": 2, "capacity": 131072, "chips": ["0x75", "0x75"],
   "units94": {"default": 1}, "units95": {"default": 1}, "serial": "GOOD00000002"}
]}
JSON
}

# as_sold N: the disk behind /dev/sgN gets a partition table, as a stick
# comes from the shop; on a fake it shows again wherever the flash wraps.
as_sold() {
    echo 'start=2048, type=c' | sfdisk -q "/dev/$(ls "/sys/class/scsi_generic/sg$1/device/block")"
}

# queue_1mib N: the disk behind /dev/sgN takes 1 MiB per command (usb-storage
# gives a high-speed stick 120 KiB unless told otherwise).
queue_1mib() {
    local disk
    disk=$(ls "/sys/class/scsi_generic/sg$1/device/block")
    echo 2048 >"/sys/block/$disk/device/max_sectors"
    [ "$(cat "/sys/block/$disk/queue/max_sectors_kb")" = 1024 ] || fail "$disk takes no 1 MiB commands"
}

# sold_sticks PREFIX RACK N...: plug_sticks, each stick then as a shop sells
# it: 1 MiB per command (queue_1mib) and a partition table (as_sold).
sold_sticks() {
    local prefix=$1 rack=$2 n
    shift 2
    plug_sticks "$prefix" "$rack" "$@"
    wait_disks "$@"
    for n; do
        queue_1mib "$n"
        as_sold "$n"
    done
}

# f3probe_all N...: f3probe_on the sticks behind /dev/sgN, all at once: its
# words in f3probe-N of the case's output, "VERDICT SECTORS" in
# $scratch/f3probe-N.
f3probe_all() {
    local n probes=()
    for n; do
        f3probe_on "$n" "$UFDVM_WORK/f3probe-$n" >"$scratch/f3probe-$n" &
        probes+=($!)
    done
    wait "${probes[@]}"
}

# probe_batch DIR: the station's batch run with [MediaTest] Probe=true and
# [Run] Parallel=true, shown; the real size the probe found of each drive
# in DIR/real ("SLOT SECTORS", from the records).
probe_batch() {
    printf '[MediaTest]\nProbe=true\n[Run]\nParallel=true\n' >"$scratch/station.conf"
    export UFD_STATION_CONF=$scratch/station.conf XDG_DATA_HOME=$scratch/data
    UFDVM_BATCH_TIMEOUT=500 run_batch "$1"
    cat "$1/rows" "$1/stderr"
    "$bin/ufd-results" export --json | python3 -c '
import json, sys
for line in sys.stdin:
    r = json.loads(line)
    print(r["slot"], r["media_real_sectors"])' >"$1/real"
}

# real_sectors DIR SLOT: what probe_batch found the flash of SLOT keeps.
real_sectors() { awk -v s="$2" '$1 == s { print $2 }' "$1/real"; }

# f3probe_on N FILE: Debian's f3probe --destructive on the disk behind
# /dev/sgN, its words in FILE; prints "good", "fake" (a counterfeit of some
# type), "damaged" or what else it said, then the sectors it found usable.
f3probe_on() {
    local disk rc=0
    command -v f3probe >/dev/null || fail "f3probe is missing: run scripts/install-deps --vm"
    disk=$(ls "/sys/class/scsi_generic/sg$1/device/block")
    f3probe --destructive --time-ops "/dev/$disk" >"$2" 2>&1 || rc=$?
    awk -v rc=$rc '
        / is the real thing/ { v = "good" }
        / is a counterfeit/ { v = "fake" }
        / is damaged/ { v = "damaged" }
        /\*Usable\* size:/ { sub(/.*\(/, ""); usable = $1 }
        END { print (v == "" ? "unknown(exit " rc ")" : v), usable + 0 }' "$2"
}

# hanging_stick AFTER [CONF_LINES]: stick h1, a good 64 MiB drive whose
# controller stops answering once after AFTER commands until a USB reset,
# plugged, with udev's media polling of its disk off (it asks every 2 s), so
# that the command the stick leaves unanswered is the test's own. The
# library's quorlink.conf gets [Timeouts] Transfer=5 and CONF_LINES; its
# trace goes to $scratch/trace.jsonl.
hanging_stick() {
    local rack=$scratch/rack.json
    export QUORLINK_STATE_DIR=$scratch/state
    cat >"$rack" <<JSON
{"drives": [
  {"index": 0, "kind": "disk"},
  {"index": 1, "capacity": 131072, "hang_after": $1, "chips": ["0x75", "0x75"],
   "units94": {"default": 1}, "units95": {"default": 1}, "serial": "HANG00000001"}
]}
JSON
    { cat "$QUORLINK_CONF"; printf '[Timeouts]\nTransfer=5\nQuick=5\n%s' "${2:-}"; } >"$scratch/quorlink.conf"
    export QUORLINK_CONF=$scratch/quorlink.conf QUORLINK_TRACE=$scratch/trace.jsonl
    plug_sticks h "$rack" 1
    wait_disks 1
    echo 0 >"/sys/block/$(ls /sys/class/scsi_generic/sg1/device/block)/events_poll_msecs"
}

# hung_once STICK: the stick left exactly one command unanswered, and a USB
# reset reached it after that.
hung_once() {
    grep -v '^cdb=' "$UFDVM_WORK/$1.commands" || true
    [ "$(grep -c ' no answer (drive not answering)$' "$UFDVM_WORK/$1.commands")" = 1 ] ||
        fail "stick $1 did not stop answering exactly once"
    awk '/ no answer / { hung = 1 } hung && /^USB reset: drive reset$/ { back = 1 } END { exit !back }' \
        "$UFDVM_WORK/$1.commands" || fail "no USB reset reached stick $1 after it hung"
}
