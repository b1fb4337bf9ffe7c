// `velumbra panel`: the effect's rollouts in a browser, served on this
// machine only (127.0.0.1).
//
// The page (host/app/panel/assets/) draws each rollout as its template
// places it and sends every user action to the server, which hands it to
// the PanelModel as input on the control; then it reloads the state and the
// preview. The HTTP API, all JSON unless said otherwise:
//
//   GET  /                  the page (also /panel.css, /panel.js)
//   GET  /api/state         PanelModel::State
//   POST /api/input         {"effect", "map", "id", "action", "value"}: PanelModel::Input
//   POST /api/pick          {"effect", "node"}: pick a node ("" cancels the pick mode)
//   POST /api/rollup        {"effect", "map", "open"}: roll a rollout up or down
//   POST /api/close-all     {"effect"}: the close-all command
//   POST /api/frame         {"frame"}: the time slider
//   POST /api/save          {}: writes the scene file it was opened with;
//                           {"file", "overwrite"?}: save as (PanelModel::SaveAs;
//                           409 {"exists": true} for an existing file without
//                           "overwrite": true); answers {"saved": path}
//   GET  /api/preview.png   the current frame rendered (8-bit RGBA PNG)
//   GET  /api/bitmap?effect=E&id=N   a bitmap resource of the effect's module (PNG)
//
// POSTs answer the new state. Errors answer {"error": message}: 400 for
// input the panel refuses (a disabled control, an unknown node, a bad
// request), 500 when the system fails (a file that cannot be written).
// Requests must name this server as their Host (127.0.0.1 or localhost
// with its port), a browser's Origin must be the panel's own, and POSTs must
// send JSON, so that other web pages open in the same browser cannot drive
// the panel. Every /api/ request must carry the server's token (a header
// X-Velumbra-Token or a query parameter token=; 401 otherwise), printed in
// the address the panel announces: the port is open to every local process
// and user, the token only to whoever started the panel.
//
// Robustness: a second panel cannot take a bound port (no SO_REUSEPORT);
// request bodies are capped at 4 MB (413); a request must arrive within 10
// s, so slow clients cannot hold the workers, and the oldest slow one is cut
// off whenever only one worker is left; numbers in requests are checked
// whole numbers in range (400), never wrapped.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "host/app/panel/panel_model.h"

namespace velumbra {

class PanelServer {
 public:
  // Serves `model`, which must outlive the server.
  explicit PanelServer(PanelModel& model);
  ~PanelServer();
  PanelServer(const PanelServer&) = delete;
  PanelServer& operator=(const PanelServer&) = delete;

  // Binds 127.0.0.1:`port` (0: a free port the system chooses) and returns
  // the port. Throws InputError naming the port when it cannot bind (in
  // use by another program or panel: --port chooses another).
  int Bind(int port);
  // Answers requests until Stop; call after Bind.
  void Run();
  // Makes Run return; safe from any thread (and from a signal handler's
  // helper thread).
  void Stop();
  // The secret every /api/ request must carry: 32 hexadecimal digits, new
  // for each server.
  const std::string& Token() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

struct PanelOptions {
  std::string scene;  // empty: the built-in scene
  int port = 8765;    // 0: any free port
  bool quiet = false;
};

// Loads the scene (or the built-in one), opens its effects' rollouts,
// binds the port and serves until Ctrl-C. Prints the address to open on
// standard output. Returns the exit status; throws InputError and
// SystemError as the other commands do.
int RunPanel(const PanelOptions& options, const ClassLookup& lookup);

}  // namespace velumbra
