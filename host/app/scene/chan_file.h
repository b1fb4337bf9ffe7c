// Nuke .chan camera files: one line per frame,
//   frame  tx ty tz  rx ry rz  [vfov]
// separated by spaces or tabs; blank lines are skipped. Blender (the
// bundled io_anim_nuke_chan exporter), Nuke, Maya, Houdini and matchmove
// tools write them.
//
// Conventions (the file's world is that of the application that wrote it):
//   - t is the camera's position; the camera looks down its local -Z with
//     +Y up, as in the host.
//   - r are rotations in degrees about the file's X, Y and Z axes, applied
//     to the camera in the order `rotationOrder` names, first letter first
//     (Blender's Euler orders; "ZXY", Nuke's default: about Z, then X,
//     then Y). For column vectors the rotation is R = R3 * R2 * R1, where
//     R1 is the first letter's rotation.
//   - up "y": the file's world is Y-up, so a file point (x, y, z) is the
//     host's (x, -z, y) (Blender's exporter turns its Z-up world by -90
//     degrees about X); up "z": the file's world is the host's.
//   - vfov is the vertical field of view in degrees; the horizontal one of
//     a W x H render is 2 * atan(tan(vfov / 2) * W / H) (square pixels).
//     Blender's exporter writes it from the sensor height, which matches
//     the frame only when the sensor's aspect is the frame's (with sensor
//     fit Vertical, or Auto on a portrait frame); otherwise give the
//     camera's own `fov`.
// Every error names the file and line: "cam.chan:12: expected 7 or 8
// numbers, got 5"; a value is shown quoted ("cam.chan:3: "1,5" is not a
// number"). A number may carry a sign (+1, -2.5e3). Translations must be
// finite in single precision, the fov a projection single precision can
// hold, as for a scene's own `matrix` and `fov`.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "host/app/scene/scene_file.h"

namespace velumbra {

struct ChanFrame {
  int frame = 0;
  std::size_t line = 0;  // in the file, from 1, for messages
  MatrixRows camToWorld{};  // in the host's world, rows as in a scene's `matrix`
  std::optional<double> verticalFov;  // degrees, in (0, 180)
};

// Reads `chan.file` a block at a time, handing each frame to `take` in file
// order: nothing of the file is kept but the line being read, so the keys
// built from it are the only memory it costs. Frames must be whole numbers,
// increasing; the fov column, when present, on every line. Throws
// InputError.
void ReadChanFile(const ChanDesc& chan, const std::function<void(const ChanFrame&)>& take);

// Every frame of `chan.file` (as above) in one vector.
std::vector<ChanFrame> ReadChanFile(const ChanDesc& chan);

// The number of lines of `chan.file` (a last line without a newline counts),
// a bound on its frames known before they are read: counted a block at a
// time. Throws InputError as ReadChanFile does for a file it cannot read.
std::uint64_t ChanLineCount(const ChanDesc& chan);

// The camera-to-world rows of one line's values (degrees).
MatrixRows ChanCameraToWorld(const Vec3& translation, const Vec3& rotationDegrees, bool yUp,
                             const std::string& rotationOrder);

// The horizontal field of view (degrees) of a vertical one for a
// width x height frame of square pixels.
double HorizontalFov(double verticalFovDegrees, int width, int height);

}  // namespace velumbra
