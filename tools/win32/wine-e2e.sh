#!/usr/bin/env bash
# The product end to end, as a person meets it: Tamri.exe's real window
# under wine against the simulated Nuvo device (nuvo-sim.exe under the same
# wine server), driven from outside by tamri-drive.exe.
#
#   tools/win32/wine-e2e.sh BUILD_DIR [--interactive] [--image-size BYTES] [--version TEXT] [--scale N]
#
# BUILD_DIR is a Windows build (build/mingw, or build/mingw64 where 32-bit
# wine cannot start) with the targets Tamri, nuvo-sim and tamri-drive built.
# The run: the window finds the device by itself ("Found Device." and the
# firmware's version text) -> the package folder is typed into the folder
# box -> Download -> the confirmation answered Yes -> the device unplugged
# during the download -> "download error!" on the window once the exchange's
# reply limit has passed, kept until the device is plugged back and found
# again -> Download tried again -> "download complete!" -> the device's
# flash equals the image byte for byte -> the window finds the device again
# after it re-enumerates -> Upload Image -> "upload complete!" ->
# NuvoUpload.bin equals the flash -> a second Tamri.exe ends by itself and
# raises the first window -> WM_CLOSE ends the program. Then a short run
# with a device of the diagnostic-mode class (unless the main run had one):
# found, closed, and the close ends on the device's answer to the
# switch-off, not on the ten seconds' limit (the window's debug output says
# which). Screenshots of every stage go to BUILD_DIR/wine-e2e/*.png, with
# the logs. The last line says "N passed, M failed"; the exit code is
# non-zero on any failure, and a time limit guards the whole run and every
# step.
#
# The window shows on $DISPLAY, or on an Xvfb of its own when there is none
# (then wine runs its windows unmanaged: on an X server without a window
# manager a managed window stalls wine at every hide and gets no title bar).
# --interactive starts the device and the window and leaves them to the
# user (a display is needed) until the window is closed.
#
# --version sets the firmware's version text (default: the first "dual
# channel" version of app/version_table.h, whose AT sequence is one request);
# --scale runs the system's and the device's pauses N times faster
# (TAMRI_TIME_SCALE; default 1, real time); --image-size is the package's
# image size (default 1 MiB). Under wine the window's UI thread holds a
# transfer to some 50-80 KiB/s, so the upload of the 32 MiB flash takes 7 to
# 14 minutes (the latter on a busy machine); the waits allow for that.
set -uo pipefail

usage() {
  echo "usage: wine-e2e.sh BUILD_DIR [--interactive] [--image-size BYTES] [--version TEXT] [--scale N]" >&2
  exit 2
}

[[ $# -ge 1 && -d $1 ]] || usage
build=$(cd "$1" && pwd)
shift
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)

interactive=0
image_size=1048576
version=$(grep -o '{"[^"]*", VersionKind::DualChannel}' "$source_dir/app/version_table.h" 2>/dev/null |
  head -1 | cut -d'"' -f2)
version=${version:-NV6246-DC-0520}
scale=1
while [[ $# -gt 0 ]]; do
  case $1 in
    --interactive) interactive=1 ;;
    --image-size) image_size=${2:-}; shift ;;
    --version) version=${2:-}; shift ;;
    --scale) scale=${2:-}; shift ;;
    *) usage ;;
  esac
  shift
done
[[ $image_size =~ ^[0-9]+$ && $scale =~ ^[1-9][0-9]*$ && -n $version ]] || usage
if ((interactive)) && [[ -z ${DISPLAY:-} ]]; then
  echo "wine-e2e: --interactive needs a display (DISPLAY is not set)" >&2
  exit 2
fi

# The hang guard of the whole run: the same script again under a time limit.
if ((!interactive)) && [[ -z ${WINE_E2E_GUARDED:-} ]]; then
  export WINE_E2E_GUARDED=1
  exec timeout -k 30 2700 "$0" "$build" --image-size "$image_size" --version "$version" --scale "$scale"
fi

source "$here/wine-common.sh"

tamri=$build/app/Tamri.exe
for program in "$tamri" "$build/sim/nuvo-sim.exe" "$build/tools/win32/tamri-drive.exe"; do
  if [[ ! -f $program ]]; then
    echo "wine-e2e: $program is missing: build the targets Tamri, nuvo-sim and tamri-drive" >&2
    exit 2
  fi
done
arch=$(wine_build_arch "$build")
if [[ $arch == win32 ]] && ! wine_runs_win32; then
  echo "wine-e2e: this machine cannot start 32-bit wine; use the 64-bit build (cmake/mingw-x86_64.cmake)" >&2
  exit 2
fi

out=$build/wine-e2e
rm -rf "$out"
mkdir -p "$out/package"
package=$out/package
flash=$out/flash.bin

# Windows' view of a path of ours, through drive Z:.
winpath() {
  local path
  path=$(realpath -m "$1")
  echo "Z:${path//\//\\}"
}

# The program refuses to start while any other process runs from a path
# that contains its name: the helpers run from copies in a folder of their
# own, under names without it.
stage=$(mktemp -d /tmp/wine-e2e.XXXXXX)
cp "$build/sim/nuvo-sim.exe" "$stage/nuvo-sim.exe"
cp "$build/tools/win32/tamri-drive.exe" "$stage/drive.exe"

passed=0
failed=0
xvfb_pid=""
sim_pid=""
tamri_pid=""
other_pids=()
finished=0

# shot NAME [WINDOW]: a screenshot as NAME.png. On our own server the whole
# screen, cut to what is on it; on the caller's display only the window
# captioned WINDOW (default the main window).
shot() {
  local name=$1 window=${2:-Firmware Upgrade}
  [[ -n ${DISPLAY:-} ]] || return 0
  if [[ -n $xvfb_pid ]]; then
    xwd -root -silent 2>/dev/null | xwdtopnm 2>/dev/null | pnmcrop -black 2>/dev/null | pnmdepth 255 2>/dev/null |
      pnmtopng >"$out/$name.png" 2>/dev/null
  else
    xwd -name "$window" -silent 2>/dev/null | xwdtopnm 2>/dev/null | pnmdepth 255 2>/dev/null |
      pnmtopng >"$out/$name.png" 2>/dev/null
  fi
  [[ -s $out/$name.png ]] || { rm -f "$out/$name.png"; echo "     (no screenshot $name)"; }
}

# tamri-drive; its own deadlines end every wait, the time-out here only a
# wine that hangs.
drive() {
  timeout 2000 "$WINE" "$stage/drive.exe" "$@" </dev/null
}

cleanup() {
  exec 7>&-
  for pid in $tamri_pid $sim_pid "${other_pids[@]}"; do kill "$pid" 2>/dev/null; done
  [[ -n ${WINEPREFIX:-} ]] && wine_stop_all
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$stage"
}

finish() {
  ((finished)) && exit 1
  finished=1
  cleanup
  echo "Screenshots and logs: $out"
  echo "$passed passed, $failed failed"
  ((failed == 0)) && exit 0
  exit 1
}

# Each line with the run's time so far, in seconds.
pass() {
  ((++passed))
  printf 'ok   %4ds  %s\n' "$SECONDS" "$*"
}

# A failed step ends the run: every later step builds on it.
fail() {
  ((++failed))
  printf 'FAIL %4ds  %s\n' "$SECONDS" "$*"
  shot "failure"
  echo "     windows:"
  drive windows 2>&1 | sed 's/^/       /'
  echo "     nuvo-sim's output:"
  tail -5 "${sim_log:-$out/nuvo-sim.log}" 2>/dev/null | sed 's/^/       /'
  finish
}

trap 'echo "FAIL the run took too long"; ((++failed)); finish' TERM
trap 'cleanup' EXIT

# The display: the caller's, or an Xvfb of our own on a free display.
managed=Y
if [[ -z ${DISPLAY:-} ]]; then
  exec 8>"$out/xvfb.display"
  Xvfb -displayfd 8 -br -screen 0 1024x768x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
  xvfb_pid=$!
  exec 8>&-
  for _ in $(seq 100); do [[ -s $out/xvfb.display ]] && break; sleep 0.05; done
  [[ -s $out/xvfb.display ]] || fail "Xvfb does not start (see $out/xvfb.log)"
  DISPLAY=:$(head -1 "$out/xvfb.display")
  export DISPLAY
  managed=N
fi

# The prefix: real windows through the X11 driver.
wine_env "$build/wine-e2e-prefix" "$arch"
wineserver -k 2>/dev/null  # a server an earlier run left
wine_make_prefix || fail "the wine prefix cannot be made"
wine_reg_add 'HKCU\Software\Wine\Drivers' Graphics x11
wine_reg_add 'HKCU\Software\Wine\X11 Driver' Managed "$managed"
wineserver -w
# A fresh start: no settings (the folder history) of an earlier run.
find "$WINEPREFIX/drive_c/windows" -maxdepth 1 -iname 'tamri.ini' -delete 2>/dev/null
export TAMRI_TIME_SCALE=$scale

wine_ptyshim "$build/ptyshim" || fail "the pty shim cannot be built (gcc, gcc-multilib)"
# The device's diagnostic port COM7 and its modem port COM8.
wine_com_pairs "$out/ptys" 7 8 || fail "the COM pairs do not come up (socat)"
# One server for the whole run: the registry's serial-port map lives only
# as long as the server that holds it.
wine_server_start
pass "wine prefix $WINEPREFIX ($arch, X11 on $DISPLAY), COM7 and COM8"

# The firmware package, written by the simulated device's program.
timeout 120 "$WINE" "$stage/nuvo-sim.exe" --write-package "$(winpath "$package")" --image-size "$image_size" \
  </dev/null >"$out/package.log" 2>&1
[[ -f $package/armprg.hex && $(stat -c %s "$package/NuvoDownload.bin" 2>/dev/null) == "$image_size" ]] ||
  fail "the package is not written (see $out/package.log)"
pass "package $(winpath "$package"): armprg.hex, NuvoDownload.bin of $image_size bytes"

# start_device NAME VERSION FLASH: the device, plugged in until its input
# (file descriptor 7) ends; its output in NAME.log.
start_device() {
  sim_log=$out/$1.log
  mkfifo "$out/$1.in"
  "$WINE" "$stage/nuvo-sim.exe" --com 7 --profile single --version "$2" --flash "$(winpath "$3")" \
    <"$out/$1.in" >"$sim_log" 2>&1 &
  sim_pid=$!
  exec 7>"$out/$1.in"
  for _ in $(seq 600); do
    grep -q "serving until" "$sim_log" 2>/dev/null && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  grep -q "serving until" "$sim_log" || fail "the simulated device does not start"
  pass "simulated device on COM7 (modem port COM8), version $2"
}

# stop_device: ends the device's input and waits for it to unplug and end.
stop_device() {
  exec 7>&-
  wait_ended "$sim_pid" 30 || fail "the simulated device does not stop"
  wait "$sim_pid"
  local status=$?
  sim_pid=""
  ((status == 0)) || fail "the simulated device ends with $status: $(tail -2 "$sim_log")"
  pass "the simulated device stops: $(tail -2 "$sim_log" | head -1 | sed 's/^nuvo-sim: //')"
}

# wait_ended PID SECONDS: true once the process has ended.
wait_ended() {
  local _
  for _ in $(seq $(($2 * 20))); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.05
  done
  return 1
}

# start_window LOG: Tamri.exe, its debug output in LOG.
start_window() {
  TAMRI_DEBUG=1 "$WINE" "$tamri" </dev/null >"$1" 2>&1 &
  tamri_pid=$!
}

# close_window SECONDS: WM_CLOSE to the window; true once the program has
# ended within SECONDS. The seconds it took go to `closed_after`.
close_window() {
  local started=$EPOCHREALTIME
  drive close "Firmware Upgrade" || fail "the window cannot be closed"
  wait_ended "$tamri_pid" "$1" || return 1
  tamri_pid=""
  closed_after=$(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
}

# closed_on_answer LOG: the window's account of how its waiting close ended.
closed_on_answer() {
  grep -q "TamriDlg: the close ends on the device's answer" "$1" &&
    ! grep -q "TamriDlg: the close ends on the time limit" "$1"
}

start_device nuvo-sim "$version" "$flash"

# Its ports in the registry's serial-port map, as the system lists them.
map=$(timeout 60 "$WINE" reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' </dev/null 2>&1 | tr -d '\r')
for com in 7 8; do
  grep -Eq "QCUSB_COM${com}_0 +REG_SZ +COM${com}\$" <<<"$map" ||
    fail "the serial-port map lacks COM$com: $(tr '\n' ' ' <<<"$map")"
done
pass "the serial-port map lists \\Device\\QCUSB_COM7_0 -> COM7 and \\Device\\QCUSB_COM8_0 -> COM8"

start_window "$out/tamri.log"

if ((interactive)); then
  echo "The window is yours: the device is on COM7, a package in $(winpath "$package")."
  echo "Close the window to end."
  wait "$tamri_pid"
  tamri_pid=""
  exec 7>&-
  wait "$sim_pid"
  sim_pid=""
  tail -2 "$out/nuvo-sim.log"
  exit 0
fi

drive wait-window "Firmware Upgrade" 120 >/dev/null || fail "no window \"Firmware Upgrade\""
pass "the window \"Firmware Upgrade\" is up"
shot 01-window

# After the dual-channel switch the window names the version only when the
# port scan that follows has ended within its one-second settle; a longer
# scan finds the device through the scan's own result, "Found Device." alone.
found="Found Device. $version"
found_text_ok() { [[ $1 == "$found" || $1 == "Found Device." ]]; }
text=$(drive wait-text "Firmware Upgrade" 1000 "Found Device." 180 2>&1) || fail "the device is not found: $text"
found_text_ok "$text" || fail "the status reads \"$text\", not \"$found\""
if ! drive wait-enabled "Firmware Upgrade" 1 10 || ! drive wait-enabled "Firmware Upgrade" 1003 10; then
  fail "Download and Upload Image are not enabled with the device found"
fi
pass "found by itself: \"$text\", Download and Upload Image enabled"
shot 02-found

drive set-text "Firmware Upgrade" 1001 "$(winpath "$package")" || fail "the folder cannot be typed in"
pass "folder typed in: $(winpath "$package")"
shot 03-folder

# download_confirmed [SHOT]: Download pressed and its question answered
# Yes; the box's text in `text`.
download_confirmed() {
  drive click "Firmware Upgrade" 1 || fail "Download cannot be pressed"
  text=$(drive wait-box Tamri "Sure to upgrade?" 30 2>&1) || fail "no confirmation box"
  [[ -n ${1:-} ]] && shot "$1" Tamri
  drive answer-box Tamri "Sure to upgrade?" Yes 30 >/dev/null || fail "the confirmation box cannot be answered"
}

# The device unplugged during the download. Its port stays open but
# silent, so the engine's step ends on the exchange's reply limit with
# "download error!"; meanwhile the device search has shown "Searching
# Device...". The device is plugged back only once the error is on the
# window, which then keeps it until the device is found again. Every text
# the window shows is recorded (watch-text, from before the download
# starts), not polled for at a moment: the device goes as soon as the
# first percentage is shown, however fast the download runs.
texts=$out/unplug-texts.log
drive watch-text "Firmware Upgrade" 1000 240 "download Nuvo" "download error!" "Found Device." >"$texts" \
  2>"$out/unplug-watch.log" &
watch_pid=$!
download_confirmed 04-confirm
pass "Download asks \"${text//$'\n'/ }\", answered Yes"
# watch_shows PATTERN SECONDS: true once the watch has recorded a text
# matching the extended regular expression PATTERN.
watch_shows() {
  local _
  for _ in $(seq $(($2 * 20))); do
    grep -Eq "^ *[0-9.]+ $1" "$texts" && return 0
    kill -0 "$watch_pid" 2>/dev/null || break
    sleep 0.05
  done
  grep -Eq "^ *[0-9.]+ $1" "$texts"
}
# What the watch recorded, one text a line, without its times.
watch_texts() { cut -c10- "$texts"; }
watch_shows 'download Nuvo [0-9]+%' 120 || fail "the download does not begin; the window showed: $(watch_texts | tr '\n' '|')"
unplugged=$EPOCHREALTIME
echo unplug >&7
shot 05-downloading
watch_shows 'download error!$' 60 ||
  fail "no \"download error!\" on the window after the unplug; it showed: $(watch_texts | tr '\n' '|')"
error_after=$(awk -v a="$unplugged" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
shot 05a-download-error
echo plug >&7
wait "$watch_pid" || fail "the device is not found again after it was plugged back: $(watch_texts | tr '\n' '|')"
# What the window showed after the download's last percentage, in order:
# the search's line, the error, and then nothing until the device was found.
shown=$(watch_texts | awk '/^download Nuvo [0-9]+%/ { n = 0; last = $0; next } { after[++n] = $0 }
  END { print last; for (i = 1; i <= n; i++) print after[i] }' | uniq)
unplugged_at=$(head -1 <<<"$shown" | sed 's/\\r$//')
story=$(tail -n +2 <<<"$shown" | tr '\n' '|')
story=${story%|}
[[ $story =~ ^Searching\ Device\.\.\.\|download\ error!\|Found\ Device\.[^|]*$ ]] ||
  fail "after the unplug the window showed \"$story\", not the search's line, \"download error!\" and the device found"
found_text_ok "$(tail -1 <<<"$shown")" || fail "the status reads \"$(tail -1 <<<"$shown")\", not \"$found\""
drive wait-enabled "Firmware Upgrade" 1 10 >/dev/null || fail "Download is not enabled again"
pass "unplugged at \"$unplugged_at\": the window showed \"${story//|/\" -> \"}\" (the error $error_after s after the unplug, kept until the device was plugged back and found; $(sed 's/^tamri-drive: //' "$out/unplug-watch.log"))"
shot 05b-found-after-unplug

download_confirmed
pass "Download tried again"
drive wait-text "Firmware Upgrade" 1000 "download Nuvo" 120 >/dev/null && shot 05c-downloading-again
text=$(drive wait-text "Firmware Upgrade" 1000 "download complete!" 900 2>&1) || fail "the download does not complete: $text"
pass "\"$text\""
shot 06-download-complete

cmp -s -n "$image_size" "$flash" "$package/NuvoDownload.bin" ||
  fail "the device's flash differs from the image: $(cmp -n "$image_size" "$flash" "$package/NuvoDownload.bin" 2>&1)"
pass "the device's flash holds the image, byte for byte"

text=$(drive wait-text "Firmware Upgrade" 1000 "Found Device." 180 2>&1) || fail "the device is not found again: $text"
found_text_ok "$text" || fail "the status reads \"$text\", not \"$found\""
drive wait-enabled "Firmware Upgrade" 1003 10 >/dev/null || fail "Upload Image is not enabled again"
pass "found again after the device re-enumerated: \"$text\""
shot 07-found-again

drive click "Firmware Upgrade" 1003 || fail "Upload Image cannot be pressed"
drive wait-text "Firmware Upgrade" 1000 "upload Nuvo" 120 >/dev/null && shot 08-uploading
text=$(drive wait-text "Firmware Upgrade" 1000 "upload complete!" 1800 2>&1) || fail "the upload does not complete: $text"
pass "Upload Image: \"$text\""
shot 09-upload-complete

cmp -s "$package/NuvoUpload.bin" "$flash" ||
  fail "NuvoUpload.bin differs from the device's flash: $(cmp "$package/NuvoUpload.bin" "$flash" 2>&1)"
pass "NuvoUpload.bin holds the device's $(stat -c %s "$flash") bytes of flash"

# A second copy: another window in front first, so that raising the first
# copy's window is seen.
"$WINE" notepad </dev/null >/dev/null 2>&1 &
other_pids+=($!)
drive wait-window "Untitled - Notepad" 60 >/dev/null || fail "notepad does not start"
for _ in $(seq 100); do [[ $(drive foreground) == "Untitled - Notepad" ]] && break; sleep 0.1; done
text=$(drive foreground)
[[ $text == "Untitled - Notepad" ]] || fail "notepad does not come to the front (the foreground window is \"$text\")"
"$WINE" "$tamri" </dev/null >"$out/tamri-second.log" 2>&1 &
second_pid=$!
other_pids+=("$second_pid")
ended=0
for _ in $(seq 600); do
  kill -0 "$second_pid" 2>/dev/null || { ended=1; break; }
  sleep 0.1
done
((ended)) || fail "the second Tamri.exe does not end by itself"
text=$(drive foreground)
[[ $text == "Firmware Upgrade" ]] || fail "the foreground window is \"$text\", not the first copy's window"
pass "a second Tamri.exe ends by itself and raises the first window"
shot 10-raised
drive close "Untitled - Notepad" >/dev/null

# A device of the diagnostic-mode class waits for its answer to the
# switch-off, at most ten seconds; it answers, and restarts as it answers,
# and the close ends on the answer and its reset steps (six seconds).
diag_version=$(grep -o '{"[^"]*", VersionKind::DiagSwitch}' "$source_dir/app/version_table.h" 2>/dev/null |
  head -1 | cut -d'"' -f2)
diag_version=${diag_version:-NV6246-DM-0310}
close_waits=0
grep -q "{\"$version\", VersionKind::DiagSwitch}" "$source_dir/app/version_table.h" && close_waits=1

# closed_as_expected LOG: the close of the window whose debug output is LOG
# ended as its device's class has it.
closed_as_expected() {
  if ((close_waits)); then
    closed_on_answer "$1" || fail "the close did not end on the device's answer ($closed_after s): $(grep 'TamriDlg:' "$1" | tr '\n' ' ')"
    pass "WM_CLOSE ends the window and the program on the device's answer to the switch-off, $closed_after s after the close (the limit is 10 s)"
  else
    pass "WM_CLOSE ends the window and the program ($closed_after s)"
  fi
}

close_window 30 || fail "Tamri.exe does not end after WM_CLOSE"
closed_as_expected "$out/tamri.log"
stop_device

if ((!close_waits)); then
  close_waits=1
  start_device nuvo-sim-diag-mode "$diag_version" "$out/flash-diag-mode.bin"
  start_window "$out/tamri-diag-mode.log"
  drive wait-window "Firmware Upgrade" 120 >/dev/null || fail "no window \"Firmware Upgrade\""
  text=$(drive wait-text "Firmware Upgrade" 1000 "Found Device." 180 2>&1) || fail "the device is not found: $text"
  [[ $text == "Found Device. $diag_version" ]] || fail "the status reads \"$text\", not \"Found Device. $diag_version\""
  pass "a device of the diagnostic-mode class is found: \"$text\""
  shot 11-diag-mode-found
  close_window 30 || fail "Tamri.exe does not end after WM_CLOSE"
  closed_as_expected "$out/tamri-diag-mode.log"
  stop_device
fi

finish
