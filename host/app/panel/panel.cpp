#include "host/app/panel/panel.h"

#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "host/app/app_error.h"
#include "host/app/panel/panel_assets.h"

namespace velumbra {

using json = nlohmann::json;

struct PanelServer::Impl {
  explicit Impl(PanelModel& m) : model(m) {}

  PanelModel& model;
  httplib::Server server;
  std::mutex lock;  // the model is used by one request at a time
  int port = 0;

  void Routes();
  bool Allowed(const httplib::Request& req, httplib::Response& res) const;
  // Runs `work` on the model under the lock and answers its JSON, or the
  // error it threw.
  void Answer(httplib::Response& res, const std::function<json()>& work);
};

namespace {

void SendError(httplib::Response& res, int status, const std::string& message) {
  res.status = status;
  res.set_content(json{{"error", message}}.dump(), "application/json");
}

json Body(const httplib::Request& req) {
  json body = json::parse(req.body, nullptr, /*allow_exceptions=*/false);
  if (body.is_discarded() || !body.is_object()) throw InputError("the request body is not a JSON object");
  return body;
}

template <class T>
T Field(const json& body, const char* name) {
  if (!body.contains(name)) throw InputError(std::string("the request lacks \"") + name + "\"");
  try {
    return body.at(name).get<T>();
  } catch (const json::exception&) {
    throw InputError(std::string("the request's \"") + name + "\" has the wrong type");
  }
}

}  // namespace

bool PanelServer::Impl::Allowed(const httplib::Request& req, httplib::Response& res) const {
  // Another site's page can reach 127.0.0.1 through a name it controls
  // (DNS rebinding); the Host header tells it apart.
  const std::string host = req.get_header_value("Host");
  const std::string numeric = std::string("127.0.0.1:").append(std::to_string(port));
  const std::string named = std::string("localhost:").append(std::to_string(port));
  if (host != numeric && host != named) {
    SendError(res, 403, "the panel answers only requests for " + numeric + " or " + named);
    return false;
  }
  // A page of another origin cannot send JSON without asking first (CORS),
  // and the panel never says yes.
  if (req.method == "POST" && req.get_header_value("Content-Type").rfind("application/json", 0) != 0) {
    SendError(res, 415, "POST requests to the panel carry JSON (Content-Type: application/json)");
    return false;
  }
  return true;
}

void PanelServer::Impl::Answer(httplib::Response& res, const std::function<json()>& work) {
  try {
    std::lock_guard<std::mutex> hold(lock);
    res.set_content(work().dump(), "application/json");
  } catch (const InputError& e) {
    SendError(res, 400, e.what());
  } catch (const SystemError& e) {
    SendError(res, 500, e.what());
  } catch (const std::exception& e) {
    SendError(res, 500, e.what());
  }
}

void PanelServer::Impl::Routes() {
  server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    return Allowed(req, res) ? httplib::Server::HandlerResponse::Unhandled : httplib::Server::HandlerResponse::Handled;
  });
  for (const PanelAsset& asset : PanelAssets()) {
    server.Get(asset.url, [&asset](const httplib::Request&, httplib::Response& res) {
      const std::string type = std::string(asset.contentType) + "; charset=utf-8";
      res.set_content(reinterpret_cast<const char*>(asset.data), asset.size, type.c_str());
      res.set_header("Cache-Control", "no-cache");
    });
  }
  server.Get("/api/state", [this](const httplib::Request&, httplib::Response& res) {
    Answer(res, [&] { return model.State(); });
  });
  server.Post("/api/input", [this](const httplib::Request& req, httplib::Response& res) {
    Answer(res, [&] {
      model.Input(Body(req));
      return model.State();
    });
  });
  server.Post("/api/pick", [this](const httplib::Request& req, httplib::Response& res) {
    Answer(res, [&] {
      const json body = Body(req);
      model.Pick(Field<int>(body, "effect"), Field<std::string>(body, "node"));
      return model.State();
    });
  });
  server.Post("/api/rollup", [this](const httplib::Request& req, httplib::Response& res) {
    Answer(res, [&] {
      const json body = Body(req);
      model.SetRollupOpen(Field<int>(body, "effect"), static_cast<MapID>(Field<int>(body, "map")),
                          Field<bool>(body, "open"));
      return model.State();
    });
  });
  server.Post("/api/close-all", [this](const httplib::Request& req, httplib::Response& res) {
    Answer(res, [&] {
      model.CloseAll(Field<int>(Body(req), "effect"));
      return model.State();
    });
  });
  server.Post("/api/frame", [this](const httplib::Request& req, httplib::Response& res) {
    Answer(res, [&] {
      model.SetFrame(Field<int>(Body(req), "frame"));
      return model.State();
    });
  });
  server.Post("/api/save", [this](const httplib::Request& req, httplib::Response& res) {
    Answer(res, [&] {
      const json body = Body(req);
      const std::string file = body.contains("file") ? Field<std::string>(body, "file") : std::string();
      const std::filesystem::path saved = model.Save(file);
      json state = model.State();
      state["saved"] = saved.string();
      return state;
    });
  });
  server.Get("/api/preview.png", [this](const httplib::Request&, httplib::Response& res) {
    try {
      std::lock_guard<std::mutex> hold(lock);
      res.set_content(model.RenderPreviewPng(), "image/png");
      res.set_header("Cache-Control", "no-store");
    } catch (const InputError& e) {
      SendError(res, 400, e.what());
    } catch (const std::exception& e) {
      SendError(res, 500, e.what());
    }
  });
  server.Post("/api/background", [this](const httplib::Request& req, httplib::Response& res) {
    Answer(res, [&] {
      model.SetBackground(Field<std::string>(Body(req), "background"));
      return model.State();
    });
  });
  server.Get("/api/plate.png", [this](const httplib::Request&, httplib::Response& res) {
    try {
      std::lock_guard<std::mutex> hold(lock);
      res.set_content(model.PlatePng(), "image/png");
    } catch (const InputError& e) {
      SendError(res, 400, e.what());
    } catch (const std::exception& e) {
      SendError(res, 500, e.what());
    }
  });
  server.Get("/api/bitmap", [this](const httplib::Request& req, httplib::Response& res) {
    try {
      int effect = 0, id = 0;
      try {
        effect = std::stoi(req.get_param_value("effect"));
        id = std::stoi(req.get_param_value("id"));
      } catch (const std::exception&) {
        throw InputError("/api/bitmap needs whole numbers effect and id");
      }
      std::lock_guard<std::mutex> hold(lock);
      res.set_content(model.BitmapPng(effect, id), "image/png");
    } catch (const InputError& e) {
      SendError(res, 400, e.what());
    } catch (const std::exception& e) {
      SendError(res, 500, e.what());
    }
  });
}

PanelServer::PanelServer(PanelModel& model) : impl_(std::make_unique<Impl>(model)) { impl_->Routes(); }

PanelServer::~PanelServer() = default;

int PanelServer::Bind(int port) {
  if (port < 0 || port > 65535) throw InputError("--port " + std::to_string(port) + ": not a port (1..65535)");
  const int bound = port == 0 ? impl_->server.bind_to_any_port("127.0.0.1")
                              : (impl_->server.bind_to_port("127.0.0.1", port) ? port : -1);
  if (bound <= 0)
    throw SystemError("cannot listen on 127.0.0.1:" + std::to_string(port) +
                      " (is another program using the port? --port chooses another, --port 0 any free one)");
  impl_->port = bound;
  return bound;
}

void PanelServer::Run() { impl_->server.listen_after_bind(); }

void PanelServer::Stop() { impl_->server.stop(); }

int RunPanel(const PanelOptions& options, const ClassLookup& lookup) {
  const SceneDesc scene = options.scene.empty() ? DefaultScene() : LoadSceneFile(options.scene);
  PanelModel model(scene, lookup, options.scene);
  PanelServer server(model);
  const int port = server.Bind(options.port);

  // Ctrl-C (and SIGTERM) stop the server: the signals are taken by one
  // thread, so that the server's threads never see them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGUSR1);  // sent by this function when the server ends on its own
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
  std::atomic<bool> finished{false};
  std::thread waiter([&] {
    for (;;) {
      int received = 0;
      sigwait(&stopSignals, &received);
      if (received == SIGUSR1) return;
      // A stop that comes before the server listens is repeated until it ends.
      while (!finished) {
        server.Stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
  });

  std::printf("velumbra panel: %s at http://127.0.0.1:%d/ (Ctrl-C stops it)\n", scene.source.c_str(), port);
  std::fflush(stdout);
  server.Run();
  finished = true;
  pthread_kill(waiter.native_handle(), SIGUSR1);
  waiter.join();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (model.Dirty() && !options.quiet)
    std::fprintf(stderr, "velumbra: warning: the panel's unsaved changes to %s were not saved\n",
                 scene.source.c_str());
  return 0;
}

}  // namespace velumbra
