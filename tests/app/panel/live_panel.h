// A panel served in-process on a free port of 127.0.0.1, with an httplib
// client that carries the panel's token, for the panel's API tests.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "host/app/panel/panel.h"
#include "plugin/class_desc.h"
#include "support/module_handle.h"
#include "support/temp_dir.h"

inline constexpr const char* kScene = R"({
  "render": {"width": 96, "height": 64, "camera": "Camera001"},
  "nodes": [
    {"name": "Camera001", "type": "camera", "fov": 60, "position": [0, 0, 0], "target": [0, 1, 0]},
    {"name": "Dummy001", "type": "dummy", "position": [0, 5, 0]}
  ],
  "effects": [
    {"class": "Qe_Velumbra", "name": "Stars",
     "params": {"seed": 7, "duration": {"keys": [[0, 0.5], [40, 2.5]]}}}
  ]
})";

inline velumbra::ClassLookup Lookup() {
  return [](const std::string& name) -> ClassDesc* {
    return name == "Qe_Velumbra" ? GetQe_VelumbraDesc() : nullptr;
  };
}

// A panel of kScene served on a free port of 127.0.0.1.
using json = nlohmann::json;
using velumbra::PanelModel;
using velumbra::PanelServer;

class LivePanel {
 public:
  explicit LivePanel(const std::string& sceneText = kScene) {
    InitCustomControls(hInstance);
    file = dir.Path() / "scene.json";
    velumbra::SceneDesc scene = velumbra::ParseScene(sceneText, file.string(), dir.Path());
    model = std::make_unique<PanelModel>(scene, Lookup(), file);
    server = std::make_unique<PanelServer>(*model);
    port = server->Bind(0);
    thread = std::thread([this] {
      server->Run();
      stopped = true;
    });
    client = std::make_unique<httplib::Client>("127.0.0.1", port);
    client->set_default_headers({{"X-Velumbra-Token", server->Token()}});
  }
  ~LivePanel() {
    // A stop that comes before the server listens is lost: repeat it.
    while (!stopped) {
      server->Stop();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    thread.join();
  }

  json State() { return json::parse(client->Get("/api/state")->body); }
  httplib::Result Post(const std::string& path, const json& body) {
    return client->Post(path.c_str(), body.dump(), "application/json");
  }
  json Input(MapID map, int id, const std::string& action, const json& value = nullptr) {
    auto res = Post("/api/input", {{"effect", 0}, {"map", map}, {"id", id}, {"action", action}, {"value", value}});
    EXPECT_EQ(res->status, 200) << res->body;
    return json::parse(res->body);
  }
  std::string Preview() {
    auto res = client->Get("/api/preview.png");
    EXPECT_EQ(res->status, 200) << res->body;
    EXPECT_EQ(res->get_header_value("Content-Type"), "image/png");
    return res->body;
  }

  ScopedInstance module;
  TempDir dir;
  std::filesystem::path file;
  std::unique_ptr<PanelModel> model;
  std::unique_ptr<PanelServer> server;
  int port = 0;
  std::thread thread;
  std::atomic<bool> stopped{false};
  std::unique_ptr<httplib::Client> client;
};

