// velumbra: the command-line host of render-effect modules.
//
//   velumbra render [SCENE.json] [-o OUT] [-f FRAMES] [--set NAME=VALUE]...
//   velumbra info | params | stars | scene new
//
// Errors print "velumbra: error: <message>" and exit with status 2 for bad
// input (options, scene files, images, frame lists), 1 when the system
// refuses an operation, 130 when Ctrl-C stopped a render. Nothing is ever
// left half-written.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <new>
#include <set>
#include <span>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "host/app/app_error.h"
#include "host/app/atomic_file.h"
#include "host/app/commands.h"
#include "host/app/exr_camera.h"
#include "host/app/exr_io.h"
#include "host/app/frame_range.h"
#include "host/app/module_loader.h"
#include "host/app/output_name.h"
#include "host/app/panel.h"
#include "host/app/param_binding.h"
#include "host/app/param_listing.h"
#include "host/app/png_io.h"
#include "host/app/progress.h"
#include "host/app/render_frame.h"
#include "host/app/scene_file.h"
#include "host/app/star_table.h"

namespace fs = std::filesystem;
using namespace velumbra;

namespace {

constexpr int kExitInput = 2;
constexpr int kExitSystem = 1;
constexpr int kExitInterrupted = 130;

// --- modules -----------------------------------------------------------------

struct ModuleOptions {
  std::string pluginDir;  // empty: the folder of the velumbra binary
};

void AddModuleOptions(CLI::App* cmd, ModuleOptions& o) {
  cmd->add_option("--plugins", o.pluginDir,
                  "folder of effect modules (*.dlv) to load instead of the one beside the velumbra binary")
      ->type_name("DIR");
}

// Loads every module of the plug-in folder. Modules that fail to load are
// reported as warnings; the classes of the others stay usable.
std::unique_ptr<ModuleRegistry> LoadModules(const ModuleOptions& o, bool quiet) {
  auto registry = std::make_unique<ModuleRegistry>();
  const fs::path dir = o.pluginDir.empty() ? ExecutableDir() : fs::path(o.pluginDir);
  std::error_code ec;
  if (!o.pluginDir.empty() && !fs::is_directory(dir, ec))
    throw InputError("--plugins " + o.pluginDir + ": no such folder");
  registry->LoadDirectory(dir);
  if (!quiet)
    for (const auto& error : registry->Errors()) std::fprintf(stderr, "velumbra: warning: %s\n", error.c_str());
  return registry;
}

ClassLookup LookupIn(ModuleRegistry& registry) {
  return [&registry](const std::string& name) -> ClassDesc* { return registry.FindClass(name); };
}

// A class with parameter-block descriptors (a ClassDesc2), by name.
ClassDesc2& FindEffectClass(ModuleRegistry& registry, const std::string& name) {
  ClassDesc* cd = registry.FindClass(name);
  if (!cd)
    throw InputError("no loaded module provides the class \"" + name + "\" (`velumbra info` lists the loaded classes)");
  auto* cd2 = dynamic_cast<ClassDesc2*>(cd);
  if (!cd2) throw InputError("the class \"" + name + "\" declares no parameters");
  return *cd2;
}

// --- scenes and options -----------------------------------------------------------

SceneDesc LoadSceneOrDefault(const std::string& file) {
  return file.empty() ? DefaultScene() : LoadSceneFile(file);
}

std::vector<SetOption> ParseSets(const std::vector<std::string>& sets, const SceneDesc& scene) {
  std::vector<SetOption> out;
  for (const std::string& s : sets) out.push_back(ParseSetOption(s, scene.TicksPerFrame()));
  return out;
}

// An output's folder must exist or be creatable, and be writable, before any
// frame is rendered: a typo in -o should cost nothing.
void CheckOutputFolder(const fs::path& file, const std::string& option) {
  fs::path dir = file.parent_path();
  if (dir.empty()) dir = ".";
  std::error_code ec;
  if (fs::exists(file, ec) && fs::is_directory(file, ec))
    throw InputError(option + " " + file.string() + ": is a folder; name the file to write");
  fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir))
    throw InputError(option + " " + file.string() + ": cannot create the folder " + dir.string() + ": " +
                     (ec ? ec.message() : std::string("a file of that name is in the way")));
  if (::access(dir.c_str(), W_OK | X_OK) != 0)
    throw InputError(option + " " + file.string() + ": cannot write to the folder " + dir.string() + ": " +
                     std::strerror(errno));
}

// --- render ------------------------------------------------------------------------

struct RenderOptions {
  std::string scene;
  std::string output = "stars.png";
  std::string frames;
  std::vector<std::string> sets;
  bool quiet = false;
  int depth = 0;  // 0: after the input image (16 without one)
  std::string ids;
  std::string input;  // --input: the image to paint into
  std::string exrCamera = "auto";
  std::string exrIdType = "float";
  ModuleOptions modules;
};

// An EXR output: pixels the effects left as read keep the input EXR's own
// floats (and its sample type); every other pixel is its 16-bit value / 65280,
// as FLOAT samples when there is no EXR input, so that it reads back exactly.
// The G-buffer goes along as ObjectID and MaterialID, and the render camera
// as worldToCamera and worldToNDC: an input file's own attributes unchanged
// when its camera rendered, else the scene camera in the OpenEXR convention.
void WriteExrFrame(const RenderSession& session, BitmapStorage& storage, const std::string& file, ExrIdType idType) {
  const size_t count = static_cast<size_t>(storage.Width()) * static_cast<size_t>(storage.Height());
  const std::span<const BMM_Color_64> output(storage.Pixels(), count);
  ExrWriteOptions options;
  options.ids = idType;
  std::vector<FloatRgba> floats;
  if (const ExrRgbaImage* input = session.InputExr()) {
    floats = MergeEffectOutput(input->floats, input->pixels, output);
    options.colour = input->sampleType;
  } else {
    // Float samples hold every 16-bit value exactly (half ones do not).
    floats = FloatsFrom16(output);
    options.colour = ExrColourType::Float;
  }
  if (session.InputCamera())
    options.camera = session.InputExr()->camera;
  else if (const RenderInfo* ri = storage.GetRenderInfo())
    options.camera = ExrCameraFromRenderInfo(*ri, storage.Width(), storage.Height());
  ULONG type = 0;
  WriteExr(file, storage.Width(), storage.Height(), floats.data(),
           static_cast<const WORD*>(storage.GetChannel(BMM_CHAN_NODE_ID, type)),
           static_cast<const UBYTE*>(storage.GetChannel(BMM_CHAN_MTL_ID, type)), options);
}

// Whether two names reach the same file: the same file on disk, or (for a
// file not yet made) the same absolute name once links and dots are resolved.
bool SameFileName(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  if (fs::equivalent(a, b, ec)) return true;
  const fs::path ca = fs::weakly_canonical(a, ec);
  if (ec) return false;
  const fs::path cb = fs::weakly_canonical(b, ec);
  return !ec && ca == cb;
}

int RunRender(const RenderOptions& o) {
  SceneDesc scene = LoadSceneOrDefault(o.scene);
  InputOptions inputs;
  if (!o.input.empty()) inputs.image = fs::path(o.input);
  if (o.scene.empty()) {
    // The built-in scene's camera renders only when the input image brings
    // none of its own.
    scene.render.camera.clear();
    inputs.builtInScene = true;
  }
  if (const auto convention = ParseExrCameraConvention(o.exrCamera)) inputs.exrCamera = *convention;
  else throw InputError("--exr-camera " + o.exrCamera + ": expected auto, openexr or minus-z");
  if (!o.quiet) inputs.note = [](const std::string& line) { std::fprintf(stderr, "velumbra: %s\n", line.c_str()); };
  const std::vector<int> frames = o.frames.empty() ? std::vector<int>{scene.render.frame} : ParseFrameList(o.frames);
  CheckOutputName(o.output, frames.size());
  if (!o.ids.empty() && frames.size() > 1 && !HasFrameNumberField(o.ids))
    throw InputError("--ids " + o.ids + ": " + std::to_string(frames.size()) +
                     " frames would all write the same ID images; put a '#' run in the prefix, e.g. ids.####");
  const std::vector<SetOption> sets = ParseSets(o.sets, scene);

  const auto registry = LoadModules(o.modules, o.quiet);
  RenderSession session(scene, LookupIn(*registry), sets, inputs);
  for (int frame : frames) session.FrameTime(frame);  // every frame fits the host's time

  // An output that is one of the render's inputs would destroy what it reads.
  std::vector<std::pair<fs::path, std::string>> readFrom;
  if (!o.scene.empty()) readFrom.emplace_back(o.scene, "the scene file");
  if (inputs.image) readFrom.emplace_back(*inputs.image, "the --input image");
  else if (scene.render.image) readFrom.emplace_back(*scene.render.image, "the scene's render.image");
  if (scene.render.objectId) readFrom.emplace_back(scene.render.objectId->path, "the scene's render.objectId");
  if (scene.render.materialId) readFrom.emplace_back(scene.render.materialId->path, "the scene's render.materialId");
  const auto refuseInput = [&](const fs::path& out, const std::string& option) {
    for (const auto& [in, what] : readFrom)
      if (SameFileName(out, in))
        throw InputError(option + " " + out.string() + ": that is " + what + " (" + in.string() +
                         "); the render would overwrite what it reads");
  };
  for (int frame : frames) {
    refuseInput(OutputNameForFrame(o.output, frame), "-o");
    if (!o.ids.empty()) {
      const std::string prefix = OutputNameForFrame(o.ids, frame);
      refuseInput(prefix + ".objectid.png", "--ids");
      refuseInput(prefix + ".materialid.png", "--ids");
    }
  }

  // Last of the checks, as it may create folders.
  std::set<fs::path> folders;
  for (int frame : frames) {
    const fs::path out = OutputNameForFrame(o.output, frame);
    if (folders.insert(out.parent_path()).second) CheckOutputFolder(out, "-o");
    if (!o.ids.empty()) {
      const fs::path prefix = OutputNameForFrame(o.ids, frame);
      if (folders.insert(prefix.parent_path()).second)
        CheckOutputFolder(fs::path(prefix.string() + ".objectid.png"), "--ids");
    }
  }
  const int depth = o.depth ? o.depth : session.DefaultOutputDepth();
  const bool exrOutput = IsExrFile(o.output);
  const ULONG idChannels = o.ids.empty() && !exrOutput ? 0 : (BMM_CHAN_NODE_ID | BMM_CHAN_MTL_ID);
  const ExrIdType exrIdType = o.exrIdType == "uint" ? ExrIdType::Uint : ExrIdType::Float;

  InterruptGuard guard;
  ProgressReporter progress(ProgressReporter::StyleFor(o.quiet, stderr), stderr);
  const int count = static_cast<int>(frames.size());
  for (int i = 0; i < count; ++i) {
    const int frame = frames[static_cast<size_t>(i)];
    progress.StartFrame(frame, i, count);
    const std::unique_ptr<Bitmap> bitmap = session.RenderFrame(frame, &progress, idChannels);
    if (!bitmap || progress.Interrupted()) {
      progress.EndLine();
      throw Interrupted{};
    }
    BitmapStorage& storage = *bitmap->Storage();
    const std::string out = OutputNameForFrame(o.output, frame);
    if (exrOutput) WriteExrFrame(session, storage, out, exrIdType);
    else WritePngRgba(out, storage.Width(), storage.Height(), storage.Pixels(), depth);
    if (!o.ids.empty()) {
      const std::string prefix = OutputNameForFrame(o.ids, frame);
      ULONG type = 0;
      WriteObjectIdPng(prefix + ".objectid.png", storage.Width(), storage.Height(),
                       static_cast<const WORD*>(storage.GetChannel(BMM_CHAN_NODE_ID, type)));
      WriteMaterialIdPng(prefix + ".materialid.png", storage.Width(), storage.Height(),
                         static_cast<const UBYTE*>(storage.GetChannel(BMM_CHAN_MTL_ID, type)));
    }
    progress.FinishFrame();
    if (!o.quiet) std::fprintf(stderr, "wrote %s\n", out.c_str());
  }
  return 0;
}

// --- info ----------------------------------------------------------------------

int RunInfo(const ModuleOptions& mo) {
  const auto registry = LoadModules(mo, /*quiet=*/true);
  const auto& modules = registry->Modules();
  std::printf("plug-in folder: %s\n", (mo.pluginDir.empty() ? ExecutableDir() : fs::path(mo.pluginDir)).c_str());
  if (modules.empty()) std::printf("no modules loaded\n");
  for (const auto& m : modules) {
    std::printf("\nmodule %s\n  description: %s\n  interface version: 0x%X\n", m.path.c_str(),
                m.description.c_str(), static_cast<unsigned>(m.version));
    for (ClassDesc* cd : m.classes) {
      // A module's texts may share one buffer: copy each at once.
      const auto text = [](const char* s) { return std::string(s ? s : ""); };
      const std::string name = text(cd->ClassName());
      const std::string category = text(cd->Category());
      const Class_ID id = cd->ClassID();
      std::printf("  class %s  category \"%s\"  super class 0x%X  class ID (0x%08X, 0x%08X)%s\n",
                  name.empty() ? "(no name)" : name.c_str(), category.c_str(), static_cast<unsigned>(cd->SuperClassID()),
                  static_cast<unsigned>(id.PartA()), static_cast<unsigned>(id.PartB()),
                  cd->IsPublic() ? "" : "  (not public)");
    }
  }
  const auto& errors = registry->Errors();
  for (const auto& e : errors) std::printf("\nnot loaded: %s\n", e.c_str());
  return 0;
}

// --- params ------------------------------------------------------------------------

int RunParams(const std::string& className, bool json, const ModuleOptions& mo) {
  const auto registry = LoadModules(mo, /*quiet=*/false);
  ClassDesc2& cd = FindEffectClass(*registry, className);
  if (json) std::printf("%s\n", ParamListingJson(cd).dump(2).c_str());
  else std::fputs(ParamListingText(cd).c_str(), stdout);
  return 0;
}

// --- stars ------------------------------------------------------------------------

struct StarsOptions {
  std::string scene;
  std::string output;  // empty: standard output
  int frame = 0;
  bool frameGiven = false;
  std::string effect;  // empty: the scene's first effect with a star field
  std::vector<std::string> sets;
  bool quiet = false;
  ModuleOptions modules;
};

int RunStars(const StarsOptions& o) {
  const SceneDesc scene = LoadSceneOrDefault(o.scene);
  const std::vector<SetOption> sets = ParseSets(o.sets, scene);
  const auto registry = LoadModules(o.modules, o.quiet);
  RenderSession session(scene, LookupIn(*registry), sets);
  if (!o.output.empty()) CheckOutputFolder(o.output, "-o");
  const TimeValue t = session.FrameTime(o.frameGiven ? o.frame : scene.render.frame);

  IParamBlock2* block = nullptr;
  for (size_t i = 0; i < session.Effects().size() && !block; ++i) {
    Effect* e = session.Effects()[i];
    IParamBlock2* b = e->NumParamBlocks() > 0 ? e->GetParamBlock(0) : nullptr;
    const bool named = o.effect.empty() || e->name == o.effect;
    if (named && b && b->FindParamByName("starscount") >= 0) block = b;
  }
  if (!block)
    throw InputError(o.effect.empty() ? scene.source + ": the scene has no star-field effect"
                                      : "--effect " + o.effect + ": no star-field effect of that name in " + scene.source);

  InterruptGuard guard;
  ProgressReporter progress(ProgressReporter::StyleFor(o.quiet, stderr), stderr);
  StarField field;
  if (!field.RefreshStarField(StarFieldKeyOf(*block, t), &progress)) {
    progress.EndLine();
    if (progress.Interrupted()) throw Interrupted{};
    throw SystemError("not enough memory for the star records");
  }
  progress.EndLine();
  const std::string csv = StarsCsv(field);
  if (o.output.empty()) {
    if (std::fwrite(csv.data(), 1, csv.size(), stdout) != csv.size() || std::fflush(stdout) != 0)
      throw SystemError(std::string("cannot write to standard output: ") + std::strerror(errno));
  } else {
    WriteFileAtomically(o.output, csv);
  }
  return 0;
}

// --- scene new ----------------------------------------------------------------------

// The built-in scene with every parameter of its effect written out at its
// default (node parameters, which default to no node, are left out).
SceneDesc SceneWithDefaults(ModuleRegistry& registry) {
  SceneDesc scene = DefaultScene();
  for (EffectDesc& fx : scene.effects) {
    ClassDesc2& cd = FindEffectClass(registry, fx.className);
    const auto listing = ParamListingJson(cd);
    for (const auto& block : listing["blocks"])
      for (const auto& p : block["params"]) {
        if (p["default"].is_null()) continue;
        ParamDesc desc;
        desc.name = p["name"].get<std::string>();
        desc.value = nlohmann::json(p["default"]);
        fx.params.push_back(std::move(desc));
      }
  }
  return scene;
}

int RunSceneNew(const std::string& positional, const std::string& option, const ModuleOptions& mo) {
  if (!positional.empty() && !option.empty() && positional != option)
    throw InputError("scene new: give the file once (either FILE or -o FILE)");
  const std::string file = !option.empty() ? option : positional;
  const auto registry = LoadModules(mo, /*quiet=*/false);
  const SceneDesc scene = SceneWithDefaults(*registry);
  if (!file.empty()) CheckOutputFolder(file, "scene new");
  if (file.empty()) {
    std::error_code ec;
    const std::string text = SceneToJson(scene, fs::current_path(ec));
    std::fputs(text.c_str(), stdout);
  } else {
    SaveSceneFile(scene, file);
  }
  return 0;
}

// --- the command line ---------------------------------------------------------------

constexpr const char* kDescription =
    "velumbra renders star fields with the Qe_Velumbra render effect: it loads the effect modules, "
    "reads a scene file (or uses a built-in default scene), and writes PNG or OpenEXR images.";

constexpr const char* kFooter = R"(Examples:
  velumbra render                              the default scene to stars.png
  velumbra render scenes/pan.json -f 1-30 -o out/pan.####.png
  velumbra render --set starscount=50000 --set brightstarscolor=[1,0.9,0.8]
  velumbra params                              every parameter with its default and range
  velumbra scene new my.json                   a scene to edit, every parameter at its default
  velumbra panel scenes/band.json              the effect's rollouts and a live preview in a browser

Exit status: 0 success, 1 system failure, 2 bad input, 130 interrupted (Ctrl-C).
Scene files are described in docs/scene-format.md.)";

}  // namespace

int main(int argc, char** argv) {
  CLI::App app(kDescription, "velumbra");
  app.footer(kFooter);
  app.require_subcommand(1);
  app.set_version_flag("--version", "velumbra 3.0.1");

  RenderOptions ro;
  CLI::App* render = app.add_subcommand("render", "render a scene (or the built-in default scene) to PNG or OpenEXR images");
  render->add_option("scene", ro.scene, "scene file (JSON); without one the built-in default scene renders")
      ->type_name("SCENE.json");
  render->add_option("-o,--output", ro.output,
                     "output image: PNG, or OpenEXR for a name ending in .exr; each '#' is one digit of the "
                     "frame number (stars.####.png)")
      ->type_name("OUT")
      ->capture_default_str();
  render->add_option("-f,--frames", ro.frames,
                     "frames to render: 12, 1-100, 1-100x2, 1-10,20 (default: the scene's render.frame)")
      ->type_name("FRAMES");
  render->add_option("--set", ro.sets,
                     "override a parameter of the scene's effects; VALUE is JSON as in a scene's params, "
                     "a bare word is a string (repeatable)")
      ->type_name("NAME=VALUE")
      ->allow_extra_args(false);
  render->add_flag("-q,--quiet", ro.quiet, "no progress display and no messages but errors");
  render->add_option("--depth", ro.depth, "bits per channel of the output PNG (default 16; 8 for an 8-bit input image)")
      ->check(CLI::IsMember({8, 16}))
      ->type_name("BITS");
  render->add_option("--ids", ro.ids,
                     "also write PREFIX.objectid.png (16-bit grey) and PREFIX.materialid.png (8-bit grey) "
                     "with the G-buffer IDs; '#' runs as in -o")
      ->type_name("PREFIX");
  render->add_option("-i,--input", ro.input,
                     "image to paint the stars into (PNG or OpenEXR), instead of the scene's render.image; "
                     "without a scene its size is the render size, and an OpenEXR image's ID channels and "
                     "camera are used")
      ->type_name("IMAGE");
  render->add_option("--exr-camera", ro.exrCamera,
                     "how to read an OpenEXR input's worldToCamera/worldToNDC: auto (tell by the optical axis), "
                     "openexr (looks down +z, NDC 0..1 from the top left), minus-z (looks down -z, NDC -1..1, y up)")
      ->check(CLI::IsMember({"auto", "openexr", "minus-z"}))
      ->type_name("CONVENTION")
      ->capture_default_str();
  render->add_option("--exr-id-type", ro.exrIdType,
                     "sample type of the ObjectID and MaterialID channels of an OpenEXR output")
      ->check(CLI::IsMember({"float", "uint"}))
      ->type_name("TYPE")
      ->capture_default_str();
  AddModuleOptions(render, ro.modules);
  render->footer(R"(Examples:
  velumbra render
  velumbra render --input beauty.exr -o out.exr
  velumbra render scenes/hyperspace.json -o hyper.png
  velumbra render scenes/twinkle.json -f 0-59 -o out/twinkle.####.png
  velumbra render --set starscount=100000 --set 'duration={"keys":[[0,0.5],[30,2]]}' -f 0-30 -o blur.##.png
  velumbra render scenes/masks.json --ids masks --depth 8)");

  ModuleOptions infoModules;
  CLI::App* info = app.add_subcommand("info", "list the loaded modules and the classes they provide");
  AddModuleOptions(info, infoModules);

  std::string paramsClass = "Qe_Velumbra";
  bool paramsJson = false;
  ModuleOptions paramsModules;
  CLI::App* params = app.add_subcommand("params", "list an effect's parameters: ID, name, type, default, range, "
                                                  "display name, rollout");
  params->add_option("--class", paramsClass, "the effect class")->capture_default_str();
  params->add_flag("--json", paramsJson, "print JSON instead of a table");
  AddModuleOptions(params, paramsModules);
  params->footer("Examples:\n  velumbra params\n  velumbra params --json > params.json");

  StarsOptions so;
  CLI::App* stars = app.add_subcommand("stars", "write the star records an effect generates, as CSV "
                                                "(index,x,y,z,r,g,b,a,size)");
  stars->add_option("scene", so.scene, "scene file (JSON); without one the built-in default scene")
      ->type_name("SCENE.json");
  stars->add_option("-f,--frame", so.frame, "the frame whose parameter values generate the field "
                                            "(default: the scene's render.frame)")
      ->type_name("FRAME");
  stars->add_option("-o,--output", so.output, "CSV file to write (default: standard output)")->type_name("FILE");
  stars->add_option("--effect", so.effect, "the effect's name in the scene (default: its first star-field effect)")
      ->type_name("NAME");
  stars->add_option("--set", so.sets, "override a parameter, as for render (repeatable)")
      ->type_name("NAME=VALUE")
      ->allow_extra_args(false);
  stars->add_flag("-q,--quiet", so.quiet, "no progress messages");
  AddModuleOptions(stars, so.modules);
  stars->footer(R"(Positions are in the unit ball before any placement; colours and alpha on the
16-bit scale (full intensity 65280); size is the radius in pixels.
Examples:
  velumbra stars | head
  velumbra stars scenes/band.json -o stars.csv
  velumbra stars --set starscount=100 --set seed=7)");

  CLI::App* scene = app.add_subcommand("scene", "scene files");
  scene->require_subcommand(1);
  std::string sceneFile, sceneOutput;
  ModuleOptions sceneModules;
  CLI::App* sceneNew = scene->add_subcommand("new", "write a scene with every parameter at its default "
                                                    "(to standard output without a file)");
  sceneNew->add_option("file", sceneFile, "the scene file to write")->type_name("FILE");
  sceneNew->add_option("-o,--output", sceneOutput, "the same, as an option")->type_name("FILE");
  AddModuleOptions(sceneNew, sceneModules);
  sceneNew->footer("Examples:\n  velumbra scene new my.json && velumbra render my.json -o my.png");

  PanelOptions po;
  ModuleOptions panelModules;
  CLI::App* panel = app.add_subcommand("panel", "edit a scene's effects in their rollouts in a web browser, "
                                                "with a live preview (served on 127.0.0.1 only)");
  panel->add_option("scene", po.scene, "scene file (JSON) to edit and save; without one the built-in default scene")
      ->type_name("SCENE.json");
  panel->add_option("--port", po.port, "TCP port on 127.0.0.1 (0: any free port)")
      ->check(CLI::Range(0, 65535))
      ->capture_default_str();
  panel->add_flag("-q,--quiet", po.quiet, "no warning about unsaved changes at exit");
  AddModuleOptions(panel, panelModules);
  panel->footer("Examples:\n  velumbra panel scenes/pan.json\n  velumbra panel --port 9000");

  // TEMP: the farm command until the new main registers every command.
  const CommandRun farmRun = AddFarmCommand(app);
  CLI::App* farmCommand = app.get_subcommand("farm");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "velumbra: error: %s\nRun 'velumbra --help' (or 'velumbra COMMAND --help') for usage.\n",
                 e.what());
    return kExitInput;
  }
  if (stars->count("--frame") > 0) so.frameGiven = true;

  try {
    if (render->parsed()) return RunRender(ro);
    if (info->parsed()) return RunInfo(infoModules);
    if (params->parsed()) return RunParams(paramsClass, paramsJson, paramsModules);
    if (stars->parsed()) return RunStars(so);
    if (sceneNew->parsed()) return RunSceneNew(sceneFile, sceneOutput, sceneModules);
    if (farmCommand->parsed()) return farmRun();
    if (panel->parsed()) {
      const auto registry = LoadModules(panelModules, po.quiet);
      return RunPanel(po, LookupIn(*registry));
    }
  } catch (const InputError& e) {
    std::fprintf(stderr, "velumbra: error: %s\n", e.what());
    return kExitInput;
  } catch (const SystemError& e) {
    std::fprintf(stderr, "velumbra: error: %s\n", e.what());
    return kExitSystem;
  } catch (const Interrupted&) {
    std::fprintf(stderr, "velumbra: interrupted; the frame in progress was not written\n");
    return kExitInterrupted;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "velumbra: error: out of memory\n");
    return kExitSystem;
  }
  return 0;
}
