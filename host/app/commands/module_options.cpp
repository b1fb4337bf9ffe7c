#include "host/app/commands/module_options.h"

#include <cstdio>
#include <filesystem>

#include "host/app/base/app_error.h"
#include "host/app/base/quoting.h"

namespace velumbra {

namespace fs = std::filesystem;

void AddModuleOptions(CLI::App* cmd, ModuleOptions& o) {
  cmd->add_option("--plugins", o.pluginDir,
                  "folder of effect modules (*.dlv) to load instead of the installed one (lib/qe_velumbra beside "
                  "the velumbra binary's bin/, or the binary's own folder; $VELUMBRA_PLUGINS overrides that "
                  "default)")
      ->type_name("DIR");
}

fs::path ModuleDir(const ModuleOptions& o) {
  return o.pluginDir.empty() ? ModuleFolder(ExecutableDir(), {"../lib/qe_velumbra", "."}) : fs::path(o.pluginDir);
}

std::unique_ptr<ModuleRegistry> LoadModules(const ModuleOptions& o, bool quiet) {
  auto registry = std::make_unique<ModuleRegistry>();
  const fs::path dir = ModuleDir(o);
  std::error_code ec;
  if (!o.pluginDir.empty() && !fs::is_directory(dir, ec))
    throw InputError("--plugins " + Quoted(o.pluginDir) + ": no such folder");
  registry->LoadDirectory(dir);
  if (!quiet)
    for (const auto& error : registry->Errors()) std::fprintf(stderr, "velumbra: warning: %s\n", error.c_str());
  return registry;
}

ClassLookup LookupIn(ModuleRegistry& registry) {
  return [&registry](const std::string& name) -> ClassDesc* { return registry.FindClass(name); };
}

ClassDesc2& FindEffectClass(ModuleRegistry& registry, const std::string& name) {
  ClassDesc* cd = registry.FindClass(name);
  if (!cd)
    throw InputError("no loaded module provides the class " + Quoted(name) +
                     " (`velumbra info` lists the loaded classes)");
  auto* cd2 = dynamic_cast<ClassDesc2*>(cd);
  if (!cd2) throw InputError("the class " + Quoted(name) + " declares no parameters");
  return *cd2;
}

}  // namespace velumbra
