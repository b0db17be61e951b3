#!/usr/bin/env bash
# Takes the demo screenshots in docs/ (main window after a run, parameter window, report window)
# by driving scripts/demo with xdotool on a virtual display:
#
#   xvfb-run -a -s '-screen 0 1280x800x24' demo/screenshots.sh
#
# Needs xdotool and ImageMagick's import beyond what scripts/setup installs. Positions are those of
# the windows' design geometry on a display without a window manager.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/docs"
mkdir -p "$out"

"$root/scripts/demo" >"${TMPDIR:-/tmp}/vireo-demo-screenshots.log" 2>&1 &
demo=$!
trap 'kill "$demo" 2>/dev/null || true; wait "$demo" 2>/dev/null || true' EXIT

# The id of the visible window titled exactly $1, waiting up to $2 seconds.
window() {
  local id
  for _ in $(seq 1 $(( $2 * 4 ))); do
    for id in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
      echo "$id"; return 0
    done
    sleep 0.25
  done
  echo "screenshots: no window \"$1\"" >&2
  exit 1
}
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; sleep 0.4; }
dclick() { xdotool mousemove --window "$1" "$2" "$3" click --repeat 2 --delay 80 1; sleep 0.5; }

# Accept the filled-in login dialog (again, should the dialog still be coming up).
window 登录 600 >/dev/null
main=""
for _ in $(seq 1 20); do
  sleep 1
  for id in $(xdotool search --onlyvisible --name '^登录$' 2>/dev/null); do
    xdotool key --window "$id" Return 2>/dev/null || true
  done
  main=$(xdotool search --onlyvisible --name '^Vireo数据体检工具$' 2>/dev/null | head -n 1) || true
  [ -n "$main" ] && break
done
main=$(window Vireo数据体检工具 30)
sleep 1

# Groups with ticked items open on load; open the last one too, tick everything and run.
click "$main" 75 72
xdotool key End; sleep 0.2; xdotool key Right; sleep 0.2; xdotool key Home; sleep 0.2
click "$main" 36 42
click "$main" 250 42

# The stored-procedure item's parameters: a start date and a minimum amount.
params=$(window 参数设置 60)
sleep 0.5
dclick "$params" 287 63; sleep 1
xdotool type --delay 150 "20240101"; xdotool key Return; sleep 0.4
dclick "$params" 287 113
xdotool key ctrl+a; xdotool type --delay 100 "50000"; xdotool key Return; sleep 0.4
click "$params" 287 88
import -window "$params" "$out/demo-parameters.png"
click "$params" 262 277

sleep 1
import -window "$main" "$out/demo-main.png"

# The findings of the first item.
dclick "$main" 390 92
report=$(window 结果报告 30)
sleep 1
import -window "$report" "$out/demo-report.png"
echo "screenshots: $out/demo-main.png $out/demo-parameters.png $out/demo-report.png"
