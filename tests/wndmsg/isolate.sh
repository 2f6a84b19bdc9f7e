#!/bin/sh
# Runs a test program with a channel-library namespace and a window-message
# directory of its own, so parallel tests and a live system never meet, and
# removes both afterwards (also when the program crashed).
ns="morvel-test-$$-$(date +%s%N)"
dir=$(mktemp -d "${TMPDIR:-/tmp}/mwm.XXXXXX") || exit 1
DVDLL_NAMESPACE=$ns MORVEL_WNDMSG_DIR=$dir "$@"
rc=$?
rm -rf "$dir"
rm -f /dev/shm/"$ns".* /dev/shm/"$ns"-*
exit $rc
