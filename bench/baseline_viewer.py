"""The workspace viewer written in plain Python, as the yardstick for the C++ one.

It makes the same VTK and model calls in the same order, so a benchmark that
runs both measures only how the calls are dispatched.
"""

import numpy as np
from vtkmodules.vtkRenderingCore import vtkLight, vtkRenderer, vtkRenderWindow

from marnox.dynamics import _Chain
from marnox.pose import Pose
from marnox.project import Project
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
