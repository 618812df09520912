#!/usr/bin/env bash
# The Debian package as the README makes it (cpack -G DEB in the build folder, whatever prefix
# the build was configured with), unpacked without installing: its programs know they are
# installed where the package puts them, so a failure's Errors.Log goes to the user's state
# folder, never beside the program, even where the program's folder can be written (root, a
# container). Needs no root and no apt; exits 77 (skipped) where dpkg's tools are missing.
#
#   package_paths.sh BUILD_DIR
set -uo pipefail
build="$(cd "$1" && pwd)"

for tool in cpack dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d /tmp/tilvex-package-XXXXXX)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

(cd "$build" && cpack -G DEB -B "$work/cpack" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
deb=$(ls "$work"/cpack/*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { echo "FAIL: cpack made no package"; exit 1; }
dpkg-deb -x "$deb" "$work/root" || { echo "FAIL: dpkg-deb -x $deb"; exit 1; }

prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
echo "build configured for $prefix; package: $(dpkg-deb -c "$deb" | grep -o '\./[^ ]*bin/tilvex$')"
mkdir -p "$work/home"
echo "not a picture" >"$work/bad.png"
for program in $(cd "$work/root" && find . -path '*bin/tilvex' | sed 's|^\./||'); do
  folder="$work/root/$(dirname "$program")"
  [ -w "$folder" ] || fail "the unpacked program folder $folder is not writable: the check below proves nothing"
  rm -rf "$work/state"
  (cd "$work" && HOME="$work/home" XDG_STATE_HOME="$work/state" "$work/root/$program" split bad.png out >/dev/null 2>&1)
  [ -f "$work/state/tilvex/Errors.Log" ] || fail "the packaged /$program keeps no Errors.Log in \$XDG_STATE_HOME/tilvex"
  [ -e "$folder/Errors.Log" ] && fail "the packaged /$program wrote Errors.Log beside itself"
done
[ -n "${program:-}" ] || fail "the package holds no tilvex"

[ $status -eq 0 ] && echo "package paths: all checks passed"
exit $status
