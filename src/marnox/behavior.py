"""Behaviors: named sequences of steps acting on workspace nodes."""

from __future__ import annotations

from typing import NamedTuple

from marnox import _messages


class BehaviorStep(NamedTuple):
    """One step: what to do (``kind``, e.g. "move", "grasp") and to which node (``target``)."""

    kind: str
    target: str = ""


class Behavior:
    """A named, ordered list of ``BehaviorStep``.

    ``steps`` may hold ``BehaviorStep`` values or plain ``(kind, target)``
    pairs; a step's kind must not be empty, its target may be.
    """

    def __init__(self, name, steps=()):
        """Create a behavior; see the class docstring."""
        if not name:
            raise ValueError("a behavior needs a name")
        self._name = str(name)
        self._steps = []
        for step in steps:
            self.addStep(*step)

    def name(self):
        """The behavior's name."""
        return self._name

    def steps(self):
        """The steps, in order."""
        return tuple(self._steps)

    def addStep(self, kind, target=""):
        """Append a step and return it."""
        if not kind:
            raise ValueError("a behavior step needs a kind")
        step = BehaviorStep(str(kind), str(target))
        self._steps.append(step)
        return step

    def _str(self, indent):
        """Printable text: a header line, then one numbered line per step."""
        pad = "  " * indent
        count = len(self._steps)
        lines = [f"{pad}behavior {self._name} ({count} step{'' if count == 1 else 's'})"]
        for number, step in enumerate(self._steps, 1):
            target = " " + step.target if step.target else ""
            lines.append(f"{pad}  {number}. {step.kind}{target}")
        return "\n".join(lines) + "\n"

    def __str__(self):
        return self._str(0)

    @staticmethod
    def _ToModel(behavior):
        """A ``BehaviorModel`` message describing ``behavior``."""
        return _messages.project_pb2.BehaviorModel(
            name=behavior._name,
            steps=[{"kind": kind, "target": target} for kind, target in behavior._steps],
        )

    @staticmethod
    def _FromModel(message):
        """A new ``Behavior`` from a ``BehaviorModel`` message."""
        behavior = Behavior(message.name)
        # Message strings are already str; only the kinds need checking.
        steps = [BehaviorStep(step.kind, step.target) for step in message.steps]
        if not all(step.kind for step in steps):
            raise ValueError("a behavior step needs a kind")
        behavior._steps = steps
        return behavior
