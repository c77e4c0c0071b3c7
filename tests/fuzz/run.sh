#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and runs each for a while.
#   tests/fuzz/run.sh [SECONDS_PER_TARGET] [BUILD_DIR]
# Crash inputs land in tests/fuzz/crashes/ (named after their target), where
# the regression test picks them up. New corpus entries stay in the build.
set -euo pipefail
seconds=${1:-60}
build=${2:-build-fuzz}
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"

probe() {
    echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
        > "$1/probe.cpp"
    clang++ -fsanitize=fuzzer,address,undefined "$1/probe.cpp" -o "$1/probe" > /dev/null 2>&1
}
mkdir -p "$build"
if ! command -v clang++ > /dev/null 2>&1 || ! probe "$build"; then
    echo "== Installing clang and its fuzzing runtime"
    apt-get install -y clang libclang-rt-14-dev > /dev/null 2>&1 ||
        { apt-get update > /dev/null 2>&1 && apt-get install -y clang libclang-rt-14-dev > /dev/null 2>&1; }
    probe "$build" || { echo "clang cannot build libFuzzer targets here" >&2; exit 1; }
fi

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_FUZZ=ON -DQUORVEL_TESTS=OFF -DQUORVEL_MPI=OFF > /dev/null
cmake --build "$build" -j "$(nproc)" > /dev/null

mkdir -p tests/fuzz/crashes
status=0
for harness in "$build"/tests/fuzz/fuzz-*; do
    target=${harness##*/fuzz-}
    mkdir -p "$build/corpus/$target"
    echo "== fuzz-$target for ${seconds}s"
    if ! "$build/tests/fuzz/fuzz-$target" "$build/corpus/$target" "tests/fuzz/corpus/$target" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -close_fd_mask=3 \
        -artifact_prefix="tests/fuzz/crashes/$target-" -print_final_stats=1 2> "$build/$target.log"; then
        echo "   finding: see $build/$target.log and tests/fuzz/crashes/"
        status=1
    fi
    grep -E "stat::number_of_executed_units|Done " "$build/$target.log" | tail -2 | sed 's/^/   /'
done
exit $status
