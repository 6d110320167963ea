#!/usr/bin/env bash
# Runs every benchmark in bench/ briefly and prints one table: benchmark, our time, the baseline's time
# measured in the same run, their ratio, the goal (bench/goals.tsv) and whether it is met.
#   bash scripts/bench.sh            full sizes (1M-variable models; several minutes)
#   bash scripts/bench.sh --smoke    small sizes and few iterations: checks that every benchmark builds and runs
# Further arguments select benchmark programs by name (engine_bench, model_bench, ...).
set -euo pipefail
cd "$(dirname "$0")/.."
smoke=0
programs=()
for a in "$@"; do
  case "$a" in
    --smoke) smoke=1 ;;
    *) programs+=("$a") ;;
  esac
done
# NUV_BENCH_BUILD names another build tree (or a copy of one's bin/ and lib/, with NUV_BENCH_NOBUILD=1).
build=${NUV_BENCH_BUILD:-build/default}
[ -n "${NUV_BENCH_BUILD:-}" ] || cmake --preset default >/dev/null
mapfile -t all < <(sed -n 's/^ *nuv_add_benchmark(\([a-z_]*\).*/\1/p' bench/*/CMakeLists.txt | sort -u)
[ ${#programs[@]} -gt 0 ] || programs=("${all[@]}")
if [ -z "${NUV_BENCH_NOBUILD:-}" ]; then
  cmake --build "$build" -j "${NUV_BENCH_JOBS:-$(nproc)}" --target "${programs[@]}" >/dev/null
else
  export LD_LIBRARY_PATH=$(cd "$build" && pwd)/lib
fi
out=$build/bench
mkdir -p "$out"
args=(--benchmark_format=json)
if [ "$smoke" = 1 ]; then
  export NUV_BENCH_SMOKE=1
  args+=(--benchmark_min_time=0.001)
else
  args+=(--benchmark_min_time=0.2)
fi
# Extra arguments for every program, for example NUV_BENCH_ARGS=--benchmark_filter=Load.
[ -z "${NUV_BENCH_ARGS:-}" ] || args+=($NUV_BENCH_ARGS)
export NUV_BENCH_BIN=$(cd "$build" && pwd)/bin
status=0
for p in "${programs[@]}"; do
  [ -x "$build/bin/$p" ] || continue
  if ! "$build/bin/$p" "${args[@]}" >"$out/$p.json" 2>"$out/$p.log"; then
    echo "benchmark program $p failed:" >&2
    tail -n 20 "$out/$p.log" >&2
    status=1
  fi
done
python3 - "$out" bench/goals.tsv "${programs[*]}" "${all[*]}" <<'PY'
import json, re, sys
out, goals_path = sys.argv[1], sys.argv[2]
programs = sys.argv[3].split()
all_programs = sys.argv[4].split()
goals = []
for line in open(goals_path):
    if not line.strip() or line.startswith('#'):
        continue
    pattern, counter, limit, text = line.rstrip('\n').split('\t')
    goals.append((re.compile(pattern), counter, float(limit), text))
ratio_name = re.compile(r'(^ratio|_vs_|_over_|ratio$)')

def fmt_time(ns):
    if ns is None:
        return '-'
    for unit, scale in (('s', 1e9), ('ms', 1e6), ('us', 1e3)):
        if ns >= scale:
            return '%.3g %s' % (ns / scale, unit)
    return '%.3g ns' % ns

scale = {'ns': 1, 'us': 1e3, 'ms': 1e6, 's': 1e9}
rows = []
seen = set()
for p in programs:
    try:
        data = json.load(open('%s/%s.json' % (out, p)))
    except (OSError, ValueError):
        rows.append((p, 'did not run', '-', '-', '-', 'no'))
        continue
    for b in data.get('benchmarks', []):
        if b.get('run_type') == 'aggregate':
            continue
        name = b['name']
        counters = {k: v for k, v in b.items() if isinstance(v, (int, float)) and k not in (
            'iterations', 'real_time', 'cpu_time', 'family_index', 'per_family_instance_index',
            'repetitions', 'repetition_index', 'threads')}
        ours = counters.get('ours_ns')
        base = counters.get('baseline_ns')
        if ours is None:
            ours = b['real_time'] * scale.get(b.get('time_unit', 'ns'), 1)
        # One row for each goal the benchmark carries (or one row with its ratio when it has none).
        for goal in [g for g in goals if g[0].search(name)] or [None]:
            if goal:
                seen.add(goal)
                metric = goal[1]
            else:
                # A ratio, else the memory a benchmark measures per variable.
                metric = next((k for k in counters if ratio_name.search(k)),
                              'bytes_per_variable' if 'bytes_per_variable' in counters else None)
            value = counters.get(metric) if metric else None
            shown_base = base
            if shown_base is None and value and metric and ratio_name.search(metric) and 'bytes' not in metric:
                shown_base = ours / value
            shown = '-' if value is None else '%.3g' % value
            if metric and metric not in ('ratio', 'ratio_to_baseline'):
                shown += ' (%s)' % metric
            if goal:
                met = 'yes' if value is not None and value <= goal[2] else 'no'
                rows.append((name, fmt_time(ours), fmt_time(shown_base), shown, goal[3], met))
            else:
                rows.append((name, fmt_time(ours), fmt_time(shown_base), shown, '-', '-'))
if set(programs) >= set(all_programs):
    for g in goals:
        if g not in seen:
            rows.append((g[0].pattern, 'not measured', '-', '-', g[3], 'no'))
head = ('benchmark', 'ours', 'baseline', 'ratio', 'goal', 'met')
width = [max(len(str(r[i])) for r in rows + [head]) for i in range(6)]
for r in [head, tuple('-' * w for w in width)] + rows:
    print(' | '.join(str(c).ljust(w) for c, w in zip(r, width)).rstrip())
PY
exit $status
