#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop user and a
# distribution look at: the file list, stripped programs, the desktop entry, the metainfo,
# both manual pages and the shell completion. Exits 77 (skipped) where a checker is missing.
#
#   install_tree.sh BUILD_DIR
set -uo pipefail
build="$(cd "$1" && pwd)"

for tool in desktop-file-validate appstreamcli man file; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d /tmp/tilvex-install-XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
status=0
fail() { echo "FAIL: $*"; status=1; }

cmake --install "$build" --prefix "$prefix" --strip >"$work/install.log" 2>&1 || { cat "$work/install.log"; echo "FAIL: install"; exit 1; }

id=org.tilvex.Converter
expected="bin/tilvex
bin/tilvex-converter
share/applications/$id.desktop
share/bash-completion/completions/tilvex
share/doc/tilvex/README.md
share/doc/tilvex/changelog.gz
share/doc/tilvex/copyright"
for size in 16 22 24 32 48 64 128 256; do
  expected+=$'\n'"share/icons/hicolor/${size}x${size}/apps/$id.png"
done
expected+="
share/icons/hicolor/scalable/apps/$id.svg
share/man/man1/tilvex-converter.1.gz
share/man/man1/tilvex.1.gz"
# Every command the main help lists (but help) has its page.
commands=$(env -u DISPLAY "$build/tilvex" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z]\+\) .*/\1/p' | grep -vx help | sort -u)
[ -n "$commands" ] || fail "tilvex --help lists no command"
for command in $commands; do
  expected+=$'\n'"share/man/man1/tilvex-$command.1.gz"
done
expected+="
share/metainfo/$id.metainfo.xml"
actual=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
expected=$(LC_ALL=C sort <<<"$expected")
[ "$actual" = "$expected" ] || fail "installed files differ:"$'\n'"$(diff <(echo "$expected") <(echo "$actual"))"

for program in tilvex tilvex-converter; do
  file -L "$prefix/bin/$program" | grep -q ', stripped' || fail "$program is not stripped"
done

desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"

# Rendered as a reader sees them, with every groff warning on.
for page in tilvex tilvex-converter $(printf 'tilvex-%s ' $commands); do
  rendered=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -l "$prefix/share/man/man1/$page.1.gz" 2>"$work/man.err")
  [ -s "$work/man.err" ] && fail "man -l $page.1 warns: $(cat "$work/man.err")"
  grep -q "^NAME" <<<"$rendered" || fail "$page.1 has no NAME section"
  # True to --help: every option the program (or the command) lists is in its page, and
  # a command's page names no option its help does not.
  case $page in
    tilvex|tilvex-converter) help_of=("$prefix/bin/$page" --help) ;;
    *) help_of=("$prefix/bin/tilvex" "${page#tilvex-}" --help) ;;
  esac
  help_options=$(env -u DISPLAY -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY "${help_of[@]}" | grep -o -- '--[a-z-]\+[a-z]' | sort -u)
  for option in $help_options; do
    grep -q -- "$option" <<<"$rendered" || fail "$page.1 lacks $option"
  done
  if [[ $page == tilvex-* && $page != tilvex-converter ]]; then
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS EXAMPLES "EXIT STATUS"; do
      grep -q "^$section" <<<"$rendered" || fail "$page.1 has no $section section"
    done
    page_options=$(grep -o -- '--[a-z-]\+[a-z]' <<<"$rendered" | sort -u)
    [ "$page_options" = "$help_options" ] || fail "$page.1 and its help name other options: $(diff <(echo "$help_options") <(echo "$page_options") | grep '^[<>]' | tr '\n' ' ')"
    # Every example of the page runs as the help gives it (usage checked only: no files here).
    grep -q "tilvex ${page#tilvex-}" <<<"$rendered" || fail "$page.1 shows no example of its command"
  fi
done

# What the completion offers, for a command line typed up to the cursor.
mkdir -p "$work/cwd/tiles" && touch "$work/cwd/big.bmp" "$work/cwd/notes.txt" "$work/cwd/level.tmx" "$work/cwd/sheet.png" "$work/cwd/level.json"
complete_line() {
  (cd "$work/cwd" && bash -c '
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(( $# - 1 ))
    _tilvex; [ ${#COMPREPLY[@]} -gt 0 ] && printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort | tr "\n" " "' _ \
    "$prefix/share/bash-completion/completions/tilvex" "$@")
}
check_completion() {  # expected, then the words
  local want=$1; shift
  local got; got=$(complete_line "$@")
  [ "$got" = "$want" ] || fail "completion of '$*': '$got', expected '$want'"
}
check_completion "autotile compile export extrude help info optimize split " tilvex ""
check_completion "--help --version " tilvex "--"
check_completion "compile " tilvex help co
check_completion "big.bmp sheet.png tiles " tilvex split ""
check_completion "tiles " tilvex split big.bmp ""
check_completion "" tilvex split big.bmp out --start ""
# Every option of each command's help, and no other.
for command in $commands; do
  help_options=$("$build/tilvex" "$command" --help | grep -o -- '--[a-z-]\+[a-z]' | sort -u | tr '\n' ' ')
  check_completion "$help_options" tilvex "$command" "--"
done
check_completion "big.bmp sheet.png tiles " tilvex extrude ""
check_completion "bmp png " tilvex split big.bmp out --format ""
check_completion "level.json level.tmx tiles " tilvex split big.bmp out --unique --map ""
check_completion "big.bmp sheet.png tiles " tilvex compile --map level.tmx ""
check_completion "tiles " tilvex compile --start 3 ""
check_completion "big.bmp level.json level.tmx notes.txt sheet.png tiles " tilvex info big.bmp ""
check_completion "level.json level.tmx tiles " tilvex optimize ""
check_completion "tiles " tilvex optimize level.tmx --out ""
check_completion "big.bmp sheet.png tiles " tilvex autotile ""
check_completion "a2 quarters " tilvex autotile sheet.png --layout ""

# Installed where it was built to go (staged under DESTDIR, as a package is made), the program
# writes nothing beside itself even where it may (root, a container): its log goes to the
# state folder.
bindir=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")/bin
DESTDIR="$work/stage" cmake --install "$build" >"$work/stage.log" 2>&1 || { cat "$work/stage.log"; fail "install under DESTDIR"; }
staged="$work/stage$bindir"
mkdir -p "$work/home"
echo "not a picture" >"$work/bad.png"
[ -w "$staged" ] || fail "the staged program folder $staged is not writable: the check below proves nothing"
(cd "$work" && HOME="$work/home" XDG_STATE_HOME="$work/state" "$staged/tilvex" split bad.png out >/dev/null 2>&1)
[ -f "$work/state/tilvex/Errors.Log" ] || fail "an installed tilvex (run as $(id -un)) keeps no Errors.Log in \$XDG_STATE_HOME/tilvex"
[ -e "$staged/Errors.Log" ] && fail "an installed tilvex wrote $staged/Errors.Log beside itself"
(cd "$work" && env -u XDG_STATE_HOME HOME="$work/home" "$staged/tilvex" split bad.png out >/dev/null 2>&1)
[ -f "$work/home/.local/state/tilvex/Errors.Log" ] || fail "without XDG_STATE_HOME the log is not in ~/.local/state/tilvex"

[ $status -eq 0 ] && echo "install tree: $(wc -l <<<"$actual") files, all checks passed"
exit $status
