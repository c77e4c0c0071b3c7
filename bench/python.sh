#!/usr/bin/env bash
# The Python API against the command line on one 5 M-row process log: the
# program reads the file and mines; Python is given the log as a DataFrame
# (read beforehand, not timed) and mines it. Medians of RUNS runs; peak
# memory (max RSS) of each, the DataFrame's included.
#   bench/python.sh BUILD [COUNT] [RUNS]
# Rules up to order 3: past it, at this count nearly every set of the log's
# 18 common activities is frequent, and the run is the lattice, not the API.
set -euo pipefail
build=$1
count=${2:-20000}
runs=${3:-3}
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3
if [ ! -f "$build/python/quorvel/__init__.py" ] || ! $python -c "import pandas" 2> /dev/null; then
    echo "The Python module or pandas is absent: the Python benchmark is skipped."
    exit 0
fi
log=$build/bench/process-5m.tsv
[ -s "$log" ] || "$build/bench/quorvel-procgen" 275000 24 7 > "$log"

median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
cliTimes=() cliMem=()
for ((r = 0; r < runs; r++)); do
    /usr/bin/time -f '%e %M' -o "$build/bench/time.txt" \
        "$build/quorvel-rules" -c "$count" -o 3 -w 1d --time-format=unix "$log" /dev/null 2> /dev/null
    read -r seconds kb < "$build/bench/time.txt"
    cliTimes+=("$seconds") cliMem+=("$kb")
done
pyOut=$(PYTHONPATH=$build/python $python - "$log" "$count" "$runs" << 'PY'
import resource, sys, time
import pandas as pd
import quorvel
path, count, runs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
frame = pd.read_csv(path, sep="\t", dtype={"case": "string", "activity": "category"})
frame["time"] = pd.to_datetime(frame["time"], unit="s")
for _ in range(runs):
    start = time.perf_counter()
    rules = quorvel.mine(frame, "case", "time", "activity", window="1d", min_count=count,
                         max_order=3)
    print(f"{time.perf_counter() - start:.2f}")
print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss, len(frame), len(rules))
PY
)
pyTimes=$(head -n "$runs" <<< "$pyOut")
read -r pyKb rows rules <<< "$(tail -1 <<< "$pyOut")"
cli=$(printf '%s\n' "${cliTimes[@]}" | median)
py=$(median <<< "$pyTimes")
echo "| path | rows | rules | median s | ratio to the program | peak memory |"
echo "|---|---:|---:|---:|---:|---:|"
echo "| quorvel-rules (file) | $rows | $rules | $cli | 1.00 | $(( $(printf '%s\n' "${cliMem[@]}" | median) / 1024 )) MB |"
echo "| quorvel.mine (DataFrame) | $rows | $rules | $py | $(awk -v a="$py" -v b="$cli" 'BEGIN {printf "%.2f", a / b}') | $((pyKb / 1024)) MB (DataFrame included) |"
