// The plug-in folder option every sub-command shares, and the registry it
// loads.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "host/app/module_loader.h"
#include "host/app/render_frame.h"

namespace velumbra {

struct ModuleOptions {
  std::string pluginDir;  // empty: ModuleFolder of the velumbra binary
};

// --plugins DIR.
void AddModuleOptions(CLI::App* cmd, ModuleOptions& o);

// The folder the modules load from: --plugins, else $VELUMBRA_PLUGINS, else
// the installed lib/qe_velumbra or the binary's own folder (ModuleFolder).
std::filesystem::path ModuleDir(const ModuleOptions& o);

// Loads every module of the plug-in folder. Modules that fail to load are
// reported as warnings (unless `quiet`); the classes of the others stay
// usable. Throws InputError for a --plugins folder that does not exist.
std::unique_ptr<ModuleRegistry> LoadModules(const ModuleOptions& o, bool quiet);

// The registry's classes by name, as a RenderSession looks them up.
ClassLookup LookupIn(ModuleRegistry& registry);

// A class with parameter-block descriptors (a ClassDesc2), by name. Throws
// InputError when no module provides it or it declares no parameters.
ClassDesc2& FindEffectClass(ModuleRegistry& registry, const std::string& name);

}  // namespace velumbra
