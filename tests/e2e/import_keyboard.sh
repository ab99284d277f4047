#!/usr/bin/env bash
# End-to-end test of the real program on a virtual X server, driven by the keyboard alone:
# move from C:\ up to the drives and down into C:\pics\, import the PCX picture there,
# name the bitmap file in the save dialog, confirm the information box; then, after the
# program has ended, read the clipboard as another program would and look at the host
# settings file and the bitmap file.
#
#   import_keyboard.sh IMPORTDLG PICCONV
#
# Exit status 0 when every check holds, 1 on a failed check, 77 when a tool is missing.
set -euo pipefail

importdlg=${1:?usage: import_keyboard.sh IMPORTDLG PICCONV}
picconv=${2:?usage: import_keyboard.sh IMPORTDLG PICCONV}

for tool in xvfb-run xdotool xclip; do
  if ! command -v "$tool" >/dev/null; then
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
cleanup() {
  if [ -n "$dialog_pid" ] && kill -0 "$dialog_pid" 2>/dev/null; then kill "$dialog_pid" 2>/dev/null || true; fi
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
# A build with the sanitizers reports leaks of the system libraries that Qt loads.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(cd "$(dirname "$0")" && pwd)/lsan.supp"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$work/runtime"

"$importdlg" >"$work/dialog.log" 2>&1 &
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
deadline=$((SECONDS + 20))
while kill -0 "$dialog_pid" 2>/dev/null; do
  [ $SECONDS -lt $deadline ] || fail "the program did not end after the import"
  sleep 0.05
done
status=0
wait "$dialog_pid" || status=$?
dialog_pid=
[ "$status" -eq 0 ] || fail "the program ended with status $status"

# ---- What the host finds ----
clip=$(timeout 10 xclip -selection clipboard -o 2>/dev/null) || fail "the clipboard holds nothing after the program ended"
expected='C:\PICS\CONVERTED.BMP'
[ "$clip" = "$expected" ] || fail "clipboard holds \"$clip\", not \"$expected\""

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

echo "PASS: clipboard \"$clip\", settings Import=C:\\PICS\\, bitmap $native"
