// The Multi server and its session: version check, data blocks, accounts and login.
#include "login/multi.h"

#include <exception>
#include <future>
#include <string>

#include "data/chara_store.h"
#include "data/common.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/settings.h"
#include "platform/world_lock.h"
#include "world/globals.h"
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

// Releases a character whose Context is this connection: clears Login and Context and queues
// its save, so no character is left naming a connection that goes away. Nothing waits for the
// file: the writer reports a failure itself.
void ReleaseChara(TChara* tc, TConnection& context, const std::string& server_name) {
  if (tc == nullptr || tc->Context.get() != &context) return;
  tc->Login = false;
  tc->Context.reset();
  QueueReleaseChara(tc, [server_name, name = tc->FName](const std::string& error) {
    LogFmt("[%s] キャラクター \"%s\" を保存できませんでした: %s", server_name, name, error);
  });
}

}  // namespace

std::unique_ptr<TSession> TMultiServer::CreateSession() {
  return std::make_unique<TMultiSession>(this);
}

void TMultiServer::DoConnect(TConnection& context) {
  TServer::DoConnect(context);
  TWorldGuard guard;
  SGreetingPacket().SendTo(&context);
}

void TMultiServer::DoDisconnect(TConnection& context) {
  {
    TWorldGuard guard;
    TSession* session = context.Data;
    TChara* tc = session != nullptr ? session->Chara() : nullptr;
    // A character that has meanwhile entered the world on the Zone server belongs to that
    // connection now and is left alone. The save writer writes the file and logs a failure.
    ReleaseChara(tc, context, Name());
    if (session != nullptr) session->SetChara(nullptr);
  }
  TServer::DoDisconnect(context);
}

void TMultiSession::ParsePacket(TConnection& context, uint8_t packet_id) {
  switch (packet_id) {
    case 0: {  // CVersionPacket
      uint16_t version = ReadWord();
      SVersionResultPacket(version >= kLowestClientVersion ? 0 : 2, context.PeerIP())
          .SendTo(&context);
      break;
    }
    case 2:
      CreateAccount(context);
      break;
    case 3:
      LoginChara(context);
      break;
    case 4:
      SetAppearance(context);
      break;
    case 15:
      TempData(context);
      break;
    case 16:  // CRuleCheckPacket
      ReadByte();
      ReadShortStr();
      SRulePacket(0).SendTo(&context);
      break;
    case 38:
      ChangePassword(context);
      break;
    case 75:  // CRuleRequestPacket
      SRulePacket(1).SendTo(&context);
      break;
    case 87:
      ServerList(context);
      break;
    case 104:
      WebRequest(context);
      break;
    case 108:
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
  if (AccountLimit && AccountLimitValue <= 0) {
    SResultPacket(kResultNotCreated, kTextCannotCreate).SendTo(&context);
    return;
  }
  if (!IsUsableAccountName(name)) {
    SResultPacket(kResultNotCreated, kTextBadName).SendTo(&context);
    return;
  }
  TChara* tc = nullptr;
  if (!CharaList->CreateChara(name, PasswordDigest(password), tc)) {
    SResultPacket(kResultNotCreated, kTextNameTaken).SendTo(&context);
    return;
  }
  tc->RealName = real_name;
  tc->MailAddr = mail_addr;
  ReleaseChara(Chara(), context, ServerName(*this));
  SetChara(tc);
  tc->Context = ContextHandle(context);
  SResultPacket(kResultDone, "").SendTo(&context);
  if (AccountLimit) --AccountLimitValue;
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
  TChara* tc = nullptr;
  if (!CharaList->TryGetValue(name, tc)) {
    SResultPacket(kResultNoSuchName, kTextNoSuchName).SendTo(&context);
    return;
  }
  if (!SameDigest(PasswordDigest(password), tc->Pass)) {
    SResultPacket(kResultWrongPassword, kTextWrongPassword).SendTo(&context);
    return;
  }
  if (tc->Login) {
    if (force == 1) {
      // The other connection's own disconnect handling detaches the character once this
      // handler has released the world lock; the client logs in again afterwards.
      if (tc->Context) tc->Context->Close();
    } else {
      SResultPacket(kResultConnected, kTextAlreadyConnected).SendTo(&context);
    }
    return;
  }
  if (Chara() != tc) ReleaseChara(Chara(), context, ServerName(*this));
  SetChara(tc);
  tc->Context = ContextHandle(context);
  tc->Login = true;
  IssueZoneTicket(tc->FName, context.PeerIP(), TickCount());
  SResultPacket(kResultDone, "").SendTo(&context);
  LogFmt("[%s] キャラクター \"%s\" がログインしました。", ServerName(*this), tc->FName);
  SServerInfoPacket(ServerAddressFor(context.PeerIP()), ZoneServerPort(), tc->FName)
      .SendTo(&context);
}

void TMultiSession::ChangePassword(TConnection& context) {
  std::string name = ReadShortStr();
  std::string old_password = ReadShortStr();
  std::string new_password = ReadShortStr();
  TChara* tc = nullptr;
  if (!CharaList->TryGetValue(name, tc)) {
    SResultPacket(kResultNoSuchName, kTextNoSuchName).SendTo(&context);
    return;
  }
  if (!SameDigest(PasswordDigest(old_password), tc->Pass)) {
    SResultPacket(kResultWrongPassword, kTextWrongPassword).SendTo(&context);
    return;
  }
  if (tc->Login) return;
  tc->Pass = PasswordDigest(new_password);
  SResultPacket(kResultDone, kTextPasswordChanged).SendTo(&context);
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
