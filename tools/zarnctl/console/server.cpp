#include "server.h"

#include <httplib.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <random>
#include <thread>

#include "../session.h"
#include "assets.h"

namespace zarnctl {
namespace console {

namespace {

constexpr char kCookie[] = "zarn_console_token";
// Enough workers for a few pages, each holding an event stream and a handful
// of kept-alive connections, without a jog's heartbeat ever waiting in line.
constexpr size_t kWorkers = 32;
constexpr size_t kMaxBody = 4 << 20;  // a backup is a few kilobytes
constexpr std::chrono::milliseconds kEventPeriod{50};
constexpr std::chrono::seconds kPingPeriod{5};
// A page that opens the stream sees the last seconds at once.
constexpr size_t kHistorySamples = 1000;

bool IsLoopbackHost(const std::string& host) {
  return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

// The host of a Host header: "127.0.0.1:8080" -> 127.0.0.1, "[::1]:8080" -> ::1.
std::string HostName(const std::string& header) {
  if (!header.empty() && header[0] == '[') {
    const size_t close = header.find(']');
    return close == std::string::npos ? header : header.substr(1, close - 1);
  }
  return header.substr(0, header.find(':'));
}

std::string ErrorBody(const std::string& message, const std::string& hint = "") {
  Json error = {{"message", message}};
  if (!hint.empty()) error["hint"] = hint;
  return Dump(Json{{"error", error}});
}

std::string CookieToken(const httplib::Request& req) {
  const std::string cookies = req.get_header_value("Cookie");
  const std::string key = std::string(kCookie) + "=";
  size_t at = 0;
  while ((at = cookies.find(key, at)) != std::string::npos) {
    if (at == 0 || cookies[at - 1] == ' ' || cookies[at - 1] == ';') {
      const size_t start = at + key.size();
      return cookies.substr(start, cookies.find(';', start) - start);
    }
    at += key.size();
  }
  return "";
}

// What one page's event stream has sent so far.
struct StreamCursor {
  std::vector<uint64_t> nextSample;
  std::vector<uint64_t> stateVersion;
  Clock::time_point lastWrite = Clock::now();
};

std::string SampleEvent(const Station& s, const SampleBatch& batch) {
  Json t = Json::array(), p = Json::array(), v = Json::array(), q = Json::array();
  for (const Sample& x : batch.samples) {
    t.push_back(double(int64_t(x.t * 10)) / 10);
    p.push_back(x.position);
    v.push_back(x.velocity);
    q.push_back(x.torque);
  }
  return "event: samples\ndata: " + Dump(Json{{"drive", s.Id()}, {"t", t}, {"p", p}, {"v", v}, {"q", q}}) + "\n\n";
}

}  // namespace

ListenAddress ParseListen(const std::string& text) {
  const auto bad = [&text] {
    return UsageFailure("--listen takes HOST:PORT, e.g. 127.0.0.1:8080 or [::1]:8080 (got " + text + ")",
                        "a port is 1 to 65535, or 0 for any free one");
  };
  ListenAddress a;
  std::string port;
  if (!text.empty() && text[0] == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') throw bad();
    a.host = text.substr(1, close - 1);
    port = text.substr(close + 2);
  } else {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos) throw bad();
    a.host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  if (a.host.empty() || port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
      std::stol(port) > 65535)
    throw bad();
  a.port = uint16_t(std::stol(port));
  a.loopback = IsLoopbackHost(a.host);
  return a;
}

std::string NewToken() {
  std::random_device source;
  std::string token;
  char part[12];
  for (int i = 0; i < 4; ++i) {
    snprintf(part, sizeof part, "%08x", unsigned(source()));
    token += part;
  }
  return token;
}

bool SameSecret(const std::string& given, const std::string& token) {
  if (given.size() != token.size()) return false;  // the length is no secret
  unsigned char differ = 0;
  for (size_t i = 0; i < token.size(); ++i) differ |= static_cast<unsigned char>(given[i] ^ token[i]);
  return differ == 0;
}

struct Server::Impl {
  Impl(std::vector<std::unique_ptr<Station>>& s, const ListenAddress& l, const std::string& t)
      : stations(s), api(s), listen(l), token(t) {}

  std::vector<std::unique_ptr<Station>>& stations;
  Api api;
  ListenAddress listen;
  std::string token;
  httplib::Server http;
  std::thread thread;
  std::mutex mutex;
  std::condition_variable stopped;
  bool stopping = false;

  // Refuses what may not reach the drives; true when the request was answered.
  bool Guard(const httplib::Request& req, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Referrer-Policy", "no-referrer");
    const std::string host = req.get_header_value("Host");
    if (listen.loopback && !IsLoopbackHost(HostName(host))) {
      res.status = 403;
      res.set_content(ErrorBody("this console answers requests for its loopback address only (Host: " + host + ")",
                                "open http://127.0.0.1:" + std::to_string(listen.port) + "/"),
                      "application/json");
      return true;
    }
    if (req.has_header("Origin") && req.get_header_value("Origin") != "http://" + host) {
      res.status = 403;
      res.set_content(
          ErrorBody("requests from other sites are refused (Origin: " + req.get_header_value("Origin") + ")"),
          "application/json");
      return true;
    }
    if (!token.empty()) {
      const std::string query = req.get_param_value("token");
      const bool ok = SameSecret(query, token) || SameSecret(CookieToken(req), token) ||
                      SameSecret(req.get_header_value("Authorization"), "Bearer " + token);
      if (!ok) {
        res.status = 401;
        res.set_content(ErrorBody("this console needs its token",
                                  "open the address that zarnctl console printed at its start (with ?token=...)"),
                        "application/json");
        return true;
      }
      // The page's own requests (its files, the event stream) carry it from here on.
      if (!query.empty())
        res.set_header("Set-Cookie", std::string(kCookie) + "=" + token + "; Path=/; HttpOnly; SameSite=Strict");
    }
    if ((req.method == "POST" || req.method == "PUT") &&
        req.get_header_value("Content-Type").rfind("application/json", 0) != 0) {
      res.status = 415;
      res.set_content(ErrorBody("a request that acts on the drives sends JSON (Content-Type: application/json)"),
                      "application/json");
      return true;
    }
    return false;
  }

  void ServeApi(const httplib::Request& req, httplib::Response& res) {
    const ApiAnswer answer = api.Handle(ApiRequest{req.method, req.path, req.body});
    res.status = answer.status;
    if (!answer.attachment.empty())
      res.set_header("Content-Disposition", "attachment; filename=\"" + answer.attachment + "\"");
    res.set_content(answer.body, "application/json");
  }

  void ServeAsset(const httplib::Request& req, httplib::Response& res) {
    const Asset* asset = FindAsset(req.path);
    if (!asset) {
      res.status = 404;
      res.set_content(ErrorBody("no such page: " + req.path), "application/json");
      return;
    }
    res.set_header("Content-Security-Policy",
                   "default-src 'self'; img-src 'self' data: blob:; style-src 'self'; script-src 'self'; "
                   "connect-src 'self'; frame-ancestors 'none'");
    res.set_content(reinterpret_cast<const char*>(asset->data), asset->size, asset->type);
  }

  // Events for one page: the new samples of each drive, and its state when it changed.
  std::string NextEvents(StreamCursor& c) {
    std::string text;
    for (size_t i = 0; i < stations.size(); ++i) {
      const Station& s = *stations[i];
      const SampleBatch batch = s.SamplesAfter(c.nextSample[i]);
      if (!batch.samples.empty()) text += SampleEvent(s, batch);
      c.nextSample[i] = batch.next;
      const uint64_t version = s.StateVersion();
      if (version != c.stateVersion[i]) {
        c.stateVersion[i] = version;
        text += "event: state\ndata: " + Dump(s.State()) + "\n\n";
      }
    }
    return text;
  }

  void ServeEvents(httplib::Response& res) {
    auto cursor = std::make_shared<StreamCursor>();
    for (auto& s : stations) {
      const uint64_t end = s->SamplesAfter(UINT64_MAX).next;
      cursor->nextSample.push_back(end > kHistorySamples ? end - kHistorySamples : 0);
      cursor->stateVersion.push_back(UINT64_MAX);
    }
    res.set_chunked_content_provider("text/event-stream", [this, cursor](size_t, httplib::DataSink& sink) {
      {
        std::unique_lock<std::mutex> lock(mutex);
        if (stopping) {
          sink.done();
          return true;
        }
      }
      std::string text = NextEvents(*cursor);
      if (text.empty() && Clock::now() - cursor->lastWrite > kPingPeriod) text = ": ping\n\n";
      if (!text.empty()) {
        if (!sink.is_writable() || !sink.write(text.data(), text.size())) return false;  // the page is gone
        cursor->lastWrite = Clock::now();
      }
      std::unique_lock<std::mutex> lock(mutex);
      stopped.wait_for(lock, kEventPeriod, [this] { return stopping; });
      return true;
    });
  }
};

Server::Server(std::vector<std::unique_ptr<Station>>& stations, const ListenAddress& listen, const std::string& token)
    : impl_(std::make_unique<Impl>(stations, listen, token)) {
  Impl& m = *impl_;
  m.http.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
  m.http.set_payload_max_length(kMaxBody);
  m.http.set_pre_routing_handler([&m](const httplib::Request& req, httplib::Response& res) {
    return m.Guard(req, res) ? httplib::Server::HandlerResponse::Handled : httplib::Server::HandlerResponse::Unhandled;
  });
  m.http.Get("/api/events", [&m](const httplib::Request&, httplib::Response& res) { m.ServeEvents(res); });
  m.http.Get("/api/.*", [&m](const httplib::Request& req, httplib::Response& res) { m.ServeApi(req, res); });
  m.http.Post("/api/.*", [&m](const httplib::Request& req, httplib::Response& res) { m.ServeApi(req, res); });
  m.http.Put("/api/.*", [&m](const httplib::Request& req, httplib::Response& res) { m.ServeApi(req, res); });
  m.http.Get("/.*", [&m](const httplib::Request& req, httplib::Response& res) { m.ServeAsset(req, res); });
}

Server::~Server() { Stop(); }

uint16_t Server::Bind() {
  Impl& m = *impl_;
  int port = m.listen.port;
  if (port == 0) {
    port = m.http.bind_to_any_port(m.listen.host);
    if (port <= 0) port = 0;
  } else if (!m.http.bind_to_port(m.listen.host, port)) {
    port = 0;
  }
  if (port == 0)
    throw SystemFailure("console", "cannot listen on " + m.listen.host + ":" + std::to_string(m.listen.port),
                        "the port may be in use (choose another with --listen HOST:PORT, or port 0 for any "
                        "free one), or the address is not one of this machine's");
  m.listen.port = uint16_t(port);
  return m.listen.port;
}

void Server::Start() {
  Impl& m = *impl_;
  m.thread = std::thread([&m] { m.http.listen_after_bind(); });
}

void Server::Stop() {
  Impl& m = *impl_;
  {
    std::lock_guard<std::mutex> lock(m.mutex);
    m.stopping = true;
  }
  m.stopped.notify_all();
  m.http.stop();
  if (m.thread.joinable()) m.thread.join();
}

}  // namespace console
}  // namespace zarnctl
