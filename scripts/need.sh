#!/usr/bin/env bash
# Installs the Debian packages a build or its tests use, where they are
# missing and this user may install them; says so where it cannot.
#   scripts/need.sh build   what the programs are built with
#   scripts/need.sh test    that, and what the tests use
set -u
need() {
    local check=$1
    shift
    eval "$check" > /dev/null 2>&1 && return 0
    if [ "$(id -u)" = 0 ] && command -v apt-get > /dev/null 2>&1; then
        apt-get install -y "$@" > /dev/null 2>&1 ||
            { apt-get update > /dev/null 2>&1 && apt-get install -y "$@" > /dev/null 2>&1; } &&
            return 0
    fi
    echo "warning: could not install $*; what needs it will fail or skip" >&2
}

need '[ -e /usr/include/zlib.h ]' zlib1g-dev   # gzip tables
need '[ -e /usr/include/expat.h ]' libexpat1-dev  # XES logs
[ "${1:-build}" = build ] && exit 0

need '[ -d /usr/include/gtest ]' libgtest-dev
need 'command -v dot' graphviz            # the graphs Graphviz must accept
need 'command -v python3' python3         # CSV and JSON read by standard readers
need 'command -v jq' jq
need 'command -v man' man-db              # the man pages, read with man -l
need 'command -v pkg-config' pkg-config   # a consumer built through pkg-config
need 'command -v gzip' gzip
need 'command -v mpirun && [ -e /usr/include/x86_64-linux-gnu/openmpi/mpi.h -o -e /usr/lib/x86_64-linux-gnu/openmpi/include/mpi.h ]' \
    openmpi-bin libopenmpi-dev             # the miner across processes
need 'command -v chromium' chromium     # the HTML report, opened in a real browser
# The Python module, built for and tested with Debian's own interpreter
# (the python3 first on PATH may be another without these packages).
need '/usr/bin/python3 -c "import pybind11, numpy, pandas, pytest" && [ -e /usr/include/python3*/Python.h ]' \
    python3-dev python3-pybind11 pybind11-dev python3-numpy python3-pandas python3-pytest
exit 0
