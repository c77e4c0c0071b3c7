#!/usr/bin/env bash
# Mines the bundled clinic export and draws its rule graph.
#   examples/demo.sh BUILD_DIR OUTPUT_DIR
set -euo pipefail
build=${1:-build}
out=${2:-demo-output}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
columns=(--csv --subject=patient_id --time=recorded_at --item=activity --time-format=iso8601)

echo "== Mining examples/clinic-export.csv (at least 15 patients, 60-day window), rules by lift"
"$build/quorvel-rules" "${columns[@]}" -c 15 -w 60d --sort=lift \
    "$here/clinic-export.csv" "$out/rules.tsv" "$out/item-sets.tsv"

echo "== The same rules as CSV, for a dataframe"
"$build/quorvel-rules" "${columns[@]}" -c 15 -w 60d --sort=lift --format=csv \
    "$here/clinic-export.csv" "$out/rules.csv" 2> /dev/null

if ! command -v dot > /dev/null 2>&1; then
    if [ "$(id -u)" = 0 ] && command -v apt-get > /dev/null 2>&1; then
        echo "== Installing Graphviz to render the graph"
        apt-get install -y graphviz > /dev/null 2>&1 ||
            { apt-get update > /dev/null 2>&1 && apt-get install -y graphviz > /dev/null 2>&1; } || true
    fi
fi
echo "== Drawing the item-to-item rules, and a report of them to open in a browser"
"$build/quorvel-links" -c 15 --splines=spline --legend --html="$out/report.html" \
    "$out/rules.tsv" "$out/graph.dot"

if command -v dot > /dev/null 2>&1; then
    dot -Tsvg "$out/graph.dot" -o "$out/graph.svg"
    echo "== Done: $out/rules.tsv, $out/rules.csv, $out/item-sets.tsv, $out/graph.dot, $out/graph.svg,"
    echo "   $out/report.html"
else
    echo "== Done: $out/rules.tsv, $out/rules.csv, $out/item-sets.tsv, $out/graph.dot,"
    echo "   $out/report.html (without its picture)"
    echo "   Install Graphviz and run: dot -Tsvg $out/graph.dot -o $out/graph.svg"
fi
