#!/usr/bin/env python3
"""Writes clinic-visits.tsv: a small, made-up log of patient visits.

One row per visit: patient, day, and what was recorded. A few care pathways
are planted so that the miner has something to find:
  - high blood pressure -> ACE inhibitor -> dry cough -> ARB switch
  - knee pain -> knee x-ray -> physiotherapy
  - check-up -> blood test -> high cholesterol -> statin
  - flu symptoms -> antiviral (soon after) -> follow-up visit
Everything else is background noise. Deterministic: same seed, same file.
"""
import random

rng = random.Random(20261208)
NOISE = ["vaccination", "eye test", "dental referral", "skin rash", "back pain",
         "headache", "allergy", "sleep problems", "ear infection", "check-up"]

PATHWAYS = [
    (0.30, [("high blood pressure",), ("ACE inhibitor",), ("dry cough",), ("ARB switch",)],
     (7, 40)),
    (0.25, [("knee pain",), ("knee x-ray",), ("physiotherapy",)], (3, 20)),
    (0.35, [("check-up",), ("blood test",), ("high cholesterol",), ("statin",)], (5, 30)),
    (0.30, [("flu symptoms", "fever"), ("antiviral",), ("follow-up visit",)], (1, 6)),
]

rows = []
for p in range(1, 241):
    patient = "P%03d" % p
    visits = {}
    day = rng.randint(0, 30)
    for share, steps, (lo, hi) in PATHWAYS:
        if rng.random() >= share:
            continue
        d = day + rng.randint(0, 60)
        # Some patients drop out of a pathway part-way.
        keep = len(steps) if rng.random() < 0.8 else rng.randint(1, len(steps) - 1)
        for step in steps[:keep]:
            visits.setdefault(d, set()).update(step)
            d += rng.randint(lo, hi)
    for _ in range(rng.randint(1, 4)):
        visits.setdefault(rng.randint(0, 400), set()).add(rng.choice(NOISE))
    for d in sorted(visits):
        rows.append((patient, d, sorted(visits[d])))

with open("clinic-visits.tsv", "w") as out:
    out.write("patient\tday\trecorded\n")
    for patient, d, items in rows:
        out.write("%s\t%d\t%s\n" % (patient, d, "\t".join(items)))
