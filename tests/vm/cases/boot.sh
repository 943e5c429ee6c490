# The guest itself: a real kernel with the USB gadget stack and udevd.
set -eu
uname -r
modprobe dummy_hcd
ls /sys/class/udc
pidof systemd-udevd
test -e /dev/fd/0
