#!/usr/bin/env bash
# Follows docs/first-table.md as a reader does, in an empty folder: the
# page's sh blocks run in page order, and a block whose preceding line names
# a file ("`root/dict/dmy.pd`:") is written to that file when it comes. What
# the last sh block prints must be the block after "It prints:", with
# nothing on standard error and neither error nor warning in the log. The
# page's SELECT must deliver an INTEGER item, so that its callback 7 is
# proven to decode the big-endian field bytes.
# The page's driver path is replaced by DRIVER. With PROGRAM, the page's
# build line (the one that starts with "cc ") takes PROGRAM instead: the
# page's C block built beside the library under test (tests/CMakeLists.txt).
#   run_first_table.sh PAGE DRIVER WORKDIR [PROGRAM]
set -euo pipefail
page=$1 driver=$2 work=$3 program=${4:-}

rm -rf "$work"
mkdir -p "$work/steps"
# Step NNN.sh is a command block, NNN.file a file with its path in
# NNN.path; "expected" is what the page says the program prints.
awk -v dir="$work/steps" '
  function flush() {
    if (kind == "") return
    name = sprintf("%s/%03d", dir, ++n)
    if (kind == "sh") { printf "%s", body > (name ".sh"); close(name ".sh") }
    if (kind == "file") {
      printf "%s", body > (name ".file"); close(name ".file")
      print path > (name ".path"); close(name ".path")
    }
    if (kind == "expected") { printf "%s", body > (dir "/expected"); close(dir "/expected") }
  }
  /^```/ {
    if (open) { flush(); open = 0; kind = ""; next }
    open = 1; body = ""; kind = ""
    if ($0 == "```sh") kind = "sh"
    else if (last ~ /^`[^`]+`:$/) { kind = "file"; path = substr(last, 2, length(last) - 3) }
    else if (last == "It prints:") kind = "expected"
    next
  }
  open { body = body $0 "\n"; next }
  NF { last = $0 }
' "$page"

# The page must still hold what this test follows.
for f in root/dict/dmy.pd root/dict/dmybok010 root/lib/user/ume first_table.c; do
  grep -qx "$f" "$work"/steps/*.path || { echo "$page names no block for $f" >&2; exit 1; }
done
[ -s "$work/steps/expected" ] || { echo "$page shows no output after \"It prints:\"" >&2; exit 1; }
grep -q '/where/molvane/is/bin/molvane-driver' "$work"/steps/*.sh ||
  { echo "$page no longer names the driver /where/molvane/is/bin/molvane-driver" >&2; exit 1; }
grep -q '^cc ' "$work"/steps/*.sh || { echo "$page has no build line starting with \"cc \"" >&2; exit 1; }
# The SELECT delivers an INTEGER item (the id) through callback 7, whose
# field bytes the page's callback must put together, and prints it.
c_step=$(grep -lx first_table.c "$work"/steps/*.path)
grep -q 'sql_sel_bind(stmt, "mybok010.id"' "${c_step%.path}.file" ||
  { echo "$page no longer delivers the INTEGER item mybok010.id through callback 7" >&2; exit 1; }

out="" err=""
cd "$work"
for step in $(ls steps | grep -E '^[0-9]+\.(sh|file)$' | sort); do
  case $step in
    *.file) cp "steps/$step" "$(cat "steps/${step%.file}.path")" ;;
    *.sh)
      script=$(sed -e "s|/where/molvane/is/bin/molvane-driver|$driver|g" "steps/$step")
      [ -z "$program" ] || script=$(sed -e "s|^cc .*|cp '$program' first_table|" <<<"$script")
      out="$work/${step%.sh}.out" err="$work/${step%.sh}.err"
      if ! env -u ZUV -u F_ZRDD -u ZUV_LOG -u ZUV_USER bash -euo pipefail -c "$script" > "$out" 2> "$err"; then
        echo "the commands of $page failed:" >&2
        echo "$script" >&2
        cat "$out" "$err" >&2
        exit 1
      fi
      ;;
  esac
done

status=0
if ! diff -u "$work/steps/expected" "$out" >&2; then
  echo "the program of $page printed otherwise than the page says (- the page, + the program)" >&2
  status=1
fi
if [ -s "$err" ]; then
  echo "the program of $page wrote to standard error:" >&2
  cat "$err" >&2
  status=1
fi
log=$(cat "$work"/root/log/*.log 2>/dev/null || true)
if grep -E '^[^ ]+ [^ ]+ [^ ]+ [EW] ' <<<"$log" >&2; then
  echo "the program of $page logged the errors or warnings above" >&2
  status=1
fi
exit $status
