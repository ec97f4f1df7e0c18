// Idle time on a Wayland compositor other than GNOME's: a real headless sway
// (which offers org_kde_kwin_idle), the executable as its client, input from
// a virtual keyboard (wtype), and the stop observed at the development
// service. Compositor, bus and application run as an unprivileged user, as a
// desktop session would.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app_fixture.hpp"
#include "support/main_loop.hpp"

namespace irvelo::test {
namespace {

using namespace std::chrono_literals;

constexpr uid_t kNobody = 65534;

class WaylandIdleTest : public AppSession {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the compositor as another user";
    AppSession::SetUp();
    up_ = true;
    char pattern[] = "/tmp/irvelo-sway-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    for (const char* sub : {"run", "home", "config/irvelo-desktop"}) std::filesystem::create_directories(dir_ / sub);
    write(dir_ / "sway.conf", "output HEADLESS-1 resolution 800x600\n");
    write(dir_ / "config/irvelo-desktop/settings.ini", "[main]\nidle_stop_minutes=1\n");
    chmod((dir_ / "run").c_str(), 0700);
    chmod(dir_.c_str(), 0755);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_)) {
      ASSERT_EQ(chown(entry.path().c_str(), kNobody, kNobody), 0) << entry.path();
    }
    ASSERT_EQ(chown(dir_.c_str(), kNobody, kNobody), 0);
    sanitizer_options();
  }

  // A sanitized build's executables need the suite's leak suppressions
  // (libraries that keep memory for the life of the process); a copy the
  // other user can read goes with them.
  void sanitizer_options() {
    const char* leak = g_getenv("LSAN_OPTIONS");
    const char* address = g_getenv("ASAN_OPTIONS");
    if (address != nullptr) sanitizers_.push_back(std::string("ASAN_OPTIONS=") + address);
    if (leak == nullptr) return;
    std::string options = leak;
    const std::string key = "suppressions=";
    if (const auto at = options.find(key); at != std::string::npos) {
      const auto end = options.find(':', at);
      const std::string file = options.substr(at + key.size(), end == std::string::npos ? end : end - at - key.size());
      const std::filesystem::path copy = dir_ / "lsan.supp";
      std::filesystem::copy_file(file, copy);
      chmod(copy.c_str(), 0644);
      options.replace(at + key.size(), file.size(), copy.string());
    }
    sanitizers_.push_back("LSAN_OPTIONS=" + options);
  }

  void TearDown() override {
    if (!up_) return;
    AppSession::TearDown();
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  static void write(const std::filesystem::path& path, const std::string& text) {
    ASSERT_TRUE(g_file_set_contents(path.c_str(), text.c_str(), -1, nullptr)) << path;
  }

  // `command` as the unprivileged user, with only `environment` and the session's own variables.
  int as_user(const std::vector<std::string>& environment, const std::vector<std::string>& command) {
    std::vector<std::string> argv = {"/usr/bin/setpriv",
                                     "--reuid=65534",
                                     "--regid=65534",
                                     "--clear-groups",
                                     "env",
                                     "-i",
                                     "PATH=/usr/bin:/bin",
                                     "HOME=" + (dir_ / "home").string(),
                                     "XDG_RUNTIME_DIR=" + (dir_ / "run").string(),
                                     "LC_ALL=C.UTF-8",
                                     "TZ=UTC"};
    argv.insert(argv.end(), sanitizers_.begin(), sanitizers_.end());
    argv.insert(argv.end(), environment.begin(), environment.end());
    argv.insert(argv.end(), command.begin(), command.end());
    return spawn_command(argv, {});
  }

  // The desktop: the compositor and a session bus of the user's.
  bool start_desktop() {
    const int sway = as_user({"WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman"},
                             {"sway", "-c", (dir_ / "sway.conf").string()});
    const int bus = as_user({}, {"dbus-daemon", "--session", "--nofork", "--address=unix:path=" + bus_path()});
    if (sway == 0 || bus == 0) return false;
    return run_until(
        [&] { return std::filesystem::exists(dir_ / "run/wayland-1") && std::filesystem::exists(bus_path()); }, 20s);
  }

  std::string bus_path() const { return (dir_ / "bus").string(); }

  // The executable as a client of the compositor, with a minute of three seconds.
  int run_app(const std::vector<std::string>& arguments) {
    std::vector<std::string> command = {IRVELO_DESKTOP_EXE};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return as_user({"WAYLAND_DISPLAY=wayland-1", "GDK_BACKEND=wayland", "GSK_RENDERER=cairo", "GTK_A11Y=none",
                    "XDG_CONFIG_HOME=" + (dir_ / "config").string(), "DBUS_SESSION_BUS_ADDRESS=unix:path=" + bus_path(),
                    "IRVELO_API_KEY=" + server_->api_key(), "IRVELO_SERVER=" + server_->base_url(),
                    "IRVELO_TEST_IDLE_MINUTE_MS=3000", "IRVELO_TEST_POLL_SECONDS=1"},
                   command);
  }

  int stops() const { return count("POST", "/timer/stop"); }
  int polls() const { return count("GET", "/time-entries/running"); }

  bool up_ = false;
  std::filesystem::path dir_;
  std::vector<std::string> sanitizers_;
};

TEST_F(WaylandIdleTest, SwayIdleStopsOnlyASpellBegunAfterTheStart) {
  ASSERT_TRUE(start_desktop());
  ASSERT_NE(run_app({"--background"}), 0);
  ASSERT_TRUE(run_until([&] { return polls() >= 1; }, 20s));
  const int start = run_app({"--start"});
  ASSERT_NE(start, 0);
  ASSERT_EQ(wait_exit(start), 0);
  ASSERT_TRUE(run_until([&] { return !running_id().empty(); }));

  // No input since before the start: the desk was idle all along.
  const int seen = polls();
  ASSERT_TRUE(run_until([&] { return polls() >= seen + 6; }, 20s));
  EXPECT_EQ(stops(), 0);
  EXPECT_FALSE(running_id().empty());

  // A key pressed at the desk, then nothing for the span: the user left.
  const int key = as_user({"WAYLAND_DISPLAY=wayland-1"}, {"wtype", "a"});
  ASSERT_EQ(wait_exit(key), 0);
  ASSERT_TRUE(run_until([&] { return stops() == 1 && running_id().empty(); }, 20s));
}

}  // namespace
}  // namespace irvelo::test
