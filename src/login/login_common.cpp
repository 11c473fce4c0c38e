// Addresses, password digests, account names, zone login tickets and the server lists.
#include <openssl/evp.h>

#include <ctime>
#include <stdexcept>
#include <unordered_map>

#include "data/chara_store.h"
#include "login/multi.h"
#include "net/wire.h"
#include "platform/clock.h"
#include "platform/format.h"
#include "platform/settings.h"
#include "platform/text.h"

namespace vornhal {

TZLibData ServerListGlobal;
TZLibData ServerListLocal;
TZLibData ServerListLoopback;

bool ParseIPv4(std::string_view text, uint8_t octets[4]) {
  size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
    size_t start = pos;
    unsigned value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 3) {
      value = value * 10 + static_cast<unsigned>(text[pos] - '0');
      ++pos;
    }
    if (pos == start || value > 255) return false;
    octets[i] = static_cast<uint8_t>(value);
  }
  return pos == text.size();
}

bool IsPrivateAddress(std::string_view ip) {
  uint8_t o[4];
  if (!ParseIPv4(ip, o)) return false;
  return o[0] == 10 || (o[0] == 172 && (o[1] & 0xF0) == 16) || (o[0] == 192 && o[1] == 168);
}

std::string ServerAddressFor(std::string_view peer_ip) {
  if (peer_ip == "127.0.0.1") return "127.0.0.1";
  if (IsPrivateAddress(peer_ip)) return LocalIP;
  return GlobalIP;
}

const TZLibData& ServerListFor(std::string_view peer_ip) {
  if (peer_ip == "127.0.0.1") return ServerListLoopback;
  if (IsPrivateAddress(peer_ip)) return ServerListLocal;
  return ServerListGlobal;
}

uint32_t IPToAddr(std::string_view ip) {
  uint8_t o[4];
  if (!ParseIPv4(ip, o)) return 0xFFFFFFFFu;
  return (uint32_t{o[3]} << 24) | (uint32_t{o[2]} << 16) | (uint32_t{o[1]} << 8) | o[0];
}

std::string PasswordDigest(std::string_view password) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int md_len = 0;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  if (ctx == nullptr) throw std::runtime_error("SHA-1: no digest context");
  bool ok = EVP_DigestInit_ex(ctx, EVP_sha1(), nullptr) == 1 &&
            EVP_DigestUpdate(ctx, password.data(), password.size()) == 1 &&
            EVP_DigestFinal_ex(ctx, md, &md_len) == 1;
  EVP_MD_CTX_free(ctx);
  if (!ok) throw std::runtime_error("SHA-1 digest failed");
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(md_len * 2);
  for (unsigned int i = 0; i < md_len; ++i) {
    out.push_back(kHex[md[i] >> 4]);
    out.push_back(kHex[md[i] & 15]);
  }
  return out;
}

bool SameDigest(std::string_view a, std::string_view b) { return EqualsIgnoreAsciiCase(a, b); }

bool IsUsableAccountName(std::string_view name) {
  if (name == "." || name == "..") return false;  // not a file name of their own
  for (char ch : name) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 0x20) return false;
    switch (c) {
      case '"': case '*': case '/': case ':': case '<': case '>': case '?': case '\\': case '|':
        return false;
      default:
        break;
    }
  }
  // The save file "<name>.json" and its temporary file both must fit 255 bytes.
  return name.size() <= kMaxCharaNameBytes;
}

uint16_t MultiServerPort() { return MultiServer != nullptr ? MultiServer->Port() : MultiPort; }
uint16_t ZoneServerPort() { return ZoneServer != nullptr ? ZoneServer->Port() : ZonePort; }

std::string ServerListDate() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return Format("%d年%d月%d日", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

std::string ServerListBytes(std::string_view address, uint16_t port, std::string_view date) {
  TWireWriter w;
  w.U8(1);  // entry count
  w.U8(0);  // entry index
  w.U32(IPToAddr(address));
  w.U16(port);
  w.U8(0);  // entry index again
  w.U8(0);
  w.Str8("テストサーバー");
  w.Str8("1ST_SERVER");
  w.Str8(date);
  return w.Text();
}

void BuildServerLists() {
  const std::string date = ServerListDate();
  const uint16_t port = MultiServerPort();
  ServerListGlobal = MakeZLibData(ServerListBytes(GlobalIP, port, date));
  ServerListLocal = MakeZLibData(ServerListBytes(LocalIP, port, date));
  ServerListLoopback = MakeZLibData(ServerListBytes("127.0.0.1", port, date));
}

}  // namespace vornhal
