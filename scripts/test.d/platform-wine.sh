#!/usr/bin/env bash
# Cross-check of the platform layer: the conformance tables of tests/platform/conformance, built with
# mingw-w64 against the real platform's headers and libraries and run under wine, must pass there as
# they pass against our own layer. Skips with the reason when the cross compiler or wine is missing or
# wine cannot start in this environment.
set -euo pipefail
cd "$(dirname "$0")/../.."
out=build/platform-wine
mkdir -p "$out" build/windows  # the wine prefix is shared with the Windows build steps

cxx=x86_64-w64-mingw32-g++
if ! command -v "$cxx" >/dev/null; then
  echo "platform-wine: skipped, $cxx is not installed"
  exit 0
fi
wine=""
for candidate in wine64 /usr/lib/wine/wine64 wine; do
  if command -v "$candidate" >/dev/null 2>&1; then wine=$candidate; break; fi
done
if [ -z "$wine" ]; then
  echo "platform-wine: skipped, wine is not installed"
  exit 0
fi

printf '#include "check.h"\nCHECK_MAIN_\n' >"$out/main_windows.cpp"
"$cxx" -std=c++20 -O1 -Wall -Wextra -Werror -I tests/platform/conformance \
  "$out/main_windows.cpp" tests/platform/conformance/*.cpp \
  -o "$out/conformance.exe" -static -loleaut32 -lole32 -luuid

export LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8 WINEPREFIX="$PWD/build/windows/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
set +e
report=$(timeout 300 "$wine" "$out/conformance.exe" 2>&1 | tr -d '\r')
status=$?
set -e
# The runner starts with "cases: <n>" and ends with "<n> failure(s)". Without the first line the
# program never ran (wine cannot start here); with it but without the last, a case crashed.
if ! grep -qE '^cases: [0-9]+' <<<"$report"; then
  echo "platform-wine: skipped, wine could not run the test program (exit $status):"
  tail -5 <<<"$report"
  exit 0
fi
if ! grep -qE '^[0-9]+ failure\(s\)' <<<"$report"; then
  echo "platform-wine: the test program crashed (exit $status) in:"
  grep -E '^[A-Za-z0-9_]+\.[A-Za-z0-9_]+ \.\.\.$' <<<"$report" | tail -1
  tail -5 <<<"$report"
  exit 1
fi
grep -v -E -e '^ok ' -e '^wine: ' -e '^[A-Za-z0-9_]+\.[A-Za-z0-9_]+ \.\.\.$' -e '^cases: ' <<<"$report" || true
echo "platform-wine: $(grep -c '^ok ' <<<"$report") cases passed"
exit "$status"
