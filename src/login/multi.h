// The Multi server: version check, server list, rules text, cached data, accounts and login.
#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/zlib_data.h"
#include "login/password.h"
#include "net/packet.h"
#include "net/server.h"

namespace vornhal {

class TWorld;

class TMultiServer : public TServer {
 public:
  // A Multi server for that world; the world outlives it.
  TMultiServer(TWorld& world, std::string name, uint16_t port)
      : TServer(std::move(name), port), World(world) {}
  std::unique_ptr<TSession> CreateSession() override;
  void DoConnect(TConnection& context) override;     // base log line, then SGreetingPacket
  void DoDisconnect(TConnection& context) override;  // detach and save the character, then base
  // Applies a changed ban list to the world and watches bursts of password work (world lock
  // held, every tick).
  void Process(uint32_t tick) override;

  TWorld& World;

 private:
  TPasswordBurstMonitor FBurst;
};

struct TPendingWork;

// Account creation, login and password change hash or verify the password on a password
// worker and finish later on the connection's own worker. While one of them is pending, the
// connection's later packets wait in arrival order and are handled once it has finished, so a
// client sees its answers in the order of its requests.

class TMultiSession : public TSession {
 public:
  TMultiSession(TServer* server, TWorld& world) : TSession(server), World(world) {}
  ~TMultiSession() override;
  void ParsePacket(TConnection& context, uint8_t packet_id) override;
  // The connection is going away: pending work finishes without it. World lock held.
  void CancelPending();

  TWorld& World;

 private:
  void Dispatch(TConnection& context, uint8_t packet_id);
  std::shared_ptr<TPendingWork> BeginPending(TConnection& context);
  void EndPending(TConnection& context);
  void Defer(TConnection& context, uint8_t packet_id);
  void FinishLogin(TConnection& context, const std::string& name, bool ok,
                   const std::string& stored, const std::string& rehash, uint8_t force);
  void FinishCreate(TConnection& context, const std::shared_ptr<TPendingWork>& work,
                    const std::string& name, const std::string& hash, const std::string& real_name,
                    const std::string& mail_addr);
  void CreateWritten(TConnection& context, const std::string& name, const std::string& error);
  void ReplayDeferred(TConnection& context);

  std::shared_ptr<TPendingWork> FPending;
  std::deque<std::vector<uint8_t>> FDeferred;
  bool FDeferOverflow = false;

  void CreateAccount(TConnection& context);
  void SetAppearance(TConnection& context);
  void LoginChara(TConnection& context);
  void ChangePassword(TConnection& context);
  void TempData(TConnection& context);
  void ServerList(TConnection& context);
  void WebRequest(TConnection& context);
  void Script(TConnection& context);
};

// The lowest client version the server accepts.
inline constexpr uint16_t kLowestClientVersion = 2850;

// The three server lists, built once at start-up after the addresses are known.
extern TZLibData ServerListGlobal;
extern TZLibData ServerListLocal;
extern TZLibData ServerListLoopback;
void BuildServerLists();
// The uncompressed bytes of one server list naming the Multi server at address:port.
std::string ServerListBytes(std::string_view address, uint16_t port, std::string_view date);
// The local date as "2017年11月9日" (no leading zeros).
std::string ServerListDate();

// --- addresses ---
// Four dot-separated decimal numbers 0..255, nothing else.
bool ParseIPv4(std::string_view text, uint8_t octets[4]);
// 10.0.0.0/8, 172.16.0.0/12 and 192.168.0.0/16; text that is no address is not private.
bool IsPrivateAddress(std::string_view ip);
// The address a client at peer_ip is told to use: "127.0.0.1" for loopback, LocalIP for a
// private peer, GlobalIP otherwise.
std::string ServerAddressFor(std::string_view peer_ip);
// The server list for a client at peer_ip, by the same rule.
const TZLibData& ServerListFor(std::string_view peer_ip);
// The address as the u32 whose big-endian bytes are the octets reversed (a.b.c.d -> d c b a);
// text that is no address gives 0xFFFFFFFF.
uint32_t IPToAddr(std::string_view ip);

// --- passwords and account names ---
// Lowercase hexadecimal SHA-1 of the UTF-8 bytes (40 digits).
std::string PasswordDigest(std::string_view password);
// Digests compare equal ignoring the case of A-Z.
bool SameDigest(std::string_view a, std::string_view b);
// A name may become a save file name: no control character, none of " * / : < > ? \ |, and
// both "<name>.json" and its temporary file name fit in a file name (255 bytes): at most
// kMaxCharaNameBytes bytes of UTF-8; "." and ".." are refused too.
bool IsUsableAccountName(std::string_view name);

// --- Multi packets ---
TPacket SGreetingPacket();                                             // 126
TPacket SVersionResultPacket(uint8_t kind, std::string_view peer_ip);  // 0 (kinds 0 and 2)
TPacket SResultPacket(uint8_t code, std::string_view text);            // 2
// 3: the server at `address`:`port`; the login answer adds the character's name.
TPacket SServerInfoPacket(std::string_view address, uint16_t port,
                          std::optional<std::string_view> name = std::nullopt);
// 24: kind 0 the temp data list, kind 1 one file by key.
TPacket STempDataPacket(uint8_t kind, std::string_view key = {});
TPacket SServerListPacket(const TZLibData& list);                      // 86
TPacket SRulePacket(uint8_t kind);                                     // 96 kinds 0 and 1

// The ports the servers listen on (the running server's, else the configured one).
uint16_t MultiServerPort();
uint16_t ZoneServerPort();

}  // namespace vornhal
