// velumbra stars: the star records an effect generates, as CSV.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/app/base/app_error.h"
#include "host/app/commands/commands.h"
#include "host/app/base/atomic_file.h"
#include "host/app/commands/module_options.h"
#include "host/app/output/output_plan.h"
#include "host/app/progress.h"
#include "host/app/base/quoting.h"
#include "host/app/render_frame.h"
#include "host/app/scene/param_binding.h"
#include "host/app/commands/star_table.h"

namespace velumbra {

namespace {

struct StarsOptions {
  std::string scene;
  std::string output;  // empty: standard output
  int frame = 0;
  bool frameGiven = false;
  std::string effect;  // empty: the scene's first effect with a star field
  std::vector<std::string> sets;
  bool quiet = false;
  ModuleOptions modules;
};

int RunStars(const StarsOptions& o) {
  const SceneDesc scene = o.scene.empty() ? DefaultScene() : LoadSceneFile(o.scene);
  std::vector<SetOption> sets;
  for (const std::string& s : o.sets) sets.push_back(ParseSetOption(s, scene.TicksPerFrame()));
  const auto registry = LoadModules(o.modules, o.quiet);
  RenderSession session(scene, LookupIn(*registry), sets);
  if (!o.output.empty()) CheckOutputFile(o.output, "-o");
  const TimeValue t = session.FrameTime(o.frameGiven ? o.frame : scene.render.frame);

  IParamBlock2* block = nullptr;
  for (size_t i = 0; i < session.Effects().size() && !block; ++i) {
    Effect* e = session.Effects()[i];
    IParamBlock2* b = e->NumParamBlocks() > 0 ? e->GetParamBlock(0) : nullptr;
    const bool named = o.effect.empty() || e->name == o.effect;
    if (named && b && b->FindParamByName("starscount") >= 0) block = b;
  }
  if (!block)
    throw InputError(o.effect.empty() ? scene.source + ": the scene has no star-field effect"
                                      : "--effect " + Quoted(o.effect) + ": no star-field effect of that name in " +
                                            scene.source);

  InterruptGuard guard;
  ProgressReporter progress(ProgressReporter::StyleFor(o.quiet, stderr), stderr);
  StarField field;
  if (!field.RefreshStarField(StarFieldKeyOf(*block, t), &progress)) {
    progress.EndLine();
    if (progress.Interrupted()) throw Interrupted{};
    throw SystemError("not enough memory for the star records");
  }
  progress.EndLine();
  // The text is streamed: ten million lines never sit in memory at once.
  if (o.output.empty()) {
    WriteStarsCsv(field, [](std::string_view piece) {
      if (std::fwrite(piece.data(), 1, piece.size(), stdout) != piece.size())
        throw SystemError(std::string("cannot write to standard output: ") + std::strerror(errno));
      if (InterruptGuard::Requested()) throw Interrupted{};
    });
    if (std::fflush(stdout) != 0)
      throw SystemError(std::string("cannot write to standard output: ") + std::strerror(errno));
  } else {
    AtomicFile file(o.output);
    WriteStarsCsv(field, [&](std::string_view piece) { file.Write(piece.data(), piece.size()); });
    file.Commit();
    if (!o.quiet) std::fprintf(stderr, "wrote %s\n", QuotedIfNeeded(o.output).c_str());
  }
  return 0;
}

}  // namespace

CommandRun AddStarsCommand(CLI::App& app) {
  auto o = std::make_shared<StarsOptions>();
  CLI::App* stars = app.add_subcommand("stars", "write the star records an effect generates, as CSV "
                                                "(index,x,y,z,r,g,b,a,size)");
  stars->add_option("scene", o->scene, "scene file (JSON); without one the built-in default scene")
      ->type_name("SCENE.json");
  stars->add_option("-f,--frame", o->frame, "the frame whose parameter values generate the field "
                                            "(default: the scene's render.frame)")
      ->type_name("FRAME");
  stars->add_option("-o,--output", o->output, "CSV file to write (default: standard output)")->type_name("FILE");
  stars->add_option("--effect", o->effect, "the effect's name in the scene (default: its first star-field effect)")
      ->type_name("NAME");
  stars->add_option("--set", o->sets, "override a parameter, as for render (repeatable)")
      ->type_name("NAME=VALUE")
      ->allow_extra_args(false);
  stars->add_flag("-q,--quiet", o->quiet, "no progress messages");
  AddModuleOptions(stars, o->modules);
  stars->footer(R"(Positions are in the unit ball before any placement; colours and alpha on the
16-bit scale (full intensity 65280); size is the radius in pixels.
Examples:
  velumbra stars | head
  velumbra stars scenes/band.json -o stars.csv
  velumbra stars --set starscount=100 --set seed=7)");
  return [o, stars] {
    o->frameGiven = stars->count("--frame") > 0;
    return RunStars(*o);
  };
}

}  // namespace velumbra
