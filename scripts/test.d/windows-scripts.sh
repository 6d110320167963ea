#!/usr/bin/env bash
# The end-to-end scripts' VBScript and JScript twins (tests/e2e/*.vbs, *.js): the Windows build of the host
# runs each against the example plant in the platform's own script engines under wine, with the Windows
# build of the system library and the engine; then the host's own cases (tests/e2e/windows_host), below. Builds only what the host needs in the windows preset's
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

wine_prefix "$PWD/$out/wine"


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

# How the host treats scripts that fail or take arguments outside ASCII (tests/e2e/windows_host): each
# script (NAME.vbs, NAME.js) runs with the arguments its NAME.vbs.expected (NAME.js.expected) lists ("arg
# TEXT", one a line), and must end with the status of its "exit N" line and print the lines of its "line
# TEXT" (exactly) and "like PATTERN" (a shell pattern) in that order, none of its "absent TEXT" lines, and
# nothing of wine's own crash report. NUV_HOST_CASE_RUNS=N runs each case N times, to catch a fault that
# shows once in many runs.
host="$PWD/$out/bin/nuvhost.exe"
# run_case MODEL SCRIPT EXPECTED: checks one run; prints what went wrong and fails when it did.
run_case() {
  local model=$1 script=$2 expected=$3 want_exit=0 line report status i=0 missing=""
  local args=() lines=() absent=()
  while IFS= read -r line; do
    case $line in
      "exit "*) want_exit=${line#exit } ;;
      arg) args+=("") ;;
      "arg "*) args+=("${line#arg }") ;;
      "line "* | "like "*) lines+=("$line") ;;
      "absent "*) absent+=("${line#absent }") ;;
    esac
  done <"$expected"
  set +e
  report=$(timeout 300 "$wine" "$host" "$model" "$script" "${args[@]}" 2>&1 | tr -d '\r')
  status=$?
  set -e
  while IFS= read -r line && ((i < ${#lines[@]})); do
    case ${lines[i]} in
      "line "*) [[ $line == "${lines[i]#line }" ]] && i=$((i + 1)) ;;
      "like "*) [[ $line == ${lines[i]#like } ]] && i=$((i + 1)) ;;
    esac
  done <<<"$report"
  ((i < ${#lines[@]})) && missing="did not print the expected ${lines[i]}"
  for line in "${absent[@]}" "Unhandled" "page fault"; do
    grep -aqF -- "$line" <<<"$report" && missing="${missing:+$missing; }printed $line"
  done
  [ "$status" -eq "$want_exit" ] || missing="${missing:+$missing; }exit $status, expected $want_exit"
  [ -z "$missing" ] && return 0
  echo "--- $script: $missing; it printed:"
  echo "$report"
  return 1
}
runs=${NUV_HOST_CASE_RUNS:-1}
for script in tests/e2e/windows_host/*.vbs tests/e2e/windows_host/*.js; do
  for ((run = 0; run < runs; run++)); do
    if run_case examples/plant.model "$script" "$script.expected"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
  done
done
# Names outside ASCII: the model's (which the engine opens by its name in the ANSI code page), the
# script's (which the host opens by its UTF-16 name) and the system library's in NUVCLASS_PATH.
unicode="$out/host-cases/ünï Ω"
rm -rf "$out/host-cases"
mkdir -p "$unicode"
cp examples/plant.model "$unicode/plänt Ω.model"
cp tests/e2e/windows_host/arguments.vbs "$unicode/引数 ä.vbs"
cp "$out/bin/nuvclass.dll" "$unicode/nüvclass Ω.dll"
if NUVCLASS_PATH="$unicode/nüvclass Ω.dll" run_case "$unicode/plänt Ω.model" "$unicode/引数 ä.vbs" \
  tests/e2e/windows_host/arguments.vbs.expected; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi
echo "windows-scripts: $passed script(s) passed, $failed failed"
[ "$failed" -eq 0 ]
