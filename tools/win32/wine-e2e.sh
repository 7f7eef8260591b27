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
# box -> Download -> the confirmation answered Yes -> "download complete!" ->
# the device's flash equals the image byte for byte -> the window finds the
# device again after it re-enumerates -> Upload Image -> "upload complete!"
# -> NuvoUpload.bin equals the flash -> a second Tamri.exe ends by itself
# and raises the first window -> WM_CLOSE ends the program. Screenshots of
# every stage go to BUILD_DIR/wine-e2e/*.png, with the logs. The last line
# says "N passed, M failed"; the exit code is non-zero on any failure, and
# a time limit guards the whole run and every step.
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
  tail -5 "$out/nuvo-sim.log" 2>/dev/null | sed 's/^/       /'
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

# The device, plugged in until its input ends.
mkfifo "$out/nuvo-sim.in"
"$WINE" "$stage/nuvo-sim.exe" --com 7 --profile single --version "$version" --flash "$(winpath "$flash")" \
  <"$out/nuvo-sim.in" >"$out/nuvo-sim.log" 2>&1 &
sim_pid=$!
exec 7>"$out/nuvo-sim.in"
for _ in $(seq 600); do
  grep -q "serving until" "$out/nuvo-sim.log" 2>/dev/null && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
grep -q "serving until" "$out/nuvo-sim.log" || fail "the simulated device does not start"
pass "simulated device on COM7 (modem port COM8), version $version"

# Its ports in the registry's serial-port map, as the system lists them.
map=$(timeout 60 "$WINE" reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' </dev/null 2>&1 | tr -d '\r')
for com in 7 8; do
  grep -Eq "QCUSB_COM${com}_0 +REG_SZ +COM${com}\$" <<<"$map" ||
    fail "the serial-port map lacks COM$com: $(tr '\n' ' ' <<<"$map")"
done
pass "the serial-port map lists \\Device\\QCUSB_COM7_0 -> COM7 and \\Device\\QCUSB_COM8_0 -> COM8"

"$WINE" "$tamri" </dev/null >"$out/tamri.log" 2>&1 &
tamri_pid=$!

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

drive click "Firmware Upgrade" 1 || fail "Download cannot be pressed"
text=$(drive wait-box Tamri "Sure to upgrade?" 30 2>&1) || fail "no confirmation box"
shot 04-confirm Tamri
drive answer-box Tamri "Sure to upgrade?" Yes 30 >/dev/null || fail "the confirmation box cannot be answered"
pass "Download asks \"${text//$'\n'/ }\", answered Yes"

drive wait-text "Firmware Upgrade" 1000 "download Nuvo" 120 >/dev/null && shot 05-downloading
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

drive close "Firmware Upgrade" || fail "the window cannot be closed"
ended=0
for _ in $(seq 300); do
  kill -0 "$tamri_pid" 2>/dev/null || { ended=1; break; }
  sleep 0.1
done
((ended)) || fail "Tamri.exe does not end after WM_CLOSE"
tamri_pid=""
pass "WM_CLOSE ends the window and the program"

exec 7>&-
ended=0
for _ in $(seq 300); do
  kill -0 "$sim_pid" 2>/dev/null || { ended=1; break; }
  sleep 0.1
done
((ended)) || fail "the simulated device does not stop"
wait "$sim_pid"
status=$?
sim_pid=""
((status == 0)) || fail "the simulated device ends with $status: $(tail -2 "$out/nuvo-sim.log")"
pass "the simulated device stops: $(tail -2 "$out/nuvo-sim.log" | head -1 | sed 's/^nuvo-sim: //')"

finish
