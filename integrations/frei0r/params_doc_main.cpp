// Prints the frei0r plug-in's parameter table (docs/frei0r-parameters.md)
// from the effect module's parameter block: qe_velumbra_frei0r_params
// [MODULE_FOLDER] (default: the build tree's, beside this program).
#include <cstdio>

#include "host/app/module_loader.h"
#include "integrations/frei0r/frei0r_params.h"

int main(int argc, char** argv) {
  velumbra::ModuleRegistry registry;
  registry.LoadDirectory(argc > 1 ? std::filesystem::path(argv[1]) : velumbra::ExecutableDir());
  auto* cd = dynamic_cast<ClassDesc2*>(registry.FindClass("Qe_Velumbra"));
  if (!cd) {
    for (const std::string& e : registry.Errors()) std::fprintf(stderr, "%s\n", e.c_str());
    std::fprintf(stderr, "qe_velumbra_frei0r_params: no module with the class Qe_Velumbra\n");
    return 2;
  }
  std::fputs(velumbra::frei0r::ParamsMarkdown(velumbra::frei0r::MakeParams(*cd, velumbra::frei0r::Use::Filter)).c_str(), stdout);
  return 0;
}
