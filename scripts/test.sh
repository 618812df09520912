#!/usr/bin/env bash
# Sets up, builds (plain, with AddressSanitizer + UndefinedBehaviorSanitizer, and with
# ThreadSanitizer for the code that runs on every core) and runs every test headless.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
jobs="$(nproc)"
# ccache, where installed: a later run on the same machine compiles only what changed.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  # Paths inside the clone hashed relative to it: another clone's builds are hits too.
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
  # The precompiled headers are hashed whole; without this ccache compiles every file using one.
  export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
fi

# Line tables are all the sanitizers' stack traces need; full debug information made each
# object four times the size and cost about a quarter of every compile and most of each link.
lines=(-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_DEBUG="-g1")
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "${lines[@]}" "${launcher[@]}" >/dev/null
cmake --build build --parallel "$jobs"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTILVEX_SANITIZE=ON "${lines[@]}" "${launcher[@]}" >/dev/null
cmake --build build-asan --parallel "$jobs"
# Only what runs on several threads: the thread toolbox, the picture, surface and tile layers
# and the batch program.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTILVEX_TSAN=ON "${lines[@]}" "${launcher[@]}" >/dev/null
cmake --build build-tsan --parallel "$jobs" --target runtime_tests imaging_tests surfaces_tests sheets_tests \
  tiled_tests maps_tests tilvex

echo "== tests (plain build)"
ctest --test-dir build --output-on-failure --parallel "$jobs" --timeout 300
echo "== tests (sanitizer build)"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure --parallel "$jobs" --timeout 600
echo "== tests (thread sanitizer build)"
# Tests that start Pillow (its files read back) leave the sanitizer blind to the locks the
# process takes after Qt started the child, so it reports races of well-locked code; they run
# in the other two builds, not here.
TSAN_OPTIONS="halt_on_error=1 exitcode=66 die_after_fork=0 suppressions=$PWD/tests/tsan/qt.supp" \
  bash -c 'for t in runtime imaging surfaces sheets tiled maps; do build-tsan/tests/${t}_tests --gtest_filter="-*Pillow*" || exit; done'
bash tests/tsan/parallel.sh build-tsan

if [ -x fuzz/run.sh ] || [ -f fuzz/run.sh ]; then
  echo "== fuzzing (bounded)"
  bash fuzz/run.sh 30
fi
