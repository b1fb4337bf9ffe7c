// The output plan of a render: every file the run will write, named and
// checked before the first frame renders, so that a bad name costs nothing.
//
// For each frame: the image (-o) and, with --ids PREFIX, PREFIX.objectid.png
// and PREFIX.materialid.png, the '#' runs of both filled in
// (output_name.h); -o - is standard output for every frame (a PNG stream).
// The plan refuses, with InputError naming the option:
//   - an image name whose extension is not a format the command writes
//     (output_format.h);
//   - a name that is empty, or has a part longer than the file system allows
//     (255 bytes a name, 4095 a path);
//   - several frames for a name without '#';
//   - two outputs of the run that are the same file (two options meeting,
//     or a frame listed twice): the later write would destroy the earlier;
//   - an output that is one of the run's inputs (the scene file, the input
//     image, the ID images): the render would overwrite what it reads;
//   - an output that is a folder, or whose folder cannot be made or written
//     (the nearest existing folder on its way must be a writable folder).
// Folders are not created here: each is made when its frame is written
// (AtomicFile), so a long frame range does not make all its folders first.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "host/app/render_frame.h"
#include "host/app/scene/scene_file.h"

namespace velumbra {

// A file the run reads, as messages name it ("the scene file").
struct PlannedInput {
  std::filesystem::path path;
  std::string what;
};

struct FrameOutputs {
  int frame = 0;
  std::string image;          // -o
  std::string objectIds;      // --ids: PREFIX.objectid.png (empty without --ids)
  std::string materialIds;    // --ids: PREFIX.materialid.png
};

// The files a render of `frames` of `scene` reads: the scene file
// (`sceneFile`, empty for the built-in scene), the input image
// (`inputs.image`, else render.image) and the ID images; each frame's file
// where a name has a frame pattern.
std::vector<PlannedInput> RenderInputs(const std::string& sceneFile, const SceneDesc& scene,
                                       const InputOptions& inputs, const std::vector<int>& frames);

class OutputPlan {
 public:
  // `output` is -o, `idsPrefix` --ids (empty: none). Throws InputError.
  OutputPlan(const std::string& output, const std::string& idsPrefix, const std::vector<int>& frames,
             const std::vector<PlannedInput>& inputs);

  const std::vector<FrameOutputs>& Frames() const { return frames_; }

 private:
  std::vector<FrameOutputs> frames_;
};

// Throws InputError when `file` (named by `option`) is empty or too long for
// the file system, is a folder, or its nearest existing folder is not a
// writable folder. Creates nothing.
void CheckOutputFile(const std::filesystem::path& file, const std::string& option);

}  // namespace velumbra
