"""Both viewers written in plain Python, as the yardstick for the C++ ones.

The workspace viewer makes the same VTK and model calls in the same order, so a
benchmark that runs both measures only how the calls are dispatched. The image
viewer copies each image into VTK the straightforward way, with NumPy and
numpy_support. Both open their window off screen only: benchmarks have no display.
"""

import numpy as np
from vtkmodules.util import numpy_support
from vtkmodules.vtkCommonColor import vtkNamedColors
from vtkmodules.vtkCommonDataModel import vtkImageData
from vtkmodules.vtkRenderingCore import (
    vtkActor2D,
    vtkImageMapper,
    vtkLight,
    vtkRenderer,
    vtkRenderWindow,
)

from marnox.dynamics import _Chain
from marnox.pose import Pose
from marnox.project import Project
from marnox.viewer import NUMPY_TO_VTK_TYPE
from marnox.visual import VisualCoordinate, VisualPointcloud, VisualTrajectory


class BaselineWorkspaceViewer:
    """Plain-Python counterpart of ``marnox.viewer.WorkspaceViewer``."""

    def __init__(self, size=(800, 600), trajectory=False, pointcloud=False):
        if type(size) is not tuple:
            raise TypeError("size must be a tuple")
        self._size = size
        self._ren = vtkRenderer()
        self._cam = self._ren.GetActiveCamera()
        self._window = vtkRenderWindow()
        self._interactor = None
        self._project = Project()
        self._actors = []
        self._createLights()
        self._createBackground()
        self._updateCameraView()
        self._trajectory = None
        if trajectory:
            self._trajectory = VisualTrajectory()
            self._ren.AddActor(self._trajectory._getActor())
        self._pointcloud = None
        if pointcloud:
            self._pointcloud = VisualPointcloud()
            self._ren.AddActor(self._pointcloud._getActor())

    def setProject(self, project):
        self._project = project
        self._refreshWorkspace()

    def init(self):
        self._window.OffScreenRenderingOn()
        self._window.SetSize(self._size)
        self._window.AddRenderer(self._getRenderer())
        self._window.Render()
        self._window.SetWindowName("Marnox Workspace Viewer")
        self.render()
        self.resetCamera()
        self.render()

    def _getRenderer(self):
        return self._ren

    def resetCamera(self):
        self._ren.ResetCamera()

    def render(self):
        self._updateVisualFrames()
        self._updatePointCloud()
        self._updateGraspableItems()
        self._updatePlacementRegions()
        self._updateGoalCandidates()
        self._updateToolTrajectories()
        self._updateToolForces()
        if self._interactor is None:
            return
        self._interactor.ProcessEvents()
        self._interactor.Render()

    def _createLights(self):
        x = np.arange(-15, 15, 5)
        y = np.arange(-15, 15, 5)
        xm, ym = np.meshgrid(x, y)
        for i in range(len(x)):
            for j in range(len(y)):
                light = vtkLight()
                light.SetIntensity(0.1)
                light.SetPosition(xm[i, j], ym[i, j], 3)
                light.SetDiffuseColor(1, 1, 1)
                self._ren.AddLight(light)

    def _createBackground(self):
        self._ren.GradientBackgroundOn()
        self._ren.SetBackground(0.45, 0.5, 0.55)
        self._ren.SetBackground2(0.9, 0.95, 1)

    def _updateCameraView(self):
        self._cam.SetPosition((-0.79, -1.9, 1.75))
        self._cam.SetFocalPoint((0, 0, 0.2))
        self._cam.SetViewUp((0.316, 0.563, 0.764))

    def _refreshWorkspace(self):
        self._ren.GetActors().RemoveAllItems()
        for actor in self._actors:
            self._ren.RemoveActor(actor)
        self._actors = []
        for robot in self._project.workspace().getRobots().values():
            self._addItems(item=robot)
        for item in self._project.workspace().getItems().values():
            self._addItems(item=item)
        for camera in self._project.workspace().getCameras().values():
            self._addItems(item=camera)
        for fiducial in self._project.workspace().getFiducials().values():
            self._addItems(item=fiducial)
        for task_region in self._project.workspace().getTaskRegions().values():
            self._addItems(item=task_region)
        origin_frame = VisualCoordinate(scale=0.2)
        self.addElement(element=origin_frame)

    def _addItems(self, item):
        self.addGroup(group=item._getVisualGroup())
        for child in item._getChildren():
            self._addItems(item=child)

    def addGroup(self, group):
        for element in group.elements():
            self.addElement(element=element)

    def addElement(self, element):
        actor = element._getActor()
        self._actors.append(actor)
        self._ren.AddActor(actor)

    def _updateVisualFrames(self):
        origin_link = self._project.workspace()._getOriginLink()
        _Chain._updateVisualElementsRecursive(link=origin_link, base_pose=Pose())

    def _updatePointCloud(self):
        if not self._pointcloud:
            return
        pointcloud = self._project.system().pointcloud()
        self._pointcloud.setPoints(pointcloud=pointcloud)

    def _updateGraspableItems(self):
        pass

    def _updatePlacementRegions(self):
        pass

    def _updateGoalCandidates(self):
        pass

    def _updateToolTrajectories(self):
        if not self._trajectory:
            return
        trajectory = self._project.system().trajectory()
        self._trajectory.setPositions(positions=trajectory)

    def _updateToolForces(self):
        pass


class BaselineImageViewer:
    """Plain-Python counterpart of ``marnox.viewer.ImageViewer``."""

    def __init__(self, size=(800, 600)):
        if type(size) is not tuple:
            raise TypeError("size must be a tuple")
        self._size = size
        self._project = Project()
        self._renderers = []
        self._image_data = []
        self._actors = []
        self._window = vtkRenderWindow()
        self._interactor = None

    def setProject(self, project):
        self._project = project
        self._refreshProject()

    def _refreshProject(self):
        for renderer in self._renderers:
            renderer.GetActors().RemoveAllItems()
        for actor, renderer in zip(self._actors, self._renderers, strict=False):
            renderer.RemoveActor(actor)
        for renderer in self._renderers:
            self._window.RemoveRenderer(renderer)
        self._renderers, self._image_data, self._actors = [], [], []
        viewports = 2 * len(self._project.workspace().getCameras())
        rows = int(np.floor(np.sqrt(viewports))) if viewports else 1
        columns = int(np.ceil(viewports / rows)) if viewports else 1
        background = vtkNamedColors().GetColor3d("AliceBlue")
        for row in range(rows):
            for column in range(columns):
                renderer = vtkRenderer()
                renderer.SetBackground(background)
                renderer.SetViewport(
                    [
                        column / columns,
                        (rows - row - 1) / rows,
                        (column + 1) / columns,
                        (rows - row) / rows,
                    ]
                )
                self._window.AddRenderer(renderer)
                self._renderers.append(renderer)
        for index in range(viewports):
            image_data = vtkImageData()
            mapper = vtkImageMapper()
            mapper.SetInputData(image_data)
            mapper.SetColorWindow(255)
            mapper.SetColorLevel(127.5)
            actor = vtkActor2D()
            actor.SetMapper(mapper)
            self._renderers[index].AddActor(actor)
            self._image_data.append(image_data)
            self._actors.append(actor)
        self._window.SetSize(self._size)

    def init(self):
        self._window.OffScreenRenderingOn()
        self._window.Render()
        self._window.SetWindowName("Marnox Image Viewer")
        self.render()

    def render(self):
        self._updateImages()
        if self._interactor is None:
            return
        self._interactor.ProcessEvents()
        self._interactor.Render()

    def _updateImages(self):
        images = self._project.system().images()
        for image, image_data in zip(images, self._image_data, strict=False):
            vtk_type = NUMPY_TO_VTK_TYPE[image.dtype.type]
            flat = np.ravel(np.flipud(image))
            array = numpy_support.numpy_to_vtk(flat, deep=True, array_type=vtk_type)
            array.SetNumberOfComponents(image.shape[2])
            image_data.SetDimensions(image.shape[1], image.shape[0], 1)
            image_data.SetSpacing(1, 1, 1)
            image_data.SetOrigin(-1, -1, -1)
            image_data.GetPointData().SetScalars(array)
            image_data.Modified()
