#include "bot/options.h"

#include <cstdlib>
#include <cstring>

namespace vornhal::bot {

const char* ModeName(Mode m) {
  switch (m) {
    case Mode::StepRtt: return "step-rtt";
    case Mode::Crowd: return "crowd";
    case Mode::Idle: return "idle";
    case Mode::Walk: return "walk";
  }
  return "?";
}

const char* Usage() {
  return "usage: vornhal-bot --multi-port P --zone-port Z --clients N\n"
         "                   --mode {step-rtt,crowd,idle,walk} [--duration S] [--rate HZ]\n"
         "                   [--prefix NAME] [--first I] [--password PW] [--create] [--spread]\n"
         "                   [--host ADDR] [--concurrency N] [--timeout-ms MS] [--drain S]\n"
         "                   [--login-timeout S] [--think-ms MS] [--stall-ms MS] [--seed N] [--verbose]\n";
}

namespace {

bool ToDouble(const char* s, double& out) {
  char* end = nullptr;
  out = std::strtod(s, &end);
  return end != s && *end == '\0';
}

bool ToInt(const char* s, long long lo, long long hi, long long& out) {
  char* end = nullptr;
  out = std::strtoll(s, &end, 10);
  return end != s && *end == '\0' && out >= lo && out <= hi;
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options& opt, std::string& error) {
  bool have_multi = false, have_zone = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char*& v) {
      if (i + 1 >= argc) {
        error = "missing value for " + a;
        return false;
      }
      v = argv[++i];
      return true;
    };
    const char* v = nullptr;
    long long n = 0;
    double d = 0;
    auto bad = [&] {
      error = "bad value for " + a + ": " + (v ? v : "");
      return false;
    };
    if (a == "--help" || a == "-h") {
      opt.help = true;
    } else if (a == "--create") {
      opt.create = true;
    } else if (a == "--spread") {
      opt.spread = true;
    } else if (a == "--verbose") {
      opt.verbose = true;
    } else if (a == "--multi-port" || a == "--zone-port") {
      if (!value(v) || !ToInt(v, 1, 65535, n)) return bad();
      (a == "--multi-port" ? opt.multi_port : opt.zone_port) = static_cast<uint16_t>(n);
      (a == "--multi-port" ? have_multi : have_zone) = true;
    } else if (a == "--clients") {
      if (!value(v) || !ToInt(v, 1, 1000000, n)) return bad();
      opt.clients = static_cast<int>(n);
    } else if (a == "--first") {
      if (!value(v) || !ToInt(v, 0, 100000000, n)) return bad();
      opt.first = static_cast<int>(n);
    } else if (a == "--concurrency") {
      if (!value(v) || !ToInt(v, 1, 100000, n)) return bad();
      opt.concurrency = static_cast<int>(n);
    } else if (a == "--timeout-ms") {
      if (!value(v) || !ToInt(v, 1, 3600000, n)) return bad();
      opt.timeout_ms = static_cast<int>(n);
    } else if (a == "--login-timeout") {
      if (!value(v) || !ToInt(v, 1, 86400, n)) return bad();
      opt.login_timeout = static_cast<int>(n);
    } else if (a == "--seed") {
      if (!value(v) || !ToInt(v, 0, INT64_MAX, n)) return bad();
      opt.seed = static_cast<uint64_t>(n);
    } else if (a == "--mode") {
      if (!value(v)) return false;
      if (std::strcmp(v, "step-rtt") == 0) opt.mode = Mode::StepRtt;
      else if (std::strcmp(v, "crowd") == 0) opt.mode = Mode::Crowd;
      else if (std::strcmp(v, "idle") == 0) opt.mode = Mode::Idle;
      else if (std::strcmp(v, "walk") == 0) opt.mode = Mode::Walk;
      else return bad();
    } else if (a == "--duration" || a == "--drain" || a == "--stall-ms" || a == "--think-ms") {
      if (!value(v) || !ToDouble(v, d) || d < 0 || d > 1e7) return bad();
      (a == "--duration" ? opt.duration
       : a == "--drain"  ? opt.drain
       : a == "--think-ms" ? opt.think_ms
                           : opt.stall_ms) = d;
    } else if (a == "--rate") {
      if (!value(v) || !ToDouble(v, d) || d <= 0 || d > 1000) return bad();
      opt.rate = d;
    } else if (a == "--prefix" || a == "--password" || a == "--host") {
      if (!value(v)) return false;
      (a == "--prefix" ? opt.prefix : a == "--password" ? opt.password : opt.host) = v;
    } else {
      error = "unknown option: " + a;
      return false;
    }
  }
  if (opt.help) return true;
  if (!have_multi || !have_zone) {
    error = "--multi-port and --zone-port are required";
    return false;
  }
  return true;
}

}  // namespace vornhal::bot
