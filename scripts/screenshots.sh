#!/usr/bin/env bash
# Pictures of the program: runs the demo (scripts/demo.sh's server, mail and
# home folder) on a virtual X display with a window manager (openbox) and a
# tray host (trayer), drives it with xdotool and writes PNG files:
#   ./scripts/screenshots.sh OUTDIR
#     main-window.png  the window after a check of both accounts: blocked,
#                      safe, ticked and ordinary rows, the mailbox panel
#     message-box.png  the delete confirmation
#     tray-menu.png    the tray icon's menu, open
#     about.png        the about window
#     settings.png     the settings dialog with the demo's two accounts
#     account-editor.png  the account editor over it, on the first account
#     account-editor-oauth.png  the editor on a new IMAP account signing in with
#                      Google (OAuth 2.0), typed in with the keyboard
#     header-viewer.png   the header viewer of a blocked message
# Each picture is one shot_* function below; add a function and its name to
# SHOTS for another. Environment: KALMURO_EXE (use this program, skip the build).
set -euo pipefail
if [ $# -ne 1 ]; then echo "usage: $0 OUTDIR" >&2; exit 2; fi
mkdir -p "$1"
out=$(cd "$1" && pwd)
cd "$(dirname "$0")/.."
./scripts/install-deps.sh --display
if [ -n "${KALMURO_EXE:-}" ]; then
  kalmuro=$(realpath "$KALMURO_EXE")
else
  kalmuro=$PWD/$(./scripts/build.sh release kalmuro)/src/cli/kalmuro
fi
. scripts/demo/demo_lib.sh

SHOTS=(shot_main_window shot_message_box shot_tray_menu shot_about shot_settings shot_account_editor
       shot_account_editor_oauth shot_header_viewer)
work=$(mktemp -d /tmp/kshots.XXXXXX)
pids=()
cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do wait "${pids[i]}" 2>/dev/null || true; done
  demo_stop
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Waits until "$@" succeeds, for at most $timeout seconds (default 15).
wait_for() {
  local what=$1; shift
  local deadline=$(($(date +%s) + ${timeout:-15}))
  until "$@" >/dev/null 2>&1; do
    if [ "$(date +%s)" -ge "$deadline" ]; then echo "timed out waiting for $what" >&2; return 1; fi
    sleep 0.1
  done
}

readonly SCREEN_W=1024 SCREEN_H=768 TRAY_H=32
start_display() {
  Xvfb -displayfd 3 -screen 0 "${SCREEN_W}x${SCREEN_H}x24" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  pids+=($!)
  wait_for "the X server" test -s "$work/display"
  export DISPLAY=:$(cat "$work/display")
  export XDG_RUNTIME_DIR=$work/xdg
  mkdir -m 0700 "$XDG_RUNTIME_DIR"
  # The same look on every machine: no desktop settings, no other theme.
  unset QT_QPA_PLATFORM QT_STYLE_OVERRIDE QT_SCALE_FACTOR WAYLAND_DISPLAY
  openbox --sm-disable >"$work/openbox.log" 2>&1 &
  pids+=($!)
  wait_for "the window manager" xdotool get_desktop
  trayer --SetDockType false --edge bottom --align right --widthtype pixel --width 120 \
         --height "$TRAY_H" --transparent false --tint 0xd0d0d0 >"$work/trayer.log" 2>&1 &
  pids+=($!)
  wait_for "the tray host" xdotool search --class trayer
}

# Whether a POP3 session of the user has ended, by the server's log.
session_ended() { grep -q "pop3($1).*Disconnected" "$DEMO_SERVER/dovecot.log"; }
# Whether the main window is the active one again.
main_in_front() { [ "$(xdotool getactivewindow)" = "$main_window" ]; }

main_window=
start_program() {
  demo_start "$kalmuro"
  "$kalmuro" --home "$DEMO_HOME" >"$work/kalmuro.log" 2>&1 &
  pids+=($!)
  # The splash stays for three seconds, then the window; the check runs one
  # second after it shows, and it is over when the second account's session is.
  timeout=30 wait_for "the main window" xdotool search --onlyvisible --name '^Quorvane Kalmuro - '
  main_window=$(xdotool search --onlyvisible --name '^Quorvane Kalmuro - ' | head -n 1)
  timeout=30 wait_for "the check" session_ended m.rossi
  sleep 1
}

# Clicks at x y inside the main window's client area.
click_main() {
  xdotool windowactivate --sync "$main_window" >/dev/null 2>&1 || true
  xdotool mousemove --window "$main_window" "$1" "$2" click "${3:-1}"
}

# The window in front once it is another than the main window.
front_window=
wait_front_window() {
  local deadline=$(($(date +%s) + 10)) w
  while :; do
    w=$(xdotool getactivewindow 2>/dev/null || true)
    if [ -n "$w" ] && [ "$w" != "$main_window" ]; then front_window=$w; sleep 0.5; return 0; fi
    if [ "$(date +%s)" -ge "$deadline" ]; then echo "no new window came to the front" >&2; return 1; fi
    sleep 0.1
  done
}

capture_window() { import -frame -window "$1" "$out/$2"; echo "wrote $out/$2"; }

# Positions in the main window (client pixels): the buttons of the top
# panel, and the message list below the top panel (109) and the mailbox
# panel (77); a row of the list, counted from 1.
readonly ELIMINA_X=471 ELIMINA_Y=77 INFO_X=553 INFO_Y=24 SETUP_X=553 SETUP_Y=77
readonly LIST_TOP=186 HEADER_H=17 ROW_H=14 CHECK_X=10
# The settings dialog's accounts grid: a point on its first account's row;
# its "Aggiungi" button.
readonly GRID_ROW1_X=120 GRID_ROW1_Y=60 ADD_X=675 ADD_Y=50
row_y() { echo $((LIST_TOP + HEADER_H + ($1 - 1) * ROW_H + ROW_H / 2)); }

shot_main_window() {
  # Untick one blocked row (it turns to the blocked colour), tick an
  # ordinary one, and highlight a third.
  click_main "$CHECK_X" "$(row_y 3)"
  click_main "$CHECK_X" "$(row_y 9)"
  click_main 200 "$(row_y 2)"
  sleep 0.5
  capture_window "$main_window" main-window.png
}

shot_message_box() {
  click_main "$ELIMINA_X" "$ELIMINA_Y"
  wait_front_window
  capture_window "$front_window" message-box.png
  xdotool key Escape
  wait_for "the box to close" main_in_front
}

shot_tray_menu() {
  # trayer (bottom right, 120 x 32) docks the program's one icon at its right end.
  xdotool mousemove $((SCREEN_W - 12)) $((SCREEN_H - TRAY_H / 2)) click 3
  sleep 1
  # The menu opens above the tray, at the bottom right of the screen.
  import -window root -crop 420x300+$((SCREEN_W - 420))+$((SCREEN_H - 300)) +repage \
         "$out/tray-menu.png"
  echo "wrote $out/tray-menu.png"
  xdotool key Escape
  sleep 0.3
}

shot_about() {
  click_main "$INFO_X" "$INFO_Y"
  wait_front_window
  capture_window "$front_window" about.png
  xdotool key Escape
  wait_for "the about window to close" main_in_front
}

# The settings dialog in front; its window id in $front_window.
open_settings() {
  click_main "$SETUP_X" "$SETUP_Y"
  wait_front_window
}

shot_settings() {
  open_settings
  capture_window "$front_window" settings.png
  xdotool key Escape
  wait_for "the settings dialog to close" main_in_front
}

shot_account_editor() {
  open_settings
  local settings=$front_window
  # A double click on the first account's row of the grid edits it.
  xdotool mousemove --window "$settings" "$GRID_ROW1_X" "$GRID_ROW1_Y" click --repeat 2 --delay 80 1
  wait_for "the account editor" sh -c "[ \"\$(xdotool getactivewindow)\" != $settings ]"
  sleep 0.5
  capture_window "$(xdotool getactivewindow)" account-editor.png
  xdotool key Escape
  wait_for "the account editor to close" sh -c "[ \"\$(xdotool getactivewindow)\" = $settings ]"
  xdotool key Escape
  wait_for "the settings dialog to close" main_in_front
}

shot_account_editor_oauth() {
  open_settings
  local settings=$front_window
  xdotool mousemove --window "$settings" "$ADD_X" "$ADD_Y" click 1
  wait_for "the account editor" sh -c "[ \"\$(xdotool getactivewindow)\" != $settings ]"
  sleep 0.5
  # In the editor's Tab order: name, protocol, server, port, security,
  # folder, login method, user name, provider, client id, client secret.
  # The rows that do not apply are hidden, and Tab passes them by.
  local k
  xdotool type --delay 20 "Gmail (IMAP)"
  for k in Tab Down Tab Tab Tab Tab Tab End Tab; do xdotool key "$k"; sleep 0.1; done
  xdotool type --delay 20 "mario.rossi@gmail.com"
  for k in Tab Home Tab; do xdotool key "$k"; sleep 0.1; done
  xdotool type --delay 10 "123456789012-abcdefghijklmnop.apps.googleusercontent.com"
  xdotool key Tab
  xdotool type --delay 20 "GOCSPX-esempio"
  sleep 0.5
  capture_window "$(xdotool getactivewindow)" account-editor-oauth.png
  xdotool key Escape
  wait_for "the account editor to close" sh -c "[ \"\$(xdotool getactivewindow)\" = $settings ]"
  xdotool key Escape
  wait_for "the settings dialog to close" main_in_front
}

shot_header_viewer() {
  # The highlighted row's menu; its first item shows the header.
  click_main 200 "$(row_y 5)"
  click_main 200 "$(row_y 5)" 3
  sleep 0.5
  xdotool key Down Return
  wait_front_window
  capture_window "$front_window" header-viewer.png
  xdotool key Escape
  wait_for "the header viewer to close" main_in_front
}

start_display
start_program
for shot in "${SHOTS[@]}"; do "$shot"; done
