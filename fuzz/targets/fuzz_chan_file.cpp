#include <cmath>
#include <string>

#include "fuzz/targets/fuzz_targets.h"
#include "fuzz/targets/memory_file.h"
#include "host/app/base/app_error.h"
#include "host/app/scene/chan_file.h"
#include "host/app/scene/scene_build.h"
#include "host/sdk/inode.h"

namespace velumbra::fuzz {

namespace {

constexpr const char* kName = "chan_file";

// Reads the file with one convention: the frames, or nullopt for a clear
// error naming the file.
std::optional<std::vector<ChanFrame>> Read(const ChanDesc& chan) {
  try {
    return ReadChanFile(chan);
  } catch (const InputError& e) {
    const std::string message = e.what();
    if (message.find(chan.file.string()) == std::string::npos)
      Fault(kName, "an error that does not name the file: " + message);
    return std::nullopt;
  }
}

// A camera's linear part stays a rotation: unit rows at right angles.
void CheckRotation(const Matrix3& m, const std::string& what) {
  for (int r = 0; r < 3; ++r) {
    if (std::fabs(m.GetRow(r).Length() - 1.0f) > 1e-3f) Fault(kName, what + ": a row is not of unit length");
    if (std::fabs(DotProd(m.GetRow(r), m.GetRow((r + 1) % 3))) > 1e-3f) Fault(kName, what + ": rows not at right angles");
  }
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 3; ++c)
      if (!std::isfinite(m.GetRow(r)[c])) Fault(kName, what + ": not finite");
}

}  // namespace

int FuzzChanFile(const std::uint8_t* data, std::size_t size) {
  const MemoryFile file(data, size);
  ChanDesc yUp;
  yUp.file = file.Path();
  ChanDesc zUp = yUp;
  zUp.yUp = false;
  zUp.rotationOrder = "XYZ";
  const auto frames = Read(yUp);
  // The conventions turn the keys, never change which files are sound.
  if (frames.has_value() != Read(zUp).has_value()) Fault(kName, "the up axis or rotation order changed the verdict");
  if (!frames) return 0;
  const std::uint64_t lines = ChanLineCount(yUp);
  if (frames->empty() || frames->size() > lines) Fault(kName, "more frames than lines, or none");
  for (size_t i = 0; i < frames->size(); ++i) {
    const ChanFrame& f = (*frames)[i];
    if (i > 0 && (f.frame <= (*frames)[i - 1].frame || f.line <= (*frames)[i - 1].line))
      Fault(kName, "frames or lines out of order");
    if (f.line == 0 || f.line > lines) Fault(kName, "a line number beyond the file");
    if (f.verticalFov && !(*f.verticalFov > 0 && *f.verticalFov < 180)) Fault(kName, "a fov out of (0, 180)");
  }
  // Built as a scene's camera: between any two keys the camera turns, it
  // never shrinks or flattens.
  SceneDesc scene;
  scene.render.width = 64;
  scene.render.height = 48;
  NodeDesc camera;
  camera.name = "cam";
  camera.type = NodeType::Camera;
  camera.chan = yUp;
  scene.nodes.push_back(camera);
  scene.render.camera = "cam";
  Interface ip;
  BuiltScene built;
  try {
    built = BuildScene(scene, ip);
  } catch (const InputError&) {
    return 0;  // a frame beyond the host's time, a fov too wide for the frame
  }
  const std::vector<TransformKey>& keys = built.camera->TransformKeys();
  for (size_t i = 0; i + 1 < keys.size() && i < 64; ++i) {
    const TimeValue mid = keys[i].time + (keys[i + 1].time - keys[i].time) / 2;
    CheckRotation(built.camera->GetNodeTM(mid), "the camera between keys " + std::to_string(i) + " and " +
                                                    std::to_string(i + 1));
  }
  return 0;
}

}  // namespace velumbra::fuzz
