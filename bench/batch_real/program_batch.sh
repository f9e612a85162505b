#!/usr/bin/env bash
# One batch through Quorlane's window, inside the test rig, as a user would run it:
#   program_batch.sh PROGRAM_FOLDER DRIVER_EXE LIST_FILE OUTPUT_FOLDER
# The list is pasted into the address box, the save folder typed, only the sequence number kept
# in the names (N.jpg), 开始任务 pressed and 完成！ waited for. OUTPUT_FOLDER/batch/started holds
# the moment of the press (seconds since the epoch), status.txt the status texts seen with their
# moments; the stored files' own times tell when each page was done.
set -euo pipefail
program=$(cd "$1" && pwd)
driver=$2
list=$3
out=$(mkdir -p "$4" && cd "$4" && pwd)
work=$out/batch
mkdir -p "$work"
WINE=/usr/lib/wine/wine64

winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
qld() { "$WINE" "$driver" --timeout "${QLD_TIMEOUT:-60}" "$@"; }

program_pid=""
cleanup() {
  [ -n "$program_pid" ] && qld --pid "$program_pid" close >/dev/null 2>&1 || true
}
trap cleanup EXIT

qld start "$(winpath "$program")" > "$work/pid"
program_pid=$(tr -d '\r\n' < "$work/pid")
qld --pid "$program_pid" wait-window >/dev/null

# Edit#0 is the save folder, Edit#1 the address list.
qld --pid "$program_pid" set-text-file 'Edit#1' "$(winpath "$list")"
qld --pid "$program_pid" set-text 'Edit#0' "$(winpath "$out")\\"
qld --pid "$program_pid" tick 序号
qld --pid "$program_pid" untick 'MD5 Hash'
qld --pid "$program_pid" untick 网页标题
qld --pid "$program_pid" untick 截图时间

date +%s.%N > "$work/started"
qld --pid "$program_pid" click 开始任务
: > "$work/status.txt"
last=""
limit=$((SECONDS + ${BATCH_REAL_PROGRAM_LIMIT:-7200}))  # only against a hang
# Looked at every few seconds only, so that the watching costs the batch little.
until QLD_TIMEOUT=5 qld --pid "$program_pid" wait-box 完成！ >/dev/null 2>&1; do
  if [ "$SECONDS" -ge "$limit" ]; then
    echo "the batch did not finish in ${BATCH_REAL_PROGRAM_LIMIT:-7200} s" >&2
    exit 1
  fi
  status=$(qld --pid "$program_pid" read Static#0 2>/dev/null || true)
  if [ "$status" != "$last" ]; then
    echo "$(date +%s.%N) $status" >> "$work/status.txt"
    echo "  $status" >&2
    last=$status
  fi
done
date +%s.%N > "$work/finished"
qld --pid "$program_pid" ok-box
code=$(qld --pid "$program_pid" close)
program_pid=""
[ "$code" = 0 ]
