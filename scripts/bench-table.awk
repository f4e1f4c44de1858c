# The table of `scripts/bench --compare`: reads its list of runs (program,
# benchmark, side "base" or "current", the run's Google Benchmark JSON output
# or "-" when the run failed; tab-separated) and prints, program by program,
# every benchmark's median `ratio` counter on each side (its median real time
# when a side reports no ratio) and the change, current over base. A change
# above 1.5 is marked SLOWER, and the exit status is then 3. A side shown as
# "error" is followed by a line with its reason: the benchmark's own error
# message, or that its program failed. Plain POSIX awk.

# The first iteration record of the JSON file `path`: sets got_name,
# got_ratio ("" when none), got_time (nanoseconds), got_error and
# got_message (the error's text).
function read_run(path,    line, inside, done, key, value, unit, t) {
  got_name = ""; got_ratio = ""; got_time = ""; got_error = 0; got_message = ""
  inside = 0; done = 0; unit = "ns"; t = ""
  while (!done && (getline line < path) > 0) {
    if (!inside) {
      if (line ~ /"benchmarks": *\[/) inside = 1
      continue
    }
    if (line ~ /^ *}/) {
      if (got_name != "") done = 1
      continue
    }
    if (line !~ /^ *"[^"]*": /) continue
    key = line
    sub(/^ *"/, "", key); sub(/".*/, "", key)
    value = line
    sub(/^ *"[^"]*": */, "", value); sub(/,$/, "", value); gsub(/"/, "", value)
    if (key == "name") got_name = value
    else if (key == "run_type" && value != "iteration") got_name = ""
    else if (key == "error_occurred" && value == "true") got_error = 1
    else if (key == "error_message") got_message = value
    else if (key == "real_time") t = value + 0
    else if (key == "time_unit") unit = value
    else if (key == "ratio") got_ratio = value + 0
  }
  close(path)
  if (t != "") {
    if (unit == "us") t *= 1e3
    else if (unit == "ms") t *= 1e6
    else if (unit == "s") t *= 1e9
    got_time = t
  }
  return got_name != "" && !got_error
}

# The median of the `n` values in list[1..n] (sorted in place).
function median(list, n,    i, j, v) {
  for (i = 2; i <= n; i++) {
    v = list[i]
    for (j = i - 1; j >= 1 && list[j] > v; j--) list[j + 1] = list[j]
    list[j + 1] = v
  }
  if (n % 2) return list[(n + 1) / 2]
  return (list[n / 2] + list[n / 2 + 1]) / 2
}

function show_time(ns) {
  if (ns >= 1e9) return sprintf("%.3g s", ns / 1e9)
  if (ns >= 1e6) return sprintf("%.3g ms", ns / 1e6)
  if (ns >= 1e3) return sprintf("%.3g us", ns / 1e3)
  return sprintf("%.3g ns", ns)
}

# The median of side `side` of benchmark `k` by measure `m`, shown; sets
# shown_value to the number ("" when the side has no good run).
function side_value(k, side, m,    i, n, list) {
  shown_value = ""
  if (!((k, side) in runs)) return "-"
  if (errors[k, side]) return "error"
  n = runs[k, side]
  for (i = 1; i <= n; i++) list[i] = (m == "ratio") ? ratio[k, side, i] : nanos[k, side, i]
  shown_value = median(list, n)
  return (m == "ratio") ? sprintf("%.4g", shown_value) : show_time(shown_value)
}

{
  k = $1 SUBSEP $2
  if (!(k in seen)) {
    seen[k] = 1
    order[++keys] = k
    program[k] = $1
    bench[k] = $2
  }
  side = $3
  if ($4 == "-" || !read_run($4)) {
    errors[k, side] = 1
    if ($4 == "-") why[k, side] = "its program failed (its output is above the table)"
    else if (got_message != "") why[k, side] = got_message
    else if (got_name == "") why[k, side] = "no result in its output"
    runs[k, side] += 0
    next
  }
  n = ++runs[k, side]
  nanos[k, side, n] = got_time
  if (got_ratio == "") noratio[k, side] = 1
  else ratio[k, side, n] = got_ratio
}

END {
  slower = 0
  last = ""
  printf "%-56s %-6s %12s %12s %8s\n", "benchmark", "by", "base", "current", "change"
  for (i = 1; i <= keys; i++) {
    k = order[i]
    if (program[k] != last) {
      last = program[k]
      print last
    }
    m = "ratio"
    if ((k, "base") in noratio || (k, "current") in noratio) m = "time"
    b = side_value(k, "base", m); bv = shown_value
    c = side_value(k, "current", m); cv = shown_value
    change = ""; mark = ""
    if (bv != "" && cv != "" && bv > 0) {
      change = sprintf("%.2fx", cv / bv)
      if (cv / bv > 1.5) { mark = "  SLOWER"; slower = 1 }
    } else if (!((k, "base") in runs)) change = "new"
    else if (!((k, "current") in runs)) change = "gone"
    printf "  %-54s %-6s %12s %12s %8s%s\n", bench[k], m, b, c, change, mark
    if ((k, "base") in why) printf "    base: %s\n", why[k, "base"]
    if ((k, "current") in why) printf "    current: %s\n", why[k, "current"]
  }
  exit slower ? 3 : 0
}
