#include "shell/options.h"

#include "platform/address.h"
#include "platform/files.h"
#include "shell/shell.h"

namespace vornhal {

namespace {
const char kUsage[] =
    "使い方: vornhal [オプション]\n"
    "  --root DIR         INIファイルとVornhalData/を実行ファイルのフォルダではなくDIRに置く\n"
    "  --local-ip ADDR    ローカルIPアドレスを検出せずADDRを使う\n"
    "  --global-ip ADDR   グローバルIPアドレスを検出せずADDRを使う\n"
    "  --no-upnp          UPnPによるポートの転送を行わない\n"
    "  --offline          --local-ip 127.0.0.1 --global-ip 127.0.0.1 --no-upnp と同じ\n"
    "  --help             この説明を表示する\n"
    "  --version          版を表示する\n";

TParsedCommandLine Refuse(const std::string& reason) {
  TParsedCommandLine r;
  r.exit_code = 2;
  r.output = "vornhal: " + reason + "\n" + kUsage;
  return r;
}
}  // namespace

TParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  TParsedCommandLine r;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::string value;
    bool has_value = false;
    if (size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      has_value = true;
    }
    auto take_value = [&]() -> bool {
      if (has_value) return true;
      if (i + 1 >= args.size()) return false;
      value = args[++i];
      return true;
    };
    if (arg == "--help" && !has_value) {
      r.output = kUsage;
      return r;
    }
    if (arg == "--version" && !has_value) {
      r.output = std::string(kVersionText) + "\n";
      return r;
    }
    if (arg == "--no-upnp" && !has_value) {
      r.options.no_upnp = true;
    } else if (arg == "--offline" && !has_value) {
      r.options.local_ip = "127.0.0.1";
      r.options.global_ip = "127.0.0.1";
      r.options.no_upnp = true;
    } else if (arg == "--root") {
      if (!take_value() || value.empty()) return Refuse("--root にはフォルダを指定してください");
      if (!DirectoryExists(value)) return Refuse("--root のフォルダがありません: " + value);
      r.options.root = value;
    } else if (arg == "--local-ip" || arg == "--global-ip") {
      if (!take_value()) return Refuse(arg + " にはアドレスを指定してください");
      if (!IsDottedQuad(value)) return Refuse(arg + " のアドレスが正しくありません: " + value);
      (arg == "--local-ip" ? r.options.local_ip : r.options.global_ip) = value;
    } else {
      return Refuse("不明なオプション: " + args[i]);
    }
  }
  r.run = true;
  return r;
}

}  // namespace vornhal
