// DevServerProcess: irvelo-devserver as a child process.

#include <glib.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "core/owned.hpp"
#include "devserver/dev_server.hpp"

namespace irvelo::devserver {
namespace {

// The child ends with its parent, also when a test process crashes.
void child_setup(gpointer) {
  prctl(PR_SET_PDEATHSIG, SIGTERM);
}

}  // namespace

DevServerProcess::DevServerProcess(const std::string& executable, const std::string& seed) {
  std::vector<std::string> args = {executable, "--port", "0", "--seed", seed};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  GPid pid = 0;
  gint out_fd = -1;
  ErrorPtr error;
  if (!g_spawn_async_with_pipes(nullptr, argv.data(), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, child_setup, nullptr, &pid,
                                nullptr, &out_fd, nullptr, out(error))) {
    const std::string message = error != nullptr ? error->message : "unknown error";
    throw std::runtime_error("cannot start " + executable + ": " + message);
  }
  pid_ = pid;
  stdout_fd_ = out_fd;

  // Read "url ..." and "key ..." lines, at most 10 seconds.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::string buffer;
  while (base_url_.empty() || api_key_.empty()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd pfd{stdout_fd_, POLLIN, 0};
    const int ready = poll(&pfd, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char chunk[256];
    const ssize_t n = read(stdout_fd_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the child closed its output: it has failed
    buffer.append(chunk, static_cast<std::size_t>(n));
    std::size_t eol;
    while ((eol = buffer.find('\n')) != std::string::npos) {
      const std::string line = buffer.substr(0, eol);
      buffer.erase(0, eol + 1);
      if (line.rfind("url ", 0) == 0) base_url_ = line.substr(4);
      if (line.rfind("key ", 0) == 0) api_key_ = line.substr(4);
    }
  }
  if (base_url_.empty() || api_key_.empty()) {
    stop();
    throw std::runtime_error("irvelo-devserver did not report its address: " + executable);
  }
}

DevServerProcess::~DevServerProcess() {
  stop();
}

void DevServerProcess::stop() noexcept {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    bool reaped = false;
    for (int i = 0; i < 500 && !reaped; ++i) {
      const pid_t r = waitpid(pid_, nullptr, WNOHANG);
      if (r == pid_ || (r < 0 && errno != EINTR)) {
        reaped = true;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    if (!reaped) {
      kill(pid_, SIGKILL);
      while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
    pid_ = -1;
  }
  if (stdout_fd_ >= 0) {
    close(stdout_fd_);
    stdout_fd_ = -1;
  }
}

}  // namespace irvelo::devserver
