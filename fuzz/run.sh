#!/usr/bin/env bash
# Builds the fuzz targets with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer and
# runs each for a while (0 seconds: replays the corpus only); fails when one finds a crash, a leak or a broken invariant.
#
#   bash fuzz/run.sh SECONDS [target...]
#
# Every fuzz/*_fuzz.cpp is a target (or only the named ones). A target names the project
# sources it needs on a line "// sources: a.cpp b.cpp" and may add libFuzzer flags on a line
# "// options: -max_len=N ...". Starting inputs come from fuzz/corpus/<target>/ and are copied into a
# working corpus under build-fuzz/, which grows from run to run.
set -euo pipefail

if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]]; then
  echo "usage: bash fuzz/run.sh SECONDS [target...]" >&2
  exit 2
fi
seconds="$1"
shift

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: clang++ not found, fuzzing skipped"
  exit 0
fi
cd "$(dirname "$0")/.."

# 0 seconds only replays the corpus; libFuzzer itself would take 0 as "no time limit".
if [ "$seconds" -eq 0 ]; then
  duration=(-runs=0)
else
  duration=(-max_total_time="$seconds")
fi

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for source in fuzz/*_fuzz.cpp; do
    [ -e "$source" ] && targets+=("$(basename "$source" .cpp)")
  done
fi
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no targets"
  exit 0
fi

qt_cflags="$(pkg-config --cflags Qt6Core)"
qt_libs="$(pkg-config --libs Qt6Core)"
out=build-fuzz
mkdir -p "$out/artifacts"

failed=()
for target in "${targets[@]}"; do
  target="${target%.cpp}"
  source="fuzz/$target.cpp"
  if [ ! -f "$source" ]; then
    echo "fuzz: no such target: $target" >&2
    failed+=("$target")
    continue
  fi
  read -r -a extra_sources <<<"$(sed -n 's|^// sources:||p' "$source" | tr '\n' ' ')"
  read -r -a options <<<"$(sed -n 's|^// options:||p' "$source" | tr '\n' ' ')"
  # A target may name pkg-config packages beyond Qt Core on a line "// packages: a b".
  packages="$(sed -n 's|^// packages:||p' "$source" | tr '\n' ' ')"
  package_cflags=""
  package_libs=""
  if [ -n "${packages// /}" ]; then
    # shellcheck disable=SC2086
    package_cflags="$(pkg-config --cflags $packages)"
    # shellcheck disable=SC2086
    package_libs="$(pkg-config --libs $packages)"
  fi

  echo "== fuzz: building $target"
  # -fPIC: Qt is built with reduced relocations and refuses code that is not position independent.
  # shellcheck disable=SC2086
  if ! clang++ -std=c++20 -g -O1 -fPIC -fno-omit-frame-pointer \
      -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
      -I. $qt_cflags $package_cflags "$source" "${extra_sources[@]}" $qt_libs $package_libs -o "$out/$target"; then
    echo "fuzz: $target does not build" >&2
    failed+=("$target")
    continue
  fi

  corpus="$out/corpus/$target"
  mkdir -p "$corpus"
  if [ -d "fuzz/corpus/$target" ]; then
    cp -n fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null || true
  fi

  log="$out/$target.log"
  echo "== fuzz: running $target for ${seconds}s (log: $log)"
  status=0
  ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}" \
    "$out/$target" "${duration[@]}" -print_final_stats=1 \
    -artifact_prefix="$out/artifacts/$target-" "${options[@]}" "$corpus" >"$log" 2>&1 || status=$?
  grep -E '^(#[0-9]+ +DONE|Done [0-9]+ runs|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || true
  echo "corpus: $(find "$corpus" -type f | wc -l) files"
  if [ "$status" -ne 0 ]; then
    echo "fuzz: $target FAILED (exit $status); the end of its log:" >&2
    tail -n 40 "$log" >&2
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: all targets passed"
