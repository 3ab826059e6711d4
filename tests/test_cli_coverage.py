"""`python -m marnox coverage` and `render --frustums`: the figures, the picture, the
exit status a CI check reads, and bad input."""

import json

import pytest

from marnox.cli import main
from marnox.coverage import coverage
from marnox.project import Project


def test_coverage_figures_and_required_share(sample_cell_file, capsys):
    arguments = ["coverage", sample_cell_file, "--step", "0.02", "--min-cameras", "2"]
    assert main([*arguments, "--max-mm-per-pixel", "5", "--json", "--require", "0.2"]) == 0
    figures = json.loads(capsys.readouterr().out)
    project = Project()
    project.load(sample_cell_file)
    zone = coverage(project, step=0.02)["place_zone"]
    region = figures["regions"]["place_zone"]
    assert region["points"] == 14 * 14 == len(zone.points)
    assert region["withinLimits"] == zone.fraction(2, 5.0)
    assert 0.2 < region["withinLimits"] < 1 and region["seenBy2"] == 1.0
    worst = region["cameras"]["camera_2"]["worstMmPerPixel"]
    assert worst == zone.mmPerPixel[:, 1].max()

    assert main([*arguments, "--max-mm-per-pixel", "5", "--require", "0.9"]) == 1
    out, err = capsys.readouterr()
    assert "place_zone" in out and "median mm/px" in out
    assert err.count("\n") == 1 and "place_zone" in err


def test_coverage_and_render_pictures(sample_cell_file, tmp_path, capsys):
    picture = tmp_path / "coverage.png"
    assert main(["coverage", sample_cell_file, "--out", str(picture)]) == 0
    assert main(["render", sample_cell_file, "-o", str(tmp_path / "f.png"), "--frustums"]) == 0
    assert picture.stat().st_size > 0 and (tmp_path / "f.png").stat().st_size > 0


@pytest.mark.parametrize(
    "options",
    [
        ["--step", "0"],
        ["--step", "nan"],
        ["--step", "1e-7"],
        ["--min-cameras", "-1"],
        ["--max-mm-per-pixel", "0"],
        ["--require", "1.5"],
        ["--out", "picture.jpg"],
        ["--out", "/no/such/folder/picture.png"],
    ],
)
def test_bad_coverage_input_is_one_line_and_status_2(sample_cell_file, capsys, options):
    assert main(["coverage", sample_cell_file, *options]) == 2
    err = capsys.readouterr().err
    assert err.startswith("marnox: error: ") and err.count("\n") == 1
