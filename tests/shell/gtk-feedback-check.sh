#!/usr/bin/env bash
# gtk-feedback-check.sh COLLECTOR EXAMPLE RESOURCES PICTURES SETTINGS_X,Y EXPENSES_X,Y SWITCHER_TYPE
# The feedback flow over a GTK application, end to end with real X input: starts COLLECTOR on a
# free loopback port and the GTK feedback EXAMPLE (in a bundle of its own whose Info.plist
# points at it) on an Xvfb display, then with xdotool clicks through the example's two pages,
# opens and closes its About window, presses Ctrl+Shift+Z, chooses "我要反馈Bug" in the alert,
# draws a stroke on the screenshot, types a comment and a contact, and submits. Checks what the collector stored: the comment, the
# contact, a trace of the host's clicks, page changes and windows without entries of the feedback
# screens, and a JPEG of the window's content (the example's green banner, the blue stroke).
# A picture of the screen after each step goes into PICTURES. SETTINGS_X,Y and EXPENSES_X,Y are
# where the example's stack switcher has its two buttons (window coordinates), SWITCHER_TYPE the
# type of those buttons.
set -euo pipefail
if [[ -z ${GTK_CHECK_ON_XVFB:-} ]]; then
  exec env GTK_CHECK_ON_XVFB=1 xvfb-run -a -s "-screen 0 720x640x24" bash "$0" "$@"
fi
COLLECTOR=$1 EXE=$2 RESOURCES=$3 PICTURES=$4 SETTINGS=${5/,/ } EXPENSES=${6/,/ } SWITCHER=$7
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quillon-gtk-XXXXXX")
PID= APP=
cleanup() {
  for p in $APP $PID; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*"
  echo "--- example output"; tail -40 "$WORK/app.out" || true
  exit 1
}

# shellcheck source=collector-bundle.sh
source "$(dirname "$0")/collector-bundle.sh"
collector_and_bundle "$COLLECTOR" "$EXE" "$WORK" || fail "no collector"
NAME=$(basename "$EXE")
mkdir -p "$PICTURES"
rm -f "$PICTURES"/*.png
env -u XDG_DATA_HOME HOME="$WORK/home" XDG_RUNTIME_DIR="$WORK/run" QUILLON_UI_RESOURCE_PATH="$RESOURCES" \
  GDK_BACKEND=x11 GSK_RENDERER=cairo "$WORK/bundle/$NAME" >"$WORK/app.out" 2>&1 &
APP=$!

window() {  # window NAME: the id of the visible window titled NAME (waits for it)
  local id
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1) && [[ -n $id ]] && { echo "$id"; return; }
    sleep 0.1
  done
  fail "no window \"$1\""
}
picture() { sleep "${2:-0.4}"; import -window root "$PICTURES/$1.png"; }
click() { xdotool mousemove --window "$W" "$1" "$2" click 1; }

W=$(window "Household ledger")
picture 01-host 1
# shellcheck disable=SC2086
click $SETTINGS
picture 02-settings
# shellcheck disable=SC2086
click $EXPENSES
picture 03-expenses
click 180 505   # About, at the bottom: a window of its own, closed by its one button
A=$(window About)
picture 04-about
xdotool mousemove --window "$A" 120 60 click 1
for _ in $(seq 50); do xdotool search --onlyvisible --name '^About$' >/dev/null 2>&1 || break; sleep 0.1; done
xdotool mousemove --window "$W" 180 300 key ctrl+shift+z
W=$(window Feedback)
picture 05-alert 0.6
# The feedback screens fill a window of the host's content size (360 x 520 points here); the
# alert's buttons, from the top: 我要提建议, 我要反馈Bug, 不小心摇了一下.
click 180 300
picture 06-editor 1.2
click 20 400   # the hint goes away
xdotool mousemove --window "$W" 60 330 mousedown 1
for x in $(seq 80 20 300); do xdotool mousemove --window "$W" "$x" 330; sleep 0.02; done
xdotool mouseup 1
picture 07-drawing
click 180 498   # 备注 in the bottom bar: the comment card, its comment field focused
sleep 0.5
xdotool type --delay 30 "Total says 96.50, the expenses add up to 86.50"
click 180 184   # the contact field
xdotool type --delay 30 "qa@example.com"
picture 08-card
click 332 22    # 提交
picture 09-sent 0.5

for _ in $(seq 100); do
  [[ $(curl -s "http://$ADDR/_collector/feedback" | jq length) -ge 1 ]] && break
  sleep 0.1
done
FEEDBACK=$(curl -s "http://$ADDR/_collector/feedback")
[[ $(jq length <<<"$FEEDBACK") -eq 1 ]] || fail "the collector has no feedback: $FEEDBACK"
DATA=$(jq -c '.[0].body.messages[0].data' <<<"$FEEDBACK")
[[ $(jq -r .type <<<"$DATA") == PROBLEM ]] || fail "type: $DATA"
[[ $(jq -r .message <<<"$DATA") == "Total says 96.50, the expenses add up to 86.50" ]] || fail "comment: $DATA"
[[ $(jq -r .contact <<<"$DATA") == qa@example.com ]] || fail "contact: $DATA"
TRACE=$(jq -r '.[0].body.operatetrace[]' <<<"$FEEDBACK" | sed 's/^[0-9-]* [0-9:]* //')
echo "--- trace"; echo "$TRACE"
EXPECTED="viewWillAppear:expenses
tap:$SWITCHER
viewWillDisappear:expenses
viewWillAppear:settings
tap:$SWITCHER
viewWillDisappear:settings
viewWillAppear:expenses
tap:GtkButton
viewWillAppear:About
viewWillDisappear:About"
[[ $TRACE == "$EXPECTED" ]] || fail "the trace is not the host's clicks, pages and windows"

FILE=$(curl -s "http://$ADDR/_collector/files" | jq '.[0].id')
curl -s -o "$PICTURES/uploaded.jpg" "http://$ADDR/_collector/files/$FILE.jpg"
pixel() {  # pixel X Y: "R G B" of the uploaded screenshot
  convert "$PICTURES/uploaded.jpg" -crop "1x1+$1+$2" -depth 8 txt:- | sed -n 2p |
    sed -E 's/.*\(([0-9]+),([0-9]+),([0-9]+).*/\1 \2 \3/'
}
read -r W_ H_ < <(identify -format '%w %h\n' "$PICTURES/uploaded.jpg")
echo "uploaded screenshot: ${W_}x${H_}"
read -r r g b < <(pixel 300 20)   # the banner
(( g > 90 && r < 90 && b < 90 )) || fail "the banner is not green in the screenshot: $r $g $b"
blue=0
for x in $(seq 100 20 280); do
  read -r r g b < <(pixel "$x" 330)
  (( b > 150 && b > r + 60 && b > g + 60 )) && blue=$((blue + 1))
done
(( blue >= 8 )) || fail "the stroke is not along y=330 in the screenshot ($blue blue samples)"
echo "1 passed, 0 failed"
