"""Link trees built from URDF files: joints, visual geometry and colours.

``_urdf_xml`` reads the file's elements (meshes are read by ``VisualMesh``,
through the shared cache); this module checks the tree the file describes
and turns it into ``Link`` objects.
"""

from __future__ import annotations

import contextlib
import os
from urllib.parse import unquote, urlparse

import numpy as np

from marnox import _checks
from marnox._files import requireRegularFile
from marnox.constants import DEFAULT_GREY
from marnox.dynamics import JOINT_TYPES, Link
from marnox.pose import _IDENTITY, Pose
from marnox.visual import VisualBox, VisualCylinder, VisualMesh, VisualSphere

# URDF's planar and floating joints have no single axis to show them on.
_JOINT_TYPES = {name: name for name in JOINT_TYPES} | {"floating": "fixed", "planar": "fixed"}


def _parse(path):
    from lxml import etree

    from marnox._urdf_xml import robotFromXml

    requireRegularFile(path, "URDF file")
    try:
        root = etree.parse(path).getroot()
    except etree.XMLSyntaxError as error:
        raise ValueError(f"{path}: not well-formed XML ({error})") from error
    if root.tag != "robot":
        raise ValueError(f"{path}: the top element is <{root.tag}>, not <robot>")
    # Some URDFs leave the robot unnamed; the file's name serves instead.
    if not root.get("name"):
        root.set("name", os.path.splitext(os.path.basename(path))[0])
    try:
        # An infinite origin makes NaN in the matrix it becomes: refused later, naming the joint.
        with np.errstate(invalid="ignore", over="ignore"):
            return robotFromXml(root)
    except ValueError as error:
        raise ValueError(
            f"{path}: not a readable URDF ({type(error).__name__}: {error})"
        ) from error


def _firstRepeated(names):
    seen = set()
    for name in names:
        if name in seen:
            return name
        seen.add(name)
    return None


def _checkTree(path, robot):
    """The root link's name, once the joints are known to form one tree over the links."""
    names = [link.name for link in robot.links]
    known = set(names)
    for kind, items in (("link", names), ("joint", [joint.name for joint in robot.joints])):
        duplicate = _firstRepeated(items)
        if duplicate is not None:
            # A second joint of a name could not be set by it.
            raise ValueError(f"{path}: {kind} {duplicate!r} is defined twice")
    parents = {}
    for joint in robot.joints:
        for role, link in (("parent", joint.parent), ("child", joint.child)):
            if link not in known:
                raise ValueError(
                    f"{path}: joint {joint.name!r} names {role} link {link!r}, "
                    "which the file does not define"
                )
        if joint.child in parents:
            raise ValueError(
                f"{path}: link {joint.child!r} is the child of joints "
                f"{parents[joint.child].name!r} and {joint.name!r}"
            )
        parents[joint.child] = joint
    roots = [name for name in names if name not in parents]
    if not roots:
        raise ValueError(f"{path}: no root link (the joints form a cycle)")
    if len(roots) > 1:
        raise ValueError(f"{path}: several root links: {', '.join(roots)}")
    children = {}
    for joint in robot.joints:
        children.setdefault(joint.parent, []).append(joint)
    reached, stack = set(), [roots[0]]
    while stack:
        name = stack.pop()
        reached.add(name)
        stack.extend(joint.child for joint in children.get(name, ()))
    if len(reached) < len(names):
        loop = sorted(known - reached)
        raise ValueError(f"{path}: links {', '.join(loop)} form a cycle cut off from the root")
    return roots[0], children


def _packageCandidates(package, rest, urdfPath, packageDirs):
    searched = list(packageDirs)
    searched += [d for d in os.environ.get("ROS_PACKAGE_PATH", "").split(os.pathsep) if d]
    folder = os.path.dirname(os.path.abspath(urdfPath))
    while True:
        searched.append(folder)
        parent = os.path.dirname(folder)
        if parent == folder:
            break
        folder = parent
    for base in searched:
        base = os.fspath(base)
        if os.path.basename(os.path.normpath(base)) == package:
            yield os.path.join(base, rest)
        yield os.path.join(base, package, rest)


def resolveMeshPath(filename, urdfPath, packageDirs=()):
    """The file a URDF mesh ``filename`` names, or None when it cannot be found.

    ``package://PKG/...`` is looked up in ``packageDirs`` (folders that hold
    PKG, or PKG itself), then ``ROS_PACKAGE_PATH``, then the URDF's folder and
    the folders above it. ``file://`` and absolute paths are taken as they are;
    anything else is relative to the URDF's folder.
    """
    if filename.startswith("package://"):
        package, _, rest = filename[len("package://") :].partition("/")
        for candidate in _packageCandidates(package, rest, urdfPath, packageDirs):
            if os.path.isfile(candidate):
                return candidate
        return None
    if filename.startswith("file://"):
        filename = unquote(urlparse(filename).path)
    path = os.path.join(os.path.dirname(os.path.abspath(urdfPath)), filename)
    return path if os.path.isfile(path) else None


@contextlib.contextmanager
def _naming(path, element):
    """Prefixes the ValueErrors raised inside with the file and the element."""
    try:
        yield
    except ValueError as error:
        raise ValueError(f"{path}: {element}: {error}") from error


def _pose(matrix):
    if matrix is None:
        return _IDENTITY
    matrix = np.asarray(matrix, dtype=float)
    # NaN, infinite or beyond single precision, which VTK draws in.
    for value in matrix.flat:
        _checks.finite(value, "origin")
    return Pose.fromMatrix(matrix)


def _color(material, named):
    """``(rgb, opacity)`` of a visual's material, or None when it gives no colour."""
    if material is None:
        return None
    color = material.color
    if color is None and material.name in named:
        color = named[material.name].color
    if color is None or color.rgba is None:
        return None
    r, g, b, a = (float(v) for v in color.rgba)
    return (r, g, b), a


def _geometry(path, linkName, visual, named, packageDirs):
    """The shape of ``visual``."""
    geometry = visual.geometry
    offset = _pose(visual.origin)
    color = _color(visual.material, named)
    rgb, opacity = color if color is not None else (None, 1.0)
    if geometry.mesh is not None:
        filename = geometry.mesh.filename
        found = resolveMeshPath(filename, path, packageDirs)
        if found is None:
            raise FileNotFoundError(
                2, f"link {linkName!r}: mesh {filename!r} not found (named in {path})", filename
            )
        scale = geometry.mesh.scale
        scale = (1.0, 1.0, 1.0) if scale is None else np.broadcast_to(scale, (3,))
        return VisualMesh(found, scale=tuple(scale), color=rgb, opacity=opacity, offset=offset)
    rgb = DEFAULT_GREY if rgb is None else rgb
    if geometry.box is not None:
        return VisualBox(tuple(geometry.box.size), rgb, opacity, offset)
    if geometry.cylinder is not None:
        cylinder = geometry.cylinder
        return VisualCylinder(cylinder.radius, cylinder.length, rgb, opacity, offset)
    return VisualSphere(geometry.sphere.radius, rgb, opacity, offset)


def _shape(path, linkName, visual, named, packageDirs):
    with _naming(path, f"link {linkName!r}"):
        return _geometry(path, linkName, visual, named, packageDirs)


def _link(path, name, joint, links, named, packageDirs):
    """The link ``name`` with its shapes, attached by ``joint`` (None for the root); no children."""
    shapes = [_shape(path, name, v, named, packageDirs) for v in links[name].visuals]
    if joint is None:
        return Link(name, shapes=shapes)
    jointType = _JOINT_TYPES.get(joint.type)
    if jointType is None:
        raise ValueError(f"{path}: joint {joint.name!r} has unknown type {joint.type!r}")
    axis = None
    if jointType != "fixed":
        axis = (1.0, 0.0, 0.0) if joint.axis is None else joint.axis
        with _naming(path, f"joint {joint.name!r}"):
            axis = _checks.finiteVector(axis, "axis")
        if np.linalg.norm(axis) == 0.0:
            raise ValueError(f"{path}: joint {joint.name!r} has a zero axis")
    limit = joint.limit
    limits = None
    if jointType in ("revolute", "prismatic") and limit is not None:
        if limit.lower is not None and limit.upper is not None:
            limits = (limit.lower, limit.upper)
    mimic = None
    if joint.mimic is not None:
        multiplier = 1.0 if joint.mimic.multiplier is None else joint.mimic.multiplier
        offset = 0.0 if joint.mimic.offset is None else joint.mimic.offset
        mimic = (joint.mimic.joint, multiplier, offset)
    with _naming(path, f"joint {joint.name!r}"):
        return Link(
            name,
            origin=_pose(joint.origin),
            axis=axis,
            shapes=shapes,
            jointType=jointType,
            jointName=joint.name,
            limits=limits,
            mimic=mimic,
        )


def _linkTree(path, root, links, children, named, packageDirs):
    # A stack rather than recursion, so that a chain of any length loads.
    top = _link(path, root, None, links, named, packageDirs)
    pending = [(top, root)]
    while pending:
        parent, name = pending.pop()
        for joint in children.get(name, ()):
            child = _link(path, joint.child, joint, links, named, packageDirs)
            pending.append((parent.addChild(child), joint.child))
    return top


def linkTreeFromUrdf(path, packageDirs=()):
    """``(robot name, root Link)`` of the URDF file ``path``; see ``Robot.fromURDF``."""
    path = os.fspath(path)
    robot = _parse(path)
    if not robot.links:
        raise ValueError(f"{path}: no root link (the file defines no links)")
    root, children = _checkTree(path, robot)
    links = {link.name: link for link in robot.links}
    named = {m.name: m for m in robot.materials if m.name}
    # Inline materials with a colour may also be referred to by name elsewhere.
    for link in robot.links:
        for visual in link.visuals:
            material = visual.material
            if material is not None and material.name and material.color is not None:
                named.setdefault(material.name, material)
    return robot.name, _linkTree(path, root, links, children, named, packageDirs)
