#!/usr/bin/env bash
# Runs examples/quickstart twice against the reference driver in a fresh
# environment root and checks what it prints each time.
#   run_quickstart.sh QUICKSTART DRIVER WORKDIR
set -euo pipefail
quickstart=$1 driver=$2 work=$3
fixtures="$(cd "$(dirname "$0")/../fixtures" && pwd)"

rm -rf "$work"
mkdir -p "$work/root/lib/user"
cp -r "$fixtures/zuv/dict" "$work/root/dict"
printf 'user_type: S\n' > "$work/root/lib/user/uexample"
echo "msqlite child $driver \${ZUV}/example.db" > "$work/root/lib/ipc_info"
echo "*::msqlite" > "$work/root/lib/tabledef1"

expected="read: SALES  Sales                1200.50
after the abort: HR     People              
insert refused: error 100 (Duplicate value): Duplicate key code = SALES in exdep010001 (index 1)
commit refused: error 520 (Error during buffered updates): the update of exdep010001 failed with error 100 (duplicate key): Duplicate key code = SALES in exdep010001 (index 1)
departments from \"A\" with a budget above 1000:
  exdep010.code=SALES exdep010.name=Sales
1 row"
# Twice in a row: the second run starts from the rows the first one left.
for run in 1 2; do
  out="$work/out$run.txt"
  if ! (cd "$work" && env -u ZUV -u F_ZRDD ZUV_USER=example "$quickstart" "$work/root") > "$out" 2> "$work/err$run.txt"; then
    cat "$out" "$work/err$run.txt"
    echo "quickstart failed (run $run)" >&2
    exit 1
  fi
  # The program logs on as the user whose settings it has: no warning.
  if grep -q 'zdb_logon' "$work/err$run.txt"; then
    cat "$work/err$run.txt" >&2
    echo "quickstart's logon warned (run $run)" >&2
    exit 1
  fi
  if [ "$(cat "$out")" != "$expected" ]; then
    echo "quickstart printed (run $run):" >&2
    cat "$out" "$work/err$run.txt" >&2
    echo "expected:" >&2
    echo "$expected" >&2
    exit 1
  fi
done
