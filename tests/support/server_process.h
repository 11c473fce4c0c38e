// Runs the real server binary for end-to-end tests: a fresh root folder under /tmp with its own
// INI file on three free loopback ports, the server started with `--root <root> --offline`, and
// everything it prints captured so tests can wait for log lines.
//
//   vornhal::test::ServerProcess server({.data_dir = VORNHAL_SAMPLE_DIR});
//   // connect to 127.0.0.1:server.multi_port ...
//   EXPECT_TRUE(server.WaitForLog("からの接続を開始", 5000));
//   EXPECT_EQ(server.Stop(), 0);
//
// The INI file written before the start holds the three port sections
//
//   [MultiServer]\nPort=<multi_port>\n[ZoneServer]\nPort=<zone_port>\n[HttpServer]\nPort=<http_port>\n
//
// followed by Options::extra_ini exactly as given (a line end is added when it lacks one), and
// last "[AdminServer]\nPort=<admin_port>\n" when Options::admin_api is set, else
// "[AdminServer]\nPort=0\n" (the operator's API off), so parallel servers never share a port.
// extra_ini may open any section, also one already written above: the server merges repeated
// sections, and for a key written twice the first occurrence counts, so extra_ini cannot move
// the ports (use the port members, or write the file yourself and call Start()).
// Example: .extra_ini = "[Main]\nAccountLimit=1\nAccountLimitValue=2\n".
//
// The constructor throws std::runtime_error (with the captured log) when Options::start is set
// and the server does not reach "サーバー起動" within 20 s. Start() reports the same as false.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#ifndef VORNHAL_BINARY
#error "VORNHAL_BINARY must name the server binary"
#endif

namespace vornhal::test {

class ServerProcess {
 public:
  struct Options {
    // A folder copied to <root>/VornhalData; empty gives an empty data folder.
    std::string data_dir;
    // Text appended to the INI file after the port sections (see the header comment).
    std::string extra_ini;
    // Start the server in the constructor.
    bool start = true;
    // Open the operator's API on a free port (admin_port); off otherwise.
    bool admin_api = false;
    // Standard input is a pipe fed by SendConsole() instead of /dev/null.
    bool console_input = false;
  };

  ServerProcess() : ServerProcess(Options{}) {}
  explicit ServerProcess(const Options& options) {
    char tmpl[] = "/tmp/vornhal-e2e-XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp failed");
    root = tmpl;
    std::filesystem::path data = std::filesystem::path(root) / "VornhalData";
    if (options.data_dir.empty()) {
      std::filesystem::create_directories(data);
    } else {
      std::filesystem::copy(options.data_dir, data, std::filesystem::copy_options::recursive);
    }
    console_input_ = options.console_input;
    PickPorts(options.admin_api);
    std::string ini = "[MultiServer]\nPort=" + std::to_string(multi_port) +
                      "\n[ZoneServer]\nPort=" + std::to_string(zone_port) +
                      "\n[HttpServer]\nPort=" + std::to_string(http_port) + "\n" +
                      options.extra_ini;
    if (!ini.empty() && ini.back() != '\n') ini.push_back('\n');
    ini += "[AdminServer]\nPort=" + std::to_string(admin_port) + "\n";
    std::ofstream(IniPath(), std::ios::binary) << ini;
    if (options.start && !Start()) {
      std::string log = Log();
      Cleanup();
      throw std::runtime_error("server did not start; its output:\n" + log);
    }
  }

  ~ServerProcess() { Cleanup(); }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // Starts the server (again) on the same root. The log buffer starts empty. Returns true once
  // the log holds "サーバー起動"; false when the process exits first or 20 s pass (the
  // process is then left as it is: Stop() or Kill() it, or let the destructor do so).
  bool Start() {
    if (Running()) return false;
    JoinReader();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      log_.clear();
      exited_ = false;
      status_ = 0;
      reader_done_ = false;
    }
    // VORNHAL_SERVER_BINARY runs another build of the server (to measure one against another).
    const char* binary = ::getenv("VORNHAL_SERVER_BINARY");
    if (binary == nullptr || *binary == '\0') binary = VORNHAL_BINARY;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    int in[2] = {-1, -1};
    if (console_input_ && ::pipe2(in, O_CLOEXEC) != 0) {
      ::close(fds[0]);
      ::close(fds[1]);
      return false;
    }
    pid_t pid = ::fork();
    if (pid < 0) {
      ::close(fds[0]);
      ::close(fds[1]);
      if (in[0] >= 0) {
        ::close(in[0]);
        ::close(in[1]);
      }
      return false;
    }
    if (pid == 0) {
      int devnull = in[0] >= 0 ? in[0] : ::open("/dev/null", O_RDONLY);
      if (devnull >= 0) ::dup2(devnull, 0);
      ::dup2(fds[1], 1);
      ::dup2(fds[1], 2);
      const char* argv[] = {binary, "--root", root.c_str(), "--offline", nullptr};
      ::execv(binary, const_cast<char* const*>(argv));
      ::_exit(127);
    }
    ::close(fds[1]);
    if (in[0] >= 0) {
      ::close(in[0]);
      CloseConsole();
      console_fd_ = in[1];
    }
    pid_ = pid;
    read_fd_ = fds[0];
    reader_ = std::thread([this] { ReadLoop(); });
    return WaitForLog("サーバー起動", 60000);  // a guard against hanging only
  }

  // True once the log holds the needle; false after timeout_ms or when the process has ended
  // without printing it.
  bool WaitForLog(const std::string& needle, int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (log_.find(needle) != std::string::npos) return true;
      if (reader_done_) return false;
      if (cv_.wait_until(lock, deadline) == std::cv_status::timeout) {
        return log_.find(needle) != std::string::npos;
      }
    }
  }

  // Writes one line (a line end is added) to the server's standard input; false when the
  // server was not started with Options::console_input or the pipe is closed.
  bool SendConsole(const std::string& line) {
    if (console_fd_ < 0) return false;
    ::signal(SIGPIPE, SIG_IGN);  // a server that has ended makes the write fail, not the test
    std::string text = line + "\n";
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = ::write(console_fd_, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }
  // Closes the server's standard input (end of input).
  void CloseConsole() {
    if (console_fd_ >= 0) ::close(console_fd_);
    console_fd_ = -1;
  }

  // Everything the process printed since the last Start().
  std::string Log() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }

  // How often the needle occurs in the log.
  int CountInLog(const std::string& needle) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return CountLocked(needle);
  }

  // True once the log holds the needle at least `count` times; false after timeout_ms or when
  // the process has ended short of it. The log reaches the test through a pipe, so a line the
  // server printed while answering a request may arrive after the answer.
  bool WaitForCount(const std::string& needle, int count, int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (CountLocked(needle) >= count) return true;
      if (reader_done_) return false;
      if (cv_.wait_until(lock, deadline) == std::cv_status::timeout) return CountLocked(needle) >= count;
    }
  }

  bool Running() {
    Reap(false);
    return pid_ > 0 && !exited_;
  }

  // Sends sig and waits (up to 30 s, then SIGKILL) for the exit. Returns the exit status, or
  // 128 + signal number when the process was killed by a signal; -1 when nothing ran.
  int Stop(int sig = SIGINT) {
    if (pid_ <= 0) return -1;
    if (Running()) {
      ::kill(pid_, sig);
      auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (Running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      if (Running()) {
        ::kill(pid_, SIGKILL);
        Reap(true);
      }
    }
    JoinReader();
    return ExitStatus();
  }

  // Waits (up to timeout_ms) for the process to end by itself; returns its status as Stop()
  // does, or -1 when it still runs.
  int WaitForExit(int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Running() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (Running()) return -1;
    JoinReader();
    return ExitStatus();
  }

  void Kill() {
    if (pid_ > 0 && Running()) {
      ::kill(pid_, SIGKILL);
      Reap(true);
    }
    JoinReader();
  }

  // The running server's process id (-1 before the first Start()), for tests that signal it
  // on their own schedule.
  pid_t Pid() const { return pid_; }

  std::string IniPath() const { return root + "/vornhal.ini"; }
  std::string DataPath() const { return root + "/VornhalData/"; }

  // Whole-file read; empty when the file is missing.
  static std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  int multi_port = 0;
  int zone_port = 0;
  int http_port = 0;
  int admin_port = 0;  // 0 unless Options::admin_api
  std::string root;

 private:
  // Distinct free ports (three, or four with the admin API): all sockets stay bound until the
  // last port is read.
  void PickPorts(bool admin) {
    std::vector<int> socks;
    std::vector<int> ports(admin ? 4 : 3, 0);
    for (int& port : ports) {
      int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (s < 0) throw std::runtime_error("socket failed");
      socks.push_back(s);
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      addr.sin_port = 0;
      socklen_t len = sizeof addr;
      if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
          ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        for (int fd : socks) ::close(fd);
        throw std::runtime_error("cannot pick a free port");
      }
      port = ntohs(addr.sin_port);
    }
    for (int fd : socks) ::close(fd);
    multi_port = ports[0];
    zone_port = ports[1];
    http_port = ports[2];
    admin_port = admin ? ports[3] : 0;
  }

  void ReadLoop() {
    char buf[4096];
    for (;;) {
      ssize_t n = ::read(read_fd_, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      std::lock_guard<std::mutex> lock(mutex_);
      log_.append(buf, static_cast<size_t>(n));
      cv_.notify_all();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    reader_done_ = true;
    cv_.notify_all();
  }

  void JoinReader() {
    if (reader_.joinable()) reader_.join();
    if (read_fd_ >= 0) {
      ::close(read_fd_);
      read_fd_ = -1;
    }
  }

  void Reap(bool block) {
    if (pid_ <= 0 || exited_) return;
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
    if (r == pid_) {
      exited_ = true;
      status_ = status;
    }
  }

  int ExitStatus() const {
    if (!exited_) return -1;
    if (WIFEXITED(status_)) return WEXITSTATUS(status_);
    if (WIFSIGNALED(status_)) return 128 + WTERMSIG(status_);
    return -1;
  }

  void Cleanup() {
    CloseConsole();
    if (pid_ > 0 && Running()) Stop(SIGKILL);
    JoinReader();
    if (!root.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(root, ec);
      root.clear();
    }
  }

  int CountLocked(const std::string& needle) const {
    int n = 0;
    for (size_t pos = log_.find(needle); pos != std::string::npos;
         pos = log_.find(needle, pos + needle.size())) {
      ++n;
    }
    return n;
  }

  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = 0;
  int read_fd_ = -1;
  bool console_input_ = false;
  int console_fd_ = -1;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::string log_;
  bool reader_done_ = false;
};

}  // namespace vornhal::test
