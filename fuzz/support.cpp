#include "support.hpp"

#include <glib.h>
#include <glib/gstdio.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace irvelo::fuzz {
namespace {

std::string& temp_root() {
  static std::string root;
  return root;
}

void remove_temp_root() {
  if (temp_root().empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(temp_root(), ignored);
}

}  // namespace

std::string isolate_environment() {
  gchar* dir = g_dir_make_tmp("irvelo-fuzz-XXXXXX", nullptr);
  check(dir != nullptr, "cannot make a temporary directory");
  temp_root() = dir;
  g_free(dir);
  std::atexit(remove_temp_root);

  const std::string config = temp_root() + "/config";
  g_setenv("HOME", temp_root().c_str(), TRUE);
  g_setenv("XDG_CONFIG_HOME", config.c_str(), TRUE);
  g_setenv("XDG_STATE_HOME", (temp_root() + "/state").c_str(), TRUE);
  // Unix sockets that do not exist: a bus connection fails at once instead
  // of starting a bus or talking to the real one.
  const std::string nowhere = "unix:path=" + temp_root() + "/no-bus";
  g_setenv("DBUS_SESSION_BUS_ADDRESS", nowhere.c_str(), TRUE);
  g_setenv("DBUS_SYSTEM_BUS_ADDRESS", nowhere.c_str(), TRUE);
  g_unsetenv("DISPLAY");

  const std::string program_dir = config + "/irvelo-desktop";
  check(g_mkdir_with_parents(program_dir.c_str(), 0700) == 0, "cannot make the configuration folder");
  return program_dir;
}

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

void write_file(const std::string& path, std::string_view content) {
  GError* error = nullptr;
  const bool written =
      g_file_set_contents(path.c_str(), content.data(), static_cast<gssize>(content.size()), &error) != FALSE;
  if (error != nullptr) g_error_free(error);
  check(written, "cannot write a file in the temporary configuration folder");
}

}  // namespace irvelo::fuzz
