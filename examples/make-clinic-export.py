#!/usr/bin/env python3
"""Writes clinic-export.csv from clinic-visits.tsv: the same visits shaped as
a hospital system exports them.

One row per recorded activity, with a header and columns the miner does not
need (visit id, clinician, cost). Days become ISO 8601 date-times from
2024-01-01, all at 09:30 UTC but written in the clinic's several time zones,
so mining the export with -w 60d finds exactly the rules that -w 60 finds in
the day-numbered table. "follow-up visit" is recorded as "follow-up visit,
GP", an activity with a comma in it, which the export quotes.
"""
import csv
import datetime
import os
import random

here = os.path.dirname(os.path.abspath(__file__))
rng = random.Random(20261209)
ZONES = [datetime.timedelta(hours=h) for h in (0, 1, -5, 5.5)]
BASE = datetime.datetime(2024, 1, 1, 9, 30, tzinfo=datetime.timezone.utc)
CLINICIANS = ["Dr. Okafor", "Dr. Lindqvist", "Nurse Baptiste", "Dr. Tanaka"]

with open(os.path.join(here, "clinic-visits.tsv"), newline="") as src:
    rows = list(csv.reader(src, delimiter="\t"))[1:]

with open(os.path.join(here, "clinic-export.csv"), "w", newline="") as dst:
    out = csv.writer(dst, lineterminator="\n")
    out.writerow(["visit_id", "patient_id", "activity", "recorded_at", "clinician", "cost_eur"])
    for n, row in enumerate(rows, start=1):
        patient, day, items = row[0], int(row[1]), [i for i in row[2:] if i]
        zone = datetime.timezone(rng.choice(ZONES))
        when = (BASE + datetime.timedelta(days=day)).astimezone(zone)
        stamp = when.isoformat(timespec="seconds").replace("+00:00", "Z")
        for item in items:
            activity = "follow-up visit, GP" if item == "follow-up visit" else item
            out.writerow([f"V{n:05d}", patient, activity, stamp, rng.choice(CLINICIANS),
                          f"{rng.randint(20, 400)}.00"])
