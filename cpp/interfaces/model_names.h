// model_names.h: the names of every call the extensions make on model objects.
#pragma once

#include "pyglue/pyglue.h"

namespace marnox::model::names {

using pyglue::KwNames;
using pyglue::Name;

// A project.
inline const Name workspace{"workspace"};
inline const Name system{"system"};

// A workspace.
inline const Name get_snapshot{"_getSnapshot"};
inline const Name set_snapshot{"_setSnapshot"};
inline const Name get_robots{"getRobots"};
inline const Name get_items{"getItems"};
inline const Name get_cameras{"getCameras"};
inline const Name get_fiducials{"getFiducials"};
inline const Name get_task_regions{"getTaskRegions"};
inline const Name get_origin_link{"_getOriginLink"};
inline const Name values{"values"};

// A workspace node, its visual group and their elements.
inline const Name get_visual_group{"_getVisualGroup"};
inline const Name get_children{"_getChildren"};
inline const Name elements{"elements"};
inline const Name get_actor{"_getActor"};

// The link tree.
inline const Name update_visual_elements_recursive{"_updateVisualElementsRecursive"};
inline const KwNames link_base_pose{"link", "base_pose"};

// A system and the overlays that show it.
inline const Name pointcloud{"pointcloud"};
inline const Name trajectory{"trajectory"};
inline const Name images{"images"};
inline const Name set_points{"setPoints"};
inline const KwNames pointcloud_kw{"pointcloud"};
inline const Name set_positions{"setPositions"};
inline const KwNames positions_kw{"positions"};

// A behavior and the Behavior class.
inline const Name name{"name"};
inline const Name str{"_str"};
inline const Name to_model{"_ToModel"};
inline const Name from_model{"_FromModel"};

}  // namespace marnox::model::names
