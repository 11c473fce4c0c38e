#include "shell/console_commands.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "admin/operations.h"
#include "platform/int_text.h"
#include "platform/log.h"
#include "platform/signals.h"

namespace vornhal {

namespace {

// A longer line is dropped whole, with one log line.
constexpr size_t kMaxLineBytes = 4096;

const char* const kHelpLines[] = {
    "help                                   このコマンド一覧",
    "players                                ワールドにいるキャラクター (名前, マップ, 座標, アドレス, GMレベル)",
    "kick <名前>                            キャラクターを切断して保存",
    "say <テキスト>                         全員にシステムメッセージ",
    "save                                   全キャラクターを今すぐ保存",
    "gm <名前> <レベル>                     GMレベル (AdminLv, 0-255) を設定して保存",
    "ban ip|name <対象> [分] [理由]         BANを追加 (分 0 または省略: 無期限)",
    "unban ip|name <対象>                   BANを解除",
    "stop                                   サーバーを停止 (Ctrl+C と同じ)",
};

void Answer(std::string_view text) { Log(std::string("[Console] ") + std::string(text)); }

std::string Trim(std::string_view s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return std::string(s.substr(b, e - b + 1));
}

// A name given whole, or in double quotes (so that it may hold blanks next to other words).
std::string Unquote(const std::string& s) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
  return s;
}

// Splits off the first word (blank-separated, or a double-quoted run); rest keeps the others.
std::string NextWord(std::string& rest) {
  rest = Trim(rest);
  if (rest.empty()) return "";
  size_t end;
  std::string word;
  if (rest.front() == '"') {
    end = rest.find('"', 1);
    if (end == std::string::npos) {
      word = rest.substr(1);
      rest.clear();
      return word;
    }
    word = rest.substr(1, end - 1);
    ++end;
  } else {
    end = rest.find_first_of(" \t");
    if (end == std::string::npos) end = rest.size();
    word = rest.substr(0, end);
  }
  rest = rest.substr(end);
  return word;
}

bool ParseInt(const std::string& s, long long lo, long long hi, long long& out) {
  auto v = ParseIntText(s, {.min = lo, .max = hi, .plus_sign = false});
  if (!v) return false;
  out = *v;
  return true;
}

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

void DoPlayers() {
  std::vector<admin::TPlayerInfo> players = admin::ListPlayers();
  Answer(Format("ワールドにいるキャラクター: %d人", players.size()));
  for (const auto& p : players) {
    Answer(Format("  %s  マップ %u (%u, %u)  Lv %d  %s  GM %d", EscapeLogText(p.name, 64), p.map, p.x,
                  p.y, p.level, p.address, p.gm_level));
  }
}

void DoKick(TWorld& world, const std::string& rest) {
  std::string name = Unquote(Trim(rest));
  if (name.empty()) {
    Answer("使い方: kick <名前>");
    return;
  }
  if (!admin::KickChara(world, name)) {
    Answer(Format("キャラクター \"%s\" はワールドにいません", EscapeLogText(name, 64)));
    return;
  }
  Answer(Format("キャラクター \"%s\" を切断しました", EscapeLogText(name, 64)));
}

void DoSay(const std::string& rest) {
  std::string text = Trim(rest);
  if (text.empty()) {
    Answer("使い方: say <テキスト>");
    return;
  }
  admin::Broadcast(text);
  Answer(Format("全員に送信しました: %s", EscapeLogText(text, 256)));
}

void DoSave(TWorld& world) {
  admin::TSaveOutcome outcome = admin::SaveAllNow(world);
  if (outcome.failures > 0) {
    Answer(Format("保存: %d キャラ, 失敗 %d", outcome.characters, outcome.failures));
    return;
  }
  Answer(Format("保存: %d キャラ, ロック %d ms", outcome.characters, static_cast<int>(outcome.lock_ms)));
}

void DoGM(TWorld& world, const std::string& rest) {
  std::string args = Trim(rest);
  size_t cut = args.find_last_of(" \t");
  long long level = 0;
  if (cut == std::string::npos || !ParseInt(args.substr(cut + 1), 0, 255, level)) {
    Answer("使い方: gm <名前> <レベル 0-255>");
    return;
  }
  std::string name = Unquote(Trim(args.substr(0, cut)));
  std::string error;
  switch (admin::SetGMLevel(world, name, static_cast<uint8_t>(level), &error)) {
    case admin::TGMResult::UnknownChara:
      Answer(Format("キャラクター \"%s\" は存在しません", EscapeLogText(name, 64)));
      return;
    case admin::TGMResult::SaveFailed:
      Answer(Format("キャラクター \"%s\" を保存できませんでした: %s", EscapeLogText(name, 64), error));
      return;
    case admin::TGMResult::Ok:
      Answer(Format("キャラクター \"%s\" のGMレベルを%dにしました", EscapeLogText(name, 64),
                    static_cast<int>(level)));
      return;
  }
}

// ban ip|name <target> [minutes] [reason] / unban ip|name <target>
void DoBan(TWorld& world, std::string rest, bool add) {
  const char* usage = add ? "使い方: ban ip|name <対象> [分] [理由]" : "使い方: unban ip|name <対象>";
  std::string kind = Lower(NextWord(rest));
  std::string target = NextWord(rest);
  admin::TJson body{{"kind", kind}, {"target", target}};
  if (add) {
    std::string minutes_word = NextWord(rest);
    long long minutes = 0;
    if (!minutes_word.empty()) {
      if (!ParseInt(minutes_word, 0, 100000000, minutes)) {
        Answer(usage);
        return;
      }
      body["minutes"] = minutes;
    }
    body["reason"] = Trim(rest);
  } else if (!Trim(rest).empty()) {
    Answer(usage);
    return;
  }
  admin::TBanRequest ban;
  std::string error;
  if (!admin::ParseBanRequest(body, add, &ban, &error)) {
    Answer(usage);
    return;
  }
  if (add) {
    if (admin::UnknownBanName(world, ban)) {
      Answer(Format("キャラクター \"%s\" は存在しません", EscapeLogText(ban.target, 64)));
      return;
    }
    error = admin::AddBanNow(world, ban);
    if (!error.empty()) {
      Answer(Format("BANできませんでした: %s", error));
      return;
    }
    Answer(admin::DescribeBan(ban, true));
    return;
  }
  if (!admin::RemoveBanNow(world, ban)) {
    Answer(Format("BANはありません: %s \"%s\"", ban.address ? "ip" : "name", EscapeLogText(ban.target, 64)));
    return;
  }
  Answer(admin::DescribeBan(ban, false));
}

}  // namespace

void RunConsoleCommand(TWorld& world, const std::string& line) {
  std::string rest = line;
  if (Trim(rest).empty()) return;
  Answer("> " + EscapeLogText(Trim(line), 512));
  std::string command = Lower(NextWord(rest));
  if (command == "help") {
    for (const char* help : kHelpLines) Answer(help);
  } else if (command == "players") {
    DoPlayers();
  } else if (command == "kick") {
    DoKick(world, rest);
  } else if (command == "say") {
    DoSay(rest);
  } else if (command == "save") {
    DoSave(world);
  } else if (command == "gm") {
    DoGM(world, rest);
  } else if (command == "ban") {
    DoBan(world, rest, true);
  } else if (command == "unban") {
    DoBan(world, rest, false);
  } else if (command == "stop") {
    Answer("サーバーを停止します");
    StopRequested = true;
  } else {
    Answer(Format("不明なコマンドです: %s (help で一覧を表示)", EscapeLogText(command, 64)));
  }
}

void TConsoleReader::Start(int fd) {
  if (thread_.joinable()) return;
  // A server started in the background of a terminal would be stopped by the first read;
  // with the signal ignored that read fails and only the reading ends.
  ::signal(SIGTTIN, SIG_IGN);
  stop_ = false;
  thread_ = std::thread([this, fd] { Run(fd); });
}

void TConsoleReader::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void TConsoleReader::Run(int fd) {
  std::string pending;
  bool overlong = false;
  char buf[1024];
  while (!stop_.load()) {
    pollfd p{fd, POLLIN, 0};
    int r = ::poll(&p, 1, 100);
    if (r < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (r == 0) continue;
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      break;
    }
    if (n == 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      char c = buf[i];
      if (c == '\n') {
        if (overlong) {
          Answer(Format("%u バイトを超える行を無視しました", kMaxLineBytes));
        } else {
          if (!pending.empty() && pending.back() == '\r') pending.pop_back();
          RunConsoleCommand(world_, pending);
        }
        pending.clear();
        overlong = false;
        if (stop_.load()) return;
      } else if (!overlong) {
        pending.push_back(c);
        if (pending.size() > kMaxLineBytes) {
          overlong = true;
          pending.clear();
        }
      }
    }
  }
  if (!pending.empty() && !overlong && !stop_.load()) RunConsoleCommand(world_, pending);
  if (!stop_.load()) Answer("標準入力が閉じられたため、コンソールコマンドの受付を終了します");
}

}  // namespace vornhal
