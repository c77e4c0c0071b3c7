#!/usr/bin/env python3
"""Basket rules against Borgelt's fpgrowth (-tr -o) on the shared baskets.

    basket_rules.py BUILD_DIR SOURCE_DIR

Exits 77 (skipped, with the reason) when the peer's sources or the data
sets are absent."""
import gzip
import json
import os
import subprocess
import sys
import tarfile

build, source = sys.argv[1], sys.argv[2]
shared = os.path.normpath(os.path.join(source, "..", "shared"))
tarball = os.path.join(shared, "peers", "borgelt-fim.tar.gz")
if not os.path.isfile(tarball):
    print(f"skipped: {tarball} is absent, so there is no peer to compare with")
    sys.exit(77)
sets = [(name, os.path.join(shared, "data", name + ".tsv.gz")) for name in ("groceries", "retail")]
sets = [(name, path) for name, path in sets if os.path.isfile(path)]
if not sets:
    print("skipped: ../shared/data holds neither groceries nor retail")
    sys.exit(77)

peers = os.path.join(build, "peers")
fpgrowth = os.path.join(peers, "fpgrowth", "src", "fpgrowth")
if not os.access(fpgrowth, os.X_OK):
    os.makedirs(peers, exist_ok=True)
    with tarfile.open(tarball) as tar:
        tar.extractall(peers)
    subprocess.run(["make"], cwd=os.path.dirname(fpgrowth), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
miner = os.path.join(build, "quorvel-rules")
work = os.path.join(build, "basket-rules-test")
os.makedirs(work, exist_ok=True)


def baskets(path):
    """Each subject's items, told to the peer as numbers (names hold blanks)."""
    held, ids = {}, {}
    with gzip.open(path, "rt", encoding="utf-8", newline="") as f:
        next(f)
        for line in f:
            cells = line.rstrip("\r\n").split("\t")
            for item in cells[2:]:
                if item:
                    held.setdefault(cells[0], set()).add(ids.setdefault(item, len(ids)))
    return held, {i: name for name, i in ids.items()}


def theirs(dat, names, count, confidence):
    out = os.path.join(work, "peer.rules")
    subprocess.run([fpgrowth, "-tr", "-o", "-m2", f"-s-{count}", f"-c{confidence * 100}",
                    "-k,", "-I=", "-v %a %b %h", dat, out], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    rules = {}
    with open(out) as f:
        for line in f:
            rule, a, b, h = line.rsplit(" ", 3)
            head, body = rule.split("=")
            key = (frozenset(names[int(i)] for i in body.split(",")), names[int(head)])
            rules[key] = (int(a), int(b), int(h))
    return rules


def ours(path, count, confidence):
    out = os.path.join(work, "ours.jsonl")
    subprocess.run([miner, "-j", "2", "--rules=basket", "-c", str(count), "-C",
                    str(confidence), "--format=jsonl", path, out], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    rules = {}
    with open(out) as f:
        for line in f:
            r = json.loads(line)
            assert len(r["subsequent"]) == 1, line
            rules[(frozenset(r["antecedent"]), r["subsequent"][0])] = r
    return rules


failures = 0
for name, path in sets:
    held, names = baskets(path)
    subjects = len(held)
    dat = os.path.join(work, name + ".dat")
    with open(dat, "w") as f:
        for items in held.values():
            f.write(" ".join(str(i) for i in sorted(items)) + "\n")
    for count, confidence in ((20, 0.1), (50, 0.3), (200, 0.5)) if name == "groceries" else (
            (100, 0.2), (500, 0.5), (1000, 0.8)):
        mine, peer = ours(path, count, confidence), theirs(dat, names, count, confidence)
        # A confidence on the threshold itself may fall either side of it
        # in the peer's floating point.
        edge = lambda key, r: abs(r - confidence) < 1e-9
        missing = [k for k, (a, b, h) in peer.items() if k not in mine and not edge(k, a / b)]
        extra = [k for k, r in mine.items() if k not in peer and not edge(k, r["confidence"])]
        wrong = []
        for key, (a, b, h) in peer.items():
            r = mine.get(key)
            if r is None:
                continue
            lift = (a / subjects) / ((b / subjects) * (h / subjects))
            if (r["count"] != a or r["a_union_s"] != a or abs(r["confidence"] - a / b) > 1e-9 or
                    abs(r["support"] - a / subjects) > 1e-12 or
                    abs(r["lift"] - lift) > 1e-9 * lift):
                wrong.append((key, r, (a, b, h)))
        verdict = "ok" if not (missing or extra or wrong) else "DIFFERENT"
        print(f"{name} -c {count} -C {confidence}: {len(mine)} rules, the peer {len(peer)}: "
              f"{verdict}")
        for what, keys in (("missing", missing), ("extra", extra), ("wrong", wrong)):
            for k in keys[:5]:
                print(f"  {what}: {k}")
        failures += bool(missing or extra or wrong) or not peer
sys.exit(1 if failures else 0)
