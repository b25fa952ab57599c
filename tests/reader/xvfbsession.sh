#!/bin/sh
# Runs a command inside a private X server with a tray host (trayer) at the bottom edge, as a
# small desktop session: 1280x800, the panel 32 px high, the work area above it.
set -u
work=$(mktemp -d)
trap 'kill $tray $xvfb 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
tray=
for _ in $(seq 1 200); do
    [ -s "$work/display" ] && break
    sleep 0.05
done
if [ ! -s "$work/display" ]; then
    echo "xvfbsession: the X server did not start" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
DISPLAY=":$(cat "$work/display")"
export DISPLAY
for _ in $(seq 1 100); do
    xwininfo -root >/dev/null 2>&1 && break
    sleep 0.05
done

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
if ! kill -0 $tray 2>/dev/null; then
    echo "xvfbsession: the tray host did not start" >&2
    cat "$work/trayer.log" >&2
    exit 1
fi
# Without a window manager nobody publishes the work area; publish what one would.
xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA "0,0,1280,768"

"$@"
exit $?
