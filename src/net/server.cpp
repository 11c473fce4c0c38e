#include "net/server.h"

#include <sys/socket.h>

#include <asio.hpp>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <future>
#include <list>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <netinet/tcp.h>

#include "admin/metrics.h"
#include "net/admission.h"
#include "net/backlog.h"
#include "net/frame_reader.h"
#include "net/packet.h"
#include "platform/ban_list.h"
#include "platform/log.h"
#include "platform/settings.h"
#include "platform/world_lock.h"

namespace vornhal {

class TAsioConnection;

TServer* MultiServer = nullptr;
TServer* ZoneServer = nullptr;

namespace {

// Unsent bytes above which a connection counts as stalled and is closed, so one client that
// stops reading can never hold the world's memory or its sends.
constexpr size_t kMaxUnsentBytes = 4u << 20;
// How long a closing connection may take to flush what was queued before it.
constexpr auto kCloseFlushTime = std::chrono::seconds(2);
// Pause before accepting again after an accept failure (for example, out of descriptors).
constexpr auto kAcceptRetryDelay = std::chrono::milliseconds(200);
// Network threads: two, or one where the machine has only two cores. The world's work runs
// under one lock, so a second thread mainly overlaps system calls; with two cores it competes
// with the main loop, the save writer and the password checks for the same cores, and a reply
// waits for a core more often than it gains from the overlap.
int IoThreadCount() { return std::thread::hardware_concurrency() > 2 ? 2 : 1; }
// TCP keep-alive: a peer that vanished without a word (a player idle in the world is never
// closed for silence) is found after about ten minutes.
constexpr int kKeepAliveIdleSeconds = 300;
constexpr int kKeepAliveIntervalSeconds = 60;
constexpr int kKeepAliveProbes = 5;
// What the kernel may hold of a connection's outgoing bytes (it doubles the figure for its own
// bookkeeping). Left to itself it grows a loopback socket's buffer to megabytes, where bytes a
// client never reads pile up out of sight of the unsent-bytes bounds; with a fixed share they
// wait in the connection's own queue, where both bounds count them.
constexpr int kKernelSendBuffer = 64 * 1024;
// One read's buffer. Client packets are small and a frame may span reads, so a page is
// plenty; it is allocated without zero-filling, so an idle connection's buffer costs only
// what its reads have touched.
constexpr size_t kRecvBufferSize = 4096;
// Send buffers bigger than this are given back once everything queued has been sent.
constexpr size_t kKeptSendBuffer = 4096;
// Bytes for a connection other than the one whose packet (or posted completion) is being
// handled wait for the flusher, so that every connection's deliveries of a while go out in one
// send. The flusher runs at most once per window: at least kFlushWindow, and four times as long
// as its previous run took (at most kMaxFlushWindow), so that sending to very many connections
// at once (a message to everyone while thousands log in) never takes more than about a fifth
// of a core. A connection gets its own replies at the end of handling, with everything queued
// for it before them; after a quiet window the waiting bytes go at once.
constexpr auto kFlushWindow = std::chrono::microseconds(4000);
constexpr auto kMaxFlushWindow = std::chrono::microseconds(20000);
// Unhurried writes (messages to everyone) wait for a flusher of their own whose window may
// grow far longer: on a quiet server it is the normal window, but while thousands log in at
// once (a run then sends to thousands) each connection gets their welcomes in a few sends a
// second instead of fifty. A connection with an unhurried write waiting that is written to in
// the normal way goes out with the normal window, everything queued included.
constexpr auto kUnhurriedFlushWindow = kFlushWindow;
constexpr auto kMaxUnhurriedFlushWindow = std::chrono::microseconds(200000);

// The one process-wide io_context, run by a small pool while any server is open.
class IoPool {
 public:
  static IoPool& Get() {
    static IoPool pool;
    return pool;
  }
  asio::io_context& Context() { return io_; }

  void Acquire() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (users_++ > 0) return;
    io_.restart();
    guard_.emplace(asio::make_work_guard(io_));
    for (int i = IoThreadCount(); i > 0; --i) threads_.emplace_back([this] { io_.run(); });
  }

  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--users_ > 0) return;
    guard_.reset();
    io_.stop();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
  }

 private:
  asio::io_context io_;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> guard_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  int users_ = 0;
};

}  // namespace

// One accepted TCP connection. Every read and event of the connection runs on its strand (the
// socket's executor); Write and Close may be called from any thread.
class TAsioConnection : public TConnection,
                        public TBacklogHolder,
                        public std::enable_shared_from_this<TAsioConnection> {
 public:
  using Clock = std::chrono::steady_clock;

  TAsioConnection(std::shared_ptr<TServer::Impl> server, asio::ip::tcp::socket socket,
                  std::string peer_ip);

  std::string PeerIP() const override { return peer_ip_; }
  bool Connected() const override { return connected_.load(); }
  void Write(const uint8_t* data, size_t size) override;
  void Post(std::function<void()> fn) override;
  void Close() override;

  void Start();
  // Sends what is queued (see Flush); for a flusher, which has taken the connection off its
  // list (the unhurried one's or the normal one's).
  void FlushListed(bool unhurried);

  size_t Backlog() override;
  bool Open() const override { return connected_.load(); }
  void CloseForBacklog(uint64_t limit) override;

 private:
  void StartRead();
  void OnRead(const asio::error_code& ec, size_t size);
  void Consume();
  bool TakePacketToken();
  void ArmWatch(Clock::time_point at);
  void OnWatch();
  bool OnGarbage(size_t waiting);
  bool OnBody(const uint8_t* body, size_t size);
  void BeginHandling();
  void EndHandling();
  enum class TListed { kNone, kNormal, kUnhurried };
  void Flush(TListed listed = TListed::kNone);
  void StartWrite();
  void OnWrite(const asio::error_code& ec, size_t size);
  void CloseSocket();
  void Finish();
  void ForceClose();

  std::shared_ptr<TServer::Impl> server_;
  TServer* owner_;
  std::string server_name_;
  asio::ip::tcp::socket socket_;
  asio::steady_timer close_timer_;
  asio::steady_timer read_timer_;
  asio::steady_timer watch_timer_;
  std::string peer_ip_;
  std::atomic<bool> connected_{true};
  int fd_ = -1;  // the socket's descriptor; used for sends only while socket_closed_ is false

  // Strand-only state.
  TFrameReader reader_;
  std::unique_ptr<uint8_t[]> recv_{new uint8_t[kRecvBufferSize]};
  size_t recv_offset_ = 0;  // bytes of the last read already fed to the reader
  size_t recv_length_ = 0;
  bool socket_closed_ = false;
  bool close_after_write_ = false;
  // Packet budget: a token bucket of MaxPacketsPerSecond, holding two seconds' worth.
  double tokens_ = 0;
  Clock::time_point tokens_at_{};
  bool paused_ = false;
  bool throttle_logged_ = false;
  // Timeouts.
  Clock::time_point accepted_at_{};
  Clock::time_point last_frame_at_{};
  Clock::time_point frame_started_at_{};
  bool had_frame_ = false;
  bool frame_open_ = false;
  bool entered_world_ = false;
  TLogBudget log_budget_;

  // Outgoing queue, shared between the writers (any thread) and the strand.
  std::mutex queue_mutex_;
  std::vector<uint8_t> pending_;
  std::vector<uint8_t> inflight_;
  size_t unsent_ = 0;
  bool writing_ = false;  // an asynchronous write is in flight; it takes pending_ when done
  bool listed_ = false;   // on the normal flusher's list
  bool listed_unhurried_ = false;  // on the unhurried flusher's list
};

namespace {

// The connection whose packet, connect or posted completion this thread is handling.
thread_local TAsioConnection* handling = nullptr;

thread_local bool unhurried_writes = false;

// Connections with bytes for the next flush, and the one timer that flushes them all. A flush
// runs at most once per window: the first connection listed after a quiet window is flushed
// at once, the ones listed while a window runs wait for its end.
class TFlusher {
 public:
  // The flusher of normal deliveries.
  static TFlusher& Get() {
    static TFlusher flusher(kFlushWindow, kMaxFlushWindow, false);
    return flusher;
  }
  // The flusher of unhurried ones.
  static TFlusher& Unhurried() {
    static TFlusher flusher(kUnhurriedFlushWindow, kMaxUnhurriedFlushWindow, true);
    return flusher;
  }
  void List(std::shared_ptr<TAsioConnection> conn) {
    std::lock_guard<std::mutex> lock(mutex_);
    waiting_.push_back(std::move(conn));
    if (!armed_) Arm();
  }

 private:
  using Duration = std::chrono::steady_clock::duration;
  TFlusher(Duration min_window, Duration max_window, bool unhurried)
      : min_window_(min_window),
        max_window_(max_window),
        unhurried_(unhurried),
        window_(min_window),
        timer_(IoPool::Get().Context()) {}

  void Arm() {  // mutex_ held
    armed_ = true;
    auto due = last_flush_ + window_;
    if (due <= std::chrono::steady_clock::now()) {
      asio::post(IoPool::Get().Context(), [this] { Run(); });
      return;
    }
    timer_.expires_at(due);
    timer_.async_wait([this](const asio::error_code&) { Run(); });
  }

  // Only one Run at a time: armed_ stays set until it is done.
  void Run() {
    const auto start = std::chrono::steady_clock::now();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      batch_.swap(waiting_);
      last_flush_ = start;
    }
    for (auto& conn : batch_) conn->FlushListed(unhurried_);
    batch_.clear();
    const auto took = std::chrono::steady_clock::now() - start;
    std::lock_guard<std::mutex> lock(mutex_);
    window_ = std::clamp<Duration>(4 * took, min_window_, max_window_);
    armed_ = false;
    if (!waiting_.empty()) Arm();
  }

  std::mutex mutex_;
  std::vector<std::shared_ptr<TAsioConnection>> waiting_;
  std::vector<std::shared_ptr<TAsioConnection>> batch_;  // Run only
  bool armed_ = false;
  std::chrono::steady_clock::time_point last_flush_{};
  const Duration min_window_;
  const Duration max_window_;
  const bool unhurried_;
  Duration window_;
  asio::steady_timer timer_;
};

}  // namespace

TUnhurriedWrites::TUnhurriedWrites() : outer_(!unhurried_writes) { unhurried_writes = true; }
TUnhurriedWrites::~TUnhurriedWrites() {
  if (outer_) unhurried_writes = false;
}

// Shared with the handlers in flight, so a late completion never touches freed state.
struct TServer::Impl : std::enable_shared_from_this<TServer::Impl> {
  Impl(TServer* o, std::string n) : owner(o), name(std::move(n)) {}

  TServer* owner;  // used only while the server is open
  std::string name;
  std::unique_ptr<asio::ip::tcp::acceptor> acceptor;
  std::unique_ptr<asio::steady_timer> retry_timer;
  bool open = false;

  mutable std::mutex list_mutex;
  std::condition_variable list_cv;
  std::list<std::shared_ptr<TAsioConnection>> connections;  // in accept order
  int live = 0;  // connections whose disconnect handling has not finished
  bool closing = false;

  void StartAccept();
  void Remove(const TConnection* conn);
  bool Closing() const {
    std::lock_guard<std::mutex> lock(list_mutex);
    return closing;
  }
  void Finished();
};

namespace {

std::string PeerAddress(const asio::ip::tcp::socket& socket) {
  asio::error_code ec;
  auto endpoint = socket.remote_endpoint(ec);
  if (ec) return "";
  asio::ip::address address = endpoint.address();
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
  }
  return address.to_string();
}

std::chrono::seconds Seconds(int32_t value) { return std::chrono::seconds(value); }

}  // namespace

TAsioConnection::TAsioConnection(std::shared_ptr<TServer::Impl> server,
                                 asio::ip::tcp::socket socket, std::string peer_ip)
    : server_(std::move(server)),
      owner_(server_->owner),
      server_name_(server_->name),
      socket_(std::move(socket)),
      close_timer_(socket_.get_executor()),
      read_timer_(socket_.get_executor()),
      watch_timer_(socket_.get_executor()),
      peer_ip_(std::move(peer_ip)),
      reader_([this](size_t waiting) { return OnGarbage(waiting); },
              [this](const uint8_t* body, size_t size) { return OnBody(body, size); }) {
  asio::error_code ec;
  socket_.set_option(asio::ip::tcp::no_delay(true), ec);
  socket_.set_option(asio::socket_base::keep_alive(true), ec);
  int fd = socket_.native_handle();
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepAliveIdleSeconds, sizeof(int));
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepAliveIntervalSeconds, sizeof(int));
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepAliveProbes, sizeof(int));
  ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kKernelSendBuffer, sizeof(int));
  accepted_at_ = Clock::now();
  tokens_at_ = accepted_at_;
  tokens_ = 2.0 * std::max(0, Security.MaxPacketsPerSecond);
  log_budget_.Configure(Security.MaxLogLinesPerConnection,
                        Format("[%s] \"%s\"", server_name_, peer_ip_));
  fd_ = fd;
}

void TAsioConnection::BeginHandling() { handling = this; }

// What the handling queued for its own connection goes out now, with one send.
void TAsioConnection::EndHandling() {
  handling = nullptr;
  Flush();
}

void TAsioConnection::Start() {
  TBacklogBound::Get().Register(this);
  auto self = shared_from_this();
  asio::post(socket_.get_executor(), [self] {
    self->BeginHandling();
    {
      TLogBudgetScope budget(&self->log_budget_);
      try {
        self->owner_->DoConnect(*self);
      } catch (const std::exception& e) {
        LogFmt("[%s] Error: %s", self->server_name_, EscapeLogText(e.what()));
        self->Close();
      }
    }
    if (Security.LoginTimeout > 0 || Security.IdleTimeout > 0) {
      auto first = Security.LoginTimeout > 0 ? Seconds(Security.LoginTimeout)
                                             : Seconds(Security.IdleTimeout);
      self->ArmWatch(self->accepted_at_ + first);
    }
    self->EndHandling();
    self->StartRead();
  });
}

size_t TAsioConnection::Backlog() {
  std::lock_guard<std::mutex> lock(queue_mutex_);
  return unsent_;
}

void TAsioConnection::CloseForBacklog(uint64_t limit) {
  // Written whatever connection's packet caused it: the line is about this one.
  TLogBudgetScope unbudgeted(nullptr);
  LogFmt("[%s] 全接続の未送信データが%uバイトを超えたため、未送信の多い \"%s\" を切断", server_name_,
         limit, peer_ip_);
  ForceClose();
}

void TAsioConnection::ArmWatch(Clock::time_point at) {
  auto self = shared_from_this();
  watch_timer_.expires_at(at);
  watch_timer_.async_wait([self](const asio::error_code& ec) {
    if (!ec) self->OnWatch();
  });
}

// Silence limits. A connection must send its first complete frame, and a Zone connection must
// enter the world, within LoginTimeout of the accept; a started frame must complete within
// LoginTimeout; a connection not in the world must send a frame at least every IdleTimeout.
// A connection in the world is never closed for silence.
void TAsioConnection::OnWatch() {
  if (socket_closed_ || !connected_.load()) return;
  auto now = Clock::now();
  bool in_world = false;
  bool enters_world = false;
  {
    TWorldGuard lock;
    if (Data != nullptr) {
      in_world = Data->InWorld();
      enters_world = Data->EntersWorld();
    }
  }
  if (in_world) entered_world_ = true;
  const auto login = Seconds(Security.LoginTimeout);
  const auto idle = Seconds(Security.IdleTimeout);
  const char* reason = nullptr;
  Clock::time_point next = Clock::time_point::max();
  auto check = [&](Clock::time_point deadline, const char* why) {
    if (reason != nullptr) return;
    if (deadline <= now) {
      reason = why;
    } else {
      next = std::min(next, deadline);
    }
  };
  if (Security.LoginTimeout > 0) {
    if (frame_open_) check(frame_started_at_ + login, "パケットが時間内に届き終わらない");
    bool login_pending = !had_frame_ || (enters_world && !entered_world_);
    if (login_pending) check(accepted_at_ + login, "時間内にログインしない");
  }
  if (Security.IdleTimeout > 0 && !in_world) {
    check((had_frame_ ? last_frame_at_ : accepted_at_) + idle, "通信がない");
  }
  if (reason != nullptr) {
    LogFmt("[%s] \"%s\" が%sため切断", server_name_, peer_ip_, reason);
    ForceClose();
    return;
  }
  // In the world with no frame under way nothing is due; look again later for a frame that
  // starts and stalls.
  if (next == Clock::time_point::max()) {
    if (Security.LoginTimeout <= 0) return;
    next = now + login;
  }
  ArmWatch(next);
}

void TAsioConnection::StartRead() {
  auto self = shared_from_this();
  socket_.async_read_some(asio::buffer(recv_.get(), kRecvBufferSize),
                          [self](const asio::error_code& ec, size_t n) { self->OnRead(ec, n); });
}

void TAsioConnection::OnRead(const asio::error_code& ec, size_t size) {
  if (ec) {
    bool failed = ec != asio::error::eof && ec != asio::error::operation_aborted &&
                  ec != asio::error::bad_descriptor;
    if (failed && connected_.load()) {
      try {
        owner_->DoException(*this, ec.message());
      } catch (const std::exception& e) {
        LogFmt("[%s] Error: %s", server_name_, e.what());
      }
    }
    connected_ = false;
    CloseSocket();
    Finish();
    return;
  }
  recv_offset_ = 0;
  recv_length_ = size;
  Consume();
}

// Feeds what is left of the last read to the reader, then reads on; while the packet budget is
// spent, the rest waits and no read is started, so the client's bytes stay in the kernel.
void TAsioConnection::Consume() {
  {
    TLogBudgetScope budget(&log_budget_);
    // Bytes arriving after Close() are no longer dispatched; the read goes on until the socket
    // is closed, which is what ends the connection. What the handlers queue for this
    // connection goes out with one send once the bytes at hand are handled.
    BeginHandling();
    while (connected_.load() && recv_offset_ < recv_length_) {
      recv_offset_ +=
          reader_.Feed(recv_.get() + recv_offset_, recv_length_ - recv_offset_);
      if (reader_.InFrame() && !frame_open_) {
        frame_open_ = true;
        frame_started_at_ = Clock::now();
      }
      if (paused_) break;
    }
    EndHandling();
    if (paused_ && connected_.load()) {
      if (!throttle_logged_) {
        throttle_logged_ = true;
        LogFmt("[%s] \"%s\" からの受信が多すぎるため読み込みを一時停止", server_name_, peer_ip_);
      }
      // The timer is never cancelled, so reading always resumes and sees a close that came
      // meanwhile; that is what ends the connection.
      double rate = Security.MaxPacketsPerSecond;
      auto wait = std::chrono::duration<double>((1.0 - tokens_) / rate);
      auto self = shared_from_this();
      read_timer_.expires_after(std::chrono::duration_cast<Clock::duration>(wait) +
                                std::chrono::milliseconds(1));
      read_timer_.async_wait([self](const asio::error_code&) {
        self->paused_ = false;
        self->Consume();
      });
      return;
    }
  }
  recv_offset_ = recv_length_ = 0;
  paused_ = false;
  StartRead();
}

// Charges one frame (or one discarded run of stray bytes) to the packet budget. False once the
// budget is spent: the caller stops and reading pauses until a token has come back.
bool TAsioConnection::TakePacketToken() {
  int32_t rate = Security.MaxPacketsPerSecond;
  if (rate <= 0) return true;
  auto now = Clock::now();
  double refill = std::chrono::duration<double>(now - tokens_at_).count() * rate;
  tokens_ = std::min(2.0 * rate, tokens_ + refill);
  tokens_at_ = now;
  tokens_ -= 1;
  if (tokens_ >= 1) return true;
  paused_ = true;
  return false;
}

bool TAsioConnection::OnGarbage(size_t waiting) {
  {
    TWorldGuard lock;
    LogFmt("[%s] 不明なパケット%dバイトを破棄", server_name_, waiting);
  }
  return connected_.load() && TakePacketToken();
}

bool TAsioConnection::OnBody(const uint8_t* body, size_t size) {
  if (!connected_.load()) return false;
  frame_open_ = false;
  had_frame_ = true;
  last_frame_at_ = Clock::now();
  // This frame still had its token; when it was the last one, the frames after it wait.
  TakePacketToken();
  if (size == 0) {
    LogFmt("[%s] \"%s\" からの空のパケットを破棄", server_name_, peer_ip_);
    return !paused_;
  }
  if (size == 1 && !ClientIdWithoutSeed(body[0])) {
    LogFmt("[%s] \"%s\" からのシードのないパケットを破棄: PacketID %d", server_name_, peer_ip_,
           body[0]);
    return !paused_;
  }
  TSession* session = Data.get();
  if (session == nullptr) return false;
  uint8_t id = session->LoadBody(body, size);
  TWorldGuard lock;
  metrics::CountPacketReceived(server_name_);
  try {
    session->ParsePacket(*this, id);
  } catch (const std::exception& e) {
    LogFmt("[%s] Parse Error: PacketID %d Message %s", server_name_, id, EscapeLogText(e.what()));
  }
  return connected_.load() && !paused_;
}

void TAsioConnection::Post(std::function<void()> fn) {
  auto self = shared_from_this();
  asio::post(socket_.get_executor(), [self, fn = std::move(fn)] {
    TLogBudgetScope budget(&self->log_budget_);
    self->BeginHandling();
    try {
      fn();
    } catch (const std::exception& e) {
      LogFmt("[%s] Error: %s", self->server_name_, EscapeLogText(e.what()));
    }
    self->EndHandling();
  });
}

void TAsioConnection::Write(const uint8_t* data, size_t size) {
  if (size == 0) return;
  TListed list = TListed::kNone;
  size_t unsent = 0;
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    if (!connected_.load()) return;
    if (unsent_ + size <= kMaxUnsentBytes) {
      pending_.insert(pending_.end(), data, data + size);
      unsent_ += size;
      TBacklogBound::Get().Add(size);
      // The connection being handled is flushed when its handling ends, and a write in
      // flight takes what is pending when it completes; anything else waits for a flusher:
      // the normal one, unless everything waiting is unhurried.
      if (handling != this && !writing_ && !listed_) {
        if (!unhurried_writes) {
          list = TListed::kNormal;
          listed_ = true;
        } else if (!listed_unhurried_) {
          list = TListed::kUnhurried;
          listed_unhurried_ = true;
        }
      }
    } else {
      unsent = unsent_;
    }
  }
  if (Security.MaxUnsentBytesTotal > 0) {
    TBacklogBound::Get().Enforce(static_cast<uint64_t>(Security.MaxUnsentBytesTotal));
  }
  if (list != TListed::kNone) {
    (list == TListed::kNormal ? TFlusher::Get() : TFlusher::Unhurried()).List(shared_from_this());
    return;
  }
  if (unsent > 0) {
    TLogBudgetScope unbudgeted(nullptr);
    LogFmt("[%s] \"%s\" への未送信データが%uバイトを超えたため切断", server_name_, peer_ip_,
           kMaxUnsentBytes);
    ForceClose();
  }
}

void TAsioConnection::FlushListed(bool unhurried) {
  Flush(unhurried ? TListed::kUnhurried : TListed::kNormal);
}

// Sends everything queued with one send when no asynchronous write is in flight; what the
// socket does not take at once goes on with an asynchronous write on the strand. Any thread:
// the descriptor is used only under the queue lock while the socket is open, and the strand
// closes the socket only after marking it closed under that lock.
void TAsioConnection::Flush(TListed listed) {
  std::unique_lock<std::mutex> lock(queue_mutex_);
  if (listed == TListed::kNormal) listed_ = false;
  if (listed == TListed::kUnhurried) listed_unhurried_ = false;
  if (writing_ || socket_closed_ || pending_.empty()) return;
  ssize_t n = ::send(fd_, pending_.data(), pending_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  if (n < 0) {
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      // The peer is gone; the pending read reports it and ends the connection.
      pending_.clear();
      lock.unlock();
      ForceClose();
      return;
    }
    n = 0;
  }
  const size_t sent = static_cast<size_t>(n);
  const size_t counted = std::min(unsent_, sent);
  unsent_ -= counted;
  TBacklogBound::Get().Sub(counted);
  if (sent > 0) metrics::CountBytesSent(server_name_, sent);
  if (sent == pending_.size()) {
    pending_.clear();
    if (pending_.capacity() > kKeptSendBuffer) std::vector<uint8_t>().swap(pending_);
    return;
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(sent));
  writing_ = true;
  lock.unlock();
  auto self = shared_from_this();
  asio::post(socket_.get_executor(), [self] { self->StartWrite(); });
}

void TAsioConnection::StartWrite() {
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    if (socket_closed_ || pending_.empty()) {
      writing_ = false;
      return;
    }
    inflight_.clear();
    inflight_.swap(pending_);
  }
  auto self = shared_from_this();
  asio::async_write(socket_, asio::buffer(inflight_),
                    [self](const asio::error_code& ec, size_t n) { self->OnWrite(ec, n); });
}

void TAsioConnection::OnWrite(const asio::error_code& ec, size_t size) {
  metrics::CountBytesSent(server_name_, size);
  bool more = false;
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    size_t sent = std::min(unsent_, size);
    unsent_ -= sent;
    TBacklogBound::Get().Sub(sent);
    if (ec) {
      writing_ = false;
    } else {
      more = !pending_.empty();
      if (!more) {
        writing_ = false;
        // A burst (entering the world, a crowd) leaves big buffers behind; an idle
        // connection need not keep them.
        if (inflight_.capacity() > kKeptSendBuffer) std::vector<uint8_t>().swap(inflight_);
        if (pending_.capacity() > kKeptSendBuffer) std::vector<uint8_t>().swap(pending_);
      }
    }
  }
  if (ec) {
    // The peer is gone; the pending read reports it and ends the connection.
    connected_ = false;
    CloseSocket();
    return;
  }
  if (more) {
    StartWrite();
  } else if (close_after_write_) {
    CloseSocket();
  }
}

void TAsioConnection::Close() {
  connected_ = false;
  auto self = shared_from_this();
  asio::post(socket_.get_executor(), [self] {
    if (self->socket_closed_) return;
    // Bytes still waiting for the flusher were queued before the close: they go first.
    self->Flush();
    bool busy;
    {
      std::lock_guard<std::mutex> lock(self->queue_mutex_);
      busy = self->writing_;
    }
    if (!busy) {
      self->CloseSocket();
      return;
    }
    // Let what was queued before the close reach the peer, but never wait long for it.
    self->close_after_write_ = true;
    self->close_timer_.expires_after(kCloseFlushTime);
    self->close_timer_.async_wait([self](const asio::error_code& ec) {
      if (!ec) self->CloseSocket();
    });
  });
}

void TAsioConnection::ForceClose() {
  connected_ = false;
  auto self = shared_from_this();
  asio::post(socket_.get_executor(), [self] { self->CloseSocket(); });
}

void TAsioConnection::CloseSocket() {
  if (socket_closed_) return;
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    socket_closed_ = true;
    size_t dropped = std::min(unsent_, pending_.size());
    unsent_ -= dropped;
    TBacklogBound::Get().Sub(dropped);
    pending_.clear();
  }
  asio::error_code ec;
  close_timer_.cancel();
  watch_timer_.cancel();
  socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
  socket_.close(ec);
}

void TAsioConnection::Finish() {
  // The socket is closed: its place under the connection caps is free before anything is
  // logged about the end.
  TAdmission::Get().Release(peer_ip_);
  log_budget_.Flush();
  {
    TLogBudgetScope budget(&log_budget_);
    try {
      owner_->DoDisconnect(*this);
    } catch (const std::exception& e) {
      LogFmt("[%s] Error: %s", server_name_, EscapeLogText(e.what()));
    }
  }
  log_budget_.Flush();
  {
    // What never left (the write in flight when the peer went) no longer counts.
    std::lock_guard<std::mutex> lock(queue_mutex_);
    TBacklogBound::Get().Sub(unsent_);
    unsent_ = 0;
  }
  TBacklogBound::Get().Unregister(this);
  {
    // A handler that did not reach the base disconnect handling still frees the session, and
    // nothing keeps naming this connection.
    TWorldGuard lock;
    Data.reset();
    DropRefs();
  }
  server_->Remove(this);
  server_->Finished();
}

void TServer::Impl::Remove(const TConnection* conn) {
  std::lock_guard<std::mutex> lock(list_mutex);
  connections.remove_if([conn](const auto& c) { return static_cast<TConnection*>(c.get()) == conn; });
}

void TServer::Impl::Finished() {
  std::lock_guard<std::mutex> lock(list_mutex);
  --live;
  list_cv.notify_all();
}

void TServer::Impl::StartAccept() {
  auto self = shared_from_this();
  acceptor->async_accept(
      asio::make_strand(IoPool::Get().Context()),
      [self](const asio::error_code& ec, asio::ip::tcp::socket socket) {
        if (ec == asio::error::operation_aborted || self->Closing()) return;
        if (ec) {
          LogFmt("[%s] 接続の受け付けに失敗: %s", self->name, ec.message());
          self->retry_timer->expires_after(kAcceptRetryDelay);
          self->retry_timer->async_wait([self](const asio::error_code& e) {
            if (!e && !self->Closing()) self->StartAccept();
          });
          return;
        }
        std::string ip = PeerAddress(socket);
        // A banned address is closed right after accept, before any byte is sent.
        if (RefuseBannedAddress(self->name, ip)) {
          asio::error_code ignored;
          socket.close(ignored);
          self->StartAccept();
          return;
        }
        // Over a cap the connection is closed before any byte is sent, so it costs nothing
        // more than the accept.
        auto verdict = TAdmission::Get().Admit(ip, IsTrustedAddress(ip),
                                               Security.MaxConnectionsPerIP,
                                               Security.MaxConnections);
        if (verdict != TAdmission::Verdict::kAdmitted) {
          if (TAdmission::Get().ShouldLogRefusal(ip)) {
            if (verdict == TAdmission::Verdict::kTooManyFromAddress) {
              LogFmt("[%s] \"%s\" からの接続が上限の%d本に達しているため、接続を拒否", self->name,
                     ip, Security.MaxConnectionsPerIP);
            } else {
              LogFmt("[%s] 接続数が上限の%d本に達しているため、\"%s\" からの接続を拒否", self->name,
                     Security.MaxConnections, ip);
            }
          }
          asio::error_code ignored;
          socket.close(ignored);
          self->StartAccept();
          return;
        }
        auto conn = std::make_shared<TAsioConnection>(self, std::move(socket), ip);
        try {
          conn->Data = self->owner->CreateSession();
        } catch (const std::exception& e) {
          LogFmt("[%s] Error: %s", self->name, e.what());
        }
        {
          std::lock_guard<std::mutex> lock(self->list_mutex);
          if (self->closing) {
            conn->Data.reset();
            TAdmission::Get().Release(ip);
            return;  // the socket closes with the connection object
          }
          self->connections.push_back(conn);
          ++self->live;
        }
        conn->Start();
        self->StartAccept();
      });
}

TServer::TServer(std::string name, uint16_t port)
    : FName(std::move(name)), FPort(port), FImpl(std::make_shared<Impl>(this, FName)) {}

TServer::~TServer() { Close(); }

void TServer::Open() {
  if (FImpl->open) return;
  IoPool& pool = IoPool::Get();
  auto& io = pool.Context();
  auto acceptor = std::make_unique<asio::ip::tcp::acceptor>(asio::make_strand(io));
  asio::error_code ec;
  asio::ip::tcp::endpoint endpoint(asio::ip::tcp::v4(), FPort);
  acceptor->open(endpoint.protocol(), ec);
  if (!ec) acceptor->set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) acceptor->bind(endpoint, ec);
  if (!ec) acceptor->listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    throw std::runtime_error(Format("[%s] ポート%dを開けません: %s", FName, FPort, ec.message()));
  }
  FImpl->retry_timer = std::make_unique<asio::steady_timer>(acceptor->get_executor());
  FImpl->acceptor = std::move(acceptor);
  {
    std::lock_guard<std::mutex> lock(FImpl->list_mutex);
    FImpl->closing = false;
  }
  FImpl->open = true;
  pool.Acquire();
  asio::post(FImpl->acceptor->get_executor(), [impl = FImpl] { impl->StartAccept(); });
}

void TServer::Close() {
  if (!FImpl->open) return;
  Impl* impl = FImpl.get();
  {
    std::lock_guard<std::mutex> lock(impl->list_mutex);
    impl->closing = true;
  }
  // The acceptor belongs to its strand: close it there and wait until that has happened.
  std::promise<void> closed;
  asio::post(impl->acceptor->get_executor(), [impl, &closed] {
    asio::error_code ec;
    impl->acceptor->close(ec);
    impl->retry_timer->cancel();
    closed.set_value();
  });
  closed.get_future().wait();

  std::vector<std::shared_ptr<TAsioConnection>> all;
  {
    std::lock_guard<std::mutex> lock(impl->list_mutex);
    all.assign(impl->connections.begin(), impl->connections.end());
  }
  for (auto& conn : all) conn->Close();
  all.clear();
  {
    std::unique_lock<std::mutex> lock(impl->list_mutex);
    impl->list_cv.wait(lock, [impl] { return impl->live == 0; });
  }
  impl->open = false;
  IoPool::Get().Release();
}

int TServer::UserCount() const {
  std::lock_guard<std::mutex> lock(FImpl->list_mutex);
  return static_cast<int>(FImpl->connections.size());
}

void TServer::ForEachConnection(const std::function<void(TConnection&)>& fn) {
  std::lock_guard<std::mutex> lock(FImpl->list_mutex);
  for (auto& conn : FImpl->connections) fn(*conn);
}

void TServer::DoConnect(TConnection& context) {
  TWorldGuard lock;
  LogFmt("[%s] \"%s\" からの接続を開始", FName, context.PeerIP());
}

void TServer::DoDisconnect(TConnection& context) {
  TWorldGuard lock;
  LogFmt("[%s] \"%s\" からの接続を終了", FName, context.PeerIP());
  context.Data.reset();
  context.DropRefs();
  // Leaves the list under the world lock, so no walk of the list meets a freed session.
  FImpl->Remove(&context);
}

void TServer::DoException(TConnection& context, const std::string& message) {
  TWorldGuard lock;
  if (!context.Connected()) return;
  LogFmt("[%s] Error: %s", FName, message);
  context.Close();
}

void TServer::Process(uint32_t) {}

}  // namespace vornhal
