#!/usr/bin/env bash
# The end-to-end scripts' VBScript and JScript twins (tests/e2e/*.vbs, *.js): the Windows build of the host
# runs each against the example plant in the platform's own script engines under wine, with the Windows
# build of the system library and the engine. Builds only what the host needs in the windows preset's
# tree and wine prefix, which the suites' step shares (ninja redoes nothing it built). Skips with the reason when the
# cross compiler or wine is missing, or wine cannot start here.
set -euo pipefail
cd "$(dirname "$0")/../.."
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  echo "windows-scripts: skipped, x86_64-w64-mingw32-g++-posix is not installed"
  exit 0
fi
wine=""
for candidate in wine64 /usr/lib/wine/wine64 wine; do
  if command -v "$candidate" >/dev/null 2>&1; then wine=$candidate; break; fi
done
if [ -z "$wine" ]; then
  echo "windows-scripts: skipped, wine is not installed"
  exit 0
fi

if ! grep -q '"name": "windows"' CMakePresets.json; then
  echo "windows-scripts: skipped, there is no windows preset"
  exit 0
fi
out=build/windows
mkdir -p build/logs
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target nuvhost >build/logs/windows-host-build.log 2>&1 ||
  { tail -n 60 build/logs/windows-host-build.log; exit 1; }

export LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8 WINEPREFIX="$PWD/$out/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The first start of a prefix sets it up (slow); a failure here means wine cannot run in this environment.
if ! timeout 300 "$wine" cmd /c exit >/dev/null 2>&1; then
  echo "windows-scripts: skipped, wine could not start"
  exit 0
fi

failed=0
passed=0
for script in tests/e2e/*.vbs tests/e2e/*.js; do
  [ -e "$script" ] || continue
  set +e
  report=$(timeout 300 "$wine" "$out/bin/nuvhost.exe" examples/plant.model "$script" 2>&1 | tr -d '\r')
  status=$?
  set -e
  if [ "$status" -eq 0 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "--- $script failed (exit $status):"
    grep -E -e '^FAIL ' -e ': Error 0x' -e 'failure\(s\)' -e '^nuvhost: ' <<<"$report" || tail -n 20 <<<"$report"
  fi
done
echo "windows-scripts: $passed script(s) passed, $failed failed"
[ "$failed" -eq 0 ]
