#!/bin/sh
# Runs a command in a private 1280x800 X server with trayer as tray host in a 32 px bottom panel.
set -u
work=$(mktemp -d) tray=
trap 'kill $tray $xvfb 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "xvfbsession: $1" >&2; cat "$2" >&2; exit 1; }

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 1 200); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || fail "the X server did not start" "$work/xvfb.log"
export DISPLAY=":$(cat "$work/display")"

# The tray host sometimes fails to connect to a server that has only just started; retry.
for _ in 1 2 3; do
    trayer --edge bottom --align left --widthtype request --height 32 --SetDockType true \
        --transparent false >"$work/trayer.log" 2>&1 &
    tray=$!
    for _ in $(seq 1 100); do
        xwininfo -root -tree 2>/dev/null | grep -q '"panel"' && break
        kill -0 $tray 2>/dev/null || break
        sleep 0.05
    done
    kill -0 $tray 2>/dev/null && break
done
kill -0 $tray 2>/dev/null || fail "the tray host did not start" "$work/trayer.log"
# Without a window manager nobody publishes the work area; publish what one would.
xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA "0,0,1280,768"
"$@"
