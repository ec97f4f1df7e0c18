#include "support/private_bus.hpp"

#include <glib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace irvelo::test {

PrivateBus::PrivateBus() {
  const gchar* argv[] = {"dbus-daemon", "--session", "--nofork", "--print-address=1", nullptr};
  GPid pid = 0;
  gint out = -1;
  GError* error = nullptr;
  if (!g_spawn_async_with_pipes(nullptr, const_cast<gchar**>(argv), nullptr,
                                static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD), nullptr,
                                nullptr, &pid, nullptr, &out, nullptr, &error)) {
    const std::string message = error ? error->message : "unknown error";
    g_clear_error(&error);
    throw std::runtime_error("cannot start dbus-daemon: " + message);
  }
  pid_ = pid;
  // The daemon prints its address as one line once it listens.
  char c = 0;
  while (read(out, &c, 1) == 1 && c != '\n') address_ += c;
  close(out);
  if (address_.empty()) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    throw std::runtime_error("dbus-daemon printed no address");
  }
}

PrivateBus::~PrivateBus() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

}  // namespace irvelo::test
