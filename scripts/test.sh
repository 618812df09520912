#!/usr/bin/env bash
# Sets up, builds (plain and with AddressSanitizer + UndefinedBehaviorSanitizer) and runs
# every test headless.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
jobs="$(nproc)"

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel "$jobs"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTILVEX_SANITIZE=ON >/dev/null
cmake --build build-asan --parallel "$jobs"

echo "== tests (plain build)"
ctest --test-dir build --output-on-failure --parallel "$jobs" --timeout 300
echo "== tests (sanitizer build)"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure --parallel "$jobs" --timeout 600

if [ -x fuzz/run.sh ] || [ -f fuzz/run.sh ]; then
  echo "== fuzzing (bounded)"
  bash fuzz/run.sh 30
fi
