// viewer_names.h: fields of both viewers, the module-level names they use and the VTK calls they
// make.
#pragma once

#include "pyglue/pyglue.h"

namespace marnox::viewer {

namespace nb = nanobind;
using pyglue::Call;
using pyglue::KwNames;
using pyglue::MethodDef;
using pyglue::Name;

/// Instance fields; all viewer state lives in the instance __dict__ under these names.
namespace field {
inline const Name size{"_size"};
inline const Name ren{"_ren"};
inline const Name cam{"_cam"};
inline const Name window{"_window"};
inline const Name interactor{"_interactor"};
inline const Name project{"_project"};
inline const Name actors{"_actors"};
inline const Name trajectory{"_trajectory"};
inline const Name pointcloud{"_pointcloud"};
inline const Name renderers{"_renderers"};
inline const Name image_data{"_image_data"};
inline const Name stopped{"_stopped"};
inline const Name thread{"_thread"};
}  // namespace field

/// Module-level names, looked up in the module namespace at call time.
namespace global {
inline const Name vtk_render_window{"vtkRenderWindow"};
inline const Name vtk_render_window_interactor{"vtkRenderWindowInteractor"};
inline const Name vtk_interactor_style_trackball_camera{"vtkInteractorStyleTrackballCamera"};
inline const Name vtk_renderer{"vtkRenderer"};
inline const Name vtk_light{"vtkLight"};
inline const Name vtk_window_to_image_filter{"vtkWindowToImageFilter"};
inline const Name vtk_png_writer{"vtkPNGWriter"};
inline const Name vtk_prop{"vtkProp"};
inline const Name vtk_named_colors{"vtkNamedColors"};
inline const Name vtk_image_data{"vtkImageData"};
inline const Name vtk_image_mapper{"vtkImageMapper"};
inline const Name vtk_actor_2d{"vtkActor2D"};
inline const Name vtk_data_array{"vtkDataArray"};
inline const Name numpy_support{"numpy_support"};
inline const Name np{"np"};
inline const Name image_file_ext{"MX_IMAGE_FILE_EXT"};
inline const Name project_class{"Project"};
inline const Name visual_trajectory{"VisualTrajectory"};
inline const Name visual_pointcloud{"VisualPointcloud"};
inline const Name visual_coordinate{"VisualCoordinate"};
inline const Name chain{"_Chain"};
inline const Name pose{"Pose"};
inline const Name numpy_to_vtk_type{"NUMPY_TO_VTK_TYPE"};
}  // namespace global

/// The operation both viewers call on themselves, through `self` so that overrides take effect.
namespace method {
inline const Name render{"render"};
}  // namespace method

/// VTK methods called through VTK's Python wrapping.
namespace vtk {
inline const Name off_screen_rendering_on{"OffScreenRenderingOn"};
inline const Name set_interactor_style{"SetInteractorStyle"};
inline const Name set_render_window{"SetRenderWindow"};
inline const Name initialize{"Initialize"};
inline const Name set_size{"SetSize"};
inline const Name add_renderer{"AddRenderer"};
inline const Name render{"Render"};
inline const Name set_window_name{"SetWindowName"};
inline const Name start{"Start"};
inline const Name process_events{"ProcessEvents"};
inline const Name finalize{"Finalize"};
inline const Name terminate_app{"TerminateApp"};
inline const Name is_a{"IsA"};
inline const Name add_actor{"AddActor"};
inline const Name get_actors{"GetActors"};
inline const Name remove_all_items{"RemoveAllItems"};
inline const Name remove_actor{"RemoveActor"};
inline const Name set_background{"SetBackground"};
inline const Name set_position{"SetPosition"};
}  // namespace vtk

}  // namespace marnox::viewer
