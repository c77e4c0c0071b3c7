"""quorvel in Python against the command line: the same tables, byte for
byte, from DataFrames and from files."""

import gzip
import os
import random
import signal
import subprocess
import tempfile

import numpy as np
import pandas as pd
import pytest

import quorvel

RULES = os.environ.get("QUORVEL_RULES_BIN", "quorvel-rules")
SOURCE = os.environ.get("QUORVEL_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
EXPORT = os.path.join(SOURCE, "examples", "clinic-export.csv")
DATA = os.path.join(SOURCE, "..", "shared", "data")
EXPORT_COLUMNS = ["--csv", "--subject=patient_id", "--time=recorded_at", "--item=activity",
                  "--time-format=iso8601"]


def cli(args, tmp, stdin=None):
    """The rule and item-set tables the command line writes, and its stderr."""
    rules, sets = os.path.join(tmp, "r.tsv"), os.path.join(tmp, "i.tsv")
    done = subprocess.run([RULES] + args + [stdin or "-", rules, sets], capture_output=True,
                          text=True)
    assert done.returncode == 0, done.stderr
    with open(rules) as r, open(sets) as s:
        return r.read(), s.read(), done.stderr


def cli_failure(args):
    done = subprocess.run([RULES] + args, capture_output=True, text=True,
                          stdin=subprocess.DEVNULL)
    assert done.returncode == 2
    return done.stderr.strip().splitlines()[-1]


def write_tsv(frame, path):
    frame.to_csv(path, sep="\t", index=False)


def test_the_example_export_gives_the_programs_tables(tmp_path):
    want_rules, want_sets, _ = cli(EXPORT_COLUMNS + ["-c", "15", "-w", "60d", "--sort=lift"],
                                   tmp_path, EXPORT)
    # As the README reads it: mixed offsets, made datetimes with utc=True.
    frame = pd.read_csv(EXPORT)
    frame["recorded_at"] = pd.to_datetime(frame["recorded_at"], utc=True)
    assert str(frame["recorded_at"].dtype) == "datetime64[ns, UTC]"
    rules, sets = quorvel.mine(frame, subject="patient_id", time="recorded_at", item="activity",
                               window="60d", min_count=15, sort="lift", item_sets=True)
    assert quorvel.to_table(rules) == want_rules
    assert quorvel.to_table(sets) == want_sets
    assert list(rules.columns) == ["antecedent", "subsequent", "count", "a_union_s", "support",
                                   "confidence", "lift", "conviction", "probability",
                                   "certainty"]
    assert rules["count"].dtype == np.int64 and rules["lift"].dtype == np.float64
    assert isinstance(rules["antecedent"][0], tuple)
    assert list(rules["lift"]) == sorted(rules["lift"], reverse=True)
    # Read from the file with the command line's options: the same.
    read = quorvel.read(EXPORT, csv=True, subject="patient_id", time="recorded_at",
                        item="activity", time_format="iso8601", window="60d", min_count=15,
                        sort="lift")
    assert quorvel.to_table(read) == want_rules
    # Times as texts are read as the command line reads them.
    texts = pd.read_csv(EXPORT)
    assert quorvel.to_table(quorvel.mine(texts, "patient_id", "recorded_at", "activity",
                                         window="60d", min_count=15, sort="lift")) == want_rules


@pytest.mark.parametrize("name,count", [("receipt", 15), ("groceries", 30), ("retail", 300)])
def test_the_shared_logs_give_the_programs_tables(tmp_path, name, count):
    path = os.path.join(DATA, name + ".tsv.gz")
    if not os.path.exists(path):
        pytest.skip(f"{path} is absent: the shared data sets are not tried")
    want_rules, want_sets, _ = cli(["-c", str(count), "-o", "3"], tmp_path, path)
    rules, sets = quorvel.read(path, min_count=count, max_order=3, item_sets=True)
    assert quorvel.to_table(rules) == want_rules
    assert quorvel.to_table(sets) == want_sets
    # Rows of any length, as an analyst would hold them: one item a row.
    long = {"subject": [], "time": [], "item": []}
    with gzip.open(path, "rt") as table:
        next(table)
        for line in table:
            cells = line.rstrip("\n").split("\t")
            for item in cells[2:]:
                long["subject"].append(cells[0])
                long["time"].append(int(cells[1]))
                long["item"].append(item)
    rules = quorvel.mine(pd.DataFrame(long), "subject", "time", "item", min_count=count,
                         max_order=3)
    assert quorvel.to_table(rules) == want_rules


def random_frame(rng, rows):
    return pd.DataFrame({
        "case": [f"c{rng.randrange(rows // 4 + 1)}" for _ in range(rows)],
        "t": [rng.randrange(60) for _ in range(rows)],
        "what": [f"e{rng.randrange(7)}" for _ in range(rows)],
    })


def test_random_frames_give_the_programs_tables(tmp_path):
    rng = random.Random(5)
    for n in range(25):
        frame = random_frame(rng, rng.randrange(1, 400))
        window, count = rng.choice([0, 3, 20]), rng.choice([1, 2, 4])
        order, threads = rng.choice([0, 2, 3]), rng.choice([0, 1, 2])
        path = tmp_path / f"f{n}.tsv"
        write_tsv(frame, path)
        want_rules, want_sets, _ = cli(["-c", str(count), "-w", str(window), "-o", str(order)],
                                       tmp_path, str(path))
        rules, sets = quorvel.mine(frame, "case", "t", "what", window=window, min_count=count,
                                   max_order=order, threads=threads, item_sets=True)
        assert quorvel.to_table(rules) == want_rules, f"case {n}"
        assert quorvel.to_table(sets) == want_sets, f"case {n}"
        # Categorical columns, their codes reused, give the same.
        cats = frame.astype({"case": "category", "what": "category"})
        again = quorvel.mine(cats, "case", "t", "what", window=window, min_count=count,
                             max_order=order)
        assert quorvel.to_table(again) == want_rules, f"case {n}, categorical"
        top = quorvel.mine(frame, "case", "t", "what", window=window, min_count=count,
                           max_order=order, sort="confidence", top=5)
        want_top, _, _ = cli(["-c", str(count), "-w", str(window), "-o", str(order),
                              "--sort=confidence", "--top=5"], tmp_path, str(path))
        assert quorvel.to_table(top) == want_top, f"case {n}, sorted"


def test_basket_rules_are_the_programs(tmp_path):
    rng = random.Random(11)
    for n in range(10):
        frame = random_frame(rng, rng.randrange(1, 300))
        count, order = rng.choice([1, 2, 3]), rng.choice([0, 2])
        path = tmp_path / f"b{n}.tsv"
        write_tsv(frame, path)
        args = ["-c", str(count), "-o", str(order), "--rules=basket", "-C", "0.2"]
        want, _, _ = cli(args, tmp_path, str(path))
        rules = quorvel.mine(frame, "case", "t", "what", min_count=count, max_order=order,
                             min_confidence=0.2, rules="basket")
        assert quorvel.to_table(rules) == want, f"case {n}"
        assert quorvel.to_table(quorvel.read(str(path), min_count=count, max_order=order,
                                             min_confidence=0.2, rules="basket")) == want
        # A basket rule is counted by the subjects holding its items.
        assert (rules["count"] == rules["a_union_s"]).all()
    frame = random_frame(rng, 50)
    with pytest.raises(ValueError, match="no window applies"):
        quorvel.mine(frame, "case", "t", "what", window=3, rules="basket")
    with pytest.raises(ValueError, match='rules="bags" is neither ordered nor basket'):
        quorvel.mine(frame, "case", "t", "what", rules="bags")


def test_p_values_are_the_programs(tmp_path):
    rng = random.Random(13)
    cases = [(["--p-values=dependence,order"], {"p_values": True}),
             (["--max-p=0.5", "--adjust=bh"], {"max_p": 0.5, "adjust": "bh"}),
             (["--p-values=order", "--max-p=0.9"], {"p_values": "order", "max_p": 0.9})]
    for n, (args, options) in enumerate(cases * 2):
        frame = random_frame(rng, rng.randrange(20, 300))
        path = tmp_path / f"p{n}.tsv"
        write_tsv(frame, path)
        want, _, _ = cli(["-c", "2", "-w", "5"] + args, tmp_path, str(path))
        rules = quorvel.mine(frame, "case", "t", "what", window=5, min_count=2, **options)
        assert quorvel.to_table(rules) == want, f"case {n}"
        assert "p_order_adjusted" in rules.columns
        assert ("p_dependence" in rules.columns) == ("order" != options.get("p_values"))
        assert rules["count_both"].dtype == np.int64
    frame = random_frame(rng, 50)
    for bad in [dict(max_p=float("nan")), dict(max_p=1.5), dict(max_p=True),
                dict(p_values="sign"), dict(adjust="bonferroni"),
                dict(p_values="order", rules="basket"), dict(sort="p_order")]:
        with pytest.raises(ValueError):
            quorvel.mine(frame, "case", "t", "what", **bad)


def test_best_rules_are_the_programs(tmp_path):
    rng = random.Random(14)
    for n in range(4):
        frame = random_frame(rng, rng.randrange(40, 300))
        path = tmp_path / f"b{n}.tsv"
        write_tsv(frame, path)
        want, want_sets, _ = cli(["-c", "1", "--best=7", "-w", "4"], tmp_path, str(path))
        rules, sets = quorvel.mine(frame, "case", "t", "what", window=4, min_count=1, best=7,
                                   item_sets=True)
        assert quorvel.to_table(rules) == want, f"case {n}"
        assert quorvel.to_table(sets) == want_sets, f"case {n}"
    for bad in [dict(best=0), dict(best=2.5), dict(best=True), dict(best=3, by="lift")]:
        with pytest.raises(ValueError):
            quorvel.mine(frame, "case", "t", "what", **bad)


def test_delays_are_the_programs(tmp_path):
    rng = random.Random(12)
    for n in range(8):
        frame = random_frame(rng, rng.randrange(1, 300))
        window, count = rng.choice([0, 3, 20]), rng.choice([1, 2])
        path = tmp_path / f"d{n}.tsv"
        write_tsv(frame, path)
        want, _, _ = cli(["-c", str(count), "-w", str(window), "--delays"], tmp_path, str(path))
        rules = quorvel.mine(frame, "case", "t", "what", window=window, min_count=count,
                             delays=True)
        assert quorvel.to_table(rules) == want, f"case {n}"
        assert list(rules.columns[-4:]) == ["delay_min", "delay_median", "delay_p90",
                                            "delay_max"]
        assert all(rules[c].dtype == np.int64 for c in rules.columns[-4:])
        assert (rules["delay_min"] <= rules["delay_median"]).all()
        assert (rules["delay_p90"] <= rules["delay_max"]).all()
        # Without them the frame keeps its columns.
        plain = quorvel.mine(frame, "case", "t", "what", window=window, min_count=count)
        assert list(plain.columns) == list(rules.columns[:-4])
    frame = random_frame(rng, 50)
    with pytest.raises(ValueError, match="basket rules have no order"):
        quorvel.mine(frame, "case", "t", "what", delays=True, rules="basket")
    with pytest.raises(ValueError, match="needs delays=True"):
        quorvel.mine(frame, "case", "t", "what", sort="delay_max")


def test_constraints_are_the_programs(tmp_path):
    rng = random.Random(13)
    for n in range(8):
        frame = random_frame(rng, rng.randrange(50, 300))
        items = sorted(frame["what"].dropna().astype(str).unique())
        subsequent = rng.sample(items, min(2, len(items)))
        path = tmp_path / f"c{n}.tsv"
        write_tsv(frame, path)
        args = ["-c", "2", "-w", "3", "--subsequent=" + ",".join(subsequent),
                "--exclude=" + items[0]]
        want, want_sets, _ = cli(args, tmp_path, str(path))
        rules = quorvel.mine(frame, "case", "t", "what", window=3, min_count=2,
                             subsequent=subsequent, exclude=items[0])
        assert quorvel.to_table(rules) == want, f"case {n}"
        rules, sets = quorvel.mine(frame, "case", "t", "what", window=3, min_count=2,
                                   subsequent=subsequent, exclude=[items[0]], item_sets=True)
        assert quorvel.to_table(rules) == want and quorvel.to_table(sets) == want_sets
        for side in rules["subsequent"]:
            assert set(side) <= set(subsequent)
        want_productive, _, _ = cli(["-c", "2", "-w", "3", "--productive"], tmp_path, str(path))
        productive = quorvel.mine(frame, "case", "t", "what", window=3, min_count=2,
                                  productive=True)
        assert quorvel.to_table(productive) == want_productive
        assert (productive["lift"] > 1).all()


def test_datetimes_in_any_zone_and_unit_are_the_same_instants():
    rng = random.Random(9)
    base = pd.Timestamp("2024-03-30 22:00:00", tz="UTC")
    frame = pd.DataFrame({
        "case": [f"c{rng.randrange(40)}" for _ in range(600)],
        "at": [base + pd.Timedelta(seconds=rng.randrange(3 * 86400)) for _ in range(600)],
        "what": [f"e{rng.randrange(5)}" for _ in range(600)],
    })
    seconds = frame.assign(at=(frame["at"] - pd.Timestamp("1970-01-01", tz="UTC"))
                           // pd.Timedelta(seconds=1))
    want = quorvel.to_table(quorvel.mine(seconds, "case", "at", "what", window=7200,
                                         min_count=3))
    assert want.count("\n") > 5
    # Across a change to summer time in Berlin and in other zones, naive
    # (read as UTC), with fractions of a second, and as ISO texts.
    variants = {
        "utc": frame,
        "berlin": frame.assign(at=frame["at"].dt.tz_convert("Europe/Berlin")),
        "new york": frame.assign(at=frame["at"].dt.tz_convert("America/New_York")),
        "naive": frame.assign(at=frame["at"].dt.tz_localize(None)),
        "fraction": frame.assign(at=frame["at"] + pd.Timedelta(milliseconds=250)),
        "iso": frame.assign(at=frame["at"].dt.tz_convert("Asia/Kolkata").map(
            lambda t: t.isoformat())),
    }
    for unit in ["s", "ms", "us"]:
        variants[unit] = frame.assign(
            at=frame["at"].dt.tz_localize(None).to_numpy().astype(f"datetime64[{unit}]"))
    for name, variant in variants.items():
        got = quorvel.to_table(quorvel.mine(variant, "case", "at", "what", window="2h",
                                            min_count=3))
        assert got == want, name
    with pytest.raises(ValueError, match="has a unit"):
        quorvel.mine(seconds, "case", "at", "what", window="2h")


def test_missing_cells_follow_the_exports_rule(tmp_path):
    frame = pd.DataFrame({
        "case": ["a", "a", None, "b", "b", "", "c", "c"],
        "t": [1, 2, 3, 1, 2, 4, 1, 2],
        "what": ["x", "y", "x", "x", None, "y", "x", "y"],
    })
    path = tmp_path / "gaps.csv"
    frame.to_csv(path, index=False)
    want_rules, want_sets, said = cli(["--csv", "--subject=case", "--time=t", "--item=what",
                                       "-c", "1", "-w", "5"], tmp_path, str(path))
    assert "Skipped 2 row(s) without a subject and 1 without an item." in said
    rules, sets = quorvel.mine(frame, "case", "t", "what", window=5, min_count=1,
                               item_sets=True)
    assert quorvel.to_table(rules) == want_rules
    assert quorvel.to_table(sets) == want_sets
    # A subject whose only rows have no item is no subject: "d" lowers no support.
    only = pd.DataFrame({"case": ["s1", "s1", "s2", None, "s3", "s3"], "t": [1, 2, 1, 1, 1, 2],
                         "what": ["a", "b", None, "a", "a", "b"]})
    rules = quorvel.mine(only, "case", "t", "what", min_count=1)
    assert list(rules["support"]) == [1.0] and list(rules["lift"]) == [1.0]
    log, _ = quorvel._log(only, "case", "t", "what", False, 1)
    assert (log.subjects, log.transactions) == (2, 4)
    assert log.skipped == "Skipped 1 row(s) without a subject and 1 without an item."
    # A row with a subject and no time is an error naming it, as a row is.
    timeless = frame.assign(t=[1, 2, 3, None, 2, 4, 1, 2])
    with pytest.raises(ValueError, match="^Row 4 has no time.$"):
        quorvel.mine(timeless, "case", "t", "what")
    dates = frame.assign(t=pd.to_datetime(["2024-01-01"] * 3 + [None] + ["2024-01-02"] * 4))
    with pytest.raises(ValueError, match="^Row 4 has no time.$"):
        quorvel.mine(dates, "case", "t", "what")


def test_an_empty_frame_has_no_rules():
    frame = pd.DataFrame({"case": [], "t": [], "what": []})
    rules, sets = quorvel.mine(frame, "case", "t", "what", min_count=1, item_sets=True)
    assert len(rules) == 0 and len(sets) == 0
    assert list(rules.columns)[:4] == ["antecedent", "subsequent", "count", "a_union_s"]
    assert quorvel.to_table(rules).startswith("Rule\tCount\t")


def test_errors_say_what_the_command_line_says(tmp_path):
    bad = tmp_path / "bad.tsv"
    bad.write_text("s\tt\ti\na\t1\tx\nb\tsoon\ty\n")
    with pytest.raises(quorvel.Error) as raised:
        quorvel.read(str(bad))
    assert str(raised.value) == cli_failure([str(bad)])
    assert str(raised.value).startswith(f"{bad}:3:")
    with pytest.raises(quorvel.Error, match="absent.tsv"):
        quorvel.read(str(tmp_path / "absent.tsv"))
    rules = tmp_path / "rules.tsv"
    rules.write_text("Rule\tCount\tA union S\tSupport\tConfidence\tLift\tConviction\t"
                     "Probability\tCertainty\n{x} => y\t1\t1\t1\t1\t1\t1\t1\t1\n")
    with pytest.raises(quorvel.Error, match="This is a rule table, not a transaction table."):
        quorvel.read(str(rules))
    frame = pd.DataFrame({"case": ["a"], "t": [1], "what": ["x"]})
    with pytest.raises(KeyError, match="no column"):
        quorvel.mine(frame, "case", "time", "what")
    with pytest.raises(ValueError, match="not a measure"):
        quorvel.mine(frame, "case", "t", "what", sort="height")
    with pytest.raises(ValueError):
        quorvel.mine(frame, "case", "t", "what", window="soon")


def test_progress_is_reported_and_a_raising_callback_stops_the_run():
    frame = random_frame(random.Random(2), 2000)
    stages = []
    quorvel.mine(frame, "case", "t", "what", window=5, min_count=2,
                 progress=lambda stage, done, total: stages.append((stage, done, total)))
    # However quick the run, where it ended is said.
    assert stages, "no progress was reported"
    assert all(isinstance(done, int) and isinstance(total, int) for _, done, total in stages)
    assert stages[-1][0].startswith("Counting rules of item sets of")

    class Stop(Exception):
        pass

    def stop(stage, done, total):
        raise Stop(stage)

    with pytest.raises(Stop):
        quorvel.mine(frame, "case", "t", "what", window=5, min_count=2, progress=stop)
    path = os.path.join(tempfile.mkdtemp(), "f.tsv")
    write_tsv(frame, path)
    with pytest.raises(Stop, match="^Reading "):
        quorvel.read(path, progress=stop)


def test_ctrl_c_cancels_a_run():
    frame = random_frame(random.Random(4), 2000)

    def interrupt(stage, done, total):
        os.kill(os.getpid(), signal.SIGINT)

    with pytest.raises(KeyboardInterrupt):
        quorvel.mine(frame, "case", "t", "what", window=5, min_count=2, progress=interrupt)
    # The module is not left in a state that stops the next run.
    assert len(quorvel.mine(frame, "case", "t", "what", window=5, min_count=2)) > 0
