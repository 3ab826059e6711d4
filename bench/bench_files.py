"""Project.save() then load() against protobuf's JSON conversion of the same snapshot."""

import os
import sys
import tempfile

from google.protobuf.json_format import MessageToJson, Parse
from harness import format_seconds, interleaved_medians

from marnox.behavior import Behavior
from marnox.constants import MX_PROJECT_FILE_EXT
from marnox.item import Item
from marnox.pose import Pose
from marnox.project import Project
from marnox.visual import VisualBox
from orvane.api import project_pb2


def large_project(behaviors=1000, nodes=1000):
    """A project with `behaviors` behaviors of three steps and `nodes` boxes."""
    project = Project()
    workspace = project.workspace()
    for index in range(nodes):
        pose = Pose((index * 0.01, 0.0, 0.1))
        workspace.addItem(Item(f"box{index}", pose, [VisualBox((0.1, 0.1, 0.1))]))
    for index in range(behaviors):
        steps = [("move", f"box{index}"), ("grasp", f"box{index}"), ("lift", "")]
        project.addBehavior(Behavior(f"behavior{index}", steps))
    return project


def file_rows(rounds=7):
    """save() + load() against the same work in plain Python, and against the JSON alone."""
    project = large_project()
    snapshot = project._getSnapshot()
    folder = tempfile.mkdtemp()
    path = os.path.join(folder, "large" + MX_PROJECT_FILE_EXT)
    loaded = Project()

    def save_and_load():
        project.save(path)
        loaded.load(path)

    def plain_python():
        with open(path, "w") as file:
            file.write(MessageToJson(project._getSnapshot()))
        with open(path) as file:
            restored = project_pb2.ProjectSnapshot()
            Parse(file.read(), restored)
            loaded._setSnapshot(restored)

    def json_alone():
        Parse(MessageToJson(snapshot), project_pb2.ProjectSnapshot())

    medians = interleaved_medians(
        {"native": save_and_load, "plain": plain_python, "json": json_alone}, rounds
    )
    measured = format_seconds(medians["native"])
    case = "save() + load(), 1000 behaviors, 1000 nodes"
    return [
        (case, measured, "plain-Python save + load", medians["native"] / medians["plain"], None),
        (case, measured, "MessageToJson + Parse", medians["native"] / medians["json"], 1.15),
    ]


def main():
    from harness import print_table

    print_table(file_rows())
    return 0


if __name__ == "__main__":
    sys.exit(main())
