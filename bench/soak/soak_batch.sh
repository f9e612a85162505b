#!/usr/bin/env bash
# The soak's batch, run inside the test rig by bench/soak/run: soak_batch.sh WORK COUNT.
# WORK holds program/ (quorlane.exe, wke.dll), qldriver.exe and list.txt; snapshots go to
# WORK/shots and are checked (a BMP header) and removed as they come, so the disk stays free.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$1
count=$2
WINE=/usr/lib/wine/wine64
period=10

winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
qld() { "$WINE" "$work/qldriver.exe" --timeout 60 "$@"; }

pid=""
finish() { [ -n "$pid" ] && qld --pid "$pid" close >/dev/null 2>&1; }
trap finish EXIT

# The program (and the browser it starts) inherits the driver's output: files, so that nothing
# waits for them to close.
qld start "$(winpath "$work/program")" > "$work/pid" 2> "$work/program-output.txt"
pid=$(tr -d '\r\n' < "$work/pid")
qld --pid "$pid" wait-window >/dev/null || { echo "soak: no main window" >&2; exit 1; }
# Edit#0 is the save folder, Edit#1 the address list.
qld --pid "$pid" set-text-file Edit#1 "$(winpath "$work/list.txt")"
qld --pid "$pid" set-text Edit#0 "$(winpath "$work/shots")\\"
qld --pid "$pid" tick 序号 && qld --pid "$pid" untick "MD5 Hash" && qld --pid "$pid" untick 网页标题 &&
  qld --pid "$pid" untick 截图时间

stored=0
bad=0
collect() {
  local f
  for f in "$work"/shots/*.jpg; do
    [ -e "$f" ] || continue
    case ${f##*/} in Temp.jpg) continue ;; esac
    [ "$(head -c 2 "$f")" = BM ] || bad=$((bad + 1))
    stored=$((stored + 1))
    rm -f "$f"
  done
}

samples=$work/samples.tsv
: > "$samples"
# The program: working set and handle count (as Windows counts them), its Wine process' RSS and
# open descriptors; the browser: processes, their summed RSS and PSS, open descriptors.
printf '%6s %5s | %8s %7s %8s %5s | %5s %9s %9s %6s | %6s\n' \
  t/s item ws/MiB handles wine/MiB fds procs rss/MiB pss/MiB fds stored
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
value() { printf '%s\n' "$1" | tr ' ' '\n' | sed -n "s/^$2=//p"; }

qld --pid "$pid" click 开始任务 >/dev/null
start=$(date +%s)
done_at=""
failures=0
for ((k = 0; ; k++)); do
  status=$(qld --pid "$pid" read Static#0 2>/dev/null | tr -d '\r')
  stats=$(qld --pid "$pid" stats 2>/dev/null | tr -d '\r')
  linux=$(python3 "$here/proc_stats.py" "$QUORLANE_RIG_DIR" "${work##*/}")
  collect
  now=$(($(date +%s) - start))
  if [ -z "$stats" ]; then
    failures=$((failures + 1))
    [ $failures -ge 3 ] && { echo "soak: the program does not answer (status: $status)" >&2; exit 1; }
  else
    failures=0
    item=$(printf '%s' "$status" | sed -n 's/.*第 \([0-9]*\) 条.*/\1/p')
    case "$status" in *完成*) item=$count ;; esac
    line=$(printf '%6d %5s | %8s %7s %8s %5s | %5s %9s %9s %6s | %6d' "$now" "${item:-?}" \
      "$(mib "$(value "$stats" workingSetKiB)")" "$(value "$stats" handles)" \
      "$(mib "$(value "$linux" wine_rss_kib)")" "$(value "$linux" wine_fds)" "$(value "$linux" browser_procs)" \
      "$(mib "$(value "$linux" browser_rss_kib)")" "$(mib "$(value "$linux" browser_pss_kib)")" \
      "$(value "$linux" browser_fds)" "$stored")
    echo "$line"
    echo "$line" >> "$samples"
  fi
  case "$status" in *完成*) done_at=$now; break ;; esac
  sleep $((period - ($(date +%s) - start) % period))
done

qld --pid "$pid" wait-box 完成！ >/dev/null && qld --pid "$pid" ok-box
code=$(qld --pid "$pid" close | tr -d '\r\n')
pid=""
collect

# The first warm sample: the browser up and ten pages reached (in a shorter run, the first with
# the browser up).
first=$(awk '$2 ~ /^[0-9]+$/ && $2 >= 10 && $9 > 0 { print; exit }' "$samples")
[ -n "$first" ] || first=$(awk '$9 > 0 { print; exit }' "$samples")
last=$(tail -n 1 "$samples")
echo
echo "first (warm): $first"
echo "last:         $last"
awk -v a="$first" -v b="$last" 'BEGIN {
  n = split("ws/MiB handles wine/MiB wine-fds procs rss/MiB pss/MiB browser-fds", names, " ")
  split(a, x); split(b, y)
  # the figures after t and item, skipping the "|" separators
  split("4 5 6 7 9 10 11 12", col, " ")
  line = "last/first:  "
  for (i = 1; i <= n; i++) {
    f = x[col[i]] + 0; l = y[col[i]] + 0
    line = line sprintf("%s %s  ", names[i], f > 0 ? sprintf("%.2f", l / f) : "-")
  }
  print line
}'
echo "$count addresses in ${done_at:-?} s ($(awk -v n="$count" -v t="${done_at:-0}" 'BEGIN { if (t > 0) printf "%.1f", n * 60 / t; else print "?" }') a minute); stored $stored, not a BMP $bad; exit code ${code:-?}"
[ "$code" = 0 ] && [ "$stored" -eq "$count" ] && [ "$bad" -eq 0 ]
