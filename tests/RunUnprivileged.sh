#!/bin/sh
# Runs the tests of a test program that need a user whom the file system refuses things: root
# passes every permission check, and "./run test" runs as root. Under root they run as the
# system user pellorin-test (created here once) in a Wine prefix of its own under the build
# folder; under any other user, as that user in a prefix of its own. QM_LOCKED_FOLDER names a
# folder of that user's that takes no new file, holding actions.xml, which the user may write.
#
#   RunUnprivileged.sh <wine> <test program> <gtest filter>
# Exit code 77 (a skip for CTest) when no such user can be had.
set -u
wine=$1
program=$2
filter=$3
build=$(cd "$(dirname "$program")/.." && pwd)
work="$build/unprivileged"
locked="$work/locked"
mkdir -p "$work"

if [ "$(id -u)" = 0 ]; then
    user=pellorin-test
    if ! id -u "$user" >/dev/null 2>&1 &&
       ! useradd --system --user-group --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user"; then
        echo "no unprivileged user could be created: skipped"
        exit 77
    fi
    command -v setpriv >/dev/null 2>&1 || { echo "setpriv is missing: skipped"; exit 77; }
    as_user() { setpriv --reuid="$user" --regid="$user" --init-groups env HOME="$work" USER="$user" LOGNAME="$user" "$@"; }
    if ! as_user test -r "$program"; then
        # A clone under a folder only root may enter (/root): the user gets a copy of the
        # programs in a folder of its own, kept with its prefix for the next run.
        work="/var/tmp/pellorin-test/$(printf '%s' "$build" | cksum | cut -d' ' -f1)"
        locked="$work/locked"
        mkdir -p "$work/bin"
        cp "$(dirname "$program")"/*.exe "$(dirname "$program")"/*.dll "$work/bin/"
        program="$work/bin/$(basename "$program")"
        chown -R "$user:" /var/tmp/pellorin-test
    fi
    chown "$user:" "$work"
    prefix="$work/wineprefix"
else
    user=$(id -un)
    as_user() { "$@"; }
    prefix="$work/wineprefix-$(id -u)"
fi

# A list the user may write, in a folder of its own that refuses it new files.
[ -d "$locked" ] && chmod u+w "$locked"
rm -rf "$locked"
mkdir -p "$locked"
: >"$locked/actions.xml"
chmod 0644 "$locked/actions.xml"
[ "$(id -u)" = 0 ] && chown -R "$user:" "$locked"
chmod 0555 "$locked"

export WINEPREFIX="$prefix" WINEDEBUG=-all
if [ ! -f "$prefix/system.reg" ]; then
    as_user env WINEPREFIX="$prefix" "$wine" wineboot -i </dev/null >/dev/null 2>&1
    as_user env WINEPREFIX="$prefix" wineserver -w </dev/null >/dev/null 2>&1
fi
# Drive Z: is the root of the Unix file system in every prefix.
windowsLocked="Z:$(printf '%s' "$locked" | tr / '\\')"
as_user env WINEPREFIX="$prefix" QM_LOCKED_FOLDER="$windowsLocked" "$wine" "$program" --gtest_filter="$filter" </dev/null
rc=$?
as_user env WINEPREFIX="$prefix" wineserver -k </dev/null >/dev/null 2>&1
as_user env WINEPREFIX="$prefix" wineserver -w </dev/null >/dev/null 2>&1
chmod u+w "$locked"
exit $rc
