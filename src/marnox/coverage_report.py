"""The figures of a coverage, for people (a table) and for machines (a dict for JSON)."""

from __future__ import annotations

import numpy as np


def _worst_and_median(mm):
    seen = mm[np.isfinite(mm)]
    if seen.size == 0:
        return None, None
    return float(np.median(seen)), float(seen.max())


def coverageFigures(results, minCameras=1, maxMmPerPixel=None):
    """Per region: its points, the shares seen by 1 and by 2 or more cameras, the share
    within the limits, and per camera the share it sees and its median and worst mm per
    pixel (None where it sees nothing). Shares run from 0 to 1."""
    regions = {}
    for name, region in results.items():
        cameras = {}
        for column, camera in enumerate(region.cameras):
            median, worst = _worst_and_median(region.mmPerPixel[:, column])
            cameras[camera] = {
                "seen": float(region.seen[:, column].mean()),
                "medianMmPerPixel": median,
                "worstMmPerPixel": worst,
            }
        regions[name] = {
            "points": len(region.points),
            "seenBy1": region.fraction(1),
            "seenBy2": region.fraction(2),
            "withinLimits": region.fraction(minCameras, maxMmPerPixel),
            "cameras": cameras,
        }
    return {"minCameras": minCameras, "maxMmPerPixel": maxMmPerPixel, "regions": regions}


def _share(value):
    return f"{100 * value:.1f} %"


def _mm(value):
    return "-" if value is None else f"{value:.2f}"


def _columns(rows, names):
    """Rows of cells as lines: the first ``names`` columns left-aligned, figures right."""
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
    return [
        "  ".join(
            cell.ljust(width) if i < names else cell.rjust(width)
            for i, (cell, width) in enumerate(zip(row, widths, strict=True))
        ).rstrip()
        for row in rows
    ]


def coverageTable(figures):
    """The figures of ``coverageFigures`` as a text table: one row per region, then one per
    region and camera."""
    limits = f"seen by {figures['minCameras']} or more cameras"
    if figures["maxMmPerPixel"] is not None:
        limits += f" at {figures['maxMmPerPixel']:g} mm per pixel or finer"
    regions = figures["regions"]
    if not regions:
        return "no task regions\n"
    rows = [("region", "points", "seen by 1+", "seen by 2+", "within limits")]
    for name, region in regions.items():
        rows.append(
            (
                name,
                str(region["points"]),
                _share(region["seenBy1"]),
                _share(region["seenBy2"]),
                _share(region["withinLimits"]),
            )
        )
    cameras = [("region", "camera", "seen", "median mm/px", "worst mm/px")]
    for name, region in regions.items():
        for camera, figure in region["cameras"].items():
            cameras.append(
                (
                    name,
                    camera,
                    _share(figure["seen"]),
                    _mm(figure["medianMmPerPixel"]),
                    _mm(figure["worstMmPerPixel"]),
                )
            )
    lines = [f"limits: {limits}", "", *_columns(rows, 1)]
    if len(cameras) > 1:
        lines += ["", *_columns(cameras, 2)]
    return "\n".join(lines) + "\n"
