#!/usr/bin/env bash
# The program as an administrator starts it: a demo installation, a login through the login
# library beside the program, the main and users windows, and the failures that end it.
set -euo pipefail
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export GATEKEEP_CONFIG_DIR="$work/config" GATEKEEP_ZORCFG="$work/ZorCfg.ini" QT_QPA_PLATFORM=offscreen

fail() { echo "FAIL: $*" >&2; exit 1; }

"$bin" --create-demo "$work/demo" | grep -q 'login "admin", password "gatekeep"' || fail "demo not created"
"$bin" --create-demo "$work/demo" 2>/dev/null && fail "a second demo overwrote the first"
"$bin" --create-system-db "$work/demo/sys.fdb" 2>/dev/null && fail "an existing system database was overwritten"

for window in main users; do
  "$bin" --screenshot "$work/$window.png" --window "$window" admin gatekeep 2>/dev/null || fail "$window window"
  [ "$(head -c 4 "$work/$window.png" | tail -c 3)" = PNG ] || fail "$window screenshot is no PNG"
done

# A wrong password ends the program at once, without a window.
"$bin" --screenshot "$work/wrong.png" admin wrong 2>/dev/null && fail "wrong password accepted"
[ -e "$work/wrong.png" ] && fail "a window was shown after a failed login"

# The installation description round trip through the command line.
printf '[Application]\nName=Mod09\n[Classes]\nName1=user1\nPassword1=p1\n' > "$work/mod09.ini"
"$bin" --write-install-description "$work/mod09.ini,$work/mod09.icr" >/dev/null || fail "install description"
head -1 "$work/mod09.icr" | grep -q '^GKICR1$' || fail "install description header"
echo ok
