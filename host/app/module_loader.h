// The module loader of the velumbra command: opens plug-in modules (*.dlv)
// the way the application loads its plug-ins, and keeps them open while
// the host works with their classes.
//
// Loading one module:
//   1. dlopen (symbols resolved at once, kept local to the module);
//   2. look up the entry routine DllMain, the four exports LibDescription,
//      LibNumberClasses, LibClassDesc, LibVersion and the module's
//      resources HostModuleResources, whose address is the module's
//      instance handle;
//   3. DllMain(instance, DLL_PROCESS_ATTACH, null); FALSE refuses the
//      module (the routine is then called with DLL_PROCESS_DETACH, as the
//      platform does);
//   4. LibVersion must equal VERSION_3DSMAX, the interface this host
//      implements;
//   5. LibNumberClasses and LibClassDesc(0 .. n-1): every descriptor present,
//      and every parameter-block descriptor a ClassDesc2 registered valid;
//   6. LibDescription, copied.
// A module failing any step is closed again and its message kept; nothing
// of it stays registered.
//
// The registry closes its modules when it is destroyed (DllMain with
// DLL_PROCESS_DETACH, the module's custom-control registrations dropped,
// then dlclose), in the reverse order of loading.
// Objects created through a module's classes must be deleted before that.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "host/sdk/max.h"

namespace velumbra {

struct PluginModule {
  std::filesystem::path path;
  std::string description;          // LibDescription(); empty when the module gave none
  ULONG version = 0;                // LibVersion()
  std::vector<ClassDesc*> classes;  // LibClassDesc(0..n-1)
};

class ModuleRegistry {
 public:
  ModuleRegistry();
  ~ModuleRegistry();  // DllMain(detach) and dlclose, reverse load order
  ModuleRegistry(const ModuleRegistry&) = delete;
  ModuleRegistry& operator=(const ModuleRegistry&) = delete;

  // Loads every *.dlv of `dir` in name order. A module that fails (dlopen
  // error, missing export, wrong LibVersion, DllMain FALSE) is skipped and
  // its message kept in Errors(); the others still load. A missing folder
  // is one error.
  void LoadDirectory(const std::filesystem::path& dir);
  // Loads one module; false (message in Errors()) when it fails. A module
  // already loaded (by this or another path to the same file) is refused.
  bool LoadModule(const std::filesystem::path& file);

  const std::vector<PluginModule>& Modules() const { return modules_; }
  const std::vector<std::string>& Errors() const { return errors_; }  // "<file>: <what>"

  // The class whose ClassName() equals `name` (first loaded wins), or null.
  ClassDesc* FindClass(std::string_view name) const;

 private:
  using EntryRoutine = BOOL (*)(HINSTANCE, ULONG, LPVOID);
  struct Handle {
    void* library = nullptr;
    EntryRoutine entry = nullptr;
    HINSTANCE instance = nullptr;
  };

  bool Fail(const std::filesystem::path& file, const std::string& what);

  std::vector<PluginModule> modules_;
  std::vector<Handle> handles_;  // parallel to modules_
  std::vector<std::string> errors_;
};

// The folder of the running executable (/proc/self/exe); empty when the
// system does not say.
std::filesystem::path ExecutableDir();

// The environment variable naming the folder of effect modules for every
// host of them (the velumbra command, the frei0r plug-in); a --plugins
// option overrides it.
inline constexpr const char* kModuleFolderVariable = "VELUMBRA_PLUGINS";

// The folder a host binary in `binaryDir` loads its modules from: the
// folder $VELUMBRA_PLUGINS names when it is set and not empty; otherwise
// the first of `binaryDir`/r for r in `relatives` (in order) that holds a
// module (*.dlv); otherwise `binaryDir` itself. The relatives give the
// installed layout first (bin/ -> lib/qe_velumbra/) and then the build
// tree's, so that a prefix can be moved as a whole.
std::filesystem::path ModuleFolder(const std::filesystem::path& binaryDir,
                                   std::initializer_list<const char*> relatives);

}  // namespace velumbra
