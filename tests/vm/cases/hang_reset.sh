# A good stick whose controller stops answering once in the middle of the
# station's surface sweep (the flash model's hang_after) and answers again
# after a USB reset. The station's transfer times out (5 s here),
# usb-storage resets the port as its error handling does, the station's
# media test resets the stick once more (fnQuorbus_ResetDevice) and goes
# on: the stick passes by its flash, not fails by the hang.
source "$UFDVM_ROOT/tests/vm/lib.sh"
# 64 MiB, 120 KiB per command: a whole-surface sweep is some 1,700
# commands; the plug, udev and the items before Format some 300. The hang
# comes in the sweep's read pass. The whole trace in one file: rotated at
# the default 16 MiB, the reset's line would be gone by the sweep's end.
hanging_stick 1100 $'[Trace]\nMaxBytes=1099511627776\n'
printf '[MediaTest]\nSurface=100\n' >"$scratch/station.conf"
UFD_STATION_CONF=$scratch/station.conf XDG_DATA_HOME=$scratch/data UFDVM_BATCH_TIMEOUT=300 \
    run_batch "$scratch/run"
cat "$scratch/run/rows" "$scratch/run/stderr"
hung_once h1
resets=$(grep -c '"fn":"fnQuorbus_ResetDevice".*"status":1' "$scratch/trace.jsonl" || true)
step "the station reset the stick $resets time(s)"
[ "$resets" = 1 ] || fail "the station reset the stick $resets times, not once"
[ "$(colour "$scratch/run" 1)" = green ] || fail "the stick did not pass after its reset"
[ "$(cat "$scratch/run/rc")" = 0 ] || fail "the run did not end ! ALL PASS !"
