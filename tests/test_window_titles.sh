#!/usr/bin/env bash
# The program's windows as an X11 window manager reads their titles
# (_NET_WM_NAME): the sign-in dialog shows "Авторизация" alone, the main
# window "Тулмина". Runs the program's binary on Xvfb until its dialog is up.
set -euo pipefail
binary=$1
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR=$runtime QT_QPA_PLATFORM=xcb
titles=$(xvfb-run -a -s '-screen 0 800x600x24' bash -c '
    "$1" &
    program=$!
    for _ in $(seq 100); do
        names=$(for id in $(xwininfo -root -children | awk "/^ +0x/ {print \$1}"); do
                    xprop -id "$id" _NET_WM_NAME 2>/dev/null | sed -n "s/.*= \"\(.*\)\"$/\1/p"
                done)
        grep -q "Авторизация" <<<"$names" && break
        sleep 0.1
    done
    kill "$program"
    printf "%s\n" "$names"
' titles "$binary")
fail() {
    echo "test_window_titles: $1; titles seen:" >&2
    printf '  %s\n' "$titles" >&2
    exit 1
}
grep -qx "Авторизация" <<<"$titles" || fail "no sign-in dialog titled \"Авторизация\" alone"
grep -qx "Тулмина" <<<"$titles" || fail "no main window titled \"Тулмина\""
echo "1 passed, 0 failed"
