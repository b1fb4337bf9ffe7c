// velumbra info: the modules of the plug-in folder and the classes they give.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "host/app/commands/commands.h"
#include "host/app/commands/module_options.h"

namespace velumbra {

namespace {

int RunInfo(const ModuleOptions& mo) {
  const auto registry = LoadModules(mo, /*quiet=*/true);
  const auto& modules = registry->Modules();
  std::printf("plug-in folder: %s\n",
              ModuleDir(mo).c_str());
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
  for (const auto& e : registry->Errors()) std::printf("\nnot loaded: %s\n", e.c_str());
  return 0;
}

}  // namespace

CommandRun AddInfoCommand(CLI::App& app) {
  auto mo = std::make_shared<ModuleOptions>();
  CLI::App* info = app.add_subcommand("info", "list the loaded modules and the classes they provide");
  AddModuleOptions(info, *mo);
  info->footer("Examples:\n  velumbra info\n  velumbra info --plugins /opt/velumbra/plugins");
  return [mo] { return RunInfo(*mo); };
}

}  // namespace velumbra
