#!/usr/bin/env bash
# The program as an administrator installs it: into a prefix of its own, started from there
# headless, finding its login library in the installed library folder and keeping its
# configuration out of the prefix.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null || fail "install"
for f in bin/gatekeep lib/gatekeep/libZorLogin.so share/applications/gatekeep.desktop \
         share/icons/hicolor/scalable/apps/gatekeep.svg share/doc/gatekeep/README.md; do
  [ -f "$prefix/$f" ] || fail "$f not installed"
done
[ -x "$prefix/bin/gatekeep" ] || fail "the program is not executable"
[ -e "$prefix/bin/libZorLogin.so" ] && fail "the login library beside the program: the installed folder would go untested"
grep -q '^Exec=gatekeep$' "$prefix/share/applications/gatekeep.desktop" || fail "desktop entry Exec"
grep -q '^Icon=gatekeep$' "$prefix/share/applications/gatekeep.desktop" || fail "desktop entry Icon"

# Nothing of the build may be reached: not its folder, not its environment.
export GATEKEEP_CONFIG_DIR="$work/config" QT_QPA_PLATFORM=offscreen
unset GATEKEEP_ZORCFG LD_LIBRARY_PATH
bin="$prefix/bin/gatekeep"
touch "$work/before"
"$bin" --create-demo "$work/demo" | grep -q 'login "admin"' || fail "demo not created by the installed program"
[ -f "$work/config/ZorCfg.ini" ] || fail "ZorCfg.ini of an installed program not in the configuration folder"
"$bin" --screenshot "$work/main.png" admin gatekeep 2>"$work/err" || fail "installed program: $(cat "$work/err")"
[ "$(head -c 4 "$work/main.png" | tail -c 3)" = PNG ] || fail "screenshot is no PNG"
[ -z "$(find "$prefix" -newer "$work/before" -print -quit)" ] || fail "the program wrote into its prefix: $(find "$prefix" -newer "$work/before")"

# A ZorCfg.ini placed beside the installed program is the one read: the demo's folder then
# stays without a second copy.
cp "$work/config/ZorCfg.ini" "$prefix/bin/ZorCfg.ini"
rm "$work/config/ZorCfg.ini"
"$bin" --create-demo "$work/demo2" >/dev/null || fail "second demo"
[ -e "$work/config/ZorCfg.ini" ] && fail "ZorCfg.ini written to the configuration folder although one stands beside the program"
grep -q demo2 "$prefix/bin/ZorCfg.ini" || fail "ZorCfg.ini beside the program not used"
echo ok
