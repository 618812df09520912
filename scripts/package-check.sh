#!/usr/bin/env bash
# Builds the Debian package, has lintian check it, installs it with apt-get, uses it as a new non-root user would
# (tilvex split of a good and a bad sheet, the window started from the menu entry's command
# on Xvfb), and removes it again, leaving no file behind. It changes the machine's package
# set for a minute, so it is not part of scripts/test.sh. Exits 77 (skipped) where packages
# cannot be installed here.
#
#   bash scripts/package-check.sh      (as root; SCREENSHOT=file.png also saves the window)
set -uo pipefail
cd "$(dirname "$0")/.."

skip() { echo "SKIP: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "installing a package needs root"
for tool in apt-get dpkg-query runuser useradd userdel; do
  command -v "$tool" >/dev/null || skip "$tool is not available"
done
dpkg-query -W -f='${Status}' tilvex 2>/dev/null | grep -q 'install ok installed' &&
  skip "a tilvex package is already installed; remove it first"

bash scripts/setup.sh || exit 1
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build build --parallel "$(nproc)" >/dev/null || exit 1
rm -f build/tilvex_*.deb
(cd build && cpack -G DEB >/dev/null) || { echo "FAIL: cpack"; exit 1; }
deb=$(ls build/tilvex_*_*.deb)
echo "package: $deb"
dpkg-deb -f "$deb" Depends

user=tilvexcheck
home=/home/$user
work=$(mktemp -d /tmp/tilvex-package-XXXXXX)
xvfb_pid=""
app_pid=""
status=0
fail() { echo "FAIL: $*"; status=1; }
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  id "$user" >/dev/null 2>&1 && userdel -r "$user" 2>/dev/null
  dpkg-query -W -f='${Status}' tilvex 2>/dev/null | grep -q 'install ok installed' &&
    apt-get -o DPkg::Lock::Timeout=600 remove -y -qq tilvex >/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Debian's own checker: no error and no warning. It is only needed here, so it is installed here.
command -v lintian >/dev/null ||
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq lintian >/dev/null 2>&1
if command -v lintian >/dev/null; then
  lintian --fail-on error,warning "$deb" || fail "lintian reports errors or warnings on $deb"
else
  fail "lintian could not be installed"
fi

dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' >"$work/files"
DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq "./$deb" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; echo "FAIL: apt-get install"; exit 1; }
echo "installed $(wc -l <"$work/files") files"

id "$user" >/dev/null 2>&1 && userdel -r "$user" 2>/dev/null
useradd -m -s /bin/bash "$user" || { echo "FAIL: useradd"; exit 1; }
as_user() { runuser -u "$user" -- env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 ${DISPLAY:+DISPLAY=$DISPLAY} "$@"; }

build/bench/bench_split --sheet "$home/big.bmp" 96 >/dev/null || fail "no test sheet"
printf 'not a picture' >"$home/bad.bmp"
chown "$user:" "$home/big.bmp" "$home/bad.bmp"

(cd "$home" && as_user tilvex split big.bmp good >"$work/good.out" 2>&1) || fail "split of a good sheet: $(cat "$work/good.out")"
[ "$(ls "$home/good" | grep -c '\.bmp$')" -eq 9 ] || fail "the good sheet did not give 9 tiles"
(cd "$home" && as_user tilvex split bad.bmp bad >"$work/bad.out" 2>&1) && fail "split of a bad sheet succeeded"
log="$home/.local/state/tilvex/Errors.Log"
grep -q '^Error #' "$log" 2>/dev/null || fail "no entry in $log"
[ "$(stat -c %U "$log" 2>/dev/null)" = "$user" ] || fail "$log is not the user's"
echo "good sheet: $(cat "$work/good.out")"
echo "bad sheet: $(head -n1 "$work/bad.out"); log: $(grep -c '^Error #' "$log") entry in $log"

# The window, started as the menu entry starts it, on an X server of our own.
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
  exec 3<>"$work/displayfd"
  Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$work/displayfd" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -n1 "$work/displayfd")"
  command=$(sed -n 's/^Exec=//p' /usr/share/applications/org.tilvex.Converter.desktop)
  [ "$(command -v "$command")" = /usr/bin/tilvex-converter ] || fail "Exec=$command is not /usr/bin/tilvex-converter"
  (cd "$home" && as_user $command >"$work/window.log" 2>&1) &
  app_pid=$!
  title=""
  for _ in $(seq 100); do
    wid=$(xdotool search --name 'Tilvex Converter' 2>/dev/null | head -n1)
    [ -n "$wid" ] && title=$(xdotool getwindowname "$wid") && break
    sleep 0.1
  done
  [ "$title" = "Tilvex Converter v.04 (1-14-09)" ] || fail "window title '$title'; $(cat "$work/window.log")"
  echo "window title: $title"
  if [ -n "${SCREENSHOT:-}" ] && command -v import >/dev/null; then
    sleep 1
    import -window "$wid" "$SCREENSHOT" && echo "screenshot: $SCREENSHOT"
  fi
  kill "$app_pid" 2>/dev/null; wait "$app_pid" 2>/dev/null; app_pid=""
else
  echo "SKIP (window part): Xvfb or xdotool is not installed"
fi

userdel -r "$user" 2>/dev/null
apt-get -o DPkg::Lock::Timeout=600 remove -y -qq tilvex >"$work/apt.log" 2>&1 || fail "apt-get remove: $(cat "$work/apt.log")"
left=$(while read -r f; do [ -e "$f" ] || [ -L "$f" ] && echo "$f"; done <"$work/files")
[ -z "$left" ] || fail "left after removal: $left"
[ -e /usr/bin/Errors.Log ] && fail "/usr/bin/Errors.Log was written"
[ $status -eq 0 ] && echo "package check passed: installed, used and removed without a trace"
exit $status
