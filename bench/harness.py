"""Timing for the benchmarks: interleaved rounds, medians, ratios from the same run."""

import statistics
import time


def interleaved_medians(candidates, rounds, repeat=1):
    """Median seconds per call of each candidate.

    ``candidates`` maps a name to a callable. Each round runs every candidate
    ``repeat`` times in turn, so that drifts of a shared, noisy machine touch
    all of them alike.
    """
    samples = {name: [] for name in candidates}
    for _ in range(rounds):
        for name, run in candidates.items():
            start = time.perf_counter()
            for _ in range(repeat):
                run()
            samples[name].append((time.perf_counter() - start) / repeat)
    return {name: statistics.median(values) for name, values in samples.items()}


def format_seconds(seconds):
    """A duration in the unit that suits it."""
    if seconds >= 1:
        return f"{seconds:.2f} s"
    if seconds >= 1e-3:
        return f"{seconds * 1e3:.2f} ms"
    return f"{seconds * 1e6:.2f} us"


def print_table(rows):
    """Prints rows of (case, measured, baseline name, ratio, target) as one table."""
    header = ("case", "median", "against", "ratio", "target", "")
    lines = [header]
    for case, measured, against, ratio, target in rows:
        verdict = "ok" if target is None or ratio <= target else "MISSED"
        lines.append(
            (
                case,
                measured,
                against,
                f"{ratio:.2f}",
                "-" if target is None else f"<= {target:.2f}",
                verdict if target is not None else "",
            )
        )
    widths = [max(len(str(line[i])) for line in lines) for i in range(len(header))]
    for line in lines:
        print(
            "  ".join(
                str(cell).ljust(width) for cell, width in zip(line, widths, strict=True)
            ).rstrip()
        )
