"""The parts of a URDF file that make a link tree, read from its XML as plain records.

Read with lxml alone, so that loading a robot whose meshes are already
converted pulls in no mesh library. A missing element or attribute, or a
malformed value, raises ValueError, which the caller reports as an unreadable
URDF.
"""

from __future__ import annotations

from types import SimpleNamespace

import numpy as np
from lxml import etree


def _required(element, name):
    """The attribute ``name`` of ``element``; ValueError when it has none."""
    value = element.get(name)
    if value is None:
        raise ValueError(f"<{element.tag}> has no {name}")
    return value


def _child(element, tag):
    """The first ``<tag>`` inside ``element``; ValueError when there is none."""
    found = element.find(tag)
    if found is None:
        raise ValueError(f"<{element.tag}> has no <{tag}>")
    return found


def _floats(text):
    # Some files separate numbers with commas.
    return np.array(text.replace(",", " ").split(), dtype=np.float64)


def _optionalFloat(text):
    return None if text is None else float(text)


def _origin(element):
    """The 4x4 matrix of an ``<origin>``: translation, then fixed-axis roll, pitch, yaw."""
    if element is None:
        return None
    xyz = [float(v) for v in element.get("xyz", "0 0 0").split()]
    roll, pitch, yaw = (float(v) for v in element.get("rpy", "0 0 0").split())
    if len(xyz) != 3:
        raise ValueError(f"origin xyz needs 3 numbers, not {len(xyz)}")
    sr, sp, sy = np.sin(roll), np.sin(pitch), np.sin(yaw)
    cr, cp, cy = np.cos(roll), np.cos(pitch), np.cos(yaw)
    return np.array(
        [
            [cp * cy, sp * sr * cy - cr * sy, sp * cr * cy + sr * sy, xyz[0]],
            [cp * sy, sp * sr * sy + cr * cy, sp * cr * sy - sr * cy, xyz[1]],
            [-sp, cp * sr, cp * cr, xyz[2]],
            [0.0, 0.0, 0.0, 1.0],
        ]
    )


def _scale(element):
    values = element.get("scale")
    if values is None:
        return None
    values = _floats(values)
    if len(values) == 0:
        return None
    return float(values[0]) if len(values) == 1 else values


def _geometry(owner):
    element = _child(owner, "geometry")
    if len(element) == 0:
        raise ValueError("<geometry> holds no shape")
    shape = element[0]
    geometry = SimpleNamespace(box=None, cylinder=None, sphere=None, mesh=None)
    if shape.tag == "box":
        geometry.box = SimpleNamespace(size=_floats(_required(shape, "size")))
    elif shape.tag == "cylinder":
        geometry.cylinder = SimpleNamespace(
            radius=float(_required(shape, "radius")), length=float(_required(shape, "length"))
        )
    elif shape.tag == "sphere":
        geometry.sphere = SimpleNamespace(radius=float(_required(shape, "radius")))
    elif shape.tag == "mesh":
        geometry.mesh = SimpleNamespace(filename=_required(shape, "filename"), scale=_scale(shape))
    else:
        raise ValueError(f"Unknown tag: {shape.tag}")
    return geometry


def _material(element):
    if element is None:
        return None
    color = element.find("color")
    if color is not None:
        color = SimpleNamespace(
            rgba=np.array([float(v) for v in color.get("rgba", "1 1 1 1").split()])
        )
    return SimpleNamespace(name=element.get("name"), color=color)


def _visual(element):
    return SimpleNamespace(
        geometry=_geometry(element),
        origin=_origin(element.find("origin")),
        material=_material(element.find("material")),
    )


def _link(element):
    # Collisions are not drawn, but a broken one still makes the file unreadable.
    for collision in element.findall("collision"):
        _geometry(collision)
        _origin(collision.find("origin"))
    return SimpleNamespace(
        name=_required(element, "name"), visuals=[_visual(v) for v in element.findall("visual")]
    )


def _joint(element):
    axis = element.find("axis")
    limit = element.find("limit")
    mimic = element.find("mimic")
    if limit is not None:
        limit = SimpleNamespace(
            lower=_optionalFloat(limit.get("lower")), upper=_optionalFloat(limit.get("upper"))
        )
    if mimic is not None:
        mimic = SimpleNamespace(
            joint=_required(mimic, "joint"),
            multiplier=float(mimic.get("multiplier", 1.0)),
            offset=float(mimic.get("offset", 0.0)),
        )
    return SimpleNamespace(
        name=_required(element, "name"),
        type=element.get("type"),
        parent=_required(_child(element, "parent"), "link"),
        child=_required(_child(element, "child"), "link"),
        origin=_origin(element.find("origin")),
        axis=np.array(
            [float(v) for v in ("1 0 0" if axis is None else axis.get("xyz", "1 0 0")).split()]
        ),
        limit=limit,
        mimic=mimic,
    )


def robotFromXml(root):
    """Name, links, joints and top-level materials of the ``<robot>`` element ``root``."""
    etree.strip_tags(root, etree.Comment, etree.ProcessingInstruction)
    return SimpleNamespace(
        name=root.get("name"),
        links=[_link(e) for e in root.findall("link")],
        joints=[_joint(e) for e in root.findall("joint")],
        materials=[_material(e) for e in root.findall("material")],
    )
