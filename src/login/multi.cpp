// The Multi server and its session: version check, data blocks, accounts and login.
#include "login/multi.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <functional>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "admin/metrics.h"
#include "data/chara_store.h"
#include "data/common.h"
#include "login/bans.h"
#include "login/password.h"
#include "login/throttle.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/settings.h"
#include "platform/text.h"
#include "platform/world_lock.h"
#include "world/world.h"
#include "world/packets.h"

namespace vornhal {

namespace {

const char kTextRegistered[] =
    "登録完了です。[CONNECT]を押してキャラクターの名前とパスワードを入力すると、ゲームを開始する事ができます";
const char kTextCannotCreate[] = "現在アカウントを新規に作成できません。";
const char kTextBadName[] = "使用できない文字が含まれています";
const char kTextNameTaken[] = "すでに登録されている名前です";
const char kTextNoSuchName[] = "存在しない名前です。再確認してください";
const char kTextWrongPassword[] = "パスワードが違います";
const char kTextAlreadyConnected[] = "もう接続されています。強制的に接続しますか？";
const char kTextPasswordChanged[] = "変更に成功しました";

const char kTextBanned[] = "このキャラクターは利用停止中です";
const char kTextTooManyFailures[] = "ログインの失敗が多すぎます。しばらくしてから再度お試しください";

// Packets a connection may send while its login or account creation is pending; more close it.
constexpr size_t kMaxDeferredPackets = 64;

// The refusal of a banned character: the fixed text, then the reason.
std::string BannedText(const TBan& ban) {
  return ban.reason.empty() ? std::string(kTextBanned) : std::string(kTextBanned) + " " + ban.reason;
}

enum : uint8_t {
  kResultDone = 0,
  kResultNotCreated = 4,
  kResultNoSuchName = 16,
  kResultWrongPassword = 17,
  kResultConnected = 34,
};

std::string ServerName(const TSession& session) {
  return session.Server() != nullptr ? session.Server()->Name() : std::string("Multi");
}

// Releases a character whose Context is this connection: logs it out, clears Context and queues
// its save, so no character is left naming a connection that goes away. Nothing waits for the
// file: the writer reports a failure itself.
void ReleaseChara(TChara* tc, TConnection& context, const std::string& server_name) {
  if (tc == nullptr || tc->Conn() != &context) return;
  tc->Login = TLoginState::kOffline;
  tc->Context.Reset();
  QueueReleaseChara(tc, [server_name, name = tc->FName](const std::string& error) {
    LogFmt("[%s] キャラクター \"%s\" を保存できませんでした: %s", server_name,
           EscapeLogText(name), error);
  });
}

// The account of that name, unless its creation is still being written.
TChara* FindAccount(const TWorld& world, const std::string& name) {
  TChara* tc = nullptr;
  if (!world.CharaList.TryGetValue(name, tc)) return nullptr;
  return world.CreatingCharaNames.count(LowerAscii(tc->FName)) > 0 ? nullptr : tc;
}

// Taken by an account, by one being created, or by a save file that failed to load.
bool NameTaken(const TWorld& world, const std::string& name) {
  TChara* tc = nullptr;
  return world.CharaList.TryGetValue(name, tc) || IsReservedCharaName(world, name) ||
         world.CreatingCharaNames.count(LowerAscii(name)) > 0;
}

// The end of an account creation once its file is written or has failed: a failed account
// is removed from memory (the name is free again). Returns the account when it stays.
TChara* CreationDone(TWorld& world, const std::string& server, const std::string& name,
                     const std::string& ip, const std::string& error) {
  world.CreatingCharaNames.erase(LowerAscii(name));
  TChara* tc = nullptr;
  world.CharaList.TryGetValue(name, tc);
  if (!error.empty()) {
    LogFmt("[%s] キャラクター \"%s\" (%s) を作成できませんでした: %s", server,
           EscapeLogText(name, 300), ip, error);
    if (tc != nullptr && tc->Conn() == nullptr && !tc->LoggedIn()) {
      world.CharaList.Extract(tc);
      delete tc;
    }
    if (AccountLimit) ++AccountLimitValue;
    return nullptr;
  }
  LogFmt("[%s] キャラクター \"%s\" を作成しました (%s)", server, EscapeLogText(name, 300), ip);
  return tc;
}

}  // namespace

// One login, creation or password change in flight for a connection. The connection pointer
// is used only while the work is not cancelled: the disconnect handling cancels it (under the
// mutex) before the connection may go away.
struct TPendingWork : std::enable_shared_from_this<TPendingWork> {
  TConnection* context = nullptr;
  std::thread::id asker;

  bool Cancelled() {
    std::lock_guard<std::mutex> lock(mutex);
    return cancelled;
  }
  void Cancel() {
    std::lock_guard<std::mutex> lock(mutex);
    cancelled = true;
  }
  // Runs finish under the world lock on the connection's own worker. Called back at once on
  // the thread that started the work (no worker threads), it runs there directly. Once the
  // connection has gone, orphan (if any) runs instead, under the world lock.
  void Complete(std::function<void()> finish, std::function<void()> orphan = nullptr) {
    if (std::this_thread::get_id() == asker) {
      if (!Cancelled()) {
        finish();
      } else if (orphan) {
        orphan();
      }
      return;
    }
    auto self = shared_from_this();
    std::lock_guard<std::mutex> lock(mutex);
    if (!cancelled) {
      context->Post([self, finish = std::move(finish), orphan] {
        TWorldGuard guard;
        if (!self->Cancelled()) {
          finish();
        } else if (orphan) {
          orphan();
        }
      });
    } else if (orphan) {
      RunPasswordJob([orphan = std::move(orphan)] {
        TWorldGuard guard;
        orphan();
      });
    }
  }

 private:
  std::mutex mutex;
  bool cancelled = false;
};

std::unique_ptr<TSession> TMultiServer::CreateSession() {
  return std::make_unique<TMultiSession>(this, World);
}

void TMultiServer::DoConnect(TConnection& context) {
  TServer::DoConnect(context);
  TWorldGuard guard;
  SGreetingPacket().SendTo(&context);
}

void TMultiServer::DoDisconnect(TConnection& context) {
  {
    TWorldGuard guard;
    TSession* session = context.Data.get();
    if (auto* multi = dynamic_cast<TMultiSession*>(session)) multi->CancelPending();
    TChara* tc = session != nullptr ? session->Chara() : nullptr;
    // A character that has meanwhile entered the world on the Zone server belongs to that
    // connection now and is left alone. The save writer writes the file and logs a failure.
    ReleaseChara(tc, context, Name());
    if (session != nullptr) session->SetChara(nullptr);
  }
  TServer::DoDisconnect(context);
}

void TMultiServer::Process(uint32_t tick) {
  TServer::Process(tick);
  if (TakeBansChanged()) ApplyBansToWorld(World);
  FBurst.OnTick(tick);
}

TMultiSession::~TMultiSession() {
  if (FPending) FPending->Cancel();
}

void TMultiSession::CancelPending() {
  if (FPending) FPending->Cancel();
  FPending.reset();
  FDeferred.clear();
}

std::shared_ptr<TPendingWork> TMultiSession::BeginPending(TConnection& context) {
  auto work = std::make_shared<TPendingWork>();
  work->context = &context;
  work->asker = std::this_thread::get_id();
  FPending = work;
  return work;
}

void TMultiSession::EndPending(TConnection&) { FPending.reset(); }

void TMultiSession::Defer(TConnection& context, uint8_t packet_id) {
  if (FDeferred.size() >= kMaxDeferredPackets) {
    if (!FDeferOverflow) {
      FDeferOverflow = true;
      LogFmt("[%s] \"%s\" が処理待ちの間に送ったパケットが多すぎるため切断します",
             ServerName(*this), context.PeerIP());
    }
    context.Close();
    return;
  }
  // The body is kept as it arrived: the id, then (for seeded ids) a seed of 0 and the payload
  // scrambled with it, which LoadBody unscrambles again.
  const size_t start = ReadPosition();  // 2 when a seed byte was read and the rest unscrambled
  std::vector<uint8_t> payload(RecvLength() - start);
  if (!payload.empty()) ReadBuffer(payload.data(), payload.size());
  const bool seeded = start == 2 && !ClientIdWithoutSeed(packet_id);
  if (seeded) Scramble(payload.data(), payload.size(), 0);
  std::vector<uint8_t> body(payload.size() + (seeded ? 2 : 1));
  body[0] = packet_id;
  if (seeded) body[1] = 0;
  std::copy(payload.begin(), payload.end(), body.begin() + (seeded ? 2 : 1));
  FDeferred.push_back(std::move(body));
}

void TMultiSession::ReplayDeferred(TConnection& context) {
  while (!FPending && !FDeferred.empty() && context.Connected()) {
    std::vector<uint8_t> body = std::move(FDeferred.front());
    FDeferred.pop_front();
    uint8_t id = LoadBody(body.data(), body.size());
    try {
      Dispatch(context, id);
    } catch (const std::exception& e) {
      LogFmt("[%s] Parse Error: PacketID %d Message %s", ServerName(*this), id, e.what());
    }
  }
}

void TMultiSession::ParsePacket(TConnection& context, uint8_t packet_id) {
  if (FPending) {
    Defer(context, packet_id);
    return;
  }
  Dispatch(context, packet_id);
}

void TMultiSession::Dispatch(TConnection& context, uint8_t packet_id) {
  using enum TMultiClientPacketId;
  switch (static_cast<TMultiClientPacketId>(packet_id)) {
    case kVersion: {
      uint16_t version = ReadWord();
      SVersionResultPacket(version >= kLowestClientVersion ? 0 : 2, context.PeerIP())
          .SendTo(&context);
      break;
    }
    case kCreateAccount:
      CreateAccount(context);
      break;
    case kLogin:
      LoginChara(context);
      break;
    case kAppearance:
      SetAppearance(context);
      break;
    case kTempData:
      TempData(context);
      break;
    case kRuleCheck:
      ReadByte();
      ReadShortStr();
      SRulePacket(0).SendTo(&context);
      break;
    case kChangePassword:
      ChangePassword(context);
      break;
    case kRuleRequest:
      SRulePacket(1).SendTo(&context);
      break;
    case kServerList:
      ServerList(context);
      break;
    case kWebRequest:
      WebRequest(context);
      break;
    case kScript:
      Script(context);
      break;
    default:
      break;
  }
}

void TMultiSession::CreateAccount(TConnection& context) {
  std::string name = ReadShortStr();
  std::string password = ReadShortStr();
  std::string real_name = ReadShortStr();
  std::string mail_addr = ReadShortStr();
  const std::string ip = context.PeerIP();
  if ((AccountLimit && AccountLimitValue <= 0) || !LoginThrottle().CreationAllowed(ip, SteadyMs())) {
    SResultPacket(kResultNotCreated, kTextCannotCreate).SendTo(&context);
    return;
  }
  if (!IsUsableAccountName(name)) {
    SResultPacket(kResultNotCreated, kTextBadName).SendTo(&context);
    return;
  }
  if (NameTaken(World, name)) {
    SResultPacket(kResultNotCreated, kTextNameTaken).SendTo(&context);
    return;
  }
  // The password is hashed on a worker; the account is made when that is done.
  auto work = BeginPending(context);
  RunPasswordJob([this, work, name, password, real_name, mail_addr] {
    if (work->Cancelled()) return;
    std::string hash = HashPassword(password);
    work->Complete([this, work, name, hash, real_name, mail_addr] {
      FinishCreate(*work->context, work, name, hash, real_name, mail_addr);
    });
  });
}

void TMultiSession::FinishCreate(TConnection& context, const std::shared_ptr<TPendingWork>& work,
                                 const std::string& name, const std::string& hash,
                                 const std::string& real_name, const std::string& mail_addr) {
  const std::string ip = context.PeerIP();
  auto refuse = [&](const char* text) {
    EndPending(context);
    SResultPacket(kResultNotCreated, text).SendTo(&context);
  };
  if (hash.empty()) {
    LogFmt("[%s] キャラクター \"%s\" のパスワードを保存形式にできませんでした", ServerName(*this),
           EscapeLogText(name, 300));
    refuse(kTextCannotCreate);
    return;
  }
  // Checked again: other connections may have created accounts meanwhile.
  if ((AccountLimit && AccountLimitValue <= 0) || !LoginThrottle().CreationAllowed(ip, SteadyMs())) {
    refuse(kTextCannotCreate);
    return;
  }
  TChara* tc = nullptr;
  if (NameTaken(World, name) || !World.CharaList.CreateChara(name, hash, tc)) {
    refuse(kTextNameTaken);
    return;
  }
  tc->RealName = real_name;
  tc->MailAddr = mail_addr;
  World.CreatingCharaNames.insert(LowerAscii(name));
  LoginThrottle().RecordCreation(ip, SteadyMs());
  if (AccountLimit) --AccountLimitValue;
  // The answer waits until the file is on disk; nothing may follow this call (without a save
  // writer, done runs inside it).
  const std::string server = ServerName(*this);
  // The session may be gone when the file is written: everything the orphan needs is taken
  // now, the world included (reaching it through the session later would read freed memory).
  TWorld& world = World;
  QueueCreateChara(tc, [this, &world, work, name, ip, server](const std::string& error) {
    work->Complete(
        [this, work, name, error] { CreateWritten(*work->context, name, error); },
        [&world, name, ip, server, error] { CreationDone(world, server, name, ip, error); });
  });
}

void TMultiSession::CreateWritten(TConnection& context, const std::string& name,
                                  const std::string& error) {
  EndPending(context);  // keeps the deferred packets until this answer is out
  const std::string ip = context.PeerIP();
  TChara* tc = CreationDone(World, ServerName(*this), name, ip, error);
  if (tc == nullptr) {
    SResultPacket(kResultNotCreated, kTextCannotCreate).SendTo(&context);
  } else {
    ReleaseChara(Chara(), context, ServerName(*this));
    SetChara(tc);
    tc->Context.Reset(&context);
    SResultPacket(kResultDone, "").SendTo(&context);
  }
  ReplayDeferred(context);
}

void TMultiSession::SetAppearance(TConnection& context) {
  uint8_t sex = ReadByte();
  uint8_t hair_type = ReadByte();
  TAsColor hair_color = ReadColor();
  TChara* tc = Chara();
  if (tc == nullptr) return;  // no account on this connection: nothing to change
  tc->Sex = sex;
  tc->HairType = hair_type;
  tc->HairColor = hair_color;
  SResultPacket(kResultDone, kTextRegistered).SendTo(&context);
}

void TMultiSession::LoginChara(TConnection& context) {
  std::string name = ReadShortStr();
  std::string password = ReadShortStr();
  uint8_t force = ReadByte();
  const std::string ip = context.PeerIP();
  const int64_t now = SteadyMs();
  if (LoginThrottle().AddressLocked(ip, now)) {
    metrics::CountLogin("locked");
    SResultPacket(kResultWrongPassword, kTextTooManyFailures).SendTo(&context);
    return;
  }
  TChara* tc = FindAccount(World, name);
  if (tc == nullptr) {
    metrics::CountLogin("no_such_name");
    SResultPacket(kResultNoSuchName, kTextNoSuchName).SendTo(&context);
    return;
  }
  if (const TBan* ban = CurrentBans()->FindName(tc->FName, std::time(nullptr))) {
    metrics::CountLogin("banned");
    SResultPacket(kResultWrongPassword, BannedText(*ban)).SendTo(&context);
    return;
  }
  if (LoginThrottle().CharaLocked(tc->FName, now)) {
    metrics::CountLogin("locked");
    SResultPacket(kResultWrongPassword, kTextTooManyFailures).SendTo(&context);
    return;
  }
  // The password is verified on a worker (and, when its stored form is outdated, hashed
  // anew); the login finishes on this connection's worker.
  auto work = BeginPending(context);
  std::string stored = tc->Pass;
  RunPasswordJob([this, work, name = tc->FName, password, stored, force] {
    if (work->Cancelled()) return;
    bool ok = VerifyPassword(password, stored);
    std::string rehash = ok && PasswordNeedsRehash(stored) ? HashPassword(password) : std::string();
    work->Complete([this, work, name, ok, stored, rehash, force] {
      EndPending(*work->context);
      FinishLogin(*work->context, name, ok, stored, rehash, force);
      ReplayDeferred(*work->context);
    });
  });
}

void TMultiSession::FinishLogin(TConnection& context, const std::string& name, bool ok,
                                const std::string& stored, const std::string& rehash,
                                uint8_t force) {
  TChara* tc = FindAccount(World, name);
  if (tc == nullptr) {
    metrics::CountLogin("no_such_name");
    SResultPacket(kResultNoSuchName, kTextNoSuchName).SendTo(&context);
    return;
  }
  if (!ok) {
    LoginThrottle().RecordFailure(ServerName(*this), tc->FName, context.PeerIP(), SteadyMs());
    metrics::CountLogin("wrong_password");
    SResultPacket(kResultWrongPassword, kTextWrongPassword).SendTo(&context);
    return;
  }
  // A ban that arrived while the password was checked applies too.
  if (const TBan* ban = CurrentBans()->FindName(tc->FName, std::time(nullptr))) {
    metrics::CountLogin("banned");
    SResultPacket(kResultWrongPassword, BannedText(*ban)).SendTo(&context);
    return;
  }
  // The stored form is upgraded unless it changed meanwhile; the next save writes it.
  if (!rehash.empty() && tc->Pass == stored) tc->Pass = rehash;
  if (tc->LoggedIn()) {
    metrics::CountLogin(force == 1 ? "forced" : "already_connected");
    if (force == 1) {
      // The other connection's own disconnect handling detaches the character once this
      // handler has released the world lock; the client logs in again afterwards.
      if (tc->Conn() != nullptr) tc->Conn()->Close();
    } else {
      SResultPacket(kResultConnected, kTextAlreadyConnected).SendTo(&context);
    }
    return;
  }
  if (Chara() != tc) ReleaseChara(Chara(), context, ServerName(*this));
  SetChara(tc);
  tc->Context.Reset(&context);
  tc->Login = TLoginState::kOnMulti;
  World.ZoneTickets.Issue(tc->FName, context.PeerIP(), TickCount());
  metrics::CountLogin("ok");
  SResultPacket(kResultDone, "").SendTo(&context);
  LogFmt("[%s] キャラクター \"%s\" がログインしました。", ServerName(*this),
         EscapeLogText(tc->FName));
  SServerInfoPacket(ServerAddressFor(context.PeerIP()), ZoneServerPort(), tc->FName)
      .SendTo(&context);
}

void TMultiSession::ChangePassword(TConnection& context) {
  std::string name = ReadShortStr();
  std::string old_password = ReadShortStr();
  std::string new_password = ReadShortStr();
  const std::string ip = context.PeerIP();
  const int64_t now = SteadyMs();
  // A password change is a password guess too: the same limits apply.
  if (LoginThrottle().AddressLocked(ip, now)) {
    SResultPacket(kResultWrongPassword, kTextTooManyFailures).SendTo(&context);
    return;
  }
  TChara* tc = FindAccount(World, name);
  if (tc == nullptr) {
    SResultPacket(kResultNoSuchName, kTextNoSuchName).SendTo(&context);
    return;
  }
  if (LoginThrottle().CharaLocked(tc->FName, now)) {
    SResultPacket(kResultWrongPassword, kTextTooManyFailures).SendTo(&context);
    return;
  }
  auto work = BeginPending(context);
  std::string stored = tc->Pass;
  RunPasswordJob([this, work, name = tc->FName, old_password, new_password, stored] {
    if (work->Cancelled()) return;
    bool ok = VerifyPassword(old_password, stored);
    std::string hash = ok ? HashPassword(new_password) : std::string();
    work->Complete([this, work, name, ok, hash] {
      TConnection& context = *work->context;
      EndPending(context);
      TChara* tc = FindAccount(World, name);
      if (tc == nullptr) {
        SResultPacket(kResultNoSuchName, kTextNoSuchName).SendTo(&context);
      } else if (!ok) {
        LoginThrottle().RecordFailure(ServerName(*this), tc->FName, context.PeerIP(), SteadyMs());
        SResultPacket(kResultWrongPassword, kTextWrongPassword).SendTo(&context);
      } else if (tc->LoggedIn()) {
        // A character in play keeps its password; no answer, as before.
      } else if (hash.empty()) {
        LogFmt("[%s] キャラクター \"%s\" のパスワードを保存形式にできませんでした",
               ServerName(*this), EscapeLogText(tc->FName, 300));
      } else {
        tc->Pass = hash;
        // Written now, so a new password never depends on the next periodic save.
        QueueSaveChara(tc, [server = ServerName(*this), chara = tc->FName](const std::string& error) {
          LogFmt("[%s] キャラクター \"%s\" を保存できませんでした: %s", server, chara, error);
        });
        SResultPacket(kResultDone, kTextPasswordChanged).SendTo(&context);
      }
      ReplayDeferred(context);
    });
  });
}

void TMultiSession::TempData(TConnection& context) {
  uint8_t kind = ReadByte();
  if (kind == 3) {
    STempDataPacket(0).SendTo(&context);
  } else if (kind == 2) {
    ReadByte();
    std::string key = ReadShortStr();
    STempDataPacket(1, key).SendTo(&context);
  }
}

void TMultiSession::ServerList(TConnection& context) {
  uint8_t kind = ReadByte();
  if (kind == 0) {
    ReadByte();
    SServerInfoPacket(ServerAddressFor(context.PeerIP()), MultiServerPort()).SendTo(&context);
  } else if (kind == 1) {
    SServerListPacket(ServerListFor(context.PeerIP())).SendTo(&context);
  }
}

void TMultiSession::WebRequest(TConnection& context) {
  uint8_t kind = ReadByte();
  std::string base = "http://" + ServerAddressFor(context.PeerIP()) + ":" +
                     std::to_string(HttpPort);
  if (kind == 1) {
    SWebPacket(3, base + "/?id=%s&pw=%s&mainCode=10&subCode=20").SendTo(&context);
  } else if (kind == 4) {
    SWebPacket(7, base + "/?id=%s&mainCode=main&subCode=sub").SendTo(&context);
  }
}

void TMultiSession::Script(TConnection& context) {
  uint8_t kind = ReadByte();
  if (kind == 0) {
    std::string name = ReadShortStr();
    auto it = ScriptFiles.find(name);
    SScriptDataPacket(name, it != ScriptFiles.end() ? &it->second : nullptr).SendTo(&context);
  } else if (kind == 3) {
    SScriptListPacket(ScriptList).SendTo(&context);
  }
}

}  // namespace vornhal
