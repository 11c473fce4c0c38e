#include "client/client.h"

#include <chrono>

namespace vornhal::client {

Greeting MultiClient::Connect(uint16_t port, Millis timeout) {
  conn_.Connect(port, "127.0.0.1", timeout);
  auto f = conn_.WaitFor(server_id::kGreeting, timeout);
  if (!f) throw ProtocolError("no greeting from the Multi server");
  return ParseGreeting(*f);
}

std::optional<VersionResult> MultiClient::Version(uint16_t version, Millis timeout) {
  auto v = Ask<VersionResult>(CVersionPacket(version), server_id::kVersionResult, ParseVersionResult, timeout);
  if (v && v->kind == 0 && !v->key.empty()) conn_.SetKey(v->key);
  return v;
}

std::optional<Result> MultiClient::CreateAccount(std::string_view name, std::string_view pass,
                                                 std::string_view real, std::string_view mail, Millis timeout) {
  return Ask<Result>(CCreateAccountPacket(name, pass, real, mail), server_id::kResult, ParseResult, timeout);
}

std::optional<Result> MultiClient::SetAppearance(uint8_t sex, uint8_t hair_type, TAsColor hair_color,
                                                 Millis timeout) {
  return Ask<Result>(CAppearancePacket(sex, hair_type, hair_color), server_id::kResult, ParseResult, timeout);
}

MultiClient::LoginAnswer MultiClient::Login(std::string_view name, std::string_view pass, bool force,
                                            Millis timeout) {
  LoginAnswer a;
  a.result = Ask<Result>(CLoginPacket(name, pass, force), server_id::kResult, ParseResult, timeout);
  if (a.result && a.result->code == 0) {
    auto f = conn_.WaitFor(server_id::kServerInfo, timeout);
    if (f) {
      a.info = ParseServerInfo(*f);
      if (!a.info->key.empty()) conn_.SetKey(a.info->key);
    }
  }
  return a;
}

std::optional<Result> MultiClient::ChangePassword(std::string_view name, std::string_view old_pass,
                                                  std::string_view new_pass, Millis timeout) {
  return Ask<Result>(CChangePasswordPacket(name, old_pass, new_pass), server_id::kResult, ParseResult, timeout);
}

std::optional<ServerInfo> MultiClient::OwnServerInfo(Millis timeout) {
  return Ask<ServerInfo>(CServerListPacket(0), server_id::kServerInfo, ParseServerInfo, timeout);
}

std::optional<ServerList> MultiClient::ServerListFor(Millis timeout) {
  return Ask<ServerList>(CServerListPacket(1), server_id::kServerList, ParseServerList, timeout);
}

std::optional<Rule> MultiClient::RuleCheck(Millis timeout) {
  return Ask<Rule>(CRuleCheckPacket(), server_id::kRule, ParseRule, timeout);
}

std::optional<Rule> MultiClient::RuleRequest(Millis timeout) {
  return Ask<Rule>(CRuleRequestPacket(), server_id::kRule, ParseRule, timeout);
}

std::optional<TempData> MultiClient::TempDataList(Millis timeout) {
  return Ask<TempData>(CTempDataPacket(3), server_id::kTempData, ParseTempData, timeout);
}

std::optional<TempData> MultiClient::TempDataFile(std::string_view key, Millis timeout) {
  return Ask<TempData>(CTempDataPacket(2, key), server_id::kTempData, ParseTempData, timeout);
}

std::optional<ScriptPacket> MultiClient::ScriptFile(std::string_view name, Millis timeout) {
  return Ask<ScriptPacket>(CScriptRequestPacket(0, name), server_id::kScript, ParseScript, timeout);
}

std::optional<ScriptPacket> MultiClient::ScriptList(Millis timeout) {
  return Ask<ScriptPacket>(CScriptRequestPacket(3), server_id::kScript, ParseScript, timeout);
}

std::optional<Web> MultiClient::WebAddress(uint8_t kind, Millis timeout) {
  return Ask<Web>(CWebRequestPacket(kind), server_id::kWeb, ParseWeb, timeout);
}

std::optional<ServerInfo> CreateAndLogin(uint16_t multi_port, const NewAccount& account) {
  {
    MultiClient m;
    m.Connect(multi_port);
    auto v = m.Version();
    if (!v || v->kind != 0) return std::nullopt;
    auto r = m.CreateAccount(account.name, account.pass, account.real, account.mail);
    if (!r || r->code != 0) return std::nullopt;
    auto a = m.SetAppearance(account.sex, account.hair_type, account.hair_color);
    if (!a || a->code != 0) return std::nullopt;
  }
  return LoginOnly(multi_port, account.name, account.pass);
}

std::optional<ServerInfo> LoginOnly(uint16_t multi_port, std::string_view name, std::string_view pass) {
  MultiClient m;
  m.Connect(multi_port);
  auto v = m.Version();
  if (!v || v->kind != 0) return std::nullopt;
  auto a = m.Login(name, pass, false);
  if (!a.result || a.result->code != 0) return std::nullopt;
  return a.info;
}

void ZoneClient::Connect(uint16_t port, Millis timeout) { conn_.Connect(port, "127.0.0.1", timeout); }

std::vector<Frame> ZoneClient::EnterWorld(std::string_view name, Millis timeout) {
  conn_.Send(CZoneLoginPacket(name));
  auto frames = conn_.CollectUntil(server_id::kEnterEnd, timeout);
  for (const Frame& f : frames) {
    if (f.id == server_id::kPlayerInfo) object_id_ = ParsePlayerInfo(f).id;
    if (f.id == server_id::kMapInfo) map_id_ = ParseMapInfo(f).id;
    if (f.id == server_id::kPlayerPosition) {
      auto p = ParsePlayerPosition(f);
      pos_ = TMapPoint{p.x, p.y};
    }
  }
  return frames;
}

std::optional<MoveAck> ZoneClient::Step(uint8_t dir, uint8_t seq, Millis timeout) {
  conn_.Send(CMovePacket(dir, seq));
  auto f = conn_.WaitFor(server_id::kMoveAck, timeout);
  if (!f) return std::nullopt;
  MoveAck a = ParseMoveAck(*f);
  pos_ = TMapPoint{a.x, a.y};
  return a;
}

std::optional<Message> ZoneClient::WaitForMessage(std::string_view text, Millis timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::vector<Frame> others;
  std::optional<Message> found;
  for (;;) {
    auto left = std::chrono::duration_cast<Millis>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    auto f = conn_.WaitFor(server_id::kMessage, left);
    if (!f) break;
    Message m = ParseMessage(*f);
    if (m.text == text) {
      found = m;
      break;
    }
    others.push_back(std::move(*f));
  }
  // Messages passed over stay readable; only the one found is taken.
  conn_.Unread(std::move(others));
  return found;
}

TMapPoint StepFrom(TMapPoint p, uint8_t dir) {
  static const int dx[8] = {0, 1, 0, -1, 1, 1, -1, -1};
  static const int dy[8] = {-1, 0, 1, 0, -1, 1, 1, -1};
  if (dir > 7) return p;
  return TMapPoint{static_cast<uint16_t>(p.X + dx[dir]), static_cast<uint16_t>(p.Y + dy[dir])};
}

}  // namespace vornhal::client
