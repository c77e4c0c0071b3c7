#!/usr/bin/env bash
# Runs the benchmark: the shared real logs (when present) and synthetic logs
# of 10^4, 10^5 and 10^6 rows. Writes bench/RESULTS.md.
#   bench/run.sh RELEASE_BUILD_DIR [REFERENCE_CAP_SECONDS]
set -euo pipefail
build=${1:-build-release}
cap=${2:-300}
here=$(cd "$(dirname "$0")" && pwd)
data="$build/bench-data"
mkdir -p "$data"

sets=()
shared="$here/../../shared/data"
if [ -d "$shared" ]; then
    for f in receipt groceries retail; do
        [ -s "$data/$f.tsv" ] || gzip -dc "$shared/$f.tsv.gz" > "$data/$f.tsv"
    done
    sets+=("receipt=$data/receipt.tsv:20:0" "groceries=$data/groceries.tsv:50:0"
           "retail=$data/retail.tsv:500:0" "retail-lighter=$data/retail.tsv:1000:0")
else
    skipped="../shared/data is absent: the real logs (receipt, groceries, retail) are skipped"
    echo "bench: $skipped"
fi
for rows in 10000 100000 1000000; do
    [ -s "$data/synthetic-$rows.tsv" ] || "$build/bench/quorvel-gen" "$rows" $((rows / 10)) 1000 42 > "$data/synthetic-$rows.tsv"
done

sets+=("synthetic-1e4=$data/synthetic-10000.tsv:20:0"
       "synthetic-1e5=$data/synthetic-100000.tsv:100:30"
       "synthetic-1e6=$data/synthetic-1000000.tsv:500:30")

results=$("$build/bench/quorvel-bench" "$cap" "${sets[@]}")
echo "$results"
whole=$("$here/runs.sh" "$build")
echo "$whole"
counting=$("$here/counting.sh" "$build")
echo "$counting"
guard=$("$here/guard.sh" "$build")
echo "$guard"
{
    echo "# Benchmark results"
    echo
    echo "Produced by \`make bench\` on $(date -u +%Y-%m-%d)."
    if [ -n "${skipped:-}" ]; then echo; echo "**Note: $skipped.**"; echo; fi
    echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores, $(free -g | awk '/Mem:/ {print $2}') GiB;"
    echo "Release build ($(g++ --version | head -1)). Each run is a process of its own;"
    echo "peak RSS is that process's."
    echo
    echo "## Stages, against the plain reference"
    echo
    echo "The reference is the plain miner kept under tests/ (every candidate counted by"
    echo "scanning every history), capped at $cap s. \"mining\" is index + item sets + rule"
    echo "counting + statistics; one thread."
    echo
    echo "$results"
    echo
    echo "## Whole runs, against the previous build"
    echo
    echo "\`quorvel-rules\` as a user runs it, against the build of revision $(cat "$here/BASE")"
    echo "(bench/BASE); median of ${BENCH_RUNS:-3} runs after one not counted. The 5 M-row logs are"
    echo "receipt scaled up by bench/scale.cpp: 610 plain copies, and 642 copies that each drop"
    echo "10 % of the rows, repeat 5 % and shift their times. Read-only runs use a count above"
    echo "the number of subjects. Outputs (rules and item sets) are compared byte for byte."
    echo
    echo "$whole"
    echo
    printf '%s\n%s\n' "$results" "$whole" | "$here/targets.sh"
    echo
    echo "## Rule counting on logs whose histories differ"
    echo
    echo "$counting"
    echo
    echo "## The memory guard on a hopeless level"
    echo
    echo "1,000 subjects of 1,000 items of their own at -c 1 (bench/guard.sh): how much work"
    echo "the run does before it stops with status 2."
    echo
    echo "$guard"
} > "$here/RESULTS.md"
