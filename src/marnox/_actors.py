"""The VTK pipelines behind the visual elements, from surface to actor.

Loaded with the first actor an element builds, not with ``marnox.visual``:
VTK's rendering and filter modules take longer to load than a robot whose
meshes are cached takes to read, and a script that only reads or saves a
cell never draws it.
"""

from __future__ import annotations

import functools

# Registers the OpenGL overrides: mappers and actors created before this
# import are abstract and would draw nothing in any renderer.
import vtkmodules.vtkRenderingOpenGL2  # noqa: F401
from vtkmodules.vtkCommonDataModel import vtkPolyData
from vtkmodules.vtkCommonTransforms import vtkTransform
from vtkmodules.vtkFiltersCore import vtkTubeFilter
from vtkmodules.vtkFiltersGeneral import vtkTransformFilter
from vtkmodules.vtkFiltersSources import vtkCubeSource, vtkCylinderSource, vtkSphereSource
from vtkmodules.vtkRenderingCore import (
    vtkActor,
    vtkAssembly,
    vtkPointGaussianMapper,
    vtkPolyDataMapper,
    vtkProperty,
    vtkRenderer,
)


def polydataActor(polydata):
    """An actor drawing ``polydata`` as it is, shared, not copied."""
    mapper = vtkPolyDataMapper()
    mapper.SetInputData(polydata)
    return mapperActor(mapper)


def mapperActor(mapper):
    """An actor drawing what ``mapper`` draws."""
    actor = vtkActor()
    actor.SetMapper(mapper)
    return actor


def emptyAssembly():
    """A prop that draws the actors later added to it as its parts."""
    return vtkAssembly()


def pointProperty(color, size, spheres):
    """The look a point cloud's pieces share."""
    prop = vtkProperty()
    prop.SetColor(*color)
    prop.SetPointSize(size)
    prop.SetRenderPointsAsSpheres(spheres)
    return prop


def pieceActor(polydata, prop, spheres, drawn):
    """An actor of ``prop`` drawing one piece of a point cloud as :func:`pointMapper` does;
    ``drawn()`` (a weak method) is called each time the piece has been sent to the window."""
    mapper = pointMapper(polydata, spheres)

    def observe(caller, event):
        method = drawn()
        if method is not None:
            method()

    mapper.AddObserver("EndEvent", observe)
    actor = mapperActor(mapper)
    actor.SetProperty(prop)
    return actor


def finishDrawing(prop):
    """Wait until the window that draws ``prop`` has drawn everything sent to it."""
    renderer = prop.GetConsumer(0) if prop.GetNumberOfConsumers() else None
    window = renderer.GetRenderWindow() if isinstance(renderer, vtkRenderer) else None
    if window is not None:
        window.WaitForCompletion()


def pointMapper(polydata, spheres):
    """A mapper drawing every point of ``polydata`` in its point colours, if any.

    Without ``spheres``, squares of the actor's point size straight from the point array
    (a point-sprite mapper at scale 0: no vertex list, no lighting); with ``spheres``,
    the vertex cells as the actor's lit sphere impostors.
    """
    if spheres:
        mapper = vtkPolyDataMapper()
    else:
        mapper = vtkPointGaussianMapper()
        mapper.SetScaleFactor(0.0)
        mapper.EmissiveOff()
    mapper.SetInputData(polydata)
    mapper.SetScalarModeToUsePointData()
    return mapper


def followInteraction(actor, followed, setMoving):
    """Call ``setMoving()`` (a weak method) with True when the mouse starts moving the camera
    of the window that shows ``actor``, with False when it stops.

    ``followed`` is the interactor style this returned last; a style already followed is
    left alone. Returns the style followed now, or None where nothing is on screen.
    """
    renderer = actor.GetConsumer(0) if actor.GetNumberOfConsumers() else None
    window = renderer.GetRenderWindow() if isinstance(renderer, vtkRenderer) else None
    interactor = window.GetInteractor() if window is not None else None
    style = interactor.GetInteractorStyle() if interactor is not None else None
    if style is None or style is followed:
        return style

    def observer(moving):
        def observe(caller, event):
            method = setMoving()
            if method is not None:
                method(moving)

        return observe

    style.AddObserver("StartInteractionEvent", observer(True))
    style.AddObserver("EndInteractionEvent", observer(False))
    return style


def scaledActor(polydata, scale):
    """An actor drawing ``polydata`` scaled by ``(x, y, z)`` along its own axes."""
    actor = polydataActor(polydata)
    # The actor's own scale applies before the pose in its user matrix.
    actor.SetScale(*scale)
    return actor


def tubeActor(lines, radius):
    """An actor drawing the polylines of ``lines`` as capped tubes of ``radius``."""
    tubes = vtkTubeFilter()
    tubes.SetInputData(lines)
    tubes.SetRadius(radius)
    tubes.SetNumberOfSides(12)
    tubes.CappingOn()
    # An output port does not keep its algorithm alive: connect it while
    # ``tubes`` is still held here; from then on the pipeline holds it.
    mapper = vtkPolyDataMapper()
    mapper.SetInputConnection(tubes.GetOutputPort())
    actor = vtkActor()
    actor.SetMapper(mapper)
    return actor


def _detachedOutput(algorithm):
    algorithm.Update()
    surface = vtkPolyData()
    # A copy of the output, so that the surface is not tied to the pipeline that made it.
    surface.ShallowCopy(algorithm.GetOutput())
    return surface


# Every box, cylinder and sphere draws one of these few surfaces, sized by its
# actor's scale. Shared data arrays keep the window's buffer cache to one entry
# per kind; VTK searches that whole cache for each buffer it releases, so a
# surface per element made taking a large scene down quadratic in its size.
@functools.cache
def unitCube():
    """Edges 1 long, centred on the origin."""
    return _detachedOutput(vtkCubeSource())


@functools.cache
def unitCylinder():
    """Radius 1 and height 1, centred on the origin, along z."""
    source = vtkCylinderSource()
    source.SetRadius(1.0)
    source.SetResolution(32)
    # vtkCylinderSource runs along y; turn it onto z.
    toZ = vtkTransform()
    toZ.RotateX(90.0)
    turn = vtkTransformFilter()
    turn.SetTransform(toZ)
    turn.SetInputConnection(source.GetOutputPort())
    return _detachedOutput(turn)


@functools.cache
def unitSphere():
    """Radius 1, centred on the origin."""
    source = vtkSphereSource()
    source.SetRadius(1.0)
    source.SetThetaResolution(24)
    source.SetPhiResolution(16)
    return _detachedOutput(source)
