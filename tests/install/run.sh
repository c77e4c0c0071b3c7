#!/usr/bin/env bash
# Installs a build into a scratch prefix and uses it as a user would: the
# programs on a PATH, the man pages read with man -l, and a small project
# built against the libraries through find_package(quorvel) and through
# pkg-config.
#   tests/install/run.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
export LC_ALL=C

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cmake --install "$build" --prefix "$prefix" > "$work/install.log" ||
    { cat "$work/install.log"; fail "cmake --install"; }

export PATH=$prefix/bin:$PATH
for prog in quorvel-rules quorvel-links; do
    version=$("$prog" --version)
    [[ $version =~ ^$prog\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "$prog --version said '$version'"

    page=$prefix/share/man/man1/$prog.1
    [ -f "$page" ] || fail "no man page at $page"
    if command -v man > /dev/null 2>&1; then
        warnings=$(MANWIDTH=100 man --warnings -l "$page" 2>&1 > /dev/null)
        [ -z "$warnings" ] || fail "man -l $page warns: $warnings"
        text=$(MANWIDTH=200 man -l "$page" 2> /dev/null)
    else
        echo "man is absent: the pages are checked as source only"
        text=$(sed 's/\\-/-/g' "$page")
    fi
    # Every option of the usage text heads an entry of the page.
    documented=$(grep -E '^ {7}-' <<< "$text" | sed -E 's/^ +//; s/, /\n/g' |
        sed -E 's/[= ].*//' | sort -u)
    for option in $("$prog" -? 2>&1 | grep -oE -- '(^| )--?[A-Za-z?][A-Za-z-]*' | sort -u); do
        grep -qxF -- "$option" <<< "$documented" || fail "$page has no entry for $option"
    done
done

# A project of the user's: one rule, its table as JSON Lines.
mkdir -p "$work/consumer"
cat > "$work/consumer/main.cpp" << 'CPP'
#include "quorvel/formats.hpp"
#include "quorvel/rule.hpp"

#include <iostream>

int main() {
    using namespace quorvel::rule;
    RuleSet rules;
    RuleSet::Stats& s = rules[brenlo::string::parse<Rule>("{a,b} => c")];
    s.count = 3;
    s.icount = 4;
    s.support = 0.5;
    s.certainty = certainty(0.5, 0.5);
    writeRuleTable(std::cout, rules, TableFormat::JSONL);
}
CPP
cat > "$work/consumer/CMakeLists.txt" << 'CMAKE'
cmake_minimum_required(VERSION 3.16)
project(consumer CXX)
find_package(quorvel 1 REQUIRED)
add_executable(consumer main.cpp)
target_link_libraries(consumer PRIVATE quorvel::quorvel)
CMAKE
expected='{"antecedent":["a","b"],"subsequent":["c"],"count":3,"a_union_s":4,"support":0.5,"confidence":0,"lift":0,"conviction":0,"probability":0,"certainty":"inf"}'

cmake -S "$work/consumer" -B "$work/consumer/build" -DCMAKE_PREFIX_PATH="$prefix" \
    > "$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "find_package(quorvel)"; }
cmake --build "$work/consumer/build" > "$work/build.log" 2>&1 ||
    { cat "$work/build.log"; fail "building against the installed libraries"; }
got=$("$work/consumer/build/consumer" 2> /dev/null)
[ "$got" = "$expected" ] || fail "the CMake consumer wrote '$got'"

if command -v pkg-config > /dev/null 2>&1; then
    flags=$(PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name quorvel.pc)") \
        pkg-config --cflags --libs quorvel)
    # shellcheck disable=SC2086
    c++ "$work/consumer/main.cpp" $flags -o "$work/by-pkg-config" || fail "pkg-config flags: $flags"
    got=$("$work/by-pkg-config" 2> /dev/null)
    [ "$got" = "$expected" ] || fail "the pkg-config consumer wrote '$got'"
else
    echo "pkg-config is absent: its file is installed but not tried"
fi
# A project that mines: a table read through the installed API, mined, and
# its rule table written as the program writes it.
mkdir -p "$work/miner"
cat > "$work/miner/main.cpp" << 'CPP'
#include "quorvel/formats.hpp"
#include "quorvel/mine.hpp"
#include "quorvel/read.hpp"

#include <iostream>

int main(int argc, char** argv) {
    using namespace quorvel::rule;
    if (argc != 2)
        return 2;
    MiningParams params;
    params.minCount = 2;
    params.windowSize = 5;
    const MiningResult result = mine(params, readLog(argv[1], TableLayout()));
    writeRuleTable(std::cout, result.rules(), TableFormat::TSV);
    return 0;
}
CPP
cat > "$work/miner/CMakeLists.txt" << 'CMAKE'
cmake_minimum_required(VERSION 3.16)
project(miner CXX)
find_package(quorvel 1 REQUIRED)
add_executable(miner main.cpp)
target_link_libraries(miner PRIVATE quorvel::mining)
CMAKE
printf 's\tt\ti\na\t1\tx\na\t2\ty\nb\t1\tx\nb\t4\ty\nc\t1\tx\nc\t9\ty\nc\t9\tz\n' > "$work/log.tsv"
cmake -S "$work/miner" -B "$work/miner/build" -DCMAKE_PREFIX_PATH="$prefix" \
    > "$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "find_package(quorvel) to mine"; }
cmake --build "$work/miner/build" > "$work/build.log" 2>&1 ||
    { cat "$work/build.log"; fail "building a miner against the installed libraries"; }
got=$("$work/miner/build/miner" "$work/log.tsv")
want=$(quorvel-rules -c 2 -w 5 "$work/log.tsv" 2> /dev/null)
[ -n "$want" ] && [ "$got" = "$want" ] ||
    fail "the installed API mined '$got', the program '$want'"

# The Python package, where it was built, imports from where it went.
site=$(find "$prefix" -type d -name site-packages | head -1)
if [ -n "$site" ] && [ -f "$site/quorvel/__init__.py" ]; then
    got=$(cd "$work" && PYTHONPATH=$site /usr/bin/python3 -c "
import quorvel
print(quorvel.to_table(quorvel.read('$work/log.tsv', min_count=2, window=5)), end='')")
    [ "$got" = "$want" ] || fail "the installed Python package mined '$got', the program '$want'"
else
    echo "the Python package was not built: its install is not tried"
fi

echo "installed, read and linked against: OK"
