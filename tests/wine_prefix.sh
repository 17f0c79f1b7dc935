#!/bin/sh
# Sets up the Wine prefix that the Windows tests run in (slow only the first
# time), with one wineserver kept up for all of them. A server started by a
# test's own program would inherit that program's pipes and hold them open
# for seconds after the program ended; this one has none of our streams.
set -e
mkdir -p "$WINEPREFIX"
wineserver -p60 </dev/null >/dev/null 2>&1 || true  # one may be up already
wineboot --init </dev/null >/dev/null 2>&1
