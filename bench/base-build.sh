# Sourced by the benchmark scripts: baseBuild REV BUILD ROOT [CMAKE_ARGS...]
# builds quorvel-rules of revision REV from its own checkout beside BUILD
# (once) and prints its path; prints nothing when it cannot be checked out.
baseBuild() {
    local rev=$1 build=$2 root=$3
    shift 3
    local base="$build/base-$rev/quorvel-rules" src="$build/base-src-$rev"
    if [ ! -x "$base" ]; then
        if [ ! -d "$src" ]; then
            git -C "$root" worktree prune
            git -C "$root" worktree add --detach "$src" "$rev" > /dev/null 2>&1 || return 0
        fi
        cmake -S "$src" -B "$build/base-$rev" -DCMAKE_BUILD_TYPE=Release -DQUORVEL_TESTS=OFF \
            "$@" > /dev/null
        cmake --build "$build/base-$rev" -j "$(nproc)" --target quorvel-rules > /dev/null
    fi
    echo "$base"
}
