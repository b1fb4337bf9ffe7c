// The frei0r exports of qe_velumbra.so (a filter) and qe_velumbra_src.so
// (a source: the same with no input, QE_VELUMBRA_FREI0R_SOURCE). The
// effect module is loaded once per process, at the first f0r_init, and
// kept (see f0r_deinit), from the folder
// $VELUMBRA_PLUGINS names, else lib/qe_velumbra beside this plug-in's
// lib/frei0r-1 (the installed layout), else the build tree's folder above
// it. Nothing is thrown across these C entry points.
#include <dlfcn.h>

// frei0r.h declares C functions without saying so.
extern "C" {
#include <frei0r.h>
}

#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "host/app/module_loader.h"
#include "host/sdk/render_threads.h"
#include "integrations/frei0r/frei0r_params.h"
#include "integrations/frei0r/star_filter.h"

namespace {

using velumbra::frei0r::Kind;
using velumbra::frei0r::Param;
using velumbra::frei0r::StarFilter;

#ifdef QE_VELUMBRA_FREI0R_SOURCE
constexpr int kPluginType = F0R_PLUGIN_TYPE_SOURCE;
constexpr auto kUse = velumbra::frei0r::Use::Source;
constexpr const char* kName = "qe_velumbra_src";
constexpr const char* kExplanation = "A seeded star field with a camera an editor can key (Qe_Velumbra effect module)";
#else
constexpr int kPluginType = F0R_PLUGIN_TYPE_FILTER;
constexpr auto kUse = velumbra::frei0r::Use::Filter;
constexpr const char* kName = "qe_velumbra";
constexpr const char* kExplanation =
    "Paints a seeded star field behind or over the picture, with a camera an editor can key (Qe_Velumbra "
    "effect module)";
#endif

// What f0r_init loaded, for every instance of the process.
struct Loaded {
  velumbra::ModuleRegistry registry;
  ClassDesc2* effectClass = nullptr;
  std::vector<Param> params;
};
Loaded* g_loaded = nullptr;
std::mutex g_mutex;
// Updates of all instances, one at a time: the host SDK's clock (ticks per
// frame), its log and the effect's worker threads are the process's, and
// each update uses every core already.
std::mutex g_updateMutex;

std::filesystem::path PluginDir() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<const void*>(&f0r_init), &info) || !info.dli_fname) return {};
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::canonical(info.dli_fname, ec);
  return ec ? std::filesystem::path(info.dli_fname).parent_path() : self.parent_path();
}

bool Load() {
  auto loaded = std::make_unique<Loaded>();
  const std::filesystem::path dir = velumbra::ModuleFolder(PluginDir(), {"../qe_velumbra", ".."});
  loaded->registry.LoadDirectory(dir);
  for (const std::string& e : loaded->registry.Errors()) std::fprintf(stderr, "%s: %s\n", kName, e.c_str());
  loaded->effectClass = dynamic_cast<ClassDesc2*>(loaded->registry.FindClass("Qe_Velumbra"));
  if (!loaded->effectClass) {
    std::fprintf(stderr, "%s: no effect module with the class Qe_Velumbra in %s (set %s to its folder)\n", kName,
                 dir.c_str(), velumbra::kModuleFolderVariable);
    return false;
  }
  loaded->params = velumbra::frei0r::MakeParams(*loaded->effectClass, kUse);
  g_loaded = loaded.release();
  return true;
}

}  // namespace

extern "C" {

int f0r_init() {
  try {
    std::lock_guard lock(g_mutex);
    if (!g_loaded && !Load()) return 0;
    // The star loop may use every core, as velumbra render does.
    GrantRenderThreads(static_cast<int>(std::thread::hardware_concurrency()));
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", kName, e.what());
    return 0;
  }
}

void f0r_deinit() {
  // The module stays loaded for the rest of the process, and this plug-in
  // with it (linked -z nodelete): the effect's worker threads stay parked
  // in the module's OpenMP runtime after a frame, and unloading that code
  // under them crashes the host at the next wake-up or at exit. A later
  // f0r_init finds everything loaded.
}

void f0r_get_plugin_info(f0r_plugin_info_t* info) {
  info->name = kName;
  info->author = "Qe_Velumbra";
  info->plugin_type = kPluginType;
  info->color_model = F0R_COLOR_MODEL_RGBA8888;
  info->frei0r_version = FREI0R_MAJOR_VERSION;
  info->major_version = 1;
  info->minor_version = 0;
  info->num_params = g_loaded ? static_cast<int>(g_loaded->params.size()) : 0;
  info->explanation = kExplanation;
}

void f0r_get_param_info(f0r_param_info_t* info, int index) {
  if (!g_loaded || index < 0 || index >= static_cast<int>(g_loaded->params.size())) return;
  const Param& p = g_loaded->params[index];
  info->name = p.name.c_str();
  info->type = p.kind == Kind::Bool ? F0R_PARAM_BOOL : p.kind == Kind::Colour ? F0R_PARAM_COLOR : F0R_PARAM_DOUBLE;
  info->explanation = p.explanation.c_str();
}

f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
  if (!g_loaded || width == 0 || height == 0 || width > 65535 || height > 65535) return nullptr;
  try {
    auto filter = std::make_unique<StarFilter>(*g_loaded->effectClass, g_loaded->params, static_cast<int>(width),
                                               static_cast<int>(height));
    if (!filter->Valid()) return nullptr;
    return filter.release();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", kName, e.what());
    return nullptr;
  }
}

void f0r_destruct(f0r_instance_t instance) { delete static_cast<StarFilter*>(instance); }

void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
  if (!instance || !param || !g_loaded || index < 0 || index >= static_cast<int>(g_loaded->params.size())) return;
  auto& value = static_cast<StarFilter*>(instance)->At(index);
  if (g_loaded->params[index].kind == Kind::Colour) {
    const auto* c = static_cast<const f0r_param_color_t*>(param);
    value.colour = Color(c->r, c->g, c->b);
  } else {
    value.x = *static_cast<const double*>(param);
  }
}

void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
  if (!instance || !param || !g_loaded || index < 0 || index >= static_cast<int>(g_loaded->params.size())) return;
  const auto& value = static_cast<StarFilter*>(instance)->At(index);
  if (g_loaded->params[index].kind == Kind::Colour) {
    auto* c = static_cast<f0r_param_color_t*>(param);
    c->r = value.colour.r;
    c->g = value.colour.g;
    c->b = value.colour.b;
  } else {
    *static_cast<double*>(param) = value.x;
  }
}

void f0r_update(f0r_instance_t instance, double time, const uint32_t* inframe, uint32_t* outframe) {
  if (!instance || !outframe) return;
  try {
#ifdef QE_VELUMBRA_FREI0R_SOURCE
    inframe = nullptr;
#endif
    std::lock_guard lock(g_updateMutex);
    static_cast<StarFilter*>(instance)->Update(time, inframe, outframe);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", kName, e.what());
  }
}

}  // extern "C"
