#!/usr/bin/env bash
# Rule counting on logs whose histories differ: a generated process log
# shaped like a loan-application log, and IBM-style baskets (T10 I4 D100K),
# against the build before the mask counting (bench/BASE-COUNTING) and,
# for item sets alone, Borgelt's miners when ../shared/peers holds them.
# Medians of alternated runs. Prints Markdown.
#   bench/counting.sh RELEASE_BUILD_DIR
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
data="$build/bench-data"
bench="$build/bench/quorvel-bench"
new="$build/quorvel-rules"
runs=${BENCH_RUNS:-5}
mkdir -p "$data"

proc="$data/process-13087.tsv"
[ -s "$proc" ] || "$build/bench/quorvel-procgen" 13087 24 7 > "$proc"
baskets="$data/t10i4d100k.tsv"
[ -s "$baskets" ] || "$build/bench/quorvel-quest" 100000 10 4 1000 2000 1 > "$baskets"

# The build before, from its own checkout.
# shellcheck source=bench/base-build.sh
. "$here/base-build.sh"
rev=$(cat "$here/BASE-COUNTING")
base=$(baseBuild "$rev" "$build" "$root" -DQUORVEL_MPI=OFF)
[ -n "$base" ] || { echo "bench: cannot check out the build before ($rev)"; exit 0; }

# Borgelt's eclat, fpgrowth and apriori, built outside the tree from the shared sources.
peers=""
tarball="$root/../shared/peers/borgelt-fim.tar.gz"
if [ -f "$tarball" ]; then
    peers="$build/peers"
    if [ ! -x "$peers/eclat/src/eclat" ] || [ ! -x "$peers/fpgrowth/src/fpgrowth" ] ||
        [ ! -x "$peers/apriori/src/apriori" ]; then
        mkdir -p "$peers" && tar -xzf "$tarball" -C "$peers"
        for miner in eclat fpgrowth apriori; do
            (cd "$peers/$miner/src" && make > /dev/null 2>&1) || true
        done
    fi
else
    echo "bench: ../shared/peers is absent: the peer miners are not run"
fi
# A subject's whole history as one line of items, as the peers read it.
asBaskets() {
    awk -F'\t' 'NR > 1 { for (i = 3; i <= NF; ++i) if ($i != "") { k = $1 SUBSEP $i; if (!(k in seen)) { seen[k] = 1; line[$1] = line[$1] " " $i } } }
        END { for (s in line) print substr(line[s], 2) }' "$1"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# Seconds of one run: COMMAND...
seconds() { "$bench" --time 1 "$@" | awk '{ print $1 }'; }

# NAME FILE OPTIONS...: the build before and this one (-j 1, -j 2), alternated.
declare -A T
row() {
    local name=$1 file=$2
    shift 2
    local out="$data/out-count-$name" b=() one=() two=()
    mkdir -p "$out"
    for ((k = 0; k < runs; ++k)); do
        b+=("$(seconds "$base" -j 1 "$@" "$file" "$out/base-rules" "$out/base-sets")")
        one+=("$(seconds "$new" -j 1 "$@" "$file" "$out/j1-rules" "$out/j1-sets")")
        two+=("$(seconds "$new" -j 2 "$@" "$file" "$out/j2-rules" "$out/j2-sets")")
    done
    local tb t1 t2 same=identical
    tb=$(printf '%s\n' "${b[@]}" | median)
    t1=$(printf '%s\n' "${one[@]}" | median)
    t2=$(printf '%s\n' "${two[@]}" | median)
    for side in j1 j2; do
        cmp -s "$out/base-rules" "$out/$side-rules" && cmp -s "$out/base-sets" "$out/$side-sets" || same=DIFFERENT
    done
    local sets sizes
    sets=$(($(wc -l < "$out/j1-sets") - 1))
    sizes=$(awk -F'\t' 'NR > 1 { n = gsub(/,/, ",", $2) + 1; if (n > m) m = n } END { print m + 0 }' "$out/j1-sets")
    T[$name]=$t1
    T[$name-base]=$tb
    T[$name-j2]=$t2
    T[$name-same]=$same
    awk -v n="$name" -v s="$sets" -v z="$sizes" -v r="$(($(wc -l < "$out/j1-rules") - 1))" -v tb="$tb" -v t1="$t1" -v t2="$t2" -v same="$same" 'BEGIN {
        printf "| %s | %d | %d | %d | %.3f | %.3f | %.1f× | %.3f | %.2f× | %s |\n", n, s, z, r, tb, t1, tb / t1, t2, t1 / t2, same }'
}

# NAME MINER FILE SUPPORT: the peer's median seconds for the item sets.
peer() {
    local t=()
    for ((k = 0; k < runs; ++k)); do
        t+=("$(seconds "$2" "-s-$4" "$3" "$data/peer-out")")
    done
    printf '%s\n' "${t[@]}" | median
}

echo "Process log: $(($(wc -l < "$proc") - 1)) events, 13,087 cases, 24 activities, times in seconds (bench/procgen.cpp)."
echo "Baskets: 100,000 in the manner of T10 I4 D100K (bench/quest.cpp). Previous build: $rev. Median of $runs alternated runs."
echo
echo "| run | item sets | largest | rules | $rev -j 1 s | -j 1 s | speed-up | -j 2 s | -j 2 over -j 1 | output vs $rev |"
echo "|---|---|---|---|---|---|---|---|---|---|"
row "process read-only" "$proc" -c 4294967295
row "process c2700 w0" "$proc" -c 2700
row "process c2700 w86400" "$proc" -c 2700 -w 86400
row "process c3500 w0" "$proc" -c 3500
row "process c3500 w86400" "$proc" -c 3500 -w 86400
row "t10i4d100k c500" "$baskets" -c 500

eclat="" fpgrowth="" apriori=""
if [ -n "$peers" ] && [ -x "$peers/eclat/src/eclat" ]; then
    asBaskets "$baskets" > "$data/t10i4d100k.dat"
    asBaskets "$proc" > "$data/process.dat"
    eclat=$(peer eclat "$peers/eclat/src/eclat" "$data/t10i4d100k.dat" 500)
    fpgrowth=$(peer fpgrowth "$peers/fpgrowth/src/fpgrowth" "$data/t10i4d100k.dat" 500)
    [ -x "$peers/apriori/src/apriori" ] &&
        apriori=$(peer apriori "$peers/apriori/src/apriori" "$data/t10i4d100k.dat" 500)
    peclat=$(peer eclat "$peers/eclat/src/eclat" "$data/process.dat" 2700)
    echo
    echo "Peers, item sets only (no rules, no times): t10i4d100k at 500: eclat $eclat s, fpgrowth $fpgrowth s, apriori ${apriori:-not built} s; the process log at 2700: eclat $peclat s."
fi

echo
echo "### Targets"
echo
read_only=${T[process read-only]}
for name in "process c2700 w0" "process c2700 w86400" "process c3500 w0" "process c3500 w86400"; do
    awk -v n="$name" -v t="${T[$name]}" -v r="$read_only" -v b="${T[$name-base]}" -v t2="${T[$name-j2]}" 'BEGIN {
        printf "- %s: full run %.1f× the read-only run (target 3×: %s); %.1f× faster than the previous build (target 8×: %s); -j 2 %.2f× over -j 1 (target 1.7×: %s).\n",
            n, t / r, (t / r <= 3) ? "met" : "not met", b / t, (b / t >= 8) ? "met" : "not met", t / t2, (t / t2 >= 1.7) ? "met" : "not met" }'
done
if [ -n "$eclat" ]; then
    awk -v t="${T[t10i4d100k c500]}" -v e="$eclat" -v f="$fpgrowth" -v a="$apriori" 'BEGIN {
        best = e < f ? e : f
        printf "- t10i4d100k at 500 within 1.5× of eclat: %.2f× (%s); of the faster of eclat and fpgrowth: %.2f× (%s)", t / e, (t / e <= 1.5) ? "met" : "not met", t / best, (t / best <= 1.5) ? "met" : "not met"
        if (a != "")
            printf "; of apriori: %.2f× (%s)", t / a, (t / a <= 1.5) ? "met" : "not met"
        printf ".\n" }'
fi
same=identical
for k in "${!T[@]}"; do [[ $k == *-same ]] && [ "${T[$k]}" != identical ] && same=DIFFERENT; done
echo "- Tables identical to the previous build on every run above: $same."

# NAME FILE OPTIONS...: this build with and without OPTIONS' last word
# (--delays), alternated, -j 2.
declare -A D
withDelays() {
    local name=$1 file=$2
    shift 2
    local out="$data/out-delays-$name" without=() with=()
    mkdir -p "$out"
    for ((k = 0; k < runs; ++k)); do
        without+=("$(seconds "$new" -j 2 "$@" "$file" "$out/rules" "$out/sets")")
        with+=("$(seconds "$new" -j 2 "$@" --delays "$file" "$out/rules" "$out/sets")")
    done
    local t0 t1
    t0=$(printf '%s\n' "${without[@]}" | median)
    t1=$(printf '%s\n' "${with[@]}" | median)
    awk -v n="$name" -v a="$t0" -v b="$t1" 'BEGIN {
        printf "| %s | %.3f | %.3f | %.2f× | %s |\n", n, a, b, b / a, (b / a <= 1.5) ? "met" : "not met" }'
}
echo
echo "### Delays (--delays), -j 2"
echo
echo "| run | without s | with s | ratio | target 1.5× |"
echo "|---|---|---|---|---|"
withDelays "process c2700 w0" "$proc" -c 2700
withDelays "process c2700 w86400" "$proc" -c 2700 -w 86400
withDelays "process c3500 w0" "$proc" -c 3500
withDelays "process c3500 w86400" "$proc" -c 3500 -w 86400
echo
echo "Without a window the rules are counted by bitsets of the subjects, a word for 64 of them; a delay is one number per subject observing the rule (5.9 million at c2700), each read off a walk of its history, so there the cost is that of the walk, not of the count."

# NAME FILE SUBSEQUENT OPTIONS...: the rules leading to SUBSEQUENT with
# --subsequent and no item-set table, against the whole run filtered,
# alternated, -j 1.
constrained() {
    local name=$1 file=$2 item=$3
    shift 3
    local out="$data/out-outcome-$name" whole=() only=()
    mkdir -p "$out"
    for ((k = 0; k < runs; ++k)); do
        whole+=("$(seconds "$new" -j 1 "$@" "$file" "$out/all")")
        only+=("$(seconds "$new" -j 1 "$@" "--subsequent=$item" "$file" "$out/only")")
    done
    local t0 t1 same=identical
    t0=$(printf '%s\n' "${whole[@]}" | median)
    t1=$(printf '%s\n' "${only[@]}" | median)
    awk -F'\t' -v b="$item" 'NR == 1 || substr($1, length($1) - length(b) - 3) == " => " b' \
        "$out/all" | cmp -s - "$out/only" || same=DIFFERENT
    awk -v n="$name" -v a="$t0" -v b="$t1" -v s="$same" 'BEGIN {
        printf "| %s | %.3f | %.3f | %.1f× | %s | %s |\n", n, a, b, a / b, (a / b >= 3) ? "met" : "not met", s }'
}
echo
echo "### Outcome rules (--subsequent, no item-set table), -j 1"
echo
echo "| run | every rule s | one subsequent s | speed-up | target 3× | rules vs the whole run filtered |"
echo "|---|---|---|---|---|---|"
constrained "process c262 w0 A22 (5 % of cases)" "$proc" A22 -c 262
constrained "process c262 w0 A9 (31 %)" "$proc" A9 -c 262
constrained "process c262 w86400 A9 (31 %)" "$proc" A9 -c 262 -w 86400
echo
echo "A subsequent held by many cases keeps most sets: each set that some of them join with it often enough may be the antecedent of a kept rule, so the item sets, most of such a run, are still built."

# NAME FILE EXTRA OPTIONS...: this build with OPTIONS and with OPTIONS and
# EXTRA (one word), alternated, -j 2.
withOption() {
    local name=$1 file=$2 extra=$3
    shift 3
    local out="$data/out-option-$name" without=() with=()
    mkdir -p "$out"
    for ((k = 0; k < runs; ++k)); do
        without+=("$(seconds "$new" -j 2 "$@" "$file" "$out/rules" "$out/sets")")
        with+=("$(seconds "$new" -j 2 "$@" "$extra" "$file" "$out/rules" "$out/sets")")
    done
    local t0 t1
    t0=$(printf '%s\n' "${without[@]}" | median)
    t1=$(printf '%s\n' "${with[@]}" | median)
    awk -v n="$name" -v x="$extra" -v a="$t0" -v b="$t1" 'BEGIN {
        printf "| %s | %s | %.3f | %.3f | %.2f× |\n", n, x, a, b, b / a }'
}
echo
echo "### Rules that hold up, -j 2"
echo
echo "| run | option | without s | with s | ratio |"
echo "|---|---|---|---|---|"
withOption "process c2700 w0" "$proc" --max-p=0.05 -c 2700
withOption "process c2700 w86400" "$proc" --max-p=0.05 -c 2700 -w 86400
withOption "process c262 w0" "$proc" --max-p=0.05 -c 262
withOption "process c262 w86400" "$proc" --max-p=0.05 -c 262 -w 86400
withOption "process c262 w0" "$proc" --p-values=dependence -c 262
withOption "process c262 w0" "$proc" --productive -c 262
echo
echo "--max-p tests the order too: each subject holding a rule's items is walked again for the reverse rule (without a window read off first appearances, with one a walk), which is most of its cost; the dependence test alone is read off the item-set counts."

# NAME FILE K OPTIONS...: --best=K against the run at the count it ends
# with, alternated, -j 2.
best() {
    local name=$1 file=$2 k=$3
    shift 3
    local out="$data/out-best-$name" searched=() direct=() least
    mkdir -p "$out"
    least=$("$new" -j 2 "$@" --best="$k" "$file" "$out/best" "$out/best-sets" 2>&1 |
        sed -n 's/.*the best have a count of \([0-9]*\) or more.*/\1/p')
    for ((i = 0; i < runs; ++i)); do
        searched+=("$(seconds "$new" -j 2 "$@" --best="$k" "$file" "$out/best" "$out/best-sets")")
        direct+=("$(seconds "$new" -j 2 "$@" -c "$least" "$file" "$out/at" "$out/at-sets")")
    done
    local t0 t1 same=identical
    cmp -s "$out/best" "$out/at" && cmp -s "$out/best-sets" "$out/at-sets" || same=DIFFERENT
    t0=$(printf '%s\n' "${direct[@]}" | median)
    t1=$(printf '%s\n' "${searched[@]}" | median)
    awk -v n="$name" -v k="$k" -v c="$least" -v a="$t0" -v b="$t1" -v s="$same" 'BEGIN {
        printf "| %s | %s | %s | %.3f | %.3f | %.2f× | %s | %s |\n", n, k, c, a, b, b / a, (b / a <= 1.5) ? "met" : "not met", s }'
}
echo
echo "### The best K rules without a count, -j 2"
echo
echo "| run | K | count it ends at | run at that count s | --best s | ratio | target 1.5× | tables vs that run |"
echo "|---|---|---|---|---|---|---|---|"
best "process w0" "$proc" 100
best "process w86400" "$proc" 100 -w 86400
best "process w0" "$proc" 1000

echo
echo "### What a second thread can give on this machine"
echo
echo "The same work on one thread and on two (bench/threads_limit.cpp), whatever the miner does:"
echo
"$build/bench/quorvel-threads-limit"
