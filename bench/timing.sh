# Shell functions of the timed benchmarks, sourced by them.

# Seconds of one command, output dropped; the file system first settles what the last
# command freed.
seconds() {
  local start end
  sleep 0.3
  start=$(date +%s%N)
  # A run that fails has no time: "nan" carries through the medians and ratios.
  if ! "$@" >/dev/null; then
    echo "failed: $*" >&2
    echo nan
    return 0
  fi
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.4f\n", ns / 1e9 }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1 | awk '{ printf "%d", $1 / 1024 }'; }
