// The real executable: a primary instance started with credentials in the
// environment, driven by later invocations, observed through the test tray
// host and the development service's request log.

#include <gtest/gtest.h>
#include <signal.h>

#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "app_fixture.hpp"
#include "config.hpp"
#include "support/main_loop.hpp"

namespace irvelo::test {
namespace {

using namespace std::chrono_literals;

bool matches(const std::string& text, const char* pattern) {
  return std::regex_match(text, std::regex(pattern));
}

TEST_F(AppSession, TimerShortcutsDriveTheRunningInstance) {
  ASSERT_TRUE(start_primary());
  ASSERT_TRUE(run_until([&] { return host_->string_property(item(), "IconName") == kIdle; }));
  EXPECT_EQ(tooltip_text(), "Not tracking");
  EXPECT_EQ(host_->string_property(item(), "XAyatanaLabel"), "");

  struct Step {
    const char* option;
    int starts;
    int stops;
    bool tracking;
  };
  const std::vector<Step> steps = {
      {"--start", 1, 0, true}, {"--toggle", 1, 1, false}, {"--toggle", 2, 1, true},
      {"-x", 2, 2, false},     {"-t", 3, 2, true},        {"--stop", 3, 3, false},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(std::string(step.option) + " to " + std::to_string(step.starts) + "/" + std::to_string(step.stops));
    EXPECT_EQ(invoke({step.option}), 0);
    ASSERT_TRUE(run_until([&] {
      return count("POST", "/timer/start") == step.starts && count("POST", "/timer/stop") == step.stops &&
             host_->string_property(item(), "IconName") == (step.tracking ? kTracking : kIdle);
    })) << host_->string_property(item(), "IconName");
    if (step.tracking) {
      EXPECT_TRUE(matches(host_->string_property(item(), "XAyatanaLabel"), "0:00:0[0-9]"));
      EXPECT_TRUE(matches(host_->string_property(item(), "Title"), "Irvelo 0:00:0[0-9]"));
      // The entry has no description: no separator follows the clock.
      EXPECT_TRUE(matches(tooltip_text(), "Tracking 0:00:0[0-9]")) << tooltip_text();
    } else {
      EXPECT_EQ(host_->string_property(item(), "XAyatanaLabel"), "");
      EXPECT_EQ(tooltip_text(), "Not tracking");
    }
  }
  // Every call carried the key from the environment.
  for (const auto& request : server_->requests()) {
    EXPECT_EQ(request.headers.at("authorization"), "Bearer " + server_->api_key()) << request.path;
  }
  // Held by its tray icon, the primary instance is still there.
  EXPECT_TRUE(alive(primary_));
}

// Shortcuts pressed while a slow start is on its way act once for what they
// mean: three --start make one entry; --toggle during a start stops it after.
TEST_F(AppSession, ABurstOfShortcutsAgainstASlowStartDoesWhatWasMeant) {
  ASSERT_TRUE(start_primary());
  ASSERT_TRUE(run_until([&] { return host_->string_property(item(), "IconName") == kIdle; }));
  devserver::Fault slow;
  slow.status = 0;
  slow.delay_ms = 500;
  slow.count = -1;
  server_->inject_fault("/api/v1/workspaces/" + server_->workspace_ids().front() + "/timer/start", slow);

  std::vector<int> burst;
  for (int i = 0; i < 3; ++i) burst.push_back(spawn({"--start"}));
  for (int pid : burst) EXPECT_EQ(wait_exit(pid), 0);
  ASSERT_TRUE(run_until([&] { return host_->string_property(item(), "IconName") == kTracking; }));

  EXPECT_EQ(invoke({"--toggle"}), 0);
  ASSERT_TRUE(run_until([&] { return host_->string_property(item(), "IconName") == kIdle; }));
  EXPECT_EQ(invoke({"--toggle"}), 0);
  ASSERT_TRUE(run_until([&] { return count("POST", "/timer/start") == 2; }));
  EXPECT_EQ(invoke({"--toggle"}), 0);
  ASSERT_TRUE(run_until(
      [&] { return count("POST", "/timer/stop") == 2 && host_->string_property(item(), "IconName") == kIdle; }));
  ASSERT_TRUE(settle());
  std::vector<std::string> changes;
  for (const auto& r : server_->requests()) {
    if (r.method == "POST") changes.push_back(r.path.substr(r.path.rfind('/') + 1));
  }
  EXPECT_EQ(changes, (std::vector<std::string>{"start", "stop", "start", "stop"}));
}

TEST_F(AppSession, ClockTicksInLabelAndTooltip) {
  ASSERT_TRUE(start_primary());
  ASSERT_TRUE(run_until([&] { return host_->string_property(item(), "IconName") == kIdle; }));
  ASSERT_EQ(invoke({"--start"}), 0);
  const auto label = [&] { return host_->string_property(item(), "XAyatanaLabel"); };
  std::string first;
  ASSERT_TRUE(run_until([&] { return matches(first = label(), "0:00:0[0-9]"); }, 5s)) << first;
  // A later time, not necessarily the next second: the clock ticks on whole
  // seconds of its own, and a loaded machine may show one of them late.
  const std::size_t before = host_->signals.size();
  std::string later;
  ASSERT_TRUE(run_until([&] { return matches(later = label(), "0:00:[0-5][0-9]") && later > first; }, 5s)) << later;
  // Each tick announces the new label to the host, before the host can read it.
  bool announced = false;
  for (std::size_t i = before; i < host_->signals.size(); ++i) {
    if (host_->signals[i].name == "XAyatanaNewLabel" &&
        host_->signals[i].parameters == "('" + later + "', '0:00:00')") {
      announced = true;
    }
  }
  EXPECT_TRUE(announced) << later;
  // The tooltip shows the label's time: read between two equal readings of
  // the label, both belong to the same tick.
  std::string shown;
  std::string tooltip;
  ASSERT_TRUE(run_until([&] {
    shown = label();
    tooltip = tooltip_text();
    return label() == shown;
  }));
  EXPECT_EQ(tooltip, "Tracking " + shown);
}

TEST_F(AppSession, LabelStaysEmptyWhenTheSettingsSaySo) {
  const std::string dir = std::string(g_get_user_config_dir()) + "/irvelo-desktop";
  g_mkdir_with_parents(dir.c_str(), 0700);
  ASSERT_TRUE(g_file_set_contents((dir + "/settings.ini").c_str(), "[main]\ntray_shows_time=false\n", -1, nullptr));
  ASSERT_TRUE(start_primary());
  ASSERT_TRUE(run_until([&] { return host_->string_property(item(), "IconName") == kIdle; }));
  ASSERT_EQ(invoke({"--start"}), 0);
  ASSERT_TRUE(run_until([&] { return host_->string_property(item(), "IconName") == kTracking; }));
  EXPECT_EQ(host_->string_property(item(), "XAyatanaLabel"), "");
  EXPECT_EQ(host_->string_property(item(), "Title"), "Irvelo");
  EXPECT_TRUE(matches(tooltip_text(), "Tracking 0:00:0[0-9]")) << tooltip_text();
}

// Later invocations while the first refresh is still on its way: each row
// starts a fresh primary instance whose first answer is slow.
struct LoadingCase {
  const char* name;
  std::vector<std::vector<std::string>> invocations;
  int starts;
  bool tracking;
};

// Logs name the case rather than dump its bytes.
void PrintTo(const LoadingCase& c, std::ostream* os) {
  *os << c.name;
}

// The service runs on a main context of its own that nothing iterates until
// `serve`: the first refresh waits at the service for as long as the
// invocations take.
class WhileLoading : public AppSession, public ::testing::WithParamInterface<LoadingCase> {
 protected:
  void SetUp() override {
    AppSession::SetUp();
    g_main_context_push_thread_default(service_context_);
    server_ = std::make_unique<devserver::DevServer>();
    g_main_context_pop_thread_default(service_context_);
  }
  void TearDown() override {
    if (pump_ != 0) g_source_remove(pump_);
    AppSession::TearDown();
  }
  ~WhileLoading() override { g_main_context_unref(service_context_); }

  // From here on the service answers beside the test's main loop.
  void serve() {
    pump_ = g_timeout_add(
        5,
        [](gpointer context) -> gboolean {
          while (g_main_context_iteration(static_cast<GMainContext*>(context), FALSE)) {
          }
          return G_SOURCE_CONTINUE;
        },
        service_context_);
  }

  GMainContext* service_context_ = g_main_context_new();
  guint pump_ = 0;
};

TEST_P(WhileLoading, ActionWaitsForTheFirstRefresh) {
  const LoadingCase& c = GetParam();
  ASSERT_TRUE(start_primary());
  for (const auto& arguments : c.invocations) EXPECT_EQ(invoke(arguments), 0);
  // Still loading, and showing the key it has.
  EXPECT_EQ(host_->string_property(item(), "IconName"), kIdle);

  serve();
  ASSERT_TRUE(run_until([&] { return count("GET", "/bootstrap") > 0; }, 10s));
  ASSERT_TRUE(run_until([&] {
    return host_->string_property(item(), "IconName") == (c.tracking ? kTracking : kIdle) &&
           count("POST", "/timer/start") == c.starts;
  }));
  EXPECT_EQ(count("POST", "/timer/stop"), 0);
  if (c.starts > 0) {
    EXPECT_GT(index_of("POST", "/timer/start"), index_of("GET", "/bootstrap"));
    EXPECT_GT(index_of("POST", "/timer/start"), index_of("GET", "/time-entries/running"));
  }
  // No other action was left over: a toggle now finds the state above and
  // changes it once.
  EXPECT_EQ(invoke({"--toggle"}), 0);
  ASSERT_TRUE(run_until([&] {
    return host_->string_property(item(), "IconName") == (c.tracking ? kIdle : kTracking) &&
           count("POST", "/timer/start") + count("POST", "/timer/stop") == c.starts + 1;
  }));
  EXPECT_EQ(count("POST", "/timer/start"), c.starts + (c.tracking ? 0 : 1));
  EXPECT_EQ(count("POST", "/timer/stop"), c.tracking ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Invocations, WhileLoading,
                         ::testing::Values(LoadingCase{"Start", {{"--start"}}, 1, true},
                                           LoadingCase{"TwoStartsLeaveOneAction", {{"--start"}, {"-s"}}, 1, true},
                                           LoadingCase{"LatestActionWins", {{"--start"}, {"--stop"}}, 0, false},
                                           LoadingCase{"ToggleBeatsStop", {{"--toggle", "--stop"}}, 1, true},
                                           LoadingCase{"StartBeatsStop", {{"--stop", "--start"}}, 1, true}),
                         [](const ::testing::TestParamInfo<LoadingCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(AppSession, VersionIsAnsweredWithoutTheRunningInstance) {
  ASSERT_TRUE(start_primary());
  ASSERT_TRUE(run_until([&] { return host_->string_property(item(), "IconName") == kIdle; }));

  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"--version"}, {"-v"}, {"--start", "--version"}, {"-t", "-v"}}) {
    SCOPED_TRACE(arguments.front());
    std::vector<std::string> args = {IRVELO_DESKTOP_EXE};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<gchar*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // No display and no bus: neither the toolkit nor the instance is reached.
    std::vector<std::string> env =
        environment({{"DISPLAY", ""}, {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"}});
    std::vector<gchar*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    gchar* out = nullptr;
    gint status = -1;
    ASSERT_TRUE(g_spawn_sync(nullptr, argv.data(), envp.data(), G_SPAWN_DEFAULT, nullptr, nullptr, &out, nullptr,
                             &status, nullptr));
    EXPECT_EQ(std::string(out), std::string("irvelo-desktop ") + config::kVersion + "\n");
    g_free(out);
    EXPECT_TRUE(g_spawn_check_wait_status(status, nullptr));
  }
  run_for(500ms);
  EXPECT_EQ(count("POST", "/timer/start"), 0);
}

TEST_F(AppSession, HeldFromTheFirstHostOnWhateverTheHostDoes) {
  ASSERT_TRUE(start_primary({"--background"}, {{"IRVELO_TEST_BACKGROUND_GRACE_MS", "300"}}));
  ASSERT_TRUE(past_the_wait(primary_, 300ms));
  EXPECT_TRUE(alive(primary_));
  // The panel opened once and closed again: no window holds the process.
  for (int click = 0; click < 2; ++click) ASSERT_TRUE(host_->call(item(), "Activate", g_variant_new("(ii)", 0, 0)));
  // The host leaves for a moment (a lock screen, a restart). The instance
  // hears of the lost name before the host's next call, and answers a second
  // one only if it went on running; it registers again when the host is back.
  const std::size_t registered = host_->registrations.size();
  host_->vanish();
  EXPECT_TRUE(host_->sync(item()) && host_->sync(item()));
  EXPECT_TRUE(alive(primary_));
  ASSERT_TRUE(host_->appear());
  ASSERT_TRUE(run_until([&] { return host_->registrations.size() > registered; }));
  EXPECT_TRUE(alive(primary_));
  kill(primary_, SIGTERM);
  EXPECT_TRUE(wait_exit(primary_, 5s).has_value());
}

TEST_F(AppSession, WithoutHostBackgroundStartKeepsRunningWithItsPanel) {
  host_->vanish();
  std::map<std::string, std::string> env = {{"IRVELO_API_KEY", server_->api_key()},
                                            {"IRVELO_SERVER", server_->base_url()},
                                            {"IRVELO_TEST_BACKGROUND_GRACE_MS", "300"}};
  const int pid = spawn({"--background"}, env);
  ASSERT_NE(pid, 0);
  // After the wait the panel is presented and keeps the process.
  EXPECT_TRUE(past_the_wait(pid, 300ms)) << "ended with the wait for a tray host";
  EXPECT_TRUE(alive(pid));
}

}  // namespace
}  // namespace irvelo::test
