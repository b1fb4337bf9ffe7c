// The scene file of the velumbra command (JSON) and the plain description it
// is read into.
//
// The description holds what the file says, as written, checked and with its
// relative paths resolved. Reading is scene_reader.cpp (over the JSON
// document scene_json_builder.h builds from the text), writing
// scene_writer.cpp; this header is their one interface.
//
// BuildScene (scene_build.h) turns the description into host nodes, and
// the parameter binding turns its effects' params into parameter block
// values. The format is documented in docs/scene-format.md and
// docs/scene.schema.json.
//
// Every error is an InputError "<file>: <JSON path>: <what>", e.g.
//   scene.json: /nodes/1/fov: expected a number in (0, 180), got "wide"
// with the path as a JSON pointer (RFC 6901); syntax errors give
// "<file>:<line>:<column>: ...".
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace velumbra {

using Vec3 = std::array<double, 3>;
using MatrixRows = std::array<Vec3, 4>;  // rows 0-2 the axes' images, row 3 the translation

// The transform fields of a node or of one of its keys, as written. A
// complete transform is either `matrix`, or `position` with `target`
// (look-at), or `position`, `rotation` (degrees, about world X, then Y,
// then Z) and `scale`; absent fields default to the origin, no rotation and
// unit scale.
struct TransformFields {
  std::optional<MatrixRows> matrix;
  std::optional<Vec3> position;
  std::optional<Vec3> target;
  std::optional<Vec3> rotation;
  std::optional<Vec3> scale;

  bool Empty() const { return !matrix && !position && !target && !rotation && !scale; }
  bool operator==(const TransformFields&) const = default;
};

using Vec2 = std::array<double, 2>;

// A key at a frame: the transform, and for cameras the lens. Transform
// fields it leaves out come from the node's own fields; a key without any
// transform field keys the lens only. The lens animates on its own: `fov`
// (horizontal, degrees) is linear between the keys that give it, `shift`
// between those that give it; before the first and after the last such key
// the nearest holds, and without any the node's own value.
struct TransformKeyDesc {
  int frame = 0;
  TransformFields fields;
  std::optional<double> fov;
  std::optional<Vec2> shift;
  bool operator==(const TransformKeyDesc&) const = default;
};

// A key's fields completed with the node's own fields (the key's win).
TransformFields MergeKeyFields(const TransformFields& node, const TransformFields& key);

enum class NodeType { Camera, Dummy };

// A camera's animation from a Nuke .chan file (chan_file.h): the file's
// transform and vertical field of view keyed at its frames.
struct ChanDesc {
  std::filesystem::path file;   // resolved from the scene file's folder
  bool yUp = true;              // "up": "y" (the applications' default) or "z"
  std::string rotationOrder = "ZXY";  // one of XYZ XZY YXZ YZX ZXY ZYX
  // The file's fov column sets the field of view; false when the node
  // gives its own `fov`, which then holds.
  bool fileFov = true;
  bool operator==(const ChanDesc&) const = default;
};

struct NodeDesc {
  std::string name;
  NodeType type = NodeType::Dummy;
  double fov = 45.0;  // cameras: horizontal field of view in degrees, in (0, 180)
  // Cameras: lens shift in Blender's definition, a fraction of the larger
  // frame dimension (render_info.h); finite.
  Vec2 shift{0, 0};
  std::optional<ChanDesc> chan;       // cameras: the transform (and fov) from a .chan file
  std::optional<std::string> parent;  // none: a child of the scene root
  TransformFields transform;
  std::vector<TransformKeyDesc> keys;  // empty: the transform is static
  bool operator==(const NodeDesc&) const = default;
};

// Where an image or a G-buffer channel comes from: a PNG, or one channel of
// an EXR file, written "file.exr:Channel".
struct ImageSource {
  std::filesystem::path path;
  std::string channel;  // empty for a PNG (or an EXR's own choice)
  bool operator==(const ImageSource&) const = default;
};

struct RenderDesc {
  int width = 640;   // 1..65535, width * height at most MaxImagePixels()
  int height = 480;
  int frame = 0;     // rendered when no frame list is given
  std::string camera;  // a camera node's name; empty: the first camera node
  std::array<double, 4> background{0, 0, 0, 0};  // RGBA, 1.0 = file white (65280)
  std::optional<std::filesystem::path> image;    // replaces the background
  std::optional<ImageSource> objectId;
  std::optional<ImageSource> materialId;
  bool operator==(const RenderDesc&) const = default;
};

// One effect parameter as written: a plain value, or keys of
// (frame, value). The binding to the effect's parameter block checks names,
// types and ranges; `jsonPath` is where the parameter stands in the file,
// for its messages.
struct ParamDesc {
  std::string name;
  bool keyed = false;
  nlohmann::json value;                              // when not keyed
  std::vector<std::pair<int, nlohmann::json>> keys;  // when keyed, in file order
  std::string jsonPath;                              // e.g. /effects/0/params/duration

  // Equal values; where they stand does not matter.
  bool operator==(const ParamDesc& o) const {
    return name == o.name && keyed == o.keyed && value == o.value && keys == o.keys;
  }
};

struct EffectDesc {
  std::string className;  // a class the loaded modules provide, e.g. Qe_Velumbra
  std::string name;       // the effect's name in the scene
  std::vector<ParamDesc> params;  // in file order
  bool operator==(const EffectDesc&) const = default;
};

struct SceneDesc {
  std::string source = "<default scene>";  // the file, as named in messages
  double fps = 30.0;  // 4800 / fps must be a whole number of ticks
  RenderDesc render;
  std::vector<NodeDesc> nodes;
  std::vector<EffectDesc> effects;

  // 4800 / fps (valid only for a checked description).
  int TicksPerFrame() const;
  // The node `render.camera` names, or the first camera; null when none.
  const NodeDesc* RenderCamera() const;

  // Equal content; `source` does not count.
  bool operator==(const SceneDesc& o) const {
    return fps == o.fps && render == o.render && nodes == o.nodes && effects == o.effects;
  }
};

// The largest render by default: 2^28 pixels, as for images read; the
// limit in force is MaxImagePixels() (image_limits.h), which the
// environment variable VELUMBRA_MAX_PIXELS changes.
inline constexpr long long kMaxScenePixels = 1LL << 28;

// Reads and checks a scene file; relative paths resolve from its folder.
SceneDesc LoadSceneFile(const std::filesystem::path& file);

// Parses and checks scene text; `label` names it in messages, relative paths
// resolve from `baseDir`.
SceneDesc ParseScene(std::string_view text, const std::string& label,
                     const std::filesystem::path& baseDir);

// Checks a description made in code the way ParseScene checks a file
// (values, names, parents, cycles, the render camera). Throws InputError.
void ValidateScene(const SceneDesc& scene);

// The description as scene-file JSON (two-space indent). Paths are written
// relative to `baseDir` where they can be (empty: as they are), so that
// ParseScene(text, ..., baseDir) gives the same description.
std::string SceneToJson(const SceneDesc& scene, const std::filesystem::path& baseDir = {});

// Checks the description (ValidateScene), then writes SceneToJson relative
// to the file's folder, atomically.
void SaveSceneFile(const SceneDesc& scene, const std::filesystem::path& file);

// The built-in scene: 640 x 480, transparent black, camera "Camera001" at
// the origin looking along world +Y with a 45-degree horizontal field of
// view, and one Qe_Velumbra effect with every parameter at its default.
SceneDesc DefaultScene();

// Reads one parameter value as a scene's params hold it (a value, or
// {"keys": [[frame, value], ...]}), e.g. from the command line; `label` and
// `jsonPath` name it in messages.
ParamDesc ParseParamValue(const nlohmann::json& value, const std::string& name, const std::string& label,
                          const std::string& jsonPath, int ticksPerFrame);

// Ticks of `frame` at `ticksPerFrame`; nullopt when it does not fit the
// host's 32-bit time.
std::optional<int> FrameToTicks(long long frame, int ticksPerFrame);

}  // namespace velumbra
