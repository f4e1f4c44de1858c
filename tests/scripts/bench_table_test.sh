#!/usr/bin/env bash
# The table of `scripts/bench --compare` (scripts/bench-table.awk) over made-up
# Google Benchmark JSON runs: medians of odd and even counts, the ratio or
# else the real time in its unit, a change of exactly 1.5 unmarked and one
# above it marked SLOWER (exit status 3), benchmarks of one side only, a
# failed run and a run that reports an error, each with its reason.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
dir=$(mktemp -d "${TMPDIR:-/tmp}/bench-table-test.XXXXXX")
trap 'rm -rf "$dir"' EXIT

n=0
# run PROGRAM BENCHMARK SIDE REAL_TIME UNIT [RATIO]: one run's JSON file and
# its line in the list of runs. The context holds a nested object, as
# Google Benchmark's does.
run() {
  n=$((n + 1))
  local file=$dir/run$n.json ratio=""
  [ $# -ge 6 ] && ratio=$',\n      "ratio": '"$6"
  cat >"$file" <<EOF
{
  "context": {
    "caches": [
      {
        "type": "Data",
        "level": 1
      }
    ]
  },
  "benchmarks": [
    {
      "name": "$2",
      "run_type": "iteration",
      "iterations": 10,
      "real_time": $4,
      "cpu_time": 1.0e+00,
      "time_unit": "$5"$ratio
    }
  ]
}
EOF
  printf '%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "$file" >>"$dir/runs"
}

run p1 BM_Odd base 10 ns 1.0e+00
run p1 BM_Odd current 10 ns 2.9e+00
run p1 BM_Odd base 10 ns 3.0e+00
run p1 BM_Odd current 10 ns 3.1e+00
run p1 BM_Odd base 10 ns 2.0e+00
run p1 BM_Odd current 10 ns 3.0e+00
run p1 BM_Even/8 base 10 ns 1
run p1 BM_Even/8 base 10 ns 2
run p1 BM_Even/8 current 10 ns 2.4
run p1 BM_Even/8 current 10 ns 2.6
run p1 BM_Time base 2 ms
run p1 BM_Time current 1500 us
run p1 BM_HalfRatio base 4000 ns
run p1 BM_HalfRatio current 1000 ns 0.5
run p2 BM_New current 3 s 1
run p2 BM_Gone base 3 s 1
run p2 BM_Failed base 5 ns 1
printf 'p2\tBM_Failed\tcurrent\t-\n' >>"$dir/runs"
run p2 BM_Skipped current 1 ns 1
cat >"$dir/skipped.json" <<'EOF'
{
  "benchmarks": [
    {
      "name": "BM_Skipped",
      "run_type": "iteration",
      "error_occurred": true,
      "error_message": "no rows: fill the table first",
      "iterations": 0
    }
  ]
}
EOF
printf 'p2\tBM_Skipped\tbase\t%s\n' "$dir/skipped.json" >>"$dir/runs"

rc=0
awk -F '\t' -f "$root/scripts/bench-table.awk" "$dir/runs" >"$dir/out" || rc=$?
cat >"$dir/expected" <<'EOF'
benchmark                                                by             base      current   change
p1
  BM_Odd                                                 ratio             2            3    1.50x
  BM_Even/8                                              ratio           1.5          2.5    1.67x  SLOWER
  BM_Time                                                time           2 ms       1.5 ms    0.75x
  BM_HalfRatio                                           time           4 us         1 us    0.25x
p2
  BM_New                                                 ratio             -            1      new
  BM_Gone                                                ratio             1            -     gone
  BM_Failed                                              ratio             1        error         
    current: its program failed (its output is above the table)
  BM_Skipped                                             ratio         error            1         
    base: no rows: fill the table first
EOF
if ! diff -u "$dir/expected" "$dir/out"; then
  echo "the table differs from what is expected" >&2
  exit 1
fi
if [ "$rc" -ne 3 ]; then
  echo "exit status $rc where a SLOWER benchmark gives 3" >&2
  exit 1
fi
echo "table as expected"
