#!/usr/bin/env bash
# The workstation package, made from this build by CPack: its files and its
# declared dependencies (dpkg-deb), lintian and desktop-file-validate on it, and
# its launcher run from the unpacked package against an empty home, with a
# stand-in for the program that tells where it was started. Nothing is
# installed system-wide.
#   test_package.sh <build folder> <source folder>
set -euo pipefail
BUILD="$1"
SRC="$2"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

(cd "$BUILD" && cpack -G DEB -B "$tmp/dist" >/dev/null)
deb="$(ls "$tmp"/dist/tulmina_*_amd64.deb)"

contents="$(dpkg-deb -c "$deb")"
for f in usr/bin/tulmina usr/lib/tulmina/tulmina usr/share/tulmina/DudoVezir.xls \
    usr/share/applications/tulmina.desktop usr/share/icons/hicolor/scalable/apps/tulmina.svg \
    usr/share/doc/tulmina/README.md usr/share/doc/tulmina/copyright usr/share/tulmina/db-ca.crt; do
    grep -q " \./$f\$" <<<"$contents" || fail "the package lacks /$f"
done
depends="$(dpkg-deb -f "$deb" Depends)"
for d in libpq5 libreoffice-calc libqt6widgets6 libqt6sql6 libuno-cppu3; do
    grep -qE "(^|, )$d( |,|$)" <<<"$depends" || fail "no dependency on $d in: $depends"
done
# PostgreSQL is reached through libpq alone: no QtSql driver is needed for it.
! grep -q "libqt6sql6-psql" <<<"$depends" || fail "a dependency on the QtSql PostgreSQL driver: $depends"
[ "$(dpkg-deb -f "$deb" Recommends)" = "libreoffice-l10n-ru" ] ||
    fail "the Russian office is not recommended: $(dpkg-deb -f "$deb" Recommends)"
lintian --fail-on error "$deb" >"$tmp/lintian.txt" 2>&1 || fail "lintian: $(cat "$tmp/lintian.txt")"
# The manual page names the reporting server and the CA file the program reads.
dpkg-deb -x "$deb" "$tmp/man"
man_page="$(zcat "$tmp/man/usr/share/man/man1/tulmina.1.gz")"
for key in TULMINA_DB_ALIAS TULMINA_DB_CA_FILE; do
    value="$(sed -n "s/^$key:[A-Z]*=//p" "$BUILD/CMakeCache.txt")"
    grep -qF -- "$value" <<<"$man_page" || fail "the manual page does not name $key ($value)"
done
desktop-file-validate "$SRC/packaging/tulmina.desktop" || fail "desktop entry"

dpkg-deb -x "$deb" "$tmp/root"
launcher="$tmp/root/usr/bin/tulmina"
printf '#!/bin/sh\npwd > "$HOME/started-in"\n' >"$tmp/root/usr/lib/tulmina/tulmina"
home="$tmp/home"
mkdir "$home"
work="$home/Тулмина"

HOME="$home" "$launcher"
[ "$(cat "$home/started-in")" = "$work" ] || fail "started in $(cat "$home/started-in")"
for d in Station LogParam DudoVezir; do
    [ -d "$work/Tulmin/$d" ] || fail "no folder Tulmin/$d"
done
cmp -s "$work/Tulmin/DudoVezir/DudoVezir.xls" "$tmp/root/usr/share/tulmina/DudoVezir.xls" ||
    fail "the template was not copied"

echo "the user's own template" >"$work/Tulmin/DudoVezir/DudoVezir.xls"
HOME="$home" "$launcher"
[ "$(cat "$work/Tulmin/DudoVezir/DudoVezir.xls")" = "the user's own template" ] ||
    fail "a changed template was overwritten"

HOME="$home" TULMINA_WORKDIR="$tmp/elsewhere" "$launcher"
[ "$(cat "$home/started-in")" = "$tmp/elsewhere" ] || fail "TULMINA_WORKDIR not followed"
[ -f "$tmp/elsewhere/Tulmin/DudoVezir/DudoVezir.xls" ] || fail "no template in TULMINA_WORKDIR"

# A folder that cannot be made: the message box waits for the user, and the
# program is not started.
rm "$home/started-in"
status=0
HOME="$home" TULMINA_WORKDIR=/proc/tulmina QT_QPA_PLATFORM=offscreen \
    timeout 5 "$launcher" 2>"$tmp/err" || status=$?
[ "$status" = 124 ] || fail "the launcher ended ($status) instead of showing its message"
grep -q "Рабочая папка Тулмины не готова" "$tmp/err" || fail "message: $(cat "$tmp/err")"
[ ! -e "$home/started-in" ] || fail "the program was started"
