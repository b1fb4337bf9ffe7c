// BuildScene: a scene description made into host nodes.
#pragma once

#include <cstdint>

#include "host/app/scene/scene_file.h"
#include "host/sdk/inode.h"

namespace velumbra {

struct BuiltScene {
  INode* camera = nullptr;  // the render camera; null when the scene has no camera node
  int ticksPerFrame = 0;
};

// Checks the description (ValidateScene), sets the host's ticks per frame
// to 4800 / fps, and creates its nodes in `ip`, which should hold no nodes
// yet: cameras (fov in degrees becomes radians) and dummies, with their
// transform keys at frame * ticks per frame, attached to their parents.
// Throws InputError.
BuiltScene BuildScene(const SceneDesc& scene, Interface& ip);

// The memory the keys of the scene's .chan cameras take once built, at
// most: a key (and a fov key) for each line of each file, counted without
// reading the keys (ChanLineCount). Weighed against the memory budget
// before BuildScene reads the files. Throws InputError for a file that
// cannot be read.
std::uint64_t ChanKeyBytes(const SceneDesc& scene);

// The host key of one key's fields (already merged with the node's own),
// at `time` ticks.
TransformKey ToTransformKey(const TransformFields& fields, TimeValue time);

}  // namespace velumbra
