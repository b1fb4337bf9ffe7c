// velumbra stars: the star records an effect draws, as CSV.
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
#include "host/sdk/istar_field.h"

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

// Writes the CSV of the records `field` generates at t.
void Write(IStarField& field, TimeValue t, ProgressReporter& progress, const StarsOptions& o) {
  if (o.output.empty()) {
    WriteStarsCsv(field, t, &progress, [&](std::string_view piece) {
      progress.EndLine();
      if (std::fwrite(piece.data(), 1, piece.size(), stdout) != piece.size())
        throw SystemError(std::string("cannot write to standard output: ") + std::strerror(errno));
      if (InterruptGuard::Requested()) throw Interrupted{};
    });
    if (std::fflush(stdout) != 0)
      throw SystemError(std::string("cannot write to standard output: ") + std::strerror(errno));
  } else {
    AtomicFile file(o.output);
    WriteStarsCsv(field, t, &progress, [&](std::string_view piece) {
      progress.EndLine();
      file.Write(piece.data(), piece.size());
    });
    file.Commit();
    if (!o.quiet) std::fprintf(stderr, "wrote %s\n", QuotedIfNeeded(o.output).c_str());
  }
}


int RunStars(const StarsOptions& o) {
  const SceneDesc scene = o.scene.empty() ? DefaultScene() : LoadSceneFile(o.scene);
  std::vector<SetOption> sets;
  for (const std::string& s : o.sets) sets.push_back(ParseSetOption(s, scene.TicksPerFrame()));
  const auto registry = LoadModules(o.modules, o.quiet);
  RenderSession session(scene, LookupIn(*registry), sets);
  if (!o.output.empty()) CheckOutputFile(o.output, "-o");
  const TimeValue t = session.FrameTime(o.frameGiven ? o.frame : scene.render.frame);

  IStarField* field = nullptr;
  for (size_t i = 0; i < session.Effects().size() && !field; ++i) {
    Effect* e = session.Effects()[i];
    if (o.effect.empty() || e->name == o.effect) field = GetStarFieldInterface(e);
  }
  if (!field)
    throw InputError(o.effect.empty() ? scene.source + ": the scene has no star-field effect"
                                      : "--effect " + Quoted(o.effect) + ": no star-field effect of that name in " +
                                            scene.source);

  InterruptGuard guard;
  ProgressReporter progress(ProgressReporter::StyleFor(o.quiet, stderr), stderr);
  // The text is streamed: ten million lines never sit in memory at once.
  // Its first piece comes once the generation is done, and ends the
  // generation's progress line.
  try {
    Write(*field, t, progress, o);
  } catch (...) {
    progress.EndLine();
    throw;
  }
  return 0;
}

}  // namespace

CommandRun AddStarsCommand(CLI::App& app) {
  auto o = std::make_shared<StarsOptions>();
  CLI::App* stars = app.add_subcommand("stars", "write the star records an effect draws, as CSV "
                                                "(index,x,y,z,r,g,b,a,size; catalogue stars add "
                                                "magnitude,bv,light,ra,dec,fillin,name)");
  stars->add_option("scene", o->scene, "scene file (JSON); without one the built-in default scene")
      ->type_name("SCENE.json");
  stars->add_option("-f,--frame", o->frame, "the frame whose parameter values make the stars, and whose "
                                            "instant places catalogue stars (default: the scene's render.frame)")
      ->type_name("FRAME");
  stars->add_option("-o,--output", o->output, "CSV file to write (default: standard output)")->type_name("FILE");
  stars->add_option("--effect", o->effect, "the effect's name in the scene (default: its first star-field effect)")
      ->type_name("NAME");
  stars->add_option("--set", o->sets, "override a parameter, as for render (repeatable)")
      ->type_name("NAME=VALUE")
      ->allow_extra_args(false);
  stars->add_flag("-q,--quiet", o->quiet, "no progress messages");
  AddModuleOptions(stars, o->modules);
  stars->footer(R"(Generated stars: positions in the unit ball before any placement; colours and
alpha on the 16-bit scale (full intensity 65280); size is the radius in pixels.
Catalogue stars (starsource 1), those brighter than magnitudelimit and the
fill-in below the catalogue's limit (fillinflag): x,y,z their direction in the
world frame at observertime plus the frame's time (frame n: n/fps seconds
later), as that frame's render places them; r,g,b their hue; magnitude (V),
bv (B-V, empty when unknown), light (10^(-0.4 (magnitude - magnitudezero)),
1.0 = full intensity summed over the star's pixels), ra,dec (ICRS degrees at
the catalogue's epoch), fillin (1: a fill-in star) and name.
Examples:
  velumbra stars | head
  velumbra stars scenes/band.json -o stars.csv
  velumbra stars --set starscount=100 --set seed=7
  velumbra stars --set starsource=1 --set magnitudelimit=2 -f 0)");
  return [o, stars] {
    o->frameGiven = stars->count("--frame") > 0;
    return RunStars(*o);
  };
}

}  // namespace velumbra
