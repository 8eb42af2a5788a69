#!/usr/bin/env bash
# The program as an administrator starts it: a demo installation, a login through the login
# library beside the program, the main and users windows, and the failures that end it.
set -euo pipefail
bin=$1
work=$(mktemp -d)
trap 'umount "$work/full" 2>/dev/null || true; rm -rf "$work"' EXIT
export GATEKEEP_CONFIG_DIR="$work/config" GATEKEEP_ZORCFG="$work/ZorCfg.ini" QT_QPA_PLATFORM=offscreen

fail() { echo "FAIL: $*" >&2; exit 1; }

"$bin" --create-demo "$work/demo" | grep -q 'login "admin", password "gatekeep"' || fail "demo not created"
"$bin" --create-demo "$work/demo" 2>/dev/null && fail "a second demo overwrote the first"
"$bin" --create-system-db "$work/demo/sys.fdb" 2>/dev/null && fail "an existing system database was overwritten"

for window in main users; do
  "$bin" --screenshot "$work/$window.png" --window "$window" admin gatekeep 2>/dev/null || fail "$window window"
  [ "$(head -c 4 "$work/$window.png" | tail -c 3)" = PNG ] || fail "$window screenshot is no PNG"
done

# Actions that show no window need no display.
env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY "$bin" --create-demo "$work/nodisplay" >/dev/null || fail "demo without a display"
env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY "$bin" --scramble x >/dev/null || fail "scramble without a display"

# Qt never sees the login: "-style x" is a login name and password, not Qt's option (which
# would leave no login and open the interactive dialog, waiting for ever).
timeout 60 "$bin" -style x 2>/dev/null && fail "\"-style x\" logged in"
[ $? -eq 1 ] || fail "\"-style x\" was not taken as a login"

# A system database from --create-system-db takes its first administrator, whose password
# begins with "-"; a refused administrator leaves no file.
"$bin" --create-system-db "$work/new.fdb" --admin boss --admin-password "-s3cret" >/dev/null || fail "system database not created"
"$bin" --create-system-db "$work/bad.fdb" --admin boss --admin-password "$(printf '\xf0\x9f\x98\x80')" 2>/dev/null && fail "a password outside cp1251 accepted"
[ -e "$work/bad.fdb" ] && fail "a refused creation left a file"
newconfig="$work/newconfig"
mkdir -p "$newconfig"
printf '[sys_db]\nDRIVER=INTRBASE\nSERVER NAME=%s\nUSER NAME=SYSDBA\n' "$work/new.fdb" > "$newconfig/aliases.ini"
GATEKEEP_CONFIG_DIR="$newconfig" "$bin" --screenshot "$work/new.png" -- boss -s3cret 2>/dev/null || fail "no login into the new system database"
[ -e "$work/new.png" ] || fail "no main window over the new system database"

# SIGTERM while the main window is open ends the program cleanly. The signal goes once the
# program has taken it over (blocked for its event loop to read): from then on, whatever it is
# doing, it goes on to its main window and quits from the event loop with 0.
GATEKEEP_CONFIG_DIR="$newconfig" "$bin" boss -s3cret 2>/dev/null &
pid=$!
takes_term() { [ $(( 0x$(awk '/^SigBlk/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0) >> 14 & 1 )) -eq 1 ]; }
until takes_term; do kill -0 "$pid" 2>/dev/null || fail "the program ended before SIGTERM"; sleep 0.1; done
kill -TERM "$pid"
rc=0; wait "$pid" || rc=$?
[ "$rc" -eq 0 ] || fail "SIGTERM ended the program with $rc"

# A wrong password ends the program at once, without a window.
"$bin" --screenshot "$work/wrong.png" admin wrong 2>/dev/null && fail "wrong password accepted"
[ -e "$work/wrong.png" ] && fail "a window was shown after a failed login"

# The installation description round trip through the command line.
printf '[Application]\nName=Mod09\n[Classes]\nName1=user1\nPassword1=p1\n' > "$work/mod09.ini"
"$bin" --write-install-description "$work/mod09.ini,$work/mod09.icr" >/dev/null || fail "install description"
head -1 "$work/mod09.icr" | grep -q '^GKICR1$' || fail "install description header"

# On a full disk (a small tmpfs; the tests run as root) the description is not written, the
# old file stays, and the program says why instead of "Written".
mkdir "$work/full"
mount -t tmpfs -o size=64k tmpfs "$work/full" || fail "cannot mount a small tmpfs (run as root)"
printf 'an older description\n' > "$work/full/mod09.icr"
cat /dev/zero > "$work/full/filler" 2>/dev/null && fail "the small disk did not fill"
rc=0; "$bin" --write-install-description "$work/mod09.ini,$work/full/mod09.icr" >"$work/out" 2>"$work/err" || rc=$?
[ "$rc" -eq 1 ] || fail "a full disk ended the description with $rc"
[ -s "$work/out" ] && fail "a failed description was reported: $(cat "$work/out")"
grep -q 'mod09.icr.*No space left on device' "$work/err" || fail "no reason given: $(cat "$work/err")"
[ "$(cat "$work/full/mod09.icr")" = "an older description" ] || fail "the old description was changed"
[ "$(ls -A "$work/full" | tr '\n' ' ')" = "filler mod09.icr " ] || fail "left behind: $(ls -A "$work/full")"
umount "$work/full"
echo ok
