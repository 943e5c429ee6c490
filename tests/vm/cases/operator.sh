# packaging/udev's rules under the real udevd: a member of group ufdstation
# runs a batch without root and gets the simulator-only run's rows; a user
# outside the group finds no drive; the PC's own disk keeps root's group.
source "$UFDVM_ROOT/tests/vm/lib.sh"
groupadd --system ufdstation
useradd --create-home --groups ufdstation linehand
useradd --create-home visitor
install -m 0644 "$UFDVM_ROOT/packaging/udev/60-ufd-station.rules" /etc/udev/rules.d/
udevadm control --reload

sim=$scratch/sim real=$scratch/real
mkdir -p "$sim/state" "$real/state"
cp "$UFDVM_ROOT/examples/rack/fast.json" "$sim/rack.json"
cp "$UFDVM_ROOT/examples/rack/fast.json" "$real/rack.json"
for i in 3 4 5 6 7; do
    QUORLINK_STATE_DIR=$sim/state "$bin/ufd-rack" --rack "$sim/rack.json" unplug "$i" >/dev/null
done
QUORLINK_RACK=$sim/rack.json QUORLINK_STATE_DIR=$sim/state run_batch "$sim"

export QUORLINK_STATE_DIR=$real/state
plug_sticks o "$real/rack.json" 1 2
wait_disks 1 2
ls -l /dev/sg* /dev/sd*
for i in 1 2; do
    [ "$(stat -c %G:%a /dev/sg$i)" = ufdstation:660 ] || fail "/dev/sg$i is not ufdstation's"
done
[ "$(stat -c %G /dev/sg0)" != ufdstation ] || fail "the PC's own disk was given away"

# The users run a copy of the program directory, as a package installs it:
# the tree under test may sit below a folder only root can enter.
userbin=$(mktemp -d /opt/ufd-station.XXXXXX)
chmod 0755 "$userbin"
cp "$bin/ufd-station" "$bin/Vasket" "$bin/libquorlink.so" "$bin/Product.ini" "$userbin/"

# as USER DIR: the batch run of one user, with a runtime folder of its own.
as() {
    local user=$1 dir=$2 uid
    uid=$(id -u "$user")
    mkdir -p "/run/user/$uid" "$dir"
    chown "$user" "/run/user/$uid" "$dir"
    chmod 700 "/run/user/$uid"
    set +e
    setpriv --reuid="$user" --regid="$user" --init-groups \
        env -i PATH="$PATH" HOME="/home/$user" XDG_RUNTIME_DIR="/run/user/$uid" \
        QT_QPA_PLATFORM=offscreen timeout 120 "$userbin/ufd-station" --batch >"$dir/rows" 2>"$dir/stderr"
    echo $? >"$dir/rc"
    set -e
}
as linehand "$real/linehand"
same_as_simulator "$sim" "$real/linehand"
# Without root the kernel refuses BLKRRPART: the station's read-write close of
# each disk at release is what has udev re-read the tables it wrote.
for i in 1 2; do
    disk=$(ls "/sys/class/scsi_generic/sg$i/device/block")
    wait_for 10 "the kernel seeing ${disk}1 after a run without root" \
        test -e "/sys/class/block/${disk}1"
done
as visitor "$real/visitor"
cat "$real/visitor/rows"
[ "$(cat "$real/visitor/rc")" = 2 ] || fail "a user outside the group reached the drives"
