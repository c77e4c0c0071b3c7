#!/usr/bin/env python3
"""Reads a rule or item-set table written with --format=csv or jsonl using
only Python's standard csv and json modules, and prints each row in a
canonical form the tests compare with: text as the hex of its UTF-8 bytes,
numbers as the hex of their IEEE 754 bits.

    read_tables.py csv|jsonl rules|item-sets FILE
"""
import csv
import json
import math
import struct
import sys

MEASURES = ["count", "a_union_s", "support", "confidence", "lift", "conviction",
            "probability", "certainty"]


def bits(x):
    if isinstance(x, str):  # JSON carries infinities as strings
        x = float(x)
    return struct.pack(">d", float(x)).hex()


def text(s):
    return s.encode("utf-8").hex()


def items(lst):
    assert isinstance(lst, list) and all(isinstance(i, str) for i in lst), lst
    return ",".join(text(i) for i in lst)


def main():
    fmt, kind, path = sys.argv[1:4]
    out = []
    with open(path, newline="", encoding="utf-8") as f:
        if fmt == "csv":
            rows = list(csv.reader(f, strict=True))
            header, rows = rows[0], rows[1:]
            if kind == "rules":
                assert header == ["antecedent", "subsequent"] + MEASURES, header
                for r in rows:
                    assert len(r) == 10, r
                    nums = [int(r[2]), int(r[3])] + [float(x) for x in r[4:]]
                    out.append("|".join([text(r[0]), text(r[1])] + [bits(x) for x in nums]))
            else:
                assert header == ["count", "item_set"], header
                for r in rows:
                    out.append(f"{int(r[0])}|{text(r[1])}")
        else:
            for line in f:
                row = json.loads(line, parse_constant=lambda c: sys.exit(f"bare {c} in JSON"))
                if kind == "rules":
                    assert list(row.keys()) == ["antecedent", "subsequent"] + MEASURES, row
                    assert isinstance(row["count"], int) and isinstance(row["a_union_s"], int)
                    for m in MEASURES[2:]:
                        v = row[m]
                        assert not isinstance(v, str) or v in ("inf", "-inf"), v
                    out.append("|".join([items(row["antecedent"]), items(row["subsequent"])] +
                                        [bits(row[m]) for m in MEASURES]))
                else:
                    assert list(row.keys()) == ["count", "items"], row
                    out.append(f"{row['count']}|{items(row['items'])}")
    sys.stdout.write("".join(line + "\n" for line in out))


main()
