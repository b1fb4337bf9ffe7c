// velumbra farm: a frame range rendered as a Slurm job array (farm.h).
//
// The scene, the options and the inputs are checked here, at submission,
// exactly as a render checks them (a RenderSession is made), so that a typo
// fails once instead of in every task. The tasks then run `velumbra render`
// with the same render options.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "host/app/base/app_error.h"
#include "host/app/base/atomic_file.h"
#include "host/app/commands/commands.h"
#include "host/app/image/exr_camera.h"
#include "host/app/image/exr_io.h"
#include "host/app/farm/farm.h"
#include "host/app/farm/farm_wait.h"
#include "host/app/frame_range.h"
#include "host/app/farm/memory_estimate.h"
#include "host/app/commands/module_options.h"
#include "host/app/commands/render_options.h"
#include "host/app/output/output_name.h"
#include "host/app/output/output_plan.h"
#include "host/app/scene/param_binding.h"
#include "host/app/render_frame.h"
#include "host/app/scene/scene_file.h"
#include "host/app/farm/slurm.h"
#include "host/sdk/bitmap.h"

namespace fs = std::filesystem;

namespace velumbra {

namespace {

struct FarmOptions {
  std::string scene;
  std::string frames;
  std::string output;
  // Passed on to every task's render.
  RenderOptions render;
  std::string pluginDir;
  // The job.
  int chunk = 0;  // 0: DefaultChunkSize
  std::string partition;
  std::string timeLimit;
  std::string mem;
  int cpus = 0;
  bool wait = false;
  bool resume = false;
  bool dryRun = false;
  bool quiet = false;
};

void Say(const FarmOptions& o, const std::string& line) {
  if (!o.quiet) std::fprintf(stderr, "velumbra: %s\n", line.c_str());
}

std::string Plural(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

fs::path Absolute(const std::string& name) {
  std::error_code ec;
  fs::path p = fs::absolute(name, ec);
  if (ec) throw SystemError("cannot make " + name + " an absolute path: " + ec.message());
  return p.lexically_normal();
}

// A frame pattern (-o, --ids, --input) as an absolute name: the working
// folder joins it escaped, so that only what the user wrote is a pattern
// (a folder run#1/ stays run#1/; output_name.h).
std::string AbsolutePattern(const std::string& name) {
  if (fs::path(name).is_absolute()) return fs::path(name).lexically_normal().string();
  std::error_code ec;
  const fs::path cwd = fs::current_path(ec);
  if (ec) throw SystemError("cannot make " + name + " an absolute path: " + ec.message());
  return (fs::path(EscapeFrameName(cwd.string())) / name).lexically_normal().string();
}

fs::path SelfPath() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) throw SystemError("cannot find the velumbra binary's own path: " + ec.message());
  return self;
}

// The render command every task runs, without its frames.
std::vector<std::string> RenderArguments(const FarmOptions& o, const fs::path& jobScene, const std::string& output,
                                         const std::string& ids, const std::string& input) {
  std::vector<std::string> args{SelfPath().string(), "render", jobScene.string(), "-o", output};
  // The tasks read the OpenColorIO config the submission checked (--ocio,
  // else $OCIO), by its absolute name: a node's environment may differ.
  RenderOptions render = o.render;
  if (const char* env = std::getenv("OCIO"); render.ocio.empty() && env && *env) render.ocio = env;
  if (!render.ocio.empty()) render.ocio = Absolute(render.ocio).string();
  const std::vector<std::string> shared = RenderOptionArguments(render, ids, input);
  args.insert(args.end(), shared.begin(), shared.end());
  // The modules beside the binary are found by the task itself.
  if (!o.pluginDir.empty()) args.insert(args.end(), {"--plugins", Absolute(o.pluginDir).string()});
  if (o.cpus > 0) args.insert(args.end(), {"--threads", std::to_string(o.cpus)});
  return args;
}

int RunFarm(const FarmOptions& o, const CLI::App& cli) {
  // The Slurm options first: they cost nothing to check.
  if (!o.partition.empty()) CheckPartition(o.partition);
  if (!o.timeLimit.empty()) CheckTimeLimit(o.timeLimit);
  const bool memGiven = !o.mem.empty();
  const std::uint64_t memGivenMiB = memGiven ? ParseMemoryMiB(o.mem) : 0;

  // Absolute names: the tasks run elsewhere, in another folder.
  const fs::path scenePath = Absolute(o.scene);
  const std::string output = AbsolutePattern(o.output);
  const std::string ids = o.render.ids.empty() ? std::string() : AbsolutePattern(o.render.ids);
  const std::string input = o.render.input.empty() ? std::string() : AbsolutePattern(o.render.input);

  SceneDesc scene = LoadSceneFile(scenePath);
  OverrideScene(o.render, /*sceneFile=*/true, scene);
  const std::vector<int> frames = ParseFrameList(o.frames);
  const ImageFormat outputFormat = OutputFormatOf(output, "-o");
  const fs::path inputImage = !input.empty() ? fs::path(input) : scene.render.image.value_or(fs::path());
  CheckFormatOptions(o.render, o.output, outputFormat, !inputImage.empty() && !IsExrFile(inputImage), cli);
  (void)CompressionOf(o.render, outputFormat == ImageFormat::Exr);
  (void)BackgroundOf(o.render);
  (void)ColourPlanOf(o.render, inputImage, outputFormat);
  std::vector<SetOption> sets;
  for (const std::string& s : o.render.sets) sets.push_back(ParseSetOption(s, scene.TicksPerFrame()));

  // The render's own checks: modules, parameters, inputs, frame times, and
  // the output plan (names, clashes among outputs and with inputs, folders).
  const auto registry = LoadModules(ModuleOptions{o.pluginDir}, o.quiet);
  InputOptions inputs;
  if (!input.empty()) inputs.image = fs::path(input);
  inputs.pngAlpha = PngAlphaOf(o.render);
  inputs.exrCamera = ExrCameraOf(o.render);
  RenderSession session(scene, LookupIn(*registry), sets, inputs);
  for (int frame : frames) session.FrameTime(frame);
  session.CheckCatalogues(frames);
  const OutputPlan plan(output, ids, frames, RenderInputs(scenePath.string(), scene, inputs, frames));

  // Which frames go to the farm.
  std::vector<int> todo = frames;
  if (o.resume) {
    todo = FramesToResume(frames, [&](int frame) { return CheckFrameOutputs(FrameOutputFiles(output, ids, frame)); });
    if (todo.empty()) {
      Say(o, "all " + Plural(frames.size(), "frame is", "frames are") + " there and read; nothing to submit");
      return 0;
    }
    Say(o, Plural(todo.size(), "frame", "frames") + " of " + std::to_string(frames.size()) +
               " missing or not readable: " + FrameListText(todo));
  }

  // The memory each task asks for.
  const ULONG extraChannels = ids.empty() && !IsExrFile(output) ? 0 : (BMM_CHAN_NODE_ID | BMM_CHAN_MTL_ID);
  session.SetStarLightLayer(StarLightLayerOf(o.render, IsExrFile(output), session, todo));
  const RenderMemoryEstimate estimate =
      EstimateRenderMemory(MemoryInputsOf(session, todo, extraChannels, output, o.cpus > 0 ? o.cpus : 1));
  const std::uint64_t memoryMiB = memGiven ? memGivenMiB : MemoryRequestMiB(estimate.Total());

  const int chunk = o.chunk > 0 ? o.chunk : DefaultChunkSize(todo.size());
  const std::vector<FarmTask> tasks = ChunkFrames(todo, chunk);

  const fs::path base = OutputBaseFolder(output);
  const std::string stem = scenePath.stem().string();
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  CheckSlurmFileFolder(JobFolderPath(base, stem, now) / "logs");  // before the folder is made
  std::optional<JobFolderClaim> claim;
  if (!o.dryRun) claim.emplace(base, stem, now);
  const fs::path folder = claim ? claim->Path() : JobFolderPath(base, stem, now);
  const fs::path jobScene = folder / "scene.json";

  BatchScriptOptions script;
  script.jobName = "velumbra-" + stem;
  script.logDir = folder / "logs";
  script.partition = o.partition;
  script.timeLimit = o.timeLimit;
  script.memoryMiB = memoryMiB;
  script.cpus = o.cpus;
  script.render = RenderArguments(o, jobScene, output, ids, input);
  const std::string text = BatchScript(tasks, script);
  if (o.dryRun) {
    std::fputs(text.c_str(), stdout);
    return 0;
  }

  // The job's own copy of the scene: paths absolute, so that it reads the
  // same from the job folder; later edits of the scene change nothing.
  WriteFileAtomically(jobScene, SceneToJson(session.Scene()));
  const fs::path scriptPath = folder / "job.sh";
  WriteFileAtomically(scriptPath, text);

  SubmittedJob job;
  job.tasks = tasks;
  job.output = output;
  job.idsPrefix = ids;
  job.folder = folder;
  job.framesDone = frames.size() - todo.size();
  if (o.wait) RecordOutputStamps(job);

  const SlurmClient slurm;
  job.jobId = slurm.Submit(scriptPath.string());
  claim->Keep();  // submitted: the job's folder is its record from here on
  WriteFileAtomically(folder / "job-id", job.jobId + "\n");
  std::printf("%s\n", job.jobId.c_str());
  std::fflush(stdout);
  Say(o, "submitted job " + job.jobId + ": " + Plural(todo.size(), "frame", "frames") + " in " +
             Plural(tasks.size(), "task", "tasks") + " of up to " + Plural(static_cast<std::size_t>(chunk), "frame", "frames") +
             ", " + FormatBytes(memoryMiB << 20) + " each" +
             (memGiven ? std::string() : " (estimated " + FormatBytes(estimate.Total()) + ")") + "; logs in " +
             script.logDir.string());
  if (!o.wait) return 0;
  return WaitForJob(job, slurm, o.quiet);
}

constexpr const char* kFooter = R"(Each task renders a chunk of consecutive frames of the list with `velumbra render`,
by this binary's absolute path, so every node must see the same binary, modules, scene
inputs and output folder (a shared file system). The scene is copied into a job folder
beside the outputs (velumbra-farm/), with the batch script and one log per task.
Slurm's own commands are used (sbatch, squeue, scancel); SLURM_CONF and the user's
Slurm defaults apply.

Examples:
  velumbra farm shot.json -f 1-240 -o /shared/out/shot.####.exr --chunk 10 --wait
  velumbra farm shot.json -f 1-240 -o /shared/out/shot.####.exr --resume --wait
  velumbra farm shot.json -f 1-240 -o /shared/out/shot.####.png --partition render --time 2:00:00 --dry-run

Exit status with --wait: 0 when every frame is written; 1 when a task failed (the
report names its frames and log); 130 when Ctrl-C stopped the waiting (the job goes on).)";

}  // namespace

CommandRun AddFarmCommand(CLI::App& app) {
  auto o = std::make_shared<FarmOptions>();
  CLI::App* farm = app.add_subcommand("farm", "render a frame range on a Slurm cluster, as a job array of chunks of "
                                              "frames");
  farm->add_option("scene", o->scene, "scene file (JSON)")->required()->type_name("SCENE.json");
  farm->add_option("-f,--frames", o->frames, "frames to render: 12, 1-100, 1-100x2, 1-10,20")
      ->required()
      ->type_name("FRAMES");
  farm->add_option("-o,--output", o->output,
                   "output images on a shared file system: PNG, or OpenEXR for a name ending in .exr; each '#' "
                   "is one digit of the frame number (shot.####.png)")
      ->required()
      ->type_name("OUT");
  AddRenderOptions(farm, o->render);
  farm->add_option("--plugins", o->pluginDir, "folder of effect modules the tasks load (default: beside the binary)")
      ->type_name("DIR");
  farm->add_option("--chunk", o->chunk,
                   "frames per task (default: 1, or more when the list has over 1000 frames): larger chunks "
                   "spend less on scheduling and start-up, smaller ones lose less to a failed task")
      ->check(CLI::Range(1, 1000000))
      ->type_name("N");
  farm->add_option("--partition", o->partition, "Slurm partition(s) to run in (default: the cluster's)")
      ->type_name("P");
  farm->add_option("--time", o->timeLimit, "time limit of each task, as Slurm writes it (30, 2:00:00, 1-0)")
      ->type_name("LIMIT");
  farm->add_option("--mem", o->mem,
                   "memory of each task (4G, 4096M; default: the render's own estimate for the image size, star "
                   "count and subdivisions)")
      ->type_name("SIZE");
  farm->add_option("--cpus", o->cpus, "CPUs of each task; its render uses as many threads")
      ->check(CLI::Range(1, 4096))
      ->type_name("N");
  farm->add_flag("--wait", o->wait, "follow the job with a progress display; exit 0 only when every frame is written");
  farm->add_flag("--resume", o->resume, "submit only the frames whose outputs are missing or do not read");
  farm->add_flag("--dry-run", o->dryRun, "print the batch script instead of submitting it (nothing is written)");
  farm->add_flag("-q,--quiet", o->quiet, "no progress display and no messages but errors and the job ID");
  farm->footer(kFooter);
  return [o, farm] { return RunFarm(*o, *farm); };
}

}  // namespace velumbra
