// velumbra scene new: a scene file with every parameter at its default.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "host/app/base/app_error.h"
#include "host/app/commands/commands.h"
#include "host/app/commands/module_options.h"
#include "host/app/output/output_plan.h"
#include "host/app/scene/param_listing.h"
#include "host/app/scene/scene_file.h"

namespace velumbra {

namespace {

struct SceneNewOptions {
  std::string file;    // positional
  std::string output;  // -o
  bool quiet = false;
  ModuleOptions modules;
};

int RunSceneNew(const SceneNewOptions& o) {
  if (!o.file.empty() && !o.output.empty() && o.file != o.output)
    throw InputError("scene new: give the file once (either FILE or -o FILE)");
  const std::string file = !o.output.empty() ? o.output : o.file;
  const auto registry = LoadModules(o.modules, o.quiet);
  SceneDesc scene = DefaultScene();
  for (EffectDesc& fx : scene.effects) fx.params = DefaultParamValues(FindEffectClass(*registry, fx.className));
  if (file.empty()) {
    std::error_code ec;
    std::fputs(SceneToJson(scene, std::filesystem::current_path(ec)).c_str(), stdout);
    return 0;
  }
  CheckOutputFile(file, "scene new");
  SaveSceneFile(scene, file);
  if (!o.quiet) std::fprintf(stderr, "wrote %s\n", file.c_str());
  return 0;
}

}  // namespace

CommandRun AddSceneCommand(CLI::App& app) {
  auto o = std::make_shared<SceneNewOptions>();
  CLI::App* scene = app.add_subcommand("scene", "scene files");
  scene->require_subcommand(1);
  CLI::App* sceneNew = scene->add_subcommand("new", "write a scene with every parameter at its default "
                                                    "(to standard output without a file)");
  sceneNew->add_option("file", o->file, "the scene file to write")->type_name("FILE");
  sceneNew->add_option("-o,--output", o->output, "the same, as an option")->type_name("FILE");
  sceneNew->add_flag("-q,--quiet", o->quiet, "no message but errors");
  AddModuleOptions(sceneNew, o->modules);
  sceneNew->footer("Examples:\n  velumbra scene new my.json && velumbra render my.json -o my.png\n"
                   "  velumbra scene new -o my.json --plugins /opt/velumbra/plugins\n"
                   "  velumbra scene new > my.json\n\n"
                   "The scene format is described in docs/scene-format.md; the parameters in docs/parameters.md.");
  scene->footer("Examples:\n  velumbra scene new my.json\n  velumbra scene new --help");
  return [o] { return RunSceneNew(*o); };
}

}  // namespace velumbra
