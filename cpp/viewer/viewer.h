// viewer.h: what the viewer module's files share: the viewers' fields, the module-level names
// they look up, the methods both viewers define, the VTK methods they call, and the classes.
#pragma once

#include "pyglue/pyglue.h"

/// A numeric macro's value as a string literal, for docstrings that state a limit.
#define MARNOX_TEXT(macro) MARNOX_TEXT_OF(macro)
#define MARNOX_TEXT_OF(value) #value

namespace marnox::viewer {

namespace nb = nanobind;
using pyglue::Call;
using pyglue::KwNames;
using pyglue::MethodDef;
using pyglue::Name;

/// Instance fields: the viewers' state, in the instance __dict__ under these names.
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
inline const Name state{"_state"};
inline const Name labels{"_labels"};
inline const Name selector{"_selector"};
inline const Name label_names{"_labelNames"};
inline const Name label_of{"_labelOf"};
inline const Name own_actors{"_ownActors"};
inline const Name window_release{"_windowRelease"};
}  // namespace field

/// Module-level names, looked up in the module namespace at call time. The model's classes are
/// in interfaces/model.h.
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
inline const Name numpy_to_vtk_type{"NUMPY_TO_VTK_TYPE"};
inline const Name camera_frame{"CameraFrame"};
inline const Name node_path{"nodePath"};
inline const Name vtk_hardware_selector{"vtkHardwareSelector"};
inline const Name vtk_matrix_4x4{"vtkMatrix4x4"};
inline const Name vtk_unsigned_char_array{"vtkUnsignedCharArray"};
inline const Name vtk_float_array{"vtkFloatArray"};
}  // namespace global

/// The methods both viewers define (each its own), named once for both.
namespace method {
inline const Name init{"init"};
inline const Name spin{"spin"};
inline const Name render{"render"};
inline const Name stop{"stop"};
inline const Name screenshot{"screenshot"};
inline const Name set_project{"setProject"};
inline const Name get_renderer{"_getRenderer"};
}  // namespace method

/// Every VTK method the viewers call through VTK's Python wrapping, under VTK's own name.
namespace vtk {
#define MARNOX_VTK_METHOD(name) \
    inline const Name name {    \
        #name                   \
    }
MARNOX_VTK_METHOD(AddActor);
MARNOX_VTK_METHOD(AddLight);
MARNOX_VTK_METHOD(AddRenderer);
MARNOX_VTK_METHOD(CaptureBuffers);
MARNOX_VTK_METHOD(CreateDataArray);
MARNOX_VTK_METHOD(DeepCopy);
MARNOX_VTK_METHOD(Finalize);
MARNOX_VTK_METHOD(GetActiveCamera);
MARNOX_VTK_METHOD(GetActors);
MARNOX_VTK_METHOD(GetColor3d);
MARNOX_VTK_METHOD(GetErrorCode);
MARNOX_VTK_METHOD(GetInitialized);
MARNOX_VTK_METHOD(GetNumberOfConsumers);
MARNOX_VTK_METHOD(GetOutputPort);
MARNOX_VTK_METHOD(GetPixelData);
MARNOX_VTK_METHOD(GetPointData);
MARNOX_VTK_METHOD(GetPropFromID);
MARNOX_VTK_METHOD(GetRenderers);
MARNOX_VTK_METHOD(GetViewProps);
MARNOX_VTK_METHOD(GetZbufferData);
MARNOX_VTK_METHOD(GradientBackgroundOn);
MARNOX_VTK_METHOD(Initialize);
MARNOX_VTK_METHOD(IsA);
MARNOX_VTK_METHOD(MakeCurrent);
MARNOX_VTK_METHOD(Modified);
MARNOX_VTK_METHOD(OffScreenRenderingOn);
MARNOX_VTK_METHOD(ProcessEvents);
MARNOX_VTK_METHOD(ReadFrontBufferOff);
MARNOX_VTK_METHOD(ReleaseGraphicsResources);
MARNOX_VTK_METHOD(RemoveActor);
MARNOX_VTK_METHOD(RemoveAllItems);
MARNOX_VTK_METHOD(RemoveRenderer);
MARNOX_VTK_METHOD(Render);
MARNOX_VTK_METHOD(ResetCamera);
MARNOX_VTK_METHOD(SetActorPassOnly);
MARNOX_VTK_METHOD(SetArea);
MARNOX_VTK_METHOD(SetBackground);
MARNOX_VTK_METHOD(SetBackground2);
MARNOX_VTK_METHOD(SetColorLevel);
MARNOX_VTK_METHOD(SetColorWindow);
MARNOX_VTK_METHOD(SetDiffuseColor);
MARNOX_VTK_METHOD(SetDimensions);
MARNOX_VTK_METHOD(SetExplicitProjectionTransformMatrix);
MARNOX_VTK_METHOD(SetFileName);
MARNOX_VTK_METHOD(SetFocalPoint);
MARNOX_VTK_METHOD(SetInput);
MARNOX_VTK_METHOD(SetInputBufferTypeToRGBA);
MARNOX_VTK_METHOD(SetInputConnection);
MARNOX_VTK_METHOD(SetInputData);
MARNOX_VTK_METHOD(SetIntensity);
MARNOX_VTK_METHOD(SetInteractorStyle);
MARNOX_VTK_METHOD(SetMapper);
MARNOX_VTK_METHOD(SetMultiSamples);
MARNOX_VTK_METHOD(SetNumberOfComponents);
MARNOX_VTK_METHOD(SetNumberOfTuples);
MARNOX_VTK_METHOD(SetOrigin);
MARNOX_VTK_METHOD(SetPosition);
MARNOX_VTK_METHOD(SetRenderWindow);
MARNOX_VTK_METHOD(SetRenderer);
MARNOX_VTK_METHOD(SetScalars);
MARNOX_VTK_METHOD(SetScale);
MARNOX_VTK_METHOD(SetSize);
MARNOX_VTK_METHOD(SetSpacing);
MARNOX_VTK_METHOD(SetViewUp);
MARNOX_VTK_METHOD(SetViewport);
MARNOX_VTK_METHOD(SetWindowName);
MARNOX_VTK_METHOD(Start);
MARNOX_VTK_METHOD(TerminateApp);
MARNOX_VTK_METHOD(Update);
MARNOX_VTK_METHOD(UseExplicitProjectionTransformMatrixOn);
MARNOX_VTK_METHOD(Write);
MARNOX_VTK_METHOD(Zoom);
#undef MARNOX_VTK_METHOD
}  // namespace vtk

/// The classes of the module, each defined into `module` by its own file, in definition order.
void define_workspace_viewer(nb::handle module);
void define_image_viewer(nb::handle module);
void define_camera_renderer(nb::handle module);
/// `releaseSharedProps(window)`, beside the classes (shared_props.cpp).
void define_release_shared_props(nb::handle module);

}  // namespace marnox::viewer
