// velumbra: the command-line host of render-effect modules.
//
//   velumbra render [SCENE.json] [-o OUT] [-f FRAMES] [--set NAME=VALUE]...
//   velumbra info | params | stars | scene new | panel | farm
//
// This file registers the sub-commands (each in its own *_command.cpp) and is
// the one place that maps their errors to exit codes: 2 for bad input
// (options, scene files, images, frame lists), 1 when the system refuses an
// operation, 128 + the signal when a signal stopped the work (130 Ctrl-C,
// 143 SIGTERM, 129 SIGHUP). Nothing is ever left half-written.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "host/app/base/app_error.h"
#include "host/app/commands/commands.h"
#include "host/app/base/interrupt.h"
#include "host/app/base/quoting.h"
#include "host/app/base/version.h"
#include "host/sdk/render_threads.h"

using namespace velumbra;

namespace {

constexpr int kExitInput = 2;
constexpr int kExitSystem = 1;
constexpr int kExitSignalBase = 128;

constexpr const char* kDescription =
    "velumbra renders star fields with the Qe_Velumbra render effect: it loads the effect modules, "
    "reads a scene file (or uses a built-in default scene), and writes PNG or OpenEXR images.";

constexpr const char* kFooter = R"(Examples:
  velumbra render                              the default scene to stars.png
  velumbra render scenes/pan.json -f 1-30 -o out/pan.####.png
  velumbra render --set starscount=50000 --set brightstarscolor=[1,0.9,0.8]
  velumbra params                              every parameter with its default and range
  velumbra scene new my.json                   a scene to edit, every parameter at its default
  velumbra panel scenes/band.json              the effect's rollouts and a live preview in a browser

Exit status: 0 success, 1 system failure, 2 bad input, 130 interrupted (Ctrl-C),
143 terminated (SIGTERM), 129 hung up (SIGHUP).
Scene files are described in docs/scene-format.md.)";

}  // namespace

int main(int argc, char** argv) {
  // The effect's worker threads (OpenMP, loaded with the module, so the
  // setting below is read when the module loads) sleep when a parallel loop
  // ends instead of spinning for it. Spinning wins nothing for a renderer
  // whose loops run once or twice a frame, and on small frames it cost
  // four times the work itself (24 frames of 320x180: 400 ms of CPU, 75 ms
  // passive), taking cores from the frame writer and from a 3D
  // application rendering beside us. A user's own setting stands.
  ::setenv("OMP_WAIT_POLICY", "PASSIVE", /*overwrite=*/0);
  CLI::App app(kDescription, "velumbra");
  app.footer(kFooter);
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("velumbra ") + kVelumbraVersion);

  std::vector<std::pair<CLI::App*, CommandRun>> commands;
  const auto add = [&](CommandRun (*registerCommand)(CLI::App&)) {
    CommandRun run = registerCommand(app);
    commands.emplace_back(app.get_subcommands({}).back(), std::move(run));
  };
  add(AddRenderCommand);
  add(AddInfoCommand);
  add(AddParamsCommand);
  add(AddStarsCommand);
  add(AddSceneCommand);
  add(AddPanelCommand);
  add(AddFarmCommand);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "velumbra: error: %s\nRun 'velumbra --help' (or 'velumbra COMMAND --help') for usage.\n",
                 PrintableMessage(e.what()).c_str());
    return kExitInput;
  }

  // The effects may use every core unless a command says otherwise
  // (render --threads).
  GrantRenderThreads(static_cast<int>(std::thread::hardware_concurrency()));
  try {
    for (auto& [command, run] : commands)
      if (command->parsed()) return run();
  } catch (const InputError& e) {
    std::fprintf(stderr, "velumbra: error: %s\n", PrintableMessage(e.what()).c_str());
    return kExitInput;
  } catch (const SystemError& e) {
    std::fprintf(stderr, "velumbra: error: %s\n", PrintableMessage(e.what()).c_str());
    return kExitSystem;
  } catch (const Interrupted&) {
    const int signal = InterruptGuard::Signal() != 0 ? InterruptGuard::Signal() : SIGINT;
    std::fprintf(stderr, "velumbra: %s; the frame in progress was not written\n",
                 signal == SIGINT ? "interrupted" : signal == SIGTERM ? "terminated (SIGTERM)" : "hung up (SIGHUP)");
    return kExitSignalBase + signal;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "velumbra: error: out of memory\n");
    return kExitSystem;
  }
  return 0;
}
