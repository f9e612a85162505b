#!/usr/bin/env bash
# Runs one batch through Quorlane's window the way a user would, with the sample site:
#   batch.sh PROGRAM_FOLDER DRIVER_EXE OUTPUT_FOLDER SITE_URL
# SITE_URL is where demo/serve.py serves the sample site. PROGRAM_FOLDER holds quorlane.exe and
# the engine (wke.dll); DRIVER_EXE is qldriver.exe. Wine's prefix and display come from the
# environment (WINEPREFIX, DISPLAY). The stored snapshots end up
# in OUTPUT_FOLDER; OUTPUT_FOLDER/batch/ gets the list file, the window mid-batch (window.bmp) and
# the status texts seen (status.txt) and what the program and its browser printed
# (program-output.log).
set -euo pipefail
program=$(cd "$1" && pwd)
driver=$2
out=$(mkdir -p "$3" && cd "$3" && pwd)
work=$out/batch
site=$4
mkdir -p "$work"
WINE=/usr/lib/wine/wine64

winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
qld() { "$WINE" "$driver" --timeout "${QLD_TIMEOUT:-60}" "$@"; }

program_pid=""
cleanup() {
  [ -n "$program_pid" ] && qld --pid "$program_pid" close >/dev/null 2>&1 || true
}
trap cleanup EXIT

# The list: a Chinese title, a blank line, a line with spaces around it, a tall page, an address
# nobody answers, and a page that never finishes loading.
printf '%s\r\n' "$site/index.html" "" "   $site/plain.html   " "$site/tall.html" \
  "http://127.0.0.1:9/" "$site/slow.html" > "$work/list.txt"

echo "starting Quorlane from $program"
# The program inherits the driver's output: files, so that nothing waits for them to close and
# nothing the program or its browser prints reaches the user's terminal.
if ! qld start "$(winpath "$program")" > "$work/pid" 2> "$work/program-output.log"; then
  cat "$work/program-output.log" >&2
  exit 1
fi
program_pid=$(tr -d '\r\n' < "$work/pid")
qld --pid "$program_pid" wait-window >/dev/null

# Controls are named by what a user sees: their texts, or their order (Static#0 is the status
# line, Edit#0 the save folder).
# Import the list through the open-file dialog, as a user would.
qld --pid "$program_pid" click 导入文本
qld --pid "$program_pid" --caption 导入网址列表 set-text 'Edit#0' "$(winpath "$work/list.txt")"
qld --pid "$program_pid" --caption 导入网址列表 key 'Edit#0' enter
qld --pid "$program_pid" wait-box 文件导入完成！ >/dev/null
qld --pid "$program_pid" ok-box

# The save folder, typed into its box; the title joins the name.
qld --pid "$program_pid" set-text 'Edit#0' "$(winpath "$out")\\"
qld --pid "$program_pid" tick 网页标题

qld --pid "$program_pid" click 开始任务
last=""
shot_taken=0
: > "$work/status.txt"
for _ in $(seq 600); do
  status=$(qld --pid "$program_pid" read Static#0 2>/dev/null || true)
  if [ "$status" != "$last" ]; then
    echo "  $status"
    echo "$status" >> "$work/status.txt"
    last=$status
  fi
  case "$status" in
    *"第 4 条"*)
      if [ $shot_taken -eq 0 ]; then
        sleep 1
        qld --pid "$program_pid" shot "$(winpath "$work/window.bmp")" && shot_taken=1
      fi
      ;;
    *完成！*) break ;;
  esac
  sleep 0.5
done
qld --pid "$program_pid" wait-box 完成！ >/dev/null
qld --pid "$program_pid" ok-box
code=$(qld --pid "$program_pid" close)
program_pid=""
echo "Quorlane closed (exit code $code)"
[ "$code" = 0 ]
