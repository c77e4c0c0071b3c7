#!/usr/bin/env bash
# How soon the memory guard stops a hopeless level: 1,000 subjects of
# 1,000 items of their own at -c 1 (5e11 candidate pairs, 5e8 kept), at
# the default budget and at -M4G. CPU seconds, so a busy machine reads
# the same; the median of three runs.
#   bench/guard.sh BUILD_DIR
set -euo pipefail
build=${1:-build-release}
data="$build/bench-data"
mkdir -p "$data"
wide="$data/hopeless-level.tsv"
[ -s "$wide" ] || awk 'BEGIN { print "subject\ttime\titem";
    for (s = 0; s < 1000; ++s) for (k = 0; k < 1000; ++k) printf "s%d\t1\ti%d_%d\n", s, s, k }' > "$wide"
echo "| budget | status | CPU s (median of 3) | wall s | peak RSS MB |"
echo "|---|---|---|---|---|"
for budget in default -M4G; do
    opts=()
    [ "$budget" = default ] || opts=("$budget")
    runs=()
    for _ in 1 2 3; do
        set +e
        /usr/bin/time -f '%U %S %e %M' -o "$data/guard.time" \
            "$build/quorvel-rules" ${opts[@]+"${opts[@]}"} -c 1 "$wide" "$data/guard-out.tsv" 2> /dev/null
        status=$?
        set -e
        read -r user sys wall rss <<< "$(tail -n 1 "$data/guard.time")"
        runs+=("$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }') $wall $rss")
    done
    mid=$(printf '%s\n' "${runs[@]}" | sort -n | sed -n 2p)
    read -r cpu wall rss <<< "$mid"
    echo "| $budget | $status | $cpu | $wall | $((rss / 1024)) |"
done
rm -f "$data/guard-out.tsv" "$data/guard.time"
