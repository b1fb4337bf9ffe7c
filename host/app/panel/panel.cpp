#include "host/app/panel/panel.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <limits>
#include <string_view>
#include <type_traits>
#include <chrono>
#include <cstdio>
#include <list>
#include <mutex>
#include <random>
#include <thread>

#include "host/app/base/app_error.h"
#include "host/app/panel/panel_assets.h"
#include "host/app/base/quoting.h"

namespace velumbra {

using json = nlohmann::json;

namespace {

using Clock = std::chrono::steady_clock;

// Limits that keep one client from holding the panel: a request (line,
// headers and body) must arrive within kRequestDeadline, each read and write
// may wait kIoTimeout, and bodies are at most kMaxBody bytes (a scene edit
// is a few hundred), whether sent with a length or in chunks.
constexpr auto kRequestDeadline = std::chrono::seconds(10);
constexpr auto kIoTimeout = std::chrono::seconds(5);
constexpr std::size_t kMaxBody = 4u << 20;
constexpr std::size_t kWorkers = 8;
// A client that has sent no byte for this long while its request is not
// complete is stalled: when every worker is taken, a stalled client gives
// its worker up. A client on this machine sends its request in well under
// a millisecond.
constexpr auto kStalled = std::chrono::milliseconds(250);
// How often a reader waiting for its client looks whether it should give
// its worker up.
constexpr auto kWaitSlice = std::chrono::milliseconds(50);

// One connection in the server, while a worker serves it.
struct Connection {
  int fd = -1;
  Clock::time_point start;
  std::atomic<bool> reading{true};  // false once its request is in and being answered
  std::atomic<Clock::rep> lastByte{0};  // when its client last sent something
  bool refusedBody = false;  // answered 413 with the body's rest unread
};

// The connection the calling worker serves.
thread_local Connection* t_connection = nullptr;

class GuardedServer;

// A socket stream for one request: reads end at the request's deadline
// however slowly the bytes trickle in, so that a client sending a header
// line every few seconds cannot keep a worker; and a client that has
// stalled gives its worker up when every worker is taken.
class DeadlineStream : public httplib::Stream {
 public:
  DeadlineStream(int fd, Clock::time_point readDeadline, GuardedServer& server, Connection& connection)
      : fd_(fd), readDeadline_(readDeadline), server_(server), connection_(connection) {}

  bool is_readable() const override { return WaitReadable(); }
  bool is_writable() const override { return Wait(POLLOUT, kIoTimeout); }

  ssize_t read(char* ptr, size_t size) override {
    if (begin_ == end_) {
      if (!WaitReadable()) return -1;
      ssize_t n;
      do n = ::recv(fd_, buffer_, sizeof buffer_, 0);
      while (n < 0 && errno == EINTR);
      if (n <= 0) return n;
      connection_.lastByte = Clock::now().time_since_epoch().count();
      begin_ = 0;
      end_ = static_cast<size_t>(n);
    }
    const size_t n = std::min(size, end_ - begin_);
    std::memcpy(ptr, buffer_ + begin_, n);
    begin_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!is_writable()) return -1;
    ssize_t n;
    do n = ::send(fd_, ptr, size, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override { Address(false, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { Address(true, ip, port); }
  socket_t socket() const override { return fd_; }

 private:
  // Waits for the client's next bytes until the request's deadline (and at
  // most kIoTimeout), in slices: false when none came, or when the client
  // has stalled and its worker is wanted.
  bool WaitReadable() const;

  bool Wait(short events, std::chrono::milliseconds timeout) const {
    pollfd p{fd_, events, 0};
    int n;
    do n = ::poll(&p, 1, static_cast<int>(timeout.count()));
    while (n < 0 && errno == EINTR);
    return n > 0 && (p.revents & (events | POLLHUP)) != 0;
  }

  void Address(bool local, std::string& ip, int& port) const {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    auto* sa = reinterpret_cast<sockaddr*>(&addr);
    if ((local ? ::getsockname(fd_, sa, &len) : ::getpeername(fd_, sa, &len)) != 0 || addr.ss_family != AF_INET) return;
    const auto* in = reinterpret_cast<const sockaddr_in*>(&addr);
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    ip = text;
    port = ntohs(in->sin_port);
  }

  int fd_;
  Clock::time_point readDeadline_;
  GuardedServer& server_;
  Connection& connection_;
  char buffer_[4096];
  size_t begin_ = 0, end_ = 0;
};

// The HTTP server with the panel's connection handling: one request per
// connection under a deadline, and a worker freed for the page whenever
// every worker is taken: by a client that has stalled before its request
// was complete. A request that has arrived whole is always answered.
class GuardedServer : public httplib::Server {
 public:
  GuardedServer() {
    new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
  }

  // Marks the calling worker's request as read: from here on its worker is
  // busy answering, not waiting for a client.
  static void RequestRead() {
    if (t_connection) t_connection->reading = false;
  }

  // Cuts off every connection still sending its request, so that stopping
  // the server does not wait for slow clients' deadlines.
  void CutReaders() {
    std::lock_guard<std::mutex> hold(lock_);
    for (Connection* c : connections_)
      if (c->reading) ::shutdown(c->fd, SHUT_RDWR);
  }

  // True (and `c` leaves the count of busy workers) when every worker is
  // taken and `c`, still sending its request, has stalled for kStalled.
  bool GiveUpWorker(Connection& c) {
    const auto idle = Clock::now().time_since_epoch() - Clock::duration(c.lastByte.load());
    if (!c.reading || idle < kStalled) return false;
    std::lock_guard<std::mutex> hold(lock_);
    if (connections_.size() < kWorkers) return false;
    connections_.remove(&c);
    return true;
  }

 private:
  bool process_and_close_socket(socket_t sock) override {
    Connection self;
    self.fd = sock;
    self.start = Clock::now();
    self.lastByte = self.start.time_since_epoch().count();
    {
      std::lock_guard<std::mutex> hold(lock_);
      connections_.push_back(&self);
    }
    t_connection = &self;
    DeadlineStream stream(sock, self.start + kRequestDeadline, *this, self);
    bool closed = false;
    const bool ok = process_request(stream, /*close_connection=*/true, closed, [&](httplib::Request& req) {
      stream.get_remote_ip_and_port(req.remote_addr, req.remote_port);
      stream.get_local_ip_and_port(req.local_addr, req.local_port);
    });
    t_connection = nullptr;
    {
      std::lock_guard<std::mutex> hold(lock_);
      connections_.remove(&self);
    }
    if (self.refusedBody) DrainRefusedBody(sock);
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return ok;
  }

  // Closing with the rest of a refused body unread would reset the
  // connection, and the client, still sending, would lose the answer:
  // the rest is read and dropped (never kept) until the client closes, for
  // a second at most.
  static void DrainRefusedBody(socket_t sock) {
    ::shutdown(sock, SHUT_WR);
    const Clock::time_point end = Clock::now() + std::chrono::seconds(1);
    char sink[16384];
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      pollfd p{sock, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return;
      if (::recv(sock, sink, sizeof sink, 0) <= 0) return;
    }
  }

  std::mutex lock_;
  std::list<Connection*> connections_;
};

bool DeadlineStream::WaitReadable() const {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(readDeadline_ - Clock::now());
    if (left <= std::chrono::milliseconds(0)) return false;
    const auto slice = std::min({left, std::chrono::milliseconds(kIoTimeout), std::chrono::milliseconds(kWaitSlice)});
    if (Wait(POLLIN, slice)) return true;
    if (server_.GiveUpWorker(connection_)) return false;
    const auto idle = Clock::now().time_since_epoch() - Clock::duration(connection_.lastByte.load());
    if (idle >= kIoTimeout) return false;
  }
}

// 128 random bits as 32 hexadecimal digits.
std::string NewToken() {
  std::random_device random;
  std::string token;
  for (int i = 0; i < 4; ++i) {
    char part[9];
    std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
    token += part;
  }
  return token;
}

// Compares in time independent of where the strings differ.
bool SameSecret(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

// JSON text for an answer. Names from outside (a scene file's path in
// another encoding) may hold bytes that are not UTF-8: they are sent as
// U+FFFD instead of failing the answer after the request took effect.
std::string JsonText(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace

struct PanelServer::Impl {
  explicit Impl(PanelModel& m) : model(m), token(NewToken()) {}

  PanelModel& model;
  GuardedServer server;
  std::mutex lock;  // the model is used by one request at a time
  int port = 0;
  const std::string token;

  void Routes();
  bool Allowed(const httplib::Request& req, httplib::Response& res) const;
  // Runs `work` on the model under the lock and answers its JSON, or the
  // error it threw.
  void Answer(httplib::Response& res, const std::function<json()>& work);
  // A POST route answered by `work` with the request's JSON body, read
  // here: at most kMaxBody bytes however it is sent (the library caps only
  // a body of declared length, not a chunked one), else 413.
  void PostJson(const char* path, std::function<json(const json&)> work);
};

namespace {

void SendError(httplib::Response& res, int status, const std::string& message) {
  res.status = status;
  res.set_content(JsonText(json{{"error", message}}), "application/json");
}

json Body(const std::string& text) {
  json body = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (body.is_discarded() || !body.is_object()) throw InputError("the request body is not a JSON object");
  return body;
}

template <class T>
T Field(const json& body, const char* name) {
  static_assert(!std::is_integral_v<T> || std::is_same_v<T, bool>, "whole numbers go through RequestInt");
  if (!body.contains(name)) throw InputError(std::string("the request lacks \"") + name + "\"");
  try {
    return body.at(name).get<T>();
  } catch (const json::exception&) {
    throw InputError(std::string("the request's \"") + name + "\" has the wrong type");
  }
}

// The page with its first state in it, and its preview's address: the page
// draws both as it loads, before any script timer or request of its own, so
// that whatever looks at it once it has loaded (a screenshot by
// `chromium --headless --screenshot`, a printout) sees the rollouts and the
// preview. Only for the address with the token: the state is the API's.
std::string PageWithFirstState(const std::string& page, const json& state, const std::string& token) {
  // Inside <script> only "</" could end the element early: written "<\/".
  std::string data;
  for (const char c : JsonText(state)) {
    if (c == '/' && !data.empty() && data.back() == '<') data += '\\';
    data += c;
  }
  const std::string script = "<script src=\"/panel.js\"></script>";
  const std::string image = "<img id=\"preview\" ";
  const size_t i = page.find(image);
  const size_t s = page.find(script);
  if (i == std::string::npos || s == std::string::npos || s < i) return page;
  const size_t afterImage = i + image.size();
  return page.substr(0, afterImage) + "src=\"/api/preview.png?first=1&amp;token=" + token + "\" " +
         page.substr(afterImage, s - afterImage) + "<script id=\"first-state\" type=\"application/json\">" + data +
         "</script>\n" + page.substr(s);
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
  // A browser names the page a request comes from: only the panel's own.
  const std::string origin = req.get_header_value("Origin");
  if (!origin.empty() && origin != "http://" + numeric && origin != "http://" + named) {
    SendError(res, 403, "the panel answers only its own page, not requests from " + Quoted(origin));
    return false;
  }
  // The API needs the secret the panel printed with its address: other
  // processes and users of this machine can reach the port, but not read it.
  if (req.path.rfind("/api/", 0) == 0) {
    const std::string given =
        req.has_header("X-Velumbra-Token") ? req.get_header_value("X-Velumbra-Token") : req.get_param_value("token");
    if (!SameSecret(given, token)) {
      SendError(res, 401, "the panel's API needs the token of the address the panel printed (?token=...)");
      return false;
    }
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
  GuardedServer::RequestRead();
  try {
    std::lock_guard<std::mutex> hold(lock);
    res.set_content(JsonText(work()), "application/json");
  } catch (const FileExists& e) {
    res.status = 409;
    res.set_content(JsonText(json{{"error", e.what()}, {"exists", true}}), "application/json");
  } catch (const InputError& e) {
    SendError(res, 400, e.what());
  } catch (const SystemError& e) {
    SendError(res, 500, e.what());
  } catch (const std::exception& e) {
    SendError(res, 500, e.what());
  }
}

void PanelServer::Impl::PostJson(const char* path, std::function<json(const json&)> work) {
  server.Post(path, [this, work = std::move(work)](const httplib::Request&, httplib::Response& res,
                                                   const httplib::ContentReader& reader) {
    std::string text;
    bool tooLarge = false;
    const bool read = reader([&](const char* data, size_t length) {
      if (text.size() + length > kMaxBody) {
        tooLarge = true;
        return false;
      }
      text.append(data, length);
      return true;
    });
    // The library has answered 413 itself for a declared length over the cap.
    if (tooLarge || res.status == 413) {
      if (tooLarge && t_connection) t_connection->refusedBody = true;
      return SendError(res, 413, "the request body is larger than " + std::to_string(kMaxBody >> 20) + " MiB");
    }
    if (!read) return SendError(res, 400, "the request body did not arrive whole");
    Answer(res, [&] { return work(Body(text)); });
  });
}

void PanelServer::Impl::Routes() {
  server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    return Allowed(req, res) ? httplib::Server::HandlerResponse::Unhandled : httplib::Server::HandlerResponse::Handled;
  });
  for (const PanelAsset& asset : PanelAssets()) {
    server.Get(asset.url, [this, &asset](const httplib::Request& req, httplib::Response& res) {
      const std::string type = std::string(asset.contentType) + "; charset=utf-8";
      std::string text(reinterpret_cast<const char*>(asset.data), asset.size);
      if (std::string_view(asset.url) == "/" && SameSecret(req.get_param_value("token"), token)) {
        std::lock_guard<std::mutex> hold(lock);
        text = PageWithFirstState(text, model.State(), token);
      }
      res.set_content(text, type.c_str());
      res.set_header("Cache-Control", "no-cache");
    });
  }
  server.Get("/api/state", [this](const httplib::Request&, httplib::Response& res) {
    Answer(res, [&] { return model.State(); });
  });
  PostJson("/api/input", [this](const json& body) {
    model.Input(body);
    return model.State();
  });
  PostJson("/api/pick", [this](const json& body) {
    model.Pick(RequestInt(body, "effect", 0, INT_MAX), Field<std::string>(body, "node"));
    return model.State();
  });
  PostJson("/api/rollup", [this](const json& body) {
    model.SetRollupOpen(RequestInt(body, "effect", 0, INT_MAX),
                        static_cast<MapID>(RequestInt(body, "map", 0, std::numeric_limits<MapID>::max())),
                        Field<bool>(body, "open"));
    return model.State();
  });
  PostJson("/api/close-all", [this](const json& body) {
    model.CloseAll(RequestInt(body, "effect", 0, INT_MAX));
    return model.State();
  });
  PostJson("/api/frame", [this](const json& body) {
    model.SetFrame(RequestInt(body, "frame", INT_MIN, INT_MAX));
    return model.State();
  });
  PostJson("/api/save", [this](const json& body) {
    const bool overwrite = body.contains("overwrite") && Field<bool>(body, "overwrite");
    const std::filesystem::path saved =
        body.contains("file") ? model.SaveAs(Field<std::string>(body, "file"), overwrite) : model.Save();
    json state = model.State();
    state["saved"] = saved.string();
    return state;
  });
  server.Get("/api/preview.png", [this](const httplib::Request&, httplib::Response& res) {
    GuardedServer::RequestRead();
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
  PostJson("/api/background", [this](const json& body) {
    model.SetBackground(Field<std::string>(body, "background"));
    return model.State();
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
    GuardedServer::RequestRead();
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

PanelServer::PanelServer(PanelModel& model) : impl_(std::make_unique<Impl>(model)) {
  httplib::Server& server = impl_->server;
  // Not the library's default: its SO_REUSEPORT would let a second panel
  // bind the same port and answer every other request.
  server.set_socket_options([](socket_t sock) {
    int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server.set_payload_max_length(kMaxBody);
  server.set_read_timeout(kIoTimeout);
  server.set_write_timeout(kIoTimeout);
  impl_->Routes();
}

PanelServer::~PanelServer() = default;

int PanelServer::Bind(int port) {
  if (port < 0 || port > 65535) throw InputError("--port " + std::to_string(port) + ": not a port (1..65535)");
  const int bound = port == 0 ? impl_->server.bind_to_any_port("127.0.0.1")
                              : (impl_->server.bind_to_port("127.0.0.1", port) ? port : -1);
  if (bound <= 0)
    throw InputError("cannot listen on 127.0.0.1:" + std::to_string(port) +
                      " (is another program using the port? --port chooses another, --port 0 any free one)");
  impl_->port = bound;
  return bound;
}

void PanelServer::Run() { impl_->server.listen_after_bind(); }

void PanelServer::Stop() {
  impl_->server.stop();
  impl_->server.CutReaders();
}

const std::string& PanelServer::Token() const { return impl_->token; }

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
  sigaddset(&stopSignals, SIGHUP);
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

  std::printf("velumbra panel: %s at http://127.0.0.1:%d/?token=%s (Ctrl-C stops it)\n",
              QuotedIfNeeded(scene.source).c_str(), port, server.Token().c_str());
  std::fflush(stdout);
  server.Run();
  finished = true;
  pthread_kill(waiter.native_handle(), SIGUSR1);
  waiter.join();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (model.Dirty() && !options.quiet)
    std::fprintf(stderr, "velumbra: warning: the panel's unsaved changes to %s were not saved\n",
                 QuotedIfNeeded(scene.source).c_str());
  return 0;
}

}  // namespace velumbra
