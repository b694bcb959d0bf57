#!/usr/bin/env bash
# Real drag and drop under a private X server: files dragged from a stand-in file manager
# (which asks for a move) land in the In tray as a copy; results dragged out of the Out
# tray reach a stand-in mail program as exactly the selected files, in tray order, copy only.
#   tests/gui/check_drag_and_drop.sh [BUILD_DIR]      (needs Xvfb, xdotool, ImageMagick)
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
imbrix="$build/app/imbrix"
target="$build/tests/gui/drop_target"
for tool in Xvfb xdotool convert; do
  command -v "$tool" >/dev/null || { echo "missing $tool"; exit 2; }
done

work="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# A private X server on a free display.
exec 3<> "$work/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"

# Settings in a private home: results as bitmaps in $work/out, full size.
mkdir -p "$work/home/.config/mrl" "$work/out" "$work/src"
printf '[General]\nWorkDir=%s/out/\nOutputType=1\nScale=FullSize\n' "$work" >"$work/home/.config/mrl/Imbrix.conf"
for n in one two three; do convert -size 120x90 "plasma:" -type TrueColor "BMP3:$work/src/$n.bmp"; done

HOME="$work/home" XDG_RUNTIME_DIR="$work" "$imbrix" >"$work/imbrix.log" 2>&1 &
pids+=($!)
"$target" 700 100 300 200 >"$work/dropped.txt" 2>"$work/target.log" &
pids+=($!)
sleep 2

# Drag the three sources from the stand-in file manager into the In tray.
"$target" --drag 700 450 300 200 "$work/src/one.bmp" "$work/src/two.bmp" "$work/src/three.bmp" >"$work/dragged.txt" 2>&1 &
pids+=($!)
sleep 1.5
xdotool mousemove 850 550 mousedown 1
sleep 0.2
for p in "860 555" "880 560" "700 400" "300 250" "120 160"; do xdotool mousemove $p; sleep 0.15; done
xdotool mousemove 118 150; sleep 0.4
xdotool mouseup 1
for _ in $(seq 50); do [ "$(ls "$work/out" | wc -l)" -eq 3 ] && break; sleep 0.2; done
echo "--- drag source reports:"; cat "$work/dragged.txt"
grep -q "drag result: copy" "$work/dragged.txt" || { echo "FAIL: the drop into the In tray was not a copy"; exit 1; }
[ "$(ls "$work/out" | wc -l)" -eq 3 ] || { echo "FAIL: the batch did not write three results"; exit 1; }
for n in one two three; do [ -f "$work/src/$n.bmp" ] || { echo "FAIL: source $n.bmp is gone"; exit 1; }; done
sleep 0.5

# Select the first and third Out items (click, Ctrl+click), then drag the first one out.
first_x=430; first_y=45; third_x=430; third_y=135
xdotool mousemove $first_x $first_y click 1
sleep 0.3
xdotool keydown ctrl mousemove $third_x $third_y click 1 keyup ctrl
sleep 0.3
xdotool mousemove $first_x $first_y mousedown 1
sleep 0.2
for step in 5 12 40 120 250 330; do xdotool mousemove $((first_x + step)) $((first_y + step / 3)); sleep 0.1; done
xdotool mousemove 850 200; sleep 0.4
xdotool mousemove 855 205; sleep 0.4
xdotool mouseup 1
for _ in $(seq 30); do grep -q "drop done" "$work/dropped.txt" && break; sleep 0.2; done

echo "--- drop target received:"
cat "$work/dropped.txt"
expected="$(printf '%s\n' "$work/out/one.bmp" "$work/out/three.bmp")"
got="$(grep '^/' "$work/dropped.txt" || true)"
if [ "$got" = "$expected" ] && grep -q "^offered actions: copy $" "$work/dropped.txt" && [ "$(ls "$work/out" | wc -l)" -eq 3 ]; then
  echo "PASS: three files dropped in as a copy; the two selected results dragged out, copy only, still in place"
else
  echo "FAIL: wanted"; echo "$expected"; exit 1
fi
