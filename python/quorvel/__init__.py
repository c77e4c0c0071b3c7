"""Sequential association rules over event histories.

    import quorvel
    rules = quorvel.mine(df, subject="case", time="timestamp", item="activity",
                         window="7d", min_count=50)

Each subject's events are grouped into transactions (one per time); a rule
A => B is counted once per subject in which B follows A within the window.
The results are DataFrames: rules with `antecedent` and `subsequent` as
tuples of items, `count`, `a_union_s` and the measures; item sets with
`items` and `count`. The numbers are the command line's, exactly.
"""

import math

import numpy as np
import pandas as pd

from . import _quorvel
from ._quorvel import Error

__all__ = ["mine", "item_sets", "read", "to_table", "Error"]

_NO_TIME = np.iinfo(np.int64).min


def _settings(window, timestamps, min_count, min_support, min_confidence, min_lift,
              max_conviction, max_order, sort, top, threads, memory, rules, delays,
              subsequent=None, antecedent=None, exclude=None, productive=False,
              p_values=None, max_p=None, adjust="holm", best=None, by="count"):
    if rules not in ("ordered", "basket"):
        raise ValueError(f'rules="{rules}" is neither ordered nor basket')
    if delays and rules == "basket":
        raise ValueError('delays=True times ordered rules; basket rules have no order')
    if sort and sort.startswith("delay_") and not delays:
        raise ValueError(f'sort="{sort}" needs delays=True')
    tests = _tests(p_values, max_p, adjust, rules)
    for test in ("dependence", "order"):
        if sort and sort.startswith(f"p_{test}") and test not in tests:
            raise ValueError(f'sort="{sort}" needs p_values="{test}"')
    if isinstance(window, str):
        seconds, unit = _quorvel.duration(window)
        if unit and not timestamps:
            raise ValueError(
                f'window="{window}" has a unit, but the times are plain numbers; give it as '
                "a number in their unit, or give the times as datetimes")
    else:
        seconds = int(window)
        if seconds < 0 or seconds > 0xFFFFFFFF:
            raise ValueError(f"window={window} is not from 0 to 4294967295")
    if rules == "basket" and seconds:
        raise ValueError('rules="basket" finds rules in any order, which no window applies to; '
                         "give one or the other")
    if memory is None:
        memory = _quorvel.default_memory()
    elif isinstance(memory, str):
        memory = _quorvel.memory_size(memory)
    return {
        "window": seconds, "min_count": int(min_count), "min_support": float(min_support),
        "min_confidence": float(min_confidence), "min_lift": float(min_lift),
        "max_conviction": float(max_conviction), "max_order": int(max_order),
        "sort": sort or "", "top": int(top or 0), "threads": int(threads),
        "memory": int(memory), "rules": rules, "delays": bool(delays),
        "subsequent": _names(subsequent), "antecedent": _names(antecedent),
        "exclude": _names(exclude), "productive": bool(productive),
        "p_values": tests, "max_p": -1.0 if max_p is None else float(max_p),
        "adjust": adjust, "best": _best(best, by),
    }


def _best(best, by):
    if by not in ("count", "support"):
        raise ValueError(f'by="{by}" is neither count nor support')
    if best is None:
        return 0
    if isinstance(best, bool) or not isinstance(best, int) or best < 1:
        raise ValueError(f"best={best!r} is not a whole number of at least 1")
    return best


def _tests(p_values, max_p, adjust, rules):
    """The p-values asked for, by name; with max_p alone every test the rules have."""
    if adjust not in ("holm", "bh"):
        raise ValueError(f'adjust="{adjust}" is neither holm nor bh')
    if max_p is not None and (isinstance(max_p, bool) or not (
            isinstance(max_p, (int, float)) and 0 <= max_p <= 1)):
        raise ValueError(f"max_p={max_p!r} is not a number from 0 to 1")
    every = ["dependence", "order"] if rules == "ordered" else ["dependence"]
    if p_values is True or (p_values is None and max_p is not None):
        return every
    tests = _names(p_values) if p_values not in (None, False) else []
    for test in tests:
        if test not in ("dependence", "order"):
            raise ValueError(f'p_values="{test}" is neither dependence nor order')
    if "order" in tests and rules == "basket":
        raise ValueError('p_values="order" tests ordered rules; basket rules have no order')
    return tests


def _names(items):
    """A constraint's items: one name or a list of them."""
    if items is None:
        return []
    return [str(items)] if isinstance(items, str) else [str(i) for i in items]


def _codes(series):
    """Codes from 0 (-1 where missing or empty) and the text of each code."""
    if isinstance(series.dtype, pd.CategoricalDtype):
        codes = series.cat.codes.to_numpy(dtype=np.int64)
        texts = [str(c) for c in series.cat.categories]
    else:
        codes, uniques = pd.factorize(series, sort=False)
        codes = codes.astype(np.int64, copy=False)
        texts = [str(u) for u in uniques]
    empty = [k for k, t in enumerate(texts) if t == ""]
    if empty:
        codes = np.where(np.isin(codes, empty), -1, codes)
    return codes, texts


def _seconds(series):
    """The times as int64 (the missing ones _NO_TIME), and whether they are
    timestamps (seconds since 1970 UTC) rather than plain numbers."""
    if pd.api.types.is_datetime64_any_dtype(series):
        if getattr(series.dt, "tz", None) is not None:
            series = series.dt.tz_convert("UTC").dt.tz_localize(None)
        values = series.to_numpy()
        # Fractions of a second are dropped, as the command line drops them.
        return values.astype("datetime64[s]").astype(np.int64), True
    if pd.api.types.is_bool_dtype(series):
        raise TypeError("a time column of booleans")
    if pd.api.types.is_integer_dtype(series) and not series.hasnans:
        return series.to_numpy(dtype=np.int64), False
    if pd.api.types.is_integer_dtype(series) or pd.api.types.is_float_dtype(series):
        # Missing values come as NaN; times past 2**53 are out of range anyway.
        values = series.to_numpy(dtype=np.float64, na_value=np.nan)
        known = ~np.isnan(values)
        if not np.all(np.floor(values[known]) == values[known]):
            raise ValueError("the time column holds fractions; give whole numbers or datetimes")
        out = np.full(len(values), _NO_TIME, dtype=np.int64)
        out[known] = values[known].astype(np.int64)
        return out, False
    # Text: ISO 8601 as the command line reads it, each distinct text once.
    codes, uniques = pd.factorize(series, sort=False)
    parsed = _quorvel.iso_seconds([str(u) for u in uniques])
    out = np.where(codes < 0, _NO_TIME, parsed[np.maximum(codes, 0)] if len(parsed) else 0)
    return out.astype(np.int64), True


def _log(df, subject, time, item, item_prefix, threads):
    if not isinstance(df, pd.DataFrame):
        raise TypeError("mine() takes a pandas DataFrame")
    names = [item] if isinstance(item, str) else list(item)
    if not names:
        raise ValueError("item names no column")
    for name in [subject, time] + names:
        if name not in df.columns:
            raise KeyError(f'no column "{name}"; the columns are {", ".join(map(str, df.columns))}')
    subjects, _ = _codes(df[subject])
    times, timestamps = _seconds(df[time])
    columns, dictionary = [], []
    for name in names:
        codes, texts = _codes(df[name])
        if item_prefix:
            texts = [f"{name}={t}" for t in texts]
        columns.append(np.where(codes < 0, -1, codes + len(dictionary)).astype(np.int64))
        dictionary.extend(texts)
    log = _quorvel.log_of_columns(subjects, times, columns, dictionary, int(threads))
    return log, timestamps


def _rules_frame(columns):
    # The sides, the measures, then the optional columns the run asked for.
    return pd.DataFrame(dict(columns))


def _item_sets_frame(columns):
    return pd.DataFrame({"items": columns["items"], "count": columns["count"]})


def _results(found, want_item_sets):
    rules = _rules_frame(found["rules"])
    if want_item_sets:
        return rules, _item_sets_frame(found["item_sets"])
    return rules


def mine(df, subject, time, item, window=0, min_count=5, min_support=0.0, min_confidence=0.0,
         min_lift=0.0, max_conviction=math.inf, max_order=0, sort=None, top=None, threads=0,
         memory=None, item_prefix=False, item_sets=False, progress=None, rules="ordered",
         delays=False, subsequent=None, antecedent=None, exclude=None, productive=False,
         p_values=None, max_p=None, adjust="holm", best=None, by="count"):
    """The rules of the event log in `df`.

    subject, time: the columns naming each event's subject and time; item: the
    column (or list of columns) of its items. Times may be datetimes (any
    unit, naive ones read as UTC), whole numbers or ISO 8601 texts. window:
    how long after the antecedent the subsequent may come, in seconds ("7d",
    "12h", "90s" or a number; a number of the times' own unit for plain
    numbers). Rows without a subject or item are skipped, as the command line
    skips them; a subject all of whose rows are skipped is no subject. sort names a measure to sort by (largest first), top keeps the
    first rules. threads=0 is one per processor; memory a budget such as "8G".
    progress(stage, done, total), when given, is called now and then.
    rules="basket" finds basket rules instead: A => b where a subject holds A
    and the item b, in any order, counted by the subjects holding both (no
    window applies). delays=True adds delay_min, delay_median, delay_p90 and
    delay_max (int64, in the times' unit: seconds for datetimes). subsequent
    keeps the rules whose subsequent holds only the items named (a name or a
    list), antecedent those whose antecedent holds all of them, exclude those
    without any of them; without item_sets=True the search skips the sets no
    kept rule needs. productive=True keeps the rules of lift above 1 whose
    confidence passes that of every rule with a smaller antecedent and the
    same subsequent. p_values="dependence", "order" or both (a list, or
    True) adds p_dependence (Fisher's exact test that A and B are held
    together more often than chance), count_reverse, count_both and p_order
    (the sign test that B follows A more often than A follows B), each p with
    its _adjusted companion, adjusted over all the rules kept by Holm's
    method or, with adjust="bh", Benjamini and Hochberg's. max_p keeps the
    rules whose adjusted p-values are at most max_p. best=K keeps the K rules
    of highest count (by="count" or "support": the same), ties at the last
    count kept, finding the count instead of min_count, which it stays at or
    above: what a run at the K-th rule's count gives. With item_sets=True,
    returns (rules, item_sets).
    """
    settings_args = (min_count, min_support, min_confidence, min_lift, max_conviction,
                     max_order, sort, top, threads, memory, rules, delays)
    log, timestamps = _log(df, subject, time, item, item_prefix, threads)
    settings = _settings(window, timestamps, *settings_args, subsequent, antecedent, exclude,
                         productive, p_values, max_p, adjust, best, by)
    settings["all_item_sets"] = bool(item_sets)
    return _results(_quorvel.mine(log, settings, progress), item_sets)


def item_sets(df, subject, time, item, **options):
    """The frequent item sets of the event log in `df`, with the number of
    subjects holding each; the options are mine()'s."""
    options["item_sets"] = True
    return mine(df, subject, time, item, **options)[1]


def read(path, subject=None, time=None, item=None, time_format="number", delimiter="\t",
         csv=False, xes=False, lifecycle="complete", item_prefix=False, window=0,
         min_count=5, min_support=0.0, min_confidence=0.0, min_lift=0.0,
         max_conviction=math.inf, max_order=0, sort=None, top=None, threads=0, memory=None,
         item_sets=False, progress=None, rules="ordered", delays=False, subsequent=None,
         antecedent=None, exclude=None, productive=False, p_values=None, max_p=None,
         adjust="holm", best=None, by="count"):
    """The rules of the table (or XES log) at `path`, read as the command line
    reads it with the same options: subject/time/item name columns of the
    header (item may be a list), time_format is number, iso8601, unix or
    unix-ms, csv=True reads commas; a gzipped file is read as it is. The
    mining options are mine()'s."""
    if lifecycle not in ("complete", "all"):
        raise ValueError(f'lifecycle="{lifecycle}" is neither complete nor all')
    items = [] if item is None else ([item] if isinstance(item, str) else list(item))
    layout = {
        "delimiter": "," if csv else delimiter, "time_format": time_format,
        "subject": subject or "", "time": time or "", "items": items, "xes": bool(xes),
        "all_lifecycles": lifecycle == "all", "item_prefix": bool(item_prefix),
    }
    log = _quorvel.read_file(str(path), layout, int(threads), progress)
    timestamps = xes or time_format != "number" or _quorvel.looks_like_xml(str(path))
    settings = _settings(window, timestamps, min_count, min_support, min_confidence, min_lift,
                         max_conviction, max_order, sort, top, threads, memory, rules, delays,
                         subsequent, antecedent, exclude, productive, p_values, max_p, adjust,
                         best, by)
    settings["all_item_sets"] = bool(item_sets)
    return _results(_quorvel.mine(log, settings, progress), item_sets)


def to_table(frame, format="tsv"):
    """A rules or item-sets DataFrame as the command line writes the table
    (format tsv, csv or jsonl), rows in the frame's order."""
    columns = {name: list(frame[name]) for name in frame.columns}
    if "antecedent" in frame.columns:
        return _quorvel.rule_table(columns, format)
    return _quorvel.item_set_table(columns, format)
