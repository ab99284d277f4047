#!/usr/bin/env bash
# End-to-end test of the real program on a virtual X server, driven by the keyboard alone:
# move from C:\ up to the drives and down into C:\pics\, import the PCX picture there,
# name the bitmap file in the save dialog, confirm the information box; then, after the
# program has ended, read the clipboard as another program would and look at the host
# settings file and the bitmap file. The program runs with no clipboard tool (xclip, xsel,
# wl-copy) on its search path: its own server keeps the text. Then: the server ends when
# another program takes the clipboard, or when its time is up; a program without its
# server says so in an error box instead of ending silently. Last, where a new user goes
# astray: the Enter that closes an error box does not start the import again, the save
# dialog refuses the picture's own name and a folder of no drive, and of two names that
# differ only in case the chosen one is handed over as the file system spells it.
#
# With "wayland", the program hands a keyword over on a Wayland session instead: a
# headless sway of the test's own (no XWayland) is named by WAYLAND_DISPLAY, and the text
# goes to the compositor through its data-control protocol.
#
#   import_keyboard.sh IMPORTDLG PICCONV [wayland]
#
# Exit status 0 when every check holds, 1 on a failed check, 77 when a tool is missing
# (1 under CI=true).
set -euo pipefail

importdlg=${1:?usage: import_keyboard.sh IMPORTDLG PICCONV [wayland]}
picconv=${2:?usage: import_keyboard.sh IMPORTDLG PICCONV [wayland]}
mode=${3:-x11}

tools=(xvfb-run xdotool xclip)
if [ "$mode" = wayland ]; then
  tools=(xvfb-run xdotool sway wl-paste wl-copy)
  [ "$(id -u)" -ne 0 ] || tools+=(setpriv)
fi
for tool in "${tools[@]}"; do
  if ! command -v "$tool" >/dev/null; then
    # Under CI a missing tool is a failure: the test must not pass by not running.
    if [ "${CI:-}" = true ]; then
      echo "FAIL: $tool is not installed (scripts/install-deps.sh installs it)"
      exit 1
    fi
    echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
    exit 77
  fi
done

# The checks run inside the virtual X session: the clipboard lives as long as the server.
if [ -z "${IMPORT_E2E_INNER:-}" ]; then
  export IMPORT_E2E_INNER=1
  exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$@"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/import-e2e.XXXXXX")
dialog_pid=
sway_pid=
cleanup() {
  if [ -n "$dialog_pid" ] && kill -0 "$dialog_pid" 2>/dev/null; then kill "$dialog_pid" 2>/dev/null || true; fi
  if [ -n "$sway_pid" ]; then
    kill "$sway_pid" 2>/dev/null || true
    wait "$sway_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  if [ -s "$work/dialog.log" ]; then
    echo "--- program output ---" >&2
    cat "$work/dialog.log" >&2
  fi
  exit 1
}

# Waits until a window whose name begins with the text is mapped; prints its id.
wait_window() {
  local id
  id=$(timeout "${2:-15}" xdotool search --sync --onlyvisible --name "^$1" 2>/dev/null | head -n 1) || true
  [ -n "$id" ] || fail "no window \"$1\" appeared"
  echo "$id"
}

# Waits until the window's name is exactly the text.
wait_name() {
  local deadline=$((SECONDS + ${3:-15}))
  until [ "$(xdotool getwindowname "$1" 2>/dev/null)" = "$2" ]; do
    [ $SECONDS -lt $deadline ] || fail "window name is \"$(xdotool getwindowname "$1" 2>/dev/null)\", not \"$2\""
    sleep 0.05
  done
}

# Gives a window the keyboard and sends it keys.
keys() {
  local window=$1
  shift
  xdotool windowfocus --sync "$window"
  xdotool key --delay 40 "$@"
}

# ---- The world: drive C: is a folder of the test, the settings file names C:\ ----
mkdir -p "$work/c/pics" "$work/c/docs" "$work/sys"
/usr/bin/convert -size 64x48 gradient:orange-navy "$work/c/pics/sunset.pcx" \
  || fail "ImageMagick could not write the test picture"
printf '[Other]\r\nKey=kept\r\n[Paths]\r\nImport=C:\\\r\n' >"$work/sys/tolva.ini"
export IMPORTDLG_DRIVES="C=$work/c"
export IMPORTDLG_SYSTEM_DIR="$work/sys"
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY
# A build with the sanitizers reports leaks of the system libraries that Qt loads.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(cd "$(dirname "$0")" && pwd)/lsan.supp"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$work/runtime"
xclip=$(command -v xclip)
server="$(dirname "$importdlg")/importdlg-clipboard"
mkdir "$work/bin"

# Reads the clipboard in the given form (target) as another program would.
read_clipboard() {
  timeout 10 "$xclip" -selection clipboard -o -t "$1" 2>/dev/null
}

# Waits until no clipboard server of ours is left on the display.
wait_server_gone() {
  local deadline=$((SECONDS + ${1:-10}))
  while xdotool search --name '^importdlg clipboard$' >/dev/null 2>&1; do
    [ $SECONDS -lt $deadline ] || fail "the clipboard server is still running: $2"
    sleep 0.1
  done
}

# Waits until the program has ended and checks that it ended normally.
wait_ended() {
  local deadline=$((SECONDS + 20)) status=0
  while kill -0 "$dialog_pid" 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || fail "the program did not end $1"
    sleep 0.05
  done
  wait "$dialog_pid" || status=$?
  dialog_pid=
  [ "$status" -eq 0 ] || fail "the program ended with status $status $1"
}

# ---- Wayland: a keyword handed over through the compositor's data-control protocol ----
# The program draws on the virtual X server, as it does through XWayland on a Wayland
# desktop, while WAYLAND_DISPLAY names the compositor whose selection every program reads.
# True while a clipboard server of ours is connected to the compositor on the socket.
own_server_serves() {
  local exe p
  exe=$(readlink -f "$server")
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/exe" 2>/dev/null)" = "$exe" ] || continue
    tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qxF "WAYLAND_DISPLAY=$1" && return 0
  done
  return 1
}

# Waits until no clipboard server of ours serves the compositor on the socket.
wait_own_server_gone() {
  local deadline=$((SECONDS + 10))
  while own_server_serves "$1"; do
    [ $SECONDS -lt $deadline ] || fail "the clipboard server still runs $2"
    sleep 0.1
  done
}

wayland_handoff() {
  local runtime="$work/wayland" socket= as_nobody=()
  mkdir -m 700 "$runtime"
  printf 'xwayland disable\n' >"$work/sway.config"
  if [ "$(id -u)" -eq 0 ]; then
    # sway refuses to start as root (it could take root back): it runs as nobody.
    chmod 711 "$work"
    chown 65534:65534 "$runtime"
    as_nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  fi
  env -i PATH=/usr/bin:/bin HOME="$work" XDG_RUNTIME_DIR="$runtime" WLR_BACKENDS=headless \
    WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman "${as_nobody[@]}" "$(command -v sway)" -c "$work/sway.config" \
    >"$work/sway.log" 2>&1 &
  sway_pid=$!
  local deadline=$((SECONDS + 10))
  until socket=$(find "$runtime" -maxdepth 1 -type s -name 'wayland-*' | head -n 1) && [ -n "$socket" ]; do
    kill -0 "$sway_pid" 2>/dev/null || fail "sway did not start: $(cat "$work/sway.log")"
    [ $SECONDS -lt $deadline ] || fail "sway made no socket"
    sleep 0.05
  done
  export WAYLAND_DISPLAY=$socket

  PATH="$work/bin" "$importdlg" >"$work/dialog.log" 2>&1 &
  dialog_pid=$!
  main=$(wait_window "Select File to Import")
  wait_name "$main" 'Select File to Import.. [C:\]'
  # A click on "EPS" (385, 4, 53 x 23 in the window) hands over a keyword and ends.
  xdotool mousemove --window "$main" 411 15 click 1
  wait_ended "after the keyword hand-off"

  local clip
  clip=$(PATH=/usr/bin:/bin timeout 10 wl-paste --no-newline) || fail "the compositor's clipboard is empty after the program ended"
  [ "$clip" = AIEPS ] || fail "the compositor's clipboard holds \"$clip\", not \"AIEPS\""
  own_server_serves "$socket" || fail "no clipboard server of ours serves the compositor"
  # Another program takes the selection: our server ends.
  PATH=/usr/bin:/bin timeout 10 wl-copy taken
  wait_own_server_gone "$socket" "after another program took the selection"

  # A start empties the compositor's clipboard: Esc then leaves it empty, and the server
  # of an earlier hand-off has ended.
  local reply
  reply=$(printf 'C:\\OLD.BMP' | "$server" --wayland) || fail "the server failed: $reply"
  [ "$reply" = ready ] || fail "the server answered \"$reply\""
  PATH="$work/bin" "$importdlg" >"$work/dialog.log" 2>&1 &
  dialog_pid=$!
  main=$(wait_window "Select File to Import")
  keys "$main" Escape
  wait_ended "after Esc"
  clip=$(PATH=/usr/bin:/bin timeout 10 wl-paste --no-newline 2>/dev/null) && fail "Esc left \"$clip\" on the clipboard"
  wait_own_server_gone "$socket" "after a start emptied the clipboard"
  echo "PASS: keyword AIEPS kept on the compositor by our server after the program ended; a start empties it"
}

if [ "$mode" = wayland ]; then
  wayland_handoff
  exit 0
fi

PATH="$work/bin" "$importdlg" >"$work/dialog.log" 2>&1 &
dialog_pid=$!

# ---- Into C:\pics\ ----
main=$(wait_window "Select File to Import")
wait_name "$main" 'Select File to Import.. [C:\]'
# The folder combo has the focus at start: Up chooses its item above C:\, the drives,
# and hands the focus to the folder list with drive C: selected. Enter opens the drive;
# typing "p" selects the folder "pics" and Enter opens it.
keys "$main" Up
wait_name "$main" 'Select File to Import.. [Drives]'
keys "$main" Return
wait_name "$main" 'Select File to Import.. [C:\]'
keys "$main" p Return
wait_name "$main" 'Select File to Import.. [C:\pics]'

# ---- Import the picture ----
# Home goes to the first entry, "sunset.pcx", and Space selects it where Home found it
# current already; Enter on a file imports it.
keys "$main" Home space Return
save=$(wait_window "Save Picture as Bitmap")
# The name field has the focus, holding the proposed "sunset.bmp".
keys "$save" ctrl+a c o n v e r t e d Return
info=$(wait_window "Information")
keys "$info" Return

# ---- The program ends by itself ----
wait_ended "after the import"

# ---- What the host finds ----
clip=$(read_clipboard UTF8_STRING) || fail "the clipboard holds nothing after the program ended"
expected='C:\PICS\CONVERTED.BMP'
[ "$clip" = "$expected" ] || fail "clipboard holds \"$clip\", not \"$expected\""
for target in STRING TEXT; do
  [ "$(read_clipboard $target)" = "$expected" ] || fail "the clipboard as $target is \"$(read_clipboard $target)\""
done
targets=$(read_clipboard TARGETS | sort | tr '\n' ' ')
[ "$targets" = "STRING TARGETS TEXT TIMESTAMP UTF8_STRING " ] || fail "the clipboard offers $targets"

settings=$(tr -d '\r' <"$work/sys/tolva.ini")
expected_settings=$(printf '[Other]\nKey=kept\n[Paths]\nImport=C:\\PICS\\')
[ "$settings" = "$expected_settings" ] || fail "settings file holds: $settings"

# The bitmap file is the picture at 24 bits per pixel, byte for byte what the converter
# writes for it.
[ -f "$work/c/pics/converted.bmp" ] || fail "no converted.bmp was written"
"$picconv" "$work/c/pics/sunset.pcx" "$work/reference.bmp" || fail "picconv could not convert the test picture"
cmp -s "$work/c/pics/converted.bmp" "$work/reference.bmp" || fail "converted.bmp differs from the converter's bitmap"

# The hand-off text leads back to the bitmap file.
native=$("$importdlg" --native-path "$clip") || fail "--native-path failed"
[ "$native" = "$work/c/pics/converted.bmp" ] || fail "--native-path gives \"$native\""

# ---- The server ends when another program takes the clipboard ----
printf 'taken' | "$xclip" -selection clipboard -i >/dev/null 2>&1
wait_server_gone 10 "after another program took the clipboard"
[ "$(read_clipboard UTF8_STRING)" = taken ] || fail "the other program's text is not on the clipboard"

# ---- The server alone: a text beyond Latin-1 has no STRING form; the time limit ----
text='C:\ЖУРНАЛ\ÉTÉ.BMP'
reply=$(printf '%s' "$text" | "$server" --seconds 2) || fail "the server failed: $reply"
[ "$reply" = ready ] || fail "the server answered \"$reply\""
[ "$(read_clipboard UTF8_STRING)" = "$text" ] || fail "the server serves \"$(read_clipboard UTF8_STRING)\""
read_clipboard TARGETS | grep -qx STRING && fail "the server offers STRING for a text beyond Latin-1"
reply=$(printf 'C:\\TWO\nLINES.BMP' | "$server") && fail "the server took a text of two lines"
[ "$reply" = "error: the text holds a control character" ] || fail "the server answered \"$reply\" to two lines"
wait_server_gone 10 "after its time was up"

# ---- Without its server the program says so before it ends ----
mkdir "$work/alone"
cp "$importdlg" "$work/alone/importdlg"
PATH="$work/bin" "$work/alone/importdlg" >"$work/dialog.log" 2>&1 &
dialog_pid=$!
main=$(wait_window "Select File to Import")
wait_name "$main" 'Select File to Import.. [C:\PICS\]'
# The start has emptied the clipboard that the other program held.
read_clipboard UTF8_STRING >/dev/null && fail "the start left \"$(read_clipboard UTF8_STRING)\" on the clipboard"
# A click on "EPS" (385, 4, 53 x 23 in the window) hands over a keyword.
xdotool mousemove --window "$main" 411 15 click 1
error=$(wait_window "Error")
keys "$error" Return
wait_ended "after the error box"
read_clipboard UTF8_STRING >/dev/null && fail "the clipboard holds \"$(read_clipboard UTF8_STRING)\" without a server"

# ---- Where a new user goes astray ----
# The folder C:\edges\ holds a picture that cannot be loaded, one to convert, and two
# names that differ only in case.
mkdir "$work/c/edges" "$work/outside"
: >"$work/c/edges/empty.pcx"
cp "$work/c/pics/sunset.pcx" "$work/c/edges/victim.pcx"
printf 'blue' >"$work/c/edges/cat.jpg"
printf 'red' >"$work/c/edges/Cat.jpg"
printf '[Paths]\r\nImport=C:\\edges\\\r\n' >"$work/sys/tolva.ini"
settings_before=$(cat "$work/sys/tolva.ini")

# Selects the list's entry that begins with the letter and presses Enter on it.
enter_on() {
  xdotool mousemove --window "$main" 200 300 click 1
  keys "$main" "$1" Return
}

PATH="$work/bin" "$importdlg" >"$work/dialog.log" 2>&1 &
dialog_pid=$!
main=$(wait_window "Select File to Import")
wait_name "$main" 'Select File to Import.. [C:\EDGES\]'

# Enter that closes a box is not taken by the list for another Enter on the picture.
enter_on e
save=$(wait_window "Save Picture as Bitmap")
keys "$save" Return
error=$(wait_window "Error")
keys "$error" Return
sleep 2
xdotool search --onlyvisible --name '^Save Picture as Bitmap' >/dev/null 2>&1 \
  && fail "the Enter that closed the error box opened the save dialog again"

# The picture's own name, then a folder of no drive: each is refused, and asked again.
enter_on v
save=$(wait_window "Save Picture as Bitmap")
keys "$save" ctrl+a v i c t i m period p c x Return
error=$(wait_window "Error")
keys "$error" Return
save=$(wait_window "Save Picture as Bitmap")
xdotool windowfocus --sync "$save"
xdotool key ctrl+a
xdotool type --delay 20 "$work/outside/off.bmp"
xdotool key Return
error=$(wait_window "Error")
keys "$error" Return
save=$(wait_window "Save Picture as Bitmap")
keys "$save" Escape
keys "$main" Escape
wait_ended "after the refused names"
cmp -s "$work/c/edges/victim.pcx" "$work/c/pics/sunset.pcx" || fail "the picture was written over by its own conversion"
[ -z "$(ls -A "$work/outside")" ] || fail "a bitmap file was written off the drive map: $(ls "$work/outside")"
[ "$(cat "$work/sys/tolva.ini")" = "$settings_before" ] || fail "the settings file changed: $(cat "$work/sys/tolva.ini")"

# Of two names that differ only in case, the one chosen is handed over as it is spelt.
PATH="$work/bin" "$importdlg" >"$work/dialog.log" 2>&1 &
dialog_pid=$!
main=$(wait_window "Select File to Import")
wait_name "$main" 'Select File to Import.. [C:\EDGES\]'
enter_on c
wait_ended "after handing over a case twin"
twin=$(read_clipboard UTF8_STRING) || fail "the clipboard holds nothing after the case twin"
case "$twin" in
  'C:\edges\cat.jpg' | 'C:\edges\Cat.jpg') ;;
  *) fail "the clipboard holds \"$twin\", not a case twin's exact path" ;;
esac
[ "$("$importdlg" --native-path "$twin")" = "$work/c/edges/${twin##*\\}" ] \
  || fail "--native-path gives \"$("$importdlg" --native-path "$twin")\" for \"$twin\""

echo "PASS: clipboard \"$clip\" kept by our server, settings Import=C:\\PICS\\, bitmap $native;" \
  "no Enter loop, own name and off-map folder refused, case twin handed over as \"$twin\""

