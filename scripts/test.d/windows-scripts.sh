#!/usr/bin/env bash
# The end-to-end scripts' VBScript and JScript twins (tests/e2e/*.vbs, *.js): the Windows build of the host
# runs each against the example plant in the platform's own script engines under wine, with the Windows
# build of the system library and the engine. Builds only what the host needs in the windows preset's
# tree and wine prefix, which the suites' step shares (ninja redoes nothing it built). Fails with the reason when the
# cross compiler, widl or wine is missing, or wine cannot start here; NUV_SKIP_WINDOWS=1 skips it.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/test.d/windows.inc
windows_step windows-scripts x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-widl
out=build/windows
mkdir -p build/logs
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target nuvhost >build/logs/windows-host-build.log 2>&1 ||
  { tail -n 60 build/logs/windows-host-build.log; exit 1; }

export WINEPREFIX="$PWD/$out/wine"
# The first start of a prefix sets it up (slow); a failure here means wine cannot run in this environment.
timeout 300 "$wine" cmd /c exit >/dev/null 2>&1 || wine_fails "start a prefix"


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
