#!/bin/bash
# Runs the cases about names beyond ASCII of a mingw build under wine with
# the ANSI code page 936 (Chinese PRC, the language of the string table), in
# a prefix of their own:
#   tools/win32/wine-codepage-test.sh build/mingw
# There the narrow names that the program and fopen take are GBK bytes,
# which the standard library's narrow paths read as other names.
#
# Wine takes the ANSI code page from the Unix locale (LANG, LC_ALL), and
# that locale must exist: without it wine keeps the code page's number but
# turns every name beyond ASCII into other letters on the disk. Where the
# system has no zh_CN.UTF-8, it is built into the build folder from the
# locales package's sources (localedef; neither root nor locale-gen needed).
set -euo pipefail

build=$(cd "${1:?usage: wine-codepage-test.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-common.sh"
arch=$(wine_build_arch "$build")
if [[ $arch == win32 ]] && ! wine_runs_win32; then
  echo "wine-codepage-test: this machine cannot start 32-bit wine; test the 64-bit build instead" >&2
  exit 1
fi

locale=zh_CN.UTF-8
if ! locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8'; then
  if [[ ! -f "$build/locale/$locale/LC_CTYPE" ]]; then
    mkdir -p "$build/locale"
    if ! localedef -i zh_CN -f UTF-8 "$build/locale/$locale" >/dev/null 2>&1 ||
      [[ ! -f "$build/locale/$locale/LC_CTYPE" ]]; then
      echo "wine-codepage-test: cannot build the locale $locale: it needs the locales package;" \
        "scripts/install-deps.sh --windows installs it" >&2
      exit 1
    fi
  fi
  export LOCPATH="$build/locale"
fi
# Bash itself would warn that it has no such locale: its own lookup does not
# see LOCPATH; the programs it starts do.
export LANG=$locale LC_ALL=$locale 2>/dev/null

wine_env "$build/wineprefix-cp936" "$arch"
run_flag=()
[[ $arch == win64 ]] && run_flag=(--win64)
trap 'wineserver -k 2>/dev/null' EXIT

"$here/wine-run.sh" "${run_flag[@]}" "$WINEPREFIX" cmd /c exit </dev/null >/dev/null 2>&1
acp=$("$WINE" reg query 'HKLM\System\CurrentControlSet\Control\Nls\CodePage' /v ACP </dev/null 2>/dev/null |
  tr -d '\r' | awk '$1 == "ACP" { print $3 }')
if [[ $acp != 936 ]]; then
  echo "wine-codepage-test: the prefix's ANSI code page is '$acp', not 936" >&2
  exit 1
fi

failed=0
for program in tests/platform/plat_tests tests/app/app_tests; do
  echo "=== $program under code page 936 ==="
  if ! output=$("$here/wine-run.sh" "${run_flag[@]}" "$WINEPREFIX" "$build/$program.exe" \
    --gtest_filter='*BeyondAscii*' </dev/null 2>&1); then
    failed=1
  fi
  printf '%s\n' "$output"
  # A filter that matches nothing passes too: that is a failure here.
  grep -q '^\[==========\] [1-9][0-9]* tests\? from .* ran\.' <<<"$output" || failed=1
done
exit $failed
