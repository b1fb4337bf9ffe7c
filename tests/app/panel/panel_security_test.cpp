// The panel against other local processes and hostile requests: the token,
// the origin, Save that writes only where the user meant, numbers that do
// not wrap, names that are not UTF-8, one panel per port, capped bodies and
// slow clients. Each case says what the panel did before.
#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "app/panel/live_panel.h"
#include "host/app/base/app_error.h"
#include "host/app/image/png_io.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Before: anyone on the machine could read the state and save anywhere.
TEST(PanelSecurity, TheApiNeedsTheTokenThePanelPrinted) {
  LivePanel p;
  const std::string token = p.server->Token();
  EXPECT_EQ(token.size(), 32u);
  httplib::Client bare("127.0.0.1", p.port);
  EXPECT_EQ(bare.Get("/")->status, 200);  // the page holds no secret; it reads the token from its address
  EXPECT_EQ(bare.Get("/api/state")->status, 401);
  EXPECT_EQ(bare.Get("/api/preview.png")->status, 401);
  EXPECT_EQ(bare.Post("/api/save", "{}", "application/json")->status, 401);
  EXPECT_EQ(bare.Get("/api/state", {{"X-Velumbra-Token", std::string(32, '0')}})->status, 401);
  EXPECT_EQ(bare.Get("/api/state", {{"X-Velumbra-Token", token.substr(0, 31)}})->status, 401);
  EXPECT_EQ(bare.Get(("/api/state?token=" + token).c_str())->status, 200);  // as <img> URLs carry it
  EXPECT_EQ(bare.Get("/api/state", {{"X-Velumbra-Token", token}})->status, 200);
  // Each server has its own.
  LivePanel other;
  EXPECT_NE(other.server->Token(), token);
}

// Before: the Origin header was not looked at.
TEST(PanelSecurity, RequestsFromAnotherOriginAreRefused) {
  LivePanel p;
  const std::string port = std::to_string(p.port);
  for (const std::string& origin :
       std::vector<std::string>{"http://evil.example", "http://127.0.0.1:1", "null", "https://127.0.0.1:" + port})
    EXPECT_EQ(p.client->Post("/api/close-all", {{"Origin", origin}}, "{\"effect\":0}", "application/json")->status, 403)
        << origin;
  for (const std::string& origin : std::vector<std::string>{"http://127.0.0.1:" + port, "http://localhost:" + port})
    EXPECT_EQ(p.client->Post("/api/close-all", {{"Origin", origin}}, "{\"effect\":0}", "application/json")->status, 200)
        << origin;
}

// Before: {"file": "../sub/masks/beauty.png"} replaced the scene's input
// image with JSON; another file was replaced and made 0644; folders were
// made; later Saves went to the new path.
TEST(PanelSecurity, SaveWritesTheOpenedSceneAndSaveAsOnlyWhatTheUserConfirms) {
  LivePanel p;
  const fs::path dir = p.dir.Path();
  // A scene with an input image.
  TempDir images;
  const fs::path image = images.Path() / "beauty.png";
  const std::vector<BMM_Color_64> black(96 * 64);
  velumbra::WritePngRgba(image, 96, 64, black.data(), 8);
  const std::string original = ReadAll(image);
  std::string withImage = kScene;
  withImage.insert(withImage.find("\"camera\""), "\"image\": " + json(image.string()).dump() + ", ");
  LivePanel q(withImage);

  const auto save = [](LivePanel& panel, const json& body) { return panel.Post("/api/save", body); };
  // Save as onto the scene's input, even through another name: refused,
  // the image untouched.
  fs::create_symlink(image, images.Path() / "alias.png");
  for (const fs::path& target : {image, images.Path() / "alias.png", images.Path() / "." / "beauty.png"}) {
    auto r = save(q, {{"file", target.string()}, {"overwrite", true}});
    EXPECT_EQ(r->status, 400) << r->body;
  }
  EXPECT_EQ(ReadAll(image), original);
  // An existing file: 409 until the user confirms; its mode is kept.
  const fs::path other = dir / "private.json";
  WriteAll(other, "{}");
  ::chmod(other.c_str(), 0600);
  auto r = save(p, {{"file", other.string()}});
  EXPECT_EQ(r->status, 409) << r->body;
  EXPECT_TRUE(json::parse(r->body).value("exists", false));
  EXPECT_EQ(ReadAll(other), "{}");
  r = save(p, {{"file", other.string()}, {"overwrite", true}});
  ASSERT_EQ(r->status, 200) << r->body;
  struct stat st {};
  ASSERT_EQ(::stat(other.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_NO_THROW(velumbra::LoadSceneFile(other));

  // No folder is made.
  r = save(p, {{"file", (dir / "new" / "folder" / "s.json").string()}});
  EXPECT_EQ(r->status, 400) << r->body;
  EXPECT_FALSE(fs::exists(dir / "new"));

  // Save still writes the opened scene.
  r = save(p, json::object());
  ASSERT_EQ(r->status, 200) << r->body;
  EXPECT_EQ(json::parse(r->body)["saved"], p.file.string());
  EXPECT_TRUE(fs::exists(p.file));

  // A Save-as over a link writes through it to its target.
  fs::create_symlink(other, dir / "link.json");
  r = save(p, {{"file", (dir / "link.json").string()}, {"overwrite", true}});
  ASSERT_EQ(r->status, 200) << r->body;
  EXPECT_TRUE(fs::is_symlink(dir / "link.json"));
}

// Before: 4294967296 edited effect 0, 1e300 named effect -2147483648, map
// 99999 became map -31073.
TEST(PanelSecurity, NumbersInRequestsAreCheckedNotWrapped) {
  LivePanel p;
  const json before = p.State();
  const json bad[] = {
      {{"effect", 4294967296ull}, {"map", 0}, {"open", false}},
      {{"effect", 1e300}, {"map", 0}, {"open", false}},
      {{"effect", -1}, {"map", 0}, {"open", false}},
      {{"effect", 0.5}, {"map", 0}, {"open", false}},
      {{"effect", "0"}, {"map", 0}, {"open", false}},
      {{"effect", 0}, {"map", 99999}, {"open", false}},
      {{"effect", 0}, {"map", 65536}, {"open", false}},
      {{"effect", 0}, {"map", -65536}, {"open", false}},
  };
  for (const json& b : bad) {
    auto r = p.Post("/api/rollup", b);
    EXPECT_EQ(r->status, 400) << b.dump() << " " << r->body;
  }
  EXPECT_EQ(p.Post("/api/frame", {{"frame", 4294967296ull}})->status, 400);
  EXPECT_EQ(p.Post("/api/close-all", {{"effect", 18446744073709551615ull}})->status, 400);
  EXPECT_EQ(p.Post("/api/input", {{"effect", 4294967296ull}, {"map", 0}, {"id", 1}, {"action", "click"}})->status,
            400);
  EXPECT_EQ(p.Post("/api/input", {{"effect", 0}, {"map", 0}, {"id", 4294967297ull}, {"action", "click"}})->status,
            400);
  EXPECT_EQ(p.State(), before);  // nothing was edited
}

// Before: every answer was 500 (the state could not be encoded) while the
// edits and Saves were applied.
TEST(PanelSecurity, ASceneNameThatIsNotUtf8AnswersTrulyAndSafely) {
  ScopedInstance module;
  InitCustomControls(hInstance);
  TempDir dir;
  const fs::path file = dir.Path() / "sc\xe8ne.json";
  velumbra::SceneDesc scene = velumbra::ParseScene(kScene, file.string(), dir.Path());
  PanelModel model(scene, Lookup(), file);
  PanelServer server(model);
  const int port = server.Bind(0);
  std::thread run([&] { server.Run(); });
  httplib::Client client("127.0.0.1", port);
  client.set_default_headers({{"X-Velumbra-Token", server.Token()}});
  auto r = client.Get("/api/state");
  ASSERT_EQ(r->status, 200) << r->body;
  const json state = json::parse(r->body);  // valid UTF-8: the stray byte is U+FFFD
  EXPECT_EQ(state["file"], (dir.Path() / "sc\xef\xbf\xbdne.json").string());
  r = client.Post("/api/save", "{}", "application/json");
  EXPECT_EQ(r->status, 200) << r->body;
  EXPECT_TRUE(fs::exists(file));
  server.Stop();
  run.join();
}

// Before: a second panel on the port started and the two answered in turn.
TEST(PanelSecurity, ASecondPanelCannotTakeTheSamePort) {
  LivePanel p;
  PanelServer second(*p.model);
  try {
    second.Bind(p.port);
    FAIL() << "the second panel bound port " << p.port;
  } catch (const velumbra::InputError& e) {
    EXPECT_NE(std::string(e.what()).find("cannot listen on 127.0.0.1:" + std::to_string(p.port)), std::string::npos)
        << e.what();
  }
}

// Before: a 3 GB POST was read whole (9.85 GB peak).
TEST(PanelSecurity, RequestBodiesAreCapped) {
  LivePanel p;
  const std::string huge = "{\"effect\": 0, \"pad\": \"" + std::string(5u << 20, 'x') + "\"}";
  auto r = p.client->Post("/api/close-all", huge, "application/json");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 413);
  EXPECT_EQ(p.client->Post("/api/close-all", "{\"effect\": 0}", "application/json")->status, 200);
}

// A client that sends its request one header line at a time, slowly,
// until told to stop.
class SlowClient {
 public:
  explicit SlowClient(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    thread_ = std::thread([this] {
      Send("GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\n");
      while (!stop_) {
        for (int i = 0; i < 10 && !stop_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!Send("X-Slow: 1\r\n")) return;
      }
    });
  }
  ~SlowClient() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
  }
  bool Connected() const { return connected_; }

 private:
  bool Send(const std::string& s) { return ::send(fd_, s.data(), s.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(s.size()); }
  int fd_ = -1;
  bool connected_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Before: eight clients sending a header line every few seconds held all
// the workers and a normal request timed out.
TEST(PanelSecurity, SlowClientsCannotTakeEveryWorker) {
  LivePanel p;
  std::vector<std::unique_ptr<SlowClient>> slow;
  for (int i = 0; i < 12; ++i) {
    slow.push_back(std::make_unique<SlowClient>(p.port));
    ASSERT_TRUE(slow.back()->Connected());
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // all of them are being served
  // Answered while the slow clients still keep their connections (a
  // request may take 10 s to arrive), not after they were dropped.
  p.client->set_read_timeout(std::chrono::seconds(5));
  for (int i = 0; i < 3; ++i) {
    auto r = p.client->Get("/api/state");
    ASSERT_TRUE(r) << "no answer: " << httplib::to_string(r.error());
    EXPECT_EQ(r->status, 200);
  }
}

}  // namespace
