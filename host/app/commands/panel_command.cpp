// velumbra panel: a scene's effects in their rollouts, in a web browser.
#include <memory>

#include "host/app/commands/commands.h"
#include "host/app/commands/module_options.h"
#include "host/app/panel/panel.h"

namespace velumbra {

CommandRun AddPanelCommand(CLI::App& app) {
  struct Options {
    PanelOptions panel;
    ModuleOptions modules;
  };
  auto o = std::make_shared<Options>();
  CLI::App* panel = app.add_subcommand("panel", "edit a scene's effects in their rollouts in a web browser, "
                                                "with a live preview (served on 127.0.0.1 only)");
  panel->add_option("scene", o->panel.scene,
                    "scene file (JSON) to edit and save; without one the built-in default scene")
      ->type_name("SCENE.json");
  panel->add_option("--port", o->panel.port, "TCP port on 127.0.0.1 (0: any free port)")
      ->check(CLI::Range(0, 65535))
      ->capture_default_str();
  panel->add_flag("-q,--quiet", o->panel.quiet, "no warning about unsaved changes at exit");
  AddModuleOptions(panel, o->modules);
  panel->footer("Examples:\n  velumbra panel scenes/pan.json\n  velumbra panel --port 9000");
  return [o] {
    const auto registry = LoadModules(o->modules, o->panel.quiet);
    return RunPanel(o->panel, LookupIn(*registry));
  };
}

}  // namespace velumbra
