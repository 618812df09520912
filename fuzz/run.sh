#!/usr/bin/env bash
# Builds the fuzz targets with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer and
# runs each for a while (0 seconds: replays the corpus only); fails when one finds a crash, a leak or a broken invariant.
#
#   bash fuzz/run.sh SECONDS [target...]
#
# Every fuzz/*_fuzz.cpp is a target (or only the named ones). A target names the project
# sources it needs on a line "// sources: a.cpp b.cpp", the pkg-config modules it links on a
# line "// packages: Qt6Gui ..." (Qt6Core when it has none) and may add libFuzzer flags on a
# line "// options: -max_len=N ...". Starting inputs come from fuzz/corpus/<target>/ and are copied into a
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

out=build-fuzz
mkdir -p "$out/artifacts" "$out/objects"
jobs="$(nproc)"
# ccache, where installed, keeps the objects from run to run.
compiler=(clang++)
command -v ccache >/dev/null 2>&1 && compiler=(ccache clang++)
# -fPIC: Qt is built with reduced relocations and refuses code that is not position independent.
flags=(-std=c++20 -gline-tables-only -O1 -fPIC -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)

failed=()
declare -A sources_of options_of packages_of
built=()
all_packages="Qt6Core"
for target in "${targets[@]}"; do
  target="${target%.cpp}"
  source="fuzz/$target.cpp"
  if [ ! -f "$source" ]; then
    echo "fuzz: no such target: $target" >&2
    failed+=("$target")
    continue
  fi
  sources_of[$target]="$source $(sed -n 's|^// sources:||p' "$source" | tr '\n' ' ')"
  options_of[$target]="$(sed -n 's|^// options:||p' "$source" | tr '\n' ' ')"
  packages_of[$target]="$(sed -n 's|^// packages:||p' "$source" | tr '\n' ' ')"
  all_packages="$all_packages ${packages_of[$target]}"
  built+=("$target")
done

# Every source is compiled once, on every core, for all the targets that need it.
# shellcheck disable=SC2086
read -r -a package_flags <<<"$(pkg-config --cflags $all_packages)"
object_of() { local name="${1//\//_}"; echo "$out/objects/${name%.cpp}.o"; }
# shellcheck disable=SC2086
unique_sources="$(for target in "${built[@]}"; do printf '%s\n' ${sources_of[$target]}; done | sort -u)"
echo "== fuzz: compiling $(echo "$unique_sources" | wc -l) sources"
export -f object_of
export out
printf '%s\n' $unique_sources | xargs -P "$jobs" -I{} bash -c \
  'if ! "$@" -c {} -o "$(object_of {})" 2>"$(object_of {}).err"; then cat "$(object_of {}).err" >&2; rm -f "$(object_of {})"; fi' \
  _ "${compiler[@]}" "${flags[@]}" -I. "${package_flags[@]}"

runnable=()
for target in "${built[@]}"; do
  objects=()
  # shellcheck disable=SC2086
  for source in ${sources_of[$target]}; do
    objects+=("$(object_of "$source")")
  done
  # shellcheck disable=SC2086
  read -r -a libs <<<"$(pkg-config --libs ${packages_of[$target]:-Qt6Core})"
  echo "== fuzz: linking $target"
  if ! clang++ "${flags[@]}" "${objects[@]}" "${libs[@]}" -o "$out/$target"; then
    echo "fuzz: $target does not build" >&2
    failed+=("$target")
    continue
  fi
  corpus="$out/corpus/$target"
  mkdir -p "$corpus"
  if [ -d "fuzz/corpus/$target" ]; then
    cp -n fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null || true
  fi
  runnable+=("$target")
done

# The targets run as many at once as there are cores, each for its own time.
run_one() {
  local target="$1" corpus="$out/corpus/$1" log="$out/$1.log" status=0
  read -r -a options <<<"${options_of[$target]}"
  ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}" \
    "$out/$target" "${duration[@]}" -print_final_stats=1 \
    -artifact_prefix="$out/artifacts/$target-" "${options[@]}" "$corpus" >"$log" 2>&1 || status=$?
  echo "$status" >"$out/$target.status"
}
for ((k = 0; k < ${#runnable[@]}; k += jobs)); do
  for target in "${runnable[@]:k:jobs}"; do
    echo "== fuzz: running $target for ${seconds}s (log: $out/$target.log)"
    run_one "$target" &
  done
  wait
done
for target in "${runnable[@]}"; do
  log="$out/$target.log"
  status="$(cat "$out/$target.status")"
  echo "== fuzz: $target"
  grep -E '^(#[0-9]+ +DONE|Done [0-9]+ runs|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || true
  echo "corpus: $(find "$out/corpus/$target" -type f | wc -l) files"
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
