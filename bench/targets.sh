#!/usr/bin/env bash
# Reads the benchmark's tables on standard input and prints how the runs
# measure up against the project's targets, each met or not and why not.
awk -F'|' '
function trim(s) { gsub(/^ +| +$/, "", s); return s }
function verdict(ok) { return ok ? "met" : "not met" }
# The in-process table: | data set | rows | ... | output vs reference |
/^\| [a-z]/ && NF >= 19 && $2 !~ /data set/ {
    name = trim($2); same[name] = trim($19); speed[name] = trim($18)
}
# Whole runs: | run | rows | MB | previous s | -j 1 s | speed-up | -j 2 s | -j 2 over -j 1 | prev MB | -j 1 MB | B/row | output |
/^\| [a-z]/ && NF == 14 && $2 !~ /^ run / {
    r = trim($2); mb[r] = trim($4); prev[r] = trim($5); j1[r] = trim($6); up[r] = trim($7) + 0
    j2[r] = trim($8); par[r] = trim($9) + 0; peak[r] = trim($11); bpr[r] = trim($12) + 0; vsprev[r] = trim($13)
    runs[++n] = r
}
# Across processes: | name | rows | one s | np2 s | speed-up | one MB | per process MB | share | output |
/^\| [a-z]/ && NF == 11 && $2 !~ /across processes/ {
    a = trim($2); across[++m] = a; aup[a] = trim($6) + 0; ashare[a] = trim($9) + 0; asame[a] = trim($10)
}
END {
    for (k = 1; k <= m; ++k) {
        a = across[k]
        mpiLines = mpiLines sprintf("- Across processes, %s: mpirun -np 2 with -j 1 %.2fx faster than one process with -j 1 (target 1.6x: %s); per-process peak %d %% of one process (target 60 %%: %s); output %s.\n", a, aup[a], verdict(aup[a] >= 1.6), ashare[a], verdict(ashare[a] <= 60), asame[a])
        amiss += aup[a] < 1.6 || ashare[a] > 60
    }
    if (amiss)
        mpiLines = mpiLines "  Why not: on this 2-core machine mpirun and MPI start-up take 0.35 s and 20 MB per process, a fifth of a 1.6 s run, and the two processes share the cores with mpirun; each process also holds its rows twice for a moment while they are exchanged. See docs/distributed.md.\n"
    print "## Targets"
    print ""
    if ("groceries" in same)
        printf "- Output identical to the reference where it finishes: groceries %s, receipt %s, retail at 1000 %s.\n", same["groceries"], same["receipt"], same["retail-lighter"]
    printf "%s", mpiLines
    if (n == 0) { print "- Whole runs were skipped (no shared data)."; exit }
    d = 1
    for (k = 1; k <= n; ++k) if (vsprev[runs[k]] != "identical") d = 0
    printf "- Output identical to the previous build on every whole run: %s.\n", verdict(d)
    r = "retail read-only"; x = "receipt x610 read-only"
    printf "- Read-only at least 6x faster than the previous build: retail %.1fx (%s), 5 M-row log %.1fx (%s).\n", up[r], verdict(up[r] >= 6), up[x], verdict(up[x] >= 6)
    printf "- Retail read-only within 0.05 s: %s s, %s.\n", j1[r], verdict(j1[r] + 0 <= 0.05)
    if (up[r] < 6 || j1[r] + 0 > 0.05)
        print "  Why: retail is 88,162 one-basket subjects with 16,470 distinct items and about ten item cells a row; most of its time is spent interning those 900,000 cells and grouping them, and a few milliseconds are process start and the first touch of memory. Its 5 MB file is read at about 60 MB/s, where the process log of long rows is read at several hundred."
    printf "- At least 200 MB/s on one thread (5 M-row log, read-only): %.0f MB/s, %s.\n", mb[x] / j1[x], verdict(mb[x] / j1[x] >= 200)
    printf "- retail@500 with rules and item sets within 0.1 s: %s s, %s.\n", j1["retail@500"], verdict(j1["retail@500"] + 0 <= 0.1)
    if (j1["retail@500"] + 0 > 0.1)
        print "  Why: the read above takes most of it; the 468 item sets take about 0.03 s."
    split("receipt x610 w0|receipt x610 w86400|receipt noisy w0|receipt noisy w86400", full, "|")
    slow = 0; serial = 0
    for (k = 1; k <= 4; ++k) {
        f = full[k]
        printf "- %s: one thread %.1fx faster than the previous build (target 10x: %s); -j 2 %.2fx over -j 1 (target 1.7x: %s); %s bytes per row at peak (target 60: %s); peak %s MB against %s MB for the read-only run.\n", f, up[f], verdict(up[f] >= 10), par[f], verdict(par[f] >= 1.7), bpr[f], verdict(bpr[f] <= 60), peak[f], peak[x]
        slow += up[f] < 10; serial += par[f] < 1.7
    }
    if (slow)
        print "  Why not 10x on the noisy log: its copies drop and repeat rows, so far fewer histories are equal and can be counted once (the plain copies merge into the 1,434 histories of the original), and with a window they must also be equally spaced; the windowed rule walk then visits each distinct history transaction by transaction."
    if (serial)
        print "  Why not 1.7x on two threads: rule counting (2.2x) and the index (1.5x) divide well, but reading has steps that run on one thread: reading the file, putting the names of each part into the shared tables in order, and the first touch of the memory the rows take (page faults, a quarter of the main thread). They are about a third of the read, which is most of a run."
}'
