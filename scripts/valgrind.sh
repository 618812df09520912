#!/usr/bin/env bash
# Runs every test program of build/ once under valgrind memcheck (slow; not part of the test
# command). Fails on any memory error or definite leak.
#
#   bash scripts/valgrind.sh
set -uo pipefail
cd "$(dirname "$0")/.."
command -v valgrind >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq valgrind >/dev/null
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null && cmake --build build --parallel "$(nproc)" >/dev/null || exit 1

export QT_QPA_PLATFORM=offscreen
# The regular expression JIT reads whole vectors past a string's end on purpose; memcheck
# cannot tell that from a fault.
export QT_ENABLE_REGEXP_JIT=0
mkdir -p build/valgrind
status=0
start=$(date +%s)
for program in build/tests/*_tests; do
  name=$(basename "$program")
  began=$(date +%s)
  valgrind --tool=memcheck --error-exitcode=9 --leak-check=full --errors-for-leak-kinds=definite \
    --track-origins=yes --suppressions=scripts/valgrind.supp "$program" >"build/valgrind/$name.log" 2>&1
  rc=$?
  echo "$name: exit $rc, $(( $(date +%s) - began )) s, $(grep -o 'ERROR SUMMARY: [0-9]* errors' "build/valgrind/$name.log" | tail -n1)"
  [ "$rc" -eq 0 ] || status=1
done
echo "valgrind: $(( $(date +%s) - start )) s in all (logs in build/valgrind/)"
exit "$status"
