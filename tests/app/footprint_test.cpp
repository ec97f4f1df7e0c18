// What the running executable carries: the renderer it chose for itself, and
// what of that choice reaches the programs it launches.

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include "app_fixture.hpp"
#include "config.hpp"
#include "core/owned.hpp"
#include "support/main_loop.hpp"
#include "support/stand_in_browser.hpp"
#include "support/temp_dir.hpp"

namespace irvelo::test {
namespace {

using namespace std::chrono_literals;

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The value of `name` in a NUL- or line-separated environment dump, if set.
std::optional<std::string> variable(const std::string& dump, const std::string& name) {
  std::istringstream lines(dump);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(name + "=", 0) == 0) return line.substr(name.size() + 1);
  }
  return std::nullopt;
}

// Activates an action of the instance's first window over the session bus,
// as the desktop's own action calls reach it.
bool activate_window_action(const char* action) {
  ErrorPtr error;
  ObjectPtr<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, out(error)));
  if (!bus) return false;
  const std::string path = "/" + std::string(config::kApplicationId) + "/window/1";
  std::string object_path;
  for (char c : path) object_path += c == '.' ? '/' : c;
  VariantPtr reply(g_dbus_connection_call_sync(bus.get(), config::kApplicationId, object_path.c_str(),
                                               "org.gtk.Actions", "Activate",
                                               g_variant_new("(sava{sv})", action, nullptr, nullptr), nullptr,
                                               G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, out(error)));
  return static_cast<bool>(reply);
}

// Unset by the user, the renderer variables stay away from the process's GL
// libraries and from what it launches; set by the user, they are left alone.
TEST_F(AppSession, SoftwareRenderingIsChosenOnlyForItselfAndOnlyUnasked) {
  struct Case {
    const char* what;
    std::map<std::string, std::string> user;
  };
  for (const Case& c : {Case{"nothing set", {{"GSK_RENDERER", ""}, {"GDK_DEBUG", ""}}},
                        Case{"the user's renderer", {{"GSK_RENDERER", "cairo"}, {"GDK_DEBUG", ""}}}}) {
    SCOPED_TRACE(c.what);
    TempDir data;
    install_browser(data.path());
    auto extra = c.user;
    extra["XDG_DATA_HOME"] = data.path();
    // A plain start shows the panel: its renderer is realised by the time
    // the window's actions answer.
    ASSERT_TRUE(start_primary({}, extra));
    ASSERT_TRUE(run_until([] { return activate_window_action("open-browser"); }));
    const std::string maps = read_file("/proc/" + std::to_string(primary_) + "/maps");
    if (c.user.at("GSK_RENDERER").empty()) {
      EXPECT_EQ(maps.find("libLLVM"), std::string::npos);
      EXPECT_EQ(maps.find("_dri.so"), std::string::npos);
    }

    const std::string dump = data.path() + "/browser-env";
    ASSERT_TRUE(run_until([&] { return g_file_test(dump.c_str(), G_FILE_TEST_EXISTS); }, 10s));
    const std::string browser = read_file(dump);
    EXPECT_EQ(variable(browser, "GDK_DEBUG"), std::nullopt);
    const auto renderer = c.user.at("GSK_RENDERER");
    EXPECT_EQ(variable(browser, "GSK_RENDERER"), renderer.empty() ? std::nullopt : std::optional(renderer));

    kill(primary_, SIGTERM);
    ASSERT_TRUE(wait_exit(primary_).has_value());
  }
}

}  // namespace
}  // namespace irvelo::test
