#!/usr/bin/env bash
# Whole runs of quorvel-rules against the build of a previous revision
# (bench/BASE): the real logs and process logs of millions of rows scaled up
# from receipt. Prints a Markdown table and the targets it measures.
#   bench/runs.sh RELEASE_BUILD_DIR
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
data="$build/bench-data"
shared="$root/../shared/data"
bench="$build/bench/quorvel-bench"
new="$build/quorvel-rules"
runs=${BENCH_RUNS:-3}
mkdir -p "$data"

if [ ! -d "$shared" ]; then
    echo "bench: ../shared/data is absent: the process-log runs are skipped"
    exit 0
fi
for f in receipt groceries retail; do
    [ -s "$data/$f.tsv" ] || gzip -dc "$shared/$f.tsv.gz" > "$data/$f.tsv"
done
# 5 M rows each: plain copies, and copies that drop 10 % of rows, repeat 5 %
# and shift their times, so that counting equal histories once cannot make
# the log trivial.
[ -s "$data/receipt-x610.tsv" ] || "$build/bench/quorvel-scale" 610 0 0 1 < "$data/receipt.tsv" > "$data/receipt-x610.tsv"
[ -s "$data/receipt-noisy.tsv" ] || "$build/bench/quorvel-scale" 642 0.1 0.05 7 < "$data/receipt.tsv" > "$data/receipt-noisy.tsv"

# The previous build, from its own checkout.
# shellcheck source=bench/base-build.sh
. "$here/base-build.sh"
rev=$(cat "$here/BASE")
base=$(baseBuild "$rev" "$build" "$root")
[ -n "$base" ] || { echo "bench: cannot check out the previous build ($rev)"; exit 0; }

rows() { echo $(($(wc -l < "$1") - 1)); }

echo "| run | rows | MB | previous s | -j 1 s | speed-up | -j 2 s | -j 2 over -j 1 | previous peak MB | -j 1 peak MB | bytes per row | output vs previous |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|"
# NAME FILE OPTIONS...
run() {
    local name=$1 file=$2
    shift 2
    local out="$data/out-$name"
    mkdir -p "$out"
    read -r tb pb < <("$bench" --time "$runs" "$base" "$@" "$file" "$out/base-rules" "$out/base-sets")
    read -r t1 p1 < <("$bench" --time "$runs" "$new" -j 1 "$@" "$file" "$out/j1-rules" "$out/j1-sets")
    read -r t2 p2 < <("$bench" --time "$runs" "$new" -j 2 "$@" "$file" "$out/j2-rules" "$out/j2-sets")
    local same=identical
    for side in j1 j2; do
        cmp -s "$out/base-rules" "$out/$side-rules" && cmp -s "$out/base-sets" "$out/$side-sets" || same=DIFFERENT
    done
    local n mb
    n=$(rows "$file")
    mb=$(awk -v b="$(stat -c %s "$file")" 'BEGIN { printf "%.0f", b / 1e6 }')
    awk -v name="$name" -v n="$n" -v mb="$mb" -v tb="$tb" -v t1="$t1" -v t2="$t2" -v pb="$pb" -v p1="$p1" -v same="$same" 'BEGIN {
        printf "| %s | %d | %s | %.3f | %.3f | %.1f× | %.3f | %.2f× | %.0f | %.0f | %.0f | %s |\n",
            name, n, mb, tb, t1, tb / t1, t2, t1 / t2, pb / 1024, p1 / 1024, p1 * 1024 / n, same }'
}
# Read-only runs: a count above the subject count keeps no item.
run "retail read-only" "$data/retail.tsv" -c 4294967295
run "receipt x610 read-only" "$data/receipt-x610.tsv" -c 4294967295
run "retail@500" "$data/retail.tsv" -c 500
run "receipt x610 w0" "$data/receipt-x610.tsv" -c 12200
run "receipt x610 w86400" "$data/receipt-x610.tsv" -c 12200 -w 86400
run "receipt noisy w0" "$data/receipt-noisy.tsv" -c 12200
run "receipt noisy w86400" "$data/receipt-noisy.tsv" -c 12200 -w 86400

# Across processes: mpirun -np 2 with one thread each, against one process
# with one thread. The peak is the largest single process's.
if command -v mpirun > /dev/null 2>&1 && ldd "$new" | grep -q libmpi; then
    launcher=(mpirun -q --oversubscribe)
    [ "$(id -u)" = 0 ] && launcher+=(--allow-run-as-root)
    echo
    echo "| across processes | rows | one process s | mpirun -np 2 s | speed-up | one process peak MB | per process peak MB | share | output vs one process |"
    echo "|---|---|---|---|---|---|---|---|---|"
    across() {
        local name=$1 file=$2
        shift 2
        local out="$data/out-mpi-$name"
        mkdir -p "$out"
        read -r t1 p1 < <("$bench" --time "$runs" "$new" -j 1 "$@" "$file" "$out/one-rules" "$out/one-sets")
        read -r t2 p2 < <("$bench" --time "$runs" "${launcher[@]}" -np 2 "$new" -j 1 "$@" "$file" "$out/np2-rules" "$out/np2-sets")
        local same=identical
        cmp -s "$out/one-rules" "$out/np2-rules" && cmp -s "$out/one-sets" "$out/np2-sets" || same=DIFFERENT
        awk -v name="$name" -v n="$(rows "$file")" -v t1="$t1" -v t2="$t2" -v p1="$p1" -v p2="$p2" -v same="$same" 'BEGIN {
            printf "| %s | %d | %.3f | %.3f | %.2f× | %.0f | %.0f | %.0f %% | %s |\n",
                name, n, t1, t2, t1 / t2, p1 / 1024, p2 / 1024, 100 * p2 / p1, same }'
    }
    across "receipt x610 w0" "$data/receipt-x610.tsv" -c 12200
    across "receipt noisy w86400" "$data/receipt-noisy.tsv" -c 12200 -w 86400
else
    echo
    echo "bench: MPI is absent: the runs across processes are skipped"
fi
