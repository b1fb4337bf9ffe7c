#include "host/app/module_loader.h"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <system_error>
#include <utility>

namespace velumbra {

namespace {

// A class count beyond this is a corrupt module, not a large one.
constexpr int kMaxClassesPerModule = 4096;

using LibDescriptionFn = const MCHAR* (*)();
using LibNumberClassesFn = int (*)();
using LibClassDescFn = ClassDesc* (*)(int);
using LibVersionFn = ULONG (*)();

std::string DlError() {
  const char* e = dlerror();
  return e ? e : "unknown error";
}

std::string Hex(ULONG v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(v));
  return buf;
}

// The names of the shared objects mapped now.
std::set<std::string> MappedObjects() {
  std::set<std::string> names;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        if (info->dlpi_name && *info->dlpi_name) static_cast<std::set<std::string>*>(data)->insert(info->dlpi_name);
        return 0;
      },
      &names);
  return names;
}

// Keeps mapped for good the libraries that opening `module` brought in, the
// module itself excepted: a runtime such as OpenMP's keeps worker threads
// that would run unmapped code once the module's dlclose unloaded it. The
// module is still closed; the process keeps only its dependencies.
void PinLibrariesBroughtIn(const std::set<std::string>& before, void* module) {
  link_map* self = nullptr;
  if (dlinfo(module, RTLD_DI_LINKMAP, &self) != 0 || !self) return;
  for (const std::string& name : MappedObjects()) {
    if (before.count(name) || name == self->l_name) continue;
    if (void* h = dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE)) dlclose(h);
  }
}

// Closes a module that was opened but not kept.
class OpenLibrary {
 public:
  explicit OpenLibrary(void* handle) : handle_(handle) {}
  ~OpenLibrary() {
    if (handle_) dlclose(handle_);
  }
  OpenLibrary(const OpenLibrary&) = delete;
  OpenLibrary& operator=(const OpenLibrary&) = delete;
  void* get() const { return handle_; }
  void* release() { return std::exchange(handle_, nullptr); }

 private:
  void* handle_;
};

}  // namespace

ModuleRegistry::ModuleRegistry() = default;

ModuleRegistry::~ModuleRegistry() {
  for (auto it = handles_.rbegin(); it != handles_.rend(); ++it) {
    it->entry(it->instance, DLL_PROCESS_DETACH, nullptr);
    ReleaseCustomControls(it->instance);
    dlclose(it->library);
  }
}

bool ModuleRegistry::Fail(const std::filesystem::path& file, const std::string& what) {
  errors_.push_back(file.string() + ": " + what);
  return false;
}

void ModuleRegistry::LoadDirectory(const std::filesystem::path& dir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    Fail(dir, fs::exists(dir, ec) ? "not a folder" : "no such folder");
    return;
  }
  std::vector<fs::path> files;
  fs::directory_iterator it(dir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const fs::path& p = it->path();
    std::error_code fe;
    if (p.extension() == ".dlv" && it->is_regular_file(fe)) files.push_back(p);
  }
  if (ec) {
    Fail(dir, "cannot read the folder: " + ec.message());
    return;
  }
  std::sort(files.begin(), files.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });
  for (const fs::path& f : files) LoadModule(f);
}

bool ModuleRegistry::LoadModule(const std::filesystem::path& file) {
  // A module is a file of the file system; dlopen would search the library
  // path for a bare name.
  const std::filesystem::path path = file.has_parent_path() ? file : std::filesystem::path(".") / file;
  dlerror();
  const std::set<std::string> mapped = MappedObjects();
  OpenLibrary lib(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
  if (!lib.get()) return Fail(file, "cannot load the module: " + DlError());
  PinLibrariesBroughtIn(mapped, lib.get());
  for (const Handle& h : handles_) {
    if (h.library == lib.get()) return Fail(file, "this module is already loaded");
  }

  auto find = [&](const char* name) -> void* {
    dlerror();
    void* sym = dlsym(lib.get(), name);
    return dlerror() ? nullptr : sym;
  };
  auto entry = reinterpret_cast<EntryRoutine>(find("DllMain"));
  auto description = reinterpret_cast<LibDescriptionFn>(find("LibDescription"));
  auto numberClasses = reinterpret_cast<LibNumberClassesFn>(find("LibNumberClasses"));
  auto classDesc = reinterpret_cast<LibClassDescFn>(find("LibClassDesc"));
  auto version = reinterpret_cast<LibVersionFn>(find("LibVersion"));
  const void* resources = find(kModuleResourcesSymbol);
  const std::pair<const char*, bool> exports[] = {
      {"DllMain", entry != nullptr},
      {"LibDescription", description != nullptr},
      {"LibNumberClasses", numberClasses != nullptr},
      {"LibClassDesc", classDesc != nullptr},
      {"LibVersion", version != nullptr},
      {kModuleResourcesSymbol, resources != nullptr},
  };
  for (const auto& [name, found] : exports) {
    if (!found) return Fail(file, std::string("not a plug-in module: it does not export ") + name);
  }
  if (!ModuleResourcesOf(resources)) {
    return Fail(file, std::string("its ") + kModuleResourcesSymbol + " are not resources of this host's layout");
  }

  const HINSTANCE instance = InstanceHandleOf(static_cast<const ModuleResources*>(resources));
  if (!entry(instance, DLL_PROCESS_ATTACH, nullptr)) {
    entry(instance, DLL_PROCESS_DETACH, nullptr);
    ReleaseCustomControls(instance);
    return Fail(file, "its entry routine refused to load");
  }
  // From here on a refusal detaches the module again before closing it.
  auto refuse = [&](const std::string& what) {
    entry(instance, DLL_PROCESS_DETACH, nullptr);
    ReleaseCustomControls(instance);
    return Fail(file, what);
  };

  PluginModule module;
  module.path = file;
  module.version = version();
  if (module.version != VERSION_3DSMAX) {
    return refuse("built for plug-in interface " + Hex(module.version) + ", this host implements " +
                  Hex(VERSION_3DSMAX));
  }
  const int n = numberClasses();
  if (n < 0 || n > kMaxClassesPerModule) return refuse("LibNumberClasses gave " + std::to_string(n));
  for (int i = 0; i < n; ++i) {
    ClassDesc* cd = classDesc(i);
    if (!cd) return refuse("LibClassDesc(" + std::to_string(i) + ") gave no class descriptor");
    if (auto* cd2 = dynamic_cast<ClassDesc2*>(cd); cd2 && !cd2->IsValid()) {
      const MCHAR* name = cd->ClassName();
      return refuse("class " + std::string(name ? name : "#" + std::to_string(i)) + ": " + cd2->ErrorMessage());
    }
    module.classes.push_back(cd);
  }
  if (const MCHAR* text = description()) module.description = text;

  modules_.push_back(std::move(module));
  handles_.push_back({lib.release(), entry, instance});
  return true;
}

ClassDesc* ModuleRegistry::FindClass(std::string_view name) const {
  for (const PluginModule& m : modules_) {
    for (ClassDesc* cd : m.classes) {
      const MCHAR* cn = cd->ClassName();
      if (cn && name == cn) return cd;
    }
  }
  return nullptr;
}

std::filesystem::path ExecutableDir() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : exe.parent_path();
}

std::filesystem::path ModuleFolder(const std::filesystem::path& binaryDir,
                                   std::initializer_list<const char*> relatives) {
  namespace fs = std::filesystem;
  if (const char* named = std::getenv(kModuleFolderVariable); named && *named) return fs::path(named);
  for (const char* relative : relatives) {
    fs::path dir = (binaryDir / relative).lexically_normal();
    if (!dir.has_filename()) dir = dir.parent_path();  // "bin/." normalises to "bin/"
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec))
      if (it->path().extension() == ".dlv") return dir;
  }
  return binaryDir;
}

}  // namespace velumbra
