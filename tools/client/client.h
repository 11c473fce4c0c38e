// High-level clients: the Multi (login) journey and the Zone (world) journey, each over its
// own Connection. Every wait has a timeout; a missing answer comes back as nothing.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/builders.h"
#include "client/connection.h"
#include "client/parsers.h"

namespace vornhal::client {

inline constexpr uint16_t kClientVersion = 2850;

class MultiClient {
 public:
  // Connects and reads the greeting (throws ProtocolError if none arrives).
  Greeting Connect(uint16_t port, Millis timeout = kDefaultTimeout);
  void Close() { conn_.Close(); }

  // Sends the version; on acceptance the key handed over is used from then on.
  std::optional<VersionResult> Version(uint16_t version = kClientVersion, Millis timeout = kDefaultTimeout);
  std::optional<Result> CreateAccount(std::string_view name, std::string_view pass, std::string_view real,
                                      std::string_view mail, Millis timeout = kDefaultTimeout);
  std::optional<Result> SetAppearance(uint8_t sex, uint8_t hair_type, TAsColor hair_color,
                                      Millis timeout = kDefaultTimeout);
  struct LoginAnswer {
    std::optional<Result> result;
    std::optional<ServerInfo> info;  // sent after a code-0 result
  };
  // A forced login over a connected character gets no answer: both parts stay empty.
  LoginAnswer Login(std::string_view name, std::string_view pass, bool force = false,
                    Millis timeout = kDefaultTimeout);
  std::optional<Result> ChangePassword(std::string_view name, std::string_view old_pass,
                                       std::string_view new_pass, Millis timeout = kDefaultTimeout);
  std::optional<ServerInfo> OwnServerInfo(Millis timeout = kDefaultTimeout);  // server list kind 0
  std::optional<ServerList> ServerListFor(Millis timeout = kDefaultTimeout);  // server list kind 1
  std::optional<Rule> RuleCheck(Millis timeout = kDefaultTimeout);
  std::optional<Rule> RuleRequest(Millis timeout = kDefaultTimeout);
  std::optional<TempData> TempDataList(Millis timeout = kDefaultTimeout);
  std::optional<TempData> TempDataFile(std::string_view key, Millis timeout = kDefaultTimeout);
  std::optional<ScriptPacket> ScriptFile(std::string_view name, Millis timeout = kDefaultTimeout);
  std::optional<ScriptPacket> ScriptList(Millis timeout = kDefaultTimeout);
  std::optional<Web> WebAddress(uint8_t kind, Millis timeout = kDefaultTimeout);

  Connection& conn() { return conn_; }

 private:
  template <class T, class Parse>
  std::optional<T> Ask(const OutPacket& p, TServerPacketId answer_id, Parse parse, Millis timeout) {
    conn_.Send(p);
    auto f = conn_.WaitFor(answer_id, timeout);
    if (!f) return std::nullopt;
    return parse(*f);
  }
  Connection conn_;
};

// Creates an account, sets its look and logs in on the Multi server, then closes the
// connection; returns the Zone server information of the login answer.
struct NewAccount {
  std::string name;
  std::string pass = "secret";
  std::string real = "Real Name";
  std::string mail = "mail@example.invalid";
  uint8_t sex = 0;
  uint8_t hair_type = 1;
  TAsColor hair_color{10, 20, 30};
};
std::optional<ServerInfo> CreateAndLogin(uint16_t multi_port, const NewAccount& account);
// Logs an existing account in and closes the Multi connection.
std::optional<ServerInfo> LoginOnly(uint16_t multi_port, std::string_view name, std::string_view pass);

class ZoneClient {
 public:
  void Connect(uint16_t port, Millis timeout = kDefaultTimeout);
  void Close() { conn_.Close(); }

  // Sends the zone login and returns every frame up to and including SEnterEndPacket; empty
  // when it does not arrive in time. Records the own object id, map and position.
  std::vector<Frame> EnterWorld(std::string_view name, Millis timeout = kDefaultTimeout);

  // One step; returns the acknowledgement. Tracks the position from it.
  std::optional<MoveAck> Step(uint8_t dir, uint8_t seq = 0, Millis timeout = kDefaultTimeout);
  void Turn(uint8_t dir) { conn_.Send(CDirectionPacket(dir)); }
  void Chat(std::string_view text, uint8_t type = 0) { conn_.Send(CChatPacket(type, text)); }
  void Whisper(std::string_view target, std::string_view text) { conn_.Send(CWhisperPacket(target, text)); }
  void Attack(uint32_t target_id) { conn_.Send(CAttackPacket(target_id)); }
  void Send(const OutPacket& p) { conn_.Send(p); }

  // Waits for a frame of this id and parses it.
  template <class Parse>
  auto Expect(TServerPacketId id, Parse parse, Millis timeout = kDefaultTimeout)
      -> std::optional<decltype(parse(std::declval<const Frame&>()))> {
    auto f = conn_.WaitFor(id, timeout);
    if (!f) return std::nullopt;
    return parse(*f);
  }
  // Waits for a system/whisper message whose text equals `text`.
  std::optional<Message> WaitForMessage(std::string_view text, Millis timeout = kDefaultTimeout);

  Connection& conn() { return conn_; }
  uint32_t ObjectID() const { return object_id_; }
  uint16_t MapID() const { return map_id_; }
  TMapPoint Position() const { return pos_; }

 private:
  Connection conn_;
  uint32_t object_id_ = 0;
  uint16_t map_id_ = 0;
  TMapPoint pos_;
};

// The cell one step from p in direction d (0 north, 1 east, 2 south, 3 west, 4..7 diagonals).
TMapPoint StepFrom(TMapPoint p, uint8_t dir);

}  // namespace vornhal::client
