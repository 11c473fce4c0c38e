#include "admin/admin_server.h"

#include <httplib.h>
#include <sys/random.h>

#include <chrono>
#include <thread>

#include "admin/dashboard.h"
#include "admin/metrics.h"
#include "admin/operations.h"
#include "net/backlog.h"
#include "platform/log.h"

namespace vornhal {

namespace {

using admin::TJson;

constexpr const char* kJson = "application/json";

void Reply(httplib::Response& res, int status, const TJson& body) {
  res.status = status;
  res.set_content(body.dump(-1, ' ', false, TJson::error_handler_t::replace), kJson);
}

void ReplyError(httplib::Response& res, int status, const std::string& message) {
  Reply(res, status, TJson{{"error", message}});
}

void ReplyOk(httplib::Response& res, TJson extra = TJson::object()) {
  TJson body{{"ok", true}};
  for (auto& [key, value] : extra.items()) body[key] = value;
  Reply(res, 200, body);
}

// Same length and same bytes, in a time that does not depend on where they differ.
bool SameSecret(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

bool Authorized(const httplib::Request& req, const std::string& token) {
  if (token.empty()) return false;
  const std::string value = req.get_header_value("Authorization");
  constexpr size_t kScheme = 7;  // "Bearer "
  if (value.size() <= kScheme) return false;
  std::string scheme = value.substr(0, kScheme);
  for (char& c : scheme) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (scheme != "bearer ") return false;
  return SameSecret(value.substr(kScheme), token);
}

// The request body as a JSON object; nullopt (and a 400 answer) when it is not one.
std::optional<TJson> BodyObject(const httplib::Request& req, httplib::Response& res) {
  TJson body = TJson::parse(req.body, nullptr, false);
  if (body.is_discarded() || !body.is_object()) {
    ReplyError(res, 400, "the body must be a JSON object");
    return std::nullopt;
  }
  return body;
}

// A non-empty string member; nullopt (and a 400 answer) otherwise.
std::optional<std::string> StringField(const TJson& body, const char* key, httplib::Response& res) {
  auto it = body.find(key);
  if (it == body.end() || !it->is_string() || it->get<std::string>().empty()) {
    ReplyError(res, 400, std::string("\"") + key + "\" must be a non-empty string");
    return std::nullopt;
  }
  return it->get<std::string>();
}

std::string Who(const httplib::Request& req) { return req.remote_addr; }

std::string MetricsText(const TWorld& world) {
  metrics::TCounterData d = metrics::ReadCounters();
  const admin::TCounts c = admin::ReadCounts(world);
  metrics::TMetricsText out;
  out.Family("vornhal_players_online", "gauge", "Characters in the world.");
  out.Sample("vornhal_players_online", c.players);
  out.Family("vornhal_characters", "gauge", "Characters known to the server (saved accounts).");
  out.Sample("vornhal_characters", c.characters);
  out.Family("vornhal_connections", "gauge", "Open connections by server.");
  out.Sample("vornhal_connections", {{"server", "Multi"}}, c.multi);
  out.Sample("vornhal_connections", {{"server", "Zone"}}, c.zone);
  out.Family("vornhal_packets_received_total", "counter", "Packets handled by server.");
  for (const auto& [server, n] : d.packets_received) {
    out.Sample("vornhal_packets_received_total", {{"server", server}}, static_cast<double>(n));
  }
  out.Family("vornhal_bytes_sent_total", "counter", "Bytes written to clients by server.");
  for (const auto& [server, n] : d.bytes_sent) {
    out.Sample("vornhal_bytes_sent_total", {{"server", server}}, static_cast<double>(n));
  }
  out.Family("vornhal_unsent_bytes", "gauge", "Bytes queued for clients and not yet written.");
  out.Sample("vornhal_unsent_bytes", static_cast<double>(TBacklogBound::Get().Total()));
  out.Family("vornhal_logins_total", "counter", "Login answers of the Multi server by result.");
  for (const auto& [result, n] : d.logins) {
    out.Sample("vornhal_logins_total", {{"result", result}}, static_cast<double>(n));
  }
  out.Family("vornhal_gm_commands_total", "counter", "GM command lines run.");
  out.Sample("vornhal_gm_commands_total", static_cast<double>(d.gm_commands));
  out.Histogram("vornhal_tick_duration_seconds", "Time a main-loop tick takes, without its sleep.", d.tick);
  out.Histogram("vornhal_save_duration_seconds", "Time from queueing a save of every character until its files are written.", d.save);
  out.Histogram("vornhal_save_lock_seconds", "Time a save of every character holds the world lock.", d.save_lock);
  return out.Text();
}

}  // namespace

struct TAdminServer::Impl {
  explicit Impl(TWorld& w) : world(w) {}
  TWorld& world;
  httplib::Server server;
  std::thread thread;
  TOptions options;

  void Routes();
};

void TAdminServer::Impl::Routes() {
  const std::string token = options.token;
  const bool metrics_token = options.metrics_token;
  TWorld& world = this->world;
  server.set_pre_routing_handler([token, metrics_token](const httplib::Request& req,
                                                         httplib::Response& res) {
    const bool api = req.path.rfind("/api/", 0) == 0 || req.path == "/api";
    const bool metrics = req.path == "/metrics";
    if ((api || (metrics && metrics_token)) && !Authorized(req, token)) {
      res.set_header("WWW-Authenticate", "Bearer");
      ReplyError(res, 401, "unauthorized");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });

  server.Get("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_content(std::string(admin::DashboardPage()), "text/html; charset=utf-8");
  });
  server.Get("/metrics", [&world](const httplib::Request&, httplib::Response& res) {
    res.set_content(MetricsText(world), "text/plain; version=0.0.4; charset=utf-8");
  });
  server.Get("/api/status", [&world](const httplib::Request&, httplib::Response& res) {
    Reply(res, 200, admin::StatusJson(world));
  });
  server.Get("/api/players", [](const httplib::Request&, httplib::Response& res) {
    Reply(res, 200, admin::PlayersJson(admin::ListPlayers()));
  });
  server.Get("/api/history", [](const httplib::Request&, httplib::Response& res) {
    Reply(res, 200, admin::HistoryJson());
  });
  server.Get(R"(/api/maps/(\d{1,5}))", [&world](const httplib::Request& req, httplib::Response& res) {
    unsigned long id = std::stoul(req.matches[1].str());
    std::optional<TJson> map = id <= 0xFFFF ? admin::MapJson(world, static_cast<uint16_t>(id)) : std::nullopt;
    if (!map) {
      ReplyError(res, 404, "no such map");
      return;
    }
    Reply(res, 200, *map);
  });
  server.Post("/api/kick", [&world](const httplib::Request& req, httplib::Response& res) {
    auto body = BodyObject(req, res);
    if (!body) return;
    auto name = StringField(*body, "name", res);
    if (!name) return;
    if (!admin::KickChara(world, *name)) {
      ReplyError(res, 404, "no such character in the world");
      return;
    }
    LogFmt("[Admin] %s: キャラクター \"%s\" を切断しました", Who(req), EscapeLogText(*name, 64));
    ReplyOk(res);
  });
  server.Post("/api/broadcast", [](const httplib::Request& req, httplib::Response& res) {
    auto body = BodyObject(req, res);
    if (!body) return;
    auto text = StringField(*body, "text", res);
    if (!text) return;
    admin::Broadcast(*text);
    LogFmt("[Admin] %s: 全員へのメッセージ: %s", Who(req), EscapeLogText(*text, 256));
    ReplyOk(res);
  });
  server.Post("/api/save", [&world](const httplib::Request& req, httplib::Response& res) {
    admin::TSaveOutcome outcome = admin::SaveAllNow(world);
    LogFmt("[Admin] %s: 保存: %d キャラ, 失敗 %d, ロック %d ms", Who(req), outcome.characters,
           outcome.failures, static_cast<int>(outcome.lock_ms));
    if (outcome.failures > 0) {
      ReplyError(res, 500, std::to_string(outcome.failures) + " character file(s) could not be written");
      return;
    }
    ReplyOk(res, TJson{{"characters", outcome.characters}});
  });
  server.Post("/api/gm", [&world](const httplib::Request& req, httplib::Response& res) {
    auto body = BodyObject(req, res);
    if (!body) return;
    auto name = StringField(*body, "name", res);
    if (!name) return;
    auto level = body->find("level");
    if (level == body->end() || !level->is_number_integer() || level->get<int64_t>() < 0 ||
        level->get<int64_t>() > 255) {
      ReplyError(res, 400, "\"level\" must be an integer from 0 to 255");
      return;
    }
    std::string error;
    switch (admin::SetGMLevel(world, *name, static_cast<uint8_t>(level->get<int64_t>()), &error)) {
      case admin::TGMResult::UnknownChara:
        ReplyError(res, 404, "no such character");
        return;
      case admin::TGMResult::SaveFailed:
        LogFmt("[Admin] %s: キャラクター \"%s\" を保存できませんでした: %s", Who(req),
               EscapeLogText(*name, 64), error);
        ReplyError(res, 500, "the character could not be saved: " + error);
        return;
      case admin::TGMResult::Ok:
        break;
    }
    LogFmt("[Admin] %s: キャラクター \"%s\" のGMレベルを%dにしました", Who(req),
           EscapeLogText(*name, 64), static_cast<int>(level->get<int64_t>()));
    ReplyOk(res);
  });
  server.Post("/api/ban", [&world](const httplib::Request& req, httplib::Response& res) {
    auto body = BodyObject(req, res);
    if (!body) return;
    admin::TBanRequest ban;
    std::string error;
    if (!admin::ParseBanRequest(*body, true, &ban, &error)) {
      ReplyError(res, 400, error);
      return;
    }
    if (admin::UnknownBanName(world, ban)) {
      ReplyError(res, 404, "no such character");
      return;
    }
    error = admin::AddBanNow(world, ban);
    if (!error.empty()) {
      ReplyError(res, 400, error);
      return;
    }
    LogFmt("[Admin] %s: %s", Who(req), admin::DescribeBan(ban, true));
    ReplyOk(res);
  });
  server.Post("/api/unban", [&world](const httplib::Request& req, httplib::Response& res) {
    auto body = BodyObject(req, res);
    if (!body) return;
    admin::TBanRequest ban;
    std::string error;
    if (!admin::ParseBanRequest(*body, false, &ban, &error)) {
      ReplyError(res, 400, error);
      return;
    }
    if (!admin::RemoveBanNow(world, ban)) {
      ReplyError(res, 404, "no such ban");
      return;
    }
    LogFmt("[Admin] %s: %s", Who(req), admin::DescribeBan(ban, false));
    ReplyOk(res);
  });
  auto not_found = [](const httplib::Request&, httplib::Response& res) {
    ReplyError(res, 404, "not found");
  };
  server.Get("/api/.*", not_found);
  server.Post("/api/.*", not_found);
}

TAdminServer::TAdminServer(TWorld& world) : impl_(std::make_unique<Impl>(world)) {}

TAdminServer::~TAdminServer() { Close(); }

bool TAdminServer::Open(const TOptions& options, std::string* error) {
  impl_->options = options;
  impl_->Routes();
  impl_->server.set_payload_max_length(64 * 1024);
  impl_->server.set_read_timeout(5, 0);
  impl_->server.set_write_timeout(5, 0);
  impl_->server.set_keep_alive_timeout(5);
  impl_->server.set_socket_options([](int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  if (!impl_->server.bind_to_port(options.bind, options.port)) {
    if (error != nullptr) *error = "cannot bind " + options.bind + ":" + std::to_string(options.port);
    return false;
  }
  impl_->thread = std::thread([this] { impl_->server.listen_after_bind(); });
  // stop() only reaches a running server: wait for the loop, so Close() cannot miss it.
  for (int i = 0; i < 5000 && !impl_->server.is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void TAdminServer::Close() {
  if (!impl_->thread.joinable()) return;
  impl_->server.stop();
  impl_->thread.join();
}

std::string NewAdminToken() {
  unsigned char bytes[32];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("no random bytes for the admin token");
    }
    got += static_cast<size_t>(n);
  }
  static const char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char b : bytes) {
    token += kHex[b >> 4];
    token += kHex[b & 15];
  }
  return token;
}

}  // namespace vornhal
