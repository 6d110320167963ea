#!/usr/bin/env bash
# Cross-check of the platform layer: the conformance tables of tests/platform/conformance, built with
# mingw-w64 against the real platform's headers and libraries and run under wine, must pass there as
# they pass against our own layer. Fails with the reason when the cross compiler or wine is missing or
# wine cannot start here; NUV_SKIP_WINDOWS=1 skips it (scripts/test.d/windows.inc).
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/test.d/windows.inc
cxx=x86_64-w64-mingw32-g++-posix
windows_step platform-wine "$cxx"
out=build/platform-wine
mkdir -p "$out" build/windows  # the wine prefix is shared with the Windows build steps

printf '#include "check.h"\nCHECK_MAIN_\n' >"$out/main_windows.cpp"
"$cxx" -std=c++20 -O1 -Wall -Wextra -Werror -I tests/platform/conformance \
  "$out/main_windows.cpp" tests/platform/conformance/*.cpp \
  -o "$out/conformance.exe" -static -loleaut32 -lole32 -luuid

wine_prefix "$PWD/build/windows/wine"
# The runner starts with "cases: <n>" and ends with "<n> failure(s)". Without the first line the program
# never ran: what wine said is shown and the run is tried once more, with wine's error messages on; when it
# fails again, wine cannot run programs here. With the first line but without the last, a case crashed.
debug=$WINEDEBUG
for attempt in 1 2; do
  set +e
  report=$(WINEDEBUG=$debug timeout 300 "$wine" "$out/conformance.exe" 2>&1 | tr -d '\r')
  status=$?
  set -e
  grep -qE '^cases: [0-9]+' <<<"$report" && break
  echo "platform-wine: wine did not start the test program (attempt $attempt, exit $status); it said:"
  tail -n 20 <<<"$report"
  [ "$attempt" = 1 ] || wine_fails "run the test program"
  debug=fixme-all
done
if ! grep -qE '^[0-9]+ failure\(s\)' <<<"$report"; then
  echo "platform-wine: the test program crashed (exit $status) in:"
  grep -E '^[A-Za-z0-9_]+\.[A-Za-z0-9_]+ \.\.\.$' <<<"$report" | tail -1
  tail -5 <<<"$report"
  exit 1
fi
grep -v -E -e '^ok ' -e '^wine: ' -e '^[A-Za-z0-9_]+\.[A-Za-z0-9_]+ \.\.\.$' -e '^cases: ' <<<"$report" || true
echo "platform-wine: $(grep -c '^ok ' <<<"$report") cases passed"
exit "$status"
