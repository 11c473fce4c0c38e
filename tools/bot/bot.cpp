// vornhal-bot: a load client that drives many game connections from one process.
//
// Every client logs in through the Multi server (greeting, version, optional account creation,
// login, server info), closes that connection, enters the world on the Zone server and then
// acts by mode:
//   step-rtt  closed loop: one step, wait for its acknowledgement, the next step;
//   crowd     every client steps east/west at --rate; a step is measured until every other
//             client has seen it (its SCharaMovePacket) and its own acknowledgement came back;
//   idle      stays connected and does nothing;
//   walk      random steps, turns and now and then a chat line at --rate.
// The report on stdout has one figure per line and then one JSON line. Every packet the bot
// expects and does not get is counted as missing.
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include <asio.hpp>

#include "bot/options.h"
#include "bot/stats.h"
#include "net/packet.h"
#include "platform/text.h"

namespace vornhal::bot {
namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

constexpr uint16_t kClientVersion = 2850;

using SId = TServerPacketId;
using MultiId = TMultiClientPacketId;
using ZoneId = TZoneClientPacketId;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A client packet: id and payload; Frame gives the whole frame, marker, length, id, seed byte
// unless the id goes without, and the scrambled payload.
class Out {
 public:
  explicit Out(MultiId id) : id_(IdByte(id)) {}
  explicit Out(ZoneId id) : id_(IdByte(id)) {}
  Out& U8(uint8_t v) { p_.U8(v); return *this; }
  Out& U16(uint16_t v) { p_.U16(v); return *this; }
  Out& Str8(std::string_view utf8) { p_.Str8(utf8); return *this; }
  std::vector<uint8_t> Frame(uint8_t seed) const {
    const std::vector<uint8_t>& payload = p_.Data();
    bool seeded = !ClientIdWithoutSeed(id_);
    size_t body = 1 + (seeded ? 1 : 0) + payload.size();
    TWireWriter f;
    f.Data().reserve(3 + body);
    f.U8(0xAA).U16(static_cast<uint16_t>(body)).U8(id_);
    if (seeded) f.U8(seed);
    size_t start = f.Size();
    f.Bytes(payload);
    if (seeded) Scramble(f.Data().data() + start, payload.size(), seed);
    return f.Data();
  }

 private:
  uint8_t id_;
  TWireWriter p_;
};

enum class Phase { MultiGreeting, MultiVersion, MultiCreate, MultiLogin, MultiInfo, ZoneEnter,
                   InWorld, Failed };

class Driver;

struct StepRecord {
  TimePoint sent;
  int remaining;  // neighbour moves plus the own acknowledgement still to come
};

struct PendingAck {
  uint8_t seq;
  TimePoint sent;
};

class Bot : public std::enable_shared_from_this<Bot> {
 public:
  Bot(Driver& d, int index, std::string name);
  void Start();
  void Close();
  void Send(const Out& packet);

  int index;
  std::string name;
  Phase phase = Phase::MultiGreeting;
  uint32_t object_id = 0;
  uint16_t x = 0, y = 0, home_x = 0, home_y = 0;
  uint8_t seq = 0;
  uint8_t seed = 0;
  uint8_t next_dir = 1;  // east, then west, then east...
  bool entered = false;
  int login_got = 0;  // packets of the login and entering sequence received so far

  // step-rtt: the one step in flight.
  bool waiting = false;
  uint8_t waiting_seq = 0;
  TimePoint waiting_since;
  // crowd / walk: acknowledgements in flight, oldest first.
  std::deque<PendingAck> acks;
  // crowd: this bot's steps not yet seen by everyone; first_step is the index of steps.front().
  std::deque<StepRecord> steps;
  uint64_t first_step = 0;
  uint64_t steps_sent = 0;
  // crowd: per mover (by bot index), how many of its moves this bot has received.
  std::vector<uint64_t> moves_seen;

  tcp::socket socket;
  asio::steady_timer timer;

 private:
  void Connect(uint16_t port);
  void Read();
  void WriteNext();
  void OnFrame(TServerPacketId id, const uint8_t* payload, size_t size);
  void Handle(TServerPacketId id, TWireReader& r);
  void Fail(const char* why);

  Driver& d_;
  std::array<uint8_t, 4096> chunk_{};
  std::vector<uint8_t> in_;
  std::deque<std::vector<uint8_t>> out_;
  bool writing_ = false;
  bool closed_ = false;
  int gen_ = 0;  // bumped when the Multi socket is swapped for the Zone one
};

class Driver {
 public:
  explicit Driver(const Options& o) : opt(o), rng(o.seed) {}

  int Run();

  // Called by bots.
  void Entered(Bot& b);
  void LoginDone(Bot& b, bool ok);
  void OnAck(Bot& b, uint16_t x, uint16_t y, uint8_t seq);
  void OnCharaMove(Bot& receiver, uint32_t mover_id);
  void Missing(uint64_t n = 1) { missing += n; }
  void Expect(uint64_t n = 1) { expected += n; }
  bool Measuring() const { return measuring; }

  const Options& opt;
  asio::io_context io;
  tcp::endpoint multi_ep, zone_ep;
  std::mt19937_64 rng;
  uint64_t expected = 0;
  uint64_t missing = 0;
  uint64_t unexpected = 0;
  uint64_t late = 0;
  uint64_t operations = 0;
  uint64_t delivered = 0;  // expected packets of the measurement that arrived
  // Every frame any server sent, before every client entered and after (whatever its kind).
  uint64_t frames_login = 0;
  uint64_t frames_measured = 0;
  void CountFrame() { ++(measuring ? frames_measured : frames_login); }
  std::vector<double> latencies;

 private:
  void LaunchMore();
  void BeginMode();
  void StepRtt(Bot& b);
  void Schedule(const std::shared_ptr<Bot>& b, TimePoint at);
  void TimedAction(Bot& b);
  void Sweep();
  void Finish();
  void Report(double seconds);

  std::vector<std::shared_ptr<Bot>> bots_;
  std::unordered_map<uint32_t, int> by_object_;
  int launched_ = 0;
  int in_login_ = 0;
  int logins_done_ = 0;
  int established_ = 0;
  bool measuring = false;
  bool stopping_ = false;
  TimePoint start_, end_, login_start_;
  std::unique_ptr<asio::steady_timer> sweep_;
  std::unique_ptr<asio::steady_timer> login_deadline_;
  std::unique_ptr<asio::steady_timer> end_timer_;
  asio::signal_set* signals_ = nullptr;
};

Bot::Bot(Driver& d, int i, std::string n)
    : index(i), name(std::move(n)), socket(d.io), timer(d.io), d_(d) {}

void Bot::Start() { Connect(0); }

void Bot::Connect(uint16_t which) {
  auto self = shared_from_this();
  const tcp::endpoint& ep = which == 0 ? d_.multi_ep : d_.zone_ep;
  socket.async_connect(ep, [this, self](const asio::error_code& ec) {
    if (ec) return Fail("connect");
    socket.set_option(tcp::no_delay(true));
    Read();
    if (phase == Phase::ZoneEnter) {
      Send(Out(ZoneId::kZoneLogin).U8(0).Str8("").Str8(name));
    }
  });
}

void Bot::Fail(const char* why) {
  if (phase == Phase::Failed || closed_) return;
  if (d_.opt.verbose) std::cerr << name << ": failed (" << why << ")\n";
  Phase was = phase;
  phase = Phase::Failed;
  Close();
  if (was != Phase::InWorld) d_.LoginDone(*this, false);
}

void Bot::Close() {
  closed_ = true;
  asio::error_code ec;
  socket.shutdown(tcp::socket::shutdown_both, ec);
  socket.close(ec);
  timer.cancel();
}

void Bot::Send(const Out& packet) {
  if (closed_) return;
  out_.push_back(packet.Frame(seed++));
  if (!writing_) WriteNext();
}

void Bot::WriteNext() {
  if (out_.empty() || closed_) {
    writing_ = false;
    return;
  }
  writing_ = true;
  auto self = shared_from_this();
  asio::async_write(socket, asio::buffer(out_.front()),
                    [this, self, gen = gen_](const asio::error_code& ec, size_t) {
                      if (gen != gen_) return;
                      if (ec) {
                        writing_ = false;
                        if (!closed_) Fail("write");
                        return;
                      }
                      out_.pop_front();
                      WriteNext();
                    });
}

void Bot::Read() {
  auto self = shared_from_this();
  socket.async_read_some(asio::buffer(chunk_), [this, self, gen = gen_](const asio::error_code& ec,
                                                                       size_t n) {
    if (closed_ || gen != gen_) return;
    if (ec) return Fail("read");
    in_.insert(in_.end(), chunk_.begin(), chunk_.begin() + static_cast<long>(n));
    size_t pos = 0;
    while (in_.size() - pos >= 3) {
      if (in_[pos] != 0xAA) return Fail("bad marker");
      size_t body = TWireReader(in_.data() + pos + 1, 2).U16();
      if (in_.size() - pos < 3 + body) break;
      uint8_t* b = in_.data() + pos + 3;
      pos += 3 + body;
      if (body == 0) return Fail("empty body");
      d_.CountFrame();
      const auto id = static_cast<TServerPacketId>(b[0]);
      int before = gen_;
      if (ServerIdWithoutSeed(b[0])) {
        OnFrame(id, b + 1, body - 1);
      } else if (body >= 2) {
        Scramble(b + 2, body - 2, b[1]);
        OnFrame(id, b + 2, body - 2);
      } else {
        OnFrame(id, b + 1, 0);
      }
      // Closed, or switched over to the Zone server (which emptied the buffer).
      if (closed_ || before != gen_) return;
    }
    in_.erase(in_.begin(), in_.begin() + static_cast<long>(pos));
    Read();
  });
}

void Bot::OnFrame(TServerPacketId id, const uint8_t* payload, size_t size) {
  TWireReader r(payload, size);
  try {
    Handle(id, r);
  } catch (const ReadPastEndError&) {
    // A short answer on the way in fails the bot; a short report in the world is passed over.
    if (phase != Phase::InWorld) Fail("short packet");
  }
}

void Bot::Handle(TServerPacketId id, TWireReader& r) {
  switch (phase) {
    case Phase::MultiGreeting:
      if (id != SId::kGreeting) return Fail("no greeting");
      ++login_got;
      phase = Phase::MultiVersion;
      Send(Out(MultiId::kVersion).U16(kClientVersion));
      return;
    case Phase::MultiVersion:
      if (id != SId::kVersionResult) return;
      ++login_got;
      if (r.U8() != 0) return Fail("version refused");
      if (d_.opt.create) {
        phase = Phase::MultiCreate;
        Send(Out(MultiId::kCreateAccount).Str8(name).Str8(d_.opt.password).Str8(name).Str8("bot@localhost"));
      } else {
        phase = Phase::MultiLogin;
        Send(Out(MultiId::kLogin).Str8(name).Str8(d_.opt.password).U8(0));
      }
      return;
    case Phase::MultiCreate: {
      if (id != SId::kResult) return;
      ++login_got;
      uint8_t code = r.U8();
      // Code 4 for a name already taken lets a second run with --create reuse the accounts.
      if (code != 0 && code != 4) return Fail("create refused");
      phase = Phase::MultiLogin;
      Send(Out(MultiId::kLogin).Str8(name).Str8(d_.opt.password).U8(0));
      return;
    }
    case Phase::MultiLogin:
      if (id != SId::kResult) return;
      ++login_got;
      if (r.U8() != 0) return Fail("login refused");
      phase = Phase::MultiInfo;
      return;
    case Phase::MultiInfo: {
      if (id != SId::kServerInfo) return;
      ++login_got;
      phase = Phase::ZoneEnter;
      asio::error_code ec;
      socket.shutdown(tcp::socket::shutdown_both, ec);
      socket.close(ec);
      in_.clear();
      out_.clear();
      writing_ = false;
      ++gen_;
      socket = tcp::socket(d_.io);
      Connect(1);
      return;
    }
    case Phase::ZoneEnter:
      if (id == SId::kPlayerInfo) {
        object_id = r.U32();
      } else if (id == SId::kPlayerPosition) {
        x = home_x = r.U16();
        y = home_y = r.U16();
      } else if (id == SId::kEnterEnd) {
        ++login_got;
        phase = Phase::InWorld;
        entered = true;
        d_.Entered(*this);
      }
      return;
    case Phase::InWorld:
      if (id == SId::kMoveAck) {
        uint16_t ax = r.U16();
        uint16_t ay = r.U16();
        uint8_t s = r.U8();
        d_.OnAck(*this, ax, ay, s);
      } else if (id == SId::kCharaMove) {
        uint32_t mover = r.U32();
        d_.OnCharaMove(*this, mover);
      }
      return;
    case Phase::Failed:
      return;
  }
}

int Driver::Run() {
  asio::error_code ec;
  auto addr = asio::ip::make_address(opt.host, ec);
  if (ec) {
    std::cerr << "bad host address: " << opt.host << "\n";
    return 2;
  }
  multi_ep = tcp::endpoint(addr, opt.multi_port);
  zone_ep = tcp::endpoint(addr, opt.zone_port);
  for (int i = 0; i < opt.clients; ++i) {
    bots_.push_back(std::make_shared<Bot>(*this, i, opt.prefix + std::to_string(opt.first + i)));
  }
  asio::signal_set signals(io, SIGINT, SIGTERM);
  signals_ = &signals;
  signals.async_wait([this](const asio::error_code& e, int) {
    if (!e) Finish();
  });
  login_start_ = Clock::now();
  login_deadline_ = std::make_unique<asio::steady_timer>(io, std::chrono::seconds(opt.login_timeout));
  login_deadline_->async_wait([this](const asio::error_code& e) {
    if (e || measuring || stopping_) return;
    // Whoever has not entered by now is left out of the measurement.
    for (auto& b : bots_) {
      if (!b->entered && b->phase != Phase::Failed) {
        b->phase = Phase::Failed;
        b->Close();
        ++logins_done_;
      }
    }
    BeginMode();
  });
  LaunchMore();
  io.run();
  return 0;
}

void Driver::LaunchMore() {
  while (launched_ < opt.clients && in_login_ < opt.concurrency) {
    ++in_login_;
    bots_[static_cast<size_t>(launched_++)]->Start();
  }
}

void Driver::LoginDone(Bot&, bool ok) {
  if (measuring || stopping_) return;
  --in_login_;
  ++logins_done_;
  if (ok) ++established_;
  if (logins_done_ == opt.clients) {
    BeginMode();
  } else {
    LaunchMore();
  }
}

void Driver::Entered(Bot& b) {
  by_object_[b.object_id] = b.index;
  LoginDone(b, true);
}

void Driver::BeginMode() {
  if (measuring || stopping_) return;
  login_deadline_->cancel();
  double login_s = Ms(Clock::now() - login_start_) / 1000.0;
  std::printf("entered: %d of %d clients in %.2f s\n", established_, opt.clients, login_s);
  std::fflush(stdout);
  measuring = true;
  start_ = Clock::now();
  end_ = start_ + std::chrono::milliseconds(static_cast<int64_t>(opt.duration * 1000));
  for (auto& b : bots_) {
    if (b->entered) b->moves_seen.assign(opt.mode == Mode::Crowd ? bots_.size() : 0, 0);
  }
  if (opt.mode == Mode::StepRtt) {
    for (auto& b : bots_) if (b->entered) StepRtt(*b);
  } else if (opt.mode == Mode::Crowd || opt.mode == Mode::Walk) {
    double period_ms = 1000.0 / opt.rate;
    std::uniform_real_distribution<double> offset(0.0, period_ms);
    for (auto& b : bots_) {
      if (!b->entered) continue;
      double at = opt.spread ? offset(rng) : 0.0;
      Schedule(b, start_ + std::chrono::microseconds(static_cast<int64_t>(at * 1000)));
    }
  }
  sweep_ = std::make_unique<asio::steady_timer>(io);
  Sweep();
  end_timer_ = std::make_unique<asio::steady_timer>(io, end_ + std::chrono::milliseconds(
                                                              static_cast<int64_t>(opt.drain * 1000)));
  end_timer_->async_wait([this](const asio::error_code& e) {
    if (!e) Finish();
  });
}

void Driver::StepRtt(Bot& b) {
  if (Clock::now() >= end_ || stopping_) return;
  b.waiting = true;
  b.waiting_seq = b.seq;
  b.waiting_since = Clock::now();
  ++expected;
  b.Send(Out(ZoneId::kMove).U8(b.next_dir).U8(b.seq++).U8(0));
  b.next_dir = b.next_dir == 1 ? 3 : 1;
}

void Driver::Schedule(const std::shared_ptr<Bot>& b, TimePoint at) {
  if (at >= end_ || stopping_) return;
  b->timer.expires_at(at);
  b->timer.async_wait([this, b, at](const asio::error_code& e) {
    if (e || stopping_ || b->phase == Phase::Failed) return;
    TimedAction(*b);
    Schedule(b, at + std::chrono::microseconds(static_cast<int64_t>(1e6 / opt.rate)));
  });
}

void Driver::TimedAction(Bot& b) {
  TimePoint now = Clock::now();
  if (opt.mode == Mode::Crowd) {
    int neighbours = 0;
    for (auto& o : bots_) if (o->entered && o->phase != Phase::Failed && o.get() != &b) ++neighbours;
    b.steps.push_back(StepRecord{now, neighbours + 1});
    ++b.steps_sent;
    expected += static_cast<uint64_t>(neighbours) + 1;
    b.acks.push_back(PendingAck{b.seq, now});
    b.Send(Out(ZoneId::kMove).U8(b.next_dir).U8(b.seq++).U8(0));
    b.next_dir = b.next_dir == 1 ? 3 : 1;
    return;
  }
  // walk: mostly steps, some turns, now and then a chat line; steps lean back towards home
  // once the bot is more than 6 cells away so it never wanders off the map.
  int roll = static_cast<int>(rng() % 100);
  if (roll < 75) {
    uint8_t dir = static_cast<uint8_t>(rng() % 8);
    int dx = int(b.x) - int(b.home_x), dy = int(b.y) - int(b.home_y);
    if (std::abs(dx) > 6) dir = dx > 0 ? 3 : 1;
    else if (std::abs(dy) > 6) dir = dy > 0 ? 0 : 2;
    b.acks.push_back(PendingAck{b.seq, now});
    ++expected;
    b.Send(Out(ZoneId::kMove).U8(dir).U8(b.seq++).U8(0));
  } else if (roll < 95) {
    b.Send(Out(ZoneId::kDirection).U8(static_cast<uint8_t>(rng() % 8)));
    ++operations;
  } else {
    b.Send(Out(ZoneId::kChat).U8(0).Str8("hello from " + b.name));
    ++operations;
  }
}

void Driver::OnAck(Bot& b, uint16_t x, uint16_t y, uint8_t seq) {
  if (!measuring) return;
  TimePoint now = Clock::now();
  b.x = x;
  b.y = y;
  if (opt.mode == Mode::StepRtt) {
    if (!b.waiting || seq != uint8_t(b.waiting_seq + 128)) {
      ++late;  // the answer to a step already given up
      return;
    }
    b.waiting = false;
    ++delivered;
    double ms = Ms(now - b.waiting_since);
    latencies.push_back(ms);
    if (opt.stall_ms > 0 && ms >= opt.stall_ms) {
      std::fprintf(stderr, "stall %.3f %.3f\n",
                   std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count(),
                   ms);
    }
    ++operations;
    if (opt.think_ms > 0) {
      // A pause before the next step keeps long runs light while still sampling often.
      auto self = bots_[static_cast<size_t>(b.index)];
      b.timer.expires_after(std::chrono::microseconds(static_cast<int64_t>(opt.think_ms * 1000)));
      b.timer.async_wait([this, self](const asio::error_code& e) {
        if (!e && self->phase != Phase::Failed) StepRtt(*self);
      });
    } else {
      StepRtt(b);
    }
    return;
  }
  // Acknowledgements come in order; older ones missing from the front were lost.
  // (In crowd mode the lost one stays counted in its step's remaining packets.)
  while (!b.acks.empty() && uint8_t(b.acks.front().seq + 128) != seq) {
    b.acks.pop_front();
    if (opt.mode == Mode::Walk) ++missing;
  }
  if (b.acks.empty()) {
    ++unexpected;
    return;
  }
  TimePoint sent = b.acks.front().sent;
  b.acks.pop_front();
  ++delivered;
  if (opt.mode == Mode::Walk) {
    latencies.push_back(Ms(now - sent));
    ++operations;
    return;
  }
  // crowd: the acknowledgement is one of the packets the oldest open step waits for.
  for (auto& st : b.steps) {
    if (st.sent == sent) {
      if (--st.remaining == 0) latencies.push_back(Ms(now - st.sent));
      break;
    }
  }
  while (!b.steps.empty() && b.steps.front().remaining == 0) {
    b.steps.pop_front();
    ++b.first_step;
    ++operations;
  }
}

void Driver::OnCharaMove(Bot& receiver, uint32_t mover_id) {
  if (!measuring || opt.mode != Mode::Crowd) return;
  auto it = by_object_.find(mover_id);
  if (it == by_object_.end() || it->second == receiver.index) return;
  Bot& m = *bots_[static_cast<size_t>(it->second)];
  // The server sends each step of a mover to a neighbour once and in order, so the k-th move
  // of m this receiver sees belongs to m's k-th step.
  uint64_t k = receiver.moves_seen[static_cast<size_t>(m.index)]++;
  if (k < m.first_step || k - m.first_step >= m.steps.size()) {
    ++unexpected;
    return;
  }
  StepRecord& st = m.steps[static_cast<size_t>(k - m.first_step)];
  if (st.remaining <= 0) {
    ++unexpected;
    return;
  }
  ++delivered;
  if (--st.remaining == 0) latencies.push_back(Ms(Clock::now() - st.sent));
  while (!m.steps.empty() && m.steps.front().remaining == 0) {
    m.steps.pop_front();
    ++m.first_step;
    ++operations;
  }
}

void Driver::Sweep() {
  if (stopping_) return;
  if (opt.mode == Mode::StepRtt) {
    TimePoint now = Clock::now();
    auto limit = std::chrono::milliseconds(opt.timeout_ms);
    for (auto& b : bots_) {
      if (b->waiting && now - b->waiting_since > limit) {
        b->waiting = false;
        ++missing;
        StepRtt(*b);
      }
    }
  }
  sweep_->expires_after(std::chrono::milliseconds(10));
  sweep_->async_wait([this](const asio::error_code& e) {
    if (!e) Sweep();
  });
}

void Driver::Finish() {
  if (stopping_) return;
  stopping_ = true;
  TimePoint now = Clock::now();
  double seconds = measuring ? std::min(Ms(now - start_), Ms(end_ - start_)) / 1000.0 : 0.0;
  // The login and entering sequence: greeting, version result, (creation result,) login
  // result, server info, SEnterEndPacket, for every client asked for.
  const int want = opt.create ? 6 : 5;
  for (auto& b : bots_) {
    expected += static_cast<uint64_t>(want);
    missing += static_cast<uint64_t>(std::max(0, want - b->login_got));
    if (opt.mode == Mode::StepRtt && b->waiting) ++missing;  // cut off by the end unanswered
    if (opt.mode == Mode::Walk) missing += b->acks.size();
    if (opt.mode == Mode::Crowd) {
      for (auto& st : b->steps) missing += static_cast<uint64_t>(std::max(0, st.remaining));
    }
  }
  Report(seconds);
  for (auto& b : bots_) b->Close();
  if (sweep_) sweep_->cancel();
  if (end_timer_) end_timer_->cancel();
  if (login_deadline_) login_deadline_->cancel();
  if (signals_) signals_->cancel();
}

void Driver::Report(double seconds) {
  Percentiles p = ComputePercentiles(latencies);
  double ops_s = seconds > 0 ? double(operations) / seconds : 0.0;
  const char* mode = ModeName(opt.mode);
  std::printf("mode: %s\n", mode);
  std::printf("connections: %d of %d\n", established_, opt.clients);
  std::printf("duration_s: %.3f\n", seconds);
  std::printf("operations: %llu\n", static_cast<unsigned long long>(operations));
  std::printf("throughput_ops_per_s: %.1f\n", ops_s);
  std::printf("samples: %zu\n", p.count);
  std::printf("p50_ms: %.3f\n", p.p50);
  std::printf("p99_ms: %.3f\n", p.p99);
  std::printf("p999_ms: %.3f\n", p.p999);
  std::printf("max_ms: %.3f\n", p.max);
  std::printf("delivered_packets: %llu\n", static_cast<unsigned long long>(delivered));
  std::printf("delivered_per_s: %.1f\n", seconds > 0 ? double(delivered) / seconds : 0.0);
  std::printf("expected_packets: %llu\n", static_cast<unsigned long long>(expected));
  std::printf("missing_packets: %llu\n", static_cast<unsigned long long>(missing));
  std::printf("unexpected_packets: %llu\n", static_cast<unsigned long long>(unexpected));
  std::printf("late_acks: %llu\n", static_cast<unsigned long long>(late));
  std::printf("frames_login: %llu\n", static_cast<unsigned long long>(frames_login));
  std::printf("frames_measured: %llu\n", static_cast<unsigned long long>(frames_measured));
  std::printf(
      "{\"mode\":\"%s\",\"clients\":%d,\"connections\":%d,\"duration_s\":%.3f,\"operations\":%llu,"
      "\"throughput_ops_per_s\":%.1f,\"samples\":%zu,\"p50_ms\":%.3f,\"p99_ms\":%.3f,"
      "\"p999_ms\":%.3f,\"max_ms\":%.3f,\"delivered_packets\":%llu,\"delivered_per_s\":%.1f,"
      "\"expected_packets\":%llu,\"missing_packets\":%llu,"
      "\"unexpected_packets\":%llu,\"late_acks\":%llu,\"frames_login\":%llu,"
      "\"frames_measured\":%llu}\n",
      mode, opt.clients, established_, seconds, static_cast<unsigned long long>(operations), ops_s,
      p.count, p.p50, p.p99, p.p999, p.max, static_cast<unsigned long long>(delivered),
      seconds > 0 ? double(delivered) / seconds : 0.0, static_cast<unsigned long long>(expected),
      static_cast<unsigned long long>(missing), static_cast<unsigned long long>(unexpected),
      static_cast<unsigned long long>(late), static_cast<unsigned long long>(frames_login),
      static_cast<unsigned long long>(frames_measured));
  std::fflush(stdout);
}

}  // namespace
}  // namespace vornhal::bot

int main(int argc, char** argv) {
  using namespace vornhal::bot;
  Options opt;
  std::string error;
  if (!ParseOptions(argc, argv, opt, error)) {
    std::fprintf(stderr, "%s\n%s", error.c_str(), Usage());
    return 2;
  }
  if (opt.help) {
    std::fputs(Usage(), stdout);
    return 0;
  }
  Driver driver(opt);
  return driver.Run();
}
