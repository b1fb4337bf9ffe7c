// velumbra params: an effect class's parameters, as a table or as JSON.
#include <cstdio>
#include <memory>
#include <string>

#include "host/app/commands/commands.h"
#include "host/app/commands/module_options.h"
#include "host/app/scene/param_listing.h"

namespace velumbra {

namespace {

struct ParamsOptions {
  std::string className = "Qe_Velumbra";
  bool json = false;
  bool markdown = false;
  ModuleOptions modules;
};

int RunParams(const ParamsOptions& o) {
  const auto registry = LoadModules(o.modules, /*quiet=*/false);
  ClassDesc2& cd = FindEffectClass(*registry, o.className);
  if (o.json) std::printf("%s\n", ParamListingJson(cd).dump(2).c_str());
  else if (o.markdown) std::fputs(ParamReferenceMarkdown(cd).c_str(), stdout);
  else std::fputs(ParamListingText(cd).c_str(), stdout);
  return 0;
}

}  // namespace

CommandRun AddParamsCommand(CLI::App& app) {
  auto o = std::make_shared<ParamsOptions>();
  CLI::App* params = app.add_subcommand("params", "list an effect's parameters: ID, name, type, default, range, "
                                                  "display name, rollout");
  params->add_option("--class", o->className, "the effect class")->capture_default_str();
  auto* json = params->add_flag("--json", o->json, "print JSON instead of a table");
  params->add_flag("--markdown", o->markdown,
                   "print the parameter reference (docs/parameters.md): each parameter explained, with its unit, "
                   "range, default and choices")
      ->excludes(json);
  AddModuleOptions(params, o->modules);
  params->footer(
      "Examples:\n  velumbra params\n  velumbra params --json > params.json\n"
      "  velumbra params --markdown > docs/parameters.md\n\n"
      "A radio parameter takes its index or its name: --set drawmode=2 or --set drawmode=\"Simple Additive\".");
  return [o] { return RunParams(*o); };
}

}  // namespace velumbra
